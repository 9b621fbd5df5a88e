#include "CSetFile.h"

#include "CreateSoundFile.h"
#include "MacRoman.h"
#include "error_code_exception.h"
#include "set_file_blocks.h"
#include "throw_helpers.h"

#include <QDateTime>

#include <cstring>
#include <string>

CSetFile::CSetFile(OSType memberType)
    : m_memberType(memberType),
      m_memberRegionSuffix(
          ::GetSoundFileProperties(memberType).value(QStringLiteral("memberRegionSuffix")).toString())
{
}

CSetFile::~CSetFile() = default;

// ========================================================== annotations
std::string CSetFile::WithoutLeadIndicator(const std::string& leadName)
{
    static const char* const kIndicators[] = {".L", ".l", "-L", "-l", "(L)", "(l)", ".C", ".c",
                                              ".1", ".3", ".5", ".7"};
    for (const char* indicator : kIndicators) {
        const std::size_t length = std::strlen(indicator);
        if (leadName.size() > length && leadName.compare(leadName.size() - length, length, indicator) == 0)
            return leadName.substr(0, leadName.size() - length);
    }
    return leadName;
}

#define QM_LEAD(call, fallback) (Lead() ? Lead()->call : (fallback))

UInt16 CSetFile::GetNumMarkers() const
{
    return QM_LEAD(GetNumMarkers(), CSoundFile::GetNumMarkers());
}
OSErr CSetFile::GetMarker(UInt16 index, SFTMarker* marker) const
{
    return QM_LEAD(GetMarker(index, marker), CSoundFile::GetMarker(index, marker));
}
const ZuMarker* CSetFile::GetMarkerObject(UInt16 index) const
{
    return QM_LEAD(GetMarkerObject(index), CSoundFile::GetMarkerObject(index));
}
OSErr CSetFile::GetMarkerByID(SInt32 markerID, SFTMarker* marker) const
{
    return QM_LEAD(GetMarkerByID(markerID, marker), CSoundFile::GetMarkerByID(markerID, marker));
}
UInt16 CSetFile::GetNumLoops() const
{
    return QM_LEAD(GetNumLoops(), CSoundFile::GetNumLoops());
}
OSErr CSetFile::GetLoop(UInt16 index, SFTLoop* loop) const
{
    return QM_LEAD(GetLoop(index, loop), CSoundFile::GetLoop(index, loop));
}
const ZuLoop* CSetFile::GetLoopObject(UInt16 index) const
{
    return QM_LEAD(GetLoopObject(index), CSoundFile::GetLoopObject(index));
}
UInt16 CSetFile::GetNumRegions() const
{
    return QM_LEAD(GetNumRegions(), CSoundFile::GetNumRegions());
}
Boolean CSetFile::FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const
{
    return QM_LEAD(FindRegion(start, end, region), CSoundFile::FindRegion(start, end, region));
}
const QList<ZuRegion>& CSetFile::GetRegions() const
{
    return QM_LEAD(GetRegions(), CSoundFile::GetRegions());
}
const QList<ZuMarker>& CSetFile::GetMarkers() const
{
    return QM_LEAD(GetMarkers(), CSoundFile::GetMarkers());
}
const QList<ZuLoop>& CSetFile::GetLoops() const
{
    return QM_LEAD(GetLoops(), CSoundFile::GetLoops());
}
OSErr CSetFile::GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const
{
    return QM_LEAD(GetRegionBounds(frame, start, end), CSoundFile::GetRegionBounds(frame, start, end));
}
std::string CSetFile::GetFileNameString() const
{
    return QM_LEAD(GetFileNameString(), CSoundFile::GetFileNameString());
}
UInt32 CSetFile::GetTimeStamp() const
{
    return QM_LEAD(GetTimeStamp(), CSoundFile::GetTimeStamp());
}
Boolean CSetFile::HasTimeStamp() const
{
    return QM_LEAD(HasTimeStamp(), CSoundFile::HasTimeStamp());
}
UInt64 CSetFile::GetTimeStamp64() const
{
    return QM_LEAD(GetTimeStamp64(), CSoundFile::GetTimeStamp64());
}
QVariantMap& CSetFile::GetSpecifics()
{
    return QM_LEAD(GetSpecifics(), CSoundFile::GetSpecifics());
}

