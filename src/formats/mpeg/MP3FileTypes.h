// Registers the MP3 output through the outside encoder ('DMP3') with the
// sound-file core's factory registry.  Idempotent.
#pragma once

void RegisterMP3FileTypes();
