// The linear 16-bit audio behind a coded output that is encoded when it is
// closed: either a temporary sound file of our own (type 'Temp', made
// beside the output under a unique name) or, for CreateLike, the caller's
// finished source file (not owned).
//
// While the output is written, its blocks are copied into the temporary
// file; at close, Encode reads the audio back chunk by chunk as 16-bit
// samples, posting the progress step and positions, and stops on a cancel.
#pragma once

#include "CSoundFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class InnerLinearFile {
public:
    InnerLinearFile() = default;
    ~InnerLinearFile();
    InnerLinearFile(const InnerLinearFile&) = delete;
    InnerLinearFile& operator=(const InnerLinearFile&) = delete;

    // Makes the temporary file beside `outputPath`: its name is reserved
    // exclusively with a unique part ("org.quillmarch.Quillmarch.<tag>-XXXXXX")
    // and the sound file is created exclusively from it.
    OSErr Create(const std::string& outputPath, const char* tag, UInt16 channels, double rate, UInt32 bufferFrames);
    // Takes a finished source file; it is read, never closed or deleted.
    void Adopt(CSoundFile* source);

    bool IsSet() const { return m_file != nullptr; }
    UInt32 NumFrames() const;
    UInt16 NumChannels() const;

    // Copies `frames` frames of a 16-bit block (the output's write buffer)
    // into the temporary file at `frame`.
    OSErr Write(const UInt8* block, UInt32 frames, UInt32 frame);
    // Fills a 16-bit block with what the temporary file holds at `frame`.
    OSErr Prepare(UInt8* block, UInt32 frame, UInt32 bufferFrames);

    // Reads the whole audio in chunks of `chunkFrames` frames (interleaved
    // 16-bit samples) and hands each to `encode` (samples, frames, first
    // frame).  Posts `stepName` first and the position before each chunk; a
    // non-zero answer (-128 on a cancel) stops it and is returned, as is the
    // first error of a read or of `encode`.
    using ChunkEncoder = std::function<OSErr(const int16_t*, UInt32, UInt32)>;
    OSErr Encode(const char* stepName, UInt32 chunkFrames, const ChunkEncoder& encode);

    // Deletes an owned temporary file (and its reserved name); forgets a
    // borrowed source.
    void Release();

private:
    CSoundFile* m_file = nullptr;
    bool m_owned = false;
    std::string m_reservedPath;  // the exclusive name reservation
};
