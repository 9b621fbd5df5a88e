// The channel labels of the media libraries' layouts.
#pragma once

#include "MacTypes.h"

#include <cstdint>
#include <vector>

#include <libavutil/channel_layout.h>

namespace movie_input {

std::vector<UInt32> LabelsForLayout(const AVChannelLayout& layout);

// The labels of a layout in the libraries' native order: its speakers in
// the order of their bits (LabelsForLayout, without the libraries).
std::vector<UInt32> LabelsForMask(uint64_t mask);

// The layouts the libraries give a FLAC stream of 1 to 8 channels that
// names none of its own.
constexpr uint64_t kFlacLayouts[8] = {AV_CH_LAYOUT_MONO,    AV_CH_LAYOUT_STEREO,  AV_CH_LAYOUT_SURROUND,
                                      AV_CH_LAYOUT_QUAD,    AV_CH_LAYOUT_5POINT0, AV_CH_LAYOUT_5POINT1,
                                      AV_CH_LAYOUT_6POINT1, AV_CH_LAYOUT_7POINT1};

} // namespace movie_input
