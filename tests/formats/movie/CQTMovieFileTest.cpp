// Every compressed or movie input, written by ffmpeg and lame, decodes
// through the movie classes exactly as ffmpeg decodes it, from the start
// and from any frame; detection sends it to the right class.
#include "CQTMP3File.h"
#include "CQTMP4File.h"
#include "CQTMovieFile.h"
#include "CreateSoundFile.h"
#include "MovieFileTypes.h"
#include "MovieTestSupport.h"
#include "PCMFileTypes.h"
#include "MemorySoundFile.h"
#include "TestTempDir.h"
#include "sample_format_copy.h"

#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <random>

using namespace movietest;

namespace {

struct MovieCase {
    const char* name;
    const char* file;      // output name
    const char* command;   // {FF} ffmpeg, {IN} stereo WAV, {MONO} mono WAV, {OUT} the file
    OSType type;           // detected type
    UInt16 channels;
    const char* format;    // format name
};

std::unique_ptr<TestTempDir> g_dir;
constexpr const char* kFF = "ffmpeg -nostdin -loglevel error -y ";

std::string Expand(std::string text, const std::string& out)
{
    auto replace = [&](const std::string& key, const std::string& value) {
        for (std::size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    };
    replace("{FF}", kFF);
    replace("{IN}", g_dir->file("in.wav"));
    replace("{MONO}", g_dir->file("mono.wav"));
    replace("{OUT}", out);
    return text;
}

std::unique_ptr<CSoundFile> Make(OSType type)
{
    switch (type) {
    case FOUR_CHAR_CODE("Mp3 "): return std::make_unique<CQTMP3File>();
    case FOUR_CHAR_CODE("Mpg4"): return std::make_unique<CQTMP4File>();
    default: return std::make_unique<CQTMovieFile>();
    }
}

class MovieDecodeTest : public ::testing::TestWithParam<MovieCase> {
public:
    static void SetUpTestSuite()
    {
        RegisterPCMFileTypes();
        RegisterMovieFileTypes();
        g_dir = std::make_unique<TestTempDir>();
        RunCommand(std::string(kFF) + "-f lavfi -i 'sine=frequency=440:duration=1.3' -f lavfi -i "
            "'sine=frequency=660:duration=1.3' -filter_complex amerge -ar 44100 '" + g_dir->file("in.wav") + "'");
        RunCommand(std::string(kFF) + "-f lavfi -i 'sine=frequency=330:duration=1.1' -ar 22050 '" +
            g_dir->file("mono.wav") + "'");
    }
    static void TearDownTestSuite() { g_dir.reset(); }
};

TEST_P(MovieDecodeTest, DecodesAsFfmpegDoesFromAnyFrame)
{
    const MovieCase& c = GetParam();
    const std::string path = g_dir->file(c.file);
    ASSERT_TRUE(RunCommand(Expand(c.command, path))) << c.command;

    OSType detected = 0;
    ASSERT_EQ(DetectFileType(path, &detected), noErr);
    EXPECT_EQ(detected, c.type);

    std::unique_ptr<CSoundFile> file = Make(c.type);
    file->SetBufferFrames(4096);
    ASSERT_EQ(file->SetFile(path), noErr);
    ASSERT_EQ(file->Open(), noErr);
    EXPECT_EQ(file->GetNumChannels(), c.channels);
    EXPECT_EQ(file->GetNumBits(), 24);
    EXPECT_EQ(file->GetFormatName().toStdString(), c.format);

    const std::vector<int32_t> expected = Truncate(FFmpegS32(path), 24);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(std::size_t(file->GetNumFrames()) * c.channels, expected.size());
    const std::vector<int32_t> whole = DecodeBlocks(*file);
    ASSERT_EQ(whole.size(), expected.size());
    EXPECT_TRUE(whole == expected) << "samples differ from ffmpeg's decode";

    // A copy's words in another file's layout, always given: ffmpeg's
    // samples cut to three bytes, or rounded to two (halves up, the top
    // step of the range truncated, as the copy rounds without noise).
    for (const int bytes : {2, 3})
        for (const bool little : {false, true}) {
            RawSampleLayout layout;
            layout.bytes = UInt8(bytes);
            layout.littleEndian = little;
            const std::size_t block = 4096 * std::size_t(c.channels);
            std::vector<UInt8> words(block * std::size_t(bytes));
            for (std::size_t from = 0; from < expected.size(); from += block) {
                const std::size_t n = std::min(block, expected.size() - from);
                UInt32 filled = 0;
                bool made = false;
                ASSERT_EQ(file->ReadRawFramesAs(layout, UInt32(from / c.channels), 4096, words.data(), &filled, &made),
                          noErr);
                SCOPED_TRACE(testing::Message() << bytes << " bytes, little-endian " << little << ", sample " << from);
                ASSERT_TRUE(made);
                ASSERT_EQ(std::size_t(filled) * c.channels, n);
                for (std::size_t i = 0; i < n; ++i) {
                    UInt32 word = 0;
                    for (int b = 0; b < bytes; ++b)
                        word = word << 8 | words[i * std::size_t(bytes) + std::size_t(little ? bytes - 1 - b : b)];
                    const SInt32 e = expected[from + i];
                    const UInt32 want = bytes == 3 ? UInt32(e) >> 8
                                                   : UInt32((std::min(e, SInt32(0x7FFEFFFF)) + 0x8000) >> 16) & 0xFFFF;
                    ASSERT_EQ(word, want) << "sample " << from + i;
                }
            }
        }

    // Random positions, backwards and forwards, give the same samples.
    std::mt19937 random(7);
    for (int i = 0; i < 6; ++i) {
        const UInt32 frame = UInt32(random() % file->GetNumFrames());
        const UInt32 frames = 1 + UInt32(random() % 6000);
        const std::vector<int32_t> got = ReadAt(*file, frame, frames);
        const std::size_t from = std::size_t(frame) * c.channels;
        const std::size_t n = std::min(got.size(), whole.size() - from);
        ASSERT_EQ(got.size(), std::min<std::size_t>(std::size_t(frames) * c.channels, whole.size() - from));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + std::ptrdiff_t(n), whole.begin() + std::ptrdiff_t(from)))
            << "read at frame " << frame;
    }
    EXPECT_EQ(file->Close(), noErr);
}

