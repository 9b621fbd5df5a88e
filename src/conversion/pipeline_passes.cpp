#include "pipeline_passes.h"

#include "CConvSpec.h"
#include "conversion_pass_settings.h"
#include "gain_dynamics.h"
#include "peak_scan.h"
#include "resampling_passes.h"

namespace {

using WholeResample = SInt32 (*)(CSoundFile*, CSoundFile*, ResampleSettings&);
using RangeResample = SInt32 (*)(CSoundFile*, CSoundFile*, UInt32, UInt32, ResampleSettings&);

// What a pass gives back to the conversion: the analysis and rate
// conversion passes the peak, the gain passes the peak and the ceiled peak.
enum class Results { Peak, Gain };

// A pass run with the conversion's settings, its results stored back.
template <Results Kind, class Pass>
SInt32 Carrying(CConvSpec* spec, Pass pass)
{
    PassSettings s = PassSettingsFrom(*spec);
    const SInt32 err = pass(s);
    if constexpr (Kind == Results::Peak)
        StorePeak(s, *spec);
    else
        StoreGainResults(s, *spec);
    return err;
}

template <WholeResample Pass>
SInt32 Resample(CSoundFile* in, CSoundFile* out, CConvSpec* spec)
{
    return Carrying<Results::Peak>(spec, [&](ResampleSettings& s) { return Pass(in, out, s); });
}

template <RangeResample Pass>
SInt32 ResampleRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, CConvSpec* spec)
{
    return Carrying<Results::Peak>(spec, [&](ResampleSettings& s) { return Pass(in, out, start, end, s); });
}

// The mixing range pass continues at a position of the caller's; a region
// file starts at frame 0.
SInt32 ResampleRangeMixToMono(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, CConvSpec* spec)
{
    UInt32 outPos = 0;
    return Carrying<Results::Peak>(
        spec, [&](ResampleSettings& s) { return SRCPassRangeMixToMono(in, out, start, end, s, &outPos); });
}

// The analysis examines the channels the following gain pass keeps: the
// stored treatment may be one that this route does not apply (a delegated
// route, or the split-stereo-only treatment), and the gain kernels expect
// the peak of every channel they write.
SInt32 ScanFor(CSoundFile* in, SInt16 treatment, CConvSpec* spec)
{
    return Carrying<Results::Peak>(spec, [&](ScanSettings& s) {
        s.channelTreat = treatment;
        return ProcessGateAndNormalize(in, s);
    });
}

SInt32 Scan(CSoundFile* in, CConvSpec* spec)
{
    return Carrying<Results::Peak>(spec, [&](ScanSettings& s) { return ProcessGateAndNormalize(in, s); });
}

template <SInt16 Treatment>
SInt32 Gain(CSoundFile* in, CSoundFile* out, CConvSpec* spec)
{
    return Carrying<Results::Gain>(spec, [&](GainSettings& s) { return GainPass(Treatment, in, out, s); });
}

template <SInt16 Treatment>
SInt32 GainStrip(CSoundFile* in, CSoundFile* out, CConvSpec* spec)
{
    return Carrying<Results::Gain>(spec, [&](GainSettings& s) { return GainPassStrip(Treatment, in, out, s); });
}

template <SInt16 Treatment>
SInt32 GainRange(CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end, CConvSpec* spec)
{
    return Carrying<Results::Gain>(
        spec, [&](GainSettings& s) { return GainPassRange(Treatment, in, out, start, end, s); });
}

} // namespace

PipelinePassTable KernelPipelinePasses()
{
    PipelinePassTable t;
    // Variants: same channels, mono to stereo, mix to mono, left, right.
    t.resample[0][0] = &Resample<&SRCPass>;
    t.resample[0][1] = &Resample<&SRCPassMonoToStereo>;
    t.resample[0][2] = &Resample<&SRCPassMixToMono>;
    t.resample[0][3] = &Resample<&SRCPassLeft>;
    t.resample[0][4] = &Resample<&SRCPassRight>;
    t.resample[1][0] = &Resample<&SRCPassStrip>;
    t.resample[1][1] = &Resample<&SRCPassStripMonoToStereo>;
    t.resample[1][2] = &Resample<&SRCPassStripMixToMono>;
    t.resample[1][3] = &Resample<&SRCPassStripLeft>;
    t.resample[1][4] = &Resample<&SRCPassStripRight>;
    t.resampleRange[0] = &ResampleRange<&SRCPassRange>;
    t.resampleRange[1] = &ResampleRange<&SRCPassRangeMonoToStereo>;
    t.resampleRange[2] = &ResampleRangeMixToMono;
    t.resampleRange[3] = &ResampleRange<&SRCPassRangeLeft>;
    t.resampleRange[4] = &ResampleRange<&SRCPassRangeRight>;

    t.gain[0][0] = &Gain<kGainNoChannelTreat>;
    t.gain[0][1] = &Gain<kGainForceInterleavedStereo>;
    t.gain[0][2] = &Gain<kGainMixToMono>;
    t.gain[0][3] = &Gain<kGainLeftOnly>;
    t.gain[0][4] = &Gain<kGainRightOnly>;
    t.gain[1][0] = &GainStrip<kGainNoChannelTreat>;
    t.gain[1][1] = &GainStrip<kGainForceInterleavedStereo>;
    t.gain[1][2] = &GainStrip<kGainMixToMono>;
    t.gain[1][3] = &GainStrip<kGainLeftOnly>;
    t.gain[1][4] = &GainStrip<kGainRightOnly>;
    t.gainRange[0] = &GainRange<kGainNoChannelTreat>;
    t.gainRange[1] = &GainRange<kGainForceInterleavedStereo>;
    t.gainRange[2] = &GainRange<kGainMixToMono>;
    t.gainRange[3] = &GainRange<kGainLeftOnly>;
    t.gainRange[4] = &GainRange<kGainRightOnly>;

    t.scan = &Scan;
    t.treatedScan = &ScanFor;
    return t;
}
