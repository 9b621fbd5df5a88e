// Split stereo pairs written by quillmarch-batch read back as pairs.  Every
// type the registry can write as a split pair (a writable type whose mono
// files are set members, or one whose every file is a pair) is written from
// a pair of mono files and from an interleaved stereo file split into mono
// files (all made by sox); each output folder then holds pairs only, and
// each pair reads back through the input model, as the application's list
// groups it, as one two-channel set with sox's left input on L and its
// right input on R.
#include "CliTestSupport.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "SoundFileRegistry.h"
#include "ZuSoundFile.h"
#include "file_type_table.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace clitest;

namespace {

std::string TypeText(OSType code)
{
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

OSType TypeCode(const std::string& text)
{
    return OSType(UInt8(text[0])) << 24 | OSType(UInt8(text[1])) << 16 | OSType(UInt8(text[2])) << 8 |
           OSType(UInt8(text[3]));
}

// The writable types that a split pair can be written in.
std::vector<std::string> SplitPairTypes()
{
    EngineStartup::registerFileTypes();
    EngineStartup::buildFileTypeTable();
    std::vector<std::string> types;
    for (const OSType code : GetFileTypeTableCodes())
        if (FileTypeCanBeWritten(code) &&
            (IsSetMemberType(code) || GetSoundFileProperties(code).value("splitStereoSet").toBool()))
            types.push_back(TypeText(code));
    return types;
}

// 16-bit samples as sox reads `path` (native byte order).
std::vector<SInt16> SoxWords(const QString& path)
{
    QByteArray raw;
    if (!RunPeer("sox", {path, "-t", "raw", "-e", "signed", "-b", "16", "-L", "-"}, &raw))
        return {};
    std::vector<SInt16> words(std::size_t(raw.size()) / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = SInt16(UInt16(UInt8(raw[int(2 * i)]) | UInt8(raw[int(2 * i + 1)]) << 8));
    return words;
}

class SplitPairBatch : public BatchTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SplitPairBatch, PairsFromPairsAndStereoFilesReadBackAsOnePair)
{
    QM_REQUIRE_PEER("sox");
    const std::string type = GetParam();
    ASSERT_TRUE(QDir().mkpath(root + "/in"));
    const QString left = root + "/in/Take.L.aif";
    const QString right = root + "/in/Take.R.aif";
    for (const auto& [path, tone] : {std::pair{left, "440"}, std::pair{right, "1250"}})
        ASSERT_TRUE(Sox({"-D", "-n", "-r", "44100", "-c", "1", "-b", "16", path, "synth", "0.2", "sine", tone}));
    ASSERT_TRUE(Sox({"-D", "-M", left, right, root + "/in/Mix.wav"}));

    // The type's own word length: 16-bit samples in any of them are exact.
    const QVariantMap properties = GetSoundFileProperties(TypeCode(type));
    const int bits = properties.value("numBitsPopup")
                         .toList()
                         .value(properties.value("numBitsPopupDefault").toInt())
                         .toMap()
                         .value("tag", 16)
                         .toInt();
    QVariantMap kept = TypedConversion("kept", type.c_str(), bits, {});
    QVariantMap split = TypedConversion("split", type.c_str(), bits, {});
    split.insert("QMCSNeedsChannelTreat", true);
    split.insert("QMCSChannelTreat", 2);
    const RunResult run = RunConversions("pairs", {{0, kept}, {0, split}}, root + "/in", root + "/out");
    ASSERT_FALSE(run.crashed);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    EngineStartup::registerFileTypes();
    const std::vector<SInt16> expectedLeft = SoxWords(left);
    const std::vector<SInt16> expectedRight = SoxWords(right);
    ASSERT_FALSE(expectedLeft.empty());
    // The pair kept from the pair input, and both inputs split.
    for (const auto& [conversion, stem] :
         {std::pair{"kept", "Take"}, std::pair{"split", "Take"}, std::pair{"split", "Mix"}}) {
        SCOPED_TRACE(std::string(conversion) + "/" + stem);
        const QString folder = root + "/out/" + conversion + "/in";
        const QStringList files = QDir(folder).entryList({QString(stem) + "*"}, QDir::Files);
        ASSERT_FALSE(files.isEmpty()) << FilesUnder(root + "/out", true).join(' ').toStdString();
        const ZuSoundFile model(folder + "/" + files.first());
        ASSERT_TRUE(model.isPlayable()) << model.descriptor().toStdString();
        EXPECT_TRUE(model.isSplit()) << files.join(' ').toStdString();
        ASSERT_EQ(model.numChannels(), 2) << files.join(' ').toStdString();
        ASSERT_EQ(model.surround_set().size(), 2u);
        // Every file of the input's outputs is a member.
        std::set<QString> members;
        for (const std::string& member : model.surround_set())
            members.insert(QFileInfo(QString::fromStdString(member)).fileName());
        for (const QString& file : files)
            EXPECT_TRUE(members.count(file)) << file.toStdString() << " is no member of " << model.surround_set().front();

        std::unique_ptr<CSoundFile> set(model.createSoundFile(nullptr));
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set->Open(), noErr);
        ASSERT_EQ(set->GetNumFrames(), expectedLeft.size());
        std::vector<double> frames(expectedLeft.size() * 2);
        UInt32 count = set->GetNumFrames();
        ASSERT_EQ(set->ReadFrames(0, &count, frames.data()), noErr);
        std::vector<SInt16> channels[2];
        for (std::size_t i = 0; i < frames.size(); ++i)
            channels[i % 2].push_back(SInt16(std::lround(frames[i] * 32768.0)));
        EXPECT_EQ(channels[0], expectedLeft);
        EXPECT_EQ(channels[1], expectedRight);
        set->Close();
    }
}

INSTANTIATE_TEST_SUITE_P(Types, SplitPairBatch, ::testing::ValuesIn(SplitPairTypes()), TypeParamName());

}  // namespace
