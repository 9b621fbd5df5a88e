#include "ZuMarker.h"

#include "MacRoman.h"
#include "SoundFileRecords.h"
#include "ZuFrameOrder.h"

ZuMarker::ZuMarker(SInt32 markerID, UInt32 pos, SInt16 type, SInt16 number, const QString& name)
    : m_markerID(markerID), m_pos(pos), m_type(type), m_number(number), m_name(name)
{
}

ZuMarker::ZuMarker(const SFTMarker& record)
    : m_markerID(record.markerID), m_pos(record.pos), m_type(record.type), m_number(record.number),
      m_name(MacRoman::fromPascal(record.name, sizeof(record.name)))
{
}

void ZuMarker::getMarker(SFTMarker* record) const
{
    if (!record)
        return;
    record->markerID = m_markerID;
    record->pos = m_pos;
    record->type = m_type;
    record->number = m_number;
    MacRoman::toPascal(m_name, record->name, int(sizeof(record->name)) - 1);
}

bool ZuMarker::isEqual(const ZuMarker& other) const
{
    return m_pos == other.m_pos && m_name == other.m_name;
}

int ZuMarker::compare(const ZuMarker& other) const
{
    return CompareFramePositions(m_pos, other.m_pos);
}

QString ZuMarker::description() const
{
    return QString::asprintf("ZuMarker @ %p, ID = %ld, pos = %ld, type = %d, number = %d, name = ",
                             static_cast<const void*>(this), long(m_markerID), long(m_pos), int(m_type),
                             int(m_number)) +
           m_name;
}

int CompareMarkers(const ZuMarker* a, const ZuMarker* b)
{
    return CompareListItems(a, b);
}

bool MarkerPrecedes(const ZuMarker& a, const ZuMarker& b)
{
    return a.compare(b) < 0;
}
