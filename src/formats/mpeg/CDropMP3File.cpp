#include "CDropMP3File.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"
#include "riff_chunks.h"

#include "CreatedFilesList.h"
#include "FileOperations.h"
#include "ThreadDictionary.h"
#include "lame_encoder.h"
#include "mp3_bit_rates.h"
#include "progress_channel.h"

#include <QtGlobal>

#include <cstring>

CDropMP3File::CDropMP3File() = default;

CDropMP3File::~CDropMP3File()
{
    // Destroyed while still open: nothing is encoded; the audio is dropped.
    if (m_isOpen)
        m_inner.Release();
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
    stopped_ = false;
    formatRecord_.fill(0);
    if (fileTypeSpecifics)
        std::memcpy(formatRecord_.data(), fileTypeSpecifics, kFormatRecordSize);
    return Guarded([&]() -> OSErr {
        return CIntermediateCodedFile::Create(numChannels, 16, reserved, fileTypeSpecifics, nameExtension,
                                              float(sampleRate));
    });
}

OSErr CDropMP3File::CheckShape(UInt16 channels, double rate) const
{
    if (channels > 2)
        return kMP3ChannelsErr;
    return channels == 0 || !(rate > 0) ? paramErr : noErr;
}

OSErr CDropMP3File::CreateDataFile(UInt16, double, const UInt8*)
{
    // The output's name is ours from here on; the encoder writes into it.
    if (const OSErr err = CreateFileExclusive(m_path))
        return err;
    outputLock_.Hold(m_path);
    m_writing = true;
    m_isOpen = true;
    return noErr;
}

InnerLinearFile::Kind CDropMP3File::Intermediate() const
{
    // A unique temporary name, drawn exclusively; the WAVE file is then
    // created exclusively under it (with its extension, if the class adds
    // one).
    InnerLinearFile::Kind kind = InnerLinearFile::Kind::Beside(riff_chunks::kWAVE);
    kind.takesReservedName = true;
    return kind;
}

OSErr CDropMP3File::EncodeOutput()
{
    const OSErr closeErr = m_inner.Finish();
    if (closeErr) {
        // A temporary file that did not close properly is not encoded.
        qWarning("%s Error %ld when trying to close temp file", "Close", long(closeErr));
        return closeErr;
    }
    // The temporary file, closed, stays ours while the encoder reads it.
    tempLock_.Hold(m_inner.Path());
    const OSErr err = EncodeWithLame(this);
    if (err == noErr)
        SayLoweredBitRate();
    // An encode ended by a stop (the encoder is gone by now) leaves nothing.
    const std::optional<int64_t> stop = ThreadDictionary::current().lastError();
    stopped_ = err != noErr && stop && NarrowStopCode(*stop) == err;
    return err;
}

void CDropMP3File::SayLoweredBitRate() const
{
    // A constant rate: the frames hold it.  An average: the frames may
    // stay below it by themselves, and the encoder's tag says what it
    // aimed at.
    bool average = false;
    const int asked = LAMEAskedBitRate(GetOutputContext().specifics, bitRate_, &average);
    if (asked <= 0)
        return;
    const MP3BitRates rates = ReadMP3BitRates(m_path);
    const int written = average ? rates.encoderTarget : rates.highestFrame;
    if (written > 0 && written < asked)
        PostOutputWarning(kMP3BitRateLoweredWarning, QStringLiteral("%1 kbit/s written, %2 kbit/s asked%3")
                                                         .arg(written)
                                                         .arg(asked)
                                                         .arg(average ? QStringLiteral(" (average)") : QString()));
}

bool CDropMP3File::KeepsOutputAfter(OSErr) const
{
    return !stopped_;
}

bool CDropMP3File::RemovesUnencodedOutput() const
{
    return true;
}

OSErr CDropMP3File::CloseDataFile()
{
    tempLock_.Release();
    outputLock_.Release();
    m_isOpen = false;
    return noErr;
}

void CDropMP3File::DeleteOutput()
{
    // What a stopped encoder wrote, else only an output still empty: the
    // batch driver removes what it created as well.
    PathStatus status;
    if (StatPath(m_path, &status) == 0 && status.isFile && (stopped_ || status.size == 0))
        DeletePath(m_path);
}

SoundFileTypeDescriptor CDropMP3File::Descriptor()
{
    return {.type = kType, .factory = &MakeSoundFile<CDropMP3File>};
}
