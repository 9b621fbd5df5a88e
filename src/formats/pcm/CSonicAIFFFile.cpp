#include "CSonicAIFFFile.h"
#include "ByteOrder.h"
#include "CAIFFFile.h"
#include "SonicFileTypes.h"
#include "SoundFileFactories.h"
#include "aiff_chunks.h"

#include "FileManager.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "error_codes.h"
#include "frame_times.h"
#include "ieee_extended.h"

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

using namespace aiff_chunks;

namespace {

constexpr OSType kZuSD = FOUR_CHAR_CODE("ZuSD");
constexpr OSType kMCSF = FOUR_CHAR_CODE("MCSF");
constexpr OSType kOFFS = FOUR_CHAR_CODE("OFFS");
constexpr OSType kAFPR = FOUR_CHAR_CODE("AFPR");

// The largest file we write: its FORM size must stay a positive 32-bit value.
constexpr SInt64 kMaxFileEnd = SInt64(0x7FFFFFFF) + 8 - CSonicAIFFFile::kBlockSize;

std::atomic<SInt16> g_lastPackingMode{0};

void PutDouble(UInt8* p, double v)
{
    const UInt64 bits = std::bit_cast<UInt64>(v);
    for (int i = 0; i < 8; ++i) {
        p[i] = UInt8(bits >> (56 - 8 * i));
    }
}
double GetDouble(ChunkView& view)
{
    return std::bit_cast<double>(view.get_u64be());
}

bool IsWideMode(SInt16 mode)
{
    return mode == 2 || mode == 3 || mode == 10 || mode == 11;
}

void SwapOuterBytes(UInt8* data, std::size_t bytes)
{
    for (std::size_t i = 0; i + 3 <= bytes; i += 3) {
        std::swap(data[i], data[i + 2]);
    }
}

} // namespace

// ================================================================ object

CSonicAIFFFile::CSonicAIFFFile() : CLinearPCMFile(kSonicAIFFFileType, "Sonic AIFF")
{
    m_notOpenErr = fnOpnErr;
    m_splitSuffix = "(.1/.2)";
}

CSonicAIFFFile::~CSonicAIFFFile()
{
    if (m_isOpen) {
        Close();
    }
}

QString CSonicAIFFFile::GetFormatName() const { return FormatNameForMode(m_packingMode); }

QString CSonicAIFFFile::FormatNameForMode(SInt16 mode)
{
    switch (mode) {
    case 1: return QStringLiteral("Sonic 16 Bit Signed AIFF");
    case 2: return QStringLiteral("Sonic Unpacked (SSP/USP) AIFF");
    case 3: return QStringLiteral("Sonic Packed (USP) AIFF");
    case 10: return QStringLiteral("Sonic (HDSP 1.4 Little endian) AIFF");
    case 11: return QStringLiteral("Sonic (HDSP 1.5 Big endian) AIFF");
    default: return QStringLiteral("Sonic AIFF of unsupported type");
    }
}

SInt16 CSonicAIFFFile::GetLastPackingMode() { return g_lastPackingMode.load(); }
void CSonicAIFFFile::SetLastPackingMode(SInt16 mode) { g_lastPackingMode.store(mode); }

SInt64 CSonicAIFFFile::FileBytesPerSample(SInt16 mode)
{
    switch (mode) {
    case 1: case 9: return 2;
    case 2: return 4;
    case 3: case 10: case 11: return 3;
    default: return 0;
    }
}

SInt64 CSonicAIFFFile::PackedPosition(SInt64 dataOffset, SInt64 index)
{
    SInt64 blockStart = dataOffset - dataOffset % kBlockSize;
    SInt64 within = dataOffset % kBlockSize;
    if (within >= kPackedRun) {
        blockStart += kBlockSize;
        within = 0;
    }
    const SInt64 j = within + index;
    return blockStart + (j / kPackedRun) * kBlockSize + j % kPackedRun;
}

