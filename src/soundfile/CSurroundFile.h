// CSurroundFile: a set of mono files, one per channel (Mix.L, Mix.R, Mix.C,
// Mix.LFE, Mix.Ls, Mix.Rs ...), presented as one multichannel sound file.
// The multichannel sibling of CSplitFile: every operation is carried out on
// the members, ordinary CSoundFile objects of one member type made through
// CreateSoundFileObject and owned by the set; blocks are interleaved and
// de-interleaved between the members' blocks and the set's block.
//
// Input sets get their members through the member-list form of SetFile and
// their name through SetSurroundSetName; output sets get theirs from
// MakeChannelFiles, which names them after the resource table "surround"
// ("surround.zudb": the row whose "cc" is the channel configuration gives
// the member suffixes in "indicators", separated by "|").  Channel names
// come from the table "channelnames.zudb" ("pattern" matched against a
// member's suffix, "name" shown for it).
//
// Shape: one channel per member; word length, sample rate and sample-format
// code are the first member's and every member must agree.  The frame count
// is the longest member's; a shorter member reads as silence past its end.
// Markers, loops, regions, time stamp and specifics are the first member's;
// changes go to every member.
#pragma once

#include "CSetFile.h"
#include "ZudbTable.h"

#include <map>
#include <string>
#include <vector>

// Most members a set may have.
constexpr std::size_t kMaxSurroundMembers = 200;

class CSurroundFile : public CSetFile {
public:
    explicit CSurroundFile(OSType memberType);
    ~CSurroundFile() override;

    using CSoundFile::SetFile;
    // One path per channel, in channel order; tmfoErr for more than 200.
    OSErr SetFile(const std::vector<std::string>& paths) override;

    // Opens every member.  paramErr when a member is not mono or differs in
    // word length, sample rate or sample-format code; every member is then
    // closed again.
    OSErr Open() override;
    // Creates every member with one channel.  paramErr unless the set has
    // exactly `numChannels` members; the first member error otherwise (the
    // members created before it are closed again).
    OSErr Create(UInt16 numChannels, SInt16 numBits, UInt32 reserved, const UInt8* fileTypeSpecifics,
                 ConstStr255Param nameExtension, float sampleRate) override;
    OSErr Close() override;

    using CSoundFile::ReadChannelFrames;
    // One channel straight from its member, as floats (silence past the
    // member's end).
    OSErr ReadChannelFrames(UInt16 channel, UInt32 frame, UInt32* count, float* out) override;


    // The first member's FSSpec without its left indicator.
    void GetFSSpec(FSSpec* spec) const override;
    // The set's own name (as MakeChannelFiles gave it; empty for input sets).
    void GetFileName(StringPtr name) const override;
    // The first member's name cut before its last ".L", ".l", ".C", ".c".
    QString GetName() const override;

    OSErr ProbeHeader(SInt16* result) override;
    // Closes and deletes every member and the set; the first error.
    OSErr CloseAndDelete(Boolean success) override;


    // The set name, a space and the first member's format name.
    QString GetFormatName() const override;
    SInt32 GetChannelKind() const override;  // 5
    // "1", "2" ... for a "Split Multichannel" set; otherwise the name the
    // table "channelnames.zudb" gives the member's suffix (Mix.Ls.wav ->
    // ".Ls"), or the channel number when no row matches.  With the
    // environment variable "SurroundFileDebug" set, " [file name]" follows.
    std::string GetChannelName(UInt16 channel) const override;

    // Makes the members of an output set from the name in `spec` (its left
    // indicator removed): for a stereo pair (configuration 1) the two
    // members a split pair of the member type has (CSplitFile::
    // PairIndicators: Paris -L and -R, Sonic .1 and .2, else .L and .R);
    // for configurations 2 to 10 one member per
    // indicator of the configuration's row in "surround.zudb" (name +
    // indicator; no row: no member and 0 channels), otherwise `count`
    // members named name + ".1", ".2" ...  The first member SetFile error is
    // returned; members the factory cannot make are skipped.
    OSErr MakeChannelFiles(const FSSpec* spec, SInt32 configuration, UInt32 count);
    const std::string& GetSurroundSetName() const { return m_setName; }
    void SetSurroundSetName(const std::string& name) { m_setName = name; }

    std::size_t GetMemberCount() const { return m_members.size(); }

    // The left-indicator rule of split sets (CSplitFile::StripLeftChannelSuffix).
    static std::string StripLeftChannelSuffix(const std::string& name);

private:
    void DeleteMembers();

    // m_members: owned, in channel order.
    std::string m_setName;
};

// The process-wide table "channelnames.zudb" (read from the resources while
// it has no rows).
ZudbTable LoadChannelNamesTable();
