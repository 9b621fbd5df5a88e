// Registration of the NeXT/Sun formats with the sound-file core: the
// factories of 'NxTS' (linear), 'NSAL' (A-law) and 'ulaw' (mu-law).
#pragma once

void RegisterNeXTFileTypes();