SInt64 CSonicAIFFFile::PackedBytesBetween(SInt64 dataOffset, SInt64 end)
{
    auto before = [](SInt64 p) { return (p / kBlockSize) * kPackedRun + std::min(p % kBlockSize, kPackedRun); };
    return end > dataOffset ? before(end) - before(dataOffset) : 0;
}

SInt64 CSonicAIFFFile::SamplePosition(SInt64 index) const
{
    return m_packingMode == 3 ? PackedPosition(m_dataOffset, index) : m_dataOffset + index;
}

void CSonicAIFFFile::SetSonicInfo(const UInt8* firstID, const UInt8* secondID, UInt32 index)
{
    m_mcsf.assign(kMCSFSize, 0);
    UInt8* header = m_mcsf.data();
    WriteBE32(header, kMCSF);
    WriteBE32(header + 4, UInt32(kMCSFSize - 8));
    UInt8* body = header + 8;
    WriteBE32(body + 0, index);
    body[4] = 1;
    body[5] = 1;
    WriteBE32(body + 68, index == 1 ? 0 : 1);
    WriteBE32(body + 72, index);
    if (firstID) {
        std::memcpy(body + 1100, firstID, 16);
    }
    if (secondID) {
        std::memcpy(body + 1116, secondID, 16);
    }
    m_freshHeader = false;
}

void CSonicAIFFFile::FillFreshMCSF()
{
    m_mcsf.assign(kMCSFSize, 0);
    UInt8* header = m_mcsf.data();
    WriteBE32(header, kMCSF);
    WriteBE32(header + 4, UInt32(kMCSFSize - 8));
    UInt8* body = header + 8;
    body[4] = 1;
    WriteBE32(body + 68, 0xFFFFFFFF);
    // The name as a Pascal string, its first 12 bytes.
    const std::string name = GetStoredFileNameString();
    const std::size_t length = std::min<std::size_t>(name.size(), 11);
    body[1100] = UInt8(length);
    std::memcpy(body + 1101, name.data(), length);
    // Seconds since 1904-01-01 (the Mac's clock), as 32 bits.
    const SInt64 seconds = QDateTime::currentSecsSinceEpoch() + 2082844800LL;
    WriteBE32(body + 1112, UInt32(seconds));
}

std::vector<UInt8> CSonicAIFFFile::BuildOFFS() const
{
    double start = 0.0;
    if (HasTimeStamp() && m_sampleRate > 0.0) {
        start = double(GetTimeStamp64()) / m_sampleRate;
    }
    const bool formB = m_packingMode == 10 || m_packingMode == 11;
    std::vector<UInt8> offs(formB ? 32 : 28, 0);
    WriteBE32(&offs[0], kOFFS);
    WriteBE32(&offs[4], UInt32(offs.size() - 8));
    PutDouble(&offs[8], start);
    PutDouble(&offs[formB ? 20 : 18], start);
    return offs;
}

std::vector<UInt8> CSonicAIFFFile::BuildAFPR() const
{
    std::vector<UInt8> afpr(kAFPRSize, 0);
    WriteBE32(&afpr[0], kAFPR);
    WriteBE32(&afpr[4], UInt32(kAFPRSize - 8));
    WriteBE16(&afpr[8], UInt16(m_packingMode));
    WriteBE16(&afpr[12], 1);
    return afpr;
}

OSErr CSonicAIFFFile::SetBufferFrames(UInt32 frames)
{
    m_conversion.clear();
    m_conversion.shrink_to_fit();
    return CSoundFile::SetBufferFrames(frames);
}

UInt8* CSonicAIFFFile::ConversionBuffer()
{
    const std::size_t bytes = std::size_t(m_bufferFrames) * std::max<std::size_t>(GetNumChannels(), 1) * 4;
    if (m_conversion.size() < bytes) {
        m_conversion.assign(bytes, 0);
    }
    return m_conversion.data();
}

// ============================================================ file access

OSErr CSonicAIFFFile::FindChunk(OSType id, ChunkInfo* info, UInt32 occurrence)
{
    RefNumChunkSource source(m_refNum);
    ChunkReader reader(source, WalkOptions());
    OSErr err = reader.ReadHeader();
    if (err != noErr) {
        return err;
    }
    return reader.Find(id, info, occurrence);
}

