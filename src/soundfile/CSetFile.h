// CSetFile: what split stereo sets and surround sets share.  A set shows
// one-channel member files (made through CreateSoundFileObject, one member
// type) as one interleaved sound file:
//   - annotations (markers, loops, regions, time stamp, specifics) are read
//     from the lead member (the first); changes go to every member in turn,
//     the first failure stopping;
//   - the block operations run over the members: each member's block is
//     read, prepared or written at the same frame and the set's block is
//     interleaved from them or split into them (set_file_blocks);
//   - buffer sizes, dither and time stamps are passed on to every member.
// Subclasses name, open, create, close and delete the members; m_members
// lists them in channel order (the subclass owns them).
#pragma once

#include "CSoundFile.h"

#include <QString>

#include <cstddef>
#include <map>
#include <vector>

class CSetFile : public CSoundFile {
public:
    ~CSetFile() override;

    UInt16 GetNumMarkers() const override;
    OSErr GetMarker(UInt16 index, SFTMarker* marker) const override;
    const ZuMarker* GetMarkerObject(UInt16 index) const override;
    OSErr GetMarkerByID(SInt32 markerID, SFTMarker* marker) const override;
    OSErr AddMarker(const SFTMarker* marker) override;
    OSErr RemoveMarker(const SFTMarker* marker) override;
    UInt16 GetNumLoops() const override;
    OSErr GetLoop(UInt16 index, SFTLoop* loop) const override;
    const ZuLoop* GetLoopObject(UInt16 index) const override;
    OSErr AddLoop(const SFTLoop* loop) override;
    OSErr RemoveLoop(const SFTLoop* loop) override;
    OSErr RemoveDuplicateMarkers() override;
    UInt16 GetNumRegions() const override;
    // The lead member's region, its name without the member type's
    // "memberRegionSuffix" (the members' left indicator, ".L") at its end.
    OSErr GetRegion(UInt16 index, SFTRegion* region) const override;
    // The same for the region object.
    const ZuRegion* GetRegionObject(UInt16 index) const override;
    OSErr AddRegion(const SFTRegion* region) override;
    OSErr RemoveRegion(const SFTRegion* region) override;
    Boolean FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const override;
    const QList<ZuRegion>& GetRegions() const override;
    const QList<ZuMarker>& GetMarkers() const override;
    const QList<ZuLoop>& GetLoops() const override;
    OSErr GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const override;
    std::string GetFileNameString() const override;

    OSErr AllocateReadBuffer() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr AllocateWriteBuffer() override;
    // Every member writes its part; the frame count is the lead's.
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    void FreeBuffers() override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    void SetDither(Boolean dither) override;

    UInt32 GetTimeStamp() const override;
    void SetTimeStamp(UInt32 timeStamp) override;
    Boolean HasTimeStamp() const override;
    UInt64 GetTimeStamp64() const override;
    void SetTimeStamp64(UInt64 timeStamp) override;
    OSErr SetBufferFrames(UInt32 frames) override;

    // The member type (not the set's own code).
    OSType GetFileType() const override;
    QVariantMap& GetSpecifics() override;
    Boolean IsSplit() const override;
    const std::vector<CSoundFile*>* GetSubFiles() const override;

    OSType GetMemberType() const { return m_memberType; }

protected:
    explicit CSetFile(OSType memberType);
    // Every member's block, interleaved; the frames the members hold.
    OSErr LoadWrittenFrames(UInt32 frame, UInt32* held) override;

    // A set's name: its lead member's name (without extension) less the
    // member indicator at its end (".L", "-L", "(L)", Sonic's ".1", a
    // surround set's ".C"), in either case.
    static std::string WithoutLeadIndicator(const std::string& leadName);
    // The member whose annotations the set shows; null while there is none.
    CSoundFile* Lead() const { return m_members.empty() ? nullptr : m_members.front(); }
    // What an operation on a set without members answers (noErr: nothing
    // to do).
    virtual OSErr EmptySetErr() const { return noErr; }
    // The code of a member whose block does not match the set's.
    virtual OSErr MemberMismatchErr() const { return paramErr; }
    // Throws unless a member can exchange blocks with the set (same word
    // length, one channel, at least the set's block length).
    void CheckMemberBlocks(const CSoundFile* member) const;
    // The bytes of one sample; throws EmptySetErr() for a set without
    // members and paramErr for a word length other than 8, 16, 24, 32.
    std::size_t CheckedSampleBytes() const;
    // Hands a pair of members the identifiers they share: the start of the
    // set's stored name (GetStoredFileNameString, the name it is published
    // under: length byte and 11 characters) and a time value, t and t + 1.
    // A member type that records no such pair ignores them.
    void SharePairIdentifiers(CSoundFile* first, CSoundFile* second) const;
    // Runs `call` on every member; the first failure stops.
    template <typename Call> OSErr ForEachMember(Call&& call)
    {
        if (m_members.empty()) {
            return EmptySetErr();
        }
        for (CSoundFile* member : m_members) {
            if (const OSErr err = call(member)) {
                return err;
            }
        }
        return noErr;
    }

    OSType m_memberType;
    // The ending of the members' region names that the set leaves out
    // (their type's "memberRegionSuffix"; empty: none).
    QString m_memberRegionSuffix;
    std::vector<CSoundFile*> m_members;  // in channel order (owned by the subclass)
    // Region objects whose names end in the members' suffix, without it.
    mutable std::map<UInt16, ZuRegion> m_regionObjects;
};
