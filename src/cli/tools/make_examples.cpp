// quillmarch-make-examples FOLDER: writes a few small example inputs for the
// batch command into FOLDER (made when missing): AIFF and WAVE files of
// different shapes, with markers and regions, written through the
// program's own format classes.  Existing files are never replaced: a name
// that is taken makes the tool fail.
#include "CAIFFFile.h"
#include "CWAVEFile.h"
#include "FileOperations.h"
#include "PCMFileTypes.h"
#include "SoundFileRecords.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct Mark {
    UInt32 frame;
    const char* name;
};

struct Region {
    UInt32 start;
    UInt32 end;
    const char* name;
};

void SetPascal(Str31 target, const char* text)
{
    const size_t length = std::min<size_t>(std::strlen(text), 31);
    target[0] = UInt8(length);
    std::memcpy(target + 1, text, length);
}

// A chord of `tones` (Hz) that swells and fades, a different mix per channel.
std::vector<double> Chord(UInt16 channels, double rate, double seconds, const std::vector<double>& tones)
{
    const UInt32 frames = UInt32(rate * seconds);
    std::vector<double> samples(size_t(frames) * channels);
    for (UInt32 f = 0; f < frames; ++f) {
        const double t = f / rate;
        const double envelope = std::sin(std::numbers::pi * t / seconds);
        for (UInt16 c = 0; c < channels; ++c) {
            double v = 0;
            for (size_t k = 0; k < tones.size(); ++k) {
                const double pan = channels == 1 ? 1.0 : (((k + c) % channels) == 0 ? 0.8 : 0.4);
                v += pan * std::sin(2 * std::numbers::pi * tones[k] * t);
            }
            samples[size_t(f) * channels + c] = 0.7 * envelope * v / double(tones.size());
        }
    }
    return samples;
}

// Writes one file through `file`; `stem` is the path without extension.
template <typename File>
bool Write(const std::string& stem, const char* extension, UInt16 channels, SInt16 bits, double rate,
           double seconds, const std::vector<double>& tones, const std::vector<Mark>& marks,
           const std::vector<Region>& regions)
{
    File file;
    UInt8 ext[8] = {0};
    ext[0] = UInt8(std::strlen(extension));
    std::memcpy(ext + 1, extension, ext[0]);
    OSErr err = file.SetFile(stem);
    if (err == noErr)
        err = file.Create(channels, bits, 0, nullptr, ext, float(rate));
    if (err != noErr) {
        std::fprintf(stderr, "quillmarch-make-examples: cannot create %s.%s (error %d)\n", stem.c_str(),
                     extension, int(err));
        return false;
    }
    std::vector<double> samples = Chord(channels, rate, seconds, tones);
    UInt32 count = UInt32(samples.size() / channels);
    err = file.WriteFrames(0, &count, samples.data());
    SInt32 id = 1;
    for (const Mark& m : marks) {
        SFTMarker marker;
        marker.markerID = id++;
        marker.pos = m.frame;
        SetPascal(marker.name, m.name);
        if (err == noErr)
            err = file.AddMarker(&marker);
    }
    for (const Region& r : regions) {
        SFTRegion region;
        region.regionID = id++;
        region.start = r.start;
        region.end = r.end;
        region.syncFrame = r.start;
        SetPascal(region.name, r.name);
        if (err == noErr)
            err = file.AddRegion(&region);
    }
    const OSErr closed = file.Close();
    if (err == noErr)
        err = closed;
    if (err != noErr) {
        std::fprintf(stderr, "quillmarch-make-examples: cannot write %s (error %d)\n", file.GetPath().c_str(),
                     int(err));
        return false;
    }
    std::printf("%s\n", file.GetPath().c_str());
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: quillmarch-make-examples FOLDER\n");
        return 64;
    }
    RegisterPCMFileTypes();
    const std::string folder = AbsolutePath(argv[1]);
    const std::string sub = folder + "/more takes";
    if (CreateFolderPath(sub) != noErr) {
        std::fprintf(stderr, "quillmarch-make-examples: cannot make the folder %s\n", sub.c_str());
        return 1;
    }
    bool ok = true;
    ok = ok && Write<CAIFFFile>(folder + "/Chord stereo", "aif", 2, 16, 44100.0, 4.0, {220.0, 277.18, 329.63},
                                {{44100, "Verse"}, {132300, "Chorus"}},
                                {{0, 88200, "Intro"}, {88200, 176400, "Outro"}});
    ok = ok && Write<CWAVEFile>(folder + "/Bell mono", "wav", 1, 24, 44100.0, 3.0, {440.0, 1108.73},
                                {{22050, "Strike"}}, {{11025, 55125, "Ring"}, {66150, 121275, "Decay"}});
    ok = ok && Write<CAIFFFile>(folder + "/more takes/Pad take 1", "aif", 2, 24, 44100.0, 2.0,
                                {130.81, 196.0, 261.63}, {{44100, "Middle"}}, {{0, 44100, "First half"}});
    ok = ok && Write<CWAVEFile>(folder + "/more takes/Pad take 2", "wav", 2, 16, 44100.0, 2.0,
                                {146.83, 220.0, 293.66}, {}, {{22050, 66150, "Take"}});
    return ok ? 0 : 1;
}
