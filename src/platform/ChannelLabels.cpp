#include "ChannelLabels.h"

#include "ByteOrder.h"

#include <algorithm>

namespace {

struct LayoutEntry {
    AudioChannelLayoutTag tag;
    std::vector<UInt32> labels;
};

constexpr UInt32 L = kAudioChannelLabel_Left, R = kAudioChannelLabel_Right, C = kAudioChannelLabel_Center,
                 LFE = kAudioChannelLabel_LFEScreen, Ls = kAudioChannelLabel_LeftSurround,
                 Rs = kAudioChannelLabel_RightSurround, Lc = kAudioChannelLabel_LeftCenter,
                 Rc = kAudioChannelLabel_RightCenter, Cs = kAudioChannelLabel_CenterSurround,
                 Lsd = kAudioChannelLabel_LeftSurroundDirect, Rsd = kAudioChannelLabel_RightSurroundDirect,
                 Rls = kAudioChannelLabel_RearSurroundLeft, Rrs = kAudioChannelLabel_RearSurroundRight,
                 Ts = kAudioChannelLabel_TopCenterSurround, Vhl = kAudioChannelLabel_VerticalHeightLeft,
                 Vhc = kAudioChannelLabel_VerticalHeightCenter, Vhr = kAudioChannelLabel_VerticalHeightRight,
                 Rlt = kAudioChannelLabel_TopBackLeft, Rrt = kAudioChannelLabel_TopBackRight,
                 Lw = kAudioChannelLabel_LeftWide, Rw = kAudioChannelLabel_RightWide,
                 Lt = kAudioChannelLabel_LeftTotal, Rt = kAudioChannelLabel_RightTotal;

const std::vector<LayoutEntry>& KnownLayouts()
{
    static const std::vector<LayoutEntry> layouts = {
        {0x640001, {C}},
        {0x650002, {L, R}},
        {0x960003, {L, C, R}},
        {0x710003, {L, R, C}},
        {0x720003, {C, L, R}},
        {0x830003, {L, R, Cs}},
        {0x6C0004, {L, R, Ls, Rs}},
        {0x840004, {L, R, Ls, Rs}},
        {0x740004, {C, L, R, Cs}},
        {0x730004, {L, R, C, Cs}},
        {0x760005, {L, R, Ls, Rs, C}},
        {0x6D0005, {L, R, Rls, Rrs, C}},
        {0x750005, {L, R, C, Ls, Rs}},
        {0x770005, {L, C, R, Ls, Rs}},
        {0x780005, {C, L, R, Ls, Rs}},
        {0x790006, {L, R, C, LFE, Ls, Rs}},
        {0x7A0006, {L, R, Ls, Rs, C, LFE}},
        {0x7B0006, {L, C, R, Ls, Rs, LFE}},
        {0x7C0006, {C, L, R, Ls, Rs, LFE}},
        {0x8B0006, {L, R, Ls, Rs, C, Cs}},
        {0x6E0006, {L, R, Rls, Rrs, C, Cs}},
        {0x8D0006, {C, L, R, Ls, Rs, Cs}},
        {0x7D0007, {L, R, C, LFE, Ls, Rs, Cs}},
        {0x8E0007, {C, L, R, Ls, Rs, Cs, LFE}},
        {0x7F0008, {C, Lc, Rc, L, R, Ls, Rs, LFE}},
        {0x7E0008, {L, R, C, LFE, Ls, Rs, Lc, Rc}},
        {0x800008, {L, R, C, LFE, Ls, Rs, Rls, Rrs}},
        {0x810008, {L, R, Ls, Rs, C, LFE, Lc, Rc}},
        // Every other tag with speakers, in the order of its number: DVD,
        // AudioUnit, AAC, AC-3 and E-AC-3, DTS and WAVE layouts, and the
        // geometric ones.  (Tags without speakers, such as Ambisonic B,
        // mid-side or the TMH 10.2 set, stay out.)
        {0x6F0008, {L, R, Rls, Rrs, C, Cs, Ls, Rs}},          // Octagonal
        {0x700008, {L, R, Rls, Rrs, Vhl, Vhr, Rlt, Rrt}},     // Cube
        {0x820008, {L, R, C, LFE, Ls, Rs, Lt, Rt}},           // SMPTE DTV
        {0x850003, {L, R, LFE}},                              // DVD 4
        {0x860004, {L, R, LFE, Cs}},                          // DVD 5
        {0x870005, {L, R, LFE, Ls, Rs}},                      // DVD 6
        {0x880004, {L, R, C, LFE}},                           // DVD 10
        {0x890005, {L, R, C, LFE, Cs}},                       // DVD 11
        {0x8A0005, {L, R, Ls, Rs, LFE}},                      // DVD 18
        {0x8C0007, {L, R, Ls, Rs, C, Rls, Rrs}},              // AudioUnit 7.0
        {0x940007, {L, R, Ls, Rs, C, Lc, Rc}},                // AudioUnit 7.0 front
        {0x8F0007, {C, L, R, Ls, Rs, Rls, Rrs}},              // AAC 7.0
        {0x900008, {C, L, R, Ls, Rs, Rls, Rrs, Cs}},          // AAC octagonal
        {0xB70008, {C, L, R, Ls, Rs, Rls, Rrs, LFE}},         // AAC 7.1 B
        {0xB80008, {C, L, R, Ls, Rs, LFE, Vhl, Vhr}},         // AAC 7.1 C
        {0x970004, {L, C, R, Cs}},                            // AC-3 3/1
        {0x980004, {L, C, R, LFE}},                           // AC-3 3/0.1
        {0x990004, {L, R, Cs, LFE}},                          // AC-3 2/1.1
        {0x9A0005, {L, C, R, Cs, LFE}},                       // AC-3 3/1.1
        {0x9B0006, {L, C, R, Ls, Rs, Cs}},                    // E-AC-3 6.0 A
        {0x9C0007, {L, C, R, Ls, Rs, Rls, Rrs}},              // E-AC-3 7.0 A
        {0x9D0007, {L, C, R, Ls, Rs, LFE, Cs}},               // E-AC-3 6.1 A
        {0x9E0007, {L, C, R, Ls, Rs, LFE, Ts}},               // E-AC-3 6.1 B
        {0x9F0007, {L, C, R, Ls, Rs, LFE, Vhc}},              // E-AC-3 6.1 C
        {0xA00008, {L, C, R, Ls, Rs, LFE, Rls, Rrs}},         // E-AC-3 7.1 A
        {0xA10008, {L, C, R, Ls, Rs, LFE, Lc, Rc}},           // E-AC-3 7.1 B
        {0xA20008, {L, C, R, Ls, Rs, LFE, Lsd, Rsd}},         // E-AC-3 7.1 C
        {0xA30008, {L, C, R, Ls, Rs, LFE, Lw, Rw}},           // E-AC-3 7.1 D
        {0xA40008, {L, C, R, Ls, Rs, LFE, Vhl, Vhr}},         // E-AC-3 7.1 E
        {0xA50008, {L, C, R, Ls, Rs, LFE, Cs, Ts}},           // E-AC-3 7.1 F
        {0xA60008, {L, C, R, Ls, Rs, LFE, Cs, Vhc}},          // E-AC-3 7.1 G
        {0xA70008, {L, C, R, Ls, Rs, LFE, Ts, Vhc}},          // E-AC-3 7.1 H
        {0xA80004, {C, L, R, LFE}},                           // DTS 3.1
        {0xA90005, {C, L, R, Cs, LFE}},                       // DTS 4.1
        {0xAA0006, {Lc, Rc, L, R, Ls, Rs}},                   // DTS 6.0 A
        {0xAB0006, {C, L, R, Rls, Rrs, Ts}},                  // DTS 6.0 B
        {0xAC0006, {C, Cs, L, R, Rls, Rrs}},                  // DTS 6.0 C
        {0xAD0007, {Lc, Rc, L, R, Ls, Rs, LFE}},              // DTS 6.1 A
        {0xAE0007, {C, L, R, Rls, Rrs, Ts, LFE}},             // DTS 6.1 B
        {0xAF0007, {C, Cs, L, R, Rls, Rrs, LFE}},             // DTS 6.1 C
        {0xB00007, {Lc, C, Rc, L, R, Ls, Rs}},                // DTS 7.0
        {0xB10008, {Lc, C, Rc, L, R, Ls, Rs, LFE}},           // DTS 7.1
        {0xB20008, {Lc, Rc, L, R, Ls, Rs, Rls, Rrs}},         // DTS 8.0 A
        {0xB30008, {Lc, C, Rc, L, R, Ls, Cs, Rs}},            // DTS 8.0 B
        {0xB40009, {Lc, Rc, L, R, Ls, Rs, Rls, Rrs, LFE}},    // DTS 8.1 A
        {0xB50009, {Lc, C, Rc, L, R, Ls, Cs, Rs, LFE}},       // DTS 8.1 B
        {0xB60007, {C, L, R, Ls, Rs, LFE, Cs}},               // DTS 6.1 D
        {0xB90004, {L, R, Rls, Rrs}},                         // WAVE 4.0 B
        {0xBA0005, {L, R, C, Rls, Rrs}},                      // WAVE 5.0 B
        {0xBB0006, {L, R, C, LFE, Rls, Rrs}},                 // WAVE 5.1 B
        {0xBC0007, {L, R, C, LFE, Cs, Ls, Rs}},               // WAVE 6.1
        {0xBD0008, {L, R, C, LFE, Rls, Rrs, Ls, Rs}},         // WAVE 7.1
    };
    return layouts;
}

// Where a surround may be taken from when a layout lacks it: the surround
// pair from the direct or the rear pair, the rear pair from the direct pair
// (a direct pair beside a surround pair is the side pair, the rear pair of
// a speaker mask with a back pair).
std::vector<UInt32> StandIns(UInt32 label)
{
    switch (label) {
    case Ls: return {Lsd, Rls};
    case Rs: return {Rsd, Rrs};
    case Rls: return {Lsd};
    case Rrs: return {Rsd};
    default: return {};
    }
}

constexpr unsigned kSpeakerBits = 18;  // front left .. top back right

} // namespace

