#include "conversion_pass_settings.h"

#include "CConvSpec.h"

namespace {

void ReadOutputFlags(const CConvSpec& spec, OutputFlags& flags)
{
    flags.needsRedither = spec.NeedsRedither();
    flags.copyExtras = spec.CopyExtras();
    flags.needsStrip = spec.NeedsStrip();
}

} // namespace

PassSettings PassSettingsFrom(const CConvSpec& spec)
{
    PassSettings s;
    ReadOutputFlags(spec, s);
    s.max = spec.Max();
    s.hasValidMax = spec.HasValidMax();
    s.needsChannelTreat = spec.NeedsChannelTreat();
    s.channelTreat = spec.ChannelTreat();
    s.targetRate = spec.SampleRate();
    s.quality = spec.SampleRateConvertQuality();
    s.needsGate = spec.NeedsGate();
    s.needsNormalize = spec.NeedsNormalize();
    s.needsExtraction = spec.NeedsExtraction();
    s.gateThreshold = spec.GateThreshold();
    s.gateGapLength = spec.GateGapLength();
    s.ceiling = spec.Ceiling();
    s.gateAttenuation = spec.GateAttenuation();
    s.compressionBoost = spec.CompressionBoost();
    s.needsCompressor = spec.NeedsCompressor();
    s.ceiledMax = spec.CeiledMax();
    return s;
}

SampleCopySettings SampleCopySettingsFrom(const CConvSpec& spec)
{
    SampleCopySettings settings;
    ReadOutputFlags(spec, settings);
    settings.fadesFollow = spec.NeedsFades();
    return settings;
}

FadeSettings FadeSettingsFrom(const CConvSpec& spec)
{
    FadeSettings settings;
    settings.needsFades = spec.NeedsFades();
    settings.fadeInTime = spec.FadeInTime();
    settings.fadeOutTime = spec.FadeOutTime();
    return settings;
}

void StorePeak(const CarriedPeak& peak, CConvSpec& spec)
{
    spec.SetMax(peak.max);
    spec.SetHasValidMax(peak.hasValidMax);
}

void StoreGainResults(const PassSettings& settings, CConvSpec& spec)
{
    spec.SetMax(settings.max);
    spec.SetCeiledMax(settings.ceiledMax);
}
