// The conformance matrix every format runs (see FormatTraits.h): round
// trips of every shape, reads from any frame, fades, the peers in both
// directions, every truncation, writing past the end, registration and
// probes, the coding on close.  Samples are compared as left-justified
// 32-bit values, block bytes in and out, so no dither or scaling stands
// between the file and the check.
#include "AnnotationSet.h"
#include "CSoundFile.h"
#include "ChunkReader.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileManager.h"
#include "FormatTraits.h"
#include "OutputCapabilities.h"
#include "PeerTools.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "fades.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

using annotationset::Annotate, annotationset::Name, annotationset::kFileStamp;

namespace {

struct Decoded {
    OSErr err = 1;
    UInt16 channels = 0;
    SInt16 bits = 0;
    double rate = 0;
    UInt32 frames = 0;
    bool cutShort = false;  // the file says its data was cut (DataCutShort)
    std::vector<SInt32> samples;  // interleaved, left-justified
};

std::size_t SampleBytes(SInt16 bits)
{
    return std::size_t((bits + 7) / 8);
}

// Speech-like audio in -1..1, interleaved: a gliding tone (the right
// channels a little higher), a noisy stretch and a quiet one every 4000 frames.
std::vector<double> Tone(UInt32 frames, UInt16 channels, double rate, UInt32 seed = 7)
{
    std::vector<double> out;
    for (UInt32 i = 0; i < frames; ++i) {
        const double t = i / rate;
        for (UInt16 c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            double v = 0.6 * std::sin(2 * M_PI * (200 + 900 * t + 150 * c) * t);
            if ((i / 1000) % 4 == 2)
                v = 0.3 * v + 0.2 * (SInt32(seed) / 2147483648.0);
            if ((i / 1000) % 4 == 3)
                v *= 0.05;
            out.push_back(v);
        }
    }
    return out;
}

// Deterministic samples of `bits` bits, left-justified: noise with both
// extremes, or (`coded`) the tone.
std::vector<SInt32> TestSamples(const FormatShape& shape, UInt32 frames, UInt32 seed, bool coded)
{
    const std::size_t count = std::size_t(frames) * shape.channels;
    std::vector<SInt32> out(count);
    // A word length that is a bit rate (the AAC export's) keeps every bit.
    const int shift = std::max(0, 32 - int(SampleBytes(shape.bits) * 8));
    const UInt32 mask = shift == 0 ? 0xFFFFFFFFu : ~((UInt32(1) << shift) - 1);
    if (coded) {
        const std::vector<double> tone = Tone(frames, shape.channels, shape.rate, seed);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = SInt32(UInt32(SInt32(std::lround(tone[i] * 2147483647.0))) & mask);
        return out;
    }
    for (std::size_t i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        out[i] = SInt32(seed & mask);
    }
    if (count >= 2) {
        out[0] = SInt32(0x80000000u);
        out[1] = SInt32(0x7FFFFFFFu & mask);
    }
    return out;
}

template <typename Sample> double SnrDb(const std::vector<Sample>& reference, const std::vector<Sample>& test)
{
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(reference.size(), test.size()); ++i) {
        signal += double(reference[i]) * double(reference[i]);
        noise += (double(reference[i]) - double(test[i])) * (double(reference[i]) - double(test[i]));
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

void ToBlock(const SInt32* samples, std::size_t count, std::size_t width, UInt8* block)
{
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t b = 0; b < width; ++b)
            block[i * width + b] = UInt8(UInt32(samples[i]) >> (24 - 8 * b));
}

SInt32 FromBlock(const UInt8* p, std::size_t width, bool in32)
{
    UInt32 v = 0;
    for (std::size_t b = 0; b < width; ++b)
        v |= UInt32(p[b]) << (24 - 8 * b);
    return SInt32(in32 ? v << 8 : v);
}

std::unique_ptr<CSoundFile> Make(OSType type)
{
    return std::unique_ptr<CSoundFile>(CreateSoundFileObject(type));
}

// Writes `samples` through the format class; the path written (empty on failure).
// `annotate` (if any) gets the file before it is closed.
std::string WriteOurs(OSType type, const FormatShape& shape, const std::string& path,
    const std::vector<SInt32>& samples, UInt32 firstFrame = 0,
    const std::function<void(CSoundFile&)>& annotate = {})
{
    auto file = Make(type);
    if (!file)
        return std::string();
    EXPECT_EQ(file->SetFile(path), noErr);
    const OSErr created = file->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate));
    EXPECT_EQ(created, noErr) << shape.channels << "x" << shape.bits << " at " << shape.rate;
    if (created != noErr)
        return std::string();
    const std::size_t width = SampleBytes(file->GetNumBits());
    const UInt32 frames = UInt32(samples.size() / shape.channels);
    for (UInt32 done = 0; done < frames;) {
        const UInt32 at = firstFrame + done;
        EXPECT_EQ(file->AllocateWriteBuffer(), noErr);
        EXPECT_EQ(file->PrepareWriteBlock(at), noErr);
        const UInt32 n = std::min(file->GetBufferFrames(), frames - done);
        ToBlock(samples.data() + std::size_t(done) * shape.channels, std::size_t(n) * shape.channels, width,
            file->GetWriteBuffer());
        EXPECT_EQ(file->WriteBlock(n, at), noErr);
        done += n;
    }
    if (annotate)
        annotate(*file);
    EXPECT_EQ(file->Close(), noErr);
    return file->GetPath();
}

