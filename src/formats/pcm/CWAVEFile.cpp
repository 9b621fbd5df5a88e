#include "CWAVEFile.h"

#include "ByteOrder.h"
#include "ChannelArrangement.h"
#include "ChannelLabels.h"
#include "FileManager.h"
#include "ForkInputStream.h"
#include "SoundFileFactories.h"
#include "SoundFileSwitches.h"
#include "WAVEFileTypes.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "format_helpers.h"
#include "g711.h"
#include "pcm_bytes.h"
#include "progress_channel.h"
#include "riff_chunks.h"
#include "throw_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

namespace {

using namespace riff_chunks;
using namespace wave_chunks;

constexpr FourCharCode kSmpl = ChunkID("smpl");
constexpr FourCharCode kInst = ChunkID("inst");

// The placeholder RIFF size of a file being written.
constexpr UInt32 kPlaceholderRIFFSize = 0x7FFFFFFF;
// The largest sample block a file with very wide frames gets (bytes).
constexpr UInt64 kMaxBlockBytes = 16u << 20;

// A float sample as a 32-bit integer: the product rounded to single
// precision, then truncated and clipped.
inline SInt32 FloatToInt32(float f)
{
    const float p = float(double(f) * 2147483647.0);
    if (!(p == p))
        return 0;
    if (p >= 2147483648.0f)
        return std::numeric_limits<SInt32>::max();
    if (p <= -2147483648.0f)
        return std::numeric_limits<SInt32>::min();
    return SInt32(p);
}

inline float Int32ToFloat(SInt32 i)
{
    return float(double(float(i)) * 4.65661287308e-10);
}

} // namespace

// =================================================== channel masks
SInt32 WAVEChannelMaskToConfiguration(UInt32 channels, UInt32 mask)
{
    if (channels < 3 || channels > 8)
        return kChannelConfigMultichannel;
    return ArrangementForChannelLabels(ChannelLabelsForSpeakerMask(mask, channels)).configuration;
}

UInt32 WAVEChannelConfigurationToMask(SInt32 configuration, UInt32 channels)
{
    if (configuration == kChannelConfigMultichannel)
        return 0;
    const AudioChannelLayoutTag tag = LayoutTagForConfiguration(configuration, channels);
    if ((tag & 0xFFFF) != channels)
        return 0;
    return SpeakerMaskForChannelLabels(ChannelLabelsForLayoutTag(tag), nullptr);
}

UInt32 WAVEChannelMaskForLayout(AudioChannelLayoutTag tag, UInt32 channels, std::vector<int>* memoryFromFile)
{
    UInt32 mask = 0;
    *memoryFromFile = SpeakerMaskChannelOrder(tag, channels, &mask);
    return mask;
}

// ================================================ detection helpers
OSErr FindRIFFChunk(const std::string& id, UInt32 occurrence, std::istream& stream)
{
    try {
        if (id == "RIFF") {
            char bytes[4] = {};
            stream.clear();
            stream.seekg(0, std::ios::beg);
            stream.read(bytes, 4);
            if (!stream || std::memcmp(bytes, "RIFF", 4) != 0)
                return kChunkNotFoundErr;
            return noErr;
        }
        StreamChunkSource source(stream);
        RIFFChunkList chunks;
        ChunkInfo info;
        if (chunks.Walk(source) != noErr || chunks.Find(ChunkIDFromString(id), &info, occurrence) != noErr)
            return kChunkNotFoundErr;
        stream.clear();
        stream.seekg(std::streamoff(info.headerPos + 4), std::ios::beg);
        return stream ? noErr : kChunkNotFoundErr;
    } catch (...) {
        stream.clear();
        return kChunkNotFoundErr;
    }
}

UInt32 GetWAVENumChannels(const std::string& path)
{
    try {
        ForkInputStream stream(path);
        if (stream.openError() != noErr)
            return 0;
        StreamChunkSource source(stream);
        RIFFChunkList chunks;
        WAVEFormat format;
        if (chunks.Walk(source) != noErr || chunks.ContainerID() != kRIFF ||
            wave_chunks::ReadFormat(chunks, &format, 16, false) != noErr)
            return 0;
        return format.channels;
    } catch (...) {
        return 0;
    }
}

// ======================================================== construction
CWAVEFile::CWAVEFile() : CWAVEFile(FOUR_CHAR_CODE("WAVE"), "Wave") {}

CWAVEFile::CWAVEFile(OSType fileType, const char* formatName) : CLinearPCMFile(fileType, formatName)
{
    m_notOpenErr = fnOpnErr;
    m_splitSuffix = "(.L/.R)";
}

CWAVEFile::~CWAVEFile()
{
    if (IsOpen())
        Close();
}


