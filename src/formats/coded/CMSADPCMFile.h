// CMSADPCMFile ('MSAP', "Microsoft ADPCM"): RIFF WAVE files of Microsoft
// ADPCM (format tag 2), mono or stereo, with markers ('labl') and regions
// ('ltxt') in 'cue ' and 'LIST'/'adtl' chunks.
//
// Reading decodes block by block straight from the file; the frame count
// is the 'fact' chunk's, cut to what the data holds, and the last block
// decodes only the frames it holds.  Writing collects linear audio in an
// inner temporary file and encodes it when the file is closed: blocks of
// 256 bytes per channel (more above 11025 Hz), the seven standard
// coefficient pairs, the last block filled up to its whole size, and the
// 'fact' chunk with the true frame count.  A failed or cancelled encode removes the output.
#pragma once

#include "CEncodeOnCloseFile.h"
#include "MSADPCMCodec.h"
#include "MSADPCMWaveHeader.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CMSADPCMFile : public CEncodeOnCloseFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CMSADPCMFile() : CEncodeOnCloseFile("msadpcm") {}
    ~CMSADPCMFile() override;

    OSErr Open() override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr ProbeHeader(SInt16* result) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;

    UInt16 GetBlockAlign() const { return m_codec.blockAlign(); }
    UInt16 GetSamplesPerBlock() const { return m_codec.samplesPerBlock(); }

protected:
    OSErr ReadCodedBlock(UInt32 frame) override;
    OSErr CheckShape(UInt16 channels, double rate) const override;
    OSErr CreateDataFile(UInt16 channels, double rate, const UInt8* options) override;
    OSErr EncodeOutput() override;

private:
    OSErr OpenAndDescribe(MSADPCMWaveHeader* header);
    void AddAnnotations(const MSADPCMWaveHeader& header);
    OSErr DecodeBlockAt(UInt64 block);
    OSErr EncodeBlocks();
    OSErr FinishFile();

    MSADPCMCodec m_codec;
    UInt64 m_dataOffset = 0;
    UInt64 m_dataSize = 0;
    std::vector<UInt8> m_blockBytes;
    std::vector<int16_t> m_blockSamples;
    UInt64 m_cachedBlock = ~UInt64(0);
    int m_cachedFrames = 0;
};
