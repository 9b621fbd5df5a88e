#include "PipelineFrame.h"

#include "CCodedFile.h"
#include "CConvSpec.h"
#include "CSoundFile.h"
#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "error_codes.h"
#include "FileManager.h"
#include "FileOperations.h"
#include "format_type_codes.h"
#include "MacRoman.h"
#include "OutputContext.h"
#include "OutputNaming.h"
#include "PipelineSelector.h"
#include "debug_trace.h"
#include "conversion_pass_settings.h"
#include "file_type_table.h"
#include "pipeline_passes.h"
#include "progress_channel.h"
#include "ZuFiles.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using format_type_codes::kSplitSet;
using format_type_codes::kSurroundSet;

// The output object until CloseAndDelete takes it.
struct OutputDeleter {
    void operator()(CSoundFile* file) const
    {
        if (file)
            file->CloseAndDelete(false);
    }
};
using OutputPtr = std::unique_ptr<CSoundFile, OutputDeleter>;

void PostStep(const char* text, int flag = 0)
{
    Str255 pascal = {0};
    MacRoman::toPascal(QString::fromLatin1(text), pascal, 255);
    PostProgressStep(pascal, flag);
}

// The output folder's FSSpec names the folder either by its path
// in `parent` with an empty name, or as an item of its own parent.
FSSpec OutputSpec(const CConvSpec& spec, const char* name)
{
    FSSpec folder;
    spec.GetOutputFolder(&folder);
    FSSpec out;
    out.parent = folder.name.empty() ? folder.parent : FSSpecPath(folder);
    out.name = name;
    return out;
}

struct OutputSettings {
    OSType type = 0;
    SInt16 bits = 0;
    UInt16 channels = 0;
    SInt32 configuration = 0;
    AudioChannelLayoutTag layoutTag = 0;  // a multichannel input's own layout
    bool setConfiguration = true;
    double rate = 0.0;
    bool keepsFloats = false;  // a float input kept as its type and word length
};

// The output's settings on stage set `stageSet`: a resampling stage writes
// at the conversion's rate, and a split set of any stage set but the plain
// copy keeps the input's channel configuration.
OutputSettings SettingsFor(int stageSet, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    OutputSettings s;
    s.type = spec->OutputFileTypeFor(in);
    s.bits = spec->OutputWordLengthFor(in);
    s.rate = in->GetSampleRate();
    s.keepsFloats = s.type == in->GetKeptFileType() && s.bits == 32 && !spec->NeedsNewWordLength() &&
                    in->HoldsFloatSamples();
    switch (route.layout) {
    case OutputLayout::Kept:
    case OutputLayout::SurroundSet:
        s.channels = in->GetNumChannels();
        s.configuration = in->GetChannelConfiguration();
        s.layoutTag = in->GetMultichannelLayoutTag();
        break;
    case OutputLayout::Stereo:
        s.channels = 2;
        s.configuration = kChannelConfigStereo;
        break;
    case OutputLayout::Mono:
        s.channels = 1;
        s.configuration = kChannelConfigMono;
        break;
    case OutputLayout::SplitStereoSet:
        s.channels = 2;
        s.setConfiguration = false;
        break;
    case OutputLayout::None:
        break;
    }
    if (stageSet & 1)
        s.rate = spec->SampleRate();
    if (stageSet != 0 && route.layout == OutputLayout::SplitStereoSet) {
        s.setConfiguration = true;
        s.configuration = in->GetChannelConfiguration();
    }
    return s;
}

// The context of the outputs made while it lives: the conversion's for this
// input, published under the input's name when `published` (a region file
// is written under its final name).
OutputContext ContextFor(const CConvSpec& spec, bool published)
{
    OutputContext context = spec.GetOutputContext();
    context.baseName = published ? spec.LongName().toStdString() : std::string();
    return context;
}

// Makes the output object of `route`: a split or surround set of the
// output type, or a file of it; *out is set once the object exists (so that
// a failure closes it).
SInt16 NewOutputObject(const PipelineRoute& route, const OutputSettings& s, OutputPtr* out)
{
    CSoundFile* file = nullptr;
    switch (route.layout) {
    case OutputLayout::SplitStereoSet:
        file = CreateSoundFileObject(kSplitSet, s.type);
        break;
    case OutputLayout::SurroundSet:
        file = CreateSoundFileObject(kSurroundSet, s.type);
        if (file && !dynamic_cast<CSurroundFile*>(file)) {
            delete file;
            file = nullptr;
        }
        break;
    default:
        file = CreateSoundFileObject(s.type);
        break;
    }
    if (!file)
        return kCreateSoundFileErr;
    out->reset(file);
    return noErr;
}