std::string CWAVEFile::GetChannelName(UInt16 channel) const
{
    // Names in the order the channels have in memory (the layout's order).
    static const std::vector<std::vector<const char*>> kNames = {
        {"1"},
        {"Left", "Right"},
        {"Left", "Right", "Center"},
        {"Left", "Right", "Left surround", "Right surround"},
        {"Left", "Right", "Center", "Surround"},
        {"Left", "Right", "Center", "Left surround", "Right surround"},
        {"Left", "Right", "Center", "LFE", "Left surround", "Right surround"},
        {"Left", "Right", "Left surround", "Right surround", "Center", "Center surround"},
        {},
        {"Left", "Right", "Center", "LFE", "Left surround", "Right surround", "Left front narrow",
         "Right front narrow"},
    };
    const SInt32 configuration = GetChannelConfiguration();
    if (configuration >= 0 && configuration < SInt32(kNames.size()) && !kNames[configuration].empty()) {
        const auto& names = kNames[configuration];
        return names[std::min<std::size_t>(channel, names.size() - 1)];
    }
    return std::to_string(unsigned(channel) + 1);
}

// ========================================================= file access
OSErr CWAVEFile::GetFileLength(SInt64* length)
{
    if (m_staging) {
        *length = SInt64(m_staged.size());
        return noErr;
    }
    return GetEOF(m_refNum, length);
}

OSErr CWAVEFile::AppendBytes(const void* bytes, std::size_t count)
{
    if (m_staging) {
        const UInt8* p = static_cast<const UInt8*>(bytes);
        m_staged.insert(m_staged.end(), p, p + count);
        return noErr;
    }
    SInt64 end = 0;
    OSErr err = GetFileLength(&end);
    if (err)
        return err;
    return WriteAt(end, bytes, count);
}

OSErr CWAVEFile::WriteU32At(SInt64 position, UInt32 value)
{
    const UInt8 bytes[4] = {UInt8(value), UInt8(value >> 8), UInt8(value >> 16), UInt8(value >> 24)};
    return WriteAt(position, bytes, 4);
}

bool CWAVEFile::DataFits(UInt64 frames) const
{
    const UInt64 dataBytes = frames * GetFileFrameBytes();
    const UInt64 end = UInt64(m_dataOffset) + dataBytes + (dataBytes & 1);
    return end - 8 <= 0xFFFFFFFFull;
}

OSErr CWAVEFile::WalkChunks()
{
    m_chunkSource = RefNumChunkSource(m_refNum);
    return m_chunks.Walk(m_chunkSource);
}

OSErr CWAVEFile::FindChunk(FourCharCode id, ChunkInfo* info, UInt32 occurrence)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    // A file being written changes under the list: it is walked again.
    if (m_headerDirty) {
        const OSErr err = WalkChunks();
        if (err)
            return err;
    }
    const OSErr err = m_chunks.Find(id, info, occurrence);
    if (err == noErr)
        SetFPos(m_refNum, fsFromStart, info->headerPos + 4);
    return err;
}

OSErr CWAVEFile::ReadOptionalChunk(FourCharCode id, ChunkView* view, bool* found, SInt64 maxBytes)
{
    *found = false;
    ChunkInfo info;
    const OSErr err = FindChunk(id, &info);
    if (err == kChunkNotFoundErr)
        return noErr;
    if (err)
        return err;
    *found = true;
    return ReadChunkBody(info, view, maxBytes);
}

OSErr CWAVEFile::ReadChunkBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    return m_chunks.ReadBody(info, view, maxBytes);
}

OSErr CWAVEFile::OpenForReading()
{
    OSErr err = CLinearPCMFile::OpenForReading();
    if (err)
        return err;
    err = WalkChunks();
    if (err)
        return err;
    if (m_chunks.ContainerID() != kRIFF)
        return kChunkNotFoundErr;
    m_riffEnd = m_chunks.ContainerEnd();
    return noErr;
}

OSErr CWAVEFile::CloseFork(OSErr result)
{
    const OSErr closeErr = FSClose(m_refNum);
    m_isOpen = false;
    m_headerDirty = false;
    m_refNum = 0;
    return result ? result : closeErr;
}

