// The Sound Designer II reader on damaged resource forks: the input is the
// file's sidecar (its resource fork) and its data fork at once.  Open,
// ProbeHeader, reading every frame and the channel probe must neither crash
// nor read out of bounds.
#include "CSDIIFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "TestTempDir.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sidecar of a small file written by the class itself, with a marker,
// a loop and a region.
std::string WrittenSidecar(UInt16 channels, SInt16 bits)
{
    TestTempDir dir;
    CSDIIFile file;
    if (file.SetFile(dir.file("seed")) != noErr ||
        file.Create(channels, bits, 0, nullptr, nullptr, 44100.0f) != noErr)
        return {};
    const std::string path = file.GetPath();
    SFTMarker marker;
    marker.markerID = 1;
    marker.pos = 3;
    marker.type = 1;
    marker.name[0] = 2;
    std::memcpy(marker.name + 1, "mk", 2);
    file.AddMarker(&marker);
    SFTLoop loop;
    loop.loopID = 1;
    loop.start = 1;
    loop.end = 5;
    loop.type = 1;
    file.AddLoop(&loop);
    file.AllocateWriteBuffer();
    file.PrepareWriteBlock(0);
    file.WriteBlock(8, 0);
    SFTRegion region;
    region.start = 0;
    region.end = 4;
    region.name[0] = 1;
    region.name[1] = 'r';
    file.AddRegion(&region);
    file.Close();
    const std::string::size_type slash = path.rfind('/');
    return ReadFile(path.substr(0, slash + 1) + "._" + path.substr(slash + 1));
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {WrittenSidecar(2, 16), WrittenSidecar(1, 24)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".sd2");
    const std::string::size_type slash = path.rfind('/');
    {
        std::ofstream sidecar(path.substr(0, slash + 1) + "._" + path.substr(slash + 1),
                              std::ios::binary | std::ios::trunc);
        sidecar.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    soundfilefuzz::ReadAndProbe<CSDIIFile>(path, soundfilefuzz::Walk().AnyChannels());
    try {
        (void)GetSDIINumChannels(path);
    } catch (...) {
    }
    return 0;
}
