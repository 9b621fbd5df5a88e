#include "CSurroundFile.h"

#include "CSplitFile.h"
#include "CreateSoundFile.h"
#include "MacRoman.h"
#include "error_code_exception.h"
#include "set_file_blocks.h"
#include "string_utils.h"
#include "throw_helpers.h"

#include <QDateTime>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr OSType kSonicAIFFType = FOUR_CHAR_CODE("SAIF");
constexpr OSType kBWFLinearType = FOUR_CHAR_CODE("BWLN");
const char* const kMultichannelSetName = "Split Multichannel";

OSErr Narrow(int32_t code)
{
    if (code == 0)
        return noErr;
    const OSErr narrow = OSErr(UInt16(UInt32(code) & 0xFFFF));
    return narrow == 0 ? ioErr : narrow;
}

[[noreturn]] void ThrowSetError(const char* message, const char* file, int line)
{
    throw error_code_exception(paramErr, "%s (%s:%d)", message, path_file_name(file), line);
}
#define QM_SET_ERROR(message) ThrowSetError((message), __FILE__, __LINE__)

std::string LastComponent(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::mutex g_channelNamesMutex;
ZudbTable g_channelNames;

} // namespace

ZudbTable LoadChannelNamesTable()
{
    std::lock_guard<std::mutex> lock(g_channelNamesMutex);
    if (g_channelNames.empty()) {
        try {
            g_channelNames = ZudbTable(CSoundFile::GetResourcePathString("channelnames.zudb"));
        } catch (const error_code_exception&) {
            // No table: no channel names.
        }
    }
    return g_channelNames;
}

// ========================================================== construction
CSurroundFile::CSurroundFile(OSType memberType)
    : m_memberType(memberType)
{
}

CSurroundFile::~CSurroundFile()
{
    if (m_isOpen)
        Close();
    if (m_readBuffer || m_writeBuffer)
        FreeBuffers();
    DeleteMembers();
    m_isOpen = false;
}

void CSurroundFile::DeleteMembers()
{
    for (CSoundFile* member : m_members)
        delete member;
    m_members.clear();
    m_regionObjects.clear();
}

std::string CSurroundFile::StripLeftChannelSuffix(const std::string& name)
{
    return CSplitFile::StripLeftChannelSuffix(name);
}

