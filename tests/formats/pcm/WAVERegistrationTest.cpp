// The WAVE family through the sound-file core: each type code's name and
// split naming, and float outputs detected as float (the integer and
// companded types' factories, detection and probes are in the conformance
// suite).
#include "CWAVEFloatFile.h"
#include "CreateSoundFile.h"
#include "SoundFileRegistry.h"
#include "TestTempDir.h"
#include "WAVEFileTypes.h"
#include "WAVETestSupport.h"

#include <gtest/gtest.h>

using namespace wavetest;

TEST(WAVERegistration, TypeCodesNameTheirClassesAndFloatOutputsDetectAsFloat)
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
        std::unique_ptr<CSoundFile> file(CreateSoundFileObject(FourCharCodeFromString(code)));
        ASSERT_NE(file, nullptr) << code;
        EXPECT_EQ(file->GetFormatName(), QString::fromUtf8(name));
        EXPECT_TRUE(file->SupportsSplitChannels());
        EXPECT_EQ(file->GetSplitNamingSuffix(), QString("(.L/.R)"));
    }
    OSErr err;
    auto file = CreateWith<CWAVEFloatFile>(dir.path(), "float", 2, 32, 8000.0f, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(WriteAllSamples(*file, TestSamples(20, 32)), noErr);
    ASSERT_EQ(file->Close(), noErr);
    OSType detected = 0;
    EXPECT_EQ(DetectFileType(file->GetPath(), &detected), noErr);
    EXPECT_EQ(detected, FOUR_CHAR_CODE("WVfl"));
}
