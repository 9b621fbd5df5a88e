#include "TrackVerdict.h"

#include "debug_trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

void TrackFinding::Say(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    line = text;
}

void TrackVerdict::Take(const TrackFinding& f)
{
    // What a rule takes back first (a refusal, amounts beyond what can be
    // gone), then what it knows better, then the least amounts it found,
    // then what it adds.
    if (f.refusalTakenBack) {
        loss_.refusedPackets -= std::min<UInt64>(loss_.refusedPackets, 1);
        loss_.missingFrames -= std::min(loss_.missingFrames, *f.refusalTakenBack);
    }
    if (f.lostAtMost) {
        loss_.missingFrames = std::min(loss_.missingFrames, *f.lostAtMost);
        loss_.cutFrames = std::min(loss_.cutFrames, *f.lostAtMost - loss_.missingFrames);
    }
    if (f.repeatedAtMost)
        loss_.repeatedFrames = std::min(loss_.repeatedFrames, *f.repeatedAtMost);
    if (f.cut)
        cut_ = *f.cut;
    damaged_ = damaged_ || f.damaged;
    if (f.frames)
        frames_ = *f.frames;
    if (f.expected)
        expected_ = f.expected;
    if (f.packets)
        loss_.packets = *f.packets;
    if (f.checksumMismatch)
        loss_.checksumMismatch = *f.checksumMismatch;
    if (f.headerAndHeld) {
        loss_.headerFrames = f.headerAndHeld->first;
        loss_.heldFrames = f.headerAndHeld->second;
    }
    loss_.missingFrames = std::max(loss_.missingFrames, f.missingAtLeast);
    loss_.cutFrames = std::max(loss_.cutFrames, f.cutFramesAtLeast);
    loss_.unmarkedEnd = std::max(loss_.unmarkedEnd, f.unmarkedEndAtLeast);
    loss_.refusedPackets += f.added.refusedPackets;
    loss_.silencedFrames += f.added.silencedFrames;
    loss_.missingFrames += f.added.missingFrames;
    loss_.repeatedFrames += f.added.repeatedFrames;
    loss_.misplacedFrames += f.added.misplacedFrames;
    loss_.gaps += f.added.gaps;
    refusedFrames_ += f.refusedFrames;
    if (!f.line.empty()) {
        std::string line = std::string(f.rule) + ": " + f.line;
        QM_TRACE("TrackVerdict", path_ << ": " << line);
        lines_.push_back(std::move(line));
    }
}

void TrackVerdict::Close()
{
    TrackFinding verdict("verdict");
    verdict.Say("%llu frames; %s%s; refused %llu, silenced %llu, missing %llu, repeated %llu, out of order %llu, "
                "damaged places %llu",
                (unsigned long long)frames_, cut_ ? "cut" : "not cut", damaged_ ? ", damage seen" : "",
                (unsigned long long)loss_.refusedPackets, (unsigned long long)loss_.silencedFrames,
                (unsigned long long)loss_.missingFrames, (unsigned long long)loss_.repeatedFrames,
                (unsigned long long)loss_.misplacedFrames, (unsigned long long)loss_.gaps);
    Take(verdict);
}
