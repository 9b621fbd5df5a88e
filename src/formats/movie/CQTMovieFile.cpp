#include "CQTMovieFile.h"
#include "MediaCodes.h"
#include "MovieFileTypes.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"

#include "FileOperations.h"
#include "MacRoman.h"
#include "MovieExporter.h"
#include "MovieSource.h"
#include "plain_flac_head.h"
#include "InputHandOff.h"
#include "PropertyList.h"
#include "ResourceManager.h"
#include "ChannelArrangement.h"
#include "channel_layout_rules.h"
#include "debug_trace.h"
#include "progress_channel.h"
#include "string_utils.h"
#include "CreatedFilesList.h"
#include "ByteOrder.h"
#include "ChannelLabels.h"
#include "caf_chunks.h"
#include "FileManager.h"
#include "RIFFChunkList.h"
#include "SoundFileSwitches.h"
#include "wave_chunks.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// The source of a movie input, kept between the batch's first look at it
// and its conversion (InputHandOff).
struct OpenedMovie : OpenedInput {
    explicit OpenedMovie(std::shared_ptr<MovieSource> opened) : source(std::move(opened)) {}
    std::shared_ptr<MovieSource> source;
};

// The name an input's extension gives: the whole name, or (after the
// configuration's prefix) the container's.  The stream types are looked at
// before an AIFF-C file's compression, the containers after it.
struct ExtensionName {
    const char* extension;
    const char* name;
    bool afterPrefix;
};

constexpr ExtensionName kStreamNames[] = {
    {"m4a", "MPEG-4 Audio", false},
    {"mp4", "MPEG-4 Audio", false},
    {"mpg", "MPEG-1 Layer 1 ('MPG')", false},
    {"mp2", "MPEG-1 Layer 2 ('MP2')", false},
};

constexpr ExtensionName kContainerNames[] = {
    {"aif", "AIFC", true},
    {"wav", "Compressed Wave", true},
    {"caf", "Core Audio File", true},
    {"3gp", "GSM Mobile Phone Video", false},
    {"amr", "Adaptive Multi-Rate Speech Encoding for Mobile Phones", false},
    {"wma", "Windows Media Audio", true},
    {"wmv", "Windows Media Video", true},
    {"flac", "FLAC", false},
};

// The word length a track reads at: linear sound keeps its own (in whole
// bytes; 64-bit floats read as 32-bit integers, which the media layer's
// samples are), every other coding 24 bits.
SInt16 WordLengthOf(const MovieSource& source)
{
    const UInt32 bits = source.DataFormat() == kAudioFormatLinearPCM ? source.SourceBits() : 0;
    return bits == 0 ? 24 : SInt16(std::min<UInt32>((bits + 7) / 8 * 8, 32));
}

template <std::size_t N>
const ExtensionName* FindExtensionName(const ExtensionName (&names)[N], const std::string& extension)
{
    for (const ExtensionName& entry : names)
        if (extension == entry.extension)
            return &entry;
    return nullptr;
}

// A CAF layout of more than two channels that names no speakers a channel
// mask holds (a tag without speakers, such as Ambisonic B, or one not
// known here) leaves the channels in the file's order: the file's line
// says so.  A layout that says itself it has none (discrete in order,
// unknown) loses nothing.
void WarnOfUnmappedCafLayout(const std::string& path, const std::vector<UInt32>& labels)
{
    CafLayout caf;
    if (labels.size() <= 2 || SpeakerMaskForChannelLabels(labels, nullptr) != 0 || WalkCaf(path, &caf) != noErr ||
        caf.chan.size() < 12)
        return;
    const UInt32 family = ReadBE32(caf.chan.data()) & 0xFFFF0000u;
    if (family != (kAudioChannelLayoutTag_DiscreteInOrder & 0xFFFF0000u) && family != 0xFFFF0000u)
        PostOutputWarning(kUnmappedLayoutWarning);
}

} // namespace

CQTMovieFile::CQTMovieFile() : CQTMovieFile(Identity{format_type_codes::kMovie, nullptr, nullptr}) {}

CQTMovieFile::CQTMovieFile(const Identity& identity) : m_identity(identity) {}

CQTMovieFile::~CQTMovieFile()
{
    if (m_writing) {
        // Destroyed while still writing: nothing is exported.
        m_inner.Release();
        DeleteOutput();
        m_writing = false;
        m_isOpen = false;
    }
    if (m_isOpen || m_source)
        CQTMovieFile::Close();
}

SInt32 CQTMovieFile::ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag)
{
    return ::ConfigurationForLayoutTag(tag, clientTag);
}

bool CQTMovieFile::HoldsFloatSamples() const
{
    return m_floatSamples;
}

void CQTMovieFile::SetClipCountWindow(UInt32 from, UInt32 to)
{
    CSoundFile::SetClipCountWindow(from, to);
    if (m_source)
        m_source->SetClipCountWindow(from, to);
}