// Every frame of a file as the class reads it: noErr or one of the
// format's warnings opens it; any other answer refuses it (channels 0).
Decoded DecodeOurs(OSType type, const std::string& path, const std::vector<OSErr>& warnings = {})
{
    Decoded d;
    auto file = Make(type);
    if (!file || file->SetFile(path) != noErr)
        return d;
    d.err = file->Open();
    const bool usable = d.err == noErr || std::find(warnings.begin(), warnings.end(), d.err) != warnings.end();
    if (!usable || !file->IsOpen()) {
        if (file->IsOpen())
            file->Close();
        return d;
    }
    d.channels = file->GetNumChannels();
    d.bits = file->GetNumBits();
    d.rate = file->GetSampleRate();
    d.frames = file->GetNumFrames();
    d.cutShort = file->DataCutShort();
    const std::size_t width = SampleBytes(file->GetNumBits());
    const bool in32 = file->GetState() == kSampleFormat24In32;
    for (UInt32 frame = 0; frame < d.frames; frame += file->GetBufferFrames()) {
        const OSErr err = file->ReadBlock(frame);
        EXPECT_EQ(err, noErr) << path << " frame " << frame << " of " << d.frames << " (open: " << d.err << ")";
        if (err != noErr)
            break;
        const std::size_t count = std::size_t(std::min(file->GetBufferFrames(), d.frames - frame)) * d.channels;
        for (std::size_t i = 0; i < count; ++i)
            d.samples.push_back(FromBlock(file->GetReadBuffer() + i * width, width, in32));
    }
    file->Close();
    return d;
}

// How far a peer's decoding may stray from ours: every sample within
// `tolerance`, or (snrDb > 0) the whole to snrDb and, if set, each sample
// within `tolerance`.
struct Agreement {
    SInt32 tolerance = 0;
    double snrDb = 0;
    bool peerSeesPadding = false;
};

void ExpectSame(std::vector<SInt32> peer, const std::vector<SInt32>& ours, const Agreement& a, const std::string& what)
{
    if (a.peerSeesPadding && peer.size() > ours.size())
        peer.resize(ours.size());
    ASSERT_EQ(peer.size(), ours.size()) << what;
    if (a.snrDb > 0) {
        EXPECT_GE(SnrDb(ours, peer), a.snrDb) << what;
        if (a.tolerance == 0)
            return;
    }
    std::size_t bad = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (std::llabs(SInt64(peer[i]) - SInt64(ours[i])) > a.tolerance && bad++ < 3)
            ADD_FAILURE() << what << ": sample " << i << " peer " << peer[i] << " ours " << ours[i];
    }
    EXPECT_EQ(bad, 0u) << what;
}

// How the peers' decodings (`ffmpeg`: ffmpeg's) must agree with ours.
Agreement PeerAgreement(const FormatTraits& t, bool ffmpeg = false)
{
    return {t.peerTolerance, ffmpeg && t.ffmpegSnrDb > 0 ? t.ffmpegSnrDb : t.peerSnrDb, t.peersSeePadding};
}

// A file written as the pipelines write it: doubles, no dither.
OSErr WriteFrames(OSType type, const FormatShape& shape, const std::string& path, const std::vector<double>& audio,
    std::string* written)
{
    auto file = Make(type);
    OSErr err = file->SetFile(path);
    if (!err)
        err = file->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate));
    if (err)
        return err;
    file->SetDither(false);
    std::vector<double> copy = audio;
    UInt32 count = UInt32(audio.size() / shape.channels);
    err = file->WriteFrames(0, &count, copy.data());
    *written = file->GetPath();
    const OSErr closed = file->Close();
    return err ? err : closed;
}

std::vector<double> ReadFrames(CSoundFile& file)
{
    std::vector<double> values(std::size_t(file.GetNumFrames()) * file.GetNumChannels());
    UInt32 count = file.GetNumFrames();
    EXPECT_EQ(file.ReadFrames(0, &count, values.data()), noErr);
    EXPECT_EQ(count, file.GetNumFrames());
    return values;
}