// Names the output object at `target` (a surround set's members from the
// set's name less its left indicator) and creates it.  *namingFailed is set
// when the naming fails.
SInt16 CreateOutputAt(const PipelineRoute& route, const OutputSettings& s, CSoundFile* in, CConvSpec* spec,
                      FSSpec target, bool drawnAtRandom, CSoundFile* file, bool* namingFailed = nullptr)
{
    OSErr err = noErr;
    if (route.layout == OutputLayout::SurroundSet) {
        target.name += ".L";
        err = static_cast<CSurroundFile*>(file)->MakeChannelFiles(&target, in->GetChannelConfiguration(),
                                                                  in->GetNumChannels());
    } else {
        if (drawnAtRandom)
            file->SetNameDrawnAtRandom();
        err = file->SetFile(&target);
    }
    if (err) {
        if (namingFailed)
            *namingFailed = true;
        return err;
    }
    if (s.setConfiguration && route.layout != OutputLayout::SurroundSet) {
        file->SetChannelConfiguration(s.configuration);
        file->SetMultichannelLayoutTag(s.layoutTag);
    }

    file->SetKeepsFloatSamples(s.keepsFloats);
    Str255 extension = {0};
    spec->GetNameExtension(extension);
    return file->Create(s.channels, s.bits, 0, spec->FileTypeSpecifics(), extension, float(s.rate));
}

// Creates the output of `route` under its temporary name.
SInt16 CreateOutput(const PipelineRoute& route, const OutputSettings& s, CSoundFile* in, CConvSpec* spec,
                    OutputPtr* out, bool* namingFailed = nullptr)
{
    // What the output stores of its own name is its final name.
    const OutputContextScope publishedAs(ContextFor(*spec, true));
    SInt16 err = NewOutputObject(route, s, out);
    if (err)
        return err;

    FSSpec target = OutputSpec(*spec, "");
    const qsizetype firstEntry = GetCreatedFilesList().size();
    const bool isSet = route.layout == OutputLayout::SplitStereoSet || route.layout == OutputLayout::SurroundSet;
    // A set's members are named from the set's name by its channel
    // indicator: a tag that reads as one ("-L...") would give the right
    // member the left member's final name, so it is drawn again.
    for (int attempt = 0; attempt < 64; ++attempt) {
        if ((err = MakeTemporaryOutputName(target.parent, &target.name)))
            return err;
        if (!isSet || CSplitFile::StripMemberIndicator(target.name) == target.name)
            break;
    }
    if (isSet && CSplitFile::StripMemberIndicator(target.name) != target.name)
        return kCreateSoundFileErr;
    err = CreateOutputAt(route, s, in, spec, target, true, out->get(), namingFailed);
    // An output that could never take its name fails as soon as it exists,
    // before any audio is written into it (and, on the routes that create
    // it first, before the input is read).
    return err ? err : spec->CheckOutputNames(firstEntry);
}

SInt32 RunCopyPass(ChannelPass pass, bool strip, CSoundFile* in, CSoundFile* out,
                   const SampleCopySettings& settings)
{
    switch (pass) {
    case ChannelPass::Same:
        return strip ? ConvertSampleFormatStrip(in, out, settings) : ConvertSampleFormatAll(in, out, settings);
    case ChannelPass::MonoToStereo:
        return strip ? ConvertSampleFormatStripMonoToStereo(in, out, settings)
                     : ConvertSampleFormatAllMonoToStereo(in, out, settings);
    case ChannelPass::MixToMono:
        return strip ? ConvertSampleFormatStripMixToMono(in, out, settings)
                     : ConvertSampleFormatAllMixToMono(in, out, settings);
    case ChannelPass::Left:
        return strip ? ConvertSampleFormatStripLeft(in, out, settings) : ConvertSampleFormatAllLeft(in, out, settings);
    case ChannelPass::Right:
        return strip ? ConvertSampleFormatStripRight(in, out, settings)
                     : ConvertSampleFormatAllRight(in, out, settings);
    case ChannelPass::None:
        break;
    }
    return paramErr;
}

// Codes of the kernels are 32-bit; a pipeline's are 16-bit and never 0 for
// a failure.
SInt16 Narrow(SInt32 code)
{
    if (code >= -32768 && code <= 32767)
        return SInt16(code);
    return ioErr;
}

int Variant(ChannelPass pass)
{
    switch (pass) {
    case ChannelPass::Same: return 0;
    case ChannelPass::MonoToStereo: return 1;
    case ChannelPass::MixToMono: return 2;
    case ChannelPass::Left: return 3;
    case ChannelPass::Right: return 4;
    case ChannelPass::None: break;
    }
    return -1;
}

// The stored treatment that a gain variant applies.
SInt16 VariantTreatment(int variant)
{
    static constexpr SInt16 kTreatments[kNumPassVariants] = {NoChannelTreat, ForceInterleavedStereo, MixToMono,
                                                              LeftOnly, RightOnly};
    return variant >= 0 && variant < kNumPassVariants ? kTreatments[variant] : SInt16(NoChannelTreat);
}

