#include "UserDefaults.h"

#include "PropertyList.h"
#include "TestTempDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const char* kChildAction = "QM_TEST_DEFAULTS_CHILD";

// Runs this test program again, as another process, with the disabled child
// test below doing `action` on the preferences file `path`.
int runChild(const QString& action, const QString& path)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildAction), action);
    env.insert(QStringLiteral("QUILLMARCH_DEFAULTS"), path);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                {QStringLiteral("--gtest_filter=DISABLED_UserDefaultsChild.Run"),
                 QStringLiteral("--gtest_also_run_disabled_tests")});
    if (!child.waitForStarted(30000) || !child.waitForFinished(60000))
        return -1;
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
}

// Only does something when started by runChild().
TEST(DISABLED_UserDefaultsChild, Run)
{
    const QString action = qEnvironmentVariable(kChildAction);
    if (action.isEmpty())
        GTEST_SKIP();
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    ASSERT_EQ(defaults.filePath(), qEnvironmentVariable("QUILLMARCH_DEFAULTS"));
    if (action == QLatin1String("write")) {
        defaults.registerDefaults({{QStringLiteral("Registered"), true}});
        defaults.setString(QStringLiteral("Last Used Destination"), QStringLiteral("/tmp/out \u00e9"));
        defaults.setInteger(QStringLiteral("Int"), 42);
        defaults.setDouble(QStringLiteral("Double"), 2.5);
        defaults.setBool(QStringLiteral("Bool"), true);
        defaults.setObject(QStringLiteral("Conversions"),
                           QVariantList{QVariantMap{{QStringLiteral("Name"), QStringLiteral("To WAVE")},
                                                    {QStringLiteral("oldData"), QByteArray(256, '\x01')}}});
        ASSERT_TRUE(defaults.synchronize()) << defaults.lastError().toStdString();
    } else if (action == QLatin1String("change")) {
        defaults.setString(QStringLiteral("ChildKey"), QStringLiteral("c"));
        defaults.removeObject(QStringLiteral("Int"));
        ASSERT_TRUE(defaults.synchronize()) << defaults.lastError().toStdString();
    } else if (action == QLatin1String("verify")) {
        EXPECT_EQ(defaults.stringForKey(QStringLiteral("ParentKey")), QStringLiteral("p"));
        EXPECT_EQ(defaults.stringForKey(QStringLiteral("ChildKey")), QStringLiteral("c"));
        EXPECT_FALSE(defaults.objectForKey(QStringLiteral("Int")).isValid());
        EXPECT_EQ(defaults.doubleForKey(QStringLiteral("Double")), 2.5);
    } else {
        FAIL() << "unknown action";
    }
}

TEST(UserDefaults, ValuesWrittenInOneProcessAreReadInAnother)
{
    TestTempDir dir;
    const QString path = QString::fromStdString(dir.file("config/prefs.plist"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    ASSERT_EQ(runChild(QStringLiteral("write"), path), 0);

    // The file is an XML property list of the user's values only.
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().startsWith("<?xml"));

    UserDefaults defaults(path);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("Last Used Destination")), QStringLiteral("/tmp/out \u00e9"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Int")), 42);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("Double")), 2.5);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Bool")));
    const QVariantList conversions = defaults.arrayForKey(QStringLiteral("Conversions"));
    ASSERT_EQ(conversions.size(), 1);
    EXPECT_EQ(conversions[0].toMap().value(QStringLiteral("oldData")).toByteArray(), QByteArray(256, '\x01'));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("Registered")).isValid());

    // A change made here and another process's change to other keys meet in
    // the file: synchronize merges key by key.
    defaults.setString(QStringLiteral("ParentKey"), QStringLiteral("p"));
    ASSERT_EQ(runChild(QStringLiteral("change"), path), 0);
    EXPECT_TRUE(defaults.synchronize()) << defaults.lastError().toStdString();
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("ChildKey")), QStringLiteral("c"));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("Int")).isValid());
    EXPECT_EQ(runChild(QStringLiteral("verify"), path), 0);

    // The atomic replacement left no temporary files behind.
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("prefs.plist")});
}

