#include "riff_chunks.h"

namespace riff_chunks {

ChunkWalkOptions WalkOptions()
{
    ChunkWalkOptions options;
    options.order = ChunkByteOrder::LittleEndian;
    options.tooManyChunksErr = kChunkNotFoundErr;
    options.unsignedSizes = true;
    options.soundChunk = kData;
    return options;
}

OSErr ForEachChunk(ChunkSource& source, int maxChunks, bool toFileEnd,
                   const std::function<bool(const ChunkInfo&)>& visit)
{
    if (maxChunks <= 0)
        return noErr;
    // A code no walk gives otherwise: the chunk limit is a plain end here.
    constexpr OSErr kLimitReached = 1;
    ChunkWalkOptions options = WalkOptions();
    options.maxChunks = maxChunks - 1;
    options.tooManyChunksErr = kLimitReached;
    options.stopAtContainerEnd = !toFileEnd;
    ChunkReader reader(source, options);
    const OSErr err = reader.ForEach(visit);
    return err == kLimitReached ? noErr : err;
}

} // namespace riff_chunks
