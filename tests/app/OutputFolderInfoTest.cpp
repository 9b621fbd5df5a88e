// The output folder: what the output tab shows of it, names cut on a
// character boundary, drops on the well, and the stored folder.
#include "AppTestSupport.h"
#include "FileDropView.h"
#include "FileManager.h"
#include "MainWindow.h"
#include "OutputFolderInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>

namespace {
class OutputFolderInfoTest : public AppTest {};
}

TEST_F(OutputFolderInfoTest, DescribesVolumeFolderAndFreeSpace)
{
    const OutputFolderInfo undefined = OutputFolderInfo::describe(QString());
    EXPECT_FALSE(undefined.defined);
    EXPECT_EQ(undefined.folderText, QStringLiteral("<undefined>"));
    EXPECT_FALSE(OutputFolderInfo::describe(path(QStringLiteral("missing"))).defined);
    WriteText(path(QStringLiteral("file")), "x");
    EXPECT_FALSE(OutputFolderInfo::describe(path(QStringLiteral("file"))).defined);

    QDir().mkpath(path(QStringLiteral("out/deep")));
    const QString folder = path(QStringLiteral("out/deep"));
    const OutputFolderInfo info = OutputFolderInfo::describe(folder);
    ASSERT_TRUE(info.defined);
    const QStorageInfo storage(folder);
    EXPECT_EQ(info.volumeRoot, QDir::cleanPath(storage.rootPath()));
    EXPECT_GT(info.freeBytes, 0u);
    if (info.volumeRoot == QLatin1String("/")) {
        EXPECT_TRUE(info.volumeName.endsWith(QStringLiteral(" (Startup volume)")));
        EXPECT_EQ(info.folderText, folder);
    } else {
        EXPECT_EQ(info.folderText, folder.mid(info.volumeRoot.size() + 1));
    }
    // A mount point other than the root is its volume's top level.
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = QDir::cleanPath(volume.rootPath());
        if (root == QLatin1String("/") || !QFileInfo(root).isDir() || QStorageInfo(root).rootPath() != volume.rootPath())
            continue;
        const OutputFolderInfo top = OutputFolderInfo::describe(root);
        EXPECT_EQ(top.folderText, QStringLiteral("(Top level)")) << root.toStdString();
        EXPECT_FALSE(top.volumeName.isEmpty());
        EXPECT_FALSE(top.volumeName.endsWith(QStringLiteral(" (Startup volume)")));
        break;
    }
}

TEST_F(OutputFolderInfoTest, NamesAreCutAtCharacterBoundaries)
{
    EXPECT_EQ(OutputFolderInfo::cutToUtf8Bytes(QStringLiteral("short")), QStringLiteral("short"));
    const QString ascii(300, QLatin1Char('a'));
    EXPECT_EQ(OutputFolderInfo::cutToUtf8Bytes(ascii).toUtf8().size(), 255);
    // 2-, 3- and 4-byte characters (the last a surrogate pair) never split.
    const QString pieces[] = {QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xE2\x82\xAC"),
                              QString::fromUtf8("\xF0\x9F\x8E\xB5")};
    for (const QString& piece : pieces) {
        const QString cut = OutputFolderInfo::cutToUtf8Bytes(QStringLiteral("ab") + piece.repeated(200));
        const QByteArray bytes = cut.toUtf8();
        EXPECT_LE(bytes.size(), 255);
        EXPECT_GT(bytes.size(), 255 - piece.toUtf8().size());
        EXPECT_EQ(QString::fromUtf8(bytes), cut);
        EXPECT_FALSE(cut.back().isHighSurrogate());
    }
}

TEST_F(OutputFolderInfoTest, WellTakesFoldersAndTheTabShowsThem)
{
    QDir().mkpath(path(QStringLiteral("dropped")));
    WriteText(path(QStringLiteral("a.txt")), "x");
    MainController& controller = startController();
    MainWindow window(controller);
    EXPECT_EQ(window.outputFolderLabel()->text(), QStringLiteral("<undefined>"));
    EXPECT_TRUE(window.volumeLabel()->text().isEmpty());

    FileDropView* well = window.outputWell();
    EXPECT_FALSE(well->dropPath(path(QStringLiteral("a.txt"))));
    EXPECT_FALSE(well->dropPath(path(QStringLiteral("missing"))));
    EXPECT_TRUE(controller.destFolder().isEmpty());
    EXPECT_TRUE(well->dropPath(path(QStringLiteral("dropped"))));
    EXPECT_EQ(controller.destFolder(), path(QStringLiteral("dropped")));
    EXPECT_EQ(m_defaults->stringForKey(QStringLiteral("Last Used Destination")), path(QStringLiteral("dropped")));
    EXPECT_FALSE(window.volumeLabel()->text().isEmpty());
    EXPECT_FALSE(window.freeSpaceLabel()->text().isEmpty());
    EXPECT_NE(window.outputFolderLabel()->text(), QStringLiteral("<undefined>"));

    // A well that takes files may restrict them to extensions.
    FileDropView files;
    files.setAcceptsFiles(true);
    files.setAcceptableTypes({QStringLiteral("wav")});
    EXPECT_FALSE(files.accepts(path(QStringLiteral("a.txt"))));
    WriteText(path(QStringLiteral("b.wav")), "x");
    EXPECT_TRUE(files.accepts(path(QStringLiteral("b.wav"))));
    EXPECT_FALSE(files.accepts(path(QStringLiteral("dropped"))));
    // A file without a known extension is taken by its HFS type.
    WriteText(path(QStringLiteral("typed")), "x");
    FSSpec spec;
    ASSERT_EQ(PathMakeFSSpec(path(QStringLiteral("typed")).toStdString(), &spec), noErr);
    FInfo finderInfo;
    finderInfo.fdType = 'AIFF';
    ASSERT_EQ(FSpSetFInfo(&spec, &finderInfo), noErr);
    EXPECT_FALSE(files.accepts(path(QStringLiteral("typed"))));
    files.setAcceptableTypes({QStringLiteral("wav"), QStringLiteral("'AIFF'")});
    EXPECT_TRUE(files.accepts(path(QStringLiteral("typed"))));
}
