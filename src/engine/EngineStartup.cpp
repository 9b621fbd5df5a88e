#include "EngineStartup.h"

#include "CodedFileTypes.h"
#include "CoreFileTypes.h"
#include "CreateSoundFile.h"
#include "MP3FileTypes.h"
#include "MPEGFileTypes.h"
#include "MovieFileTypes.h"
#include "OutputCapabilities.h"
#include "PCMFileTypes.h"
#include "PreferenceKeys.h"
#include "RawFileSettings.h"
#include "SetFileTypes.h"
#include "SoundFileSwitches.h"
#include "UserDefaults.h"
#include "file_type_table.h"
#include "lame_encoder.h"

#include <QLocale>
#include <QVariantList>

#include <algorithm>
#include <cmath>

QVariantMap EngineStartup::registeredDefaults()
{
    QVariantMap d;
    d.insert(PreferenceKeys::kIgnoreRegionsContainingWholeFile, true);
    d.insert(PreferenceKeys::kRecognizeNumberFilesAsSplit, false);
    d.insert(PreferenceKeys::kProcessFileIfNoRegions, true);
    d.insert(PreferenceKeys::kSkipBadRegion, qlonglong(0));
    d.insert(PreferenceKeys::kEasyThru, true);
    d.insert(PreferenceKeys::kSaveLog, true);
    d.insert(PreferenceKeys::kOnlySaveWhenErrors, false);
    d.insert(PreferenceKeys::kOpenLog, true);
    d.insert(PreferenceKeys::kOnlyOpenWhenErrors, false);
    d.insert(PreferenceKeys::kBeepWhenDone, true);
    d.insert(PreferenceKeys::kFullPathsIntoLog, false);
    d.insert(PreferenceKeys::kConversions, QVariantList());
    d.insert(PreferenceKeys::kCustomSampleRates, QVariantList());
    d.insert(PreferenceKeys::kInputFilesSortKey, QStringLiteral("filename"));
    d.insert(PreferenceKeys::kInputFilesSortAscending, true);
    d.insert(PreferenceKeys::kConvSpecsSortKey, QStringLiteral("convName"));
    d.insert(PreferenceKeys::kConvSpecsSortAscending, true);
    d.insert(PreferenceKeys::kNumberOfFilesEverConverted, qlonglong(0));
    d.insert(PreferenceKeys::kBlipAtEnd, false);
    d.insert(PreferenceKeys::kVarispeed, 1.0);
    d.insert(PreferenceKeys::kAutoPlayNext, true);
    d.insert(PreferenceKeys::kCopyAllFiles, false);
    d.insert(PreferenceKeys::kPreserveFinderComments, false);
    d.insert(PreferenceKeys::kUnrecognizedInputFileAction, qlonglong(0));
    d.insert(PreferenceKeys::kUnrecognizedInputFileType, FileTypeForHFSTypeCode(RawFileSettings::kDefaultFileType));
    d.insert(PreferenceKeys::kUnrecognizedInputFileBigEndian, true);
    d.insert(PreferenceKeys::kUnrecognizedInputFileSampleRate, 44100.0);
    d.insert(PreferenceKeys::kUnrecognizedInputFileWordSize, qlonglong(16));
    d.insert(PreferenceKeys::kUnrecognizedFileNumChannels, qlonglong(1));
    d.insert(PreferenceKeys::kNumberDuplicateFiles, false);
    return d;
}

void EngineStartup::registerDefaults(UserDefaults& defaults)
{
    defaults.registerDefaults(registeredDefaults());
}

namespace {

// The types a file of no recognised type may be read as (their properties
// give them headerless readings), as their codes in quotes, sorted.
QStringList HeaderlessTypes()
{
    QStringList types;
    const QVariantMap properties = LoadSoundFileProperties();
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        if (!it.value().toMap().value(QStringLiteral("headerlessReadings")).toList().isEmpty())
            types.append(it.key());
    types.sort();
    return types;
}

} // namespace

double EngineStartup::rawSampleRate(OSType type, double storedRate)
{
    return HeaderlessSampleRate(type, storedRate);
}

