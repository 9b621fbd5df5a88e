// The ID3 readers on damaged files: never a block larger than the file, and
// the ID3v1 fields come apart whatever the record holds.
#include "FuzzTarget.h"
#include "id3_tags.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

std::vector<std::string> FuzzSeeds()
{
    std::string v23 = std::string("ID3\3\0\0\0\0\0\x15", 10) + std::string("TIT2\0\0\0\2\0\0\0T", 12) +
                      std::string(9, '\0') + std::string("\xff\xfb\x90\x64", 4);
    std::string v24 = std::string("ID3\4\0\x10\0\0\0\x0c", 10) + std::string("TPE1\0\0\0\2\0\0\0A", 12) +
                      std::string("3DI\4\0\x10\0\0\0\x0c", 10);
    std::string v1 = std::string(40, '\xff') + "TAG" + std::string("Title", 5) + std::string(25, ' ') +
                     std::string(90, '\0');
    v1.back() = '\x11';
    return {v23, v24, v1, std::string("ID3\3\0\0\x7f\x7f\x7f\x7f", 10)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    UInt32 blockSize = 0;
    void* block = ReadID3v2Tag(in, &blockSize);
    if (block) {
        if (blockSize > size || blockSize < kID3v2HeaderSize || std::memcmp(block, "ID3", 3) != 0)
            std::abort();
        std::free(block);
    }
    UInt8 record[kID3v1RecordSize];
    if (ReadID3v1Tag(in, record)) {
        const ID3v1Fields fields = ParseID3v1Record(record);
        if (fields.title.size() > 30 || fields.year.size() > 4 || fields.genre > 254)
            std::abort();
        (void)ID3v1TagDictionary(record);
    }
    return 0;
}
