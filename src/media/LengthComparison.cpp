#include "LengthComparison.h"

#include <algorithm>

namespace {

// More frames than any codec packs into a byte: a length beyond this many
// a byte of the file cannot be true.
constexpr UInt64 kMostFramesPerByte = 8192;

}  // namespace

TrackFinding LengthComparison::Settle(const TrackLengths& lengths, const TrackVerdict& sofar, int64_t fileBytes)
{
    TrackFinding found("stated and delivered");
    const SFTDecodeLoss& loss = sofar.Loss();
    const UInt64 delivered = lengths.delivered;
    // What is said lost beyond the packets refused goes no further than
    // what the rules found the track is to hold, or the demuxer states.
    UInt64 missing = loss.missingFrames;
    const UInt64 bound = sofar.Expected() > 0 ? sofar.Expected() : lengths.streamDuration;
    if (bound > 0 && missing > sofar.RefusedFrames()) {
        missing = std::min(missing, std::max(sofar.RefusedFrames(), bound > delivered ? bound - delivered : 0));
        if (missing < loss.missingFrames)
            found.lostAtMost = missing;
    }
    if (lengths.stated.empty() || lengths.otherRates) {
        found.Say("%s; %llu frames delivered", lengths.otherRates ? "parts at other rates" : "no length stated",
                  (unsigned long long)delivered);
        return found;
    }
    const TrackLengths::Stated& stated = lengths.stated.front();
    const UInt64 frames = stated.length.frames;
    const UInt64 held = delivered + (stated.length.untrimmed ? lengths.trimmed : 0);
    // (A statement to the frame allows its own tolerance for what is gone;
    // for what is more, as any other, a packet at each end of each of its
    // parts: a first packet that only primes the decoder, a last one whose
    // end trim the decoder does not take.)
    const UInt64 slack = stated.length.tolerance + (stated.length.exact ? 0 : lengths.packetFrames);
    const UInt64 packets =
        (lengths.packetFrames + stated.length.tolerance) * (std::max<UInt64>(stated.length.parts, 1) + 1);
    const auto say = [&](const char* what, UInt64 amount) {
        found.Say("%s states %llu frames, %llu delivered%s (%llu fewer or %llu more as stated): %s %llu",
                  stated.source, (unsigned long long)frames, (unsigned long long)delivered,
                  stated.length.untrimmed ? " before the trim" : "", (unsigned long long)slack,
                  (unsigned long long)packets, what, (unsigned long long)amount);
        return found;
    };
    // A length no file of these bytes can hold is no amount: the header
    // misstates it (what the decoder refused is still lost).
    if (fileBytes > 0 && frames / kMostFramesPerByte > UInt64(fileBytes)) {
        found.headerAndHeld = std::make_pair(~UInt64(0), delivered);
        found.lostAtMost = std::min(missing, sofar.RefusedFrames());
        found.cut = false;
        return say("more than the file can hold, misstated", frames);
    }
    const UInt64 gone = frames > held ? frames - held : 0;
    const UInt64 over = held > frames ? held - frames : 0;
    UInt64 lost = missing + loss.cutFrames;
    UInt64 repeated = loss.repeatedFrames;
    // What the amounts said make of the length, against what it is: an
    // amount beyond it is taken back (lost first where too much is said
    // lost, repeated first where too much is said repeated).
    const int64_t said = int64_t(repeated) - int64_t(lost);
    const int64_t there = int64_t(held) - int64_t(frames);
    if (said < there - int64_t(slack) && lost > 0) {
        lost -= std::min<UInt64>(lost, UInt64(there - said));
        found.lostAtMost = lost;
    } else if (said > there + int64_t(packets) && repeated > 0) {
        repeated -= std::min<UInt64>(repeated, UInt64(said - there));
        found.repeatedAtMost = repeated;
    }
    // Less delivered than stated: gone, cut off where the bytes end early,
    // else lost inside.
    if (lost + slack < gone && repeated == 0) {
        found.damaged = !sofar.Cut();
        if (sofar.Cut()) {
            found.cutFramesAtLeast = gone - std::min(gone, missing);
            return say("cut", gone);
        }
        found.missingAtLeast = gone - std::min(gone, lost - std::min(lost, missing));
        return say("lost", gone);
    }
    // More delivered than stated: heard twice where damage was seen, else
    // the header's length alone is wrong.
    if (repeated + packets < over && lost == 0) {
        if (sofar.Damaged() || loss.refusedPackets > 0 || loss.misplacedFrames > 0 || loss.gaps > 0) {
            found.added.repeatedFrames = over - repeated;
            return say("repeated", over);
        }
        if (loss.headerFrames == loss.heldFrames)
            found.headerAndHeld = std::make_pair(frames, delivered);
        return say("the header misstates it by", over);
    }
    return say(found.lostAtMost ? "lost at most" : found.repeatedAtMost ? "repeated at most" : "as said",
               found.lostAtMost ? lost : found.repeatedAtMost ? repeated : gone + over);
}
