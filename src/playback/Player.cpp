#include "Player.h"

#include "AUPlayer.h"
#include "CSoundFile.h"
#include "FrameworkException.h"
#include "MainBundle.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"
#include "error_code_exception.h"
#include "throw_helpers.h"

#include <QMetaObject>

#include <utility>

const QString Player::kFileStartNotification = QStringLiteral("Player File Start Notification");
const QString Player::kFileStopNotification = QStringLiteral("Player File Stop Notification");
const QString Player::kFilePauseNotification = QStringLiteral("Player File Pause Notification");
const QString Player::kEngineStopNotification = QStringLiteral("AUPlayer Stop");

namespace {
// Process-wide: the blip (made by the first Player) and whether it sounds.
Player::FilePtr g_blip;
bool g_blipMade = false;
bool g_blipPlaying = false;
}

Player::FilePtr Player::blipFile() { return g_blip; }
bool Player::isBlipPlaying() { return g_blipPlaying; }

Player::Player(const FileList& inputFiles, float varispeed, bool autoPlayNext, bool blipAtEnd,
               UserDefaults* defaults)
    : m_varispeed(varispeed), m_autoPlayNext(autoPlayNext), m_blipAtEnd(blipAtEnd),
      m_receiver(std::make_unique<QObject>())
{
    RAISE_BOOL_EXCEPTION(!inputFiles.isEmpty());
    if (!g_blipMade) {
        g_blipMade = true;
        const QString blip = MainBundle::pathForResource(QStringLiteral("Bliep"), QStringLiteral("aiff"));
        if (!blip.isEmpty()) {
            auto file = ZuSoundFile::soundFileWithPath(blip);
            if (file && file->isPlayable())
                g_blip = file;
        }
    }
    UserDefaults& store = defaults ? *defaults : UserDefaults::standardUserDefaults();
    m_volume = float(store.doubleForKey(PreferenceKeys::kPlaybackVolume));
    // Ready for the end of a file before anything plays: a folder entry
    // starts at once, and its first file may end before this returns.
    m_observer = NotificationCenter::defaultCenter().addObserver(
        kEngineStopNotification, this, [this](const Notification&) { processStopped(); });
    try {
        setInputFiles(inputFiles);
    } catch (...) {
        NotificationCenter::defaultCenter().removeObserver(m_observer);
        throw;
    }
}

Player::~Player()
{
    NotificationCenter::defaultCenter().removeObserver(m_observer);
    if (m_aup) {
        m_aup->Stop();
        m_aup.reset();
    }
}

void Player::post(const QString& name)
{
    NotificationCenter::defaultCenter().postNotification(name, QVariant(), this);
}

void Player::processStopped()
{
    // On the render thread, inside the engine's render call: hand over only.
    // The end counts only while no other play has begun since (a command
    // that came in first has moved on already).
    const UInt32 play = m_aup ? m_aup->PlayCount() : 0;
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this, play] {
            if (m_aup && m_aup->PlayCount() == play)
                handleFileStopped();
        },
        Qt::QueuedConnection);
}

// ------------------------------------------------------------- choosing

void Player::setInputFiles(const FileList& files)
{
    m_inputFiles = files;
    if (files.isEmpty()) {
        setFileFromList(nullptr);
        return;
    }
    const FilePtr& first = files.first();
    if (m_playingFile && first && m_playingFile->path() != first->path())
        stop();
    setFileFromList(first);
}

void Player::setFileFromList(const FilePtr& entry)
{
    if (entry == m_fileFromList)
        return;
    m_fileFromList = entry;
    if (!entry) {
        setPlayingFile(nullptr);
    } else if (entry->isDirectory()) {
        m_dirWalker = std::make_unique<DirWalker>(entry->path());
        doNextFromFolder();
    } else {
        setPlayingFile(entry->isPlayable() ? entry : nullptr);
    }
}

void Player::setPlayingFile(const FilePtr& file)
{
    if (m_playingFile && (!file || file->path() != m_playingFile->path())) {
        if (m_aup)
            m_aup->Stop();
        post(kFileStopNotification);
    }
    if (file == m_playingFile)
        return;
    if (file) {
        m_playingFile = file;
        m_selBeg = 0;
        m_selEnd = file->numFrames();
    } else {
        m_playingFile.reset();
        if (m_aup) {
            m_aup->SetFile(nullptr);
            m_enginePath.clear();
        }
    }
}

Player::FilePtr Player::nextFromFolder()
{
    if (!m_dirWalker)
        return nullptr;
    for (QString path = m_dirWalker->next(); !path.isNull(); path = m_dirWalker->next()) {
        FilePtr file = ZuSoundFile::soundFileWithPath(path);
        if (file && file->isPlayable())
            return file;
    }
    return nullptr;
}

