// The WAVE family through the sound-file core: objects made from their type
// codes, and our own outputs detected as the type that wrote them.
#include "CBWFLinearFile.h"
#include "CWAVEFile.h"
#include "CWAVEFloatFile.h"
#include "CWAVE_ALawFile.h"
#include "CWAVE_AuFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "WAVEFileTypes.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>

using namespace wavetest;

TEST(WAVERegistration, TypeCodesMakeTheirClassesAndOutputsDetectAsThem)
{
    RegisterWAVEFileTypes();
    TestTempDir dir;
    const std::vector<std::pair<const char*, const char*>> types = {
        {"WAVE", "Wave"},
        {"WVau", "Wave \xCE\xBC-law"},
        {"WVal", "Wave A-law"},
        {"WVfl", "Wave 32 bits float (Samplitude)"},
        {"BWLN", "Uncompressed Broadcast Wave"},
    };
    for (const auto& [code, name] : types) {
        const OSType wanted = FourCharCodeFromString(code);
        std::unique_ptr<CSoundFile> file(CreateSoundFileObject(wanted));
        ASSERT_NE(file, nullptr) << code;
        EXPECT_EQ(file->GetFileType(), wanted);
        EXPECT_EQ(file->GetFormatName(), QString::fromUtf8(name));
        EXPECT_TRUE(file->SupportsSplitChannels());
        EXPECT_EQ(file->GetSplitNamingSuffix(), QString("(.L/.R)"));

        ASSERT_EQ(file->SetFile(dir.file(code)), noErr);
        ASSERT_EQ(file->Create(2, 16, 0, nullptr, nullptr, 8000.0f), noErr) << code;
        ASSERT_EQ(WriteAllSamples(*file, TestSamples(20, file->GetNumBits())), noErr);
        ASSERT_EQ(file->Close(), noErr);
        OSType detected = 0;
        EXPECT_EQ(DetectFileType(file->GetPath(), &detected), noErr) << code;
        EXPECT_EQ(detected, wanted) << code;
    }
    const HeaderProbe probe = GetHeaderProbe(FOUR_CHAR_CODE("WAVE"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(QString::fromStdString(dir.file("WAVE.wav"))), 2);
    EXPECT_EQ(probe(QString::fromStdString(dir.file("nothing.wav"))), 0);
}
