// The input-file model: what it finds out about a path, the texts it shows
// through the display interface, its error descriptors, sorting,
// archiving, and the hand-off of finished models to other threads.
#include "FileManager.h"
#include "PathMemoryFile.h"
#include "RawFileSettings.h"
#include "SetFileTypes.h"
#include "TestTempDir.h"
#include "ZuSoundFile.h"
#include "ZuSoundFileDisplay.h"
#include "ZuSoundFileQueue.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Marks every text it gives, so the tests see that the model asks it.
class TestDisplay : public ZuSoundFileDisplay {
public:
    QString localizedString(const QString& key) const override { return QLatin1Char('[') + key + QLatin1Char(']'); }
    QVariant iconForPath(const QString& path) const override { return QStringLiteral("icon:") + path; }
    QString formatDate(const QDateTime& date) const override
    {
        return date.isValid() ? QStringLiteral("date") : QString();
    }
    QString formatSize(uint64_t bytes) const override { return QString::number(bytes) + QStringLiteral(" bytes"); }
};

class ZuSoundFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PathMemoryFile::Register();
        RegisterSetFileTypes();
        PathMemoryFile::store().clear();
        PathMemoryFile::openHook() = nullptr;
        ZuSoundFileDisplay::setInstance(std::make_shared<TestDisplay>());
        RawFileSettings::SetAction(0);
    }
    void TearDown() override
    {
        PathMemoryFile::store().clear();
        PathMemoryFile::openHook() = nullptr;
        ZuSoundFileDisplay::setInstance(nullptr);
        ZuSoundFile::setSortKey(QStringLiteral("filename"));
        ZuSoundFile::setAscendingSort(true);
    }

    // A file on disk typed 'sfil' (so detection takes its HFS type) whose
    // audio is the store entry of its path: mono 16-bit, `frames` frames.
    std::string MakeInput(const std::string& name, UInt32 frames, std::size_t bytesOnDisk = 64)
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << std::string(bytesOnDisk, 'x');
        FSSpec spec{dir.path(), name};
        FInfo info;
        info.fdType = PathMemoryFile::kStoreType;
        info.fdCreator = FOUR_CHAR_CODE("Test");
        EXPECT_EQ(FSpSetFInfo(&spec, &info), noErr);
        PathMemoryFile::PutMono16(path, std::vector<SInt16>(frames, 1000));
        return path;
    }

    TestTempDir dir;
};

TEST_F(ZuSoundFileTest, MissingPathGivesAnUnplayableModelWithoutDescriptor)
{
    const QString path = QString::fromStdString(dir.file("nothing.wav"));
    ZuSoundFile model(path);
    EXPECT_EQ(model.path(), path);
    EXPECT_TRUE(model.descriptor().isNull());
    EXPECT_FALSE(model.isPlayable());
    EXPECT_FALSE(model.icon().isValid());
    EXPECT_FALSE(model.size().has_value());
    EXPECT_FALSE(model.infoAvailable());
    EXPECT_EQ(model.name(), QStringLiteral("nothing.wav"));
}

