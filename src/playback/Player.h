// The preview controller behind the main window's play controls.
//
// It holds the input list, the list entry being played (a file or a
// folder, whose playable files are walked one by one) and the file that is
// loaded, owns the engine (AUPlayer, made on the first start that has a
// file), and does next and previous within a folder and within the list,
// automatic playing of the next file, the short blip after each file,
// variable speed and volume.
//
// Everything runs on the thread that made the Player (the GUI thread),
// which must run a Qt event loop: the end of a file, met on the render
// thread, comes back to it as a queued call (dropped when another play has
// begun meanwhile).  What the Player does is
// posted on the default notification center with the Player as sender:
// "Player File Start Notification", "Player File Stop Notification",
// "Player File Pause Notification".
#pragma once

#include "DirWalker.h"
#include "NotificationCenter.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class AUPlayer;
class UserDefaults;
class ZuSoundFile;

class Player {
public:
    using FilePtr = std::shared_ptr<ZuSoundFile>;
    using FileList = QList<FilePtr>;

    static const QString kFileStartNotification;
    static const QString kFileStopNotification;
    static const QString kFilePauseNotification;
    // Posted on the render thread when the engine has played its range.
    static const QString kEngineStopNotification;

    // An empty list raises "BOOL Exception" (FrameworkException).  The
    // volume comes from "Playback Volume" of `defaults` (0 dB when absent);
    // null means the standard user defaults.
    Player(const FileList& inputFiles, float varispeed, bool autoPlayNext, bool blipAtEnd,
           UserDefaults* defaults = nullptr);
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Plays the loaded file from its beginning.  Engine failures raise
    // "OSErr Exception" (FrameworkException) with the error code; the
    // Player then stays as it was, without a started file.
    void start();
    void pause();
    void stop();

    void doNextFromFolder();
    void doPreviousFromFolder();
    void doNextFromInputList();
    void doPreviousFromInputList();

    FilePtr nextFromFolder();
    FilePtr previousFromFolder();
    FilePtr nextFromInputList() const;
    FilePtr previousFromInputList() const;
    int curFileIndex() const;

    bool isPlaying() const;
    bool isPlayingFolder() const;

    // A new list: keeps playing when its first entry is the loaded file,
    // stops otherwise, and points at that first entry.
    void setInputFiles(const FileList& files);
    // The same list after edits (added, removed, sorted rows): only
    // replaces it; what plays goes on.
    void updateInputFiles(const FileList& files) { m_inputFiles = files; }
    const FileList& inputFiles() const { return m_inputFiles; }
    void setFileFromList(const FilePtr& entry);
    const FilePtr& fileFromList() const { return m_fileFromList; }
    void setPlayingFile(const FilePtr& file);
    const FilePtr& playingFile() const { return m_playingFile; }

    void setBlipAtEnd(bool on) { m_blipAtEnd = on; }
    void setAutoPlayNext(bool on) { m_autoPlayNext = on; }
    bool blipAtEnd() const { return m_blipAtEnd; }
    bool autoPlayNext() const { return m_autoPlayNext; }
    void setVarispeed(float varispeed);
    float varispeed() const { return m_varispeed; }
    float volume() const { return m_volume; }

    // The engine (null before the first start); for tests.
    AUPlayer* engine() const { return m_aup.get(); }
    // The blip file (null when the resource is missing) and whether it sounds.
    static FilePtr blipFile();
    static bool isBlipPlaying();

    // The end-of-file decision (normally reached through the engine's end).
    void handleFileStopped();

private:
    void stopForAnotherFile();
    // Stops what plays, hands `file` to `set` and starts it; false (nothing
    // changed) when `file` is null.
    bool playInstead(const FilePtr& file, void (Player::*set)(const FilePtr&));
    void post(const QString& name);
    void processStopped();

    FileList m_inputFiles;
    FilePtr m_playingFile;
    FilePtr m_fileFromList;
    FilePtr m_fileBeforeBlip;  // the file that ended when the blip began
    std::unique_ptr<AUPlayer> m_aup;
    QString m_enginePath;  // the path of the file the engine holds
    float m_varispeed = 1.0f;
    std::unique_ptr<DirWalker> m_dirWalker;
    bool m_autoPlayNext = false;
    bool m_blipAtEnd = false;
    UInt32 m_selBeg = 0;
    UInt32 m_selEnd = 0;
    bool m_stoppedByUser = false;
    float m_volume = 0.0f;
    // Lives on the Player's thread; the render thread queues calls to it.
    std::unique_ptr<QObject> m_receiver;
    NotificationCenter::Token m_observer = 0;
};
