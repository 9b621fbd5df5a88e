// What a pipeline instance does on its own route, by stage set: create the
// output, run the passes, fade and close.  Stage sets whose passes are not in
// this build are not available (the selector refuses them).
#pragma once

#include "MacTypes.h"
#include "PipelineRoutes.h"

class CConvSpec;
class CSoundFile;

// Whether RunPipelineStage can run the stage set.
bool PipelineStageAvailable(int stageSet);

// Runs `route` (an Own route of the channel-kind switch) of the stage set on
// `in`; -50 for a stage set that is not available.
SInt16 RunPipelineStage(int stageSet, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec);
