// CTypedSoundFile: a sound file whose type code and format name are given
// to its constructor, for the format classes that serve several types with
// one class (the linear-PCM containers, the headerless telephony and G.726
// streams).  A subclass may still answer its own name (a name that depends
// on the file read).
#pragma once

#include "CSoundFile.h"

class CTypedSoundFile : public CSoundFile {
public:
    OSType GetFileType() const override;
    QString GetFormatName() const override;

protected:
    CTypedSoundFile() = default;
    // `formatName` is UTF-8 text with static storage.
    CTypedSoundFile(OSType fileType, const char* formatName);

private:
    OSType m_fileType = 0;
    const char* m_formatName = "";
};
