// One conformance suite over the telephony and ADPCM formats.  Each format
// brings its traits (name, shape, how many frames a write of n frames
// holds, the quality of its own round trip, its header size) and its peers
// (programs that write and decode the format).  Every format:
//   - reads back what it wrote, at any frame, at the level written;
//   - takes fades while it is written (they read and rewrite both ends);
//   - decodes in every peer as it decodes itself;
//   - decodes files the peers wrote as the peers decode them;
//   - survives every truncation of its header;
//   - leaves no intermediate file behind, and nothing at all after a
//     cancel during its encode.
#include "CodedTestSupport.h"
#include "TestTempDir.h"
#include "ThreadDictionary.h"
#include "fades.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <iostream>

using namespace codedtest;

namespace {

using Args = std::function<QStringList(const QString& in, const QString& out)>;

// The Dialogic ADPCM step of sox's vox codec rounds (2n + 1) x step / 8 as
// one product where the format sums the truncated parts (step, step/2,
// step/4, step/8), and its predictor starts at 0, not -2; with no leak in
// the predictor the two decodes drift apart by a few steps (at most 1024 in
// 16-bit units here) and meet again at the clamps: they agree to 25 dB and
// never differ by more than 2048 (128 of the 12-bit steps).
//
// A peer program that writes the format from a 16-bit WAVE file
// (`encode`) and decodes it to raw 16-bit little-endian samples (`decode`).
struct Peer {
    const char* name;
    QString program;
    Args encode;  // may be empty
    Args decode;  // may be empty
    // > 0: the peer decodes differently by design; its decode agrees with
    // ours to this many dB (otherwise the format's measure applies).
    double snrDb = 0.0;
};

struct CodedFormat {
    const char* label;
    OSType type;
    const char* fileName;      // gives the rate where the name carries it
    UInt16 channels;
    SInt16 bits;               // asked of Create
    std::function<UInt32(UInt32)> framesHeld;
    double minSnrDb;           // our own round trip
    int peerTolerance;         // largest |ours - peer| on decoding
    double peerSnrDb;          // > 0: peers decode differently by design; their
                               // decode agrees with ours to this many dB
    std::size_t headerBytes;   // 0 for headerless files
    std::vector<Peer> peers;
    bool encodesOnClose = false;  // the whole file is coded when it is closed
};

QStringList SoxToRaw(const QStringList& input, const QString& in, const QString& out)
{
    return input + QStringList{in, "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", out};
}

QStringList FfmpegToRaw(const QStringList& input, const QString& in, const QString& out)
{
    return QStringList{"-v", "error", "-y"} + input + QStringList{"-i", in, "-f", "s16le", out};
}

Peer SoxPeer(QStringList type, QStringList encoding = {})
{
    return {"sox", "sox",
            [type, encoding](const QString& in, const QString& out) { return QStringList{in} + type + encoding + QStringList{out}; },
            [type](const QString& in, const QString& out) { return SoxToRaw(type + QStringList{"-r", "8000"}, in, out); }};
}

Peer FfmpegPeer(QStringList format, QStringList codec)
{
    return {"ffmpeg", "ffmpeg",
            [format, codec](const QString& in, const QString& out) {
                return QStringList{"-v", "error", "-y", "-i", in} + codec + format + QStringList{out};
            },
            [format](const QString& in, const QString& out) { return FfmpegToRaw(format, in, out); }};
}

UInt32 Same(UInt32 n) { return n; }
UInt32 Even(UInt32 n) { return n & ~1u; }

std::function<UInt32(UInt32)> PackedCodes(int bits)
{
    return [bits](UInt32 n) { return UInt32((UInt64(n) * bits + 7) / 8 * 8 / bits); };
}

// ffmpeg's G.726 decoder is not bit-exact with the recommendation (spandsp
// and our coders agree bit for bit, see the codec tests and CCITTFileTest):
// its decode of our 16, 24 and 32 kbit/s files agrees with ours to 30 dB.
// Its 40 kbit/s stream does not follow G.726 (spandsp cannot read it either),
// so the 5-bit types have no program peer; spandsp is their oracle.
CodedFormat G72x(const char* label, OSType type, int bits)
{
    const QString size = QString::number(bits);
    const QString rate = QString::number(bits * 8) + "k";
    std::vector<Peer> peers;
    if (bits != 5)
        peers.push_back(FfmpegPeer({"-f", "g726le", "-code_size", size, "-sample_rate", "8000"},
                                   {"-c:a", "g726le", "-b:a", rate, "-ar", "8000"}));
    return {label, type, "take.g726", 1, 16, PackedCodes(bits), bits == 2 ? 7.0 : 10.0 + 4.0 * (bits - 3), 0, 30.0,
            0, peers};
}

std::vector<CodedFormat> Formats()
{
    std::vector<CodedFormat> f;
    f.push_back({"DialogicADPCM", FOUR_CHAR_CODE("DADP"), "take.ap8", 1, 16, Even, 18.0, 2048, 25.0, 0,
                 {SoxPeer({"-t", "vox"})}});
    f.push_back({"PikaADPCM", FOUR_CHAR_CODE("PADP"), "take.pi8", 1, 16, Even, 18.0, 0, 0.0, 0, {}});
    f.push_back({"AnnotatedVoice", FOUR_CHAR_CODE("DVAP"), "take.vap", 1, 16, Even, 18.0, 0, 0.0, 37, {}});
    f.push_back({"DialogicALaw", FOUR_CHAR_CODE("DALW"), "take.al8", 1, 16, Same, 30.0, 0, 0.0, 0,
                 {SoxPeer({"-t", "al"}), FfmpegPeer({"-f", "alaw", "-ar", "8000", "-ac", "1"}, {})}});
    f.push_back({"DialogicULaw", FOUR_CHAR_CODE("DULW"), "take.ul8", 1, 16, Same, 30.0, 0, 0.0, 0,
                 {SoxPeer({"-t", "ul"}), FfmpegPeer({"-f", "mulaw", "-ar", "8000", "-ac", "1"}, {})}});
    f.push_back({"DialogicPCM16", FOUR_CHAR_CODE("DPCM"), "take.p16", 1, 16, Same, 80.0, 0, 0.0, 0,
                 {SoxPeer({"-t", "raw", "-e", "signed-integer", "-b", "16", "-B", "-c", "1"}),
                  FfmpegPeer({"-f", "s16be", "-ar", "8000", "-ac", "1"}, {})}});
    f.push_back({"DialogicPCM8", FOUR_CHAR_CODE("DPCM"), "take.pc8", 1, 8, Same, 30.0, 0, 0.0, 0,
                 {SoxPeer({"-t", "raw", "-e", "unsigned-integer", "-b", "8", "-c", "1"}),
                  FfmpegPeer({"-f", "u8", "-ar", "8000", "-ac", "1"}, {})}});
    f.push_back(G72x("G721", FOUR_CHAR_CODE("21-4"), 4));
    f.push_back(G72x("G723_16", FOUR_CHAR_CODE("23-2"), 2));
    f.push_back(G72x("G723_24", FOUR_CHAR_CODE("23-3"), 3));
    f.push_back(G72x("G723_40", FOUR_CHAR_CODE("23-5"), 5));
    f.push_back(G72x("G726_24", FOUR_CHAR_CODE("26-3"), 3));
    f.push_back(G72x("G726_32", FOUR_CHAR_CODE("26-4"), 4));
    f.push_back(G72x("G726_40", FOUR_CHAR_CODE("26-5"), 5));
    for (UInt16 channels : {UInt16(1), UInt16(2)}) {
        Peer sox = SoxPeer({}, {"-e", "ms-adpcm"});
        sox.decode = [](const QString& in, const QString& out) { return SoxToRaw({}, in, out); };
        // ffmpeg's decoder divides the prediction (rounding toward zero)
        // where the format, sox and libsndfile shift (rounding down): one
        // step apart now and then, which the prediction carries on.
        Peer ffmpeg = FfmpegPeer({}, {"-c:a", "adpcm_ms"});
        ffmpeg.snrDb = 40.0;
        Peer sndfile{"libsndfile", "sndfile-convert",
                     [](const QString& in, const QString& out) { return QStringList{"-ms-adpcm", in, out}; },
                     [](const QString& in, const QString& out) { return QStringList{"-pcm16", in, out}; }};
        f.push_back({channels == 1 ? "MSADPCMMono" : "MSADPCMStereo", FOUR_CHAR_CODE("MSAP"), "take.wav", channels,
                     16, Same, 20.0, 0, 0.0, 90, {sox, ffmpeg, sndfile}});
    }
    for (CodedFormat& format : f) {
        const OSType t = format.type;
        format.encodesOnClose = t != FOUR_CHAR_CODE("DALW") && t != FOUR_CHAR_CODE("DULW")
            && t != FOUR_CHAR_CODE("DPCM");
    }
    return f;
}

// Test names and failure messages show the format's label.
void PrintTo(const CodedFormat& f, std::ostream* os)
{
    *os << f.label;
}

void ExpectAgreement(const CodedFormat& f, const Peer& p, const std::vector<int>& ours, const std::vector<int>& theirs)
{
    const char* peer = p.name;
    const double snr = p.snrDb > 0 ? p.snrDb : f.peerSnrDb;
    if (snr > 0) {
        EXPECT_GE(SnrDb(ours, theirs), snr) << peer;
        if (f.peerTolerance > 0) {
            EXPECT_LE(MaxDifference(ours, theirs), f.peerTolerance) << peer;
        }
        std::cout << "[ info ] " << f.label << " vs " << peer << ": " << SnrDb(ours, theirs) << " dB, largest difference "
                  << MaxDifference(ours, theirs) << "\n";
    } else {
        EXPECT_LE(MaxDifference(ours, theirs), f.peerTolerance) << peer;
        for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
            if (std::abs(ours[i] - theirs[i]) > f.peerTolerance) {
                ADD_FAILURE() << peer << ": first difference at sample " << i << " of " << ours.size() << ": "
                              << ours[i] << " against " << theirs[i];
                break;
            }
        }
    }
}

