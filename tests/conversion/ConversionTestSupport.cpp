#include "ConversionTestSupport.h"

#include "CConvSpec.h"
#include "ConversionProcess.h"
#include "CreateSoundFile.h"
#include "format_type_codes.h"
#include "NotificationCenter.h"
#include "PeerTools.h"
#include "progress_channel.h"

#include <QDir>
#include <QFileInfo>
#include <QSemaphore>
#include <QThread>

#include <vector>

namespace convtest {

ConvSpecRef PlainConversion(OSType type, int treatment)
{
    ConvSpecRef s = ConvSpec::create();
    s->setNeedsStrictFileType(true);
    s->setOutputFileType(type);
    if (treatment != kNoTreatment) {
        s->setNeedsChannelTreat(true);
        s->setChannelTreat(treatment);
    }
    return s;
}

QVariantMap TypeEntry(const QString& text, bool canBeWritten)
{
    return QVariantMap{{QStringLiteral("text"), text}, {QStringLiteral("canBeWritten"), canBeWritten}};
}

SInt16 RunConversion(const ConvSpecRef& spec, CSoundFile* in, const QString& folder)
{
    FSSpec spot;
    spot.parent = folder.toStdString();
    CConvSpec run(spec, &spot, nullptr, QStringLiteral("Song"));
    return run.Run(in);
}

InputPtr OpenInput(const QString& path)
{
    OSType type = 0;
    EXPECT_EQ(DetectFileType(path.toStdString(), &type), noErr) << path.toStdString();
    InputPtr file(CreateSoundFileObject(type));
    EXPECT_TRUE(file) << path.toStdString();
    if (!file)
        return file;
    EXPECT_EQ(file->SetFile(path.toStdString()), noErr);
    EXPECT_EQ(file->Open(), noErr) << path.toStdString();
    return file;
}

InputPtr OpenSet(OSType setType, OSType memberType, const QStringList& paths, SInt32 configuration)
{
    InputPtr file(CreateSoundFileObject(setType, memberType));
    EXPECT_TRUE(file);
    if (!file)
        return file;
    std::vector<std::string> members;
    for (const QString& p : paths)
        members.push_back(p.toStdString());
    EXPECT_EQ(file->SetFile(members), noErr);
    EXPECT_EQ(file->Open(), noErr);
    file->SetChannelConfiguration(configuration);
    return file;
}

const QStringList kSurroundSuffixes{".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};

QStringList SurroundNames(const QString& stem, const QString& ext)
{
    QStringList names;
    for (const QString& s : kSurroundSuffixes)
        names << stem + s + ext;
    names.sort();
    return names;
}

InputPtr OpenSurroundSplit(const QString& whole, const QString& stem)
{
    QStringList members;
    for (int c = 0; c < 6; ++c) {
        members << stem + kSurroundSuffixes[c] + ".wav";
        QString error;
        EXPECT_TRUE(Sox({whole, members.last(), "remix", QString::number(c + 1)}, &error)) << error.toStdString();
    }
    return OpenSet(format_type_codes::kSurroundSet, kWAVE, members, kChannelConfig5_1);
}

bool Sox(const QStringList& args, QString* error)
{
    const peers::RunResult r = peers::Run(QStringLiteral("sox"), args);
    if (error)
        *error = QString::fromLocal8Bit(r.err);
    return r.exitCode == 0;
}

QString SoxInfo(const QString& path, const char* what)
{
    return QString::fromLocal8Bit(peers::Run(QStringLiteral("sox"), {"--i", what, path}).out).trimmed();
}

QString SoxTone(
    const QString& path, int channels, int bits, double rate, double seconds, int firstHz, int stepHz, double volume)
{
    // -R: the same input every run (sox dithers its 16-bit output, by default
    // with a new seed each time).
    QStringList args{"-R", "-n", "-r", QString::number(rate), "-b", QString::number(bits), "-c", QString::number(channels),
        path, "synth", QString::number(seconds)};
    for (int c = 0; c < channels; ++c)
        args << "sine" << QString::number(firstHz + stepHz * c);
    args << "vol" << QString::number(volume);
    QString error;
    EXPECT_TRUE(Sox(args, &error)) << error.toStdString();
    return path;
}

QStringList FilesBelow(const QString& folder)
{
    QStringList out;
    std::function<void(const QString&, const QString&)> walk = [&](const QString& dir, const QString& rel) {
        for (const QFileInfo& info :
            QDir(dir).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
            if (info.fileName().startsWith("._"))
                continue;
            const QString r = rel.isEmpty() ? info.fileName() : rel + "/" + info.fileName();
            if (info.isDir() && !info.isSymLink())
                walk(info.filePath(), r);
            else
                out << r;
        }
    };
    walk(folder, QString());
    out.sort();
    return out;
}

ProgressRecord::ProgressRecord()
{
    token_ = NotificationCenter::defaultCenter().addObserver(QString(), nullptr, [this](const Notification& n) {
        if (n.name == kProgressNumStepsNotification)
            steps << n.object.toInt();
        if (n.name == kProgressNumSampleFramesNotification)
            frames << n.object.toLongLong();
        if (n.name == kProgressStepNotification)
            texts << n.object.toList().value(0).toString();
    });
}

ProgressRecord::~ProgressRecord()
{
    NotificationCenter::defaultCenter().removeObserver(token_);
}

::testing::AssertionResult StopAtFirstPosition(ConversionProcess& process, const QStringList& inputs,
    const QList<ConvSpecRef>& conversions, const QString& out, const std::function<void()>& whilePaused)
{
    QSemaphore atPosition;
    QSemaphore resume;
    bool paused = false;
    QThread* const mainThread = QThread::currentThread();
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const NotificationCenter::Token token
        = center.addObserver(kProgressPositionNotification, nullptr, [&](const Notification&) {
              if (paused || QThread::currentThread() == mainThread)
                  return;
              paused = true;
              atPosition.release();
              resume.acquire();
          });
    if (!process.start(inputs, conversions, out)) {
        center.removeObserver(token);
        return ::testing::AssertionFailure() << "the batch did not start";
    }
    const bool reached = atPosition.tryAcquire(1, 60000);
    if (reached && whilePaused)
        whilePaused();
    process.setShouldStop(true);
    resume.release();
    const bool done = process.waitUntilDone(60000);
    center.removeObserver(token);
    if (!reached)
        return ::testing::AssertionFailure() << "no position was posted";
    if (!done)
        return ::testing::AssertionFailure() << "the batch did not end";
    return ::testing::AssertionSuccess();
}

}  // namespace convtest
