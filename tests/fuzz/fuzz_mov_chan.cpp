// The channel layout of a QuickTime movie's sound track ('chan' in its
// sample description, directly or in its 'wave' atom) on damaged files:
// the atom walk, and the movie reader that takes the layout over the
// libraries' own.
#include "CQTMovieFile.h"
#include "FuzzTarget.h"
#include "SoundFileFuzzRead.h"
#include "mov_chan_atom.h"

#include <string>
#include <vector>

namespace {

std::string BE(uint32_t v, int bytes)
{
    std::string s;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        s.push_back(char(v >> shift));
    return s;
}

std::string Atom(const char* type, const std::string& body)
{
    return BE(uint32_t(8 + body.size()), 4) + type + body;
}

// A movie of one 16-bit big-endian sound track of `channels` channels and
// a few frames, its layout given by `tag` (a 'chan' inside 'wave' when
// `inWave`), or by channel descriptions in reverse order when `tag` is 0.
std::string MovieImage(uint16_t channels, uint32_t tag, bool inWave)
{
    std::string layout = BE(tag, 4) + BE(0, 4) + BE(tag ? 0 : channels, 4);
    for (uint16_t c = 0; tag == 0 && c < channels; ++c)
        layout += BE(uint32_t(channels - c), 4) + std::string(16, '\0');
    const std::string chan = Atom("chan", BE(0, 4) + layout);
    const std::string sound = std::string(6, '\0') + BE(1, 2) + BE(0, 2) + BE(0, 2) + BE(0, 4) + BE(channels, 2) +
                              BE(16, 2) + BE(0, 2) + BE(0, 2) + BE(8000u << 16, 4) +
                              (inWave ? Atom("wave", chan) : chan);
    const std::string stsd = Atom("stsd", BE(0, 4) + BE(1, 4) + Atom("twos", sound));
    const uint32_t frames = 16;
    const std::string stbl = Atom("stbl", stsd + Atom("stts", BE(0, 4) + BE(1, 4) + BE(frames, 4) + BE(1, 4)) +
                                              Atom("stsc", BE(0, 4) + BE(1, 4) + BE(1, 4) + BE(frames, 4) + BE(1, 4)) +
                                              Atom("stsz", BE(0, 4) + BE(2u * channels, 4) + BE(frames, 4)) +
                                              Atom("stco", BE(0, 4) + BE(1, 4) + BE(8, 4)));
    const std::string mdhd = Atom("mdhd", BE(0, 4) + BE(0, 4) + BE(0, 4) + BE(8000, 4) + BE(frames, 4) + BE(0, 4));
    const std::string hdlr = Atom("hdlr", BE(0, 4) + BE(0, 4) + "soun" + std::string(12, '\0') + std::string(1, '\0'));
    const std::string trak = Atom("trak", Atom("mdia", mdhd + hdlr + Atom("minf", stbl)));
    const std::string mvhd = Atom("mvhd", BE(0, 4) + BE(0, 4) + BE(0, 4) + BE(8000, 4) + BE(frames, 4) + std::string(80, '\0'));
    const std::string mdat = Atom("mdat", std::string(std::size_t(frames) * 2 * channels, '\x11'));
    return mdat + Atom("moov", mvhd + trak);
}

} // namespace

std::vector<std::string> FuzzSeeds()
{
    return {MovieImage(6, 0x7B0006, false), MovieImage(3, 0x720003, true), MovieImage(4, 0, false)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".mov");
    MovieTrackChannelLayout(path, 0);
    MovieTrackChannelLayout(path, 1);
    return soundfilefuzz::ReadAndProbe<CQTMovieFile>(path, soundfilefuzz::Walk().ChannelNames());
}
