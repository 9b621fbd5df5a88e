// The MP3 encoder check: versions compared component by component, the
// encoder found on PATH, the alert for an old one and the writable flag.
#include "AppTestSupport.h"
#include "CreateSoundFile.h"
#include "EncoderCheck.h"

#include <QFile>

namespace {

class EncoderCheckTest : public AppTest {
protected:
    void TearDown() override
    {
        EncoderCheck::setVersionProbe({});
        if (!m_oldPath.isNull())
            qputenv("PATH", m_oldPath);
        AppTest::TearDown();
    }
    // A fake "lame" first on PATH.
    void putEncoderOnPath()
    {
        const QString lame = path(QStringLiteral("lame"));
        WriteText(lame, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(lame, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_oldPath = qgetenv("PATH");
        qputenv("PATH", m_dir.qpath().toUtf8() + ":" + m_oldPath);
    }
    QByteArray m_oldPath;
};

} // namespace

TEST_F(EncoderCheckTest, ComparesVersionsComponentByComponent)
{
    struct Case {
        const char* a;
        const char* b;
        int result;
    };
    const Case cases[] = {{"3.100", "3.93", 1}, {"3.93", "3.93", 0}, {"3.92", "3.93", -1}, {"3.93.1", "3.93", 1},
                          {"3.93", "3.93.0", 0}, {"4", "3.99", 1},   {"3.100b2", "3.99", 1}, {"", "3.93", -1},
                          {"99999999999999999999999", "3", 1}};
    for (const Case& c : cases)
        EXPECT_EQ(EncoderCheck::compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.result)
            << c.a << " vs " << c.b;
}

TEST_F(EncoderCheckTest, OldEncoderAlertsAndIsNotOffered)
{
    startController();
    putEncoderOnPath();
    EXPECT_EQ(EncoderCheck::findEncoder(), path(QStringLiteral("lame")));

    // Without a probe no encoder is usable, silently.
    EXPECT_FALSE(EncoderCheck::run());
    EXPECT_TRUE(m_alerts.isEmpty());

    QString probed;
    EncoderCheck::setVersionProbe([&probed](const QString& encoder) -> std::optional<QString> {
        probed = encoder;
        return QStringLiteral("3.92");
    });
    EXPECT_FALSE(EncoderCheck::run());
    EXPECT_EQ(probed, path(QStringLiteral("lame")));
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts.at(0).title, QStringLiteral("LAME mp3-encoder Too Old"));
    EXPECT_TRUE(m_alerts.at(0).message.contains(QStringLiteral("It is version 3.92, but")));
    EXPECT_FALSE(GetSoundFileProperties('DMP3').value(QStringLiteral("canBeWritten")).toBool());

    EncoderCheck::setVersionProbe([](const QString&) -> std::optional<QString> { return QStringLiteral("3.100"); });
    EXPECT_TRUE(EncoderCheck::run());
    EXPECT_EQ(m_alerts.size(), 1);
    if (!GetSoundFileProperties('DMP3').isEmpty()) {
        EXPECT_TRUE(GetSoundFileProperties('DMP3').value(QStringLiteral("canBeWritten")).toBool());
    }
    EncoderCheck::setVersionProbe({});
    EXPECT_FALSE(EncoderCheck::run());
}
