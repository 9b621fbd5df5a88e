// The peer programs and libraries the tests use as oracles, behind one
// runner: sox, ffmpeg/ffprobe and libsndfile.  Programs are started with an
// argument vector, never through a shell.
//
// A test that needs a peer says so with QM_REQUIRE_PEER("sox"): without the
// program it is skipped, except in CI (environment CI=true), where a missing
// peer fails the test, so that a CI image without its tools cannot pass
// silently.
#pragma once

#include "MacTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace peers {

struct RunResult {
    int exitCode = -1;  // -1: did not start, crashed or timed out
    QByteArray out;
    QByteArray err;
};

// Runs `program` with `arguments` (stdin closed), waiting at most a minute.
RunResult Run(const QString& program, const QStringList& arguments);
// Whether `program` is on PATH (cached).
bool Have(const QString& program);
// The same under the names the format tests use.
inline RunResult RunProgram(const QString& program, const QStringList& arguments)
{
    return Run(program, arguments);
}
inline bool HaveProgram(const QString& program)
{
    return Have(program);
}
// Whether the tests run in CI (CI=true).
bool InCI();

// Every sample of a file as 32-bit signed values (left-justified), as sox,
// ffmpeg or libsndfile decode it; empty when the peer cannot read the file.
// `inputOptions` (may be empty) tell sox or ffmpeg the file's type ("-t",
// "-f") and, for headerless files, its shape.
std::vector<SInt32> SoxS32(const std::string& path, const QStringList& inputOptions = {});
std::vector<SInt32> FFmpegS32(const std::string& path, const QStringList& inputOptions = {});
std::vector<float> FFmpegF32(const std::string& path);
// One stream field as ffprobe shows it ("channels", "sample_rate" ...).
std::string FFprobeField(const std::string& path, const std::string& field);

// What libsndfile reads.
struct SndfileView {
    bool opened = false;
    int channels = 0;
    int rate = 0;
    long long frames = 0;
    int format = 0;  // libsndfile's format word (container, encoding, byte order)
    std::vector<SInt32> samples;  // left-justified 32-bit
};
SndfileView ReadWithSndfile(const std::string& path);
// The samples as 16-bit values (libsndfile's short reader).
std::vector<short> SndfileShorts(const std::string& path);

// The whole file / writing one.
std::vector<UInt8> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<UInt8>& bytes);

}  // namespace peers

#define QM_REQUIRE_PEER(program)                                                                                       \
    do {                                                                                                               \
        if (!peers::Have(QStringLiteral(program))) {                                                                   \
            if (peers::InCI())                                                                                         \
                FAIL() << program << " is not installed (a peer every CI run needs)";                                  \
            GTEST_SKIP() << program << " is not installed";                                                            \
        }                                                                                                              \
    } while (0)
