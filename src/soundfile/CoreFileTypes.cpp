#include "CoreFileTypes.h"

#include "CSnippetFile.h"
#include "SetFileTypes.h"
#include "SoundFileRegistry.h"

void RegisterCoreFileTypes()
{
    RegisterSoundFileFactory(kSnippetFileType, &CreateSnippetFileObject);
    RegisterSetFileTypes();
}
