// Registers every PCM format of this library (factories, header probes and
// chunk finders) with the sound-file core.  Call once at start-up, before
// any worker thread runs; calling it again is harmless.
#pragma once

void RegisterPCMFileTypes();
