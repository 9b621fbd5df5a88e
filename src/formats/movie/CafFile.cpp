#include "CafFile.h"
#include "MediaCodes.h"

#include "ChannelArrangement.h"
#include "ChannelLabels.h"
#include "CreateSoundFile.h"
#include "ExtAudioFile.h"
#include "MovieSource.h"
#include "SoundFileFactories.h"
#include "channel_layout_rules.h"

#include <algorithm>
#include <cstring>

namespace {

// Bits the client format gets for a file's data format.
UInt32 ClientBits(const AudioStreamBasicDescription& file)
{
    // Companded and ADPCM samples decode to 16 bits (more than the 8 or 4
    // bits the file states per sample).
    if (file.mFormatID == media_codes::kALaw || file.mFormatID == media_codes::kULaw ||
        file.mFormatID == media_codes::kIMA4)
        return 16;
    if (file.mBitsPerChannel == 0)
        return 24;
    return std::min<UInt32>((file.mBitsPerChannel + 7) / 8 * 8, 32);
}

} // namespace

CafFile::CafFile() = default;

CafFile::~CafFile()
{
    if (m_file)
        ExtAudioFileDispose(m_file);
}

SInt32 CafFile::ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag)
{
    return ::ConfigurationForLayoutTag(tag, clientTag);
}

void CafFile::BuildBufferList(bool interleaved)
{
    const UInt32 channels = GetNumChannels();
    const UInt32 count = interleaved ? 1 : channels;
    const UInt32 bytes = UInt32(BitsToBytes(m_numBits));
    m_listStorage.assign(AudioBufferListSize(count), 0);
    m_listBuffers.assign(count, std::vector<UInt8>(std::size_t(GetBufferFrames()) * bytes * (interleaved ? channels : 1)));
    auto* list = reinterpret_cast<AudioBufferList*>(m_listStorage.data());
    list->mNumberBuffers = count;
    for (UInt32 b = 0; b < count; ++b) {
        list->mBuffers[b].mNumberChannels = interleaved ? channels : 1;
        list->mBuffers[b].mDataByteSize = UInt32(m_listBuffers[b].size());
        list->mBuffers[b].mData = m_listBuffers[b].data();
    }
    m_listInterleaved = interleaved;
}

OSErr CafFile::Open()
{
    if (m_file)
        return noErr;
    return Guarded([&]() -> OSErr {
        m_fileFromMemory.clear();
        FSRef ref;
        OSStatus status = FSPathMakeRef(m_path, &ref, nullptr);
        if (status == noErr)
            status = ExtAudioFileOpen(&ref, &m_file);
        // A container the service cannot take is an input of unknown
        // format (a warning for that file, never the end of a batch).
        if (status == kAudioFileInvalidFileError || status == kAudioFileUnsupportedDataFormatError)
            return kUnknownFileFormatErr;
        if (status != noErr)
            return NarrowError(status);
        UInt32 size = sizeof m_format;
        status = ExtAudioFileGetProperty(m_file, kExtAudioFileProperty_FileDataFormat, &size, &m_format);
        if (status != noErr) {
            m_channelConfiguration = GetNumChannels() == 2 ? kChannelConfigStereo : kChannelConfigMono;
            Close();
            return NarrowError(status);
        }
        SInt64 frames = 0;
        size = sizeof frames;
        status = ExtAudioFileGetProperty(m_file, kExtAudioFileProperty_FileLengthFrames, &size, &frames);
        if (status != noErr) {
            Close();
            return NarrowError(status);
        }
        m_numFrames = UInt32(std::clamp<SInt64>(frames, 0, 0xFFFFFFFF));
        UInt32 cut = 0;
        size = sizeof cut;
        m_dataCutShort = ExtAudioFileGetProperty(m_file, kExtAudioFileProperty_DataCutShort, &size, &cut) == noErr &&
                         cut != 0;
        UpdateDecodeLoss();
        m_sampleRate = m_format.mSampleRate;
        m_framesPerPacket = m_format.mFramesPerPacket;
        m_sampleFormat = kSampleFormatBigEndian;

        AudioStreamBasicDescription client;
        client.mSampleRate = m_format.mSampleRate;
        client.mFormatID = kAudioFormatLinearPCM;
        client.mFormatFlags = 46; // signed integer, packed, big-endian, non-interleaved
        client.mBitsPerChannel = ClientBits(m_format);
        client.mBytesPerFrame = client.mBitsPerChannel / 8;
        client.mFramesPerPacket = GetBufferFrames();
        client.mBytesPerPacket = GetBufferFrames() * client.mBytesPerFrame;
        client.mChannelsPerFrame = m_format.mChannelsPerFrame;
        m_numBits = SInt16(client.mBitsPerChannel);
        m_numChannels = client.mChannelsPerFrame;
        status = ExtAudioFileSetProperty(m_file, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client);
        if (status == noErr && m_numChannels >= 2)
            status = MapChannelLayout();
        if (status != noErr) {
            Close();
            return NarrowError(status);
        }
        m_isOpen = true;
        m_blockValid = false;
        m_clientInterleaved = false;
        const OSErr err = AddFileRegion();
        if (err != noErr)
            Close();
        return err;
    });
}

