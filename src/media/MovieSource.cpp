#include "MovieSource.h"
#include "error_codes.h"
#include "FlacFrameDecoder.h"
#include "FlacFrameWalk.h"
#include "FlacLengthRule.h"
#include "FlacStreamCheck.h"
#include "MediaCodes.h"
#include "OggLengthRule.h"
#include "PositionedFile.h"
#include "RateChangeBridge.h"
#include "RawStreamLengthRule.h"
#include "VorbisBlocks.h"
#include "TrackLengthRule.h"
#include "TrackVerdict.h"

#include "ByteOrder.h"
#include "MacErrorMapping.h"
#include "RIFFChunkList.h"
#include "aiff_chunks.h"
#include "caf_chunks.h"
#include "mov_chan_atom.h"
#include "mpeg_tables.h"
#include "progress_channel.h"
#include "wave_chunks.h"


#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sample_formats.h"

#include "media_calls.h"

namespace {

// The label of one of the libraries' channels (see ChannelLabels.h for
// the surround pairs).
UInt32 LabelForChannel(AVChannel channel, bool hasBackPair)
{
    if (channel >= AV_CHAN_FRONT_LEFT && channel <= AV_CHAN_TOP_BACK_RIGHT)
        return ChannelLabelForSpeakerBit(unsigned(channel), hasBackPair);
    switch (channel) {
    case AV_CHAN_WIDE_LEFT: return kAudioChannelLabel_LeftWide;
    case AV_CHAN_WIDE_RIGHT: return kAudioChannelLabel_RightWide;
    case AV_CHAN_LOW_FREQUENCY_2: return kAudioChannelLabel_LFE2;
    default: return kAudioChannelLabel_Unknown;
    }
}

std::vector<UInt32> LabelsForLayout(const AVChannelLayout& layout)
{
    const int count = layout.nb_channels;
    std::vector<UInt32> labels;
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || count <= 0) {
        if (count == 1)
            labels = {kAudioChannelLabel_Center};
        else if (count == 2)
            labels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
        else
            labels.assign(std::size_t(std::max(count, 0)), kAudioChannelLabel_Unknown);
        return labels;
    }
    const bool hasBackPair = av_channel_layout_index_from_channel(&layout, AV_CHAN_BACK_LEFT) >= 0 ||
                             av_channel_layout_index_from_channel(&layout, AV_CHAN_BACK_RIGHT) >= 0;
    for (int i = 0; i < count; ++i)
        labels.push_back(LabelForChannel(av_channel_layout_channel_from_index(&layout, unsigned(i)), hasBackPair));
    return labels;
}

// How late an MPEG Layer I or II decoder gives back its encoder's input: the
// analysis and synthesis filterbanks' delay.
constexpr UInt64 kFilterbankLag = 481;

// The demuxer's result while a file is opened.  Its ENOMEM comes from the
// sizes the file's tables claim (far beyond any real file), not from a
// shortage of memory: the file's own failure.
OSErr ErrorFromAV(int code, OSErr fallback)
{
    if (code == AVERROR(ENOENT))
        return fnfErr;
    if (code == AVERROR(EACCES) || code == AVERROR(EPERM))
        return MacErrorFromErrno(EACCES);
    if (code == AVERROR(ENOMEM))
        return kCorruptChunkSizeErr;
    if (code == AVERROR(EIO))
        return ioErr;
    return fallback;
}

bool IsMPEGAudio(AVCodecID id)
{
    return id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
}

// The length in bytes of the MPEG audio frame whose 4-byte header `p`
// holds; 0 for a free-format frame or bytes that are no frame header.
std::size_t MPEGFrameBytes(const uint8_t* p)
{
    return std::size_t(std::max(mpeg::FrameBytes(p), 0));
}

// Whether the checksum of an MPEG Layer I frame (`size` bytes) holds, as the
// standard defines it: a CRC-16 (polynomial 0x8005, starting from all ones)
// over the header's last two bytes and the bit allocation that follows the
// checksum.  In joint stereo the allocation of the subbands from the bound
// on is sent once for both channels, so fewer bits are protected there than
// in plain stereo.  True for a frame that carries no checksum.
bool LayerOneChecksumHolds(const uint8_t* frame, int size)
{
    if (size < 4 || (frame[1] & 0x01) != 0)
        return true;
    const int mode = frame[3] >> 6;
    const int channels = mode == 3 ? 1 : 2;
    const int bound = mode == 1 ? 4 * (((frame[3] >> 4) & 3) + 1) : 32;
    const int allocationBytes = (bound * channels + (32 - bound)) * 4 / 8;
    if (size < 6 + allocationBytes)
        return false;
    UInt32 crc = 0xFFFF;
    const auto add = [&crc](uint8_t byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = ((crc >> 15) ^ (byte >> bit)) & 1;
            crc = (crc << 1) & 0xFFFF;
            if (top)
                crc ^= 0x8005;
        }
    };
    add(frame[2]);
    add(frame[3]);
    for (int i = 0; i < allocationBytes; ++i)
        add(frame[6 + i]);
    return crc == ((UInt32(frame[4]) << 8) | frame[5]);
}

// The whole frames of a short raw MPEG audio stream at `path`: frames of
// one version, layer and rate from its first byte to its last, or to a
// last frame cut short (*cut); -1 for any other file.  `header` (may be
// null) gets the first frame's header.
int ShortMPEGStreamFrames(const std::string& path, bool* cut, uint8_t* header)
{
    constexpr std::size_t kMostBytes = 1 << 16;
    PositionedFile file(path);
    if (!file.IsOpen() || file.Size() > int64_t(kMostBytes))
        return -1;
    std::vector<uint8_t> bytes(std::size_t(file.Size()));
    const std::size_t size = file.Read(0, bytes.data(), bytes.size());
    std::size_t at = 0;
    int frames = 0;
    *cut = false;
    while (at + 4 <= size) {
        const std::size_t length = MPEGFrameBytes(&bytes[at]);
        // The same sync, version, layer and rate as the first frame.
        if (length == 0 || bytes[at + 1] != bytes[1] || ((bytes[at + 2] ^ bytes[2]) & 0x0C))
            return -1;
        if (at + length > size) {
            at = size;
            *cut = true;
            break;
        }
        at += length;
        ++frames;
    }
    if (at != size || frames == 0)
        return -1;
    if (header)
        std::memcpy(header, bytes.data(), 4);
    return frames;
}

// Whether the file at `path` is a short raw MPEG audio stream of two or
// more whole frames (the content alone then tells, however low the
// libraries score it).
bool IsShortMPEGStream(const std::string& path)
{
    bool cut = false;
    return ShortMPEGStreamFrames(path, &cut, nullptr) >= 2;
}

// A file as a demuxer is given it where the file's own bytes would stop it
// short of what it holds: some of its bytes replaced (each patch at its
// position), and `tail` read after its end.  What is read of the tail is
// the view's, never the file's (FileView::Bytes).
class FileView {
public:
    struct Patch {
        int64_t at;
        std::vector<uint8_t> bytes;
    };
    bool Open(const std::string& path, std::vector<Patch> patches, std::vector<uint8_t> tail)
    {
        file_ = std::fopen(path.c_str(), "rb");
        if (!file_)
            return false;
        struct stat info;
        size_ = ::fstat(::fileno(file_), &info) == 0 ? int64_t(info.st_size) : -1;
        patches_ = std::move(patches);
        tail_ = std::move(tail);
        return size_ >= 0 && std::all_of(patches_.begin(), patches_.end(), [this](const Patch& p) {
                   return p.at >= 0 && p.at + int64_t(p.bytes.size()) <= size_;
               });
    }
    ~FileView()
    {
        if (file_)
            std::fclose(file_);
    }
    FileView() = default;
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;
    // The file's own bytes.
    int64_t Bytes() const { return size_; }

    static int Read(void* opaque, uint8_t* buffer, int size)
    {
        auto* view = static_cast<FileView*>(opaque);
        int done = 0;
        if (view->position_ < view->size_) {
            if (::fseeko(view->file_, off_t(view->position_), SEEK_SET) != 0)
                return AVERROR(EIO);
            done = int(std::fread(buffer, 1, std::size_t(std::min<int64_t>(size, view->size_ - view->position_)),
                                  view->file_));
            for (const Patch& patch : view->patches_) {
                const int64_t from = std::max(view->position_, patch.at);
                const int64_t to = std::min(view->position_ + done, patch.at + int64_t(patch.bytes.size()));
                for (int64_t at = from; at < to; ++at)
                    buffer[at - view->position_] = patch.bytes[std::size_t(at - patch.at)];
            }
        }
        const int64_t end = view->size_ + int64_t(view->tail_.size());
        for (; done < size && view->position_ + done >= view->size_ && view->position_ + done < end; ++done)
            buffer[done] = view->tail_[std::size_t(view->position_ + done - view->size_)];
        view->position_ += done;
        return done > 0 ? done : AVERROR_EOF;
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence)
    {
        auto* view = static_cast<FileView*>(opaque);
        const int64_t length = view->size_ + int64_t(view->tail_.size());
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return length;
        case SEEK_SET: break;
        case SEEK_CUR: offset += view->position_; break;
        case SEEK_END: offset += length; break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        view->position_ = offset;
        return offset;
    }

private:
    std::FILE* file_ = nullptr;
    int64_t size_ = -1;
    int64_t position_ = 0;
    std::vector<Patch> patches_;
    std::vector<uint8_t> tail_;
};

// A four-byte big-endian size as a patch at `at`.
FileView::Patch SizePatch(int64_t at, SInt64 size)
{
    FileView::Patch patch{at, std::vector<uint8_t>(4)};
    WriteBE32(patch.bytes.data(), UInt32(size));
    return patch;
}