OSErr CQTMovieFile::Open()
{
    if (m_isOpen)
        return noErr;
    return Guarded([&]() -> OSErr {
        // A batch looks at its input before converting it: the source that
        // look opened, if it is untouched, is taken back.
        std::shared_ptr<MovieSource> source;
        if (std::unique_ptr<OpenedMovie> opened = InputHandOff::Take<OpenedMovie>(m_path))
            source = std::move(opened->source);
        OSErr err = noErr;
        if (source) {
            source->SetClipCountWindow(0, ~UInt64(0));
        } else {
            // Game music has no end to count to: refused before the count
            // would decode for hours.
            if (IsGameMusic(QString::fromStdString(m_path)))
                return kGameMusicErr;
            std::unique_ptr<MovieSource> opened;
            err = MovieSource::Open(m_path, &opened);
            // A FLAC file that ends inside its metadata is a cut, whatever
            // the libraries made of it.
            if (err != noErr)
                return movie_input::FlacMetadataCut(m_path) ? OSErr(eofErr) : err;
            source = std::move(opened);
        }
        const UInt32 channels = source->Channels();
        if (channels == 0 || channels > 0xFFFF)
            return kNoAudioTrackErr;
        m_fileFormat = source->FileFormat();
        m_dataFormat = source->DataFormat();
        m_floatSamples = source->FloatSamples();
        m_numChannels = channels;
        if (m_dataFormat == media_codes::kALaw)
            m_sampleFormat = kSampleFormatALaw;
        else if (m_dataFormat == media_codes::kULaw)
            m_sampleFormat = kSampleFormatMuLaw;
        else
            m_sampleFormat = kSampleFormatBigEndian;

        // The configuration of the file's speakers; the channels are put in
        // its order in memory only.
        SetMultichannelLayoutTag(0);
        const ChannelArrangement arrangement = ArrangementForChannelLabels(source->FileChannelLabels());
        if (channels < 3) {
            m_channelConfiguration = channels == 2 ? kChannelConfigStereo : kChannelConfigMono;
            // A pair the file stores right first reads left first.
            if (channels == 2 && !arrangement.order.empty())
                source->SetClientLayout(arrangement.layoutTag);
        } else {
            m_channelConfiguration = arrangement.configuration;
            if (!arrangement.order.empty() && !source->SetClientLayout(arrangement.layoutTag))
                m_channelConfiguration = kChannelConfigMultichannel;
            else if (arrangement.configuration == kChannelConfigMultichannel)
                SetMultichannelLayoutTag(arrangement.layoutTag);
        }

        if (m_fileFormat == media_codes::kCAF)
            WarnOfUnmappedCafLayout(m_path, source->FileChannelLabels());
        m_hasVideo = source->HasVideoTrack();
        m_dataSize = source->AudioDataBytes();
        m_numBits = WordLengthOf(*source);
        m_sampleRate = source->SampleRate();
        m_numFrames = UInt32(std::min<UInt64>(source->FrameCount(), 0xFFFFFFFFu));
        m_dataCutShort = source->DataCutShort();
        m_decodeLoss = source->DecodeLoss();
        m_verdictLines = source->RuleLines();
        // The bit rate of the track's data (kbit/s, half up); a zero length
        // never divides.
        const double seconds = m_sampleRate > 0 ? double(m_numFrames) / m_sampleRate : 0.0;
        if (seconds > 0) {
            const double kbps = double(GetDataSize()) / seconds * 0.008;
            m_bitRate = UInt16(std::min(std::floor(kbps + 0.5), 65535.0));
        }
        // MPEG Layer I and II run at the rate their frames state (a short
        // file's last frame would skew the measure).
        if ((m_dataFormat == FOUR_CHAR_CODE(".mp1") || m_dataFormat == FOUR_CHAR_CODE(".mp2")) &&
            source->StatedBitRate() > 0)
            m_bitRate = UInt16(std::min<UInt32>(source->StatedBitRate() / 1000, 65535));
        m_source = std::move(source);
        m_isOpen = true;
        m_samplesStart = 0;
        m_samplesCount = 0;
        err = ReadMarkers();
        if (err == noErr)
            err = AddFileRegion();
        if (err != noErr) {
            Close();
            return err;
        }
        return noErr;
    });
}

OSErr CQTMovieFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                           ConstStr255Param nameExtension, float sampleRate)
{
    if (!Exports())
        return kCreateSoundFileErr;
    if (m_isOpen)
        return paramErr;
    m_requestedWordLength = numBits;
    return Guarded([&]() -> OSErr {
        return CIntermediateCodedFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                              sampleRate);
    });
}

