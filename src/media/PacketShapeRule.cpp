#include "PacketShapeRule.h"

#include "RateChangeBridge.h"

void PacketShapeRule::Packet(const CodecTraits& codec, const uint8_t* data, int size)
{
    int packetRate = 0;
    int channelCount = 0;
    if (!RateChangeBridge::PacketShape(codec.syntax, data, size, &packetRate, &channelCount)) {
        run_ = 0;
        return;
    }
    if (firstRate_ == 0) {
        firstRate_ = packetRate;
        firstChannels_ = channelCount;
    }
    run_ = packetRate == runRate_ && channelCount == runChannels_ ? run_ + 1 : 1;
    runRate_ = packetRate;
    runChannels_ = channelCount;
    if (run_ >= kShapeRun) {
        rateChanges_ = rateChanges_ || packetRate != firstRate_;
        channelsChange_ = channelsChange_ || (channelCount != firstChannels_ && !codec.channelModeChanges);
    }
}
