#include "CMPEG1File.h"

#include "CreateSoundFile.h"
#include "FileOperations.h"
#include "ThreadDictionary.h"
#include "debug_trace.h"
#include "progress_channel.h"

#include <QVariantMap>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <cstring>

namespace {

constexpr OSType kSDIIType = FOUR_CHAR_CODE("Sd2f");

// A Pascal string of a C text (at most 255 bytes).
void ToPascal(const char* text, Str255 out)
{
    const std::size_t n = std::min<std::size_t>(std::strlen(text), 255);
    out[0] = UInt8(n);
    std::memcpy(out + 1, text, n);
}

}  // namespace

CMPEG1File::CMPEG1File()
{
    m_sampleFormat = kSampleFormatMPEG;
}

CMPEG1File::~CMPEG1File()
{
    if (m_isOpen)
        CMPEG1File::Close();
    DropTemporaryFile();
}

OSType CMPEG1File::GetFileType() const
{
    return FOUR_CHAR_CODE("MPG1");
}

QString CMPEG1File::GetFormatName() const
{
    return QStringLiteral("MPEG-1 Layer I ('MPG')");
}

OSErr CMPEG1File::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    return noErr;
}

bool CMPEG1File::FramePadding() const
{
    const QVariantMap specifics =
        ThreadDictionary::current().value(QStringLiteral("ZuOutputSpecifics")).toMap();
    const QVariant padding = specifics.value(QStringLiteral("Use MPEG Frame Padding"));
    return padding.isValid() ? padding.toBool() : true;
}

OSErr CMPEG1File::CreateOutput(UInt16 numChannels, SInt16 bitRate, UInt32 reserved, const UInt8* fileTypeSpecifics,
                               ConstStr255Param nameExtension, double sampleRate)
{
    if (m_isOpen)
        return opWrErr;
    OSErr r = CSoundFile::Create(numChannels, bitRate, reserved, fileTypeSpecifics, nameExtension, float(sampleRate));
    if (numChannels > 2 || numChannels < 1)
        r = kMPEGChannelsErr;
    const int rate = int(sampleRate);
    if (mpeg::SampleRateIndex(rate) < 0 || double(rate) != sampleRate)
        r = kMPEGSampleRateErr;
    if (r)
        return r;
    m_bitRate = bitRate;
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
    m_written = false;
    m_isOpen = true;
    return noErr;
}

