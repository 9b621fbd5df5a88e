#include "plain_flac_head.h"

#include "ByteFields.h"
#include "FlacStreamCheck.h"
#include "PositionedFile.h"
#include "library_channels.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace movie_input {

bool PlainFlacHead(const std::string& path, uint8_t* info, int64_t* firstFrame)
{
    PositionedFile file(path);
    const int64_t size = file.Size();
    uint8_t head[8];
    if (file.Read(0, head, 8) != 8 || std::memcmp(head, "fLaC", 4) != 0 || (head[4] & 0x7F) != 0 ||
        (ReadBE32(head + 4) & 0xFFFFFF) != FlacStreamCheck::kStreamInfoBytes ||
        file.Read(8, info, FlacStreamCheck::kStreamInfoBytes) != FlacStreamCheck::kStreamInfoBytes)
        return false;
    const FlacStreamCheck::StreamShape shape = FlacStreamCheck::Shape(info);
    if (shape.minBlock < 16 || shape.maxBlock < shape.minBlock || shape.rate == 0 || shape.rate > 655350)
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
            const UInt32 channels = shape.channels;
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
    *firstFrame = pos;
    return true;
}

bool FlacMetadataCut(const std::string& path, unsigned* channels)
{
    PositionedFile file(path);
    const int64_t size = file.Size();
    uint8_t block[4];
    if (size < 4 || file.Read(0, block, 4) != 4 || std::memcmp(block, "fLaC", 4) != 0)
        return false;
    if (channels) {
        uint8_t info[4 + FlacStreamCheck::kStreamInfoBytes];
        const bool whole = file.Read(4, info, sizeof info) == sizeof info && (info[0] & 0x7F) == 0;
        *channels = whole ? FlacStreamCheck::Shape(info + 4).channels : 0;
    }
    // Each block's header and body, up to the one marked last.
    for (int64_t pos = 4; pos < size;) {
        if (file.Read(pos, block, 4) != 4)
            return true;
        pos += 4 + int64_t(ReadBE32(block) & 0xFFFFFF);
        if (pos > size)
            return true;
        if ((block[0] & 0x80) != 0)
            return false;
    }
    return true;
}

} // namespace movie_input
