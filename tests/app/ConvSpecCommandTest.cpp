// Editing the conversion list through the controller: duplicate, remove,
// mark, the active box, the editor's add and edit, each undone and redone,
// the list kept sorted and saved to "Conversions".
#include "AppTestSupport.h"
#include "MainWindow.h"

#include <QItemSelectionModel>
#include <QTableView>
#include <QUndoStack>

namespace {

class ConvSpecCommandTest : public AppTest {
protected:
    MainController& startWith(const QStringList& names, const QList<bool>& active = {})
    {
        return startWithConversions(names, [&](ConvSpec& s, int i) { s.setActive(active.value(i, true)); });
    }
    QStringList names() const { return m_controller->conversionNames(); }
    QStringList savedNames() const
    {
        UserDefaults reread(m_defaults->filePath());
        QStringList result;
        for (const QVariant& item : reread.arrayForKey(QStringLiteral("Conversions")))
            result.append(item.toMap().value(ConvSpec::kConversionNameKey).toString());
        return result;
    }
};

} // namespace

TEST_F(ConvSpecCommandTest, DuplicateRemoveAndAddWithUndoKeepTheListSortedAndSaved)
{
    MainController& controller = startWith({QStringLiteral("Mix"), QStringLiteral("Alpha"), QStringLiteral("Mix copy")});
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Mix"), QStringLiteral("Mix copy")}));
    QUndoStack* undo = controller.conversionUndoStack();

    // "Mix copy" is taken, so the copy of Mix is "Mix copy 1"; twice more.
    const QList<ConvSpecRef> copies = controller.duplicateConversions({1, 1});
    ASSERT_EQ(copies.size(), 2);
    EXPECT_EQ(copies.at(0)->conversionName(), QStringLiteral("Mix copy 1"));
    EXPECT_EQ(copies.at(1)->conversionName(), QStringLiteral("Mix copy 2"));
    EXPECT_EQ(undo->undoText(), QStringLiteral("Duplicate Conversion(s)"));
    EXPECT_EQ(savedNames(), names());
    EXPECT_EQ(names().size(), 5);
    undo->undo();
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Mix"), QStringLiteral("Mix copy")}));
    EXPECT_EQ(savedNames(), names());
    undo->redo();
    EXPECT_TRUE(names().contains(QStringLiteral("Mix copy 2")));

    controller.removeConversions({0, 2});  // Alpha, Mix copy
    EXPECT_EQ(undo->undoText(), QStringLiteral("Delete Conversion(s)"));
    EXPECT_EQ(names(), (QStringList{QStringLiteral("Mix"), QStringLiteral("Mix copy 1"), QStringLiteral("Mix copy 2")}));
    undo->undo();
    EXPECT_EQ(names().size(), 5);
    EXPECT_EQ(names().first(), QStringLiteral("Alpha"));

    // The editor's add: a taken name is made free; edit replaces in place.
    ConvSpecRef added = ConvSpec::create();
    added->setConversionName(QStringLiteral("Alpha"));
    controller.addConversion(added);
    EXPECT_EQ(undo->undoText(), QStringLiteral("Add Conversion"));
    EXPECT_EQ(added->conversionName(), QStringLiteral("Alpha copy"));
    ConvSpecRef edited = added->copy();
    edited->setConversionName(QStringLiteral("Zulu"));
    controller.replaceConversion(controller.conversionModel()->rowOf(added.get()), edited);
    EXPECT_EQ(undo->undoText(), QStringLiteral("Edit Conversion"));
    EXPECT_EQ(names().last(), QStringLiteral("Zulu"));
    undo->undo();
    EXPECT_FALSE(names().contains(QStringLiteral("Zulu")));
    EXPECT_TRUE(names().contains(QStringLiteral("Alpha copy")));
    EXPECT_EQ(savedNames(), names());
}

TEST_F(ConvSpecCommandTest, CopyNamesStayWithinTheFolderNameLimit)
{
    const QString longName(254, QLatin1Char('n'));
    const QString first = MainController::copyName(longName, {});
    EXPECT_EQ(first.size(), 255);
    EXPECT_TRUE(first.endsWith(QStringLiteral(" copy")));
    // The base stays shortened for the numbered candidates.
    const QString second = MainController::copyName(longName, {first});
    EXPECT_EQ(second.size(), 255);
    EXPECT_TRUE(second.endsWith(QStringLiteral(" copy 1")));
    EXPECT_EQ(MainController::copyName(QStringLiteral("Mix"), {QStringLiteral("Mix copy")}),
              QStringLiteral("Mix copy 1"));
}

TEST_F(ConvSpecCommandTest, MarkingKeepsTheOrderWhileTheActiveBoxSortsAndSelectionFollows)
{
    storeDefaults({{QStringLiteral("ConvSpecs Sort Key"), QStringLiteral("active")}});
    MainController& controller =
        startWith({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, {true, true, true});
    MainWindow window(controller);
    QTableView* table = window.conversionTable();
    EXPECT_EQ(names(), (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));

    // Marking: no re-sort, no undo.
    table->selectRow(0);
    controller.markConversions(window.selectedConversionRows(), false);
    EXPECT_FALSE(controller.conversions().at(0)->active());
    EXPECT_EQ(names().first(), QStringLiteral("A"));
    EXPECT_EQ(controller.conversionUndoStack()->count(), 0);
    EXPECT_EQ(controller.conversionModel()->summary(), QStringLiteral("2 Active"));

    // The active box (through the model, as a click does) re-sorts; the
    // selection stays on the same conversion.
    table->clearSelection();
    table->selectRow(2);  // C
    ASSERT_TRUE(controller.conversionModel()->setData(controller.conversionModel()->index(2, 0), Qt::Unchecked,
                                                       Qt::CheckStateRole));
    // Inactive first: A and C (stable), then B.
    EXPECT_EQ(names(), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("B")}));
    EXPECT_EQ(window.selectedConversionRows(), QList<int>{1});

    // Clicking the header again reverses; another column keeps the direction.
    controller.conversionHeaderClicked(ConversionTableModel::Active);
    EXPECT_FALSE(controller.conversionSortAscending());
    EXPECT_EQ(names().first(), QStringLiteral("B"));
    controller.conversionHeaderClicked(ConversionTableModel::ConvName);
    EXPECT_FALSE(controller.conversionSortAscending());
    EXPECT_EQ(names(), (QStringList{QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A")}));

    // Delete on the conversions tab removes the selection, undoably.
    window.showConversions();
    table->clearSelection();
    table->selectRow(0);
    window.action(AppCommand::Delete)->trigger();
    EXPECT_EQ(names(), (QStringList{QStringLiteral("B"), QStringLiteral("A")}));
    controller.conversionUndoStack()->undo();
    EXPECT_EQ(names().size(), 3);
}

TEST_F(ConvSpecCommandTest, LoadedDuplicateNamesAreMadeUnique)
{
    MainController& controller = startWith({QStringLiteral("Same"), QStringLiteral("Same"), QStringLiteral("..")});
    const QStringList listed = names();
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()).size(), 3);
    EXPECT_TRUE(listed.contains(QStringLiteral("Same copy")));
    EXPECT_FALSE(listed.contains(QStringLiteral("..")));
    for (const ConvSpecRef& spec : controller.conversions())
        EXPECT_EQ(spec->specifics().value(QStringLiteral("oldData")).toByteArray().size(), 256);
}
