// Running the built quillmarch-batch and the peers (sox) from the tests.
#pragma once

#include "PeerTools.h"
#include "TestTempDir.h"

#include <QByteArray>
#include <QDir>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <string>

// Defined in a build under AddressSanitizer, which runs the program several
// times slower: the sampled suites take a smaller share there.
#if defined(__SANITIZE_ADDRESS__)
#define QM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_SANITIZED 1
#endif
#endif

namespace clitest {

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    QString out;
    QString err;
};

// The program, with QUILLMARCH_DEFAULTS set to `defaultsFile` (never the
// user's own preferences), and the sanitizers' suppressions of third-party
// leaks.
inline QProcessEnvironment BatchEnvironment(const QString& defaultsFile)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLMARCH_DEFAULTS"), defaultsFile);
    env.insert(QStringLiteral("QUILLMARCH_RESOURCES"), QStringLiteral(QM_SOURCE_RESOURCES));
    // In the sanitizer build: what third-party libraries leak is not ours,
    // and the count of what was suppressed is not printed after the
    // program's own last line, which the tests read.
    if (!env.contains(QStringLiteral("LSAN_OPTIONS")))
        env.insert(QStringLiteral("LSAN_OPTIONS"),
                   QStringLiteral("print_suppressions=0:suppressions=" QM_SOURCE_RESOURCES
                                  "/../tests/support/lsan-third-party.supp"));
    return env;
}

// `path`, when given, is the program's PATH (where no `lame` is, say).
inline RunResult RunBatch(const QStringList& arguments, const QString& defaultsFile, int timeoutMs = 300000,
                          const QString& path = QString())
{
    QProcess process;
    QProcessEnvironment env = BatchEnvironment(defaultsFile);
    if (!path.isEmpty())
        env.insert(QStringLiteral("PATH"), path);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QM_BATCH_EXE), arguments);
    RunResult result;
    if (!process.waitForStarted(30000))
        return result;
    process.waitForFinished(timeoutMs);
    result.crashed = process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Runs a peer program; true when it exits with 0.  *output gets its standard
// output when given.
inline bool RunPeer(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    const peers::RunResult r = peers::Run(program, arguments);
    if (output)
        *output = r.out;
    return r.exitCode == 0;
}

inline bool Sox(const QStringList& arguments)
{
    return RunPeer(QStringLiteral("sox"), arguments);
}

// The samples of a sound file as sox reads them (raw, in the file's own
// word length).
inline QByteArray SoxSamples(const QString& path)
{
    QByteArray data;
    if (!RunPeer(QStringLiteral("sox"), {path, QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-")}, &data))
        return QByteArray("sox failed");
    return data;
}

// A conversion to the type `type` (four characters) with the word length
// (or bit rate) and the first type-specific bytes given (the rest zero),
// and no other change to the audio.
inline QVariantMap TypedConversion(const char* name, const char* type, int wordLength, const QByteArray& specifics)
{
    const QByteArray code(type, 4);
    const qint32 typeCode = qint32(quint32(uint8_t(code[0])) << 24 | quint32(uint8_t(code[1])) << 16 |
                                   quint32(uint8_t(code[2])) << 8 | quint32(uint8_t(code[3])));
    QByteArray old = specifics;
    old.resize(256, '\0');
    return {{"QMCSName", name},
            {"QMCSOutputFileType", typeCode},
            {"QMCSNeedsStrictFileType", true},
            {"QMCSNeedsSampleRateConversion", false},
            {"QMCSNeedsRedither", false},
            {"QMCSNeedsNameExtension", false},
            {"QMCSNeedsNewWordLength", true},
            {"QMCSWordLength", wordLength},
            {"QMCSSpecifics", QVariantMap{{"oldData", old}}}};
}

// A type code as the name of a test of it: characters other than letters
// and digits become '_' (" paf" gives "_paf").
struct TypeParamName {
    template <typename T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const
    {
        std::string name = info.param;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    }
};

// Writes `bytes` as the file `path` (replacing it); false when it cannot.
bool WriteBytes(const QString& path, const QByteArray& bytes);
// The bytes of the file `path` (empty when it cannot be read).
QByteArray ReadBytes(const QString& path);

// Every file below `folder` (hidden and special ones too), sorted: full
// paths, or relative to `folder`.
QStringList FilesUnder(const QString& folder, bool relative = false);
// What ffprobe shows of a file's format and streams.
QJsonObject Probe(const QString& path);

// Writes a conversions file made from the factory conversion at `factoryIndex`
// changed by each entry of `changes` (one conversion per entry).
QString WriteConversions(const QString& path, const QList<QPair<int, QVariantMap>>& changes);

// The path of the log the program printed (standard output holds it
// alone, with a line end); empty when it printed anything else.
QString LogPathFromOutput(const QString& out);
QString ReadText(const QString& path);

// The stand-in encoder of WriteHeldEncoderScript in `folder`, the batch
// command run through it, and a conversion to MP3 through it.
class HeldEncoder {
public:
    explicit HeldEncoder(const QString& folder);
    ~HeldEncoder() { release(); }
    bool ok() const { return ok_; }
    // Starts quillmarch-batch with `arguments` (PATH finding only this
    // encoder, the defaults file given) and waits, up to a minute, until an
    // encoding run holds it; the encoder's process id, or 0.
    qint64 start(QProcess* process, const QString& defaultsFile, const QStringList& arguments) const;
    // Lets the held run end (and every later one at once).
    void release() const;
    static QVariantMap Conversion(const char* name);

private:
    QString folder_;
    bool ok_ = false;
};

// A batch test's temporary folder `root` and its own defaults file.
class BatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.qpath();
        defaults = root + "/prefs.plist";
    }
    // The folders root/in and root/out, and in them take.wav: `seconds` of
    // a 16-bit stereo tone, 440 and 660 Hz at -3 dB, undithered (sox).
    ::testing::AssertionResult MakeStereoTake(double seconds) const
    {
        if (!QDir().mkpath(root + "/in") || !QDir().mkpath(root + "/out"))
            return ::testing::AssertionFailure() << "cannot make the folders";
        if (!Sox({"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", root + "/in/take.wav", "synth",
                  QString::number(seconds), "sine", "440", "sine", "660", "gain", "-3"}))
            return ::testing::AssertionFailure() << "sox failed";
        return ::testing::AssertionSuccess();
    }
    // quillmarch-batch with `arguments` and this test's defaults.
    RunResult Run(const QStringList& arguments, int timeoutMs = 300000) const
    {
        return RunBatch(arguments, defaults, timeoutMs);
    }
    // The conversions `changes` (see WriteConversions) run quietly over
    // `input` into `out`.
    RunResult RunConversions(const QString& name, const QList<QPair<int, QVariantMap>>& changes, const QString& input,
        const QString& out) const
    {
        const QString conversions = WriteConversions(root + "/" + name + ".plist", changes);
        EXPECT_FALSE(conversions.isEmpty());
        return Run({"--quiet", "--conversions", conversions, "-o", out, input});
    }

    TestTempDir dir;
    QString root;
    QString defaults;
};

}  // namespace clitest
