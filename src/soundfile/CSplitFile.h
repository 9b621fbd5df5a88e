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

#include "CSetFile.h"
#include "error_codes.h"

#include <map>
#include <string>
#include <vector>

class CSplitFile : public CSetFile {
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


    // The left member's FSSpec without its left indicator.
    void GetFSSpec(FSSpec* spec) const override;
    // The set's own name; when it equals the left member's name, that name
    // without its indicator (".3" -> "_2" and so on for numbered pairs).
    void GetFileName(StringPtr name) const override;
    // The left member's name, cut before its last ".L" (else ".l").
    QString GetName() const override;

    OSErr ProbeHeader(SInt16* result) override;
    // Closes and deletes both members and the set; the first error.
    OSErr CloseAndDelete(Boolean success) override;


    // "Split stereo " + the left member's format name.
    QString GetFormatName() const override;
    SInt32 GetChannelKind() const override;  // 4

    CSoundFile* GetLeftFile() const { return m_first; }
    CSoundFile* GetRightFile() const { return m_second; }

    // A channel indicator stands at the end of a name, or just before its
    // extension when that is a readable type's (as set grouping finds
    // members): "Vocal.lead.L.aif", never the ".l" inside "Vocal.lead".
    // The position of the first of `indicators` that stands there, or npos.
    static std::size_t IndicatorPosition(const std::string& name, std::initializer_list<const char*> indicators);
    // Removes the left indicator from a name: the first of ".l", ".L", "-L",
    // ".1" (two characters), else of "(l)", "(L)" (three characters) that
    // stands where an indicator stands; otherwise the name is returned
    // unchanged.
    static std::string StripLeftChannelSuffix(const std::string& name);
    // The same for the names of existing members: ".l", ".L", "-L", ".1",
    // ".3", ".5", ".7", then "(l)", "(L)".
    static std::string StripMemberIndicator(const std::string& name);
    // The left and right member names for the name `name` and a member type:
    // a base name followed by the type's pair indicators (PairIndicators);
    // a name ending in a numbered indicator (".3") with the next number
    // for the right member; a name ending in a left indicator of letters
    // (".L", "-L", "(l)") with the type's own indicators in its place where
    // the type has its own, else with the right indicator of the same kind.
    // Reads and updates the remembered Sonic pair digit.
    static void MemberNames(const std::string& name, OSType memberType, std::string* left, std::string* right);
    // The indicators that follow a base name to name the members of a pair
    // of `memberType` files, whether the pair is written as a split set or
    // as a two-channel surround set: the type's own ("splitStereoSuffixes":
    // Paris "-L"/"-R", Sonic ".1"/".2"), else ".L"/".R".  Numbered ones go
    // on from the remembered pair digit, which they consume.
    static void PairIndicators(OSType memberType, std::string* left, std::string* right);
    // Whether the type names the members of its pairs its own way.
    static bool HasOwnPairIndicators(OSType memberType);

    // The remembered digit of the last numbered pair (0 when none); the
    // next Sonic output pair is numbered from it.
    static char GetSonicPairDigit();
    static void SetSonicPairDigit(char digit);

protected:
    // A set without both members: -23102 (the left member is missing).
    OSErr EmptySetErr() const override { return kSplitLeftNotInitedErr; }
    OSErr MemberMismatchErr() const override { return kSplitNotConsistentErr; }
    // Destroys both members and empties the member list.
    void DeleteMembers();

    CSoundFile* m_first = nullptr;   // left channel, owned
    CSoundFile* m_second = nullptr;  // right channel, owned
    // m_members: first, second once both are made.
};
