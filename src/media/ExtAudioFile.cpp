#include "ExtAudioFile.h"

#include "ByteOrder.h"
#include "MovieSource.h"
#include "caf_chunks.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

struct OpaqueExtAudioFile {
    // Reading.
    std::unique_ptr<MovieSource> source;
    CafLayout layout;
    std::vector<SInt32> scratch;
    // Writing.
    bool writing = false;
    SInt16 refNum = 0;
    SInt64 dataStart = 0;           // file offset of the first sample byte
    SInt64 dataSizeField = 0;       // file offset of the data chunk's size
    UInt64 framesWritten = 0;
    UInt64 position = 0;            // frame position of the next write
    // Both.
    AudioStreamBasicDescription client;
    std::vector<UInt8> clientLayout;
};

OSStatus ExtAudioFileOpen(const FSRef* ref, ExtAudioFileRef* outFile)
{
    if (!ref || !outFile)
        return paramErr;
    *outFile = nullptr;
    try {
        auto file = std::make_unique<OpaqueExtAudioFile>();
        OSStatus err = WalkCaf(ref->path, &file->layout);
        if (err != noErr)
            return err;
        err = MovieSource::Open(ref->path, &file->source);
        if (err != noErr)
            return err;
        if (file->source->Channels() != file->layout.format.mChannelsPerFrame)
            return kAudioFileInvalidFileError;
        file->client = file->layout.format;
        *outFile = file.release();
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

OSStatus ExtAudioFileCreateNew(const FSRef* parent, const std::string& name, AudioFileTypeID type,
                               const AudioStreamBasicDescription* format, const AudioChannelLayout* layout,
                               UInt32, ExtAudioFileRef* outFile)
{
    if (!parent || !format || !outFile || type != kAudioFileCAFType)
        return paramErr;
    *outFile = nullptr;
    const UInt32 bits = format->mBitsPerChannel;
    if (format->mFormatID != kAudioFormatLinearPCM || format->mChannelsPerFrame == 0 ||
        !(bits == 8 || bits == 16 || bits == 24 || bits == 32) || !(format->mSampleRate > 0))
        return kAudioFileUnsupportedDataFormatError;
    try {
        auto file = std::make_unique<OpaqueExtAudioFile>();
        OSErr err = CheckFileName(name);
        if (err != noErr)
            return err;
        FSSpec spec{parent->path, name};
        // Its header and extension tell the type: no Finder information.
        err = FSpCreate(&spec, 0, 0, 0);
        if (err != noErr)
            return err;
        err = FSpOpenDF(&spec, fsRdWrPerm, &file->refNum);
        if (err != noErr)
            return err;
        QByteArray out;
        const auto appendBE64 = [&out](UInt64 value) {
            AppendBE32(out, UInt32(value >> 32));
            AppendBE32(out, UInt32(value));
        };
        AppendBE32(out, kAudioFileCAFType);
        AppendBE16(out, 1); // version
        AppendBE16(out, 0); // flags
        AppendBE32(out, FOUR_CHAR_CODE("desc"));
        appendBE64(32);
        UInt64 rateBits;
        std::memcpy(&rateBits, &format->mSampleRate, sizeof rateBits);
        appendBE64(rateBits);
        AppendBE32(out, kAudioFormatLinearPCM);
        UInt32 cafFlags = 0;
        if (format->mFormatFlags & kAudioFormatFlagIsFloat)
            cafFlags |= 1;
        if (!(format->mFormatFlags & kAudioFormatFlagIsBigEndian))
            cafFlags |= 2;
        AppendBE32(out, cafFlags);
        const UInt32 bytesPerFrame = format->mChannelsPerFrame * (bits / 8);
        AppendBE32(out, bytesPerFrame);
        AppendBE32(out, 1);
        AppendBE32(out, format->mChannelsPerFrame);
        AppendBE32(out, bits);
        if (layout) {
            const std::vector<UInt8> chan = CafChanBody(*layout);
            AppendBE32(out, FOUR_CHAR_CODE("chan"));
            appendBE64(chan.size());
            out.append(reinterpret_cast<const char*>(chan.data()), qsizetype(chan.size()));
        }
        AppendBE32(out, FOUR_CHAR_CODE("data"));
        file->dataSizeField = SInt64(out.size());
        appendBE64(4);
        AppendBE32(out, 0); // edit count
        file->dataStart = SInt64(out.size());
        SInt32 count = SInt32(out.size());
        err = FSWrite(file->refNum, &count, out.data());
        if (err != noErr) {
            FSClose(file->refNum);
            FSpDelete(&spec);
            return err;
        }
        file->writing = true;
        file->layout.format = *format;
        file->layout.format.mFormatFlags |= kAudioFormatFlagIsPacked;
        file->layout.format.mBytesPerFrame = file->layout.format.mBytesPerPacket = bytesPerFrame;
        file->layout.format.mFramesPerPacket = 1;
        file->client = file->layout.format;
        *outFile = file.release();
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32* outSize,
                                     Boolean* outWritable)
{
    if (!file)
        return paramErr;
    UInt32 size = 0;
    Boolean writable = false;
    switch (property) {
    case kExtAudioFileProperty_FileDataFormat: size = sizeof(AudioStreamBasicDescription); break;
    case kExtAudioFileProperty_ClientDataFormat: size = sizeof(AudioStreamBasicDescription); writable = true; break;
    case kExtAudioFileProperty_FileLengthFrames: size = 8; break;
    case kExtAudioFileProperty_DataCutShort: size = 4; break;
    case kExtAudioFileProperty_DecodeLoss: size = sizeof(SFTDecodeLoss); break;
    case kExtAudioFileProperty_FileChannelLayout:
        size = UInt32(CafChanLayoutSize(file->layout.chan));
        break;
    case kExtAudioFileProperty_ClientChannelLayout:
        size = UInt32(std::max<std::size_t>(file->clientLayout.size(), sizeof(AudioChannelLayout)));
        writable = true;
        break;
    default:
        return kExtAudioFileError_InvalidProperty;
    }
    if (outSize)
        *outSize = size;
    if (outWritable)
        *outWritable = writable;
    return noErr;
}

OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32* ioSize,
                                 void* outData)
{
    if (!file || !ioSize || !outData)
        return paramErr;
    switch (property) {
    case kExtAudioFileProperty_FileDataFormat:
    case kExtAudioFileProperty_ClientDataFormat:
        if (*ioSize < sizeof(AudioStreamBasicDescription))
            return paramErr;
        std::memcpy(outData, property == kExtAudioFileProperty_FileDataFormat ? &file->layout.format : &file->client,
                    sizeof(AudioStreamBasicDescription));
        *ioSize = sizeof(AudioStreamBasicDescription);
        return noErr;
    case kExtAudioFileProperty_FileLengthFrames: {
        if (*ioSize < 8)
            return paramErr;
        const SInt64 frames = file->writing ? SInt64(file->framesWritten) : SInt64(file->source->FrameCount());
        std::memcpy(outData, &frames, 8);
        *ioSize = 8;
        return noErr;
    }
    case kExtAudioFileProperty_DataCutShort: {
        if (*ioSize < 4)
            return paramErr;
        const UInt32 cut = !file->writing && file->source->DataCutShort() ? 1 : 0;
        std::memcpy(outData, &cut, 4);
        *ioSize = 4;
        return noErr;
    }
    case kExtAudioFileProperty_DecodeLoss: {
        if (*ioSize < sizeof(SFTDecodeLoss))
            return paramErr;
        const SFTDecodeLoss loss = file->writing ? SFTDecodeLoss() : file->source->DecodeLoss();
        std::memcpy(outData, &loss, sizeof loss);
        *ioSize = sizeof loss;
        return noErr;
    }
    case kExtAudioFileProperty_FileChannelLayout: {
        UInt32 needed = 0;
        ExtAudioFileGetPropertyInfo(file, property, &needed, nullptr);
        if (*ioSize < needed)
            return paramErr;
        auto* layout = static_cast<AudioChannelLayout*>(outData);
        if (!CafChanLayout(file->layout.chan, layout, needed)) {
            std::memset(outData, 0, needed);
            // No 'chan' chunk: the layout the channel count implies.
            const UInt32 channels = file->layout.format.mChannelsPerFrame;
            layout->mChannelLayoutTag = channels == 1 ? 0x640001u : channels == 2 ? 0x650002u : (147u << 16) | channels;
        }
        *ioSize = needed;
        return noErr;
    }
    case kExtAudioFileProperty_ClientChannelLayout:
        if (file->clientLayout.empty() || *ioSize < file->clientLayout.size())
            return paramErr;
        std::memcpy(outData, file->clientLayout.data(), file->clientLayout.size());
        *ioSize = UInt32(file->clientLayout.size());
        return noErr;
    default:
        return kExtAudioFileError_InvalidProperty;
    }
}

OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID property, UInt32 size,
                                 const void* data)
{
    if (!file || !data)
        return paramErr;
    switch (property) {
    case kExtAudioFileProperty_ClientDataFormat: {
        if (size < sizeof(AudioStreamBasicDescription))
            return paramErr;
        AudioStreamBasicDescription client;
        std::memcpy(&client, data, sizeof client);
        const UInt32 bits = client.mBitsPerChannel;
        if (client.mFormatID != kAudioFormatLinearPCM || (client.mFormatFlags & kAudioFormatFlagIsFloat) ||
            !(bits == 8 || bits == 16 || bits == 24 || bits == 32) ||
            client.mChannelsPerFrame != file->layout.format.mChannelsPerFrame)
            return kAudioFileUnsupportedDataFormatError;
        if (file->writing && (bits != file->layout.format.mBitsPerChannel ||
                              (client.mFormatFlags & kAudioFormatFlagIsNonInterleaved)))
            return kAudioFileUnsupportedDataFormatError;
        file->client = client;
        return noErr;
    }
    case kExtAudioFileProperty_ClientChannelLayout: {
        if (size < 12)
            return paramErr;
        const auto* layout = static_cast<const AudioChannelLayout*>(data);
        if (file->writing)
            return kExtAudioFileError_InvalidProperty;
        if (!file->source->SetClientLayout(layout->mChannelLayoutTag))
            return kAudioFileUnsupportedDataFormatError;
        file->clientLayout.assign(static_cast<const UInt8*>(data), static_cast<const UInt8*>(data) + 12);
        return noErr;
    }
    case kExtAudioFileProperty_ClipCountWindow: {
        UInt64 window[2];
        if (size != sizeof window)
            return paramErr;
        if (file->writing)
            return kExtAudioFileError_InvalidProperty;
        std::memcpy(window, data, sizeof window);
        file->source->SetClipCountWindow(window[0], window[1]);
        return noErr;
    }
    default:
        return kExtAudioFileError_InvalidProperty;
    }
}

OSStatus ExtAudioFileRead(ExtAudioFileRef file, UInt32* ioFrames, AudioBufferList* data)
{
    if (!file || !ioFrames || !data)
        return paramErr;
    const UInt32 channels = file->client.mChannelsPerFrame;
    const UInt32 bytes = file->client.mBitsPerChannel / 8;
    const bool planar = (file->client.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    if (bytes == 0 || data->mNumberBuffers != (planar ? channels : 1))
        return paramErr;
    UInt32 frames = *ioFrames;
    for (UInt32 b = 0; b < data->mNumberBuffers; ++b) {
        const AudioBuffer& buffer = data->mBuffers[b];
        const UInt32 perFrame = bytes * (planar ? 1 : channels);
        if (!buffer.mData)
            return paramErr;
        frames = std::min(frames, buffer.mDataByteSize / perFrame);
    }
    *ioFrames = 0;
    if (file->writing) {
        // Reading back what was written: the bytes as they stand.
        const UInt64 available = file->framesWritten > file->position ? file->framesWritten - file->position : 0;
        frames = UInt32(std::min<UInt64>(frames, available));
        long count = long(frames) * long(bytes * channels);
        if (frames > 0) {
            OSErr err = SetFPos(file->refNum, fsFromStart, file->dataStart + SInt64(file->position) * bytes * channels);
            if (err == noErr)
                err = FSRead(file->refNum, &count, data->mBuffers[0].mData);
            if (err != noErr)
                return err;
        }
        data->mBuffers[0].mDataByteSize = UInt32(count);
        file->position += frames;
        *ioFrames = frames;
        return noErr;
    }
    try {
        file->scratch.resize(std::size_t(frames) * channels);
        std::vector<SInt32*> pointers(channels);
        for (UInt32 c = 0; c < channels; ++c)
            pointers[c] = file->scratch.data() + std::size_t(c) * frames;
        UInt32 delivered = 0;
        const OSErr err = file->source->Read(pointers.data(), frames, &delivered);
        if (err != noErr)
            return err;
        for (UInt32 c = 0; c < channels; ++c) {
            UInt8* out = static_cast<UInt8*>(data->mBuffers[planar ? c : 0].mData) + (planar ? 0 : c * bytes);
            const std::size_t stride = planar ? bytes : std::size_t(bytes) * channels;
            for (UInt32 i = 0; i < delivered; ++i, out += stride) {
                const UInt32 v = UInt32(pointers[c][i]);
                for (UInt32 k = 0; k < bytes; ++k)
                    out[k] = UInt8(v >> (24 - 8 * k));
            }
        }
        for (UInt32 b = 0; b < data->mNumberBuffers; ++b)
            data->mBuffers[b].mDataByteSize = delivered * bytes * (planar ? 1 : channels);
        *ioFrames = delivered;
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

OSStatus ExtAudioFileWrite(ExtAudioFileRef file, UInt32 frames, const AudioBufferList* data)
{
    if (!file || !data || data->mNumberBuffers != 1 || !file->writing)
        return paramErr;
    const UInt32 bytesPerFrame = file->layout.format.mBytesPerFrame;
    const UInt64 bytes = UInt64(frames) * bytesPerFrame;
    if (bytes > data->mBuffers[0].mDataByteSize || bytes > 0x7FFFFFFF || !data->mBuffers[0].mData)
        return paramErr;
    // A write past the end first extends the data with zero samples, the
    // silence of signed linear PCM.
    OSErr err = noErr;
    if (file->position > file->framesWritten)
        err = SetEOF(file->refNum, file->dataStart + SInt64(file->position) * bytesPerFrame);
    if (err == noErr)
        err = SetFPos(file->refNum, fsFromStart, file->dataStart + SInt64(file->position) * bytesPerFrame);
    SInt32 count = SInt32(bytes);
    if (err == noErr && count > 0)
        err = FSWrite(file->refNum, &count, data->mBuffers[0].mData);
    if (err != noErr)
        return err;
    file->position += frames;
    file->framesWritten = std::max(file->framesWritten, file->position);
    return noErr;
}

OSStatus ExtAudioFileSeek(ExtAudioFileRef file, SInt64 frame)
{
    if (!file || frame < 0)
        return paramErr;
    if (file->writing) {
        file->position = UInt64(frame);
        return noErr;
    }
    return file->source->Seek(UInt64(frame));
}

OSStatus ExtAudioFileDispose(ExtAudioFileRef file)
{
    if (!file)
        return paramErr;
    OSStatus result = noErr;
    if (file->writing) {
        UInt8 size[8];
        WriteBE64(size, 4 + file->framesWritten * file->layout.format.mBytesPerFrame);
        SInt32 count = 8;
        result = SetFPos(file->refNum, fsFromStart, file->dataSizeField);
        if (result == noErr)
            result = FSWrite(file->refNum, &count, size);
        const OSErr closed = FSClose(file->refNum);
        if (result == noErr)
            result = closed;
    }
    delete file;
    return result;
}
