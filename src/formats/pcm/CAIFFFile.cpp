#include "CAIFFFile.h"
#include "ByteOrder.h"

#include "ChannelArrangement.h"
#include "ChannelLabels.h"
#include "FileManager.h"
#include "aiff_chunks.h"
#include "format_helpers.h"
#include "CreateSoundFile.h"
#include "ForkInputStream.h"
#include "SoundFileFactories.h"
#include "SoundFileRegistry.h"
#include "header_sniffing.h"
#include "pcm_bytes.h"
#include "error_code_exception.h"
#include "ieee_extended.h"
#include "regn_chunk.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>

using namespace aiff_chunks;

namespace {

constexpr OSType kCHAN = FOUR_CHAR_CODE("CHAN");
constexpr OSType kREGN = FOUR_CHAR_CODE("regn");

// The leading number of a marker name as the Mac's StringToNum reads it
// (optional sign, then digits), saturated to 16 bits.
SInt16 MarkerNumber(const std::string& text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    SInt64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<SInt64>(value * 10 + (text[i] - '0'), 1 << 20);
    }
    if (negative) {
        value = -value;
    }
    return SInt16(std::clamp<SInt64>(value, -32768, 32767));
}

} // namespace

// ================================================================ object

CAIFFFile::CAIFFFile() : CAIFFFile(kAIFFFileType, "AIFF") {}

CAIFFFile::CAIFFFile(OSType fileType, const char* formatName) : CLinearPCMFile(fileType, formatName)
{
    m_notOpenErr = fnOpnErr;
    m_splitSuffix = "(.L/.R)";
}

CAIFFFile::~CAIFFFile()
{
    if (m_isOpen) {
        Close();
    }
}


void CAIFFFile::LimitBlockBytes()
{
    // Very wide frames: fewer frames per block, so that the work of one
    // block (done once per channel by the channel-wise passes) stays small.
    constexpr SInt64 kMaxBlockBytes = SInt64(1) << 20;
    const SInt64 bpf = BytesPerFrame();
    if (bpf > 0) {
        CapBlockBytes(*this, UInt64(bpf), UInt64(kMaxBlockBytes));
    }
}

// ============================================================ chunk walk

OSErr CAIFFFile::FindChunk(OSType id, ChunkInfo* info)
{
    return FindFormChunk(id, WalkOptions(), info);
}

OSErr CAIFFFile::ReadChunk(OSType id, ChunkView* body, bool* found, ChunkInfo* info, SInt64 maxBytes)
{
    ChunkInfo local;
    if (!info) {
        info = &local;
    }
    const OSErr err = FindChunk(id, info);
    return ReadFoundBody(m_refNum, err, *info, body, found, maxBytes);
}

bool CAIFFFile::ReadPresentChunk(OSType id, std::size_t minBytes, ChunkView* body)
{
    bool found = false;
    return ReadChunk(id, body, &found) == noErr && found && body->has(minBytes);
}

OSErr CAIFFFile::AppendAtEnd(const void* data, std::size_t count)
{
    SInt64 eof = 0;
    OSErr err = GetEOF(m_refNum, &eof);
    if (err != noErr) {
        return err;
    }
    return WriteAt(eof, data, count);
}

// ================================================================ open

OSErr CAIFFFile::ReadFormAndCOMM()
{
    const OSErr err = ReadFormHeader();
    return err != noErr ? err : ReadCOMM();
}

OSErr CAIFFFile::ReadFormHeader()
{
    return ReadFORMHeader(m_refNum, &m_formEnd);
}

OSErr CAIFFFile::LocateSoundData(SInt64* availableBytes)
{
    *availableBytes = 0;
    m_soundSizeUnknown = false;
    ChunkInfo info;
    SInt64 start = 0;
    const OSErr err = LocateSSNDData(m_refNum, FindChunk(kSSND, &info), info, &start);
    if (err != noErr) {
        return err;
    }
    m_dataOffset = start;
    m_soundSizeUnknown = info.sizeUnknown;
    *availableBytes = std::max<SInt64>(0, info.BodyEnd() - start);
    return noErr;
}

