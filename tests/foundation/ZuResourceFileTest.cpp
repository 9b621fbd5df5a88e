#include "AppleDoubleFile.h"
#include "FileManager.h"
#include "MemoryManager.h"
#include "ResourceManager.h"
#include "TestTempDir.h"
#include "ZuResourceFile.h"
#include "error_code_exception.h"
#include "PeerTools.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr ResType kSTR = FOUR_CHAR_CODE("STR ");

bool Exists(const std::string& path)
{
    return QFile::exists(QString::fromStdString(path));
}

void WriteFile(const std::string& path, const QByteArray& bytes)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// dir/name made empty; its path.
std::string EmptyFile(const TestTempDir& dir, const std::string& name)
{
    const std::string path = dir.file(name);
    WriteFile(path, "");
    return path;
}

Handle HandleOf(const QByteArray& data)
{
    Handle h = NewHandle(data.size());
    std::memcpy(*h, data.constData(), size_t(data.size()));
    return h;
}

QByteArray TakeBytes(Handle h)
{
    QByteArray bytes(*h, qsizetype(GetHandleSize(h)));
    DisposeHandle(h);
    return bytes;
}

int32_t CodeOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const error_code_exception& e) {
        return e.code();
    }
    return 0;
}

// The name a resource has, read straight through the Resource Manager.
std::string NameOf(const std::string& path, ResType type, ResID id)
{
    FSSpec spec;
    PathMakeFSSpec(path, &spec);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    Handle h = Get1Resource(type, id);
    Str255 name = {0};
    GetResInfo(h, nullptr, nullptr, name);
    CloseResFile(ref);
    return std::string(reinterpret_cast<const char*>(name + 1), name[0]);
}

TEST(ZuResourceFile, ReadingAMissingFileOrForkCreatesNothing)
{
    TestTempDir dir;
    const std::string missing = dir.file("missing.sd2");
    {
        ZuResourceFile file(missing, true);
        EXPECT_EQ(CodeOf([&] { file.GetStringResource(1002); }), fnfErr);
        EXPECT_FALSE(file.isOpen());
    }
    EXPECT_FALSE(Exists(missing));
    EXPECT_FALSE(Exists(AppleDoubleFile::SidecarPathFor(missing)));
    {
        // Writing makes the file.
        ZuResourceFile file(QString::fromStdString(missing), true);
        file.PutStringResource(QStringLiteral("2"), 1000, QStringLiteral("sample-size"));
        EXPECT_EQ(QFile(QString::fromStdString(missing)).size(), 0);
        EXPECT_EQ(file.GetStringResource(1000), QStringLiteral("2"));
    }

    const std::string plain = dir.file("plain.sd2");
    WriteFile(plain, "audio");
    ZuResourceFile file(plain, true);
    EXPECT_EQ(CodeOf([&] { file.GetResource(kSTR, 1000); }), errFSForkNotFound);
    EXPECT_FALSE(Exists(AppleDoubleFile::SidecarPathFor(plain)));
    EXPECT_EQ(OpenResFileCount(), 0);

    // Writing creates the fork first.
    Handle data = HandleOf("abc");
    file.PutResource(kSTR, 1000, data, QString());
    DisposeHandle(data);
    EXPECT_TRUE(Exists(AppleDoubleFile::SidecarPathFor(plain)));
    EXPECT_EQ(TakeBytes(file.GetResource(kSTR, 1000)), QByteArray("abc"));
    EXPECT_EQ(file.GetResource(kSTR, 1001), nullptr);
    EXPECT_EQ(file.GetStringResource(1001), QString());
    EXPECT_FALSE(file.isOpen());

    // An empty fork reads as end of file and is given a map when written.
    const std::string empty = EmptyFile(dir, "empty.sd2");
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(empty, &ref), noErr);
    HFSUniStr255 rsrc;
    FSGetResourceForkName(&rsrc);
    ASSERT_EQ(FSCreateResourceFork(&ref, rsrc.length, rsrc.unicode, 0), noErr);
    ZuResourceFile emptyFork(ref, true);
    EXPECT_EQ(CodeOf([&] { emptyFork.GetStringResource(1000); }), eofErr);
    emptyFork.PutStringResource(QStringLiteral("24"), 1000, QString());
    EXPECT_EQ(emptyFork.GetStringResource(1000), QStringLiteral("24"));
}

