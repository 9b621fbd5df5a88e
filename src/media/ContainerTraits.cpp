#include "ContainerTraits.h"

#include "AmrLengthRule.h"
#include "AsfLengthRule.h"
#include "CafLengthRule.h"
#include "FlacLengthRule.h"
#include "MatroskaLengthRule.h"
#include "MediaCodes.h"
#include "Mp4LengthRule.h"
#include "OggLengthRule.h"
#include "RawStreamLengthRule.h"
#include "TrackLengthRule.h"
#include "WaveDataRule.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace {

using Rule = std::unique_ptr<TrackLengthRule>;

Rule StatesNothing(const ContainerTraits&, const CodecTraits&) { return std::make_unique<TrackLengthRule>(); }
template <class R>
Rule Plain(const ContainerTraits&, const CodecTraits&)
{
    return std::make_unique<R>();
}
Rule Amr(const ContainerTraits&, const CodecTraits& codec)
{
    return std::make_unique<AmrLengthRule>(codec.syntax == FrameSyntax::AmrWide);
}
Rule WaveData(const ContainerTraits&, const CodecTraits& codec)
{
    return std::make_unique<WaveDataRule>(codec);
}
Rule RawStream(const ContainerTraits& container, const CodecTraits& codec)
{
    if (!container.RawStreamOf(codec))
        return std::make_unique<TrackLengthRule>();
    return std::make_unique<RawStreamLengthRule>(codec);
}

using K = ContainerKind;

// The rows, one a kind, in the order of ContainerTraits' fields (each names
// only what differs from a container nothing is known of).
const ContainerTraits kRows[] = {
    {.kind = K::Other, .lengthRule = StatesNothing},
    {.kind = K::Aiff, .demuxer = "aiff", .fileFormat = media_codes::kAIFC, .commFrames = true,
     .lengthRule = StatesNothing},
    {.kind = K::Wave, .demuxer = "wav", .fileFormat = media_codes::kWAVE, .factChunk = true, .dataChunk = true,
     .lengthRule = WaveData},
    {.kind = K::Wave64, .demuxer = "w64", .fileFormat = media_codes::kWAVE, .dataChunk = true,
     .lengthRule = WaveData},
    {.kind = K::Caf, .demuxer = "caf", .fileFormat = media_codes::kCAF, .layout = StoredLayout::CafChunk,
     .lengthRule = Plain<CafLengthRule>},
    {.kind = K::MpegAudio, .demuxer = "mp3", .fileFormat = FOUR_CHAR_CODE("MPG3"), .byteSeek = true,
     .rawSyntax = FrameSyntax::Mpeg, .tagged = true, .lengthRule = RawStream},
    {.kind = K::Adts, .demuxer = "aac", .fileFormat = FOUR_CHAR_CODE("adts"), .rawSyntax = FrameSyntax::Adts,
     .lengthRule = RawStream},
    {.kind = K::Ac3, .demuxer = "ac3", .rawSyntax = FrameSyntax::Ac3, .lengthRule = RawStream},
    {.kind = K::Eac3, .demuxer = "eac3", .rawSyntax = FrameSyntax::Ac3, .lengthRule = RawStream},
    {.kind = K::Flac, .demuxer = "flac", .fileFormat = FOUR_CHAR_CODE("flac"), .nativeFlac = true,
     .lengthRule = Plain<FlacLengthRule>},
    {.kind = K::Ogg, .demuxer = "ogg", .fileFormat = FOUR_CHAR_CODE("Ogg "), .chainsLinks = true,
     .lengthRule = Plain<OggLengthRule>},
    {.kind = K::Amr, .demuxer = "amr", .fileFormat = FOUR_CHAR_CODE("amrf"), .lengthRule = Amr},
    {.kind = K::Asf, .demuxer = "asf", .lengthRule = Plain<AsfLengthRule>},
    {.kind = K::Matroska, .namePart = "matroska", .lengthRule = Plain<MatroskaLengthRule>},
    {.kind = K::QuickTime, .namePart = "mp4", .formatByName = true, .layout = StoredLayout::MovieBoxes,
     .lengthRule = Plain<Mp4LengthRule>},
    {.kind = K::GameMusic, .demuxer = "libgme", .endless = true, .lengthRule = StatesNothing},
    // Read with QuickTime's rules, its file format unknown.
    {.kind = K::NamedMovie, .namePart = "mov", .layout = StoredLayout::MovieBoxes, .lengthRule = Plain<Mp4LengthRule>},
};
static_assert(std::size(kRows) == kContainerKinds, "a row for every kind");

}  // namespace

const ContainerTraits& ContainerTraits::Of(ContainerKind kind)
{
    for (const ContainerTraits& row : kRows)
        if (row.kind == kind)
            return row;
    return kRows[0];
}

ContainerKind KindOfDemuxer(const char* name)
{
    if (!name)
        return ContainerKind::Other;
    for (const ContainerTraits& row : kRows)
        if (row.demuxer && std::strcmp(name, row.demuxer) == 0)
            return row.kind;
    for (const ContainerTraits& row : kRows)
        if (row.namePart && std::strstr(name, row.namePart))
            return row.kind;
    return ContainerKind::Other;
}

OSType ContainerTraits::FileFormatOf(const std::string& path) const
{
    if (!formatByName)
        return fileFormat;
    std::string extension;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.find('/', dot) == std::string::npos) {
        extension = path.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    if (extension == "m4a")
        return FOUR_CHAR_CODE("m4af");
    if (extension == "mov" || extension == "qt")
        return media_codes::kMovie;
    if (extension == "3gp")
        return FOUR_CHAR_CODE("3gpp");
    return FOUR_CHAR_CODE("mp4f");
}

std::unique_ptr<TrackLengthRule> ContainerTraits::LengthRuleFor(const CodecTraits& codec) const
{
    return lengthRule(*this, codec);
}