// What `a` says the format keeps of Annotate(n).
void ExpectAnnotations(const CSoundFile& f, const AnnotationTraits& a, UInt32 n, const std::string& what)
{
    if (a.markers) {
        // Loop markers never show up as markers.
        ASSERT_EQ(f.GetNumMarkers(), 3) << what;
        const struct {
            UInt32 pos;
            SInt16 type, number;
            const char* name;
        } expected[] = {{n / 20, 1, 1, "Verse"}, {n / 10, 1, 2, "Chorus"}, {3 * n / 20, 2, -1, "Plain marker"}};
        for (UInt16 i = 0; i < 3; ++i) {
            SFTMarker m;
            ASSERT_EQ(f.GetMarker(i, &m), noErr) << what;
            EXPECT_EQ(m.pos, expected[i].pos) << what << " marker " << i;
            EXPECT_EQ(Name(m.name), expected[i].name) << what << " marker " << i;
            if (a.markerNumbers) {
                EXPECT_EQ(m.type, expected[i].type) << what << " marker " << i;
                EXPECT_EQ(m.number, expected[i].number) << what << " marker " << i;
            }
        }
    }
    if (a.loops) {
        ASSERT_EQ(f.GetNumLoops(), 2) << what;
        const SFTLoop expected[] = {{1, n / 5, 9 * n / 20, 1}, {2, n / 2, 3 * n / 4, 2}};
        for (UInt16 i = 0; i < 2; ++i) {
            SFTLoop loop;
            ASSERT_EQ(f.GetLoop(i, &loop), noErr) << what;
            EXPECT_EQ(loop.start, expected[i].start) << what << " loop " << i;
            EXPECT_EQ(loop.end, expected[i].end) << what << " loop " << i;
            if (a.loopTypes) {
                EXPECT_EQ(loop.type, expected[i].type) << what << " loop " << i;
            }
        }
    }
    if (a.sampler) {
        SFTSamplerInfo info;
        ASSERT_EQ(f.GetSamplerInfo(&info), noErr) << what;
        EXPECT_EQ(info.baseNote, 48) << what;
        EXPECT_EQ(info.detune, -7) << what;
        EXPECT_EQ(info.lowNote, 12) << what;
        EXPECT_EQ(info.highNote, 100) << what;
        EXPECT_EQ(info.lowVelocity, 3) << what;
        EXPECT_EQ(info.highVelocity, 120) << what;
        if (a.samplerGain) {
            EXPECT_EQ(info.gain, -6) << what;
        }
    }
    if (a.regions) {
        ASSERT_EQ(f.GetNumRegions(), 2) << what;
        const struct {
            UInt32 start, end, sync;
            SInt64 stamp;
            const char* name;
        } expected[] = {{n / 200, n / 4, n / 100, SInt64(kFileStamp), "First region"},
            {3 * n / 10, n - 1, 7 * n / 20, 77, "Second"}};
        for (UInt16 i = 0; i < 2; ++i) {
            SFTRegion r;
            ASSERT_EQ(f.GetRegion(i, &r), noErr) << what;
            EXPECT_EQ(r.start, expected[i].start) << what << " region " << i;
            EXPECT_EQ(r.end, expected[i].end) << what << " region " << i;
            EXPECT_EQ(Name(r.name), expected[i].name) << what << " region " << i;
            if (a.regionSync) {
                EXPECT_EQ(r.regionID, i + 1) << what << " region " << i;
                EXPECT_EQ(r.syncFrame, expected[i].sync) << what << " region " << i;
            }
            if (a.regionStamps) {
                EXPECT_EQ(r.timeStamp, expected[i].stamp) << what << " region " << i;
                EXPECT_EQ(f.GetRegionObject(i)->timeStamp(), expected[i].stamp) << what << " region " << i;
            }
        }
    }
    if (a.fileStamp) {
        EXPECT_EQ(f.GetTimeStamp64(), kFileStamp) << what;
    }
}

}  // namespace

void FormatConformance::SetUpTestSuite()
{
    EngineStartup::registerFileTypes();
}

void FormatConformance::SetUp()
{
    SetProcessFileIfNoRegions(false);
}

std::vector<SInt32> FormatConformance::Samples(const FormatShape& shape, UInt32 frames, UInt32 seed) const
{
    return TestSamples(shape, frames, seed, T().minSnrDb > 0);
}

UInt32 FormatConformance::Held(UInt32 frames) const
{
    return T().framesHeld ? T().framesHeld(frames) : frames;
}

std::vector<std::size_t> FormatConformance::PrefixLengths(std::size_t size) const
{
    // Every prefix through the header and the first samples, every one of
    // the last bytes (chunks after the data), and evenly spaced ones between.
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < size; ++length) {
        if (length < T().truncationBytesChecked || length + std::min<std::size_t>(64, T().truncationBytesChecked) >= size
            || length % (size / 97 + 1) == 0)
            lengths.push_back(length);
    }
    return lengths;
}

std::string FormatConformance::WriteDefault(const std::string& name, std::vector<SInt32>* samples, bool annotate)
{
    const std::vector<SInt32> s = Samples(T().shapes.front(), T().frames);
    if (samples)
        *samples = s;
    const UInt32 frames = T().frames;
    const bool annotated = annotate && T().annotations.Any();
    return WriteOurs(T().type, T().shapes.front(), File(name), s, 0,
        annotated ? std::function<void(CSoundFile&)>([frames](CSoundFile& f) { Annotate(f, frames); }) : nullptr);
}

