// A sound-file type as its format library registers it, in one record: the
// code, the class that makes its objects, how type detection recognises its
// files (the sniffer and its priority) and counts their channels (the
// header probe), and whether its mono files may be members of split and
// surround sets.  Each format defines its record beside its class; its
// library's registration function hands the records to RegisterSoundFileType.
//
// What a file of the type can hold, its name, its place in the type list and
// the rules of a conversion to it are the type's entry of the file-type
// dictionary (resources/SoundFileProperties/<code>.plist), which the layers
// above read as data (OutputCapabilities, TypeSettingRules) without
// reaching the format libraries.
#pragma once

#include "MacTypes.h"
#include "SoundFileRegistry.h"

struct SoundFileTypeDescriptor {
    OSType type = 0;
    SoundFileFactory factory = nullptr;
    // Recognises the type's files by their first bytes (null: detection
    // finds them by name or catalogue type); a format refining another's
    // files asks first, with a higher priority.
    HeaderSniffer sniffer = nullptr;
    int sniffPriority = 0;
    HeaderProbe probe = nullptr;  // the channel count of a file of the type
    bool setMember = false;
};

// Registers the record's factory, sniffer, probe and set membership with
// the sound-file registries (SoundFileRegistry.h).  Registering a type again
// replaces what it registered before.
void RegisterSoundFileType(const SoundFileTypeDescriptor& descriptor);