// ============================================================== format
OSErr CWAVEFile::SetCodingFromFormat(const WAVEFormat& format)
{
    if (format.channels == 0)
        return kUnsupportedDataErr;
    UInt32 fileBytes = 0;
    SInt16 memoryBits = 0;
    switch (format.coding) {
    case kWAVEFormatPCM: {
        // Words that are not whole bytes sit in the bytes that hold them
        // (the block alignment agrees: wave_chunks::CheckFrameLayout).
        fileBytes = (UInt32(format.bitsPerSample) + 7) / 8;
        if (fileBytes < 1 || fileBytes > 4)
            return kUnsupportedDataErr;
        m_coding = Coding::PCM;
        memoryBits = SInt16(fileBytes * 8);
        m_sampleFormat = fileBytes == 1 ? kSampleFormatUnsigned8LE : kSampleFormatLittleEndian;
        break;
    }
    case kWAVEFormatFloat:
        // Only 32-bit floats; 64-bit ones are refused rather than misread.
        if (format.bitsPerSample != 32)
            return kUnsupportedDataErr;
        m_coding = Coding::Float;
        fileBytes = 4;
        memoryBits = 32;
        m_sampleFormat = kSampleFormatFloatLE;
        break;
    case kWAVEFormatMuLaw:
    case kWAVEFormatALaw:
        if (format.bitsPerSample != 8)
            return kUnsupportedDataErr;
        m_coding = format.coding == kWAVEFormatMuLaw ? Coding::MuLaw : Coding::ALaw;
        fileBytes = 1;
        memoryBits = 16;
        m_sampleFormat = format.coding == kWAVEFormatMuLaw ? kSampleFormatMuLaw : kSampleFormatALaw;
        break;
    default:
        return kUnsupportedDataErr;
    }
    m_fileSampleBytes = fileBytes;
    m_numChannels = format.channels;
    m_numBits = memoryBits;
    m_sampleRate = double(format.sampleRate);
    if (format.sampleRate == 0)
        return kUnsupportedDataErr;
    // Keep the sample block of very wide frames within bounds.
    const UInt64 frameBytes = UInt64(format.channels) * UInt64(memoryBits / 8);
    CapBlockBytes(*this, frameBytes, kMaxBlockBytes);
    return noErr;
}

OSErr CWAVEFile::ReadDataChunk()
{
    ChunkInfo data;
    OSErr err = FindChunk(kData, &data);
    if (err == kChunkNotFoundErr)
        return kWAVENoDataChunkErr;
    if (err)
        return err;
    m_dataOffset = data.bodyPos;
    // A size of 0xFFFFFFFF or one past the end of the file runs to the end.
    const UInt64 frames = UInt64(data.bodySize) / GetFileFrameBytes();
    // Data that cannot hold one frame (also "to the end of the file"): the
    // channel count is not real.
    if (frames == 0 && data.bodySize > 0)
        return kWAVEBadDataSizeErr;
    m_numFrames = UInt32(std::min<UInt64>(frames, 0xFFFFFFFFull));
    // A size passing the end of the file: the frames present are read.
    m_dataCutShort = data.clamped && !data.sizeUnknown;
    return noErr;
}

OSErr CWAVEFile::ReadExtensibleFmtChunk()
{
    ChunkInfo info;
    OSErr err = FindChunk(kFmt, &info);
    if (err)
        return err;
    if (info.sizeField < 40 || info.bodySize < 40)
        return kChunkNotFoundErr;
    WAVEFormat format;
    err = FindAndParseFormat(&format);
    if (err)
        return err;
    if (format.tag != kWAVEFormatExtensible || !format.extensible)
        return kChunkNotFoundErr;
    if (format.coding == kWAVEFormatMPEG)
        return kUnsupportedDataErr;
    err = SetCodingFromFormat(format);
    if (err)
        return err;
    SetConfigurationFromFormat(format);  // extensible: the mask is kept
    return noErr;
}

OSErr CWAVEFile::ReadFormat()
{
    OSErr err = ReadExtensibleFmtChunk();
    if (err != noErr && err != kChunkNotFoundErr)
        return err;
    if (err == kChunkNotFoundErr) {
        WAVEFormat format;
        err = FindAndParseFormat(&format, 16);
        if (err)
            return err;
        if (format.tag != kWAVEFormatPCM && format.tag != kWAVEFormatExtensible)
            return kUnsupportedDataErr;
        format.coding = kWAVEFormatPCM;
        err = SetCodingFromFormat(format);
        if (err)
            return err;
        m_channelMask = 0;
        SetChannelOrder({});
        if (format.channels == 1)
            SetChannelConfiguration(kChannelConfigMono);
        else if (format.channels == 2)
            SetChannelConfiguration(kChannelConfigStereo);
    }
    return ReadDataChunk();
}

OSErr CWAVEFile::FindAndParseFormat(WAVEFormat* format, SInt64 maxBytes)
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    const OSErr err = wave_chunks::ReadFormat(m_chunks, format, maxBytes);
    return err == kChunkNotFoundErr ? kWAVENoFmtChunkErr : err;
}

OSErr CWAVEFile::ReadFormatOfCodings(UInt16 coding, UInt16 otherCoding)
{
    WAVEFormat format;
    OSErr err = FindAndParseFormat(&format);
    if (err)
        return err;
    if (format.coding != coding && format.coding != otherCoding)
        return kUnsupportedDataErr;
    err = SetCodingFromFormat(format);
    if (err)
        return err;
    SetConfigurationFromFormat(format);
    return ReadDataChunk();
}

void CWAVEFile::SetConfigurationFromFormat(const WAVEFormat& format)
{
    m_channelMask = format.extensible ? format.channelMask : 0;
    SetChannelOrder({});
    SetMultichannelLayoutTag(0);
    if (format.channels == 1) {
        SetChannelConfiguration(kChannelConfigMono);
    } else if (format.channels == 2) {
        SetChannelConfiguration(kChannelConfigStereo);
    } else if (format.extensible) {
        // The speakers of the mask, in the order of their configuration.
        const ChannelArrangement arrangement =
            ArrangementForChannelLabels(ChannelLabelsForSpeakerMask(format.channelMask, format.channels));
        SetChannelConfiguration(arrangement.configuration);
        if (arrangement.configuration == kChannelConfigMultichannel)
            SetMultichannelLayoutTag(arrangement.layoutTag);
        SetChannelOrder(arrangement.order);
    }
}

