// What the headerless telephony files take from their names and from the
// raw-file settings.
#pragma once

#include "MacTypes.h"

#include <string>

// The rate that the last character of a file name gives: '6' 6000 Hz,
// '8' 8000 Hz and, when `nineIs32k`, '9' 32000 Hz; 0 for any other.
double RateFromNameDigit(const std::string& name, bool nineIs32k);

// The rate of a headerless file named `name`: the name's digit, else the
// raw-file settings' rate (paramErr when that is not a usable rate).
OSErr RateFromNameOrSettings(const std::string& name, bool nineIs32k, double* rate);

// The rate of a headerless file whose name gives none: the raw-file
// settings' rate; paramErr when that is not a usable rate.
OSErr RawFileRate(double* rate);

// The text after the last '.' of a file name (empty when there is none).
std::string NameExtension(const std::string& name);

// The program's code for a headerless file that cannot be described
// ("has unknown file format").
constexpr OSErr kTelephonyUnknownFormatErr = -22008;
// "has incompatible # channels"
constexpr OSErr kTelephonyChannelsErr = -23900;

// Whether the name's extension alone makes type detection give `type` (then
// a new file needs no sidecar to carry its HFS type).
bool ExtensionGivesType(const std::string& name, OSType type);
