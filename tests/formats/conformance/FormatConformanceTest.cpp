// The conformance matrix every format runs (see FormatTraits.h): round
// trips of every shape, the peers in both directions, every truncation,
// writing past the end, registration and probes.  Samples are compared as
// left-justified 32-bit values, block bytes in and out, so no dither or
// scaling stands between the file and the check.
#include "AnnotationSet.h"
#include "CSoundFile.h"
#include "ChunkReader.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileManager.h"
#include "FormatTraits.h"
#include "PeerTools.h"
#include "SoundFileRegistry.h"
#include "SoundFileSwitches.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Deterministic samples of `bits` bits, left-justified, with both extremes.
std::vector<SInt32> TestSamples(std::size_t count, SInt16 bits, UInt32 seed)
{
    std::vector<SInt32> out(count);
    const int shift = 32 - int(SampleBytes(bits) * 8);
    const UInt32 mask = shift == 0 ? 0xFFFFFFFFu : ~((UInt32(1) << shift) - 1);
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

void ExpectSame(std::vector<SInt32> peer, const std::vector<SInt32>& ours, SInt32 tolerance, const std::string& what,
    bool peerSeesPadding = false)
{
    if (peerSeesPadding && peer.size() > ours.size())
        peer.resize(ours.size());
    ASSERT_EQ(peer.size(), ours.size()) << what;
    std::size_t bad = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (std::llabs(SInt64(peer[i]) - SInt64(ours[i])) > tolerance && bad++ < 3)
            ADD_FAILURE() << what << ": sample " << i << " peer " << peer[i] << " ours " << ours[i];
    }
    EXPECT_EQ(bad, 0u) << what;
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
    return TestSamples(std::size_t(frames) * shape.channels, shape.bits, seed);
}

std::vector<std::size_t> FormatConformance::PrefixLengths(std::size_t size) const
{
    // Every prefix through the header and the first samples, every one of
    // the last bytes (chunks after the data), and evenly spaced ones between.
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < size; ++length) {
        if (length < T().truncationBytesChecked || length + 64 >= size || length % (size / 97 + 1) == 0)
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
    return WriteOurs(T().type, T().shapes.front(), dir.file(name), s, 0,
        annotated ? std::function<void(CSoundFile&)>([frames](CSoundFile& f) { Annotate(f, frames); }) : nullptr);
}