namespace {

TEST_P(FormatConformance, RoundTripsEveryShape)
{
    int n = 0;
    for (const FormatShape& shape : T().shapes) {
        const std::string what = T().name + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        // A block written past the end leaves silence before it: the zero
        // of the shape's coding (0x80 for unsigned 8-bit words, 0xD5 for
        // A-law), never a zero byte.
        {
            const UInt32 at = std::max<UInt32>(500, T().frames);
            const std::vector<SInt32> tail = Samples(shape, 10);
            const std::string gap = WriteOurs(T().type, shape, File("gap" + std::to_string(n)), tail, at);
            ASSERT_FALSE(gap.empty()) << what;
            const Decoded d = DecodeOurs(Reader(), gap);
            ASSERT_EQ(d.err, noErr) << what;
            ASSERT_EQ(d.frames, Held(at + 10)) << what;
            // Coded silence may decode a step off zero (A-law has no zero).
            const SInt64 silence = T().silenceError ? T().silenceError
                : T().minSnrDb > 0                  ? SInt64(64) << 16
                : T().lossy                         ? SInt64(16) << 16
                                                    : 0;
            for (std::size_t i = 0; i < std::size_t(at) * shape.channels; ++i)
                ASSERT_LE(std::llabs(SInt64(d.samples[i])), silence) << what << " sample " << i;
            if (!T().lossy) {
                EXPECT_TRUE(std::equal(tail.begin(), tail.end(), d.samples.begin() + at * shape.channels)) << what;
            }
        }
        // More frames than one block, so that blocks meet inside the file.
        const std::vector<SInt32> samples = Samples(shape, kDefaultBufferFrames + 77, 11 + n);
        const std::string path = WriteOurs(T().type, shape, File("shape" + std::to_string(n++)), samples);
        ASSERT_FALSE(path.empty()) << what;
        const Decoded d = DecodeOurs(Reader(), path);
        ASSERT_EQ(d.err, noErr) << what;
        EXPECT_EQ(d.channels, shape.channels) << what;
        EXPECT_EQ(d.frames, Held(kDefaultBufferFrames + 77)) << what;
        if (T().minSnrDb > 0) {
            EXPECT_GE(SnrDb(samples, Aligned(d.samples, shape.channels)), T().minSnrDb) << what;
            continue;
        }
        if (!T().lossy) {
            ExpectSame(d.samples, samples, {}, what);
            continue;
        }
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_LE(std::llabs(SInt64(d.samples[i]) - SInt64(samples[i])), T().lossyError) << what << " " << i;
        // Companded samples: a second pass through the coder changes nothing.
        const std::string again = WriteOurs(T().type, shape, File("again" + std::to_string(n)), d.samples);
        ExpectSame(DecodeOurs(Reader(), again).samples, d.samples, {}, what + " (second pass)");
    }
}

TEST_P(FormatsPeersRead, PeersReadOurFiles)
{
    int n = 0;
    for (const FormatShape& shape : T().shapes) {
        const std::string what = T().name + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        const std::string path
            = WriteOurs(T().type, shape, File("peer" + std::to_string(n++)), Samples(shape, T().frames));
        const Decoded ours = DecodeOurs(Reader(), path);
        if (!T().soxReadOptions.isEmpty()) {
            QM_REQUIRE_PEER("sox");
            ExpectSame(peers::SoxS32(path, T().soxReadOptions), ours.samples, PeerAgreement(T()), what + " sox");
            if (T().detectsPeerFiles) {
                const peers::RunResult info = peers::Run("sox", {"--i", "-c", QString::fromStdString(path)});
                EXPECT_EQ(info.out.trimmed().toInt(), shape.channels) << what << " sox --i";
            }
        }
        if (T().sndfileReads) {
            const peers::SndfileView view = peers::ReadWithSndfile(path);
            ASSERT_TRUE(view.opened) << what;
            EXPECT_EQ(view.channels, shape.channels) << what;
            EXPECT_EQ(view.rate, int(shape.rate)) << what;
            if (!T().peersSeePadding) {
                EXPECT_EQ(view.frames, ours.frames) << what;
            }
            ExpectSame(view.samples, ours.samples, PeerAgreement(T()), what + " libsndfile");
        }
        if (T().ffmpegReads) {
            QM_REQUIRE_PEER("ffmpeg");
            if (T().ffmpegReadOptions.isEmpty()) {
                EXPECT_EQ(peers::FFprobeField(path, "channels"), std::to_string(shape.channels)) << what;
                EXPECT_EQ(peers::FFprobeField(path, "sample_rate"), std::to_string(int(shape.rate))) << what;
            }
            std::vector<SInt32> theirs = peers::FFmpegS32(path, T().ffmpegReadOptions);
            theirs.erase(theirs.begin(),
                         theirs.begin() + std::ptrdiff_t(std::min(theirs.size(), std::size_t(T().peerDelay) * shape.channels)));
            ExpectSame(theirs, ours.samples, PeerAgreement(T(), true), what + " ffmpeg");
        }
    }
}

TEST_P(FormatsPeersWrite, WeReadThePeersFiles)
{
    QM_REQUIRE_PEER("sox");
    // Each file sox and ffmpeg write also comes written to a pipe, where
    // they cannot go back to fill in the sizes: ffmpeg leaves them 0 or
    // 0xFFFFFFFF (the file is whole), sox puts placeholders past the end
    // (which a cut file has too).
    enum class Sizes { Exact, Unknown, PastTheEnd };
    struct PeerFile {
        std::string writer;
        FormatShape shape;
        std::string path;
        bool ffmpegOracle = false;  // ffmpeg's own files: its decoding too
        Sizes sizes = Sizes::Exact;
        std::string twin = {};  // written to a pipe: the same written to a file
    };
    std::vector<PeerFile> files;
    int n = 0;
    // Writes what a peer sent to its standard output; false when the peer
    // does not write the format to a pipe at all.
    const auto piped = [&](const peers::RunResult& r, const std::string& path) {
        if (r.exitCode != 0 || r.out.isEmpty())
            return false;
        peers::WriteAll(path, std::vector<UInt8>(r.out.begin(), r.out.end()));
        return true;
    };
    // Noise in `shape` (coded formats: tones the coder follows), written by
    // sox in a format or as the WAVE source the other writers convert.
    const auto source = [&](const FormatShape& shape, const QStringList& output, bool wave = false) {
        const QStringList make{"-R", "-n", "-r", QString::number(shape.rate), "-c", QString::number(shape.channels),
            "-b", QString::number(wave ? std::max<SInt16>(shape.bits, 8) : shape.bits)};
        const QStringList audio = T().minSnrDb > 0 ? QStringList{"synth", "0.37", "sine", "300-3000", "sine", "440", "vol", "0.8"}
                                                   : QStringList{"synth", "0.03", "whitenoise", "vol", "0.9"};
        return peers::Run("sox", make + output + audio);
    };
    for (const FormatShape& shape : T().soxWrites) {
        peers::RunResult r;
        if (!T().soxWriteOptions.isEmpty()) {
            const std::string soxPath = File("sox" + std::to_string(n));
            r = source(shape, QStringList(T().soxWriteOptions) << QString::fromStdString(soxPath));
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            files.push_back({"sox", shape, soxPath});
            const std::string pipePath = File("soxpipe" + std::to_string(n));
            if (piped(source(shape, QStringList(T().soxWriteOptions) << "-"), pipePath))
                files.push_back({"sox to a pipe", shape, pipePath, false, Sizes::PastTheEnd, soxPath});
        }
        if (!T().sndfileExtension.isEmpty()) {
            QM_REQUIRE_PEER("sndfile-convert");
            const std::string wav = dir.file("src" + std::to_string(n) + ".wav");
            const std::string sfPath = dir.file("sf" + std::to_string(n) + "." + T().sndfileExtension.toStdString());
            ASSERT_EQ(source(shape, {QString::fromStdString(wav)}, true).exitCode, 0);
            // Eight-bit samples are signed in some formats, unsigned in others.
            const QStringList encodings = !T().sndfileOption.isEmpty() ? QStringList{T().sndfileOption}
                : shape.bits == 8                                      ? QStringList{"-pcms8", "-pcmu8"}
                                                                       : QStringList{"-pcm" + QString::number(shape.bits)};
            for (const QString& encoding : encodings) {
                r = peers::Run(
                    "sndfile-convert", {encoding, QString::fromStdString(wav), QString::fromStdString(sfPath)});
                if (r.exitCode == 0)
                    break;
            }
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            files.push_back({"libsndfile", shape, sfPath});
        }
        ++n;
    }
    for (const PeerWrite& write : T().ffmpegWrites) {
        QM_REQUIRE_PEER("ffmpeg");
        const std::string wav = dir.file("ffsrc" + std::to_string(n) + ".wav");
        const std::string ffPath = File("ff" + std::to_string(n++));
        ASSERT_EQ(source(write.shape, {QString::fromStdString(wav)}, true).exitCode, 0);
        const peers::RunResult r = peers::Run("ffmpeg", QStringList{"-v", "error", "-i", QString::fromStdString(wav)}
                << write.options << QString::fromStdString(ffPath));
        ASSERT_EQ(r.exitCode, 0) << write.options.join(' ').toStdString() << ": " << r.err.toStdString();
        files.push_back({"ffmpeg " + write.options.join(' ').toStdString(), write.shape, ffPath, true});
        const std::string pipePath = File("ffpipe" + std::to_string(n));
        if (piped(peers::Run("ffmpeg", QStringList{"-v", "error", "-i", QString::fromStdString(wav)} << write.options
                                                                                                   << "pipe:1"),
                  pipePath))
            files.push_back({"ffmpeg to a pipe " + write.options.join(' ').toStdString(), write.shape, pipePath, false,
                             Sizes::Unknown, ffPath});
    }
    for (const auto& [writer, shape, path, ffmpegOracle, sizes, twin] : files) {
        const std::string what
            = T().name + " " + writer + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        const Decoded ours = DecodeOurs(Reader(), path);
        ASSERT_EQ(ours.err, noErr) << what;
        EXPECT_TRUE(!ours.cutShort || sizes == Sizes::PastTheEnd) << what << " says it was cut";
        EXPECT_EQ(ours.channels, shape.channels) << what;
        EXPECT_EQ(ours.rate, shape.rate) << what;
        if (!T().lossy) {
            EXPECT_EQ(ours.bits, shape.bits) << what;
        }
        if (const HeaderProbe probe = GetHeaderProbe(Reader())) {
            EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(shape.channels)) << what << " probe";
        }
        if (T().detectsPeerFiles) {
            OSType type = 0;
            EXPECT_EQ(DetectFileType(path, &type), noErr) << what;
            EXPECT_EQ(type, Detected()) << what << ": detected as " << ChunkIDToString(type);
        }
        // A file written to a pipe holds the sound of its twin written where
        // the peer could seek back (which the peers judge): all of it, and
        // past it at most the rest of a last block whose frames the writer
        // could not count (sox's placeholders), or the pad byte after an
        // odd count of one-byte frames (which the peers read as a frame too).
        if (!twin.empty()) {
            const Decoded seekable = DecodeOurs(Reader(), twin);
            ASSERT_GE(ours.samples.size(), seekable.samples.size()) << what;
            EXPECT_TRUE(std::equal(seekable.samples.begin(), seekable.samples.end(), ours.samples.begin())) << what;
            const bool byteFrames = shape.channels == 1 && SampleBytes(shape.bits) == 1;
            if (sizes == Sizes::Unknown) {
                EXPECT_LE(ours.frames - seekable.frames, byteFrames ? 1u : 0u) << what;
            }
            continue;
        }
        // The oracle: libsndfile where it reads the format, else ffmpeg,
        // else sox (sox's and ffmpeg's readers drop the last samples of
        // some Creative Voice files); ffmpeg too for its own files.
        const Agreement agreement = PeerAgreement(T());
        const Agreement ffmpegAgreement = PeerAgreement(T(), true);
        if (ffmpegOracle)
            ExpectSame(peers::FFmpegS32(path, T().ffmpegReadOptions), ours.samples, ffmpegAgreement, what + " ffmpeg");
        if (T().sndfileReads)
            ExpectSame(peers::ReadWithSndfile(path).samples, ours.samples, agreement, what + " libsndfile");
        else if (T().ffmpegReads)
            ExpectSame(peers::FFmpegS32(path, T().ffmpegReadOptions), ours.samples, ffmpegAgreement, what + " ffmpeg");
        else
            ExpectSame(peers::SoxS32(path, T().soxReadOptions), ours.samples, agreement, what + " sox");
    }
}

