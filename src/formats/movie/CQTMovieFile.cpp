#include "CQTMovieFile.h"

#include "MovieSource.h"
#include "string_utils.h"

#include <algorithm>
#include <cmath>

namespace {

struct TagRule {
    AudioChannelLayoutTag tag;
    SInt32 configuration;
    AudioChannelLayoutTag client;
};

// The file's tag, the configuration it gives and the tag of that
// configuration's channel order.
constexpr TagRule kTagRules[] = {
    {0x640001, kChannelConfigMono, 0},
    {0x650002, kChannelConfigStereo, 0},
    {0x660002, kChannelConfigStereo, 0}, {0x670002, kChannelConfigStereo, 0},
    {0x680002, kChannelConfigStereo, 0}, {0x690002, kChannelConfigStereo, 0},
    {0x6A0002, kChannelConfigStereo, 0},
    {0x960003, kChannelConfigLCR, 0x960003}, {0x710003, kChannelConfigLCR, 0x960003},
    {0x720003, kChannelConfigLCR, 0x960003}, {0x830003, kChannelConfigLCR, 0x960003},
    {0x6C0004, kChannelConfigQuad, 0x6C0004}, {0x840004, kChannelConfigQuad, 0x6C0004},
    {0x740004, kChannelConfigLCRS, 0x740004}, {0x730004, kChannelConfigLCRS, 0x740004},
    {0x760005, kChannelConfig5_0, 0x760005}, {0x6D0005, kChannelConfig5_0, 0x760005},
    {0x750005, kChannelConfig5_0, 0x760005}, {0x770005, kChannelConfig5_0, 0x760005},
    {0x780005, kChannelConfig5_0, 0x760005},
    {0x790006, kChannelConfig5_1, 0x790006}, {0x7A0006, kChannelConfig5_1, 0x790006},
    {0x7B0006, kChannelConfig5_1, 0x790006}, {0x7C0006, kChannelConfig5_1, 0x790006},
    {0x8B0006, kChannelConfig6_0, 0x8B0006}, {0x6E0006, kChannelConfig6_0, 0x8B0006},
    {0x8D0006, kChannelConfig6_0, 0x8B0006},
    {0x7D0007, kChannelConfig6_1, 0x7D0007}, {0x8E0007, kChannelConfig6_1, 0x7D0007},
    {0x7F0008, kChannelConfig7_1, 0x7F0008}, {0x7E0008, kChannelConfig7_1, 0x7F0008},
    {0x800008, kChannelConfig7_1, 0x7F0008}, {0x810008, kChannelConfig7_1, 0x7F0008},
};

constexpr AudioChannelLayoutTag kConfigurationTags[] = {0x960003, 0x6C0004, 0x740004, 0x760005, 0x790006,
                                                        0x8B0006, 0x7D0007, 0x7F0008};

} // namespace

CQTMovieFile::CQTMovieFile() = default;

CQTMovieFile::~CQTMovieFile()
{
    if (m_isOpen || m_source)
        CQTMovieFile::Close();
}

SInt32 CQTMovieFile::ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag)
{
    if (clientTag)
        *clientTag = 0;
    for (const TagRule& rule : kTagRules) {
        if (rule.tag == tag) {
            if (clientTag)
                *clientTag = rule.client;
            return rule.configuration;
        }
    }
    return kChannelConfigMultichannel;
}

