// What the headerless telephony files take from their names and from the
// raw-file settings.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <string>

// The rate that the last character of a file name gives: '6' 6000 Hz,
// '8' 8000 Hz and, when `nineIs32k`, '9' 32000 Hz; 0 for any other.
double RateFromNameDigit(const std::string& name, bool nineIs32k);

// The digit a name ends in for `rate` ('6', '8' and, when `nineIs32k`, '9'
// for 32000 Hz); 0 for a rate no name gives.
char RateDigit(double rate, bool nineIs32k);

// The name extension of a new file of `type` whose name gives its rate:
// `given` when there is one, else the type table's extension with its rate
// digit made that of `rate` ("ap8" becomes "ap6" at 6000 Hz), put in
// `chosen`.  An extension that does not end in the digit of `rate` is kept,
// and the batch is warned (kTelephonyNameRateWarning).
ConstStr255Param NameExtensionForRate(OSType type, double rate, bool nineIs32k, ConstStr255Param given,
                                      Str255 chosen);

// The rate of a headerless file named `name`: the name's digit, else the
// raw-file settings' rate (paramErr when that is not a usable rate), and
// then *fromSettings is set.
OSErr RateFromNameOrSettings(const std::string& name, bool nineIs32k, double* rate, bool* fromSettings);

// The rate of a headerless file whose name gives none: the raw-file
// settings' rate; -23906 (kRawFileRateWarning) when that is not a usable
// rate (RawFileSettings::SampleRateUsable).
OSErr RawFileRate(double* rate);

// The text after the last '.' of a file name (empty when there is none).
std::string NameExtension(const std::string& name);

// Whether the name's extension alone makes type detection give `type` (then
// a new file needs no sidecar to carry its HFS type).
bool ExtensionGivesType(const std::string& name, OSType type);
