// The movie layer's export: converts a file the layer reads (the linear
// intermediate of a movie output) into a movie or sound file of another
// compression through the media libraries' encoders and muxers.  It stands
// in for an export component configured from stored settings, converting a
// movie to a file with a progress procedure.
//
// The output path must name a file of the caller's (made exclusively
// beforehand): it is truncated and written; on any failure, the cancel
// included, what was written stays for the caller to remove.
//
// Error codes: the progress procedure's non-zero result (-128 after a
// cancel) ends the export with that code; a compression or container the
// libraries cannot write gives kUnsupportedCompressionErr; reading the
// source gives the movie layer's codes; other failures map to I/O codes.
// Never 0 on failure.  No exception leaves this class.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <functional>
#include <string>

// What an export writes: the stored settings of a type, completed by the
// output's class with its compression, rate, channels and sample size.
struct MovieExportSettings {
    // The muxer: "mov" (QuickTime movie), "ipod" (MPEG-4 audio, .m4a),
    // "aiff" (AIFF-C when compressed).
    std::string container;
    // The sound compression: the media_codes data formats, 'raw ' (8-bit offset
    // binary, or 16-bit signed), 'twos', 'in24', 'in32', 'fl32', 'fl64'
    // (big-endian unless littleEndian), 'aac ' (AAC low complexity).
    OSType compression = 0;
    bool littleEndian = false;
    UInt16 sampleSize = 16;
    double sampleRate = 0;   // must match the source's rate
    UInt16 channels = 0;     // must match the source's channel count
    UInt32 bitRate = 0;      // bit/s of a coded compression ('aac ')
};

class MovieExporter {
public:
    // Called with the fraction done (0 to 1) as the export goes on; a
    // non-zero result stops it with that code.
    using ProgressProc = std::function<OSErr(double fraction)>;

    // True when the libraries hold an encoder for the compression.
    static bool CanEncode(OSType compression, UInt16 sampleSize, bool littleEndian);

    // Exports every frame of `sourcePath` into `outputPath`.
    static OSErr ConvertMovieToFile(const std::string& sourcePath, const std::string& outputPath,
                                    const MovieExportSettings& settings, const ProgressProc& progress);
};
