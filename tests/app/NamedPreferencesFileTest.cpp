// A preferences file the user names (quillmarch-batch --defaults, or
// QUILLMARCH_DEFAULTS for either program) is used only when it is one: a
// wrong one is refused before anything runs and left as it was, byte for
// byte, with nothing made beside it; a missing one is made only in a folder
// that exists.  A conversions file is only ever read.
#include "AppTestSupport.h"
#include "PropertyList.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>

#include <functional>

#include <sys/stat.h>

namespace {

// Every entry below `folder`, folders included, with the bytes of each
// regular file.
QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray content = info.isDir() ? QByteArray("<folder>") : QByteArray("<special>");
        if (info.isFile() && !info.isSymLink()) {
            QFile file(path);
            content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
        }
        entries.insert(QDir(folder).relativeFilePath(path), content);
    }
    return entries;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

enum class Way { BatchOption, BatchEnvironment, AppEnvironment };
const char* const kWayNames[] = {"BatchOption", "BatchEnvironment", "AppEnvironment"};

void PrintTo(Way way, std::ostream* out)
{
    *out << kWayNames[int(way)];
}

struct Outcome {
    int exitCode = -1;
    QString err;
};

// quillmarch-batch over one input, or the application (which pictures its
// window and quits when it starts), naming `named` as the preferences file.
Outcome Start(Way way, const QString& named, const QString& root)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUILLMARCH_DEFAULTS"),
                       way == Way::BatchOption ? root + QStringLiteral("/environment.plist") : named);
    QStringList arguments{QStringLiteral("--quiet"), QStringLiteral("-o"), root + QStringLiteral("/out"),
                          root + QStringLiteral("/in.wav")};
    if (way == Way::BatchOption)
        arguments = QStringList{QStringLiteral("--defaults"), named} + arguments;
    if (way == Way::AppEnvironment) {
        environment.insert(QStringLiteral("QUILLMARCH_SCREENSHOT"), root + QStringLiteral("/out/window.png"));
        arguments = QStringList{root + QStringLiteral("/in.wav")};
    }
    program.setProcessEnvironment(environment);
    program.start(way == Way::AppEnvironment ? QStringLiteral(QM_APP_EXE) : QStringLiteral(QM_BATCH_EXE), arguments);
    Outcome run;
    if (program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit)
        run.exitCode = program.exitCode();
    run.err = QString::fromUtf8(program.readAllStandardError());
    return run;
}

struct WrongFile {
    const char* name;
    // Makes what stands at the named path (under `root`); the path.
    std::function<QString(const QString& root)> make;
    const char* said;
};

void PrintTo(const WrongFile& wrong, std::ostream* out)
{
    *out << wrong.name;
}

const WrongFile kWrongFiles[] = {
    {"MissingFolder", [](const QString& root) { return root + QStringLiteral("/none/deeper/prefs.plist"); },
     "its folder %1/none/deeper does not exist"},
    {"ArrayOfStrings",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/list.plist");
         WriteFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array><string>a</string>"
                         "<string>b</string></array></plist>\n");
         return path;
     },
     "it holds an array, not a dictionary of preferences"},
    {"ConversionsFile",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/conversions.plist");
         QFile::copy(QStringLiteral(QM_SOURCE_RESOURCES "/Factory_Conversions.plist"), path);
         return path;
     },
     "it holds an array, not a dictionary of preferences"},
    {"Garbage",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/garbage.plist");
         WriteFile(path, QByteArray("bplist00\x01\x02 not really", 22));
         return path;
     },
     "it cannot be read: "},
    {"Folder",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/folder.plist");
         QDir().mkpath(path + QStringLiteral("/inside"));
         return path;
     },
     "it is a folder"},
    {"Fifo",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/fifo.plist");
         ::mkfifo(QFile::encodeName(path).constData(), 0600);
         return path;
     },
     "it is not a regular file"},
    {"RawTypeWithAHeader",
     [](const QString& root) {
         const QString path = root + QStringLiteral("/raw.plist");
         WriteFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Unrecognized "
                         "Input File Type</key><string>'WAVE'</string></dict></plist>\n");
         return path;
     },
     "'Unrecognized Input File Type' takes one of the headerless types ("},
};

