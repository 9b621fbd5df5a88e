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

#include <algorithm>
#include <cctype>
#include <cstring>

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
Rule RawStream(const ContainerTraits& container, const CodecTraits& codec)
{
    if (!container.RawStreamOf(codec))
        return std::make_unique<TrackLengthRule>();
    return std::make_unique<RawStreamLengthRule>(codec);
}

ContainerTraits Row(ContainerKind kind, const char* demuxer, OSType fileFormat,
                    Rule (*rule)(const ContainerTraits&, const CodecTraits&))
{
    ContainerTraits row;
    row.kind = kind;
    row.demuxer = demuxer;
    row.fileFormat = fileFormat;
    row.lengthRule = rule;
    return row;
}

ContainerTraits RawRow(ContainerKind kind, const char* demuxer, OSType fileFormat, FrameSyntax syntax)
{
    ContainerTraits row = Row(kind, demuxer, fileFormat, RawStream);
    row.rawSyntax = syntax;
    return row;
}

struct Table {
    ContainerTraits rows[kContainerKinds];

    Table()
    {
        using K = ContainerKind;
        auto set = [this](const ContainerTraits& row) { rows[int(row.kind)] = row; };
        set(Row(K::Other, nullptr, 0, StatesNothing));
        ContainerTraits aiff = Row(K::Aiff, "aiff", media_codes::kAIFC, StatesNothing);
        aiff.commFrames = true;
        set(aiff);
        ContainerTraits wave = Row(K::Wave, "wav", media_codes::kWAVE, StatesNothing);
        wave.factChunk = true;
        set(wave);
        set(Row(K::Wave64, "w64", media_codes::kWAVE, StatesNothing));
        ContainerTraits caf = Row(K::Caf, "caf", media_codes::kCAF, Plain<CafLengthRule>);
        caf.layout = StoredLayout::CafChunk;
        set(caf);
        ContainerTraits mpeg = RawRow(K::MpegAudio, "mp3", FOUR_CHAR_CODE("MPG3"), FrameSyntax::Mpeg);
        mpeg.byteSeek = true;
        mpeg.tagged = true;
        set(mpeg);
        set(RawRow(K::Adts, "aac", FOUR_CHAR_CODE("adts"), FrameSyntax::Adts));
        set(RawRow(K::Ac3, "ac3", 0, FrameSyntax::Ac3));
        set(RawRow(K::Eac3, "eac3", 0, FrameSyntax::Ac3));
        ContainerTraits flac = Row(K::Flac, "flac", FOUR_CHAR_CODE("flac"), Plain<FlacLengthRule>);
        flac.nativeFlac = true;
        set(flac);
        ContainerTraits ogg = Row(K::Ogg, "ogg", FOUR_CHAR_CODE("Ogg "), Plain<OggLengthRule>);
        ogg.chainsLinks = true;
        set(ogg);
        set(Row(K::Amr, "amr", FOUR_CHAR_CODE("amrf"), Amr));
        set(Row(K::Asf, "asf", 0, Plain<AsfLengthRule>));
        ContainerTraits matroska = Row(K::Matroska, nullptr, 0, Plain<MatroskaLengthRule>);
        matroska.namePart = "matroska";
        set(matroska);
        ContainerTraits movie = Row(K::QuickTime, nullptr, 0, Plain<Mp4LengthRule>);
        movie.namePart = "mp4";
        movie.formatByName = true;
        movie.layout = StoredLayout::MovieBoxes;
        set(movie);
        // Read with QuickTime's rules, its file format unknown.
        ContainerTraits named = Row(K::NamedMovie, nullptr, 0, Plain<Mp4LengthRule>);
        named.namePart = "mov";
        named.layout = StoredLayout::MovieBoxes;
        set(named);
    }
};

const Table& TheTable()
{
    static const Table table;
    return table;
}

}  // namespace

const ContainerTraits& ContainerTraits::Of(ContainerKind kind)
{
    const Table& table = TheTable();
    const ContainerTraits& row = table.rows[int(kind)];
    return row.lengthRule ? row : table.rows[int(ContainerKind::Other)];
}

ContainerKind KindOfDemuxer(const char* name)
{
    if (!name)
        return ContainerKind::Other;
    const Table& table = TheTable();
    for (const ContainerTraits& row : table.rows)
        if (row.demuxer && std::strcmp(name, row.demuxer) == 0)
            return row.kind;
    for (const ContainerTraits& row : table.rows)
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