bool CAIFFFile::ClampFramesTo(SInt64 availableBytes)
{
    const SInt64 bpf = BytesPerFrame();
    if (bpf <= 0) {
        return false;
    }
    const SInt64 fit = availableBytes / bpf;
    if (SInt64(m_numFrames) <= fit) {
        return false;
    }
    m_numFrames = UInt32(std::min<SInt64>(fit, std::numeric_limits<UInt32>::max()));
    return true;
}

OSErr CAIFFFile::ReadCOMMChunk(std::size_t minBytes, const COMMExtension& extension)
{
    return Guarded([&]() -> OSErr {
        ChunkInfo info;
        ChunkView body;
        const OSErr err = ReadRequiredBody(m_refNum, FindChunk(kCOMM, &info), info, &body, minBytes, kAIFFNoCOMMErr);
        if (err != noErr) {
            return err;
        }
        COMMFields comm;
        GetCOMMFields(body, &comm);
        double rate = ConvertFromIeeeExtended(comm.rate);
        const OSErr extensionErr = extension(body, &comm, &rate);
        if (!ShapeReadable(comm.channels, comm.bits)) {
            return kAIFFNoCOMMErr;
        }
        m_numChannels = UInt32(comm.channels);
        m_numBits = WholeByteBits(comm.bits);
        const OSErr applyErr = ApplyCOMM(comm.frames, rate);
        return applyErr != noErr ? applyErr : extensionErr;
    });
}

OSErr CAIFFFile::ApplyCOMM(UInt32 frames, double sampleRate)
{
    m_commFrames = frames;
    m_numFrames = frames;
    m_sampleRate = sampleRate;
    if (SInt64(frames) * BytesPerFrame() > m_formEnd) {
        SInt64 available = 0;
        if (LocateSoundData(&available) == noErr) {
            ClampFramesTo(available);
        }
    }
    // Not a number, 0, below 1 Hz or past what any header field of 32 bits
    // holds: no sound file has such a rate.
    if (!(m_sampleRate >= 1.0) || !(m_sampleRate <= 4294967295.0)) {
        return kBadSampleRateErr;
    }
    return noErr;
}

void CAIFFFile::PutCOMMFields(ChunkBuilder* chunk, UInt32 bodySize) const
{
    PutCOMM(chunk, bodySize, UInt16(GetNumChannels()), GetNumFrames(), UInt16(m_numBits), m_sampleRate);
}

OSErr CAIFFFile::ReadAnnotationsAndLocateData(SInt64* availableBytes)
{
    OSErr err = noErr;
    if ((err = ReadMARK()) != noErr || (err = ReadINSTLoops()) != noErr ||
        (err = ReadINSTSamplerInfo()) != noErr || (err = ReadCHAN()) != noErr ||
        (err = ReadRegions()) != noErr) {
        return err;
    }
    return LocateSoundData(availableBytes);
}

OSErr CAIFFFile::ReadCOMM()
{
    // The plain form keeps its rate to a float's precision.
    return ReadCOMMChunk(18, [](ChunkView&, COMMFields*, double* rate) {
        *rate = double(float(*rate));
        return noErr;
    });
}

OSErr CAIFFFile::BuildCOMM(ChunkBuilder* chunk, SInt64* position)
{
    PutCOMMFields(chunk, 18);
    *position = 12;
    return noErr;
}

OSErr CAIFFFile::WriteCOMM()
{
    return Guarded([&]() -> OSErr {
        ChunkBuilder chunk;
        SInt64 position = 0;
        const OSErr err = BuildCOMM(&chunk, &position);
        return err != noErr ? err : WriteAt(position, chunk.data(), chunk.size());
    });
}

bool CAIFFFile::GetRawSampleLayout(RawSampleLayout* layout) const
{
    return RawLayoutFromTransform(layout);
}

OSErr CAIFFFile::ReadAPPL()
{
    return Guarded([&]() -> OSErr {
        ChunkView body;
        if (!ReadPresentChunk(kAPPL, 4, &body)) {
            return noErr;
        }
        if (body.get_fourcc() == kSSYS) {
            m_numChannels = 1;
            if (m_numBits == 24) {
                m_sampleFormat = kSampleFormatSSYS24;
                m_transform.reverseBytes = true;   // least significant byte first
            }
        }
        return noErr;
    });
}

