// The engine's handle on one conversion for one input file: the sound-file,
// kernel and pipeline code reads and writes the conversion only through
// these accessors.  The batch driver makes one per input file with the
// output folder and the input's long name; the per-type checks, the editor
// and the descriptions make one with the conversion alone.
//
// Setters write through to the shared conversion, so values written during
// a conversion (peaks, copyExtras, a clamped sample rate, an extension)
// stay with it.
#pragma once

#include "ConvSpec.h"
#include "FileManager.h"
#include "MacTypes.h"
#include "OutputContext.h"

#include <QString>

#include <functional>

class CSoundFile;

class CConvSpec {
public:
    // Folder and long name empty.
    explicit CConvSpec(ConvSpecRef spec);
    // `folderRef` and `longName` may be null / a null string (none).
    CConvSpec(ConvSpecRef spec, const FSSpec* outputFolder, const FSRef* outputFolderRef, const QString& longName);
    virtual ~CConvSpec();

    CConvSpec(const CConvSpec&) = delete;
    CConvSpec& operator=(const CConvSpec&) = delete;

    ConvSpec* GetConvSpec() const { return spec_.get(); }
    const ConvSpecRef& GetConvSpecRef() const { return spec_; }

    // Runs the conversion of `input`: picks the pipeline that fits the
    // conversion's needs (PipelineSelector.h) and returns its result, or -50
    // (paramErr) when no pipeline fits or the one that fits is not available.
    SInt16 Run(CSoundFile* input);

    bool NeedsSampleRateConversion() const;
    double SampleRate() const;
    void SetSampleRate(double rate);
    SInt16 SampleRateConvertQuality() const;
    bool NeedsStrip() const;
    bool NeedsExtraction() const;
    bool NeedsChannelTreat() const;
    SInt16 ChannelTreat() const;
    OSType OutputFileType() const;
    bool NeedsStrictFileType() const;
    // The type of the output made from `input`: the conversion's output
    // type, or the type the input keeps (CSoundFile::GetKeptFileType); for
    // a word length the kept type does not take, the type its properties
    // name for other word lengths ("otherWordLengthsType").
    OSType OutputFileTypeFor(const CSoundFile* input) const;
    // The word length of that output: the conversion's, else the input's;
    // for a kept type whose word length is a bit rate, the input's bit
    // rate (the type's default when the input has none to measure).
    SInt16 OutputWordLengthFor(CSoundFile* input) const;
    bool NeedsNewWordLength() const;
    SInt16 WordLength() const;
    bool NeedsRedither() const;
    bool CopyExtras() const;
    void SetCopyExtras(bool copy);
    bool NeedsFades() const;
    float FadeInTime() const;
    float FadeOutTime() const;
    bool NeedsNormalize() const;
    double Ceiling() const;
    bool NeedsCompressor() const;
    double CompressionBoost() const;
    bool NeedsGate() const;
    double GateThreshold() const;
    double GateGapLength() const;
    double GateAttenuation() const;
    bool HasValidMax() const;
    void SetHasValidMax(bool valid);
    double Max() const;
    void SetMax(double max);
    double CeiledMax() const;
    void SetCeiledMax(double max);
    bool NeedsSnip() const;
    // snipFrom when snipping, else 0.0.
    double SnipFrom() const;
    // snipTo when snipping, else -1.0 (up to the end of the file).
    double SnipTo() const;
    // The 256 bytes of the per-type settings block.
    unsigned char* FileTypeSpecifics();

    // A Pascal string (Mac OS Roman) made the conversion's name extension.
    void SetNameExtension(ConstStr255Param extension);
    // The output-name extension as a Pascal string (Mac OS Roman, at most
    // 255 characters): the stored extension as it is when it begins with
    // "."; else "." + it when the conversion adds an extension; else empty.
    void GetNameExtension(Str255 extension) const;
    // The same text, unconverted (file names here are UTF-8).
    QString NameExtensionString() const;

    void GetOutputFolder(FSSpec* folder) const;
    const FSSpec& OutputFolder() const { return outputFolder_; }
    // The output folder's FSRef (an empty one when none was given).
    const FSRef* OutputFolderRef() const { return &outputFolderRef_; }
    // The input's display name; a null string when none was given.
    const QString& LongName() const { return longName_; }

    // What the outputs made for this input are told (OutputContext.h): the
    // batch driver sets it before Run; empty until then.  The pipelines
    // add the name the outputs are published under.
    void SetOutputContext(OutputContext context) { outputContext_ = std::move(context); }
    const OutputContext& GetOutputContext() const { return outputContext_; }

    // Asked by the pipelines as soon as an output to be published under the
    // input's name exists (under its temporary names: the created-files
    // list's entries from `firstEntry` on), before any audio is written:
    // noErr, or the failure the file takes at once (a final name that is
    // taken, when duplicates are not numbered).  The batch driver sets it;
    // without one every name passes.
    using OutputNamesCheck = std::function<SInt16(qsizetype firstEntry)>;
    void SetOutputNamesCheck(OutputNamesCheck check) { outputNamesCheck_ = std::move(check); }
    SInt16 CheckOutputNames(qsizetype firstEntry) const
    {
        return outputNamesCheck_ ? outputNamesCheck_(firstEntry) : SInt16(noErr);
    }

private:
    ConvSpecRef spec_;
    FSSpec outputFolder_;
    FSRef outputFolderRef_;
    QString longName_;
    OutputContext outputContext_;
    OutputNamesCheck outputNamesCheck_;
};