OSErr CafFile::MapChannelLayout()
{
    UInt32 size = 0;
    OSStatus status = ExtAudioFileGetPropertyInfo(m_file, kExtAudioFileProperty_FileChannelLayout, &size, nullptr);
    if (status != noErr)
        return NarrowError(status);
    std::vector<UInt8> storage(std::max<std::size_t>(size, sizeof(AudioChannelLayout)));
    auto* layout = reinterpret_cast<AudioChannelLayout*>(storage.data());
    status = ExtAudioFileGetProperty(m_file, kExtAudioFileProperty_FileChannelLayout, &size, layout);
    if (status != noErr)
        return NarrowError(status);
    // The speakers of the layout: by description, by bitmap or by tag.
    const AudioChannelLayoutTag tag = layout->mChannelLayoutTag;
    const bool stereo = GetNumChannels() == 2;
    SetMultichannelLayoutTag(0);
    m_channelConfiguration = stereo ? kChannelConfigStereo : kChannelConfigMultichannel;
    std::vector<UInt32> labels;
    if (tag == kAudioChannelLayoutTag_UseChannelDescriptions) {
        if (layout->mNumberChannelDescriptions == 0)
            return stereo ? noErr : kWrongChannelErr;
        for (UInt32 i = 0; i < layout->mNumberChannelDescriptions; ++i)
            labels.push_back(layout->mChannelDescriptions[i].mChannelLabel);
    } else if (tag == kAudioChannelLayoutTag_UseChannelBitmap) {
        for (UInt32 bit = 0; bit < 32; ++bit)
            if (layout->mChannelBitmap & (1u << bit))
                labels.push_back(bit + 1);
    } else {
        labels = ChannelLabelsForLayoutTag(tag);
    }
    if (labels.size() != GetNumChannels())
        return noErr;
    const ChannelArrangement arrangement = ArrangementForChannelLabels(labels);
    m_channelConfiguration = arrangement.configuration;
    if (arrangement.configuration == kChannelConfigMultichannel)
        SetMultichannelLayoutTag(arrangement.layoutTag);
    if (!arrangement.order.empty()) {
        AudioChannelLayout wanted{};
        wanted.mChannelLayoutTag = arrangement.layoutTag;
        status = ExtAudioFileSetProperty(m_file, kExtAudioFileProperty_ClientChannelLayout, 12, &wanted);
        if (status != noErr)
            return NarrowError(status);
    }
    return noErr;
}

OSErr CafFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                      ConstStr255Param nameExtension, float sampleRate)
{
    if (m_file)
        return opWrErr;
    if (numChannels == 0 || !(numBits == 8 || numBits == 16 || numBits == 24 || numBits == 32) ||
        !(sampleRate > 0.0f))
        return paramErr;
    return Guarded([&]() -> OSErr {
        OSErr err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
        if (err != noErr)
            return err;
        SetNewFileShape(numChannels, numBits, sampleRate);
        FSRef parent;
        err = FSPathMakeRef(m_fsSpec.parent, &parent, nullptr);
        if (err != noErr)
            return err;
        AudioStreamBasicDescription format;
        format.mSampleRate = sampleRate;
        format.mFormatID = kAudioFormatLinearPCM;
        format.mFormatFlags = 14; // signed integer, packed, big-endian, interleaved
        format.mBytesPerFrame = format.mBytesPerPacket = UInt32(numChannels) * UInt32(numBits / 8);
        format.mFramesPerPacket = 1;
        format.mChannelsPerFrame = numChannels;
        format.mBitsPerChannel = UInt32(numBits);
        format.mReserved = 0;
        m_format = format;
        // A float input kept as CAF keeps 32-bit floats: the file says so,
        // the blocks stay integers (WriteBlock turns them into floats).
        m_writesFloats = m_keepsFloatSamples && numBits == 32;
        AudioStreamBasicDescription written = format;
        if (m_writesFloats)
            written.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsPacked;
        // The channels go into the file in the order of the layout stored.
        AudioChannelLayout layout{};
        const StoredChannelLayout stored = StoredLayoutForTag(MemoryLayoutTag());
        layout.mChannelLayoutTag = stored.tag;
        layout.mChannelBitmap = stored.bitmap;
        m_fileFromMemory = stored.order;
        OSStatus status = ExtAudioFileCreateNew(&parent, m_fsSpec.name, kAudioFileCAFType, &written, &layout, 0,
                                                &m_file);
        if (status != noErr)
            return NarrowError(status);
        m_isOpen = true;
        m_blockValid = false;
        m_clientInterleaved = true;
        status = ExtAudioFileSetProperty(m_file, kExtAudioFileProperty_ClientDataFormat, sizeof format, &format);
        return NarrowError(status);
    });
}