OSErr CMPEG1File::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                         ConstStr255Param nameExtension, float sampleRate)
{
    OSErr err = CreateOutput(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (err)
        return err;
    m_isOpen = false;
    auto fail = [&](OSErr code) {
        DropTemporaryFile();
        DeletePath(GetPath());
        return code;
    };

    // The intermediate: a unique name reserved exclusively beside the
    // output, the Sound Designer II file made (exclusively) under it.
    std::unique_ptr<CSoundFile> temp(CreateSoundFileObject(kSDIIType));
    if (!temp)
        return fail(kCodedTempFileErr);
    const std::string& path = GetPath();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    if ((err = CreateUniqueFile(folder, ".mpegtemp-", "", &m_reservedPath)))
        return fail(err);
    QM_TRACE("MPEG1", "Create temp " << m_reservedPath << " (fPath " << path << ")");
    if ((err = temp->SetFile(m_reservedPath + ".sd2")))
        return fail(err);
    temp->SetBufferFrames(GetBufferFrames());
    Str255 sd2 = {0};
    ToPascal("sd2", sd2);
    if ((err = temp->Create(UInt16(m_numChannels), 16, 0, nullptr, sd2, float(m_sampleRate))))
        return fail(err);
    m_tempPath = temp->GetPath();
    m_temp = temp.release();
    m_ownsTemp = true;
    m_isOpen = true;
    return noErr;
}

OSErr CMPEG1File::CreateLike(const CSoundFile* source, UInt16 /*numChannels*/, SInt16 numBits, UInt32 reserved,
                             const UInt8* fileTypeSpecifics, ConstStr255Param nameExtension, double /*sampleRate*/)
{
    // The source is the intermediate: a 16-bit Sound Designer II file.
    if (!source || source->GetFileType() != kSDIIType || source->GetNumBits() != 16)
        return paramErr;
    const OSErr err = CreateOutput(source->GetNumChannels(), numBits, reserved, fileTypeSpecifics, nameExtension,
                                   source->GetSampleRate());
    if (err)
        return err;
    m_temp = const_cast<CSoundFile*>(source);
    m_ownsTemp = false;
    m_tempPath = source->GetPath();
    m_numFrames = source->GetNumFrames();
    m_written = true;
    return noErr;
}

void CMPEG1File::DropTemporaryFile()
{
    if (m_temp && m_ownsTemp) {
        if (m_temp->IsOpen())
            m_temp->Close();
        delete m_temp;
        DeletePath(m_tempPath);
    }
    if (m_ownsTemp && !m_reservedPath.empty())
        DeletePath(m_reservedPath);
    m_reservedPath.clear();
    m_temp = nullptr;
    m_ownsTemp = false;
    m_writeBuffer = nullptr;
    m_readBuffer = nullptr;
}

void CMPEG1File::BorrowBuffers()
{
    BorrowBuffersOf(m_temp);
}

OSErr CMPEG1File::AllocateWriteBuffer()
{
    m_readBuffer = nullptr;
    return ForwardToIntermediate(m_temp, kFileNotOpenedErr,
                                 [](CSoundFile& temp) { return temp.AllocateWriteBuffer(); });
}

OSErr CMPEG1File::PrepareWriteBlock(UInt32 frame)
{
    return ForwardToIntermediate(m_temp, kFileNotOpenedErr,
                                 [frame](CSoundFile& temp) { return temp.PrepareWriteBlock(frame); });
}

OSErr CMPEG1File::WriteBlock(UInt32 frames, UInt32 frame)
{
    return ForwardToIntermediate(m_temp, kFileNotOpenedErr, [&](CSoundFile& temp) {
        const OSErr err = temp.WriteBlock(frames, frame);
        m_numFrames = temp.GetNumFrames();
        m_written = true;
        return err;
    });
}

OSErr CMPEG1File::SetBufferFrames(UInt32 frames)
{
    OSErr err = CSoundFile::SetBufferFrames(frames);
    if (err == noErr && m_temp && m_ownsTemp)
        err = m_temp->SetBufferFrames(frames);
    return err;
}

OSErr CMPEG1File::AllocateReadBuffer()
{
    return AllocateIntermediateReadBuffer(m_temp);
}

OSErr CMPEG1File::ReadBlock(UInt32 frame)
{
    return ReadIntermediateBlock(m_temp, frame);
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
    std::FILE* in = std::fopen(m_tempPath.c_str(), "rb");
    if (!in)
        return kMPEGTempOpenErr;
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
    std::FILE* out = std::fopen(GetPath().c_str(), "wb");
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

OSErr CMPEG1File::Close()
{
    if (!m_isOpen)
        return noErr;
    return EncodeAndClose(m_written && !IsClosingAfterFailure(), "encoding to MPEG file");
}

OSErr CMPEG1File::EncodeAndClose(bool encode, const char* stepName)
{
    OSErr r = noErr;
    if (encode) {
        Str255 step = {0};
        ToPascal(stepName, step);
        PostProgressStep(step, 0);
        if (m_temp && m_ownsTemp && m_temp->IsOpen())
            r = m_temp->Close();
        if (r == noErr)
            r = RunEncoder();
    }
    if (r != noErr && r != kMPEGDiskFullErr && r != kUserStoppedErr)
        DeletePath(GetPath());
    DropTemporaryFile();
    m_isOpen = false;
    return r;
}