std::vector<UInt32> ChannelLabelsForLayoutTag(AudioChannelLayoutTag tag)
{
    for (const LayoutEntry& entry : KnownLayouts())
        if (entry.tag == tag)
            return entry.labels;
    return {};
}

AudioChannelLayoutTag LayoutTagForChannelLabels(const std::vector<UInt32>& labels)
{
    for (const LayoutEntry& entry : KnownLayouts())
        if (entry.labels == labels)
            return entry.tag;
    return 0;
}

std::vector<AudioChannelLayoutTag> KnownChannelLayoutTags()
{
    std::vector<AudioChannelLayoutTag> tags;
    for (const LayoutEntry& entry : KnownLayouts())
        tags.push_back(entry.tag);
    return tags;
}

std::vector<UInt32> ChannelLabelsFromStoredLayout(const UInt8* body, std::size_t size, UInt32 channels)
{
    if (!body || size < 12)
        return {};
    const UInt32 tag = ReadBE32(body);
    std::vector<UInt32> labels;
    if (tag == kAudioChannelLayoutTag_UseChannelDescriptions) {
        const UInt32 count = ReadBE32(body + 8);
        for (UInt32 i = 0; i < count && 12 + std::size_t(i) * 20 + 4 <= size; ++i)
            labels.push_back(ReadBE32(body + 12 + std::size_t(i) * 20));
    } else if (tag == kAudioChannelLayoutTag_UseChannelBitmap) {
        const UInt32 bitmap = ReadBE32(body + 4);
        for (UInt32 bit = 0; bit < 32; ++bit)
            if (bitmap & (1u << bit))
                labels.push_back(bit + 1);
    } else {
        labels = ChannelLabelsForLayoutTag(tag);
    }
    if (labels.size() != channels)
        return {};
    return labels;
}

