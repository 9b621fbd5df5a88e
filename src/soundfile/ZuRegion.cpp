#include "ZuRegion.h"

#include "MacRoman.h"
#include "SoundFileRecords.h"
#include "ZuFrameOrder.h"

ZuRegion::ZuRegion(SInt32 regionID, UInt32 start, UInt32 end, UInt32 syncFrame, SInt64 timeStamp,
                   const QString& name)
    : m_regionID(regionID), m_start(start), m_end(end), m_syncFrame(syncFrame), m_timeStamp(timeStamp),
      m_name(name)
{
}

ZuRegion::ZuRegion(const SFTRegion& record)
    : m_regionID(record.regionID), m_start(record.start), m_end(record.end), m_syncFrame(record.syncFrame),
      m_timeStamp(record.timeStamp), m_name(MacRoman::fromPascal(record.name, sizeof(record.name)))
{
}

void ZuRegion::getRegion(SFTRegion* record) const
{
    if (!record)
        return;
    record->regionID = m_regionID;
    record->start = m_start;
    record->end = m_end;
    record->syncFrame = m_syncFrame;
    record->timeStamp = m_timeStamp;
    MacRoman::toPascal(m_name, record->name, int(sizeof(record->name)) - 1);
}

bool ZuRegion::isEqual(const ZuRegion& other) const
{
    return m_start == other.m_start && m_end == other.m_end;
}

int ZuRegion::compare(const ZuRegion& other) const
{
    return CompareFramePositions(m_start, other.m_start);
}

QString ZuRegion::description() const
{
    return QString::asprintf("ZuRegion @ %p, ID = %ld, start = %ld, end = %ld, syncFrame = %ld, timestamp = %lld, "
                             "name = ",
                             static_cast<const void*>(this), long(m_regionID), long(m_start), long(m_end),
                             long(m_syncFrame), static_cast<long long>(m_timeStamp)) +
           m_name;
}

int CompareRegions(const ZuRegion* a, const ZuRegion* b)
{
    return CompareListItems(a, b);
}

bool RegionPrecedes(const ZuRegion& a, const ZuRegion& b)
{
    return a.compare(b) < 0;
}
