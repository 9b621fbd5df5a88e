// CSonicSplitFile: a split stereo set of two mono Sonic AIFF files named
// with the suffixes .1 and .2 ('SpSc', "Sonic Split File").
//
// Naming an output: when a file already exists under the given name, the
// set goes into a folder named after the current input's long name
// (its OutputContext's long name) inside the conversion's output folder
// (the context's output folder), and a trailing "_n" is dropped from
// the name; otherwise the pair numbering starts again at .1 and .2.  The
// set's path is its first member's path.
#pragma once

#include "CSplitFile.h"
#include "SoundFileTypeDescriptor.h"

constexpr OSType kSonicSplitFileType = FOUR_CHAR_CODE("SpSc");

class CSonicSplitFile : public CSplitFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CSonicSplitFile();
    ~CSonicSplitFile() override;

    using CSplitFile::SetFile;
    OSErr SetFile(const FSSpec* spec) override;
    OSType GetFileType() const override;
    QString GetFormatName() const override;
};
