// The kind of container a movie input is, told by the name of the demuxer
// that reads it, in KindOfDemuxer only: everything else asks the kind, and
// what a kind of container does is its row of ContainerTraits.
#pragma once

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
    // (A new kind goes before NamedMovie, with its row in ContainerTraits.)
};
constexpr int kContainerKinds = int(ContainerKind::NamedMovie) + 1;

// The kind of the demuxer named `name` (null: Other).
ContainerKind KindOfDemuxer(const char* name);