OSErr CQTMovieFile::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                               const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate)
{
    if (!Exports())
        return kCreateSoundFileErr;
    if (!source || m_isOpen)
        return paramErr;
    m_requestedWordLength = numBits;
    return Guarded([&]() -> OSErr {
        return CIntermediateCodedFile::CreateLike(source, numChannels, numBits, reserved, fileTypeSpecifics,
                                                  nameExtension, sampleRate);
    });
}

OSErr CQTMovieFile::CheckShape(UInt16 channels, double sampleRate) const
{
    if (channels == 0 || !(sampleRate >= 1.0))
        return paramErr;
    return channels > 2 && GetExportCompression() == media_codes::kIMA4 ? kIMATooManyChannelsErr : noErr;
}

OSType CQTMovieFile::GetExportCompression() const
{
    return 0;
}

OSErr CQTMovieFile::CreateDataFile(UInt16 channels, double sampleRate, const UInt8* specifics)
{
    // The output's name is ours from here on: the export writes into it.
    OSErr err = CreateFileExclusive(m_path);
    if (err != noErr)
        return err;
    m_outputLock.Hold(m_path);
    m_writing = true;
    m_isOpen = true;
    if ((err = SetupForWriting(channels, m_requestedWordLength, sampleRate, specifics)) != noErr)
        return err;
    m_numFrames = 0;
    return noErr;
}

InnerLinearFile::Kind CQTMovieFile::Intermediate() const
{
    // Beside the output, under a temporary name of the one shape, drawn
    // exclusively (the class adds ".aif"), which the run's ledger records: a
    // run killed while it exports leaves it to the next run's clean-up.  It describes the
    // output's layout: the export labels the channels by it.
    InnerLinearFile::Kind kind = InnerLinearFile::Kind::Beside(format_type_codes::kTemp);
    kind.takesReservedName = true;
    kind.bits = m_intermediateBits;
    kind.layoutOf = this;
    return kind;
}

bool CQTMovieFile::Exports() const
{
    return m_identity.exportStep != nullptr;
}

OSErr CQTMovieFile::SetupForWriting(UInt16 channels, SInt16, double sampleRate, const UInt8*)
{
    m_sampleRate = sampleRate;
    m_numChannels = channels;
    m_numBits = m_intermediateBits;
    return noErr;
}

OSErr CQTMovieFile::GetExportSettings(MovieExportSettings*)
{
    return noErr;
}

QString CQTMovieFile::GetExportStepName() const
{
    return m_identity.exportStep ? QString::fromLatin1(m_identity.exportStep)
                                 : QStringLiteral("encoding to QuickTime Movie");
}

OSErr CQTMovieFile::FinishExport()
{
    return noErr;
}

OSErr CQTMovieFile::LoadExportSettings(OSType resourceType, SInt16 resourceID, MovieExportSettings* settings)
{
    if (!settings)
        return paramErr;
    return Guarded([&]() -> OSErr {
        const std::string path = GetResourcePathString("MovieExportSettings.plist");
        const QVariantMap all = PropertyList::fromFile(QString::fromStdString(path)).toMap();
        const QVariantList entries = all.value(QString::fromStdString(fourcc_to_string(resourceType))).toList();
        if (resourceID < 0 || resourceID >= entries.size())
            return resNotFound;
        const QVariantMap entry = entries.at(resourceID).toMap();
        const QString container = entry.value(QStringLiteral("container")).toString();
        const QByteArray compression = entry.value(QStringLiteral("compression")).toString().toLatin1();
        if (container.isEmpty())
            return resNotFound;
        settings->container = container.toStdString();
        if (compression.size() == 4)
            settings->compression = OSType(UInt8(compression[0])) << 24 | OSType(UInt8(compression[1])) << 16 |
                                    OSType(UInt8(compression[2])) << 8 | OSType(UInt8(compression[3]));
        settings->sampleSize = UInt16(entry.value(QStringLiteral("sampleSize"), 16).toInt());
        settings->littleEndian = entry.value(QStringLiteral("littleEndian"), false).toBool();
        return noErr;
    });
}

OSErr CQTMovieFile::ExportMovie()
{
    MovieExportSettings settings;
    OSErr err = GetExportSettings(&settings);
    if (err != noErr)
        return err;
    settings.sampleRate = m_sampleRate;
    settings.channels = m_numChannels;
    if ((err = m_inner.Finish()) != noErr)
        return err;
    // The intermediate, closed, stays ours while the export reads it.
    if (!m_inner.Path().empty())
        m_intermediateLock.Hold(m_inner.Path());
    HoldForTest();
    // Positions in the input's frames, posted as the percentage moves on.
    const int64_t inputFrames = GetNumberOfInputSamples();
    int lastPercent = -1;
    const auto progress = [&](double fraction) -> OSErr {
        const int percent = int(fraction * 100.0);
        if (percent == lastPercent)
            return noErr;
        lastPercent = percent;
        return PostProgressPosition(int64_t(double(percent) / 100.0 * double(inputFrames)));
    };
    return MovieExporter::ConvertMovieToFile(m_inner.File()->GetPath(), m_path, settings, progress);
}