#undef QM_LEAD

OSErr CSetFile::GetRegion(UInt16 index, SFTRegion* region) const
{
    if (!Lead())
        return CSoundFile::GetRegion(index, region);
    const OSErr err = Lead()->GetRegion(index, region);
    if (err == noErr && region && !m_memberRegionSuffix.isEmpty()) {
        const std::string name(reinterpret_cast<const char*>(region->name + 1), region->name[0]);
        const std::string suffix = m_memberRegionSuffix.toStdString();
        // The members' region names end in the left indicator.
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            region->name[0] = UInt8(name.size() - suffix.size());
    }
    return err;
}

const ZuRegion* CSetFile::GetRegionObject(UInt16 index) const
{
    if (!Lead())
        return CSoundFile::GetRegionObject(index);
    const ZuRegion* region = Lead()->GetRegionObject(index);
    if (!region || m_memberRegionSuffix.isEmpty() || !region->name().endsWith(m_memberRegionSuffix))
        return region;
    ZuRegion& copy = m_regionObjects[index];
    copy = *region;
    copy.setName(region->name().left(region->name().size() - m_memberRegionSuffix.size()));
    return &copy;
}

OSErr CSetFile::AddMarker(const SFTMarker* marker)
{
    return ForEachMember([&](CSoundFile* m) { return m->AddMarker(marker); });
}
OSErr CSetFile::RemoveMarker(const SFTMarker* marker)
{
    return ForEachMember([&](CSoundFile* m) { return m->RemoveMarker(marker); });
}
OSErr CSetFile::AddLoop(const SFTLoop* loop)
{
    return ForEachMember([&](CSoundFile* m) { return m->AddLoop(loop); });
}
OSErr CSetFile::RemoveLoop(const SFTLoop* loop)
{
    return ForEachMember([&](CSoundFile* m) { return m->RemoveLoop(loop); });
}
OSErr CSetFile::RemoveDuplicateMarkers()
{
    return ForEachMember([&](CSoundFile* m) { return m->RemoveDuplicateMarkers(); });
}
OSErr CSetFile::AddRegion(const SFTRegion* region)
{
    return ForEachMember([&](CSoundFile* m) { return m->AddRegion(region); });
}
OSErr CSetFile::RemoveRegion(const SFTRegion* region)
{
    return ForEachMember([&](CSoundFile* m) { return m->RemoveRegion(region); });
}

// =============================================================== blocks
void CSetFile::CheckMemberBlocks(const CSoundFile* member) const
{
    if (member->GetNumBits() != m_numBits || member->GetBufferFrames() < m_bufferFrames
        || member->GetNumChannels() != 1)
        throw error_code_exception(
            MemberMismatchErr(), "member does not match its set (%s:%d)", path_file_name(__FILE__), __LINE__);
}

std::size_t CSetFile::CheckedSampleBytes() const
{
    if (m_members.empty() && EmptySetErr() != noErr)
        throw error_code_exception(EmptySetErr(), "set without members");
    const std::size_t bytes = SetSampleBytes(m_numBits);
    if (bytes == 0)
        throw error_code_exception(paramErr, "illegal word size (%ld) in sound file (%s:%d)", long(m_numBits),
            path_file_name(__FILE__), __LINE__);
    return bytes;
}

OSErr CSetFile::AllocateReadBuffer()
{
    for (CSoundFile* member : m_members)
        if (const OSErr err = member->AllocateReadBuffer())
            return err;
    return CSoundFile::AllocateReadBuffer();
}

OSErr CSetFile::AllocateWriteBuffer()
{
    for (CSoundFile* member : m_members)
        if (const OSErr err = member->AllocateWriteBuffer())
            return err;
    return CSoundFile::AllocateWriteBuffer();
}

OSErr CSetFile::ReadBlock(UInt32 frame)
{
    return Guarded([&]() -> OSErr {
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
                THROW_IF_ERROR(member->ReadBlockFor(frame, ReadWanted()));
                // What lies past the member's own end is silence.
                ClearMemberBlockTail(member->GetReadBuffer(), memberFrames - frame, m_bufferFrames, sampleBytes);
            } else {
                ClearMemberBlockTail(member->GetReadBuffer(), 0, m_bufferFrames, sampleBytes);
            }
            blocks.push_back(member->GetReadBuffer());
        }
        InterleaveMemberBlocks(blocks, m_readBuffer, m_bufferFrames, sampleBytes);
        m_readBufferStart = frame;
        return noErr;
    });
}