// The view a file needs for the demuxer `*demuxer` to open it: a raw MPEG
// audio stream of too few frames for the demuxer (it wants to see the
// header of a frame after the first, an information frame's too) is
// followed by a copy of its first frame's header.  An AIFF file cut short
// whose FORM chunk goes on after its sound (a marker chunk written last)
// has its FORM chunk end where the file ends, so that its sound is read to
// there; one written to a pipe, whose FORM and 'SSND' sizes were left
// unknown (0 or 0xFFFFFFFF), has both end there.  False for any other
// file.
bool ViewFor(const std::string& path, FileView* view, const char** demuxer)
{
    bool cut = false;
    uint8_t header[12];
    if (ShortMPEGStreamFrames(path, &cut, header) >= 1 && !cut) {
        *demuxer = "mp3";
        return view->Open(path, {}, std::vector<uint8_t>(header, header + 4));
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    StreamChunkSource source(in);
    ChunkReader reader(source, aiff_chunks::WalkOptions());
    if (reader.ReadHeader() != noErr || reader.ContainerID() != aiff_chunks::kFORM ||
        (reader.FormType() != aiff_chunks::kAIFF && reader.FormType() != aiff_chunks::kAIFC))
        return false;
    const SInt64 length = reader.FileLength();
    if (length > 0xFFFFFFFFLL)
        return false;
    std::vector<FileView::Patch> patches;
    if (reader.ContainerSizeUnknown() || SInt64(reader.ContainerSizeField()) + 8 > length)
        patches.push_back(SizePatch(4, length - 8));
    ChunkInfo sound;
    if (reader.Find(aiff_chunks::kSSND, &sound) == noErr && sound.sizeUnknown)
        patches.push_back(SizePatch(sound.SizePos(), sound.bodySize));
    if (patches.empty())
        return false;
    *demuxer = "aiff";
    return view->Open(path, std::move(patches), {});
}

// The labels of a layout in the libraries' native order: its speakers in
// the order of their bits (LabelsForLayout, without the libraries).
std::vector<UInt32> LabelsForMask(uint64_t mask)
{
    const bool hasBackPair = (mask & (AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT)) != 0;
    std::vector<UInt32> labels;
    for (int bit = 0; bit < 64; ++bit)
        if (mask & (uint64_t(1) << bit))
            labels.push_back(LabelForChannel(AVChannel(bit), hasBackPair));
    return labels;
}

// The layouts the libraries give a FLAC stream of 1 to 8 channels that
// names none of its own.
constexpr uint64_t kFlacLayouts[8] = {AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,  AV_CH_LAYOUT_SURROUND,
                                      AV_CH_LAYOUT_QUAD,    AV_CH_LAYOUT_5POINT0, AV_CH_LAYOUT_5POINT1,
                                      AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_7POINT1};

// The STREAMINFO body of a native FLAC file (into `info`) whose metadata
// blocks the libraries read as plainly as the file's own reading does:
// STREAMINFO first, of a shape their probe takes with full confidence,
// then only padding, application data, a seek table, pictures and Vorbis
// comments that name no channel mask but the one the libraries give the
// channels anyway (kFlacLayouts).  False for any other file, and for one
// whose blocks do not parse.
bool PlainFlacHead(const std::string& path, uint8_t* info)
{
    PositionedFile file(path);
    const int64_t size = file.Size();
    uint8_t head[8];
    if (file.Read(0, head, 8) != 8 || std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        (ReadBE32(head + 4) & 0xFFFFFF) != FlacStreamCheck::kStreamInfoBytes ||
        file.Read(8, info, FlacStreamCheck::kStreamInfoBytes) != FlacStreamCheck::kStreamInfoBytes)
        return false;
    const UInt32 minBlock = (UInt32(info[0]) << 8) | info[1];
    const UInt32 maxBlock = (UInt32(info[2]) << 8) | info[3];
    const UInt32 rate = (UInt32(info[10]) << 12) | (UInt32(info[11]) << 4) | (info[12] >> 4);
    if (minBlock < 16 || maxBlock < minBlock || rate == 0 || rate > 655350)
        return false;
    bool last = (head[4] & 0x80) != 0;
    int64_t pos = 8 + int64_t(FlacStreamCheck::kStreamInfoBytes);
    while (!last) {
        uint8_t block[4];
        if (file.Read(pos, block, 4) != 4)
            return false;
        last = (block[0] & 0x80) != 0;
        const int type = block[0] & 0x7F;
        const UInt32 length = ReadBE32(block) & 0xFFFFFF;
        pos += 4;
        if (pos + int64_t(length) > size)
            return false;
        if (type == 4) {
            std::vector<uint8_t> body(length);
            if (file.Read(pos, body.data(), length) != length)
                return false;
            std::size_t at = 0;
            const auto field = [&](UInt32* value) {
                if (length - at < 4)
                    return false;
                *value = ReadLE32(body.data() + at);
                at += 4;
                return true;
            };
            UInt32 vendor = 0, count = 0;
            if (!field(&vendor) || length - at < vendor)
                return false;
            at += vendor;
            if (!field(&count))
                return false;
            static constexpr char kMask[] = "WAVEFORMATEXTENSIBLE_CHANNEL_MASK";
            constexpr std::size_t kKey = sizeof kMask - 1;
            const UInt32 channels = ((info[12] >> 1) & 7) + 1;
            bool masked = false;
            for (UInt32 i = 0; i < count; ++i) {
                UInt32 bytes = 0;
                if (!field(&bytes) || length - at < bytes)
                    return false;
                const char* text = reinterpret_cast<const char*>(body.data() + at);
                if (bytes > kKey && text[kKey] == '=' && ::strncasecmp(text, kMask, kKey) == 0) {
                    // One mask, a plain number, that of the default layout.
                    const std::string value(text + kKey + 1, bytes - kKey - 1);
                    char* end = nullptr;
                    const unsigned long long mask =
                        value.empty() || !std::isdigit(static_cast<unsigned char>(value[0]))
                            ? 0 : std::strtoull(value.c_str(), &end, 0);
                    if (masked || !end || *end != '\0' || mask != kFlacLayouts[channels - 1])
                        return false;
                    masked = true;
                }
                at += bytes;
            }
        } else if (type != 1 && type != 2 && type != 3 && type != 6) {
            return false;
        }
        pos += int64_t(length);
    }
    return true;
}

// Codecs whose decoder gives every packet's sound as soon as it has it
// (no packet of theirs gives nothing unless it is refused).
bool SoundPerPacket(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
    case AV_CODEC_ID_OPUS:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
        return true;
    default:
        return false;
    }
}

bool Trusted(AVCodecID id)
{
    // Codecs whose decoder delivers exactly each packet's duration, also
    // right after a flush: the frame count can be read off the packets.
    switch (id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_ALAC:
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_PCM_ALAW:
    case AV_CODEC_ID_PCM_MULAW:
    case AV_CODEC_ID_ADPCM_IMA_QT:
    case AV_CODEC_ID_ADPCM_IMA_WAV:
        return true;
    default:
        break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && d->name && std::strncmp(d->name, "pcm_", 4) == 0;
}

OSType DataFormatFor(AVCodecID id)
{
    switch (id) {
    case AV_CODEC_ID_PCM_ALAW: return media_codes::kALaw;
    case AV_CODEC_ID_PCM_MULAW: return media_codes::kULaw;
    case AV_CODEC_ID_ADPCM_IMA_QT: return media_codes::kIMA4;
    case AV_CODEC_ID_ADPCM_IMA_WAV: return 0x6D730011; // 'ms\0\x11'
    case AV_CODEC_ID_MP1: return FOUR_CHAR_CODE(".mp1");
    case AV_CODEC_ID_MP2: return FOUR_CHAR_CODE(".mp2");
    case AV_CODEC_ID_MP3: return FOUR_CHAR_CODE(".mp3");
    case AV_CODEC_ID_AAC: return FOUR_CHAR_CODE("aac ");
    case AV_CODEC_ID_ALAC: return FOUR_CHAR_CODE("alac");
    case AV_CODEC_ID_FLAC: return FOUR_CHAR_CODE("flac");
    case AV_CODEC_ID_VORBIS: return FOUR_CHAR_CODE("vorb");
    case AV_CODEC_ID_OPUS: return FOUR_CHAR_CODE("opus");
    case AV_CODEC_ID_AMR_NB: return FOUR_CHAR_CODE("samr");
    case AV_CODEC_ID_AMR_WB: return FOUR_CHAR_CODE("sawb");
    case AV_CODEC_ID_AC3: return FOUR_CHAR_CODE("ac-3");
    default: break;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d && d->name && std::strncmp(d->name, "pcm_", 4) == 0 ? FOUR_CHAR_CODE("lpcm") : 0;
}

// swresample's conversions to signed 32-bit integers: floats scaled by 2^31
// in their own precision, rounded to nearest (ties to even) and saturated.
// A sample that is not a number (a damaged float file) reads as silence.
inline SInt32 RoundSaturated(double scaled)
{
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483647.0)
        return INT32_MAX;
    if (scaled <= -2147483648.0)
        return INT32_MIN;
    return SInt32(std::nearbyint(scaled));
}
inline SInt32 FromFloatF(float x)
{
    const float scaled = x * 2147483648.0f;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483648.0f)
        return INT32_MAX;
    if (scaled <= -2147483648.0f)
        return INT32_MIN;
#if defined(__SSE__)
    return _mm_cvtss_si32(_mm_set_ss(scaled)); // the current (nearest-even) rounding
#else
    return SInt32(std::nearbyint(scaled));
#endif
}

// FromFloatF over `count` consecutive samples, four at a time where SSE2
// is there; with Counted, the number of samples beyond full scale.  The
// conversion saturates and rounds exactly as FromFloatF: out of range (and
// NaN) the vector conversion gives 0x80000000, which the masks turn into
// INT32_MAX above the range and 0 for NaN.
template <bool Counted>
UInt64 FloatsToWords(const float* p, SInt32* out, UInt32 count)
{
    UInt32 i = 0;
    UInt64 clipped = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(2147483648.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 minusOne = _mm_set1_ps(-1.0f);
    __m128i over = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_loadu_ps(p + i);
        const __m128 scaled = _mm_mul_ps(x, scale);
        __m128i w = _mm_cvtps_epi32(scaled);
        w = _mm_xor_si128(w, _mm_castps_si128(_mm_cmpge_ps(scaled, scale)));
        w = _mm_and_si128(w, _mm_castps_si128(_mm_cmpord_ps(scaled, scaled)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), w);
        if constexpr (Counted)
            over = _mm_sub_epi32(over, _mm_castps_si128(_mm_or_ps(_mm_cmpgt_ps(x, one), _mm_cmplt_ps(x, minusOne))));
    }
    if constexpr (Counted) {
        alignas(16) UInt32 lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), over);
        clipped = UInt64(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    }
#endif
    for (; i < count; ++i) {
        if constexpr (Counted)
            clipped += UInt64(p[i] > 1.0f) | UInt64(p[i] < -1.0f);
        out[i] = FromFloatF(p[i]);
    }
    return clipped;
}

// `count` samples of one channel of a decoded frame, from sample `first`,
// as 32-bit integers.
// Float samples [countFrom, countTo) of them beyond full scale are counted
// as clipped.
void ConvertChannel(const AVFrame* frame, int channel, int channels, int first, UInt32 count, SInt32* out,
                    UInt32 countFrom, UInt32 countTo)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = SampleFormatIsPlanar(format);
    const std::size_t stride = planar ? 1 : std::size_t(channels);
    const std::size_t start = planar ? std::size_t(first) : std::size_t(first) * std::size_t(channels) + std::size_t(channel);
    const uint8_t* data = frame->extended_data[planar ? channel : 0];
    switch (PackedSampleFormat(format)) {
    case AV_SAMPLE_FMT_U8:
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32((UInt32(data[start + i * stride]) - 0x80u) << 24);
        break;
    case AV_SAMPLE_FMT_S16: {
        const auto* p = reinterpret_cast<const int16_t*>(data) + start;
        if (stride == 1) {
            for (UInt32 i = 0; i < count; ++i)
                out[i] = SInt32(UInt32(SInt32(p[i])) << 16);
            break;
        }
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32(UInt32(SInt32(p[i * stride])) << 16);
        break;
    }
    case AV_SAMPLE_FMT_S32: {
        const auto* p = reinterpret_cast<const int32_t*>(data) + start;
        if (stride == 1) {
            std::memcpy(out, p, std::size_t(count) * sizeof(SInt32));
            break;
        }
        for (UInt32 i = 0; i < count; ++i)
            out[i] = p[i * stride];
        break;
    }
    case AV_SAMPLE_FMT_S64: {
        const auto* p = reinterpret_cast<const int64_t*>(data) + start;
        for (UInt32 i = 0; i < count; ++i)
            out[i] = SInt32(p[i * stride] >> 32);
        break;
    }
    case AV_SAMPLE_FMT_FLT: {
        // The words end at full scale: the samples beyond it are clipped,
        // and counted for the file's warning.
        const auto* p = reinterpret_cast<const float*>(data) + start;
        UInt64 clipped = 0;
        if (stride == 1) {
            const UInt32 from = std::min(countFrom, count);
            const UInt32 to = std::clamp(countTo, from, count);
            FloatsToWords<false>(p, out, from);
            clipped = FloatsToWords<true>(p + from, out + from, to - from);
            FloatsToWords<false>(p + to, out + to, count - to);
            AddClippedSamples(clipped);
            break;
        }
        for (UInt32 i = 0; i < count; ++i) {
            clipped += UInt64(i >= countFrom && i < countTo) &
                       (UInt64(p[i * stride] > 1.0f) | UInt64(p[i * stride] < -1.0f));
            out[i] = FromFloatF(p[i * stride]);
        }
        AddClippedSamples(clipped);
        break;
    }
    case AV_SAMPLE_FMT_DBL: {
        const auto* p = reinterpret_cast<const double*>(data) + start;
        UInt64 clipped = 0;
        for (UInt32 i = 0; i < count; ++i) {
            clipped += UInt64(i >= countFrom && i < countTo) &
                       (UInt64(p[i * stride] > 1.0) | UInt64(p[i * stride] < -1.0));
            out[i] = RoundSaturated(p[i * stride] * 2147483648.0);
        }
        AddClippedSamples(clipped);
        break;
    }
    default:
        std::fill(out, out + count, 0);
        break;
    }
}

