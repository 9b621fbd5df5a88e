#include "InnerLinearFile.h"

#include "CCodedFile.h"
#include "CreateSoundFile.h"
#include "FileOperations.h"
#include "MacRoman.h"
#include "TemporaryFiles.h"
#include "debug_trace.h"
#include "progress_channel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

int16_t ToSample16(double value)
{
    const double scaled = std::nearbyint(value / kScale16);
    if (!(scaled > -32768.0))
        return -32768;
    if (scaled > 32767.0)
        return 32767;
    return int16_t(scaled);
}

} // namespace

InnerLinearFile::~InnerLinearFile()
{
    Release();
}

OSErr InnerLinearFile::Create(const std::string& outputPath, const Kind& kind, UInt16 channels, double rate,
                              UInt32 bufferFrames)
{
    Release();
    const std::size_t slash = outputPath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : outputPath.substr(0, slash);
    // A name the run's record names before the file is made: what a killed
    // run leaves, the next one removes.  A file that takes the name itself
    // is made under it exclusively (a name drawn, nothing reserved); any
    // other keeps the reserved file beside it.
    const std::string prefix = std::string(kTemporaryNameWord) + "-";
    std::string drawn;
    OSErr err = kind.takesReservedName ? PickRandomName(folder, prefix, kind.reservedSuffix, &drawn)
                                       : CreateUniqueFile(folder, prefix, kind.reservedSuffix, &m_reservedPath);
    if (kind.takesReservedName)
        m_reservedPath = folder + "/" + drawn;
    if (err) {
        m_reservedPath.clear();
        return err;
    }
    m_file = CreateSoundFileObject(kind.type);
    if (!m_file) {
        Release();
        return kCreateSoundFileErr;
    }
    m_owned = true;
    const std::string name = m_reservedPath + kind.fileSuffix;
    if (kind.takesReservedName) {
        m_reservedPath.clear();
        m_path = name;  // what a failed Create leaves there goes too
    }
    Str255 extension = {0};
    MacRoman::toPascal(QString::fromStdString(kind.extension), extension, 255);
    err = m_file->SetFile(name);
    if (!err)
        err = m_file->SetBufferFrames(bufferFrames);
    if (!err && kind.layoutOf) {
        m_file->SetChannelConfiguration(kind.layoutOf->GetChannelConfiguration());
        m_file->SetMultichannelLayoutTag(kind.layoutOf->GetMultichannelLayoutTag());
    }
    if (!err)
        err = m_file->Create(channels, kind.bits, 0, nullptr, kind.extension.empty() ? nullptr : extension,
                             float(rate));
    if (!err)
        m_path = m_file->GetPath();
    if (!err && !kind.takesReservedName && m_path == m_reservedPath)
        err = kCreateSoundFileErr;
    if (err) {
        // A file the sound file made under its new name before it failed (a
        // full disk as it writes its header or sidecar) goes with the rest;
        // a name found taken was never ours.
        const std::string made = m_file->GetPath();
        if (err == dupFNErr)
            m_path.clear();
        else if (!made.empty() && made != m_reservedPath && PathExists(made))
            m_path = made;
        Release();
    }
    return err;
}

void InnerLinearFile::Adopt(CSoundFile* source)
{
    Release();
    m_file = source;
    m_owned = false;
}

UInt32 InnerLinearFile::NumFrames() const
{
    return m_file ? m_file->GetNumFrames() : 0;
}

UInt16 InnerLinearFile::NumChannels() const
{
    return m_file ? m_file->GetNumChannels() : 0;
}

std::size_t InnerLinearFile::FrameBytes() const
{
    return std::size_t(m_file->GetNumChannels()) * std::size_t(std::max<SInt16>(m_file->GetNumBits(), 8) / 8);
}

OSErr InnerLinearFile::Write(const UInt8* block, UInt32 frames, UInt32 frame)
{
    if (!m_file || !m_owned)
        return kFileNotOpenedErr;
    // In pieces of the temporary file's own block size.
    const std::size_t frameBytes = FrameBytes();
    for (UInt32 done = 0; done < frames;) {
        const UInt32 n = std::min(frames - done, m_file->GetBufferFrames());
        OSErr err = m_file->AllocateWriteBuffer();
        if (err)
            return err;
        std::memcpy(m_file->GetWriteBuffer(), block + std::size_t(done) * frameBytes, std::size_t(n) * frameBytes);
        if ((err = m_file->WriteBlock(n, frame + done)))
            return err;
        done += n;
    }
    return noErr;
}

OSErr InnerLinearFile::Prepare(UInt8* block, UInt32 frame, UInt32 bufferFrames, UInt32* held)
{
    *held = 0;
    if (!m_file || !m_owned)
        return kFileNotOpenedErr;
    const std::size_t frameBytes = FrameBytes();
    bool whole = true;  // every piece so far held all its frames
    for (UInt32 done = 0; done < bufferFrames;) {
        const UInt32 n = std::min(bufferFrames - done, m_file->GetBufferFrames());
        UInt32 piece = 0;
        const OSErr err = m_file->PrepareWriteBlock(frame + done, &piece);
        if (err)
            return err;
        std::memcpy(block + std::size_t(done) * frameBytes, m_file->GetWriteBuffer(), std::size_t(n) * frameBytes);
        if (whole)
            *held += std::min(piece, n);
        whole = whole && piece >= n;
        done += n;
    }
    return noErr;
}

OSErr InnerLinearFile::Encode(const char* stepName, UInt32 chunkFrames, const ChunkEncoder& encode)
{
    if (!m_file)
        return kFileNotOpenedErr;
    OSErr err = noErr;
    if (m_owned) {
        // The finished temporary file is read back through its own reader.
        if ((err = m_file->Close()))
            return err;
        if ((err = m_file->Open()))
            return err;
    }
    Str255 step = {0};
    MacRoman::toPascal(QString::fromLatin1(stepName), step, 255);
    PostProgressStep(step, 0);

    const UInt32 total = m_file->GetNumFrames();
    const UInt16 channels = std::max<UInt16>(m_file->GetNumChannels(), 1);
    chunkFrames = std::max<UInt32>(chunkFrames, 1);
    std::vector<double> values;
    std::vector<int16_t> samples;
    try {
        values.resize(std::size_t(chunkFrames) * channels);
        samples.resize(values.size());
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (UInt32 frame = 0; frame < total;) {
        if ((err = PostProgressPosition(frame)))
            return err;
        UInt32 count = std::min(chunkFrames, total - frame);
        const UInt32 wanted = count;
        if ((err = m_file->ReadFrames(frame, &count, values.data())))
            return err;
        if (count != wanted)
            return eofErr;
        for (std::size_t i = 0; i < std::size_t(count) * channels; ++i)
            samples[i] = ToSample16(values[i]);
        if ((err = encode(samples.data(), count, frame)))
            return err;
        frame += count;
    }
    return noErr;
}

OSErr InnerLinearFile::Finish()
{
    return m_file && m_owned && m_file->IsOpen() ? m_file->Close() : OSErr(noErr);
}

void InnerLinearFile::Release()
{
    if (m_file && m_owned) {
        if (m_file->IsOpen() && m_file->Close() != noErr)
            QM_TRACE("Close", "could not close the intermediate " << m_path);
        delete m_file;
        if (!m_path.empty() && PathExists(m_path))
            DeletePath(m_path);
    }
    m_file = nullptr;
    m_owned = false;
    m_path.clear();
    if (!m_reservedPath.empty()) {
        DeletePath(m_reservedPath);
        m_reservedPath.clear();
    }
}