bool ChannelOrderForLabels(const std::vector<UInt32>& have, const std::vector<UInt32>& wanted,
                           std::vector<int>* order)
{
    if (wanted.size() != have.size() || wanted.empty())
        return false;
    std::vector<int> found(wanted.size(), -1);
    std::vector<bool> used(have.size(), false);
    auto take = [&](std::size_t slot, UInt32 label) {
        for (std::size_t j = 0; j < have.size(); ++j)
            if (!used[j] && have[j] == label && label != kAudioChannelLabel_Unknown) {
                used[j] = true;
                found[slot] = int(j);
                return true;
            }
        return false;
    };
    for (std::size_t i = 0; i < wanted.size(); ++i)
        take(i, wanted[i]);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (found[i] >= 0)
            continue;
        bool taken = false;
        for (UInt32 standIn : StandIns(wanted[i]))
            if (std::find(wanted.begin(), wanted.end(), standIn) == wanted.end() && (taken = take(i, standIn)))
                break;
        if (!taken)
            return false;
    }
    if (order)
        *order = std::move(found);
    return true;
}

UInt32 ChannelLabelForSpeakerBit(unsigned bit, bool hasBackPair)
{
    switch (bit) {
    case 0: return L;
    case 1: return R;
    case 2: return C;
    case 3: return LFE;
    case 4: return Ls;
    case 5: return Rs;
    case 6: return Lc;
    case 7: return Rc;
    case 8: return Cs;
    case 9: return hasBackPair ? Rls : Ls;
    case 10: return hasBackPair ? Rrs : Rs;
    case 11: return kAudioChannelLabel_TopCenterSurround;
    case 12: return kAudioChannelLabel_VerticalHeightLeft;
    case 13: return kAudioChannelLabel_VerticalHeightCenter;
    case 14: return kAudioChannelLabel_VerticalHeightRight;
    case 15: return kAudioChannelLabel_TopBackLeft;
    case 16: return kAudioChannelLabel_TopBackCenter;
    case 17: return kAudioChannelLabel_TopBackRight;
    default: return kAudioChannelLabel_Unknown;
    }
}