// ================================================================ open
OSErr CWAVEFile::Open()
{
    if (m_isOpen)
        return opWrErr;
    try {
        THROW_IF_ERROR(OpenForReading(), "Open: RIFF header");
        THROW_IF_ERROR(ReadFormat(), "Open: format");
        OpenChunks();
        return noErr;
    } catch (const error_code_exception& e) {
        QM_TRACE("Open", "could not open " << m_path << ": " << e.what());
        return NarrowError(e.code());
    }
}

void CWAVEFile::OpenChunks()
{
    const OSErr chunksErr = ReadChunks();
    if (!GetSkipBadRegion())
        MakeRegionNamesUnique();
    THROW_IF_ERROR(chunksErr, "Open: annotation chunks");
}

OSErr CWAVEFile::ProbeHeader(SInt16* result)
{
    if (result)
        *result = 0;
    try {
        THROW_IF_ERROR(OpenForReading(), "ProbeHeader: RIFF header");
        THROW_IF_ERROR(ReadFormat(), "ProbeHeader: format");
        SInt16 count = 0;
        THROW_IF_ERROR(CountRegionTexts(&count), "ProbeHeader: regions");
        if (result)
            *result = count;
        ProbeExtraChunks();
        ReadSmplChunk();
        return CloseFork(noErr);
    } catch (const error_code_exception& e) {
        if (m_isOpen)
            CloseFork(noErr);
        return NarrowError(e.code());
    }
}


// ======================================================== annotations
OSErr CWAVEFile::ReadSmplChunk()
{
    if (!m_loops.isEmpty())
        return noErr;
    ChunkInfo info;
    if (FindChunk(kSmpl, &info) != noErr)
        return noErr;
    ChunkView body;
    if (ReadChunkBody(info, &body) != noErr || body.size() < 36)
        return noErr;
    const UInt32 declared = ReadLE32(body.data() + 28);
    const UInt32 count = UInt32(std::min<UInt64>(declared, (body.size() - 36) / 24));
    for (UInt32 i = 0; i < count; ++i) {
        const UInt8* p = body.data() + 36 + std::size_t(i) * 24;
        SFTLoop loop;
        loop.loopID = SInt32(i);
        loop.start = ReadLE32(p + 8);
        // The sampler loop names its last frame; a loop here ends after it.
        const UInt32 last = ReadLE32(p + 12);
        loop.end = last < 0xFFFFFFFFu ? last + 1 : last;
        loop.type = 1;
        AddLoop(&loop);
    }
    return noErr;
}

