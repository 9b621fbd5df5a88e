#include "ContainerKind.h"

#include <cstring>

ContainerKind KindOfDemuxer(const char* name)
{
    if (!name)
        return ContainerKind::Other;
    static constexpr struct {
        const char* name;
        ContainerKind kind;
    } kExact[] = {
        {"aiff", ContainerKind::Aiff}, {"wav", ContainerKind::Wave},       {"w64", ContainerKind::Wave64},
        {"caf", ContainerKind::Caf},   {"mp3", ContainerKind::MpegAudio},  {"aac", ContainerKind::Adts},
        {"ac3", ContainerKind::Ac3},   {"eac3", ContainerKind::Eac3},      {"flac", ContainerKind::Flac},
        {"ogg", ContainerKind::Ogg},   {"amr", ContainerKind::Amr},        {"asf", ContainerKind::Asf},
    };
    for (const auto& e : kExact)
        if (std::strcmp(name, e.name) == 0)
            return e.kind;
    if (std::strstr(name, "matroska"))
        return ContainerKind::Matroska;
    if (std::strstr(name, "mp4"))
        return ContainerKind::QuickTime;
    if (std::strstr(name, "mov"))
        return ContainerKind::NamedMovie;
    return ContainerKind::Other;
}