TEST(ZuResourceFile, ReplacesDataAtItsNewSizeAndRenames)
{
    TestTempDir dir;
    const std::string path = EmptyFile(dir, "song.sd2");
    ZuResourceFile file(path, true);
    const ResType type = FOUR_CHAR_CODE("sdML");

    Handle first = HandleOf(QByteArray(100, 'L'));
    file.PutResource(type, 1000, first, QStringLiteral("markers"));
    Handle second = HandleOf(QByteArray(10, 's'));
    file.PutResource(type, 1000, second, QStringLiteral("markers"));
    // Both handles stay the callers'.
    EXPECT_TRUE(IsValidHandle(first));
    EXPECT_TRUE(IsValidHandle(second));
    DisposeHandle(first);
    DisposeHandle(second);
    EXPECT_EQ(TakeBytes(file.GetResource(type, 1000)), QByteArray(10, 's'));

    Handle larger = HandleOf(QByteArray(300, 'B'));
    file.PutResource(type, 1000, larger, QStringLiteral("other name"));
    DisposeHandle(larger);
    EXPECT_EQ(TakeBytes(file.GetResource(type, 1000)), QByteArray(300, 'B'));
    EXPECT_EQ(NameOf(path, type, 1000), "other name");
    EXPECT_EQ(OpenResFileCount(), 0);

    // A protected resource is still replaced.
    {
        FSSpec spec;
        PathMakeFSSpec(path, &spec);
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
        SetResAttrs(Get1Resource(type, 1000), resProtected);
        CloseResFile(ref);
        ASSERT_EQ(ResError(), noErr);
    }
    Handle third = HandleOf("x");
    file.PutResource(type, 1000, third, QStringLiteral("other name"));
    DisposeHandle(third);
    EXPECT_EQ(TakeBytes(file.GetResource(type, 1000)), QByteArray("x"));
}

TEST(ZuResourceFile, StringResourcesAreMacRomanPascalStrings)
{
    TestTempDir dir;
    const std::string path = EmptyFile(dir, "strings.sd2");
    ZuResourceFile file(path, true);
    file.PutStringResource(QStringLiteral("44100.000000"), 1001, QStringLiteral("sample-rate"));
    file.PutStringResource(QStringLiteral("Caf\u00e9 \u2122"), 1003, QString());
    file.PutStringResource(QString(300, QChar(u'z')), 1004, QString());

    Handle h = file.GetResource(kSTR, 1001);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 256);
    EXPECT_EQ(QByteArray(*h, 13), QByteArray("\x0C" "44100.000000"));
    DisposeHandle(h);
    EXPECT_EQ(NameOf(path, kSTR, 1001), "sample-rate");
    EXPECT_EQ(file.GetStringResource(1003), QStringLiteral("Caf\u00e9 \u2122"));
    EXPECT_EQ(file.GetStringResource(1004), QString(255, QChar(u'z')));
}