// The analysis before a gain pass of variant `gainVariant` on `source`.
SInt32 RunScan(const PipelinePassTable& passes, CSoundFile* source, int gainVariant, CConvSpec* spec)
{
    if (passes.treatedScan)
        return passes.treatedScan(source, VariantTreatment(gainVariant), spec);
    return passes.scan ? passes.scan(source, spec) : SInt32(paramErr);
}

bool HasScan(const PipelinePassTable& passes)
{
    return passes.scan || passes.treatedScan;
}

PipelinePassTable& PassTable()
{
    static PipelinePassTable table = DefaultPipelinePasses();
    return table;
}

void PostStepWithValue(const char* text, double value, int flag = 0)
{
    Str255 pascal = {0};
    MacRoman::toPascal(QString::fromLatin1(text), pascal, 255);
    PostProgressStepWithValue(pascal, flag, value);
}

// The work file of the stage sets that resample and then gain: a 32-bit
// work file (kWorkFileType) at the conversion's rate under a unique
// temporary name in the output folder.  It is closed and removed when the
// pipeline ends, however it ends (after a kill, by the next run's clean-up).
class WorkFile {
public:
    WorkFile() = default;
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    ~WorkFile()
    {
        if (!file_)
            return;
        const std::string path = file_->GetPath();
        file_->CloseAndDelete(false);
        if (created_)
            DeletePath(path);
    }

    // The resampling pass that writes it applies the route's channel
    // treatment: a treated input is one channel (a mono input to be widened
    // to stereo already has the stereo configuration).
    SInt16 Create(CConvSpec* spec, CSoundFile* in, ChannelPass pass)
    {
        UInt16 channels = in->GetNumChannels();
        SInt32 configuration = in->GetChannelConfiguration();
        if (pass == ChannelPass::MonoToStereo) {
            channels = 1;
            configuration = kChannelConfigStereo;
        } else if (pass != ChannelPass::Same) {
            channels = 1;
            configuration = kChannelConfigMono;
        }
        file_ = CreateSoundFileObject(kWorkFileType);
        if (!file_)
            return kCreateSoundFileErr;
        // Made exclusively under a name drawn for it (a name taken fails).
        const FSSpec folder = OutputSpec(*spec, "");
        FSSpec target = folder;
        OSErr err = PickRandomName(folder.parent, std::string(kTemporaryNameWord) + "-", "", &target.name);
        if (err)
            return err;
        err = file_->SetFile(&target);
        if (err)
            return err;
        file_->SetChannelConfiguration(configuration);
        Str255 extension = {0};
        spec->GetNameExtension(extension);
        err = file_->Create(channels, 32, 0, spec->FileTypeSpecifics(), extension, float(spec->SampleRate()));
        created_ = err == noErr;
        return err;
    }

    CSoundFile* get() const { return file_; }

private:
    CSoundFile* file_ = nullptr;
    bool created_ = false;
};

// The direct-encode route of the plain copy without channel treatment: a
// coded output that takes its samples straight from a 16-bit input when it
// is closed, instead of through the copy pass, for the input types whose
// properties say "encodedDirectly" (Sound Designer II).
bool EncoderMayReadInput(CSoundFile* in)
{
    return in->GetNumBits() == 16 &&
           GetSoundFileProperties(in->GetFileType()).value(QStringLiteral("encodedDirectly")).toBool();
}

bool EncoderReadsInputItself(OSType outputType)
{
    // Coded outputs that need their linear audio handed to them say so in
    // their properties.
    return !GetSoundFileProperties(outputType).value(QStringLiteral("encodesFromCopyOnly")).toBool();
}

bool TakesDirectEncodeRoute(CSoundFile* in, CConvSpec* spec)
{
    return spec->NeedsStrictFileType() && TypeNeedsEncodingOnClose(spec->OutputFileType()) &&
           EncoderMayReadInput(in) && !spec->NeedsFades() &&
           !spec->NeedsSnip() && EncoderReadsInputItself(spec->OutputFileType());
}

// Copies loops, then regions, then markers, then the sampler record; the
// first failure stops the copying and is not reported.
void CopyAnnotations(CSoundFile* in, CSoundFile* out)
{
    for (UInt16 i = 0, n = in->GetNumLoops(); i < n; ++i) {
        SFTLoop loop;
        if (in->GetLoop(i, &loop) || out->AddLoop(&loop))
            return;
    }
    for (UInt16 i = 0, n = in->GetNumRegions(); i < n; ++i) {
        SFTRegion region;
        if (in->GetRegion(i, &region) || out->AddRegion(&region))
            return;
    }
    for (UInt16 i = 0, n = in->GetNumMarkers(); i < n; ++i) {
        SFTMarker marker;
        if (in->GetMarker(i, &marker) || out->AddMarker(&marker))
            return;
    }
    SFTSamplerInfo sampler;
    if (in->GetSamplerInfo(&sampler) == noErr)
        out->SetSamplerInfo(&sampler);
}

