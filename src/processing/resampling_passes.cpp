#include "resampling_passes.h"

#include "CSoundFile.h"
#include "progress_channel.h"
#include "region_walk.h"

#include <cmath>

namespace {

// One millisecond of input when compacting.
UInt32 StripMargin(const CSoundFile* in, const ResampleSettings& settings)
{
    return MarginFrames(settings.needsStrip ? 0.001 : 0.0, in->GetSampleRate());
}

// The region walk of the strip passes: each merged, widened segment is
// converted by `convert` (start, end, output position), the output position
// running on from 0 across the segments.
template <typename Convert>
SInt32 StripWalk(CSoundFile* in, const ResampleSettings& settings, Convert&& convert)
{
    RegionWalkParams params;
    params.firstSearch = -1;
    params.margin = StripMargin(in, settings);
    params.nextSearchOffset = 1;
    UInt32 outPos = 0;
    return WalkRegionSpans(in, params, [&](UInt32 a, UInt32 b) { return convert(a, b, &outPos); });
}

// The strip walk once per input channel, each posted as the channel in
// progress; the output is marked one-channel-done after each.
// convert(channel, start, end, output position) converts one segment.
template <typename Convert>
SInt32 StripEachChannel(CSoundFile* in, CSoundFile* out, const ResampleSettings& settings, Convert&& convert)
{
    const int n = in->GetNumChannels();
    SInt32 result = 0;
    for (int i = 0; i < n && result == 0; ++i) {
        PostProgressChannel(i + 1, n);
        result = StripWalk(in, settings,
                           [&](UInt32 a, UInt32 b, UInt32* pos) { return convert(UInt16(i), a, b, pos); });
        out->SetOneChannelDone(true);
    }
    return result;
}

// A pass written from output frame 0 with the peak started afresh:
// convert(output position).
template <typename Convert>
SInt32 FromFreshPeak(CSoundFile* in, CSoundFile* out, ResampleSettings& settings, Convert&& convert)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    UInt32 outPos = 0;
    return convert(&outPos);
}

// Carry the extras of every kept segment for the length of the walk, and put
// the setting back whatever happens.
class ForcedCopyExtras {
public:
    explicit ForcedCopyExtras(ResampleSettings& settings) : settings_(settings), saved_(settings.copyExtras)
    {
        settings_.copyExtras = true;
    }
    ~ForcedCopyExtras() { settings_.copyExtras = saved_; }
    ForcedCopyExtras(const ForcedCopyExtras&) = delete;
    ForcedCopyExtras& operator=(const ForcedCopyExtras&) = delete;

private:
    ResampleSettings& settings_;
    bool saved_;
};

bool JointForRange(const CSoundFile* in, const ResampleSettings& settings)
{
    if (in->GetNumChannels() != 2)
        return false;
    const SInt16 t = settings.channelTreat;
    return !settings.needsChannelTreat || t == 1 || t == 2 || t == 6;
}

bool JointForStrip(const CSoundFile* in, const ResampleSettings& settings)
{
    if (in->GetNumChannels() != 2)
        return false;
    const SInt16 t = settings.channelTreat;
    return !settings.needsChannelTreat || t == 1 || t == 2;
}

SInt32 OneChannelWhole(CSoundFile* in, CSoundFile* out, ResampleSettings& settings, UInt16 channel)
{
    return FromFreshPeak(in, out, settings, [&](UInt32* pos) {
        return SampleRateConvertOneChannel(in, out, 0, in->GetNumFrames(), settings, channel, 0, pos);
    });
}

SInt32 OneChannelRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings,
                       UInt16 channel)
{
    return FromFreshPeak(in, out, settings, [&](UInt32* pos) {
        return SampleRateConvertOneChannel(in, out, start, end, settings, channel, 0, pos);
    });
}

SInt32 OneChannelStrip(CSoundFile* in, CSoundFile* out, ResampleSettings& settings, UInt16 channel)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    ForcedCopyExtras forced(settings);
    return StripWalk(in, settings, [&](UInt32 a, UInt32 b, UInt32* pos) {
        return SampleRateConvertOneChannel(in, out, a, b, settings, channel, 0, pos);
    });
}

} // namespace

