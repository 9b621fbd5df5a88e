// The Microsoft ADPCM WAVE reader on damaged files: format chunks whose
// counts and sizes disagree, predictor indexes past the table, cue and
// associated-data lists that run past their chunks, short blocks.
#include "CMSADPCMFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"

#include <string>
#include <vector>

namespace {

void Put(std::string& s, UInt32 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}

std::string Chunk(const char* id, const std::string& body)
{
    std::string c(id, 4);
    Put(c, UInt32(body.size()), 4);
    c += body;
    if (body.size() & 1)
        c.push_back('\0');
    return c;
}

std::string Fmt(UInt16 channels, UInt16 blockAlign, UInt16 samplesPerBlock, UInt16 numCoef)
{
    std::string f;
    Put(f, 2, 2);
    Put(f, channels, 2);
    Put(f, 8000, 4);
    Put(f, 4096, 4);
    Put(f, blockAlign, 2);
    Put(f, 4, 2);
    Put(f, 32, 2);
    Put(f, samplesPerBlock, 2);
    Put(f, numCoef, 2);
    const int pairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
    for (int i = 0; i < 7; ++i) {
        Put(f, UInt32(pairs[i][0]), 2);
        Put(f, UInt32(pairs[i][1]), 2);
    }
    return f;
}

std::string Wave(const std::string& chunks)
{
    std::string w = "RIFF";
    Put(w, UInt32(chunks.size() + 4), 4);
    return w + "WAVE" + chunks;
}

std::string Fact(UInt32 frames)
{
    std::string f;
    Put(f, frames, 4);
    return Chunk("fact", f);
}

std::string Block(UInt8 predictor, std::size_t codes)
{
    std::string b(1, char(predictor));
    Put(b, 20, 2);
    Put(b, 100, 2);
    Put(b, UInt32(-50), 2);
    for (std::size_t i = 0; i < codes; ++i)
        b.push_back(char(0x17 + i));
    return b;
}

std::string Cues()
{
    std::string cue;
    Put(cue, 2, 4);
    for (UInt32 id = 0; id < 2; ++id) {
        Put(cue, id, 4);
        Put(cue, id * 10, 4);
        cue += "data";
        Put(cue, 0, 4);
        Put(cue, 0, 4);
        Put(cue, id * 10, 4);
    }
    std::string labl;
    Put(labl, 0, 4);
    labl += "mark";
    labl.push_back('\0');
    std::string ltxt;
    Put(ltxt, 1, 4);
    Put(ltxt, 20, 4);
    ltxt += "rgn ";
    Put(ltxt, 0, 4);
    Put(ltxt, 0, 4);
    return Chunk("cue ", cue) + Chunk("LIST", "adtl" + Chunk("labl", labl) + Chunk("ltxt", ltxt));
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {Wave(Chunk("fmt ", Fmt(1, 32, 52, 7)) + Fact(60) + Chunk("data", Block(1, 25) + Block(6, 10)) + Cues()),
            Wave(Chunk("fmt ", Fmt(2, 64, 52, 7)) + Fact(52) + Chunk("data", Block(0, 1) + Block(0, 49))),
            Wave(Chunk("fmt\r", Fmt(1, 32, 52, 7)) + Fact(99) + Chunk("data", Block(9, 25))),
            Wave(Chunk("fmt ", Fmt(1, 32, 52, 200)) + Fact(52) + Chunk("data", Block(1, 25))),
            // As a writer to a pipe leaves it: no 'fact', sizes unknown.
            "RIFF\xFF\xFF\xFF\xFFWAVE" + Chunk("fmt ", Fmt(2, 64, 52, 7)) + "data\xFF\xFF\xFF\xFF" + Block(0, 57) +
                Block(0, 30)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return soundfilefuzz::ReadAndProbe<CMSADPCMFile>(FuzzWriteInput(data, size, ".wav"));
}
