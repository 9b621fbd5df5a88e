#include "TypeSettingRules.h"

#include "CConvSpec.h"
#include "ConvSpec.h"
#include "MainBundle.h"
#include "ZuFiles.h"
#include "per_type_setting_checks.h"

#include <QVariantList>

namespace {

constexpr SInt16 kHandled = 0;

// Tags of the editor's built-in sample-rate items for 8000 and 6000 Hz.
constexpr int kTag8000Hz = 17;
constexpr int kTag6000Hz = 18;

QString Localized(const QString& text)
{
    return MainBundle::localizedString(text);
}

QString Text(const QVariantMap& entry, const char* key)
{
    return entry.value(QLatin1String(key)).toString();
}

// Stores `extension` (empty: a choice the type does not know) as the
// conversion's name extension.
SInt16 SetExtension(CConvSpec* cspec, const QString& extension)
{
    if (!cspec || !cspec->GetConvSpec() || extension.isEmpty())
        return paramErr;
    Str255 pascal;
    if (!CFStringToStr255(extension, pascal))
        return paramErr;
    cspec->SetNameExtension(pascal);
    return kHandled;
}

// Text with its diacritics removed (canonical decomposition without the
// combining marks), for comparisons that ignore them.
QString WithoutDiacritics(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing)
            continue;
        result.append(c);
    }
    return result;
}

// The block's Pascal string at offset 0 as text.
QString StoredModeText(CConvSpec* cspec)
{
    return NSStringFromPascalString(cspec->FileTypeSpecifics());
}

// 1 joint, 2 separate, 0 neither.
int StoredStereoMode(CConvSpec* cspec)
{
    const QString stored = WithoutDiacritics(StoredModeText(cspec));
    if (stored == QLatin1String(kMPEGJointStereoMode))
        return 1;
    if (stored == QLatin1String(kMPEGSeparateStereoMode))
        return 2;
    return 0;
}

// The data's callback, the rule's, or both in turn (the rule's answer
// counts once the data's has handled the choice).
SoundFileDispatcher::SettingsFunc Chain(SoundFileDispatcher::SettingsFunc first, SoundFileDispatcher::SettingsFunc then)
{
    if (!first || !then)
        return first ? first : then;
    return [first, then](CConvSpec* spec, int index, const QString& title, int tag) {
        const SInt16 result = first(spec, index, title, tag);
        return result != kHandled ? result : then(spec, index, title, tag);
    };
}

}  // namespace

TypeSettingRules TypeSettingRules::fromEntry(const QVariantMap& entry)
{
    TypeSettingRules rules;
    rules.monoChannelMessage = Text(entry, "monoChannelMessage");
    rules.monoTreatmentRequired = entry.value(QStringLiteral("monoTreatmentRequired")).toBool();
    const QVariantMap byRate = entry.value(QStringLiteral("extensionsByRate")).toMap();
    rules.extensionAt8000 = byRate.value(QStringLiteral("8000")).toString();
    rules.extensionAt6000 = byRate.value(QStringLiteral("6000")).toString();
    for (const QVariant& extension : entry.value(QStringLiteral("extensionsByWordLengthItem")).toList())
        rules.extensionsByWordLengthItem.append(extension.toString());
    const QVariantList stereoItems = entry.value(QStringLiteral("stereoModeItems")).toList();
    if (stereoItems.size() == 2) {
        rules.jointStereoItem = stereoItems.at(0).toInt();
        rules.separateStereoItem = stereoItems.at(1).toInt();
    }
    rules.logsStereoMode = entry.value(QStringLiteral("logsStereoMode")).toBool();
    rules.bitRateRequiredMessage = Text(entry, "bitRateRequiredMessage");
    rules.logWordLength = Text(entry, "logWordLength");
    rules.settingHook = Text(entry, "settingHook");
    return rules;
}

SInt16 TypeSettingRules::handleChannel(CConvSpec* cspec, int index) const
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    if (hasStereoModes()) {
        if (index == jointStereoItem)
            StoreStereoMode(cspec, kMPEGJointStereoMode);
        else if (index == separateStereoItem)
            StoreStereoMode(cspec, kMPEGSeparateStereoMode);
    }
    if (!monoChannelMessage.isEmpty()) {
        const SInt16 treat = SInt16(spec->channelTreat());
        const bool valid = spec->needsChannelTreat() && (!monoTreatmentRequired || (treat >= 2 && treat <= 5));
        WriteSettingVerdict(
            spec, kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey, valid, Localized(monoChannelMessage));
    }
    return kHandled;
}

