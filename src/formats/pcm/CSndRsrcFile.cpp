#include "CSndRsrcFile.h"
#include "ByteOrder.h"

#include "ResourceManager.h"
#include "ZuResourceFile.h"
#include "error_code_exception.h"
#include "format_helpers.h"
#include "ieee_extended.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr ResType kSndType = FOUR_CHAR_CODE("snd ");
constexpr SInt64 kWrittenDataStart = 344;
constexpr SInt64 kSndHeaderBytes = 84;
constexpr SInt64 kMapBytes = 306;
constexpr UInt64 kMaxSampleBytes = 0xFFFFFF;

// Restores the current resource file when it goes out of scope.
class SavedResFile {
public:
    SavedResFile() { SaveCurResFile(&saved_); }
    explicit SavedResFile(SInt16 use) { SaveAndUseResFile(&saved_, use); }
    ~SavedResFile() { RestoreResFile(&saved_); }

private:
    SInt16 saved_ = 0;
};

} // namespace

CSndRsrcFile::CSndRsrcFile() : CLinearPCMFile(FOUR_CHAR_CODE("sfil"), "System 7 Sound", kWrittenDataStart)
{
    // A file we cannot read is not kept open.
    m_closesRefusedFile = true;
}

CSndRsrcFile::~CSndRsrcFile()
{
    if (m_isOpen)
        Close();
    ReleaseResourceFile();
    m_isOpen = false;
}

void CSndRsrcFile::ReleaseResourceFile() noexcept
{
    if (m_resourceFile) {
        try {
            m_resourceFile->Close();
        } catch (...) {
        }
        m_resourceFile.reset();
    }
    m_sndHandle = nullptr;
    m_refNum = 0;
}

OSErr CSndRsrcFile::OpenFileFork()
{
    SavedResFile saved;
    ReleaseResourceFile();
    try {
        m_resourceFile = MakeResourceFork(m_fsRef, m_fsRefValid, m_path);
        m_resourceFile->Open(fsRdPerm);
        m_refNum = m_resourceFile->refNum();
    } catch (const error_code_exception& e) {
        ReleaseResourceFile();
        return NarrowError(e.code());
    }
    return noErr;
}

OSErr CSndRsrcFile::CloseFileFork()
{
    OSErr err = noErr;
    try {
        if (m_resourceFile)
            m_resourceFile->Close();
    } catch (const error_code_exception& e) {
        err = NarrowError(e.code());
    }
    m_sndHandle = nullptr;
    return err;
}

OSErr CSndRsrcFile::MakeDataFork()
{
    ReleaseResourceFile();
    // Exclusive: an existing file is never taken over.
    const OSErr err = FSpCreate(&m_fsSpec, FOUR_CHAR_CODE("movr"), FOUR_CHAR_CODE("sfil"), smRoman);
    if (err)
        return err;
    SavedResFile saved;
    m_resourceFile = std::make_unique<ZuResourceFile>(m_path, true);
    m_resourceFile->CreateFork(FOUR_CHAR_CODE("sfil"), FOUR_CHAR_CODE("movr"));
    m_resourceFile->Open(fsRdWrPerm);
    m_refNum = m_resourceFile->refNum();
    return noErr;
}

// The Finder information went with the fork as it was made.
void CSndRsrcFile::DropFinderInfoTheFileTells(bool) {}

SInt64 CSndRsrcFile::ResourceSize(SInt64 upperBound) const
{
    // The largest offset that a one-byte read accepts, plus one.
    auto readable = [this](SInt64 offset) {
        UInt8 byte;
        ReadPartialResource(m_sndHandle, long(offset), &byte, 1);
        return ResError() == noErr;
    };
    if (upperBound <= 0 || !readable(0))
        return 0;
    SInt64 lo = 0, hi = upperBound; // lo readable, hi not
    while (hi - lo > 1) {
        const SInt64 mid = lo + (hi - lo) / 2;
        (readable(mid) ? lo : hi) = mid;
    }
    return lo + 1;
}

