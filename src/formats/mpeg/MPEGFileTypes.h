// Registration of the MPEG Layer I/II output types ('MPG1', 'MPG2',
// 'BWMP') with the sound-file registries.
#pragma once

void RegisterMPEGFileTypes();
