// Making a CSoundFile from a four-character type code, and the per-type
// properties behind it: the file-type dictionary (one property list per
// type in the resources folder "SoundFileProperties") and the readable
// extensions that type detection and name handling use.
//
// The tables are built on first use under a lock, on whichever thread asks
// first, and live until ReleaseSoundFileGlobals.
//
// A property list (resources/SoundFileProperties/<code>.plist, the code's
// characters other than letters, digits and '-' written as '_') holds:
//   "typeCode"      the four characters of the type code (the entry's key)
//   "text"          display name          "extension"   output name extension
//   "extensions"    readable extensions   "fileType", "creator"  HFS codes
//   "canBeRead", "canBeWritten", "forceSampleRate", "forceWordSize",
//   "forceChannels", "optionsButtonEnabled", "specificsMustBeValid" (booleans)
//   "sampleRateMin", "sampleRateMax", "sampleRateDefault" (Hz), optional
//   "discreteSampleRates" (array of Hz)
//   "numBitsPopup", "channelHandlingPopup" (arrays of {"text", "tag"}) with
//   "numBitsPopupDefault", "channelHandlingPopupDefault" (item indexes)
//   "numBitsCheckBoxTitle", "optionsButtonTitle" (texts)
//   "storedBitsPerSample"  the bits every sample takes in the file whatever
//                          the word length read (the file list shows it)
//   "engineOnly"           true for a type the engine makes for its own work
//                          (a snippet, a temporary file), which no user
//                          reads or writes
//   "otherWordLengthsType" the type a conversion that keeps this type
//                          writes when it asks for a word length this
//                          type does not take (numBitsPopup): the float
//                          WAVE's linear WAVE
//   "specificsKeys"        the keys of a conversion's specifics that the
//                          type's writer reads (its options), beside the
//                          settings block "oldData" every type has
// and, for the types whose mono files may be members of split and surround
// sets (SplitFileGrouping.h, CSplitFile, CSetFile):
//   "splitStereoSuffixes"  the name endings of the left and right member of
//                          a split stereo pair of the type's files ("-L",
//                          "-R"): such pairs are grouped, and named so
//   "multichannelSets"     true: its files group into numbered and surround
//                          sets
//   "memberRegionSuffix"   the ending a member's region names carry, which
//                          a set of such members leaves out
//   "splitStereoSetType"   the type that a split stereo pair of its files is
//                          written as (a set type of its own)
// Files whose root is not a dictionary or that lack a valid "typeCode" are
// skipped.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <istream>
#include <string>
#include <vector>

class CSoundFile;

// The key of a type in the file-type dictionary: the four characters
// between single quotes ("'abcd'").  HFSTypeCodeFromFileType reads that form
// and also the bare four characters ("abcd", as the property lists store
// "fileType" and "creator"); 0 for anything else.
QString FileTypeForHFSTypeCode(OSType type);
OSType HFSTypeCodeFromFileType(const QString& fileType);

// The file-type dictionary: "'abcd'" -> the type's properties as its
// property list holds them, plus "classID" (the key itself).  Property
// lists that cannot be read are skipped.
QVariantMap LoadSoundFileProperties();
// One type's properties; empty when the type has no entry.
QVariantMap GetSoundFileProperties(OSType type);
// Stores one property of a type in the shared dictionary (the application
// marks a type writable or not at start-up); false when the type has no
// entry.
bool SetSoundFileProperty(OSType type, const QString& key, const QVariant& value);

// A new, unopened object of the type, owned by the caller, or null when the
// type has no entry in the file-type dictionary or no registered factory.
// 'Splt' makes a split file of Sound Designer II members, 'Srnd' a surround
// file of Broadcast Wave members (through the set-file factories).
CSoundFile* CreateSoundFileObject(OSType type);
// The same for set files whose members have `memberType`: 'Splt' with
// members whose type gives a "splitStereoSetType" makes a file of that
// type; 'Splt' and 'Srnd' with other members a split or surround file of
// those members; any other type as CreateSoundFileObject(type).
CSoundFile* CreateSoundFileObject(OSType type, OSType memberType);

