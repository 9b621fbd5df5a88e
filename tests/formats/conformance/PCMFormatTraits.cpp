// The linear-PCM family (qm_formats_pcm) in the conformance suite.
#include "CAIFFFile.h"
#include "CAVRFile.h"
#include "CIFF8SVXFile.h"
#include "CSD1File.h"
#include "CSndRsrcFile.h"
#include "CVOCFile.h"
#include "CVOC_SBFile.h"
#include "CWAVEFile.h"
#include "ChunkReader.h"
#include "CNeXT_SUNFile.h"
#include "CParisLinearFile.h"
#include "FormatTraits.h"

namespace {

FormatTraits Traits(const char* name, OSType type, std::vector<FormatShape> shapes)
{
    FormatTraits t;
    t.name = name;
    t.type = type;
    t.shapes = std::move(shapes);
    return t;
}

// Everything the AIFF family keeps.
AnnotationTraits AllAnnotations()
{
    AnnotationTraits a;
    a.markers = a.markerNumbers = a.loops = a.loopTypes = a.sampler = a.samplerGain = a.regions = a.regionSync = true;
    a.regionStamps = true;
    return a;
}

std::vector<FormatTraits> PCMFormats()
{
    std::vector<FormatTraits> all;

    FormatTraits aiff = Traits("AIFF", FOUR_CHAR_CODE("AIFF"),
        {{1, 16, 44100}, {2, 8, 22050}, {2, 24, 48000}, {1, 32, 96000}, {6, 16, 48000}, {3, 8, 22050}});
    aiff.openWarnings = {-22204};  // frames cut to the sound data
    aiff.soxReadOptions = {"-t", "aiff"};
    aiff.sndfileReads = aiff.ffmpegReads = true;
    aiff.soxWrites = {{1, 16, 44100}, {2, 24, 48000}, {1, 8, 8000}, {1, 32, 22050}, {3, 24, 22050}};
    aiff.soxWriteOptions = {"-t", "aiff"};
    aiff.sndfileExtension = "aiff";
    aiff.ffmpegWrites = {{{2, 16, 22050}, {"-c:a", "pcm_s16be", "-f", "aiff"}},
        {{6, 24, 22050}, {"-c:a", "pcm_s24be", "-f", "aiff"}}, {{1, 8, 22050}, {"-c:a", "pcm_s8", "-f", "aiff"}}};
    aiff.annotations = AllAnnotations();
    aiff.truncationBytesChecked = std::size_t(1) << 16;  // every prefix of the annotated file
    aiff.refusedShapes = {{{0, 16, 44100}, paramErr}};
    aiff.damagedHeaders = {{"no channels", "COMM", 8, {0, 0}, kAIFFNoCOMMErr},
        {"negative channels", "COMM", 8, {0x80, 0}, kAIFFNoCOMMErr},
        {"no word length", "COMM", 14, {0, 0}, kAIFFNoCOMMErr},
        {"33-bit words", "COMM", 14, {0, 33}, kAIFFNoCOMMErr},
        {"no rate", "COMM", 16, std::vector<UInt8>(10, 0), kBadSampleRateErr},
        {"a frame longer than the sound data", "COMM", 8, {0x03, 0xE8}, kDataHoldsNoFrameErr}};
    all.push_back(aiff);

    FormatTraits aifc
        = Traits("AIFFC", FOUR_CHAR_CODE("AIFC"), {{1, 8, 44100}, {2, 16, 44100}, {1, 24, 48000}, {2, 32, 44100}, {3, 24, 22050}});
    aifc.openWarnings = {-22204};
    aifc.soxReadOptions = {"-t", "aifc"};
    aifc.sndfileReads = aifc.ffmpegReads = true;
    aifc.soxWrites = {{2, 8, 22050}, {1, 16, 44100}};
    aifc.soxWriteOptions = {"-t", "aifc", "-e", "signed-integer"};
    // ffmpeg's own AIFF-C variants: little-endian 'sowt' and 'in24'.
    aifc.ffmpegWrites = {{{2, 16, 22050}, {"-c:a", "pcm_s16le", "-f", "aiff"}},
        {{2, 24, 22050}, {"-c:a", "pcm_s24be", "-tag:a", "in24", "-f", "aiff"}}};
    aifc.annotations = AllAnnotations();
    aifc.truncationBytesChecked = std::size_t(1) << 16;
    aifc.damagedHeaders = {{"a frame longer than the sound data", "COMM", 8, {0x03, 0xE8}, kDataHoldsNoFrameErr}};
    all.push_back(aifc);

    FormatTraits wave = Traits("WAVE", FOUR_CHAR_CODE("WAVE"),
        {{1, 16, 44100}, {2, 8, 11025}, {2, 24, 48000}, {1, 32, 96000}, {6, 16, 48000}});
    wave.formatName = "Wave";
    wave.splitSuffix = "(.L/.R)";
    wave.soxReadOptions = {"-t", "wav"};
    wave.sndfileReads = wave.ffmpegReads = true;
    wave.soxWrites = {{1, 16, 44100}, {2, 24, 48000}, {1, 8, 8000}, {3, 32, 8000}, {2, 8, 8000}};
    wave.soxWriteOptions = {"-t", "wav"};
    wave.sndfileExtension = "wav";
    wave.damagedHeaders = {{"ADPCM tag", "fmt ", 8, {2, 0}, kUnsupportedDataErr},
        {"no channels", "fmt ", 10, {0, 0}, kUnsupportedDataErr},
        {"no word length", "fmt ", 22, {0, 0}, kUnsupportedDataErr},
        {"no fmt chunk", "fmt ", 0, {'x'}, kWAVENoFmtChunkErr},
        {"no data chunk", "data", 0, {'x'}, kWAVENoDataChunkErr},
        {"not RIFF", "", 3, {'X'}, kChunkNotFoundErr},
        // Headers whose shape the data cannot have: more channels than the
        // block holds, or a frame longer than all the data.
        {"128 channels over mono frames", "fmt ", 10, {128, 0}, kWAVEBadBlockAlignErr, true},
        {"160 channels over mono frames", "fmt ", 10, {160, 0}, kWAVEBadBlockAlignErr, true},
        {"a frame past the data", "fmt ", 10, {0xE8, 0x03, 0x44, 0xAC, 0, 0, 0xC0, 0xD7, 0x41, 0x05, 0xD0, 0x07},
            kWAVEBadDataSizeErr, true}};
    wave.ffmpegWrites = {{{1, 16, 8000}, {"-f", "wav"}}, {{3, 16, 8000}, {"-f", "wav"}}};  // three: extensible
    wave.annotations.markers = wave.annotations.loops = wave.annotations.sampler = wave.annotations.regions = true;
    all.push_back(wave);

    FormatTraits bwf = Traits(
        "BroadcastWave", FOUR_CHAR_CODE("BWLN"), {{2, 16, 48000}, {1, 24, 48000}, {6, 32, 44100}, {1, 16, 44100}});
    bwf.formatName = "Uncompressed Broadcast Wave";
    bwf.splitSuffix = "(.L/.R)";
    bwf.soxReadOptions = {"-t", "wav"};
    bwf.sndfileReads = bwf.ffmpegReads = true;
    bwf.ffmpegWrites = {{{1, 16, 8000}, {"-write_bext", "1", "-f", "wav"}}};
    bwf.annotations = wave.annotations;
    bwf.annotations.regionSync = bwf.annotations.regionStamps = bwf.annotations.fileStamp = true;  // in 'regn' and 'bext'
    bwf.damagedHeaders = {{"128 channels over stereo frames", "fmt ", 10, {128, 0}, kWAVEBadBlockAlignErr, true}};
    all.push_back(bwf);

    for (const auto& [name, type, encoding, formatName] :
        {std::tuple{"WAVEMuLaw", FOUR_CHAR_CODE("WVau"), "u-law", "Wave \xCE\xBC-law"},
            std::tuple{"WAVEALaw", FOUR_CHAR_CODE("WVal"), "a-law", "Wave A-law"}}) {
        FormatTraits g711 = Traits(name, type, {{1, 16, 8000}, {2, 16, 8000}, {3, 16, 8000}});
        g711.formatName = formatName;
        g711.splitSuffix = "(.L/.R)";
        g711.lossy = true;
        g711.lossyError = SInt64(1100) << 16;  // within the coder's step
        g711.sndfileExtension = "wav";
        g711.sndfileOption = std::string(encoding) == "u-law" ? "-ulaw" : "-alaw";
        g711.soxReadOptions = {"-t", "wav"};
        g711.sndfileReads = g711.ffmpegReads = true;
        g711.soxWrites = {{1, 8, 8000}};
        g711.soxWriteOptions = {"-t", "wav", "-e", encoding};
        g711.ffmpegWrites = {{{1, 16, 8000}, {"-c:a", std::string(encoding) == "u-law" ? "pcm_mulaw" : "pcm_alaw", "-f", "wav"}}};
        g711.damagedHeaders = {{"two channels over mono frames", "fmt ", 10, {2, 0}, kWAVEBadBlockAlignErr, true}};
        all.push_back(g711);
    }

    // 32-bit float samples: integers beyond the float's 24-bit mantissa round.
    FormatTraits wvfl = Traits("WAVEFloat", FOUR_CHAR_CODE("WVfl"), {{1, 32, 44100}, {2, 32, 48000}, {6, 32, 48000}});
    wvfl.formatName = "Wave 32 bits float (Samplitude)";
    wvfl.splitSuffix = "(.L/.R)";
    wvfl.lossy = true;
    wvfl.lossyError = 128;
    wvfl.peerTolerance = 1;
    wvfl.soxReadOptions = {"-t", "wav"};
    wvfl.sndfileReads = wvfl.ffmpegReads = true;
    wvfl.soxWrites = {{1, 32, 44100}, {2, 32, 8000}};
    wvfl.soxWriteOptions = {"-t", "wav", "-e", "floating-point"};
    wvfl.sndfileExtension = "wav";
    wvfl.sndfileOption = "-float32";
    wvfl.damagedHeaders = {{"64-bit floats", "fmt ", 12, {0x40, 0x1F, 0, 0, 0, 0xFA, 0, 0, 8, 0, 64, 0},
        kUnsupportedDataErr},
        {"six channels over mono frames", "fmt ", 10, {6, 0}, kWAVEBadBlockAlignErr, true}};
    all.push_back(wvfl);

    FormatTraits next = Traits(
        "NeXT", FOUR_CHAR_CODE("NxTS"), {{1, 16, 8000}, {2, 8, 22050}, {1, 24, 48000}, {2, 32, 44100}, {3, 16, 8000}});
    next.soxReadOptions = {"-t", "au"};
    next.sndfileReads = next.ffmpegReads = true;
    next.soxWrites = {{1, 16, 8000}, {2, 8, 11025}, {1, 24, 8000}, {2, 32, 8000}};
    next.soxWriteOptions = {"-t", "au", "-e", "signed-integer"};
    next.sndfileExtension = "au";
    next.exactTruncation = {28, 28, kNeXTBadHeaderErr, 2};
    // Refused: no channels, too many, data inside the six words or past the
    // end, the wrong magic; an encoding of no class here.
    next.damagedHeaders = {{"no channels", "", 20, {0, 0, 0, 0}, kNeXTBadHeaderErr},
        {"too many channels", "", 20, {0x7F, 0xFF, 0xFF, 0xFF}, kNeXTBadHeaderErr},
        {"data inside the header", "", 4, {0, 0, 0, 16}, kNeXTBadHeaderErr},
        {"data past the end", "", 4, {0, 1, 0, 0}, kNeXTBadHeaderErr},
        {"another magic", "", 0, {'X'}, kNeXTBadHeaderErr},
        {"unknown encoding", "", 12, {0, 0, 0, 7}, kNeXTUnsupportedDataErr},
        {"a frame longer than the data", "", 20, {0, 0, 0x03, 0xE8}, kDataHoldsNoFrameErr},
        // "Unknown": the data runs to the end, in whole frames.
        {"unknown data size", "", 8, {0xFF, 0xFF, 0xFF, 0xFF}, noErr, false, 1, false}};
    next.ffmpegWrites = {{{2, 16, 8000}, {"-c:a", "pcm_s16be", "-f", "au"}},
        {{2, 24, 8000}, {"-c:a", "pcm_s24be", "-f", "au"}}};
    all.push_back(next);

    for (const auto& [name, type, encoding] : {std::tuple{"NeXTMuLaw", FOUR_CHAR_CODE("ulaw"), "u-law"},
             std::tuple{"NeXTALaw", FOUR_CHAR_CODE("NSAL"), "a-law"}}) {
        FormatTraits g711 = Traits(name, type, {{1, 16, 8000}, {2, 16, 8000}});
        g711.lossy = true;
        g711.lossyError = SInt64(1100) << 16;
        g711.soxReadOptions = {"-t", "au"};
        g711.sndfileReads = g711.ffmpegReads = true;
        g711.soxWrites = {{1, 8, 8000}, {2, 8, 8000}};
        g711.soxWriteOptions = {"-t", "au", "-e", encoding};
        g711.sndfileExtension = "au";
        g711.sndfileOption = std::string(encoding) == "u-law" ? "-ulaw" : "-alaw";
        // A cut header is refused with the class's own code; the data
        // size word is clamped to the samples the file holds.
        g711.exactTruncation = {28, 28, std::string(encoding) == "u-law" ? kNeXTAuBadHeaderErr : kNeXTALawBadHeaderErr, 1};
        g711.damagedHeaders = {{"another magic", "", 0, {'X'},
                                   std::string(encoding) == "u-law" ? kNeXTAuBadHeaderErr : kNeXTALawBadHeaderErr, true},
            {"linear samples", "", 12, {0, 0, 0, 3}, kNeXTUnsupportedDataErr}};
        g711.ffmpegWrites = {{{2, 16, 8000},
            {"-c:a", std::string(encoding) == "u-law" ? "pcm_mulaw" : "pcm_alaw", "-f", "au"}}};
        all.push_back(g711);
    }

    FormatTraits avr
        = Traits("AVR", FOUR_CHAR_CODE(".AVR"), {{1, 16, 22050}, {2, 8, 8000}, {1, 8, 32000}, {2, 16, 11025}});
    avr.soxReadOptions = {"-t", "avr"};
    avr.sndfileReads = true;
    avr.soxWrites = {{1, 16, 22050}, {2, 8, 8000}, {1, 8, 11025}, {2, 16, 11025}};
    avr.soxWriteOptions = {"-t", "avr"};
    avr.sndfileExtension = "avr";
    avr.exactTruncation = {128, 128, kAVRNoMagicErr, 2};
    avr.refusedShapes = {{{1, 24, 44100}, kAVRWordSizeErr}, {{2, 12, 44100}, kAVRWordSizeErr},
        {{3, 16, 44100}, -22100}, {{1, 16, 2e7}, -22601}};
    avr.damagedHeaders = {{"another magic", "", 0, {'3'}, kAVRNoMagicErr, true},
        {"24-bit words", "", 15, {24}, kAVRWordSizeErr}};
    all.push_back(avr);

    FormatTraits svx = Traits("IFF8SVX", FOUR_CHAR_CODE("8SVX"), {{1, 8, 8000}});
    svx.soxReadOptions = {"-t", "8svx"};
    svx.sndfileReads = true;
    svx.peersSeePadding = true;  // libsndfile counts the pad byte of an odd body as a sample
    svx.soxWrites = {{1, 8, 8000}};
    svx.soxWriteOptions = {"-t", "8svx"};
    svx.refusedShapes = {{{2, 8, 22050}, kIFF8SVXChannelsErr}, {{1, 16, 22050}, kIFF8SVXWordSizeErr},
        {{1, 8, 96000}, -22601}, {{1, 8, 65536}, -22601}};
    svx.damagedHeaders = {{"no voice header", "VHDR", 0, {'X'}, kIFF8SVXNoVHDRErr, true},
        {"compressed", "VHDR", 8 + 15, {1}, kUnsupportedCompressionErr, true},
        {"no body", "BODY", 0, {'X'}, kChunkNotFoundErr},
        // An unfinished body runs to the end of the file, as far as the
        // voice header counts.
        {"unknown body size", "BODY", 4, {0xFF, 0xFF, 0xFF, 0xFF}, noErr, false, 0, false},
        {"unknown body size, cut", "BODY", 4, {0xFF, 0xFF, 0xFF, 0xFF}, noErr, false, 100, true}};
    all.push_back(svx);

    FormatTraits cd = Traits("CDImage", FOUR_CHAR_CODE("IDAT"), {{2, 16, 44100}});
    cd.soxReadOptions = {"-t", "raw", "-e", "signed-integer", "-b", "16", "-L", "-c", "2", "-r", "44100"};
    cd.soxWrites = {{2, 16, 44100}};
    cd.detectsPeerFiles = false;  // headerless: typed by its name
    cd.soxWriteOptions = {"-t", "raw", "-e", "signed-integer", "-L"};
    cd.samplesToTheEnd = {0, 4};
    all.push_back(cd);

    // 24-bit Paris files hold whole groups of ten frames: their frame count is
    // rounded up, so that shape is checked in the reading direction only.
    FormatTraits paris = Traits("Paris", FOUR_CHAR_CODE(" paf"), {{1, 16, 44100}, {2, 8, 22050}});
    paris.soxReadOptions = {"-t", "paf"};
    paris.sndfileReads = true;
    paris.soxWrites = {{1, 16, 44100}, {2, 24, 48000}, {2, 8, 22050}};
    paris.soxWriteOptions = {"-t", "paf"};
    paris.sndfileExtension = "paf";
    paris.formatName = "Paris linear";
    // A header that is not all there is refused.
    paris.exactTruncation = {2048, 2048, kParisNoHeaderErr, 2};
    paris.damagedHeaders = {{"a frame longer than the samples", "", 20, {0, 0, 0x03, 0xE8}, kDataHoldsNoFrameErr}};
    paris.samplesToTheEnd = {2048, 2};
    all.push_back(paris);

    FormatTraits sd1 = Traits("SoundDesignerI", FOUR_CHAR_CODE("Sd1f"), {{1, 16, 44100}, {1, 8, 22050}});
    sd1.truncationBytesChecked = 1400;  // the 1336-byte header
    sd1.exactTruncation = {1336, 1336, 1, 2};  // every cut of the header refused
    sd1.refusedShapes = {{{2, 16, 44100}, kIncompatibleChannelsErr}, {{1, 24, 44100}, kSD1BadWordSizeErr}};
    sd1.damagedHeaders = {{"12-bit words", "", 1038, {0, 12}, kSD1BadWordSizeErr}};
    all.push_back(sd1);

    FormatTraits voc = Traits("CreativeVoice", FOUR_CHAR_CODE("VOC "), {{1, 8, 8000}});
    voc.soxReadOptions = {"-t", "voc"};
    voc.sndfileReads = voc.ffmpegReads = true;
    voc.soxWrites = {{1, 8, 8000}};
    voc.soxWriteOptions = {"-t", "voc"};
    voc.ffmpegWrites = {{{1, 8, 8000}, {"-c:a", "pcm_u8", "-f", "voc"}}};
    voc.truncationBytesChecked = std::size_t(1) << 16;  // every prefix
    voc.refusedShapes = {{{1, 8, 11025}, kVOCSampleRateErr}, {{1, 8, 22050}, kVOCSampleRateErr},
        {{2, 8, 8000}, kVOCChannelsErr}, {{1, 16, 8000}, kVOCWordSizeErr}};
    all.push_back(voc);

    FormatTraits voc2 = Traits("CreativeVoice16", FOUR_CHAR_CODE("VOC2"), {{2, 16, 44100}, {1, 16, 22050}});
    voc2.truncationBytesChecked = std::size_t(1) << 16;
    voc2.refusedShapes = {{{2, 8, 44100}, kVOCSBWordSizeErr}, {{0, 16, 44100}, kVOCChannelsErr},
        {{1, 16, 0}, kVOCSampleRateErr}};
    voc2.soxReadOptions = {"-t", "voc"};
    voc2.sndfileReads = voc2.ffmpegReads = true;
    voc2.soxWrites = {{1, 16, 22050}, {2, 16, 11025}, {2, 8, 8000}};
    voc2.soxWriteOptions = {"-t", "voc"};
    voc2.sndfileExtension = "voc";
    // ffmpeg's 16-bit stereo (block 9; short enough for one block) and 8-bit
    // stereo (block 8 ahead of block 1).
    voc2.ffmpegWrites = {{{2, 16, 22050}, {"-f", "voc"}}, {{2, 8, 8000}, {"-c:a", "pcm_u8", "-f", "voc"}}};
    all.push_back(voc2);

    FormatTraits sonic = Traits("SonicAIFF", FOUR_CHAR_CODE("SAIF"), {{1, 16, 48000}, {2, 24, 48000}});
    sonic.soxReadOptions = {"-t", "aiff"};
    sonic.sndfileReads = sonic.ffmpegReads = true;
    sonic.peersSeePadding = true;
    sonic.truncationBytesChecked = 2600;  // every prefix of the header block and the first samples
    all.push_back(sonic);

    // Dawn writes plain AIFF (no CHAN chunk) that detection knows as its own.
    FormatTraits dawn = Traits("DawnAIFF", FOUR_CHAR_CODE("Dawn"), {{1, 16, 44100}, {1, 24, 48000}});
    dawn.openWarnings = {-22204};
    dawn.soxReadOptions = {"-t", "aiff"};
    dawn.sndfileReads = dawn.ffmpegReads = true;
    all.push_back(dawn);

    // The resources live in the "._name" sidecar, where libsndfile keeps them too.
    FormatTraits sd2 = Traits("SoundDesignerII", FOUR_CHAR_CODE("Sd2f"),
                              {{1, 16, 44100}, {2, 24, 48000}, {2, 8, 44100}, {2, 32, 44100}});
    sd2.formatName = "SoundDesigner II";
    sd2.splitSuffix = "(.L/.R)";
    sd2.sndfileReads = true;
    sd2.soxWrites = {{2, 16, 44100}, {3, 24, 22050}, {1, 8, 22050}, {3, 32, 22050}};
    sd2.sndfileExtension = "sd2";
    sd2.samplesToTheEnd = {0, 2};  // the whole data fork
    sd2.annotations.markers = sd2.annotations.loops = sd2.annotations.loopTypes = sd2.annotations.regions = true;
    all.push_back(sd2);

    // System 7 sounds: the samples in the 'snd ' resource of the fork.
    FormatTraits snd = Traits("SoundResource", FOUR_CHAR_CODE("sfil"), {{1, 8, 11025}, {2, 8, 22254.5}, {2, 16, 48000}});
    snd.refusedShapes = {{{1, 24, 44100}, kSndWordSizeErr}, {{1, 16, 96000}, kBadSampleRateErr}};
    all.push_back(snd);

    // The AIFF and WAVE families and 8SVX answer a closed file's Close as the
    // file system does; the others with the sound-file code.
    for (FormatTraits& t : all) {
        const bool fileSystemCode = t.name.find("AIFF") != std::string::npos || t.name.find("WAVE") != std::string::npos
            || t.name == "BroadcastWave" || t.name == "IFF8SVX";
        t.closeOfAClosedFile = fileSystemCode ? fnOpnErr : kFileNotOpenedErr;
    }
    return all;
}

}  // namespace

QM_INSTANTIATE_FORMAT_CONFORMANCE(PCM, PCMFormats());
