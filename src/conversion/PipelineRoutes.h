// The channel treatments and the channel-kind switch of the pipelines, as
// data: for each treatment and each channel kind of the input, whether the
// pipeline makes the output itself (and which layout and channel pass), hands
// the input to the pipeline of another treatment of the same stage set, or
// has no way to treat it.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

// The conversion's channel treatment (ConvSpec::channelTreat).
enum ChannelTreatment : SInt16 {
    NoChannelTreat = 0,
    ForceInterleavedStereo = 1,
    SplitChannels = 2,
    MixToMono = 3,
    LeftOnly = 4,
    RightOnly = 5,
    OnlyStereoToInterleaved = 6,
};
constexpr int kNumChannelTreatments = 7;

// CSoundFile::GetChannelKind.
enum : SInt32 {
    kChannelKindMono = 1,
    kChannelKindStereo = 2,
    kChannelKindMultichannel = 3,
    kChannelKindSplitStereo = 4,
    kChannelKindSurround = 5,
};

enum class RouteAction : UInt8 {
    NoRoute,   // nothing is made: kIncompatibleChannelsErr
    Delegate,  // the pipeline of `delegate` of the same stage set runs instead
    Own,       // the pipeline makes `layout` through `pass`
};

enum class OutputLayout : UInt8 {
    None,
    Kept,            // one interleaved file with the input's channels and configuration
    Stereo,          // one interleaved stereo file (configuration 1)
    Mono,            // one mono file (configuration 0)
    SplitStereoSet,  // a 'Splt' pair of mono files
    SurroundSet,     // a 'Srnd' set, one mono file per channel
};

enum class ChannelPass : UInt8 {
    None,
    Same,          // every channel to the same place
    MonoToStereo,  // the mono channel to both
    MixToMono,     // the average of two channels
    Left,          // channel 0
    Right,         // channel 1
};

struct PipelineRoute {
    RouteAction action = RouteAction::NoRoute;
    ChannelTreatment delegate = NoChannelTreat;
    OutputLayout layout = OutputLayout::None;
    ChannelPass pass = ChannelPass::None;
};

// The table's cell for a treatment (0 to 6) and a channel kind; kinds and
// treatments outside the table give a NoRoute cell.  For an output type
// whose every file is a split stereo set (`splitSetOutput`), a cell that
// would write a set of two mono files of the type (a stereo input split, a
// split stereo input kept as a set) hands the input to the treatment that
// writes one stereo file: the type writes that file as its set.
PipelineRoute GetPipelineRoute(SInt32 treatment, SInt32 channelKind, bool splitSetOutput = false);

// The route that finally serves the input, following delegation;
// *owner (may be null) gets the treatment whose pipeline makes the output.
PipelineRoute ResolvePipelineRoute(SInt32 treatment, SInt32 channelKind, SInt32* owner = nullptr,
                                   bool splitSetOutput = false);

// Channels of each file the route writes (members of a set are mono).
UInt16 RouteChannelsPerFile(const PipelineRoute& route, UInt16 inputChannels);
