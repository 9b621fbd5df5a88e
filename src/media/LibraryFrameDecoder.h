// The libraries' decoder of a track: it owns its codec context (opened
// again from the stream's parameters, which it keeps, at a restart), the
// frame it decodes into and the packet it makes of bytes no demuxer read.
// A frame that fails its checksum is refused (FLAC's, AC-3's always, MPEG
// audio's where the stream protects its frames; a Layer I frame's checksum
// is checked here, before the decoder).
#pragma once

#include "CodecTraits.h"
#include "FrameDecoder.h"

#include <memory>

struct AVCodecContext;
struct AVCodecParameters;
struct AVPacket;
struct AVStream;

class LibraryFrameDecoder : public FrameDecoder {
public:
    // The decoder of the track `st`, opened as `plan` says.
    static OSErr Open(const AVStream* st, const DecoderPlan& plan, std::unique_ptr<LibraryFrameDecoder>* out);
    ~LibraryFrameDecoder() override;
    LibraryFrameDecoder(const LibraryFrameDecoder&) = delete;
    LibraryFrameDecoder& operator=(const LibraryFrameDecoder&) = delete;

    int Send(const Packet& packet) override;
    void SendEnd() override;
    int Receive(AVFrame** frame) override;
    void Flush() override;
    OSErr Restart() override;
    void PlanRestart(const DecoderPlan& plan) override { plan_ = plan; }
    void TrimNothing() override;

    // The opened decoder (its channels, rate, frame size and sample format
    // describe the track).
    const AVCodecContext* Context() const { return codec_; }

private:
    LibraryFrameDecoder() = default;
    OSErr OpenContext();

    AVCodecParameters* parameters_ = nullptr;
    int timeBaseNum_ = 0;
    int timeBaseDen_ = 1;
    CodecTraits traits_;
    DecoderPlan plan_;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* bytes_ = nullptr;
};
