// A native FLAC file's packets decoded by libFLAC where each is one whole
// frame (FlacFrameDecoder), and by the libraries' decoder where libFLAC
// refuses one, as they would had the file been opened through them: a
// decoder that holds the two.  A file opened without the libraries has
// their decoder opened at the first frame libFLAC refuses, where the
// reading stands; where it cannot be, the frame is refused.
#pragma once

#include "FlacFrameDecoder.h"
#include "FrameDecoder.h"
#include "LibraryFrameDecoder.h"

#include "MediaLibraries.h"

#include <memory>
#include <string>

class FlacFallbackDecoder : public FrameDecoder {
public:
    // libFLAC's decoder (open) before `libraries` (null: opened from the
    // file at `path` when first needed, as `plan` says).
    FlacFallbackDecoder(std::unique_ptr<FlacFrameDecoder> flac, std::unique_ptr<LibraryFrameDecoder> libraries,
                        std::string path, const DecoderPlan& plan);

    int Send(const Packet& packet) override;
    void SendEnd() override;
    int Receive(AVFrame** frame) override;
    void Flush() override;
    void Reset() override { state_ = State::None; }
    OSErr Restart() override;
    void PlanRestart(const DecoderPlan& plan) override;
    void TrimNothing() override;
    bool WithoutLibraries() const override { return !libraries_; }

private:
    // Opens the libraries' decoder; false, and nothing changed, where it
    // cannot be opened.
    bool Attach();
    // The frame libFLAC decoded last, into `frame_` (its samples stay
    // libFLAC's until the next packet).
    void TakeFrame();

    std::unique_ptr<FlacFrameDecoder> flac_;
    std::unique_ptr<LibraryFrameDecoder> libraries_;
    std::string path_;
    DecoderPlan plan_;
    AVFrame frame_{};
    // Where the packet sent last stands: its frame to give, given, or not
    // decoded by libFLAC.
    enum class State { None, Ready, Given } state_ = State::None;
};
