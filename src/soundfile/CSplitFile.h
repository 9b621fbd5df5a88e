// CSplitFile: a split stereo set (Take.L + Take.R, Take-L + Take-R,
// Take(l) + Take(r), Mix.1 + Mix.2 ...) presented as one two-channel sound
// file.  The two members are ordinary mono CSoundFile objects of one member
// type, made through CreateSoundFileObject and owned by the set.
//
// Input sets get their members through the member-list form of SetFile
// (left path, right path); outputs get them from one name through
// SetFile (FSSpec), which derives the left and right member names.
//
// Shape: two channels; word length, sample rate and sample-format code of
// the left member.  After Open the frame count is the longer member's (the
// shorter member reads as silence past its end); after writing it is the
// left member's.  Markers, loops, regions, time stamp and specifics are the
// left member's; changes go to both members.
#pragma once

#include "CSoundFile.h"

#include <map>
#include <string>
#include <vector>

// The program's codes of split sets.
constexpr OSErr kSplitNotConsistentErr = -23100;  // "split stereo file not consistent"
constexpr OSErr kSplitRightNotInitedErr = -23101; // "right part of split not inited"
constexpr OSErr kSplitLeftNotInitedErr = -23102;  // "left part of split not inited"
// The right-hand member of a split pair met on its own, after its left
// partner ("was already processed with left file").
constexpr OSErr kSplitRightAlreadyProcessedErr = -23015;

class CSplitFile : public CSoundFile {
public:
    explicit CSplitFile(OSType memberType);
    ~CSplitFile() override;

    using CSoundFile::SetFile;
    // Names both members from one name (see StripLeftChannelSuffix and
    // MemberNames); the set keeps the name without its left indicator.
    OSErr SetFile(const FSSpec* spec) override;
    OSErr SetFile(const FSRef* ref) override;
    OSErr SetFile(const std::string& path) override;
    // Exactly two paths, left then right (paramErr otherwise).
    OSErr SetFile(const std::vector<std::string>& paths) override;

    OSErr Open() override;
    // Creates both members with one channel each.
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;

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
    // For 'BWLN' members the region name is cut before its first ".L".
    OSErr GetRegion(UInt16 index, SFTRegion* region) const override;
    // For 'BWLN' members a name ending in ".L" is given without it.
    const ZuRegion* GetRegionObject(UInt16 index) const override;
    OSErr AddRegion(const SFTRegion* region) override;
    OSErr RemoveRegion(const SFTRegion* region) override;
    Boolean FindRegion(UInt32 start, UInt32 end, SFTRegion* region) const override;
    const QList<ZuRegion>& GetRegions() const override;
    const QList<ZuMarker>& GetMarkers() const override;
    const QList<ZuLoop>& GetLoops() const override;

    // The left member's FSSpec without its left indicator.
    void GetFSSpec(FSSpec* spec) const override;
    // The set's own name; when it equals the left member's name, that name
    // without its indicator (".3" -> "_2" and so on for numbered pairs).
    void GetFileName(StringPtr name) const override;
    std::string GetFileNameString() const override;
    // The left member's name, cut before its last ".L" (else ".l").
    QString GetName() const override;
    OSErr GetRegionBounds(SInt32 frame, UInt32* start, UInt32* end) const override;

    OSErr AllocateReadBuffer() override;
    OSErr ReadBlock(UInt32 frame) override;
    OSErr AllocateWriteBuffer() override;
    OSErr PrepareWriteBlock(UInt32 frame) override;
    OSErr WriteBlock(UInt32 frames, UInt32 frame) override;
    void FreeBuffers() override;
    OSErr SetFilePos(UInt32 frame) override;
    OSErr RecalcNumFrames() override;
    OSErr ProbeHeader(SInt16* result) override;
    void SetDither(Boolean dither) override;
    // Closes and deletes both members and the set; the first error.
    OSErr CloseAndDelete(Boolean success) override;

    UInt32 GetTimeStamp() const override;
    void SetTimeStamp(UInt32 timeStamp) override;
    Boolean HasTimeStamp() const override;
    UInt64 GetTimeStamp64() const override;
    void SetTimeStamp64(UInt64 timeStamp) override;
    OSErr SetBufferFrames(UInt32 frames) override;

    // The member type (not 'Splt').
    OSType GetFileType() const override;
    // "Split stereo " + the left member's format name.
    QString GetFormatName() const override;
    QVariantMap& GetSpecifics() override;
    Boolean IsSplit() const override;
    SInt32 GetChannelKind() const override;  // 4
    const std::vector<CSoundFile*>* GetSubFiles() const override;

    OSType GetMemberType() const { return m_memberType; }
    CSoundFile* GetLeftFile() const { return m_first; }
    CSoundFile* GetRightFile() const { return m_second; }

    // Removes the left indicator from a name: the first of ".l", ".L", "-L",
    // ".1" that occurs (two characters), else the first of "(l)", "(L)"
    // (three characters); otherwise the name is returned unchanged.
    static std::string StripLeftChannelSuffix(const std::string& name);
    // The same for the names of existing members: ".l", ".L", "-L", ".1",
    // ".3", ".5", ".7", then "(l)", "(L)".
    static std::string StripMemberIndicator(const std::string& name);
    // The left and right member names for the name `name` and a member type.
    // Reads and updates the remembered Sonic pair digit.
    static void MemberNames(const std::string& name, OSType memberType, std::string* left, std::string* right);

    // The remembered digit of the last numbered pair (0 when none); the
    // next Sonic output pair is numbered from it.
    static char GetSonicPairDigit();
    static void SetSonicPairDigit(char digit);

protected:
    // Destroys both members and empties the member list.
    void DeleteMembers();
    // Throws kSplitNotConsistentErr unless a member can exchange blocks
    // with the set (same word length, at least the set's block length).
    void CheckMemberBlocks(const CSoundFile* member) const;

    CSoundFile* m_first = nullptr;   // left channel, owned
    CSoundFile* m_second = nullptr;  // right channel, owned
    OSType m_memberType;
    std::vector<CSoundFile*> m_members;  // first, second (not owning)

private:
    // Region objects of 'BWLN' members with the ".L" cut from their names.
    mutable std::map<UInt16, ZuRegion> m_regionObjects;
};
