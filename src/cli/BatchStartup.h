// What the application does once when it starts, done by the batch command
// before anything else: the user defaults with their registered values, the
// raw-file settings and the region switches of the sound-file layer, the
// format registrations and the file-type table with its dispatchers.
//
// Call in this order on the main thread, before any worker thread runs:
// registerDefaults, syncRawSettings, buildFileTypeTable,
// pushSoundFileSwitches.  Conversions are loaded afterwards (ConversionList),
// because they check their output type against the finished table.
#pragma once

#include <QVariantMap>

class UserDefaults;

class BatchStartup {
public:
    // The application's registered defaults (30 keys, see the preferences).
    static QVariantMap registeredDefaults();
    static void registerDefaults(UserDefaults& defaults);

    // Copies the six "Unrecognized Input File ..." preferences into the
    // process-wide raw-file settings.
    static void syncRawSettings(const UserDefaults& defaults);

    // "Process File If No Regions", "Skip Bad Region" (on only for 1),
    // "Ignore Regions Containing Whole File" and "Recognize number files
    // as split" into the sound-file layer's switches.
    static void pushSoundFileSwitches(const UserDefaults& defaults);

    // Registers the format classes (PCM formats, the set files and the
    // core's own types), loads the per-type properties, puts a dispatcher
    // into every entry, and marks MP3 output through the external encoder
    // writable only when a usable encoder was found (never, in this build:
    // it has no encoder support).
    static void buildFileTypeTable();
};
