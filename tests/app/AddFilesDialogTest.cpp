// The add-files panel takes files and folders in one selection, opens a
// folder typed into its name field, and shows its columns whole.
#include "AddFilesDialog.h"
#include "AppTestSupport.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QTreeView>
#include <QSignalSpy>
#include <QTest>

namespace {
class AddFilesDialogTest : public AppTest {
protected:
    // Waits until the panel's model lists `count` entries of `folder`.
    static bool listed(QFileSystemModel* model, const QString& folder, int count)
    {
        QElapsedTimer clock;
        clock.start();
        while (model->rowCount(model->index(folder)) < count && clock.elapsed() < 5000)
            QTest::qWait(10);
        return model->rowCount(model->index(folder)) == count;
    }
};
}

TEST_F(AddFilesDialogTest, ChoosesFilesAndFoldersTogether)
{
    QDir().mkpath(path(QStringLiteral("folder")));
    WriteWave(path(QStringLiteral("one.wav")), 10);
    WriteText(path(QStringLiteral("two.txt")), "x");
    WriteWave(path(QStringLiteral("The whole take of the evening rehearsal.wav")), 10);

    AddFilesDialog dialog;
    dialog.setDirectory(m_dir.qpath());
    dialog.show();
    QAbstractItemView* list = nullptr;
    QFileSystemModel* model = nullptr;
    for (QAbstractItemView* view : dialog.findChildren<QAbstractItemView*>())
        if (auto* files = qobject_cast<QFileSystemModel*>(view->model()); files && view->isVisible()) {
            list = view;
            model = files;
        }
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    // The folder is listed once the model has read it.
    ASSERT_TRUE(listed(model, m_dir.qpath(), 4));
    // Large, as far as the screen allows.
    const QSize room = dialog.screen()->availableGeometry().size() * 0.9;
    EXPECT_GE(dialog.width(), std::min(900, room.width()));
    EXPECT_GE(dialog.height(), std::min(600, room.height()));
    // Every detail column is as wide as its text, and all fit side by side.
    auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(details, nullptr);
    QTest::qWait(50);
    EXPECT_LE(details->header()->length(), details->viewport()->width());
    for (int column = 0; column < details->header()->count(); ++column)
        EXPECT_GE(details->header()->sectionSize(column),
                  std::max(static_cast<QAbstractItemView*>(details)->sizeHintForColumn(column),
                           details->header()->sectionSizeHint(column)))
            << column;

    QSignalSpy accepted(&dialog, &QDialog::accepted);
    for (const char* name : {"folder", "one.wav"}) {
        const QModelIndex index = model->index(path(QString::fromLatin1(name)));
        ASSERT_TRUE(index.isValid()) << name;
        list->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // A folder among the selection: the button still says what it does.
    QTest::qWait(20);
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(buttons, nullptr);
    QStringList shown;
    for (QAbstractButton* button : buttons->buttons())
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole && button->isVisible())
            shown.append(button->text());
    EXPECT_EQ(shown, QStringList{QStringLiteral("Add")});
    dialog.accept();
    EXPECT_EQ(accepted.size(), 1);
    QStringList chosen = dialog.chosenPaths();
    chosen.sort();
    EXPECT_EQ(chosen, (QStringList{path(QStringLiteral("folder")), path(QStringLiteral("one.wav"))}));
}

TEST_F(AddFilesDialogTest, AFolderTypedIntoTheNameFieldOpensOnEnter)
{
    QDir().mkpath(path(QStringLiteral("Takes/inner")));
    WriteWave(path(QStringLiteral("Takes/a.wav")), 10);
    AddFilesDialog dialog;
    dialog.setDirectory(m_dir.qpath());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(listed(model, m_dir.qpath(), 1));
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    // Relative to the folder shown, then a whole path.
    const QStringList typed = {QStringLiteral("Takes"), path(QStringLiteral("Takes/inner"))};
    const QStringList opened = {path(QStringLiteral("Takes")), path(QStringLiteral("Takes/inner"))};
    for (int i = 0; i < typed.size(); ++i) {
        field->setFocus();
        QTest::keyClicks(field, typed.at(i));
        QTest::qWait(50);
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(accepted.isEmpty()) << dialog.chosenPaths().join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(dialog.directory().absolutePath(), opened.at(i));
        EXPECT_TRUE(field->text().isEmpty());
    }
}