Player::FilePtr Player::previousFromFolder()
{
    if (!m_dirWalker)
        return nullptr;
    for (QString path = m_dirWalker->prev(); !path.isNull(); path = m_dirWalker->prev()) {
        FilePtr file = ZuSoundFile::soundFileWithPath(path);
        if (file && file->isPlayable())
            return file;
    }
    return nullptr;
}

int Player::curFileIndex() const
{
    if (!m_fileFromList)
        return -1;
    return int(m_inputFiles.indexOf(m_fileFromList));
}

Player::FilePtr Player::nextFromInputList() const
{
    const int index = curFileIndex();
    if (index < 0 || index + 1 >= m_inputFiles.size())
        return nullptr;
    return m_inputFiles.at(index + 1);
}

Player::FilePtr Player::previousFromInputList() const
{
    const int index = curFileIndex();
    if (index <= 0)
        return nullptr;
    return m_inputFiles.at(index - 1);
}

// A play that moves to another file stops the current one without counting
// as the user's stop.
void Player::stopForAnotherFile()
{
    if (isPlaying()) {
        stop();
        m_stoppedByUser = false;
    }
}

bool Player::playInstead(const FilePtr& file, void (Player::*set)(const FilePtr&))
{
    if (!file)
        return false;
    stopForAnotherFile();
    (this->*set)(file);
    start();
    return true;
}

void Player::doNextFromFolder()
{
    if (!playInstead(nextFromFolder(), &Player::setPlayingFile))
        doNextFromInputList();
}

void Player::doPreviousFromFolder()
{
    if (!playInstead(previousFromFolder(), &Player::setPlayingFile))
        doPreviousFromInputList();
}

// At either end of the list the sound stops with the stop notice.
void Player::doNextFromInputList()
{
    if (!playInstead(nextFromInputList(), &Player::setFileFromList))
        stop();
}

void Player::doPreviousFromInputList()
{
    if (!playInstead(previousFromInputList(), &Player::setFileFromList))
        stop();
}

bool Player::isPlaying() const { return m_aup && m_aup->IsPlaying(); }

bool Player::isPlayingFolder() const { return m_fileFromList && m_fileFromList->isDirectory(); }

void Player::setVarispeed(float varispeed)
{
    m_varispeed = varispeed;
    if (m_aup)
        m_aup->SetRate(varispeed);
}

// ------------------------------------------------------------- playing

void Player::start()
{
    m_stoppedByUser = false;
    if (!m_playingFile)
        return;
    // The blip mark belongs to the blip only (a stop during the blip must
    // not leave the next file at the blip's rate).
    if (m_playingFile != g_blip)
        g_blipPlaying = false;
    try {
        const QString path = m_playingFile->path();
        if (!m_aup || m_enginePath != path) {
            OSErr err = noErr;
            CSoundFile* file = m_playingFile->createSoundFile(&err);
            if (!file)
                THROW_IF_ERROR(err ? err : OSErr(paramErr), "no sound file to play");
            m_enginePath.clear();
            if (!m_aup) {
                m_aup = std::make_unique<AUPlayer>(file, [this](const QString& name) {
                    NotificationCenter::defaultCenter().postNotification(name, QVariant(), this);
                });
            } else {
                m_aup->SetFile(file);
            }
            m_enginePath = path;
        }
        m_aup->SetVolume(m_volume);
        m_aup->SetRate(g_blipPlaying ? 1.0f : m_varispeed);
        m_aup->Play(m_selBeg, m_selEnd);
    } catch (const error_code_exception& e) {
        RAISE_OSERR_EXCEPTION(e.code() ? e.code() : ioErr);
    }
    post(kFileStartNotification);
}

void Player::pause()
{
    m_stoppedByUser = true;
    if (m_aup)
        m_aup->Pause();
    post(kFilePauseNotification);
}

void Player::stop()
{
    m_stoppedByUser = true;
    if (m_aup)
        m_aup->Stop();
    post(kFileStopNotification);
}

void Player::handleFileStopped()
{
    if (m_stoppedByUser) {
        post(kFileStopNotification);
        return;
    }
    if (m_blipAtEnd && g_blip) {
        if (!g_blipPlaying) {
            m_fileBeforeBlip = m_playingFile;
            setPlayingFile(g_blip);
            g_blipPlaying = true;
            start();
            return;
        }
        g_blipPlaying = false;
        // Load the file that ended again, so that a later play plays it and
        // not the blip.
        if (FilePtr before = std::exchange(m_fileBeforeBlip, nullptr))
            setPlayingFile(before);
    }
    if (m_autoPlayNext) {
        if (isPlayingFolder())
            doNextFromFolder();
        else
            doNextFromInputList();
        return;
    }
    post(kFileStopNotification);
}
