// The kind of container a movie input is, told by the name of the demuxer
// that reads it (KindOfDemuxer, in ContainerTraits): everything else asks
// the kind, and what a kind of container does is its row of
// ContainerTraits.
#pragma once

enum class ContainerKind {
    Other,         // any demuxer not named by a row
    Aiff,
    Wave,
    Wave64,
    Caf,
    MpegAudio,     // raw MPEG audio
    Adts,          // raw ADTS
    Ac3,           // raw AC-3
    Eac3,          // raw E-AC-3
    Flac,          // native FLAC
    Ogg,
    Amr,
    Asf,
    Matroska,
    QuickTime,
    GameMusic,     // tunes an emulator plays, for as long as it is let
    NamedMovie,    // another demuxer whose name holds "mov" (game movies): read with QuickTime's rules
    // (A new kind goes before NamedMovie, with its row in ContainerTraits.)
};
constexpr int kContainerKinds = int(ContainerKind::NamedMovie) + 1;
