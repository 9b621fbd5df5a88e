#include "PipelineFrame.h"

#include "CCodedFile.h"
#include "CConvSpec.h"
#include "CSoundFile.h"
#include "CSplitFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "FileOperations.h"
#include "MacRoman.h"
#include "OutputNaming.h"
#include "debug_trace.h"
#include "fades.h"
#include "progress_channel.h"
#include "sample_format_copy.h"

#include <memory>

namespace {

constexpr SInt16 kCreateSoundFileFailedErr = -22017;  // "CreateSoundfile failed (-22017)"
constexpr SInt16 kNoRegionsToCompactErr = -20000;     // "lacks regions to extract/compact"
constexpr OSType kSplitSetType = FOUR_CHAR_CODE("Splt");
constexpr OSType kSurroundSetType = FOUR_CHAR_CODE("Srnd");

// The output object until CloseAndDelete takes it.
struct OutputDeleter {
    void operator()(CSoundFile* file) const
    {
        if (file)
            file->CloseAndDelete(false);
    }
};
using OutputPtr = std::unique_ptr<CSoundFile, OutputDeleter>;

void PostStep(const char* text)
{
    Str255 pascal = {0};
    MacRoman::toPascal(QString::fromLatin1(text), pascal, 255);
    PostProgressStep(pascal, 0);
}

// The output folder's specification names the folder either by its path
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
    bool setConfiguration = true;
    double rate = 0.0;
};

