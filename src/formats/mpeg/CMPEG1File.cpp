#include "CMPEG1File.h"
#include "SoundFileFactories.h"
#include "format_type_codes.h"

#include "FileOperations.h"
#include "MacRoman.h"
#include "progress_channel.h"

#include <QVariantMap>

#include <cstdio>
#include <cstring>

CMPEG1File::CMPEG1File()
{
    m_sampleFormat = kSampleFormatMPEG;
}

CMPEG1File::~CMPEG1File()
{
    if (m_isOpen)
        CMPEG1File::Close();
}

OSType CMPEG1File::GetFileType() const { return FOUR_CHAR_CODE("MPG1"); }
QString CMPEG1File::GetFormatName() const { return QStringLiteral("MPEG-1 Layer I ('MPG')"); }

OSErr CMPEG1File::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    return noErr;
}

bool CMPEG1File::FramePadding() const
{
    const QVariant padding = GetOutputContext().specifics.value(QStringLiteral("Use MPEG Frame Padding"));
    return padding.isValid() ? padding.toBool() : true;
}

OSErr CMPEG1File::CreateDataFile(UInt16 numChannels, double sampleRate, const UInt8* fileTypeSpecifics)
{
    OSErr r = noErr;
    if (numChannels > 2 || numChannels < 1)
        r = kMPEGChannelsErr;
    const int rate = int(sampleRate);
    if (mpeg::SampleRateIndex(rate) < 0 || double(rate) != sampleRate)
        r = kMPEGSampleRateErr;
    if (r)
        return r;
    if (fileTypeSpecifics)
        std::memcpy(m_format, fileTypeSpecifics, sizeof m_format);
    else
        std::memset(m_format, 0, sizeof m_format);
    if (ChecksRatesAtCreate()) {
        MpegFrameEncoder::Settings settings;
        m_numChannels = numChannels;
        m_sampleRate = sampleRate;
        if ((r = SetEncoderParams(&settings)))
            return r;
    }
    // The output itself, made exclusively (an existing file is never taken over).
    if ((r = CreateFileExclusive(GetPath())))
        return r;
    m_sampleRate = sampleRate;
    m_numChannels = numChannels;
    m_numBits = 16;
    m_lastFrameOffset = 0;
    m_bytesWritten = 0;
    m_writing = true;
    m_isOpen = true;
    return noErr;
}

InnerLinearFile::Kind CMPEG1File::Intermediate() const
{
    InnerLinearFile::Kind kind = InnerLinearFile::Kind::Beside(format_type_codes::kSDII);
    kind.fileSuffix = ".sd2";
    kind.extension = "sd2";
    return kind;
}

OSErr CMPEG1File::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                         ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    m_bitRate = numBits;
    return CIntermediateCodedFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension,
                                          sampleRate);
}

OSErr CMPEG1File::CreateLike(const CSoundFile* source, UInt16 numChannels, SInt16 numBits, UInt32 reserved,
                             const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double sampleRate)
{
    // The source is the intermediate: a 16-bit Sound Designer II file.
    if (!source || source->GetFileType() != Intermediate().type || source->GetNumBits() != 16)
        return paramErr;
    if (m_isOpen)
        return opWrErr;
    m_bitRate = numBits;
    return CIntermediateCodedFile::CreateLike(source, numChannels, numBits, reserved, fileTypeSpecifics,
                                              nameExtension, sampleRate);
}

OSErr CMPEG1File::SetEncoderParams(MpegFrameEncoder::Settings* settings) const
{
    settings->layer = Layer();
    settings->sampleRate = int(m_sampleRate);
    settings->bitRate = m_bitRate;
    if (m_numChannels == 1)
        settings->mode = mpeg::kSingleChannel;
    else if (m_format[6] == 'j')
        settings->mode = mpeg::kJointStereo;
    else if (m_format[6] == 'd')
        settings->mode = mpeg::kDualChannel;
    else
        settings->mode = mpeg::kStereo;
    settings->padding = FramePadding();
    // The encoder's own checks, so that nothing is refused only at the end.
    MpegFrameEncoder check;
    return OSErr(check.Configure(*settings));
}

OSErr CMPEG1File::EncodeInto(std::FILE* out, MpegStreamEncoder::Result* result)
{
    MpegFrameEncoder::Settings settings;
    OSErr err = SetEncoderParams(&settings);
    if (err)
        return err;
    std::FILE* in = OpenFileStream(m_inner.File()->GetPath(), "rb");
    if (!in)
        return kMPEGIntermediateErr;
    MpegStreamEncoder encoder;
    const int r = encoder.Encode(settings, in, m_numFrames, out,
                                 [](uint64_t done) { return int(PostProgressPosition(int64_t(done))); }, result);
    const bool closeFailed = std::fclose(in) != 0;
    if (r)
        return OSErr(r);
    return closeFailed ? kMPEGTempCloseErr : OSErr(noErr);
}

OSErr CMPEG1File::RunEncoder()
{
    std::FILE* out = OpenFileStream(GetPath(), "wb");
    if (!out)
        return kMPEGOutputOpenErr;
    MpegStreamEncoder::Result result;
    OSErr err = EncodeInto(out, &result);
    if (std::fclose(out) != 0 && err == noErr)
        err = kMPEGDiskFullErr;
    if (err == noErr) {
        m_lastFrameOffset = UInt32(result.lastFrameOffset);
        m_bytesWritten = result.bytes;
        m_lastPadding = result.lastPadding;
    }
    return err;
}

const char* CMPEG1File::EncodeStepName() const
{
    return "encoding to MPEG file";
}

bool CMPEG1File::EncodesWithoutAudio() const
{
    return false;
}

bool CMPEG1File::KeepsOutputAfter(OSErr err) const
{
    return err == kMPEGDiskFullErr || err == kUserStoppedErr;
}

OSErr CMPEG1File::EncodeOutput()
{
    Str255 step = {0};
    MacRoman::toPascal(QString::fromLatin1(EncodeStepName()), step, 255);
    PostProgressStep(step, 0);
    const OSErr r = m_inner.Finish();
    const OSErr err = r ? r : RunEncoder();
    // The writer tells no reason for a write that failed: a full disk is the
    // batch's own failure and is said as such (asked while the intermediate
    // still holds its room).
    if (err == kMPEGDiskFullErr) {
        const std::string& path = GetPath();
        const std::size_t slash = path.find_last_of('/');
        if (CheckRoomToWrite(slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1)) == dskFulErr)
            return dskFulErr;
    }
    return err;
}

SoundFileTypeDescriptor CMPEG1File::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("MPG1"), .factory = &MakeSoundFile<CMPEG1File>};
}
