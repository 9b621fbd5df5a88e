// BWFMPEGReader: reads the description of a Broadcast Wave file with MPEG
// audio: the 'bext' texts, the MPEG 'fmt ' fields, the 'fact' frame count
// and where the 'data' chunk lies.  Every chunk size is checked against
// the bytes given; a file that does not hold what it promises is refused.
#pragma once

#include <QByteArray>

#include <cstdint>

class BWFMPEGReader {
public:
    struct Info {
        QByteArray description, originator, originatorReference, date, time, codingHistory;
        uint16_t formatTag = 0, channels = 0, layer = 0, mode = 0, modeExtension = 0;
        uint32_t sampleRate = 0, bytesPerSecond = 0, bitRate = 0;
        uint16_t soundInformation = 0;
        uint32_t factFrames = 0;
        uint64_t dataOffset = 0, dataSize = 0;
        bool hasBext = false, hasMext = false, hasFact = false;
    };

    // Parses `bytes` (the whole file or its start; a 'data' chunk that runs
    // past the end is clamped).  False when it is no RIFF/WAVE file with an
    // MPEG 'fmt ' chunk and a 'data' chunk.
    static bool Parse(const QByteArray& bytes, Info* info);
};