OutputSettings SettingsFor(const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    OutputSettings s;
    s.type = spec->NeedsStrictFileType() ? spec->OutputFileType() : in->GetFileType();
    s.bits = spec->NeedsNewWordLength() ? spec->WordLength() : in->GetNumBits();
    s.rate = in->GetSampleRate();
    switch (route.layout) {
    case OutputLayout::Kept:
    case OutputLayout::SurroundSet:
        s.channels = in->GetNumChannels();
        s.configuration = in->GetChannelConfiguration();
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
    return s;
}

// Creates the output of `route` under its temporary name; *out is set once
// the object exists (so that a failure closes it).
SInt16 CreateOutput(const PipelineRoute& route, const OutputSettings& s, CSoundFile* in, CConvSpec* spec,
                    OutputPtr* out, bool* namingFailed = nullptr)
{
    CSoundFile* file = nullptr;
    switch (route.layout) {
    case OutputLayout::SplitStereoSet:
        file = CreateSoundFileObject(kSplitSetType, s.type);
        break;
    case OutputLayout::SurroundSet:
        file = CreateSoundFileObject(kSurroundSetType, s.type);
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
        return kCreateSoundFileFailedErr;
    out->reset(file);

    FSSpec target = OutputSpec(*spec, "");
    const bool isSet = route.layout == OutputLayout::SplitStereoSet || route.layout == OutputLayout::SurroundSet;
    OSErr err = noErr;
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
        return kCreateSoundFileFailedErr;
    if (route.layout == OutputLayout::SurroundSet) {
        // The members are named from the set's name less its left indicator.
        target.name += ".L";
        err = static_cast<CSurroundFile*>(file)->MakeChannelFiles(&target, in->GetChannelConfiguration(),
                                                                  in->GetNumChannels());
    } else {
        err = file->SetFile(&target);
    }
    if (err) {
        if (namingFailed)
            *namingFailed = true;
        return err;
    }
    if (s.setConfiguration && route.layout != OutputLayout::SurroundSet)
        file->SetChannelConfiguration(s.configuration);

    Str255 extension = {0};
    spec->GetNameExtension(extension);
    return file->Create(s.channels, s.bits, 0, spec->FileTypeSpecifics(), extension, float(s.rate));
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

PipelinePassTable& PassTable()
{
    static PipelinePassTable table = DefaultPipelinePasses();
    return table;
}

void PostStepWithValue(const char* text, double value)
{
    Str255 pascal = {0};
    MacRoman::toPascal(QString::fromLatin1(text), pascal, 255);
    PostProgressStepWithValue(pascal, 0, value);
}

// The work file of the stage sets that resample and then gain: a 32-bit
// 'Temp' file at the conversion's rate under a unique name in the output
// folder.  It is closed and removed when the pipeline ends, however it ends.
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

    SInt16 Create(CConvSpec* spec, UInt16 channels, SInt32 configuration)
    {
        file_ = CreateSoundFileObject(kWorkFileType);
        if (!file_)
            return kCreateSoundFileFailedErr;
        const FSSpec folder = OutputSpec(*spec, "");
        std::string reserved;
        OSErr err = CreateUniqueFile(folder.parent, "TempFile-", "", &reserved);
        if (err)
            return err;
        DeletePath(reserved);
        FSSpec target = folder;
        target.name = reserved.substr(reserved.find_last_of('/') + 1);
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
    static constexpr OSType kWorkFileType = FOUR_CHAR_CODE("Temp");
    CSoundFile* file_ = nullptr;
    bool created_ = false;
};

// The direct-encode route of the plain copy without channel treatment: a
// coded output that takes its samples straight from a 16-bit Sound
// Designer II input when it is closed, instead of through the copy pass.
constexpr OSType kSoundDesignerIIType = FOUR_CHAR_CODE("Sd2f");

bool EncoderReadsInputItself(OSType outputType)
{
    // Coded outputs that need their linear audio handed to them.
    static constexpr OSType kExcluded[] = {
        FOUR_CHAR_CODE("DADP"), FOUR_CHAR_CODE("DMP3"), FOUR_CHAR_CODE("G729"), FOUR_CHAR_CODE("QTQD"),
        FOUR_CHAR_CODE("QTQP"), FOUR_CHAR_CODE("QTQ2"), FOUR_CHAR_CODE("QTPV"), FOUR_CHAR_CODE("QTAL"),
        FOUR_CHAR_CODE("QTUL"), FOUR_CHAR_CODE("QTIM"), FOUR_CHAR_CODE("QTM3"), FOUR_CHAR_CODE("A1t4"),
        FOUR_CHAR_CODE("QTM6"), FOUR_CHAR_CODE("Mp3 "), FOUR_CHAR_CODE("QTIF")};
    for (const OSType code : kExcluded) {
        if (outputType == code)
            return false;
    }
    return true;
}

bool TakesDirectEncodeRoute(CSoundFile* in, CConvSpec* spec)
{
    return spec->NeedsStrictFileType() && TypeNeedsEncodingOnClose(spec->OutputFileType()) &&
           in->GetNumBits() == 16 && in->GetFileType() == kSoundDesignerIIType && !spec->NeedsFades() &&
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
    OutputPtr out(CreateSoundFileObject(type));
    if (!out)
        return kCreateSoundFileFailedErr;
    // Recognised by its class: a type that only claims to encode on close
    // is not treated as a coded file.
    CCodedFile* coded = dynamic_cast<CCodedFile*>(out.get());
    if (!coded)
        return kCreateSoundFileFailedErr;

    FSSpec target = OutputSpec(*spec, "");
    SInt16 err = MakeTemporaryOutputName(target.parent, &target.name);
    if (err)
        return err;
    if ((err = out->SetFile(&target)))
        return err;
    out->SetChannelConfiguration(in->GetChannelConfiguration());
    const SInt16 bits = spec->NeedsNewWordLength() ? spec->WordLength() : in->GetNumBits();
    Str255 extension = {0};
    spec->GetNameExtension(extension);
    if ((err = coded->CreateLike(in, in->GetNumChannels(), bits, 0, spec->FileTypeSpecifics(), extension,
                                 float(in->GetSampleRate()))))
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

// Stage sets 0 to 7 on one route.
SInt16 RunStage(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    const bool resample = stageSet & 1;
    const bool gain = stageSet & 2;
    const bool strip = stageSet & 4;
    const int variant = Variant(route.pass);
    if (variant < 0)
        return paramErr;

    // The channel treatment is applied by the first pass that reads the
    // input; after resampling into the work file only the widening of a
    // mono input to stereo is left for the gain pass.
    const PipelinePassTable& passes = PassTable();
    PipelinePass resamplePass = nullptr;
    PipelinePass gainPass = nullptr;
    if (resample)
        resamplePass = passes.resample[strip][gain && route.pass == ChannelPass::MonoToStereo ? 0 : variant];
    if (gain) {
        const int gainVariant = resample ? (route.pass == ChannelPass::MonoToStereo ? 1 : 0) : variant;
        gainPass = passes.gain[strip && !resample][gainVariant];
    }

    if (strip && in->GetNumRegions() == 0)
        return kNoRegionsToCompactErr;
    if (stageSet == 0 && owner == NoChannelTreat && route.layout == OutputLayout::Kept && TakesDirectEncodeRoute(in, spec))
        return RunDirectEncode(in, spec);
    if ((resample && !resamplePass) || (gain && (!gainPass || !passes.scan))) {
        QM_TRACE("Run", "the passes of stage set " << stageSet << " are not available");
        return paramErr;
    }

    OutputSettings settings = SettingsFor(route, in, spec);
    if (resample)
        settings.rate = spec->SampleRate();
    if (stageSet != 0 && route.layout == OutputLayout::SplitStereoSet) {
        settings.setConfiguration = true;
        settings.configuration = in->GetChannelConfiguration();
    }
    const bool isSet = route.layout == OutputLayout::SplitStereoSet || route.layout == OutputLayout::SurroundSet;
    const bool decodes = TypeNeedsDecodingOnOpen(in->GetFileType());
    const bool encodes = TypeNeedsEncodingOnClose(settings.type);
    const int passCount = (resample ? 1 : 0) + (gain ? 2 : 0) + (resample || gain ? 0 : 1);
    const SampleCopySettings copySettings = SampleCopySettingsFrom(*spec);
    const FadeSettings fadeSettings = FadeSettingsFrom(*spec);

    OutputPtr out;
    WorkFile work;
    SInt16 err = noErr;
    auto decode = [&]() -> SInt16 { return decodes ? SInt16(in->PrepareRead(spec->OutputFolder())) : SInt16(noErr); };
    auto finish = [&]() -> SInt16 {
        err = Narrow(ApplyFades(out.get(), fadeSettings));
        if (err)
            return err;
        return out.release()->CloseAndDelete(true);
    };

    if (!gain) {
        // Copy, compacting copy or resampling straight into the output.  A
        // resampled set, and the compacted right channel, are created after
        // the step count and the decode (the latter also after its step text).
        const bool textFirst = strip && owner == RightOnly;
        const bool createFirst = !(resample && isSet) && !textFirst;
        if (createFirst && (err = CreateOutput(route, settings, in, spec, &out)))
            return err;
        PostProgressNumSteps((decodes ? 1 : 0) + (encodes ? 1 : 0) + passCount);
        if ((err = decode()))
            return err;
        auto postText = [&] {
            if (!resample)
                PostStep(strip ? "Compacting audio file" : "Copying/format change");
            else if (isSet && in->GetSampleRate() > 0.0)
                PostStepWithValue("Sample rate conversion", spec->SampleRate() / in->GetSampleRate());
            else
                PostStep("Sample rate conversion");
        };
        if (textFirst)
            postText();
        if (!createFirst && (err = CreateOutput(route, settings, in, spec, &out)))
            return err;
        if (!textFirst)
            postText();
        if (!resample) {
            err = Narrow(RunCopyPass(route.pass, strip, in, out.get(), copySettings));
            if (err)
                return err;
            return finish();
        }
        if ((err = Narrow(resamplePass(in, out.get(), spec))))
            return err;
        // Where the output's frame and channel counts are posted.
        const bool countsAfterFades = owner == ForceInterleavedStereo || (strip && isSet);
        if (countsAfterFades) {
            err = Narrow(ApplyFades(out.get(), fadeSettings));
            PostProgressNumSampleFrames(out->GetNumFrames());
            PostProgressNumChannels(out->GetNumChannels());
            if (err)
                return err;
            return out.release()->CloseAndDelete(true);
        }
        PostProgressNumSampleFrames(out->GetNumFrames());
        if (owner != SplitChannels || strip)
            PostProgressNumChannels(out->GetNumChannels());
        return finish();
    }

    // A failing set creation of the whole-file gain pipeline of treatment 0
    // reports the creation failure itself.
    auto createForGain = [&]() -> SInt16 {
        if (isSet)
            PostStep("Dynamics/gain processing");
        bool namingFailed = false;
        SInt16 created = CreateOutput(route, settings, in, spec, &out, &namingFailed);
        if (namingFailed && stageSet == 2 && owner == NoChannelTreat && route.layout == OutputLayout::SurroundSet)
            created = kCreateSoundFileFailedErr;
        if (created == noErr && !isSet)
            PostStep("Dynamics/gain processing");
        return created;
    };

    if (!resample) {
        PostProgressNumSteps((decodes ? 1 : 0) + (encodes ? 1 : 0) + passCount);
        if ((err = decode()))
            return err;
        PostStep("Scanning file");
        if ((err = Narrow(passes.scan(in, spec))))
            return err;
        if ((err = createForGain()))
            return err;
        if ((err = Narrow(gainPass(in, out.get(), spec))))
            return err;
        return finish();
    }

    // Resampling into the work file, then scan and gain from it.
    UInt16 workChannels = in->GetNumChannels();
    SInt32 workConfiguration = in->GetChannelConfiguration();
    if (route.pass == ChannelPass::MonoToStereo) {
        workChannels = 1;
        workConfiguration = kChannelConfigStereo;
    } else if (route.pass != ChannelPass::Same) {
        workChannels = 1;
        workConfiguration = kChannelConfigMono;
    }
    if ((err = work.Create(spec, workChannels, workConfiguration)))
        return err;
    PostProgressNumSteps((decodes ? 1 : 0) + (encodes ? 1 : 0) + passCount);
    if ((err = decode()))
        return err;
    PostStep("Sample rate conversion");
    if ((err = Narrow(resamplePass(in, work.get(), spec))))
        return err;
    PostProgressNumSampleFrames(work.get()->GetNumFrames());
    PostProgressNumChannels(work.get()->GetNumChannels());
    PostStep("Scanning file");
    if ((err = Narrow(passes.scan(work.get(), spec))))
        return err;
    if ((err = createForGain()))
        return err;
    if ((err = Narrow(gainPass(work.get(), out.get(), spec))))
        return err;
    return finish();
}

} // namespace

PipelinePassTable DefaultPipelinePasses()
{
    // The resampling, scanning and gain kernels are not in this build yet.
    return PipelinePassTable();
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
    if (stageSet < 0 || stageSet > 7)
        return false;
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
    return !gain || passes.scan;
}

SInt16 RunPipelineStage(int stageSet, ChannelTreatment owner, const PipelineRoute& route, CSoundFile* in,
                        CConvSpec* spec)
{
    if (!in || !spec || route.action != RouteAction::Own || stageSet < 0)
        return paramErr;
    if (stageSet > 7) {
        QM_TRACE("Run", "region extraction is not available");
        return paramErr;
    }
    return RunStage(stageSet, owner, route, in, spec);
}