// ============================================================= identity
OSErr CSurroundFile::SetFile(const std::vector<std::string>& paths)
{
    if (paths.size() > kMaxSurroundMembers)
        return tmfoErr;
    DeleteMembers();
    try {
        for (const std::string& path : paths) {
            CSoundFile* member = CreateSoundFileObject(m_memberType);
            THROW_IF_NULL(member, "member of a surround set");
            const OSErr err = member->SetFile(path);
            if (err) {
                delete member;
                THROW_IF_ERROR(err, "member of a surround set");
            }
            m_members.push_back(member);
        }
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::MakeChannelFiles(const FSSpec* spec, SInt32 configuration, UInt32 count)
{
    if (!spec)
        return paramErr;
    const FSSpec given = *spec;
    DeleteMembers();

    FSSpec own = given;
    own.name = StripLeftChannelSuffix(given.name);
    CSoundFile::SetFile(&own);  // the folder's errors show again with the members
    m_fsSpec = own;
    SetChannelConfiguration(configuration);

    std::vector<std::string> names;
    if (configuration >= 1 && configuration <= 10) {
        ZudbTable table(bundle_resource_path("surround", "zudb"));
        ZudbTable rows = table.SelectRows("cc", std::to_string(configuration));
        std::vector<std::string> indicators;
        if (!rows.rows().empty())
            indicators = split_string(rows.rows().front()["indicators"], "|");
        for (const std::string& indicator : indicators)
            names.push_back(own.name + indicator);
    } else {
        if (count > kMaxSurroundMembers)
            return tmfoErr;
        for (UInt32 i = 0; i < count; ++i)
            names.push_back(own.name + "." + std::to_string(i + 1));
    }
    m_numChannels = UInt32(names.size());

    for (const std::string& name : names) {
        FSSpec memberSpec = own;
        memberSpec.name = name;
        CSoundFile* member = CreateSoundFileObject(m_memberType);
        if (!member)
            continue;
        const OSErr err = member->SetFile(&memberSpec);
        if (err) {
            delete member;
            return err;
        }
        m_members.push_back(member);
    }
    return noErr;
}

// ========================================================== open/create
std::size_t CSurroundFile::CheckedSampleBytes() const
{
    const std::size_t bytes = SetSampleBytes(m_numBits);
    if (bytes == 0)
        throw error_code_exception(paramErr, "illegal word size (%ld) in sound file (%s:%d)", long(m_numBits),
                                   path_file_name(__FILE__), __LINE__);
    return bytes;
}

void CSurroundFile::CheckMemberBlocks(const CSoundFile* member) const
{
    if (member->GetNumBits() != m_numBits || member->GetBufferFrames() < m_bufferFrames ||
        member->GetNumChannels() != 1)
        QM_SET_ERROR("member of a surround set does not match the set");
}

OSErr CSurroundFile::Open()
{
    m_numChannels = UInt32(m_members.size());
    try {
        UInt32 frames = 0;
        for (std::size_t i = 0; i < m_members.size(); ++i) {
            CSoundFile* member = m_members[i];
            THROW_IF_ERROR(member->Open(), "member of a surround set");
            if (member->GetNumChannels() != 1)
                QM_SET_ERROR("files in a surround set must be mono");
            if (i == 0) {
                m_numBits = member->GetNumBits();
                m_sampleRate = member->GetSampleRate();
                m_sampleFormat = member->GetState();
            } else {
                if (member->GetNumBits() != m_numBits)
                    QM_SET_ERROR("files in a surround set must have same word size");
                if (member->GetSampleRate() != m_sampleRate)
                    QM_SET_ERROR("files in a surround set must have same sample rate");
                if (member->GetState() != m_sampleFormat)
                    QM_SET_ERROR("files in a surround set must have same data type");
            }
            frames = std::max(frames, member->GetNumFrames());
        }
        m_numFrames = frames;
        m_bitRate = 0;
        m_isOpen = true;
        return noErr;
    } catch (const error_code_exception& e) {
        for (CSoundFile* member : m_members)
            member->Close();
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                            ConstStr255Param nameExtension, float sampleRate)
{
    // Every channel needs its member.
    if (m_members.size() != numChannels || numChannels == 0)
        return paramErr;

    if (m_numChannels == 2 && m_memberType == kSonicAIFFType) {
        Str255 pascal = {0};
        MacRoman::toPascal(QString::fromStdString(m_fsSpec.name), pascal, 255);
        const UInt32 t = UInt32(QDateTime::currentSecsSinceEpoch() + 2082844800LL);
        UInt8 firstID[16];
        UInt8 secondID[16];
        std::memcpy(firstID, pascal, 12);
        std::memcpy(secondID, pascal, 12);
        for (int i = 0; i < 4; ++i) {
            firstID[12 + i] = UInt8(t >> (24 - 8 * i));
            secondID[12 + i] = UInt8((t + 1) >> (24 - 8 * i));
        }
        m_members[0]->SetSonicInfo(firstID, secondID, 0);
        m_members[1]->SetSonicInfo(firstID, secondID, 1);
    }

    m_numChannels = numChannels;
    m_numBits = numBits;
    m_sampleRate = sampleRate;
    const OSErr baseErr =
        CSoundFile::Create(numChannels, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
    if (baseErr)
        return baseErr;
    for (std::size_t i = 0; i < m_members.size(); ++i) {
        const OSErr err =
            m_members[i]->Create(1, numBits, reserved, fileTypeSpecifics, nameExtension, sampleRate);
        if (err) {
            for (std::size_t j = 0; j < i; ++j)
                m_members[j]->Close();
            return err;
        }
    }
    m_numBits = m_members.front()->GetNumBits();
    for (CSoundFile* member : m_members) {
        if (member->GetNumBits() != m_numBits) {
            for (CSoundFile* m : m_members)
                m->Close();
            return paramErr;
        }
    }
    m_sampleFormat = m_members.front()->GetState();
    m_numFrames = 0;
    m_isOpen = true;
    return noErr;
}

OSErr CSurroundFile::Close()
{
    OSErr result = noErr;
    for (CSoundFile* member : m_members) {
        const OSErr err = member->Close();
        if (err && err != fnOpnErr && err != kFileNotOpenedErr) {
            result = err;
            break;
        }
    }
    if (result)
        for (CSoundFile* member : m_members)
            member->Close();
    m_isOpen = false;
    return result;
}

OSErr CSurroundFile::CloseAndDelete(Boolean success)
{
    OSErr result = noErr;
    std::vector<CSoundFile*> members;
    members.swap(m_members);
    m_regionObjects.clear();
    m_isOpen = false;
    for (CSoundFile* member : members) {
        const OSErr err = member->CloseAndDelete(success);
        if (err && !result)
            result = err;
    }
    const OSErr own = CSoundFile::CloseAndDelete(success);  // deletes this
    return result ? result : own;
}

// ========================================================== annotations
namespace {

// Sends a change to every member; the first error stops.
template <typename Call>
OSErr AllMembers(const std::vector<CSoundFile*>& members, Call&& call)
{
    for (CSoundFile* member : members)
        if (const OSErr err = call(member))
            return err;
    return noErr;
}

} // namespace

#define QM_FIRST(call, fallback) (m_members.empty() ? (fallback) : m_members.front()->call)

UInt16 CSurroundFile::GetNumMarkers() const { return QM_FIRST(GetNumMarkers(), CSoundFile::GetNumMarkers()); }
OSErr CSurroundFile::GetMarker(UInt16 index, SFTMarker* marker) const
{
    return QM_FIRST(GetMarker(index, marker), CSoundFile::GetMarker(index, marker));
}
const ZuMarker* CSurroundFile::GetMarkerObject(UInt16 index) const
{
    return QM_FIRST(GetMarkerObject(index), CSoundFile::GetMarkerObject(index));
}
OSErr CSurroundFile::GetMarkerByID(SInt32 markerID, SFTMarker* marker) const
{
    return QM_FIRST(GetMarkerByID(markerID, marker), CSoundFile::GetMarkerByID(markerID, marker));
}
UInt16 CSurroundFile::GetNumLoops() const { return QM_FIRST(GetNumLoops(), CSoundFile::GetNumLoops()); }
OSErr CSurroundFile::GetLoop(UInt16 index, SFTLoop* loop) const
{
    return QM_FIRST(GetLoop(index, loop), CSoundFile::GetLoop(index, loop));
}
const ZuLoop* CSurroundFile::GetLoopObject(UInt16 index) const
{
    return QM_FIRST(GetLoopObject(index), CSoundFile::GetLoopObject(index));
}
UInt16 CSurroundFile::GetNumRegions() const { return QM_FIRST(GetNumRegions(), CSoundFile::GetNumRegions()); }
Boolean CSurroundFile::FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const
{
    return QM_FIRST(FindRegion(start, end, region), CSoundFile::FindRegion(start, end, region));
}
const QList<ZuRegion>& CSurroundFile::GetRegions() const { return QM_FIRST(GetRegions(), CSoundFile::GetRegions()); }
const QList<ZuMarker>& CSurroundFile::GetMarkers() const { return QM_FIRST(GetMarkers(), CSoundFile::GetMarkers()); }
const QList<ZuLoop>& CSurroundFile::GetLoops() const { return QM_FIRST(GetLoops(), CSoundFile::GetLoops()); }
OSErr CSurroundFile::GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const
{
    return QM_FIRST(GetRegionBounds(frame, start, end), CSoundFile::GetRegionBounds(frame, start, end));
}
std::string CSurroundFile::GetFileNameString() const
{
    return QM_FIRST(GetFileNameString(), CSoundFile::GetFileNameString());
}
UInt32 CSurroundFile::GetTimeStamp() const { return QM_FIRST(GetTimeStamp(), CSoundFile::GetTimeStamp()); }
Boolean CSurroundFile::HasTimeStamp() const { return QM_FIRST(HasTimeStamp(), CSoundFile::HasTimeStamp()); }
UInt64 CSurroundFile::GetTimeStamp64() const { return QM_FIRST(GetTimeStamp64(), CSoundFile::GetTimeStamp64()); }
QVariantMap& CSurroundFile::GetSpecifics() { return QM_FIRST(GetSpecifics(), CSoundFile::GetSpecifics()); }

#undef QM_FIRST

OSErr CSurroundFile::GetRegion(UInt16 index, SFTRegion* region) const
{
    if (m_members.empty())
        return CSoundFile::GetRegion(index, region);
    const OSErr err = m_members.front()->GetRegion(index, region);
    if (err == noErr && region && m_memberType == kBWFLinearType) {
        const std::string name(reinterpret_cast<const char*>(region->name + 1), region->name[0]);
        const std::size_t pos = name.find(".L");
        if (pos != std::string::npos)
            region->name[0] = UInt8(pos);
    }
    return err;
}

const ZuRegion* CSurroundFile::GetRegionObject(UInt16 index) const
{
    if (m_members.empty())
        return CSoundFile::GetRegionObject(index);
    const ZuRegion* region = m_members.front()->GetRegionObject(index);
    if (!region || m_memberType != kBWFLinearType || !region->name().endsWith(QStringLiteral(".L")))
        return region;
    ZuRegion& copy = m_regionObjects[index];
    copy = *region;
    copy.setName(region->name().left(region->name().size() - 2));
    return &copy;
}

OSErr CSurroundFile::AddMarker(const SFTMarker* marker)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->AddMarker(marker); });
}
OSErr CSurroundFile::RemoveMarker(const SFTMarker* marker)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->RemoveMarker(marker); });
}
OSErr CSurroundFile::AddLoop(const SFTLoop* loop)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->AddLoop(loop); });
}
OSErr CSurroundFile::RemoveLoop(const SFTLoop* loop)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->RemoveLoop(loop); });
}
OSErr CSurroundFile::RemoveDuplicateMarkers()
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->RemoveDuplicateMarkers(); });
}
OSErr CSurroundFile::AddRegion(const SFTRegion* region)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->AddRegion(region); });
}
OSErr CSurroundFile::RemoveRegion(const SFTRegion* region)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->RemoveRegion(region); });
}

