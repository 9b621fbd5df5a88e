#include "ZuLoop.h"

#include "SoundFileRecords.h"
#include "ZuFrameOrder.h"

ZuLoop::ZuLoop(SInt32 loopID, UInt32 start, UInt32 end, SInt16 type) : m_record{loopID, start, end, type}
{
}

ZuLoop::ZuLoop(const SFTLoop& record) : m_record(record)
{
}

void ZuLoop::getLoop(SFTLoop* record) const
{
    if (record)
        *record = m_record;
}

bool ZuLoop::isEqual(const ZuLoop& other) const
{
    return loopID() == other.loopID() && start() == other.start() && end() == other.end() && type() == other.type();
}

int ZuLoop::compare(const ZuLoop& other) const
{
    return CompareFramePositions(start(), other.start());
}

QString ZuLoop::description() const
{
    return QString::asprintf("ZuLoop @ %p, ID = %ld, start = %ld, end = %ld, type = %ld",
                             static_cast<const void*>(this), long(loopID()), long(start()), long(end()),
                             long(type()));
}

int CompareLoops(const ZuLoop* a, const ZuLoop* b)
{
    return CompareListItems(a, b);
}

bool LoopPrecedes(const ZuLoop& a, const ZuLoop& b)
{
    return a.compare(b) < 0;
}