QString EngineStartup::preferenceProblem(const QString& key, const QVariant& value, const QString& shown)
{
    namespace P = PreferenceKeys;
    QString takes;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (key == P::kUnrecognizedInputFileSampleRate) {
        if (!ok || !RawFileSettings::SampleRateUsable(double(float(number))))
            takes = QStringLiteral("a rate from %1 to %2 Hz")
                        .arg(RawFileSettings::kMinSampleRate)
                        .arg(RawFileSettings::kMaxSampleRate);
    } else if (key == P::kUnrecognizedInputFileWordSize) {
        if (!ok || !RawFileSettings::WordSizeUsable(number))
            takes = QStringLiteral("8, 16, 24 or 32 bits");
    } else if (key == P::kUnrecognizedFileNumChannels) {
        if (!ok || !(number >= kMinRawChannels && number <= kMaxRawChannels) || number != std::floor(number))
            takes = QStringLiteral("%1 to %2 channels").arg(kMinRawChannels).arg(kMaxRawChannels);
    } else if (key == P::kUnrecognizedInputFileAction) {
        if (!ok || !(number >= 0 && number <= RawFileSettings::kActionReadAsRaw) || number != std::floor(number))
            takes = QStringLiteral("0 (skip such files), 1 (copy them) or 2 (read them as raw audio)");
    } else if (key == P::kUnrecognizedInputFileType) {
        const QStringList types = HeaderlessTypes();
        // (Without the types' properties the resources are missing, which
        // is said on its own.)
        if (!types.isEmpty() && !types.contains(FileTypeForHFSTypeCode(HFSTypeCodeFromFileType(value.toString()))))
            takes = QStringLiteral("one of the headerless types (%1)").arg(types.join(QStringLiteral(", ")));
    }
    if (takes.isEmpty())
        return QString();
    QString text = shown;
    if (text.isEmpty())
        text = value.typeId() == QMetaType::Double ? QLocale::c().toString(number, 'g', 12) : value.toString();
    // A type code in its quotes is shown in the quotes of the message.
    if (text.size() == 6 && text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\'')))
        text = text.mid(1, 4);
    return QStringLiteral("'%1' takes %2, not '%3'").arg(key, takes, text);
}

QString EngineStartup::preferencesProblem(const UserDefaults& defaults)
{
    namespace P = PreferenceKeys;
    // The values the user holds (the registered ones are good).
    const QVariantMap own = defaults.persistentValues();
    for (const QString& key : {P::kUnrecognizedInputFileAction, P::kUnrecognizedInputFileType,
                               P::kUnrecognizedInputFileSampleRate, P::kUnrecognizedInputFileWordSize,
                               P::kUnrecognizedFileNumChannels}) {
        const auto value = own.constFind(key);
        if (value == own.cend())
            continue;
        if (const QString problem = preferenceProblem(key, *value); !problem.isEmpty())
            return problem;
    }
    return QString();
}

void EngineStartup::syncRawSettings(const UserDefaults& defaults)
{
    const OSType type =
        HFSTypeCodeFromFileType(defaults.stringForKey(PreferenceKeys::kUnrecognizedInputFileType));
    RawFileSettings::SetFileType(type);
    // Stored as a float.
    const float rate = float(defaults.doubleForKey(PreferenceKeys::kUnrecognizedInputFileSampleRate));
    RawFileSettings::SetSampleRate(rawSampleRate(type, double(rate)));
    RawFileSettings::SetBigEndian(defaults.boolForKey(PreferenceKeys::kUnrecognizedInputFileBigEndian) ? 1 : 0);
    RawFileSettings::SetNumBits(UInt32(defaults.integerForKey(PreferenceKeys::kUnrecognizedInputFileWordSize)));
    RawFileSettings::SetAction(SInt32(defaults.integerForKey(PreferenceKeys::kUnrecognizedInputFileAction)));
    const qlonglong channels = defaults.integerForKey(PreferenceKeys::kUnrecognizedFileNumChannels);
    RawFileSettings::SetNumChannels(UInt32(std::clamp<qlonglong>(channels, kMinRawChannels, kMaxRawChannels)));
}

