#include "ExtraInfoRegistry.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<ExtraInfoReader> g_readers;

} // namespace

void RegisterExtraInfoReader(ExtraInfoReader reader)
{
    if (!reader)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (std::find(g_readers.begin(), g_readers.end(), reader) == g_readers.end())
        g_readers.push_back(reader);
}

void ReadExtraInfo(const std::string& path, QVariantMap* info)
{
    std::vector<ExtraInfoReader> readers;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        readers = g_readers;
    }
    for (ExtraInfoReader reader : readers) {
        try {
            reader(path, info);
        } catch (...) {
            // A reader that fails adds nothing.
        }
    }
}
