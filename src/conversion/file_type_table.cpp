#include "file_type_table.h"

#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "SoundFileRegistry.h"
#include "per_type_setting_checks.h"

namespace {

// The object the factory registered for `type` makes, or, when none is
// registered, that of `alternate` (the other code of a format with two
// codes); null when neither has a factory.  A constructor's exception
// passes on to the caller.
CSoundFile* CreateFromRegistry(OSType type, OSType alternate = 0)
{
    SoundFileFactory factory = GetSoundFileFactory(type);
    if (!factory && alternate != 0)
        factory = GetSoundFileFactory(alternate);
    return factory ? factory() : nullptr;
}

#define QM_CREATE_FUNCTION(name, code)                                                                       \
    CSoundFile* name() { return CreateFromRegistry(FOUR_CHAR_CODE(code)); }
#define QM_CREATE_FUNCTION2(name, code, alternate)                                                           \
    CSoundFile* name() { return CreateFromRegistry(FOUR_CHAR_CODE(code), FOUR_CHAR_CODE(alternate)); }

QM_CREATE_FUNCTION(CreateAIFCFileObject, "AIFC")
QM_CREATE_FUNCTION(CreateAIFFFileObject, "AIFF")
QM_CREATE_FUNCTION(CreateAVRFileObject, ".AVR")
QM_CREATE_FUNCTION(CreateBWFLinearFileObject, "BWLN")
QM_CREATE_FUNCTION(CreateBWFMPEGFileObject, "BWMP")
QM_CREATE_FUNCTION(CreateCCITT721FileObject, "21-4")
QM_CREATE_FUNCTION(CreateCCITT723_16FileObject, "23-2")
QM_CREATE_FUNCTION(CreateCCITT723_24FileObject, "23-3")
QM_CREATE_FUNCTION(CreateCCITT723_40FileObject, "23-5")
QM_CREATE_FUNCTION(CreateCCITT726_3FileObject, "26-3")
QM_CREATE_FUNCTION(CreateCCITT726_4FileObject, "26-4")
QM_CREATE_FUNCTION(CreateCCITT726_5FileObject, "26-5")
QM_CREATE_FUNCTION(CreateDawnAIFFFileObject, "Dawn")
QM_CREATE_FUNCTION(CreateDialogicADPCMFileObject, "DADP")
QM_CREATE_FUNCTION2(CreateDialogicALawFileObject, "DALW", "711a")
QM_CREATE_FUNCTION(CreateDialogicPCMFileObject, "DPCM")
QM_CREATE_FUNCTION2(CreateDialogicULawFileObject, "DULW", "711u")
QM_CREATE_FUNCTION(CreateDialogicVAPFileObject, "DVAP")
QM_CREATE_FUNCTION(CreateDropMP3FileObject, "DMP3")
QM_CREATE_FUNCTION(CreateDyaxisMacMixFileObject, "MMIX")
QM_CREATE_FUNCTION(CreateIFF8SVXFileObject, "8SVX")
QM_CREATE_FUNCTION(CreateImageDATFileObject, "IDAT")
QM_CREATE_FUNCTION(CreateG729FileObject, "G729")
QM_CREATE_FUNCTION(CreateMPEG1FileObject, "MPG1")
QM_CREATE_FUNCTION(CreateMPEG2FileObject, "MPG2")
QM_CREATE_FUNCTION(CreateMSADPCMFileObject, "MSAP")
QM_CREATE_FUNCTION(CreateNeXTALawFileObject, "NSAL")
QM_CREATE_FUNCTION(CreateNeXTAUFileObject, "ulaw")
QM_CREATE_FUNCTION(CreateNeXT_SUNFileObject, "NxTS")
QM_CREATE_FUNCTION(CreateParisLinearFileObject, " paf")
QM_CREATE_FUNCTION(CreatePikaADPCMFileObject, "PADP")
QM_CREATE_FUNCTION(CreateQTAIFFImaFileObject, "A1t4")
QM_CREATE_FUNCTION(CreateQTAlawFileObject, "QTAL")
QM_CREATE_FUNCTION(CreateQTIMAFileObject, "QTIM")
QM_CREATE_FUNCTION(CreateQTIntFloatFileObject, "QTIF")
QM_CREATE_FUNCTION(CreateQTMACE3FileObject, "QTM3")
QM_CREATE_FUNCTION(CreateQTMACE6FileObject, "QTM6")
QM_CREATE_FUNCTION(CreateQTMovieFileObject, "MooV")
QM_CREATE_FUNCTION(CreateQTMP3FileObject, "Mp3 ")
QM_CREATE_FUNCTION(CreateQTMP4FileObject, "Mpg4")
QM_CREATE_FUNCTION(CreateQTQDesignProFileObject, "QTQP")
QM_CREATE_FUNCTION(CreateQTQDesignPro2FileObject, "QTQ2")
QM_CREATE_FUNCTION(CreateQTQDesignRavesoundFileObject, "QTQD")
QM_CREATE_FUNCTION(CreateQTQualcommPurevoiceFileObject, "QTPV")
QM_CREATE_FUNCTION(CreateQTUlawFileObject, "QTUL")
QM_CREATE_FUNCTION(CreateSD1FileObject, "Sd1f")
QM_CREATE_FUNCTION(CreateSDIIFileObject, "Sd2f")
QM_CREATE_FUNCTION(CreateSndRsrcFileObject, "sfil")
QM_CREATE_FUNCTION(CreateSnippetFileObject, "Snip")
QM_CREATE_FUNCTION(CreateSonicAIFFFileObject, "SAIF")
QM_CREATE_FUNCTION(CreateSonicSplitFileObject, "SpSc")
QM_CREATE_FUNCTION(CreateTempFileObject, "Temp")
QM_CREATE_FUNCTION(CreateVOCFileObject, "VOC ")
QM_CREATE_FUNCTION(CreateVOC_SBFileObject, "VOC2")
QM_CREATE_FUNCTION(CreateWAVEFileObject, "WAVE")
QM_CREATE_FUNCTION(CreateWAVEFloatFileObject, "WVfl")
QM_CREATE_FUNCTION(CreateWAVE_ALawFileObject, "WVal")
QM_CREATE_FUNCTION(CreateWAVE_AuFileObject, "WVau")
QM_CREATE_FUNCTION(CreateafFileObject, "caff")

#undef QM_CREATE_FUNCTION
#undef QM_CREATE_FUNCTION2

using SettingsFunc = SoundFileDispatcher::SettingsFunc;
using PopupIndexFunc = SoundFileDispatcher::PopupIndexFunc;
using TextFunc = SoundFileDispatcher::TextFunc;

struct TableRow {
    OSType type;
    SoundFileDispatcher::CreateFunc create;
    SettingsFunc wordLength = nullptr;
    SettingsFunc channel = nullptr;
    SettingsFunc sampleRate = nullptr;
    PopupIndexFunc channelIndex = nullptr;
    PopupIndexFunc wordLengthIndex = nullptr;
    TextFunc logWordLength = nullptr;
    TextFunc logChannel = nullptr;
};

constexpr OSType C(const char (&code)[5])
{
    return FOUR_CHAR_CODE(code);
}

// The table, in its order.  Fields not named are empty; no type has a
// recogniser or auto-name functions.
const TableRow kTable[] = {
    {C("AIFC"), CreateAIFCFileObject},
    {C("AIFF"), CreateAIFFFileObject},
    {C(".AVR"), CreateAVRFileObject},
    {C("BWLN"), CreateBWFLinearFileObject},
    {C("BWMP"), CreateBWFMPEGFileObject, nullptr, BWFMPEGFileChannelSettings, nullptr,
     BWFMPEGFileChannelHandlingPopupIndex},
    {C("21-4"), CreateCCITT721FileObject, nullptr, CCITTChannelSettings},
    {C("23-2"), CreateCCITT723_16FileObject, nullptr, CCITTChannelSettings},
    {C("23-3"), CreateCCITT723_24FileObject, nullptr, CCITTChannelSettings},
    {C("23-5"), CreateCCITT723_40FileObject, nullptr, CCITTChannelSettings},
    {C("26-3"), CreateCCITT726_3FileObject, nullptr, CCITTChannelSettings},
    {C("26-4"), CreateCCITT726_4FileObject, nullptr, CCITTChannelSettings},
    {C("26-5"), CreateCCITT726_5FileObject, nullptr, CCITTChannelSettings},
    {C("Dawn"), CreateDawnAIFFFileObject, nullptr, DawnAIFFFileChannelSettings},
    {C("DADP"), CreateDialogicADPCMFileObject, nullptr, DialogicADPCMFileChannelSettings,
     DialogicADPCMFileSampleRateSettings, nullptr, nullptr, DialogicADPCMFileLogWordLength},
    {C("DALW"), CreateDialogicALawFileObject, nullptr, DialogicALawFileChannelSettings,
     DialogicALawFileSampleRateSettings, nullptr, nullptr, DialogicALawFileLogWordLength},
    {C("711a"), CreateDialogicALawFileObject, nullptr, DialogicALawFileChannelSettings,
     DialogicALawFileSampleRateSettings, nullptr, nullptr, DialogicALawFileLogWordLength},
    {C("DPCM"), CreateDialogicPCMFileObject, DialogicPCMFileWordLengthSettings},
    {C("DULW"), CreateDialogicULawFileObject, nullptr, DialogicULawFileChannelSettings,
     DialogicULawFileSampleRateSettings, nullptr, nullptr, DialogicULawFileLogWordLength},
    {C("711u"), CreateDialogicULawFileObject, nullptr, DialogicULawFileChannelSettings,
     DialogicULawFileSampleRateSettings, nullptr, nullptr, DialogicULawFileLogWordLength},
    {C("DVAP"), CreateDialogicVAPFileObject, nullptr, DialogicVAPFileChannelSettings, nullptr, nullptr, nullptr,
     DialogicVAPFileLogWordLength},
    // The stereo modes are items of the interleaved-stereo treatment, so
    // the popup needs its index function to show them.
    {C("DMP3"), CreateDropMP3FileObject, DropMP3FileWordLengthSettings, DropMP3FileChannelSettings, nullptr,
     DropMP3FileChannelHandlingPopupIndex},
    {C("MMIX"), CreateDyaxisMacMixFileObject},
    {C("8SVX"), CreateIFF8SVXFileObject},
    {C("IDAT"), CreateImageDATFileObject},
    {C("G729"), CreateG729FileObject},
    {C("MPG1"), CreateMPEG1FileObject, MPEG1FileWordLengthSettings, MPEG1FileChannelSettings, nullptr,
     MPEG1FileChannelHandlingPopupIndex, nullptr, MPEG1FileLogWordLength, MPEG1FileLogChannelSettings},
    {C("MPG2"), CreateMPEG2FileObject, nullptr, MPEG2FileChannelSettings, nullptr,
     MPEG2FileChannelHandlingPopupIndex, nullptr, MPEG2FileLogWordLength, MPEG2FileLogChannelSettings},
    {C("MSAP"), CreateMSADPCMFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, MSADPCMFileLogWordLength},
    {C("NSAL"), CreateNeXTALawFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, NeXTALawFileLogWordLength},
    {C("ulaw"), CreateNeXTAUFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, NeXTAUFileLogWordLength},
    {C("NxTS"), CreateNeXT_SUNFileObject},
    {C(" paf"), CreateParisLinearFileObject, ParisLinearFileWordLengthSettings, nullptr, nullptr, nullptr,
     ParisLinearFileWordLengthPopupIndex},
    {C("PADP"), CreatePikaADPCMFileObject, nullptr, nullptr, PikaADPCMFileSampleRateSettings, nullptr, nullptr,
     PikaADPCMFileLogWordLength},
    {C("A1t4"), CreateQTAIFFImaFileObject, nullptr, nullptr, nullptr, nullptr, nullptr,
     QTAIFFImaFileLogWordLength},
    {C("QTAL"), CreateQTAlawFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, QTAlawFileLogWordLength},
    {C("QTIM"), CreateQTIMAFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, QTIMAFileLogWordLength},
    {C("QTIF"), CreateQTIntFloatFileObject, QTIntFloatFileWordLengthSettings, nullptr, nullptr, nullptr,
     QTIntFloatFileWordLengthPopupIndex, QTIntFloatFileLogWordLength},
    {C("QTM3"), CreateQTMACE3FileObject, nullptr, nullptr, nullptr, nullptr, nullptr, QTMACE3FileLogWordLength},
    {C("QTM6"), CreateQTMACE6FileObject, nullptr, nullptr, nullptr, nullptr, nullptr, QTMACE6FileLogWordLength},
    {C("MooV"), CreateQTMovieFileObject},
    {C("Mp3 "), CreateQTMP3FileObject, nullptr, nullptr, QTMP3FileSampleRateSettings},
    {C("Mpg4"), CreateQTMP4FileObject, QTMP4FileWordLengthSettings, nullptr, QTMP4FileSampleRateSettings},
    {C("QTQP"), CreateQTQDesignProFileObject, nullptr, nullptr, nullptr, nullptr, nullptr,
     QTQDesignProFileLogWordLength},
    {C("QTQ2"), CreateQTQDesignPro2FileObject, nullptr, nullptr, nullptr, nullptr, nullptr,
     QTQDesignPro2FileLogWordLength},
    {C("QTQD"), CreateQTQDesignRavesoundFileObject, nullptr, nullptr, nullptr, nullptr, nullptr,
     QTQDesignRavesoundFileLogWordLength},
    {C("QTPV"), CreateQTQualcommPurevoiceFileObject, nullptr, nullptr, nullptr, nullptr, nullptr,
     QTQualcommPurevoiceFileLogWordLength},
    {C("QTUL"), CreateQTUlawFileObject, nullptr, nullptr, nullptr, nullptr, nullptr, QTUlawFileLogWordLength},
    {C("Sd1f"), CreateSD1FileObject},
    {C("Sd2f"), CreateSDIIFileObject},
    {C("sfil"), CreateSndRsrcFileObject},
    {C("Snip"), CreateSnippetFileObject},
    {C("SAIF"), CreateSonicAIFFFileObject, SonicAIFFFileWordLengthSettings, nullptr, nullptr, nullptr,
     SonicAIFFFileWordLengthPopupIndex, SonicAIFFFileLogWordLength},
    {C("SpSc"), CreateSonicSplitFileObject},
    {C("Temp"), CreateTempFileObject},
    {C("VOC "), CreateVOCFileObject, nullptr, nullptr, VOCFileSampleRateSettings},
    {C("VOC2"), CreateVOC_SBFileObject},
    {C("WAVE"), CreateWAVEFileObject},
    {C("WVfl"), CreateWAVEFloatFileObject},
    {C("WVal"), CreateWAVE_ALawFileObject},
    {C("WVau"), CreateWAVE_AuFileObject},
    {C("caff"), CreateafFileObject},
};

static_assert(sizeof(kTable) / sizeof(kTable[0]) == 61, "the file-type table has 61 rows");

SoundFileDispatcherRef MakeDispatcher(const TableRow& row)
{
    auto dispatcher = std::make_shared<SoundFileDispatcher>();
    dispatcher->setCreateFunc(row.create);
    dispatcher->setWordLengthSettingsFunc(row.wordLength);
    dispatcher->setChannelSettingsFunc(row.channel);
    dispatcher->setSampleRateSettingsFunc(row.sampleRate);
    dispatcher->setChannelHandlingPopupIndexFunc(row.channelIndex);
    dispatcher->setWordLengthPopupIndexFunc(row.wordLengthIndex);
    dispatcher->setLogWordLengthFunc(row.logWordLength);
    dispatcher->setLogChannelSettingsFunc(row.logChannel);
    return dispatcher;
}

} // namespace