OSErr CAIFFFile::ReadHeader()
{
    OSErr err = ReadFormAndCOMM();
    if (err != noErr) {
        return err;
    }
    const std::string name = GetFileNameString();
    const std::size_t n = name.size();
    if (n >= 4 && name[n - 4] == '.' && (name[n - 3] == 's' || name[n - 3] == 'S') && name[n - 2] == '3' &&
        name[n - 1] == '2') {
        m_sampleFormat = kSampleFormat24In32;
        m_numBits = 32;
    } else {
        m_sampleFormat = kSampleFormatBigEndian;
    }
    SInt64 available = 0;
    err = ReadAnnotationsAndLocateData(&available);
    if (err != noErr) {
        return err;
    }
    return SettleSoundData(available);
}

OSErr CAIFFFile::SettleSoundData(SInt64 availableBytes)
{
    // A COMM promising more than the data holds is cut to the data; the
    // file stays usable and the caller is warned through DataCutShort.
    LimitBlockBytes();
    const SInt64 bpf = BytesPerFrame();
    if (m_soundSizeUnknown && m_commFrames == 0 && bpf > 0) {
        // A writer that could not seek back left both counts unknown.
        m_numFrames = UInt32(std::min<SInt64>(availableBytes / bpf, std::numeric_limits<UInt32>::max()));
    }
    const bool cut = ClampFramesTo(availableBytes) || m_numFrames < m_commFrames;
    // Sound data that cannot hold one frame: the shape is not real.
    if (cut && m_numFrames == 0 && availableBytes > 0) {
        return kDataHoldsNoFrameErr;
    }
    m_dataCutShort = cut;
    return noErr;
}

OSErr CAIFFFile::AfterOpen()
{
    const OSErr err = AddFileRegion();
    return err != noErr ? err : ReadAPPL();
}

OSErr CAIFFFile::ProbeHeader(SInt16* result)
{
    // Never closes a file opened by someone else (opWrErr).
    return ProbeWith(result, [this] {
        return Guarded([&]() -> OSErr {
            OSErr e = ReadFormHeader();
            if (e == noErr) e = ReadCOMM();
            if (e == noErr) e = ReadMARK();
            if (e == noErr) e = ReadINSTLoops();
            if (e == noErr) e = ReadCHAN();
            return e;
        });
    });
}

// ============================================================== markers

OSErr CAIFFFile::ReadMARK()
{
    if (!m_markers.isEmpty() || !m_isOpen) {
        return noErr;
    }
    Guarded([&]() -> OSErr {
        ChunkView body;
        if (!ReadPresentChunk(kMARK, 2, &body)) {
            return noErr;
        }
        ForEachMARKEntry(body, [this](const MARKEntry& entry) {
            SFTMarker marker;
            marker.markerID = entry.id;
            marker.pos = entry.position;
            const std::string& name = entry.name;
            if (name.size() >= 2 && name[0] == '#' && name[1] >= '0' && name[1] <= '9') {
                const std::size_t space = name.find(' ', 1);
                marker.number = MarkerNumber(name.substr(1, space == std::string::npos ? std::string::npos : space - 1));
                SetName(marker.name, space == std::string::npos ? std::string() : name.substr(space + 1));
                marker.type = 1;
            } else {
                SetName(marker.name, name);
                marker.type = 2;
                marker.number = -1;
            }
            return AddMarker(&marker) == noErr;
        });
        return noErr;
    });
    return noErr;
}

OSErr CAIFFFile::WriteMARK()
{
    return Guarded([&]() -> OSErr {
        const UInt16 count = GetNumMarkers();
        if (count == 0) {
            return noErr;
        }
        ChunkBuilder chunk;
        chunk.put_fourcc(kMARK);
        chunk.put_u32(0);
        chunk.put_u16(count);
        int ordinal = 0;
        for (UInt16 i = 0; i < count; ++i) {
            SFTMarker marker;
            OSErr err = GetMarker(i, &marker);
            if (err != noErr) {
                return err;
            }
            chunk.put_u16(UInt16(marker.markerID));
            chunk.put_u32(marker.pos);
            std::string name(reinterpret_cast<const char*>(marker.name + 1), std::min<UInt8>(marker.name[0], 31));
            if (marker.type == 1) {
                name = "#" + std::to_string(++ordinal) + " " + name;
            }
            chunk.put_pstring(name, true);
        }
        chunk.patch_u32(4, UInt32(chunk.size() - 8));
        return AppendAtEnd(chunk.data(), chunk.size());
    });
}

