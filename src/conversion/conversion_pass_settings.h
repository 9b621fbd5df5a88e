// The processing passes' settings made from a conversion's engine view, and
// their results stored back into it: each setting is read from, and each
// result stored into, the conversion here and nowhere else, so the
// processing kernels see plain data only.
#pragma once

#include "fades.h"
#include "pass_settings.h"
#include "sample_format_copy.h"

class CConvSpec;

// Every setting the analysis, rate conversion and gain passes read, with the
// peak and the ceiled peak carried so far.
PassSettings PassSettingsFrom(const CConvSpec& spec);
// The output flags of a copy pass.
SampleCopySettings SampleCopySettingsFrom(const CConvSpec& spec);
FadeSettings FadeSettingsFrom(const CConvSpec& spec);

// The peak and its valid flag of an analysis or rate conversion pass.
void StorePeak(const CarriedPeak& peak, CConvSpec& spec);
// The peak and the ceiled peak of a gain pass.
void StoreGainResults(const PassSettings& settings, CConvSpec& spec);
