#include "PreConversionCheck.h"

#include "CConvSpec.h"
#include "ConvSpec.h"
#include "CSoundFile.h"
#include "FileManager.h"
#include "error_table.h"
#include "OutputCapabilities.h"
#include "PipelineRoutes.h"
#include "region_walk.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr SInt64 kVOCDataOffsetPosition = 20;

// Sound (1, and 9 of the newer header form), continuation, silence and
// repeat blocks: a file with two of them is read only up to the first.
bool IsDataBlock(UInt8 type)
{
    return type == 1 || type == 2 || type == 3 || type == 6 || type == 9;
}

// Walks the blocks from the current state of the fork.
SInt16 CountBlocks(SInt16 refNum)
{
    OSErr err = SetFPos(refNum, fsFromStart, kVOCDataOffsetPosition);
    if (err == noErr) {
        UInt8 offset[2] = {0, 0};
        SInt32 count = 2;
        err = FSRead(refNum, &count, offset);
        if (err == noErr)
            err = SetFPos(refNum, fsFromStart, SInt64(offset[0]) | (SInt64(offset[1]) << 8));
    }
    int blocks = 0;
    while (err == noErr) {
        UInt8 header[4] = {0, 0, 0, 0};
        SInt32 count = 4;
        err = FSRead(refNum, &count, header);
        if (err != noErr)
            break;
        if (IsDataBlock(header[0]) && ++blocks >= 2)
            return kFragmentedVOCInputErr;
        const SInt64 length = SInt64(header[1]) | (SInt64(header[2]) << 8) | (SInt64(header[3]) << 16);
        err = SetFPos(refNum, fsFromMark, length);
    }
    if (blocks >= 2)
        return kFragmentedVOCInputErr;
    return err == eofErr ? SInt16(noErr) : SInt16(err);
}

SInt16 CountInputBlocks(CSoundFile* in)
{
    if (in->GetRefNum() != 0)
        return CountVOCDataBlocks(in->GetRefNum());
    FSSpec spec;
    in->GetFSSpec(&spec);
    SInt16 refNum = 0;
    OSErr err = FSpOpenDF(&spec, fsRdPerm, &refNum);
    if (err != noErr)
        return err;
    const SInt16 result = CountBlocks(refNum);
    FSClose(refNum);
    return result;
}

bool Exceeds(double frames, double ratio, UInt16 channels, SInt16 bits, double blockBytes)
{
    const double bytes = frames * ratio * double(channels) * double(std::max<SInt16>(bits, 0)) / 8.0;
    return bytes > blockBytes;
}

// The line of a refusal: the code's message and the code, then what does
// not fit.
QString RefusalLine(SInt16 code, const QString& detail)
{
    return QStringLiteral("%1 (%2): %3")
        .arg(QString::fromStdString(LookupErrorMessage(code).message))
        .arg(code)
        .arg(detail);
}

// The output files as the checks estimate them: the type's capabilities,
// the treatment and route the pipeline takes, the channels of each file
// and the word length.
struct OutputEstimate {
    OutputCapabilities caps;
    SInt32 treatment = 0;
    PipelineRoute route;
    UInt16 channels = 0;
    SInt16 bits = 0;
};

OutputEstimate EstimateOutput(CSoundFile* in, CConvSpec* spec)
{
    OutputEstimate out;
    out.caps = GetOutputCapabilities(spec->OutputFileTypeFor(in));
    // Channels of each output file, as the pipeline's route makes them (the
    // stereo modes of a type that takes one make interleaved stereo).
    out.treatment = spec->NeedsChannelTreat() ? spec->GetConvSpec()->channelTreat() : 0;
    if (out.caps.takesStereoMode && IsStereoModeTreatment(out.treatment))
        out.treatment = ForceInterleavedStereo;
    out.route = ResolvePipelineRoute(out.treatment, in->GetChannelKind(), nullptr, out.caps.splitStereoSet);
    out.channels = RouteChannelsPerFile(out.route, in->GetNumChannels());
    if (out.channels == 0)
        out.channels = in->GetNumChannels();
    out.bits = spec->NeedsNewWordLength() ? spec->WordLength() : in->GetNumBits();
    return out;
}