struct IndexEntry {
    int64_t pos;
    int64_t dts;
    UInt64 start;      // frames of the track before this packet
    bool seekable;     // no pending start skip; a known, increasing position
    UInt32 trim = 0;   // decoded frames dropped from the packet's start (the stream's delay)
    UInt32 frames = 0; // frames of the track the packet gives after that
    UInt32 priming = 0; // decoded frames that only prime the decoder (trimmed or discarded)
    UInt32 bytes = 0;   // the packet's size
    bool refused = false;  // the decoder refused it (counted once)
};

// Only regular files are opened (a pipe or device would block or never end).
OSErr CheckRegularFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return MacErrorFromLastErrno();
    return S_ISREG(info.st_mode) ? noErr : kUnknownFileFormatErr;
}

// The demuxer the file's content names with its name left out, or null
// when the content alone does not tell.  A raw MPEG audio, AC-3, E-AC-3 or
// ADTS stream of a few frames scores low however whole it is: its frames,
// one after the other to the end, tell.  fnfErr when the file cannot be
// read.
OSErr ContentFormat(const std::string& path, const AVInputFormat** input)
{
    *input = nullptr;
    AVIOContext* io = nullptr;
    if (avio_open(&io, path.c_str(), AVIO_FLAG_READ) < 0)
        return fnfErr;
    const AVInputFormat* guess = nullptr;
    const int score = av_probe_input_buffer2(io, &guess, "", nullptr, 0, 1 << 16);
    avio_closep(&io);
    if (guess && (score >= AVPROBE_SCORE_RETRY || (KindOfDemuxer(guess->name) == ContainerKind::MpegAudio && IsShortMPEGStream(path))))
        *input = guess;
    else if (const char* demuxer = RawStreamLengthRule::ShortStreamDemuxer(path))
        *input = av_find_input_format(demuxer);
    return noErr;
}

bool HasAudioStream(const AVFormatContext* format)
{
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return true;
    return false;
}

// Opens the file and reads its stream information (the libraries' code
// when that fails; `*format` is then null or still to be closed).  The
// libraries choose the demuxer from the content and the name together;
// where that choice finds no sound track (a name ending that belongs to
// another kind of file), the demuxer the content alone names is taken, as
// type detection does.
//
// A file the demuxer stops short of its sound (ViewFor) is opened through
// a FileView, which `*view` then holds (with the context it reads through,
// in `*io`, for the caller to free after `*format`).
int OpenInput(const std::string& path, AVFormatContext** format, std::unique_ptr<FileView>* view,
              AVIOContext** io)
{
    int rc = avformat_open_input(format, path.c_str(), nullptr, nullptr);
    if (rc >= 0)
        rc = avformat_find_stream_info(*format, nullptr);
    if (rc >= 0 && HasAudioStream(*format))
        return rc;
    if (view && io) {
        auto viewed = std::make_unique<FileView>();
        const char* demuxer = nullptr;
        constexpr int kBufferBytes = 4096;
        uint8_t* buffer = nullptr;
        AVFormatContext* byView = nullptr;
        if (ViewFor(path, viewed.get(), &demuxer) && (buffer = static_cast<uint8_t*>(av_malloc(kBufferBytes))) &&
            (*io = avio_alloc_context(buffer, kBufferBytes, 0, viewed.get(), &FileView::Read, nullptr,
                                      &FileView::Seek)) &&
            (byView = avformat_alloc_context())) {
            byView->pb = *io;
            byView->flags |= AVFMT_FLAG_CUSTOM_IO;
            if (avformat_open_input(&byView, path.c_str(), av_find_input_format(demuxer), nullptr) >= 0 &&
                avformat_find_stream_info(byView, nullptr) >= 0 && HasAudioStream(byView)) {
                avformat_close_input(format);
                *format = byView;
                *view = std::move(viewed);
                return 0;
            }
            avformat_close_input(&byView);
        } else if (!*io) {
            av_free(buffer);
        }
        if (*io) {
            av_freep(&(*io)->buffer);
            avio_context_free(io);
        }
    }
    const AVInputFormat* input = nullptr;
    if (ContentFormat(path, &input) != noErr || !input || (*format && (*format)->iformat == input))
        return rc;
    AVFormatContext* byContent = nullptr;
    if (avformat_open_input(&byContent, path.c_str(), input, nullptr) < 0)
        return rc;
    if (avformat_find_stream_info(byContent, nullptr) < 0 || !HasAudioStream(byContent)) {
        avformat_close_input(&byContent);
        return rc;
    }
    avformat_close_input(format);
    *format = byContent;
    return 0;
}

// The sample frames that the 'fact' chunk of a RIFF/WAVE file gives, or 0
// when it has none (or gives 0, a placeholder some writers leave).  The
// last block of a compressed stream holds whole blocks of frames; 'fact'
// says how many of them belong to the sound.
UInt64 WaveFactFrames(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return 0;
    StreamChunkSource source(in);
    RIFFChunkList chunks;
    UInt32 frames = 0;
    if (chunks.Walk(source) != noErr || chunks.ContainerID() != riff_chunks::kRIFF ||
        chunks.FormType() != media_codes::kWAVE || wave_chunks::ReadFact(chunks, &frames) != noErr)
        return 0;
    return frames;
}

// The length of the file at `path`; -1 when it cannot be told.
int64_t FileBytes(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) : -1;
}

void QuietLogs()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace

// ============================================================ the source

struct MovieSource::Impl {
    std::string path;
    AVFormatContext* format = nullptr;
    // A file the demuxer stops short of is read through a view (OpenInput).
    std::unique_ptr<FileView> view;
    AVIOContext* viewIO = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVCodecID codecID = AV_CODEC_ID_NONE;

    double sampleRate = 0;
    UInt32 channels = 0;
    // The track's frames, whether the file was cut short or damaged, what
    // the decoder could not turn into sound (a refused packet of the index
    // counted once, however often it is read), and each rule's line: every
    // rule's finding, this source's own and the container's, combined in
    // one place (TrackVerdict::Take).
    TrackVerdict verdict;
    // Packets that decode, all of whose frames the stream's delay and
    // padding take (an encoder's whole output for no sound).
    bool trimmedToNothing = false;
    std::vector<UInt32> fileLabels;
    AudioChannelLayoutTag fileTag = 0;
    std::vector<int> order;          // delivered channel -> decoded channel
    OSType fileFormat = 0;
    OSType dataFormat = 0;
    UInt32 sourceBits = 0;
    ContainerKind kind = ContainerKind::Other;
    bool hasVideo = false;
    UInt64 dataBytes = 0;
    UInt32 statedBitRate = 0;
    UInt32 mpegHeader = 0;
    mutable std::vector<MovieMetadataItem> metadata;  // read late while native
    std::vector<IndexEntry> index;
    bool trusted = false;
    // Whether the decoder settles within a few packets after a seek: the
    // fixed-point MPEG decoders carry dither and AAC its noise generator
    // from the start, so those streams are decoded from the start instead.
    bool seekExact = false;
    // Decoded frames before the sound's first frame (an MPEG stream in a
    // WAVE file: the filterbanks' delay).
    UInt64 startSkip = 0;

    // The frames of each packet (0: they vary).
    UInt64 framesPerPacket = 0;
    // The container's own rule for the track's length and losses.
    std::unique_ptr<TrackLengthRule> lengthRule;
    // The packet last tallied as refused, and its frames.
    int64_t lastTallied = -1;
    UInt64 lastTalliedFrames = 0;
    // End of the last packet's bytes, and the first packet's start (-1:
    // unknown).
    int64_t packetsEnd = 0;
    int64_t packetsStart = -1;
    // A FLAC stream's checksums and its end (FlacStreamCheck).
    FlacStreamCheck flac;
    // A native FLAC file's packets, decoded by libFLAC where each is one
    // whole frame (the rest by the FFmpeg decoder), and where the packet
    // sent last stands: its frame to give, given, or not decoded there.
    FlacFrameDecoder flacFrames;
    enum class FlacFrameState { None, Ready, Given } flacFrameState = FlacFrameState::None;
    // Where the count found a native FLAC file's packets whole and one
    // after another from its first frame to its last, they are read again
    // straight from the file by the index (the bytes the demuxer gave for
    // them), not through the demuxer: the packet read last is then
    // `directBytes` of `directSize`.
    bool flacDirect = false;
    // While counting: a native FLAC file's frames, where FlacFrameWalk
    // proves it whole, handed out as its packets.
    std::vector<FlacFrameWalk::Frame> walked;
    std::unique_ptr<PositionedFile> directFile;
    const uint8_t* directBytes = nullptr;
    std::size_t directSize = 0;
    // A raw MPEG audio stream: where the tags at the file's end begin (-1:
    // no such stream).  A tag the demuxer hands out as a packet is none.
    int64_t tagsFrom = -1;

    // A whole native FLAC file read without the media libraries
    // (OpenNativeFlac): libFLAC's samples are given in `nativeFrame`, and
    // the libraries' metadata is read when asked for.
    bool native = false;
    AVFrame nativeFrame{};
    mutable bool metadataPending = false;
    bool touched = false;       // read or sought since the opening

    // Decoding state: the piece of sound handed out next, which is silence
    // standing for a refused packet (`silence` frames) or the samples
    // frameOffset to frameEnd of the decoded frame pending; end of stream.
    UInt64 position = 0;        // frame the next Read starts at
    UInt64 clipCountedTo = 0;   // the frames below were counted for clipping
    UInt64 clipWindowFrom = 0;  // and only those in [from, to) are (SetClipCountWindow)
    UInt64 clipWindowTo = ~UInt64(0);
    UInt64 silence = 0;
    int frameOffset = 0;
    int frameEnd = 0;
    bool framePending = false;
    bool flushed = false;       // end of packets sent to the decoder
    bool finished = false;      // decoder drained
    // The index of the packet last read (-1: none yet), and whether it is
    // held for NextPacket to hand out again (a seek found it).
    int64_t packetOrdinal = -1;
    bool packetHeld = false;
    // The packet being decoded (where the index tells the frames): its
    // decoded frames still to drop and to give, and whether it gave any.
    bool inPacket = false;
    UInt64 packetSkip = 0;
    UInt64 packetLeft = 0;
    bool packetGave = false;
    bool packetFailed = false;  // the decoder refused it, or the rest of it
    // While the frames are counted by decoding: the packets refused.
    bool tallying = false;
    // While counting by decoding: the packet last sent gave no frame yet.
    bool sentGaveNothing = false;
    // While counting by decoding: the frames the decoder still drops from
    // the start of what it gives (the stream's skip, as its first packet
    // states it: an Opus pre-skip, an encoder's delay).  A packet whose
    // whole sound they take gives no frame, and is no refusal.
    UInt64 decoderSkip = 0;
    // While counting by decoding: the decoder gave a frame.
    bool gaveFrame = false;
    // Parts of the track that decode at another rate than its first (a
    // chained Ogg stream, joined MPEG audio or ADTS frames) reach the
    // reader at the track's rate through the bridge, made when the first
    // such frame is decoded; the track is then counted by decoding.
    std::unique_ptr<RateChangeBridge> bridge;
    // A decoded frame, or a run of frame headers, of another channel count
    // than the track's was met: such a track does not open.
    bool channelsChange = false;
    // The bridge could not convert a part (its reads fail with this code).
    OSErr shapeError = noErr;

    ~Impl() { CloseStreams(); }

