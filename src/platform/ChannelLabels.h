// Core Audio channel labels and layout tags, and the speaker masks of WAVE
// files and of the media libraries (the same bits): which speaker each
// channel of a layout is, and how one order of the same speakers maps to
// another.
//
// Speaker masks name two surround pairs, back and side; Core Audio layouts
// name surrounds (Ls Rs) and rear surrounds (Rls Rrs).  A mask's back pair
// is the surround pair; its side pair is the surround pair too when the mask
// has no back pair, else the rear pair.  So the 7.1 mask FL FR FC LFE BL BR
// SL SR is L R C LFE Ls Rs Rls Rrs, the order of the tag MPEG_7_1_C, as the
// media libraries themselves read and write that tag.
#pragma once

#include "CoreAudioTypes.h"
#include "MacTypes.h"

#include <cstddef>
#include <vector>

// Core Audio channel labels used here.
enum : UInt32 {
    kAudioChannelLabel_Unknown = 0xFFFFFFFF,
    kAudioChannelLabel_Left = 1,
    kAudioChannelLabel_Right = 2,
    kAudioChannelLabel_Center = 3,
    kAudioChannelLabel_LFEScreen = 4,
    kAudioChannelLabel_LeftSurround = 5,
    kAudioChannelLabel_RightSurround = 6,
    kAudioChannelLabel_LeftCenter = 7,
    kAudioChannelLabel_RightCenter = 8,
    kAudioChannelLabel_CenterSurround = 9,
    kAudioChannelLabel_LeftSurroundDirect = 10,
    kAudioChannelLabel_RightSurroundDirect = 11,
    kAudioChannelLabel_TopCenterSurround = 12,
    kAudioChannelLabel_VerticalHeightLeft = 13,
    kAudioChannelLabel_VerticalHeightCenter = 14,
    kAudioChannelLabel_VerticalHeightRight = 15,
    kAudioChannelLabel_TopBackLeft = 16,
    kAudioChannelLabel_TopBackCenter = 17,
    kAudioChannelLabel_TopBackRight = 18,
    kAudioChannelLabel_RearSurroundLeft = 33,
    kAudioChannelLabel_RearSurroundRight = 34,
    kAudioChannelLabel_LeftWide = 35,
    kAudioChannelLabel_RightWide = 36,
    kAudioChannelLabel_LFE2 = 37,
    kAudioChannelLabel_LeftTotal = 38,
    kAudioChannelLabel_RightTotal = 39,
};

// The layout tags that say "described otherwise".
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_UseChannelDescriptions = 0;
constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_UseChannelBitmap = 1u << 16;

// The channel labels of a Core Audio layout tag in order; empty for a tag
// not known here.
std::vector<UInt32> ChannelLabelsForLayoutTag(AudioChannelLayoutTag tag);
// The first known tag whose labels are exactly `labels` in that order; 0
// when there is none.
AudioChannelLayoutTag LayoutTagForChannelLabels(const std::vector<UInt32>& labels);
// Every known tag, in the order LayoutTagForChannelLabels tries them.
std::vector<AudioChannelLayoutTag> KnownChannelLayoutTags();

// The labels a stored channel layout gives `channels` channels: `body` is
// the big-endian layout of a CAF 'chan' or AIFF 'CHAN' chunk (tag, bitmap,
// description count, descriptions of 20 bytes).  Empty when it names no
// labels or not exactly that many.
std::vector<UInt32> ChannelLabelsFromStoredLayout(const UInt8* body, std::size_t size, UInt32 channels);

// Where the labels `wanted` are found in `have`: (*order)[i] is the index
// in `have` of wanted[i].  A surround `have` lacks may be taken from its
// direct or rear counterpart, and a rear surround from its direct
// counterpart, when `wanted` does not name that one itself.  False when the
// two do not hold the same speakers.
bool ChannelOrderForLabels(const std::vector<UInt32>& have, const std::vector<UInt32>& wanted,
                           std::vector<int>* order);

// The label of the speaker of mask bit `bit` (0 = front left); `hasBackPair`:
// whether the mask holds the back pair.  kAudioChannelLabel_Unknown for a
// bit no label names.
UInt32 ChannelLabelForSpeakerBit(unsigned bit, bool hasBackPair);
// The labels of the first `channels` speakers of `mask`, bit 0 first;
// channels past the mask's speakers are kAudioChannelLabel_Unknown.
std::vector<UInt32> ChannelLabelsForSpeakerMask(UInt32 mask, UInt32 channels);
// The speaker mask that describes `labels`; `order` (may be null) gets the
// channels in mask order: (*order)[j] is the index in `labels` of the
// mask's j-th speaker.  0 when a label has no speaker or two share one.
UInt32 SpeakerMaskForChannelLabels(const std::vector<UInt32>& labels, std::vector<int>* order);

// A short English name of a label ("Left Surround"); empty when unknown.
const char* ChannelLabelName(UInt32 label);