OSErr CafFile::Close()
{
    OSStatus status = noErr;
    if (m_file) {
        status = ExtAudioFileDispose(m_file);
        m_file = nullptr;
    }
    m_isOpen = false;
    m_blockValid = false;
    return NarrowError(status);
}

OSErr CafFile::ProbeHeader(SInt16* result)
{
    const OSErr err = Open();
    if (result)
        *result = 0;
    if (err == noErr)
        Close();
    return err;
}

OSErr CafFile::AllocateReadBuffer()
{
    // Reads take the client format's shape: one buffer per channel for an
    // opened file, the interleaved one for a file being written.
    if (m_listStorage.empty() || m_listInterleaved != m_clientInterleaved)
        BuildBufferList(m_clientInterleaved);
    return CSoundFile::AllocateReadBuffer();
}

OSErr CafFile::AllocateWriteBuffer()
{
    if (m_listStorage.empty() || !m_listInterleaved)
        BuildBufferList(true);
    return CSoundFile::AllocateWriteBuffer();
}

template <class Step>
OSErr CafFile::BlockStep(bool writing, Step step)
{
    return Guarded([&]() -> OSErr {
        if (!m_file)
            return kFileNotOpenedErr;
        const OSErr err = writing ? AllocateWriteBuffer() : AllocateReadBuffer();
        return err != noErr ? err : step();
    });
}

OSStatus CafFile::FillBufferList(UInt32 frame, UInt32* frames)
{
    auto* list = reinterpret_cast<AudioBufferList*>(m_listStorage.data());
    for (UInt32 b = 0; b < list->mNumberBuffers; ++b)
        list->mBuffers[b].mDataByteSize = UInt32(m_listBuffers[b].size());
    *frames = GetBufferFrames();
    OSStatus status = ExtAudioFileSeek(m_file, frame);
    if (status == noErr)
        status = ExtAudioFileRead(m_file, frames, list);
    UpdateDecodeLoss();
    return status;
}

void CafFile::UpdateDecodeLoss()
{
    UInt32 size = sizeof m_decodeLoss;
    if (ExtAudioFileGetProperty(m_file, kExtAudioFileProperty_DecodeLoss, &size, &m_decodeLoss) != noErr)
        m_decodeLoss = SFTDecodeLoss();
}

OSErr CafFile::ReadBlock(UInt32 frame)
{
    return BlockStep(false, [&]() -> OSErr {
        const UInt32 channels = GetNumChannels();
        const UInt32 bytes = UInt32(BitsToBytes(m_numBits));
        if (!m_blockValid || frame != m_readBufferStart) {
            m_blockValid = false;
            UInt32 frames = 0;
            const OSStatus status = FillBufferList(frame, &frames);
            if (status != noErr)
                return NarrowError(status);
            m_readBufferStart = frame;
            m_endFrame = frame + frames;
            m_blockValid = true;
        }
        const UInt32 frames = m_endFrame - m_readBufferStart;
        UInt8* out = m_readBuffer;
        if (m_listInterleaved) {
            const std::size_t size = std::size_t(frames) * channels * bytes;
            std::memcpy(out, m_listBuffers[0].data(), size);
            out += size;
        } else {
            for (UInt32 i = 0; i < frames; ++i)
                for (UInt32 c = 0; c < channels; ++c, out += bytes)
                    std::memcpy(out, m_listBuffers[c].data() + std::size_t(i) * bytes, bytes);
        }
        std::fill(out, m_readBuffer + std::size_t(GetBufferFrames()) * channels * bytes, UInt8(0));
        return noErr;
    });
}

OSErr CafFile::LoadWrittenFrames(UInt32 frame, UInt32* held)
{
    *held = 0;
    return BlockStep(true, [&]() -> OSErr {
        // What the file already holds there (nothing for a new file); the
        // list no longer holds the last block read.
        m_blockValid = false;
        UInt32 frames = 0;
        const OSStatus status = FillBufferList(frame, &frames);
        if (status != noErr && status != paramErr)
            return NarrowError(status);
        if (status == noErr && frames > 0) {
            frames = std::min(frames, GetBufferFrames());
            const std::size_t bytes = std::size_t(BitsToBytes(m_numBits));
            std::memcpy(m_writeBuffer, m_listBuffers[0].data(), std::size_t(frames) * GetNumChannels() * bytes);
            if (!m_fileFromMemory.empty())
                ArrangeFrames(m_writeBuffer, frames, bytes, InverseOrder(m_fileFromMemory));
            *held = frames;
        }
        return noErr;
    });
}

