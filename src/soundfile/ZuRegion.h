// A region of a sound file: a named range of frames with a sync frame and a
// time stamp.  CSoundFile keeps its regions in a list sorted by start
// (RegionPrecedes / CompareRegions); the formats hand regions to the base and
// get them back as packed SFTRegion records (SoundFileRecords.h).
//
// Plain value class: copy it freely.  Only the name can change after
// construction.
#pragma once

#include "MacTypes.h"

#include <QString>

struct SFTRegion;

class ZuRegion {
public:
    ZuRegion() = default;
    ZuRegion(SInt32 regionID, UInt32 start, UInt32 end, UInt32 syncFrame, SInt64 timeStamp,
             const QString& name);
    // From a packed record: identifier, start, end and sync frame copied; the
    // record's 32-bit time stamp becomes the low half of the 64-bit one (high
    // half 0); the Pascal name is read as Mac OS Roman (never beyond its
    // 32-byte field).
    explicit ZuRegion(const SFTRegion& record);

    // Writes the region into a packed record: identifier, start, end, sync
    // frame, the low 32 bits of the time stamp and the name as a Pascal
    // string of at most 31 Mac OS Roman characters (longer names are cut,
    // unmappable characters become "?").
    void getRegion(SFTRegion* record) const;

    SInt32 regionID() const { return m_regionID; }
    UInt32 start() const { return m_start; }
    UInt32 end() const { return m_end; }
    UInt32 syncFrame() const { return m_syncFrame; }
    SInt64 timeStamp() const { return m_timeStamp; }
    UInt32 timeStampHigh() const { return UInt32(UInt64(m_timeStamp) >> 32); }
    UInt32 timeStampLow() const { return UInt32(UInt64(m_timeStamp) & 0xFFFFFFFFu); }
    const QString& name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }

    // Equal when start and end are equal; identifier, sync frame, time stamp
    // and name are not compared.
    bool isEqual(const ZuRegion& other) const;
    bool operator==(const ZuRegion& other) const { return isEqual(other); }

    // -1, 0 or 1 by start frame only (equal starts compare as the same).
    int compare(const ZuRegion& other) const;

    // "ZuRegion @ %p, ID = %ld, start = %ld, end = %ld, syncFrame = %ld,
    // timestamp = %lld, name = %@"
    QString description() const;

private:
    SInt32 m_regionID = 0;
    UInt32 m_start = 0;
    UInt32 m_end = 0;
    UInt32 m_syncFrame = 0;
    SInt64 m_timeStamp = 0;
    QString m_name;
};

// The ordering of the region list.  A null argument orders before anything
// (-1 when b is null), a null receiver after it (1 when a is null, b not).
int CompareRegions(const ZuRegion* a, const ZuRegion* b);
// Strict weak order for std::stable_sort / std::upper_bound: a.start < b.start.
bool RegionPrecedes(const ZuRegion& a, const ZuRegion& b);