    void CloseStreams()
    {
        if (frame == &nativeFrame)
            frame = nullptr;
        if (!frame && !packet && !codec && !format && !viewIO) {
            view.reset();
            return;
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (viewIO) {
            av_freep(&viewIO->buffer);
            avio_context_free(&viewIO);
        }
        view.reset();
    }

    OSErr OpenStreams(bool forCounting)
    {
        CloseStreams();
        if (const OSErr err = OpenDecoding(forCounting); err != noErr)
            return err;
        ResetDecoding();
        // Past the delay of a lagged stream (its frame 0 is the first
        // sample after it).
        if (!forCounting && startSkip > 0) {
            if (const OSErr err = Skip(startSkip); err != noErr)
                return err;
            position = 0;
        }
        return noErr;
    }

    // Back to the track's first frame: the streams opened again, or, read
    // without the libraries, the decoding begun again.
    OSErr Rewind()
    {
        if (!native)
            return OpenStreams(false);
        ResetDecoding();
        return noErr;
    }

    // The demuxer and the decoder, opened (the decoding state is the
    // caller's).
    OSErr OpenDecoding(bool forCounting)
    {
        if (const OSErr err = CheckRegularFile(path); err != noErr)
            return err;
        QuietLogs();
        if (const int rc = OpenInput(path, &format, &view, &viewIO); rc < 0) {
            // A file cut before what the demuxer needs (an MPEG-4 movie box
            // written last) is a cut file, not one of an unknown format.
            // (A Matroska demuxer cut short of its track list says so as
            // an I/O error.)
            const OSErr err = ErrorFromAV(rc, kUnknownFileFormatErr);
            return (err == kUnknownFileFormatErr || err == ioErr) && TrackLengthRule::CutBeforeReadable(path) ? eofErr
                                                                                                                : err;
        }
        stream = -1;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            AVStream* st = format->streams[i];
            if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && stream < 0)
                stream = int(i);
            else if (!forCounting)
                st->discard = AVDISCARD_ALL;
        }
        if (stream < 0)
            return kNoAudioTrackErr;
        for (unsigned i = 0; i < format->nb_streams; ++i)
            if (int(i) != stream)
                format->streams[i]->discard = AVDISCARD_ALL;
        AVStream* st = format->streams[stream];
        const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
        if (!decoder)
            return kNoAudioTrackErr;
        codec = avcodec_alloc_context3(decoder);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!codec || !packet || !frame)
            return memFullErr;
        if (avcodec_parameters_to_context(codec, st->codecpar) < 0)
            return kNoAudioTrackErr;
        codec->pkt_timebase = st->time_base;
        // A FLAC frame that fails its header or frame checksum is refused.
        if (st->codecpar->codec_id == AV_CODEC_ID_FLAC)
            codec->err_recognition |= FlacStreamCheck::kDecoderChecks;
        // Frames that carry a checksum are checked, and one that fails is
        // refused (not concealed with the frame before it): AC-3 always,
        // MPEG audio when its frames are protected.  Layer I frames are
        // checked here instead (SendPacket): the decoder's check takes the
        // bits of plain stereo for joint stereo too.
        if (st->codecpar->codec_id == AV_CODEC_ID_AC3 || st->codecpar->codec_id == AV_CODEC_ID_EAC3 ||
            (IsMPEGAudio(st->codecpar->codec_id) && st->codecpar->codec_id != AV_CODEC_ID_MP1 && mpegHeader != 0 &&
             !(mpegHeader & 0x10000u)))
            codec->err_recognition |= AV_EF_CRCCHECK | AV_EF_EXPLODE;
        if (avcodec_open2(codec, decoder, nullptr) < 0)
            return kNoAudioTrackErr;
        // Where the packets tell the frames, the index trims each decoded
        // frame; the libraries' own trimming would lose count of a refused
        // packet's share.
        if (trusted)
            codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
        return noErr;
    }

    // Leaves the reading without the libraries for theirs, where it stands
    // (a frame libFLAC refused goes to their decoder, as it would had the
    // file been opened through them).  False, and nothing changed, where
    // they cannot be opened.
    bool AttachLibraries()
    {
        if (!MediaLibraries::Available())
            return false;
        frame = nullptr;
        native = false;
        if (OpenDecoding(false) == noErr)
            return true;
        CloseStreams();
        frame = &nativeFrame;
        native = true;
        return false;
    }

    // Empties `frame` (while native, its samples are libFLAC's).
    void ClearFrame()
    {
        if (frame == &nativeFrame)
            nativeFrame = AVFrame{};
        else
            av_frame_unref(frame);
    }

    void ResetDecoding()
    {
        bridge.reset();
        position = silence = 0;
        frameOffset = frameEnd = 0;
        framePending = flushed = finished = packetHeld = inPacket = sentGaveNothing = false;
        flacFrameState = FlacFrameState::None;
        packetOrdinal = -1;
        decoderSkip = 0;
        gaveFrame = false;
    }

    // Reads the next packet of the sound track (packetOrdinal counts it);
    // false at the end.
    bool NextPacket()
    {
        if (packetHeld) {
            packetHeld = false;
            return true;
        }
        if (flacDirect)
            return NextDirectPacket();
        if (!walked.empty())
            return NextWalkedPacket();
        for (;;) {
            av_packet_unref(packet);
            const int rc = av_read_frame(format, packet);
            if (rc < 0)
                return false;
            // What is read past a viewed stream's end is the view's.
            if (view && (packet->pos < 0 || packet->pos >= view->Bytes()))
                continue;
            if (flac.Repeated(packet->pos) || IsTag())
                continue;
            if (packet->stream_index == stream) {
                ++packetOrdinal;
                return true;
            }
        }
    }

    // The `bytes` bytes of the file from `pos` (valid until the next call).
    const uint8_t* FileBytesAt(int64_t pos, UInt32 bytes)
    {
        if (!directFile)
            directFile = std::make_unique<PositionedFile>(path);
        return directFile->View(pos, bytes);
    }

    // The next packet of the index, straight from the file (flacDirect).
    bool NextDirectPacket()
    {
        const std::size_t k = std::size_t(packetOrdinal + 1);
        if (k >= index.size() || !(directBytes = FileBytesAt(index[k].pos, index[k].bytes)))
            return false;
        directSize = index[k].bytes;
        packetOrdinal = int64_t(k);
        return true;
    }

    // The next frame the walk found, as the demuxer gives it: its
    // position, size, time stamps and duration.  Its bytes are not read
    // again: the count judges a walked frame by these alone (the walk
    // proved it whole), so the packet holds none.
    bool NextWalkedPacket()
    {
        const std::size_t k = std::size_t(packetOrdinal + 1);
        if (k >= walked.size())
            return false;
        const FlacFrameWalk::Frame& f = walked[k];
        av_packet_unref(packet);
        const AVStream* st = format->streams[stream];
        const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
        packet->data = nullptr;
        packet->size = int(f.bytes);
        packet->pos = f.pos;
        packet->pts = packet->dts = av_rescale_q(int64_t(f.start), rate, st->time_base);
        packet->duration = av_rescale_q(int64_t(f.samples), rate, st->time_base);
        packet->stream_index = stream;
        packet->flags = AV_PKT_FLAG_KEY;
        packetOrdinal = int64_t(k);
        return true;
    }

    // Whether the packets the count indexed can be read straight from the
    // file (flacDirect): a native FLAC file's, whole, undamaged, each
    // beginning where the one before ended.
    bool DirectPackets() const
    {
        if (kind != ContainerKind::Flac || !flacFrames.IsOpen() || !trusted || view || index.empty() ||
            verdict.Damaged() || verdict.Cut())
            return false;
        for (std::size_t k = 0; k < index.size(); ++k) {
            const IndexEntry& e = index[k];
            if (e.pos < 0 || e.bytes == 0 || (k > 0 && e.pos != index[k - 1].pos + int64_t(index[k - 1].bytes)))
                return false;
        }
        return true;
    }

    // Sends the packet read last to the decoder; a Layer I frame whose
    // checksum fails is refused before it.  A native FLAC file's packet
    // that is one whole frame is decoded by libFLAC instead, where the
    // index tells the frames (counting by decoding takes every frame from
    // the FFmpeg decoder).
    int SendPacket()
    {
        flacFrameState = FlacFrameState::None;
        const uint8_t* bytes = flacDirect ? directBytes : packet->data;
        const std::size_t size = flacDirect ? directSize : std::size_t(std::max(packet->size, 0));
        if (trusted && flacFrames.IsOpen() && flacFrames.Decode(bytes, size)) {
            TakeFlacFrame();
            return 0;
        }
        if (flacDirect) {
            // What libFLAC refused goes to the FFmpeg decoder, as the
            // demuxer's packet would.
            if (native && !AttachLibraries())
                return AVERROR_INVALIDDATA;
            const IndexEntry& e = index[std::size_t(packetOrdinal)];
            av_packet_unref(packet);
            if (av_new_packet(packet, int(directSize)) < 0)
                return AVERROR(ENOMEM);
            std::memcpy(packet->data, directBytes, directSize);
            packet->pos = e.pos;
            packet->pts = packet->dts = e.dts;
            packet->stream_index = stream;
            return avcodec_send_packet(codec, packet);
        }
        if (codecID == AV_CODEC_ID_MP1 && !LayerOneChecksumHolds(packet->data, packet->size))
            return AVERROR_INVALIDDATA;
        return avcodec_send_packet(codec, packet);
    }

    // Whether the packet read last is a tag of a raw MPEG audio stream.
    bool IsTag() const
    {
        if (tagsFrom < 0 || packet->stream_index != stream)
            return false;
        const auto starts = [this](const char* text) {
            const std::size_t n = std::strlen(text);
            return packet->size >= int(n) && std::memcmp(packet->data, text, n) == 0;
        };
        return packet->pos >= tagsFrom || starts("ID3") || starts("APETAGEX");
    }

    // Whether `frame` holds decoded sound of the track's shape.
    // (An MPEG audio stream may change its channel mode from frame to
    // frame: a single-channel frame of a stereo track is given in both.)
    // A frame of another channel count is noted (channelsChange).
    bool UsableFrame()
    {
        const int n = frame->ch_layout.nb_channels;
        if (frame->nb_samples <= 0)
            return false;
        if (n == int(channels) || (n == 1 && channels == 2 && IsMPEGAudio(codecID)))
            return true;
        channelsChange = true;
        return false;
    }

    // Whether `frame` is at another rate than the track's.
    bool OtherRate() const { return frame->sample_rate > 0 && frame->sample_rate != TrackRate(); }
    int TrackRate() const { return int(std::lround(sampleRate)); }

    // The next frame the decoder gives for the packets sent to it, into
    // `frame`; false when it wants another packet, or refused the rest of
    // the one sent (*refused: true then).  Where the packets tell the
    // frames (at the track's rate), a frame at another rate is none of
    // the track's: its packet reads as silence, said as refused, never at
    // the wrong speed.
    bool ReceiveFrame(bool* refused)
    {
        *refused = false;
        if (flacFrameState != FlacFrameState::None) {
            const bool ready = flacFrameState == FlacFrameState::Ready;
            flacFrameState = ready ? FlacFrameState::Given : FlacFrameState::None;
            return ready;
        }
        for (;;) {
            const int rc = avcodec_receive_frame(codec, frame);
            if (rc == 0) {
                if (UsableFrame() && !OtherRate())
                    return true;
                av_frame_unref(frame);
                continue;
            }
            *refused = rc != AVERROR(EAGAIN) && rc != AVERROR_EOF;
            return false;
        }
    }

    // The frame libFLAC decoded last, into `frame` (its samples stay
    // flacFrames' own until the next packet).
    void TakeFlacFrame()
    {
        ClearFrame();
        frame->format = AV_SAMPLE_FMT_S32P;
        frame->nb_samples = int(flacFrames.Samples());
        frame->sample_rate = int(flacFrames.Rate());
        frame->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        frame->ch_layout.nb_channels = int(flacFrames.Channels());
        for (unsigned c = 0; c < flacFrames.Channels(); ++c) {
            frame->data[c] = reinterpret_cast<uint8_t*>(flacFrames.Plane(c));
            frame->linesize[c] = int(flacFrames.Samples() * sizeof(int32_t));
        }
        frame->extended_data = frame->data;
        flacFrameState = FlacFrameState::Ready;
    }

    // Sends the packet read last and drains what the decoder gives of it:
    // whether that is any sound (*refused: the decoder refused the rest).
    bool SendAndDrain(bool* refused)
    {
        *refused = false;
        if (SendPacket() < 0)
            return false;
        bool any = false;
        while (ReceiveFrame(refused)) {
            any = true;
            ClearFrame();
        }
        return any;
    }

    // Whether the packet read last gives any sound.
    bool PacketDecodes()
    {
        bool refused = false;
        const bool any = SendAndDrain(&refused);
        if (any && refused)
            SeeDamage();
        return any;
    }

    // A packet of the index the decoder refused (`silencedFrames` of its
    // frames read as silence), counted the first time it is read.
    void NoteRefused(IndexEntry& entry, UInt64 silencedFrames)
    {
        if (entry.refused)
            return;
        entry.refused = true;
        TrackFinding found("decoder");
        found.added.refusedPackets = 1;
        found.added.silencedFrames = silencedFrames;
        verdict.Take(found);
    }

    // A packet the decoder took in part and refused the rest of, or (MPEG
    // audio) a frame whose packet is not the size its header says: the
    // track is damaged there, which tells a shortfall apart from a cut.
    void SeeDamage()
    {
        TrackFinding found("decoder");
        found.damaged = true;
        verdict.Take(found);
    }

    // `frames` frames of refused packets, said as missing.
    void RefusedMissing(UInt64 packets, UInt64 frames)
    {
        TrackFinding found("decoder");
        found.added.refusedPackets = packets;
        found.added.missingFrames = frames;
        found.refusedFrames = frames;
        verdict.Take(found);
    }

    // While counting by decoding: the packet read last was refused.
    void TallyRefused()
    {
        if (!tallying || packetOrdinal == lastTallied)
            return;
        lastTallied = packetOrdinal;
        lastTalliedFrames = PacketFrames();
        RefusedMissing(1, lastTalliedFrames);
    }

    // The frames of the packet read last, where the packet, the codec or
    // the container tells them.
    UInt64 PacketFrames() const
    {
        const AVStream* st = format->streams[stream];
        if (packet->duration > 0)
            return UInt64(std::max<int64_t>(
                av_rescale_q(packet->duration, st->time_base, {1, std::max(st->codecpar->sample_rate, 1)}), 0));
        if (st->codecpar->frame_size > 0)
            return UInt64(st->codecpar->frame_size);
        return framesPerPacket;
    }

    // While counting by decoding: the packet sent last gave no frame and
    // no error.  The first packet of an AAC stream may only prime the
    // decoder (FirstPacketGivesSound).
    bool PrimesOnly() const { return codecID == AV_CODEC_ID_AAC && packetOrdinal == 0 && !gaveFrame; }

    // While counting by decoding: the packet sent last gave no frame and
    // no error.  The decoder's skip may have taken its whole sound (it
    // drops a frame that the skip covers, and takes the skip down by it).
    bool SkipTookPacket()
    {
        const UInt64 frames = PacketFrames();
        if (frames == 0 || decoderSkip < frames)
            return false;
        decoderSkip -= frames;
        return true;
    }

    // Gets the next piece of sound (see the decoding state); false at the
    // end of the track.
    bool NextPiece()
    {
        silence = 0;
        framePending = false;
        return trusted ? NextIndexedPiece() : NextFrame();
    }

    // Where the index tells the frames: each packet gives its frames of
    // the track, decoded (one frame or several) and trimmed, or silence
    // when the decoder refuses it or gives it fewer; a packet of the track
    // the count did not see ends it.
    bool NextIndexedPiece()
    {
        for (;;) {
            if (!inPacket) {
                if (!NextPacket() || packetOrdinal < 0 || std::size_t(packetOrdinal) >= index.size())
                    return false;
                const IndexEntry& entry = index[std::size_t(packetOrdinal)];
                packetSkip = entry.trim;
                packetLeft = entry.frames;
                packetGave = false;
                inPacket = SendPacket() >= 0;
                packetFailed = !inPacket;
            }
            bool refused = false;
            if (inPacket && ReceiveFrame(&refused)) {
                packetGave = true;
                const UInt64 samples = UInt64(frame->nb_samples);
                const UInt64 skipped = std::min(samples, packetSkip);
                const UInt64 taken = std::min(samples - skipped, packetLeft);
                packetSkip -= skipped;
                packetLeft -= taken;
                if (taken == 0) {
                    ClearFrame();
                    continue;
                }
                frameOffset = int(skipped);
                frameEnd = int(skipped + taken);
                framePending = true;
                return true;
            }
            // The packet is done: what it did not give is silence.
            if (packetGave && refused)
                SeeDamage();
            packetFailed = packetFailed || refused;
            inPacket = false;
            // A packet of the stream's delay alone that the decoder refuses
            // leaves it unprimed for the sound that follows: the frames it
            // stood for are lost.  (One that decodes to nothing only primes
            // it: the count knows it as such, FirstPacketGivesSound.)
            IndexEntry& entry = index[std::size_t(packetOrdinal)];
            if (!packetGave && packetFailed && entry.frames == 0 && entry.priming > 0 && !entry.refused) {
                entry.refused = true;
                RefusedMissing(1, entry.priming);
            }
            if (packetLeft > 0) {
                NoteRefused(index[std::size_t(packetOrdinal)], packetLeft);
                silence = packetLeft;
                packetLeft = 0;
                return true;
            }
        }
    }

    // The frame in `frame` is the next piece, whole.
    bool Pending()
    {
        frameOffset = 0;
        frameEnd = frame->nb_samples;
        framePending = true;
        return true;
    }

    // Gets the next decoded frame into `frame` (all its samples the
    // track's); false at the end.  A packet the decoder refuses is passed
    // over, as the reference decoder does, and tallied while counting.
    bool NextFrame()
    {
        for (;;) {
            if (bridge && bridge->Take(frame))
                return Pending();
            const int rc = avcodec_receive_frame(codec, frame);
            if (rc == 0) {
                if (!UsableFrame()) {
                    av_frame_unref(frame);
                    continue;
                }
                sentGaveNothing = false;
                gaveFrame = true;
                decoderSkip = 0;  // what is left of it was taken from this frame
                // From the first frame at another rate on, every frame goes
                // through the bridge, in order.
                if (!bridge && OtherRate())
                    bridge = std::make_unique<RateChangeBridge>(TrackRate());
                if (!bridge)
                    return Pending();
                if (!bridge->Put(frame)) {
                    shapeError = RateChangeBridge::Available() ? memFullErr : kTrackRateChangesErr;
                    return false;
                }
                continue;
            }
            if (rc == AVERROR_EOF || flushed) {
                if (bridge && bridge->Finish() && bridge->Take(frame))
                    return Pending();
                return false;
            }
            // An error: the rest of the packet is lost; the decoder goes on
            // with the next one.  A packet that gave no frame and no error
            // is lost as well, from a codec that gives every packet's sound
            // as it comes.
            if (rc != AVERROR(EAGAIN) ||
                (sentGaveNothing && SoundPerPacket(codecID) && !PrimesOnly() && !SkipTookPacket()))
                TallyRefused();
            sentGaveNothing = false;
            if (NextPacket()) {
                sentGaveNothing = true;
                size_t sideSize = 0;
                if (const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
                    side && sideSize >= 10)
                    decoderSkip = ReadLE32(side);
                if (SendPacket() < 0)
                    TallyRefused();
            } else {
                flushed = true;
                avcodec_send_packet(codec, nullptr);
            }
        }
    }

    // Whether the first packet of an AAC stream, read last, gives sound.
    // One that decodes to nothing, cleanly, only primes the decoder (as some
    // encoders begin a stream); one the decoder refuses is lost
    // (NextIndexedPiece counts it).  Neither stands for frames of the
    // track, nor takes a share of the stream's skip, which the decoder
    // counts in the frames it gives.
    bool FirstPacketGivesSound()
    {
        codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;  // every frame it decodes, whatever the skip
        bool refused = false;
        return SendAndDrain(&refused);
    }

    // The counting pass: the packet index, the data size and, where the
    // packets cannot tell, the decoded frame count.
    OSErr Count()
    {
        flacDirect = false;
        AVStream* st = format->streams[stream];
        const AVRational rate{1, std::max(st->codecpar->sample_rate, 1)};
        // Packet durations in a time base coarser than the samples (the
        // milliseconds of Matroska and WebM) cannot tell the frames.
        // Opus and Vorbis in an Ogg file whose pages are whole: the packets
        // tell the frames (an Opus packet's duration, from its table of
        // contents; a Vorbis packet's from its mode, VorbisBlocks: the
        // demuxer's durations of those on the last page can be amiss); the
        // demuxer gives the pre-skip and the trim of the end, and the last
        // granule checks the sum (below).
        lengthRule = TrackLengthRule::For(kind, format, stream);
        int64_t oggGranule = -1;
        VorbisBlocks vorbisBlocks;
        int64_t vorbisUnheard = -1;  // where the first Vorbis packet ends
        auto* oggRule = dynamic_cast<OggLengthRule*>(lengthRule.get());
        const AVCodecParameters* par = st->codecpar;
        const bool vorbis = codecID == AV_CODEC_ID_VORBIS && vorbisBlocks.Open(par->extradata, par->extradata_size);
        const bool oggPackets = oggRule && !view && format->nb_streams == 1 &&
                                (codecID == AV_CODEC_ID_OPUS || vorbis) && oggRule->Intact(path, &oggGranule);
        trusted = (Trusted(codecID) || oggPackets) &&
                  int64_t(st->time_base.num) * rate.den <= int64_t(st->time_base.den);
        seekExact = trusted && !oggPackets && codecID != AV_CODEC_ID_AAC && codecID != AV_CODEC_ID_MP1 &&
                    codecID != AV_CODEC_ID_ADPCM_IMA_QT && codecID != AV_CODEC_ID_ADPCM_IMA_WAV &&
                    codecID != AV_CODEC_ID_MP2 &&
                    !(codecID == AV_CODEC_ID_MP3 && codec->sample_fmt != AV_SAMPLE_FMT_FLTP &&
                      codec->sample_fmt != AV_SAMPLE_FMT_FLT);
        UInt64 total = 0;
        UInt64 wholeMPEGFrames = 0;  // frames of the packets (MPEG audio: of whole frames), no trim taken
        // The decoder's trimming, as the libraries do it: a packet's skip
        // (from its side data) replaces the one pending and is taken from
        // the frames that follow, whole frames first; its end padding is
        // taken only from a frame that holds all of it.
        UInt64 pendingSkip = 0;
        std::size_t lastShortMPEGFrame = ~std::size_t(0);
        UInt64 lastShortMPEGFrames = 0;
        int64_t lastPos = -1;
        bool durationsKnown = true;
        bool flacOddPacket = false;
        bool firstGivesNothing = false;
        bool stereoFrames = false;  // MPEG audio frames of two channels
        UInt64 firstFrames = 0;
        const int frameSize = codec->frame_size;
        UInt64 widestPacket = 0;
        const TrackTally packetTally = Tally();
        // The shape the first frame header of MPEG audio or ADTS states, and
        // whether later ones state another rate or channel count: a run of
        // a few whole frames of one other shape (a damaged frame's bytes
        // may read as a header of any shape).
        constexpr int kShapeRun = 3;
        int firstRate = 0;
        int firstChannels = 0;
        int runRate = 0;
        int runChannels = 0;
        int run = 0;
        bool rateChanges = false;
        if (kind == ContainerKind::Flac && flacFrames.IsOpen() && !view)
            walked = FlacFrameWalk::Whole(path);
        while (NextPacket()) {
            dataBytes += UInt64(std::max(packet->size, 0));
            int packetRate = 0;
            int channelCount = 0;
            if (RateChangeBridge::PacketShape(codecID, packet->data, packet->size, &packetRate, &channelCount)) {
                if (firstRate == 0) {
                    firstRate = packetRate;
                    firstChannels = channelCount;
                }
                run = packetRate == runRate && channelCount == runChannels ? run + 1 : 1;
                runRate = packetRate;
                runChannels = channelCount;
                // (MPEG audio frames of one channel in a stereo track are
                // given in both: UsableFrame.)
                if (run >= kShapeRun) {
                    rateChanges = rateChanges || packetRate != firstRate;
                    channelsChange = channelsChange || (channelCount != firstChannels && !IsMPEGAudio(codecID));
                }
            } else {
                run = 0;
            }
            if (packet->pos >= 0)
                packetsEnd = std::max(packetsEnd, packet->pos + std::max(packet->size, 0));
            if (packet->pos >= 0 && (packetsStart < 0 || packet->pos < packetsStart))
                packetsStart = packet->pos;
            if (mpegHeader == 0 && IsMPEGAudio(codecID) && packet->size >= 4) {
                const uint8_t* p = packet->data;
                mpegHeader = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3];
            }
            if (IsMPEGAudio(codecID) && packet->size >= 4 && MPEGFrameBytes(packet->data) > 0 &&
                (packet->data[3] >> 6) != 3)
                stereoFrames = true;
            size_t sideSize = 0;
            const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
            UInt64 padding = 0;
            if (side && sideSize >= 10) {
                pendingSkip = ReadLE32(side);
                padding = ReadLE32(side + 4);
            }
            IndexEntry entry{packet->pos, packet->dts, total,
                             pendingSkip == 0 && packet->pos > lastPos && packet->pos >= 0};
            entry.bytes = UInt32(std::max(packet->size, 0));
            if (packet->pos >= 0)
                lastPos = std::max(lastPos, packet->pos);
            if (packet->duration <= 0 && !(packet->flags & AV_PKT_FLAG_DISCARD))
                durationsKnown = false;
            UInt64 frames = UInt64(std::max<int64_t>(av_rescale_q(packet->duration, st->time_base, rate), 0));
            // The AAC decoder gives whole frames, whatever the packet's
            // duration says.
            // (Where the stream's information has no frame size, as when its
            // first packet decodes to nothing, the widest packet tells it.)
            if (codecID == AV_CODEC_ID_AAC) {
                widestPacket = std::max(widestPacket, frames);
                frames = frameSize > 0 ? UInt64(frameSize) : widestPacket;
            }
            // An IMA 4:1 packet that ends inside a block (the file was cut
            // there) holds only its whole blocks: the decoder passes the
            // rest over.
            const int block = st->codecpar->block_align;
            if (codecID == AV_CODEC_ID_ADPCM_IMA_QT && block > 0 && packet->size % block != 0)
                frames = frames * UInt64(packet->size / block) / UInt64((packet->size + block - 1) / block);
            // An MPEG audio frame shorter than its header says, or than a
            // header, is one the file was cut inside when it is the last
            // (known below); inside the track, damage the decoder refuses.
            if (IsMPEGAudio(codecID)) {
                const std::size_t stated = packet->size < 4 ? 0 : MPEGFrameBytes(packet->data);
                if (packet->size < 4 || std::size_t(packet->size) < stated) {
                    lastShortMPEGFrame = index.size();
                    lastShortMPEGFrames = frames;
                }
                else if (std::size_t(packet->size) != stated)
                    SeeDamage();  // bytes that are no frame, taken into one
            }
            // A FLAC packet of more or less than one whole frame before the
            // last is damage (FlacStreamCheck::IsOneFrame; the last one
            // EndsCleanly judges).
            if (flac.IsOpen() && kind == ContainerKind::Flac) {
                if (flacOddPacket)
                    SeeDamage();
                // (A frame the walk proved whole is one.)
                flacOddPacket = walked.empty() &&
                                !FlacStreamCheck::IsOneFrame(packet->data, std::size_t(std::max(packet->size, 0)));
            }
            // The demuxer shortens the last Ogg packet by its end trim, which
            // the decoder takes from the whole packet (where it holds it: a
            // duration of 1 may stand for a packet trimmed whole or not at all).
            if (oggPackets && codecID == AV_CODEC_ID_OPUS && padding > 0) {
                durationsKnown = durationsKnown && packet->duration > 1;
                frames += padding;
            }
            const int64_t vorbisFrames = oggPackets && codecID == AV_CODEC_ID_VORBIS
                                             ? vorbisBlocks.Next(packet->data, packet->size) : 0;
            if (oggPackets && codecID == AV_CODEC_ID_VORBIS) {
                durationsKnown = durationsKnown && vorbisFrames >= 0;
                frames = UInt64(std::max<int64_t>(vorbisFrames, 0));
            }
            if (TrackFinding found; lengthRule->Packet(*packet, &frames, packetTally, &found))
                verdict.Take(found);
            if (index.empty() && oggPackets && codecID == AV_CODEC_ID_VORBIS) {
                // The first Vorbis packet only primes the decoder.
                vorbisUnheard = packet->pts == AV_NOPTS_VALUE || packet->pts > 0 || packet->duration <= 0
                                    ? 0 : packet->pts + packet->duration;
                entry.priming = UInt32(std::clamp<int64_t>(packet->duration, 0, 0xFFFFFFFF));
                frames = 0;
            } else if (index.empty() && codecID == AV_CODEC_ID_AAC && !FirstPacketGivesSound()) {
                firstGivesNothing = true;
                firstFrames = frames;
                entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
                frames = 0;
            } else if (packet->flags & AV_PKT_FLAG_DISCARD) {
                // A packet to be dropped whole takes its share of the skip.
                pendingSkip -= std::min(pendingSkip, frames);
                entry.priming = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
                frames = 0;
            } else {
                wholeMPEGFrames += frames;
                const UInt64 skipped = std::min(frames, pendingSkip);
                pendingSkip -= skipped;
                entry.trim = UInt32(std::min<UInt64>(skipped, 0xFFFFFFFFu));
                entry.priming = entry.trim;
                frames -= skipped;
                if (padding > 0 && padding <= frames)
                    frames -= padding;
            }
            entry.frames = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFu));
            index.push_back(entry);
            total += entry.frames;
        }
        walked = {};
        av_packet_unref(packet);
        {
            TrackFinding found("packets");
            found.packets = index.size();
            verdict.Take(found);
        }
        // A stream of that one packet holds no sound: it is no priming.
        if (firstGivesNothing && index.size() == 1) {
            index[0].frames = UInt32(std::min<UInt64>(firstFrames, 0xFFFFFFFFu));
            total += index[0].frames;
            wholeMPEGFrames += firstFrames;
        }
        // A FLAC file whose end is neither its last frame whole nor one
        // broken off by a cut is damaged there.
        if (flac.IsOpen() && kind == ContainerKind::Flac && !index.empty() && !flac.EndsCleanly(path, index.back().pos)) {
            TrackFinding found("FLAC frames");
            found.damaged = true;
            found.Say("the last frame is neither whole nor broken off by the file's end: damaged");
            verdict.Take(found);
        }
        // A last MPEG audio frame cut short would decode as a whole one:
        // it is no frame of the track.  One inside the track is damage.
        if (!index.empty() && lastShortMPEGFrame == index.size() - 1) {
            total -= index.back().frames;
            wholeMPEGFrames -= std::min(wholeMPEGFrames, lastShortMPEGFrames);
            index.back().frames = 0;
            TrackFinding found("MPEG frame sizes");
            found.cut = true;
            found.Say("the last frame is shorter than its header says: cut");
            verdict.Take(found);
        } else if (lastShortMPEGFrame != ~std::size_t(0)) {
            TrackFinding found("MPEG frame sizes");
            found.damaged = true;
            found.Say("a frame inside the track is shorter than its header says: damaged");
            verdict.Take(found);
        }
        // An MPEG audio stream that changes its channel mode from a single
        // channel to two is a stereo track: its single-channel frames are
        // given in both channels (UsableFrame).
        if (stereoFrames && channels == 1) {
            channels = 2;
            fileLabels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
            order = {0, 1};
        }
        // AIFF-C files of IMA 4:1 say how long their track is (the frame
        // count of 'COMM'): fewer frames in the packets mean the file was
        // cut short.
        if (codecID == AV_CODEC_ID_ADPCM_IMA_QT && kind == ContainerKind::Aiff && st->duration > 0
            && UInt64(av_rescale_q(st->duration, st->time_base, rate)) > total) {
            TrackFinding found("AIFF-C frame count");
            found.cut = true;
            found.Say("states %llu frames, the packets hold %llu: cut",
                      (unsigned long long)av_rescale_q(st->duration, st->time_base, rate), (unsigned long long)total);
            verdict.Take(found);
        }
        // A track whose channel count changes is not read as one.
        if (channelsChange)
            return kTrackChannelsChangeErr;
        // Ogg packets whose sum is not what the last granule states, less
        // the pre-skip or the first Vorbis packet, are counted by decoding.
        if (oggPackets && ((codecID == AV_CODEC_ID_VORBIS && index.size() < 2) ||
                           int64_t(total) + (codecID == AV_CODEC_ID_OPUS ? std::max(st->codecpar->initial_padding, 0)
                                                                        : vorbisUnheard) != oggGranule))
            trusted = false;
        // Nor is one whose rate changes counted off its packets, which
        // tell the frames of each part at its own rate.
        if (trusted && durationsKnown && !rateChanges) {
            Counted(total, std::nullopt);
            trimmedToNothing = total == 0 && wholeMPEGFrames > 0;
            flacDirect = DirectPackets();
            const OSErr err = DropUndecodableEnd();
            flacDirect = flacDirect && err == noErr;
            return err;
        }
        // Count by decoding.
        trusted = false;
        seekExact = false;
        index.clear();
        OSErr err = OpenStreams(false);
        if (err != noErr)
            return err;
        UInt64 decoded = 0;
        tallying = true;
        while (NextFrame()) {
            decoded += UInt64(frameEnd - frameOffset);
            framePending = false;
            av_frame_unref(frame);
        }
        tallying = false;
        if (channelsChange)
            return kTrackChannelsChangeErr;
        if (shapeError != noErr)
            return shapeError;
        Counted(decoded, UInt64(packetOrdinal + 1));
        if (decoded == 0 && verdict.Loss().refusedPackets > 0)
            return kUndecodableAudioErr;
        return noErr;
    }

    // The count's own finding: the frames the track gives and (where it
    // read them again) its packets.
    void Counted(UInt64 frames, std::optional<UInt64> packets)
    {
        TrackFinding found("count");
        found.frames = frames;
        found.packets = packets;
        verdict.Take(found);
    }

    // What the count found, for the container's rule.
    TrackTally Tally()
    {
        TrackTally tally{path, format, stream, verdict};
        tally.fileBytes = view ? view->Bytes() : FileBytes(path);
        tally.packetsEnd = packetsEnd;
        tally.lastPacketRefused = lastTallied >= 0 && lastTallied == packetOrdinal;
        tally.lastPacketFrames = lastTalliedFrames;
        return tally;
    }

    // The frames the container states the track holds (0: it states
    // none).
    UInt64 StatedFrames() const
    {
        const AVStream* st = format->streams[stream];
        if (format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || st->duration == AV_NOPTS_VALUE ||
            st->duration <= 0)
            return 0;
        return UInt64(std::max<int64_t>(
            av_rescale_q(st->duration, st->time_base, {1, std::max(st->codecpar->sample_rate, 1)}), 0));
    }

    // Whether the track's packets run to the end of the file (nothing
    // follows them that is no packet): a file cut there ends in one.
    bool PacketsReachFileEnd() const
    {
        const int64_t fileBytes = view ? view->Bytes() : FileBytes(path);
        return fileBytes >= 0 && packetsEnd >= fileBytes;
    }

    // The packets at the end of the track that the decoder refuses give no
    // sound, and are no frames of it: a file cut inside its last packet
    // (said as cut short: that one packet, reaching the end of the file),
    // or damaged at its very end (counted as refused and missing).  Found
    // by decoding the last packets, further back until one decodes;
    // kUndecodableAudioErr when none does.
    OSErr DropUndecodableEnd()
    {
        std::size_t last = index.size();
        while (last > 0 && index[last - 1].frames == 0)
            --last;
        if (last == 0)
            return noErr;
        int64_t good = -1;
        for (std::size_t window = 16;; window *= 4) {
            std::size_t from = last > window ? last - window : 0;
            while (from > 0 && !index[from].seekable)
                --from;
            OSErr err = from > 0 ? SeekToPacket(from) : Rewind();
            if (err != noErr && from > 0) {
                // Where the demuxer cannot seek: from the start.
                from = 0;
                err = Rewind();
            }
            if (err != noErr)
                return err;
            while (NextPacket() && packetOrdinal >= 0 && std::size_t(packetOrdinal) < last)
                if (PacketDecodes())
                    good = packetOrdinal;
            if (good >= 0)
                break;
            if (from == 0)
                return kUndecodableAudioErr;
        }
        UInt64 dropped = 0;
        UInt64 refused = 0;
        for (std::size_t i = std::size_t(good) + 1; i < last; ++i) {
            dropped += index[i].frames;
            refused += index[i].frames > 0 ? 1 : 0;
            index[i].frames = 0;
            index[i].refused = true;
        }
        if (dropped == 0)
            return noErr;
        TrackFinding found("undecodable end");
        found.frames = verdict.Frames() - std::min(verdict.Frames(), dropped);
        // A cut breaks off one packet; more refused are damage.
        const bool cut = refused == 1 && !verdict.Damaged() && PacketsReachFileEnd();
        if (cut) {
            found.cut = true;
        } else {
            found.added.refusedPackets = refused;
            found.added.missingFrames = dropped;
            found.refusedFrames = dropped;
        }
        found.Say("%llu packets at the end refused, %llu frames: %s", (unsigned long long)refused,
                  (unsigned long long)dropped, cut ? "cut" : "lost");
        verdict.Take(found);
        return noErr;
    }

    void CollectMetadata()
    {
        auto addAll = [this](const AVDictionary* dictionary) {
            const AVDictionaryEntry* e = nullptr;
            while ((e = av_dict_get(dictionary, "", e, AV_DICT_IGNORE_SUFFIX))) {
                MovieMetadataItem item;
                item.key = e->key ? e->key : "";
                item.dataType = 1;
                const std::size_t n = e->value ? std::strlen(e->value) : 0;
                item.value.assign(reinterpret_cast<const UInt8*>(e->value), reinterpret_cast<const UInt8*>(e->value) + n);
                metadata.push_back(std::move(item));
            }
        };
        addAll(format->metadata);
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            AVStream* st = format->streams[i];
            if (int(i) == stream)
                addAll(st->metadata);
            if ((st->disposition & AV_DISPOSITION_ATTACHED_PIC) && st->attached_pic.size > 0) {
                MovieMetadataItem item;
                item.key = "covr";
                switch (st->codecpar->codec_id) {
                case AV_CODEC_ID_MJPEG: item.dataType = 13; break;
                case AV_CODEC_ID_PNG: item.dataType = 14; break;
                case AV_CODEC_ID_BMP: item.dataType = 27; break;
                default: item.dataType = 0; break;
                }
                item.value.assign(st->attached_pic.data, st->attached_pic.data + st->attached_pic.size);
                metadata.push_back(std::move(item));
            }
        }
    }

    // An empty file named as raw MPEG Layer I or II audio (as the encoder
    // leaves it for no sound): an empty track.  No frame tells its shape;
    // it reads as stereo at 44.1 kHz.
    bool OpenEmptyMPEGStream()
    {
        struct stat info;
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
            return false;
        std::string extension;
        const std::size_t dot = path.rfind('.');
        if (dot != std::string::npos && path.find('/', dot) == std::string::npos)
            extension = path.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (extension == "mp1" || extension == "mpg" || extension == "m1a")
            dataFormat = FOUR_CHAR_CODE(".mp1");
        else if (extension == "mp2" || extension == "mpa" || extension == "m2a")
            dataFormat = FOUR_CHAR_CODE(".mp2");
        else
            return false;
        sampleRate = 44100;
        channels = 2;
        fileLabels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
        fileTag = LayoutTagForChannelLabels(fileLabels);
        order = {0, 1};
        fileFormat = FOUR_CHAR_CODE("MPG3");
        kind = ContainerKind::MpegAudio;
        return true;
    }

    // A native FLAC file whose frames the walk proves whole
    // (FlacFrameWalk), with plain metadata blocks (PlainFlacHead), is
    // opened without the media libraries, as OpenAll would open it through
    // them: its STREAMINFO tells what their demuxer and decoder would (the
    // rate, the channels and their layout, the length), the walked frames
    // are the packets the count indexes (Count) and libFLAC decodes them.
    // The libraries are loaded late, only for a frame libFLAC refuses
    // (AttachLibraries) or for the metadata.  False for any other file,
    // which a new Impl opens through them.
    bool OpenNativeFlac()
    {
        uint8_t info[FlacStreamCheck::kStreamInfoBytes];
        if (CheckRegularFile(path) != noErr || !PlainFlacHead(path, info))
            return false;
        const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
        if (shape.channels < 1 || shape.channels > 8 || shape.frames == 0)
            return false;
        walked = FlacFrameWalk::Whole(path);
        if (walked.empty())
            return false;
        flac.Open(info, sizeof info, FileBytes(path));
        flacFrames.Open(info, sizeof info);
        if (!flac.IsOpen() || !flacFrames.IsOpen())
            return false;
        native = true;
        frame = &nativeFrame;
        verdict = TrackVerdict(path);
        stream = 0;
        codecID = AV_CODEC_ID_FLAC;
        sampleRate = double(shape.rate);
        channels = shape.channels;
        fileLabels = LabelsForMask(kFlacLayouts[channels - 1]);
        order.resize(channels);
        for (UInt32 c = 0; c < channels; ++c)
            order[c] = int(c);
        kind = ContainerKind::Flac;
        fileFormat = FileFormatForKind(kind, path);
        dataFormat = DataFormatFor(codecID);
        metadataPending = true;
        trusted = true;
        seekExact = true;
        // The count of the frames walked, each a packet of its samples.
        UInt64 total = 0;
        int64_t lastPos = -1;
        index.reserve(walked.size());
        for (const FlacFrameWalk::Frame& f : walked) {
            dataBytes += f.bytes;
            packetsEnd = std::max(packetsEnd, f.pos + int64_t(f.bytes));
            if (packetsStart < 0 || f.pos < packetsStart)
                packetsStart = f.pos;
            IndexEntry entry{f.pos, int64_t(f.start), total, f.pos > lastPos && f.pos >= 0};
            entry.bytes = f.bytes;
            entry.frames = f.samples;
            lastPos = std::max(lastPos, f.pos);
            index.push_back(entry);
            total += entry.frames;
        }
        walked = {};
        {
            TrackFinding found("packets");
            found.packets = index.size();
            verdict.Take(found);
        }
        if (!flac.EndsCleanly(path, index.back().pos))
            return false;
        Counted(total, std::nullopt);
        flacDirect = DirectPackets();
        if (!flacDirect || DropUndecodableEnd() != noErr || !native || verdict.Frames() != shape.frames ||
            verdict.Damaged() || verdict.Cut())
            return false;
        fileTag = LayoutTagForChannelLabels(fileLabels);
        SayDecoder();
        verdict.Take(FlacLengthRule::Whole(shape.frames));
        verdict.Bound(shape.frames);
        ResetDecoding();
        return true;
    }

    // The decoder's running counts, said once the count is settled.
    void SayDecoder()
    {
        const SFTDecodeLoss& loss = verdict.Loss();
        TrackFinding decoder("decoder");
        decoder.Say("%llu packets, %llu refused, %llu frames silenced, %llu missing; %llu frames %s",
                    (unsigned long long)loss.packets, (unsigned long long)loss.refusedPackets,
                    (unsigned long long)loss.silencedFrames, (unsigned long long)loss.missingFrames,
                    (unsigned long long)verdict.Frames(), trusted ? "from the packets" : "decoded");
        verdict.Take(decoder);
    }

    // The libraries' metadata of a file opened without them.
    void ReadPendingMetadata() const
    {
        if (!metadataPending)
            return;
        metadataPending = false;
        std::vector<MovieMetadataItem> items;
        if (MovieSource::ReadMetadata(path, &items) == noErr)
            metadata = std::move(items);
    }

    OSErr OpenAll()
    {
        verdict = TrackVerdict(path);
        if (OpenEmptyMPEGStream())
            return noErr;
        OSErr err = OpenStreams(true);
        if (err != noErr)
            return err;
        AVStream* st = format->streams[stream];
        codecID = st->codecpar->codec_id;
        statedBitRate = UInt32(std::clamp<int64_t>(st->codecpar->bit_rate, 0, 0xFFFFFFFF));
        // Whether the header gives the track a length (a track cut off
        // before its first packet is no empty one).
        const bool lengthStated = (st->duration != AV_NOPTS_VALUE && st->duration > 0) || st->nb_frames > 0;
        sampleRate = double(st->codecpar->sample_rate > 0 ? st->codecpar->sample_rate : codec->sample_rate);
        channels = UInt32(std::max(codec->ch_layout.nb_channels, 0));
        if (channels == 0 || channels > 1024 || sampleRate <= 0)
            return kNoAudioTrackErr;
        fileLabels = LabelsForLayout(codec->ch_layout);
        order.resize(channels);
        for (UInt32 c = 0; c < channels; ++c)
            order[c] = int(c);
        kind = KindOfDemuxer(format->iformat ? format->iformat->name : nullptr);
        fileFormat = FileFormatForKind(kind, path);
        dataFormat = DataFormatFor(codecID);
        if (dataFormat == kAudioFormatLinearPCM || dataFormat == media_codes::kALaw ||
            dataFormat == media_codes::kULaw)
            sourceBits = UInt32(std::max(av_get_bits_per_sample(codecID), 0));
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* s = format->streams[i];
            if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
                hasVideo = true;
        }
        CollectMetadata();
        CafLayout caf;
        const bool isCaf = fileFormat == media_codes::kCAF && WalkCaf(path, &caf) == noErr;
        if (isCaf)
            framesPerPacket = caf.format.mFramesPerPacket;
        if (kind == ContainerKind::MpegAudio && IsMPEGAudio(codecID))
            tagsFrom = RawStreamLengthRule::TrailingTagsStart(path);
        if (codecID == AV_CODEC_ID_FLAC)
            flac.Open(st->codecpar->extradata, std::size_t(std::max(st->codecpar->extradata_size, 0)),
                      kind == ContainerKind::Flac ? FileBytes(path) : -1);
        if (codecID == AV_CODEC_ID_FLAC && kind == ContainerKind::Flac)
            flacFrames.Open(st->codecpar->extradata, std::size_t(std::max(st->codecpar->extradata_size, 0)));
        err = Count();
        if (err != noErr)
            return err;
        // A compressed WAVE stream ends where its 'fact' chunk says, not
        // with the padding of its last block.  A Layer I or II stream gives
        // its input back after the filterbanks' delay: the sound 'fact'
        // counts starts there.
        if (kind == ContainerKind::Wave && dataFormat != FOUR_CHAR_CODE("lpcm")) {
            const UInt64 factFrames = WaveFactFrames(path);
            const UInt64 counted = verdict.Frames();
            const bool lagged = factFrames > 0 && (codecID == AV_CODEC_ID_MP1 || codecID == AV_CODEC_ID_MP2);
            TrackFinding found("WAVE fact");
            // Fewer whole MPEG audio frames than it counts: the file was cut.
            if (factFrames > counted && IsMPEGAudio(codecID))
                found.cut = true;
            found.Say("states %llu frames, counted %llu", (unsigned long long)factFrames, (unsigned long long)counted);
            if (lagged) {
                startSkip = std::min<UInt64>(kFilterbankLag, counted);
                found.frames = std::min(factFrames, counted - startSkip);
            } else if (factFrames > 0 && factFrames < counted) {
                found.frames = factFrames;
            }
            verdict.Take(found);
        }
        // The speakers the container names for its channels stand over the
        // libraries' reading of them, which takes a layout's speakers in
        // their mask order whatever order the layout lists them in.  A
        // sample coder delivers the channels as stored; a codec with a
        // channel model of its own delivers them in its decoder's order,
        // which the decoder's layout describes.
        if (av_get_bits_per_sample(codecID) > 0) {
            std::vector<UInt32> stored;
            if (isCaf)
                stored = caf.ChannelLabels();
            else if (HasMovieBoxes(kind)) {
                const std::vector<UInt8> chan = MovieTrackChannelLayout(path, unsigned(stream));
                stored = ChannelLabelsFromStoredLayout(chan.data(), chan.size(), channels);
            }
            if (stored.size() == channels)
                fileLabels = stored;
        }
        fileTag = LayoutTagForChannelLabels(fileLabels);
        // What the container states of the track's length, against the
        // frames counted: a cut, or sound lost (TrackLengthRule).
        {
            SayDecoder();
            verdict.Take(lengthRule->Settle(Tally()));
            verdict.Bound(StatedFrames());
        }
        // A track with packets none of which decodes is no sound track, and
        // neither is one whose header gives a length its packets do not
        // hold; one without packets that states none, or whose packets
        // hold only the encoder's delay and padding, is an empty one.
        if (verdict.Frames() == 0 && (dataBytes > 0 ? !trimmedToNothing : lengthStated))
            return dataBytes == 0 && verdict.Cut() ? eofErr : kNoAudioTrackErr;
        return OpenStreams(false);
    }

    // Positions the decoder so that the next decoded sample is `target`.
    OSErr SeekTo(UInt64 target)
    {
        if (target == position)
            return noErr;
        // Ahead within reach, or ahead in a stream whose decoder carries
        // state from the start: decode on.
        if (target > position && (!seekExact || target - position < UInt64(sampleRate) * 4 + 65536))
            return Skip(target - position);
        if (seekExact && !index.empty()) {
            // The last seekable packet at or before the target, then back
            // far enough for the decoder to settle.
            std::size_t i = index.size();
            while (i > 0 && !(index[i - 1].seekable && index[i - 1].start <= target))
                --i;
            if (i > 0) {
                std::size_t k = i - 1;
                const int64_t wantBytes = 4096;
                std::size_t back = 0;
                while (k > 0 && (back < 8 || (index[k].pos >= 0 && index[i - 1].pos - index[k].pos < wantBytes))) {
                    --k;
                    ++back;
                }
                while (k > 0 && !index[k].seekable)
                    --k;
                if (index[k].seekable && SeekToPacket(k) == noErr)
                    return Skip(target - position);
            }
        }
        // From the start.
        const OSErr err = Rewind();
        if (err != noErr)
            return err;
        return Skip(target);
    }

    // Positions the demuxer at the packet `k` of the index, held for the
    // next NextPacket, with the decoder flushed.
    OSErr SeekToPacket(std::size_t k)
    {
        const IndexEntry& e = index[k];
        if (e.start == 0 && k == 0)
            return Rewind();
        if (flacDirect) {
            if (codec) {
                avcodec_flush_buffers(codec);
                codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
            }
            ResetDecoding();
            packetOrdinal = int64_t(k) - 1;
            position = e.start;
            return noErr;
        }
        // Raw MPEG audio is found again by its byte position; every other
        // container by its own timestamp seek.
        const bool byteSeek = kind == ContainerKind::MpegAudio && e.pos >= 0;
        int rc;
        if (byteSeek)
            rc = av_seek_frame(format, stream, e.pos, AVSEEK_FLAG_BYTE);
        else
            rc = av_seek_frame(format, stream, e.dts, AVSEEK_FLAG_BACKWARD);
        if (rc < 0)
            return ioErr;
        avcodec_flush_buffers(codec);
        // The index trims the decoded frames, as from the start.
        codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
        ResetDecoding();
        // Find the packet itself.
        for (int guard = 0; guard < 1 << 20; ++guard) {
            if (!NextPacket())
                return ioErr;
            if (packet->pos == e.pos && (byteSeek || packet->dts == e.dts))
                break;
            if (packet->pos > e.pos && e.pos >= 0)
                return ioErr;
        }
        packetOrdinal = int64_t(k);
        packetHeld = true;
        position = e.start;
        return noErr;
    }

    // Moves the position on by up to `frames` frames, storing them into
    // `out` (one array per delivered channel) when it is given; the frames
    // moved, fewer only at the end of what decodes.
    UInt64 Advance(SInt32* const* out, UInt64 frames)
    {
        UInt64 done = 0;
        while (done < frames) {
            if (!framePending && silence == 0) {
                if (finished || !NextPiece()) {
                    finished = true;
                    break;
                }
            }
            if (framePending) {
                const UInt64 take = std::min<UInt64>(UInt64(frameEnd - frameOffset), frames - done);
                // Each frame of the track is counted for clipping once,
                // however often it is decoded.
                const UInt64 at = position + done;
                const UInt64 end = std::max(at, std::min(at + take, clipWindowTo));
                const UInt64 first = std::min(std::max({clipCountedTo, at, clipWindowFrom}), end);
                if (out) {
                    const int frameChannels = frame->ch_layout.nb_channels;
                    for (UInt32 c = 0; c < channels; ++c)
                        ConvertChannel(frame, std::min(order[c], frameChannels - 1), frameChannels, frameOffset,
                                       UInt32(take), out[c] + done, UInt32(first - at), UInt32(end - at));
                    clipCountedTo = std::max(clipCountedTo, end);
                }
                flac.TakeDecoded(position + done, frame, frameOffset, int(take));
                frameOffset += int(take);
                done += take;
                if (frameOffset >= frameEnd) {
                    framePending = false;
                    ClearFrame();
                }
            } else {
                const UInt64 take = std::min(silence, frames - done);
                if (out)
                    for (UInt32 c = 0; c < channels; ++c)
                        std::fill(out[c] + done, out[c] + done + take, 0);
                flac.TakeSilence(position + done, take);
                silence -= take;
                done += take;
            }
        }
        position += done;
        if (flac.SignatureMismatch() != verdict.Loss().checksumMismatch) {
            TrackFinding found("FLAC signature");
            found.checksumMismatch = flac.SignatureMismatch();
            verdict.Take(found);
        }
        return done;
    }

    OSErr Skip(UInt64 frames)
    {
        const UInt64 moved = Advance(nullptr, frames);
        position += frames - moved;
        return noErr;
    }

    OSErr Read(SInt32* const* out, UInt32 frames, UInt32* delivered)
    {
        const UInt64 limit = verdict.Frames() > position ? verdict.Frames() - position : 0;
        if (frames > limit)
            frames = UInt32(limit);
        const UInt64 done = Advance(out, frames);
        if (shapeError != noErr)
            return shapeError;
        if (done < frames) {
            // The decoder gave fewer frames than counted (the file changed
            // since it was opened): silence, said as such.
            for (UInt32 c = 0; c < channels; ++c)
                std::fill(out[c] + done, out[c] + frames, 0);
            TrackFinding found("decoder");
            found.added.silencedFrames = frames - done;
            verdict.Take(found);
            position += frames - done;
        }
        *delivered = frames;
        return noErr;
    }
};

