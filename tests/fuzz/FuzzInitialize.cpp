// libFuzzer start-up: fills an empty corpus folder (the first folder
// argument) with the target's seeds, so a short bounded run starts from
// valid files rather than from nothing.
#include "FuzzTarget.h"

#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    namespace fs = std::filesystem;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = (*argv)[i];
        if (arg[0] == '-')
            continue;
        std::error_code ec;
        if (!fs::is_directory(arg, ec))
            continue;
        if (!fs::is_empty(arg, ec))
            break;
        int n = 0;
        for (const std::string& seed : FuzzSeeds()) {
            std::ofstream out(fs::path(arg) / ("seed-" + std::to_string(n++)), std::ios::binary);
            out.write(seed.data(), static_cast<std::streamsize>(seed.size()));
        }
        break;
    }
    return 0;
}
