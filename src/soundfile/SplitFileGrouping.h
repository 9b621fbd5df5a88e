// Grouping of split stereo and surround sets by file name.
//
// Many recording systems keep a stereo or multichannel take as one mono
// file per channel, told apart by a short indicator at the end of the name
// (before the extension): Take-L.paf / Take-R.paf, Take.1 / Take.2,
// Mix.L.wav ... Mix.Rs.wav, Mix.1.wav ... Mix.6.wav.  When type detection
// meets a mono file of a type that can take part in a set, it calls
// GroupSplitFiles, which finds the partners on disk and answers with the
// ordered member list, a set name and a channel configuration.  Two members
// make a split stereo file ('Splt'), more a surround file ('Srnd').
//
// Kinds of sets, by the type's properties (GetSoundFileProperties):
//   - split stereo pairs of the types that give "splitStereoSuffixes", the
//     name endings of their left and right member (Paris "-L"/"-R", Sonic
//     AIFF ".1"/".2"): configuration 1, "Split stereo";
//   - numbered sets Name.1 ... Name.16 (before a readable extension) of the
//     types whose "multichannelSets" is true, while the switch "Recognize
//     number files as split" is on: configuration 11, "Split
//     Multichannel".  The first member is always number 1; a set needs at
//     least two members and holds every number from 1 up to the first gap;
//   - surround sets of the same types whose indicators come from the
//     resource table "surround.zudb" (columns "name", "cc", "indicators":
//     the set's name, its channel configuration, its member suffixes in
//     channel order separated by "|").  Rows are tried from the last to the
//     first, so the table lists larger sets after smaller ones.
//
// Rules every kind follows:
//   - an indicator counts only at the very end of the name (before a
//     readable extension) and only as a whole: "Verse-Lead.aif" is not a
//     left channel, nor "Mix.Left.wav";
//   - partners are looked up ignoring case and come back with their names as
//     stored on disk (Take-L.paf finds take-r.paf); the extension of the file
//     in hand must be spelled as the readable extensions are (lower case),
//     else its last part counts as the indicator ("Take-L.PAF": ".PAF");
//   - every member must exist and be detected (grouping off) as the same
//     type as the file in hand; a partner that is missing, of another type
//     or cannot be detected at all fails the set, never the file in hand;
//   - the member list is in channel order and contains the file itself.
//
// Everything here is safe to call from several threads; the surround table
// is read and compiled once per process (an edited table takes effect at
// the next start).
#pragma once

#include "MacTypes.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Set names given by the grouping.
extern const char* const kSplitStereoSetName;        // "Split stereo"
extern const char* const kSplitMultichannelSetName;  // "Split Multichannel"

// Looks for the set the mono file at `path` (of `type`) belongs to.  Returns
// the channel configuration: 0 when the file stands alone (members and
// name emptied), 1 split stereo, 11 numbered set, otherwise the "cc" of the
// surround row that matched.  Never throws.
SInt32 GroupSplitFiles(const std::string& path, OSType type, std::vector<std::string>* members,
                       std::string* setName);

// The compiled indicator patterns of one kind of set (opaque; made by
// MakeIndicatorPatterns, shared by the grouping's cached surround rows).
class IndicatorPatterns;
using IndicatorPatternsPtr = std::shared_ptr<const IndicatorPatterns>;
// Patterns that accept exactly the given suffixes (case-insensitively).
IndicatorPatternsPtr MakeIndicatorPatterns(const std::vector<std::string>& suffixes);

// Finds the partners of `path` for one kind of set: the indicator at the end
// of the name (from the last occurrence of the first suffix's first
// character up to a readable extension, or to the end of the name) must be
// one of `patterns`; then the file for every suffix, in order, must exist
// and be of `type`.  True with `members` in suffix order; false (members
// emptied) otherwise.
bool DetectPartnerFile(const std::string& path, OSType type, const IndicatorPatterns& patterns,
                       const std::vector<std::string>& suffixes, std::vector<std::string>* members);

// Numbered sets: `numberPos` is the position in `path` of the file's own
// number (`numberLength` 1 or 2 decimal digits, no leading zero, 1 to 16)
// that follows the last '.' before a readable extension.  Collects Name.1,
// Name.2 ... up to the first number that is missing or of another type
// (at most 16).  True when that gives more than one member and the file's
// own number lies among them.
bool DetectNumberedPartner(const std::string& path, OSType type, std::size_t numberPos,
                           std::vector<std::string>* members, std::size_t numberLength = 1);

// The file name of `name` (a path or a name) without a readable extension
// and without a trailing set indicator: the part from the last '.' on is
// removed only when it is, as a whole and ignoring case, a member suffix of
// a set (the dot indicators of "surround.zudb", ".1"/".2") or a set number
// (.1 to .16).  "Mix.L.wav" -> "Mix", "Take.3" -> "Take", but
// "Mix.Left.wav", "Song.2024.wav" and "Verse-Lead.aif" keep their stems.
std::string surround_base_name(const std::string& name);

// The rows of "surround.zudb" as the grouping uses them (loaded on first
// use): the "indicators" split at "|", the "cc" value and the "name".
struct SurroundSetRow {
    std::string name;
    SInt32 configuration = 0;
    std::vector<std::string> indicators;
};
std::vector<SurroundSetRow> GetSurroundSetRows();
