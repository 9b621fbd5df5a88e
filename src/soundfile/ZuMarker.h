// A marker of a sound file: a named frame position with a type and a number.
// CSoundFile keeps its markers ordered by identifier; the formats exchange
// them with the base as packed SFTMarker records (SoundFileRecords.h).
//
// Plain value class.  The name and the identifier can change (the marker
// list renumbers markers through setMarkerID).
#pragma once

#include "MacTypes.h"

#include <QString>

struct SFTMarker;

class ZuMarker {
public:
    ZuMarker() = default;
    ZuMarker(SInt32 markerID, UInt32 pos, SInt16 type, SInt16 number, const QString& name);
    // From a packed record: identifier, position, type and number copied; the
    // Pascal name read as Mac OS Roman (never beyond its 32-byte field).
    explicit ZuMarker(const SFTMarker& record);

    // Writes identifier, position, type, number and the name as a Pascal
    // string of at most 31 Mac OS Roman characters.
    void getMarker(SFTMarker* record) const;

    SInt32 markerID() const { return m_markerID; }
    UInt32 pos() const { return m_pos; }
    SInt16 type() const { return m_type; }
    SInt16 number() const { return m_number; }
    const QString& name() const { return m_name; }
    void setMarkerID(SInt32 markerID) { m_markerID = markerID; }
    void setName(const QString& name) { m_name = name; }

    // Equal when the positions are equal and the names are equal strings
    // (case counts); identifier, type and number are not compared.
    bool isEqual(const ZuMarker& other) const;
    bool operator==(const ZuMarker& other) const { return isEqual(other); }

    // -1, 0 or 1 by position only.
    int compare(const ZuMarker& other) const;

    // "ZuMarker @ %p, ID = %ld, pos = %ld, type = %d, number = %d, name = %@"
    QString description() const;

private:
    SInt32 m_markerID = 0;
    UInt32 m_pos = 0;
    SInt16 m_type = 0;
    SInt16 m_number = 0;
    QString m_name;
};

// Null handling as CompareRegions.
int CompareMarkers(const ZuMarker* a, const ZuMarker* b);
bool MarkerPrecedes(const ZuMarker& a, const ZuMarker& b);
