#include "EngineStartup.h"

#include "CodedFileTypes.h"
#include "CoreFileTypes.h"
#include "CreateSoundFile.h"
#include "MP3FileTypes.h"
#include "MPEGFileTypes.h"
#include "MovieFileTypes.h"
#include "OutputCapabilities.h"
#include "PCMFileTypes.h"
#include "RawFileSettings.h"
#include "SetFileTypes.h"
#include "SoundFileSwitches.h"
#include "UserDefaults.h"
#include "file_type_table.h"
#include "lame_encoder.h"

#include <QVariantList>

#include <algorithm>
#include <cmath>

QVariantMap EngineStartup::registeredDefaults()
{
    QVariantMap d;
    d.insert(QStringLiteral("Ignore Regions Containing Whole File"), true);
    d.insert(QStringLiteral("Recognize number files as split"), false);
    d.insert(QStringLiteral("Process File If No Regions"), true);
    d.insert(QStringLiteral("Skip Bad Region"), qlonglong(0));
    d.insert(QStringLiteral("Easy Thru"), true);
    d.insert(QStringLiteral("Save Log"), true);
    d.insert(QStringLiteral("Only Save When Errors"), false);
    d.insert(QStringLiteral("Open Log"), true);
    d.insert(QStringLiteral("Only Open When Errors"), false);
    d.insert(QStringLiteral("Beep When Done"), true);
    d.insert(QStringLiteral("Full Paths Into Log"), false);
    d.insert(QStringLiteral("Conversions"), QVariantList());
    d.insert(QStringLiteral("Custom Sample Rates"), QVariantList());
    d.insert(QStringLiteral("Input Files Sort Key"), QStringLiteral("filename"));
    d.insert(QStringLiteral("Input Files Sort Ascending"), true);
    d.insert(QStringLiteral("ConvSpecs Sort Key"), QStringLiteral("convName"));
    d.insert(QStringLiteral("ConvSpecs Sort Ascending"), true);
    d.insert(QStringLiteral("Number of Files Ever Converted"), qlonglong(0));
    d.insert(QStringLiteral("Blip At End"), false);
    d.insert(QStringLiteral("Varispeed"), 1.0);
    d.insert(QStringLiteral("Auto Play Next"), true);
    d.insert(QStringLiteral("Copy All Files"), false);
    d.insert(QStringLiteral("Preserve Finder Comments"), false);
    d.insert(QStringLiteral("Unrecognized Input File Action"), qlonglong(0));
    d.insert(QStringLiteral("Unrecognized Input File Type"), FileTypeForHFSTypeCode(RawFileSettings::kDefaultFileType));
    d.insert(QStringLiteral("Unrecognized Input File Big Endian"), true);
    d.insert(QStringLiteral("Unrecognized Input File Sample Rate"), 44100.0);
    d.insert(QStringLiteral("Unrecognized Input File Word Size"), qlonglong(16));
    d.insert(QStringLiteral("QMUnrecognizedFileNumChannels"), qlonglong(1));
    d.insert(QStringLiteral("Number Duplicate Files"), false);
    return d;
}

void EngineStartup::registerDefaults(UserDefaults& defaults)
{
    defaults.registerDefaults(registeredDefaults());
}

double EngineStartup::rawSampleRate(OSType type, double storedRate)
{
    return HeaderlessSampleRate(type, storedRate);
}

void EngineStartup::syncRawSettings(const UserDefaults& defaults)
{
    const OSType type =
        HFSTypeCodeFromFileType(defaults.stringForKey(QStringLiteral("Unrecognized Input File Type")));
    RawFileSettings::SetFileType(type);
    // Stored as a float.
    const float rate = float(defaults.doubleForKey(QStringLiteral("Unrecognized Input File Sample Rate")));
    RawFileSettings::SetSampleRate(rawSampleRate(type, double(rate)));
    RawFileSettings::SetBigEndian(defaults.boolForKey(QStringLiteral("Unrecognized Input File Big Endian")) ? 1 : 0);
    RawFileSettings::SetNumBits(UInt32(defaults.integerForKey(QStringLiteral("Unrecognized Input File Word Size"))));
    RawFileSettings::SetAction(SInt32(defaults.integerForKey(QStringLiteral("Unrecognized Input File Action"))));
    const qlonglong channels = defaults.integerForKey(QStringLiteral("QMUnrecognizedFileNumChannels"));
    RawFileSettings::SetNumChannels(UInt32(std::clamp<qlonglong>(channels, kMinRawChannels, kMaxRawChannels)));
}

void EngineStartup::pushSoundFileSwitches(const UserDefaults& defaults)
{
    SetProcessFileIfNoRegions(defaults.boolForKey(QStringLiteral("Process File If No Regions")));
    SetSkipBadRegion(long(defaults.integerForKey(QStringLiteral("Skip Bad Region"))));
    SetIgnoreRegionsContainingWholeFile(defaults.boolForKey(QStringLiteral("Ignore Regions Containing Whole File")));
    SetRecognizeNumberFilesAsSplit(defaults.boolForKey(QStringLiteral("Recognize number files as split")));
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
