// One file-type table entry's operations: plain function pointers that
// create the type's CSoundFile object and check, place, log and name the
// type's conversion settings.  Every pointer is empty until set; calling
// an empty one gives the fixed result listed with its call.
//
// A dispatcher lives in its type's entry of the file-type dictionary under
// "dispatcher" (see FileTypeDictionary.h), as a SoundFileDispatcherRef.
#pragma once

#include "MacTypes.h"

#include <QMetaType>
#include <QString>

#include <memory>

class CConvSpec;
class CSoundFile;
struct FSRef;

class SoundFileDispatcher {
public:
    using CreateFunc = CSoundFile* (*)();
    // (conversion, popup index, selected item's title, selected item's tag)
    // -> 0 when handled, -50 for a choice the type does not know.
    using SettingsFunc = SInt16 (*)(CConvSpec* spec, int index, const QString& title, int tag);
    using IsMyFileTypeFunc = bool (*)(const FSRef* file);
    using PopupIndexFunc = int (*)(CConvSpec* spec);
    using TextFunc = QString (*)(CConvSpec* spec);

    // ------------------------------------------------------- setters
    void setCreateFunc(CreateFunc f) { createSoundFileObject_ = f; }
    void setWordLengthSettingsFunc(SettingsFunc f) { handleWordLengthSettings_ = f; }
    void setChannelSettingsFunc(SettingsFunc f) { handleChannelSettings_ = f; }
    void setSampleRateSettingsFunc(SettingsFunc f) { handleSampleRateSettings_ = f; }
    void setIsMyFileTypeFunc(IsMyFileTypeFunc f) { isMyFileType_ = f; }
    void setChannelHandlingPopupIndexFunc(PopupIndexFunc f) { channelIndexFunc_ = f; }
    void setWordLengthPopupIndexFunc(PopupIndexFunc f) { wordLengthIndexFunc_ = f; }
    void setLogWordLengthFunc(TextFunc f) { logWordLengthFunc_ = f; }
    void setLogChannelSettingsFunc(TextFunc f) { logChannelSettingsFunc_ = f; }
    void setAutoNameWordLengthFunc(TextFunc f) { autoNameWordLengthFunc_ = f; }
    void setAutoNameChannelSettingsFunc(TextFunc f) { autoNameChannelSettingsFunc_ = f; }

    // ------------------------------------------------- presence tests
    bool hasCreateFunc() const { return createSoundFileObject_ != nullptr; }
    bool hasHandleWordLengthFunc() const { return handleWordLengthSettings_ != nullptr; }
    bool hasHandleChannelFunc() const { return handleChannelSettings_ != nullptr; }
    bool hasSampleRateFunc() const { return handleSampleRateSettings_ != nullptr; }
    bool hasWordLengthIndexFunc() const { return wordLengthIndexFunc_ != nullptr; }
    bool hasChannelIndexFunc() const { return channelIndexFunc_ != nullptr; }
    bool hasLogWordLengthFunc() const { return logWordLengthFunc_ != nullptr; }
    bool hasLogChannelSettingsFunc() const { return logChannelSettingsFunc_ != nullptr; }
    bool hasAutoNameWordLengthFunc() const { return autoNameWordLengthFunc_ != nullptr; }
    bool hasAutoNameChannelSettingsFunc() const { return autoNameChannelSettingsFunc_ != nullptr; }

    // ---------------------------------------------------------- calls
    CSoundFile* callCreateSoundFileObject() const;                              // null
    SInt16 callHandleWordLengthSettings(CConvSpec* spec, int index, const QString& title, int tag) const; // -50
    SInt16 callHandleChannelSettings(CConvSpec* spec, int index, const QString& title, int tag) const;    // -50
    SInt16 callHandleSampleRateSettings(CConvSpec* spec, int index, const QString& title, int tag) const; // -50
    bool callIsMyFileType(const FSRef* file) const;                             // false
    int callChannelIndexFunc(CConvSpec* spec) const;                            // -1
    int callWordLengthIndexFunc(CConvSpec* spec) const;                         // -1
    QString callLogWordLengthFunc(CConvSpec* spec) const;          // "internal error during logging"
    QString callLogChannelSettingsFunc(CConvSpec* spec) const;     // "internal error during logging"
    QString callAutoNameWordLengthFunc(CConvSpec* spec) const;     // "internal error during auto name generation"
    QString callAutoNameChannelSettingsFunc(CConvSpec* spec) const; // "internal error during auto name generation"

    // "dispatcher 0x... { create func 0x..., ... }"
    QString description() const;

private:
    CreateFunc createSoundFileObject_ = nullptr;
    SettingsFunc handleWordLengthSettings_ = nullptr;
    SettingsFunc handleChannelSettings_ = nullptr;
    SettingsFunc handleSampleRateSettings_ = nullptr;
    IsMyFileTypeFunc isMyFileType_ = nullptr;
    PopupIndexFunc channelIndexFunc_ = nullptr;
    PopupIndexFunc wordLengthIndexFunc_ = nullptr;
    TextFunc logWordLengthFunc_ = nullptr;
    TextFunc logChannelSettingsFunc_ = nullptr;
    TextFunc autoNameWordLengthFunc_ = nullptr;
    TextFunc autoNameChannelSettingsFunc_ = nullptr;
};

using SoundFileDispatcherRef = std::shared_ptr<SoundFileDispatcher>;
Q_DECLARE_METATYPE(SoundFileDispatcherRef)
