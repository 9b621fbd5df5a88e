// The shared start-up: after it every type of the file-type table that has
// a class can be made, the registered defaults are in place and the raw
// settings follow the preferences.
#include "EngineStartup.h"

#include "CSoundFile.h"
#include "CreateSoundFile.h"
#include "RawFileSettings.h"
#include "TestTempDir.h"
#include "UserDefaults.h"
#include "file_type_table.h"

#include <gtest/gtest.h>

#include <memory>

TEST(EngineStartupTest, StartFillsTheTableAndTheDefaults)
{
    TestTempDir dir;
    qputenv("QUILLMARCH_DEFAULTS", QByteArray::fromStdString(dir.path() + "/defaults.plist"));
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    defaults.setObject(QStringLiteral("Unrecognized Input File Sample Rate"), 22050.0);
    EngineStartup::start(defaults);
    EngineStartup::start(defaults);  // a second start changes nothing

    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Easy Thru")));
    EXPECT_DOUBLE_EQ(RawFileSettings::SampleRate(), 22050.0);

    int made = 0;
    for (OSType type : GetFileTypeTableCodes()) {
        if (!GetSoundFileProperties(type).value(QStringLiteral("canBeWritten")).toBool())
            continue;
        std::unique_ptr<CSoundFile> file(CreateSoundFileObject(type));
        if (file)
            ++made;
    }
    EXPECT_GT(made, 20);
    EXPECT_NE(MakeSoundFileDispatcher('AIFF'), nullptr);
}