// The output object is always closed (when open) and destroyed here; a
// failed output's file is removed by the driver through the created-files
// list, as on every other route.
SInt16 RunDirectEncode(CSoundFile* in, CConvSpec* spec)
{
    const OSType type = spec->OutputFileType();
    const OutputContextScope publishedAs(ContextFor(*spec, true));
    OutputPtr out(CreateSoundFileObject(type));
    if (!out)
        return kCreateSoundFileErr;
    // Recognised by its class: a type that only claims to encode on close
    // is not treated as a coded file.
    CCodedFile* coded = dynamic_cast<CCodedFile*>(out.get());
    if (!coded)
        return kCreateSoundFileErr;

    FSSpec target = OutputSpec(*spec, "");
    const qsizetype firstEntry = GetCreatedFilesList().size();
    SInt16 err = MakeTemporaryOutputName(target.parent, &target.name);
    if (err)
        return err;
    out->SetNameDrawnAtRandom();
    if ((err = out->SetFile(&target)))
        return err;
    out->SetChannelConfiguration(in->GetChannelConfiguration());
    out->SetMultichannelLayoutTag(in->GetMultichannelLayoutTag());
    const SInt16 bits = spec->NeedsNewWordLength() ? spec->WordLength() : in->GetNumBits();
    Str255 extension = {0};
    spec->GetNameExtension(extension);
    if ((err = coded->CreateLike(in, in->GetNumChannels(), bits, 0, spec->FileTypeSpecifics(), extension,
                                 float(in->GetSampleRate()))))
        return err;
    if ((err = spec->CheckOutputNames(firstEntry)))
        return err;

    PostProgressNumSteps(1);
    if (spec->CopyExtras() && !out->IsOneChannelDone())
        CopyAnnotations(in, out.get());

    // Closing encodes the input into the coded file.
    CSoundFile* file = out.release();
    err = file->Close();
    delete file;
    return err;
}

// What the steps of one run of a stage set on one route share.
struct RouteRun {
    int stageSet;
    ChannelTreatment owner;
    const PipelineRoute& route;
    CSoundFile* in;
    CConvSpec* spec;
    bool resample;
    bool gain;
    bool decodes;  // the input's type decodes on open

    RouteRun(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
        : stageSet(stageSet), owner(owner), route(route), in(in), spec(spec), resample(stageSet & 1),
          gain(stageSet & 2), decodes(TypeNeedsDecodingOnOpen(in->GetFileType()))
    {
    }

    SInt16 Decode() const { return decodes ? SInt16(in->PrepareRead(spec->OutputFolder())) : SInt16(noErr); }
};

// One run of stage sets 0 to 7 on one route.
struct StageRun : RouteRun {
    bool strip;
    bool isSet = false;
    bool encodes = false;
    // The channel treatment is applied by the first pass that reads the
    // input; after resampling into the work file only the widening of a
    // mono input to stereo is left for the gain pass.
    PipelinePass resamplePass = nullptr;
    PipelinePass gainPass = nullptr;
    int gainVariant = 0;
    OutputSettings settings;
    SampleCopySettings copy;
    FadeSettings fades;
    OutputPtr out;

