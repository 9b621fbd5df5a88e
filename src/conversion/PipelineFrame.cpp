#include "PipelineFrame.h"

#include "CConvSpec.h"
#include "CSoundFile.h"
#include "CSurroundFile.h"
#include "CreateSoundFile.h"
#include "FileManager.h"
#include "MacRoman.h"
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
const char* const kTemporaryOutputName = ".QuillOutFile";
const char* const kSurroundTemporaryOutputName = ".QuillOutFile.L";

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
                    OutputPtr* out)
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

    OSErr err = noErr;
    if (route.layout == OutputLayout::SurroundSet) {
        const FSSpec target = OutputSpec(*spec, kSurroundTemporaryOutputName);
        err = static_cast<CSurroundFile*>(file)->MakeChannelFiles(&target, in->GetChannelConfiguration(),
                                                                  in->GetNumChannels());
    } else {
        const FSSpec target = OutputSpec(*spec, kTemporaryOutputName);
        err = file->SetFile(&target);
    }
    if (err)
        return err;
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

// Stage set 0: the whole input copied into the output.  Stage set 4: the
// input's region blocks (with their margins) copied back to back; an input
// without regions gives -20000 before anything is made.
SInt16 RunCopyStage(bool strip, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    if (strip && in->GetNumRegions() == 0)
        return kNoRegionsToCompactErr;

    OutputSettings settings = SettingsFor(route, in, spec);
    if (strip && route.layout == OutputLayout::SplitStereoSet) {
        settings.setConfiguration = true;
        settings.configuration = in->GetChannelConfiguration();
    }
    OutputPtr out;
    SInt16 err = CreateOutput(route, settings, in, spec, &out);
    if (err)
        return err;  // the deleter closes what exists, as a failure

    const bool decodes = TypeNeedsDecodingOnOpen(in->GetFileType());
    const bool encodes = TypeNeedsEncodingOnClose(settings.type);
    PostProgressNumSteps((decodes ? 1 : 0) + (encodes ? 1 : 0) + 1);
    if (decodes) {
        err = in->PrepareRead(spec->OutputFolder());
        if (err)
            return err;
    }

    PostStep(strip ? "Compacting audio file" : "Copying/format change");
    err = Narrow(RunCopyPass(route.pass, strip, in, out.get(), SampleCopySettingsFrom(*spec)));
    if (err == noErr)
        err = Narrow(ApplyFades(out.get(), FadeSettingsFrom(*spec)));
    if (err)
        return err;

    return out.release()->CloseAndDelete(true);
}

} // namespace

bool PipelineStageAvailable(int stageSet)
{
    return stageSet == 0 || stageSet == 4;
}

SInt16 RunPipelineStage(int stageSet, const PipelineRoute& route, CSoundFile* in, CConvSpec* spec)
{
    if (!in || !spec || route.action != RouteAction::Own)
        return paramErr;
    if (stageSet == 0 || stageSet == 4)
        return RunCopyStage(stageSet == 4, route, in, spec);
    return paramErr;
}
