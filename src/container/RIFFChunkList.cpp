#include "RIFFChunkList.h"

#include "riff_chunks.h"

OSErr RIFFChunkList::Walk(ChunkSource& source)
{
    m_source = &source;
    m_chunks.clear();
    m_containerID = 0;
    m_formType = 0;
    m_containerEnd = 0;
    ChunkReader reader(source, riff_chunks::WalkOptions());
    OSErr err = reader.ReadHeader();
    if (err != noErr)
        return err;
    m_containerID = reader.ContainerID();
    m_formType = reader.FormType();
    m_containerEnd = reader.ContainerEnd();
    err = reader.ForEach([this](const ChunkInfo& info) {
        m_chunks.push_back(info);
        return true;
    });
    // The chunk limit (-22004 in this family) ends the list like the end
    // of the chunks.
    return err == kChunkNotFoundErr ? noErr : err;
}

OSErr RIFFChunkList::Find(FourCharCode id, ChunkInfo* info, UInt32 occurrence) const
{
    UInt32 seen = 0;
    for (const ChunkInfo& chunk : m_chunks) {
        if (chunk.id == id && ++seen >= occurrence) {
            *info = chunk;
            return noErr;
        }
    }
    return kChunkNotFoundErr;
}

bool RIFFChunkList::Has(FourCharCode id) const
{
    ChunkInfo info;
    return Find(id, &info) == noErr;
}

OSErr RIFFChunkList::ReadBody(const ChunkInfo& info, ChunkView* view, SInt64 maxBytes, OSErr overrunErr) const
{
    if (!m_source)
        return kFileNotOpenedErr;
    ChunkReader reader(*m_source, riff_chunks::WalkOptions());
    return reader.ReadBody(info, view, maxBytes, overrunErr);
}

OSErr RIFFChunkList::ReadFirst(FourCharCode id, ChunkView* view, SInt64 maxBytes) const
{
    ChunkInfo info;
    const OSErr err = Find(id, &info);
    return err ? err : ReadBody(info, view, maxBytes);
}