// The channel treatments (1 to 5) that would make files the type holds
// from this input: the pipeline has a route for the input's channels, and
// each file it makes has a channel count the type holds.
QList<SInt32> FittingTreatments(CSoundFile* in, const OutputCapabilities& caps)
{
    QList<SInt32> fitting;
    for (SInt32 t = ForceInterleavedStereo; t <= RightOnly; ++t) {
        const PipelineRoute route = ResolvePipelineRoute(t, in->GetChannelKind(), nullptr, caps.splitStereoSet);
        if (route.action == RouteAction::NoRoute)
            continue;
        UInt16 channels = RouteChannelsPerFile(route, in->GetNumChannels());
        if (channels == 0)
            channels = in->GetNumChannels();
        if (caps.holdsChannels(channels))
            fitting.append(t);
    }
    return fitting;
}

// What a treatment that names its channels says of an input with more.
QString NoRouteDetail(const OutputCapabilities& caps, const QList<SInt32>& fitting, SInt32 treatment,
                      UInt16 inputChannels)
{
    // In the words of the log's description of the conversion.
    const bool takesStereo = treatment == MixToMono || treatment == LeftOnly || treatment == RightOnly;
    return QStringLiteral("this conversion changes the number of channels by %1, which %2, and this input has %3 "
                          "channels; %4")
        .arg(ConvSpec::channelTreatmentPhrase(treatment),
             takesStereo ? QStringLiteral("takes stereo input") : QStringLiteral("makes stereo"))
        .arg(inputChannels)
        .arg(fitting == QList<SInt32>{SplitChannels}
                 ? QStringLiteral("%1 would write each channel to a mono file of its own")
                       .arg(ConvSpec::channelTreatmentPhrase(SplitChannels))
                 : ChannelAdvice(caps, fitting, inputChannels));
}

// A change of rate beyond what the converters take; *ratio gets the output
// frames per input frame.
SInt16 CheckRateChange(CSoundFile* in, CConvSpec* spec, double* ratio)
{
    *ratio = 1.0;
    const double inRate = in->GetSampleRate();
    if (!spec->NeedsSampleRateConversion() || spec->SampleRate() == inRate)
        return noErr;
    if (!SampleRateUsable(spec->SampleRate()))
        return kIncompatibleSampleRateErr;
    *ratio = spec->SampleRate() / inRate;
    if (*ratio > kMaxRateChange || *ratio < 1.0 / kMaxRateChange)
        return kIncompatibleSampleRateErr;
    return noErr;
}

// The frames of the longest region (0 without one).
UInt32 LongestRegionFrames(CSoundFile* in)
{
    UInt32 longest = 0;
    for (UInt16 i = 0; i < in->GetNumRegions(); ++i) {
        SFTRegion region;
        if (in->GetRegion(i, &region) == noErr && region.end > region.start)
            longest = std::max(longest, region.end - region.start);
    }
    return longest;
}

// An output whose header cannot describe its size.
SInt16 CheckOutputSize(CSoundFile* in, CConvSpec* spec, const OutputEstimate& out, double ratio)
{
    const double limit = out.caps.maxSoundBytes;
    if (limit <= 0.0)
        return noErr;
    const double frames = spec->NeedsExtraction() ? double(LongestRegionFrames(in)) : double(in->GetNumFrames());
    const SInt16 outBits =
        out.caps.storedBits > 0 ? out.caps.storedBits : SInt16((std::max<SInt16>(out.bits, 8) + 7) / 8 * 8);
    const double bytes = frames * ratio * double(out.channels) * double(outBits) / 8.0;
    return bytes > limit ? fsDataTooBigErr : noErr;
}

// The frames the compacting walk keeps, or the walk's error.
SInt32 KeptFrames(CSoundFile* in, double* kept)
{
    RegionWalkParams params;
    params.firstSearch = -1;
    params.margin = MarginFrames(1.0 / 1000.0, in->GetSampleRate());
    params.nextSearchOffset = 1;
    *kept = 0.0;
    return WalkRegionSpans(in, params, [kept](UInt32 a, UInt32 b) -> SInt32 {
        *kept += double(b - a);
        return 0;
    });
}

// The longest region through every region's record, or the first error.
OSErr LongestRegionChecked(CSoundFile* in, UInt32* longest)
{
    *longest = 0;
    const UInt16 count = in->GetNumRegions();
    for (UInt16 i = 0; i < count; ++i) {
        SFTRegion region;
        const OSErr err = in->GetRegion(i, &region);
        if (err != noErr)
            return err;
        if (region.end > region.start)
            *longest = std::max(*longest, region.end - region.start);
    }
    return noErr;
}

