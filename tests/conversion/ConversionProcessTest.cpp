// The batch driver end to end on real AIFF files: notification order,
// the per-thread context seen during a file, folder walks mirrored in the
// output folder, skipped and copied files, cancels, and the per-file copy
// of the conversion's specifics.
#include "ConversionProcess.h"
#include "ConversionTestSupport.h"

#include "CAIFFFile.h"
#include "MacRoman.h"

#include "BatchLogHooks.h"
#include "Logger.h"

#include "CoreFileTypes.h"
#include "CreatedFilesList.h"
#include "FilePublishing.h"
#include "TemporaryLedger.h"
#include "FileManager.h"
#include "NotificationCenter.h"
#include "PCMFileTypes.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "ZuSoundFile.h"
#include "finder_comments.h"
#include "UserDefaults.h"
#include "progress_channel.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>

using namespace convtest;

namespace {

// A 16-bit mono AIFF file of `frames` frames at 44100 Hz, plus `trailer`
// bytes after the FORM chunk.
QByteArray MakeAIFF(UInt32 frames, const QByteArray& trailer = QByteArray())
{
    auto be32 = [](QByteArray& b, UInt32 v) {
        b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    };
    auto be16 = [](QByteArray& b, UInt16 v) { b.append(char(v >> 8)).append(char(v)); };
    QByteArray comm;
    be16(comm, 1);
    be32(comm, frames);
    be16(comm, 16);
    comm.append(QByteArray::fromHex("400EAC44000000000000"));  // 44100.0 as an 80-bit extended
    QByteArray ssnd;
    be32(ssnd, 0);
    be32(ssnd, 0);
    for (UInt32 i = 0; i < frames; ++i)
        be16(ssnd, UInt16((i * 37) & 0x3FFF));
    QByteArray body("AIFF");
    body.append("COMM");
    be32(body, UInt32(comm.size()));
    body.append(comm);
    body.append("SSND");
    be32(body, UInt32(ssnd.size()));
    body.append(ssnd);
    QByteArray file("FORM");
    be32(file, UInt32(body.size()));
    file.append(body);
    file.append(trailer);
    return file;
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Posted {
    QString name;
    QVariant object;
    QVariantMap info;
};

class ConversionProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterPCMFileTypes();
        RegisterCoreFileTypes();
        CreatedFilesListClear();
        defaults_ = std::make_unique<UserDefaults>(QString::fromStdString(dir_.file("defaults.plist")));
        ConversionProcess::Environment env;
        env.defaults = defaults_.get();
        process_ = std::make_unique<ConversionProcess>(env);
        in_ = dir_.qpath() + "/in";
        out_ = dir_.qpath() + "/out";
        QDir().mkpath(in_);
        QDir().mkpath(out_);
        token_ = NotificationCenter::defaultCenter().addObserver(
            QString(), process_.get(), [this](const Notification& n) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    posted_.push_back({n.name, ConversionProcess::notificationObject(n),
                                       ConversionProcess::notificationUserInfo(n)});
                }
                if (onPost_)
                    onPost_(n);
            });
    }
    void TearDown() override
    {
        process_->waitUntilDone();
        NotificationCenter::defaultCenter().removeObserver(token_);
        process_.reset();
        CreatedFilesListClear();
    }

    ConvSpecRef Conversion(const QString& name)
    {
        ConvSpecRef s = PlainConversion(kAIFF);
        s->setConversionName(name);
        QDir().mkpath(out_ + "/" + s->conversionName());
        return s;
    }

    void RunBatch(const QStringList& inputs, const QList<ConvSpecRef>& conversions)
    {
        ASSERT_TRUE(process_->start(inputs, conversions, out_));
        ASSERT_TRUE(process_->waitUntilDone(60000));
    }

    QStringList Names() const
    {
        QStringList names;
        for (const Posted& p : posted_)
            names << QString(p.name).remove("ZuConversion").remove("Notification");
        return names;
    }
    QList<Posted> Named(const QString& name) const
    {
        QList<Posted> out;
        for (const Posted& p : posted_)
            if (p.name == name)
                out << p;
        return out;
    }

    TestTempDir dir_;
    std::unique_ptr<UserDefaults> defaults_;
    std::unique_ptr<ConversionProcess> process_;
    QString in_;
    QString out_;
    NotificationCenter::Token token_ = 0;
    std::mutex mutex_;
    QList<Posted> posted_;
    std::function<void(const Notification&)> onPost_;
};

} // namespace

