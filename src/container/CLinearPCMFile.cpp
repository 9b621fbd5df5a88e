#include "CLinearPCMFile.h"

#include "AppleDoubleFile.h"
#include "ChannelArrangement.h"
#include "ChannelLabels.h"

#include "CreateSoundFile.h"
#include "FileManager.h"
#include "aiff_chunks.h"
#include "ZuFiles.h"
#include "error_code_exception.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

CLinearPCMFile::CLinearPCMFile(OSType fileType, const char* formatName, SInt64 headerBytes)
    : CTypedSoundFile(fileType, formatName), m_headerBytes(headerBytes)
{
}

CLinearPCMFile::~CLinearPCMFile()
{
    // Subclasses close (and rewrite their header) in their own destructor;
    // this only releases a fork still open after a failed close.
    if (m_isOpen && m_refNum != 0) {
        FSClose(m_refNum);
        m_isOpen = false;
    }
}

// ============================================================ lifecycle

OSErr CLinearPCMFile::Open()
{
    return Guarded(
        [&]() -> OSErr {
            OSErr err = OpenForReading();
            if (err != noErr) {
                return err;
            }
            err = ReadHeader();
            if (err != noErr) {
                if (m_closesRefusedFile) {
                    CloseFileFork();
                    m_refNum = 0;
                    m_isOpen = false;
                }
                return err;
            }
            return AfterOpen();
        },
        m_noMemoryErr);
}

OSErr CLinearPCMFile::ProbeHeader(SInt16* result)
{
    return ProbeWith(result, [this] { return Guarded([this] { return ReadHeader(); }, m_noMemoryErr); });
}

OSErr CLinearPCMFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                             ConstStr255Param nameExtension, float sampleRate)
{
    OSErr err = CheckCreateShape(CreateStep::First, numChannels, numBits, sampleRate);
    if (err != noErr) {
        return err;
    }
    if (m_isOpen) {
        return opWrErr;
    }
    err = CheckCreateShape(CreateStep::BeforeBase, numChannels, numBits, sampleRate);
    if (err != noErr) {
        return err;
    }
    return Guarded(
        [&]() -> OSErr {
            err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
            if (err != noErr && !m_ignoresBaseCreateErr) {
                return err;
            }
            err = CheckCreateShape(CreateStep::AfterBase, numChannels, numBits, sampleRate);
            if (err == noErr) {
                err = CreateDataFork();
            }
            if (err != noErr) {
                return err;
            }
            SetNewFileShape(numChannels, numBits, sampleRate);
            m_sampleFormat = kSampleFormatBigEndian;
            m_transform = SampleTransform{};
            m_dataOffset = m_headerBytes;
            err = SetUpNewFile(fileTypeSpecifics);
            PlaceChannels();
            return err != noErr ? err : WriteHeader();
        },
        m_noMemoryErr);
}

Boolean CLinearPCMFile::SupportsSplitChannels() const
{
    return m_splitSuffix != nullptr;
}

QString CLinearPCMFile::GetSplitNamingSuffix() const
{
    return m_splitSuffix ? QString::fromLatin1(m_splitSuffix) : QString();
}

// ================================================================ hooks

OSErr CLinearPCMFile::ReadHeader()
{
    return noErr;
}

OSErr CLinearPCMFile::AfterOpen()
{
    return AddFileRegion();
}

OSErr CLinearPCMFile::CheckCreateShape(CreateStep, UInt16, SInt16, float) const
{
    return noErr;
}

OSErr CLinearPCMFile::SetUpNewFile(const UInt8*)
{
    return noErr;
}

OSErr CLinearPCMFile::WriteHeader()
{
    return noErr;
}

OSErr CLinearPCMFile::RewriteHeader()
{
    return WriteHeader();
}

SInt64 CLinearPCMFile::BlockBytesPerFrame() const
{
    return SInt64(GetNumChannels()) * SInt64(std::max<SInt16>(BitsToBytes(m_numBits), 0));
}

SInt64 CLinearPCMFile::FileBytesPerFrame() const
{
    return BlockBytesPerFrame();
}

SInt64 CLinearPCMFile::FramePosition(UInt32 frame) const
{
    return m_dataOffset + SInt64(frame) * FileBytesPerFrame();
}

OSErr CLinearPCMFile::CheckWriteExtent(UInt64) const
{
    return noErr;
}

UInt8 CLinearPCMFile::FileSilenceByte() const
{
    return m_transform.flipSign && BitsToBytes(m_numBits) == 1 ? 0x80 : 0x00;
}