MovieSource::MovieSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MovieSource::~MovieSource() = default;

OSErr MovieSource::Open(const std::string& path, std::unique_ptr<MovieSource>* out)
{
    if (!out)
        return paramErr;
    out->reset();
    try {
        auto impl = std::make_unique<Impl>();
        impl->path = path;
        if (impl->OpenNativeFlac()) {
            out->reset(new MovieSource(std::move(impl)));
            return noErr;
        }
    } catch (const std::bad_alloc&) {
        // Through the libraries, as any other file.
    }
    return OpenWithLibraries(path, out);
}

OSErr MovieSource::OpenWithLibraries(const std::string& path, std::unique_ptr<MovieSource>* out)
{
    if (!out)
        return paramErr;
    out->reset();
    if (!MediaLibraries::Available())
        return kUnknownFileFormatErr;
    try {
        auto impl = std::make_unique<Impl>();
        impl->path = path;
        const OSErr err = impl->OpenAll();
        if (err != noErr)
            return err;
        out->reset(new MovieSource(std::move(impl)));
        return noErr;
    } catch (const std::bad_alloc&) {
        return kCorruptChunkSizeErr;  // sized after the file's tables, as above
    }
}

SInt32 MovieSource::Probe(const std::string& path, ContainerKind* container, OSType* dataFormat)
{
    if (!MediaLibraries::Available())
        return 0;
    QuietLogs();
    if (const OSErr err = CheckRegularFile(path); err != noErr)
        return err == kUnknownFileFormatErr ? 0 : err;
    // The name is left out: the content alone must tell.
    const AVInputFormat* input = nullptr;
    if (ContentFormat(path, &input) != noErr)
        return fnfErr;
    if (!input)
        return 0;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), input, nullptr) < 0)
        return 0;
    SInt32 channels = 0;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVCodecParameters* par = format->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO && avcodec_find_decoder(par->codec_id)) {
                channels = std::max(par->ch_layout.nb_channels, 0);
                if (dataFormat)
                    *dataFormat = DataFormatFor(par->codec_id);
                break;
            }
        }
    }
    if (container)
        *container = KindOfDemuxer(format->iformat ? format->iformat->name : nullptr);
    avformat_close_input(&format);
    return channels;
}

