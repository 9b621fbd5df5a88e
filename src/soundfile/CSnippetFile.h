// CSnippetFile: a read-only window of frames [start, end) of another sound
// file (the inner file), shown as a whole file of its own, so that a
// conversion that snips a time range reads the range through the ordinary
// reading interface.  It never creates or writes anything: the write
// operations succeed and do nothing.  Type code 'Snip' (made through
// CreateSoundFileObject once RegisterCoreFileTypes has run), format name
// "Snippet"; GetFileType answers the inner file's type code.
//
// Use: construct (or CreateSoundFileObject('Snip')) -> SetInnerFile ->
// Open (opens the inner file unless it is open already, copies its shape and
// sample-format code; the window is then the whole file) -> SetWindow -> read -> Close (closes the inner file) -> delete.
//
// Reading frame f of the snippet reads frame start + f of the inner file;
// every reader stops at the window's end.
//
// Ownership: with takeOwnership (the default) the snippet destroys the inner
// file with itself, and CloseAndDelete passes on to the inner file's
// CloseAndDelete; the caller must then never destroy the inner file itself.
// Without it the caller keeps the inner file: the snippet closes it but never
// destroys it.  CloseAndDelete destroys the snippet itself in both cases, as
// for every sound file.
#pragma once

#include "CSoundFile.h"

constexpr OSType kSnippetFileType = FOUR_CHAR_CODE("Snip");

class CSnippetFile : public CSoundFile {
public:
    CSnippetFile();
    ~CSnippetFile() override;

    // Hands over the file to window (an earlier owned inner file is
    // destroyed).  Null removes it.
    void SetInnerFile(CSoundFile* inner, bool takeOwnership = true);
    CSoundFile* GetInnerFile() const { return m_inner; }
    // Sets the window; paramErr (nothing changed) unless there is an inner
    // file and start <= end <= its frame count.  The snippet's regions are
    // the inner file's that lie in the window, cut to it and counted from
    // its start.
    OSErr SetWindow(UInt32 start, UInt32 end);
    UInt32 GetStart() const { return m_start; }
    UInt32 GetEnd() const { return m_end; }

    using CSoundFile::SetFile;
    using CSoundFile::ReadFrames;
    using CSoundFile::ReadChannelFrames;
    using CSoundFile::WriteFrames;

    OSErr SetFile(const FSSpec* spec) override;
    OSErr Open() override;
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;
    Boolean IsOpen() const override;

    OSErr WriteFrames(UInt32 frame, UInt32* count, double* interleaved) override;
    OSErr WriteFrames(UInt32 frame, UInt32* count, double** channels) override;
    OSErr ReadStereoFrames(UInt32 frame, UInt32* count, double* left, double* right) override;
    OSErr ReadFrames(UInt32 frame, UInt32* count, double* interleaved) override;
    OSErr ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, double* out) override;
    OSErr WriteChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, const double* samples) override;

    UInt32 GetNumFrames() const override;
    void GetFSSpec(FSSpec* spec) const override;
    void GetFileName(StringPtr name) const override;

    OSErr AllocateReadBuffer() override;
    OSErr PrepareRead(const FSSpec& outputFolder) override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr AllocateWriteBuffer() override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    void FreeBuffers() override;
    OSErr SetBufferFrames(UInt32 frames) override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    OSErr ProbeHeader(SInt16* result) override;
    OSErr CloseAndDelete(Boolean success) override;

    OSType GetFileType() const override;
    OSType GetKeptFileType() const override;
    Boolean UseBitRate() const override;
    QString GetFormatName() const override;
    SInt32 GetChannelKind() const override;
    SInt32 GetChannelConfiguration() const override;
    AudioChannelLayoutTag GetMultichannelLayoutTag() const override;

protected:
    // Writes nothing: holds nothing.
    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override;

private:
    // The regions of the window (SetWindow).
    OSErr TakeInnerRegions();
    // The inner frame of snippet frame `frame`; false past the 32-bit range.
    bool InnerFrame(UInt32 frame, UInt32* inner) const;
    // The same with the codes of the block calls: kFileNotOpenedErr without
    // an inner file, paramErr past the 32-bit range.
    OSErr OpenInnerFrame(UInt32 frame, UInt32* inner) const;
    // *count cut so that [frame, frame + *count) stays inside the window.
    void ClipCount(UInt32 frame, UInt32* count) const;
    void TakeInnerBuffer();
    // Takes the inner file's buffer when `err` is noErr; returns `err`.
    OSErr TakeInnerBufferOnSuccess(OSErr err);
    // A reader's frame window applied, then `read(inner frame)` and the
    // inner buffer taken.
    template <typename Read>
    OSErr ReadThroughInner(UInt32 frame, UInt32* count, Read&& read);

    CSoundFile* m_inner = nullptr;
    bool m_ownsInner = true;
    UInt32 m_start = 0;
    UInt32 m_end = 0;
};

// Factory of the file-type table for 'Snip'.
CSoundFile* CreateSnippetFileObject();
