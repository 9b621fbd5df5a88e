// Registration of the set files: 'Splt' makes a CSplitFile and 'Srnd' a
// CSurroundFile of the given member type (CreateSoundFileObject).  The
// application and the batch command call it once at start-up, before any
// worker thread runs; calling it again does no harm.
#pragma once

void RegisterSetFileTypes();