// Writes a one-resource 'snd ' fork byte by byte through the open file's
// refNum, as the sound-resource writer does, then reads it back through the
// Resource Manager.
TEST(ZuResourceFile, ForkWrittenByteByByteReadsBackAsResources)
{
    TestTempDir dir;
    const std::string path = dir.file("beep");
    const int frames = 1000;
    QByteArray samples(frames, '\0');
    for (int i = 0; i < frames; ++i)
        samples[i] = char(i * 3);
    const UInt32 a = UInt32(frames);

    SInt16 saved = CurResFile();
    {
        ZuResourceFile file(path, true);
        file.CreateFork(FOUR_CHAR_CODE("sfil"), FOUR_CHAR_CODE("movr"));
        file.Open(fsRdWrPerm);
        const SInt16 fork = file.refNum();

        auto put32 = [](QByteArray& b, int at, UInt32 v) { qToBigEndian<UInt32>(v, b.data() + at); };
        auto put16 = [](QByteArray& b, int at, UInt16 v) { qToBigEndian<UInt16>(v, b.data() + at); };
        QByteArray header(256, '\0');
        put32(header, 0, 256);
        put32(header, 4, 344 + a);
        put32(header, 8, 88 + a);
        put32(header, 12, 306);
        QByteArray snd(88, '\0');
        put32(snd, 0, 84 + a);
        put16(snd, 4, 1);
        put16(snd, 6, 1);
        put16(snd, 8, 5);
        put32(snd, 10, 0xA0);
        put16(snd, 14, 1);
        put16(snd, 16, 0x8051);
        put32(snd, 20, 20);
        put32(snd, 28, 1);
        put32(snd, 32, 22050u << 16);
        snd[44] = char(0xFF);
        snd[45] = 0x3C;
        put32(snd, 46, a);
        put16(snd, 72, 8);
        QByteArray map(306, '\0');
        std::memcpy(map.data(), header.constData(), 16);
        put16(map, 24, 28);
        put16(map, 26, 50);
        put16(map, 28, 0);
        put32(map, 30, FOUR_CHAR_CODE("snd "));
        put16(map, 34, 0);
        put16(map, 36, 10);
        put16(map, 38, 13456);
        put16(map, 40, 0);
        map[42] = 0x20;
        map[50] = 4;
        std::memcpy(map.data() + 51, "beep", 4);

        const QByteArray all = header + snd + samples + map;
        ByteCount written = 0;
        ASSERT_EQ(FSWriteFork(fork, fsAtMark, 0, ByteCount(all.size()), all.constData(), &written), noErr);
        file.Close();
    }
    EXPECT_EQ(CurResFile(), saved);
    FSSpec spec;
    PathMakeFSSpec(path, &spec);
    FInfo finder;
    ASSERT_EQ(FSpGetFInfo(&spec, &finder), noErr);
    EXPECT_EQ(finder.fdType, FOUR_CHAR_CODE("sfil"));
    EXPECT_EQ(finder.fdCreator, FOUR_CHAR_CODE("movr"));

    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(path, &ref), noErr);
    ZuResourceFile file(ref, true);
    file.Open(fsRdPerm);
    SInt16 previous = 0;
    SaveAndUseResFile(&previous, file.refNum());
    SetResLoad(false);
    Handle h = Get1IndResource(FOUR_CHAR_CODE("snd "), 1);
    SetResLoad(true);
    ASSERT_NE(h, nullptr);
    char head[12];
    ReadPartialResource(h, 0, head, 12);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(qFromBigEndian<UInt16>(head), 1);
    QByteArray read(frames, '\0');
    ReadPartialResource(h, 84, read.data(), frames);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(read, samples);
    ReadPartialResource(h, 85, read.data(), frames);
    EXPECT_EQ(ResError(), inputOutOfBounds);
    Str255 name;
    ResID id = 0;
    GetResInfo(h, &id, nullptr, name);
    EXPECT_EQ(id, 13456);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "beep");
    RestoreResFile(&previous);
    EXPECT_EQ(CurResFile(), previous);
    file.Close();
    EXPECT_EQ(OpenResFileCount(), 0);
}

