// The linear 16-bit audio behind a coded output that is encoded when it is
// closed (CIntermediateCodedFile): either a temporary sound file of our own,
// of the type the format asks for, made under a unique name reserved
// exclusively beside the output (a temporary name, which the run's record
// names before the file is made), or, for
// CreateLike, the caller's finished source file (not owned).
//
// While the output is written, its blocks are copied into the temporary
// file; at close, Encode reads the audio back chunk by chunk as 16-bit
// samples, posting the progress step and positions, and stops on a cancel
// (an encoder that reads the file itself takes it after Finish).
#pragma once

#include "CSoundFile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class InnerLinearFile {
public:
    InnerLinearFile() = default;
    ~InnerLinearFile();
    InnerLinearFile(const InnerLinearFile&) = delete;
    InnerLinearFile& operator=(const InnerLinearFile&) = delete;

    // What the temporary file is and where it goes: its sound-file type
    // and word length; its unique name, always of the temporary shape
    // (kTemporaryNameWord, "-", six unique characters, then
    // `reservedSuffix`), reserved exclusively beside the output; what the
    // file's name adds to the reserved one, and
    // the name extension its Create is given (none when empty; a class may
    // add its own; the file never takes the reserved name itself, unless
    // `takesReservedName`: the reservation is then given up and the file
    // made under that name).  With `layoutOf`, the file takes that file's
    // channel configuration and layout.
    struct Kind {
        OSType type = 0;
        std::string fileSuffix;
        std::string extension;
        std::string reservedSuffix;
        SInt16 bits = 16;
        const CSoundFile* layoutOf = nullptr;
        bool takesReservedName = false;

        // A 16-bit file of `type` beside the output.
        static Kind Beside(OSType type)
        {
            Kind kind;
            kind.type = type;
            return kind;
        }
    };

    // Makes the temporary file of `kind` for the output at `outputPath`,
    // created exclusively under the reserved name.  A Create that fails
    // leaves nothing: what the sound file made before it failed goes too.
    OSErr Create(const std::string& outputPath, const Kind& kind, UInt16 channels, double rate, UInt32 bufferFrames);
    // Takes a finished source file; it is read, never closed or deleted.
    void Adopt(CSoundFile* source);

    bool IsSet() const { return m_file != nullptr; }
    // The file: the temporary one or the adopted source (null when unset).
    CSoundFile* File() const { return m_file; }
    // The temporary file's path (empty for an adopted source).
    const std::string& Path() const { return m_path; }
    UInt32 NumFrames() const;
    UInt16 NumChannels() const;

    // Copies `frames` frames of a block of the file's word length (the
    // output's write buffer) into the temporary file at `frame`.
    OSErr Write(const UInt8* block, UInt32 frames, UInt32 frame);
    // Fills such a block with what the temporary file holds at `frame`.
    OSErr Prepare(UInt8* block, UInt32 frame, UInt32 bufferFrames);

    // Reads the whole audio in chunks of `chunkFrames` frames (interleaved
    // 16-bit samples) and hands each to `encode` (samples, frames, first
    // frame).  Posts `stepName` first and the position before each chunk; a
    // non-zero answer (-128 on a cancel) stops it and is returned, as is the
    // first error of a read or of `encode`.
    using ChunkEncoder = std::function<OSErr(const int16_t*, UInt32, UInt32)>;
    OSErr Encode(const char* stepName, UInt32 chunkFrames, const ChunkEncoder& encode);

    // Closes an owned temporary file, finished, for an encoder that reads
    // it itself (an adopted source is left as it is).
    OSErr Finish();

    // Closes and deletes an owned temporary file (and its reserved name);
    // forgets a borrowed source.
    void Release();

private:
    std::size_t FrameBytes() const;

    CSoundFile* m_file = nullptr;
    bool m_owned = false;
    std::string m_path;          // the owned file's path
    std::string m_reservedPath;  // the exclusive name reservation
};