SInt16 TypeSettingRules::handleSampleRate(CConvSpec* spec, int tag) const
{
    return SetExtension(spec, tag == kTag8000Hz ? extensionAt8000 : tag == kTag6000Hz ? extensionAt6000 : QString());
}

SInt16 TypeSettingRules::handleWordLength(CConvSpec* cspec, int index) const
{
    if (!extensionsByWordLengthItem.isEmpty())
        return SetExtension(cspec,
            index >= 0 && index < extensionsByWordLengthItem.size() ? extensionsByWordLengthItem.at(index) : QString());
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return paramErr;
    WriteSettingVerdict(spec, kWordSizeValidKey, kWordSizeValidMessageKey, spec->needsNewWordLength(),
        Localized(bitRateRequiredMessage));
    return kHandled;
}

// The stereo items when the conversion makes interleaved stereo, else the
// item of the treatment.  Only the treatments the popup lists (0, 2, 3; 0
// while channel handling is off) have an item at their own index; any other
// value has none (-1), so the popup never shows a stereo mode for, say, a
// left-only conversion.
int TypeSettingRules::channelPopupIndex(CConvSpec* cspec) const
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    if (!spec)
        return -1;
    const SInt32 treat = spec->channelTreat();
    if (treat == 1) {
        switch (StoredStereoMode(cspec)) {
        case 1:
            return jointStereoItem;
        case 2:
            return separateStereoItem;
        default:
            return 0;
        }
    }
    if (treat == 0 || treat == 2 || treat == 3)
        return int(treat);
    return -1;
}

QString TypeSettingRules::logChannel(CConvSpec* spec) const
{
    return spec ? StoredModeText(spec) : QString();
}

QString TypeSettingRules::logWordLengthText(CConvSpec* cspec) const
{
    ConvSpec* spec = cspec ? cspec->GetConvSpec() : nullptr;
    const SInt32 bits = spec ? spec->wordLength() : 0;
    return Localized(QStringLiteral("\n    ") + logWordLength).replace(QLatin1String("%d"), QString::number(bits));
}

SoundFileDispatcherRef TypeSettingRules::makeDispatcher(SoundFileDispatcher::CreateFunc create) const
{
    auto dispatcher = std::make_shared<SoundFileDispatcher>();
    dispatcher->setCreateFunc(std::move(create));
    const auto rules = std::make_shared<const TypeSettingRules>(*this);
    const SettingHook* hook = FindSettingHook(settingHook);
    const SettingHook none;
    if (!hook)
        hook = &none;

    SoundFileDispatcher::SettingsFunc channel;
    if (!monoChannelMessage.isEmpty() || hasStereoModes())
        channel = [rules](CConvSpec* spec, int index, const QString&, int) {
            return rules->handleChannel(spec, index);
        };
    dispatcher->setChannelSettingsFunc(Chain(channel, hook->channel));

    SoundFileDispatcher::SettingsFunc wordLength;
    if (!extensionsByWordLengthItem.isEmpty() || !bitRateRequiredMessage.isEmpty())
        wordLength = [rules](CConvSpec* spec, int index, const QString&, int) {
            return rules->handleWordLength(spec, index);
        };
    dispatcher->setWordLengthSettingsFunc(Chain(wordLength, hook->wordLength));

    SoundFileDispatcher::SettingsFunc sampleRate;
    if (hasRateExtensions())
        sampleRate = [rules](CConvSpec* spec, int, const QString&, int tag) {
            return rules->handleSampleRate(spec, tag);
        };
    dispatcher->setSampleRateSettingsFunc(Chain(sampleRate, hook->sampleRate));

    if (hasStereoModes())
        dispatcher->setChannelHandlingPopupIndexFunc(
            [rules](CConvSpec* spec) { return rules->channelPopupIndex(spec); });
    if (logsStereoMode)
        dispatcher->setLogChannelSettingsFunc([rules](CConvSpec* spec) { return rules->logChannel(spec); });
    if (hook->wordLengthIndex)
        dispatcher->setWordLengthPopupIndexFunc(hook->wordLengthIndex);
    if (!logWordLength.isEmpty())
        dispatcher->setLogWordLengthFunc([rules](CConvSpec* spec) { return rules->logWordLengthText(spec); });
    else if (hook->logWordLength)
        dispatcher->setLogWordLengthFunc(hook->logWordLength);
    return dispatcher;
}
