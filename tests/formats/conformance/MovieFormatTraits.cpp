// The media-layer family (qm_formats_movie) in the conformance suite.
#include "FormatTraits.h"

namespace {

// Rounds a frame count up to whole packets of `frames` frames.
std::function<UInt32(UInt32)> WholePackets(UInt32 frames)
{
    return [frames](UInt32 n) { return (n + frames - 1) / frames * frames; };
}

std::vector<FormatTraits> MovieFormats()
{
    std::vector<FormatTraits> all;

    // Core Audio Format: big-endian linear PCM with its 'data' size set on
    // close, read through the media layer.
    FormatTraits caf;
    caf.name = "CAF";
    caf.type = FOUR_CHAR_CODE("caff");
    caf.detectedAs = FOUR_CHAR_CODE("MooV");  // inputs are read as movies
    caf.formatName = "Core Audio File (CAF)";
    caf.shapes = {{1, 16, 44100}, {2, 8, 22050}, {2, 24, 48000}, {1, 32, 96000}, {6, 16, 48000}};
    caf.sndfileReads = caf.ffmpegReads = true;
    caf.soxReadOptions = {"-t", "caf"};
    caf.sndfileExtension = "caf";
    caf.soxWrites = {{1, 16, 44100}, {2, 24, 48000}};
    caf.ffmpegWrites = {{{2, 16, 22050}, {"-c:a", "pcm_s16be", "-f", "caf"}},
        {{1, 24, 8000}, {"-c:a", "pcm_s24le", "-f", "caf"}}};
    caf.refusedShapes = {{{0, 16, 44100}, paramErr}, {{1, 12, 44100}, paramErr}};
    all.push_back(caf);

    // The movie exports: a QuickTime movie of one sound compression each,
    // coded from the intermediate when the file is closed and read back as
    // any movie input is.
    const auto movie = [](const char* name, OSType type, std::vector<FormatShape> shapes) {
        FormatTraits t;
        t.name = name;
        t.type = type;
        t.detectedAs = FOUR_CHAR_CODE("MooV");
        t.shapes = std::move(shapes);
        t.encodesOnClose = true;
        t.ffmpegReads = true;
        t.truncationBytesChecked = 16;
        return t;
    };
    // Their codings come from ffmpeg in AIFF-C, read as any movie input is.
    FormatTraits alaw = movie("ALawMovie", FOUR_CHAR_CODE("QTAL"), {{1, 16, 8000}, {2, 16, 44100}});
    alaw.lossy = true;
    alaw.lossyError = SInt64(1100) << 16;
    alaw.ffmpegWrites = {{{2, 16, 8000}, {"-c:a", "pcm_alaw", "-f", "aiff"}}};
    all.push_back(alaw);
    FormatTraits ulaw = movie("MuLawMovie", FOUR_CHAR_CODE("QTUL"), {{1, 16, 8000}, {2, 16, 44100}});
    ulaw.lossy = true;
    ulaw.lossyError = SInt64(1100) << 16;
    ulaw.ffmpegWrites = {{{1, 16, 8000}, {"-c:a", "pcm_mulaw", "-f", "aiff"}}};
    all.push_back(ulaw);
    // IMA 4:1 codes packets of 64 frames; the movie's edit list leaves out
    // the silence that fills the first, so it holds the frames written.
    FormatTraits ima = movie("IMAMovie", FOUR_CHAR_CODE("QTIM"), {{1, 16, 22050}, {2, 16, 44100}});
    ima.lossy = true;
    ima.minSnrDb = 20;
    all.push_back(ima);
    // Linear samples (big-endian integers, the class's default variant).
    all.push_back(movie("LinearMovie", FOUR_CHAR_CODE("QTIF"), {{1, 16, 44100}, {2, 8, 11025}, {2, 24, 48000}}));
    // AIFF-C with IMA 4:1, its markers in a 'MARK' chunk; type detection
    // names it by its compression.
    FormatTraits aifc = movie("AIFCIMA", FOUR_CHAR_CODE("A1t4"), {{1, 16, 22050}, {2, 16, 44100}});
    aifc.detectedAs = 0;
    aifc.lossy = true;
    aifc.minSnrDb = 20;
    aifc.framesHeld = WholePackets(64);
    aifc.ffmpegWrites = {{{2, 16, 22050}, {"-c:a", "adpcm_ima_qt", "-f", "aiff"}}};
    all.push_back(aifc);
    // AAC in an MPEG-4 file, the word length its bit rate: frames of 1024,
    // the edit list leaving out the encoder's delay and the silence that
    // fills the first, so it holds the frames written; a block's sound is
    // spread over the silence before it; movie inputs read 24 bits of
    // ffmpeg's float decoding.
    FormatTraits aac = movie("AACMovie", FOUR_CHAR_CODE("Mpg4"), {{1, 64, 48000}, {2, 128, 44100}});
    aac.detectedAs = 0;
    aac.lossy = true;
    aac.minSnrDb = 9;
    aac.silenceError = SInt64(1) << 26;  // -30 dB
    aac.peerTolerance = 1 << 8;
    all.push_back(aac);
    return all;
}

}  // namespace

QM_INSTANTIATE_FORMAT_CONFORMANCE(Movie, MovieFormats());
