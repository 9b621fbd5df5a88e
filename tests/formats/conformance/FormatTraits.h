// What the format conformance suite (FormatConformanceTest.cpp) needs to
// know of a format to run its whole matrix on it.  A new format joins by
// adding one FormatTraits to a list and instantiating the suite over it:
//
//   // tests/formats/conformance/<Library>FormatTraits.cpp
//   std::vector<FormatTraits> TelephonyFormats()
//   {
//       FormatTraits t;
//       t.name = "GSM";  t.type = FOUR_CHAR_CODE("GSM ");
//       t.shapes = {{1, 16, 8000}};
//       t.minSnrDb = 8;                    // coded: checked by its quality
//       t.soxReadOptions = {"-t", "gsm"};  // sox reads it: compared with our decoding
//       t.soxWrites = {{1, 16, 8000}};     // sox writes it: we read sox's files
//       return {t};
//   }
//   QM_INSTANTIATE_FORMAT_CONFORMANCE(Telephony, TelephonyFormats());
//
// and by linking its library into test_formats_conformance (it links every
// library of QM_FORMAT_LIBRARIES; EngineStartup::registerFileTypes()
// registers them).  Every shape a format lists must be one its entry of the
// file-type dictionary holds (RegistrationAndProbe checks them).
//
// The matrix, per format (see FormatConformanceTest.cpp):
//   - RoundTripsEveryShape: every shape written through the class (exact
//     block bytes) reads back the same (lossy: a second pass changes
//     nothing; coded: to minSnrDb); a block written beyond the end leaves
//     silence before it;
//   - AudioWrittenAsThePipelinesDoReadsBack: audio written as doubles,
//     plain and with fades applied before the close, reads back to its
//     quality, from any frame as from the start; only the output is left;
//   - PeersReadOurFiles: sox (soxReadOptions), libsndfile (sndfileReads)
//     and ffmpeg (ffmpegReads) decode our files as we do;
//   - WeReadThePeersFiles: files sox, libsndfile and ffmpeg write in this
//     format (sox and ffmpeg also to a pipe, their sizes left unknown)
//     decode as the peers decode them;
//   - EveryTruncationIsSafe: every prefix of a written file either opens
//     with no more frames than the file had and those frames unchanged, or
//     is refused; never a crash (the sanitizer build checks the reads)
//     and never a fork left open;
//   - CutFilesSayTheyAreCut (saysWhenCut): every prefix that opens with fewer frames
//     says it was cut short (samplesToTheEnd: every prefix that ends inside
//     the header or a frame), the whole file does not;
//   - RegistrationAndProbe: the registered factory makes the class, type
//     detection names the type, the header probe counts the channels, a
//     closed file refuses another Close, the class codes on close exactly
//     when encodesOnClose says so, the type's descriptor holds every shape
//     listed here, a second Create of the file is refused and leaves it as
//     it was;
//   - CancelDuringEncodeLeavesNothing (encodesOnClose): a cancel while the
//     file is coded leaves no file at all;
//   - CreateRefusesShapesItCannotHold: each of refusedShapes with its code,
//     and no file made;
//   - DamagedHeadersGiveTheirError: each of damagedHeaders is refused
//     with its exact code;
//   - AnnotationsRoundTrip: markers, loops, the sampler record, regions and
//     the file's time stamp read back as the format keeps them (the
//     truncation case then cuts an annotated file).
#pragma once

#include "MacTypes.h"
#include "TestTempDir.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct FormatShape {
    UInt16 channels = 1;
    SInt16 bits = 16;
    double rate = 44100.0;
};