OSErr CSonicAIFFFile::ReadChunk(OSType id, ChunkInfo* info, ChunkView* body, bool* found, SInt64 maxBytes,
                                 UInt32 occurrence)
{
    const OSErr err = FindChunk(id, info, occurrence);
    return ReadFoundBody(m_refNum, err, *info, body, found, maxBytes);
}

OSErr CSonicAIFFFile::ReadFormHeader()
{
    return ReadFORMHeader(m_refNum, &m_formEnd);
}

OSErr CSonicAIFFFile::ReadCOMM()
{
    ChunkInfo info;
    ChunkView body;
    const OSErr err = ReadRequiredBody(m_refNum, FindChunk(kCOMM, &info), info, &body, 18, kAIFFNoCOMMErr, 18);
    if (err != noErr) {
        return err;
    }
    COMMFields comm;
    GetCOMMFields(body, &comm);
    if (!ShapeReadable(comm.channels, comm.bits)) {
        return kAIFFNoCOMMErr;
    }
    m_numChannels = UInt32(comm.channels);
    m_numFrames = comm.frames;
    m_numBits = WholeByteBits(comm.bits);
    m_sampleRate = ConvertFromIeeeExtended(comm.rate);
    if (!(m_sampleRate > 0.0) || std::isinf(m_sampleRate)) {
        return kBadSampleRateErr;
    }
    return noErr;
}

OSErr CSonicAIFFFile::ReadAPPL()
{
    // The first 'APPL' chunk with the signature 'SSYS'.
    m_afpr.clear();
    m_offs.clear();
    m_mcsf.clear();
    ChunkView body;
    bool found = false;
    for (UInt32 occurrence = 1; occurrence <= 100 && !found; ++occurrence) {
        ChunkInfo info;
        bool present = false;
        const OSErr err = ReadChunk(kAPPL, &info, &body, &present, -1, occurrence);
        if (err != noErr) {
            return err;
        }
        if (!present) {
            break;
        }
        found = body.has(4) && body.get_fourcc() == kSSYS;
    }
    if (found) {
        // The sub-chunks: ID, size, body; a size that passes the chunk ends the walk.
        while (body.has(8)) {
            const std::size_t start = body.tell();
            const OSType id = body.get_fourcc();
            const UInt32 size = body.get_u32be();
            if (!body.has(size)) {
                break;
            }
            ChunkView sub = body.get_view(size);
            std::vector<UInt8> whole(body.data() + start, body.data() + body.tell());
            if (id == kMCSF) {
                m_mcsf = whole;
            } else if (id == kOFFS && (size == 20 || size == 24)) {
                m_offs = whole;
                sub.seek(size == 20 ? 10 : 12);
                SetTimeStamp64(FramesFromSeconds(GetDouble(sub), m_sampleRate, 0xFFFFFFFFu));
            } else if (id == kAFPR && size >= 2) {
                m_afpr = whole;
                m_packingMode = sub.get_i16be();
                SetLastPackingMode(m_packingMode);
            }
        }
    }
    if (m_afpr.empty()) {
        m_packingMode = m_numBits == 16 ? 1 : 11;
    }
    return noErr;
}

OSErr CSonicAIFFFile::LocateSoundData()
{
    ChunkInfo info;
    SInt64 dataOffset = 0;
    const OSErr err = LocateSSNDData(m_refNum, FindChunk(kSSND, &info), info, &dataOffset);
    if (err != noErr) {
        return err;
    }
    const SInt64 end = info.BodyEnd();
    if (m_packingMode == 3 || m_packingMode == 2) {
        const SInt64 unit = m_packingMode == 3 ? 3 : 4;
        const SInt64 within = dataOffset % kBlockSize;
        if (within % unit != 0) {
            dataOffset += unit - within % unit;
        }
    }
    m_dataOffset = dataOffset;
    const SInt64 available = m_packingMode == 3 ? PackedBytesBetween(dataOffset, end)
                                                : std::max<SInt64>(0, end - dataOffset);
    const SInt64 frameBytes = FileBytesPerSample(m_packingMode) * SInt64(m_numChannels);
    if (frameBytes > 0) {
        // Frames the file does not hold are cut off, and the file is cut short.
        const SInt64 held = available / frameBytes;
        m_dataCutShort = SInt64(m_numFrames) > held;
        m_numFrames = UInt32(std::min<SInt64>(m_numFrames, held));
    }
    return noErr;
}