TEST_F(ConversionProcessTest, BatchPostsItsNotificationsInOrderAndConvertsEveryFile)
{
    WriteFile(in_ + "/a.aif", MakeAIFF(1000));
    WriteFile(in_ + "/b.aif", MakeAIFF(500));
    const ConvSpecRef one = Conversion("One");
    const ConvSpecRef two = Conversion("Two");
    RunBatch({in_ + "/a.aif", in_ + "/b.aif"}, {one, two});

    EXPECT_EQ(Names(), QStringList({"Start", "Header", "WillRename", "Success", "WillRename", "Success", "Footer",
                                    "Header", "WillRename", "Success", "WillRename", "Success", "Footer", "Done"}));
    const QList<Posted> start = Named(ConversionProcess::kStartNotification);
    ASSERT_EQ(start.size(), 1);
    EXPECT_EQ(start[0].object.value<ConversionProcess*>(), process_.get());
    EXPECT_EQ(start[0].info.value("total conversions").toULongLong(), 4u);
    EXPECT_NE(start[0].info.value("process thread").value<QThread*>(), QThread::currentThread());
    EXPECT_EQ(Named(ConversionProcess::kHeaderNotification)[1].object.value<ConvSpecRef>(), two);

    const QList<Posted> success = Named(ConversionProcess::kSuccessNotification);
    EXPECT_EQ(success[0].object.toString(), in_ + "/a.aif");
    const QStringList outputs = success[0].info.value("converted file path").toStringList();
    ASSERT_EQ(outputs.size(), 1);
    EXPECT_TRUE(outputs[0].startsWith(out_ + "/One/")) << outputs[0].toStdString();
    EXPECT_TRUE(QFileInfo::exists(outputs[0]));
    EXPECT_EQ(FilesBelow(out_ + "/One").size(), 2) << FilesBelow(out_).join(" ").toStdString();
    EXPECT_EQ(FilesBelow(out_ + "/Two").size(), 2);
    for (const QString& f : FilesBelow(out_))
        EXPECT_FALSE(f.contains(".QuillOutFile")) << f.toStdString();

    EXPECT_FALSE(process_->running());
    EXPECT_EQ(process_->curConv(), 2);
    EXPECT_EQ(process_->curFile(), 2);
    EXPECT_EQ(process_->err(), 0);
    EXPECT_TRUE(process_->fileChanged());
    EXPECT_TRUE(process_->stepChanged());
}

TEST_F(ConversionProcessTest, WorkerContextDuringAFile)
{
    WriteFile(in_ + "/07 Song.mp3", MakeAIFF(800));
    const ConvSpecRef conv = Conversion("Ctx");
    QVariantMap seen;
    QThread* const mainThread = QThread::currentThread();
    QThread* worker = nullptr;
    onPost_ = [&](const Notification& n) {
        if (n.name != ConversionProcess::kWillRenameNotification)
            return;
        worker = QThread::currentThread();
        seen = ThreadDictionary::current().toMap();
    };
    RunBatch({in_ + "/07 Song.mp3"}, {conv});
    ASSERT_FALSE(seen.isEmpty()) << Names().join(",").toStdString();
    EXPECT_NE(worker, mainThread);

    EXPECT_EQ(seen.value("QMConversionProcess").value<ConversionProcess*>(), process_.get());
    EXPECT_EQ(seen.value("QMCurConvSpec").value<ConvSpecRef>(), conv);
    EXPECT_EQ(seen.value("ConversionSpecificationDictionary").toMap().value("QMCSName").toString(), "Ctx");
    EXPECT_EQ(seen.value("QMCurInputFilePath").toString(), in_ + "/07 Song.mp3");
    // The track number goes: the name is "mp3" exactly and starts "07 ".
    EXPECT_EQ(seen.value("QMCurLongName").toString(), "Song.mp3");
    FSRef folder;
    ASSERT_TRUE(FSRefDeserialize(seen.value("ZuOutputFolderRef").toByteArray(), &folder));
    FSRef expected;
    ASSERT_EQ(FSPathMakeRef((out_ + "/Ctx").toStdString(), &expected), noErr);
    EXPECT_TRUE(FSRefsEqual(folder, expected));
    EXPECT_TRUE(seen.value("ZuOutputSpecifics").toMap().contains("oldData"));
    EXPECT_EQ(seen.value("ZuNumberOfInputSamples").toLongLong(), 800);
    EXPECT_EQ(seen.value("ZuLastError").toLongLong(), 0);
    // The final name is the long name (the output type adds its extension).
    EXPECT_EQ(FilesBelow(out_ + "/Ctx"), QStringList{"Song.mp3.aif"});
}