OSErr CQTMovieFile::Open()
{
    if (m_isOpen)
        return noErr;
    return Guarded([&]() -> OSErr {
        std::unique_ptr<MovieSource> source;
        OSErr err = MovieSource::Open(m_path, &source);
        if (err != noErr)
            return err;
        const UInt32 channels = source->Channels();
        if (source->FrameCount() == 0 || channels == 0 || channels > 0xFFFF)
            return kInvalidMovieErr;
        m_fileFormat = source->FileFormat();
        m_dataFormat = source->DataFormat();
        m_numChannels = channels;
        if (m_dataFormat == FOUR_CHAR_CODE("alaw"))
            m_sampleFormat = kSampleFormatALaw;
        else if (m_dataFormat == FOUR_CHAR_CODE("ulaw"))
            m_sampleFormat = kSampleFormatMuLaw;
        else
            m_sampleFormat = kSampleFormatBigEndian;

        // The configuration from the file's layout; the channels are put in
        // its order in memory only.
        if (channels < 3) {
            m_channelConfiguration = channels == 2 ? kChannelConfigStereo : kChannelConfigMono;
        } else {
            AudioChannelLayoutTag client = 0;
            SInt32 configuration = ConfigurationForLayoutTag(source->FileLayoutTag(), &client);
            if (source->FileLayoutTag() == 0) {
                // No tag has the file's order: a configuration with the
                // same channels, if any.
                for (AudioChannelLayoutTag tag : kConfigurationTags) {
                    if ((tag & 0xFFFF) == channels && source->SetClientLayout(tag)) {
                        configuration = ConfigurationForLayoutTag(tag, nullptr);
                        break;
                    }
                }
            } else if (client != 0 && client != source->FileLayoutTag() && !source->SetClientLayout(client)) {
                configuration = kChannelConfigMultichannel;
            }
            m_channelConfiguration = configuration;
        }

        m_hasVideo = source->HasVideoTrack();
        m_dataSize = source->AudioDataBytes();
        m_numBits = 24;
        m_sampleRate = source->SampleRate();
        m_numFrames = UInt32(std::min<UInt64>(source->FrameCount(), 0xFFFFFFFFu));
        // The bit rate of the track's data (kbit/s, half up); a zero length
        // never divides.
        const double seconds = m_sampleRate > 0 ? double(m_numFrames) / m_sampleRate : 0.0;
        if (seconds > 0) {
            const double kbps = double(GetDataSize()) / seconds * 0.008;
            m_bitRate = UInt16(std::min(std::floor(kbps + 0.5), 65535.0));
        }
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

OSErr CQTMovieFile::Create(UInt16, SInt16, UInt32, const UInt8*, ConstStr255Param, float)
{
    // Movie export is not part of this class: the file cannot be made.
    return kCodedTempFileErr;
}

OSErr CQTMovieFile::Close()
{
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
        for (UInt32 c = 0; c < channels; ++c)
            std::copy(m_channels[c] + offset, m_channels[c] + offset + kept, m_channels[c]);
    } else if (m_source->Position() != frame) {
        const OSErr err = m_source->Seek(frame);
        if (err != noErr)
            return err;
    }
    UInt32 delivered = 0;
    if (frames > kept) {
        std::vector<SInt32*> at(channels);
        for (UInt32 c = 0; c < channels; ++c)
            at[c] = m_channels[c] + kept;
        const OSErr err = m_source->Read(at.data(), frames - kept, &delivered);
        if (err != noErr) {
            m_samplesCount = 0;
            return err;
        }
    }
    m_samplesStart = frame;
    m_samplesCount = kept + delivered;
    return noErr;
}

OSErr CQTMovieFile::ReadBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        if (!m_source)
            return kFileNotOpenedErr;
        OSErr err = AllocateReadBuffer();
        if (err != noErr)
            return err;
        const UInt32 channels = GetNumChannels();
        const UInt32 frames = frame < m_numFrames ? std::min(GetBufferFrames(), m_numFrames - frame) : 0;
        if (frames > 0) {
            err = FillBlock(frame, frames);
            if (err != noErr)
                return err;
        }
        // 24-bit samples, the top three bytes of each 32-bit sample; the
        // rest of the block is silence.
        UInt8* out = m_readBuffer;
        const UInt32 have = std::min(frames, m_samplesCount);
        for (UInt32 i = 0; i < have; ++i)
            for (UInt32 c = 0; c < channels; ++c, out += 3)
                UInt32ToUInt24(UInt32(m_channels[c][i]), out);
        std::fill(out, m_readBuffer + std::size_t(GetBufferFrames()) * channels * 3, UInt8(0));
        m_readBufferStart = frame;
        return noErr;
    });
}

OSErr CQTMovieFile::PrepareWriteBlock(UInt32)
{
    return unimpErr;
}

OSErr CQTMovieFile::WriteBlock(UInt32, UInt32)
{
    return unimpErr;
}

Boolean CQTMovieFile::IsFrameInReadBuffer(UInt32 frame) const
{
    return m_readBuffer && frame >= m_readBufferStart && UInt64(frame) < UInt64(m_readBufferStart) + GetBufferFrames();
}

