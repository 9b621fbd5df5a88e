// What a type's entry of the file-type dictionary says, as data, of the
// editor's choices for a conversion to the type beyond what a file can hold
// (OutputCapabilities): the verdicts its channel and word-length popups
// give, the name extension a popup item chooses, the stereo-mode items of
// its channel popup and the log's wording.  One routine per setting applies
// them to every type alike; what data cannot say (two settings that must
// agree, choices packed into the conversion's per-type block) is a named
// rule of per_type_setting_checks.h, which the entry names under
// "settingHook".
//
// Keys read from an entry:
//   "monoChannelMessage"    the channel verdict's text: files of the type
//                           hold one channel, so a conversion to it must
//                           switch channel handling on
//   "monoTreatmentRequired" boolean: ... and choose a treatment that yields
//                           one channel (2 to 5)
//   "extensionsByRate"      dictionary: the name extension the rate popup's
//                           8000 Hz and 6000 Hz items choose (keys "8000",
//                           "6000"); other items are not known to the type
//   "extensionsByWordLengthItem"  array: the name extension each item of
//                           the word-length popup chooses, by its place
//   "stereoModeItems"       array of two: the places of the joint and the
//                           separate stereo items of the channel popup
//                           (items of the interleaved-stereo treatment whose
//                           mode goes into the per-type block)
//   "logsStereoMode"        boolean: the log gives the stored stereo mode
//   "bitRateRequiredMessage"  the word-length verdict's text: a conversion
//                           to the type must set a bit rate
//   "logWordLength"         the log's word-length line ("%d": the word length)
//   "settingHook"           the name of the type's rule of two settings
#pragma once

#include "SoundFileDispatcher.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

struct TypeSettingRules {
    QString monoChannelMessage;  // empty: the input decides the channels
    bool monoTreatmentRequired = false;
    QString extensionAt8000;
    QString extensionAt6000;
    QStringList extensionsByWordLengthItem;
    int jointStereoItem = -1;  // -1: the popup has no stereo-mode items
    int separateStereoItem = -1;
    bool logsStereoMode = false;
    QString bitRateRequiredMessage;
    QString logWordLength;
    QString settingHook;

    static TypeSettingRules fromEntry(const QVariantMap& entry);

    bool hasStereoModes() const { return jointStereoItem >= 0; }
    bool hasRateExtensions() const { return !extensionAt8000.isEmpty() || !extensionAt6000.isEmpty(); }

    // The settings callbacks (SoundFileDispatcher's), over this data.
    SInt16 handleChannel(CConvSpec* spec, int index) const;
    SInt16 handleSampleRate(CConvSpec* spec, int tag) const;
    SInt16 handleWordLength(CConvSpec* spec, int index) const;
    int channelPopupIndex(CConvSpec* spec) const;
    QString logChannel(CConvSpec* spec) const;
    QString logWordLengthText(CConvSpec* spec) const;

    // A dispatcher with these callbacks and those of the named rule (the
    // rule's where both have one: it then runs after the data's), creating
    // its objects with `create`.
    SoundFileDispatcherRef makeDispatcher(SoundFileDispatcher::CreateFunc create) const;
};