OSErr MovieSource::ReadMetadata(const std::string& path, std::vector<MovieMetadataItem>* items)
{
    if (!items)
        return paramErr;
    items->clear();
    if (!MediaLibraries::Available())
        return kUnknownFileFormatErr;
    try {
        Impl impl;
        impl.path = path;
        QuietLogs();
        if (const OSErr err = CheckRegularFile(path); err != noErr)
            return err;
        if (const int rc = OpenInput(path, &impl.format, nullptr, nullptr); rc < 0)
            return ErrorFromAV(rc, kUnknownFileFormatErr);
        impl.stream = -1;
        for (unsigned i = 0; i < impl.format->nb_streams; ++i)
            if (impl.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                impl.stream = int(i);
                break;
            }
        impl.CollectMetadata();
        *items = std::move(impl.metadata);
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

double MovieSource::SampleRate() const { return impl_->sampleRate; }
UInt32 MovieSource::Channels() const { return impl_->channels; }
void MovieSource::SetClipCountWindow(UInt64 from, UInt64 to)
{
    impl_->clipWindowFrom = from;
    impl_->clipWindowTo = std::max(from, to);
}
UInt64 MovieSource::FrameCount() const { return impl_->verdict.Frames(); }
bool MovieSource::DataCutShort() const { return impl_->verdict.Cut(); }
const SFTDecodeLoss& MovieSource::DecodeLoss() const { return impl_->verdict.Loss(); }
const std::vector<UInt32>& MovieSource::FileChannelLabels() const { return impl_->fileLabels; }
AudioChannelLayoutTag MovieSource::FileLayoutTag() const { return impl_->fileTag; }
OSType MovieSource::FileFormat() const { return impl_->fileFormat; }
OSType MovieSource::DataFormat() const { return impl_->dataFormat; }
UInt32 MovieSource::SourceBits() const { return impl_->sourceBits; }
bool MovieSource::FloatSamples() const
{
    const AVCodecID id = impl_->codecID;
    return id == AV_CODEC_ID_PCM_F32BE || id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F64BE ||
           id == AV_CODEC_ID_PCM_F64LE;
}
ContainerKind MovieSource::Container() const { return impl_->kind; }
bool MovieSource::HasVideoTrack() const { return impl_->hasVideo; }
UInt64 MovieSource::AudioDataBytes() const { return impl_->dataBytes; }
UInt32 MovieSource::StatedBitRate() const { return impl_->statedBitRate; }
UInt32 MovieSource::FirstMPEGHeader() const { return impl_->mpegHeader; }
const std::vector<MovieMetadataItem>& MovieSource::Metadata() const
{
    impl_->ReadPendingMetadata();
    return impl_->metadata;
}
bool MovieSource::ReadsWithoutLibraries() const { return impl_->native; }
UInt64 MovieSource::Position() const { return impl_->position; }
bool MovieSource::Untouched() const { return !impl_->touched; }
const std::vector<std::string>& MovieSource::RuleLines() const { return impl_->verdict.Lines(); }

bool MovieSource::SetClientLayout(AudioChannelLayoutTag tag)
{
    std::vector<int> order;
    if (!ChannelOrderForLabels(impl_->fileLabels, ChannelLabelsForLayoutTag(tag), &order))
        return false;
    impl_->order = order;
    return true;
}

OSErr MovieSource::Seek(UInt64 frame)
{
    impl_->touched = true;
    if (!impl_->format && !impl_->native)
        return frame == 0 ? noErr : paramErr;  // an empty stream
    try {
        return impl_->SeekTo(frame);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

OSErr MovieSource::Read(SInt32* const* channels, UInt32 frames, UInt32* delivered)
{
    if (!delivered || (!channels && frames > 0))
        return paramErr;
    *delivered = 0;
    impl_->touched = true;
    if (!impl_->format && !impl_->native)
        return impl_->verdict.Frames() == 0 ? noErr : kNoAudioTrackErr;  // an empty stream
    return impl_->Read(channels, frames, delivered);
}