OSErr CQTMovieFile::EncodeOutput()
{
    Str255 step = {0};
    MacRoman::toPascal(GetExportStepName(), step, 255);
    PostProgressStep(step, 0);
    const OSErr result = ExportMovie();
    return result == noErr ? FinishExport() : result;
}

OSErr CQTMovieFile::CloseDataFile()
{
    m_intermediateLock.Release();
    m_outputLock.Release();
    return CIntermediateCodedFile::CloseDataFile();
}

void CQTMovieFile::HoldForTest() const
{
    // For the tests that kill a run while it exports: with
    // QUILLMARCH_HOLD_EXPORT naming a path, the export, its intermediate
    // finished and both files held, makes "<path>.held" and waits until
    // the path exists.
    const QByteArray hold = qgetenv("QUILLMARCH_HOLD_EXPORT");
    if (hold.isEmpty() || CreateFileExclusive(hold.toStdString() + ".held") != noErr)
        return;
    LetGoOfMadeFile(hold.toStdString() + ".held");
    while (!PathExists(hold.toStdString()))
        QThread::msleep(10);
}

bool CQTMovieFile::RemovesUnencodedOutput() const
{
    return true;
}

namespace {

// The bits of a 32-bit sample that words of `bytes` bytes drop of the top
// `held` bytes a word length keeps (the bits below those are never read):
// a block with any of them set cannot be given in the shorter words
// without rounding.
UInt32 DroppedBits(UInt32 held, UInt32 bytes)
{
    return held > bytes ? ((1u << 8 * (held - bytes)) - 1) << (32 - 8 * held) : 0;
}

// The top `held` bytes of a 32-bit sample.
UInt32 HeldBits(UInt32 held)
{
    return held >= 4 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> 8 * held);
}

// A held sample (its bits below the held bytes clear) cut to 16 bits as the
// copy cuts words without noise: halves rounded up, the top step of the
// range truncated (its sum would pass 2^31).
inline UInt32 Rounded16(UInt32 sample)
{
    const SInt32 s = std::min(SInt32(sample), SInt32(0x7FFEFFFF));
    return UInt32((s + 0x8000) >> 16) << 16;
}

// Frames [from, frames) of the scalar loop: false when a sample has one
// of `dropped` set.  Rounding (two-byte words only): each sample is
// rounded to them, and none is lost.
template <int Bytes, bool Little, bool Rounding = false>
bool InterleaveScalar(const SInt32* const* channels, UInt32 count, UInt32 from, UInt32 frames, UInt32 dropped,
                      UInt8* out, UInt32 held = 0xFFFFFFFFu)
{
    UInt32 lost = 0;
    for (UInt32 i = from; i < frames; ++i)
        for (UInt32 c = 0; c < count; ++c) {
            UInt32 sample = UInt32(channels[c][i]);
            if constexpr (Rounding)
                sample = Rounded16(sample & held);
            else
                lost |= sample & dropped;
            const UInt32 word = Little ? sample >> (32 - 8 * Bytes) : __builtin_bswap32(sample);
            std::memcpy(out, &word, Bytes);
            out += Bytes;
        }
    return lost == 0;
}

#if defined(__x86_64__) || defined(__i386__)
// Stereo 24-bit, four frames at a time: the two channels' words paired,
// then each word's top three bytes shuffled into place (SSSE3).  Each
// 16-byte store reaches 4 bytes past its 12, which the next store or the
// last frame (written one by one) overwrites.
__attribute__((target("ssse3"))) UInt32 InterleaveStereo24(const SInt32* left, const SInt32* right, UInt32 frames,
                                                          bool little, UInt8* out)
{
    const __m128i order = little ? _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1)
                                 : _mm_setr_epi8(3, 2, 1, 7, 6, 5, 11, 10, 9, 15, 14, 13, -1, -1, -1, -1);
    UInt32 i = 0;
    for (; i + 5 <= frames; i += 4, out += 24) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(_mm_unpacklo_epi32(l, r), order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm_shuffle_epi8(_mm_unpackhi_epi32(l, r), order));
    }
    return i;
}

bool HasSsse3()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}
#endif

#if defined(__SSE2__)
// Rounded16 of four held samples.
inline __m128i Rounded16x4(__m128i w, __m128i held)
{
    const __m128i guard = _mm_set1_epi32(0x7FFEFFFF);
    const __m128i s = _mm_and_si128(w, held);
    const __m128i above = _mm_cmpgt_epi32(s, guard);
    const __m128i kept = _mm_or_si128(_mm_and_si128(above, guard), _mm_andnot_si128(above, s));
    return _mm_slli_epi32(_mm_srai_epi32(_mm_add_epi32(kept, _mm_set1_epi32(0x8000)), 16), 16);
}
#endif