TEST_P(FormatConformance, EveryTruncationIsSafe)
{
    // With the annotations the format keeps, so that their chunks are cut too.
    const std::string path = WriteDefault("whole", nullptr, true);
    ASSERT_FALSE(path.empty());
    const Decoded whole = DecodeOurs(Reader(), path);
    ASSERT_EQ(whole.err, noErr);
    const std::vector<UInt8> bytes = peers::ReadAll(path);
    const std::string cut = File("cut");
    for (const std::size_t length : PrefixLengths(bytes.size())) {
        peers::WriteAll(cut, std::vector<UInt8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
        const Decoded d = DecodeOurs(Reader(), cut, T().openWarnings);
        auto probe = Make(Reader());
        SInt16 result = 0;
        if (probe->SetFile(cut) == noErr)
            probe->ProbeHeader(&result);
        ASSERT_EQ(OpenForkCount(), 0) << "a fork left open after a prefix of " << length << " bytes";
        const auto& exact = T().exactTruncation;
        if (length < exact.refusedBelow) {
            EXPECT_EQ(d.channels, 0) << "prefix of " << length << " bytes opened";
            if (exact.refusedWith != 1) {
                EXPECT_EQ(d.err, exact.refusedWith) << "prefix of " << length << " bytes";
            }
        } else if (exact.dataOffset) {
            EXPECT_EQ(d.err, noErr) << "prefix of " << length << " bytes";
            EXPECT_EQ(d.frames, (std::max(length, exact.dataOffset) - exact.dataOffset) / exact.frameBytes)
                << "prefix of " << length << " bytes";
            // A block past the end reads as silence, not an error.
            auto file = Make(Reader());
            if (file->SetFile(cut) == noErr && file->Open() == noErr) {
                EXPECT_EQ(file->ReadBlock(file->GetNumFrames() + 5), noErr) << "prefix of " << length << " bytes";
                EXPECT_EQ(file->GetReadBuffer()[0], 0) << "prefix of " << length << " bytes";
                file->Close();
            }
        }
        if (d.channels == 0)
            continue;  // refused
        ASSERT_LE(d.frames, whole.frames) << "prefix of " << length << " bytes";
        ASSERT_EQ(d.channels, whole.channels) << "prefix of " << length << " bytes";
        ASSERT_TRUE(std::equal(d.samples.begin(), d.samples.end(), whole.samples.begin()))
            << "prefix of " << length << " bytes";
    }
}

TEST_P(FormatsSayingWhenCut, CutFilesSayTheyAreCut)
{
    // Every prefix of a small file that opens: one that lost frames says it
    // was cut (the batch warns "unexpected end of file"), the whole file
    // does not.  Where the samples run to the end of the file with no
    // length in the header, a cut is seen only inside the header or a frame.
    const std::string path = WriteDefault("whole");
    ASSERT_FALSE(path.empty());
    const Decoded whole = DecodeOurs(Reader(), path);
    ASSERT_EQ(whole.err, noErr);
    EXPECT_FALSE(whole.cutShort);
    const std::vector<UInt8> bytes = peers::ReadAll(path);
    // Formats that keep their shape in the resource fork: the cut file gets it too.
    const std::filesystem::path written = path;
    const std::filesystem::path sidecar = written.parent_path() / ("._" + written.filename().string());
    const std::string cut = File("cut");
    if (std::filesystem::exists(sidecar))
        std::filesystem::copy_file(sidecar, File("._cut"));
    const auto& toTheEnd = T().samplesToTheEnd;
    int opened = 0;
    for (const std::size_t length : PrefixLengths(bytes.size() + 1)) {
        peers::WriteAll(cut, std::vector<UInt8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
        const Decoded d = DecodeOurs(Reader(), cut, T().openWarnings);
        if (d.channels == 0)
            continue;  // refused
        ++opened;
        const bool lost = toTheEnd.frameBytes
            ? length < toTheEnd.dataOffset || (length - toTheEnd.dataOffset) % toTheEnd.frameBytes != 0
            : d.frames < whole.frames;
        ASSERT_EQ(d.cutShort, lost) << "prefix of " << length << " of " << bytes.size() << " bytes, " << d.frames
                                    << " of " << whole.frames << " frames";
    }
    EXPECT_GT(opened, 0);
}

TEST_P(FormatConformance, RegistrationAndProbe)
{
    auto file = Make(T().type);
    ASSERT_NE(file, nullptr) << "no factory for " << T().name;
    EXPECT_EQ(file->GetFileType(), T().type);
    EXPECT_FALSE(file->GetFormatName().isEmpty());
    if (!T().formatName.empty()) {
        EXPECT_EQ(file->GetFormatName(), QString::fromStdString(T().formatName));
    }
    if (!T().splitSuffix.empty()) {
        EXPECT_TRUE(file->SupportsSplitChannels());
        EXPECT_EQ(file->GetSplitNamingSuffix(), QString::fromStdString(T().splitSuffix));
    }

    const std::string path = WriteDefault("probe");
    ASSERT_FALSE(path.empty());
    OSType type = 0;
    SInt32 recognized = 0;
    if (T().detectsOurFiles) {
        EXPECT_EQ(DetectFileType(path, &type, &recognized), noErr);
        EXPECT_EQ(type, Detected()) << "detected as " << ChunkIDToString(type);
        EXPECT_EQ(recognized, 1);
    }
    const std::string other = File("other");
    peers::WriteAll(other, std::vector<UInt8>(64, 0x5A));
    if (const HeaderProbe probe = GetHeaderProbe(Reader())) {
        EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(T().shapes.front().channels));
        EXPECT_LE(probe(QString::fromStdString(other)), 0);
        EXPECT_LE(probe(QString::fromStdString(dir.file("missing"))), 0);
    }

    if (T().closeOfAClosedFile) {
        auto closed = Make(Reader());
        EXPECT_EQ(closed->Close(), T().closeOfAClosedFile);  // never opened
        ASSERT_EQ(closed->SetFile(path), noErr);
        ASSERT_EQ(closed->Open(), noErr);
        EXPECT_EQ(closed->Close(), noErr);
        EXPECT_EQ(closed->Close(), T().closeOfAClosedFile);
    }
    EXPECT_EQ(bool(file->NeedsEncodingOnClose()), T().encodesOnClose);

    // The shapes the suite writes and reads are ones the type's entry of
    // the file-type dictionary lets a conversion make, so the two cannot
    // drift apart; the word lengths only of those the suite writes (Voc Pro
    // reads the 8-bit files peers write, and writes only 16 bits).
    const OutputCapabilities caps = GetOutputCapabilities(T().type);
    std::vector<FormatShape> listed = T().shapes;
    listed.insert(listed.end(), T().soxWrites.begin(), T().soxWrites.end());
    for (const PeerWrite& write : T().ffmpegWrites)
        listed.push_back(write.shape);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const FormatShape& shape = listed[i];
        const std::string what = std::to_string(shape.channels) + "x" + std::to_string(shape.bits) + " at "
            + std::to_string(shape.rate);
        EXPECT_TRUE(caps.holdsChannels(shape.channels)) << what;
        EXPECT_TRUE(caps.holdsRate(shape.rate)) << what;
        if (!caps.wordLengthIsBitRate && T().minSnrDb == 0 && i < T().shapes.size()) {
            EXPECT_TRUE(caps.holdsWordLength(shape.bits)) << what;
        }
    }

    auto probing = Make(Reader());
    ASSERT_EQ(probing->SetFile(path), noErr);
    SInt16 count = -1;
    EXPECT_EQ(probing->ProbeHeader(&count), noErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(probing->GetNumChannels(), T().shapes.front().channels);
    EXPECT_FALSE(probing->IsOpen());
    // Create never takes over an existing file, nor its resources.
    const std::vector<UInt8> before = peers::ReadAll(path);
    auto second = Make(T().type);
    ASSERT_EQ(second->SetFile(File("probe")), noErr);
    const FormatShape& shape = T().shapes.front();
    EXPECT_EQ(second->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate)), dupFNErr);
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(peers::ReadAll(path), before);
    EXPECT_EQ(DecodeOurs(Reader(), path).frames, Held(T().frames));
    if (const HeaderProbe probe = GetHeaderProbe(Reader())) {
        EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(shape.channels));
    }
    // A file of another kind is refused without a crash.
    auto refusing = Make(Reader());
    ASSERT_EQ(refusing->SetFile(other), noErr);
    const OSErr refused = refusing->Open();
    if (refusing->IsOpen())
        refusing->Close();
    (void)refused;
}

