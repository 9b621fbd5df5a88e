#include "ContainerKind.h"

#include "MediaCodes.h"

#include <algorithm>
#include <cctype>
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
        {"libgme", ContainerKind::GameMusic},
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

OSType FileFormatForKind(ContainerKind kind, const std::string& path)
{
    std::string extension;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        extension = path.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    switch (kind) {
    case ContainerKind::Aiff: return media_codes::kAIFC;
    case ContainerKind::Wave:
    case ContainerKind::Wave64: return media_codes::kWAVE;
    case ContainerKind::Caf: return media_codes::kCAF;
    case ContainerKind::MpegAudio: return FOUR_CHAR_CODE("MPG3");
    case ContainerKind::Flac: return FOUR_CHAR_CODE("flac");
    case ContainerKind::Ogg: return FOUR_CHAR_CODE("Ogg ");
    case ContainerKind::Amr: return FOUR_CHAR_CODE("amrf");
    case ContainerKind::Adts: return FOUR_CHAR_CODE("adts");
    case ContainerKind::QuickTime:
        if (extension == "m4a")
            return FOUR_CHAR_CODE("m4af");
        if (extension == "mov" || extension == "qt")
            return media_codes::kMovie;
        if (extension == "3gp")
            return FOUR_CHAR_CODE("3gpp");
        return FOUR_CHAR_CODE("mp4f");
    default: return 0;
    }
}