OSErr CWAVEFile::ReadChunks()
{
    if (!m_isOpen)
        return kFileNotOpenedErr;
    try {
        return ReadChunksBody();
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
}

OSErr CWAVEFile::ReadChunksBody()
{
    ReadSmplChunk();

    ChunkInfo info;
    OSErr err = FindChunk(kInst, &info);
    if (err == noErr) {
        ChunkView body;
        THROW_IF_ERROR(ReadChunkBody(info, &body, 8), "ReadChunks: inst");
        if (body.size() >= 7) {
            const UInt8* p = body.data();
            SFTSamplerInfo sampler;
            sampler.baseNote = p[0];
            sampler.detune = SInt8(p[1]);
            sampler.lowNote = p[3];
            sampler.highNote = p[4];
            sampler.lowVelocity = p[5];
            sampler.highVelocity = p[6];
            sampler.gain = 0;
            sampler.valid = 1;
            SetSamplerInfo(&sampler);
        }
    } else if (err != kChunkNotFoundErr) {
        THROW_IF_ERROR(err, "ReadChunks: inst");
    }

    std::vector<wave_chunks::CueAnnotation> annotations;
    THROW_IF_ERROR(wave_chunks::ReadCueList(m_chunks, &annotations), "ReadChunks: cue, adtl");
    THROW_IF_ERROR(wave_chunks::AddCueAnnotations(*this, annotations, GetIgnoreRegionsContainingWholeFile()),
                   "ReadChunks: markers and regions");

    if (m_regions.isEmpty())
        THROW_IF_ERROR(AddFileRegion(), "ReadChunks: file region");
    return noErr;
}

OSErr CWAVEFile::CountRegionTexts(SInt16* count)
{
    if (count)
        *count = 0;
    if (!m_isOpen)
        return kFileNotOpenedErr;
    long n = 0;
    const OSErr err = wave_chunks::CountRegionTexts(m_chunks, &n);
    if (count)
        *count = SInt16(std::min<long>(n, 32767));
    return err;
}

// ============================================================ writing
OSErr CWAVEFile::BeginCreate(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                             ConstStr255Param nameExtension, float sampleRate, Coding coding)
{
    if (m_isOpen)
        return opWrErr;
    CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (numChannels == 0)
        return kUnsupportedDataErr;
    UInt32 fileBytes = 0;
    SInt16 memoryBits = 0;
    switch (coding) {
    case Coding::PCM:
        if (numBits <= 0 || numBits > 32)
            return kUnsupportedDataErr;
        fileBytes = (UInt32(numBits) + 7) / 8;
        memoryBits = SInt16(fileBytes * 8);
        m_sampleFormat = fileBytes == 1 ? kSampleFormatUnsigned8LE : kSampleFormatLittleEndian;
        break;
    case Coding::Float:
        fileBytes = 4;
        memoryBits = 32;
        m_sampleFormat = kSampleFormatFloatLE;
        break;
    case Coding::MuLaw:
    case Coding::ALaw:
        fileBytes = 1;
        memoryBits = 16;
        m_sampleFormat = coding == Coding::MuLaw ? kSampleFormatMuLaw : kSampleFormatALaw;
        break;
    }

    OSErr err = CreateDataFork();
    if (err)
        return err;
    RememberFSRef(m_fsSpec, &m_fsRef, &m_fsRefValid);
    m_coding = coding;
    m_fileSampleBytes = fileBytes;
    SetNewFileShape(numChannels, memoryBits, sampleRate);
    m_riffEnd = kPlaceholderRIFFSize;
    m_channelMask = 0;
    m_fmtExtensible = false;
    PlaceChannels();
    const UInt64 frameBytes = UInt64(numChannels) * UInt64(memoryBits / 8);
    CapBlockBytes(*this, frameBytes, kMaxBlockBytes);

    ChunkBuilder header(ChunkByteOrder::LittleEndian);
    header.put_fourcc(kRIFF);
    header.put_u32le(kPlaceholderRIFFSize);
    header.put_fourcc(kWAVE);
    return AppendBytes(header.data(), header.size());  // the new file is empty
}

OSErr CWAVEFile::FinishHeader()
{
    ChunkBuilder data(ChunkByteOrder::LittleEndian);
    data.put_fourcc(kData);
    data.put_u32le(0);
    SInt64 end = 0;
    OSErr err = GetFileLength(&end);
    if (err)
        return err;
    err = AppendBytes(data.data(), data.size());
    if (err)
        return err;
    m_dataOffset = end + 8;
    return noErr;
}

OSErr CWAVEFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                        ConstStr255Param nameExtension, float sampleRate)
{
    // The header (RIFF, format chunks, data chunk header) is put together
    // and written in one piece.
    struct Staging {
        CWAVEFile& file;
        explicit Staging(CWAVEFile& f) : file(f)
        {
            file.m_staged.clear();
            file.m_staging = true;
        }
        ~Staging()
        {
            file.m_staging = false;
            file.m_staged.clear();
        }
    } staging(*this);
    // The linear types keep a float input's 32-bit floats.
    Coding coding = WrittenCoding();
    if (coding == Coding::PCM && m_keepsFloatSamples && numBits == 32)
        coding = Coding::Float;
    OSErr err = BeginCreate(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate, coding);
    if (err)
        return err;
    err = WriteFormatChunks();
    if (err)
        return err;
    err = FinishHeader();
    if (err)
        return err;
    m_staging = false;
    return WriteAt(0, m_staged.data(), m_staged.size());
}

CWAVEFile::Coding CWAVEFile::WrittenCoding() const
{
    return Coding::PCM;
}

OSErr CWAVEFile::WriteFormatChunks()
{
    // Floats kept by the linear types are said by the extensible form's
    // subformat (the plain form's float tag is the float type's).
    return m_numChannels > 2 || m_coding == Coding::Float ? WriteExtensibleFmtChunk() : WriteFmtChunk();
}

namespace {
// The fields of both 'fmt ' forms.
WAVEFormat FormatFields(UInt16 tag, UInt32 channels, double rate, UInt32 sampleBytes, UInt16 bits)
{
    WAVEFormat format;
    const UInt32 integerRate = RateHeaderWord(rate);
    const UInt64 blockAlign = UInt64(channels) * sampleBytes;
    const UInt64 byteRate = UInt64(integerRate) * blockAlign;
    format.tag = tag;
    format.channels = UInt16(channels);
    format.sampleRate = integerRate;
    format.byteRate = UInt32(std::min<UInt64>(byteRate, 0xFFFFFFFFull));
    format.blockAlign = UInt16(std::min<UInt64>(blockAlign, 0xFFFF));
    format.bitsPerSample = bits;
    return format;
}

UInt16 TagOfCoding(int coding)
{
    switch (coding) {
    case 1: return kWAVEFormatFloat;
    case 2: return kWAVEFormatMuLaw;
    case 3: return kWAVEFormatALaw;
    default: return kWAVEFormatPCM;
    }
}
} // namespace