TEST(UserDefaults, RegisteredDefaultsUnderlieTheUsersValues)
{
    TestTempDir dir;
    UserDefaults defaults(QString::fromStdString(dir.file("p.plist")));
    defaults.registerDefaults({{QStringLiteral("Skip Bad Region"), true},
                               {QStringLiteral("Rate"), 44100},
                               {QStringLiteral("Bad"), QVariant::fromValue(QSize(1, 1))}});
    defaults.registerDefaults({{QStringLiteral("Rate"), 48000}});  // later registration wins
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Skip Bad Region")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Rate")), 48000);
    EXPECT_FALSE(defaults.registeredDefaults().contains(QStringLiteral("Bad")));

    defaults.setBool(QStringLiteral("Skip Bad Region"), false);
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("Skip Bad Region")));
    EXPECT_FALSE(defaults.dictionaryRepresentation().value(QStringLiteral("Skip Bad Region")).toBool());
    defaults.removeObject(QStringLiteral("Skip Bad Region"));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("Skip Bad Region")));

    ASSERT_TRUE(defaults.synchronize());
    const QVariantMap saved = PropertyList::fromFile(defaults.filePath()).toMap();
    EXPECT_FALSE(saved.contains(QStringLiteral("Rate")));
    EXPECT_FALSE(saved.contains(QStringLiteral("Skip Bad Region")));
}