// ============================================================ annotations

OSErr CSonicAIFFFile::ReadMARK()
{
    if (!m_isOpen) {
        return kFileNotOpenedErr;
    }
    ChunkInfo info;
    ChunkView body;
    bool found = false;
    const OSErr err = ReadChunk(kMARK, &info, &body, &found);
    if (err != noErr || !found || !body.has(2)) {
        return err;
    }
    ForEachMARKEntry(body, [this](const MARKEntry& entry) {
        SFTMarker marker;
        marker.markerID = entry.id;
        marker.pos = entry.position;
        std::string name = entry.name;
        if (!name.empty() && name[0] == '#') {
            const std::size_t space = name.find(' ');
            SInt64 number = 0;
            for (std::size_t k = 1; k < name.size() && k < space && name[k] >= '0' && name[k] <= '9'; ++k) {
                number = std::min<SInt64>(number * 10 + (name[k] - '0'), 32767);
            }
            marker.number = SInt16(number);
            marker.type = 1;
            name = space == std::string::npos ? std::string() : name.substr(space + 1);
        } else {
            marker.type = 2;
            marker.number = -1;
        }
        SetName(marker.name, name);
        return AddMarker(&marker) == noErr;
    });
    return noErr;
}

OSErr CSonicAIFFFile::ReadINST()
{
    ChunkInfo info;
    ChunkView body;
    bool found = false;
    OSErr err = ReadChunk(kINST, &info, &body, &found, 20);
    if (err != noErr || !found || !body.has(20)) {
        return err;
    }
    SFTSamplerInfo sampler;
    GetINSTSampler(body, &sampler);
    SetSamplerInfo(&sampler);
    for (int k = 0; k < 2; ++k) {
        const INSTLoop entry = GetINSTLoop(body);
        if (entry.mode == 0) {
            continue;
        }
        SFTMarker begin, end;
        if (GetMarkerByID(entry.beginID, &begin) != noErr || GetMarkerByID(entry.endID, &end) != noErr) {
            return kAIFFNoCOMMErr;
        }
        RemoveMarker(&begin);
        if (entry.endID != entry.beginID) {
            RemoveMarker(&end);
        }
        SFTLoop loop;
        loop.loopID = k + 1;
        loop.start = begin.pos;
        loop.end = end.pos;
        loop.type = entry.mode;
        err = AddLoop(&loop);
        if (err != noErr) {
            return err;
        }
    }
    return noErr;
}

// ================================================================ open

OSErr CSonicAIFFFile::ReadHeader()
{
    OSErr err = ReadFormHeader();
    if (err == noErr) err = ReadCOMM();
    if (err == noErr) err = ReadAPPL();
    if (err != noErr) {
        return err;
    }
    m_sampleFormat = kSampleFormatBigEndian;
    // Only the word length that suits the packing can be read.
    const SInt64 fileBytes = FileBytesPerSample(m_packingMode);
    const SInt16 blockBits = fileBytes == 2 ? 16 : 24;
    if (fileBytes == 0 || m_numBits != blockBits) {
        return kAIFFNoCOMMErr;
    }
    if ((err = ReadMARK()) != noErr || (err = ReadINST()) != noErr || (err = LocateSoundData()) != noErr) {
        return err;
    }
    return noErr;
}

OSErr CSonicAIFFFile::ProbeHeader(SInt16* result)
{
    return ProbeWith(result, [this] {
        return Guarded([&]() -> OSErr {
            OSErr e = ReadFormHeader();
            if (e == noErr) {
                ReadCOMM();  // its result is not needed here
                e = ReadAPPL();
            }
            return e;
        });
    });
}

