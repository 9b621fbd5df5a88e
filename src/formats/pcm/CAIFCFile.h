// CAIFCFile: AIFF-C ('FORM'/'AIFC').  Reads uncompressed integer data in
// either byte order and 32-bit float data; writes big-endian integer data
// (compression type 'NONE'), or 32-bit floats ('fl32') for a float input
// kept as AIFF-C (SetKeepsFloatSamples).  The chunk walk, the annotation chunks, block
// writing and Close are CAIFFFile's.
//
// Compression types read: 'NONE' (bits as in COMM), 'twos' 16, 'in24' 24,
// 'in32' 32 (big-endian); 'sowt' 16, '42ni' 24, '23ni' 32 (little-endian,
// turned around by ReadBlock); 'fl32', 'FL32' and '23lf' 32-bit floats,
// scaled by 2147483647 into 32-bit integers by ReadBlock; 'FL64' (as
// libsndfile writes doubles) 64-bit floats, read as 32-bit integers the same
// way (LoadFrames).  8-bit
// samples are signed (as in AIFF).  Any other type: -23800.
//
// Written layout: FORM header, 'FVER' (12 bytes), 'COMM' (46 bytes, type
// 'NONE', name "not compressed"), for more than two channels the 'CHAN' of
// their layout (40 bytes, as AIFF writes it), 'SSND' (from offset 70 without
// 'CHAN') with the data 16 bytes on, then the pad byte, 'INST', 'MARK' and
// 'regn' as for AIFF.
#pragma once

#include "CAIFFFile.h"
#include "error_codes.h"

constexpr OSType kAIFCFileType = aiff_chunks::kAIFC;
// 64-bit big-endian float samples, read into 32-bit integer blocks.
constexpr SInt16 kSampleFormatDoubleBE = 130;

class CAIFCFile : public CAIFFFile {
public:
    CAIFCFile();
    ~CAIFCFile() override;

    OSErr ReadBlock(UInt32 frame) override;
    // Big-endian integers only: ReadBlock turns the others around (or
    // scales them) after loading them.
    bool GetRawSampleLayout(RawSampleLayout* layout) const override;
    QString GetFormatName() const override;
    OSErr ReadCOMM() override;
    OSErr BuildCOMM(ChunkBuilder* chunk, SInt64* position) override;

    // The compression type read from 'COMM' (0 before a read).
    OSType GetCompressionType() const { return m_compression; }

    // Sample-format code and word length for a compression type; false for
    // a type that is not read.
    static bool CompressionFormat(OSType compression, SInt16 commBits, SInt16* sampleFormat, SInt16* bits);

protected:
    // Open: as AIFF, the frames cut to the sound data; then the file region.
    OSErr ReadHeader() override;
    OSErr AfterOpen() override;
    // FORM header, 'FVER', an empty 'COMM' and an empty 'SSND'.
    OSErr WriteHeader() override;
    SInt64 FileBytesPerFrame() const override;
    OSErr LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled) override;
    // The block's integers written as 32-bit floats in a 'fl32' file.
    OSErr StoreFrames(UInt32 frames, UInt32 frame) override;

private:
    OSType m_compression = 0;
};

// AIFF-C by compression type, on a stream standing anywhere in the file:
// 'AIFC' for the linear ones (NONE none sowt in24 in32 fl32 FL32 FL64 42ni
// 23ni 23lf able), format_type_codes::kAIFCIma4 for ima4, kMovie otherwise; the chunk walk's code when there
// is no 'COMM'.
OSErr ProbeAIFCType(OSType* type, std::istream& in);

// Registers the 'AIFC' factory, header probe and sniffer (AIFF-C files whose
// compression type is read here).
void RegisterAIFCFileTypes();