TEST_F(ConversionProcessTest, NestedFoldersAreMirroredAndLinksBackUpAreNotFollowed)
{
    WriteFile(in_ + "/top/b.aif", MakeAIFF(300));
    WriteFile(in_ + "/top/A.aif", MakeAIFF(300));
    WriteFile(in_ + "/top/sub/c.aif", MakeAIFF(300));
    WriteFile(in_ + "/top/sub/deeper/d.aif", MakeAIFF(300));
    WriteFile(in_ + "/top/.DS_Store", "junk");
    ASSERT_TRUE(QFile::link(in_ + "/top", in_ + "/top/sub/loop"));
    // A link into the conversion's own output folder is not walked either.
    const ConvSpecRef conv = Conversion("Mirror");
    ASSERT_TRUE(QFile::link(out_ + "/Mirror", in_ + "/top/sub/outlink"));
    defaults_->setInteger("Unrecognized Input File Action", 1);  // copy: .DS_Store must still be skipped

    RunBatch({in_ + "/top"}, {conv});

    QStringList inputs;
    for (const Posted& p : Named(ConversionProcess::kSuccessNotification))
        inputs << p.object.toString().mid(in_.size() + 1);
    EXPECT_EQ(inputs, QStringList({"top/A.aif", "top/b.aif", "top/sub/c.aif", "top/sub/deeper/d.aif"}));
    EXPECT_TRUE(Named(ConversionProcess::kFailureNotification).isEmpty());

    const QStringList files = FilesBelow(out_ + "/Mirror");
    ASSERT_EQ(files.size(), 4) << files.join(" ").toStdString();
    EXPECT_TRUE(files[0].startsWith("top/A.aif"));
    EXPECT_TRUE(files[1].startsWith("top/b.aif"));
    EXPECT_TRUE(files[2].startsWith("top/sub/c.aif"));
    EXPECT_TRUE(files[3].startsWith("top/sub/deeper/d.aif"));
    EXPECT_FALSE(QFileInfo::exists(out_ + "/Mirror/top/sub/loop"));
    EXPECT_FALSE(QFileInfo::exists(out_ + "/Mirror/top/sub/outlink"));
}

TEST_F(ConversionProcessTest, UnrecognisedFilesAreSkippedOrCopiedNeverOverwritten)
{
    WriteFile(in_ + "/notes.txt", "plain text, not sound");
    WriteFile(in_ + "/.DS_Store", "finder junk");
    const ConvSpecRef conv = Conversion("Other");

    // Default (0): skipped, and said so (the ignored dot file of a walked
    // folder silently; named, it is skipped with its reason too).
    RunBatch({in_, in_ + "/.DS_Store"}, {conv});
    EXPECT_EQ(Names(), QStringList({"Start", "Header", "Skipped", "Skipped", "Footer", "Done"}));
    EXPECT_EQ(Named(ConversionProcess::kSkippedNotification).value(1).object.toString(), in_ + "/.DS_Store");
    EXPECT_TRUE(FilesBelow(out_ + "/Other").isEmpty());

    // 1: copied and logged with its comment; the ignored dot file is not.
    posted_.clear();
    defaults_->setInteger("Unrecognized Input File Action", 1);
    RunBatch({in_}, {conv});
    EXPECT_EQ(Names(), QStringList({"Start", "Header", "Success", "Footer", "Done"}));
    const QList<Posted> success = Named(ConversionProcess::kSuccessNotification);
    ASSERT_EQ(success.size(), 1);
    EXPECT_EQ(success[0].info.value("comment").toString(), "(not recognized as a sound file, just copied)");
    EXPECT_EQ(success[0].info.value("converted file path").toString(), out_ + "/Other/in/notes.txt");
    EXPECT_EQ(ReadFile(out_ + "/Other/in/notes.txt"), QByteArray("plain text, not sound"));

    // Copying again meets the earlier copy: a failure, and the file stays.
    posted_.clear();
    WriteFile(out_ + "/Other/notes.txt", "user's own file");
    RunBatch({in_ + "/notes.txt"}, {conv});
    const QList<Posted> failure = Named(ConversionProcess::kFailureNotification);
    ASSERT_EQ(failure.size(), 1);
    EXPECT_EQ(failure[0].info.value("error").toInt(), -48);
    EXPECT_EQ(ReadFile(out_ + "/Other/notes.txt"), QByteArray("user's own file"));
}