namespace {

TEST_P(FormatConformance, RoundTripsEveryShape)
{
    int n = 0;
    for (const FormatShape& shape : T().shapes) {
        const std::string what = T().name + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        // More frames than one block, so that blocks meet inside the file.
        const std::vector<SInt32> samples = Samples(shape, kDefaultBufferFrames + 77, 11 + n);
        const std::string path = WriteOurs(T().type, shape, dir.file("shape" + std::to_string(n++)), samples);
        ASSERT_FALSE(path.empty()) << what;
        const Decoded d = DecodeOurs(T().type, path);
        ASSERT_EQ(d.err, noErr) << what;
        EXPECT_EQ(d.channels, shape.channels) << what;
        EXPECT_EQ(d.frames, kDefaultBufferFrames + 77) << what;
        if (!T().lossy) {
            ExpectSame(d.samples, samples, 0, what);
            continue;
        }
        for (std::size_t i = 0; i < samples.size(); ++i)
            ASSERT_LE(std::llabs(SInt64(d.samples[i]) - SInt64(samples[i])), T().lossyError) << what << " " << i;
        // Coded samples: a second pass through the coder changes nothing.
        const std::string again = WriteOurs(T().type, shape, dir.file("again" + std::to_string(n)), d.samples);
        ExpectSame(DecodeOurs(T().type, again).samples, d.samples, 0, what + " (second pass)");
    }
}

TEST_P(FormatsPeersRead, PeersReadOurFiles)
{
    int n = 0;
    for (const FormatShape& shape : T().shapes) {
        const std::string what = T().name + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        const std::string path
            = WriteOurs(T().type, shape, dir.file("peer" + std::to_string(n++)), Samples(shape, T().frames));
        const Decoded ours = DecodeOurs(T().type, path);
        if (!T().soxReadOptions.isEmpty()) {
            QM_REQUIRE_PEER("sox");
            ExpectSame(peers::SoxS32(path, T().soxReadOptions), ours.samples, T().peerTolerance, what + " sox",
                T().peersSeePadding);
            if (!T().soxReadOptions.contains("raw")) {
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
            ExpectSame(view.samples, ours.samples, T().peerTolerance, what + " libsndfile", T().peersSeePadding);
        }
        if (T().ffmpegReads) {
            QM_REQUIRE_PEER("ffmpeg");
            EXPECT_EQ(peers::FFprobeField(path, "channels"), std::to_string(shape.channels)) << what;
            EXPECT_EQ(peers::FFprobeField(path, "sample_rate"), std::to_string(int(shape.rate))) << what;
            ExpectSame(peers::FFmpegS32(path), ours.samples, T().peerTolerance, what + " ffmpeg", T().peersSeePadding);
        }
    }
}

TEST_P(FormatsPeersWrite, WeReadThePeersFiles)
{
    QM_REQUIRE_PEER("sox");
    struct PeerFile {
        std::string writer;
        FormatShape shape;
        std::string path;
        bool ffmpegOracle = false;  // ffmpeg's own files: its decoding too
    };
    std::vector<PeerFile> files;
    int n = 0;
    // A WAVE of noise in `shape`, the source the other writers convert.
    const auto source = [&](const FormatShape& shape, const QStringList& output) {
        const QStringList make{"-R", "-n", "-r", QString::number(shape.rate), "-c", QString::number(shape.channels),
            "-b", QString::number(shape.bits)};
        return peers::Run("sox", QStringList(make) << output << "synth" << "0.03" << "whitenoise" << "vol" << "0.9");
    };
    for (const FormatShape& shape : T().soxWrites) {
        peers::RunResult r;
        if (!T().soxWriteOptions.isEmpty()) {
            const std::string soxPath = dir.file("sox" + std::to_string(n));
            r = source(shape, QStringList(T().soxWriteOptions) << QString::fromStdString(soxPath));
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            files.push_back({"sox", shape, soxPath});
        }
        if (!T().sndfileExtension.isEmpty()) {
            QM_REQUIRE_PEER("sndfile-convert");
            const std::string wav = dir.file("src" + std::to_string(n) + ".wav");
            const std::string sfPath = dir.file("sf" + std::to_string(n) + "." + T().sndfileExtension.toStdString());
            ASSERT_EQ(source(shape, {QString::fromStdString(wav)}).exitCode, 0);
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
        const std::string ffPath = dir.file("ff" + std::to_string(n++));
        ASSERT_EQ(source(write.shape, {QString::fromStdString(wav)}).exitCode, 0);
        const peers::RunResult r = peers::Run("ffmpeg", QStringList{"-v", "error", "-i", QString::fromStdString(wav)}
                << write.options << QString::fromStdString(ffPath));
        ASSERT_EQ(r.exitCode, 0) << write.options.join(' ').toStdString() << ": " << r.err.toStdString();
        files.push_back({"ffmpeg " + write.options.join(' ').toStdString(), write.shape, ffPath, true});
    }
    for (const auto& [writer, shape, path, ffmpegOracle] : files) {
        const std::string what
            = T().name + " " + writer + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        const Decoded ours = DecodeOurs(T().type, path);
        ASSERT_EQ(ours.err, noErr) << what;
        EXPECT_FALSE(ours.cutShort) << what;
        EXPECT_EQ(ours.channels, shape.channels) << what;
        EXPECT_EQ(ours.rate, shape.rate) << what;
        if (!T().lossy) {
            EXPECT_EQ(ours.bits, shape.bits) << what;
        }
        if (const HeaderProbe probe = GetHeaderProbe(T().type)) {
            EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(shape.channels)) << what << " probe";
        }
        if (T().detectsPeerFiles) {
            OSType type = 0;
            EXPECT_EQ(DetectFileType(path, &type), noErr) << what;
            EXPECT_EQ(type, Detected()) << what << ": detected as " << ChunkIDToString(type);
        }
        // The oracle: libsndfile where it reads the format, else ffmpeg,
        // else sox (sox's and ffmpeg's readers drop the last samples of
        // some Creative Voice files); ffmpeg too for its own files.
        if (ffmpegOracle)
            ExpectSame(peers::FFmpegS32(path), ours.samples, T().peerTolerance, what + " ffmpeg");
        if (T().sndfileReads)
            ExpectSame(peers::ReadWithSndfile(path).samples, ours.samples, T().peerTolerance, what + " libsndfile");
        else if (T().ffmpegReads)
            ExpectSame(peers::FFmpegS32(path), ours.samples, T().peerTolerance, what + " ffmpeg");
        else
            ExpectSame(peers::SoxS32(path, T().soxReadOptions), ours.samples, T().peerTolerance, what + " sox");
    }
}

TEST_P(FormatConformance, EveryTruncationIsSafe)
{
    // With the annotations the format keeps, so that their chunks are cut too.
    const std::string path = WriteDefault("whole", nullptr, true);
    ASSERT_FALSE(path.empty());
    const Decoded whole = DecodeOurs(T().type, path);
    ASSERT_EQ(whole.err, noErr);
    const std::vector<UInt8> bytes = peers::ReadAll(path);
    const std::string cut = dir.file("cut");
    for (const std::size_t length : PrefixLengths(bytes.size())) {
        peers::WriteAll(cut, std::vector<UInt8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
        const Decoded d = DecodeOurs(T().type, cut, T().openWarnings);
        auto probe = Make(T().type);
        SInt16 result = 0;
        if (probe->SetFile(cut) == noErr)
            probe->ProbeHeader(&result);
        ASSERT_EQ(OpenForkCount(), 0) << "a fork left open after a prefix of " << length << " bytes";
        if (const auto& exact = T().exactTruncation; exact.dataOffset) {
            if (length < exact.refusedBelow) {
                EXPECT_EQ(d.channels, 0) << "prefix of " << length << " bytes opened";
                if (exact.refusedWith != 1) {
                    EXPECT_EQ(d.err, exact.refusedWith) << "prefix of " << length << " bytes";
                }
            } else {
                EXPECT_EQ(d.err, noErr) << "prefix of " << length << " bytes";
                EXPECT_EQ(d.frames, (std::max(length, exact.dataOffset) - exact.dataOffset) / exact.frameBytes)
                    << "prefix of " << length << " bytes";
                // A block past the end reads as silence, not an error.
                auto file = Make(T().type);
                if (file->SetFile(cut) == noErr && file->Open() == noErr) {
                    EXPECT_EQ(file->ReadBlock(file->GetNumFrames() + 5), noErr) << "prefix of " << length << " bytes";
                    EXPECT_EQ(file->GetReadBuffer()[0], 0) << "prefix of " << length << " bytes";
                    file->Close();
                }
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

TEST_P(FormatConformance, CutFilesSayTheyAreCut)
{
    // Every prefix of a small file that opens: one that lost frames says it
    // was cut (the batch warns "unexpected end of file"), the whole file
    // does not.  Where the samples run to the end of the file with no
    // length in the header, a cut is seen only inside the header or a frame.
    const std::string path = WriteDefault("whole");
    ASSERT_FALSE(path.empty());
    const Decoded whole = DecodeOurs(T().type, path);
    ASSERT_EQ(whole.err, noErr);
    EXPECT_FALSE(whole.cutShort);
    const std::vector<UInt8> bytes = peers::ReadAll(path);
    // Formats that keep their shape in the resource fork: the cut file gets it too.
    const std::filesystem::path written = path;
    const std::filesystem::path sidecar = written.parent_path() / ("._" + written.filename().string());
    const std::string cut = dir.file("cut");
    if (std::filesystem::exists(sidecar))
        std::filesystem::copy_file(sidecar, dir.file("._cut"));
    const auto& toTheEnd = T().samplesToTheEnd;
    int opened = 0;
    for (const std::size_t length : PrefixLengths(bytes.size() + 1)) {
        peers::WriteAll(cut, std::vector<UInt8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
        const Decoded d = DecodeOurs(T().type, cut, T().openWarnings);
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

TEST_P(FormatConformance, WritingPastTheEndFillsSilence)
{
    // Every shape: silence is the zero of the shape's coding (0x80 for
    // unsigned 8-bit words, 0xD5 for A-law), never a zero byte.
    int n = 0;
    for (const FormatShape& shape : T().shapes) {
        const std::string what = T().name + " " + std::to_string(shape.channels) + "x" + std::to_string(shape.bits);
        const std::vector<SInt32> tail = Samples(shape, 10);
        const std::string path = WriteOurs(T().type, shape, dir.file("gap" + std::to_string(n++)), tail, 500);
        ASSERT_FALSE(path.empty()) << what;
        const Decoded d = DecodeOurs(T().type, path);
        ASSERT_EQ(d.err, noErr) << what;
        ASSERT_EQ(d.frames, 510u) << what;
        // Coded silence may decode a step off zero (A-law has no zero).
        const SInt64 silence = T().lossy ? SInt64(16) << 16 : 0;
        for (std::size_t i = 0; i < std::size_t(500) * shape.channels; ++i)
            ASSERT_LE(std::llabs(SInt64(d.samples[i])), silence) << what << " sample " << i;
        if (!T().lossy) {
            EXPECT_TRUE(std::equal(tail.begin(), tail.end(), d.samples.begin() + 500 * shape.channels)) << what;
        }
    }
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
    EXPECT_EQ(DetectFileType(path, &type, &recognized), noErr);
    EXPECT_EQ(type, Detected()) << "detected as " << ChunkIDToString(type);
    EXPECT_EQ(recognized, 1);
    const std::string other = dir.file("other");
    peers::WriteAll(other, std::vector<UInt8>(64, 0x5A));
    if (const HeaderProbe probe = GetHeaderProbe(T().type)) {
        EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(T().shapes.front().channels));
        EXPECT_LE(probe(QString::fromStdString(other)), 0);
        EXPECT_LE(probe(QString::fromStdString(dir.file("missing"))), 0);
    }

    if (T().closeOfAClosedFile) {
        auto closed = Make(T().type);
        EXPECT_EQ(closed->Close(), T().closeOfAClosedFile);  // never opened
        ASSERT_EQ(closed->SetFile(path), noErr);
        ASSERT_EQ(closed->Open(), noErr);
        EXPECT_EQ(closed->Close(), noErr);
        EXPECT_EQ(closed->Close(), T().closeOfAClosedFile);
    }

    auto probing = Make(T().type);
    ASSERT_EQ(probing->SetFile(path), noErr);
    SInt16 count = -1;
    EXPECT_EQ(probing->ProbeHeader(&count), noErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(probing->GetNumChannels(), T().shapes.front().channels);
    EXPECT_FALSE(probing->IsOpen());
    // A file of another kind is refused without a crash.
    auto refusing = Make(T().type);
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
        ASSERT_EQ(file->SetFile(dir.file("refused" + std::to_string(n++))), noErr);
        EXPECT_EQ(file->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate)), expected) << what;
        EXPECT_FALSE(file->IsOpen()) << what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_P(FormatConformance, CreateNeverTakesOverAnExistingFile)
{
    const FormatShape& shape = T().shapes.front();
    const std::string path = WriteOurs(T().type, shape, dir.file("taken"), Samples(shape, T().frames));
    ASSERT_FALSE(path.empty());
    const std::vector<UInt8> before = peers::ReadAll(path);
    auto second = Make(T().type);
    ASSERT_EQ(second->SetFile(dir.file("taken")), noErr);
    EXPECT_EQ(second->Create(shape.channels, shape.bits, 0, nullptr, nullptr, float(shape.rate)), dupFNErr);
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(peers::ReadAll(path), before);
    // Formats that keep their samples or shape in resources: those too.
    EXPECT_EQ(DecodeOurs(T().type, path).frames, T().frames);
    if (const HeaderProbe probe = GetHeaderProbe(T().type)) {
        EXPECT_EQ(probe(QString::fromStdString(path)), SInt32(shape.channels));
    }
}

TEST_P(FormatsWithDamagedHeaders, DamagedHeadersGiveTheirError)
{
    const std::vector<UInt8> intact = peers::ReadAll(WriteDefault("intact"));
    const std::string path = dir.file("damaged");
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
        peers::WriteAll(path, bytes);
        const Decoded d = DecodeOurs(T().type, path);
        EXPECT_EQ(d.err, patch.refusedWith) << patch.what;
        EXPECT_EQ(d.channels, 0) << patch.what;
        if (patch.probeRefuses) {
            auto probe = Make(T().type);
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
    const std::string path = WriteOurs(T().type, shape, dir.file("annotated"), Samples(shape, kFrames), 0,
        [](CSoundFile& f) { Annotate(f, kFrames); });
    ASSERT_FALSE(path.empty());
    auto file = Make(T().type);
    ASSERT_EQ(file->SetFile(path), noErr);
    ASSERT_EQ(file->Open(), noErr);
    ExpectAnnotations(*file, T().annotations, kFrames, T().name);
    file->Close();
}

}  // namespace