// What a format keeps of the annotations AnnotationsRoundTrip writes (three
// markers, two numbered, one plain; a sustain and a release loop; the
// sampler record; two named regions; the file's time stamp).
struct AnnotationTraits {
    bool markers = false;  // positions and names
    bool markerNumbers = false;  // types too, numbered markers renumbered from 1
    bool loops = false;  // both loops' frames
    bool loopTypes = false;  // and their play modes
    bool sampler = false;  // base note, detune, key and velocity ranges
    bool samplerGain = false;
    bool regions = false;  // frames and names
    bool regionSync = false;  // IDs from 1 and sync frames
    bool regionStamps = false;  // the file's stamp rides in the first region, the second keeps its own
    bool fileStamp = false;  // the file's stamp reads back as the file's too

    bool Any() const { return markers || loops || sampler || regions; }
};

// A file a peer writes from a WAVE of `shape`: ffmpeg's output options
// (codec, tag, container) before the output name.
struct PeerWrite {
    FormatShape shape;
    QStringList options;
};

// A damaged header: `bytes` put at `offset` past the first `anchor` in the
// default file (empty: past its start), and the file then cut by
// `dropBytes`, make the class refuse it (in Open, or in the shape check
// every input passes) with exactly `refusedWith` (and ProbeHeader too, with
// `probeRefuses`).  A refusedWith of 0: the file opens, and says it was cut
// short exactly when `saysCut`.
struct HeaderPatch {
    std::string what;
    std::string anchor;
    std::size_t offset = 0;
    std::vector<UInt8> bytes;
    OSErr refusedWith = 0;
    bool probeRefuses = false;
    std::size_t dropBytes = 0;
    bool saysCut = false;
};

