#include "FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

std::string ScratchFolder()
{
    static std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/qmfuzz-XXXXXX";
        if (!mkdtemp(templ.data()))
            std::abort();
        std::atexit([] {
            std::string cmd = "rm -rf '" + ScratchFolder() + "'";
            if (std::system(cmd.c_str()) != 0) { /* best effort */ }
        });
        return templ;
    }();
    return folder;
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