TEST_F(ConversionProcessTest, MissingInputIsReportedWithFnfErr)
{
    const ConvSpecRef conv = Conversion("Missing");
    RunBatch({in_ + "/gone.aif", in_ + "/gone-folder/"}, {conv});
    const QList<Posted> failures = Named(ConversionProcess::kFailureNotification);
    ASSERT_EQ(failures.size(), 2);
    EXPECT_EQ(failures[0].info.value("error").toInt(), -43);
    EXPECT_EQ(failures[1].info.value("error").toInt(), -43);
}

TEST_F(ConversionProcessTest, StopBeforeTheWorkerRunsIsKept)
{
    WriteFile(in_ + "/a.aif", MakeAIFF(100));
    const ConvSpecRef conv = Conversion("Early");
    process_->setShouldStop(true);
    // The worker's body on this thread, with the stop already requested.
    process_->doConversion({in_ + "/a.aif"}, {conv}, out_);
    EXPECT_EQ(Names(), QStringList({"Start", "Done"}));
    EXPECT_EQ(process_->err(), -128);
    EXPECT_TRUE(FilesBelow(out_ + "/Early").isEmpty());

    // A new batch forgets the old request.
    posted_.clear();
    RunBatch({in_ + "/a.aif"}, {conv});
    EXPECT_EQ(Named(ConversionProcess::kSuccessNotification).size(), 1);
    EXPECT_EQ(process_->err(), 0);
}

TEST_F(ConversionProcessTest, CancelFromTheMainThreadMidFile)
{
    WriteFile(in_ + "/long.aif", MakeAIFF(60000));
    WriteFile(in_ + "/next.aif", MakeAIFF(100));
    const ConvSpecRef first = Conversion("Cut");
    const ConvSpecRef second = Conversion("Never");

    // The partial output exists under its temporary name while the worker is held.
    ASSERT_TRUE(StopAtFirstPosition(*process_, {in_ + "/long.aif", in_ + "/next.aif"}, {first, second}, out_,
        [&] { EXPECT_FALSE(FilesBelow(out_ + "/Cut").isEmpty()); }));

    EXPECT_EQ(Names(), QStringList({"Start", "Header", "Failure", "Footer", "Done"}));
    const QList<Posted> failure = Named(ConversionProcess::kFailureNotification);
    ASSERT_EQ(failure.size(), 1);
    EXPECT_EQ(failure[0].info.value("error").toInt(), -128);
    EXPECT_EQ(process_->err(), -128);
    EXPECT_TRUE(FilesBelow(out_ + "/Cut").isEmpty()) << FilesBelow(out_).join(" ").toStdString();
    EXPECT_TRUE(FilesBelow(out_ + "/Never").isEmpty());
    EXPECT_FALSE(process_->running());
}

TEST_F(ConversionProcessTest, TagsOfOneMP3InputStayWithThatFile)
{
    // An ID3v1 record after the AIFF data of a file named as MP3; the
    // extensions in any case.
    QByteArray tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, 5, "Title");
    tag.replace(33, 6, "Singer");
    tag[127] = char(17);
    for (const char* extension : {"mp3", "MP3", "Mp3"}) {
        SCOPED_TRACE(extension);
        posted_.clear();
        const QString tagged = in_ + "/a." + extension;
        const QString untagged = in_ + "/b." + extension;
        WriteFile(tagged, MakeAIFF(200, tag));
        WriteFile(untagged, MakeAIFF(200));
        const ConvSpecRef conv = Conversion(QStringLiteral("Tags ") + extension);
        conv->setNameExtension(extension);
        const QVariantMap before = conv->specifics();

        QList<QVariantMap> specifics;
        onPost_ = [&](const Notification& n) {
            if (n.name == ConversionProcess::kWillRenameNotification)
                specifics << ThreadDictionary::current().value("ZuOutputSpecifics").toMap();
        };
        RunBatch({tagged, untagged}, {conv});
        ASSERT_EQ(specifics.size(), 2) << Names().join(",").toStdString();
        EXPECT_EQ(specifics[0].value("LAMETitle").toString(), "Title");
        EXPECT_EQ(specifics[0].value("LAMEArtist").toString(), "Singer");
        EXPECT_EQ(specifics[0].value("LAMEGenre").toInt(), 17);
        EXPECT_FALSE(specifics[1].contains("LAMETitle"));
        EXPECT_FALSE(specifics[1].contains("LAMEGenre"));
        EXPECT_EQ(conv->specifics(), before);
        onPost_ = nullptr;
        QFile::remove(tagged);
        QFile::remove(untagged);
    }
}

