#include "CSnippetFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

CSoundFile* CreateSnippetFileObject()
{
    return new CSnippetFile();
}

CSnippetFile::CSnippetFile() = default;

CSnippetFile::~CSnippetFile()
{
    if (m_ownsInner)
        delete m_inner;
    m_inner = nullptr;
    // The block belongs to the inner file.
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
}

void CSnippetFile::SetInnerFile(CSoundFile* inner, bool takeOwnership)
{
    if (inner == m_inner) {
        m_ownsInner = takeOwnership;
        return;
    }
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
    if (m_ownsInner)
        delete m_inner;
    m_inner = inner;
    m_ownsInner = takeOwnership;
    m_start = m_end = 0;
    m_numFrames = 0;
}

OSErr CSnippetFile::SetWindow(UInt32 start, UInt32 end)
{
    if (!m_inner || start > end || end > m_inner->GetNumFrames())
        return paramErr;
    m_start = start;
    m_end = end;
    m_numFrames = end - start;  // the base's readers bound themselves by it
    // Only the window's samples reach an output: a block the inner file
    // decodes past it counts nothing there as clipped.
    m_inner->SetClipCountWindow(start, end);
    InvalidateReadBuffer();
    return TakeInnerRegions();
}

OSErr CSnippetFile::TakeInnerRegions()
{
    m_regions.clear();
    m_regionNames.clear();
    for (UInt16 i = 0; i < m_inner->GetNumRegions(); ++i) {
        SFTRegion region;
        if (m_inner->GetRegion(i, &region) != noErr)
            continue;
        // A region that starts in the window, or reaches into it.
        if (region.start >= m_end || (region.end <= m_start && region.start < m_start))
            continue;
        const UInt32 start = std::max(region.start, m_start);
        const UInt32 end = std::clamp(region.end, start, m_end);
        region.timeStamp += SInt64(start) - SInt64(region.start);
        region.syncFrame = std::clamp(region.syncFrame, start, end) - m_start;
        region.start = start - m_start;
        region.end = end - m_start;
        if (const OSErr err = AddRegion(&region))
            return err;
    }
    return noErr;
}

OSErr CSnippetFile::SetFile(const FSSpec* spec)
{
    if (!m_inner)
        return kFileNotOpenedErr;
    const OSErr err = m_inner->SetFile(spec);
    if (err == noErr)
        m_inner->GetFSSpec(&m_fsSpec);
    return err;
}

OSErr CSnippetFile::Open()
{
    if (!m_inner)
        return kFileNotOpenedErr;
    // An input the caller has opened already is not opened a second time.
    if (!m_inner->IsOpen()) {
        const OSErr err = m_inner->Open();
        if (err)
            return err;
    }
    m_sampleRate = m_inner->GetSampleRate();
    m_numBits = m_inner->GetNumBits();
    m_numChannels = m_inner->GetNumChannels();
    // The base's readers decode the block by the sample-format code and walk
    // it by the inner file's block size.
    m_sampleFormat = m_inner->GetState();
    // A coded input's bit rate is the whole file's, the window's too.
    m_bitRate = m_inner->UseBitRate() ? m_inner->GetBitRate() : 0;
    m_bufferFrames = m_inner->GetBufferFrames();
    m_isOpen = true;
    m_start = 0;
    m_end = m_inner->GetNumFrames();
    m_numFrames = m_end;
    InvalidateReadBuffer();
    return TakeInnerRegions();
}

OSErr CSnippetFile::Create(UInt16, SInt16, UInt32, const UInt8*, ConstStr255Param, float)
{
    return noErr;
}

OSErr CSnippetFile::Close()
{
    if (!m_inner)
        return kFileNotOpenedErr;
    m_isOpen = false;
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
    return m_inner->Close();
}

Boolean CSnippetFile::IsOpen() const
{
    return m_inner && m_inner->IsOpen();
}

OSErr CSnippetFile::WriteFrames(UInt32, UInt32*, double*) { return noErr; }
OSErr CSnippetFile::WriteFrames(UInt32, UInt32*, double**) { return noErr; }
OSErr CSnippetFile::WriteChannelFrames(UInt16, UInt32, UInt32*, const double*) { return noErr; }

bool CSnippetFile::InnerFrame(UInt32 frame, UInt32* inner) const
{
    const UInt64 f = UInt64(frame) + m_start;
    if (f > std::numeric_limits<UInt32>::max())
        return false;
    *inner = UInt32(f);
    return true;
}

OSErr CSnippetFile::OpenInnerFrame(UInt32 frame, UInt32* inner) const
{
    if (!m_inner)
        return kFileNotOpenedErr;
    return InnerFrame(frame, inner) ? noErr : paramErr;
}

void CSnippetFile::ClipCount(UInt32 frame, UInt32* count) const
{
    const UInt32 length = m_end - m_start;
    if (frame >= length)
        *count = 0;
    else if (*count > length - frame)
        *count = length - frame;
}

template <typename Read>
OSErr CSnippetFile::ReadThroughInner(UInt32 frame, UInt32* count, Read&& read)
{
    if (!m_inner)
        return kFileNotOpenedErr;
    if (!count)
        return paramErr;
    ClipCount(frame, count);
    if (*count == 0)
        return noErr;
    const OSErr err = read(frame + m_start);
    TakeInnerBuffer();
    return err;
}