void EngineStartup::pushSoundFileSwitches(const UserDefaults& defaults)
{
    SetProcessFileIfNoRegions(defaults.boolForKey(PreferenceKeys::kProcessFileIfNoRegions));
    SetSkipBadRegion(long(defaults.integerForKey(PreferenceKeys::kSkipBadRegion)));
    SetIgnoreRegionsContainingWholeFile(defaults.boolForKey(PreferenceKeys::kIgnoreRegionsContainingWholeFile));
    SetRecognizeNumberFilesAsSplit(defaults.boolForKey(PreferenceKeys::kRecognizeNumberFilesAsSplit));
}

void EngineStartup::start()
{
    start(UserDefaults::standardUserDefaults());
}

void EngineStartup::start(UserDefaults& defaults)
{
    registerDefaults(defaults);
    syncRawSettings(defaults);
    buildFileTypeTable();
    pushSoundFileSwitches(defaults);
}

void EngineStartup::registerFileTypes()
{
    // Each format library's registration; registering twice is harmless.
    RegisterPCMFileTypes();
    RegisterMP3FileTypes();
    RegisterMovieFileTypes();
    RegisterSetFileTypes();
    RegisterCoreFileTypes();
    RegisterMPEGFileTypes();
    RegisterCodedFileTypes();
}

void EngineStartup::buildFileTypeTable()
{
    buildFileTypeTable(true);
}

void EngineStartup::buildFileTypeTable(bool checkEncoder)
{
    registerFileTypes();
    LoadSoundFileProperties();
    BuildSoundFileDispatchers();
    if (checkEncoder)
        checkMP3Encoder();
}

namespace {

const QString kUsesMP3EncoderKey = QStringLiteral("outsideMP3Encoder");

// The types written through the outside MP3 encoder, as their properties say.
QList<OSType> MP3EncoderTypes()
{
    QList<OSType> types;
    const QVariantMap dictionary = LoadSoundFileProperties();
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it)
        if (it.value().toMap().value(kUsesMP3EncoderKey).toBool())
            types.append(HFSTypeCodeFromFileType(it.key()));
    return types;
}

} // namespace

bool EngineStartup::usesMP3Encoder(OSType type)
{
    return GetSoundFileProperties(type).value(kUsesMP3EncoderKey).toBool();
}

void EngineStartup::checkMP3Encoder()
{
    // Output through the outside encoder: offered only when a usable encoder
    // (3.93 or newer) is found; otherwise the entry says why.
    QString reason;
    QVersionNumber version;
    const bool usable = LAMEEncoderUsable(&reason, &version);
    for (const OSType type : MP3EncoderTypes()) {
        SetSoundFileProperty(type, QStringLiteral("canBeWritten"), usable);
        SetSoundFileProperty(type, QStringLiteral("notWritableReason"), usable ? QString() : reason);
        SetSoundFileProperty(type, QStringLiteral("encoderVersion"), version.toString());
    }
}

void EngineStartup::checkMP3EncoderFor(const QList<ConvSpecRef>& conversions)
{
    bool checked = false;
    for (const ConvSpecRef& spec : conversions) {
        if (!spec || !usesMP3Encoder(spec->outputFileType()))
            continue;
        if (!checked)
            checkMP3Encoder();
        checked = true;
        spec->validateSettings();
    }
}

bool EngineStartup::mp3EncoderUsable(QString* foundVersion)
{
    const QList<OSType> types = MP3EncoderTypes();
    const QVariantMap entry = types.isEmpty() ? QVariantMap() : GetSoundFileProperties(types.first());
    if (foundVersion)
        *foundVersion = entry.value(QStringLiteral("encoderVersion")).toString();
    return entry.value(QStringLiteral("canBeWritten")).toBool();
}

QVariantMap EngineStartup::mp3EncoderGenres()
{
    return GetLAMEGenreList(GetLAMEPath());
}

bool EngineStartup::mp3EncoderTooOld(const QVersionNumber& version)
{
    return !version.isNull() && version < kLAMEMinimumVersion;
}
