// Type detection on damaged headers: every step (NeXT, AIFF, AIFF-C, RIFF,
// Creative Voice, Paris magics, the built-in chunk and block walks and the
// channel probes of the grouping) answers with a code, never a crash.
#include "CreateSoundFile.h"
#include "FuzzTarget.h"
#include "TestTempDir.h"

#include <cstring>
#include <fstream>

namespace {

// The input as a file in a scratch folder of this target's own, removed
// when the program ends.
std::string WriteInput(const uint8_t* data, size_t size)
{
    static TestTempDir folder;
    const std::string path = folder.file("input.bin");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

std::string Text(const char* bytes, std::size_t size) { return std::string(bytes, size); }

void PutBE32(std::string& s, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(char((v >> shift) & 0xFF));
}

void PutLE32(std::string& s, uint32_t v)
{
    for (int shift = 0; shift <= 24; shift += 8)
        s.push_back(char((v >> shift) & 0xFF));
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    std::vector<std::string> seeds;
    std::string wave = "RIFF";
    PutLE32(wave, 48);
    wave += "WAVEJUNK";
    PutLE32(wave, 1);
    wave += Text("\0\0", 2);
    wave += "fmt ";
    PutLE32(wave, 16);
    wave += Text("\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00", 16);
    wave += "bext";
    PutLE32(wave, 0);
    seeds.push_back(wave);

    std::string aifc = "FORM";
    PutBE32(aifc, 60);
    aifc += "AIFCAPPL";
    PutBE32(aifc, 4);
    aifc += "SSYSCOMM";
    PutBE32(aifc, 24);
    aifc += Text("\x00\x01\x00\x00\x00\x04\x00\x10\x40\x0e\xac\x44\x00\x00\x00\x00\x00\x00", 18);
    aifc += "ima4";
    aifc += Text("\x00\x00", 2);
    seeds.push_back(aifc);

    std::string next = ".snd";
    for (uint32_t v : {24u, 8u, 27u, 8000u, 1u})
        PutBE32(next, v);
    seeds.push_back(next);

    std::string voc = "Creative Voice File";
    voc += Text("\x1a\x1a\x00\x0a\x01\x29\x11", 7);
    voc += Text("\x08\x04\x00\x00\x00\x00\x00\x00\x01\x04\x00\x00\x80\x80\x80\x80\x00", 17);
    seeds.push_back(voc);

    std::string paris = "fap ";
    paris += std::string(16, '\0');
    PutLE32(paris, 1);
    PutLE32(paris, 5);
    seeds.push_back(paris);
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = WriteInput(data, size);
    OSType type = 0;
    SInt32 recognized = 0;
    SInt32 configuration = 0;
    std::vector<std::string> members;
    std::string name;
    (void)DetectFileType(path, &type, &recognized, &members, &name, &configuration, true);
    return 0;
}
