#include "CSonicSplitFile.h"

#include "CSonicAIFFFile.h"
#include "FileManager.h"
#include "SoundFileFactories.h"
#include "ZuFiles.h"

#include <QString>
#include <QVariant>

CSonicSplitFile::CSonicSplitFile() : CSplitFile(kSonicAIFFFileType) {}

CSonicSplitFile::~CSonicSplitFile() = default;

OSType CSonicSplitFile::GetFileType() const { return kSonicSplitFileType; }
QString CSonicSplitFile::GetFormatName() const { return QStringLiteral("Sonic Split File"); }

OSErr CSonicSplitFile::SetFile(const FSSpec* spec)
{
    if (!spec) {
        return paramErr;
    }
    FSSpec target = *spec;
    if (FSpExists(&target)) {
        const std::size_t n = target.name.size();
        if (n >= 2 && target.name[n - 2] == '_') {
            target.name.resize(n - 2);
        }
        const OutputContext& context = GetOutputContext();
        const QString& longName = context.longName;
        if (context.outputFolder && !longName.isEmpty()) {
            FSRef outputFolder = *context.outputFolder;
            FSSpec folderSpec;
            OSErr err = CreateDirectoryUnicode(&outputFolder, longName, nullptr, &folderSpec, nullptr);
            if (err == dupFNErr) {
                // The folder of an earlier output of the same input.
                std::string parentPath;
                err = FSRefMakePath(&outputFolder, &parentPath);
                if (err == noErr) {
                    err = FSMakeFSSpec(parentPath, longName.toStdString(), &folderSpec);
                }
            }
            if (err != noErr) {
                return err;
            }
            target.parent = FSSpecPath(folderSpec);
        }
    } else {
        SetSonicPairDigit(0);
    }
    const OSErr err = CSplitFile::SetFile(&target);
    if (err == noErr && m_first) {
        m_path = m_first->GetPath();
    }
    return err;
}

SoundFileTypeDescriptor CSonicSplitFile::Descriptor()
{
    return {.type = kSonicSplitFileType, .factory = &MakeSoundFile<CSonicSplitFile>};
}
