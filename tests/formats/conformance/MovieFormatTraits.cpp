// The media-layer family (qm_formats_movie) in the conformance suite.
#include "FormatTraits.h"

namespace {

std::vector<FormatTraits> MovieFormats()
{
    std::vector<FormatTraits> all;

    // Core Audio Format: big-endian linear PCM with its 'data' size set on
    // close, read through the media layer.
    FormatTraits caf;
    caf.name = "CAF";
    caf.type = FOUR_CHAR_CODE("caff");
    caf.detectedAs = FOUR_CHAR_CODE("MooV");  // inputs are read as movies
    caf.formatName = "Core Audio File (CAF)";
    caf.shapes = {{1, 16, 44100}, {2, 8, 22050}, {2, 24, 48000}, {1, 32, 96000}, {6, 16, 48000}};
    caf.sndfileReads = caf.ffmpegReads = true;
    caf.soxReadOptions = {"-t", "caf"};
    caf.sndfileExtension = "caf";
    caf.soxWrites = {{1, 16, 44100}, {2, 24, 48000}};
    caf.ffmpegWrites = {{{2, 16, 22050}, {"-c:a", "pcm_s16be", "-f", "caf"}},
        {{1, 24, 8000}, {"-c:a", "pcm_s24le", "-f", "caf"}}};
    caf.refusedShapes = {{{0, 16, 44100}, paramErr}, {{1, 12, 44100}, paramErr}};
    all.push_back(caf);
    return all;
}

}  // namespace

QM_INSTANTIATE_FORMAT_CONFORMANCE(Movie, MovieFormats());