OSErr CLinearPCMFile::ExtendData(UInt32 frame)
{
    const SInt64 target = FramePosition(frame);
    SInt64 end = FileLength();
    OSErr err = noErr;
    const UInt8 silence = FileSilenceByte();
    if (silence == 0 || end >= target) {
        err = SetEOF(m_refNum, std::max(end, target));  // the new bytes read as zeros
    } else {
        const std::vector<UInt8> fill(std::size_t(std::min<SInt64>(target - end, 65536)), silence);
        while (err == noErr && end < target) {
            const std::size_t n = std::size_t(std::min<SInt64>(SInt64(fill.size()), target - end));
            err = WriteAt(end, fill.data(), n);
            end += SInt64(n);
        }
    }
    if (err == noErr) {
        m_numFrames = std::max(m_numFrames, frame);
    }
    return err;
}

// ======================================================== common steps

OSErr CLinearPCMFile::OpenForReading()
{
    if (m_isOpen) {
        return opWrErr;
    }
    const OSErr err = OpenFileFork();
    if (err != noErr) {
        return err;
    }
    m_isOpen = true;
    m_writable = false;
    m_headerDirty = false;
    return noErr;
}

OSErr CLinearPCMFile::FindFormChunk(OSType id, const ChunkWalkOptions& options, ChunkInfo* info)
{
    using aiff_chunks::kFORM;
    if (!m_isOpen) {
        return kFileNotOpenedErr;
    }
    RefNumChunkSource source(m_refNum);
    if (id == kFORM) {
        UInt8 bytes[4];
        std::size_t got = 0;
        const OSErr err = source.ReadAt(0, bytes, sizeof bytes, &got);
        if (err == eofErr || (err == noErr && got < 4)) {
            return kChunkNotFoundErr;
        }
        if (err != noErr) {
            return err;
        }
        if (ChunkView(bytes, 4, ChunkByteOrder::BigEndian).get_fourcc() != kFORM) {
            return kChunkNotFoundErr;
        }
        if (info) {
            *info = ChunkInfo();
            info->id = kFORM;
        }
        return noErr;  // the mark stands at the FORM size
    }
    ChunkReader reader(source, options);
    ChunkInfo found;
    OSErr err = reader.Find(id, &found);
    if (err != noErr) {
        return err;
    }
    err = SetFPos(m_refNum, fsFromStart, found.SizePos());
    if (err != noErr) {
        return err == eofErr ? kChunkNotFoundErr : err;
    }
    if (info) {
        *info = found;
    }
    return noErr;
}

OSErr CLinearPCMFile::OpenFileFork()
{
    return FSpOpenDF(&m_fsSpec, fsRdPerm, &m_refNum);
}

OSErr CLinearPCMFile::CloseFileFork()
{
    return FSClose(m_refNum);
}

OSErr CLinearPCMFile::MakeDataFork()
{
    // The Finder info is written at the close, and only when the file
    // cannot tell its type (see DropFinderInfoTheFileTells).
    const OSErr err = FSpCreate(&m_fsSpec, 0, 0, 0);
    return err != noErr ? err : FSpOpenDF(&m_fsSpec, fsCurPerm, &m_refNum);
}

OSErr CLinearPCMFile::CreateDataFork()
{
    const OSErr err = MakeDataFork();
    if (err != noErr) {
        return err;
    }
    m_numFrames = 0;
    m_headerDirty = true;
    m_isOpen = true;
    m_writable = true;
    return noErr;
}

SInt64 CLinearPCMFile::FileLength() const
{
    SInt64 eof = 0;
    const OSErr err = GetEOF(m_refNum, &eof);
    if (err != noErr) {
        throw error_code_exception(err, "GetEOF failed");
    }
    return eof;
}

OSErr CLinearPCMFile::WriteAt(SInt64 position, const void* data, std::size_t count)
{
    OSErr err = SetFPos(m_refNum, fsFromStart, position);
    if (err == eofErr) {
        err = SetEOF(m_refNum, position);  // zeros up to the position
        if (err == noErr) {
            err = SetFPos(m_refNum, fsFromStart, position);
        }
    }
    if (err != noErr) {
        return err;
    }
    long written = long(count);
    err = FSWrite(m_refNum, &written, data);
    if (err == noErr && written != long(count)) {
        err = ioErr;
    }
    return err;
}

OSErr CLinearPCMFile::ReadAt(SInt64 position, void* data, std::size_t count)
{
    const OSErr err = SetFPos(m_refNum, fsFromStart, position);
    if (err != noErr) {
        return err;
    }
    long read = long(count);
    return FSRead(m_refNum, &read, data);  // eofErr when it comes short
}

