// The engine's start-up, shared by every front end (the batch command, the
// application, the tests and the fuzzers): the user defaults with their
// registered values, the raw-file settings and the region switches of the
// sound-file layer, the format registrations and the file-type table with
// its dispatchers.
//
// start() does all of it in order on the main thread, before any worker
// thread runs: registerDefaults, syncRawSettings, buildFileTypeTable,
// pushSoundFileSwitches.  A front end that changes preferences between the
// steps (the batch command's --set) calls them one by one.  Conversions are
// loaded afterwards, because they check their output type against the
// finished table.
#pragma once

#include "ConvSpec.h"
#include "MacTypes.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <QVersionNumber>

class UserDefaults;

class EngineStartup {
public:
    // Every step below, in order, on the standard user defaults.
    static void start();
    static void start(UserDefaults& defaults);

    // Registers every format class (each format library's registration,
    // the set files and the core's own types).  Idempotent; the fuzzers and
    // tests that need no defaults call only this.
    static void registerFileTypes();

    // The application's registered defaults (30 keys, see the preferences).
    static QVariantMap registeredDefaults();
    static void registerDefaults(UserDefaults& defaults);

    // Copies the six "Unrecognized Input File ..." preferences into the
    // process-wide raw-file settings.  The rate is the one the preferences
    // show (rawSampleRate) and the channel count is kept within 1 to 64.
    static void syncRawSettings(const UserDefaults& defaults);
    // The rate headerless files of `type` are read at, given the stored
    // rate: the type's "headerlessSampleRates" (the telephony codecs only
    // know 8000 Hz, Dialogic ADPCM also 6000 Hz; any other stored rate
    // gives 8000 Hz for them).
    static double rawSampleRate(OSType type, double storedRate);
    // The channel counts a headerless file may have.
    static constexpr int kMinRawChannels = 1;
    static constexpr int kMaxRawChannels = 64;
    // Why `value` cannot be the raw-file preference `key` (an action other
    // than skip, copy or read as raw, a type that is not headerless, a
    // sample rate, word size or channel count that no headerless file has):
    // "'KEY' takes ..., not 'SHOWN'" (`shown`: the value as the user wrote
    // it; empty: as stored).  Empty when it can, and for other keys.
    static QString preferenceProblem(const QString& key, const QVariant& value, const QString& shown = QString());
    // The first such problem among the values the user holds in `defaults`.
    static QString preferencesProblem(const UserDefaults& defaults);

    // "Process File If No Regions", "Skip Bad Region" (on only for 1),
    // "Ignore Regions Containing Whole File" and "Recognize number files
    // as split" into the sound-file layer's switches.
    static void pushSoundFileSwitches(const UserDefaults& defaults);

    // registerFileTypes(), then loads the per-type properties, puts a dispatcher
    // into every entry, and marks the types written through the outside MP3
    // encoder (their properties say "outsideMP3Encoder") writable only when a
    // usable encoder (lame 3.93 or newer) was found; otherwise their entry's
    // "notWritableReason" says why.  The entry's "encoderVersion" is the
    // version of the encoder found (empty when none reports one), for a
    // front end that tells the user about an encoder too old to use.
    static void buildFileTypeTable();
    // The same without the encoder check (it runs the encoder), for a front
    // end that calls checkMP3Encoder() only when it needs MP3 output; those
    // entries stay as their properties give them until then.
    static void buildFileTypeTable(bool checkEncoder);
    static void checkMP3Encoder();
    // Checks the encoder (once) when one of `conversions` writes through it,
    // and validates those conversions again with its verdict.
    static void checkMP3EncoderFor(const QList<ConvSpecRef>& conversions);
    // Whether outputs of `type` are written through the outside encoder.
    static bool usesMP3Encoder(OSType type);
    // After the check: whether output through the outside encoder is
    // offered; `foundVersion` (may be null) gets the version of the encoder
    // found (empty when none reports one).
    static bool mp3EncoderUsable(QString* foundVersion = nullptr);

    // The outside MP3 encoder's genre table (genre name -> genre number),
    // for the MP3 options; empty when no encoder answers.
    static QVariantMap mp3EncoderGenres();
    // Whether an encoder of `version` is older than the oldest one used
    // (3.93); a null version (none reported) is not.
    static bool mp3EncoderTooOld(const QVersionNumber& version);
};
