// CG729File ('G729', "ITU G.729 ..."): ITU-T G.729 Annex A speech, 8000 Hz
// mono, in four layouts:
//   - the ITU serial bit stream, 82 16-bit words per 10 ms frame (SYNC
//     0x6B21, 80, one word per bit: 0x0081 for 1, 0x007F for 0), with the
//     words stored most or least significant byte first;
//   - the packed stream, 10 bytes per frame, no header;
//   - the packed stream in a RIFF WAVE file (format tag 0x0042 written,
//     0x0083 also read), whose markers and regions ('cue ', 'adtl') are
//     read as the other WAVE types read them.
// An empty file is a packed stream of no frames.  A data chunk that
// promises more than the file holds, or a frame cut off at the end, is read
// to its last whole frame and marks the file cut short (DataCutShort).
//
// Reading decodes frame by frame straight from the file (the decoder
// restarts when an earlier frame is asked for).  A serial frame with a bit
// word of 0, or whose SYNC or bit count is wrong, is decoded as an erased
// frame.  Writing collects linear audio in an inner temporary file and
// encodes it when the file is closed, posting progress; a short last frame
// is padded with silence.  A cancelled or failed encode removes the output.
//
// Writing options (the type's three specific bytes): byte 0 = 1 stores the
// serial words most significant byte first; byte 1 = 0 selects the packed
// layout (any other value the serial one); byte 2 = 1 puts packed data in a
// RIFF file.  Only 8000 Hz mono is written.
#pragma once

#include "CDescribedFile.h"
#include "CEncodeOnCloseFile.h"
#include "error_codes.h"
#include "G729Decoder.h"
#include "G729Encoder.h"
#include "SequentialDecoding.h"
#include "SoundFileTypeDescriptor.h"
#include "wave_chunks.h"

#include <cstdint>
#include <vector>

class CG729File : public CDescribedFile<CEncodeOnCloseFile> {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    enum class Layout { SerialBigEndian, SerialLittleEndian, Packed, Riff };

    CG729File() : CDescribedFile("g729") {}
    ~CG729File() override;

    OSErr SetFilePos(UInt32 frame) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    Layout GetLayout() const { return m_layout; }
    // The layout the three writing option bytes select (null: all 0).
    static Layout LayoutFromOptions(const UInt8* options);
    // The 56-byte RIFF header of `frames` packed frames.
    static std::vector<UInt8> BuildRiffHeader(UInt32 frames);

protected:
    OSErr ReadCodedBlock(UInt32 frame) override;
    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    OSErr EncodeOutput() override;
    bool RemovesUnencodedOutput() const override;

private:
    OSErr OpenAndDescribe() override;
    OSErr ResolveLayout(SInt64 fileSize);
    // Decodes `count` speech frames from frame `first` (the next one the
    // decoder expects).
    OSErr DecodeFrames(UInt32 first, UInt32 count, int16_t* out);
    OSErr WriteFrame(const uint16_t params[]);
    UInt32 FrameBytes() const;

    Layout m_layout = Layout::Packed;
    UInt64 m_dataOffset = 0;
    UInt64 m_dataSize = 0;       // bytes of frames present
    UInt64 m_dataPromised = 0;   // bytes the RIFF data chunk gives (kDataToTheEnd: none)
    UInt32 m_codecFrames = 0;  // whole 10 ms frames in the data
    std::vector<wave_chunks::CueAnnotation> m_cues;  // the markers and regions of a RIFF file
    // Reading: the decoder and how far it has gone.
    qm::g729::G729Decoder m_decoder;
    SequentialDecoding m_sequence{80};
    // Writing.
    qm::g729::G729Encoder m_encoder;
    UInt64 m_writePosition = 0;
    UInt32 m_framesWritten = 0;
};
