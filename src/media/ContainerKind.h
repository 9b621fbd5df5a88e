// The kind of container a movie input is, told by the name of the demuxer
// that reads it, in KindOfDemuxer only: everything else asks the kind.
#pragma once

#include "MacTypes.h"

#include <string>

enum class ContainerKind {
    Other,         // any demuxer not named below
    Aiff,          // "aiff"
    Wave,          // "wav"
    Wave64,        // "w64"
    Caf,           // "caf"
    MpegAudio,     // "mp3": raw MPEG audio
    Adts,          // "aac": raw ADTS
    Ac3,           // "ac3": raw AC-3
    Eac3,          // "eac3": raw E-AC-3
    Flac,          // "flac": native FLAC
    Ogg,           // "ogg"
    Amr,           // "amr"
    Asf,           // "asf"
    Matroska,      // "matroska,webm"
    QuickTime,     // "mov,mp4,m4a,3gp,3g2,mj2"
    NamedMovie,    // another demuxer whose name holds "mov" (game movies): read with QuickTime's rules
    GameMusic,     // "libgme": tunes an emulator plays, for as long as it is let
};

// The kind of the demuxer named `name` (null: Other).
ContainerKind KindOfDemuxer(const char* name);

// Whether the container is read with the QuickTime file rules (the length
// rule of its movie box, its 'chan' atoms).
inline bool HasMovieBoxes(ContainerKind kind)
{
    return kind == ContainerKind::QuickTime || kind == ContainerKind::NamedMovie;
}

// Core Audio file-format code of a container of `kind` holding the file at
// `path` (the name's extension tells the QuickTime family apart); 0 when
// unknown.
OSType FileFormatForKind(ContainerKind kind, const std::string& path);