OSErr CWAVEFile::WriteFmtChunk()
{
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    wave_chunks::PutFormat(&chunk, FormatFields(TagOfCoding(int(m_coding)), m_numChannels, m_sampleRate,
                                                m_fileSampleBytes, UInt16(m_fileSampleBytes * 8)));
    return AppendBytes(chunk.data(), chunk.size());
}

OSErr CWAVEFile::WriteExtensibleFmtChunk()
{
    // The channels go into the file in the mask's order.
    std::vector<int> memoryFromFile;
    const UInt32 mask = WAVEChannelMaskForLayout(MemoryLayoutTag(), m_numChannels, &memoryFromFile);
    SetChannelOrder(memoryFromFile);
    const std::vector<UInt8> chunk = ExtensibleFmtChunk(mask);
    m_channelMask = mask;
    m_fmtExtensible = true;
    return AppendBytes(chunk.data(), chunk.size());
}

std::vector<UInt8> CWAVEFile::ExtensibleFmtChunk(UInt32 mask) const
{
    WAVEFormat format = FormatFields(kWAVEFormatExtensible, m_numChannels, m_sampleRate, m_fileSampleBytes,
                                     UInt16(m_fileSampleBytes * 8));
    format.hasExtra = true;
    format.extra = wave_chunks::ExtensibleExtra(UInt16(m_fileSampleBytes * 8), mask, TagOfCoding(int(m_coding)));
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    wave_chunks::PutFormat(&chunk, format);
    return chunk.bytes();
}

OSErr CWAVEFile::WriteExtraChunks()
{
    return noErr;
}

OSErr CWAVEFile::PatchFactChunk()
{
    return noErr;
}

OSErr CWAVEFile::WriteChunks()
{
    std::vector<SFTMarker> markers(GetNumMarkers());
    for (UInt16 i = 0; i < markers.size(); ++i)
        THROW_IF_ERROR(GetMarker(i, &markers[i]), "WriteChunks: marker");
    std::vector<SFTRegion> regions(WritesRegionCues() ? GetNumRegions() : 0);
    for (UInt16 j = 0; j < regions.size(); ++j)
        THROW_IF_ERROR(GetRegion(j, &regions[j]), "WriteChunks: region");
    // The regions' names ride in labels, so that they survive a round trip.
    ChunkBuilder annotations(ChunkByteOrder::LittleEndian);
    wave_chunks::PutCueList(&annotations, markers, regions, true);
    if (annotations.size() > 0)
        THROW_IF_ERROR(AppendBytes(annotations.data(), annotations.size()), "WriteChunks: cue, LIST");
    SFTSamplerInfo sampler;
    const bool samplerValid = GetSamplerInfo(&sampler) == noErr;
    if (GetNumLoops() > 0 || samplerValid)
        THROW_IF_ERROR(WriteSmplChunk(), "WriteChunks: smpl");
    THROW_IF_ERROR(WriteInstChunk(), "WriteChunks: inst");
    return noErr;
}

OSErr CWAVEFile::WriteSmplChunk()
{
    const UInt16 loops = GetNumLoops();
    SFTSamplerInfo sampler;
    const bool samplerValid = GetSamplerInfo(&sampler) == noErr;
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    chunk.put_fourcc(kSmpl);
    chunk.put_u32le(24 * UInt32(loops) + 36);
    chunk.put_u32le(0);                                   // manufacturer
    chunk.put_u32le(0);                                   // product
    chunk.put_u32le(0);                                   // sample period
    chunk.put_u32le(samplerValid ? sampler.baseNote : 0); // MIDI unity note
    chunk.put_u32le(0);                                   // pitch fraction
    chunk.put_u32le(0);                                   // SMPTE format
    chunk.put_u32le(0);                                   // SMPTE offset
    chunk.put_u32le(loops);
    chunk.put_u32le(0);                                   // sampler data
    for (UInt16 i = 0; i < loops; ++i) {
        SFTLoop loop;
        OSErr err = GetLoop(i, &loop);
        if (err)
            return err;
        chunk.put_u32le(UInt32(loop.loopID));
        chunk.put_u32le(0);
        chunk.put_u32le(loop.start);
        chunk.put_u32le(loop.end > loop.start ? loop.end - 1 : loop.start);  // the last frame played
        chunk.put_u32le(0);
        chunk.put_u32le(0);
    }
    return AppendBytes(chunk.data(), chunk.size());
}

OSErr CWAVEFile::WriteInstChunk()
{
    SFTSamplerInfo sampler;
    if (GetSamplerInfo(&sampler) != noErr)
        return noErr;
    ChunkBuilder chunk(ChunkByteOrder::LittleEndian);
    chunk.put_fourcc(kInst);
    chunk.put_u32le(7);
    chunk.put_u8(sampler.baseNote);
    chunk.put_u8(UInt8(sampler.detune));
    chunk.put_u8(0);
    chunk.put_u8(sampler.lowNote);
    chunk.put_u8(sampler.highNote);
    chunk.put_u8(sampler.lowVelocity);
    chunk.put_u8(sampler.highVelocity);
    chunk.put_u8(0);
    return AppendBytes(chunk.data(), chunk.size());
}

