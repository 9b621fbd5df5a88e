#include "file_type_table.h"

#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "SoundFileRegistry.h"
#include "TypeSettingRules.h"

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

struct TableRow {
    OSType type;
    CSoundFile* (*create)();
};

constexpr OSType C(const char (&code)[5])
{
    return FOUR_CHAR_CODE(code);
}

// The table, in its order.  The setting callbacks come from each type's
// entry (TypeSettingRules); no type has a recogniser or auto-name functions.
const TableRow kTable[] = {
    {C("AIFC"), CreateAIFCFileObject},
    {C("AIFF"), CreateAIFFFileObject},
    {C(".AVR"), CreateAVRFileObject},
    {C("BWLN"), CreateBWFLinearFileObject},
    {C("BWMP"), CreateBWFMPEGFileObject},
    {C("21-4"), CreateCCITT721FileObject},
    {C("23-2"), CreateCCITT723_16FileObject},
    {C("23-3"), CreateCCITT723_24FileObject},
    {C("23-5"), CreateCCITT723_40FileObject},
    {C("26-3"), CreateCCITT726_3FileObject},
    {C("26-4"), CreateCCITT726_4FileObject},
    {C("26-5"), CreateCCITT726_5FileObject},
    {C("Dawn"), CreateDawnAIFFFileObject},
    {C("DADP"), CreateDialogicADPCMFileObject},
    {C("DALW"), CreateDialogicALawFileObject},
    {C("711a"), CreateDialogicALawFileObject},
    {C("DPCM"), CreateDialogicPCMFileObject},
    {C("DULW"), CreateDialogicULawFileObject},
    {C("711u"), CreateDialogicULawFileObject},
    {C("DVAP"), CreateDialogicVAPFileObject},
    {C("DMP3"), CreateDropMP3FileObject},
    {C("MMIX"), CreateDyaxisMacMixFileObject},
    {C("8SVX"), CreateIFF8SVXFileObject},
    {C("IDAT"), CreateImageDATFileObject},
    {C("G729"), CreateG729FileObject},
    {C("MPG1"), CreateMPEG1FileObject},
    {C("MPG2"), CreateMPEG2FileObject},
    {C("MSAP"), CreateMSADPCMFileObject},
    {C("NSAL"), CreateNeXTALawFileObject},
    {C("ulaw"), CreateNeXTAUFileObject},
    {C("NxTS"), CreateNeXT_SUNFileObject},
    {C(" paf"), CreateParisLinearFileObject},
    {C("PADP"), CreatePikaADPCMFileObject},
    {C("A1t4"), CreateQTAIFFImaFileObject},
    {C("QTAL"), CreateQTAlawFileObject},
    {C("QTIM"), CreateQTIMAFileObject},
    {C("QTIF"), CreateQTIntFloatFileObject},
    {C("QTM3"), CreateQTMACE3FileObject},
    {C("QTM6"), CreateQTMACE6FileObject},
    {C("MooV"), CreateQTMovieFileObject},
    {C("Mp3 "), CreateQTMP3FileObject},
    {C("Mpg4"), CreateQTMP4FileObject},
    {C("QTQP"), CreateQTQDesignProFileObject},
    {C("QTQ2"), CreateQTQDesignPro2FileObject},
    {C("QTQD"), CreateQTQDesignRavesoundFileObject},
    {C("QTPV"), CreateQTQualcommPurevoiceFileObject},
    {C("QTUL"), CreateQTUlawFileObject},
    {C("Sd1f"), CreateSD1FileObject},
    {C("Sd2f"), CreateSDIIFileObject},
    {C("sfil"), CreateSndRsrcFileObject},
    {C("Snip"), CreateSnippetFileObject},
    {C("SAIF"), CreateSonicAIFFFileObject},
    {C("SpSc"), CreateSonicSplitFileObject},
    {C("Temp"), CreateTempFileObject},
    {C("VOC "), CreateVOCFileObject},
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
    return TypeSettingRules::fromEntry(GetSoundFileProperties(row.type)).makeDispatcher(row.create);
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
