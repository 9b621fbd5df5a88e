// The movie source on damaged and cut compressed files, measured against
// ffmpeg: the frames it counts are those ffmpeg decodes (plus the silence
// standing for refused packets), and the sound it says was lost is what
// the damage took from the whole file's decode, within a frame of the
// codec.  The files are encoded by ffmpeg, sox and lame from a sox tone
// and damaged here; each codec's intact file is a control that must read
// clean, and so must the intact shapes other writers give (Shape), made
// here by hand or from an encode.
#include "IntactShapes.h"
#include "LayerOneBuilding.h"
#include "MovieSource.h"
#include "PeerTools.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

namespace {

enum class Damage {
    None,
    Tail,          // the last `bytes` overwritten
    LastPageEdge,  // `bytes` overwritten across the start of the last Ogg page
    Middle,        // `share` of the file overwritten from its middle
    Bytes,         // `bytes` overwritten from the middle
    DataStart,     // `bytes` of the first packet overwritten (garbage, or zeros for 'mdat')
    Cut,           // the file ends at `share` of its length
    CutAt,         // the file ends at byte `bytes`
    // The structure: the Ogg sound page at `share` of them (chained: of
    // the second stream) ends the file, is dropped, swapped with the next,
    // repeated, or fails its checksum; zeros from `share` of the file on.
    PageCut,
    PageDrop,
    PageSwap,
    PageRepeat,
    PageChecksum,
    ZeroTail,
    // MPEG audio frames: `bytes` of them from the middle taken out, or the
    // middle one repeated; the ID3v2 tag's size grown by `bytes`.
    FramesDrop,
    FrameRepeat,
    TagGrown,
    // ASF data packets: `bytes` of them from the middle taken out, or the
    // middle one repeated.
    PacketsDrop,
    PacketRepeat,
    // The first sample-size table: the middle entry made huge, or five
    // entries grown by `bytes`.
    SizeHuge,
    SizesGrown,
    // The frame count of an MP3's Info frame halved (`bytes` 1: its byte
    // count too).
    CountHalved,
    // MPEG audio: an ID3v2 tag of `bytes` bytes, or `bytes` zeros, between
    // two middle frames; the first `bytes` frames taken out; a Lyrics3 tag
    // cut inside itself after the last frame.
    TagBetween,
    ZerosBetween,
    FirstFramesDrop,
    Lyrics3Cut,
    // MPEG audio: `bytes` random bytes (of a fixed seed) over the frames
    // from the middle of the one at `share` of them.
    NoiseOverFrames,
    HeadLost,      // the first `bytes` bytes cut off the front
    FlipBit,       // bit 4 of byte `bytes` flipped
    // The granule of the Ogg sound page before the last set below the
    // page's before it (its checksum made again).
    GranuleFalls,
    // The movie fragment (box 'moof' and its 'mdat') at `share` of them
    // taken out, or repeated.
    FragmentDrop,
    FragmentRepeat,
};

// The intact file, before the damage: as the program writes it, or an
// intact shape of another writer.
enum class Shape {
    Encoded,
    LayerOneByHand,  // Layer I frames with checksums in channel mode `shapeValue`, built here (no program)
    OpusPreSkip,     // the Opus header's pre-skip set to `shapeValue`
    EmptyFirstAAC,   // the first AAC packet decodes to nothing: it only primes the decoder
    TwoID3v2,        // an MP3 with a second ID3v2 tag (of `shapeValue` bytes) after its first
    JunkAfterID3v2,  // `shapeValue` bytes that are no frame between the ID3v2 tag and the first frame
    TagsAtEnd,       // an ID3v2 tag and an ID3v1 tag after the last frame
    APEAtEnd,        // an APEv2 tag without its header after the last frame
    FlacNumberLeap,  // FLAC frame 10 numbered `shapeValue`, its checksums made again
    MonoThenStereo,  // the program's encode of a mono take, then of the stereo one, in one stream
    AmrByHand,       // AMR-NB frames built here (no program)
    OpusEndTrim,     // the last page's granule lowered by `shapeValue` (an end trim over several packets)
    Skeleton,        // a Skeleton stream beside the Vorbis one, of `shapeValue` granules a second
};

enum class Expect {
    Clean,    // the frames ffmpeg decodes, nothing said
    Cut,      // the frames ffmpeg decodes, cut short, nothing lost
    Lost,     // the loss said is what the damage took, within a frame
    Partial,  // some of the loss said (the rest no header tells)
    Fails,    // does not open: `code`
    CutBy,    // cut short, the frames missing said within a frame
    Unmarked, // cut short at the end of a stream not marked as ended
    Estimated,// the loss said within a fifth of what the damage took (bytes as time)
    Repeated, // the sound heard twice said, within a frame
    Misplaced,// all frames there, some out of order
    Gaps,     // damage at places, how much not said
    Hidden,   // the frames of sound a grown tag hides said lost
    Header,   // all sound there (as ffmpeg decodes it), the header's count said wrong
    OneRefused,  // the frames ffmpeg decodes, one packet refused and its time silenced
    Whole,    // the frames ffmpeg decodes from the intact file, nothing said
};

struct LossCase {
    const char* name;
    const char* file;      // the encode's name (its extension tells ffmpeg the container)
    const char* program;   // writes {OUT} from {WAV}
    const char* arguments;
    Damage damage;
    double share;
    int bytes;
    Expect expect;
    int frame;             // the codec's frames per packet (the tolerance)
    OSErr code;
    Shape shape = Shape::Encoded;
    int shapeValue = 0;
    const char* tone = nullptr;  // sox's synth arguments (default: a two-tone chord)
    bool chained = false;        // the file is two encodes one after the other (Ogg)
};

void PrintTo(const LossCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<char> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// The frames ffmpeg decodes from a file; `checked`: dropping the frames
// that fail their checksums (as the source does for AC-3).
long long FFmpegFrames(const std::string& path, bool checked = false)
{
    const QStringList checks = checked ? QStringList{"-err_detect", "crccheck+explode"} : QStringList();
    const peers::RunResult r = peers::Run(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "quiet"} + checks +
        QStringList{"-i", QString::fromStdString(path), "-ac", "1", "-f", "s16le", "-"});
    return r.out.size() / 2;
}

void Overwrite(std::vector<char>* bytes, std::size_t from, std::size_t count, bool zeros = false)
{
    for (std::size_t k = from; k < std::min(bytes->size(), from + count); ++k)
        (*bytes)[k] = zeros ? 0 : char((k * 131 + 7) & 0xFF);
}

std::size_t Find(const std::vector<char>& bytes, const char* tag, bool last = false)
{
    const std::string_view haystack(bytes.data(), bytes.size());
    return last ? haystack.rfind(tag) : haystack.find(tag);
}

// The byte ranges of the Ogg pages from `from` on, and which end a packet
// of sound (a granule above 0).
struct Page {
    std::size_t at, bytes;
    bool sound;
    uint32_t serial;
};
std::vector<Page> OggPages(const std::vector<char>& b, std::size_t from)
{
    std::vector<Page> pages;
    for (std::size_t at = from; at + 27 <= b.size() && std::memcmp(&b[at], "OggS", 4) == 0;) {
        const std::size_t segments = uint8_t(b[at + 26]);
        std::size_t bytes = 27 + segments;
        for (std::size_t i = 0; i < segments && at + 27 + i < b.size(); ++i)
            bytes += uint8_t(b[at + 27 + i]);
        long long granule = 0;
        std::memcpy(&granule, &b[at + 6], 8);
        uint32_t serial = 0;
        std::memcpy(&serial, &b[at + 14], 4);
        pages.push_back({at, bytes, granule > 0, serial});
        at += bytes;
    }
    return pages;
}

// The MPEG-1 Layer III frames after the ID3v2 tag (position, bytes).
std::vector<std::pair<std::size_t, std::size_t>> Mp3Frames(const std::vector<char>& b)
{
    static const int kRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    std::size_t at = 0;
    if (b.size() > 10 && std::memcmp(b.data(), "ID3", 3) == 0)
        at = 10 + (std::size_t(b[6] & 0x7F) << 21 | std::size_t(b[7] & 0x7F) << 14 | std::size_t(b[8] & 0x7F) << 7 |
                   std::size_t(b[9] & 0x7F));
    std::vector<std::pair<std::size_t, std::size_t>> frames;
    while (at + 4 <= b.size() && uint8_t(b[at]) == 0xFF && (uint8_t(b[at + 1]) & 0xFE) == 0xFA) {
        const int rate = kRates[uint8_t(b[at + 2]) >> 4];
        const std::size_t bytes = std::size_t(144000 * rate / 44100 + ((uint8_t(b[at + 2]) >> 1) & 1));
        if (bytes == 0)
            break;
        frames.emplace_back(at, bytes);
        at += bytes;
    }
    return frames;
}

UInt32 BE32(const std::vector<char>& b, std::size_t at)
{
    return UInt32(uint8_t(b[at])) << 24 | UInt32(uint8_t(b[at + 1])) << 16 | UInt32(uint8_t(b[at + 2])) << 8 |
           uint8_t(b[at + 3]);
}

void PutBE32(std::vector<char>* b, std::size_t at, UInt32 v)
{
    for (int i = 0; i < 4; ++i)
        (*b)[at + std::size_t(i)] = char(v >> (24 - 8 * i));
}

// Moves [from, from + count) of `b` to `to` (before the damage: inserting
// a copy, or taking bytes out).
void Repeat(std::vector<char>* b, std::size_t at, std::size_t count)
{
    const std::vector<char> copy(b->begin() + std::ptrdiff_t(at), b->begin() + std::ptrdiff_t(at + count));
    b->insert(b->begin() + std::ptrdiff_t(at), copy.begin(), copy.end());
}
void Remove(std::vector<char>* b, std::size_t at, std::size_t count)
{
    b->erase(b->begin() + std::ptrdiff_t(at), b->begin() + std::ptrdiff_t(at + count));
}

// The structural damages (the byte-level ones are done in the test).
void DamageStructure(const LossCase& c, std::size_t secondStream, std::vector<char>* bytes)
{
    std::vector<char>& b = *bytes;
    switch (c.damage) {
    case Damage::PageCut:
    case Damage::PageDrop:
    case Damage::PageSwap:
    case Damage::PageRepeat:
    case Damage::PageChecksum:
    case Damage::GranuleFalls: {
        // (Of the stream whose page comes first: the track's.)
        std::vector<Page> sound;
        const std::vector<Page> pages = OggPages(b, secondStream);
        for (const Page& page : pages)
            if (page.sound && page.serial == pages.front().serial)
                sound.push_back(page);
        ASSERT_GT(sound.size(), 3u);
        const std::size_t k = c.damage == Damage::GranuleFalls ? sound.size() - 2
                              : c.share >= 1                   ? sound.size() - 1
                                                               : std::size_t(double(sound.size()) * c.share);
        const Page& p = sound[k];
        if (c.damage == Damage::PageCut)
            b.resize(p.at);
        else if (c.damage == Damage::PageDrop)
            Remove(&b, p.at, p.bytes);
        else if (c.damage == Damage::PageRepeat)
            Repeat(&b, p.at, p.bytes);
        else if (c.damage == Damage::PageChecksum)
            b[p.at + p.bytes - 5] ^= 0x55;
        else if (c.damage == Damage::GranuleFalls) {
            long long granule = 0;
            std::memcpy(&granule, &b[sound[k - 1].at + 6], 8);
            granule -= 100;
            std::memcpy(&b[p.at + 6], &granule, 8);
            const uint32_t crc = intactshape::OggChecksum(reinterpret_cast<const uint8_t*>(&b[p.at]), p.bytes);
            std::memcpy(&b[p.at + 22], &crc, 4);
        }
        else
            std::rotate(b.begin() + std::ptrdiff_t(p.at), b.begin() + std::ptrdiff_t(p.at + p.bytes),
                        b.begin() + std::ptrdiff_t(sound[k + 1].at + sound[k + 1].bytes));
        break;
    }
    case Damage::ZeroTail: {
        // (share 0: from an MPEG-4 file's movie box on)
        const std::size_t from = c.share == 0 ? Find(b, "moov") - 4
                                              : secondStream + std::size_t(double(b.size() - secondStream) * c.share);
        std::fill(b.begin() + std::ptrdiff_t(from), b.end(), 0);
        break;
    }
    case Damage::FramesDrop:
    case Damage::FrameRepeat: {
        const auto frames = Mp3Frames(b);
        ASSERT_GT(frames.size(), 40u);
        const std::size_t k = frames.size() * 2 / 5;
        const auto& first = frames[k];
        if (std::size_t(c.bytes) > frames.size() / 2)
            b.resize(first.first);  // a cut between two frames
        else if (c.damage == Damage::FrameRepeat)
            Repeat(&b, first.first, first.second);
        else
            Remove(&b, first.first, frames[k + std::size_t(c.bytes)].first - first.first);
        break;
    }
    case Damage::NoiseOverFrames: {
        const auto frames = Mp3Frames(b);
        ASSERT_GT(frames.size(), 40u);
        const auto& frame = frames[std::size_t(double(frames.size()) * c.share)];
        std::mt19937 random(75);
        const std::size_t from = frame.first + frame.second / 2;
        for (std::size_t k = from; k < std::min(b.size(), from + std::size_t(c.bytes)); ++k)
            b[k] = char(random() >> 24);
        break;
    }
    case Damage::HeadLost: b.erase(b.begin(), b.begin() + c.bytes); break;
    case Damage::CountHalved: {
        const std::size_t info = Find(b, "Info");
        ASSERT_NE(info, std::string_view::npos);
        PutBE32(&b, info + 8, BE32(b, info + 8) / 2);
        if (c.bytes)
            PutBE32(&b, info + 12, BE32(b, info + 12) / 2);
        break;
    }
    case Damage::TagBetween:
    case Damage::ZerosBetween:
    case Damage::FirstFramesDrop: {
        const auto frames = Mp3Frames(b);
        ASSERT_GT(frames.size(), 40u);
        const std::size_t at = frames[frames.size() * 2 / 5].first;
        if (c.damage == Damage::FirstFramesDrop) {
            Remove(&b, frames.front().first, frames[std::size_t(c.bytes)].first - frames.front().first);
        } else {
            const intactshape::Bytes tag = intactshape::ID3v2Tag(uint32_t(c.bytes));
            if (c.damage == Damage::TagBetween)
                b.insert(b.begin() + std::ptrdiff_t(at), tag.begin(), tag.end());
            else
                b.insert(b.begin() + std::ptrdiff_t(at), std::size_t(c.bytes), char(0));
        }
        break;
    }
    case Damage::Lyrics3Cut: {
        const std::string_view lyrics = "LYRICSBEGININD0000210LYR00030[00:01]Some";
        b.insert(b.end(), lyrics.begin(), lyrics.end());
        break;
    }
    case Damage::TagGrown: {
        ASSERT_EQ(std::memcmp(b.data(), "ID3", 3), 0);
        std::size_t size = std::size_t(b[6] & 0x7F) << 21 | std::size_t(b[7] & 0x7F) << 14 |
                           std::size_t(b[8] & 0x7F) << 7 | std::size_t(b[9] & 0x7F);
        size += std::size_t(c.bytes);
        for (int i = 0; i < 4; ++i)
            b[6 + std::size_t(i)] = char((size >> (21 - 7 * i)) & 0x7F);
        break;
    }
    case Damage::PacketsDrop:
    case Damage::PacketRepeat: {
        // The header object's size, then the data object's 50 bytes; the
        // file properties state the packets' size.
        std::size_t header = 0;
        for (int i = 7; i >= 0; --i)
            header = header << 8 | uint8_t(b[16 + std::size_t(i)]);
        const char kProperties[] = "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11";
        const std::size_t props = Find(b, kProperties);
        ASSERT_NE(props, std::string_view::npos);
        const std::size_t packet = std::size_t(uint8_t(b[props + 92])) | std::size_t(uint8_t(b[props + 93])) << 8;
        const std::size_t start = header + 50;
        const std::size_t middle = start + (b.size() - start) / packet / 2 * packet;
        if (std::size_t(c.bytes) > (b.size() - start) / packet / 2)
            b.resize(middle);  // a cut between two packets
        else if (c.damage == Damage::PacketRepeat)
            Repeat(&b, middle, packet);
        else
            Remove(&b, middle, packet * std::size_t(c.bytes));
        break;
    }
    case Damage::FragmentDrop:
    case Damage::FragmentRepeat: {
        // The top boxes; each fragment a 'moof' and the 'mdat' after it.
        std::vector<std::pair<std::size_t, std::size_t>> fragments;
        std::size_t before = 0;
        for (std::size_t at = 0; at + 8 <= b.size() && BE32(b, at) >= 8;) {
            if (std::memcmp(&b[at + 4], "mdat", 4) == 0 && std::memcmp(&b[before + 4], "moof", 4) == 0)
                fragments.emplace_back(before, at + BE32(b, at));
            before = at;
            at += BE32(b, at);
        }
        ASSERT_FALSE(fragments.empty());
        const auto [from, to] = fragments[std::size_t(double(fragments.size()) * c.share)];
        if (c.damage == Damage::FragmentDrop)
            Remove(&b, from, to - from);
        else
            Repeat(&b, from, to - from);
        break;
    }
    case Damage::SizeHuge:
    case Damage::SizesGrown: {
        const std::size_t stsz = Find(b, "stsz");
        ASSERT_NE(stsz, std::string_view::npos);
        const std::size_t count = BE32(b, stsz + 12);
        const auto entry = [&](std::size_t k) { return stsz + 16 + 4 * k; };
        if (c.damage == Damage::SizeHuge)
            PutBE32(&b, entry(count / 2), 0x7FFF0000);
        else
            for (std::size_t k = 0; k < 5; ++k)
                PutBE32(&b, entry(count / 3 + 7 * k), BE32(b, entry(count / 3 + 7 * k)) + UInt32(c.bytes));
        break;
    }
    default:
        break;
    }
}

// An AMR-NB file of `frames` frames of mode 7 (12.2 kbit/s), its speech bits
// made up.
void WriteAmr(const std::string& path, int frames)
{
    std::ofstream out(path, std::ios::binary);
    out << "#!AMR\n";
    for (int f = 0; f < frames; ++f) {
        out.put(char(0x3C));
        for (int k = 0; k < 31; ++k)
            out.put(char((f * 31 + k) * 2654435761u >> 24));
    }
}

class MovieSourceLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(MovieSourceLoss, SaysWhatTheDamageTook)
{
    const LossCase& c = GetParam();
    QM_REQUIRE_PEER("ffmpeg");
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("lame");
    if (c.program && !peers::Have(QString::fromLatin1(c.program))) {
        if (peers::InCI())
            FAIL() << c.program << " is not installed (a peer every CI run needs)";
        GTEST_SKIP() << c.program << " is not installed";
    }
    TestTempDir dir;
    const std::string wav = dir.file("tone.wav");
    const std::string intact = dir.file(std::string("intact_") + c.file);
    const QString tone = QString::fromLatin1(c.tone ? c.tone : "3 sine 440 sine 660 gain -3");
    ASSERT_EQ(peers::Run("sox", QStringList{"-R", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", QString::fromStdString(wav),
                  "synth"} + tone.split(' ')).exitCode, 0);
    const auto encode = [&](const std::string& from, const std::string& to) {
        QStringList arguments;
        for (const QString& a : QString::fromLatin1(c.arguments).split(' ', Qt::SkipEmptyParts))
            arguments << (a == "{WAV}" ? QString::fromStdString(from) : a == "{OUT}" ? QString::fromStdString(to) : a);
        return peers::Run(c.program, arguments).exitCode == 0;
    };
    std::size_t secondStream = 0;
    if (c.chained) {
        // A second, shorter stream after the first.
        const std::string shortWav = dir.file("short.wav"), second = dir.file(std::string("second_") + c.file);
        ASSERT_EQ(peers::Run("sox", {"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", QString::fromStdString(shortWav),
                      "synth", "2", "sine", "300", "gain", "-6"}).exitCode, 0);
        ASSERT_TRUE(encode(wav, intact));
        ASSERT_TRUE(encode(shortWav, second));
        std::vector<char> chain = Bytes(intact);
        secondStream = chain.size();
        const std::vector<char> more = Bytes(second);
        chain.insert(chain.end(), more.begin(), more.end());
        std::ofstream(intact, std::ios::binary).write(chain.data(), std::streamsize(chain.size()));
    } else if (c.program) {
        ASSERT_TRUE(encode(wav, intact)) << c.arguments;
    }
    std::vector<char> bytes = Bytes(intact);
    switch (c.shape) {
    case Shape::Encoded: break;
    case Shape::OpusPreSkip: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::SetOpusPreSkip(&shaped, uint16_t(c.shapeValue)));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::EmptyFirstAAC: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::EmptyFirstAACPacket(&shaped));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::TwoID3v2:
    case Shape::JunkAfterID3v2:
    case Shape::TagsAtEnd:
    case Shape::APEAtEnd: {
        intactshape::Bytes before, after;
        if (c.shape == Shape::TwoID3v2) {
            before = intactshape::ID3v2Tag(600);
            const intactshape::Bytes second = intactshape::ID3v2Tag(uint32_t(c.shapeValue));
            before.insert(before.end(), second.begin(), second.end());
        } else if (c.shape == Shape::JunkAfterID3v2) {
            before = intactshape::ID3v2Tag(600);
            for (int i = 0; i < c.shapeValue; ++i)
                before.push_back(uint8_t(i % 200));
        } else if (c.shape == Shape::TagsAtEnd) {
            after = intactshape::ID3v2Tag(3000);
            const intactshape::Bytes v1 = intactshape::ID3v1Tag();
            after.insert(after.end(), v1.begin(), v1.end());
        } else {
            after = intactshape::APETag(false);
        }
        bytes.insert(bytes.begin(), before.begin(), before.end());
        bytes.insert(bytes.end(), after.begin(), after.end());
        break;
    }
    case Shape::FlacNumberLeap: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::LeapFlacFrameNumber(&shaped, 10, uint8_t(c.shapeValue)));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::MonoThenStereo: {
        const std::string mono = dir.file("mono.wav"), monoEncoded = dir.file("mono_" + std::string(c.file));
        ASSERT_EQ(peers::Run("sox", {QString::fromStdString(wav), QString::fromStdString(mono), "remix", "1", "trim",
                      "0", "0.7"}).exitCode, 0);
        ASSERT_TRUE(encode(mono, monoEncoded)) << c.arguments;
        const std::vector<char> first = Bytes(monoEncoded);
        bytes.insert(bytes.begin(), first.begin(), first.end());
        break;
    }
    case Shape::LayerOneByHand: {
        const std::vector<uint8_t> stream = layeronebuild::Stream(c.shapeValue, 100);
        bytes.assign(stream.begin(), stream.end());
        break;
    }
    case Shape::AmrByHand:
        WriteAmr(intact, 150);
        bytes = Bytes(intact);
        break;
    case Shape::Skeleton: {
        intactshape::Bytes shaped(bytes.begin(), bytes.end());
        ASSERT_TRUE(intactshape::AddSkeleton(&shaped, uint32_t(c.shapeValue)));
        bytes.assign(shaped.begin(), shaped.end());
        break;
    }
    case Shape::OpusEndTrim: {
        const std::vector<Page> pages = OggPages(bytes, 0);
        ASSERT_GT(pages.size(), 3u);
        const Page& last = pages.back();
        long long granule = 0;
        std::memcpy(&granule, &bytes[last.at + 6], 8);
        granule -= c.shapeValue;
        std::memcpy(&bytes[last.at + 6], &granule, 8);
        const uint32_t crc = intactshape::OggChecksum(reinterpret_cast<const uint8_t*>(&bytes[last.at]), last.bytes);
        std::memcpy(&bytes[last.at + 22], &crc, 4);
        break;
    }
    }
    {
        std::ofstream out(intact, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    ASSERT_GT(bytes.size(), c.damage == Damage::None ? 0u : 4096u);
    switch (c.damage) {
    case Damage::None: break;
    case Damage::FlipBit: bytes[std::size_t(c.bytes)] = char(bytes[std::size_t(c.bytes)] ^ 0x10); break;
    case Damage::Tail: Overwrite(&bytes, bytes.size() - std::size_t(c.bytes), std::size_t(c.bytes)); break;
    case Damage::LastPageEdge:
        Overwrite(&bytes, Find(bytes, "OggS", true) - std::size_t(c.bytes) / 2, std::size_t(c.bytes));
        break;
    case Damage::Middle:
        Overwrite(&bytes, bytes.size() / 2, std::size_t(double(bytes.size()) * c.share));
        break;
    case Damage::Bytes: Overwrite(&bytes, bytes.size() / 2, std::size_t(c.bytes)); break;
    case Damage::DataStart:
        if (std::size_t at = Find(bytes, "mdat"); at != std::string_view::npos) {
            Overwrite(&bytes, at + 4, std::size_t(c.bytes), true);
        } else {
            // A CAF 'data' chunk: its size, its edit count, then the
            // packets.  Garbage whose first element ends the packet.
            at = Find(bytes, "data") + 16;
            Overwrite(&bytes, at, std::size_t(c.bytes));
            bytes[at] = char(0xE1);
        }
        break;
    case Damage::Cut: bytes.resize(std::size_t(double(bytes.size()) * c.share)); break;
    case Damage::CutAt: bytes.resize(std::size_t(c.bytes)); break;
    default: DamageStructure(c, secondStream, &bytes); break;
    }
    ASSERT_FALSE(HasFatalFailure());
    const std::string damaged = dir.file(c.file);
    {
        std::ofstream out(damaged, std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }

    std::unique_ptr<MovieSource> source;
    const OSErr err = MovieSource::Open(damaged, &source);
    if (c.expect == Expect::Fails) {
        EXPECT_EQ(err, c.code);
        return;
    }
    ASSERT_EQ(err, noErr);
    // The whole track read, as a conversion reads it (refused packets are
    // met on the way).
    {
        constexpr UInt32 kBlock = 4096;
        std::vector<std::vector<SInt32>> channels(source->Channels(), std::vector<SInt32>(kBlock));
        std::vector<SInt32*> pointers;
        for (auto& channel : channels)
            pointers.push_back(channel.data());
        for (UInt32 delivered = kBlock; delivered == kBlock;)
            ASSERT_EQ(source->Read(pointers.data(), kBlock, &delivered), noErr);
    }
    const SFTDecodeLoss& loss = source->DecodeLoss();
    const long long frames = (long long)source->FrameCount();
    const long long decoded = FFmpegFrames(damaged, std::string_view(c.name).substr(0, 3) == "ac3");
    const std::string said = "frames " + std::to_string(frames) + ", ffmpeg " + std::to_string(decoded) +
                             ", refused " + std::to_string(loss.refusedPackets) + ", silenced " +
                             std::to_string(loss.silencedFrames) + ", missing " + std::to_string(loss.missingFrames) +
                             ", repeated " + std::to_string(loss.repeatedFrames) + ", misplaced " +
                             std::to_string(loss.misplacedFrames) + ", gaps " + std::to_string(loss.gaps) +
                             ", header " + std::to_string(loss.headerFrames) + "/" + std::to_string(loss.heldFrames) +
                             ", cut " + std::to_string(source->DataCutShort()) + " by " +
                             std::to_string(loss.cutFrames) + " unmarked " + std::to_string(loss.unmarkedEnd);
    switch (c.expect) {
    case Expect::Clean:
        // Its content alone tells it is sound, however short (a tag longer
        // than the look at the content leaves the name to tell).
        if (c.shape != Shape::TwoID3v2) {
            EXPECT_GT(MovieSource::Probe(damaged, nullptr, nullptr), 0);
        }
        [[fallthrough]];
    case Expect::Cut:
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_FALSE(loss.Any()) << said;
        EXPECT_EQ(source->DataCutShort(), c.expect == Expect::Cut) << said;
        break;
    case Expect::Whole:
        EXPECT_EQ(frames, FFmpegFrames(intact)) << said;
        EXPECT_FALSE(loss.Any()) << said;
        EXPECT_FALSE(source->DataCutShort()) << said;
        break;
    case Expect::OneRefused:
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_EQ(loss.refusedPackets, 1u) << said;
        EXPECT_EQ((long long)loss.silencedFrames, c.frame) << said;
        EXPECT_EQ(loss.missingFrames, 0u) << said;
        break;
    case Expect::Lost:
    case Expect::Partial: {
        // What ffmpeg decodes, and silence for what it drops of it.
        EXPECT_NEAR(double(frames - (long long)loss.silencedFrames), double(decoded), c.frame) << said;
        const long long gone = FFmpegFrames(intact) - frames + (long long)loss.silencedFrames;
        const long long stated = (long long)(loss.silencedFrames + loss.missingFrames);
        ASSERT_GT(gone, 0) << said;
        EXPECT_TRUE(loss.Any()) << said;
        if (c.expect == Expect::Lost)
            EXPECT_NEAR(double(stated), double(gone), c.frame) << said;
        else
            EXPECT_TRUE(stated >= gone / 2 && stated <= gone + c.frame) << said << ", gone " << gone;
        break;
    }
    case Expect::Fails: break;
    case Expect::CutBy:
    case Expect::Unmarked: {
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_FALSE(loss.Any()) << said;
        EXPECT_TRUE(source->DataCutShort()) << said;
        const long long gone = FFmpegFrames(intact) - frames;
        if (c.expect == Expect::CutBy)
            EXPECT_NEAR(double(loss.cutFrames), double(gone), c.frame) << said << ", gone " << gone;
        else
            EXPECT_NEAR(double(loss.unmarkedEnd), double(frames), c.frame) << said;
        break;
    }
    case Expect::Estimated: {
        const long long gone = FFmpegFrames(intact) - frames + (long long)loss.silencedFrames;
        EXPECT_NEAR(double(loss.missingFrames + loss.silencedFrames), double(gone), double(gone) / 5 + c.frame)
            << said << ", gone " << gone;
        break;
    }
    case Expect::Repeated:
        EXPECT_NEAR(double(loss.repeatedFrames), double(frames - FFmpegFrames(intact)), c.frame) << said;
        EXPECT_GT(loss.repeatedFrames, 0u) << said;
        break;
    case Expect::Misplaced:
        EXPECT_NEAR(double(frames), double(FFmpegFrames(intact)), c.frame) << said;
        EXPECT_GT(loss.misplacedFrames, 0u) << said;
        EXPECT_EQ(loss.missingFrames, 0u) << said;
        break;
    case Expect::Gaps:
        EXPECT_GT(loss.gaps, 0u) << said;
        break;
    case Expect::Header:
        EXPECT_EQ(frames, decoded) << said;
        EXPECT_NE(loss.headerFrames, loss.heldFrames) << said;
        EXPECT_NEAR(double(loss.headerFrames) * 2, double(loss.heldFrames), 2 * c.frame) << said;
        break;
    case Expect::Hidden: {
        // The frames of sound between the tag's old end and its new one
        // (an Info frame among them holds none).
        const std::vector<char> whole = Bytes(intact);
        const auto frames = Mp3Frames(whole);
        const std::size_t end = frames.front().first + std::size_t(c.bytes);
        long long hidden = 0;
        for (std::size_t k = 0; k < frames.size() && frames[k].first < end; ++k)
            hidden += std::string_view(&whole[frames[k].first], 64).find("Info") == std::string_view::npos ? 1152 : 0;
        EXPECT_EQ((long long)loss.missingFrames, hidden) << said;
        break;
    }
    }
}

std::string CaseName(const ::testing::TestParamInfo<LossCase>& info)
{
    return info.param.name;
}

constexpr const char* kAAC = "-nostdin -v error -y -i {WAV} -c:a aac {OUT}";
constexpr const char* kADTS = "-nostdin -v error -y -i {WAV} -c:a aac -f adts {OUT}";
constexpr const char* kALAC = "-nostdin -v error -y -i {WAV} -c:a alac {OUT}";
constexpr const char* kOpus = "-nostdin -v error -y -i {WAV} -c:a libopus {OUT}";
constexpr const char* kVorbis = "-nostdin -v error -y -i {WAV} -c:a libvorbis {OUT}";
constexpr const char* kWMA = "-nostdin -v error -y -i {WAV} -c:a wmav2 {OUT}";
constexpr const char* kAC3 = "-nostdin -v error -y -i {WAV} -c:a ac3 {OUT}";
constexpr const char* kMP2 = "-nostdin -v error -y -i {WAV} -c:a mp2 {OUT}";
constexpr const char* kFLAC = "-nostdin -v error -y -i {WAV} {OUT}";
constexpr const char* kUntagged = "--quiet -t {WAV} {OUT}";
constexpr const char* kTitledFFmpeg =
    "-nostdin -v error -y -i {WAV} -c:a libmp3lame -id3v2_version 3 -metadata title=Title {OUT}";
constexpr const char* kTitledUntagged = "--quiet -t --add-id3v2 --tt Title {WAV} {OUT}";
constexpr const char* kTwoTracks = "-nostdin -v error -y -i {WAV} -map 0:a -map 0:a -c:a aac {OUT}";
constexpr const char* kNoise = "3 whitenoise gain -8";
// Ogg pages of a quarter second each.
constexpr const char* kVorbisPages = "-nostdin -v error -y -i {WAV} -c:a libvorbis -page_duration 250000 {OUT}";
constexpr const char* kOpusPages = "-nostdin -v error -y -i {WAV} -c:a libopus -page_duration 250000 {OUT}";
constexpr const char* kLame = "--quiet {WAV} {OUT}";
// Several tracks: a subtitle ending after the sound (its file's duration),
// a video longer than the sound, a video and two sound tracks in Ogg;
// fragments of 0.3 s, a CMAF file of one.
constexpr const char* kSubtitled =
    "-nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=2 -i {WAV} -f srt -i "
    "data:text/plain;base64,MQowMDowMDowMCw1MDAgLS0+IDAwOjAwOjA1LDAwMApIZWxsbwoK -map 0 -map 1 -map 2 -c:v mpeg4 "
    "-c:a libvorbis -c:s srt {OUT}";
constexpr const char* kWmvLonger =
    "-nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=4 -i {WAV} -c:v wmv2 -c:a wmav2 {OUT}";
constexpr const char* kTheoraVorbis = "-nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=3 -i {WAV} "
                                      "-c:v libtheora -c:a libvorbis {OUT}";
constexpr const char* kOpusTheora = "-nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=3 -i {WAV} "
                                    "-map 1:a -map 0:v -c:v libtheora -c:a libopus -page_duration 250000 {OUT}";
constexpr const char* kTwoVorbis =
    "-nostdin -v error -y -i {WAV} -map 0:a -map 0:a -c:a libvorbis -page_duration 250000 {OUT}";
constexpr const char* kFragmented = "-nostdin -v error -y -i {WAV} -c:a aac -movflags "
                                    "frag_keyframe+empty_moov+default_base_moof -frag_duration 300000 {OUT}";
constexpr const char* kCmaf =
    "-nostdin -v error -y -i {WAV} -c:a aac -movflags frag_keyframe+empty_moov+default_base_moof+cmaf {OUT}";
// A one-second Vorbis stream: its end trimming is no loss.
constexpr const char* kVorbisSecond = "-nostdin -v error -y -i {WAV} -t 1 -c:a libvorbis {OUT}";

INSTANTIATE_TEST_SUITE_P(Files, MovieSourceLoss,
    ::testing::Values(
        LossCase{"aac_m4a", "a.m4a", "ffmpeg", kAAC, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"aac_adts", "a.aac", "ffmpeg", kADTS, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"alac_caf", "a.caf", "ffmpeg", kALAC, Damage::None, 0, 0, Expect::Clean, 4096, 0},
        LossCase{"alac_m4a", "alac.m4a", "ffmpeg", kALAC, Damage::None, 0, 0, Expect::Clean, 4096, 0},
        LossCase{"opus", "a.opus", "ffmpeg", kOpus, Damage::None, 0, 0, Expect::Clean, 960, 0},
        LossCase{"vorbis", "a.ogg", "ffmpeg", kVorbis, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"vorbis_one_second", "s.ogg", "ffmpeg", kVorbisSecond, Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"vorbis_sox", "x.ogg", "sox", "-D {WAV} {OUT} trim 0 1.5", Damage::None, 0, 0, Expect::Clean, 1024, 0},
        LossCase{"wma", "a.wma", "ffmpeg", kWMA, Damage::None, 0, 0, Expect::Clean, 2048, 0},
        // At 48 kHz the duration's rounding to the millisecond and the
        // partial last frame together pass one frame.
        LossCase{"wma_v1_48k", "a.wma", "ffmpeg", "-nostdin -v error -y -i {WAV} -ar 48000 -c:a wmav1 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 2048, 0},
        LossCase{"wma_v2_48k", "a.wma", "ffmpeg", "-nostdin -v error -y -i {WAV} -ar 48000 -c:a wmav2 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 2048, 0},
        LossCase{"ac3", "a.ac3", "ffmpeg", kAC3, Damage::None, 0, 0, Expect::Clean, 1536, 0},
        // Matroska times its packets in milliseconds: their durations do
        // not tell the frames.
        LossCase{"mp3_mka", "a.mka", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a libmp3lame {OUT}", Damage::None, 0,
            0, Expect::Clean, 1152, 0},
        LossCase{"flac_mka", "a.mka", "ffmpeg", "-nostdin -v error -y -i {WAV} -c:a flac {OUT}", Damage::None, 0, 0,
            Expect::Clean, 4608, 0},
        // A stream of two frames, which the libraries score low.
        LossCase{"eac3_two_frames", "a.eac3", "ffmpeg", "-nostdin -v error -y -i {WAV} -t 0.05 -ar 48000 -c:a eac3 {OUT}",
            Damage::None, 0, 0, Expect::Clean, 1536, 0},
        LossCase{"mp2", "a.mp2", "ffmpeg", kMP2, Damage::None, 0, 0, Expect::Clean, 1152, 0},
        LossCase{"mp3_untagged", "u.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0},
        // Tags are no sound, nor are the bytes before the first frame.
        LossCase{"mp3_untagged_two_id3v2", "t.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::TwoID3v2, 200000},
        LossCase{"mp3_junk_after_id3v2", "t.mp3", "lame", kLame, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::JunkAfterID3v2, 3000},
        LossCase{"mp3_id3v2_and_id3v1_at_end", "t.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::TagsAtEnd},
        LossCase{"mp3_ape_at_end", "t.mp3", "lame", kLame, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::APEAtEnd},
        // A change of channel mode is no damage: every frame is decoded.
        LossCase{"mp3_mono_then_stereo", "m.mp3", "lame", kUntagged, Damage::None, 0, 0, Expect::Clean, 1152, 0,
            Shape::MonoThenStereo},
        LossCase{"flac", "a.flac", "ffmpeg", kFLAC, Damage::None, 0, 0, Expect::Clean, 4608, 0},
        // No amount said passes what the file states: frame numbers that
        // leap (every sample there, as STREAMINFO says) lose nothing.
        LossCase{"flac_frame_numbers_leap", "a.flac", "flac", "--silent -f -o {OUT} {WAV}", Damage::None, 0, 0,
            Expect::Clean, 4096, 0, Shape::FlacNumberLeap, 100},
        // Opus pre-skips beyond one packet, also in 120 ms packets: the
        // packets the pre-skip takes whole give no frame and are no loss;
        // a cut is said as one.
        LossCase{"opus_preskip_1000", "p.opus", "ffmpeg", kOpus, Damage::None, 0, 0, Expect::Clean, 960, 0,
            Shape::OpusPreSkip, 1000},
        LossCase{"opus_120ms_packets_preskip_65535", "p.opus", "ffmpeg",
            "-nostdin -v error -y -i {WAV} -c:a libopus -frame_duration 120 {OUT}", Damage::None, 0, 0, Expect::Clean,
            5760, 0, Shape::OpusPreSkip, 65535},
        LossCase{"opusenc_preskip_3840", "p.opus", "opusenc", "--quiet {WAV} {OUT}", Damage::None, 0, 0, Expect::Clean,
            960, 0, Shape::OpusPreSkip, 3840},
        LossCase{"opus_preskip_3840_cut", "p.opus", "ffmpeg", kOpus, Damage::Cut, 0.5, 0, Expect::Cut, 960, 0,
            Shape::OpusPreSkip, 3840},
        // Layer I in every channel mode, with checksums: in joint stereo
        // fewer bits are protected (the allocation above the bound is sent
        // once); a frame whose checksum fails is refused.
        LossCase{"layer1_stereo_checksums", "s.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 0},
        LossCase{"layer1_joint_stereo_checksums", "j.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 1},
        LossCase{"layer1_mono_checksums", "m.mp1", nullptr, nullptr, Damage::None, 0, 0, Expect::Clean, 384, 0,
            Shape::LayerOneByHand, 3},
        LossCase{"layer1_joint_stereo_bad_checksum", "b.mp1", nullptr, nullptr, Damage::FlipBit, 0, 50 * 384 + 7,
            Expect::OneRefused, 384, 0, Shape::LayerOneByHand, 1},
        // A first AAC packet that only primes the decoder, with an edit
        // list and without one (the skip goes on to the frames it gives).
        LossCase{"aac_m4a_priming_packet", "a.m4a", "ffmpeg", kAAC, Damage::None, 0, 0, Expect::Clean, 1024, 0,
            Shape::EmptyFirstAAC},
        LossCase{"aac_3g2_no_edit_list_priming_packet", "a.3g2", "ffmpeg",
            "-nostdin -v error -y -i {WAV} -c:a aac -use_editlist 0 {OUT}", Damage::None, 0, 0, Expect::Clean, 1024, 0,
            Shape::EmptyFirstAAC},
        // Damage reaching an Ogg stream's last page.
        LossCase{"opus_last_kilobyte", "a.opus", "ffmpeg", kOpus, Damage::Tail, 0, 1024, Expect::Lost, 960, 0},
        LossCase{"vorbis_middle_page", "a.ogg", "ffmpeg", kVorbis, Damage::Bytes, 0, 64, Expect::Lost, 1024, 0},
        LossCase{"vorbis_last_pages", "a.ogg", "ffmpeg", kVorbis, Damage::LastPageEdge, 0, 600, Expect::Partial, 1024, 0},
        // WMA: cuts and damage against the header's duration.
        LossCase{"wma_cut_tenth", "a.wma", "ffmpeg", kWMA, Damage::Cut, 0.1, 0, Expect::Cut, 2048, 0},
        LossCase{"wma_cut_half", "a.wma", "ffmpeg", kWMA, Damage::Cut, 0.5, 0, Expect::Cut, 2048, 0},
        LossCase{"wma_middle", "a.wma", "ffmpeg", kWMA, Damage::Middle, 0.1, 0, Expect::Lost, 2048, 0},
        // A first packet the decoder refuses, or that gives nothing.
        LossCase{"alac_caf_first_packet", "a.caf", "ffmpeg", kALAC, Damage::DataStart, 0, 1024, Expect::Lost, 4096, 0},
        LossCase{"aac_m4a_zero_mdat", "a.m4a", "ffmpeg", kAAC, Damage::DataStart, 0, 64, Expect::Lost, 1024, 0},
        LossCase{"aac_mp4_zero_mdat", "a.mp4", "ffmpeg", kAAC, Damage::DataStart, 0, 64, Expect::Lost, 1024, 0},
        // Raw streams: frames passed over while finding the stream again.
        LossCase{"aac_adts_front_lost", "a.aac", "ffmpeg", kADTS, Damage::HeadLost, 0, 100, Expect::Lost,
            1024, 0},
        LossCase{"aac_adts_bytes", "a.aac", "ffmpeg", kADTS, Damage::Bytes, 0, 1500, Expect::Lost, 1024, 0},
        LossCase{"ac3_bytes", "a.ac3", "ffmpeg", kAC3, Damage::Bytes, 0, 64, Expect::Lost, 1536, 0},
        LossCase{"ac3_tenth", "a.ac3", "ffmpeg", kAC3, Damage::Middle, 0.1, 0, Expect::Lost, 1536, 0},
        LossCase{"mp2_tenth", "a.mp2", "ffmpeg", kMP2, Damage::Middle, 0.1, 0, Expect::Lost, 1152, 0},
        LossCase{"mp3_untagged_tenth", "u.mp3", "lame", kUntagged, Damage::Middle, 0.1, 0, Expect::Lost, 1152, 0},
        LossCase{"ac3_cut_inside_frame", "a.ac3", "ffmpeg", kAC3, Damage::Cut, 0.5, 0, Expect::Cut, 1536, 0},
        // Files cut before what the demuxer needs: an MPEG-4 file's movie
        // box and a CAF file's packet table (both written at the end), an
        // Ogg stream's first sound page.
        LossCase{"aac_m4a_cut_before_moov", "a.m4a", "ffmpeg", kAAC, Damage::Cut, 0.6, 0, Expect::Fails, 1024, eofErr},
        LossCase{"alac_caf_cut_before_packet_table", "a.caf", "ffmpeg", kALAC, Damage::Cut, 0.9, 0, Expect::Fails, 4096,
            eofErr},
        LossCase{"vorbis_cut_in_first_pages", "a.ogg", "ffmpeg", kVorbis, Damage::Cut, 0.3, 0, Expect::Fails, 1024,
            eofErr},
        // The order of an Ogg stream's pages: a cut between two pages, the
        // last page dropped, pages swapped or repeated, a tail of zeros.
        LossCase{"vorbis_cut_between_pages", "a.ogg", "ffmpeg", kVorbisPages, Damage::PageCut, 0.5, 0, Expect::Unmarked, 1024, 0},
        LossCase{"opus_last_page_dropped", "a.opus", "ffmpeg", kOpusPages, Damage::PageDrop, 1, 0, Expect::Unmarked, 960, 0},
        LossCase{"flac_ogg_cut_between_pages", "a.oga", "flac", "--silent --ogg -o {OUT} {WAV}", Damage::PageCut, 0.5, 0, Expect::CutBy, 4608, 0},
        LossCase{"vorbis_pages_swapped", "a.ogg", "ffmpeg", kVorbisPages, Damage::PageSwap, 0.5, 0, Expect::Misplaced, 1024, 0},
        LossCase{"opus_page_repeated", "a.opus", "ffmpeg", kOpusPages, Damage::PageRepeat, 0.5, 0, Expect::Repeated, 960, 0},
        LossCase{"flac_ogg_zero_tail", "z.oga", "flac", "--silent --ogg -o {OUT} {WAV}", Damage::ZeroTail, 0.5, 0,
            Expect::Lost, 4608, 0},
        LossCase{"vorbis_zero_tail", "a.ogg", "ffmpeg", kVorbis, Damage::ZeroTail, 0.6, 0, Expect::Estimated, 1024, 0},
        LossCase{"opus_zero_tail", "a.opus", "ffmpeg", kOpus, Damage::ZeroTail, 0.5, 0, Expect::Estimated, 960, 0},
        // Damage in the second stream of a chain.
        LossCase{"vorbis_chain_checksum", "c.ogg", "ffmpeg", kVorbisPages, Damage::PageChecksum, 0.5, 0, Expect::Lost, 1024, 0,
            Shape::Encoded, 0, nullptr, true},
        LossCase{"opus_chain_page_dropped", "c.opus", "ffmpeg", kOpusPages, Damage::PageDrop, 0.5, 0, Expect::Lost, 960, 0,
            Shape::Encoded, 0, nullptr, true},
        LossCase{"vorbis_chain_zero_tail", "c.ogg", "ffmpeg", kVorbis, Damage::ZeroTail, 0.5, 0, Expect::Estimated, 1024,
            0, Shape::Encoded, 0, nullptr, true},
        // MPEG audio frames against the Info frame's count, and taken out
        // of a stream that counts none (noise: the frames' main data reach
        // back into the frames before).
        LossCase{"mp3_frame_repeated", "m.mp3", "lame", kLame, Damage::FrameRepeat, 0, 0, Expect::Repeated, 1152, 0},
        LossCase{"mp3_cut_between_frames", "m.mp3", "lame", kLame, Damage::FramesDrop, 0, 1000000, Expect::CutBy,
            1152, 0},
        LossCase{"mp3_frames_taken_out", "m.mp3", "lame", kLame, Damage::FramesDrop, 0, 20, Expect::Lost, 1152, 0,
            Shape::Encoded, 0, kNoise},
        LossCase{"mp3_untagged_frames_taken_out", "u.mp3", "lame", kUntagged, Damage::FramesDrop, 0, 20, Expect::Gaps,
            1152, 0, Shape::Encoded, 0, kNoise},
        LossCase{"mp3_count_halved", "m.mp3", "lame", kLame, Damage::CountHalved, 0, 0, Expect::Header, 1152, 0},
        LossCase{"mp3_count_and_bytes_halved", "m.mp3", "lame", kLame, Damage::CountHalved, 0, 1, Expect::Header,
            1152, 0},
        // Tags and zeros between frames (joined and streamed files) are no
        // sound: the frame after them is decoded, nothing is said.  Empty
        // granules whose main data would begin before the stream use no
        // byte of it; a Lyrics3 tag cut inside itself is no frame.
        LossCase{"mp3_id3v2_between_frames", "m.mp3", "lame", kLame, Damage::TagBetween, 0, 1000, Expect::Whole, 1152,
            0},
        LossCase{"mp3_untagged_id3v2_between_frames", "u.mp3", "lame", kUntagged, Damage::TagBetween, 0, 1000,
            Expect::Whole, 1152, 0},
        LossCase{"mp3_zero_between_frames", "m.mp3", "lame", kLame, Damage::ZerosBetween, 0, 1, Expect::Whole, 1152, 0},
        LossCase{"mp3_417_zeros_between_frames", "m.mp3", "lame", kLame, Damage::ZerosBetween, 0, 417, Expect::Whole,
            1152, 0},
        LossCase{"mp3_untagged_2000_zeros_between_frames", "u.mp3", "lame", kUntagged, Damage::ZerosBetween, 0, 2000,
            Expect::Whole, 1152, 0},
        LossCase{"mp3_silence_first_frames_taken_out", "s.mp3", "lame", kLame, Damage::FirstFramesDrop, 0, 3,
            Expect::Clean, 1152, 0, Shape::Encoded, 0, "3 sine 440 vol 0"},
        // Random bytes over frames replace what they cover, said once:
        // the decoder's refusals and the frames no packet stands for.
        LossCase{"mp3_noise_over_three_frames", "m.mp3", "lame", kLame, Damage::NoiseOverFrames, 0.5, 1254,
            Expect::Lost, 1152, 0},
        LossCase{"mp3_noise_over_a_frame", "m.mp3", "lame", kLame, Damage::NoiseOverFrames, 0.3, 400, Expect::Lost,
            1152, 0},
        LossCase{"mp3_noise_over_twelve_frames", "m.mp3", "lame", kLame, Damage::NoiseOverFrames, 0.7, 5000,
            Expect::Lost, 1152, 0},
        LossCase{"mp3_untagged_noise_over_three_frames", "u.mp3", "lame", kUntagged, Damage::NoiseOverFrames, 0.5,
            1254, Expect::Lost, 1152, 0},
        LossCase{"mp3_lyrics3_cut_inside", "m.mp3", "lame", kLame, Damage::Lyrics3Cut, 0, 0, Expect::Whole, 1152, 0},
        LossCase{"mp3_tag_grown_over_info_frame", "t.mp3", "ffmpeg", kTitledFFmpeg, Damage::TagGrown, 0, 600, Expect::Hidden,
            1152, 0},
        LossCase{"mp3_tag_grown_over_frames", "t.mp3", "lame", kTitledUntagged, Damage::TagGrown, 0, 1200, Expect::Hidden,
            1152, 0},
        // ASF packets repeated and taken out.
        LossCase{"wma_packet_repeated", "a.wma", "ffmpeg", kWMA, Damage::PacketRepeat, 0, 0, Expect::Repeated, 2048, 0},
        LossCase{"wma_packets_taken_out", "a.wma", "ffmpeg", kWMA, Damage::PacketsDrop, 0, 3, Expect::Lost, 2048, 0},
        LossCase{"wma_cut_between_packets", "a.wma", "ffmpeg", kWMA, Damage::PacketsDrop, 0, 1000000, Expect::CutBy,
            2048, 0},
        // MPEG-4 sample sizes.
        LossCase{"aac_m4a_size_huge", "a.m4a", "ffmpeg", kAAC, Damage::SizeHuge, 0, 0, Expect::Lost, 1024, 0},
        LossCase{"aac_m4a_two_tracks_sizes_grown", "two.m4a", "ffmpeg", kTwoTracks, Damage::SizesGrown, 0, 200,
            Expect::Gaps, 1024, 0},
        LossCase{"aac_m4a_zeros_for_movie_box", "a.m4a", "ffmpeg", kAAC, Damage::ZeroTail, 0, 0, Expect::Fails, 1024,
            eofErr},
        // Matroska and WebM: cuts (the duration tells how much) and damage.
        LossCase{"vorbis_webm_cut", "a.webm", "ffmpeg", kVorbis, Damage::Cut, 0.6, 0, Expect::CutBy, 1024, 0},
        LossCase{"vorbis_webm_cut_in_track_list", "a.webm", "ffmpeg", kVorbis, Damage::Cut, 0.05, 0, Expect::Fails, 1024,
            eofErr},
        LossCase{"flac_mka_cut", "a.mka", "ffmpeg", kFLAC, Damage::Cut, 0.5, 0, Expect::CutBy, 4608, 0},
        LossCase{"opus_webm_damaged", "a.webm", "ffmpeg", kOpus, Damage::Bytes, 0, 600, Expect::Lost, 960, 0},
        // Cuts said as cuts: FLAC inside its padding, AMR inside a frame.
        LossCase{"flac_cut_in_padding", "p.flac", "flac", "--silent --padding=65536 -o {OUT} {WAV}", Damage::CutAt, 0,
            20000, Expect::Fails, 4608, eofErr},
        LossCase{"amr_cut", "a.amr", nullptr, "", Damage::CutAt, 0, 6 + 32 * 100 + 9, Expect::Cut, 160, 0,
            Shape::AmrByHand},
        // A length stated for the file, not the sound track: a subtitle, a
        // video beyond the sound.
        LossCase{"vorbis_mkv_subtitle_beyond_sound", "s.mkv", "ffmpeg", kSubtitled, Damage::None, 0, 0, Expect::Clean,
            1024, 0},
        LossCase{"wma_video_beyond_sound", "v.wmv", "ffmpeg", kWmvLonger, Damage::None, 0, 0, Expect::Clean, 2048, 0},
        // An Opus end trim over several packets (on the last page): valid.
        LossCase{"opusenc_end_trim_two_packets", "t.opus", "opusenc", "--quiet {WAV} {OUT}", Damage::None, 0, 0,
            Expect::Clean, 960, 0, Shape::OpusEndTrim, 1500, "3.5 sine 440 sine 660 gain -3"},
        // A granule that falls (checksum made again): the demuxer loses the
        // end trim, which the last granule still states.
        LossCase{"vorbis_granule_falls", "g.ogg", "ffmpeg", kVorbisPages, Damage::GranuleFalls, 0, 0, Expect::Whole, 1024, 0},
        LossCase{"opus_granule_falls", "g.opus", "ffmpeg", kOpusPages, Damage::GranuleFalls, 0, 0, Expect::Whole, 960, 0},
        // Ogg files of several logical streams: the track's own pages.
        LossCase{"vorbis_theora_cut", "tv.ogg", "ffmpeg", kTheoraVorbis, Damage::Cut, 0.6, 0, Expect::Cut, 1024, 0},
        LossCase{"two_vorbis_page_dropped", "two.ogg", "ffmpeg", kTwoVorbis, Damage::PageDrop, 0.5, 0, Expect::Lost,
            1024, 0},
        LossCase{"vorbis_skeleton_cut", "sk.ogg", "oggenc", "-Q -o {OUT} {WAV}", Damage::Cut, 0.6, 0, Expect::Cut, 1024,
            0, Shape::Skeleton, 44100},
        LossCase{"opus_theora_page_checksum", "to.opus", "ffmpeg", kOpusTheora, Damage::PageChecksum, 0.5, 0,
            Expect::Lost, 960, 0},
        // Fragmented MPEG-4: a fragment taken out or repeated; a CMAF file's
        // only fragment taken out.
        LossCase{"aac_fragment_taken_out", "f.mp4", "ffmpeg", kFragmented, Damage::FragmentDrop, 0.5, 0, Expect::Lost,
            1024, 0},
        LossCase{"aac_fragment_repeated", "f.mp4", "ffmpeg", kFragmented, Damage::FragmentRepeat, 0.5, 0,
            Expect::Whole, 1024, 0},
        LossCase{"aac_cmaf_only_fragment_taken_out", "c.mp4", "ffmpeg", kCmaf, Damage::FragmentDrop, 0, 0,
            Expect::Fails, 1024, kUndecodableAudioErr}),
    CaseName);

}  // namespace