// Whether objects of the type encode their data when closed / decode the
// whole input when opened (false when no object can be made).
bool TypeNeedsEncodingOnClose(OSType type);
bool TypeNeedsDecodingOnOpen(OSType type);

// The lower-case extensions that can be read: those the platform's audio
// file service reads (SetPlatformReadableExtensions), those of readable
// property lists, and a few more the movie layer reads; never "wma"/"wmv".
QSet<QString> GetReadableTypes();
// The type keys (as FileTypeForHFSTypeCode writes them) for a lower-case extension;
// an empty list when the extension maps to nothing (as "aif", "aiff",
// "aifc" and "wav", which are typed by their headers).
QStringList GetTypesForExtension(const QString& extension);
// The readable extensions as a sorted list.
QStringList GetReadableExtensionSet();
// The last component of `path` without its extension when that extension is
// readable; otherwise the whole last component.
QString GetExtension(const QString& path);

// The extensions that the platform's audio file service reads (the movie
// layer sets them when it is registered).  Rebuilds the readable tables on
// the next ask.
void SetPlatformReadableExtensions(const QStringList& extensions);

// Drops the file-type dictionary, the readable tables and the raw-file
// settings (they are built again if asked for afterwards).
void ReleaseSoundFileGlobals();

// ============================================================ type detection
// Which type code an input file gets, before any CSoundFile exists for it.
// It looks, in this order, at the file's HFS type (Finder information from
// its sidecar), at the start of its data through the header sniffers the
// formats register (SoundFileRegistry.h), at its name extension
// (GetTypesForExtension) and finally at the raw-file settings.  Set members
// are grouped for the types registered as set members, with the channel
// count their header probe gives.
//
// Codes it gives besides platform codes (permErr for a file that may not be
// read) and the sniffers' own codes: kUnknownFileFormatErr ("has unknown
// file format").
//
// path: POSIX path, UTF-8.
// type: the detected code; written only on success (the caller reads it
//   only when the result is 0).
// recognized (may be null): 1 when the header or the extension identified
//   the file, 0 when only the HFS type of a movie or the raw-file settings did
//   (or nothing did).
// setMembers, setName (may be null; not touched when `group` is false):
//   the member paths (names as stored on disk, in channel order, the file
//   itself among them) and the set's name ("Split stereo", "Split
//   Multichannel" or a surround set name) when the file is a mono member of
//   a split or surround set; emptied otherwise.
// channelConfiguration (may be null): 11 (multichannel) after a successful
//   detection; with `group` and a mono file of a type that can form sets,
//   the grouping's answer (0 mono when the file stands alone, 1 a split
//   stereo pair, 11 a numbered set, else the surround set's configuration).
// group: look for split and surround partners (GroupSplitFiles).
//
// A folder is no sound file: -22008 with the recognised flag cleared.
// Never throws: a partner that cannot be detected counts as missing.
OSErr DetectFileType(const std::string& path, OSType* type, SInt32* recognized,
                     std::vector<std::string>* setMembers, std::string* setName,
                     SInt32* channelConfiguration, bool group);
// The short form: grouping off.
OSErr DetectFileType(const std::string& path, OSType* type, SInt32* recognized = nullptr);
// The type the file's header or extension gives, without its Finder
// information (no HFS type, no creator) and without the raw-file settings:
// what a file tells of itself.  -22008 when neither tells.
OSErr DetectFileTypeFromContents(const std::string& path, OSType* type);

// Whether a file's resource fork holds the three Sound Designer II string
// resources (1000 sample size, 1001 sample rate, 1002 channels): 0 when it
// does, -22008 when they are absent (resource missing, empty fork, unreadable
// map), any other code as it came (errFSForkNotFound without a fork).
OSErr CheckSDIIResources(const std::string& path);
