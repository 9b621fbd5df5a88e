#include "FlacFallbackDecoder.h"

#include "DemuxerPackets.h"

FlacFallbackDecoder::FlacFallbackDecoder(std::unique_ptr<FlacFrameDecoder> flac,
                                         std::unique_ptr<LibraryFrameDecoder> libraries, std::string path,
                                         const DecoderPlan& plan)
    : flac_(std::move(flac)), libraries_(std::move(libraries)), path_(std::move(path)), plan_(plan)
{
}

int FlacFallbackDecoder::Send(const Packet& packet)
{
    state_ = State::None;
    if (flac_->Decode(packet.data, std::size_t(packet.size))) {
        TakeFrame();
        return 0;
    }
    // What libFLAC refused goes to the FFmpeg decoder, as the demuxer's
    // packet would.
    if (!libraries_ && !Attach())
        return AVERROR_INVALIDDATA;
    return libraries_->Send(packet);
}

void FlacFallbackDecoder::SendEnd()
{
    if (libraries_)
        libraries_->SendEnd();
}

int FlacFallbackDecoder::Receive(AVFrame** frame)
{
    if (state_ == State::None)
        return libraries_ ? libraries_->Receive(frame) : AVERROR(EAGAIN);
    const bool ready = state_ == State::Ready;
    state_ = ready ? State::Given : State::None;
    *frame = &frame_;
    return ready ? 0 : AVERROR(EAGAIN);
}

void FlacFallbackDecoder::Flush()
{
    if (libraries_)
        libraries_->Flush();
}

OSErr FlacFallbackDecoder::Restart()
{
    return libraries_ ? libraries_->Restart() : noErr;
}

void FlacFallbackDecoder::PlanRestart(const DecoderPlan& plan)
{
    plan_ = plan;
    if (libraries_)
        libraries_->PlanRestart(plan);
}

void FlacFallbackDecoder::TrimNothing()
{
    if (libraries_)
        libraries_->TrimNothing();
}

bool FlacFallbackDecoder::Attach()
{
    if (!MediaLibraries::Available())
        return false;
    std::unique_ptr<DemuxerPackets> input;
    std::unique_ptr<LibraryFrameDecoder> libraries;
    if (DemuxerPackets::Open(path_, &input) != noErr || LibraryFrameDecoder::Open(input->Stream(), plan_, &libraries) != noErr)
        return false;
    libraries_ = std::move(libraries);
    return true;
}

void FlacFallbackDecoder::TakeFrame()
{
    frame_ = AVFrame{};
    frame_.format = AV_SAMPLE_FMT_S32P;
    frame_.nb_samples = int(flac_->Samples());
    frame_.sample_rate = int(flac_->Rate());
    frame_.ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    frame_.ch_layout.nb_channels = int(flac_->Channels());
    for (unsigned c = 0; c < flac_->Channels(); ++c) {
        frame_.data[c] = reinterpret_cast<uint8_t*>(flac_->Plane(c));
        frame_.linesize[c] = int(flac_->Samples() * sizeof(int32_t));
    }
    frame_.extended_data = frame_.data;
    state_ = State::Ready;
}
