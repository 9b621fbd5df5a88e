// CEncodeOnCloseFile: the coded files of this folder that are encoded when
// they are closed (Dialogic ADPCM and its kin, G.72x, G.729, Microsoft
// ADPCM), on the shared rules of CIntermediateCodedFile.  What they add is
// their data fork: opened to read, made to write (with a sidecar for the
// type where neither header nor name tells it), read and written at exact
// positions, closed and removed through the file manager.  Their
// intermediate is a temporary AIFF file (format_type_codes::kTemp) beside the output, under a
// temporary name that ends in the format's tag.  Each subclass keeps its own reading of a
// finished file (ReadCodedBlock) and its format code.
#pragma once

#include "CIntermediateCodedFile.h"

#include <cstddef>

class CEncodeOnCloseFile : public CIntermediateCodedFile {
protected:
    // `tempTag`: the tag of the intermediate's name (a string that lives
    // as long as the file).
    explicit CEncodeOnCloseFile(const char* tempTag) : m_tempTag(tempTag) {}

    InnerLinearFile::Kind Intermediate() const override;
    OSErr CloseDataFile() override;
    void DeleteOutput() override;

    // Opens the data file to read (not writing from here on) and, unless
    // `eof` is null, gives its length.
    OSErr OpenToRead(SInt64* eof);
    // The data file of CreateDataFile, made exclusively (a sidecar with the
    // type unless `headerTellsType`), with the output's shape: 16-bit
    // samples of `sampleFormat`, no frames yet.
    OSErr CreateToWrite(bool headerTellsType, UInt16 channels, double rate, SInt16 sampleFormat);

    // Exact reads and writes of the data file at a position (eofErr for a
    // short read, ioErr for a short write).
    OSErr ReadAt(UInt64 position, void* bytes, std::size_t count);
    OSErr WriteAt(UInt64 position, const void* bytes, std::size_t count);

private:
    const char* m_tempTag;
};
