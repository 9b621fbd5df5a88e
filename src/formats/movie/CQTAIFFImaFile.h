// 'A1t4' ("AIFC IMA 4:1"): AIFF-C files with IMA 4:1 ADPCM.  Read through the
// movie layer like any movie input, plus the file's AIFF markers; written by
// exporting the 16-bit intermediate into an AIFF-C file with 'ima4'
// compression, then, only when the export succeeded, adding the output's
// markers as a 'MARK' chunk inside the FORM chunk (the FORM size follows).
//
// Marker names: "#", a decimal number, a space and a text mark a numbered
// marker (type 1, that number, the text as its name); other names give
// type 2 and number -1.  Written numbered markers are renumbered 1, 2, ...
//
// Reading markers never fails the open: a malformed chunk (a count that the
// chunk cannot hold, a name past its end) leaves the markers unread.
#pragma once

#include "CQTMovieFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CQTAIFFImaFile : public CQTMovieFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CQTAIFFImaFile();

    OSErr ReadMarkers() override;
    OSErr GetExportSettings(MovieExportSettings* settings) override;
    OSType GetExportCompression() const override;
    // Writes the markers (after the export).
    OSErr FinishExport() override;

    // The 'MARK' chunk of `markers` (empty when there are none).
    static std::vector<UInt8> BuildMarkerChunk(const std::vector<SFTMarker>& markers);
    // The markers of a 'MARK' chunk's body (after its size field); false
    // when the body cannot hold what its count says.
    static bool ParseMarkerChunk(const UInt8* body, std::size_t size, std::vector<SFTMarker>* markers);
    // Appends `chunk` at the end of the FORM chunk of the AIFF file at
    // `path` (which must end there) and updates the FORM size.
    static OSErr AppendChunkToForm(const std::string& path, const std::vector<UInt8>& chunk);
};