OSErr CSetFile::LoadWrittenFrames(UInt32 frame, UInt32* held)
{
    *held = 0;
    return Guarded([&]() -> OSErr {
        const std::size_t sampleBytes = CheckedSampleBytes();
        if (!m_writeBuffer)
            THROW_IF_ERROR(AllocateWriteBuffer());
        std::vector<const UInt8*> blocks;
        blocks.reserve(m_members.size());
        for (CSoundFile* member : m_members) {
            CheckMemberBlocks(member);
            if (!member->GetWriteBuffer())
                THROW_IF_ERROR(member->AllocateWriteBuffer());
            UInt32 memberHeld = 0;
            THROW_IF_ERROR(member->PrepareWriteBlock(frame, &memberHeld));
            *held = std::max(*held, memberHeld);
            blocks.push_back(member->GetWriteBuffer());
        }
        InterleaveMemberBlocks(blocks, m_writeBuffer, m_bufferFrames, sampleBytes);
        return noErr;
    });
}

OSErr CSetFile::WriteBlock(UInt32 frames, UInt32 frame)
{
    return Guarded([&]() -> OSErr {
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
        const OSErr err = ForEachMember([&](CSoundFile* m) { return m->WriteBlock(frames, frame); });
        if (Lead())
            m_numFrames = Lead()->GetNumFrames();
        return err;
    });
}

void CSetFile::FreeBuffers()
{
    for (CSoundFile* member : m_members)
        member->FreeBuffers();
    CSoundFile::FreeBuffers();
}

OSErr CSetFile::SetFilePos(UInt32 frame)
{
    return ForEachMember([&](CSoundFile* m) { return m->SetFilePos(frame); });
}

OSErr CSetFile::RecalcNumFrames()
{
    const OSErr err = ForEachMember([](CSoundFile* m) { return m->RecalcNumFrames(); });
    if (Lead())
        m_numFrames = Lead()->GetNumFrames();
    return err;
}

void CSetFile::SetDither(Boolean dither)
{
    CSoundFile::SetDither(dither);
    for (CSoundFile* member : m_members)
        member->SetDither(dither);
}

void CSetFile::SetTimeStamp(UInt32 timeStamp)
{
    SetTimeStamp64(timeStamp);
}

void CSetFile::SetTimeStamp64(UInt64 timeStamp)
{
    for (CSoundFile* member : m_members)
        member->SetTimeStamp64(timeStamp);
    CSoundFile::SetTimeStamp64(timeStamp);
}

OSErr CSetFile::SetBufferFrames(UInt32 frames)
{
    if (frames == 0)
        return paramErr;
    for (CSoundFile* member : m_members)
        if (const OSErr err = member->SetBufferFrames(frames))
            return err;
    return CSoundFile::SetBufferFrames(frames);
}

OSType CSetFile::GetFileType() const
{
    return m_memberType;
}

Boolean CSetFile::IsSplit() const
{
    return true;
}

const std::vector<CSoundFile*>* CSetFile::GetSubFiles() const
{
    return &m_members;
}

void CSetFile::SharePairIdentifiers(CSoundFile* first, CSoundFile* second) const
{
    Str255 pascal = {0};
    // The set's name as it will be published, never its temporary name.
    MacRoman::toPascal(QString::fromStdString(GetStoredFileNameString()), pascal, 255);
    const UInt32 t = UInt32(QDateTime::currentSecsSinceEpoch() + 2082844800LL);
    UInt8 firstID[16];
    UInt8 secondID[16];
    std::memcpy(firstID, pascal, 12);
    std::memcpy(secondID, pascal, 12);
    for (int i = 0; i < 4; ++i) {
        firstID[12 + i] = UInt8(t >> (24 - 8 * i));
        secondID[12 + i] = UInt8((t + 1) >> (24 - 8 * i));
    }
    first->SetSonicInfo(firstID, secondID, 0);
    second->SetSonicInfo(firstID, secondID, 1);
}