std::string CaseName(const ::testing::TestParamInfo<MovieCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MovieDecodeTest,
    ::testing::Values(
        MovieCase{"mp3_cbr", "cbr.mp3", "lame --quiet -b 128 {IN} {OUT}", FOUR_CHAR_CODE("Mp3 "), 2,
                  "MPEG-1 Layer III ('MP3')"},
        MovieCase{"mp3_vbr_xing", "vbr.mp3", "lame --quiet -V 4 {IN} {OUT}", FOUR_CHAR_CODE("Mp3 "), 2,
                  "MPEG-1 Layer III ('MP3')"},
        MovieCase{"mp3_vbr_no_xing", "vbrnx.mp3", "lame --quiet -V 4 -t {IN} {OUT}", FOUR_CHAR_CODE("Mp3 "), 2,
                  "MPEG-1 Layer III ('MP3')"},
        MovieCase{"mp3_mono", "mono.mp3", "lame --quiet -m m -b 48 {MONO} {OUT}", FOUR_CHAR_CODE("Mp3 "), 1,
                  "MPEG-2 Layer III ('MP3')"},
        MovieCase{"mp3_joint_stereo", "joint.mp3", "lame --quiet -m j -b 96 {IN} {OUT}", FOUR_CHAR_CODE("Mp3 "),
                  2, "MPEG-1 Layer III ('MP3')"},
        MovieCase{"aac_m4a", "aac.m4a", "{FF}-i {IN} -c:a aac -b:a 128k {OUT}",
                  FOUR_CHAR_CODE("Mpg4"), 2, "MPEG-4 Audio"},
        MovieCase{"alac_m4a", "alac.m4a", "{FF}-i {IN} -c:a alac {OUT}", FOUR_CHAR_CODE("Mpg4"), 2, "MPEG-4 Audio"},
        MovieCase{"aac_5_1", "surround.m4a",
                  "{FF}-i {IN} -af "
                  "'pan=5.1|c0=c0|c1=c1|c2=0.5*c0|c3=0.2*c1|c4=0.7*c0|c5=0.3*c1' -c:a aac {OUT}",
                  FOUR_CHAR_CODE("Mpg4"), 6, "MPEG-4 Audio"},
        MovieCase{"mp4_video", "video.mp4",
                  "{FF}-f lavfi -i testsrc=size=64x48:rate=10:duration=1.3 -i {IN} "
                  "-c:v mpeg4 -c:a aac -shortest {OUT}",
                  FOUR_CHAR_CODE("Mpg4"), 2, "MPEG-4 Audio"},
        MovieCase{"flac", "lossless.flac", "{FF}-i {IN} {OUT}", FOUR_CHAR_CODE("MooV"), 2, "FLAC"},
        MovieCase{"ogg_vorbis", "vorbis.ogg", "{FF}-i {IN} -c:a libvorbis {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "Ogg Vorbis"},
        MovieCase{"mp2", "layer2.mp2", "{FF}-i {IN} -c:a mp2 {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "MPEG-1 Layer 2 ('MP2')"},
        MovieCase{"opus", "speech.opus", "{FF}-i {IN} -c:a libopus {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "Ogg Opus"},
        MovieCase{"opus_ogg", "speech.ogg", "{FF}-i {IN} -c:a libopus {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "Ogg Opus"},
        MovieCase{"ima_adpcm_wave", "ima.wav", "{FF}-i {IN} -c:a adpcm_ima_wav {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "Compressed Wave"},
        MovieCase{"wma", "windows.wma", "{FF}-i {IN} -c:a wmav2 {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "Windows Media Audio"},
        MovieCase{"mkv_video_ac3", "video.mkv",
                  "{FF}-f lavfi -i testsrc=size=64x48:rate=10:duration=1.3 -i {IN} "
                  "-c:v mpeg4 -c:a ac3 -shortest {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "QuickTime Movie"},
        MovieCase{"aifc_ulaw", "ulaw.aifc", "{FF}-i {IN} -c:a pcm_mulaw {OUT}",
                  FOUR_CHAR_CODE("MooV"), 2, "AIFC \xCE\xBC-law"}),
    CaseName);

// Packets the decoder refuses inside an input read as silence of their
// length, the same from any frame as from the start, and are counted once
// however often they are read: ffmpeg's FLAC, ALAC (seek exact) and AAC
// (decoded from the start) with the middle of packets 3 and 4 overwritten.
TEST_F(MovieDecodeTest, RefusedPacketsReadAsTheSameSilenceFromAnyFrame)
{
    for (const std::string codec : {"flac", "alac", "aac"}) {
        const std::string path = g_dir->file("damaged_" + codec + (codec == "flac" ? ".flac" : ".m4a"));
        ASSERT_TRUE(RunCommand(std::string(kFF) + "-i '" + g_dir->file("in.wav") + "' -c:a " + codec + " '" + path +
                               "'"));
        const std::vector<int32_t> intact = FFmpegS32(path);
        const peers::RunResult packets = peers::Run("ffprobe", {"-v", "error", "-select_streams", "a:0",
            "-show_entries", "packet=pos,size", "-of", "compact=p=0:nk=1", QString::fromStdString(path)});
        std::vector<UInt8> bytes = ReadAll(path);
        const QList<QByteArray> lines = packets.out.split('\n');
        for (int i = 3; i < 5; ++i) {
            const QList<QByteArray> fields = lines.value(i).split('|');  // size|pos
            ASSERT_GE(fields.size(), 2) << codec;
            const std::size_t size = fields[0].toULongLong(), pos = fields[1].toULongLong();
            for (std::size_t k = pos + size / 4; k < pos + size * 3 / 4 && k < bytes.size(); ++k)
                bytes[k] = UInt8(k * 131 + 7);
        }
        WriteAll(path, bytes);

        CQTMovieFile file;
        file.SetBufferFrames(4096);
        ASSERT_EQ(file.SetFile(path), noErr);
        ASSERT_EQ(file.Open(), noErr) << codec;
        const std::vector<int32_t> whole = DecodeBlocks(file);
        EXPECT_EQ(whole.size(), intact.size()) << codec << ": the refused packets keep their length";
        const std::size_t silent = std::size_t(std::count(whole.begin(), whole.end(), 0));
        const std::size_t dropped = intact.size() - FFmpegS32(path).size();
        EXPECT_GE(silent, dropped) << codec;
        std::mt19937 random(11);
        for (int i = 0; i < 6; ++i) {
            const UInt32 frame = UInt32(random() % file.GetNumFrames());
            const std::vector<int32_t> got = ReadAt(file, frame, 5000);
            const std::size_t from = std::size_t(frame) * 2;
            ASSERT_LE(from + got.size(), whole.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + std::ptrdiff_t(from)))
                << codec << " read at frame " << frame;
        }
        EXPECT_EQ(file.GetDecodeLoss().refusedPackets, 2u) << codec;
        EXPECT_EQ(file.GetDecodeLoss().silencedFrames * 2, dropped) << codec;
        EXPECT_FALSE(file.DataCutShort()) << codec;
        file.Close();
    }
}

// An input cut short (a copy broken off, a download stopped) reads the
// whole packets it holds, those of the whole file, and says it was cut: a
// CAF file, one whose data runs to its end (size -1, as a stream writes
// it) cut only where a frame is broken off, and an IMA 4:1 AIFF-C file
// whose marker chunk follows its sound inside the FORM chunk (as the
// program writes it).
// A word-length copy from a movie input makes the words of the output
// itself, in the decoder's pass: inputs silent for their first blocks
// (whose 16-bit words need no rounding) and then sounding, one channel
// clipped flat at full scale (the top step of the range, which the copy
// truncates), copy into 16- and 24-bit WAVE and AIFF exactly as the copy
// from the blocks the class reads: a 24-bit FLAC, an MP3 and an AAC (the
// decoders' floats), and 32-bit words in a QuickTime movie.
TEST_F(MovieDecodeTest, WordLengthCopiesMakeTheBlockPathsWords)
{
    for (const char* coding : {"flac -sample_fmt s32", "libmp3lame", "aac", "pcm_s32be"}) {
        const std::string c = coding;
        const std::string flac = g_dir->file(c == "aac" ? "late.m4a" : c == "libmp3lame" ? "late.mp3"
                                             : c[0] == 'f' ? "late.flac" : "late.mov");
        ASSERT_TRUE(RunCommand(std::string(kFF) + "-f lavfi -i 'aevalsrc=if(lt(t\\,0.1)\\,0\\,max(-1\\,min(1\\,"
                               "1.3*sin(2*PI*441*t))))|if(lt(t\\,0.1)\\,0\\,0.5*sin(2*PI*97*t)):s=44100:d=0.3' -c:a " +
                               coding + " '" + flac + "'"));
        SCOPED_TRACE(coding);
        CQTMovieFile in;
        ASSERT_EQ(in.SetFile(flac), noErr);
        ASSERT_EQ(in.Open(), noErr);
        ASSERT_EQ(in.SetBufferFrames(1000), noErr);
        const UInt32 frames = in.GetNumFrames();
        MemorySoundFile memory(2, SInt16(in.GetNumBits()));
        memory.SetOpenFlag(true);
        ASSERT_EQ(memory.SetBufferFrames(1000), noErr);
        std::vector<UInt8> blocks;
        for (UInt32 at = 0; at < frames; at += 1000) {
            ASSERT_EQ(in.ReadBlock(at), noErr);
            blocks.insert(blocks.end(), in.GetReadBuffer(),
                          in.GetReadBuffer() + std::size_t(std::min<UInt32>(1000, frames - at)) * memory.FrameBytes());
        }
        memory.SetData(blocks);
        // A sounding block's 16-bit words, rounded, come from the decoder's pass.
        RawSampleLayout words16;
        words16.bytes = 2;
        words16.littleEndian = true;
        std::vector<UInt8> some(std::size_t(1000) * 4);
        UInt32 filled = 0;
        bool made = false;
        ASSERT_EQ(in.ReadRawFramesAs(words16, 5000, 1000, some.data(), &filled, &made), noErr);
        EXPECT_TRUE(made);
        in.FreeBuffers();
        for (const OSType type : {FOUR_CHAR_CODE("WAVE"), FOUR_CHAR_CODE("AIFF")})
            for (const SInt16 bits : {16, 24}) {
                std::string made[2];
                for (int k = 0; k < 2; ++k) {
                    std::unique_ptr<CSoundFile> out(CreateSoundFileObject(type));
                    ASSERT_TRUE(out);
                    ASSERT_EQ(out->SetFile(g_dir->file("copy" + std::to_string(type) + "-" + std::to_string(bits) + "-" +
                                                       std::to_string(k) + "-" + c.substr(0, 4))),
                              noErr);
                    ASSERT_EQ(out->Create(2, bits, 0, nullptr, nullptr, 44100.0f), noErr);
                    ASSERT_EQ(out->SetBufferFrames(1000), noErr);
                    EXPECT_EQ(ConvertSampleFormatRange(k == 0 ? static_cast<CSoundFile*>(&in) : &memory, out.get(), 0,
                                                       frames, SampleCopySettings()),
                              0);
                    ASSERT_EQ(out->Close(), noErr);
                    const std::vector<UInt8> bytes = ReadAll(out->GetPath());
                    made[k].assign(bytes.begin(), bytes.end());
                }
                EXPECT_TRUE(made[0] == made[1]) << bits << "-bit " << (type == FOUR_CHAR_CODE("WAVE") ? "WAVE" : "AIFF");
            }
        EXPECT_EQ(in.Close(), noErr);
    }
}

TEST_F(MovieDecodeTest, CutInputsReadTheirWholePacketsAndSaySo)
{
    const std::string in = "-i '" + g_dir->file("in.wav") + "' -t 0.2 ";
    const std::string whole = g_dir->file("whole.caf");
    const std::string streamed = g_dir->file("streamed.caf");
    const std::string ima = g_dir->file("ima.aifc");
    ASSERT_TRUE(RunCommand(std::string(kFF) + in + "-c:a pcm_s16be '" + whole + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + in + "-c:a pcm_s16be -f caf - > '" + streamed + "'"));
    ASSERT_TRUE(RunCommand(std::string(kFF) + in + "-c:a adpcm_ima_qt -f aiff '" + ima + "'"));
    {
        // A marker chunk after the sound, inside the FORM chunk.
        std::vector<UInt8> bytes = ReadAll(ima);
        const UInt8 mark[] = {'M', 'A', 'R', 'K', 0, 0, 0, 10, 0, 1, 0, 1, 0, 0, 0, 64, 1, 'a'};
        bytes.insert(bytes.end(), std::begin(mark), std::end(mark));
        const UInt32 form = UInt32(bytes.size() - 8);
        for (int k = 0; k < 4; ++k)
            bytes[std::size_t(4 + k)] = UInt8(form >> (24 - 8 * k));
        WriteAll(ima, bytes);
    }
    struct Read {
        OSErr err;
        UInt32 frames;
        bool cut;
        std::vector<int32_t> samples;
    };
    const auto read = [](const std::string& path) {
        CQTMovieFile file;
        Read r{file.SetFile(path), 0, false, {}};
        if (r.err == noErr)
            r.err = file.Open();
        if (r.err == noErr) {
            r.frames = file.GetNumFrames();
            r.cut = file.DataCutShort();
            r.samples = DecodeBlocks(file);
            file.Close();
        }
        return r;
    };
    struct Input {
        std::string path;
        bool sized;               // the header says how much sound there is
        std::size_t packetBytes;  // stereo
        UInt32 packetFrames;
    };
    for (const Input& input : {Input{whole, true, 4, 1}, Input{streamed, false, 4, 1}, Input{ima, true, 68, 64}}) {
        const Read full = read(input.path);
        ASSERT_EQ(full.err, noErr) << input.path;
        EXPECT_FALSE(full.cut) << input.path;
        const std::vector<UInt8> bytes = ReadAll(input.path);
        const std::string text(bytes.begin(), bytes.end());
        // The first sound byte: after the data chunk's edit count, or the
        // sound chunk's offset and block size.
        const std::size_t dataStart = input.packetFrames == 1 ? text.find("data") + 16 : text.find("SSND") + 16;
        const std::size_t packet = input.packetBytes;
        for (const std::size_t cutAt : {dataStart + packet * 100, dataStart + packet * 100 + 3, dataStart + 2,
                                        dataStart - 2}) {
            const std::string cutPath = g_dir->file("cut" + input.path.substr(input.path.rfind('.')));
            WriteAll(cutPath, std::vector<UInt8>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cutAt)));
            const Read r = read(cutPath);
            const UInt32 frames = cutAt > dataStart ? UInt32((cutAt - dataStart) / packet) * input.packetFrames : 0;
            if (frames == 0) {
                // No sound at all: refused, or empty and cut.
                EXPECT_TRUE(r.err != noErr || (r.frames == 0 && r.cut)) << "no whole packet, cut at " << cutAt;
                continue;
            }
            ASSERT_EQ(r.err, noErr) << input.path << " cut at " << cutAt;
            EXPECT_EQ(r.frames, frames) << input.path << " cut at " << cutAt;
            EXPECT_EQ(r.cut, input.sized || (cutAt - dataStart) % packet != 0) << input.path << " cut at " << cutAt;
            EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), full.samples.begin())) << cutAt;
        }
    }
}

} // namespace
