// The add-files panel takes files and folders in one selection.
#include "AddFilesDialog.h"
#include "AppTestSupport.h"

#include <QAbstractItemView>
#include <QDir>
#include <QElapsedTimer>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QTest>

namespace {
class AddFilesDialogTest : public AppTest {};
}

TEST_F(AddFilesDialogTest, ChoosesFilesAndFoldersTogether)
{
    QDir().mkpath(path(QStringLiteral("folder")));
    WriteWave(path(QStringLiteral("one.wav")), 10);
    WriteText(path(QStringLiteral("two.txt")), "x");

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
    QElapsedTimer clock;
    clock.start();
    while (model->rowCount(model->index(m_dir.qpath())) < 3 && clock.elapsed() < 5000)
        QTest::qWait(10);
    ASSERT_EQ(model->rowCount(model->index(m_dir.qpath())), 3);

    QSignalSpy accepted(&dialog, &QDialog::accepted);
    for (const char* name : {"folder", "one.wav"}) {
        const QModelIndex index = model->index(path(QString::fromLatin1(name)));
        ASSERT_TRUE(index.isValid()) << name;
        list->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    dialog.accept();
    EXPECT_EQ(accepted.size(), 1);
    QStringList chosen = dialog.chosenPaths();
    chosen.sort();
    EXPECT_EQ(chosen, (QStringList{path(QStringLiteral("folder")), path(QStringLiteral("one.wav"))}));
}