// ============================================================== close
OSErr CWAVEFile::RewriteHeader()
{
    try {
        THROW_IF_ERROR(DataFits(m_numFrames) ? noErr : kWAVEBadDataSizeErr, "Close: data size");
        const UInt64 dataBytes = UInt64(m_numFrames) * GetFileFrameBytes();
        // Nothing but the samples after the data chunk's header.
        THROW_IF_ERROR(SetEOF(m_refNum, m_dataOffset + SInt64(dataBytes)), "Close: data end");
        if (dataBytes & 1) {
            const UInt8 pad = 0;  // one uncounted byte keeps the chunks even
            THROW_IF_ERROR(AppendBytes(&pad, 1), "Close: pad byte");
        }
        THROW_IF_ERROR(WriteU32At(m_dataOffset - 4, UInt32(dataBytes)), "Close: data size");
        THROW_IF_ERROR(PatchFactChunk(), "Close: fact");
        // The channel mask describes the data as written.
        ChunkInfo fmt;
        // A configuration set after Create changes the mask of a file that
        // holds no frames yet, or one whose channels keep their order.
        std::vector<int> memoryFromFile;
        const UInt32 mask = WAVEChannelMaskForLayout(MemoryLayoutTag(), m_numChannels, &memoryFromFile);
        if (FindChunk(kFmt, &fmt) == noErr && fmt.sizeField == 40 &&
            (m_numFrames == 0 || memoryFromFile == ChannelOrder())) {
            if (mask != m_channelMask) {
                const std::vector<UInt8> chunk = ExtensibleFmtChunk(mask);
                THROW_IF_ERROR(WriteAt(fmt.headerPos, chunk.data(), chunk.size()), "Close: channel mask");
                m_channelMask = mask;
            }
        }
        THROW_IF_ERROR(WriteChunks(), "Close: chunks");
        THROW_IF_ERROR(WriteExtraChunks(), "Close: extra chunks");
        SInt64 end = 0;
        THROW_IF_ERROR(GetFileLength(&end), "Close: end of file");
        THROW_IF_ERROR(UInt64(end) - 8 > 0xFFFFFFFFull ? kWAVEBadDataSizeErr : noErr, "Close: RIFF size");
        THROW_IF_ERROR(WriteU32At(4, UInt32(end - 8)), "Close: RIFF size");
    } catch (const error_code_exception& e) {
        return NarrowError(e.code());
    }
    return noErr;
}

// ========================================================= sample I/O
UInt8 CWAVEFile::FileSilenceByte() const
{
    switch (m_coding) {
    case Coding::PCM: return m_fileSampleBytes == 1 ? 0x80 : 0x00;
    case Coding::MuLaw: return 0xFF;
    case Coding::ALaw: return 0xD5;
    default: return 0x00;
    }
}

void CWAVEFile::DecodeToBlock(const UInt8* file, UInt8* block, std::size_t samples, std::size_t countFrom,
                              std::size_t countTo) const
{
    switch (m_coding) {
    case Coding::PCM:
        switch (m_fileSampleBytes) {
        case 1:
            for (std::size_t i = 0; i < samples; ++i)
                block[i] = UInt8(file[i] ^ 0x80);
            break;
        case 2: {
            // Four samples at a time: both bytes of each 16-bit lane swapped.
            std::size_t i = 0;
            for (; i + 4 <= samples; i += 4) {
                UInt64 v;
                std::memcpy(&v, file + 2 * i, 8);
                v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
                std::memcpy(block + 2 * i, &v, 8);
            }
            for (; i < samples; ++i) {
                block[2 * i] = file[2 * i + 1];
                block[2 * i + 1] = file[2 * i];
            }
            break;
        }
        case 3:
            for (std::size_t i = 0; i < samples; ++i) {
                block[3 * i] = file[3 * i + 2];
                block[3 * i + 1] = file[3 * i + 1];
                block[3 * i + 2] = file[3 * i];
            }
            break;
        default:
            for (std::size_t i = 0; i < samples; ++i) {
                block[4 * i] = file[4 * i + 3];
                block[4 * i + 1] = file[4 * i + 2];
                block[4 * i + 2] = file[4 * i + 1];
                block[4 * i + 3] = file[4 * i];
            }
            break;
        }
        break;
    case Coding::Float: {
        // The block's words end at full scale: the samples beyond it are
        // clipped, and counted for the file's warning.
        countTo = std::min(countTo, samples);
        if (countFrom < countTo)
            AddClippedSamples(pcm_bytes::CountFloatsBeyondFullScale(file, countFrom, countTo, true));
        for (std::size_t i = 0; i < samples; ++i) {
            const UInt32 bits = ReadLE32(file + 4 * i);
            float f;
            std::memcpy(&f, &bits, 4);
            const UInt32 v = UInt32(FloatToInt32(f));
            WriteBE32(block + 4 * i, v);
        }
        break;
    }
    case Coding::MuLaw:
        for (std::size_t i = 0; i < samples; ++i)
            WriteBE16(block + 2 * i, UInt16(ulaw2linear(file[i])));
        break;
    case Coding::ALaw:
        for (std::size_t i = 0; i < samples; ++i)
            WriteBE16(block + 2 * i, UInt16(alaw2linear(file[i])));
        break;
    }
}

