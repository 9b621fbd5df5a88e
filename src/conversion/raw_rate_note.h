// What a batch says about the inputs it read at the raw-file rate (the
// preference "Unrecognized Input File Sample Rate"): headerless telephony
// files whose names give no rate.  Said once per batch, with their count,
// when the rate was not the user's choice (the registered default), or when
// the type unrecognised files are read as took another rate than the one
// chosen (Dialogic ADPCM reads only 6000 or 8000 Hz).
#pragma once

#include <QString>

class UserDefaults;

// The note for `count` inputs (`first`: the path of the first met) read at
// `readRate`; empty when nothing needs saying: the rate is the user's
// choice and was read as chosen.
QString RawRateNote(qsizetype count, const QString& first, double readRate, const UserDefaults& defaults);

// The line of a file that failed because the raw-file rate is no rate a
// file may have (RawFileSettings::SampleRateUsable): the message, its
// code, the rate and the rates allowed.
QString UnusableRawRateLine();