class CodedFormatConformance : public ::testing::TestWithParam<CodedFormat> {
protected:
    // Writes the test audio; the output's path in *path.
    void WriteOurs(const std::string& dir, UInt32 frames, std::string* path, std::vector<double>* audio = nullptr)
    {
        const CodedFormat& f = GetParam();
        const std::vector<double> a = TestAudio(frames, f.channels);
        ASSERT_EQ(WriteFile(f.type, dir + "/" + f.fileName, f.channels, 8000.0, f.bits, a, path), noErr);
        if (audio)
            *audio = a;
    }
};

// Cases that need a peer, or coding at close, run over the formats that have them.
class CodedFormatsPeersRead : public CodedFormatConformance {};
class CodedFormatsPeersWrite : public CodedFormatConformance {};
class CodedFormatsEncodedOnClose : public CodedFormatConformance {};

template <typename Keep> std::vector<CodedFormat> FormatsWhere(Keep keep)
{
    std::vector<CodedFormat> kept;
    for (const CodedFormat& f : Formats())
        if (keep(f))
            kept.push_back(f);
    return kept;
}

bool AnyPeer(const CodedFormat& f, bool encodes)
{
    return std::any_of(f.peers.begin(), f.peers.end(),
                       [encodes](const Peer& p) { return p.decode && (!encodes || p.encode); });
}

} // namespace