// ======================================================= sampler and loops

OSErr CAIFFFile::ReadINSTLoops()
{
    if (!m_loops.isEmpty()) {
        return noErr;
    }
    Guarded([&]() -> OSErr {
        ChunkView body;
        if (!ReadPresentChunk(kINST, 20, &body)) {
            return noErr;
        }
        body.seek(8);
        bool failed = false;
        for (int k = 0; k < 2; ++k) {
            const INSTLoop entry = GetINSTLoop(body);
            if (entry.mode == 0) {
                continue;
            }
            SFTMarker begin, end;
            bool ok = GetMarkerByID(entry.beginID, &begin) == noErr && GetMarkerByID(entry.endID, &end) == noErr;
            ok = ok && RemoveMarker(&begin) == noErr;
            if (ok && entry.endID != entry.beginID) {
                ok = RemoveMarker(&end) == noErr;
            }
            if (ok && !failed) {
                SFTLoop loop;
                loop.loopID = k + 1;
                loop.start = begin.pos;
                loop.end = end.pos;
                loop.type = entry.mode;
                AddLoop(&loop);
            }
            failed = failed || !ok;
        }
        return noErr;
    });
    return noErr;
}

OSErr CAIFFFile::ReadINSTSamplerInfo()
{
    Guarded([&]() -> OSErr {
        ChunkView body;
        if (!ReadPresentChunk(kINST, 8, &body)) {
            return noErr;
        }
        SFTSamplerInfo info;
        GetINSTSampler(body, &info);
        SetSamplerInfo(&info);
        return noErr;
    });
    return noErr;
}

OSErr CAIFFFile::WriteINST()
{
    return Guarded([&]() -> OSErr {
        const UInt16 loops = GetNumLoops();
        SFTSamplerInfo info;
        if (GetSamplerInfo(&info) != noErr) {
            if (loops == 0) {
                return noErr;
            }
            info = SFTSamplerInfo();  // the defaults
        }
        ChunkBuilder chunk;
        chunk.put_fourcc(kINST);
        chunk.put_u32(20);
        chunk.put_u8(info.baseNote);
        chunk.put_u8(UInt8(info.detune));
        chunk.put_u8(info.lowNote);
        chunk.put_u8(info.highNote);
        chunk.put_u8(info.lowVelocity);
        chunk.put_u8(info.highVelocity);
        chunk.put_u16(UInt16(info.gain));
        static const char* const kNames[2][2] = {{"Sustainloop start", "Sustainloop end"},
                                                 {"Releaseloop start", "Releaseloop end"}};
        for (int k = 0; k < 2; ++k) {
            SFTLoop loop;
            if (k >= loops || GetLoop(UInt16(k), &loop) != noErr) {
                chunk.put_zeros(6);
                continue;
            }
            UInt16 ids[2] = {0, 0};
            const UInt32 positions[2] = {loop.start, loop.end};
            for (int m = 0; m < 2; ++m) {
                SFTMarker marker;
                marker.markerID = 2 * k + m + 1;
                marker.pos = positions[m];
                marker.type = 2;
                marker.number = -1;
                SetName(marker.name, kNames[k][m]);
                OSErr err = AddMarker(&marker);
                if (err != noErr) {
                    return err;
                }
                // The list may have given the marker another identifier.
                const QString name = QString::fromLatin1(kNames[k][m]);
                for (const ZuMarker& listed : m_markers) {
                    if (listed.pos() == positions[m] && listed.name() == name) {
                        ids[m] = UInt16(listed.markerID());
                        break;
                    }
                }
            }
            chunk.put_u16(UInt16(loop.type != 0 ? loop.type : 1));
            chunk.put_u16(ids[0]);
            chunk.put_u16(ids[1]);
        }
        return AppendAtEnd(chunk.data(), chunk.size());
    });
}

// ========================================================= channel layout