TEST_P(FormatsWithRefusedShapes, CreateRefusesShapesItCannotHold)
{
    int n = 0;
    for (const auto& [shape, expected] : T().refusedShapes) {
        const std::string what = std::to_string(shape.channels) + "x" + std::to_string(shape.bits) + " at "
            + std::to_string(shape.rate);
        auto file = Make(T().type);
        ASSERT_EQ(file->SetFile(File("refused" + std::to_string(n++))), noErr);
        EXPECT_EQ(file->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate)), expected) << what;
        EXPECT_FALSE(file->IsOpen()) << what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_P(FormatsWithDamagedHeaders, DamagedHeadersGiveTheirError)
{
    const std::vector<UInt8> intact = peers::ReadAll(WriteDefault("intact"));
    const std::string path = File("damaged");
    for (const HeaderPatch& patch : T().damagedHeaders) {
        std::size_t at = patch.offset;
        if (!patch.anchor.empty()) {
            const auto found = std::search(intact.begin(), intact.end(), patch.anchor.begin(), patch.anchor.end());
            ASSERT_NE(found, intact.end()) << patch.what;
            at += std::size_t(found - intact.begin());
        }
        ASSERT_LE(at + patch.bytes.size(), intact.size()) << patch.what;
        std::vector<UInt8> bytes = intact;
        std::copy(patch.bytes.begin(), patch.bytes.end(), bytes.begin() + std::ptrdiff_t(at));
        bytes.resize(bytes.size() - std::min(patch.dropBytes, bytes.size()));
        peers::WriteAll(path, bytes);
        const Decoded d = DecodeOurs(Reader(), path);
        // A file that opens meets the shape check every input passes.
        OSErr refusal = d.err;
        if (refusal == noErr) {
            auto file = Make(Reader());
            ASSERT_EQ(file->SetFile(path), noErr);
            ASSERT_EQ(file->Open(), noErr) << patch.what;
            refusal = file->CheckReadShape();
            file->Close();
        }
        EXPECT_EQ(refusal, patch.refusedWith) << patch.what;
        if (patch.refusedWith == noErr) {
            EXPECT_GT(d.frames, 0u) << patch.what;
            EXPECT_EQ(d.cutShort, patch.saysCut) << patch.what;
            continue;
        }
        if (d.err != noErr) {
            EXPECT_EQ(d.channels, 0) << patch.what;
        }
        if (patch.probeRefuses) {
            auto probe = Make(Reader());
            ASSERT_EQ(probe->SetFile(path), noErr);
            SInt16 result = 7;
            EXPECT_EQ(probe->ProbeHeader(&result), patch.refusedWith) << patch.what;
            EXPECT_EQ(result, 0) << patch.what;
            EXPECT_FALSE(probe->IsOpen()) << patch.what;
        }
        ASSERT_EQ(OpenForkCount(), 0) << patch.what;
    }
}