// Stereo 16-bit, four frames at a time: the top halves paired and packed,
// byte-swapped for big-endian words (SSE2); *lost gets the `dropped` bits
// found set.  Rounding: each held sample rounded to 16 bits (Rounded16),
// and none is lost.
template <bool Rounding>
UInt32 InterleaveStereo16(const SInt32* left, const SInt32* right, UInt32 frames, bool little, UInt32 dropped,
                          UInt32 heldBits, UInt32* lost, UInt8* out)
{
    UInt32 i = 0;
#if defined(__SSE2__)
    const __m128i drop = _mm_set1_epi32(SInt32(dropped));
    const __m128i held = _mm_set1_epi32(SInt32(heldBits));
    __m128i seen = _mm_setzero_si128();
    for (; i + 4 <= frames; i += 4, out += 16) {
        __m128i lw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i));
        __m128i rw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i));
        if constexpr (Rounding) {
            lw = Rounded16x4(lw, held);
            rw = Rounded16x4(rw, held);
        } else {
            seen = _mm_or_si128(seen, _mm_and_si128(_mm_or_si128(lw, rw), drop));
        }
        const __m128i l = _mm_srai_epi32(lw, 16);
        const __m128i r = _mm_srai_epi32(rw, 16);
        __m128i words = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        if (!little)
            words = _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), words);
    }
    *lost = _mm_movemask_epi8(_mm_cmpeq_epi32(seen, _mm_setzero_si128())) != 0xFFFF;
#else
    *lost = 0;
#endif
    return i;
}

// The block the conversion reads: `frames` frames of `count` channels, each
// sample in the integer words of `shape` cut from the top `held` bytes,
// frame after frame.  False when a sample has bits set that those words
// drop.  With `round`, two-byte words shorter than the held ones are
// rounded to as the copy rounds them without noise (Rounded16), and
// nothing is false.
bool InterleaveWords(const SInt32* const* channels, UInt32 count, UInt32 frames, UInt32 held,
                     const RawSampleLayout& shape, bool round, UInt8* out)
{
    const UInt32 dropped = DroppedBits(held, shape.bytes);
    const UInt32 heldBits = HeldBits(held);
    if (round && shape.bytes == 2 && dropped != 0) {
        UInt32 from = 0;
        UInt32 lost = 0;
        if (count == 2)
            from = InterleaveStereo16<true>(channels[0], channels[1], frames, shape.littleEndian, 0, heldBits, &lost,
                                            out);
        out += std::size_t(from) * count * 2;
        return shape.littleEndian ? InterleaveScalar<2, true, true>(channels, count, from, frames, 0, out, heldBits)
                                  : InterleaveScalar<2, false, true>(channels, count, from, frames, 0, out, heldBits);
    }
    UInt32 from = 0;
    UInt32 lost = 0;
    if (count == 2 && shape.bytes == 2)
        from = InterleaveStereo16<false>(channels[0], channels[1], frames, shape.littleEndian, dropped, heldBits,
                                         &lost, out);
#if defined(__x86_64__) || defined(__i386__)
    else if (count == 2 && shape.bytes == 3 && dropped == 0 && HasSsse3())
        from = InterleaveStereo24(channels[0], channels[1], frames, shape.littleEndian, out);
#endif
    out += std::size_t(from) * count * shape.bytes;
    bool kept = false;
    switch (shape.bytes * 2 + shape.littleEndian) {
    case 2: kept = InterleaveScalar<1, false>(channels, count, from, frames, dropped, out); break;
    case 3: kept = InterleaveScalar<1, true>(channels, count, from, frames, dropped, out); break;
    case 4: kept = InterleaveScalar<2, false>(channels, count, from, frames, dropped, out); break;
    case 5: kept = InterleaveScalar<2, true>(channels, count, from, frames, dropped, out); break;
    case 6: kept = InterleaveScalar<3, false>(channels, count, from, frames, dropped, out); break;
    case 7: kept = InterleaveScalar<3, true>(channels, count, from, frames, dropped, out); break;
    case 8: kept = InterleaveScalar<4, false>(channels, count, from, frames, dropped, out); break;
    default: kept = InterleaveScalar<4, true>(channels, count, from, frames, dropped, out); break;
    }
    return kept && lost == 0;
}

}  // namespace

// The block from `frame` into `data` (buffer-frames frames, at most
// `limit`): samples in the words of `shape`, frame after frame; *have gets
// the frames written, fewer only at the end of the file.  *exact: false
// when a sample had bits set the words drop (`round`: two-byte words are
// rounded to instead, InterleaveWords).
OSErr CQTMovieFile::DecodeFrames(UInt32 frame, UInt32 limit, const RawSampleLayout& shape, bool round, UInt8* data,
                                 UInt32* have, bool* exact)
{
    *have = 0;
    const UInt32 frames = frame < m_numFrames ? std::min({GetBufferFrames(), m_numFrames - frame, limit}) : 0;
    if (frames > 0) {
        const OSErr err = FillBlock(frame, frames);
        if (err != noErr)
            return err;
    }
    *have = std::min(frames, m_samplesCount);
    *exact = InterleaveWords(m_channels.data(), GetNumChannels(), *have, UInt32(BitsToBytes(m_numBits)), shape, round,
                             data);
    return noErr;
}