TEST_P(CodedFormatConformance, ReadsBackWhatItWroteAtAnyFrame)
{
    const CodedFormat& f = GetParam();
    TestTempDir dir;
    std::string path;
    std::vector<double> audio;
    WriteOurs(dir.path(), 4001, &path, &audio);
    // Only the output is left in the folder: the intermediate is gone.
    const QStringList left = QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left.filter(QRegularExpression("^(?!\\._)")).size(), 1) << left.join(' ').toStdString();

    OSErr err;
    auto file = OpenFile(f.type, path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(file->GetNumFrames(), f.framesHeld(4001));
    EXPECT_EQ(file->GetNumChannels(), f.channels);
    EXPECT_EQ(file->GetSampleRate(), 8000.0);
    const std::vector<int> ours = ReadSamples16(*file);
    EXPECT_GE(SnrDb(ToInt16(audio), ours), f.minSnrDb);

    // A read in the middle, then an earlier one, give what a read from the
    // start gives there.
    for (UInt32 start : {2999u, 1000u, 1u}) {
        std::vector<double> part(std::size_t(500) * f.channels);
        UInt32 count = 500;
        ASSERT_EQ(file->ReadFrames(start, &count, part.data()), noErr);
        ASSERT_EQ(count, 500u);
        for (std::size_t i = 0; i < part.size(); ++i)
            ASSERT_EQ(std::lround(part[i] / kScale16), ours[start * f.channels + i]) << start << " " << i;
    }
    EXPECT_EQ(file->Close(), noErr);
}