OSType CQTMovieFile::GetFileType() const
{
    return FOUR_CHAR_CODE("MooV");
}

QString CQTMovieFile::GetFormatName() const
{
    static const char* const kPrefixes[] = {"", "", "LCR", "Quad ", "LCRS ", "5.0 Surround ", "5.1 Surround ",
                                            "6.0 Surround ", "6.1 Surround ", "7.1 Surround ", "10.2 Surround ", ""};
    QString name;
    if (m_channelConfiguration >= 0 && m_channelConfiguration <= 11)
        name = QString::fromLatin1(kPrefixes[m_channelConfiguration]);
    const std::string extension = string_to_lower(path_extension(m_path));
    if (extension == "mp3") {
        name = m_sampleRate >= 32000 ? QStringLiteral("MPEG-1 Layer III ('MP3')")
                                     : QStringLiteral("MPEG-2 Layer III ('MP3')");
    } else if (extension == "m4a" || extension == "mp4") {
        name = QStringLiteral("MPEG-4 Audio");
    } else if (extension == "mpg") {
        name = QStringLiteral("MPEG-1 Layer 1 ('MPG')");
    } else if (extension == "mp2") {
        name = QStringLiteral("MPEG-1 Layer 2 ('MP2')");
    } else if (m_fileFormat == FOUR_CHAR_CODE("AIFC")) {
        name += QStringLiteral("AIFC ");
        if (m_dataFormat == FOUR_CHAR_CODE("ima4"))
            name += QStringLiteral("IMA 4:1");
        else if (m_dataFormat == FOUR_CHAR_CODE("ulaw"))
            name += QString::fromUtf8("\xCE\xBC-law");
        else if (m_dataFormat == FOUR_CHAR_CODE("alaw"))
            name += QStringLiteral("A-law");
    } else if (extension == "aif") {
        name += QStringLiteral("AIFC");
    } else if (extension == "wav") {
        name += QStringLiteral("Compressed Wave");
    } else if (extension == "caf") {
        name += QStringLiteral("Core Audio File");
    } else if (extension == "3gp") {
        name = QStringLiteral("GSM Mobile Phone Video");
    } else if (extension == "amr") {
        name = QStringLiteral("Adaptive Multi-Rate Speech Encoding for Mobile Phones");
    } else if (extension == "ogg") {
        name = QStringLiteral("Ogg Vorbis");
    } else if (extension == "wma") {
        name += QStringLiteral("Windows Media Audio");
    } else if (extension == "wmv") {
        name += QStringLiteral("Windows Media Video");
    } else if (extension == "flac") {
        name = QStringLiteral("FLAC");
    }
    if (name.isEmpty())
        name = QStringLiteral("QuickTime Movie");
    return name;
}

std::string CQTMovieFile::GetChannelName(UInt16 channel) const
{
    static const std::vector<std::vector<const char*>> kNames = {
        {"1"},
        {"Left", "Right"},
        {"Left", "Center", "Right"},
        {"Left", "Right", "Left Surround", "Right Surround"},
        {"Center", "Left", "Right", "Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center", "Center Surround"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Center Surround"},
        {"Center", "Left Center", "Right Center", "Left", "Right", "Left Surround", "Right Surround", "Lfe"},
    };
    if (m_channelConfiguration < 0 || m_channelConfiguration >= SInt32(kNames.size()))
        return CSoundFile::GetChannelName(channel);
    const std::vector<const char*>& names = kNames[std::size_t(m_channelConfiguration)];
    return names[std::min<std::size_t>(channel, names.size() - 1)];
}

Boolean CQTMovieFile::HasVideoTrack() const
{
    return m_hasVideo;
}

Boolean CQTMovieFile::NeedsDecodingOnOpen() const
{
    return false;
}

Boolean CQTMovieFile::PlaysUsingQT() const
{
    return false;
}

UInt64 CQTMovieFile::GetDataSize() const
{
    return m_dataSize;
}

OSErr CQTMovieFile::ReadMarkers()
{
    return noErr;
}

OSType CQTMovieFile::GetMovieFileType() const
{
    return FOUR_CHAR_CODE("MooV");
}