TEST(ConversionProcessWindow, SnipWindows)
{
    UInt32 s = 0, e = 0;
    // 2.0 s to 4.0 s of a 3 s file: cut at the end.
    ASSERT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 2.0, 4.0, &s, &e), 0);
    EXPECT_EQ(s, 88200u);
    EXPECT_EQ(e, 132300u);
    // 4.0 s to 6.0 s: moved back to end at the file's end.
    ASSERT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 4.0, 6.0, &s, &e), 0);
    EXPECT_EQ(s, 44100u);
    EXPECT_EQ(e, 132300u);
    // Longer than the file: the whole file.
    ASSERT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 4.0, 10.0, &s, &e), 0);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(e, 132300u);
    // No end set, start beyond the end: nothing to move.
    EXPECT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 4.0, -1.0, &s, &e), -39);
    EXPECT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 2.0, 1.0, &s, &e), -22002);
    EXPECT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, -1.0, 1.0, &s, &e), -22002);
    // Far beyond the end, without overflow.
    ASSERT_EQ(ConversionProcess::SnippetWindow(132300, 44100.0, 1.0e6, 1.0e6 + 1.0, &s, &e), 0);
    EXPECT_EQ(s, 88200u);
    EXPECT_EQ(e, 132300u);
}

TEST(ConversionProcessProgress, HandlersStoreTheValuesAndRaiseTheFlags)
{
    ConversionProcess process;
    PostProgressNumSteps(3);
    Str255 step = {4, 'S', 't', 'e', 'p'};
    PostProgressStep(step, 1);
    EXPECT_EQ(process.curNumSteps(), 3);
    EXPECT_EQ(process.curStep(), 1);
    EXPECT_EQ(process.curStepDesc(), "Step");
    EXPECT_FALSE(process.determinateStep());
    EXPECT_TRUE(process.stepChanged());
    PostProgressPercentage(42);
    EXPECT_TRUE(process.usePercentage());
    EXPECT_EQ(process.curValue(), 42);
    PostProgressChannel(2, 4);
    EXPECT_EQ(process.curChannel(), 2);
    EXPECT_EQ(process.curChannels(), 4);

    NotificationCenter::defaultCenter().postNotification(ConversionProcess::kLogMessageNotification,
                                                         QStringLiteral("'x' warned"));
    EXPECT_EQ(process.warnings(), 1);
    EXPECT_TRUE(process.warningChanged());
    EXPECT_EQ(process.newWarnings().value_or(QStringList()), QStringList{"'x' warned"});
    EXPECT_EQ(process.newWarnings().value_or(QStringList{"busy"}), QStringList());
}

TEST_F(ConversionProcessTest, LogHooksWriteTheLogAndAFatalCodeStopsTheBatch)
{
    WriteFile(in_ + "/a.aif", MakeAIFF(100));
    const ConvSpecRef first = Conversion("Logged");
    const ConvSpecRef second = Conversion("Skipped");
    defaults_->setBool("Save Log", true);
    Logger::Environment env;
    env.defaults = defaults_.get();
    Logger logger(out_, env);
    {
        BatchLogHooks hooks(*process_, logger, defaults_.get());
        // A converted file, then a missing one (fatal), then one never reached.
        RunBatch({in_ + "/a.aif", in_ + "/gone.aif", in_ + "/a.aif"}, {first, second});
        EXPECT_EQ(hooks.finish(), noErr);
    }
    EXPECT_EQ(Names(), QStringList({"Start", "Header", "WillRename", "Success", "Failure", "Footer", "Done"}));
    EXPECT_TRUE(logger.fatal());
    EXPECT_EQ(process_->err(), -128);
    EXPECT_EQ(defaults_->integerForKey("Number of Files Ever Converted"), 1);
    const QString log = QString::fromUtf8(ReadFile(logger.logPath()));
    EXPECT_TRUE(log.contains("\n a\n")) << log.toStdString();  // the display name
    EXPECT_TRUE(log.contains("*gone.aif")) << log.toStdString();
    EXPECT_TRUE(log.contains("Expected input file not found")) << log.toStdString();
}

