// Moving samples between the one-channel blocks of the member files of a
// split or surround set and the set's own interleaved block.  Samples are
// copied byte for byte (the block layout is the same in every member).
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <vector>

// Bytes of one sample for a set's word length: 1, 2, 3 or 4 for 8, 16, 24
// and 32 bits, 0 for any other word length.
std::size_t SetSampleBytes(SInt16 bits);

// Interleaves `frames` frames: sample i of member k goes to position
// i * members.size() + k of `interleaved`.  A null member block gives
// zero samples.  Nothing is copied for a sample width of 0.
void InterleaveMemberBlocks(const std::vector<const UInt8*>& members, UInt8* interleaved,
                            std::size_t frames, std::size_t sampleBytes);

// The reverse: position i * members.size() + k of `interleaved` goes to
// sample i of member k.  Null member blocks are skipped.
void DeinterleaveMemberBlocks(const UInt8* interleaved, const std::vector<UInt8*>& members,
                              std::size_t frames, std::size_t sampleBytes);

// Clears the samples of a one-channel block from frame `from` (relative to
// the block's start) up to `frames`: the part of a member block that lies
// past the member's end reads as silence.
void ClearMemberBlockTail(UInt8* block, std::size_t from, std::size_t frames, std::size_t sampleBytes);
