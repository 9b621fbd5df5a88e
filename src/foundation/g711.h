// ITU-T G.711, the one definition every format and codec uses: A-law and
// mu-law bytes to 16-bit linear and back.
#pragma once

// The A-law byte of a 16-bit linear sample, looked up in a 65536-entry
// table that is built once, on the first call (thread-safe).  Samples
// outside -32768..32767 are clamped to that range first.
unsigned char LoadRawALawTable(int sample);

// The 16-bit linear sample of an A-law byte.
int alaw2linear(unsigned char alaw);

// The mu-law byte of a 16-bit linear sample; samples outside the 16-bit
// range give the code of the nearer end of the range.
unsigned char linear2ulaw(int sample);

// The 16-bit linear value of a mu-law byte (the standard G.711 expansion:
// 0x00 -> -32124, 0x7F -> 0, 0x80 -> 32124, 0xFF -> 0).
int ulaw2linear(unsigned char ulaw);
