// The shared IFF/RIFF chunk walk, its bounded views and the 'regn' chunk
// parser on arbitrary bytes held in memory.
#include "AIFFFuzzSeeds.h"
#include "CAIFFFile.h"
#include "ChunkReader.h"
#include "FuzzTarget.h"
#include "error_code_exception.h"
#include "regn_chunk.h"

#include <sstream>

std::vector<std::string> FuzzSeeds()
{
    return {AIFFFuzzImage(false, "", 16, 2, 5), AIFFFuzzImage(true, "NONE", 8, 1, 3)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryChunkSource source(data, size);
    for (ChunkByteOrder order : {ChunkByteOrder::BigEndian, ChunkByteOrder::LittleEndian}) {
        ChunkWalkOptions options;
        options.order = order;
        ChunkReader reader(source, options);
        reader.ForEach([&](const ChunkInfo& info) {
            if (info.bodyPos < 0 || info.bodySize < 0 || info.BodyEnd() > SInt64(size)) {
                __builtin_trap();
            }
            ChunkView body;
            if (reader.ReadBody(info, &body, 4096) == noErr) {
                try {
                    while (body.remaining() > 0) {
                        body.get_pstring(true);
                        body.get_u32();
                    }
                } catch (const error_code_exception&) {
                }
                if (info.id == ChunkID("regn")) {
                    ChunkView regn;
                    reader.ReadBody(info, &regn, 1 << 16);
                    CAIFFFile file;
                    try {
                        ReadRegnBody(file, regn);
                    } catch (const error_code_exception&) {
                    }
                }
            }
            return true;
        });
        ChunkInfo info;
        reader.Find(ChunkID("SSND"), &info, 2);
    }
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    FindAIFFChunk("COMM", in);
    return 0;
}
