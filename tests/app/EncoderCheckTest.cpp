// The MP3 encoder at start-up: the engine's one check decides whether MP3
// output is offered, the application alerts about an encoder too old.  A
// stub "lame" first on PATH reports the version.
#include "AppTestSupport.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"

#include <QFile>

namespace {

class EncoderCheckTest : public AppTest, public ::testing::WithParamInterface<const char*> {
protected:
    void TearDown() override
    {
        AppTest::TearDown();
        qputenv("PATH", m_oldPath);
        EngineStartup::checkMP3Encoder();
    }
    void putEncoderOnPath(const char* version)
    {
        const QString lame = path(QStringLiteral("lame"));
        WriteText(lame, QByteArray("#!/bin/sh\necho 'LAME 64bits version ") + version + " (http://lame.sf.net)'\n");
        QFile::setPermissions(lame, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", m_dir.qpath().toUtf8() + ":" + m_oldPath);
    }
    QByteArray m_oldPath = qgetenv("PATH");
};

} // namespace

TEST_P(EncoderCheckTest, StartUpOffersMP3OnlyWithAUsableEncoder)
{
    const bool usable = QByteArray(GetParam()) != "3.92";
    putEncoderOnPath(GetParam());
    // An active conversion to MP3 in the user's list.
    MainController& controller = startWithConversions({QStringLiteral("Podcast")}, [](ConvSpec& spec, int) {
        spec.setOutputFileType('DMP3');
        spec.setNeedsStrictFileType(true);
        spec.setActive(true);
    });
    EXPECT_EQ(GetSoundFileProperties('DMP3').value(QStringLiteral("canBeWritten")).toBool(), usable);
    ASSERT_EQ(controller.conversions().size(), 1);
    EXPECT_EQ(controller.conversions().at(0)->valid(), usable);
    EXPECT_EQ(controller.atLeastOneActiveConversion(), usable);
    if (usable) {
        EXPECT_TRUE(m_alerts.isEmpty());
    } else {
        ASSERT_EQ(m_alerts.size(), 1);
        EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("LAME mp3-encoder Too Old"));
        EXPECT_TRUE(m_alerts.at(0).message.contains(QStringLiteral("It is version 3.92, but")));
        // It points at what there is: no menu item, the encoder itself.
        EXPECT_FALSE(m_alerts.at(0).message.contains(QStringLiteral("menu")));
        EXPECT_TRUE(m_alerts.at(0).message.contains(QStringLiteral("Please install a newer LAME encoder")));
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, EncoderCheckTest, ::testing::Values("3.100", "3.93", "3.92"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string("lame_") + (info.index == 0 ? "3_100" : info.index == 1 ? "3_93" : "3_92");
                         });
