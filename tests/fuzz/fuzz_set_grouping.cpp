// Set grouping over any folder of names: each line of the input names a
// small mono AIFF file; grouping any of them gives a member list that holds
// the file itself, in a folder where every member exists.
#include "AIFFFuzzSeeds.h"
#include "CreateSoundFile.h"
#include "FuzzTarget.h"
#include "SoundFileSwitches.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

std::vector<std::string> FuzzSeeds()
{
    return {"Take-L.paf\nTake-R.paf\n", "Mix.L.aif\nMix.R.aif\nMix.C.aif\nMix.LFE.aif\nMix.Ls.aif\nMix.Rs.aif\n",
            "Song.1.wav\nSong.2.wav\nsong.3.WAV\n", "a.L.aif\nA.r.aif\n"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    namespace fs = std::filesystem;
    SetRecognizeNumberFilesAsSplit(size > 0 && (data[0] & 1));
    const fs::path folder = fs::path(FuzzScratchFolder()) / "set";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    const std::string image = AIFFFuzzImage(false, "", 16, 1, 3);
    std::vector<std::string> names;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size() && names.size() < 8) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string name = text.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name.size() > 200 || name == "." || name == ".." ||
            name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
            continue;
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(image.data(), std::streamsize(image.size()));
        if (out)
            names.push_back(name);
    }
    for (const std::string& name : names) {
        const std::string path = (folder / name).string();
        OSType type = 0;
        std::vector<std::string> members;
        std::string setName;
        SInt32 configuration = 0;
        if (DetectFileType(path, &type, nullptr, &members, &setName, &configuration, true) != noErr)
            continue;
        if (!members.empty()) {
            bool self = false;
            for (const std::string& member : members) {
                if (!fs::exists(member, ec))
                    std::abort();
                self = self || fs::equivalent(member, path, ec);
            }
            if (!self)
                std::abort();
        }
    }
    return 0;
}
