#include "CBWFMPEGFile.h"
#include "SoundFileFactories.h"
#include "riff_chunks.h"
#include "wave_chunks.h"

#include "ByteOrder.h"
#include "FileOperations.h"
#include "progress_channel.h"


#include <cstdio>
#include <cstring>


CBWFMPEGFile::~CBWFMPEGFile()
{
    if (m_isOpen)
        CBWFMPEGFile::Close();
}

OSType CBWFMPEGFile::GetFileType() const
{
    return FOUR_CHAR_CODE("BWMP");
}

QString CBWFMPEGFile::GetFormatName() const
{
    return QStringLiteral("Compressed Broadcast Wave");
}

void CBWFMPEGFile::TakeAnnotation(const UInt8* fileTypeSpecifics)
{
    m_annotation.clear();
    if (fileTypeSpecifics) {
        const char* text = reinterpret_cast<const char*>(fileTypeSpecifics + 22);
        m_annotation = QByteArray(text, qsizetype(strnlen(text, kMaxAnnotationBytes)));
    }
    m_origin = BextOrigin::Now();
}

OSErr CBWFMPEGFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                           ConstStr255Param nameExtension, float sampleRate)
{
    TakeAnnotation(fileTypeSpecifics);
    return CMPEG2File::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
}

OSErr CBWFMPEGFile::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                               const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate)
{
    TakeAnnotation(fileTypeSpecifics);
    return CMPEG2File::CreateLike(source, numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                  sampleRate);
}

QByteArray CBWFMPEGFile::HeaderBytes(UInt64 fileLength) const
{
    ChunkBuilder h(ChunkByteOrder::LittleEndian);
    h.put_fourcc(riff_chunks::kRIFF);
    h.put_u32le(UInt32(fileLength - 8));
    h.put_fourcc(riff_chunks::kWAVE);

    const bool mono = m_numChannels == 1;
    const bool joint = !mono && m_format[6] == 'j';
    const bool dual = !mono && m_format[6] == 'd';
    wave_chunks::Bext bext;
    bext.description = m_annotation;
    // The file is written under its temporary name: its origin says
    // nothing of names.
    bext.origin = m_origin;
    bext.codingHistory = wave_chunks::CodingHistoryLine(
        "MPEG1L2", UInt32(int(m_sampleRate)),
        "B=" + QByteArray::number(m_bitRate) + ",M=" +
            (mono ? "mono" : joint ? "joint-stereo" : dual ? "dual-mono" : "stereo"));
    wave_chunks::PutBext(&h, bext);

    h.put_fourcc(ChunkID("mext"));
    h.put_u32le(12);
    const int sfIndex = mpeg::SampleRateIndex(int(m_sampleRate));
    h.put_u16le(m_lastPadding ? 3 : sfIndex == 0 ? 5 : 1);
    h.put_zeros(10);  // frame size, ancillary data length and definition, reserved

    wave_chunks::Format format;
    format.tag = kWAVEFormatMPEG;
    format.channels = UInt16(m_numChannels);
    format.sampleRate = UInt32(m_sampleRate);
    format.byteRate = UInt32(m_bitRate) * 125;
    format.blockAlign = 1152;
    format.bitsPerSample = 0;
    format.hasExtra = true;
    ChunkBuilder extra(ChunkByteOrder::LittleEndian);
    extra.put_u16le(2);                           // layer
    extra.put_u32le(UInt32(m_bitRate) * 1000);    // bit rate
    extra.put_u16le(mono ? 8 : joint ? 2 : dual ? 4 : 1);  // mode
    extra.put_u16le(joint ? 1 : 0);               // mode extension
    extra.put_zeros(12);                          // emphasis, flags, presentation time stamp
    format.extra = extra.bytes();
    wave_chunks::PutFormat(&h, format);

    wave_chunks::PutFact(&h, m_numFrames);
    h.put_fourcc(riff_chunks::kData);
    h.put_u32le(UInt32(m_bytesWritten));
    return QByteArray(reinterpret_cast<const char*>(h.data()), qsizetype(h.size()));
}

OSErr CBWFMPEGFile::RunEncoder()
{
    std::FILE* out = OpenFileStream(GetPath(), "w+b");
    if (!out)
        return kMPEGOutputOpenErr;
    m_bytesWritten = 0;
    m_lastPadding = 0;
    QByteArray header = HeaderBytes(kHeaderBytes);
    OSErr err = noErr;
    if (std::fwrite(header.constData(), 1, std::size_t(header.size()), out) != std::size_t(header.size()))
        err = kMPEGDiskFullErr;
    MpegStreamEncoder::Result result;
    if (err == noErr)
        err = EncodeInto(out, &result);
    if (err == noErr) {
        m_bytesWritten = result.bytes;
        m_lastPadding = result.lastPadding;
        m_lastFrameOffset = UInt32(result.lastFrameOffset);
        // RIFF sizes are 32 bits: a longer file cannot be described.
        if (m_bytesWritten + kHeaderBytes + 1 > 0xFFFFFFFFull)
            err = kMPEGDiskFullErr;
    }
    if (err == noErr && (m_bytesWritten & 1) && std::fputc(0, out) == EOF)
        err = kMPEGDiskFullErr;
    if (err == noErr) {
        const UInt64 length = kHeaderBytes + m_bytesWritten + (m_bytesWritten & 1);
        header = HeaderBytes(length);
        if (std::fseek(out, 0, SEEK_SET) != 0 ||
            std::fwrite(header.constData(), 1, std::size_t(header.size()), out) != std::size_t(header.size()))
            err = kMPEGDiskFullErr;
    }
    if (std::fclose(out) != 0 && err == noErr)
        err = kMPEGDiskFullErr;
    return err;
}

OSErr CBWFMPEGFile::Close()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    return CMPEG2File::Close();
}

const char* CBWFMPEGFile::EncodeStepName() const
{
    return "encoding to Broadcast Wave MPEG file";
}

bool CBWFMPEGFile::EncodesWithoutAudio() const
{
    // Even an output that received no audio becomes a complete (empty)
    // Broadcast Wave file.
    return true;
}

SoundFileTypeDescriptor CBWFMPEGFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("BWMP"), .factory = &MakeSoundFile<CBWFMPEGFile>};
}
