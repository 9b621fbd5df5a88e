// What the media layer knows of each kind of container, as one row per
// kind (ContainerTraits::Of): its file format, how its packets are sought,
// where it stores a track's channel layout, the checks of its own headers
// that apply, and the rule that holds what it states of a track's length
// against what the count finds (TrackLengthRule).  No other file compares
// container kinds to learn what a container does: a new container is a new
// kind, its row here, and its length rule where it has one.
#pragma once

#include "CodecTraits.h"
#include "ContainerKind.h"
#include "MacTypes.h"

#include <memory>
#include <string>

class TrackLengthRule;

// Where a container stores the speakers of a sample coder's channels: in a
// CAF file's 'chan' chunk (whose 'desc' also gives the frames of each
// packet), or in the 'chan' atom of a QuickTime movie's track.
enum class StoredLayout { None, CafChunk, MovieBoxes };

struct ContainerTraits {
    ContainerKind kind = ContainerKind::Other;
    // The demuxer's name (`demuxer`), or a part of it (`namePart`: a
    // demuxer of several names, the first row whose part it holds).
    const char* demuxer = nullptr;
    const char* namePart = nullptr;
    // The Core Audio file-format code (0: unknown, or told by the name:
    // `formatByName`).
    OSType fileFormat = 0;
    // The QuickTime family: the name's extension tells the file format.
    bool formatByName = false;
    // A packet is found again by its byte position, not its time stamp.
    bool byteSeek = false;
    StoredLayout layout = StoredLayout::None;
    // A raw stream of frames of this syntax, which state their own length
    // (RawStreamLengthRule), where the track's codec frames it so.
    FrameSyntax rawSyntax = FrameSyntax::None;
    // A raw stream whose tags (ID3, APE, Lyrics3) the demuxer may hand out
    // as packets, and whose few whole frames tell it however low the
    // libraries score it.
    bool tagged = false;
    // A native FLAC file: its frames walked (FlacFrameWalk), its end
    // checked (FlacEndRule), read with libFLAC; a frame of another rate
    // than STREAMINFO's is damage.
    bool nativeFlac = false;
    // A WAVE file's 'fact' chunk ends a compressed stream (WaveFactRule).
    bool factChunk = false;
    // The sound is a data chunk whose size states it, and whose pad byte is
    // no sound (WaveDataRule).
    bool dataChunk = false;
    // An AIFF-C file's 'COMM' counts the frames of an IMA 4:1 track
    // (AiffFrameCountRule).
    bool commFrames = false;
    // Streams chained one after the other, each link beginning with its
    // own header packets (Ogg).
    bool chainsLinks = false;
    // A tune an emulator plays for as long as it is let: it has no length
    // to convert, and is refused at its opening.
    bool endless = false;
    // The container's rule for the track's length.
    std::unique_ptr<TrackLengthRule> (*lengthRule)(const ContainerTraits&, const CodecTraits&) = nullptr;

    // The row of `kind`.
    static const ContainerTraits& Of(ContainerKind kind);

    // Whether `codec` is read as this container's raw stream of frames.
    bool RawStreamOf(const CodecTraits& codec) const
    {
        return rawSyntax != FrameSyntax::None && codec.syntax == rawSyntax;
    }
    // The file format of the file at `path` in a container of this kind.
    OSType FileFormatOf(const std::string& path) const;
    // The length rule for a track of `codec` in this container.
    std::unique_ptr<TrackLengthRule> LengthRuleFor(const CodecTraits& codec) const;
};

// The kind of the demuxer named `name` (null: Other): the one place a
// demuxer's name is read.
ContainerKind KindOfDemuxer(const char* name);