TEST_F(ZuSoundFileTest, FolderShowsFolderAndNoAudioTexts)
{
    ZuSoundFile model(dir.qpath());
    EXPECT_TRUE(model.isDirectory());
    EXPECT_EQ(model.descriptor(), QStringLiteral("[Folder]"));
    EXPECT_EQ(model.icon().toString(), QStringLiteral("icon:") + dir.qpath());
    EXPECT_FALSE(model.size().has_value());
    EXPECT_TRUE(model.displaySize().isEmpty());
    EXPECT_TRUE(model.displaySampleRate().isEmpty());
    EXPECT_TRUE(model.displayBits().isEmpty());
    EXPECT_TRUE(model.displayWordSize().isEmpty());
    EXPECT_TRUE(model.lengthStr().isEmpty());
    EXPECT_EQ(model.displayHFSType(), QStringLiteral("n/a"));
    const QString text = model.description();
    EXPECT_TRUE(text.startsWith(QStringLiteral("<ZuSoundFile: "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(",\n\tdescription = [Folder],\n\tsize = (null),\n\tinfo = '(null)',"
                                             "\n\tdeep count = 0,\n\tis directory: yes,\n\tis playable: no>")))
        << text.toStdString();
    OSErr error = 1;
    EXPECT_EQ(model.createSoundFile(&error), nullptr);
    EXPECT_EQ(error, noErr);
}

TEST_F(ZuSoundFileTest, FileIsDescribedFromItsSoundFile)
{
    const std::string path = MakeInput("take", 441000, 100);
    SFTRegion region;
    region.start = 0;
    region.end = 1000;
    PathMemoryFile::store()[path].regions = {region, region};
    PathMemoryFile::store()[path].regions[1].start = 2000;
    PathMemoryFile::store()[path].regions[1].end = 3000;
    QFile::setPermissions(QString::fromStdString(path),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    ZuSoundFile model(QString::fromStdString(path));
    EXPECT_TRUE(model.isPlayable());
    EXPECT_TRUE(model.infoAvailable());
    EXPECT_EQ(model.errorCode(), noErr);
    EXPECT_EQ(model.hfsFileType(), PathMemoryFile::kStoreType);
    EXPECT_EQ(model.hfsRealType(), PathMemoryFile::kStoreType);
    EXPECT_EQ(model.hfsCreator(), FOUR_CHAR_CODE("Test"));
    EXPECT_EQ(model.descriptor(), QStringLiteral("Memory"));
    EXPECT_EQ(model.numFrames(), 441000u);
    EXPECT_EQ(model.numChannels(), 1);
    EXPECT_EQ(model.numRegions(), 2u);
    EXPECT_EQ(model.regions().size(), 2);
    EXPECT_EQ(model.size().value_or(0), 100u);
    EXPECT_EQ(model.displaySize(), QStringLiteral("100 bytes"));
    EXPECT_EQ(model.displaySampleRate(), QStringLiteral("44100.00 Hz"));
    EXPECT_EQ(model.lengthStr(), QStringLiteral("00:00:10.000"));
    EXPECT_EQ(model.displayBits(), QStringLiteral("16 bits"));
    EXPECT_EQ(model.displayRegions(), QStringLiteral("2"));
    EXPECT_EQ(model.displayMarkers(), QString());
    EXPECT_EQ(model.displayChannels(), QStringLiteral("1 (mono)"));
    EXPECT_EQ(model.displayHFSType(), QStringLiteral("'sfil'"));
    EXPECT_EQ(model.displayHFSCreator(), QStringLiteral("'Test'"));
    EXPECT_EQ(model.displayPermissions(), QStringLiteral("rw-r--r-- (644)"));
    EXPECT_EQ(model.displayModificationDate(), QStringLiteral("date"));
    EXPECT_EQ(model.displayValueForKey(QStringLiteral("displaySampleRate")), QStringLiteral("44100.00 Hz"));
    EXPECT_TRUE(model.displayValueForKey(QStringLiteral("noSuchReader")).isNull());
    EXPECT_EQ(model.name(), QStringLiteral("take"));
    EXPECT_EQ(model.icon().toString(), QStringLiteral("icon:") + QString::fromStdString(path));

    // The stored object is closed; each request gives a new unopened one.
    ASSERT_NE(model.soundFile(), nullptr);
    EXPECT_FALSE(model.soundFile()->IsOpen());
    OSErr error = 1;
    std::unique_ptr<CSoundFile> first(model.createSoundFile(&error));
    std::unique_ptr<CSoundFile> second(model.createSoundFile(nullptr));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, noErr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(first->GetPath(), path);
}

TEST_F(ZuSoundFileTest, ReadFailuresShowTheirReasonAndAreNotPlayable)
{
    struct Case {
        OSErr code;
        QString descriptor;  // null: none
        bool rightSide;
    };
    const Case cases[] = {
        {-24202, QStringLiteral("[QuickTime Movie without audio track]"), false},
        {-23015, QStringLiteral("[Right side of a split stereo file]"), true},
        {-22008, QStringLiteral("has unknown file format"), false},
        {-12345, QString(), false},
    };
    for (const Case& c : cases) {
        const std::string path = MakeInput("bad" + std::to_string(-c.code), 1000);
        PathMemoryFile::store()[path].openError = c.code;
        ZuSoundFile model(QString::fromStdString(path));
        EXPECT_FALSE(model.isPlayable()) << c.code;
        EXPECT_FALSE(model.infoAvailable()) << c.code;
        EXPECT_EQ(model.soundFile(), nullptr) << c.code;
        EXPECT_EQ(model.errorCode(), c.code);
        EXPECT_EQ(model.isRightSideOfSplit(), c.rightSide) << c.code;
        EXPECT_EQ(model.descriptor().isNull(), c.descriptor.isNull()) << c.code;
        EXPECT_EQ(model.descriptor(), c.descriptor) << c.code;
    }

    // One frame is not worth playing.
    const std::string single = MakeInput("single", 1);
    EXPECT_FALSE(ZuSoundFile(QString::fromStdString(single)).isPlayable());

    // A file that nothing recognises: not playable, size from the file.
    const std::string unknown = dir.file("noise.xyz");
    std::ofstream(unknown, std::ios::binary) << std::string(40, '\1');
    ZuSoundFile model(QString::fromStdString(unknown));
    EXPECT_FALSE(model.isPlayable());
    EXPECT_TRUE(model.descriptor().isNull());
    EXPECT_EQ(model.size().value_or(0), 40u);
    EXPECT_NE(model.errorCode(), noErr);
}

TEST_F(ZuSoundFileTest, ShownWordSizeFollowsTheSampleFormat)
{
    const std::string ulaw = MakeInput("ulaw", 1000);
    PathMemoryFile::store()[ulaw].sampleFormat = kSampleFormatMuLaw;
    EXPECT_EQ(ZuSoundFile(QString::fromStdString(ulaw)).displayWordSize(), QStringLiteral("8 bits"));
    const std::string adpcm = MakeInput("adpcm", 1000);
    PathMemoryFile::store()[adpcm].sampleFormat = kSampleFormatADPCM;
    EXPECT_EQ(ZuSoundFile(QString::fromStdString(adpcm)).displayBits(), QStringLiteral("4 bits"));
}

TEST_F(ZuSoundFileTest, TimeTextSplitsHoursMinutesAndSeconds)
{
    EXPECT_EQ(ZuSoundFile::timeText(3723.0 * 48000, 48000), QStringLiteral("01:02:03.000"));
    EXPECT_EQ(ZuSoundFile::timeText(22050, 44100), QStringLiteral("00:00:00.500"));
    // No rate: no length rather than undefined arithmetic.
    EXPECT_EQ(ZuSoundFile::timeText(1000, 0), QStringLiteral("00:00:00.000"));
}

TEST_F(ZuSoundFileTest, TimeTextRoundsAsPrintfDoes)
{
    // Lengths whose seconds land on and around the rounding of the third
    // decimal (ties, a carry into 60.000), at the usual rates and beyond
    // any real length.
    std::vector<std::pair<double, double>> cases;
    for (double rate : {8000.0, 11025.0, 44100.0, 48000.0, 96000.0, 192000.0, 7.0})
        for (double frames : {0.0, 1.0, 22.0, 23.0, 44.0, 441.0, 2645999.0, 2646000.0, 2879999.0, 2879976.0,
                              1.0e9, 1.0e15, 1.0e20, 1234567.5, 59.9995 * 48000.0, 3599.9999 * 44100.0})
            cases.emplace_back(frames, rate);
    for (unsigned i = 0; i < 20000; ++i)
        cases.emplace_back(double(i) * 37.0 + 0.5, 44100.0 - double(i % 7));
    // Exact ties in binary (k/16, k/32 s) round to even, as printf does.
    for (unsigned k = 0; k < 2000; ++k) {
        cases.emplace_back(double(k), 16.0);
        cases.emplace_back(double(k), 32.0);
    }
    // Lengths of every magnitude, bit patterns drawn from a fixed sequence.
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (unsigned i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        cases.emplace_back(std::ldexp(double(state >> 11), -int(40 + i % 60)), 1.0);
    }
    cases.emplace_back(-0.0, 44100.0);
    cases.emplace_back(4.9e-324, 1.0);
    cases.emplace_back(3600.0 * 44100.0 - 1e-7, 44100.0);
    for (const auto& [frames, rate] : cases) {
        double seconds = frames / rate;
        if (seconds > 2.0e9)
            seconds = 2.0e9;
        const int hours = int(seconds / 3600.0);
        seconds -= double(hours) * 3600.0;
        const int minutes = int(seconds / 60.0);
        seconds -= double(minutes) * 60.0;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%02d:%02d:%06.3f", hours, minutes, seconds);
        ASSERT_EQ(ZuSoundFile::timeText(frames, rate), QString::fromLatin1(expected)) << frames << " / " << rate;
    }
}

TEST_F(ZuSoundFileTest, SortingByNameIgnoresCaseAndFollowsTheDirection)
{
    const auto b = ZuSoundFile::soundFileWithPath(QString::fromStdString(MakeInput("b", 100)));
    const auto a = ZuSoundFile::soundFileWithPath(QString::fromStdString(MakeInput("A", 300)));
    EXPECT_EQ(a->compare(b.get()), -1);
    EXPECT_EQ(b->compare(a.get()), 1);
    EXPECT_EQ(a->compare(a.get()), 0);
    ZuSoundFile::setAscendingSort(false);
    EXPECT_EQ(a->compare(b.get()), 1);
    ZuSoundFile::setAscendingSort(true);
    ZuSoundFile::setSortKey(QStringLiteral("length"));
    EXPECT_EQ(b->compare(a.get()), -1);
    ZuSoundFile::setSortKey(QStringLiteral("noSuchKey"));
    EXPECT_EQ(a->compare(b.get()), 0);
    EXPECT_EQ(a->compare(nullptr), -1);
}

TEST_F(ZuSoundFileTest, ArchiveKeepsTheListedFieldsWithoutExaminingTheFile)
{
    const auto model = ZuSoundFile::soundFileWithPath(QString::fromStdString(MakeInput("take", 4410)));
    const QVariantMap archive = model->encode();
    PathMemoryFile::store().clear();  // the file can no longer be read
    const auto back = ZuSoundFile::decode(archive);
    EXPECT_EQ(back->path(), model->path());
    EXPECT_EQ(back->descriptor(), model->descriptor());
    EXPECT_EQ(back->lengthStr(), model->lengthStr());
    EXPECT_EQ(back->size(), model->size());
    EXPECT_EQ(back->isPlayable(), model->isPlayable());
    EXPECT_EQ(back->hfsFileType(), model->hfsFileType());
    EXPECT_EQ(back->hfsCreator(), model->hfsCreator());
    EXPECT_EQ(back->numFrames(), model->numFrames());
    EXPECT_EQ(back->sampleRate(), model->sampleRate());
    EXPECT_EQ(back->soundFile(), nullptr);
}

TEST_F(ZuSoundFileTest, ModelsReachOtherThreadsOnlyWhenComplete)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(MakeInput("file" + std::to_string(i), 1000 + i));

    // The examination of file2 waits inside Open until the test lets it go.
    std::mutex mutex;
    std::condition_variable cv;
    bool inOpen = false;
    bool release = false;
    PathMemoryFile::openHook() = [&](const std::string& path) {
        if (path != paths[2])
            return;
        std::unique_lock<std::mutex> lock(mutex);
        inOpen = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
    };

    ZuSoundFileQueue queue;
    std::thread worker([&] {
        for (const std::string& path : paths)
            queue.examineAndPublish(QString::fromStdString(path));
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return inOpen; });
    }
    // file2 is half examined: only the two before it are out.
    auto first = queue.takeAll();
    ASSERT_EQ(first.size(), 2u);
    for (const auto& model : first) {
        EXPECT_TRUE(model->infoAvailable());
        EXPECT_EQ(model->descriptor(), QStringLiteral("Memory"));
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    cv.notify_all();
    worker.join();
    const auto rest = queue.takeAll();
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0]->path(), QString::fromStdString(paths[2]));
    EXPECT_EQ(rest[0]->numFrames(), 1002u);
    EXPECT_TRUE(rest[0]->infoAvailable());
    EXPECT_EQ(queue.pending(), 0u);
}

} // namespace
