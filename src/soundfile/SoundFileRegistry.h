// The registries through which the sound-file core reaches the format
// classes without depending on them: one factory per type code, the
// factories of the set files ('Splt', 'Srnd'), and the header probes that
// type detection asks.  Each format library fills them from an explicit
// registration function (for example RegisterPCMFileTypes()); the
// conversion layer's file-type table calls the same factories.
//
// Registering replaces an earlier entry for the same code; registering a
// null function removes it.  The registries
// are safe to use from any thread; register before the worker threads run.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <istream>
#include <utility>
#include <vector>

class CSoundFile;

// ------------------------------------------------------------ factories
// Makes a new, unopened object of one format class, owned by the caller.
using SoundFileFactory = CSoundFile* (*)();
// Makes a set file ('Splt', 'Srnd') whose member files have `memberType`.
using SetFileFactory = CSoundFile* (*)(OSType memberType);

void RegisterSoundFileFactory(OSType type, SoundFileFactory factory);
// Null when no factory is registered for the code.
SoundFileFactory GetSoundFileFactory(OSType type);
// Removes the factory of `type` (nothing when there is none).
void UnregisterSoundFileFactory(OSType type);
// The codes that have a factory, in ascending order.
std::vector<OSType> GetRegisteredSoundFileTypes();

void RegisterSetFileFactory(OSType setType, SetFileFactory factory);
SetFileFactory GetSetFileFactory(OSType setType);
void UnregisterSetFileFactory(OSType setType);

// ---------------------------------------------------------- header probes
// A format's look at a file's header, given its POSIX path: the channel
// count (> 0) when the file is of the format, 0 when it is not, a negative
// error code when it cannot tell (unreadable, malformed).  Never throws.
using HeaderProbe = SInt32 (*)(const QString& path);

// A format's chunk or block search on an open input stream (FindAIFFChunk,
// FindRIFFChunk, FindVOCBlock): given the chunk identifier (or block type)
// and the occurrence counted from 1, returns 0 and leaves the stream just
// past the identifier, or an error code (-22004 "Chunk not in file").
using ChunkFinder = OSErr (*)(std::istream& stream, OSType chunkID, UInt32 occurrence);

void RegisterHeaderProbe(OSType type, HeaderProbe probe);
HeaderProbe GetHeaderProbe(OSType type);
// Every registered probe, in order of registration.
std::vector<std::pair<OSType, HeaderProbe>> GetHeaderProbes();

// Chunk finders are registered per container family: 'FORM' (IFF/AIFF),
// 'RIFF' (WAVE) and 'VOC ' (Creative Voice).
void RegisterChunkFinder(OSType family, ChunkFinder finder);
ChunkFinder GetChunkFinder(OSType family);

// ------------------------------------------------------- header sniffers
// A format's look at the start of a file during type detection: `header`
// holds the file's first 24 bytes, `in` reads the whole file (it stands
// after those bytes), `creator` is the HFS creator of its Finder
// information (0 without).  noErr with *type set when the file is of the
// format; kUnknownFileFormatErr (-22008) when it is not; any other code
// ends the detection with that code (the format's file, unreadable).
using HeaderSniffer = OSErr (*)(const UInt8* header, std::istream& in, OSType creator, OSType* type);

// Type detection asks the sniffers by falling priority, then in order of
// registration; the first that answers other than -22008 decides.  A
// format that refines another's files (Sonic and Dawn AIFF) registers with
// a higher priority.  Registering again for `type` replaces its sniffer;
// a null sniffer removes it.
void RegisterHeaderSniffer(OSType type, HeaderSniffer sniffer, int priority = 0);
std::vector<HeaderSniffer> GetHeaderSniffers();

// The types whose mono files may be members of split and surround sets
// (type detection groups them with their partners; the channel count comes
// from the type's header probe).
void RegisterSetMemberType(OSType type);
bool IsSetMemberType(OSType type);

// Forgets every factory, probe, sniffer and finder (tests).
void ClearSoundFileRegistries();
