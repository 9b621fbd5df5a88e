#include "caf_chunks.h"

#include "ByteOrder.h"
#include "ChannelLabels.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

double BEDouble(const UInt8* p)
{
    const UInt64 bits = ReadBE64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

OSStatus WalkCaf(const std::string& path, CafLayout* out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fnfErr;
    in.seekg(0, std::ios::end);
    const SInt64 length = SInt64(in.tellg());
    in.seekg(0);
    UInt8 header[8];
    if (length < 8 || !in.read(reinterpret_cast<char*>(header), 8) || ReadBE32(header) != caf_chunks::kCAFF)
        return caf_chunks::kInvalidFileErr;
    SInt64 position = 8;
    bool haveDesc = false;
    for (int chunks = 0; chunks < 4096 && position + 12 <= length; ++chunks) {
        UInt8 chunk[12];
        in.seekg(position);
        if (!in.read(reinterpret_cast<char*>(chunk), 12))
            return caf_chunks::kInvalidFileErr;
        const UInt32 type = ReadBE32(chunk);
        SInt64 size = SInt64(ReadBE64(chunk + 4));
        const SInt64 body = position + 12;
        const bool isData = type == FOUR_CHAR_CODE("data");
        if (isData)
            out->dataPromised = size == -1 ? CafLayout::kToTheEnd : size < 4 ? 0 : UInt64(size - 4);
        if (size == -1 && isData)
            size = length - body;
        if (size < 0 || size > length - body) {
            if (!isData)
                return caf_chunks::kInvalidFileErr;
            size = length - body; // a data chunk cut short: what is there
        }
        if (type == FOUR_CHAR_CODE("desc")) {
            if (size < 32)
                return caf_chunks::kInvalidFileErr;
            UInt8 d[32];
            if (!in.read(reinterpret_cast<char*>(d), 32))
                return caf_chunks::kInvalidFileErr;
            AudioStreamBasicDescription& f = out->format;
            f.mSampleRate = BEDouble(d);
            f.mFormatID = ReadBE32(d + 8);
            const UInt32 cafFlags = ReadBE32(d + 12);
            f.mBytesPerPacket = ReadBE32(d + 16);
            f.mFramesPerPacket = ReadBE32(d + 20);
            f.mChannelsPerFrame = ReadBE32(d + 24);
            f.mBitsPerChannel = ReadBE32(d + 28);
            f.mFormatFlags = 0;
            if (f.mFormatID == kAudioFormatLinearPCM) {
                f.mFormatFlags = kAudioFormatFlagIsPacked | ((cafFlags & 1) ? kAudioFormatFlagIsFloat
                                                                            : kAudioFormatFlagIsSignedInteger);
                if (!(cafFlags & 2))
                    f.mFormatFlags |= kAudioFormatFlagIsBigEndian;
            } else {
                f.mFormatFlags = cafFlags;
            }
            f.mBytesPerFrame = f.mFramesPerPacket == 1 ? f.mBytesPerPacket : 0;
            if (!(f.mSampleRate > 0) || f.mChannelsPerFrame == 0 || f.mChannelsPerFrame > 1024)
                return caf_chunks::kInvalidFileErr;
            haveDesc = true;
        } else if (type == FOUR_CHAR_CODE("chan")) {
            if (size < 12 || size > 12 + 20 * 1024)
                return caf_chunks::kInvalidFileErr;
            out->chan.resize(std::size_t(size));
            if (!in.read(reinterpret_cast<char*>(out->chan.data()), std::streamsize(size)))
                return caf_chunks::kInvalidFileErr;
            const UInt32 count = ReadBE32(out->chan.data() + 8);
            if (UInt64(count) * 20 + 12 > UInt64(size))
                return caf_chunks::kInvalidFileErr;
        } else if (isData) {
            out->hasData = true;
            out->dataPresent = size < 4 ? 0 : UInt64(size - 4);
            out->editCountCut = size < 4;
        }
        position = body + size;
    }
    return haveDesc && out->hasData ? noErr : caf_chunks::kInvalidFileErr;
}

UInt64 CafLayout::WholePacketFrames() const
{
    if (format.mBytesPerPacket == 0 || format.mFramesPerPacket == 0)
        return kToTheEnd;
    const UInt64 packets = std::min(dataPresent, dataPromised) / format.mBytesPerPacket;
    // A hostile header's packet size never wraps the count around.
    return packets > kToTheEnd / format.mFramesPerPacket ? kToTheEnd : packets * format.mFramesPerPacket;
}

bool CafLayout::CutShort() const
{
    if (editCountCut)
        return true;
    if (dataPromised != kToTheEnd && dataPresent < dataPromised)
        return true;
    return format.mBytesPerPacket > 0 && std::min(dataPresent, dataPromised) % format.mBytesPerPacket != 0;
}

std::vector<UInt32> CafLayout::ChannelLabels() const
{
    return ChannelLabelsFromStoredLayout(chan.data(), chan.size(), format.mChannelsPerFrame);
}

std::vector<UInt8> CafChanBody(const AudioChannelLayout& layout)
{
    const UInt32 descriptions =
        layout.mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelDescriptions ? layout.mNumberChannelDescriptions : 0;
    std::vector<UInt8> body(12 + std::size_t(descriptions) * 20);
    WriteBE32(body.data(), layout.mChannelLayoutTag);
    WriteBE32(body.data() + 4, layout.mChannelBitmap);
    WriteBE32(body.data() + 8, descriptions);
    for (UInt32 i = 0; i < descriptions; ++i) {
        const AudioChannelDescription& d = layout.mChannelDescriptions[i];
        UInt8* out = body.data() + 12 + std::size_t(i) * 20;
        WriteBE32(out, d.mChannelLabel);
        WriteBE32(out + 4, d.mChannelFlags);
        for (int k = 0; k < 3; ++k) {
            UInt32 v;
            std::memcpy(&v, &d.mCoordinates[k], sizeof v);
            WriteBE32(out + 8 + 4 * k, v);
        }
    }
    return body;
}

std::size_t CafChanLayoutSize(const std::vector<UInt8>& body)
{
    const std::size_t descriptions = body.size() >= 12 ? ReadBE32(body.data() + 8) : 0;
    return std::max<std::size_t>(12 + descriptions * 20, sizeof(AudioChannelLayout));
}

bool CafChanLayout(const std::vector<UInt8>& body, AudioChannelLayout* out, std::size_t outSize)
{
    // WalkCaf has checked the descriptions against the body.
    if (body.size() < 12 || outSize < CafChanLayoutSize(body))
        return false;
    std::memset(static_cast<void*>(out), 0, outSize);
    out->mChannelLayoutTag = ReadBE32(body.data());
    out->mChannelBitmap = ReadBE32(body.data() + 4);
    out->mNumberChannelDescriptions = ReadBE32(body.data() + 8);
    for (UInt32 i = 0; i < out->mNumberChannelDescriptions && 12 + std::size_t(i + 1) * 20 <= body.size(); ++i) {
        const UInt8* d = body.data() + 12 + std::size_t(i) * 20;
        AudioChannelDescription& description = out->mChannelDescriptions[i];
        description.mChannelLabel = ReadBE32(d);
        description.mChannelFlags = ReadBE32(d + 4);
        for (int k = 0; k < 3; ++k) {
            const UInt32 v = ReadBE32(d + 8 + 4 * k);
            std::memcpy(&description.mCoordinates[k], &v, sizeof v);
        }
    }
    return true;
}
