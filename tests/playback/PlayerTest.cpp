// The Player over real files on disk with an output paced by the clock:
// next and previous within folders and the input list, automatic next file,
// the blip after a file, replacing the list, and the application without a
// sound device.
#include "PlaybackTestApp.h"
#include "AUPlayer.h"
#include "EngineStartup.h"
#include "FrameworkException.h"
#include "NotificationCenter.h"
#include "NullAudioOutput.h"
#include "Player.h"
#include "TestTempDir.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

// A mono 16-bit WAVE file of `frames` frames of a quiet tone.
void WriteWave(const std::string& path, UInt32 frames)
{
    std::string data(std::size_t(frames) * 2, '\0');
    for (UInt32 i = 0; i < frames; ++i) {
        const auto s = SInt16((i % 100) * 50 - 2500);
        data[2 * i] = char(s & 0xFF);
        data[2 * i + 1] = char((s >> 8) & 0xFF);
    }
    auto le32 = [](UInt32 v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto le16 = [](UInt16 v) { return std::string{char(v), char(v >> 8)}; };
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << le32(36 + UInt32(data.size())) << "WAVEfmt " << le32(16) << le16(1) << le16(1)
        << le32(44100) << le32(88200) << le16(2) << le16(16) << "data" << le32(UInt32(data.size())) << data;
}

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        StartPlaybackTestApp();
    }

    void SetUp() override
    {
        AudioOutput::SetFactory([this] {
            auto made = std::make_unique<NullAudioOutput>(44100.0, speed, 256);
            output = made.get();
            return made;
        });
        defaults = std::make_unique<UserDefaults>(QString::fromStdString(dir.file("defaults.plist")));
    }
    void TearDown() override
    {
        player.reset();
        AUPlayer::SetTestHook(nullptr);
        AudioOutput::SetFactory(nullptr);
        NotificationCenter::defaultCenter().removeObserver(token);
    }

    Player::FilePtr Make(const std::string& relative, UInt32 frames = 2205)
    {
        const std::string path = dir.file(relative);
        QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
        if (frames)
            WriteWave(path, frames);
        else
            std::ofstream(path) << "not a sound file";
        return ZuSoundFile::soundFileWithPath(QString::fromStdString(path));
    }
    Player::FilePtr Folder(const std::string& relative)
    {
        return ZuSoundFile::soundFileWithPath(QString::fromStdString(dir.file(relative)));
    }

    // Makes the player, recording its notifications from then on.
    void MakePlayer(const Player::FileList& list, bool autoNext, bool blip)
    {
        token = NotificationCenter::defaultCenter().addObserver(QString(), nullptr, [this](const Notification& n) {
            // (A folder entry starts playing inside the constructor.)
            const auto* sender = static_cast<const Player*>(n.sender);
            if (!sender)
                return;
            if (n.name == Player::kFileStartNotification) {
                events << QStringLiteral("start ") + QFileInfo(sender->playingFile()->path()).fileName();
                volumes << sender->engine()->Volume();
            }
            else if (n.name == Player::kFileStopNotification)
                events << QStringLiteral("stop");
            else if (n.name == Player::kFilePauseNotification)
                events << QStringLiteral("pause");
        });
        player = std::make_unique<Player>(list, 1.0f, autoNext, blip, defaults.get());
    }

    // Runs the event loop until `done` holds (10 s at most).
    template <typename Done>
    bool Wait(Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }
    // The start events so far, without the stops in between.
    QStringList Starts() const { return events.filter(QStringLiteral("start ")); }

    // How much faster than real time the output plays: fast for the tests
    // that wait for files to end, real time for those that must not see one
    // (0: only when pumped).
    double speed = 50.0;
    NullAudioOutput* output = nullptr;  // the engine's
    TestTempDir dir;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<Player> player;
    QStringList events;
    QList<float> volumes;  // the engine's at each start
    NotificationCenter::Token token = 0;
};

// Files that end in the output's own time, and files that end the moment
// they start (the folder's first one before the Player's constructor, which
// starts it, has returned).
class PlayerWalkTest : public PlayerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlayerWalkTest, AutoPlayNextWalksFoldersThenTheListThenStops)
{
    if (GetParam()) {
        speed = 0;
        AUPlayer::SetTestHook([this](AUPlayer&, AUPlayer::TestPoint point) {
            if (point == AUPlayer::TestPoint::kPlaying)
                output->Pump(44100);
        });
    }
    Make("A/a1.wav");
    Make("A/a0-broken.wav", 0);  // not playable: skipped
    Make("A/sub/a2.wav");
    auto folder = Folder("A");
    auto last = Make("b.wav");
    defaults->setDouble(QStringLiteral("Playback Volume"), -6.0);
    MakePlayer({folder, last}, true, false);  // a folder entry starts at once
    ASSERT_TRUE(Wait([&] { return events.size() >= 1 && events.last() == "stop" && !player->isPlaying()
                                  && Starts().size() == 3; }))
        << events.join(", ").toStdString();
    EXPECT_EQ(Starts().join(", ").toStdString(), "start a1.wav, start a2.wav, start b.wav");
    EXPECT_EQ(player->fileFromList(), last);
    EXPECT_EQ(volumes, QList<float>(3, -6.0f)) << "the first file too plays at the user's volume";
}