OSErr CLinearPCMFile::WritePatches(const std::vector<Patch>& patches)
{
    constexpr SInt64 kMaxSpanBytes = 4096;
    if (patches.empty()) {
        return noErr;
    }
    SInt64 first = patches.front().position;
    SInt64 end = first;
    for (const Patch& patch : patches) {
        first = std::min(first, patch.position);
        end = std::max(end, patch.position + SInt64(patch.bytes.size()));
    }
    if (first >= 0 && end - first <= kMaxSpanBytes && end <= FileLength()) {
        std::vector<UInt8> span(std::size_t(end - first));
        if (ReadAt(first, span.data(), span.size()) == noErr) {
            for (const Patch& patch : patches) {
                std::copy(patch.bytes.begin(), patch.bytes.end(), span.begin() + (patch.position - first));
            }
            return WriteAt(first, span.data(), span.size());
        }
    }
    for (const Patch& patch : patches) {
        const OSErr err = WriteAt(patch.position, patch.bytes.data(), patch.bytes.size());
        if (err != noErr) {
            return err;
        }
    }
    return noErr;
}

UInt32 CLinearPCMFile::FramesUpTo(SInt64 length) const
{
    const SInt64 bpf = FileBytesPerFrame();
    if (bpf <= 0) {
        return 0;
    }
    return UInt32(
        std::clamp<SInt64>(std::max<SInt64>(length - m_dataOffset, 0) / bpf, 0, std::numeric_limits<UInt32>::max()));
}

void CLinearPCMFile::DecodeSamples(UInt8* data, std::size_t bytes) const
{
    const std::size_t width = std::size_t(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    if (m_transform.reverseBytes && width > 1) {
        for (std::size_t i = 0; i + width <= bytes; i += width) {
            std::reverse(data + i, data + i + width);
        }
    }
    if (m_transform.swapPairs) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            std::swap(data[i], data[i + 1]);
        }
    }
    if (m_transform.flipSign) {
        for (std::size_t i = 0; i + width <= bytes; i += width) {
            data[i] ^= 0x80;
        }
    }
}

void CLinearPCMFile::EncodeSamples(UInt8* data, std::size_t bytes) const
{
    const std::size_t width = std::size_t(std::max<SInt16>(BitsToBytes(m_numBits), 1));
    if (m_transform.flipSign) {
        for (std::size_t i = 0; i + width <= bytes; i += width) {
            data[i] ^= 0x80;
        }
    }
    if (m_transform.swapPairs) {
        for (std::size_t i = 0; i + 1 < bytes; i += 2) {
            std::swap(data[i], data[i + 1]);
        }
    }
    if (m_transform.reverseBytes && width > 1) {
        for (std::size_t i = 0; i + width <= bytes; i += width) {
            std::reverse(data + i, data + i + width);
        }
    }
}

// ========================================================== positioning

OSErr CLinearPCMFile::SetFilePos(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        if (!m_isOpen) {
            return kFileNotOpenedErr;
        }
        const SInt64 position = FramePosition(frame);
        OSErr err = SetFPos(m_refNum, fsFromStart, position);
        if (err == eofErr && m_writable) {
            err = CheckWriteExtent(frame);
            if (err == noErr) {
                err = ExtendData(frame);
            }
            if (err == noErr) {
                err = SetFPos(m_refNum, fsFromStart, position);
            }
        }
        return err;
    });
}

OSErr CLinearPCMFile::RecalcNumFrames()
{
    return Guarded([&]() -> OSErr {
        m_numFrames = FramesUpTo(FileLength());
        return noErr;
    });
}

// ============================================================ block I/O

template <typename Transfer>
OSErr CLinearPCMFile::TransferFileFrames(UInt32 frame, UInt32 frames, Transfer&& transfer)
{
    const OSErr err = SetFilePos(frame);
    if (err != noErr) {
        return err;
    }
    const std::size_t bytes = std::size_t(frames) * std::size_t(FileBytesPerFrame());
    long count = long(bytes);
    return transfer(bytes, &count);
}

OSErr CLinearPCMFile::ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes)
{
    *bytes = 0;
    return TransferFileFrames(frame, frames, [&](std::size_t wanted, long* count) {
        const OSErr err = FSRead(m_refNum, count, data);
        *bytes = std::size_t(std::clamp<long>(*count, 0, long(wanted)));
        return err;
    });
}

