#include "ChannelArrangement.h"

#include "CSoundFile.h"
#include "ChannelLabels.h"

#include <cstring>

namespace {

bool IsIdentity(const std::vector<int>& order)
{
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i] != int(i))
            return false;
    return true;
}

// The tags stored when the speakers are in mask order: those the media
// libraries read and write in exactly that order.
constexpr AudioChannelLayoutTag kStoredTags[] = {0x640001, 0x650002, 0x710003, 0x6C0004, 0x730004,
                                                 0x750005, 0x790006, 0x800008};

} // namespace

AudioChannelLayoutTag LayoutTagForConfiguration(SInt32 configuration, UInt32 channels)
{
    switch (configuration) {
    case kChannelConfigMono: return kAudioChannelLayoutTag_Mono;
    case kChannelConfigStereo: return kAudioChannelLayoutTag_Stereo;
    case kChannelConfigLCR: return kAudioChannelLayoutTag_AC3_3_0;
    case kChannelConfigQuad: return kAudioChannelLayoutTag_Quadraphonic;
    case kChannelConfigLCRS: return kAudioChannelLayoutTag_MPEG_4_0_B;
    case kChannelConfig5_0: return kAudioChannelLayoutTag_MPEG_5_0_B;
    case kChannelConfig5_1: return kAudioChannelLayoutTag_MPEG_5_1_A;
    case kChannelConfig6_0: return kAudioChannelLayoutTag_AudioUnit_6_0;
    case kChannelConfig6_1: return kAudioChannelLayoutTag_MPEG_6_1_A;
    case kChannelConfig7_1: return kAudioChannelLayoutTag_MPEG_7_1_B;
    case kChannelConfig10_2: return kAudioChannelLayoutTag_TMH_10_2_std;
    case kChannelConfigMultichannel: return kAudioChannelLayoutTag_DiscreteInOrder | (channels & 0xFFFF);
    default: return 0;
    }
}

ChannelArrangement ArrangementForChannelLabels(const std::vector<UInt32>& labels)
{
    ChannelArrangement arrangement;
    const UInt32 channels = UInt32(labels.size());
    std::vector<int> order;
    if (channels <= 2) {
        arrangement.configuration = channels == 2 ? kChannelConfigStereo : kChannelConfigMono;
        arrangement.layoutTag = LayoutTagForConfiguration(arrangement.configuration, channels);
        // A pair stored right first goes left first.
        if (channels == 2 && ChannelOrderForLabels(labels, ChannelLabelsForLayoutTag(arrangement.layoutTag), &order) &&
            !IsIdentity(order))
            arrangement.order = order;
        return arrangement;
    }
    arrangement.configuration = kChannelConfigMultichannel;
    for (SInt32 configuration = kChannelConfigLCR; configuration <= kChannelConfig7_1; ++configuration) {
        const AudioChannelLayoutTag tag = LayoutTagForConfiguration(configuration, channels);
        if ((tag & 0xFFFF) == channels && ChannelOrderForLabels(labels, ChannelLabelsForLayoutTag(tag), &order)) {
            arrangement.configuration = configuration;
            arrangement.layoutTag = tag;
            if (!IsIdentity(order))
                arrangement.order = order;
            return arrangement;
        }
    }
    // Speakers no configuration has: the file's own layout, in the order of
    // a known tag when one lists them.
    if (const AudioChannelLayoutTag own = LayoutTagForChannelLabels(labels)) {
        arrangement.layoutTag = own;
        return arrangement;
    }
    for (AudioChannelLayoutTag tag : KnownChannelLayoutTags()) {
        if ((tag & 0xFFFF) == channels && ChannelOrderForLabels(labels, ChannelLabelsForLayoutTag(tag), &order)) {
            arrangement.layoutTag = tag;
            arrangement.order = order;
            return arrangement;
        }
    }
    return arrangement;
}

StoredChannelLayout StoredLayoutForTag(AudioChannelLayoutTag memoryTag)
{
    StoredChannelLayout stored;
    stored.tag = memoryTag;
    const std::vector<UInt32> labels = ChannelLabelsForLayoutTag(memoryTag);
    std::vector<int> order;
    const UInt32 mask = labels.empty() ? 0 : SpeakerMaskForChannelLabels(labels, &order);
    if (mask == 0)
        return stored;
    std::vector<UInt32> inMaskOrder;
    for (int index : order)
        inMaskOrder.push_back(labels[std::size_t(index)]);
    if (!IsIdentity(order))
        stored.order = order;
    const AudioChannelLayoutTag tag = LayoutTagForChannelLabels(inMaskOrder);
    for (AudioChannelLayoutTag listed : kStoredTags) {
        if (listed == tag) {
            stored.tag = tag;
            return stored;
        }
    }
    // A bitmap's bits are the mask's (a rear pair beside the surround pair
    // takes the surround direct bits, as the mask's side pair does).
    stored.tag = kAudioChannelLayoutTag_UseChannelBitmap;
    stored.bitmap = mask;
    return stored;
}

void ArrangeFrames(UInt8* bytes, std::size_t frames, std::size_t sampleBytes, const std::vector<int>& source)
{
    const std::size_t channels = source.size();
    if (channels == 0 || sampleBytes == 0)
        return;
    std::vector<UInt8> frame(channels * sampleBytes);
    for (std::size_t f = 0; f < frames; ++f) {
        UInt8* p = bytes + f * channels * sampleBytes;
        std::memcpy(frame.data(), p, frame.size());
        for (std::size_t c = 0; c < channels; ++c)
            std::memcpy(p + c * sampleBytes, frame.data() + std::size_t(source[c]) * sampleBytes, sampleBytes);
    }
}

std::vector<int> InverseOrder(const std::vector<int>& order)
{
    std::vector<int> inverse(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        inverse[std::size_t(order[i])] = int(i);
    return inverse;
}