class NamedPreferencesFileTest : public ::testing::TestWithParam<std::tuple<WrongFile, Way>> {
protected:
    TestTempDir m_dir;
};

TEST_P(NamedPreferencesFileTest, AWrongOneIsRefusedAndLeftAsItWas)
{
    const auto& [wrong, way] = GetParam();
    const QString root = m_dir.qpath();
    WriteWave(root + QStringLiteral("/in.wav"), 100);
    const QString named = wrong.make(root);
    const QMap<QString, QByteArray> before = Snapshot(root);

    const Outcome run = Start(way, named, root);
    EXPECT_EQ(run.exitCode, 64) << run.err.toStdString();
    const QString program = way == Way::AppEnvironment ? QStringLiteral("quillmarch: ") : QStringLiteral("quillmarch-batch: ");
    EXPECT_TRUE(run.err.startsWith(program + QStringLiteral("the preferences file '%1' cannot be used: %2")
                                                 .arg(named, QString::fromUtf8(wrong.said).arg(root))))
        << run.err.toStdString();
    EXPECT_EQ(Snapshot(root), before);
}

using WrongFileAndWay = std::tuple<WrongFile, Way>;

std::string CaseName(const ::testing::TestParamInfo<WrongFileAndWay>& info)
{
    return std::string(std::get<0>(info.param).name) + kWayNames[int(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Files, NamedPreferencesFileTest,
                         ::testing::Combine(::testing::ValuesIn(kWrongFiles),
                                            ::testing::Values(Way::BatchOption, Way::BatchEnvironment,
                                                              Way::AppEnvironment)),
                         CaseName);

TEST(NamedPreferencesFile, AMissingOneIsMadeInItsFolderAndAConversionsFileIsOnlyRead)
{
    TestTempDir dir;
    const QString root = dir.qpath();
    WriteWave(root + QStringLiteral("/in.wav"), 100);
    const QString conversions = root + QStringLiteral("/conversions.plist");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QM_SOURCE_RESOURCES "/Factory_Conversions.plist"), conversions));
    const QByteArray conversionBytes = Snapshot(root).value(QStringLiteral("conversions.plist"));

    QProcess batch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUILLMARCH_DEFAULTS"), root + QStringLiteral("/environment.plist"));
    batch.setProcessEnvironment(environment);
    const QString named = root + QStringLiteral("/new.plist");
    batch.start(QStringLiteral(QM_BATCH_EXE),
                {QStringLiteral("--quiet"), QStringLiteral("--defaults"), named, QStringLiteral("--conversions"),
                 conversions, QStringLiteral("--conversion"), QStringLiteral("CD quality AIFF (44.1 kHz, 16 bits)"),
                 QStringLiteral("-o"), root + QStringLiteral("/out"), root + QStringLiteral("/in.wav")});
    ASSERT_TRUE(batch.waitForFinished(60000));
    EXPECT_EQ(batch.exitCode(), 0) << batch.readAllStandardError().toStdString();
    EXPECT_EQ(PropertyList::fromFile(named).typeId(), QMetaType::QVariantMap);
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/environment.plist")));
    const QMap<QString, QByteArray> after = Snapshot(root);
    EXPECT_EQ(after.value(QStringLiteral("conversions.plist")), conversionBytes);
    EXPECT_TRUE(after.keys().filter(QStringLiteral("conversions.plist")).size() == 1) << after.keys().join(' ').toStdString();

    // A conversions file that is not there is not made either.
    batch.start(QStringLiteral(QM_BATCH_EXE), {QStringLiteral("--conversions"), root + QStringLiteral("/none.plist"),
                                               QStringLiteral("--list-conversions")});
    ASSERT_TRUE(batch.waitForFinished(60000));
    EXPECT_EQ(batch.exitCode(), 64);
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/none.plist")));
}

}  // namespace