struct FormatTraits {
    std::string name;  // the test-name suffix ("AVR")
    OSType type = 0;  // the factory's type code
    // The ending of every name written (".ap8": headerless types take their
    // rate from it); empty: the class gives the name its own.
    std::string extension;
    OSType detectedAs = 0;  // what type detection names our files (0: `type`)
    // The type whose class reads the files back (0: `type`).  The classes
    // that only write (the MPEG coders, the movie exports) leave reading to
    // the class that reads such files as inputs (the media layer's 'MooV').
    OSType readAs = 0;
    std::string formatName;  // the class's format name (UTF-8; empty: not checked)
    std::string splitSuffix;  // the split naming it offers (empty: not checked)
    std::vector<FormatShape> shapes;  // shapes Create takes; the first is the small default
    bool lossy = false;  // coded samples (G.711, float): no exact round trip
    SInt64 lossyError = 0;  // largest coding error of a lossy round trip (32-bit units)
    // > 0: the samples are coded with loss beyond a fixed step (ADPCM,
    // G.72x): the files hold a tone the coder follows instead of noise, and
    // our round trip keeps this signal-to-noise ratio (dB).  Else audio
    // written as doubles reads back to 30 dB at least.
    double minSnrDb = 0;
    // Largest sample of the silence a block written past the end leaves
    // before it (32-bit units); 0: none for exact formats, a step of the
    // coding for coded ones.  Transform coders (AAC) spread a block's
    // sound over the frames before it.
    SInt64 silenceError = 0;
    // > 0: the peers decode differently by design; their decoding agrees
    // with ours to this many dB (and within peerTolerance when that is set);
    // ffmpegSnrDb for ffmpeg alone.
    double peerSnrDb = 0;
    double ffmpegSnrDb = 0;
    // Frames a write of n frames holds (whole code bytes or blocks); empty: n.
    std::function<UInt32(UInt32)> framesHeld;
    // Frames the decoded audio lags what was written (the subband filters
    // of MPEG Layer I and II): the last ones written fall past the end.
    UInt32 codingDelay = 0;
    // Frames the peers' decoding lags ours: ours starts after the coding
    // delay where the file tells its length (MPEG Broadcast Wave).
    UInt32 peerDelay = 0;
    bool encodesOnClose = false;  // the whole file is coded when it is closed
    // Peers that read the format: sox (with these input options; empty: sox
    // does not read it), libsndfile, ffmpeg.
    QStringList soxReadOptions;
    bool sndfileReads = false;
    bool ffmpegReads = false;
    QStringList ffmpegReadOptions;  // what ffmpeg is told of a headerless file
    // Shapes the peers write in this format, for the reading direction: sox
    // (with soxWriteOptions before the output name; not when soxWriteOptions
    // is empty) and libsndfile (sndfileExtension).
    std::vector<FormatShape> soxWrites;
    QStringList soxWriteOptions;
    // libsndfile writes the format by this file extension (sndfile-convert
    // from a WAVE of each soxWrites shape); empty: it does not.
    QString sndfileExtension;
    QString sndfileOption;  // its encoding option ("-ulaw"); empty: -pcm<bits>
    // Files ffmpeg writes in this format (its own header variants).
    std::vector<PeerWrite> ffmpegWrites;
    // Whether type detection recognises the peers' files by their header
    // (false for headerless formats, typed by their names), and our own
    // files (false where the name does not tell the coding either).
    bool detectsPeerFiles = true;
    bool detectsOurFiles = true;
    // Whether a cut file that lost frames is checked to say so (false
    // where nothing tells the length: headerless coded files).
    bool saysWhenCut = true;
    // Largest difference allowed between a peer's decoding and ours, in
    // 32-bit units (float formats round differently); 0 for exact.
    SInt32 peerTolerance = 0;
    // Open results that still leave a usable file (AIFF's "frames cut to
    // the data"); any other failure is a refusal.
    std::vector<OSErr> openWarnings;
    // Peers read padding after our samples as more samples (Sonic AIFF
    // rounds its data up to whole blocks): only our frames are compared.
    bool peersSeePadding = false;
    // Frames written in the small default files (odd: pad bytes after odd
    // data get written), and before the block written past the end; at
    // least a file the format reads back holds (a raw MPEG audio stream is
    // two frames at least, for the peers as for us).
    UInt32 frames = 301;
    // Every prefix up to this many bytes is checked (the header and the
    // first samples); longer ones in steps, and the last 64 one by one.
    std::size_t truncationBytesChecked = 256;
    // Every prefix of the default file is refused with exactly `refusedWith`
    // below `refusedBelow` bytes (1: any error).  Formats whose header is a
    // fixed size and whose samples follow it to the end open with exactly
    // the whole frames of `frameBytes` it holds past `dataOffset`.
    struct {
        std::size_t dataOffset = 0;  // 0: not checked exactly
        std::size_t refusedBelow = 0;  // 0: not checked
        OSErr refusedWith = 1;
        std::size_t frameBytes = 2;
    } exactTruncation;
    // Formats whose samples run to the end of the file, with no length in
    // the header: a cut file tells only when it ends before `dataOffset` or
    // inside a frame of `frameBytes` bytes (of the default file).  0: the
    // header gives the length, and every cut that loses frames tells.
    struct {
        std::size_t dataOffset = 0;
        std::size_t frameBytes = 0;
    } samplesToTheEnd;
    AnnotationTraits annotations;
    std::vector<HeaderPatch> damagedHeaders;
    // What Close answers for a file never opened or already closed (0: not checked).
    OSErr closeOfAClosedFile = 0;
    // Shapes Create refuses, each with its code, before making any file.
    std::vector<std::pair<FormatShape, OSErr>> refusedShapes;
};

// The suite's fixture (its tests are in FormatConformanceTest.cpp).
class FormatConformance : public ::testing::TestWithParam<FormatTraits> {
protected:
    static void SetUpTestSuite();
    void SetUp() override;