    StageRun(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
        : RouteRun(stageSet, owner, route, in, spec), strip(stageSet & 4)
    {
    }

    // The passes of `variant` from the table; false when one is missing.
    bool ChoosePasses(const PipelinePassTable& passes, int variant)
    {
        gainVariant = variant;
        if (resample)
            resamplePass = passes.resample[strip][gain && route.pass == ChannelPass::MonoToStereo ? 0 : variant];
        if (gain) {
            gainVariant = resample ? (route.pass == ChannelPass::MonoToStereo ? 1 : 0) : variant;
            gainPass = passes.gain[strip && !resample][gainVariant];
        }
        return !(resample && !resamplePass) && !(gain && (!gainPass || !HasScan(passes)));
    }

    void Prepare()
    {
        settings = SettingsFor(stageSet, route, in, spec);
        isSet = route.layout == OutputLayout::SplitStereoSet || route.layout == OutputLayout::SurroundSet;
        encodes = TypeNeedsEncodingOnClose(settings.type);
        copy = SampleCopySettingsFrom(*spec);
        fades = FadeSettingsFrom(*spec);
    }

    void PostStepCount() const
    {
        const int passCount = (resample ? 1 : 0) + (gain ? 2 : 0) + (resample || gain ? 0 : 1);
        PostProgressNumSteps((decodes ? 1 : 0) + (encodes ? 1 : 0) + passCount);
    }

    SInt16 Create(bool* namingFailed = nullptr)
    {
        return CreateOutput(route, settings, in, spec, &out, namingFailed);
    }

    // Fades the output and closes it as a success.
    SInt16 Finish()
    {
        const SInt16 err = Narrow(ApplyFades(out.get(), fades));
        if (err)
            return err;
        return out.release()->CloseAndDelete(true);
    }
};

// The step text of a pass straight into the output.
void PostDirectStepText(const StageRun& r)
{
    if (!r.resample)
        PostStep(r.strip ? "Compacting audio file" : "Copying/format change");
    else if (r.isSet && r.in->GetSampleRate() > 0.0)
        PostStepWithValue("Sample rate conversion", r.spec->SampleRate() / r.in->GetSampleRate());
    else
        PostStep("Sample rate conversion");
}

// After resampling straight into the output: the output's frame and
// channel counts are posted, after the fades on some routes.
SInt16 FinishResampled(StageRun& r)
{
    const bool countsAfterFades = r.owner == ForceInterleavedStereo || (r.strip && r.isSet);
    if (countsAfterFades) {
        const SInt16 err = Narrow(ApplyFades(r.out.get(), r.fades));
        PostProgressNumSampleFrames(r.out->GetNumFrames());
        PostProgressNumChannels(r.out->GetNumChannels());
        if (err)
            return err;
        return r.out.release()->CloseAndDelete(true);
    }
    PostProgressNumSampleFrames(r.out->GetNumFrames());
    if (r.owner != SplitChannels || r.strip)
        PostProgressNumChannels(r.out->GetNumChannels());
    return r.Finish();
}

// Copy, compacting copy or resampling straight into the output.  A
// resampled set, and the compacted right channel, are created after the
// step count and the decode (the latter also after its step text).
SInt16 RunWithoutGain(StageRun& r)
{
    const bool textFirst = r.strip && r.owner == RightOnly;
    const bool createFirst = !(r.resample && r.isSet) && !textFirst;
    SInt16 err = noErr;
    if (createFirst && (err = r.Create()))
        return err;
    r.PostStepCount();
    if ((err = r.Decode()))
        return err;
    if (textFirst)
        PostDirectStepText(r);
    if (!createFirst && (err = r.Create()))
        return err;
    if (!textFirst)
        PostDirectStepText(r);
    if (!r.resample) {
        if ((err = Narrow(RunCopyPass(r.route.pass, r.strip, r.in, r.out.get(), r.copy))))
            return err;
        return r.Finish();
    }
    if ((err = Narrow(r.resamplePass(r.in, r.out.get(), r.spec))))
        return err;
    return FinishResampled(r);
}

// Creates the output of a gain pass with its step text (a set's text goes
// first).  A failing set creation of the whole-file gain pipeline of
// treatment 0 reports the creation failure itself.
SInt16 CreateForGain(StageRun& r)
{
    if (r.isSet)
        PostStep("Dynamics/gain processing");
    bool namingFailed = false;
    SInt16 created = r.Create(&namingFailed);
    if (namingFailed && r.stageSet == 2 && r.owner == NoChannelTreat && r.route.layout == OutputLayout::SurroundSet)
        created = kCreateSoundFileErr;
    if (created == noErr && !r.isSet)
        PostStep("Dynamics/gain processing");
    return created;
}

// Scans `source`, creates the output and gains `source` into it.
SInt16 ScanAndGain(StageRun& r, CSoundFile* source)
{
    SInt16 err = noErr;
    PostStep("Scanning file");
    if ((err = Narrow(RunScan(PassTable(), source, r.gainVariant, r.spec))))
        return err;
    if ((err = CreateForGain(r)))
        return err;
    if ((err = Narrow(r.gainPass(source, r.out.get(), r.spec))))
        return err;
    return r.Finish();
}

SInt16 RunGain(StageRun& r)
{
    r.PostStepCount();
    if (const SInt16 err = r.Decode())
        return err;
    return ScanAndGain(r, r.in);
}

// Resampling into the work file, then scan and gain from it.
SInt16 RunRateAndGain(StageRun& r)
{
    WorkFile work;
    SInt16 err = noErr;
    if ((err = work.Create(r.spec, r.in, r.route.pass)))
        return err;
    r.PostStepCount();
    if ((err = r.Decode()))
        return err;
    PostStep("Sample rate conversion");
    if ((err = Narrow(r.resamplePass(r.in, work.get(), r.spec))))
        return err;
    PostProgressNumSampleFrames(work.get()->GetNumFrames());
    PostProgressNumChannels(work.get()->GetNumChannels());
    return ScanAndGain(r, work.get());
}

// Stage sets 0 to 7 on one route.
SInt16 RunStage(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    const int variant = Variant(route.pass);
    if (variant < 0)
        return paramErr;
    StageRun r(stageSet, owner, route, in, spec);
    const bool available = r.ChoosePasses(PassTable(), variant);

    if (r.strip && in->GetNumRegions() == 0)
        return kNoRegionsToCompactErr;
    if (stageSet == 0 && owner == NoChannelTreat && route.layout == OutputLayout::Kept &&
        TakesDirectEncodeRoute(in, spec))
        return RunDirectEncode(in, spec);
    if (!available) {
        QM_TRACE("Run", "the passes of stage set " << stageSet << " are not available");
        return paramErr;
    }

    r.Prepare();
    if (!r.gain)
        return RunWithoutGain(r);
    if (!r.resample)
        return RunGain(r);
    return RunRateAndGain(r);
}

// ------------------------------------------------------- region extraction

SInt32 RunCopyRangePass(ChannelPass pass, CSoundFile* in, CSoundFile* out, UInt32 start, UInt32 end,
                        const SampleCopySettings& settings)
{
    switch (pass) {
    case ChannelPass::Same: return ConvertSampleFormatRange(in, out, start, end, settings);
    case ChannelPass::MonoToStereo: return ConvertSampleFormatRangeMonoToStereo(in, out, start, end, settings);
    case ChannelPass::MixToMono: return ConvertSampleFormatRangeMixToMono(in, out, start, end, settings);
    case ChannelPass::Left: return ConvertSampleFormatRangeLeft(in, out, start, end, settings);
    case ChannelPass::Right: return ConvertSampleFormatRangeRight(in, out, start, end, settings);
    case ChannelPass::None: break;
    }
    return paramErr;
}

// A region's name as a file name: its Pascal text (never beyond the record's
// field), with "/" shown as ":" as the Mac does; an unnamed region is
// "Region" and its number.
std::string RegionFileName(const SFTRegion& region, int index)
{
    Str255 pascal = {0};
    const UInt8 length = std::min<UInt8>(region.name[0], sizeof(region.name) - 1);
    pascal[0] = length;
    std::memcpy(pascal + 1, region.name + 1, length);
    QString name = NSStringFromPascalString(pascal);
    name.replace(QLatin1Char('/'), QLatin1Char(':'));
    name.remove(QChar(0));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("Region %1").arg(index + 1);
    return name.toStdString();
}

// The per-input folder of an extraction.  It is made under a temporary
// name in the conversion's output folder (the run's ledger records it) and
// held while the region files are written into it under their own names;
// once the last one is complete, the folder takes the input's name, so
// that the region files appear under their final names all together.  A
// run that fails removes it; one that is killed leaves it to the next
// run's clean-up.
class InputFolder {
public:
    InputFolder() = default;
    InputFolder(const InputFolder&) = delete;
    InputFolder& operator=(const InputFolder&) = delete;
    ~InputFolder() { Discard(); }