// ======================================================= identity (read)
void CSurroundFile::GetFSSpec(FSSpec* spec) const
{
    if (!spec)
        return;
    if (m_members.empty()) {
        CSoundFile::GetFSSpec(spec);
        return;
    }
    m_members.front()->GetFSSpec(spec);
    spec->name = CSplitFile::StripMemberIndicator(spec->name);
}

void CSurroundFile::GetFileName(StringPtr name) const
{
    if (!name)
        return;
    Str255 own = {0};
    CSoundFile::GetFileName(own);
    std::memcpy(name, own, std::size_t(own[0]) + 1);
}

QString CSurroundFile::GetName() const
{
    if (m_members.empty())
        return CSoundFile::GetName();
    QString name = m_members.front()->GetName();
    for (const char* indicator : {".L", ".l", ".C", ".c"}) {
        const qsizetype pos = name.lastIndexOf(QLatin1String(indicator));
        if (pos >= 0)
            name.truncate(pos);
    }
    return name;
}

std::string CSurroundFile::GetChannelName(UInt16 channel) const
{
    if (channel >= m_members.size())
        return std::string();
    const std::string number = std::to_string(unsigned(channel) + 1);
    std::string name;
    const std::string fileName = LastComponent(m_members[channel]->GetPath());
    if (m_setName == kMultichannelSetName) {
        name = number;
    } else {
        const std::string stem = GetExtension(QString::fromStdString(fileName)).toStdString();
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos) {
            const std::string suffix = stem.substr(dot);
            const ZudbTable table = LoadChannelNamesTable();
            for (const ZudbTable::Row& row : table.rows()) {
                const auto pattern = row.find("pattern");
                if (pattern == row.end() || pattern->second.empty())
                    continue;
                bool matched = false;
                try {
                    matched = regex_search(pattern->second.c_str(), suffix.c_str());
                } catch (const error_code_exception&) {
                    matched = false;  // a bad pattern in the table matches nothing
                }
                if (matched) {
                    const auto value = row.find("name");
                    if (value != row.end())
                        name = value->second;
                    break;
                }
            }
        }
        if (name.empty())
            name = number;
    }
    if (std::getenv("SurroundFileDebug"))
        name += " [" + fileName + "]";
    return name;
}