    const FormatTraits& T() const { return GetParam(); }
    OSType Detected() const { return T().detectedAs ? T().detectedAs : T().type; }
    OSType Reader() const { return T().readAs ? T().readAs : T().type; }
    // A file name in the test's folder with the format's ending.
    std::string File(const std::string& name) const { return dir.file(name + T().extension); }
    // Deterministic samples of a shape, left-justified 32-bit, interleaved.
    std::vector<SInt32> Samples(const FormatShape& shape, UInt32 frames, UInt32 seed = 7) const;
    // Decoded audio aligned with what was written (the coding delay dropped).
    template <typename Sample>
    std::vector<Sample> Aligned(const std::vector<Sample>& decoded, UInt16 channels) const
    {
        const std::size_t delay = std::min(decoded.size(), std::size_t(T().codingDelay) * channels);
        return std::vector<Sample>(decoded.begin() + std::ptrdiff_t(delay), decoded.end());
    }
    // The frames a write of `frames` frames holds.
    UInt32 Held(UInt32 frames) const;
    // A small file of the first shape, written by us (`annotate`: with the
    // annotations the format keeps); the path written.
    std::string WriteDefault(const std::string& name, std::vector<SInt32>* samples = nullptr, bool annotate = false);
    // The prefix lengths below `size` the truncation cases cut a file to.
    std::vector<std::size_t> PrefixLengths(std::size_t size) const;

    TestTempDir dir;
};

// Cases that only some formats have something for run over those alone:
// instantiate each with FormatsWhere(list, &FormatTraits::Has...).
class FormatsPeersRead : public FormatConformance {};
class FormatsPeersWrite : public FormatConformance {};
class FormatsWithRefusedShapes : public FormatConformance {};
class FormatsWithDamagedHeaders : public FormatConformance {};
class FormatsWithAnnotations : public FormatConformance {};
class FormatsEncodedOnClose : public FormatConformance {};
class FormatsSayingWhenCut : public FormatConformance {};

template <typename Keep> std::vector<FormatTraits> FormatsWhere(const std::vector<FormatTraits>& all, Keep keep)
{
    std::vector<FormatTraits> kept;
    for (const FormatTraits& t : all)
        if (keep(t))
            kept.push_back(t);
    return kept;
}

// Instantiates the whole suite, each case over the formats it applies to.
#define QM_INSTANTIATE_FORMAT_CONFORMANCE(prefix, formats)                                                          \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatConformance, ::testing::ValuesIn(formats), FormatTraitsName);           \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsPeersRead, ::testing::ValuesIn(FormatsWhere(formats, [](const FormatTraits& t) { \
        return !t.soxReadOptions.isEmpty() || t.sndfileReads || t.ffmpegReads; })), FormatTraitsName);          \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsPeersWrite, ::testing::ValuesIn(FormatsWhere(formats, [](const FormatTraits& t) { \
        return !t.soxWrites.empty() || !t.ffmpegWrites.empty(); })), FormatTraitsName);                      \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsWithRefusedShapes, ::testing::ValuesIn(FormatsWhere(formats,           \
        [](const FormatTraits& t) { return !t.refusedShapes.empty(); })), FormatTraitsName);                   \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsWithDamagedHeaders, ::testing::ValuesIn(FormatsWhere(formats,          \
        [](const FormatTraits& t) { return !t.damagedHeaders.empty(); })), FormatTraitsName);                  \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsWithAnnotations, ::testing::ValuesIn(FormatsWhere(formats,             \
        [](const FormatTraits& t) { return t.annotations.Any(); })), FormatTraitsName);                        \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsEncodedOnClose, ::testing::ValuesIn(FormatsWhere(formats,             \
        [](const FormatTraits& t) { return t.encodesOnClose; })), FormatTraitsName);                           \
    INSTANTIATE_TEST_SUITE_P(prefix, FormatsSayingWhenCut, ::testing::ValuesIn(FormatsWhere(formats,              \
        [](const FormatTraits& t) { return t.saysWhenCut; })), FormatTraitsName)

inline std::string FormatTraitsName(const ::testing::TestParamInfo<FormatTraits>& info)
{
    return info.param.name;
}

inline void PrintTo(const FormatTraits& traits, std::ostream* out)
{
    *out << traits.name;
}