    // Makes the folder.  A folder or file of the input's name is in the
    // way from the start: -48, nothing made.
    SInt16 Create(CConvSpec* spec)
    {
        FSRef parent = *spec->OutputFolderRef();
        if (parent.path.empty()) {
            const OSErr err = FSPathMakeRef(OutputSpec(*spec, "").parent, &parent);
            if (err)
                return err;
        }
        const QString finalName = spec->LongName();
        if (finalName.isEmpty() || finalName.size() > 255)
            return bdNamErr;
        parent_ = parent.path;
        finalName_ = finalName.toStdString();
        if (StatPathNoFollow(parent_ + "/" + finalName_, nullptr) == 0)
            return dupFNErr;
        OSErr err = noErr;
        for (int attempt = 0; attempt < 16; ++attempt) {
            if ((err = MakeTemporaryOutputName(parent_, &temporaryName_)))
                return err;
            FSSpec folder;
            err = CreateDirectoryUnicode(&parent, QString::fromStdString(temporaryName_), nullptr, &folder, nullptr);
            if (err == dupFNErr)
                continue;
            if (err)
                return err;
            path_ = FSSpecPath(folder);
            if (!lock_.HoldFolder(path_)) {
                // Taken away before it could be held.
                path_.clear();
                return fnfErr;
            }
            return noErr;
        }
        return err;
    }

    const std::string& Path() const { return path_; }

    // Gives the folder the input's name; -48 when that name was taken
    // meanwhile (the folder is then removed).  Only the folder made here,
    // holding only the region files written into it, is published (another
    // program may have put something in its place or in it).
    SInt16 Publish()
    {
        const std::string finalPath = parent_ + "/" + finalName_;
        OSErr err = CheckMadeFolder(path_, lock_);
        if (!err)
            err = RenameNoReplace(path_, finalPath);
        if (err)
            return err;
        // Its files are done with.
        LetGoOfMadeFile(finalPath);
        CreatedFilesListRenameFolder(QString::fromStdString(temporaryName_), QString::fromStdString(finalName_));
        path_.clear();
        lock_.Release();
        return noErr;
    }