// The file's own words: big-endian, of its word length.
RawSampleLayout CQTMovieFile::HeldWords() const
{
    RawSampleLayout shape;
    shape.bytes = UInt8(BitsToBytes(m_numBits));
    return shape;
}

OSErr CQTMovieFile::ReadCodedBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        if (!m_source)
            return kFileNotOpenedErr;
        OSErr err = AllocateReadBuffer();
        if (err != noErr)
            return err;
        UInt32 have = 0;
        bool exact = true;
        err = DecodeFrames(frame, GetBufferFrames(), HeldWords(), false, m_readBuffer, &have, &exact);
        if (err != noErr)
            return err;
        // The rest of the block is silence.
        const std::size_t frameBytes = std::size_t(GetNumChannels()) * std::size_t(BitsToBytes(m_numBits));
        std::fill(m_readBuffer + have * frameBytes, m_readBuffer + std::size_t(GetBufferFrames()) * frameBytes, UInt8(0));
        m_readBufferStart = frame;
        return noErr;
    });
}

// The decoded words are plain big-endian integers of the word length, so
// that a copy takes them as they are, without the read buffer.
bool CQTMovieFile::GetRawSampleLayout(RawSampleLayout* layout) const
{
    if (m_writing || !m_source || !layout)
        return false;
    *layout = HeldWords();
    return true;
}

OSErr CQTMovieFile::ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled)
{
    *filled = 0;
    return Guarded([&]() -> OSErr {
        if (m_writing || !m_source)
            return kFileNotOpenedErr;
        bool exact = true;
        return DecodeFrames(frame, GetBufferFrames(), HeldWords(), false, data, filled, &exact);
    });
}

// Integer words of up to the file's word length, in either byte order, are
// made from the decoded samples in the same pass as its own: two-byte words
// rounded as the copy rounds them without noise, longer ones where every
// bit they drop is clear (the cut then rounds nothing).
OSErr CQTMovieFile::ReadRawFramesAs(const RawSampleLayout& layout, UInt32 frame, UInt32 frames, UInt8* data,
                                    UInt32* filled, bool* made)
{
    *filled = 0;
    *made = false;
    return Guarded([&]() -> OSErr {
        if (m_writing || !m_source)
            return kFileNotOpenedErr;
        if (layout.ieeeFloat || layout.offsetBinary || layout.bytes < 2 || layout.bytes > HeldWords().bytes)
            return noErr;
        UInt32 have = 0;
        bool exact = false;
        const OSErr err = DecodeFrames(frame, frames, layout, true, data, &have, &exact);
        if (err == noErr && exact) {
            *filled = have;
            *made = true;
        }
        return err;
    });
}

OSErr CQTMovieFile::Close()
{
    if (m_writing)
        return CIntermediateCodedFile::Close();
    if (m_source && m_source->Untouched())
        InputHandOff::Keep(m_path, std::make_unique<OpenedMovie>(std::move(m_source)));
    m_source.reset();
    m_isOpen = false;
    m_samples.clear();
    m_channels.clear();
    m_samplesStart = 0;
    m_samplesCount = 0;
    return noErr;
}

OSErr CQTMovieFile::ProbeHeader(SInt16* result)
{
    const OSErr err = Open();
    if (result)
        *result = err == noErr ? SInt16(std::min<int>(GetNumRegions(), 0x7FFF)) : 0;
    if (err == noErr)
        Close();
    return err;
}

OSErr CQTMovieFile::SetFilePos(UInt32 frame)
{
    if (!m_source)
        return kFileNotOpenedErr;
    m_samplesCount = 0;
    return m_source->Seek(frame);
}

OSErr CQTMovieFile::SetBufferFrames(UInt32 frames)
{
    if (m_writing)
        return CSoundFile::SetBufferFrames(frames);
    if (frames == GetBufferFrames())
        return noErr;
    const OSErr err = CSoundFile::SetBufferFrames(frames);
    m_samples.clear();
    m_channels.clear();
    m_samplesCount = 0;
    return err;
}

