#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

// The folder lives for the whole process (never destroyed, so the exit
// handler that removes it can still read it).
const std::string& ScratchFolder()
{
    static const std::string* folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/qmfuzz-XXXXXX";
        if (!mkdtemp(templ.data()))
            std::abort();
        return new std::string(templ);
    }();
    static const bool cleanupRegistered = [] {
        std::atexit([] {
            std::string cmd = "rm -rf '" + *folder + "'";
            if (std::system(cmd.c_str()) != 0) { /* best effort */ }
        });
        return true;
    }();
    (void)cleanupRegistered;
    return *folder;
}

} // namespace

std::string FuzzWriteInput(const uint8_t* data, size_t size, const std::string& extension)
{
    std::string path = ScratchFolder() + "/input" + extension;
    std::remove(path.c_str());
    std::string sidecar = ScratchFolder() + "/._input" + extension;
    std::remove(sidecar.c_str());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    return path;
}

std::string FuzzScratchFolder()
{
    return ScratchFolder();
}