OSErr CafFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        if (!m_file || !m_writeBuffer)
            return kFileNotOpenedErr;
        if (frames > GetBufferFrames())
            return paramErr;
        auto* list = reinterpret_cast<AudioBufferList*>(m_listStorage.data());
        const UInt32 bytes = frames * GetNumChannels() * UInt32(BitsToBytes(m_numBits));
        m_blockValid = false;
        std::memcpy(m_listBuffers[0].data(), m_writeBuffer, bytes);
        if (!m_fileFromMemory.empty())
            ArrangeFrames(m_listBuffers[0].data(), frames, std::size_t(BitsToBytes(m_numBits)), m_fileFromMemory);
        if (m_writesFloats) {
            // The integers i as floats i x 2^-31, big-endian.
            UInt8* p = m_listBuffers[0].data();
            for (UInt32 i = 0; i < bytes; i += 4) {
                const SInt32 word = SInt32((UInt32(p[i]) << 24) | (UInt32(p[i + 1]) << 16) |
                                           (UInt32(p[i + 2]) << 8) | UInt32(p[i + 3]));
                const float value = float(double(float(word)) * 4.65661287308e-10);
                UInt32 bits;
                std::memcpy(&bits, &value, 4);
                p[i] = UInt8(bits >> 24);
                p[i + 1] = UInt8(bits >> 16);
                p[i + 2] = UInt8(bits >> 8);
                p[i + 3] = UInt8(bits);
            }
        }
        list->mBuffers[0].mDataByteSize = bytes;
        // Written where the block belongs, whatever was read before.
        OSStatus status = ExtAudioFileSeek(m_file, frame);
        if (status == noErr)
            status = ExtAudioFileWrite(m_file, frames, list);
        if (status != noErr)
            return NarrowError(status);
        m_numFrames = std::max(m_numFrames, frame + frames);
        return noErr;
    });
}

bool CafFile::HoldsFloatSamples() const
{
    return m_format.mFormatID == kAudioFormatLinearPCM && (m_format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
}

void CafFile::SetClipCountWindow(UInt32 from, UInt32 to)
{
    CSoundFile::SetClipCountWindow(from, to);
    const UInt64 window[2] = {from, to};
    if (m_file)
        ExtAudioFileSetProperty(m_file, kExtAudioFileProperty_ClipCountWindow, sizeof window, window);
}

OSErr CafFile::SetFilePos(UInt32 frame)
{
    if (!m_file)
        return kFileNotOpenedErr;
    m_blockValid = false;
    return NarrowError(ExtAudioFileSeek(m_file, frame));
}

OSErr CafFile::SetBufferFrames(UInt32 frames)
{
    const OSErr err = CSoundFile::SetBufferFrames(frames);
    if (err == noErr && !m_listStorage.empty())
        BuildBufferList(m_listInterleaved);
    m_blockValid = false;
    return err;
}

std::string CafFile::GetChannelName(UInt16 channel) const
{
    std::string name = ConfigurationChannelName(LayoutReader::Caf, m_channelConfiguration, GetMultichannelLayoutTag(), channel);
    return name.empty() ? CSoundFile::GetChannelName(channel) : name;
}

QString CafFile::GetFormatName() const
{
    switch (m_channelConfiguration) {
    case kChannelConfigLCR: return QStringLiteral("LCR Core Audio File (CAF)");
    case kChannelConfigQuad: return QStringLiteral("Quad Core Audio File (CAF)");
    case kChannelConfigLCRS: return QStringLiteral("LCRS Core Audio File (CAF)");
    case kChannelConfig5_0: return QStringLiteral("5.0 Surround Core Audio File (CAF)");
    case kChannelConfig5_1: return QStringLiteral("5.1 Surround Core Audio File (CAF)");
    case kChannelConfig6_0: return QStringLiteral("6.0 Surround Core Audio File (CAF)");
    case kChannelConfig6_1: return QStringLiteral("6.1 Surround Core Audio File (CAF)");
    case kChannelConfig7_1: return QStringLiteral("7.1 Surround Core Audio File (CAF)");
    default: return QStringLiteral("Core Audio File (CAF)");
    }
}

OSType CafFile::GetFileType() const
{
    return FOUR_CHAR_CODE("caff");
}

Boolean CafFile::SupportsSplitChannels() const
{
    return true;
}

SoundFileTypeDescriptor CafFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("caff"), .factory = &MakeSoundFile<CafFile>};
}
