#include "MainBundle.h"

#include "TestTempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name))
    {
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::NewOnly));
}

TEST(MainBundle, FindsResourcesInTheOverrideFolder)
{
    TestTempDir dir;
    ASSERT_TRUE(QDir(dir.qpath()).mkpath(QStringLiteral("SoundFileProperties")));
    touch(dir.qpath() + QStringLiteral("/surround.zudb"));
    touch(dir.qpath() + QStringLiteral("/dotignore"));
    touch(dir.qpath() + QStringLiteral("/SoundFileProperties/AIFF.plist"));
    ScopedEnv env("QUILLMARCH_RESOURCES", dir.qpath().toUtf8());

    EXPECT_EQ(MainBundle::resourcesPath(), QDir::cleanPath(dir.qpath()));
    EXPECT_EQ(MainBundle::pathForResource(QStringLiteral("surround"), QStringLiteral("zudb")),
              dir.qpath() + QStringLiteral("/surround.zudb"));
    EXPECT_EQ(MainBundle::pathForResource(QStringLiteral("surround"), QStringLiteral(".zudb")),
              dir.qpath() + QStringLiteral("/surround.zudb"));
    EXPECT_EQ(MainBundle::pathForResource(QStringLiteral("dotignore"), QString()),
              dir.qpath() + QStringLiteral("/dotignore"));
    EXPECT_EQ(MainBundle::pathForResource(QStringLiteral("AIFF"), QStringLiteral("plist"),
                                          QStringLiteral("SoundFileProperties")),
              dir.qpath() + QStringLiteral("/SoundFileProperties/AIFF.plist"));
    EXPECT_EQ(MainBundle::pathForResource(QStringLiteral("SoundFileProperties"), QString()),
              dir.qpath() + QStringLiteral("/SoundFileProperties"));

    EXPECT_TRUE(MainBundle::pathForResource(QStringLiteral("missing"), QStringLiteral("zudb")).isEmpty());
    EXPECT_TRUE(MainBundle::pathForResource(QStringLiteral("AIFF"), QStringLiteral("plist")).isEmpty());
    EXPECT_TRUE(MainBundle::pathForResource(QString(), QString()).isEmpty());
    // Nothing outside the resources folder is reachable.
    EXPECT_TRUE(MainBundle::pathForResource(QStringLiteral("../x"), QString()).isEmpty());
    EXPECT_TRUE(MainBundle::pathForResource(QStringLiteral("x"), QString(), QStringLiteral("/etc")).isEmpty());
}

TEST(MainBundle, FallsBackToTheSourceTreeWithoutTheOverride)
{
    ScopedEnv env("QUILLMARCH_RESOURCES", QByteArray());
    // The test executable has no resources folder beside it, so the source
    // tree's folder is found.
    EXPECT_EQ(MainBundle::resourcesPath(), QDir::cleanPath(QStringLiteral(QM_SOURCE_RESOURCES)));
}

}  // namespace
