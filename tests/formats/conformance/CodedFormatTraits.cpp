// The telephony and ADPCM family (qm_formats_coded) in the conformance suite.
// Headerless files take their rate from their names (".ap8": 8 kHz), so
// every file is named with its format's ending.
#include "FormatTraits.h"

namespace {

FormatTraits Traits(const char* name, OSType type, const char* extension, FormatShape shape)
{
    FormatTraits t;
    t.name = name;
    t.type = type;
    t.extension = extension;
    t.shapes = {shape};
    t.detectsPeerFiles = false;  // typed by their names
    t.saysWhenCut = false;  // no length in a header: cuts go unseen
    t.truncationBytesChecked = 24;  // a cut in the codes is a cut like another
    return t;
}

// An ADPCM or G.72x coder: our round trip keeps `snrDb`; the file holds
// whole code bytes (or pairs of frames) and is coded when it is closed.
FormatTraits Coder(FormatTraits t, double snrDb, std::function<UInt32(UInt32)> held)
{
    t.lossy = true;
    t.minSnrDb = snrDb;
    t.framesHeld = std::move(held);
    t.encodesOnClose = true;
    return t;
}

UInt32 Even(UInt32 n)
{
    return n & ~1u;
}

// G.711 in a headerless file: sox and ffmpeg read and write it raw.
FormatTraits Companded(const char* name, OSType type, const char* extension, const char* sox, const char* ffmpeg)
{
    FormatTraits t = Traits(name, type, extension, {1, 16, 8000});
    t.lossy = true;
    t.lossyError = SInt64(1100) << 16;  // within the coder's step
    t.soxReadOptions = {"-t", sox, "-r", "8000"};
    t.ffmpegReads = true;
    t.ffmpegReadOptions = {"-f", ffmpeg, "-ar", "8000", "-ac", "1"};
    t.soxWrites = {{1, 8, 8000}};
    t.soxWriteOptions = {"-t", sox};
    t.ffmpegWrites = {{{1, 16, 8000}, {"-f", ffmpeg}}};
    return t;
}

// Raw linear samples at 8 kHz.
FormatTraits Linear(const char* name, const char* extension, SInt16 bits, const char* encoding, const char* ffmpeg)
{
    FormatTraits t = Traits(name, FOUR_CHAR_CODE("DPCM"), extension, {1, bits, 8000});
    t.soxReadOptions = {"-t", "raw", "-e", encoding, "-b", QString::number(bits), "-B", "-c", "1", "-r", "8000"};
    t.ffmpegReads = true;
    t.ffmpegReadOptions = {"-f", ffmpeg, "-ar", "8000", "-ac", "1"};
    t.soxWrites = {{1, bits, 8000}};
    t.soxWriteOptions = {"-t", "raw", "-e", encoding, "-B"};
    t.ffmpegWrites = {{{1, bits, 8000}, {"-f", ffmpeg}}};
    return t;
}

// ffmpeg's G.726 decoder is not bit-exact with the recommendation (spandsp
// and our coders agree bit for bit, see the codec tests and CCITTFileTest):
// its decoding of our 16, 24 and 32 kbit/s files agrees with ours to 30 dB
// (27 dB for the short files at 24 kbit/s).
// Its 40 kbit/s stream does not follow G.726 (spandsp cannot read it
// either), so the 5-bit types have no peer here; spandsp is their oracle.
FormatTraits G72x(const char* name, OSType type, int bits)
{
    FormatTraits t = Coder(Traits(name, type, ".g726", {1, 16, 8000}), bits == 2 ? 7.0 : 10.0 + 4.0 * (bits - 3),
        [bits](UInt32 n) { return UInt32((UInt64(n) * UInt64(bits) + 7) / 8 * 8 / UInt64(bits)); });
    t.detectsOurFiles = false;  // the name does not tell the bit rate
    if (bits != 5) {
        t.ffmpegReads = true;
        t.ffmpegReadOptions = {"-f", "g726le", "-code_size", QString::number(bits), "-sample_rate", "8000"};
        t.ffmpegWrites = {{{1, 16, 8000},
            {"-c:a", "g726le", "-b:a", QString::number(bits * 8) + "k", "-ar", "8000", "-f", "g726le"}}};
        t.peerSnrDb = bits == 3 ? 27 : 30;
    }
    return t;
}

std::vector<FormatTraits> CodedFormats()
{
    std::vector<FormatTraits> all;

    // sox's vox codec rounds (2n + 1) x step / 8 as one product where the
    // format sums the truncated parts (step, step/2, step/4, step/8), and
    // its predictor starts at 0, not -2; with no leak in the predictor the
    // two decodings drift apart by a few steps and meet again at the
    // clamps: they agree to 25 dB and never differ by more than 2048 (128
    // of the 12-bit steps).
    FormatTraits dialogic = Coder(Traits("DialogicADPCM", FOUR_CHAR_CODE("DADP"), ".ap8", {1, 16, 8000}), 18, Even);
    dialogic.soxReadOptions = {"-t", "vox", "-r", "8000"};
    dialogic.soxWrites = {{1, 4, 8000}};
    dialogic.soxWriteOptions = {"-t", "vox"};
    dialogic.peerSnrDb = 25;
    dialogic.peerTolerance = 2048 << 16;
    all.push_back(dialogic);
    all.push_back(Coder(Traits("PikaADPCM", FOUR_CHAR_CODE("PADP"), ".pi8", {1, 16, 8000}), 18, Even));
    FormatTraits vap = Coder(Traits("AnnotatedVoice", FOUR_CHAR_CODE("DVAP"), ".vap", {1, 16, 8000}), 18, Even);
    vap.exactTruncation.refusedBelow = 37;  // the header
    vap.truncationBytesChecked = 37 + 24;
    all.push_back(vap);

    all.push_back(Companded("DialogicALaw", FOUR_CHAR_CODE("DALW"), ".al8", "al", "alaw"));
    all.push_back(Companded("DialogicULaw", FOUR_CHAR_CODE("DULW"), ".ul8", "ul", "mulaw"));
    all.push_back(Linear("DialogicPCM16", ".p16", 16, "signed-integer", "s16be"));
    all.push_back(Linear("DialogicPCM8", ".pc8", 8, "unsigned-integer", "u8"));

    all.push_back(G72x("G721", FOUR_CHAR_CODE("21-4"), 4));
    all.push_back(G72x("G723_16", FOUR_CHAR_CODE("23-2"), 2));
    all.push_back(G72x("G723_24", FOUR_CHAR_CODE("23-3"), 3));
    all.push_back(G72x("G723_40", FOUR_CHAR_CODE("23-5"), 5));
    all.push_back(G72x("G726_24", FOUR_CHAR_CODE("26-3"), 3));
    all.push_back(G72x("G726_32", FOUR_CHAR_CODE("26-4"), 4));
    all.push_back(G72x("G726_40", FOUR_CHAR_CODE("26-5"), 5));

    // MS ADPCM in a WAVE file.  ffmpeg's decoder divides the prediction
    // (rounding toward zero) where the format, sox and libsndfile shift
    // (rounding down): one step apart now and then, which the prediction
    // carries on, so its decoding agrees to 40 dB.
    for (const UInt16 channels : {UInt16(1), UInt16(2)}) {
        FormatTraits ms = Coder(Traits(channels == 1 ? "MSADPCMMono" : "MSADPCMStereo", FOUR_CHAR_CODE("MSAP"), ".wav",
                                    {channels, 16, 8000}),
            16, {});
        ms.detectsPeerFiles = true;
        ms.peersSeePadding = true;  // sox and libsndfile decode the last block whole
        ms.saysWhenCut = true;  // the fact chunk counts the frames
        ms.exactTruncation.refusedBelow = 90;  // the header
        ms.truncationBytesChecked = 90 + 24;
        ms.soxReadOptions = {"-t", "wav"};
        ms.sndfileReads = ms.ffmpegReads = true;
        ms.ffmpegSnrDb = 40;
        ms.soxWrites = {{channels, 4, 8000}};
        ms.soxWriteOptions = {"-t", "wav", "-e", "ms-adpcm"};
        ms.sndfileExtension = "wav";
        ms.sndfileOption = "-ms-adpcm";
        ms.ffmpegWrites = {{{channels, 16, 8000}, {"-c:a", "adpcm_ms", "-f", "wav"}}};
        all.push_back(ms);
    }
    return all;
}

}  // namespace

QM_INSTANTIATE_FORMAT_CONFORMANCE(Coded, CodedFormats());
