// The editor's commands in the main window: a new conversion and an edit
// confirmed in the (modal) editor reach the conversion list; a cancelled
// edit changes nothing.
#include "AppTestSupport.h"
#include "ConversionEditor.h"
#include "EditorCommands.h"
#include "MainWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace {

class EditorCommandsTest : public AppTest {
protected:
    // Answers the next modal editor: names the conversion and confirms,
    // or cancels.
    void answerEditor(const QString& name, bool confirm)
    {
        QTimer::singleShot(0, [name, confirm] {
            auto* editor = qobject_cast<ConversionEditor*>(QApplication::activeModalWidget());
            ASSERT_NE(editor, nullptr);
            if (!confirm) {
                editor->cancel();
                return;
            }
            auto* field = editor->findChild<QLineEdit*>(QStringLiteral("conversionNameTextField"));
            field->setText(name);
            emit field->textEdited(name);
            editor->ok();
        });
    }
};

TEST_F(EditorCommandsTest, NewAndEditedConversionsReachTheList)
{
    MainController& controller = startController();
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    EXPECT_NE(window.findChild<QPushButton*>(QStringLiteral("newConversionButton")), nullptr);
    bool preferences = false;
    for (QAction* action : window.editMenu()->actions())
        preferences = preferences || action->text() == QStringLiteral("Preferences...");
    EXPECT_TRUE(preferences);

    const qsizetype before = controller.conversions().size();
    answerEditor(QStringLiteral("Podcast"), true);
    ASSERT_TRUE(EditorCommands::newConversion(window, controller));
    ASSERT_EQ(controller.conversions().size(), before + 1);

    int row = -1;
    for (int i = 0; i < controller.conversions().size(); ++i)
        if (controller.conversions()[i]->conversionName() == QStringLiteral("Podcast"))
            row = i;
    ASSERT_GE(row, 0);
    const ConvSpec* original = controller.conversions()[row].get();
    answerEditor(QStringLiteral("Cancelled"), false);
    EXPECT_FALSE(EditorCommands::editConversion(window, controller, row));
    EXPECT_EQ(controller.conversions()[row].get(), original);
    EXPECT_EQ(original->conversionName(), QStringLiteral("Podcast"));

    answerEditor(QStringLiteral("Podcast mono"), true);
    ASSERT_TRUE(EditorCommands::editConversion(window, controller, row));
    QStringList names;
    for (const ConvSpecRef& spec : controller.conversions())
        names.append(spec->conversionName());
    EXPECT_TRUE(names.contains(QStringLiteral("Podcast mono")));
    EXPECT_FALSE(names.contains(QStringLiteral("Podcast")));
}

TEST_F(EditorCommandsTest, ANewConversionIsSelectedAloneAndScrolledTo)
{
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names.append(QStringLiteral("Conversion %1").arg(i, 2, 10, QLatin1Char('0')));
    MainController& controller = startWithConversions(names);
    MainWindow window(controller);
    EditorCommands::install(window, controller);
    window.show();
    window.showConversions();
    QTableView* table = window.conversionTable();
    table->selectRow(3);
    for (const QString& name : {QStringLiteral("Zebra"), QStringLiteral("Conversion 30b")}) {
        SCOPED_TRACE(name.toStdString());
        answerEditor(name, true);
        ASSERT_TRUE(EditorCommands::newConversion(window, controller));
        const QList<int> rows = window.selectedConversionRows();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(controller.conversions().at(rows.first())->conversionName(), name);
        const QModelIndex index = table->model()->index(rows.first(), ConversionTableModel::ConvName);
        EXPECT_TRUE(table->viewport()->rect().contains(table->visualRect(index)));
    }
}

} // namespace