OSErr CLinearPCMFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    const OSErr err = ReadFileFrames(block, frame, frames, filled);
    DecodeSamples(block, *filled);
    return err;
}

OSErr CLinearPCMFile::LoadBlock(UInt8* block, UInt32 frame, UInt32 frames)
{
    const std::size_t blockBytes = std::size_t(m_bufferFrames) * std::size_t(BlockBytesPerFrame());
    std::size_t filled = 0;
    OSErr err = noErr;
    if (frames > 0) {
        err = LoadFrames(block, frame, frames, &filled);
        filled = std::min(filled, blockBytes);
        if (ReordersChannels()) {
            const std::size_t frameBytes = std::size_t(BlockBytesPerFrame());
            ArrangeFrames(block, filled / frameBytes, frameBytes / m_memoryFromFile.size(), m_memoryFromFile);
        }
    }
    if (filled < blockBytes) {
        std::memset(block + filled, 0, blockBytes - filled);
    }
    m_readBufferStart = frame;
    return err;
}

OSErr CLinearPCMFile::ReadBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
        return LoadReadBlock(
            frame, [this](UInt8* block, UInt32 at, UInt32 frames) { return LoadBlock(block, at, frames); });
    });
}

OSErr CLinearPCMFile::LoadWrittenFrames(UInt32 frame, UInt32* held)
{
    *held = 0;
    return Guarded([&]() -> OSErr {
        return LoadWriteBlock(frame, [this, held](UInt8* block, UInt32 at, UInt32) {
            // A file being written is extended to the block (or refused when
            // it may not grow that far).
            if (m_writable) {
                const OSErr err = SetFilePos(at);
                if (err != noErr) {
                    return err;
                }
            }
            // What the file already holds there (nothing past its end).
            const UInt32 frames = BlockFramesFrom(at);
            *held = frames;
            return LoadBlock(block, at, frames);
        });
    });
}

OSErr CLinearPCMFile::WriteFileFrames(const UInt8* data, UInt32 frames, UInt32 frame)
{
    return TransferFileFrames(frame, frames, [&](std::size_t bytes, long* count) {
        const OSErr err = FSWrite(m_refNum, count, data);
        return err == noErr && *count != long(bytes) ? ioErr : err;
    });
}

OSErr CLinearPCMFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    const UInt8* data = m_writeBuffer;
    if (m_transform.reverseBytes || m_transform.swapPairs || m_transform.flipSign) {
        // Converted in a copy: the block stays in its own layout.
        const std::size_t bytes = std::size_t(frames) * std::size_t(FileBytesPerFrame());
        m_scratch.assign(m_writeBuffer, m_writeBuffer + bytes);
        EncodeSamples(m_scratch.data(), bytes);
        data = m_scratch.data();
    }
    return WriteFileFrames(data, frames, frame);
}

template <typename Store>
OSErr CLinearPCMFile::WriteFramesWith(UInt32 frames, UInt32 frame, bool data, Store&& store)
{
    return Guarded(
        [&]() -> OSErr {
            if (!m_isOpen) {
                return kFileNotOpenedErr;
            }
            if (!m_writable) {
                return wrPermErr;
            }
            if (!data || frames > m_bufferFrames) {
                return paramErr;
            }
            if (frames == 0) {
                return noErr;
            }
            OSErr err = CheckWriteExtent(UInt64(frame) + frames);
            if (err == noErr) {
                err = store();
            }
            if (err != noErr) {
                return err;
            }
            m_numFrames = std::max<UInt32>(m_numFrames, UInt32(UInt64(frame) + frames));
            m_headerDirty = true;
            return noErr;
        },
        kCouldNotCreatePointerErr);
}

OSErr CLinearPCMFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    if (m_writable && m_numFrames == 0)
        PlaceChannels();
    return WriteFramesWith(frames, frame, m_writeBuffer != nullptr, [&] {
        if (!ReordersChannels())
            return StoreFrames(frames, frame);
        // Stored in the file's order; the block is given back in its own.
        const std::size_t frameBytes = std::size_t(BlockBytesPerFrame());
        const std::size_t sampleBytes = frameBytes / m_fileFromMemory.size();
        ArrangeFrames(m_writeBuffer, frames, sampleBytes, m_fileFromMemory);
        const OSErr err = StoreFrames(frames, frame);
        ArrangeFrames(m_writeBuffer, frames, sampleBytes, m_memoryFromFile);
        return err;
    });
}