// Decodes `frames` frames from `frame` into the per-channel samples,
// continuing the last block when it ends at `frame`.
OSErr CQTMovieFile::FillBlock(UInt32 frame, UInt32 frames)
{
    const UInt32 channels = GetNumChannels();
    const std::size_t perChannel = GetBufferFrames();
    if (m_samples.size() != perChannel * channels) {
        m_samples.assign(perChannel * channels, 0);
        m_channels.resize(channels);
        for (UInt32 c = 0; c < channels; ++c)
            m_channels[c] = m_samples.data() + c * perChannel;
        m_samplesCount = 0;
    }
    UInt32 kept = 0;
    if (m_samplesCount > 0 && frame >= m_samplesStart && frame < m_samplesStart + m_samplesCount &&
        m_source->Position() == m_samplesStart + m_samplesCount) {
        // The frames still held move to the front.
        const UInt32 offset = UInt32(frame - m_samplesStart);
        kept = std::min(m_samplesCount - offset, frames);
        if (offset > 0)
            for (UInt32 c = 0; c < channels; ++c)
                std::copy(m_channels[c] + offset, m_channels[c] + offset + kept, m_channels[c]);
    } else if (m_source->Position() != frame) {
        const OSErr err = m_source->Seek(frame);
        if (err != noErr)
            return err;
    }
    UInt32 delivered = 0;
    if (frames > kept) {
        m_readAt.resize(channels);
        for (UInt32 c = 0; c < channels; ++c)
            m_readAt[c] = m_channels[c] + kept;
        const OSErr err = m_source->Read(m_readAt.data(), frames - kept, &delivered);
        m_decodeLoss = m_source->DecodeLoss();
        if (err != noErr) {
            m_samplesCount = 0;
            return err;
        }
    }
    m_samplesStart = frame;
    m_samplesCount = kept + delivered;
    return noErr;
}

Boolean CQTMovieFile::IsFrameInReadBuffer(UInt32 frame) const
{
    return m_readBuffer && frame >= m_readBufferStart && UInt64(frame) < UInt64(m_readBufferStart) + GetBufferFrames();
}

OSType CQTMovieFile::GetFileType() const
{
    return m_identity.fileType;
}

OSType CQTMovieFile::GetKeptFileType() const
{
    if (m_identity.fileType != format_type_codes::kMovie)
        return m_identity.fileType;
    const bool layer1 = m_dataFormat == FOUR_CHAR_CODE(".mp1");
    const bool layer2 = m_dataFormat == FOUR_CHAR_CODE(".mp2");
    switch (m_fileFormat) {
    case media_codes::kCAF: return FOUR_CHAR_CODE("caff");
    case FOUR_CHAR_CODE("MPG3"):
        if (layer1 || layer2)
            return layer1 ? FOUR_CHAR_CODE("MPG1") : FOUR_CHAR_CODE("MPG2");
        break;
    case media_codes::kWAVE:
        if (layer1 || layer2)
            return FOUR_CHAR_CODE("BWMP");
        break;
    case media_codes::kMovie:
        switch (m_dataFormat) {
        case media_codes::kALaw: return FOUR_CHAR_CODE("QTAL");
        case media_codes::kULaw: return FOUR_CHAR_CODE("QTUL");
        case media_codes::kIMA4: return FOUR_CHAR_CODE("QTIM");
        case kAudioFormatLinearPCM: return FOUR_CHAR_CODE("QTIF");
        default: break;
        }
        break;
    default: break;
    }
    return m_identity.fileType;
}

QString CQTMovieFile::GetFormatName() const
{
    if (m_identity.formatName)
        return QString::fromUtf8(m_identity.formatName);
    static const char* const kPrefixes[] = {"", "", "LCR", "Quad ", "LCRS ", "5.0 Surround ", "5.1 Surround ",
                                            "6.0 Surround ", "6.1 Surround ", "7.1 Surround ", "10.2 Surround ", ""};
    QString prefix;
    if (m_channelConfiguration >= 0 && m_channelConfiguration <= 11)
        prefix = QString::fromLatin1(kPrefixes[m_channelConfiguration]);
    QString name;
    const std::string extension = string_to_lower(path_extension(m_path));
    const auto nameBy = [&](const ExtensionName& entry) {
        name = entry.afterPrefix ? prefix + QString::fromLatin1(entry.name) : QString::fromLatin1(entry.name);
    };
    if (extension == "mp3") {
        name = m_sampleRate >= 32000 ? QStringLiteral("MPEG-1 Layer III ('MP3')")
                                     : QStringLiteral("MPEG-2 Layer III ('MP3')");
    } else if (const ExtensionName* stream = FindExtensionName(kStreamNames, extension)) {
        nameBy(*stream);
    } else if (m_fileFormat == media_codes::kAIFC) {
        name = prefix + QStringLiteral("AIFC ");
        if (m_dataFormat == media_codes::kIMA4)
            name += QStringLiteral("IMA 4:1");
        else if (m_dataFormat == media_codes::kULaw)
            name += QString::fromUtf8("\xCE\xBC-law");
        else if (m_dataFormat == media_codes::kALaw)
            name += QStringLiteral("A-law");
    } else if (const ExtensionName* container = FindExtensionName(kContainerNames, extension)) {
        nameBy(*container);
    }
    if (name.isEmpty())
        name = NameByContent(prefix);
    return name;
}

