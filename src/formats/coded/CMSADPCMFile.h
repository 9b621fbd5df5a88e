// CMSADPCMFile ('MSAP', "Microsoft ADPCM"): RIFF WAVE files of Microsoft
// ADPCM (format tag 2), mono or stereo, with markers ('labl') and regions
// ('ltxt') in 'cue ' and 'LIST'/'adtl' chunks.
//
// Reading decodes block by block straight from the file; the frame count
// is the 'fact' chunk's, cut to what the data holds, and the last block
// decodes only the frames it holds.  Writing collects linear audio in an
// inner temporary file and encodes it when the file is closed: blocks of
// 256 bytes per channel (more above 11025 Hz), the seven standard
// coefficient pairs, a short last block encoded whole, and the 'fact'
// chunk.  A failed or cancelled encode removes the output.
#pragma once

#include "CCodedFile.h"
#include "InnerLinearFile.h"
#include "MSADPCMCodec.h"
#include "MSADPCMWaveHeader.h"

#include <vector>

class CMSADPCMFile : public CCodedFile {
public:
    CMSADPCMFile();
    ~CMSADPCMFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                     const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate) override;
    OSErr Close() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr ProbeHeader(SInt16* result) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    UInt16 GetBlockAlign() const { return m_codec.blockAlign(); }
    UInt16 GetSamplesPerBlock() const { return m_codec.samplesPerBlock(); }

private:
    OSErr OpenAndDescribe(MSADPCMWaveHeader* header);
    void AddAnnotations(const MSADPCMWaveHeader& header);
    OSErr CreateDataFile(UInt16 channels, double rate);
    OSErr DecodeBlockAt(UInt64 block);
    OSErr EncodeInner();
    OSErr FinishFile();
    OSErr WriteAt(UInt64 position, const void* bytes, std::size_t count);

    MSADPCMCodec m_codec;
    UInt64 m_dataOffset = 0;
    UInt64 m_dataSize = 0;
    InnerLinearFile m_inner;
    bool m_writing = false;
    std::vector<UInt8> m_blockBytes;
    std::vector<int16_t> m_blockSamples;
    UInt64 m_cachedBlock = ~UInt64(0);
    int m_cachedFrames = 0;
};
