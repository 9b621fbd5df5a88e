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

} // namespace riff_chunks