UInt32 CAIFFFile::TagForConfiguration(SInt32 configuration) const
{
    auto* self = const_cast<CAIFFFile*>(this);
    const SInt32 saved = m_channelConfiguration;
    self->m_channelConfiguration = configuration;
    AudioChannelLayout* layout = CreateChannelLayout(nullptr);
    self->m_channelConfiguration = saved;
    if (!layout) {
        return 0;
    }
    const UInt32 tag = layout->mChannelLayoutTag;
    std::free(layout);
    return tag;
}

SInt32 CAIFFFile::ConfigurationForTag(UInt32 tag) const
{
    const UInt32 channels = GetNumChannels();
    const SInt32 byCount =
        channels == 1 ? kChannelConfigMono : channels == 2 ? kChannelConfigStereo : kChannelConfigMultichannel;
    if ((tag & 0xFFFF) != channels) {
        return byCount;
    }
    if (tag == 0x00640001) {
        return kChannelConfigMono;
    }
    if (tag >= 0x00650002 && tag <= 0x006A0002 && (tag & 0xFFFF) == 2) {
        return kChannelConfigStereo;
    }
    if (tag == 0x00840004) {
        return kChannelConfigQuad;  // L R Ls Rs, as quadraphonic
    }
    for (SInt32 c = kChannelConfigLCR; c <= kChannelConfig10_2; ++c) {
        if (TagForConfiguration(c) == tag) {
            return c;
        }
    }
    return byCount;
}

OSErr CAIFFFile::ReadCHAN()
{
    return Guarded([&]() -> OSErr {
        ChunkView body;
        bool found = false;
        OSErr err = ReadChunk(kCHAN, &body, &found);
        if (err != noErr) {
            return err;
        }
        m_channelLayoutTag = 0;
        SetChannelOrder({});
        SetMultichannelLayoutTag(0);
        if (!found || !body.has(4)) {
            const UInt32 channels = GetNumChannels();
            SetChannelConfiguration(channels == 1   ? kChannelConfigMono
                                    : channels == 2 ? kChannelConfigStereo
                                                    : kChannelConfigMultichannel);
            return noErr;
        }
        m_channelLayoutTag = body.get_u32be();
        const std::vector<UInt32> labels = ChannelLabelsFromStoredLayout(body.data(), body.size(), GetNumChannels());
        if (labels.empty() || GetNumChannels() <= 2) {
            SetChannelConfiguration(ConfigurationForTag(m_channelLayoutTag));
            // A pair stored right first reads left first.
            SetChannelOrder(ArrangementForChannelLabels(labels).order);
            return noErr;
        }
        // The speakers of the layout, in the order of their configuration
        // (named by it from then on).
        const ChannelArrangement arrangement = ArrangementForChannelLabels(labels);
        SetChannelConfiguration(arrangement.configuration);
        if (arrangement.configuration == kChannelConfigMultichannel)
            SetMultichannelLayoutTag(arrangement.layoutTag);
        SetChannelOrder(arrangement.order);
        if (arrangement.layoutTag != 0)
            m_channelLayoutTag = arrangement.layoutTag;
        return noErr;
    });
}

bool CAIFFFile::PutCHAN(ChunkBuilder* chunk)
{
    const UInt32 channels = GetNumChannels();
    const SInt32 configuration = GetChannelConfiguration();
    SetChannelOrder({});
    if (configuration < kChannelConfigMono || configuration > kChannelConfigMultichannel) {
        return false;
    }
    UInt32 tag = MemoryLayoutTag();
    if ((tag & 0xFFFF) != channels && channels <= 2) {
        tag = TagForConfiguration(channels == 1 ? kChannelConfigMono : kChannelConfigStereo);
    }
    if (tag == 0 || (tag & 0xFFFF) != channels || (tag & 0xFFFF0000) == kAudioChannelLayoutTag_DiscreteInOrder) {
        return false;  // the configuration does not describe these channels
    }
    // The channels go into the file in the order of the layout stored.
    const StoredChannelLayout stored = StoredLayoutForTag(tag);
    chunk->put_fourcc(kCHAN);
    chunk->put_u32(32);
    chunk->put_u32(stored.tag);
    chunk->put_u32(stored.bitmap);
    chunk->put_zeros(24);
    if (!stored.order.empty()) {
        SetChannelOrder(InverseOrder(stored.order));
    }
    m_channelLayoutTag = tag;
    return true;
}

