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
// Files whose root is not a dictionary or that lack a valid "typeCode" are
// skipped.
#pragma once

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
// between single quotes ("'AIFF'").  HFSTypeCodeFromFileType reads that form
// and also the bare four characters ("AIFF", as the property lists store
// "fileType" and "creator"); 0 for anything else.
QString FileTypeForHFSTypeCode(OSType type);
OSType HFSTypeCodeFromFileType(const QString& fileType);

// The file-type dictionary: "'AIFF'" -> the type's properties as its
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
// 'SAIF' members, and 'SpSc', make a Sonic split file; 'Splt' and 'Srnd'
// with other members a split or surround file of those members; any other
// type as CreateSoundFileObject(type).
CSoundFile* CreateSoundFileObject(OSType type, OSType memberType);

// Whether objects of the type encode their data when closed / decode the
// whole input when opened (false when no object can be made).
bool TypeNeedsEncodingOnClose(OSType type);
bool TypeNeedsDecodingOnOpen(OSType type);

// The lower-case extensions that can be read: those the platform's audio
// file service reads (SetPlatformReadableExtensions), those of readable
// property lists, and a few more the movie layer reads; never "wma"/"wmv".
QSet<QString> GetReadableTypes();
// The type keys ("'MooV'", "'Mp3 '", "'WAVE'") for a lower-case extension;
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
// its sidecar), at the first 24 bytes of its data with a few chunk checks
// behind them, at its name extension (GetTypesForExtension) and finally at
// the raw-file settings.  The format libraries take part through the
// registries of SoundFileRegistry.h: the chunk finders 'FORM', 'RIFF' and
// 'VOC ' and the channel-count probes of 'WAVE', 'AIFF', ' paf' and 'Sd2f'
// (Creative Voice, Paris and Sound Designer II have built-in stand-ins used
// while their formats are not registered).
//
// Codes it gives besides platform codes:
constexpr OSErr kUnknownFileFormatErr = -22008;     // "has unknown file format"
constexpr OSErr kNeXTUnsupportedDataErr = -22600;   // "has unsupported data (NeXT)"
//   -22004 "Chunk not in file" / -22009 "has corrupt chunksize" when a RIFF or
//   AIFF-C header lacks its "fmt " / "COMM" chunk or the walk meets a bad size.
//
// path: POSIX path, UTF-8.
// type: the detected code; written only on success (the caller reads it
//   only when the result is 0).
// recognized (may be null): 1 when the header or the extension identified
//   the file, 0 when only the HFS type 'MooV' or the raw-file settings did
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

// Whether a file's resource fork holds the three Sound Designer II string
// resources (1000 sample size, 1001 sample rate, 1002 channels): 0 when it
// does, -22008 when they are absent (resource missing, empty fork, unreadable
// map), any other code as it came (errFSForkNotFound without a fork).
OSErr CheckSDIIResources(const std::string& path);

// The detection steps on an open stream, exposed for tests:
// RIFF/WAVE: `header` is the file's first 24 bytes, the stream stands after
// them.  'BWLN' (with a "bext" chunk) or 'WAVE' for tag 1 and 0xFFFE,
// 'MSAP' 2, 'WVfl' 3, 'WVal' 6, 'WVau' 7, 'G729' 0x42 and 0x83; -22008 for other
// tags; the chunk search's code when there is no "fmt " chunk.
OSErr ProbeRIFFType(OSType* type, std::istream& in, const UInt8 header[24]);
// AIFF-C by compression type: 'AIFC' for the linear ones (NONE none sowt
// in24 in32 fl32 42ni 23ni 23lf able), 'A1t4' for ima4, 'MooV' otherwise.
OSErr ProbeAIFCType(OSType* type, std::istream& in);
// An AIFF whose first "APPL" chunk has the signature "SSYS".
bool IsSonicAIFF(std::istream& in);
// Whether a Creative Voice stream has a block of `blockType` (the
// registered 'VOC ' finder, or the built-in walk): 0 or -22004.
OSErr FindVOCBlockInStream(std::istream& in, UInt8 blockType);