OSErr CSndRsrcFile::ReadHeader()
{
    SavedResFile saved(m_refNum);
    SetResLoad(false);
    m_sndHandle = Get1IndResource(kSndType, 1);
    SetResLoad(true);
    if (OSErr err = ResError())
        return err;
    m_numFrames = 0;
    if (m_sndHandle) {
        SInt64 forkSize = 0;
        if (OSErr err = FSGetForkSize(m_refNum, &forkSize))
            return err;
        const SInt64 size = ResourceSize(forkSize);
        auto read = [&](SInt64 offset, UInt8* out, SInt64 count) -> OSErr {
            if (offset < 0 || offset + count > size)
                return kSndUndocumentedErr;
            ReadPartialResource(m_sndHandle, long(offset), out, long(count));
            return ResError();
        };
        UInt8 head[12];
        OSErr err = read(0, head, 6);
        if (err)
            return err;
        const UInt16 format = ReadBE16(head);
        UInt8 header[64];
        SInt64 headerAt = 0;
        if (format == 1) {
            if ((err = read(0, head, 12)))
                return err;
            if (ReadBE16(head + 4) != 5)
                return kSndNotSampledErr;
            if (ReadBE16(head + 2) != 1)
                return kSndMultipleTypesErr;
            headerAt = 12 + 8 * SInt64(ReadBE16(head + 10));
        } else if (format == 2) {
            headerAt = 6 + 8 * SInt64(ReadBE16(head + 4));
        } else {
            return kSndUndocumentedErr;
        }
        if ((err = read(headerAt, header, 22)))
            return err;
        const UInt8 encoding = header[20];
        m_sampleRate = double(ReadBE32(header + 8)) / 65536.0;
        if (encoding == 0xFE)
            return kUnsupportedDataErr;
        if (encoding == 0xFF && format == 1) {
            if ((err = read(headerAt, header, 64)))
                return err;
            const UInt32 channels = ReadBE32(header + 4);
            const UInt16 bits = ReadBE16(header + 48);
            if (bits != 8 && bits != 16)
                return kUnsupportedDataErr;
            if (channels == 0 || channels > 0xFFFF)
                return kSndUndocumentedErr;
            m_numBits = SInt16(bits);
            m_numChannels = channels;
            m_numFrames = ReadBE32(header + 22);
            m_dataOffset = headerAt + 64;
        } else if (encoding == 0) {
            m_numBits = 8;
            m_numChannels = 1;
            m_numFrames = ReadBE32(header + 4);
            m_dataOffset = headerAt + 22;
        } else {
            return kSndUndocumentedErr;
        }
        m_sampleFormat = m_numBits == 8 ? kSampleFormatUnsigned8 : kSampleFormatBigEndian;
        m_transform = SampleTransform{};
        m_transform.flipSign = m_numBits == 8;
        // Frames the resource does not hold are cut off, and the file is cut short.
        const SInt64 available = std::max<SInt64>(0, size - m_dataOffset) / FileBytesPerFrame();
        m_dataCutShort = SInt64(m_numFrames) > available;
        m_numFrames = UInt32(std::min<SInt64>(m_numFrames, available));
    }
    // The probe gives the file its region too.
    return AddFileRegion();
}

OSErr CSndRsrcFile::ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes)
{
    if (m_writable)
        return CLinearPCMFile::ReadFileFrames(data, frame, frames, bytes);
    *bytes = 0;
    const std::size_t wanted = std::size_t(frames) * std::size_t(FileBytesPerFrame());
    if (!m_sndHandle || wanted == 0)
        return noErr;
    ReadPartialResource(m_sndHandle, long(FramePosition(frame)), data, long(wanted));
    const OSErr err = ResError();
    if (err == noErr)
        *bytes = wanted;
    return err;
}

OSErr CSndRsrcFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::BeforeBase)
        return noErr;
    if (numBits != 8 && numBits != 16)
        return kSndWordSizeErr;
    if (!(sampleRate > 0.0f && sampleRate <= 48000.0f))
        return kBadSampleRateErr;
    if (numChannels == 0)
        return paramErr;
    return noErr;
}

