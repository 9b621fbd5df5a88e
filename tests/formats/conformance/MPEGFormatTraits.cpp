// The MPEG family (qm_formats_mpeg) in the conformance suite: the Layer I
// and II coders, Broadcast Wave MPEG and MP3 through the outside encoder.
// Each codes its whole file when it is closed and only writes: its files
// are read back as inputs are, through the media layer ('MooV').  The
// shape's word length is the bit rate in kbit/s.  The first shape of each
// is at 48 kHz, where no frame is padded: every frame of the default file
// has the same length.
#include "CDropMP3File.h"
#include "FormatTraits.h"

namespace {

// The frames a decoder gives of a raw stream of n input frames: the stream
// runs on until it holds the last input sample, `lag` frames late, in whole
// coded frames of `frame` samples.
std::function<UInt32(UInt32)> WholeFramesAfterLag(UInt32 frame, UInt32 lag)
{
    return [frame, lag](UInt32 n) { return n == 0 ? 0 : (n + lag + frame - 1) / frame * frame; };
}

FormatTraits Coder(const char* name, OSType type, std::vector<FormatShape> shapes)
{
    FormatTraits t;
    t.name = name;
    t.type = type;
    t.readAs = FOUR_CHAR_CODE("MooV");
    t.detectedAs = FOUR_CHAR_CODE("MooV");
    t.shapes = std::move(shapes);
    t.lossy = true;
    t.minSnrDb = 10;
    t.encodesOnClose = true;
    t.ffmpegReads = true;
    // Three Layer II frames: a raw stream of one frame is no stream to the
    // demultiplexer (ffprobe refuses it too).
    t.frames = 2501;
    t.truncationBytesChecked = 16;
    return t;
}

std::vector<FormatTraits> MPEGFormats()
{
    std::vector<FormatTraits> all;

    // Raw streams: the decoded audio lags by the subband filters' 481
    // frames (ffmpeg's decoding of twolame's and ffmpeg's own Layer II
    // streams shows the same), Layer I's by 64 more (the coder's own
    // alignment: no peer codes Layer I), and runs on to the end of the
    // whole frame that holds the last input frame; nothing tells the
    // length, so only a cut inside a frame is seen.
    FormatTraits layer1 = Coder("MPEGLayerI", FOUR_CHAR_CODE("MPG1"), {{1, 128, 48000}, {2, 192, 44100}});
    layer1.framesHeld = WholeFramesAfterLag(384, 545);
    layer1.codingDelay = 545;
    layer1.samplesToTheEnd = {0, 128};  // 12 * 128000 / 48000 slots of 4 bytes
    all.push_back(layer1);

    FormatTraits layer2 = Coder("MPEGLayerII", FOUR_CHAR_CODE("MPG2"), {{1, 96, 48000}, {2, 192, 44100}});
    layer2.framesHeld = WholeFramesAfterLag(1152, 481);
    layer2.codingDelay = 481;
    layer2.samplesToTheEnd = {0, 288};  // 144 * 96000 / 48000
    all.push_back(layer2);

    // The Broadcast Wave form: Layer II frames whose 'fact' chunk counts
    // the frames written; ours reads them in place, after the lag, while
    // the peers decode the lag and the whole last frame.
    FormatTraits bwf = Coder("BroadcastWaveMPEG", FOUR_CHAR_CODE("BWMP"), {{1, 96, 48000}, {2, 192, 44100}});
    bwf.peerDelay = 481;
    bwf.peersSeePadding = true;
    // Read in place, a block's sound spreads over the silence just before
    // it (the subband filters' reach).
    bwf.silenceError = SInt64(1) << 26;  // -30 dB
    all.push_back(bwf);

    // MP3: the encoder's delay and padding are in its info frame, which
    // trims the decoding to the frames written; its frames spread a block's
    // sound over the silence before it; movie inputs read 24 bits of
    // ffmpeg's float decoding.  The info frame is one of the 384-byte frames.
    FormatTraits mp3 = Coder("LAMEMP3", CDropMP3File::kType, {{2, 128, 48000}, {1, 64, 44100}});
    mp3.detectedAs = FOUR_CHAR_CODE("Mp3 ");
    mp3.silenceError = SInt64(1) << 26;  // -30 dB
    mp3.peerTolerance = 1 << 8;
    mp3.samplesToTheEnd = {0, 384};  // 144 * 128000 / 48000
    all.push_back(mp3);
    return all;
}

}  // namespace

QM_INSTANTIATE_FORMAT_CONFORMANCE(MPEG, MPEGFormats());
