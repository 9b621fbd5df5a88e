#include "library_channels.h"

#include "ChannelLabels.h"
#include "CoreAudioTypes.h"

#include <algorithm>

#include "media_calls.h"

namespace movie_input {

namespace {

// The label of one of the libraries' channels (see ChannelLabels.h for
// the surround pairs).
UInt32 LabelForChannel(AVChannel channel, bool hasBackPair)
{
    if (channel >= AV_CHAN_FRONT_LEFT && channel <= AV_CHAN_TOP_BACK_RIGHT)
        return ChannelLabelForSpeakerBit(unsigned(channel), hasBackPair);
    switch (channel) {
    case AV_CHAN_WIDE_LEFT: return kAudioChannelLabel_LeftWide;
    case AV_CHAN_WIDE_RIGHT: return kAudioChannelLabel_RightWide;
    case AV_CHAN_LOW_FREQUENCY_2: return kAudioChannelLabel_LFE2;
    default: return kAudioChannelLabel_Unknown;
    }
}

} // namespace

std::vector<UInt32> LabelsForLayout(const AVChannelLayout& layout)
{
    const int count = layout.nb_channels;
    std::vector<UInt32> labels;
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || count <= 0) {
        if (count == 1)
            labels = {kAudioChannelLabel_Center};
        else if (count == 2)
            labels = {kAudioChannelLabel_Left, kAudioChannelLabel_Right};
        else
            labels.assign(std::size_t(std::max(count, 0)), kAudioChannelLabel_Unknown);
        return labels;
    }
    const bool hasBackPair = av_channel_layout_index_from_channel(&layout, AV_CHAN_BACK_LEFT) >= 0 ||
                             av_channel_layout_index_from_channel(&layout, AV_CHAN_BACK_RIGHT) >= 0;
    for (int i = 0; i < count; ++i)
        labels.push_back(LabelForChannel(av_channel_layout_channel_from_index(&layout, unsigned(i)), hasBackPair));
    return labels;
}

std::vector<UInt32> LabelsForMask(uint64_t mask)
{
    const bool hasBackPair = (mask & (AV_CH_BACK_LEFT | AV_CH_BACK_RIGHT)) != 0;
    std::vector<UInt32> labels;
    for (int bit = 0; bit < 64; ++bit)
        if (mask & (uint64_t(1) << bit))
            labels.push_back(LabelForChannel(AVChannel(bit), hasBackPair));
    return labels;
}

} // namespace movie_input
