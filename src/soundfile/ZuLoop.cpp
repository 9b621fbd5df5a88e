#include "ZuLoop.h"

#include "SoundFileRecords.h"
#include "ZuFrameOrder.h"

ZuLoop::ZuLoop(SInt32 loopID, UInt32 start, UInt32 end, SInt16 type)
    : m_loopID(loopID), m_start(start), m_end(end), m_type(type)
{
}

ZuLoop::ZuLoop(const SFTLoop& record)
    : m_loopID(record.loopID), m_start(record.start), m_end(record.end), m_type(record.type)
{
}

void ZuLoop::getLoop(SFTLoop* record) const
{
    if (!record)
        return;
    record->loopID = m_loopID;
    record->start = m_start;
    record->end = m_end;
    record->type = m_type;
}

bool ZuLoop::isEqual(const ZuLoop& other) const
{
    return m_loopID == other.m_loopID && m_start == other.m_start && m_end == other.m_end &&
           m_type == other.m_type;
}

int ZuLoop::compare(const ZuLoop& other) const
{
    return CompareFramePositions(m_start, other.m_start);
}

QString ZuLoop::description() const
{
    return QString::asprintf("ZuLoop @ %p, ID = %ld, start = %ld, end = %ld, type = %ld",
                             static_cast<const void*>(this), long(m_loopID), long(m_start), long(m_end),
                             long(m_type));
}

int CompareLoops(const ZuLoop* a, const ZuLoop* b)
{
    return CompareListItems(a, b);
}

bool LoopPrecedes(const ZuLoop& a, const ZuLoop& b)
{
    return a.compare(b) < 0;
}