OSErr CSndRsrcFile::SetUpNewFile(const UInt8*)
{
    ResetSamplerInfo();
    if (m_numBits == 8) {
        m_sampleFormat = kSampleFormatUnsigned8;
        m_transform.flipSign = true;
    }
    return AddFileRegion();
}

void CSndRsrcFile::BuildSndHeader(UInt8* out) const
{
    std::memset(out, 0, kSndHeaderBytes);
    WriteBE16(out + 0, 1);
    WriteBE16(out + 2, 1);
    WriteBE16(out + 4, 5);
    WriteBE32(out + 6, m_numChannels == 1 ? 0xA0 : 0xE0);
    WriteBE16(out + 10, 1);
    WriteBE16(out + 12, 0x8051);
    WriteBE32(out + 16, 20);
    WriteBE32(out + 24, m_numChannels);
    WriteBE32(out + 28, UInt32(m_sampleRate * 65536.0));
    out[40] = 0xFF;
    out[41] = 0x3C;
    WriteBE32(out + 42, m_numFrames);
    ConvertToIeeeExtended(m_sampleRate, out + 46);
    WriteBE16(out + 68, UInt32(m_numBits));
}

OSErr CSndRsrcFile::WriteHeader()
{
    UInt8 bytes[kWrittenDataStart] = {};
    WriteBE32(bytes + 0, 256);
    WriteBE32(bytes + 8, 88);
    WriteBE32(bytes + 256, 84);
    BuildSndHeader(bytes + 260);
    OSErr err = FSWriteFork(m_refNum, fsFromStart, 0, sizeof bytes, bytes, nullptr);
    if (err)
        return err;
    return FSSetForkSize(m_refNum, fsFromStart, kWrittenDataStart);
}

OSErr CSndRsrcFile::RewriteHeader()
{
    const UInt64 sampleBytes = UInt64(m_numFrames) * UInt64(FileBytesPerFrame());
    if (sampleBytes > kMaxSampleBytes)
        return kSndTooBigErr;
    const UInt32 a = UInt32(sampleBytes);
    UInt8 head[kWrittenDataStart] = {};
    WriteBE32(head + 0, 256);
    WriteBE32(head + 4, 344 + a);
    WriteBE32(head + 8, 88 + a);
    WriteBE32(head + 12, UInt32(kMapBytes));
    WriteBE32(head + 256, 84 + a);
    BuildSndHeader(head + 260);
    OSErr err = FSWriteFork(m_refNum, fsFromStart, 0, sizeof head, head, nullptr);
    if (err)
        return err;

    UInt8 map[kMapBytes] = {};
    std::memcpy(map, head, 16);
    WriteBE16(map + 24, 28);
    WriteBE16(map + 26, 50);
    WriteBE16(map + 28, 0);
    WriteBE32(map + 30, kSndType);
    WriteBE16(map + 34, 0);
    WriteBE16(map + 36, 10);
    WriteBE16(map + 38, UInt16(kSndResourceID));
    WriteBE16(map + 40, 0);
    map[42] = 0x20;
    Str255 name = {0};
    GetStoredFileName(name);
    std::memcpy(map + 50, name, std::size_t(name[0]) + 1);
    err = FSWriteFork(m_refNum, fsFromStart, kWrittenDataStart + a, sizeof map, map, nullptr);
    if (err)
        return err;
    return FSSetForkSize(m_refNum, fsFromStart, kWrittenDataStart + a + kMapBytes);
}

OSErr CSndRsrcFile::CheckWriteExtent(UInt64 endFrame) const
{
    return endFrame * UInt64(FileBytesPerFrame()) > kMaxSampleBytes ? kSndTooBigErr : noErr;
}

OSErr CSndRsrcFile::SetFilePos(UInt32 frame)
{
    // Only a sound being written has a position.
    if (m_isOpen && !m_writable)
        return wrPermErr;
    return CLinearPCMFile::SetFilePos(frame);
}

OSErr CSndRsrcFile::RecalcNumFrames()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    if (!m_writable)
        return noErr; // the frame count of a sound read comes from its header
    return CLinearPCMFile::RecalcNumFrames();
}
