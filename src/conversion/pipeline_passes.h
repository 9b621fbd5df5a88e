// The processing kernels in the shape of the pipelines' passes: each takes
// its settings from the conversion and stores its results (the peak, the
// ceiled peak) back into it, so that they travel from pass to pass.
#pragma once

#include "PipelineFrame.h"

// The pass table of the resampling, gain and scanning kernels.
PipelinePassTable KernelPipelinePasses();