TEST_F(ConversionProcessTest, SnippetConversionWritesTheWindowOnly)
{
    WriteFile(in_ + "/clip.aif", MakeAIFF(4410));  // 0.1 s
    const ConvSpecRef conv = Conversion("Snip");
    conv->setNeedsSnip(true);
    conv->setSnipFrom(0.05f);
    conv->setSnipTo(0.08f);
    RunBatch({in_ + "/clip.aif"}, {conv});
    const QList<Posted> success = Named(ConversionProcess::kSuccessNotification);
    ASSERT_EQ(success.size(), 1) << Names().join(",").toStdString();
    const QStringList outputs = success[0].info.value("converted file path").toStringList();
    ASSERT_EQ(outputs.size(), 1);
    UInt32 start = 0, end = 0;
    ASSERT_EQ(ConversionProcess::SnippetWindow(4410, 44100.0, 0.05f, 0.08f, &start, &end), 0);
    EXPECT_EQ(ZuSoundFile(outputs[0]).numFrames(), end - start);
    EXPECT_EQ(process_->curNumInSamples(), SInt64(end - start));
}

TEST_F(ConversionProcessTest, FinderCommentsTravelOnlyWhenAskedFor)
{
    WriteFile(in_ + "/c.aif", MakeAIFF(100));
    if (finder_set_comment("kept note", in_ + "/c.aif") != noErr)
        GTEST_SKIP() << "no user extended attributes here";
    const ConvSpecRef off = Conversion("Plain");
    RunBatch({in_ + "/c.aif"}, {off});
    const QString plain = Named(ConversionProcess::kSuccessNotification).value(0).info.value("converted file path").toStringList().value(0);
    EXPECT_EQ(finder_get_comment(plain), QString());

    posted_.clear();
    defaults_->setBool("Preserve Finder Comments", true);
    const ConvSpecRef on = Conversion("Kept");
    RunBatch({in_ + "/c.aif"}, {on});
    const QString kept = Named(ConversionProcess::kSuccessNotification).value(0).info.value("converted file path").toStringList().value(0);
    EXPECT_EQ(finder_get_comment(kept), "kept note");
    EXPECT_EQ(process_->comment(), "kept note");
}

// What the program writes to the system log (qWarning) while a test runs.
QStringList& SystemLog()
{
    static QStringList lines;
    return lines;
}

TEST_F(ConversionProcessTest, AnOutputFolderGoneBeforeRenamingIsReportedOnce)
{
    WriteFile(in_ + "/a.aif", MakeAIFF(100));
    const ConvSpecRef conv = Conversion("Gone");
    onPost_ = [&](const Notification& n) {
        if (n.name == ConversionProcess::kWillRenameNotification)
            QDir(out_ + "/Gone").removeRecursively();
    };
    SystemLog().clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { SystemLog() << text; });
    RunBatch({in_ + "/a.aif"}, {conv});
    qInstallMessageHandler(previous);
    const QList<Posted> failures = Named(ConversionProcess::kFailureNotification);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0].object.toString(), out_ + "/Gone");
    EXPECT_EQ(failures[0].info.value("error").toInt(), -21002);
    EXPECT_EQ(SystemLog(), QStringList());
}

// A Sound Designer II output (data and resource fork), alone or as a split
// pair, published while a move fails or the process is killed before move
// `step`: all of it or none of it under final names, the log says nothing
// of the unfinished file, and the next run leaves nothing of ours behind
// and converts it normally.
struct PublishFault {
    bool split;  // two members, each with its fork: four moves; else two
    bool kill;   // killed before the move; else the move fails
    int step;
};

