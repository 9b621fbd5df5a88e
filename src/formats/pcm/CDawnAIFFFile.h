// CDawnAIFFFile: the AIFF files of Dawn workstations ('Dawn', creator
// 'CARI').  Their 'MARK' size field cannot be trusted (the chunk walk steps
// exactly 38 bytes past a 'MARK' ID), and the 'SSND' offset field holds the
// recording's start time in 1/120 second.  Open gives the file one region
// over the whole file carrying that start time (in frames) as its time
// stamp.  Written files are plain AIFF without 'CHAN', their channels in
// the order of SpeakerMaskChannelOrder.
#pragma once

#include "CAIFFFile.h"

constexpr OSType kDawnFileType = FOUR_CHAR_CODE("Dawn");

class CDawnAIFFFile : public CAIFFFile {
public:
    CDawnAIFFFile();
    ~CDawnAIFFFile() override;

    OSErr FindChunk(OSType id, ChunkInfo* info = nullptr) override;

    // The start time of the last Open in frames.
    UInt64 GetStartFrames() const { return m_startFrames; }

protected:
    // Open: 'COMM', the trusted markers, 'INST', the start time of 'SSND';
    // then the region over the whole file.
    OSErr ReadHeader() override;
    OSErr AfterOpen() override;
    // FORM header, an empty 'COMM' and an empty 'SSND'.
    OSErr WriteHeader() override;
    // No 'CHAN': the channels go in the order every file without one has.
    bool KeepsOwnChannelOrder() const override { return false; }

private:
    UInt64 m_startFrames = 0;
};

// The start time (1/120 s units) as frames at `sampleRate`: the nearest
// frame (FramesFromSeconds), saturated.
UInt64 DawnStartTimeToFrames(UInt32 offsetField, double sampleRate);

void RegisterDawnFileTypes();