// ---------------------------------------------------------------- same
SInt32 SRCPass(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    return SRCPassRange(in, out, 0, in->GetNumFrames(), settings);
}

SInt32 SRCPassRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings)
{
    if (!in || !out)
        return paramErr;
    UInt32 outPos = 0;
    if (JointForRange(in, settings))
        return SampleRateConvertStereo(in, out, start, end, settings, &outPos);
    const int n = in->GetNumChannels();
    SInt32 result = 0;
    for (int i = 0; i < n && result == 0; ++i) {
        PostProgressChannel(i + 1, n);
        outPos = 0;
        result = SampleRateConvertOneChannel(in, out, start, end, settings, UInt16(i), UInt16(i), &outPos);
        out->SetOneChannelDone(true);
    }
    return result;
}

SInt32 SRCPassStrip(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    ForcedCopyExtras forced(settings);
    if (JointForStrip(in, settings)) {
        const SInt32 result = StripWalk(in, settings, [&](UInt32 a, UInt32 b, UInt32* pos) {
            return SampleRateConvertStereo(in, out, a, b, settings, pos);
        });
        out->SetOneChannelDone(true);
        return result;
    }
    return StripEachChannel(in, out, settings, [&](UInt16 channel, UInt32 a, UInt32 b, UInt32* pos) {
        return SampleRateConvertOneChannel(in, out, a, b, settings, channel, channel, pos);
    });
}

// -------------------------------------------------------- mono to stereo
SInt32 SRCPassMonoToStereo(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return FromFreshPeak(in, out, settings, [&](UInt32* pos) {
        return SampleRateConvertMonoToStereo(in, out, 0, in->GetNumFrames(), settings, pos);
    });
}

SInt32 SRCPassRangeMonoToStereo(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                                ResampleSettings& settings)
{
    UInt32 outPos = 0;
    return SampleRateConvertMonoToStereo(in, out, start, end, settings, &outPos);
}

SInt32 SRCPassStripMonoToStereo(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    return StripEachChannel(in, out, settings, [&](UInt16, UInt32 a, UInt32 b, UInt32* pos) {
        return SampleRateConvertMonoToStereo(in, out, a, b, settings, pos);
    });
}

// --------------------------------------------------------- mix to mono
SInt32 SRCPassMixToMono(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return FromFreshPeak(in, out, settings, [&](UInt32* pos) {
        return SampleRateConvertMixToMono(in, out, 0, in->GetNumFrames(), settings, pos);
    });
}

SInt32 SRCPassRangeMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                             ResampleSettings& settings, UInt32* outPos)
{
    return SampleRateConvertMixToMono(in, out, start, end, settings, outPos);
}

SInt32 SRCPassStripMixToMono(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    if (!in || !out)
        return paramErr;
    settings.max = 0.0;
    ForcedCopyExtras forced(settings);
    return StripWalk(in, settings, [&](UInt32 a, UInt32 b, UInt32* pos) {
        return SampleRateConvertMixToMono(in, out, a, b, settings, pos);
    });
}

// ------------------------------------------------------- left and right
SInt32 SRCPassLeft(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return OneChannelWhole(in, out, settings, 0);
}
SInt32 SRCPassRangeLeft(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings)
{
    return OneChannelRange(in, out, start, end, settings, 0);
}
SInt32 SRCPassStripLeft(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return OneChannelStrip(in, out, settings, 0);
}
SInt32 SRCPassRight(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return OneChannelWhole(in, out, settings, 1);
}
SInt32 SRCPassRangeRight(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, ResampleSettings& settings)
{
    return OneChannelRange(in, out, start, end, settings, 1);
}
SInt32 SRCPassStripRight(CSoundFile* in, CSoundFile* out, ResampleSettings& settings)
{
    return OneChannelStrip(in, out, settings, 1);
}
