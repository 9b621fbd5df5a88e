// The add-files error list: its text form, saving it, and showing a
// listed file's folder.
#include "AddFilesErrorsController.h"
#include "AppTestSupport.h"

#include <QFile>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

namespace {
class AddFilesErrorsControllerTest : public AppTest {};
}

TEST_F(AddFilesErrorsControllerTest, SavesGroupsAsTabIndentedText)
{
    AddFilesErrorsController errors(*m_defaults);
    errors.setPaths({QStringLiteral("/x/a.wav"), QStringLiteral("/y/a.wav")}, QStringLiteral("Duplicates"));
    errors.setPaths({QStringLiteral("/z/notes.txt")}, QStringLiteral("Not sound"));
    const QString file = path(QStringLiteral("FileAddErrors.txt"));
    ASSERT_TRUE(errors.saveAsText(file));
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(),
              QByteArray("Duplicates\n\t/x/a.wav\n\t/y/a.wav\n\nNot sound\n\t/z/notes.txt\n\n"));

    // Saving over an existing file replaces it whole; a folder that does
    // not exist fails with a reason.
    errors.reset();
    ASSERT_TRUE(errors.saveAsText(file));
    saved.seek(0);
    EXPECT_EQ(QFile(file).size(), 0);
    QString error;
    EXPECT_FALSE(errors.saveAsText(path(QStringLiteral("missing/list.txt")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(AddFilesErrorsControllerTest, OnlyAPathOpensItsFolder)
{
    QList<QUrl> opened;
    AppPresenter::setUrlOpener([&opened](const QUrl& url) {
        opened.append(url);
        return true;
    });
    AddFilesErrorsController errors(*m_defaults);
    errors.setPaths({QStringLiteral("/x/y/a.wav")}, QStringLiteral("Duplicates"));
    errors.selectPath(QStringLiteral("Duplicates"));
    EXPECT_FALSE(errors.openInFileManagerEnabled());
    errors.openInFileManager();
    EXPECT_TRUE(opened.isEmpty());
    errors.selectPath(QStringLiteral("/x/y/a.wav"));
    EXPECT_TRUE(errors.openInFileManagerEnabled());
    errors.openInFileManager();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.at(0), QUrl::fromLocalFile(QStringLiteral("/x/y")));
}

TEST_F(AddFilesErrorsControllerTest, ReturnClosesTheList)
{
    AddFilesErrorsController errors(*m_defaults);
    errors.setPaths({QStringLiteral("/x/y/a.wav")}, QStringLiteral("Duplicates"));
    errors.show();
    QTreeWidget* list = errors.findChild<QTreeWidget*>();
    ASSERT_NE(list, nullptr);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(errors.isVisible());
}
