// Carrying an input's loops, regions or markers over to an output: the
// records of one kind that a pass keeps are moved to their place in the
// output and added there, in the input's order.  The passes differ only in
// which records they keep and how positions move.
#pragma once

#include "CSoundFile.h"
#include "MacTypes.h"

// The calls that count, read and add the records of one kind.
template <class Record>
struct RecordCalls;

template <>
struct RecordCalls<SFTLoop> {
    static constexpr auto count = &CSoundFile::GetNumLoops;
    static constexpr auto get = &CSoundFile::GetLoop;
    static constexpr auto add = &CSoundFile::AddLoop;
};

template <>
struct RecordCalls<SFTRegion> {
    static constexpr auto count = &CSoundFile::GetNumRegions;
    static constexpr auto get = &CSoundFile::GetRegion;
    static constexpr auto add = &CSoundFile::AddRegion;
};

template <>
struct RecordCalls<SFTMarker> {
    static constexpr auto count = &CSoundFile::GetNumMarkers;
    static constexpr auto get = &CSoundFile::GetMarker;
    static constexpr auto add = &CSoundFile::AddMarker;
};

// Each record of `in` for which keep(record) holds is changed by
// move(record) and added to `out`.  The first failing read or add ends the
// carry with its code; 0 otherwise.
template <class Record, class Keep, class Move>
SInt32 CarryRecords(CSoundFile* in, CSoundFile* out, Keep keep, Move move)
{
    using Calls = RecordCalls<Record>;
    SInt32 code = 0;
    const UInt16 count = (in->*Calls::count)();
    for (UInt16 i = 0; i < count && code == 0; ++i) {
        Record record;
        code = (in->*Calls::get)(i, &record);
        if (code == 0 && keep(record)) {
            move(record);
            code = (out->*Calls::add)(&record);
        }
    }
    return code;
}