std::vector<int> SpeakerMaskChannelOrder(AudioChannelLayoutTag tag, UInt32 channels, UInt32* mask)
{
    if (mask)
        *mask = 0;
    const std::vector<UInt32> labels = ChannelLabelsForLayoutTag(tag);
    if (channels < 3 || labels.size() != channels)
        return {};
    std::vector<int> order;
    const UInt32 speakers = SpeakerMaskForChannelLabels(labels, &order);
    if (mask)
        *mask = speakers;
    bool same = true;
    for (std::size_t i = 0; i < order.size(); ++i)
        same = same && order[i] == int(i);
    return speakers != 0 && !same ? InverseOrder(order) : std::vector<int>();
}

void CLinearPCMFile::PlaceChannels()
{
    if (!KeepsOwnChannelOrder())
        SetChannelOrder(SpeakerMaskChannelOrder(MemoryLayoutTag(), GetNumChannels()));
}

void CLinearPCMFile::SetChannelOrder(const std::vector<int>& memoryFromFile)
{
    if (memoryFromFile.size() != GetNumChannels()) {
        m_memoryFromFile.clear();
        m_fileFromMemory.clear();
        return;
    }
    m_memoryFromFile = memoryFromFile;
    m_fileFromMemory = InverseOrder(memoryFromFile);
}

// ====================================================== raw sample bytes

bool CLinearPCMFile::RawLayoutFromTransform(RawSampleLayout* layout) const
{
    const SInt16 bytes = BitsToBytes(m_numBits);
    if (m_numBits % 8 != 0 || bytes < 1 || bytes > 4 || m_sampleFormat == kSampleFormat24In32 ||
        m_transform.swapPairs || (m_transform.flipSign && bytes > 1) || ReordersChannels() ||
        FileBytesPerFrame() != BlockBytesPerFrame()) {
        return false;
    }
    layout->bytes = UInt8(bytes);
    layout->littleEndian = m_transform.reverseBytes && bytes > 1;
    layout->offsetBinary = m_transform.flipSign;
    return true;
}

OSErr CLinearPCMFile::ReadRawFrames(UInt32 frame, UInt8* data, UInt32* filled)
{
    *filled = 0;
    return Guarded([&]() -> OSErr {
        if (!m_isOpen) {
            return kFileNotOpenedErr;
        }
        // The frames ReadBlock would load, read the way it reads them.
        const UInt32 frames = BlockFramesFrom(frame);
        if (frames == 0) {
            return noErr;
        }
        std::size_t bytes = 0;
        const OSErr err = ReadFileFrames(data, frame, frames, &bytes);
        *filled = UInt32(std::min<std::size_t>(bytes / std::size_t(FileBytesPerFrame()), frames));
        return err;
    });
}

OSErr CLinearPCMFile::WriteRawFrames(const UInt8* data, UInt32 frames, UInt32 frame)
{
    return WriteFramesWith(frames, frame, data != nullptr, [&] { return WriteFileFrames(data, frames, frame); });
}

// ================================================================ close

OSErr CLinearPCMFile::Close()
{
    if (!m_isOpen) {
        return m_notOpenErr;
    }
    OSErr result = noErr;
    const bool written = m_writable;
    if (m_headerDirty && m_writable) {
        result = Guarded([&]() { return RewriteHeader(); });
        if (result == noErr) {
            m_headerDirty = false;
        }
    }
    const OSErr closeErr = CloseFileFork();
    if (closeErr == noErr) {
        m_isOpen = false;
        m_writable = false;
        m_refNum = 0;
    }
    if (written) {
        DropFinderInfoTheFileTells(result == noErr && closeErr == noErr);
    }
    return result != noErr ? result : closeErr;
}

void CLinearPCMFile::DropFinderInfoTheFileTells(bool complete)
{
    // A sidecar is kept only for what the file cannot tell: its type when
    // neither the header nor the name gives it (or names another type, as
    // a creator code refines AIFF), and a resource fork (which keeps the
    // Finder info with it).  An incomplete file keeps its Finder info.
    const std::string path = FSSpecPath(m_fsSpec);
    OSType told = 0;
    bool keep = !complete || DetectFileTypeFromContents(path, &told) != noErr || told != GetFileType();
    if (!keep) {
        bool fork = false;
        keep = AppleDoubleFile::ReadResourceFork(path, nullptr, &fork) == noErr && fork;
    }
    if (keep && (GetHFSFileType() != 0 || GetHFSCreator() != 0)) {
        FInfo info{};
        info.fdType = GetHFSFileType();
        info.fdCreator = GetHFSCreator();
        FSpSetFInfo(&m_fsSpec, &info);
    }
}
