#include "FileView.h"

#include "ByteFields.h"
#include "MediaCodes.h"
#include "aiff_chunks.h"
#include "mpeg_audio_frames.h"

#include <fstream>

namespace movie_input {

namespace {

// A four-byte big-endian size as a patch at `at`.
FileView::Patch SizePatch(int64_t at, SInt64 size)
{
    FileView::Patch patch{at, std::vector<uint8_t>(4)};
    WriteBE32(patch.bytes.data(), UInt32(size));
    return patch;
}

} // namespace

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
    const bool hasSound = reader.Find(aiff_chunks::kSSND, &sound) == noErr;
    if (hasSound && sound.sizeUnknown)
        patches.push_back(SizePatch(sound.SizePos(), sound.bodySize));
    // A frame count of 0xFFFFFFFF, the placeholder "to the end", of IMA 4:1
    // (whose count is of its packets, 34 bytes a channel): the packets the
    // sound chunk holds after its offset and block-size words.
    ChunkInfo common;
    ChunkView body;
    if (hasSound && reader.Find(aiff_chunks::kCOMM, &common) == noErr && reader.ReadBody(common, &body, 22) == noErr &&
        body.size() >= 22) {
        const UInt8* c = body.data();
        const UInt32 channels = ReadBE16(c);
        if (ReadBE32(c + 2) == 0xFFFFFFFFu && ReadBE32(c + 18) == media_codes::kIMA4 && channels > 0 &&
            sound.bodySize >= 8) {
            const SInt64 packets = (sound.bodySize - 8) / (34 * SInt64(channels));
            patches.push_back(SizePatch(common.bodyPos + 2, std::min<SInt64>(packets, 0xFFFFFFFE)));
        }
    }
    if (patches.empty())
        return false;
    *demuxer = "aiff";
    return view->Open(path, std::move(patches), {});
}

} // namespace movie_input