void CWAVEFile::EncodeFromBlock(const UInt8* block, UInt8* file, std::size_t samples) const
{
    switch (m_coding) {
    case Coding::PCM:
        // The byte exchanges are their own inverses.
        DecodeToBlock(block, file, samples);
        break;
    case Coding::Float:
        for (std::size_t i = 0; i < samples; ++i) {
            const SInt32 v = SInt32(ReadBE32(block + 4 * i));
            const float f = Int32ToFloat(v);
            UInt32 bits;
            std::memcpy(&bits, &f, 4);
            WriteLE32(file + 4 * i, bits);
        }
        break;
    case Coding::MuLaw:
        for (std::size_t i = 0; i < samples; ++i)
            file[i] = linear2ulaw(SInt16(ReadBE16(block + 2 * i)));
        break;
    case Coding::ALaw:
        for (std::size_t i = 0; i < samples; ++i)
            file[i] = LoadRawALawTable(SInt16(ReadBE16(block + 2 * i)));
        break;
    }
}

SInt64 CWAVEFile::FileBytesPerFrame() const
{
    return SInt64(GetFileFrameBytes());
}

OSErr CWAVEFile::CheckWriteExtent(UInt64 endFrame) const
{
    return DataFits(endFrame) ? noErr : kWAVEBadDataSizeErr;
}


bool CWAVEFile::GetRawSampleLayout(RawSampleLayout* layout) const
{
    if (m_coding == Coding::Float && m_fileSampleBytes == 4 && m_numBits == 32 && !ReordersChannels()) {
        layout->bytes = 4;
        layout->littleEndian = true;
        layout->offsetBinary = false;
        layout->ieeeFloat = true;
        return true;
    }
    if (m_coding != Coding::PCM || m_fileSampleBytes < 1 || m_fileSampleBytes > 4 ||
        m_numBits != SInt16(8 * m_fileSampleBytes) || m_sampleFormat == kSampleFormat24In32 || ReordersChannels())
        return false;
    layout->bytes = UInt8(m_fileSampleBytes);
    layout->littleEndian = m_fileSampleBytes > 1;
    layout->offsetBinary = m_fileSampleBytes == 1;
    return true;
}

OSErr CWAVEFile::ReadFileFrames(UInt8* data, UInt32 frame, UInt32 frames, std::size_t* bytes)
{
    const UInt64 frameBytes = GetFileFrameBytes();
    ByteCount actual = 0;
    const SInt64 position = m_dataOffset + SInt64(UInt64(frame) * frameBytes);
    const OSErr result = FSReadFork(m_refNum, fsFromStart, position, std::size_t(frames * frameBytes), data, &actual);
    *bytes = std::size_t(actual);
    return result;
}

OSErr CWAVEFile::LoadFrames(UInt8* block, UInt32 frame, UInt32 frames, std::size_t* filled)
{
    const UInt64 frameBytes = GetFileFrameBytes();
    m_scratch.resize(std::size_t(frames * frameBytes));
    std::size_t actual = 0;
    const OSErr result = ReadFileFrames(m_scratch.data(), frame, frames, &actual);
    const UInt32 got = UInt32(UInt64(actual) / frameBytes);
    std::size_t countFrom = 0, countTo = 0;
    if (m_coding == Coding::Float)
        ClipCountSpan(frame, got, &countFrom, &countTo);
    DecodeToBlock(m_scratch.data(), block, std::size_t(got) * m_numChannels, countFrom, countTo);
    *filled = std::size_t(got) * m_numChannels * std::size_t(m_numBits / 8);
    return result;
}

OSErr CWAVEFile::StoreFrames(UInt32 frames, UInt32 frame)
{
    OSErr err = SetFilePos(frame);
    if (err)
        return err;
    const std::size_t samples = std::size_t(frames) * m_numChannels;
    m_scratch.resize(samples * m_fileSampleBytes);
    EncodeFromBlock(m_writeBuffer, m_scratch.data(), samples);
    const SInt64 position = m_dataOffset + SInt64(UInt64(frame) * GetFileFrameBytes());
    return WriteAt(position, m_scratch.data(), m_scratch.size());
}

SoundFileTypeDescriptor CWAVEFile::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("WAVE"),
            .factory = &MakeSoundFile<CWAVEFile>,
            .sniffer = &SniffWAVE,
            .probe = &ProbeWAVEChannels,
            .setMember = true};
}