INSTANTIATE_TEST_SUITE_P(Ends, PlayerWalkTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AtOnce" : "Paced"; });

// A file ends, and before its end reaches the Player the user moves on:
// the end belongs to the file the user left and moves nothing further.
TEST_F(PlayerTest, AnEndOvertakenByTheUsersNextIsDropped)
{
    speed = 0;  // rendered only when pumped
    auto a = Make("a.wav");
    auto b = Make("b.wav", 441000);
    MakePlayer({a, b, Make("c.wav")}, true, false);
    player->start();
    output->Pump(44100);  // a ends; its end waits in the event queue
    player->doNextFromInputList();
    QCoreApplication::processEvents();
    EXPECT_EQ(player->playingFile(), b);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(Starts().join(", ").toStdString(), "start a.wav, start b.wav");
}

TEST_F(PlayerTest, NextAndPreviousWithinFoldersAndTheList)
{
    speed = 1.0;
    auto first = Make("one.wav", 441000);
    Make("F/x1.wav", 441000);
    Make("F/x2-broken.wav", 0);
    Make("F/x3.wav", 441000);
    auto folder = Folder("F");
    auto third = Make("three.wav", 441000);
    MakePlayer({first, folder, third}, false, false);
    EXPECT_EQ(player->curFileIndex(), 0);
    EXPECT_EQ(player->previousFromInputList(), nullptr);
    player->doPreviousFromInputList();
    EXPECT_EQ(events.join(", ").toStdString(), "stop") << "nothing before the first entry";

    player->start();
    player->doNextFromInputList();  // into the folder: its first playable file
    EXPECT_TRUE(player->isPlayingFolder());
    player->doNextFromFolder();     // x2 is skipped
    player->doPreviousFromFolder(); // back over x2 to x1
    player->doNextFromFolder();
    player->doNextFromFolder();     // past the folder's end: the next entry
    EXPECT_EQ(player->fileFromList(), third);
    EXPECT_EQ(player->nextFromInputList(), nullptr);
    // Entering a folder from the list starts its first file twice: once as
    // the folder is chosen, once as the list entry is started.
    EXPECT_EQ(Starts().join(", ").toStdString(), "start one.wav, start x1.wav, start x1.wav, start x3.wav, "
                                                 "start x1.wav, start x3.wav, start three.wav");
    EXPECT_TRUE(player->isPlaying());
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(events.last(), "pause");
}

TEST_F(PlayerTest, BlipFollowsTheFileAtNormalSpeedThenTheFileIsLoadedAgain)
{
    auto file = Make("song.wav");
    MakePlayer({file}, false, true);
    ASSERT_NE(Player::blipFile(), nullptr) << "the first Player reads the blip resource";
    EXPECT_LT(Player::blipFile()->numFrames(), 44100u / 4) << "the blip is short";
    player->setVarispeed(1.5f);
    player->start();
    EXPECT_FLOAT_EQ(player->engine()->Rate(), 1.5f);
    ASSERT_TRUE(Wait([&] { return Starts().size() == 2; }));
    EXPECT_EQ(Starts().last(), "start Bliep.aiff");
    EXPECT_FLOAT_EQ(player->engine()->Rate(), 1.0f) << "the blip plays at normal speed";
    ASSERT_TRUE(Wait([&] { return !Player::isBlipPlaying(); }));
    EXPECT_EQ(events.last(), "stop");
    EXPECT_EQ(player->playingFile(), file) << "a later play plays the file, not the blip";
    player->start();
    EXPECT_FLOAT_EQ(player->engine()->Rate(), 1.5f);
}

TEST_F(PlayerTest, ReplacingTheListStopsOnlyWhenTheFirstEntryChanges)
{
    speed = 1.0;
    auto a = Make("a.wav", 441000);
    auto b = Make("b.wav", 441000);
    MakePlayer({a, b}, false, false);
    player->start();
    player->setInputFiles({a});
    EXPECT_TRUE(player->isPlaying());
    player->setInputFiles({b, a});
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->playingFile(), b);
    EXPECT_EQ(events.last(), "stop");
}

TEST_F(PlayerTest, WithoutASoundDeviceStartRaisesAndNothingPlays)
{
    AudioOutput::SetFactory([] { return std::unique_ptr<AudioOutput>(); });
    MakePlayer({Make("a.wav")}, false, false);
    try {
        player->start();
        FAIL() << "start without a device";
    } catch (const FrameworkException& e) {
        EXPECT_EQ(e.name(), "OSErr Exception");
        EXPECT_NE(std::string(e.reason()).find("Error "), std::string::npos);
    }
    EXPECT_EQ(player->engine(), nullptr);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(Starts().isEmpty());
    EXPECT_THROW(Player({}, 1.0f, false, false, defaults.get()), FrameworkException);
}

}  // namespace
