// Conversions dragged out of the conversion table and dropped into it, as
// the property-list payload other programs see.
#include "AppTestSupport.h"
#include "ConversionPasteboard.h"
#include "PropertyList.h"

#include <QMimeData>
#include <QTest>
#include <QUndoStack>

namespace {

class ConversionPasteboardTest : public AppTest {
protected:
    MainController& startWith(const QStringList& names)
    {
        return startWithConversions(names,
                                    [](ConvSpec& s, int) { s.setComment(QStringLiteral("about ") + s.conversionName()); });
    }
    static QMimeData* payload(const QByteArray& text)
    {
        auto* data = new QMimeData;
        data->setData(QStringLiteral("text/plain"), text);
        return data;
    }
    static QVariantMap dictionary(const QVariant& name)
    {
        QVariantMap map = ConvSpec::create()->dictionary();
        map.insert(ConvSpec::kConversionNameKey, name);
        return map;
    }
};

} // namespace

TEST_F(ConversionPasteboardTest, DraggedRowsLeaveAsAPropertyListAndAMoveDeletesThemUndoably)
{
    MainController& controller = startWith({QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")});
    ConversionTableModel* model = controller.conversionModel();
    // Rows 0 and 2 (One, Two in name order), several columns each.
    std::unique_ptr<QMimeData> data(model->mimeData({model->index(2, 0), model->index(0, 1), model->index(0, 2)}));
    ASSERT_TRUE(data);
    const QByteArray text = data->data(QStringLiteral("text/plain"));
    EXPECT_TRUE(text.startsWith("<?xml"));
    const QVariant root = PropertyList::fromData(text);
    ASSERT_EQ(root.typeId(), QMetaType::QVariantList);
    ASSERT_EQ(root.toList().size(), 2);
    const QVariantMap first = root.toList().at(0).toMap();
    EXPECT_EQ(first.value(QStringLiteral("QMCSName")).toString(), QStringLiteral("One"));
    EXPECT_EQ(first.value(QStringLiteral("QMCSComment")).toString(), QStringLiteral("about One"));
    EXPECT_EQ(ConvSpec::fromDictionary(first)->dictionary(), controller.conversions().at(0)->dictionary());

    // The same names cannot come back into this list.
    EXPECT_FALSE(model->canDropMimeData(data.get(), Qt::CopyAction, -1, -1, {}));

    // The drag ended as a move elsewhere (the trash): deleted, undoably.
    EXPECT_TRUE(model->removeRows(0, 1));
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(controller.conversionNames(), QStringList{QStringLiteral("Three")});
    EXPECT_EQ(controller.conversionUndoStack()->undoText(), QStringLiteral("Delete Conversion(s)"));
    controller.conversionUndoStack()->undo();
    EXPECT_EQ(controller.conversionNames().size(), 3);
    // Only once per drag.
    EXPECT_FALSE(model->removeRows(0, 1));
}

TEST_F(ConversionPasteboardTest, DropsAreReadLikeALoadedList)
{
    MainController& controller = startWith({QStringLiteral("Keep")});
    ConversionTableModel* model = controller.conversionModel();

    // Refused: not a property list, not an array, an empty array, a first
    // element without a name or with a listed one.
    for (const QByteArray& text :
         {QByteArray("hello"), PropertyList::toXml(QVariantMap{{QStringLiteral("QMCSName"), QStringLiteral("x")}}),
          PropertyList::toXml(QVariantList()), PropertyList::toXml(QVariantList{QVariantMap()}),
          PropertyList::toXml(QVariantList{dictionary(QStringLiteral("Keep"))})}) {
        std::unique_ptr<QMimeData> data(payload(text));
        EXPECT_FALSE(model->canDropMimeData(data.get(), Qt::CopyAction, -1, -1, {})) << text.left(60).constData();
        EXPECT_FALSE(model->dropMimeData(data.get(), Qt::CopyAction, -1, -1, {}));
    }
    EXPECT_EQ(controller.conversionUndoStack()->count(), 0);

    // Accepted: later names that are taken, unsafe folder names, a short
    // settings block and a stray element are all put right.
    QVariantMap shortBlock = dictionary(QStringLiteral("Short"));
    QVariantMap specifics;
    specifics.insert(QStringLiteral("oldData"), QByteArray(10, '\x7f'));
    shortBlock.insert(ConvSpec::kSpecificsKey, specifics);
    const QVariantList dropped{dictionary(QStringLiteral("New")),  dictionary(QStringLiteral("Keep")),
                               dictionary(QStringLiteral("New")),  dictionary(QString()),
                               dictionary(QStringLiteral("..")),   dictionary(QStringLiteral("a/b")),
                               QStringLiteral("not a conversion"), shortBlock};
    std::unique_ptr<QMimeData> data(payload(PropertyList::toXml(dropped)));
    ASSERT_TRUE(model->canDropMimeData(data.get(), Qt::CopyAction, 0, 0, {}));
    ASSERT_TRUE(model->dropMimeData(data.get(), Qt::CopyAction, 0, 0, {}));

    const QStringList names = controller.conversionNames();
    EXPECT_EQ(names.size(), 8);
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), names.size()) << names.join(QLatin1Char('|')).toStdString();
    for (const QString& name : names) {
        EXPECT_FALSE(name.isEmpty());
        EXPECT_NE(name, QStringLiteral("."));
        EXPECT_NE(name, QStringLiteral(".."));
        EXPECT_FALSE(name.contains(QLatin1Char('/')));
    }
    EXPECT_TRUE(names.contains(QStringLiteral("Keep copy")));
    EXPECT_TRUE(names.contains(QStringLiteral("New copy")));
    for (const ConvSpecRef& spec : controller.conversions()) {
        const QByteArray block = spec->specifics().value(QStringLiteral("oldData")).toByteArray();
        EXPECT_EQ(block.size(), 256);
        if (spec->conversionName() == QStringLiteral("Short")) {
            EXPECT_EQ(block.left(10), QByteArray(10, '\x7f'));
        }
    }
    // One undo takes the whole drop back.
    EXPECT_EQ(controller.conversionUndoStack()->undoText(), QStringLiteral("Drag Conversion(s)"));
    controller.conversionUndoStack()->undo();
    EXPECT_EQ(controller.conversionNames(), QStringList{QStringLiteral("Keep")});
}