    // Removes the folder with what was written into it (only while its
    // name holds the folder made here: one another program put in its
    // place is left alone).
    void Discard()
    {
        if (path_.empty())
            return;
        if (lock_.HeldAt(path_))
            DeleteFolderTree(path_);
        else
            LetGoOfMadeFile(path_);
        path_.clear();
        lock_.Release();
    }

private:
    std::string parent_;
    std::string finalName_;
    std::string temporaryName_;
    std::string path_;
    FileLockHolder lock_;
};

// Creates one region's output in `folder` under the region's name (a split
// set's from its left member's).
SInt16 CreateRegionOutput(const PipelineRoute& route, const OutputSettings& s, CSoundFile* in, CConvSpec* spec,
                          const std::string& folder, const std::string& name, OutputPtr* out)
{
    const OutputContextScope context(ContextFor(*spec, false));
    SInt16 err = NewOutputObject(route, s, out);
    if (err)
        return err;
    FSSpec target;
    target.parent = folder;
    target.name = name;
    if (route.layout == OutputLayout::SplitStereoSet)
        target.name += ".L";
    return CreateOutputAt(route, s, in, spec, target, false, out->get());
}

// One run of stage sets 8 to 11 on one route.
struct ExtractionRun : RouteRun {
    // In stage set 11 the resampling pass applies the treatment while it
    // writes the work file; the gain pass then only widens a mono input.
    int gainVariant = 0;
    PipelineRangePass rangePass = nullptr;
    PipelinePass stripPass = nullptr;
    OutputSettings settings;
    int encodeFlag = 0;
    bool ownKept = false;
    const char* stepText = "Extracting regions";
    double rateRatio = 0.0;
    InputFolder folder;  // the input's folder, once created

    ExtractionRun(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in,
                  CConvSpec* spec)
        : RouteRun(stageSet, owner, route, in, spec)
    {
    }

    // The passes of `variant` from the table; false when one is missing.
    bool ChoosePasses(const PipelinePassTable& passes, int variant)
    {
        gainVariant = resample ? (route.pass == ChannelPass::MonoToStereo ? 1 : 0) : variant;
        if (gain)
            rangePass = passes.gainRange[gainVariant];
        else if (resample)
            rangePass = passes.resampleRange[variant];
        if (resample && gain)
            stripPass = passes.resample[1][route.pass == ChannelPass::MonoToStereo ? 0 : variant];
        return !((resample || gain) && !rangePass) && !(resample && gain && !stripPass) &&
               !(gain && !HasScan(passes));
    }

    void Prepare()
    {
        settings = SettingsFor(stageSet, route, in, spec);
        encodeFlag = TypeNeedsEncodingOnClose(settings.type) ? 1 : 0;
        ownKept = owner == NoChannelTreat && route.layout == OutputLayout::Kept;
        if (gain)
            stepText = "Dynamics/gain processing";
        else if (resample)
            stepText = "Sample rate conversion";
        else if ((owner == NoChannelTreat || owner == ForceInterleavedStereo) &&
                 route.layout != OutputLayout::SurroundSet)
            stepText = "Copying/format change";
        rateRatio = in->GetSampleRate() > 0.0 ? spec->SampleRate() / in->GetSampleRate() : 0.0;
    }

    void PostText(int flag) const
    {
        if (resample && !gain)
            PostStepWithValue(stepText, rateRatio, flag);
        else
            PostStep(stepText, flag);
    }

