// One file-type table entry's operations: the functions that create the
// type's CSoundFile object and check, place, log and name the type's
// conversion settings (plain functions, or the type's data bound to the
// routines that read it: TypeSettingRules).  Every pointer is empty until set; calling
// an empty one gives the fixed result listed with its call.
//
// A dispatcher lives in its type's entry of the file-type dictionary under
// "dispatcher" (see FileTypeDictionary.h), as a SoundFileDispatcherRef.
#pragma once

#include "MacTypes.h"

#include <QMetaType>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class CConvSpec;
class CSoundFile;
struct FSRef;

class SoundFileDispatcher {
public:
    using CreateFunc = std::function<CSoundFile*()>;
    // (conversion, popup index, selected item's title, selected item's tag)
    // -> 0 when handled, -50 for a choice the type does not know.
    using SettingsFunc = std::function<SInt16(CConvSpec* spec, int index, const QString& title, int tag)>;
    using IsMyFileTypeFunc = std::function<bool(const FSRef* file)>;
    using PopupIndexFunc = std::function<int(CConvSpec* spec)>;
    using TextFunc = std::function<QString(CConvSpec* spec)>;

    // ------------------------------------------------------- setters
    void setCreateFunc(CreateFunc f) { createSoundFileObject_ = std::move(f); }
    void setWordLengthSettingsFunc(SettingsFunc f) { handleWordLengthSettings_ = std::move(f); }
    void setChannelSettingsFunc(SettingsFunc f) { handleChannelSettings_ = std::move(f); }
    void setSampleRateSettingsFunc(SettingsFunc f) { handleSampleRateSettings_ = std::move(f); }
    void setIsMyFileTypeFunc(IsMyFileTypeFunc f) { isMyFileType_ = std::move(f); }
    void setChannelHandlingPopupIndexFunc(PopupIndexFunc f) { channelIndexFunc_ = std::move(f); }
    void setWordLengthPopupIndexFunc(PopupIndexFunc f) { wordLengthIndexFunc_ = std::move(f); }
    void setLogWordLengthFunc(TextFunc f) { logWordLengthFunc_ = std::move(f); }
    void setLogChannelSettingsFunc(TextFunc f) { logChannelSettingsFunc_ = std::move(f); }
    void setAutoNameWordLengthFunc(TextFunc f) { autoNameWordLengthFunc_ = std::move(f); }
    void setAutoNameChannelSettingsFunc(TextFunc f) { autoNameChannelSettingsFunc_ = std::move(f); }

    // ------------------------------------------------- presence tests
    bool hasCreateFunc() const { return static_cast<bool>(createSoundFileObject_); }
    bool hasHandleWordLengthFunc() const { return static_cast<bool>(handleWordLengthSettings_); }
    bool hasHandleChannelFunc() const { return static_cast<bool>(handleChannelSettings_); }
    bool hasSampleRateFunc() const { return static_cast<bool>(handleSampleRateSettings_); }
    bool hasWordLengthIndexFunc() const { return static_cast<bool>(wordLengthIndexFunc_); }
    bool hasChannelIndexFunc() const { return static_cast<bool>(channelIndexFunc_); }
    bool hasLogWordLengthFunc() const { return static_cast<bool>(logWordLengthFunc_); }
    bool hasLogChannelSettingsFunc() const { return static_cast<bool>(logChannelSettingsFunc_); }
    bool hasAutoNameWordLengthFunc() const { return static_cast<bool>(autoNameWordLengthFunc_); }
    bool hasAutoNameChannelSettingsFunc() const { return static_cast<bool>(autoNameChannelSettingsFunc_); }

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
    CreateFunc createSoundFileObject_;
    SettingsFunc handleWordLengthSettings_;
    SettingsFunc handleChannelSettings_;
    SettingsFunc handleSampleRateSettings_;
    IsMyFileTypeFunc isMyFileType_;
    PopupIndexFunc channelIndexFunc_;
    PopupIndexFunc wordLengthIndexFunc_;
    TextFunc logWordLengthFunc_;
    TextFunc logChannelSettingsFunc_;
    TextFunc autoNameWordLengthFunc_;
    TextFunc autoNameChannelSettingsFunc_;
};

using SoundFileDispatcherRef = std::shared_ptr<SoundFileDispatcher>;
Q_DECLARE_METATYPE(SoundFileDispatcherRef)
