#include "CTypedSoundFile.h"

CTypedSoundFile::CTypedSoundFile(OSType fileType, const char* formatName)
    : m_fileType(fileType), m_formatName(formatName)
{
}

OSType CTypedSoundFile::GetFileType() const
{
    return m_fileType;
}

QString CTypedSoundFile::GetFormatName() const
{
    return QString::fromUtf8(m_formatName);
}