// A type whose sound lives in one data block: an input split over several
// is refused, and so is an output that would not fit one.  An input refusal
// is never replaced by a later one.
SInt16 CheckSoundBlock(CSoundFile* in, CConvSpec* spec, const OutputEstimate& out, double ratio)
{
    SInt16 result =
        GetOutputCapabilities(in->GetFileType()).soundBlockBytes > 0.0 ? CountInputBlocks(in) : SInt16(noErr);
    const double blockBytes = out.caps.soundBlockBytes;
    if (blockBytes <= 0.0)
        return result;
    auto exceeds = [&](double frames) { return Exceeds(frames, ratio, out.channels, out.bits, blockBytes); };

    if (spec->NeedsStrip()) {
        double kept = 0.0;
        const SInt32 err = KeptFrames(in, &kept);
        if (err != noErr) {
            if (result == noErr)
                result = SInt16(err);
        } else if (result == noErr && exceeds(kept)) {
            result = kFragmentedVOCOutputErr;
        }
    }

    if (spec->NeedsExtraction()) {
        if (result == noErr) {
            UInt32 longest = 0;
            result = LongestRegionChecked(in, &longest);
            if (result == noErr && exceeds(double(longest)))
                result = kFragmentedVOCOutputErr;
        }
    } else if (!spec->NeedsStrip() && result == noErr && exceeds(double(in->GetNumFrames()))) {
        result = kFragmentedVOCOutputErr;
    }
    return result;
}

} // namespace

bool SampleRateUsable(double rate)
{
    return std::isfinite(rate) && rate >= kMinUsableSampleRate && rate <= kMaxUsableSampleRate;
}

SInt16 CountVOCDataBlocks(SInt16 refNum)
{
    SInt64 mark = 0;
    const OSErr markErr = GetFPos(refNum, &mark);
    if (markErr != noErr)
        return markErr;
    const SInt16 result = CountBlocks(refNum);
    SetFPos(refNum, fsFromStart, mark);
    return result;
}

SInt16 CheckConversionLimits(CSoundFile* in, CConvSpec* spec, QString* reason)
{
    if (!in || !spec)
        return paramErr;
    const OutputEstimate out = EstimateOutput(in, spec);

    // A header whose rate (0, not a number, absurdly high) or channels
    // cannot describe its sound: refused for this file.
    if (const OSErr shape = in->CheckReadShape())
        return shape;
    // A treatment that names its channels, on an input of more: refused,
    // never written with the input's channels unchanged.
    if (out.route.action == RouteAction::NoRoute) {
        const SInt32 stored = spec->NeedsChannelTreat() ? spec->GetConvSpec()->channelTreat() : 0;
        if (reason && TreatmentOutputChannels(stored) > 0)
            *reason = RefusalLine(kIncompatibleChannelsErr, NoRouteDetail(out.caps, FittingTreatments(in, out.caps),
                                                                          stored, in->GetNumChannels()));
        return kIncompatibleChannelsErr;
    }
    double ratio = 1.0;
    if (const SInt16 err = CheckRateChange(in, spec, &ratio))
        return err;

    // A shape the output type cannot hold (its channel counts, the rates of
    // a type that does not record its rate or records only some, its word
    // lengths or bit rates): refused for this file, in the words and by the
    // rules of the conversions-file check for what the conversion alone
    // decides.  An input's own word length is no bit rate: a kept coded type
    // keeps its input's.
    const double outRate = spec->NeedsSampleRateConversion() ? spec->SampleRate() : in->GetSampleRate();
    const SInt16 bits = out.caps.wordLengthIsBitRate && !spec->NeedsNewWordLength() ? SInt16(0) : out.bits;
    const bool perChannel = spec->GetConvSpec()->bitRatePerChannel();
    if (const SInt16 err = CheckOutputShape(out.caps, out.channels, outRate, bits, perChannel)) {
        if (reason)
            *reason = RefusalLine(err, OutputShapeRefusal(out.caps, out.channels, outRate, bits,
                                                          FittingTreatments(in, out.caps), out.treatment,
                                                          in->GetNumChannels(), perChannel));
        return err;
    }
    // An output whose header cannot describe its size: refused before
    // anything is written.
    if (const SInt16 err = CheckOutputSize(in, spec, out, ratio))
        return err;
    return CheckSoundBlock(in, spec, out, ratio);
}