    SInt16 CreateFolder() { return folder.Create(spec); }
};

// Stage set 11: the input's region blocks resampled into the work file
// once, which is scanned; its regions are then gained one by one.
SInt16 PrepareResampledRegions(ExtractionRun& r, WorkFile& work)
{
    SInt16 err = noErr;
    if ((err = work.Create(r.spec, r.in, r.route.pass)))
        return err;
    PostProgressNumSteps((r.decodes ? 1 : 0) + 3);
    if ((err = r.Decode()))
        return err;
    PostStep("Sample rate conversion");
    if ((err = Narrow(r.stripPass(r.in, work.get(), r.spec))))
        return err;
    PostStep("Scanning file");
    if ((err = Narrow(RunScan(PassTable(), work.get(), r.gainVariant, r.spec))))
        return err;
    if ((err = r.CreateFolder()))
        return err;
    r.PostText(r.encodeFlag);
    return noErr;
}

// Stage sets 8 to 10: the input's regions are read from the input itself
// (scanned first when gained).
SInt16 PrepareInputRegions(ExtractionRun& r)
{
    const int stageSet = r.stageSet;
    const bool folderFirst = (stageSet != kStageExtractGain && !(stageSet == kStageExtract && r.ownKept)) ||
                             (stageSet == kStageExtractGain && r.ownKept);
    SInt16 err = noErr;
    if (folderFirst && (err = r.CreateFolder()))
        return err;
    PostProgressNumSteps((r.decodes ? 1 : 0) + (r.gain ? 2 : 1));
    if ((err = r.Decode()))
        return err;
    if (!folderFirst && !r.gain && (err = r.CreateFolder()))
        return err;
    if (r.gain) {
        PostStep("Scanning file");
        if ((err = Narrow(RunScan(PassTable(), r.in, r.gainVariant, r.spec))))
            return err;
        if (!folderFirst && (err = r.CreateFolder()))
            return err;
    }
    r.PostText(r.encodeFlag);
    return noErr;
}

// Region `index` of `source` into a file of its own, closed before the next.
SInt16 WriteRegion(const ExtractionRun& r, CSoundFile* source, int index, const SampleCopySettings& copy,
                   const FadeSettings& fades)
{
    r.PostText(0);
    SFTRegion region;
    SInt16 err = noErr;
    if ((err = source->GetRegion(UInt16(index), &region)))
        return err;
    Str255 regionName = {0};
    regionName[0] = std::min<UInt8>(region.name[0], sizeof(region.name) - 1);
    std::memcpy(regionName + 1, region.name + 1, regionName[0]);
    PostProgressRegion(regionName, region.start, region.end, index, r.in->GetNumRegions());

    OutputPtr out;
    if ((err = CreateRegionOutput(r.route, r.settings, r.in, r.spec, r.folder.Path(), RegionFileName(region, index),
                                  &out)))
        return err;
    // A region reaching beyond the source is cut at its end.
    const UInt32 end = std::min<UInt32>(region.end, source->GetNumFrames());
    const UInt32 start = std::min<UInt32>(region.start, end);
    if (r.rangePass)
        err = Narrow(r.rangePass(source, out.get(), start, end, r.spec));
    else
        err = Narrow(RunCopyRangePass(r.route.pass, source, out.get(), start, end, copy));
    if (err)
        return err;
    if (r.stageSet == kStageExtractSRC && r.owner == SplitChannels)
        PostProgressNumSampleFrames(out->GetNumFrames());
    if ((err = Narrow(ApplyFades(out.get(), fades))))
        return err;
    return out.release()->CloseAndDelete(true);
}

// Stage sets 8 to 11 on one route.
SInt16 RunExtraction(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in,
                     CConvSpec* spec)
{
    const int variant = Variant(route.pass);
    if (variant < 0)
        return paramErr;
    ExtractionRun r(stageSet, owner, route, in, spec);
    const bool available = r.ChoosePasses(PassTable(), variant);
    if (in->GetNumRegions() == 0)
        return kNoRegionsToCompactErr;
    if (!available) {
        QM_TRACE("Run", "the passes of stage set " << stageSet << " are not available");
        return paramErr;
    }
    r.Prepare();

    WorkFile work;
    CSoundFile* source = in;
    SInt16 err = noErr;
    if (stageSet == kStageExtractSRCGain) {
        err = PrepareResampledRegions(r, work);
        source = work.get();
    } else {
        err = PrepareInputRegions(r);
    }
    if (err)
        return err;

    const SampleCopySettings copy = SampleCopySettingsFrom(*spec);
    const FadeSettings fades = FadeSettingsFrom(*spec);
    const int count = source->GetNumRegions();
    for (int i = 0; i < count && err == noErr; ++i)
        err = WriteRegion(r, source, i, copy, fades);
    if (err)
        return err;  // the folder goes with the run
    return r.folder.Publish();
}

} // namespace

PipelinePassTable DefaultPipelinePasses()
{
    return KernelPipelinePasses();
}

const PipelinePassTable& GetPipelinePasses()
{
    return PassTable();
}

void SetPipelinePasses(const PipelinePassTable& table)
{
    PassTable() = table;
}

bool PipelineStageAvailable(int stageSet)
{
    if (stageSet < 0 || stageSet >= 12)
        return false;
    if (stageSet >= 8) {
        const bool resample = stageSet & 1;
        const bool gain = stageSet & 2;
        const PipelinePassTable& passes = PassTable();
        for (int v = 0; v < kNumPassVariants; ++v) {
            if (resample && !gain && !passes.resampleRange[v])
                return false;
            if (resample && gain && !passes.resample[1][v == 1 ? 0 : v])
                return false;
            if (gain && !passes.gainRange[resample ? (v == 1 ? 1 : 0) : v])
                return false;
        }
        return !gain || HasScan(passes);
    }
    const bool resample = stageSet & 1;
    const bool gain = stageSet & 2;
    const bool strip = stageSet & 4;
    const PipelinePassTable& passes = PassTable();
    for (int v = 0; v < kNumPassVariants; ++v) {
        if (resample && !passes.resample[strip][gain && v == 1 ? 0 : v])
            return false;
        if (gain && !passes.gain[strip && !resample][resample ? (v == 1 ? 1 : 0) : v])
            return false;
    }
    return !gain || HasScan(passes);
}

SInt16 RunPipelineStage(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in,
                        CConvSpec* spec)
{
    if (!in || !spec || route.action != RouteAction::Own || stageSet < 0)
        return paramErr;
    if (stageSet >= 8)
        return RunExtraction(stageSet, owner, route, in, spec);
    return RunStage(stageSet, owner, route, in, spec);
}
