#include "error_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::string pascal_text(const unsigned char* p)
{
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// GetErrorPString through a buffer pre-filled with garbage, so that a missing
// length byte shows up.
std::pair<int, std::string> lookup(int32_t code)
{
    unsigned char buffer[256];
    memset(buffer, 0xA5, sizeof buffer);
    int message_class = GetErrorPString(code, buffer);
    return {message_class, pascal_text(buffer)};
}

std::vector<const ErrorTableEntry*> all_entries()
{
    std::vector<const ErrorTableEntry*> entries;
    for (const ErrorTableEntry* e = ErrorTableBegin(); e != ErrorTableEnd(); ++e)
        entries.push_back(e);
    return entries;
}

} // namespace

TEST(ErrorTable, HasEveryCodeOnceWithTheClassCounts)
{
    auto entries = all_entries();
    // 246 codes of the program; the two of the MP3 encoder's failures
    // (-24602, -24603), the MPEG bit-rate refusal (-23616), the G.729
    // sample-rate refusal (-23901), the kept type that cannot be written
    // (-24620), the warning about a telephony name that does not give its
    // rate (-23905) and about an input read at the raw-file rate as its name
    // gives none (-23906), and the warning that the encoder wrote a lower MP3
    // bit rate than asked (-24604) and the MP3 input rate it does not take
    // (-24605); the header refusals of a WAVE block size that disagrees
    // with its channels (-22705), of more valid bits than a WAVE sample's
    // bytes hold (-22706) and of less sound data than one frame
    // (-22023); an output another program replaced while it was written
    // (-22024); a sound track of which nothing decodes (-24203) and the
    // warning that some of it did not (-24204), or that all of it did though
    // the header misstates its length (-24205); a FLAC file of more
    // than 24 bits, damaged or cut, that only the native reading decodes
    // (-24206); game music, which has no length to convert (-24207); the warning of samples clipped at full scale (-24210); a
    // channel layout that no speaker mask names (-24300); a 24-bit Paris output filled to whole groups of ten
    // frames (-24003) and an AIFF-C IMA 4:1 output filled to whole 64-frame
    // packets (-23805); a track whose parts differ in channel count (-24230)
    // or in rate or word length where they cannot be read as one (-24231,
    // -24233), and the warning
    // that a lossless input kept as its type is written lossy (-24232); 23
    // codes that reading or
    // writing one file can produce, all warnings (-22204, -23002, -22015,
    // -22022, the file-level system codes and those of a missing or damaged
    // resource fork); and the vanished output folder (-21002), which stops
    // a batch.
    ASSERT_EQ(entries.size(), 292u);
    std::map<int, int> per_class;
    std::set<int32_t> codes;
    for (const auto* e : entries) {
        ++per_class[e->message_class];
        codes.insert(e->code);
        EXPECT_NE(e->message[0], '\0') << e->code;
    }
    EXPECT_EQ(codes.size(), 292u);
    EXPECT_EQ(per_class[kErrorClassNone], 1);
    EXPECT_EQ(per_class[kErrorClassWarning], 263);
    EXPECT_EQ(per_class[kErrorClassFatal], 12);
    EXPECT_EQ(per_class[kErrorClassReportWarning], 15);
    EXPECT_EQ(per_class[kErrorClassNote], 1);
    EXPECT_EQ(per_class.count(kErrorClassSystemErrorName), 0u);
    EXPECT_EQ(per_class.size(), 5u);
}

TEST(ErrorTable, ClassesOfTheListedCodes)
{
    const std::map<int, std::set<int32_t>> listed = {
        {kErrorClassFatal, {-23614, -23605, -22003, -21004, -21002, -21001, -20029, -2019, -128, -108, -43, -34}},
        {kErrorClassReportWarning, {-22900, -22804, -22404, -22300, -22011, -22007, -22006, -22005, -22004,
                                    -22002, -22001, -22000, -20003, -20002, -20001}},
        {kErrorClassNote, {-23015}},
        // What a file holds (System 7 sound formats, G.729 framing, a
        // resource fork) fails that file alone: those codes are warnings.
        {kErrorClassNone, {-22026}},
    };
    for (const auto& [message_class, codes] : listed) {
        for (int32_t code : codes) {
            auto [got_class, text] = lookup(code);
            EXPECT_EQ(got_class, message_class) << code;
            EXPECT_FALSE(text.empty()) << code;
        }
    }
    // Every other code is a plain warning.
    for (const auto* e : all_entries()) {
        bool is_listed = std::any_of(listed.begin(), listed.end(),
                                     [&](const auto& kv) { return kv.second.count(e->code) != 0; });
        if (!is_listed) {
            EXPECT_EQ(e->message_class, kErrorClassWarning) << e->code;
        }
    }
}

