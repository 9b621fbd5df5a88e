// Registration of the WAVE family with the sound-file core: the factories
// of 'WAVE', 'WVau', 'WVal', 'WVfl' and 'BWLN', the channel-count probes
// that type detection asks for 'WAVE', 'BWLN' and 'WVfl', and the RIFF
// chunk finder.
#pragma once

void RegisterWAVEFileTypes();
