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
