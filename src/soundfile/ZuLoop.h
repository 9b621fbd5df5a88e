// A loop of a sound file: a range of frames with a loop type.  CSoundFile
// keeps its loops in insertion order; the formats exchange them with the
// base as packed SFTLoop records (SoundFileRecords.h), which hold exactly
// its fields.  Immutable value.
#pragma once

#include "MacTypes.h"
#include "SoundFileRecords.h"

#include <QString>

class ZuLoop {
public:
    ZuLoop() = default;
    ZuLoop(SInt32 loopID, UInt32 start, UInt32 end, SInt16 type);
    explicit ZuLoop(const SFTLoop& record);

    // Writes the four fields into a packed record.
    void getLoop(SFTLoop* record) const;

    SInt32 loopID() const { return m_record.loopID; }
    UInt32 start() const { return m_record.start; }
    UInt32 end() const { return m_record.end; }
    SInt16 type() const { return m_record.type; }

    // Equal when identifier, start, end and type are all equal.
    bool isEqual(const ZuLoop& other) const;
    bool operator==(const ZuLoop& other) const { return isEqual(other); }

    // -1, 0 or 1 by start frame only.
    int compare(const ZuLoop& other) const;

    // "ZuLoop @ %p, ID = %ld, start = %ld, end = %ld, type = %ld"
    QString description() const;

private:
    SFTLoop m_record;
};

// Null handling as CompareRegions.
int CompareLoops(const ZuLoop* a, const ZuLoop* b);
bool LoopPrecedes(const ZuLoop& a, const ZuLoop& b);
