#include "SoundFileRegistry.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

struct Registries {
    std::mutex mutex;
    std::map<OSType, SoundFileFactory> factories;
    std::map<OSType, SetFileFactory> setFactories;
    std::vector<std::pair<OSType, HeaderProbe>> probes;
    std::map<OSType, ChunkFinder> finders;
    struct Sniffer {
        OSType type;
        HeaderSniffer sniffer;
        int priority;
    };
    std::vector<Sniffer> sniffers;   // by priority, then registration order
    std::vector<OSType> setMemberTypes;
};

Registries& Get()
{
    static Registries registries;
    return registries;
}

// The keyed tables (factories, set factories, chunk finders), each read and
// written under the registries' lock.  Storing a null value removes the key.
template <typename Map>
void StoreKeyed(Map Registries::*table, OSType key, typename Map::mapped_type value)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    Map& map = r.*table;
    if (value)
        map[key] = value;
    else
        map.erase(key);
}

template <typename Map>
typename Map::mapped_type FindKeyed(Map Registries::*table, OSType key)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    const Map& map = r.*table;
    auto it = map.find(key);
    return it == map.end() ? nullptr : it->second;
}

} // namespace

void RegisterSoundFileFactory(OSType type, SoundFileFactory factory)
{
    StoreKeyed(&Registries::factories, type, factory);
}

SoundFileFactory GetSoundFileFactory(OSType type)
{
    return FindKeyed(&Registries::factories, type);
}

void UnregisterSoundFileFactory(OSType type)
{
    StoreKeyed(&Registries::factories, type, nullptr);
}

std::vector<OSType> GetRegisteredSoundFileTypes()
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<OSType> types;
    types.reserve(r.factories.size());
    for (const auto& entry : r.factories)
        types.push_back(entry.first);
    return types;
}

void RegisterSetFileFactory(OSType setType, SetFileFactory factory)
{
    StoreKeyed(&Registries::setFactories, setType, factory);
}

SetFileFactory GetSetFileFactory(OSType setType)
{
    return FindKeyed(&Registries::setFactories, setType);
}

void UnregisterSetFileFactory(OSType setType)
{
    StoreKeyed(&Registries::setFactories, setType, nullptr);
}

void RegisterHeaderProbe(OSType type, HeaderProbe probe)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = std::find_if(r.probes.begin(), r.probes.end(),
                           [type](const std::pair<OSType, HeaderProbe>& entry) { return entry.first == type; });
    if (it != r.probes.end()) {
        if (probe)
            it->second = probe;
        else
            r.probes.erase(it);
    } else if (probe) {
        r.probes.emplace_back(type, probe);
    }
}

HeaderProbe GetHeaderProbe(OSType type)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto& entry : r.probes)
        if (entry.first == type)
            return entry.second;
    return nullptr;
}

std::vector<std::pair<OSType, HeaderProbe>> GetHeaderProbes()
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.probes;
}

void RegisterChunkFinder(OSType family, ChunkFinder finder)
{
    StoreKeyed(&Registries::finders, family, finder);
}

ChunkFinder GetChunkFinder(OSType family)
{
    return FindKeyed(&Registries::finders, family);
}

void RegisterHeaderSniffer(OSType type, HeaderSniffer sniffer, int priority)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.sniffers.erase(std::remove_if(r.sniffers.begin(), r.sniffers.end(),
                                    [type](const Registries::Sniffer& s) { return s.type == type; }),
                     r.sniffers.end());
    if (!sniffer)
        return;
    auto at = std::find_if(r.sniffers.begin(), r.sniffers.end(),
                           [priority](const Registries::Sniffer& s) { return s.priority < priority; });
    r.sniffers.insert(at, Registries::Sniffer{type, sniffer, priority});
}

std::vector<HeaderSniffer> GetHeaderSniffers()
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<HeaderSniffer> sniffers;
    sniffers.reserve(r.sniffers.size());
    for (const auto& s : r.sniffers)
        sniffers.push_back(s.sniffer);
    return sniffers;
}

void RegisterSetMemberType(OSType type)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (std::find(r.setMemberTypes.begin(), r.setMemberTypes.end(), type) == r.setMemberTypes.end())
        r.setMemberTypes.push_back(type);
}

bool IsSetMemberType(OSType type)
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    return std::find(r.setMemberTypes.begin(), r.setMemberTypes.end(), type) != r.setMemberTypes.end();
}

void ClearSoundFileRegistries()
{
    Registries& r = Get();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.sniffers.clear();
    r.setMemberTypes.clear();
    r.factories.clear();
    r.setFactories.clear();
    r.probes.clear();
    r.finders.clear();
}