// The length is no whole number of ADPCM blocks: peers that read whole
// blocks only read every frame too.
TEST_P(CodedFormatConformance, TakesFadesWhileItIsWritten)
{
    const CodedFormat& f = GetParam();
    RegisterTypes();
    TestTempDir dir;
    std::unique_ptr<CSoundFile> file(CreateSoundFileObject(f.type));
    ASSERT_EQ(file->SetFile(dir.file(f.fileName)), noErr);
    ASSERT_EQ(file->Create(f.channels, f.bits, 0, nullptr, nullptr, 8000.0f), noErr);
    file->SetDither(false);
    const std::vector<double> audio = TestAudio(4001, f.channels);
    std::vector<double> copy = audio;
    UInt32 count = 4001;
    ASSERT_EQ(file->WriteFrames(0, &count, copy.data()), noErr);
    const FadeSettings fades{true, 50.0f, 50.0f};
    ASSERT_EQ(ApplyFades(file.get(), fades), 0);
    const std::string path = file->GetPath();
    ASSERT_EQ(file->Close(), noErr);

    // The whole audio, with the fades of the law applied to what was written.
    std::vector<double> faded = audio;
    UInt32 in = 0;
    UInt32 out = 0;
    FadeLengths(fades, 8000.0, 4001, &in, &out);
    ASSERT_EQ(in, 400u);
    for (UInt32 i = 0; i < 4001; ++i) {
        double gain = 1.0;
        if (i < in)
            gain = double(i) / in * double(i) / in;
        else if (i >= 4001 - out)
            gain = double(4001 - i) / out * double(4001 - i) / out;
        for (UInt16 c = 0; c < f.channels; ++c)
            faded[std::size_t(i) * f.channels + c] *= gain;
    }
    OSErr err;
    auto back = OpenFile(f.type, path, &err);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(back->GetNumFrames(), f.framesHeld(4001));
    EXPECT_GE(SnrDb(ToInt16(faded), ReadSamples16(*back)), f.minSnrDb);
}

TEST_P(CodedFormatsPeersRead, PeersDecodeOurFilesAsWeDo)
{
    const CodedFormat& f = GetParam();
    TestTempDir dir;
    std::string path;
    WriteOurs(dir.path(), 4321, &path);
    OSErr err;
    auto file = OpenFile(f.type, path, &err);
    ASSERT_EQ(err, noErr);
    const std::vector<int> ours = ReadSamples16(*file);
    for (const Peer& peer : f.peers) {
        if (!peer.decode)
            continue;
        const std::string raw = dir.file(std::string(peer.name) + ".raw");
        QByteArray errText;
        ASSERT_TRUE(RunPeer(peer.program, peer.decode(QString::fromStdString(path), QString::fromStdString(raw)), &errText))
            << peer.name << ": " << errText.toStdString();
        const std::vector<int> theirs = ReadS16LE(raw);
        EXPECT_GE(theirs.size(), ours.size()) << peer.name;
        ExpectAgreement(f, peer, ours, theirs);
    }
}

