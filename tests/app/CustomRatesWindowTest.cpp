// The custom sample rates window: the list kept highest first, adds, edits
// and deletes with undo, Cancel dropping the edits, and OK reaching the
// conversion editor's rate menu.
#include "AppTestSupport.h"
#include "ConversionEditor.h"
#include "CustomRatesWindow.h"
#include "EngineStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QUndoStack>

namespace {

class CustomRatesWindowTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        EngineStartup::start(*m_defaults);
        store({48000.0, 96000.0, 22000.0});
        m_window = std::make_unique<CustomRatesWindow>(*m_defaults);
    }
    void TearDown() override
    {
        m_window.reset();
        AppTest::TearDown();
    }
    void store(const QVariantList& rates) { m_defaults->setObject(QStringLiteral("Custom Sample Rates"), rates); }
    void select(std::initializer_list<int> rows)
    {
        QTableWidget* table = m_window->table();
        table->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void addThroughSheet(const QString& text)
    {
        m_window->doAdd();
        m_window->srTextField()->setText(text);
        m_window->addSheet()->accept();
    }
    QList<double> rates() const { return m_window->customSampleRates(); }

    std::unique_ptr<CustomRatesWindow> m_window;
};

TEST_F(CustomRatesWindowTest, AddsEditsAndDeletesWithUndo)
{
    // Both windows have room for their titles.
    m_window->show();
    m_window->doAdd();
    QApplication::processEvents();
    EXPECT_GE(m_window->width(), TitleBarNeeds(m_window.get()));
    EXPECT_GE(m_window->addSheet()->width(), TitleBarNeeds(m_window->addSheet()));
    m_window->addSheet()->reject();
    // The stored list is shown as stored; each change sorts it.
    EXPECT_EQ(rates(), (QList<double>{48000, 96000, 22000}));
    EXPECT_EQ(m_window->addButton()->text(), QStringLiteral("Add..."));
    EXPECT_FALSE(m_window->deleteButton()->isEnabled());
    addThroughSheet(QStringLiteral("50000"));
    EXPECT_EQ(rates(), (QList<double>{96000, 50000, 48000, 22000}));
    EXPECT_EQ(m_window->undoStack()->undoText(), QStringLiteral("Add Custom Sample Rate"));
    m_window->undoStack()->undo();
    EXPECT_EQ(rates(), (QList<double>{96000, 48000, 22000}));
    m_window->undoStack()->redo();
    EXPECT_EQ(rates(), (QList<double>{96000, 50000, 48000, 22000}));

    // Editing the selected 22000 to 8000 keeps it last, selected; 48000 to
    // 99000 moves it to the top and the selection with it.
    select({3});
    EXPECT_EQ(m_window->addButton()->text(), QStringLiteral("Edit..."));
    m_window->doAdd();
    EXPECT_EQ(m_window->srTextField()->text(), QStringLiteral("22000"));
    m_window->srTextField()->setText(QStringLiteral("8000"));
    m_window->addSheet()->accept();
    EXPECT_EQ(rates(), (QList<double>{96000, 50000, 48000, 8000}));
    select({2});
    addThroughSheet(QStringLiteral("99000"));
    EXPECT_EQ(rates(), (QList<double>{99000, 96000, 50000, 8000}));
    EXPECT_TRUE(m_window->table()->selectionModel()->isRowSelected(0, QModelIndex()));
    EXPECT_FALSE(m_window->table()->selectionModel()->isRowSelected(2, QModelIndex()));
    EXPECT_EQ(m_window->undoStack()->undoText(), QStringLiteral("Edit Custom Sample Rate"));
    m_window->undoStack()->undo();
    EXPECT_EQ(rates(), (QList<double>{96000, 50000, 48000, 8000}));

    // Two rows: no Add/Edit; Delete removes both, one undo step each.
    select({0, 3});
    EXPECT_FALSE(m_window->addButton()->isEnabled());
    EXPECT_TRUE(m_window->deleteButton()->isEnabled());
    const int steps = m_window->undoStack()->index();
    m_window->deleteSelected();
    EXPECT_EQ(rates(), (QList<double>{50000, 48000}));
    EXPECT_EQ(m_window->undoStack()->index(), steps + 2);
    m_window->undoStack()->undo();
    EXPECT_EQ(rates(), (QList<double>{50000, 48000, 8000}));
    m_window->undoStack()->undo();
    EXPECT_EQ(rates(), (QList<double>{96000, 50000, 48000, 8000}));

    // A cancelled sheet adds nothing.
    select({});
    m_window->doAdd();
    m_window->srTextField()->setText(QStringLiteral("12345"));
    m_window->addSheet()->reject();
    EXPECT_EQ(rates().size(), 4);
}

TEST_F(CustomRatesWindowTest, CancelDropsTheEditsAndOKReachesTheEditor)
{
    ConversionEditor editor(*m_defaults);
    const ConvSpecRef spec = ConvSpec::create();
    spec->setConversionName(QStringLiteral("Rates"));
    editor.setConvSpec(spec);
    auto* menu = editor.findChild<QComboBox*>(QStringLiteral("sampleRatePopUp"));
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 4);

    addThroughSheet(QStringLiteral("7000"));
    m_window->doCancel();
    EXPECT_EQ(m_defaults->arrayForKey(QStringLiteral("Custom Sample Rates")).size(), 3);
    m_window->reload(); // as every opening does
    EXPECT_EQ(rates(), (QList<double>{48000, 96000, 22000}));
    EXPECT_EQ(m_window->undoStack()->count(), 0);

    addThroughSheet(QStringLiteral("7000"));
    m_window->doOK();
    EXPECT_EQ(m_defaults->arrayForKey(QStringLiteral("Custom Sample Rates")),
              (QVariantList{96000.0, 48000.0, 22000.0, 7000.0}));
    ASSERT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 5);
    EXPECT_EQ(menu->itemText(menu->count() - 1), QStringLiteral("7000"));

    // A rate typed into the editor reaches the window once OK confirms it.
    editor.findChild<QAbstractButton*>(QStringLiteral("convertSampleRateCheckBox"))->click();
    editor.typeSampleRate(QStringLiteral("9000"));
    EXPECT_EQ(rates(), (QList<double>{96000, 48000, 22000, 7000}));
    editor.ok();
    EXPECT_EQ(rates(), (QList<double>{96000, 48000, 22000, 9000, 7000}));

    // Deleting the rate the editor shows keeps it deleted.
    select({3});
    m_window->deleteSelected();
    m_window->doOK();
    EXPECT_EQ(m_defaults->arrayForKey(QStringLiteral("Custom Sample Rates")),
              (QVariantList{96000.0, 48000.0, 22000.0, 7000.0}));
    EXPECT_EQ(menu->count(), ConversionEditor::kBuiltInRateCount + 5);
}

} // namespace