TEST(ErrorTable, EdgeCaseMessages)
{
    EXPECT_EQ(lookup(-23015), std::make_pair(5, std::string("was already processed with left file")));
    EXPECT_EQ(lookup(-22026), std::make_pair(0, std::string("failed to create a temp file")));
    EXPECT_EQ(lookup(-20029), std::make_pair(2, std::string("User stopped Quillmarch")));
    EXPECT_EQ(lookup(-128), std::make_pair(2, std::string("User cancelled conversion")));
    EXPECT_EQ(lookup(-2019), std::make_pair(2, std::string("User cancelled conversion")));
    EXPECT_EQ(lookup(-22900), std::make_pair(3, std::string("has unsupported data (NeXT.au)")));
    EXPECT_EQ(lookup(-22901), std::make_pair(1, std::string("has fragmented data (NeXT.au)")));
    EXPECT_EQ(lookup(-22902), std::make_pair(1, std::string("has bad header (NeXT.au)")));
    EXPECT_EQ(lookup(-22903), std::make_pair(1, std::string("has incompatible samplerate")));
    EXPECT_EQ(lookup(-22904), std::make_pair(1, std::string("has incompatible wordsize")));

    ErrorMessage plain = LookupErrorMessage(-20029);
    EXPECT_EQ(plain.message, "User stopped Quillmarch");
    EXPECT_EQ(plain.message_class, kErrorClassFatal);
}

TEST(ErrorTable, LongestMessageFitsThePascalString)
{
    const std::string longest =
        "RealAudio: Not really an ERROR... This is a code used to indicate that the client did not "
        "request to recieve the notification.";
    auto [message_class, text] = lookup(-23557);
    EXPECT_EQ(message_class, 1);
    EXPECT_EQ(text, longest);
    for (const auto* e : all_entries())
        EXPECT_LE(strlen(e->message), longest.size()) << e->code;
}

TEST(ErrorTable, ExactTextsKeepTyposAndBlanks)
{
    const std::map<int32_t, std::string> samples = {
        {-20025, "has more than two channels : no gain change"},
        {-21001, "Outputfolder was located in inputfolder"},
        {-22017, "CreateSoundfile failed (-22017)"},
        {-22804, "wordsize passed to create != 1 (8SVX)"},
        {-23103, "left file of split hase no right counterpart"},
        {-23504, "RealAudio: Deferring  request until after buffering is completed."},
        {-23559, "RealAudio: Open command have not been processed (to many connections opened)"},
        {-23564, "RealAudio: Invalid number of encoder channels "},
        {-23583, "RealAudio: An error occured accessing a temporary file."},
        {-23586, "RealAudio: Player cannot receive UDP data packets from multicast session. "},
        {-23595, "'/' in RealAudio filenames is illegal"},
        {-23612, "is stereo: incompatible with this bitrate MPEG1 L II "},
        {-23702, "has no SND chunk(Next/Sun alaw)"},
        {-23801, "No Soundmanager 3.2, Cannot convert to IMA 4:1 "},
        {-24509, "G23 Encoder could not get an audio sample"},
        {-24702, "input file must be mono or stereo"},
        {-37, "has too long a name for .L/.R"},
        {-34, "Disk full"},
        {-23605, "Disk full"},
        {25000, "corrupt CCITT G.729 file"},
        {25001, "not recognized as a CCITT G.729 file"},
    };
    for (const auto& [code, text] : samples)
        EXPECT_EQ(lookup(code).second, text) << code;

    const std::string expired = "RealAudio: This product is expired. Please upgrade to the latest version from ";
    std::string text = lookup(-23572).second;
    EXPECT_EQ(text.compare(0, expired.size(), expired), 0) << text;
    EXPECT_GT(text.size(), expired.size() + 1);
    EXPECT_EQ(text.back(), '.');
}

TEST(ErrorTable, SharedMessages)
{
    const std::vector<std::vector<int32_t>> groups = {
        {-128, -2019}, {-34, -23605}, {-22100, -22302, -22803, -23207, -23900},
        {-22300, -22404, -22603, -22904}, {-22303, -22403, -22601, -22903}, {-22203, -23303},
        {-23601, -23602}, {-23702, -23704}, {-20001, -22006}, {-22101, -23003, -23406}, {-23533, -23535},
    };
    for (const auto& group : groups)
        for (int32_t code : group)
            EXPECT_EQ(lookup(code).second, lookup(group.front()).second) << code;
}

TEST(ErrorTable, MessagesArePrintableAscii)
{
    for (const auto* e : all_entries())
        for (const char* p = e->message; *p; ++p)
            EXPECT_TRUE(*p >= 0x20 && *p < 0x7F) << e->code;
}

TEST(ErrorTable, UnknownCodesGiveClassZeroAndAnEmptyMessage)
{
    for (int32_t code : {0, -1, -22019, -20004, -23573, -24799, 1, 24999, 0x4E554C50, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(lookup(code), std::make_pair(0, std::string())) << code;
        ErrorMessage m = LookupErrorMessage(code);
        EXPECT_EQ(m.message_class, 0);
        EXPECT_TRUE(m.message.empty());
        EXPECT_EQ(FindErrorTableEntry(code), nullptr);
    }
    // A wide code whose low 16 bits are a table code is not that code.
    EXPECT_EQ(lookup(0x10000 - 43).first, 0);
}