OSErr CAIFFFile::WriteCHAN()
{
    return Guarded([&]() -> OSErr {
        ChunkBuilder chunk;
        if (!PutCHAN(&chunk)) {
            return noErr;
        }
        return AppendAtEnd(chunk.data(), chunk.size());
    });
}

std::string CAIFFFile::GetChannelName(UInt16 channel) const
{
    const UInt32 channels = GetNumChannels();
    if (channels == 1) {
        return "1";
    }
    if (channels == 2) {
        return channel == 0 ? "Left" : "Right";
    }
    struct Names {
        UInt32 tag;
        std::vector<const char*> names;
    };
    static const Names kTable[] = {
        {0x006B0004, {"W", "X", "Y", "Z"}},
        {0x006C0004, {"Left", "Right", "Left surround", "Right surround"}},
        {0x006D0005, {"Left", "Right", "Left surround", "Right surround", "Center"}},
        {0x006E0006, {"Left", "Right", "Left surround", "Right surroud", "Center", "Center surround"}},
        {0x006F0008,
         {"Left", "Right", "Left surround", "Right surround", "Center", "Center surround", "Left side",
          "Right side"}},
        {0x00700008,
         {"Left", "Right", "Left surround", "Right surround", "Top left", "Top right", "Top left surround",
          "Top right surround"}},
        {0x00710003, {"Left", "Right", "Center"}},
        {0x00720003, {"Left", "Center", "Right"}},
        {0x00730004, {"Left", "Right", "Center", "Center surround"}},
        {0x00740004, {"Center", "Left", "Right", "Center surround"}},
        {0x00750005, {"Left", "Right", "Center", "Left surround", "Right surround"}},
        {0x00760005, {"Left", "Right", "Left surround", "Right surround", "Center"}},
        {0x00770005, {"Left", "Center", "Right", "Left surround", "Right surround"}},
        {0x00780005, {"Center", "Left", "Right", "Left surround", "Right surround"}},
        {0x00790006, {"Left", "Right", "Center", "LFE", "Left surround", "Right surround"}},
        {0x007A0006, {"Left", "Right", "Left surround", "Right surround", "Center", "LFE"}},
        {0x007B0006, {"Left", "Center", "Right", "Left surround", "Right surround", "LFE"}},
        {0x007C0006, {"Center", "Left", "Right", "Left surround", "Right surround", "LFE"}},
        {0x007D0007, {"Left", "Right", "Center", "LFE", "Left surround", "Right surround", "Center surround"}},
    };
    const UInt32 tag = m_channelLayoutTag != 0 ? m_channelLayoutTag : TagForConfiguration(GetChannelConfiguration());
    for (const Names& entry : kTable) {
        if (entry.tag == tag) {
            return entry.names[std::min<std::size_t>(channel, entry.names.size() - 1)];
        }
    }
    const std::vector<UInt32> labels = ChannelLabelsForLayoutTag(tag);
    if (!labels.empty()) {
        return ChannelLabelName(labels[std::min<std::size_t>(channel, labels.size() - 1)]);
    }
    return std::string();
}

// =============================================================== regions

OSErr CAIFFFile::ReadRegions()
{
    if (!m_regions.isEmpty()) {
        return noErr;
    }
    if (!m_isOpen) {
        return kFileNotOpenedErr;
    }
    return Guarded([&]() -> OSErr {
        ChunkView body;
        bool found = false;
        OSErr err = ReadChunk(kREGN, &body, &found);
        if (err != noErr || !found) {
            return err;
        }
        return ReadRegnBody(*this, body);
    });
}

OSErr CAIFFFile::WriteRegions()
{
    return Guarded([&]() -> OSErr {
        ChunkBuilder chunk(ChunkByteOrder::BigEndian);
        BuildRegnChunk(*this, &chunk);
        return AppendAtEnd(chunk.data(), chunk.size());
    });
}

// ================================================================ create

OSErr CAIFFFile::CheckCreateShape(CreateStep step, UInt16 numChannels, SInt16 numBits, float sampleRate) const
{
    if (step != CreateStep::BeforeBase) {
        return noErr;
    }
    if (numChannels == 0 || numBits <= 0 || numBits > 32 || !(sampleRate > 0.0f) || std::isinf(sampleRate)) {
        return paramErr;
    }
    return noErr;
}