// ================================================================ create

OSErr CSonicAIFFFile::WriteHeaderChunks()
{
    // The 'MCSF' block made by Create (or SetSonicInfo) is written again as it is.
    if (m_mcsf.size() != kMCSFSize) {
        FillFreshMCSF();
    }
    const std::vector<UInt8> offs = BuildOFFS();
    const std::vector<UInt8> afpr = BuildAFPR();
    ChunkBuilder chunks;
    PutEmptyChunk(&chunks, kZuSD, 24);
    chunks.put_fourcc(kAPPL);
    chunks.put_u32(UInt32(4 + m_mcsf.size() + offs.size() + afpr.size()));
    chunks.put_fourcc(kSSYS);
    chunks.put_bytes(m_mcsf.data(), m_mcsf.size());
    chunks.put_bytes(offs.data(), offs.size());
    chunks.put_bytes(afpr.data(), afpr.size());
    return WriteAt(38, chunks.data(), chunks.size());
}

OSErr CSonicAIFFFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                             ConstStr255Param nameExtension, float sampleRate)
{
    if (m_isOpen) {
        return opWrErr;
    }
    // The packing: 16-bit -> 1; 24-bit -> the caller's choice, or the mode
    // of the Sonic file read last, or plain big-endian.
    const SInt16 choice = SInt16(reserved & 0xFF);
    SInt16 mode = 0;
    if (numBits == 16) {
        mode = 1;
    } else if (numBits == 24) {
        if (IsWideMode(choice)) {
            mode = choice;
        } else if (choice == 0 && IsWideMode(GetLastPackingMode())) {
            mode = GetLastPackingMode();
        } else {
            mode = 11;
        }
    }
    // What the format cannot hold is refused for this file only.
    if (mode == 0) {
        return kUnsupportedWordSizeErr;
    }
    if (numChannels == 0) {
        return kIncompatibleChannelsErr;
    }
    if (!(sampleRate > 0.0f) || std::isinf(sampleRate)) {
        return kIncompatibleSampleRateErr;
    }
    return Guarded([&]() -> OSErr {
        OSErr err = CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
        if (err != noErr) {
            return err;
        }
        err = CreateDataFork();
        if (err != noErr) {
            return err;
        }
        m_packingMode = mode;
        m_sampleFormat = kSampleFormatBigEndian;
        SetNewFileShape(numChannels, numBits, sampleRate);
        PlaceChannels();
        m_formEnd = kPlaceholderFORMSize;
        if (m_freshHeader || m_mcsf.size() != kMCSFSize) {
            FillFreshMCSF();
        }
        ChunkBuilder header;
        PutFORMHeader(&header, aiff_chunks::kAIFF);
        PutEmptyChunk(&header, kCOMM, 18);
        err = WriteAt(0, header.data(), header.size());
        if (err == noErr) err = WriteHeaderChunks();
        if (err != noErr) {
            return err;
        }
        const SInt64 ssndPos = FileLength();
        ChunkBuilder ssnd;
        ssnd.put_fourcc(kSSND);
        ssnd.put_u32(0);
        ssnd.put_u32(UInt32(kBlockSize - 16 - ssndPos));
        ssnd.put_u32(UInt32(kBlockSize));
        err = WriteAt(ssndPos, ssnd.data(), ssnd.size());
        if (err == noErr) {
            m_dataOffset = kBlockSize;
            err = SetEOF(m_refNum, kBlockSize);
        }
        return err;
    });
}

// ================================================================= close

