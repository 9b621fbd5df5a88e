#include "CConvSpec.h"

#include "CSoundFile.h"
#include "CreateSoundFile.h"

#include "MacRoman.h"
#include "PipelineSelector.h"
#include "ZuFiles.h"
#include "debug_trace.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

CConvSpec::CConvSpec(ConvSpecRef spec) : spec_(std::move(spec))
{
    if (!spec_)
        throw std::invalid_argument("CConvSpec needs a conversion");
}

CConvSpec::CConvSpec(ConvSpecRef spec, const FSSpec* outputFolder, const FSRef* outputFolderRef,
                     const QString& longName)
    : spec_(std::move(spec)), longName_(longName)
{
    if (!spec_)
        throw std::invalid_argument("CConvSpec needs a conversion");
    if (outputFolder)
        outputFolder_ = *outputFolder;
    if (outputFolderRef)
        outputFolderRef_ = *outputFolderRef;
}

CConvSpec::~CConvSpec() = default;

SInt16 CConvSpec::Run(CSoundFile* input)
{
    return SelectAndRunPipeline(input, this);
}

bool CConvSpec::NeedsSampleRateConversion() const { return spec_->needsSampleRateConversion(); }
double CConvSpec::SampleRate() const { return spec_->sampleRate(); }
void CConvSpec::SetSampleRate(double rate) { spec_->setSampleRate(rate); }
SInt16 CConvSpec::SampleRateConvertQuality() const { return static_cast<SInt16>(spec_->sampleRateConvertQuality()); }
bool CConvSpec::NeedsStrip() const { return spec_->needsStrip(); }
bool CConvSpec::NeedsExtraction() const { return spec_->needsExtraction(); }
bool CConvSpec::NeedsChannelTreat() const { return spec_->needsChannelTreat(); }
SInt16 CConvSpec::ChannelTreat() const { return static_cast<SInt16>(spec_->channelTreat()); }
OSType CConvSpec::OutputFileType() const { return spec_->outputFileType(); }
OSType CConvSpec::OutputFileTypeFor(const CSoundFile* input) const
{
    if (NeedsStrictFileType() || !input)
        return OutputFileType();
    const OSType kept = input->GetKeptFileType();
    if (!NeedsNewWordLength())
        return kept;
    // A kept type of one word length (a float WAVE's 32-bit floats) gives
    // way, for another word length, to the type of its family that holds
    // it: what is asked is written.
    const QVariantMap properties = GetSoundFileProperties(kept);
    const OSType other =
        HFSTypeCodeFromFileType(properties.value(QStringLiteral("otherWordLengthsType")).toString());
    if (other == 0)
        return kept;
    for (const QVariant& item : properties.value(QStringLiteral("numBitsPopup")).toList())
        if (item.toMap().value(QStringLiteral("tag")).toInt() == WordLength())
            return kept;
    return other;
}

SInt16 CConvSpec::OutputWordLengthFor(CSoundFile* input) const
{
    if (NeedsNewWordLength() || !input)
        return WordLength();
    const OSType type = OutputFileTypeFor(input);
    if (type != input->GetKeptFileType() || !input->UseBitRate())
        return input->GetNumBits();
    if (const UInt16 rate = input->GetBitRate())
        return SInt16(std::min<UInt32>(rate, 0x7FFF));
    const QVariantMap properties = GetSoundFileProperties(type);
    const QVariantList rates = properties.value(QStringLiteral("numBitsPopup")).toList();
    return SInt16(rates.value(properties.value(QStringLiteral("numBitsPopupDefault")).toInt())
                      .toMap()
                      .value(QStringLiteral("tag"), input->GetNumBits())
                      .toInt());
}
bool CConvSpec::NeedsStrictFileType() const { return spec_->needsStrictFileType(); }
bool CConvSpec::NeedsNewWordLength() const { return spec_->needsNewWordLength(); }
SInt16 CConvSpec::WordLength() const { return static_cast<SInt16>(spec_->wordLength()); }
bool CConvSpec::NeedsRedither() const { return spec_->needsRedither(); }
bool CConvSpec::CopyExtras() const { return spec_->copyExtras(); }
void CConvSpec::SetCopyExtras(bool copy) { spec_->setCopyExtras(copy); }
bool CConvSpec::NeedsFades() const { return spec_->needsFades(); }
float CConvSpec::FadeInTime() const { return spec_->fadeInTime(); }
float CConvSpec::FadeOutTime() const { return spec_->fadeOutTime(); }
bool CConvSpec::NeedsNormalize() const { return spec_->needsNormalize(); }
double CConvSpec::Ceiling() const { return spec_->ceiling(); }
bool CConvSpec::NeedsCompressor() const { return spec_->needsCompressor(); }
double CConvSpec::CompressionBoost() const { return spec_->compressionBoost(); }
bool CConvSpec::NeedsGate() const { return spec_->needsGate(); }
double CConvSpec::GateThreshold() const { return spec_->gateThreshold(); }
double CConvSpec::GateGapLength() const { return spec_->gateGapLength(); }
double CConvSpec::GateAttenuation() const { return spec_->gateAttenuation(); }
bool CConvSpec::HasValidMax() const { return spec_->hasValidMax(); }
void CConvSpec::SetHasValidMax(bool valid) { spec_->setHasValidMax(valid); }
double CConvSpec::Max() const { return spec_->max(); }
void CConvSpec::SetMax(double max) { spec_->setMax(max); }
double CConvSpec::CeiledMax() const { return spec_->ceiledMax(); }
void CConvSpec::SetCeiledMax(double max) { spec_->setCeiledMax(max); }
bool CConvSpec::NeedsSnip() const { return spec_->needsSnip(); }
double CConvSpec::SnipFrom() const { return spec_->needsSnip() ? spec_->snipFrom() : 0.0; }
double CConvSpec::SnipTo() const { return spec_->needsSnip() ? spec_->snipTo() : -1.0; }
unsigned char* CConvSpec::FileTypeSpecifics() { return spec_->fileTypeSpecifics(); }

void CConvSpec::SetNameExtension(ConstStr255Param extension)
{
    spec_->setNameExtension(NSStringFromPascalString(extension));
}

QString CConvSpec::NameExtensionString() const
{
    const QString& stored = spec_->nameExtension();
    if (stored.startsWith(QLatin1Char('.')))
        return stored;
    if (spec_->needsNameExtension())
        return QLatin1Char('.') + stored;
    return QString(QLatin1String(""));
}

void CConvSpec::GetNameExtension(Str255 extension) const
{
    MacRoman::toPascal(NameExtensionString(), extension, 255);
}

void CConvSpec::GetOutputFolder(FSSpec* folder) const
{
    if (folder)
        *folder = outputFolder_;
}
