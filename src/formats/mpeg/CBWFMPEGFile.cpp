#include "CBWFMPEGFile.h"
#include "riff_chunks.h"

#include "ByteOrder.h"
#include "FileOperations.h"
#include "progress_channel.h"


#include <cstdio>
#include <cstring>

namespace {

void PutText(QByteArray& b, int offset, const QByteArray& text, int size)
{
    std::memcpy(b.data() + offset, text.constData(), std::size_t(std::min<qsizetype>(text.size(), size)));
}

}  // namespace

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
    QByteArray h(kHeaderBytes, '\0');
    PutBE32(h, 0, riff_chunks::kRIFF);
    PutLE32(h, 4, UInt32(fileLength - 8));
    PutBE32(h, 8, riff_chunks::kWAVE);

    std::memcpy(h.data() + 12, "bext", 4);
    PutLE32(h, 16, 858);
    PutText(h, 20, m_annotation, 256);
    // The file is written under its temporary name: its origin says
    // nothing of names.
    PutText(h, 276, m_origin.originator, 32);
    PutText(h, 308, m_origin.reference, 32);
    PutText(h, 340, m_origin.date, 10);
    PutText(h, 350, m_origin.time, 8);
    const bool mono = m_numChannels == 1;
    const bool joint = !mono && m_format[6] == 'j';
    const bool dual = !mono && m_format[6] == 'd';
    const QByteArray history = QStringLiteral("A=MPEG1L2,F=%1,B=%2,M=%3,T=Quillmarch\r\n")
                                   .arg(int(m_sampleRate))
                                   .arg(m_bitRate)
                                   .arg(mono ? QStringLiteral("mono")
                                             : joint ? QStringLiteral("joint-stereo")
                                                     : dual ? QStringLiteral("dual-mono") : QStringLiteral("stereo"))
                                   .toLatin1();
    PutText(h, 622, history, 256);

    std::memcpy(h.data() + 878, "mext", 4);
    PutLE32(h, 882, 12);
    const int sfIndex = mpeg::SampleRateIndex(int(m_sampleRate));
    PutLE16(h, 886, m_lastPadding ? 3 : sfIndex == 0 ? 5 : 1);

    std::memcpy(h.data() + 898, "fmt ", 4);
    PutLE32(h, 902, 40);
    PutLE16(h, 906, 0x0050);
    PutLE16(h, 908, m_numChannels);
    PutLE32(h, 910, UInt32(m_sampleRate));
    PutLE32(h, 914, UInt32(m_bitRate) * 125);
    PutLE16(h, 918, 1152);
    PutLE16(h, 920, 0);
    PutLE16(h, 922, 22);
    PutLE16(h, 924, 2);
    PutLE32(h, 926, UInt32(m_bitRate) * 1000);
    PutLE16(h, 930, mono ? 8 : joint ? 2 : dual ? 4 : 1);
    PutLE16(h, 932, joint ? 1 : 0);

    std::memcpy(h.data() + 946, "fact", 4);
    PutLE32(h, 950, 4);
    PutLE32(h, 954, m_numFrames);
    std::memcpy(h.data() + 958, "data", 4);
    PutLE32(h, 962, UInt32(m_bytesWritten));
    return h;
}

OSErr CBWFMPEGFile::RunEncoder()
{
    std::FILE* out = std::fopen(GetPath().c_str(), "w+b");
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