OSErr CSonicAIFFFile::RewriteHeader()
{
    OSErr err = noErr;
    const SInt64 bytesPerSample = BitsToBytes(m_numBits);
    if ((m_numFrames & 1) && (m_numChannels & 1) && (bytesPerSample == 1 || bytesPerSample == 3)) {
        // One zero frame keeps the sample data an even number of bytes.
        const std::vector<UInt8> zeros(std::size_t(m_numChannels * FileBytesPerSample(m_packingMode)), 0);
        err = WriteSampleBytes(SInt64(m_numFrames) * SInt64(zeros.size()), zeros.data(), zeros.size());
        if (err != noErr) {
            return err;
        }
    }
    // (Close runs this guarded: a failed length is its code.)
    const SInt64 eof = FileLength() / kBlockSize * kBlockSize + kBlockSize;
    if (eof - 8 > 0x7FFFFFFF) {
        return fsDataTooBigErr;
    }
    err = SetEOF(m_refNum, eof);
    if (err != noErr) {
        return err;
    }
    ChunkBuilder comm;
    PutCOMM(&comm, 18, UInt16(m_numChannels), m_numFrames, UInt16(m_numBits), m_sampleRate);
    err = WriteAt(12, comm.data(), comm.size());
    if (err == noErr) err = WriteHeaderChunks();
    if (err != noErr) {
        return err;
    }
    ChunkInfo ssnd;
    err = FindChunk(kSSND, &ssnd);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kAIFFNoSSNDErr : err;
    }
    UInt8 size[4];
    WriteBE32(size, UInt32(eof - ssnd.bodyPos));
    err = WriteAt(ssnd.SizePos(), size, sizeof size);
    if (err != noErr) {
        return err;
    }
    RefNumChunkSource source(m_refNum);
    ChunkReader reader(source, WalkOptions());
    if (reader.ReadHeader() != noErr || reader.ContainerID() != kFORM) {
        return kAIFFNoFORMErr;
    }
    WriteBE32(size, UInt32(eof - 8));
    return WriteAt(4, size, sizeof size);
}

// ============================================================= block I/O

OSErr CSonicAIFFFile::ReadSampleBytes(SInt64 index, UInt8* out, std::size_t count, std::size_t* got)
{
    *got = 0;
    while (*got < count) {
        const SInt64 position = SamplePosition(index + SInt64(*got));
        std::size_t run = count - *got;
        if (m_packingMode == 3) {
            run = std::min<std::size_t>(run, std::size_t(kPackedRun - position % kBlockSize));
        }
        OSErr err = SetFPos(m_refNum, fsFromStart, position);
        if (err == eofErr) {
            return noErr;
        }
        if (err != noErr) {
            return err;
        }
        long n = long(run);
        err = FSRead(m_refNum, &n, out + *got);
        *got += std::size_t(std::max<long>(n, 0));
        if (err == eofErr || std::size_t(n) < run) {
            return noErr;
        }
        if (err != noErr) {
            return err;
        }
    }
    return noErr;
}

OSErr CSonicAIFFFile::WriteSampleBytes(SInt64 index, const UInt8* data, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const SInt64 position = SamplePosition(index + SInt64(done));
        std::size_t run = count - done;
        if (m_packingMode == 3) {
            run = std::min<std::size_t>(run, std::size_t(kPackedRun - position % kBlockSize));
        }
        if (position + SInt64(run) > kMaxFileEnd) {
            return fsDataTooBigErr;
        }
        // WriteAt extends the file with zeros up to `position` (the zero
        // tails of packed blocks included).
        const OSErr err = WriteAt(position, data + done, run);
        if (err != noErr) {
            return err;
        }
        done += run;
    }
    return noErr;
}

SInt64 CSonicAIFFFile::FramePosition(UInt32 frame) const
{
    return SamplePosition(SInt64(frame) * GetNumChannels() * FileBytesPerSample(m_packingMode));
}

OSErr CSonicAIFFFile::CheckWriteExtent(UInt64 endFrame) const
{
    return SamplePosition(SInt64(endFrame) * GetNumChannels() * FileBytesPerSample(m_packingMode)) > kMaxFileEnd
               ? fsDataTooBigErr
               : noErr;
}

OSErr CSonicAIFFFile::ExtendData(UInt32 frame)
{
    // Zeros up to the frame; the frame count follows what is written.
    return SetEOF(m_refNum, FramePosition(frame));
}