const OSType kWorkFileType = C("Temp");
const OSType kDefaultOutputFileType = C("AIFF");

void BuildSoundFileDispatchers(QVariantMap& fileTypeDictionary)
{
    for (const TableRow& row : kTable) {
        auto it = fileTypeDictionary.find(FileTypeForHFSTypeCode(row.type));
        if (it == fileTypeDictionary.end() || it.value().typeId() != QMetaType::QVariantMap)
            continue;
        QVariantMap entry = it.value().toMap();
        SetEntryDispatcher(&entry, MakeDispatcher(row));
        it.value() = entry;
    }
}

void BuildSoundFileDispatchers()
{
    const QVariantMap dictionary = LoadSoundFileProperties();
    for (const TableRow& row : kTable) {
        if (dictionary.value(FileTypeForHFSTypeCode(row.type)).typeId() != QMetaType::QVariantMap)
            continue;
        SetSoundFileProperty(row.type, kFileTypeDispatcherKey, QVariant::fromValue(MakeDispatcher(row)));
    }
}

SoundFileDispatcherRef MakeSoundFileDispatcher(OSType type)
{
    for (const TableRow& row : kTable)
        if (row.type == type)
            return MakeDispatcher(row);
    return nullptr;
}

std::vector<OSType> GetFileTypeTableCodes()
{
    std::vector<OSType> codes;
    codes.reserve(sizeof(kTable) / sizeof(kTable[0]));
    for (const TableRow& row : kTable)
        codes.push_back(row.type);
    return codes;
}
