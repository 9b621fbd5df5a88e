// Registration of the telephony and ADPCM formats with the sound-file
// core: 'DADP', 'PADP', 'DVAP', 'DALW'/'711a', 'DULW'/'711u', 'DPCM',
// the seven G.72x types and 'MSAP'.
#pragma once

void RegisterCodedFileTypes();