QString CQTMovieFile::NameByContent(const QString& prefix) const
{
    // A file whose name says nothing of it is named by what is read: its
    // container, and the coding where the container holds several.
    switch (m_fileFormat) {
    case FOUR_CHAR_CODE("Ogg "):
        switch (m_dataFormat) {
        case FOUR_CHAR_CODE("opus"): return QStringLiteral("Ogg Opus");
        case FOUR_CHAR_CODE("flac"): return QStringLiteral("Ogg FLAC");
        default: return QStringLiteral("Ogg Vorbis");
        }
    case FOUR_CHAR_CODE("flac"): return QStringLiteral("FLAC");
    case media_codes::kWAVE: return prefix + QStringLiteral("Compressed Wave");
    case media_codes::kCAF: return prefix + QStringLiteral("Core Audio File");
    case FOUR_CHAR_CODE("amrf"): return QStringLiteral("Adaptive Multi-Rate Speech Encoding for Mobile Phones");
    case FOUR_CHAR_CODE("m4af"):
    case FOUR_CHAR_CODE("mp4f"):
    case FOUR_CHAR_CODE("adts"): return QStringLiteral("MPEG-4 Audio");
    case FOUR_CHAR_CODE("3gpp"): return QStringLiteral("GSM Mobile Phone Video");
    case FOUR_CHAR_CODE("MPG3"):
        switch (m_dataFormat) {
        case FOUR_CHAR_CODE(".mp1"): return QStringLiteral("MPEG-1 Layer 1 ('MPG')");
        case FOUR_CHAR_CODE(".mp2"): return QStringLiteral("MPEG-1 Layer 2 ('MP2')");
        default: break;
        }
        return m_sampleRate >= 32000 ? QStringLiteral("MPEG-1 Layer III ('MP3')")
                                     : QStringLiteral("MPEG-2 Layer III ('MP3')");
    default: return QStringLiteral("QuickTime Movie");
    }
}

std::string CQTMovieFile::GetChannelName(UInt16 channel) const
{
    std::string name = ConfigurationChannelName(LayoutReader::Movie, m_channelConfiguration, GetMultichannelLayoutTag(), channel);
    return name.empty() ? CSoundFile::GetChannelName(channel) : name;
}

Boolean CQTMovieFile::HasVideoTrack() const
{
    return m_hasVideo;
}

Boolean CQTMovieFile::NeedsDecodingOnOpen() const
{
    return false;
}

Boolean CQTMovieFile::UseBitRate() const
{
    // A perceptual coding has a bit rate, no word size (MPEG audio in a
    // Broadcast Wave file, Vorbis and Opus in Ogg ...).
    switch (m_dataFormat) {
    case FOUR_CHAR_CODE(".mp1"):
    case FOUR_CHAR_CODE(".mp2"):
    case FOUR_CHAR_CODE(".mp3"):
    case FOUR_CHAR_CODE("aac "):
    case FOUR_CHAR_CODE("vorb"):
    case FOUR_CHAR_CODE("opus"):
    case FOUR_CHAR_CODE("samr"):
    case FOUR_CHAR_CODE("sawb"):
    case FOUR_CHAR_CODE("ac-3"):
        return true;
    default:
        return false;
    }
}

UInt64 CQTMovieFile::GetDataSize() const
{
    return m_dataSize;
}

OSErr CQTMovieFile::ReadMarkers()
{
    // A WAVE-family file (IMA ADPCM, GSM, MPEG ... in RIFF) keeps the
    // markers and regions of its 'cue ' and 'adtl' chunks, read as every
    // WAVE reader reads them.  They are best effort: a file whose chunks
    // cannot be read opens without them.
    if (m_fileFormat != media_codes::kWAVE || m_path.empty() || GetNumMarkers() > 0)
        return noErr;
    FSSpec spec;
    SInt16 refNum = 0;
    if (PathMakeFSSpec(m_path, &spec) != noErr || FSpOpenDF(&spec, fsRdPerm, &refNum) != noErr)
        return noErr;
    RefNumChunkSource source(refNum);
    RIFFChunkList chunks;
    std::vector<wave_chunks::CueAnnotation> annotations;
    const bool read = chunks.Walk(source) == noErr && chunks.ContainerID() == riff_chunks::kRIFF &&
                      chunks.FormType() == riff_chunks::kWAVE && wave_chunks::ReadCueList(chunks, &annotations) == noErr;
    FSClose(refNum);
    if (read)
        wave_chunks::AddCueAnnotations(*this, annotations, GetIgnoreRegionsContainingWholeFile());
    return noErr;
}

OSType CQTMovieFile::GetMovieFileType() const
{
    return format_type_codes::kMovie;
}

SoundFileTypeDescriptor CQTMovieFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("MooV"), .factory = &MakeSoundFile<CQTMovieFile>, .probe = &ProbeMovie};
}
