// The resource map alone: a bare resource fork beside an empty file opens
// whole or is refused, and every resource it lists can be looked at.
#include "FileManager.h"
#include "FuzzTarget.h"
#include "ResourceManager.h"

#include <cstdio>
#include <fstream>

std::vector<std::string> FuzzSeeds()
{
    // An empty map (header, 16 bytes of data, a map with no types), and one
    // 'STR ' resource of five bytes.
    auto be32 = [](std::string& s, unsigned v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            s += char((v >> shift) & 0xFF);
    };
    auto be16 = [](std::string& s, unsigned v) {
        s += char((v >> 8) & 0xFF);
        s += char(v & 0xFF);
    };
    std::string empty;
    be32(empty, 256);
    be32(empty, 256 + 16);
    be32(empty, 16);
    be32(empty, 30);
    empty.resize(256 + 16, '\0');
    std::string map(24, '\0');
    be16(map, 28);
    be16(map, 30);
    be16(map, 0xFFFF);  // no types
    empty += map;
    std::string one;
    be32(one, 256);
    be32(one, 256 + 9);
    be32(one, 9);
    be32(one, 50);
    one.resize(256, '\0');
    be32(one, 5);
    one += "hello";
    std::string map1(24, '\0');
    be16(map1, 28);
    be16(map1, 50);
    be16(map1, 0);
    map1 += "STR ";
    be16(map1, 0);
    be16(map1, 10);
    be16(map1, 128);
    be16(map1, 0xFFFF);
    be32(map1, 0);
    be32(map1, 0);
    one += map1;
    return {empty, one};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(nullptr, 0, ".sd2");
    const std::string folder = path.substr(0, path.rfind('/'));
    {
        std::ofstream fork(folder + "/._input.sd2", std::ios::binary | std::ios::trunc);
        fork.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    FSRef ref;
    if (FSPathMakeRef(path, &ref) != noErr)
        return 0;
    const ResFileRefNum file = FSOpenResFile(&ref, fsRdPerm);
    if (file > 0) {
        UseResFile(file);
        for (ResType type : {FOUR_CHAR_CODE("STR "), FOUR_CHAR_CODE("snd "), FOUR_CHAR_CODE("sdML"),
                             FOUR_CHAR_CODE("sdLL"), FOUR_CHAR_CODE("sdRG")}) {
            const ResourceCount count = Count1Resources(type);
            for (ResourceCount i = 1; i <= count && i <= 64; ++i) {
                Handle h = Get1IndResource(type, ResourceIndex(i));
                if (!h)
                    continue;
                ResID id = 0;
                ResType t = 0;
                Str255 name;
                GetResInfo(h, &id, &t, name);
                char buffer[16];
                ReadPartialResource(h, 0, buffer, sizeof buffer);
            }
        }
        CloseResFile(file);
    }
    std::remove((folder + "/._input.sd2").c_str());
    return 0;
}
