// ITU-T G.711 conversions shared by the formats that store A-law or mu-law
// bytes: A-law byte to 16-bit linear, 16-bit linear to A-law and to mu-law.
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