std::vector<UInt32> ChannelLabelsForSpeakerMask(UInt32 mask, UInt32 channels)
{
    const bool hasBackPair = (mask & 0x30) != 0;
    std::vector<UInt32> labels;
    for (unsigned bit = 0; bit < 32 && labels.size() < channels; ++bit)
        if (mask & (1u << bit))
            labels.push_back(ChannelLabelForSpeakerBit(bit, hasBackPair));
    labels.resize(channels, kAudioChannelLabel_Unknown);
    return labels;
}

UInt32 SpeakerMaskForChannelLabels(const std::vector<UInt32>& labels, std::vector<int>* order)
{
    const auto has = [&labels](UInt32 label) { return std::find(labels.begin(), labels.end(), label) != labels.end(); };
    std::vector<int> bitOf(labels.size(), -1);
    UInt32 mask = 0;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        int bit = -1;
        switch (labels[i]) {
        case Rls: bit = has(Ls) ? 9 : 4; break;
        case Rrs: bit = has(Rs) ? 10 : 5; break;
        case Lsd: bit = 9; break;
        case Rsd: bit = 10; break;
        default:
            for (unsigned b = 0; b < kSpeakerBits && bit < 0; ++b)
                if (b != 9 && b != 10 && ChannelLabelForSpeakerBit(b, false) == labels[i])
                    bit = int(b);
            break;
        }
        if (bit < 0 || (mask & (1u << bit)))
            return 0;
        mask |= 1u << bit;
        bitOf[i] = bit;
    }
    if (order) {
        order->clear();
        for (unsigned b = 0; b < kSpeakerBits; ++b)
            for (std::size_t i = 0; i < labels.size(); ++i)
                if (bitOf[i] == int(b))
                    order->push_back(int(i));
    }
    return mask;
}

const char* ChannelLabelName(UInt32 label)
{
    switch (label) {
    case L: return "Left";
    case R: return "Right";
    case C: return "Center";
    case LFE: return "Lfe";
    case Ls: return "Left Surround";
    case Rs: return "Right Surround";
    case Lc: return "Left Center";
    case Rc: return "Right Center";
    case Cs: return "Center Surround";
    case Lsd: return "Left Surround Direct";
    case Rsd: return "Right Surround Direct";
    case Rls: return "Rear Surround Left";
    case Rrs: return "Rear Surround Right";
    case kAudioChannelLabel_TopCenterSurround: return "Top Center Surround";
    case kAudioChannelLabel_VerticalHeightLeft: return "Vertical Height Left";
    case kAudioChannelLabel_VerticalHeightCenter: return "Vertical Height Center";
    case kAudioChannelLabel_VerticalHeightRight: return "Vertical Height Right";
    case kAudioChannelLabel_TopBackLeft: return "Top Back Left";
    case kAudioChannelLabel_TopBackCenter: return "Top Back Center";
    case kAudioChannelLabel_TopBackRight: return "Top Back Right";
    case kAudioChannelLabel_LeftWide: return "Left Wide";
    case kAudioChannelLabel_RightWide: return "Right Wide";
    case kAudioChannelLabel_LFE2: return "LFE2";
    case Lt: return "Left Total";
    case Rt: return "Right Total";
    default: return "";
    }
}