TEST_P(FormatsWithAnnotations, AnnotationsRoundTrip)
{
    constexpr UInt32 kFrames = 2000;
    const FormatShape& shape = T().shapes.front();
    const std::string path = WriteOurs(T().type, shape, File("annotated"), Samples(shape, kFrames), 0,
        [](CSoundFile& f) { Annotate(f, kFrames); });
    ASSERT_FALSE(path.empty());
    auto file = Make(Reader());
    ASSERT_EQ(file->SetFile(path), noErr);
    ASSERT_EQ(file->Open(), noErr);
    ExpectAnnotations(*file, T().annotations, kFrames, T().name);
    file->Close();
}

TEST_P(FormatConformance, AudioWrittenAsThePipelinesDoReadsBack)
{
    // Written as doubles, with no dither, and once with fades, which read
    // and rewrite both ends of what was written (no whole number of coded
    // blocks); it reads back to its quality, and from any frame as from
    // the start.
    const FormatShape& shape = T().shapes.front();
    const UInt32 frames = UInt32(shape.rate / 2) + 1;
    const std::vector<double> audio = Tone(frames, shape.channels, shape.rate);
    const FadeSettings fades{true, 50.0f, 50.0f};
    for (const bool faded : {false, true}) {
        auto file = Make(T().type);
        ASSERT_EQ(file->SetFile(File(faded ? "faded" : "take")), noErr);
        ASSERT_EQ(file->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate)), noErr);
        file->SetDither(false);
        std::vector<double> copy = audio;
        UInt32 count = frames;
        ASSERT_EQ(file->WriteFrames(0, &count, copy.data()), noErr);
        if (faded) {
            ASSERT_EQ(ApplyFades(file.get(), fades), 0);
        }
        const std::string path = file->GetPath();
        ASSERT_EQ(file->Close(), noErr);
        // Only the outputs are in the folder: any intermediate is gone.
        const QStringList left = QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(left.filter(QRegularExpression("^(?!\\._)")).size(), faded ? 2 : 1) << left.join(' ').toStdString();

        // The audio with the fades' law applied to what was written.
        std::vector<double> expected = audio;
        UInt32 in = 0;
        UInt32 out = 0;
        if (faded) {
            FadeLengths(fades, shape.rate, frames, &in, &out);
            // 50 ms: the nearest frame, a half going up (1102.5 at 22050 Hz).
            ASSERT_EQ(in, UInt32(std::floor(shape.rate / 20 + 0.5)));
        }
        for (UInt32 i = 0; i < frames; ++i) {
            const double gain = i < in ? double(i) / in * double(i) / in
                : i + out >= frames    ? double(frames - i) / out * double(frames - i) / out
                                       : 1.0;
            for (UInt16 c = 0; c < shape.channels; ++c)
                expected[std::size_t(i) * shape.channels + c] *= gain;
        }
        auto back = Make(Reader());
        ASSERT_EQ(back->SetFile(path), noErr);
        ASSERT_EQ(back->Open(), noErr);
        EXPECT_EQ(back->GetNumFrames(), Held(frames));
        EXPECT_EQ(back->GetNumChannels(), shape.channels);
        EXPECT_EQ(back->GetSampleRate(), shape.rate);
        const std::vector<double> ours = ReadFrames(*back);
        EXPECT_GE(SnrDb(expected, Aligned(ours, shape.channels)), T().minSnrDb > 0 ? T().minSnrDb : 30.0)
            << (faded ? "faded" : "");
        for (const UInt32 start : {frames * 3 / 4, frames / 4, 1u}) {
            if (faded)
                break;
            std::vector<double> part(std::size_t(500) * shape.channels);
            count = 500;
            ASSERT_EQ(back->ReadFrames(start, &count, part.data()), noErr);
            ASSERT_EQ(count, 500u);
            for (std::size_t i = 0; i < part.size(); ++i)
                ASSERT_EQ(part[i], ours[start * shape.channels + i]) << start << " " << i;
        }
        EXPECT_EQ(back->Close(), noErr);
    }
}

TEST_P(FormatsEncodedOnClose, CancelDuringEncodeLeavesNothing)
{
    const FormatShape& shape = T().shapes.front();
    ThreadDictionary::current().setLastError(-128);
    std::string path;
    const OSErr err = WriteFrames(T().type, shape, File("cancelled"), Tone(3000, shape.channels, shape.rate), &path);
    ThreadDictionary::current().clearLastError();
    EXPECT_EQ(err, -128);
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

}  // namespace
