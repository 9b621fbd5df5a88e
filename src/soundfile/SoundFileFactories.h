// The factory functions the sound-file registry keeps, one per class:
// MakeSoundFile<CWAVEFile> makes a CWAVEFile.  The NoThrow form gives null
// when memory runs out (the registry then reports the type as unusable).
#pragma once

#include "CSoundFile.h"

#include <new>

template <typename T> CSoundFile* MakeSoundFile()
{
    return new T();
}

template <typename T> CSoundFile* MakeSoundFileNoThrow()
{
    return new (std::nothrow) T();
}