// =============================================================== blocks
OSErr CSurroundFile::AllocateReadBuffer()
{
    try {
        for (CSoundFile* member : m_members)
            THROW_IF_ERROR(member->AllocateReadBuffer());
        THROW_IF_ERROR(CSoundFile::AllocateReadBuffer());
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::AllocateWriteBuffer()
{
    try {
        for (CSoundFile* member : m_members)
            THROW_IF_ERROR(member->AllocateWriteBuffer());
        THROW_IF_ERROR(CSoundFile::AllocateWriteBuffer());
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::ReadBlock(UInt32 frame)
{
    try {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (!m_readBuffer)
            THROW_IF_ERROR(AllocateReadBuffer());
        std::vector<const UInt8*> blocks;
        blocks.reserve(m_members.size());
        for (CSoundFile* member : m_members) {
            CheckMemberBlocks(member);
            if (!member->GetReadBuffer())
                THROW_IF_ERROR(member->AllocateReadBuffer());
            const UInt32 memberFrames = member->GetNumFrames();
            if (memberFrames > frame) {
                THROW_IF_ERROR(member->ReadBlock(frame));
                ClearMemberBlockTail(member->GetReadBuffer(), memberFrames - frame, m_bufferFrames, sampleBytes);
            } else {
                ClearMemberBlockTail(member->GetReadBuffer(), 0, m_bufferFrames, sampleBytes);
            }
            blocks.push_back(member->GetReadBuffer());
        }
        InterleaveMemberBlocks(blocks, m_readBuffer, m_bufferFrames, sampleBytes);
        m_readBufferStart = frame;
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::PrepareWriteBlock(UInt32 frame)
{
    try {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (!m_writeBuffer)
            THROW_IF_ERROR(AllocateWriteBuffer());
        std::vector<const UInt8*> blocks;
        blocks.reserve(m_members.size());
        for (CSoundFile* member : m_members) {
            CheckMemberBlocks(member);
            if (!member->GetWriteBuffer())
                THROW_IF_ERROR(member->AllocateWriteBuffer());
            THROW_IF_ERROR(member->PrepareWriteBlock(frame));
            blocks.push_back(member->GetWriteBuffer());
        }
        InterleaveMemberBlocks(blocks, m_writeBuffer, m_bufferFrames, sampleBytes);
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    try {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (!m_writeBuffer)
            THROW_IF_ERROR(AllocateWriteBuffer());
        std::vector<UInt8*> blocks;
        blocks.reserve(m_members.size());
        for (CSoundFile* member : m_members) {
            CheckMemberBlocks(member);
            if (!member->GetWriteBuffer())
                THROW_IF_ERROR(member->AllocateWriteBuffer());
            blocks.push_back(member->GetWriteBuffer());
        }
        DeinterleaveMemberBlocks(m_writeBuffer, blocks, m_bufferFrames, sampleBytes);
        for (CSoundFile* member : m_members)
            THROW_IF_ERROR(member->WriteBlock(frames, frame));
        if (!m_members.empty())
            m_numFrames = m_members.front()->GetNumFrames();
        return noErr;
    } catch (const error_code_exception& e) {
        return Narrow(e.code());
    }
}

OSErr CSurroundFile::ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, float* out)
{
    if (!count)
        return paramErr;
    if (channel >= m_members.size()) {
        *count = 0;
        return paramErr;
    }
    CSoundFile* member = m_members[channel];
    const UInt64 end = std::min<UInt64>(UInt64(frame) + *count, m_numFrames);
    UInt64 pos = frame;
    OSErr result = noErr;
    try {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (frame < end) {
            if (!out)
                THROW_IF_ERROR(paramErr);
            CheckMemberBlocks(member);
            THROW_IF_ERROR(member->AllocateReadBuffer());
        }
        const UInt32 memberFrames = member->GetNumFrames();
        const bool is146 = m_sampleFormat == kSampleFormat24In32;
        while (pos < end) {
            const UInt32 n = UInt32(std::min<UInt64>({UInt64(m_bufferFrames), UInt64(m_numFrames) - pos, end - pos}));
            float* dst = out + (pos - frame);
            if (pos >= memberFrames) {
                std::fill(dst, dst + n, 0.0f);
                pos += n;
                continue;
            }
            THROW_IF_ERROR(member->ReadBlock(UInt32(pos)));
            const UInt8* p = member->GetReadBuffer();
            THROW_IF_NULL(p, "member block");
            const UInt32 valid = UInt32(std::min<UInt64>(n, UInt64(memberFrames) - pos));
            for (UInt32 i = 0; i < valid; ++i, p += sampleBytes) {
                switch (sampleBytes) {
                case 2: dst[i] = float(SInt16(UInt16((p[0] << 8) | p[1])) * 3.051758e-05); break;
                case 1: dst[i] = float(SInt8(p[0]) * 0.0078125); break;
                case 3: dst[i] = Int24ToFloat(p); break;
                default: {
                    UInt32 word = (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
                    if (is146)
                        word <<= 8;
                    dst[i] = float(double(SInt32(word)) * 4.65661287308e-10);
                    break;
                }
                }
            }
            std::fill(dst + valid, dst + n, 0.0f);
            pos += n;
        }
    } catch (const error_code_exception& e) {
        result = Narrow(e.code());
    }
    *count = UInt32(pos - frame);
    return result;
}

void CSurroundFile::FreeBuffers()
{
    for (CSoundFile* member : m_members)
        member->FreeBuffers();
    CSoundFile::FreeBuffers();
}

OSErr CSurroundFile::SetFilePos(UInt32 frame)
{
    return AllMembers(m_members, [&](CSoundFile* m) { return m->SetFilePos(frame); });
}

OSErr CSurroundFile::RecalcNumFrames()
{
    if (const OSErr err = AllMembers(m_members, [](CSoundFile* m) { return m->RecalcNumFrames(); }))
        return err;
    if (!m_members.empty())
        m_numFrames = m_members.front()->GetNumFrames();
    return noErr;
}

OSErr CSurroundFile::ProbeHeader(SInt16* result)
{
    if (m_members.empty())
        return paramErr;
    CSoundFile* first = m_members.front();
    if (const OSErr err = first->ProbeHeader(result))
        return err;
    m_sampleRate = first->GetSampleRate();
    m_numBits = first->GetNumBits();
    m_numFrames = first->GetNumFrames();
    m_numChannels = UInt32(m_members.size());
    return noErr;
}

void CSurroundFile::SetDither(Boolean dither)
{
    CSoundFile::SetDither(dither);
    for (CSoundFile* member : m_members)
        member->SetDither(dither);
}

void CSurroundFile::SetTimeStamp(UInt32 timeStamp)
{
    SetTimeStamp64(timeStamp);
}

void CSurroundFile::SetTimeStamp64(UInt64 timeStamp)
{
    for (CSoundFile* member : m_members)
        member->SetTimeStamp64(timeStamp);
    CSoundFile::SetTimeStamp64(timeStamp);
}

OSErr CSurroundFile::SetBufferFrames(UInt32 frames)
{
    if (frames == 0)
        return paramErr;
    if (const OSErr err = AllMembers(m_members, [&](CSoundFile* m) { return m->SetBufferFrames(frames); }))
        return err;
    return CSoundFile::SetBufferFrames(frames);
}

OSType CSurroundFile::GetFileType() const
{
    return m_memberType;
}

QString CSurroundFile::GetFormatName() const
{
    return QString::fromStdString(m_setName) + QLatin1Char(' ') +
           (m_members.empty() ? QString() : m_members.front()->GetFormatName());
}

Boolean CSurroundFile::IsSplit() const
{
    return true;
}

SInt32 CSurroundFile::GetChannelKind() const
{
    return 5;
}

const std::vector<CSoundFile*>* CSurroundFile::GetSubFiles() const
{
    return &m_members;
}