OSErr CSonicAIFFFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* loaded)
{
    QM_TRACE("SonicAIFF::RefreshBuffer", "packing mode:" << m_packingMode);
    const std::size_t blockBytes = BlockBytes();
    const SInt64 fileBytes = FileBytesPerSample(m_packingMode);
    const std::size_t samples = std::size_t(frames) * GetNumChannels();
    const std::size_t blockBps = std::size_t(BitsToBytes(m_numBits));
    std::size_t filled = 0;  // block bytes holding file samples
    OSErr err = noErr;
    if (samples > 0 && fileBytes > 0 && SInt64(blockBps) * SInt64(samples) <= SInt64(blockBytes)) {
        const SInt64 index = SInt64(frame) * GetNumChannels() * fileBytes;
        std::size_t got = 0;
        switch (m_packingMode) {
        case 2: {
            UInt8* conversion = ConversionBuffer();
            err = ReadSampleBytes(index, conversion, samples * 4, &got);
            const std::size_t whole = got / 4;
            for (std::size_t i = 0; i < whole; ++i) {
                const UInt8* c = conversion + 4 * i;
                UInt8* b = block + 3 * i;
                b[0] = c[1];
                b[1] = c[0];
                b[2] = c[3];
            }
            filled = whole * 3;
            break;
        }
        case 3:
        case 10:
            err = ReadSampleBytes(index, block, samples * 3, &got);
            filled = got / 3 * 3;
            SwapOuterBytes(block, filled);
            break;
        default:  // 1, 9, 11: as stored
            err = ReadSampleBytes(index, block, samples * blockBps, &got);
            filled = got / blockBps * blockBps;
            break;
        }
    }
    *loaded = filled;
    return err;
}

OSErr CSonicAIFFFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    QM_TRACE("SonicAIFF::FlushOutput", "packing mode:" << m_packingMode);
    const std::size_t samples = std::size_t(frames) * GetNumChannels();
    const SInt64 index = SInt64(frame) * GetNumChannels() * FileBytesPerSample(m_packingMode);
    UInt8* conversion = nullptr;
    if (m_packingMode == 2 || m_packingMode == 3 || m_packingMode == 10) {
        try {
            conversion = ConversionBuffer();
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
    }
    OSErr err = noErr;
    switch (m_packingMode) {
    case 1:
    case 11:
        err = WriteSampleBytes(index, m_writeBuffer, samples * std::size_t(BitsToBytes(m_numBits)));
        break;
    case 2:
        for (std::size_t i = 0; i < samples; ++i) {
            const UInt8* b = m_writeBuffer + 3 * i;
            UInt8* c = conversion + 4 * i;
            c[0] = b[1];
            c[1] = b[0];
            c[2] = 0;
            c[3] = b[2];
        }
        err = WriteSampleBytes(index, conversion, samples * 4);
        break;
    case 3:
    case 10:
        std::memcpy(conversion, m_writeBuffer, samples * 3);
        SwapOuterBytes(conversion, samples * 3);
        err = WriteSampleBytes(index, conversion, samples * 3);
        break;
    default:
        return paramErr;
    }
    return err;
}

UInt32 CSonicAIFFFile::FramesUpTo(SInt64 length) const
{
    // Counted in the file's own layout (mode 3 leaves out the zero tails).
    const SInt64 frameBytes = FileBytesPerSample(m_packingMode) * GetNumChannels();
    if (frameBytes <= 0) {
        return m_numFrames;
    }
    const SInt64 bytes = m_packingMode == 3 ? PackedBytesBetween(m_dataOffset, length)
                                            : std::max<SInt64>(0, length - m_dataOffset);
    return UInt32(std::min<SInt64>(bytes / frameBytes, std::numeric_limits<UInt32>::max()));
}

SoundFileTypeDescriptor CSonicAIFFFile::Descriptor()
{
    return {.type = kSonicAIFFFileType,
            .factory = &MakeSoundFile<CSonicAIFFFile>,
            .sniffer = &SniffSonicAIFF,
            .sniffPriority = 1,
            .probe = &ProbeAIFFHeader,
            .setMember = true};
}
