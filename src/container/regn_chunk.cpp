#include "regn_chunk.h"

#include "CSoundFile.h"
#include "SoundFileSwitches.h"

#include <algorithm>
#include <cstring>

void BuildRegnChunk(const CSoundFile& file, ChunkBuilder* chunk)
{
    const UInt16 count = file.GetNumRegions();
    chunk->put_fourcc(ChunkID("regn"));
    chunk->put_u32(UInt32(count) * kRegnEntrySize + 4);
    chunk->put_u32(count);
    for (UInt16 index = 0; index < count; ++index) {
        SFTRegion region;
        if (file.GetRegion(index, &region) != noErr) {
            region = SFTRegion();
        }
        chunk->put_u64(0);
        chunk->put_u64(0);
        chunk->put_u64(region.start);
        chunk->put_u64(region.end);
        chunk->put_u64(region.syncFrame);
        const SInt64 stamp = (index == 0 && file.HasTimeStamp()) ? SInt64(file.GetTimeStamp64()) : region.timeStamp;
        chunk->put_u64(UInt64(stamp));
        chunk->put_u64(UInt64(region.timeStamp));
        UInt8 name[32] = {0};
        const UInt8 length = std::min<UInt8>(region.name[0], 31);
        name[0] = length;
        std::memcpy(name + 1, region.name + 1, length);
        chunk->put_bytes(name, sizeof name);
    }
}

OSErr ReadRegnBody(CSoundFile& file, ChunkView& body)
{
    if (!body.has(4)) {
        return file.AddFileRegion();
    }
    UInt32 count = body.get_u32();
    count = UInt32(std::min<std::size_t>(count, body.remaining() / kRegnEntrySize));
    const bool ignoreWhole = GetIgnoreRegionsContainingWholeFile();
    const UInt32 frames = file.GetNumFrames();
    for (UInt32 n = 1; n <= count; ++n) {
        body.skip(16);
        const UInt32 start = UInt32(body.get_u64());
        const UInt32 end = UInt32(body.get_u64());
        const UInt32 sync = UInt32(body.get_u64());
        const SInt64 stamp = SInt64(body.get_u64());
        body.skip(8);
        UInt8 name[32];
        body.get_bytes(name, sizeof name);
        SFTRegion region;
        region.regionID = SInt32(n);
        region.start = start;
        region.end = end;
        region.syncFrame = sync;
        region.timeStamp = stamp;
        SFTSetName(region.name, name);  // the length byte is cut to 31
        if (ignoreWhole) {
            const bool whole = start == 0 && end == frames;
            const bool bad = SInt32(start) < 0 || SInt32(start) > SInt32(end) || end > frames;
            if (whole || bad) {
                file.SetTimeStamp64(UInt64(stamp));
                continue;
            }
        }
        const OSErr err = file.AddRegion(&region);
        if (err != noErr) {
            return err;
        }
    }
    if (!GetSkipBadRegion()) {
        file.MakeRegionNamesUnique();
    }
    if (file.GetNumRegions() == 0) {
        return file.AddFileRegion();  // also when the whole-file region was left out
    }
    return noErr;
}