OSErr CAIFFFile::SetUpNewFile(const UInt8*)
{
    m_numBits = WholeByteBits(m_numBits);
    LimitBlockBytes();
    m_formEnd = kPlaceholderFORMSize;
    m_channelLayoutTag = 0;
    return noErr;
}

OSErr CAIFFFile::WriteHeader()
{
    // The file is new and empty: its header, channel layout and empty
    // sound data chunk go in one write.
    ChunkBuilder header;
    PutFORMHeader(&header, kAIFFFileType);
    PutEmptyChunk(&header, kCOMM, 18);  // the body is written at close
    PutCHAN(&header);
    PutEmptySSND(&header);
    const OSErr err = WriteAt(0, header.data(), header.size());
    if (err == noErr) {
        m_dataOffset = SInt64(header.size());
    }
    return err;
}

// ================================================================= close

OSErr CAIFFFile::RewriteHeader()
{
    const SInt64 dataEnd = m_dataOffset + SInt64(m_numFrames) * BytesPerFrame();
    if (dataEnd - 8 > kAIFFMaxFormSize) {
        return fsDataTooBigErr;
    }
    // The file ends where the data end; an odd amount of data gets
    // its pad byte (not counted in the SSND size).
    OSErr err = SetEOF(m_refNum, dataEnd);
    if (err == noErr && ((dataEnd - m_dataOffset) & 1) != 0) {
        const UInt8 zero = 0;
        err = AppendAtEnd(&zero, 1);
    }
    if (err == noErr) {
        // Marker IDs are positive and run from 1 in the 'MARK' chunk: the
        // loop markers that WriteINST adds take the first IDs (1 to 4, so
        // that the loops' markers lead the chunk, where readers such as
        // libsndfile expect them), the other markers follow.
        const SInt32 loopMarkers = 2 * std::min<SInt32>(GetNumLoops(), 2);
        for (qsizetype i = 0; i < m_markers.size(); ++i) {
            m_markers[i].setMarkerID(loopMarkers + SInt32(i) + 1);
        }
    }
    if (err == noErr) err = WriteINST();
    if (err == noErr) err = WriteMARK();
    if (err == noErr) err = WriteRegions();
    if (err != noErr) {
        return err;
    }
    ChunkInfo ssnd;
    err = FindChunk(kSSND, &ssnd);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kAIFFNoSSNDErr : err;
    }
    const SInt64 ssndSize = dataEnd - ssnd.bodyPos;
    if (ssndSize > kAIFFMaxFormSize) {
        return fsDataTooBigErr;
    }
    // The header's fields (the 'COMM' chunk, the sizes of 'SSND' and of
    // the FORM) go in together once the chunks after the data are there.
    std::vector<Patch> patches(3);
    ChunkBuilder comm;
    err = Guarded([&]() { return BuildCOMM(&comm, &patches[0].position); });
    if (err != noErr) {
        return err;
    }
    patches[0].bytes.assign(comm.data(), comm.data() + comm.size());
    ChunkBuilder size;
    size.put_u32(UInt32(ssndSize));
    patches[1].position = ssnd.SizePos();
    patches[1].bytes.assign(size.data(), size.data() + size.size());
    SInt64 eof = 0;
    err = GetEOF(m_refNum, &eof);
    if (err != noErr) {
        return err;
    }
    err = FindChunk(kFORM);
    if (err != noErr) {
        return err == kChunkNotFoundErr ? kAIFFNoFORMErr : err;
    }
    if (eof - 8 > kAIFFMaxFormSize) {
        return fsDataTooBigErr;
    }
    ChunkBuilder form;
    form.put_u32(UInt32(eof - 8));
    patches[2].position = 4;
    patches[2].bytes.assign(form.data(), form.data() + form.size());
    return WritePatches(patches);
}

// ============================================================= block I/O

OSErr CAIFFFile::CheckWriteExtent(UInt64 endFrame) const
{
    return m_dataOffset + SInt64(endFrame) * BytesPerFrame() - 8 > kAIFFMaxFormSize ? fsDataTooBigErr : noErr;
}

// ======================================================= stream probes