TEST(UserDefaults, TypedReadsConvertLikeTheMac)
{
    TestTempDir dir;
    UserDefaults d(QString::fromStdString(dir.file("p.plist")));
    d.setString(QStringLiteral("yes"), QStringLiteral("YES"));
    d.setString(QStringLiteral("num"), QStringLiteral(" 42 "));
    d.setString(QStringLiteral("real"), QStringLiteral("2.75"));
    d.setString(QStringLiteral("word"), QStringLiteral("maybe"));
    d.setDouble(QStringLiteral("d"), 3.9);
    d.setDouble(QStringLiteral("huge"), 1e300);
    d.setInteger(QStringLiteral("i"), 0);
    d.setObject(QStringLiteral("list"), QVariantList{QStringLiteral("a"), QStringLiteral("b")});
    d.setObject(QStringLiteral("mixed"), QVariantList{QStringLiteral("a"), 1});
    d.setObject(QStringLiteral("map"), QVariantMap{{QStringLiteral("k"), 1}});

    EXPECT_TRUE(d.boolForKey(QStringLiteral("yes")));
    EXPECT_TRUE(d.boolForKey(QStringLiteral("num")));
    EXPECT_FALSE(d.boolForKey(QStringLiteral("word")));
    EXPECT_FALSE(d.boolForKey(QStringLiteral("i")));
    EXPECT_FALSE(d.boolForKey(QStringLiteral("missing")));
    EXPECT_EQ(d.integerForKey(QStringLiteral("num")), 42);
    EXPECT_EQ(d.integerForKey(QStringLiteral("real")), 2);
    EXPECT_EQ(d.integerForKey(QStringLiteral("d")), 3);
    EXPECT_EQ(d.integerForKey(QStringLiteral("huge")), std::numeric_limits<qlonglong>::max());
    EXPECT_EQ(d.integerForKey(QStringLiteral("list")), 0);
    EXPECT_EQ(d.doubleForKey(QStringLiteral("real")), 2.75);
    EXPECT_EQ(d.stringForKey(QStringLiteral("d")), QStringLiteral("3.9"));
    EXPECT_TRUE(d.stringForKey(QStringLiteral("list")).isNull());
    EXPECT_EQ(d.stringArrayForKey(QStringLiteral("list")), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_TRUE(d.stringArrayForKey(QStringLiteral("mixed")).isEmpty());
    EXPECT_TRUE(d.arrayForKey(QStringLiteral("map")).isEmpty());
    EXPECT_EQ(d.dictionaryForKey(QStringLiteral("map")).value(QStringLiteral("k")).toInt(), 1);
    EXPECT_TRUE(d.dictionaryForKey(QStringLiteral("list")).isEmpty());

    // Only property-list values are stored.
    EXPECT_FALSE(d.setObject(QStringLiteral("size"), QVariant::fromValue(QSize(1, 2))));
    EXPECT_FALSE(d.objectForKey(QStringLiteral("size")).isValid());
}

TEST(UserDefaults, ReloadDropsPendingChangesAndAFailedWriteKeepsThem)
{
    TestTempDir dir;
    const QString path = QString::fromStdString(dir.file("p.plist"));
    UserDefaults d(path);
    d.setInteger(QStringLiteral("kept"), 1);
    ASSERT_TRUE(d.synchronize());
    d.setInteger(QStringLiteral("kept"), 2);
    EXPECT_TRUE(d.hasPendingChanges());
    EXPECT_TRUE(d.reload());
    EXPECT_EQ(d.integerForKey(QStringLiteral("kept")), 1);
    EXPECT_FALSE(d.hasPendingChanges());

    // The folder cannot be made (a file stands in its place).
    QFile blocker(QString::fromStdString(dir.file("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::NewOnly));
    blocker.close();
    UserDefaults bad(QString::fromStdString(dir.file("blocker/p.plist")));
    bad.setInteger(QStringLiteral("x"), 1);
    EXPECT_FALSE(bad.synchronize());
    EXPECT_FALSE(bad.lastError().isEmpty());
    EXPECT_TRUE(bad.hasPendingChanges());
    EXPECT_EQ(bad.integerForKey(QStringLiteral("x")), 1);
}

TEST(UserDefaults, OnlyTheUsualFileIsPutAsideReplacedOrGivenAFolder)
{
    // An unreadable file: the usual one is kept aside under a new name and
    // replaced; a named one is left as it is and nothing is saved.  A
    // missing folder is made for the usual file only.
    for (const UserDefaults::FileKind kind : {UserDefaults::FileKind::Usual, UserDefaults::FileKind::Named}) {
        const bool usual = kind == UserDefaults::FileKind::Usual;
        SCOPED_TRACE(usual ? "usual" : "named");
        TestTempDir dir;
        const QString path = QString::fromStdString(dir.file("p.plist"));
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::NewOnly));
            f.write("this is not a property list");
        }
        UserDefaults d(path, kind);
        EXPECT_TRUE(d.persistentValues().isEmpty());
        d.setInteger(QStringLiteral("n"), 5);
        EXPECT_EQ(d.synchronize(), usual);
        const QStringList kept = QDir(dir.qpath()).entryList({QStringLiteral("p.plist.unreadable-*")});
        if (usual) {
            EXPECT_EQ(PropertyList::fromFile(path).toMap().value(QStringLiteral("n")).toInt(), 5);
            ASSERT_EQ(kept.size(), 1);
            QFile copy(dir.qpath() + QLatin1Char('/') + kept[0]);
            ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
            EXPECT_EQ(copy.readAll(), QByteArray("this is not a property list"));
        } else {
            EXPECT_TRUE(d.lastError().contains(QStringLiteral("it is left as it is"))) << d.lastError().toStdString();
            EXPECT_TRUE(d.hasPendingChanges());
            EXPECT_TRUE(kept.isEmpty());
            QFile same(path);
            ASSERT_TRUE(same.open(QIODevice::ReadOnly));
            EXPECT_EQ(same.readAll(), QByteArray("this is not a property list"));
        }

        const QString deep = QString::fromStdString(dir.file("made/here/p.plist"));
        UserDefaults fresh(deep, kind);
        fresh.setInteger(QStringLiteral("n"), 1);
        EXPECT_EQ(fresh.synchronize(), usual);
        EXPECT_EQ(QFileInfo::exists(deep), usual);
        EXPECT_EQ(QFileInfo::exists(QString::fromStdString(dir.file("made"))), usual);
    }
}

TEST(UserDefaults, IsSafeFromManyThreads)
{
    TestTempDir dir;
    UserDefaults d(QString::fromStdString(dir.file("p.plist")));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d, t] {
            for (int i = 0; i < 200; ++i) {
                const QString key = QStringLiteral("k%1").arg(t);
                d.setInteger(key, i);
                (void)d.integerForKey(key);
                (void)d.dictionaryRepresentation();
                if (i % 50 == 0)
                    d.synchronize();
            }
        });
    }
    for (auto& th : threads)
        th.join();
    ASSERT_TRUE(d.synchronize());
    UserDefaults reread(d.filePath());
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(reread.integerForKey(QStringLiteral("k%1").arg(t)), 199);
}

TEST(UserDefaults, TheDefaultFileFollowsTheEnvironment)
{
    const QByteArray oldDefaults = qgetenv("QUILLMARCH_DEFAULTS");
    const bool hadDefaults = qEnvironmentVariableIsSet("QUILLMARCH_DEFAULTS");
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    TestTempDir dir;

    qputenv("QUILLMARCH_DEFAULTS", "/somewhere/else.plist");
    EXPECT_EQ(UserDefaults::defaultFilePath(), QStringLiteral("/somewhere/else.plist"));
    qunsetenv("QUILLMARCH_DEFAULTS");
    qputenv("XDG_CONFIG_HOME", dir.qpath().toUtf8());
    EXPECT_EQ(UserDefaults::defaultFilePath(), dir.qpath() + QStringLiteral("/Quillmarch/Quillmarch.plist"));

    if (hadDefaults)
        qputenv("QUILLMARCH_DEFAULTS", oldDefaults);
    if (hadXdg)
        qputenv("XDG_CONFIG_HOME", oldXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