TEST_P(CodedFormatsPeersWrite, DecodesPeerFilesAsThePeersDo)
{
    const CodedFormat& f = GetParam();
    TestTempDir dir;
    const std::string source = dir.file("source.wav");
    ASSERT_TRUE(RunPeer("sox", {"-R", "-n", "-r", "8000", "-c", QString::number(f.channels), "-b", "16",
                            QString::fromStdString(source), "synth", "0.37", "sine", "300-3000", "sine", "440",
                            "vol", "0.8"}));
    int made = 0;
    for (const Peer& peer : f.peers) {
        if (!peer.encode || !peer.decode)
            continue;
        const std::string peerFile = dir.file(std::string(peer.name) + "_" + f.fileName);
        QByteArray errText;
        ASSERT_TRUE(RunPeer(peer.program, peer.encode(QString::fromStdString(source), QString::fromStdString(peerFile)),
                        &errText))
            << peer.name << ": " << errText.toStdString();
        const std::string raw = dir.file(std::string(peer.name) + ".raw");
        ASSERT_TRUE(RunPeer(peer.program, peer.decode(QString::fromStdString(peerFile), QString::fromStdString(raw))));
        OSErr err;
        auto file = OpenFile(f.type, peerFile, &err);
        ASSERT_EQ(err, noErr) << peer.name;
        const std::vector<int> ours = ReadSamples16(*file);
        const std::vector<int> theirs = ReadS16LE(raw);
        EXPECT_LE(ours.size(), theirs.size()) << peer.name;
        ExpectAgreement(f, peer, ours, theirs);
        ++made;
    }
    EXPECT_GT(made, 0);
}

TEST_P(CodedFormatConformance, EveryTruncationOfTheHeaderIsHandled)
{
    const CodedFormat& f = GetParam();
    TestTempDir dir;
    std::string path;
    WriteOurs(dir.path(), 600, &path);
    const std::vector<UInt8> whole = ReadBytes(path);
    const std::size_t limit = std::min(whole.size(), f.headerBytes + 24);
    for (std::size_t length = 0; length <= limit; ++length) {
        const std::string cut = dir.file("cut" + std::to_string(length) + "_" + f.fileName);
        WriteBytes(cut, std::vector<UInt8>(whole.begin(), whole.begin() + std::ptrdiff_t(length)));
        OSErr err;
        auto file = OpenFile(f.type, cut, &err);
        if (length < f.headerBytes) {
            EXPECT_NE(err, noErr) << length;
        }
        if (err == noErr) {
            // What opens reads to its end without error.
            std::vector<double> samples(std::size_t(file->GetNumFrames()) * f.channels + 1);
            UInt32 count = file->GetNumFrames();
            EXPECT_EQ(file->ReadFrames(0, &count, samples.data()), noErr) << length;
        }
    }
}

TEST_P(CodedFormatsEncodedOnClose, CancelDuringEncodeLeavesNothing)
{
    const CodedFormat& f = GetParam();
    RegisterTypes();
    TestTempDir dir;
    ThreadDictionary::current().setLastError(-128);
    std::string path;
    const OSErr err = WriteFile(f.type, dir.file(f.fileName), f.channels, 8000.0, f.bits,
                                TestAudio(3000, f.channels), &path);
    ThreadDictionary::current().clearLastError();
    EXPECT_EQ(err, -128);
    EXPECT_TRUE(QDir(dir.qpath()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_P(CodedFormatConformance, CodesOnCloseExactlyWhenListed)
{
    RegisterTypes();
    std::unique_ptr<CSoundFile> probe(CreateSoundFileObject(GetParam().type));
    EXPECT_EQ(bool(probe->NeedsEncodingOnClose()), GetParam().encodesOnClose);
}

const auto kLabel = [](const auto& info) { return std::string(info.param.label); };
INSTANTIATE_TEST_SUITE_P(Formats, CodedFormatConformance, ::testing::ValuesIn(Formats()), kLabel);
INSTANTIATE_TEST_SUITE_P(Formats, CodedFormatsPeersRead,
                         ::testing::ValuesIn(FormatsWhere([](const CodedFormat& f) { return AnyPeer(f, false); })),
                         kLabel);
INSTANTIATE_TEST_SUITE_P(Formats, CodedFormatsPeersWrite,
                         ::testing::ValuesIn(FormatsWhere([](const CodedFormat& f) { return AnyPeer(f, true); })),
                         kLabel);
INSTANTIATE_TEST_SUITE_P(Formats, CodedFormatsEncodedOnClose,
                         ::testing::ValuesIn(FormatsWhere([](const CodedFormat& f) { return f.encodesOnClose; })),
                         kLabel);
