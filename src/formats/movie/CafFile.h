// CafFile ('caff'): Core Audio Format files through the media layer's extended
// audio file calls.  Reading takes every encoding the media layer decodes and
// delivers signed big-endian integers of the file's width (24 bits when the
// file gives none, 16 for A-law and mu-law, at most 32); multichannel
// files get the configuration of their layout (see ChannelArrangement), and
// where the file's order is not the configuration's the channels are put
// into its order in memory (a stereo pair stored right first, left first).  Writing makes linear-PCM files whose 'chan'
// describes the channels as stored (StoredLayoutForTag); 32-bit floats
// for a float input kept as CAF (SetKeepsFloatSamples), integers otherwise.
#pragma once

#include "CSoundFile.h"
#include "CoreAudioTypes.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

struct OpaqueExtAudioFile;  // the extended audio file calls' file (ExtAudioFile.h)

class CafFile : public CSoundFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CafFile();
    ~CafFile() override;

    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    OSErr ProbeHeader(SInt16* result) override;
    OSErr AllocateReadBuffer() override;
    OSErr AllocateWriteBuffer() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr SetBufferFrames(UInt32 frames) override;
    std::string GetChannelName(UInt16 channel) const override;
    QString GetFormatName() const override;
    OSType GetFileType() const override;
    Boolean SupportsSplitChannels() const override;
    // Linear PCM of 32 or 64-bit floats.
    bool HoldsFloatSamples() const override;
    // The media libraries decode: the window is theirs.
    void SetClipCountWindow(UInt32 from, UInt32 to) override;

    // The configuration a file's layout tag gives and the client tag to set
    // (0: none).
    static SInt32 ConfigurationForLayoutTag(AudioChannelLayoutTag tag, AudioChannelLayoutTag* clientTag);

protected:
    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override;

private:
    OSErr MapChannelLayout();
    void BuildBufferList(bool interleaved);
    // Runs a block step on the open file with the read (or write) buffer
    // allocated; exceptions become codes.
    template <class Step> OSErr BlockStep(bool writing, Step step);
    // Reads up to a block of frames at `frame` into the buffer list;
    // *frames gets how many came.
    OSStatus FillBufferList(UInt32 frame, UInt32* frames);
    // Takes what the decoder could not read so far from the open file.
    void UpdateDecodeLoss();

    OpaqueExtAudioFile* m_file = nullptr;
    AudioStreamBasicDescription m_format;
    UInt32 m_framesPerPacket = 0;
    std::vector<UInt8> m_listStorage;       // the AudioBufferList
    std::vector<std::vector<UInt8>> m_listBuffers;
    bool m_listInterleaved = false;
    bool m_clientInterleaved = false;       // the client format: interleaved when written
    UInt32 m_endFrame = 0;                  // first frame + frames of the last read
    bool m_blockValid = false;
    bool m_writesFloats = false;            // a file being written holds 32-bit floats
    // File channel j of a file being written is memory channel
    // m_fileFromMemory[j] (empty: the same order).
    std::vector<int> m_fileFromMemory;
};
