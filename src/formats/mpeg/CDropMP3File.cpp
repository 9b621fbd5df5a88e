#include "CDropMP3File.h"

#include "CreateSoundFile.h"
#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "debug_trace.h"
#include "lame_encoder.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>

namespace {
constexpr OSType kWAVEType = FOUR_CHAR_CODE("WAVE");
}

CDropMP3File::CDropMP3File() = default;

CDropMP3File::~CDropMP3File()
{
    // Destroyed while still open: nothing is encoded; the audio is dropped.
    if (m_isOpen)
        DropTemp();
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
}

QString CDropMP3File::GetFormatName() const
{
    return QStringLiteral("LAME encoded mp3");
}

OSErr CDropMP3File::Open()
{
    return noErr;
}

OSErr CDropMP3File::ProbeHeader(SInt16*)
{
    return noErr;
}

OSErr CDropMP3File::SetFilePos(UInt32)
{
    return noErr;
}

void CDropMP3File::BorrowBuffers()
{
    BorrowBuffersOf(temp_);
}

void CDropMP3File::DropTemp()
{
    if (temp_ && temp_->IsOpen() && temp_->Close() != noErr)
        QM_TRACE("Close", "could not close the temporary file " << tempPath_);
    ForgetTemp();
}

void CDropMP3File::ForgetTemp()
{
    delete temp_;
    temp_ = nullptr;
    if (!tempPath_.empty() && PathExists(tempPath_))
        DeletePath(tempPath_);
    tempLock_.Release();
    m_readBuffer = nullptr;
    m_writeBuffer = nullptr;
}

OSErr CDropMP3File::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                           ConstStr255Param nameExtension, float sampleRate)
{
    return CreateShaped(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
}

OSErr CDropMP3File::CreateLike(const CSoundFile* source, UInt16, SInt16 numBits, UInt32 reserved,
                               const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double)
{
    if (!source)
        return paramErr;
    return CreateShaped(source->GetNumChannels(), numBits, reserved, fileTypeSpecifics, nameExtension,
                        source->GetSampleRate());
}

OSErr CDropMP3File::CreateShaped(UInt16 numChannels, SInt16 bitRate, UInt32 reserved, const UInt8* fileTypeSpecifics,
                                 ConstStr255Param nameExtension, double sampleRate)
{
    if (m_isOpen)
        return paramErr;
    SetNewFileShape(numChannels, 16, sampleRate);
    bitRate_ = bitRate;
    formatRecord_.fill(0);
    if (fileTypeSpecifics)
        std::memcpy(formatRecord_.data(), fileTypeSpecifics, kFormatRecordSize);
    if (numChannels > 2)
        return kTooManyChannelsErr;
    if (numChannels == 0 || !(sampleRate > 0))
        return paramErr;

    return Guarded([&]() -> OSErr {
        OSErr err = CSoundFile::Create(numChannels, 16, reserved, fileTypeSpecifics, nameExtension, float(sampleRate));
        if (err)
            return err;
        // The output's name is ours from here on; the encoder writes into it.
        if ((err = CreateFileExclusive(m_path)))
            return err;
        outputReserved_ = true;
        outputLock_.Hold(m_path);

        temp_ = CreateSoundFileObject(kWAVEType);
        if (!temp_)
            return kCodedTempFileErr;
        const size_t slash = m_path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string(".") : m_path.substr(0, slash);
        // A unique temporary name, drawn exclusively; the WAVE file is then
        // created exclusively under it (with its extension).
        if ((err = CreateUniqueFile(folder, std::string(kTemporaryNameWord) + "-", "", &tempPath_)) == noErr) {
            DeletePath(tempPath_);
            err = temp_->SetFile(tempPath_);
        }
        if (!err)
            err = temp_->SetBufferFrames(m_bufferFrames);
        if (!err) {
            Str255 none = {0};
            err = temp_->Create(numChannels, 16, 0, nullptr, none, float(sampleRate));
        }
        if (!err && temp_->GetPath() != tempPath_) {
            // The WAVE class adds its extension to the name.
            tempPath_ = temp_->GetPath();
        }
        if (err) {
            delete temp_;
            temp_ = nullptr;
            if (!tempPath_.empty() && PathExists(tempPath_))
                DeletePath(tempPath_);
            DeletePath(m_path);
            outputReserved_ = false;
            outputLock_.Release();
            return err;
        }
        m_isOpen = true;
        return noErr;
    });
}

OSErr CDropMP3File::AllocateWriteBuffer()
{
    m_readBuffer = nullptr;
    return ForwardToIntermediate(temp_, kCodedTempFileErr,
                                 [](CSoundFile& temp) { return temp.AllocateWriteBuffer(); });
}

OSErr CDropMP3File::PrepareWriteBlock(UInt32 frame)
{
    return ForwardToIntermediate(temp_, noErr, [frame](CSoundFile& temp) { return temp.PrepareWriteBlock(frame); });
}

OSErr CDropMP3File::WriteBlock(UInt32 frames, UInt32 frame)
{
    return ForwardToIntermediate(temp_, kCodedTempFileErr, [&](CSoundFile& temp) {
        const OSErr err = temp.WriteBlock(frames, frame);
        m_numFrames = temp.GetNumFrames();
        return err;
    });
}

OSErr CDropMP3File::SetBufferFrames(UInt32 frames)
{
    OSErr err = CSoundFile::SetBufferFrames(frames);
    if (!err && temp_) {
        err = temp_->SetBufferFrames(frames);
        BorrowBuffers();
    }
    return err;
}

OSErr CDropMP3File::AllocateReadBuffer()
{
    return AllocateIntermediateReadBuffer(temp_);
}

OSErr CDropMP3File::ReadBlock(UInt32 frame)
{
    return ReadIntermediateBlock(temp_, frame);
}

OSErr CDropMP3File::Close()
{
    if (!m_isOpen)
        return noErr;
    OSErr result = noErr;
    OSErr closeErr = noErr;
    if (temp_) {
        closeErr = temp_->Close();
        if (closeErr)
            qWarning("%s Error %ld when trying to close temp file", "Close", long(closeErr));
    }
    if (IsClosingAfterFailure()) {
        // Discarded: nothing to encode; the reserved output goes when it is
        // still empty (the batch driver removes what it created as well).
        PathStatus status;
        if (outputReserved_ && StatPath(m_path, &status) == 0 && status.isFile && status.size == 0)
            DeletePath(m_path);
    } else if (closeErr) {
        // A temporary file that did not close properly is not encoded.
        result = closeErr;
    } else {
        // The temporary file, closed, stays ours while the encoder reads it.
        tempLock_.Hold(tempPath_);
        result = EncodeWithLame(this);
    }
    ForgetTemp();
    outputLock_.Release();
    m_isOpen = false;
    return result;
}