TEST(ZuResourceFile, FailuresRestoreTheCurrentFileAndFreeTheLock)
{
    TestTempDir dir;
    const std::string good = EmptyFile(dir, "good.sd2");
    ZuResourceFile keeper(good, true);
    keeper.PutStringResource(QStringLiteral("1"), 1002, QStringLiteral("channels"));
    keeper.Open(fsRdPerm);
    const SInt16 current = CurResFile();
    ASSERT_EQ(current, keeper.refNum());

    const std::string broken = EmptyFile(dir, "broken.sd2");
    WriteFile(AppleDoubleFile::SidecarPathFor(broken), QByteArray(300, '\x7F'));
    ZuResourceFile bad(broken, true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CodeOf([&] { bad.GetResource(kSTR, 1002); }), mapReadErr);
        Handle h = HandleOf("1");
        EXPECT_EQ(CodeOf([&] { bad.PutResource(kSTR, 1002, h, QString()); }), mapReadErr);
        DisposeHandle(h);
        EXPECT_EQ(CurResFile(), current);
        EXPECT_FALSE(bad.isOpen());
    }
    // The damaged sidecar was not touched.
    QFile sidecar(QString::fromStdString(AppleDoubleFile::SidecarPathFor(broken)));
    EXPECT_EQ(sidecar.size(), 300);
    keeper.Close();
    // The lock is free: another thread gets through.
    QString seen;
    std::thread other([&] { seen = ZuResourceFile(good, true).GetStringResource(1002); });
    other.join();
    EXPECT_EQ(seen, QStringLiteral("1"));
}

TEST(ZuResourceFile, TwoThreadsReadAndWriteTheirOwnFiles)
{
    TestTempDir dir;
    std::atomic<int> mismatches{0};
    auto work = [&](const std::string& path, const QString& tag) {
        ZuResourceFile file(path, true);
        for (int i = 0; i < 40; ++i) {
            const QString text = tag + QString::number(i);
            file.PutStringResource(text, SInt16(1000 + i % 3), QStringLiteral("n"));
            if (file.GetStringResource(SInt16(1000 + i % 3)) != text)
                ++mismatches;
        }
    };
    std::thread one(work, dir.file("one.sd2"), QStringLiteral("one"));
    std::thread two(work, dir.file("two.sd2"), QStringLiteral("two"));
    one.join();
    two.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(OpenResFileCount(), 0);
}

// libsndfile reads a Sound Designer II file whose resource fork (in the
// "._name" sidecar) was written here.
TEST(ZuResourceFile, SoundDesignerForkReadsInLibsndfile)
{
    QM_REQUIRE_PEER("sndfile-info");
    TestTempDir dir;
    const std::string path = dir.file("tone.sd2");
    QByteArray pcm;
    for (int i = 0; i < 4410 * 2; ++i) {
        char s[2];
        qToBigEndian<SInt16>(SInt16((i * 97) % 20000 - 10000), s);
        pcm.append(s, 2);
    }
    WriteFile(path, pcm);
    ZuResourceFile file(path, true);
    file.CreateFork(FOUR_CHAR_CODE("Sd2f"), FOUR_CHAR_CODE("Sd2a"));
    file.PutStringResource(QStringLiteral("2"), 1000, QStringLiteral("sample-size"));
    file.PutStringResource(QStringLiteral("44100.000000"), 1001, QStringLiteral("sample-rate"));
    file.PutStringResource(QStringLiteral("2"), 1002, QStringLiteral("channels"));
    Handle markers = NewHandleClear(8);
    (*markers)[1] = 1;
    file.PutResource(FOUR_CHAR_CODE("sdML"), 1000, markers, QString());
    DisposeHandle(markers);

    const peers::RunResult r = peers::Run("sndfile-info", {QString::fromStdString(path)});
    const QString output = QString::fromUtf8(r.out);
    EXPECT_EQ(r.exitCode, 0) << output.toStdString();
    // Sound Designer II, 16-bit PCM.
    EXPECT_TRUE(output.contains(QStringLiteral("Format      : 0x00160002"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Channels    : 2"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Sample Rate : 44100"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Frames      : 4410"))) << output.toStdString();
}

} // namespace