class PublishingFaults : public ConversionProcessTest, public ::testing::WithParamInterface<PublishFault> {
protected:
    void TearDown() override
    {
        SetPublishStepHook({});
        ConversionProcessTest::TearDown();
    }
    ConvSpecRef SD2(const QString& name) const
    {
        ConvSpecRef s = PlainConversion(FOUR_CHAR_CODE("Sd2f"), GetParam().split ? 2 : kNoTreatment);
        s->setConversionName(name);
        return s;
    }
    // Everything below the conversion's folder, sidecars and hidden names too.
    QStringList Everything() const
    {
        QStringList names;
        QDirIterator it(out_ + "/SD2", QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            names << it.next().mid(out_.size() + 5);
        names.sort();
        return names;
    }
    // The batch on the calling thread, with its log.
    void Convert(const QString& input)
    {
        Logger::Environment env;
        env.defaults = defaults_.get();
        Logger logger(out_, env);
        BatchLogHooks hooks(*process_, logger, defaults_.get());
        process_->doConversion({input}, {SD2("SD2")}, out_);
        hooks.finish();
    }
};

TEST_P(PublishingFaults, AnOutputAppearsWholeOrNotAtAll)
{
    const PublishFault fault = GetParam();
    const QString input = SoxTone(in_ + "/take.aif", 2, 16, 44100.0, 0.2, 440, 220, 0.5);
    ASSERT_FALSE(input.isEmpty());
    QDir().mkpath(out_ + "/SD2");
    defaults_->setBool("Save Log", true);
    const QStringList whole = fault.split ? QStringList{"._take.L.sd2", "._take.R.sd2", "take.L.sd2", "take.R.sd2"}
                                          : QStringList{"._take.sd2", "take.sd2"};
    const int steps = int(whole.size());
    ASSERT_LT(fault.step, steps);
    if (fault.kill) {
        EXPECT_EXIT(
            {
                SetPublishStepHook([&fault](int step, int) {
                    if (step == fault.step)
                        std::raise(SIGKILL);
                    return OSErr(noErr);
                });
                Convert(input);
                std::exit(0);
            },
            ::testing::KilledBySignal(SIGKILL), "");
        // The killed run's log never names the file as converted.
        for (const QString& log : QDir(out_).entryList({"QuillLog-*.qlg"}, QDir::Files)) {
            const QString text = QString::fromUtf8(ReadFile(out_ + "/" + log));
            EXPECT_FALSE(text.contains("\n take")) << text.toStdString();
        }
    } else {
        int seen = 0;
        SetPublishStepHook([&](int step, int count) {
            seen = count;
            return step == fault.step ? OSErr(ioErr) : OSErr(noErr);
        });
        Convert(input);
        SetPublishStepHook({});
        EXPECT_EQ(seen, steps);
        EXPECT_EQ(Everything(), QStringList()) << "the failed file's outputs are gone";
        EXPECT_EQ(Named(ConversionProcess::kFailureNotification).size(), 1);
    }

    // The next run, at once, takes what a killed run had published out of
    // its final names (else a member would clash) and leaves nothing of
    // ours.
    posted_.clear();
    Convert(input);
    EXPECT_EQ(Names().filter("Success").size(), 1) << Names().join(",").toStdString();
    EXPECT_EQ(Everything(), whole);
}

INSTANTIATE_TEST_SUITE_P(EveryMove, PublishingFaults,
                         ::testing::Values(PublishFault{false, false, 0}, PublishFault{false, false, 1},
                                           PublishFault{false, true, 0}, PublishFault{false, true, 1},
                                           PublishFault{true, false, 0}, PublishFault{true, false, 1},
                                           PublishFault{true, false, 2}, PublishFault{true, false, 3},
                                           PublishFault{true, true, 0}, PublishFault{true, true, 1},
                                           PublishFault{true, true, 2}, PublishFault{true, true, 3}));

namespace {

// A region extraction killed once `written` of its three region files are
// complete: nothing of the input's under a final name, only a temporary
// folder; the next run, at once, removes that folder and extracts every
// region.
// `folder`/`base`.aif: a mono AIFF file with the three regions One, Two
// and Three.
QString RegionInput(const QString& folder, const QString& base)
{
    CAIFFFile file;
    EXPECT_EQ(file.SetFile((folder + "/" + base).toStdString()), noErr);
    const UInt8 extension[] = {3, 'a', 'i', 'f'};
    EXPECT_EQ(file.Create(1, 16, 0, nullptr, extension, 44100.0f), noErr);
    std::vector<double> samples(3000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = double(i % 100) / 200.0;
    UInt32 count = UInt32(samples.size());
    EXPECT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    const char* names[] = {"One", "Two", "Three"};
    for (UInt32 i = 0; i < 3; ++i) {
        SFTRegion region{SInt32(i + 1), 1000 * i, 1000 * i + 900};
        MacRoman::toPascal(QString::fromLatin1(names[i]), region.name, 31);
        EXPECT_EQ(file.AddRegion(&region), noErr);
    }
    EXPECT_EQ(file.Close(), noErr);
    return folder + "/" + base + ".aif";
}

ConvSpecRef Extraction()
{
    ConvSpecRef s = PlainConversion(kAIFF);
    s->setConversionName("Regions");
    s->setNeedsExtraction(true);
    return s;
}

class KilledExtraction : public ConversionProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(KilledExtraction, LeavesNoFinalNameAndTheNextRunCompletes)
{
    const int written = GetParam();
    const QString input = RegionInput(in_, "take");
    const QString folder = out_ + "/Regions";
    QDir().mkpath(folder);
    EXPECT_EXIT(
        {
            NotificationCenter::defaultCenter().addObserver(
                kProgressRegionNotification, nullptr, [written](const Notification& n) {
                    if (n.object.toList().value(3).toInt() == written)
                        std::raise(SIGKILL);
                });
            process_->doConversion({input}, {Extraction()}, out_);
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    ASSERT_EQ(left.size(), 1) << left.join(' ').toStdString();
    EXPECT_TRUE(left[0].startsWith(".QuillOutFile-")) << left[0].toStdString();
    EXPECT_EQ(FilesBelow(folder + "/" + left[0]).size(), written);

    posted_.clear();
    process_->doConversion({input}, {Extraction()}, out_);
    EXPECT_EQ(Names().filter("Success").size(), 1) << Names().join(",").toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"take"});
    EXPECT_EQ(FilesBelow(folder), (QStringList{"take/One.aif", "take/Three.aif", "take/Two.aif"}));
}

INSTANTIATE_TEST_SUITE_P(AfterEachRegion, KilledExtraction, ::testing::Values(0, 1, 2));

}  // namespace

namespace {

// Two batches writing into one output folder.  The first, in a child
// process, is held half way through publishing its output: a split pair
// between the moves of its two members, or a folder of extracted regions
// between its regions (made to look old: no age protects it).  The second
// starts its clean-up; once that has opened the first batch's record of
// temporaries, and before it takes its lock, the first is let go, finishes
// and ends.  Whatever the first batch published stays whole; each batch's
// outputs are there and nothing of either is left under a temporary name.
class BatchesSharingAFolder : public ConversionProcessTest, public ::testing::WithParamInterface<bool> {
protected:
    void TearDown() override
    {
        TemporaryLedger::SetCleanUpHook({});
        ConversionProcessTest::TearDown();
    }
    bool Split() const { return GetParam(); }
    ConvSpecRef Conversion() const
    {
        if (!Split())
            return Extraction();
        ConvSpecRef s = PlainConversion(kAIFF, 2);
        s->setConversionName("Split");
        return s;
    }
    QString Input(const QString& base)
    {
        return Split() ? SoxTone(in_ + "/" + base + ".aif", 2, 16, 44100.0, 0.1, 440, 660, 0.5)
                       : RegionInput(in_, base);
    }
    QStringList Published(const QString& base) const
    {
        return Split() ? QStringList{base + ".L.aif", base + ".R.aif"}
                       : QStringList{base + "/One.aif", base + "/Three.aif", base + "/Two.aif"};
    }
};

TEST_P(BatchesSharingAFolder, NeitherCleanUpTouchesWhatTheOtherPublished)
{
    const QString first = Input("first");
    const QString second = Input("second");
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    const QString folder = out_ + "/" + Conversion()->conversionName();
    QDir().mkpath(folder);
    int held[2], go[2];
    ASSERT_EQ(::pipe2(held, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(go, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto hold = [&] {
            char c = 'h';
            if (::write(held[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1)
                ::_exit(3);
        };
        if (Split()) {
            SetPublishStepHook([&](int step, int) {
                if (step == 1)
                    hold();
                return OSErr(noErr);
            });
        } else {
            NotificationCenter::defaultCenter().addObserver(kProgressRegionNotification, nullptr,
                                                            [&](const Notification& n) {
                                                                if (n.object.toList().value(3).toInt() == 1)
                                                                    hold();
                                                            });
        }
        process_->doConversion({first}, {Conversion()}, out_);
        ::_exit(Named(ConversionProcess::kSuccessNotification).size() == 1 ? 0 : 4);
    }
    char c = 0;
    ASSERT_EQ(::read(held[0], &c, 1), 1);
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(10);
        std::filesystem::last_write_time((folder + "/" + name).toStdString(), old);
    }

    int status = -1;
    TemporaryLedger::SetCleanUpHook([&](const std::string&) {
        if (status != -1)
            return;
        char g = 'g';
        EXPECT_EQ(::write(go[1], &g, 1), 1);
        EXPECT_EQ(::waitpid(child, &status, 0), child);
    });
    process_->doConversion({second}, {Conversion()}, out_);
    ASSERT_TRUE(WIFEXITED(status)) << "the first batch was never let go by the clean-up";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Named(ConversionProcess::kSuccessNotification).size(), 1) << Names().join(",").toStdString();
    EXPECT_EQ(FilesBelow(folder).join(' ').toStdString(), (Published("first") + Published("second")).join(' ').toStdString());
    const QStringList everything =
        QDir(out_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot) +
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_TRUE(everything.filter(".QuillOutFile").isEmpty()) << everything.join(' ').toStdString();
    for (int fd : {held[0], held[1], go[0], go[1]})
        ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(RegionsOrSplitPair, BatchesSharingAFolder, ::testing::Bool());

}  // namespace
