// The container rules' byte walks (Ogg pages, ASF header and packets,
// Matroska elements, MPEG-4 boxes and fragments, CAF chunks, FLAC
// metadata, raw frame headers and the MP3 Info frame) on damaged bytes,
// read from memory.
#include "AsfLengthRule.h"
#include "CafLengthRule.h"
#include "ContainerFuzzSeeds.h"
#include "FlacLengthRule.h"
#include "FuzzTarget.h"
#include "MatroskaLengthRule.h"
#include "Mp4LengthRule.h"
#include "OggLengthRule.h"
#include "PositionedFile.h"
#include "RawStreamLengthRule.h"

std::vector<std::string> FuzzSeeds()
{
    return containerseeds::All();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PositionedFile file(std::vector<uint8_t>(data, data + size));
    OggLengthRule::Pages pages;
    OggLengthRule::Walk(file, &pages);
    OggLengthRule::Pages second;
    OggLengthRule::Walk(file, &second, {OggLengthRule::Codec::Vorbis, 1});
    AsfLengthRule::Header header;
    if (AsfLengthRule::ReadHeader(file, &header)) {
        AsfLengthRule::Objects objects;
        AsfLengthRule::WalkPackets(file, header, 0, &objects);
    }
    MatroskaLengthRule::Layout layout;
    MatroskaLengthRule::Walk(file, &layout);
    Mp4LengthRule::CutBeforeMovieBox(file);
    Mp4LengthRule::BoxesWhole(file);
    Mp4LengthRule::Fragments fragments;
    Mp4LengthRule::WalkFragments(file, 1, &fragments);
    CafLengthRule::CutInsideChunk(file);
    FlacLengthRule::CutInMetadata(file);
    for (const FrameSyntax syntax : {FrameSyntax::Mpeg, FrameSyntax::Adts, FrameSyntax::Ac3}) {
        RawStreamLengthRule::Walk walk;
        RawStreamLengthRule::WalkFile(syntax, file, &walk);
    }
    return 0;
}
