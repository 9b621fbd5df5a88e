#include "CAVRFile.h"

#include "ChunkReader.h"
#include "FileManager.h"
#include "IFF8SVXAVRCDFileTypes.h"
#include "SoundFileFactories.h"


#include <algorithm>
#include <cstring>

namespace {

constexpr OSType kMagic = FOUR_CHAR_CODE("2BIT");
constexpr std::size_t kNameBytes = 8;
constexpr std::size_t kNameContinuation = 44;
constexpr std::size_t kMaxNameLength = 27;  // 8 + 19, the zero byte ends at 63

} // namespace

CAVRFile::CAVRFile() : CLinearPCMFile(kAVRFileType, "AVR", kAVRHeaderBytes) {}

CAVRFile::~CAVRFile()
{
    if (m_isOpen) {
        Close();
    }
}

OSErr CAVRFile::ReadHeader()
{
    UInt8 bytes[kAVRHeaderBytes];
    OSErr err = ReadAt(0, bytes, sizeof bytes);
    if (err == eofErr) {
        return kAVRNoMagicErr;
    }
    if (err != noErr) {
        return err;
    }
    ChunkView header(bytes, sizeof bytes, ChunkByteOrder::BigEndian);
    if (header.get_fourcc() != kMagic) {
        return kAVRNoMagicErr;
    }
    header.seek(12);
    const UInt16 stereo = header.get_u16be();
    const UInt16 bits = header.get_u16be();
    const UInt16 sign = header.get_u16be();
    const UInt16 loop = header.get_u16be();
    header.skip(2);  // MIDI note
    // The top byte is the replay speed of the original hardware.
    const UInt32 rate = header.get_u32be() & 0x00FFFFFF;
    const UInt32 frames = header.get_u32be();
    const UInt32 loopBegin = header.get_u32be();
    const UInt32 loopEnd = header.get_u32be();
    if (bits != 8 && bits != 16) {
        return kAVRWordSizeErr;
    }
    m_numBits = SInt16(bits);
    m_numChannels = stereo != 0 ? 2 : 1;
    m_sampleRate = double(float(rate));
    m_sampleFormat = sign != 0 ? kSampleFormatBigEndian : kSampleFormatUnsigned8;
    m_transform = SampleTransform{};
    m_transform.flipSign = sign == 0;
    m_dataOffset = kAVRHeaderBytes;
    // A frame count beyond the samples the file holds is cut to them (and
    // the file is cut short).
    const UInt64 frameBytes = UInt64(FileBytesPerFrame());
    SettleFramesFromData(UInt64(std::max<SInt64>(0, FileLength() - kAVRHeaderBytes)), UInt64(frames) * frameBytes,
                         frameBytes);
    if (loop != 0 && loopBegin <= loopEnd && loopBegin < m_numFrames) {
        SFTLoop entry;
        entry.loopID = 0;
        entry.start = loopBegin;
        entry.end = std::min(loopEnd, m_numFrames);
        entry.type = 1;
        err = AddLoop(&entry);
        if (err != noErr) {
            return err;
        }
    }
    return SetFPos(m_refNum, fsFromStart, kAVRHeaderBytes);
}

OSErr CAVRFile::WriteHeader()
{
    UInt8 bytes[kAVRHeaderBytes] = {};
    ChunkBuilder header;
    header.put_fourcc(kMagic);
    header.put_zeros(kNameBytes);
    header.put_u16be(m_numChannels == 2 ? 0xFFFF : 0);
    header.put_u16be(UInt16(m_numBits));
    header.put_u16be(0xFFFF);  // signed
    SFTLoop loop;
    const OSErr loopErr = GetLoop(0, &loop);
    if (loopErr != noErr && loopErr != kWrongLoopErr) {
        return loopErr;
    }
    const bool hasLoop = loopErr == noErr;
    header.put_u16be(hasLoop ? 0xFFFF : 0);
    header.put_u16be(0xFFFF);  // no MIDI note
    header.put_u32be(UInt32(m_sampleRate) & 0x00FFFFFF);
    header.put_u32be(m_numFrames);
    header.put_u32be(hasLoop ? loop.start : 0);
    header.put_u32be(hasLoop ? loop.end : 0);
    std::memcpy(bytes, header.data(), header.size());

    Str255 name = {0};
    GetStoredFileName(name);
    const std::size_t length = std::min<std::size_t>(name[0], kMaxNameLength);
    std::memcpy(bytes + 4, name + 1, std::min(length, kNameBytes));
    if (length > kNameBytes) {
        std::memcpy(bytes + kNameContinuation, name + 1 + kNameBytes, length - kNameBytes);
    }
    // The zero byte after the name: in the name field for short names,
    // after the continuation for longer ones (both already zero).

    return WriteAt(0, bytes, sizeof bytes);
}

OSErr CAVRFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step == CreateStep::First && numBits != 8 && numBits != 16) {
        return kAVRWordSizeErr;
    }
    if (step == CreateStep::AfterBase) {
        // The header knows mono and stereo only, and 24 bits of rate.
        // Refused for this file only.
        if (numChannels != 1 && numChannels != 2) {
            return kIncompatibleChannelsErr;
        }
        if (!(sampleRate >= 0.0f) || sampleRate >= 16777216.0f) {
            return kIncompatibleSampleRateErr;
        }
    }
    return noErr;
}

SoundFileTypeDescriptor CAVRFile::Descriptor()
{
    return {.type = kAVRFileType,
            .factory = &MakeSoundFileNoThrow<CAVRFile>,
            .sniffer = &SniffAVR,
            .probe = &ProbeAVRChannels};
}
