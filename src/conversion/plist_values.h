// Reading numbers, flags and strings out of property-list values that come
// from outside (the user's preferences, dropped or imported conversions):
// numbers, booleans and numeric text are read as the framework's number
// and string objects read themselves; any other kind of value (data,
// arrays, dictionaries, dates) counts as missing and gives 0, NO or "".
// Text is parsed in the C locale, whatever the user's locale.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <QVariant>

// NO for 0, "", "NO", "0"; YES for a non-zero number and for text that
// starts (after blanks, a sign and leading zeros) with Y, y, T, t or 1-9.
bool PlistBoolValue(const QVariant& value);
// Integers saturate at the 32-bit limits; reals are truncated toward zero
// (NaN gives 0); text is read as a leading decimal integer.
SInt32 PlistIntValue(const QVariant& value);
// The low 32 bits of an integer (a type code written as a signed or an
// unsigned number reads back the same); reals and text as PlistIntValue.
UInt32 PlistTypeCodeValue(const QVariant& value);
// Reals as they are, integers and booleans converted; text is read as a
// leading decimal number ("12.5 Hz" gives 12.5).
double PlistDoubleValue(const QVariant& value);
// PlistDoubleValue narrowed to a float (beyond the float range: infinity).
float PlistFloatValue(const QVariant& value);
// The text of a string value; a null string for anything else.
QString PlistStringValue(const QVariant& value);

// A double narrowed to a float without undefined behaviour: values beyond
// the float range become infinities of their sign, NaN stays NaN.
float DoubleToFloat(double value);
// A double truncated toward zero into 32 bits, saturating; NaN gives 0.
SInt32 DoubleToInt32(double value);