OSErr CSnippetFile::ReadStereoFrames(UInt32 frame, UInt32* count, double* left, double* right)
{
    return ReadThroughInner(frame, count, [&](UInt32 inner) { return m_inner->ReadStereoFrames(inner, count, left, right); });
}

OSErr CSnippetFile::ReadFrames(UInt32 frame, UInt32* count, double* interleaved)
{
    return ReadThroughInner(frame, count, [&](UInt32 inner) { return m_inner->ReadFrames(inner, count, interleaved); });
}

OSErr CSnippetFile::ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, double* out)
{
    return ReadThroughInner(frame, count, [&](UInt32 inner) { return m_inner->ReadChannelFrames(channel, inner, count, out); });
}

UInt32 CSnippetFile::GetNumFrames() const
{
    return m_end - m_start;
}

void CSnippetFile::GetFSSpec(FSSpec* spec) const
{
    if (m_inner)
        m_inner->GetFSSpec(spec);
    else
        CSoundFile::GetFSSpec(spec);
}

void CSnippetFile::GetFileName(StringPtr name) const
{
    if (!name)
        return;
    if (m_inner)
        m_inner->GetFileName(name);
    else
        name[0] = 0;
}

OSErr CSnippetFile::TakeInnerBufferOnSuccess(OSErr err)
{
    if (err == noErr)
        TakeInnerBuffer();
    return err;
}

void CSnippetFile::TakeInnerBuffer()
{
    if (!m_inner)
        return;
    m_readBuffer = m_inner->GetReadBuffer();
    m_writeBuffer = nullptr;
    m_bufferFrames = m_inner->GetBufferFrames();
    InvalidateReadBuffer();
}

OSErr CSnippetFile::AllocateReadBuffer()
{
    if (!m_inner)
        return kFileNotOpenedErr;
    return TakeInnerBufferOnSuccess(m_inner->AllocateReadBuffer());
}

OSErr CSnippetFile::PrepareRead(const FSSpec& outputFolder)
{
    if (!m_inner)
        return kFileNotOpenedErr;
    return TakeInnerBufferOnSuccess(m_inner->PrepareRead(outputFolder));
}

OSErr CSnippetFile::ReadBlock(UInt32 frame)
{
    UInt32 inner = 0;
    if (const OSErr err = OpenInnerFrame(frame, &inner))
        return err;
    const OSErr err = m_inner->ReadBlockFor(inner, ReadWanted());
    TakeInnerBuffer();
    if (err == noErr)
        m_readBufferStart = frame;
    return err;
}

OSErr CSnippetFile::AllocateWriteBuffer() { return noErr; }
OSErr CSnippetFile::LoadWrittenFrames(UInt32, UInt32* held)
{
    *held = 0;
    return noErr;
}
OSErr CSnippetFile::WriteBlock(UInt32, UInt32) { return noErr; }

void CSnippetFile::FreeBuffers()
{
    if (m_inner)
        m_inner->FreeBuffers();
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
    InvalidateReadBuffer();
}

OSErr CSnippetFile::SetBufferFrames(UInt32 frames)
{
    if (!m_inner)
        return CSoundFile::SetBufferFrames(frames);
    const OSErr err = m_inner->SetBufferFrames(frames);
    TakeInnerBuffer();
    return err;
}

OSErr CSnippetFile::SetFilePos(UInt32 frame)
{
    UInt32 inner = 0;
    if (const OSErr err = OpenInnerFrame(frame, &inner))
        return err;
    return m_inner->SetFilePos(inner);
}

OSErr CSnippetFile::RecalcNumFrames() { return noErr; }

OSErr CSnippetFile::ProbeHeader(SInt16* result)
{
    if (!m_inner)
        return kFileNotOpenedErr;
    return m_inner->ProbeHeader(result);
}

OSErr CSnippetFile::CloseAndDelete(Boolean success)
{
    OSErr result = noErr;
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
    if (m_inner) {
        if (m_ownsInner) {
            result = m_inner->CloseAndDelete(success);
        } else if (m_inner->IsOpen()) {
            result = m_inner->Close();
        }
        m_inner = nullptr;
    }
    delete this;
    return result;
}

OSType CSnippetFile::GetFileType() const
{
    return m_inner ? m_inner->GetFileType() : kSnippetFileType;
}

OSType CSnippetFile::GetKeptFileType() const
{
    return m_inner ? m_inner->GetKeptFileType() : kSnippetFileType;
}

Boolean CSnippetFile::UseBitRate() const
{
    return m_inner && m_inner->UseBitRate();
}

QString CSnippetFile::GetFormatName() const
{
    return QStringLiteral("Snippet");
}

SInt32 CSnippetFile::GetChannelKind() const
{
    return m_inner ? m_inner->GetChannelKind() : CSoundFile::GetChannelKind();
}

SInt32 CSnippetFile::GetChannelConfiguration() const
{
    return m_inner ? m_inner->GetChannelConfiguration() : CSoundFile::GetChannelConfiguration();
}

AudioChannelLayoutTag CSnippetFile::GetMultichannelLayoutTag() const
{
    return m_inner ? m_inner->GetMultichannelLayoutTag() : CSoundFile::GetMultichannelLayoutTag();
}