static OSErr FindFORMChunk(std::istream& in, OSType id, UInt32 occurrence)
{
    try {
        StreamChunkSource source(in);
        if (id == kFORM) {
            UInt8 bytes[4];
            std::size_t got = 0;
            if (source.ReadAt(0, bytes, 4, &got) != noErr ||
                ChunkView(bytes, 4, ChunkByteOrder::BigEndian).get_fourcc() != kFORM) {
                return kChunkNotFoundErr;
            }
            in.clear();
            in.seekg(4);
            return noErr;
        }
        ChunkReader reader(source, WalkOptions());
        ChunkInfo info;
        OSErr err = reader.Find(id, &info, occurrence);
        if (err == kCorruptChunkSizeErr || err == kAIFFTooManyChunksErr) {
            return err;
        }
        if (err != noErr) {
            return kChunkNotFoundErr;
        }
        in.clear();
        in.seekg(std::streamoff(info.headerPos + 4));
        return in ? noErr : kChunkNotFoundErr;
    } catch (...) {
        in.clear();
        return kChunkNotFoundErr;
    }
}

OSErr FindAIFFChunk(const std::string& id, std::istream& in)
{
    return FindFORMChunk(in, ChunkIDFromString(id), 1);
}

UInt16 GetAIFFNumChannels(const std::string& path)
{
    ForkInputStream in(path);
    OSErr err = in.openError() != noErr ? in.openError() : FindAIFFChunk("COMM", in);
    if (err != noErr) {
        throw error_code_exception(err, "no COMM chunk in %s", path.c_str());
    }
    UInt8 bytes[6] = {0};
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() != std::streamsize(sizeof bytes)) {
        throw error_code_exception(kChunkNotFoundErr, "short COMM chunk in %s", path.c_str());
    }
    return ReadBE16(bytes + 4);
}

SInt32 ProbeFORMFile(const QString& path, OSType formType, SInt16* bits, OSType* compression)
{
    try {
        ForkInputStream in(path.toStdString());
        if (in.openError() != noErr) {
            return in.openError();
        }
        UInt8 header[12];
        in.read(reinterpret_cast<char*>(header), sizeof header);
        if (in.gcount() != std::streamsize(sizeof header)) {
            return 0;
        }
        ChunkView view(header, sizeof header, ChunkByteOrder::BigEndian);
        const OSType form = view.get_fourcc();
        view.skip(4);
        if (form != kFORM || view.get_fourcc() != formType) {
            return 0;
        }
        OSErr err = FindAIFFChunk("COMM", in);
        if (err != noErr) {
            return err;
        }
        UInt8 comm[26] = {0};
        in.read(reinterpret_cast<char*>(comm), sizeof comm);
        const std::streamsize got = in.gcount();
        if (got < 4 + 18) {
            return kAIFFNoCOMMErr;
        }
        ChunkView body(comm, std::size_t(got), ChunkByteOrder::BigEndian);
        body.skip(4);
        const SInt16 channels = body.get_i16be();
        body.skip(4);
        if (bits) {
            *bits = body.get_i16be();
        } else {
            body.skip(2);
        }
        body.skip(10);
        if (compression) {
            *compression = body.has(4) ? body.get_fourcc() : 0;
        }
        return channels > 0 ? channels : kAIFFNoCOMMErr;
    } catch (...) {
        return kAIFFNoCOMMErr;
    }
}

SInt32 ProbeAIFFHeader(const QString& path)
{
    return ProbeFORMFile(path, kAIFFFileType, nullptr, nullptr);
}

static OSErr SniffAIFF(const UInt8* header, std::istream&, OSType, OSType* type)
{
    if (ReadBE32(header + 8) != aiff_chunks::kAIFF)
        return kUnknownFileFormatErr;
    *type = kAIFFFileType;
    return noErr;
}

void RegisterAIFFFileTypes()
{
    RegisterSoundFileFactory(kAIFFFileType, &MakeSoundFileNoThrow<CAIFFFile>);
    RegisterHeaderProbe(kAIFFFileType, &ProbeAIFFHeader);
    RegisterChunkFinder(kFORM, &FindFORMChunk);
    RegisterHeaderSniffer(kAIFFFileType, &SniffAIFF);
    RegisterSetMemberType(kAIFFFileType);
}
