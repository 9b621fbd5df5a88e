// The main window's small player: a play/stop button, previous and next
// buttons for the input list and for the folder being played, a speed
// slider with its value and a reset, a line that shows what is playing,
// and the "Blip At End" and "Auto Play Next" check boxes, which mirror the
// preferences of the same names.  It drives the one Player (made on the
// first play command and kept) and keeps the controls in step with the
// Player's notifications.  Space toggles play and stop.
//
// GUI thread only.  Without a sound device the window works as before; the
// first play command explains once that nothing can be played, and from
// then on the player's controls are disabled, saying why.
#pragma once

#include "AppCommand.h"
#include "NotificationCenter.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

class ElidingLabel;
class MainController;
class Player;
class QAction;
class QCheckBox;
class QLabel;
class QMenuBar;
class QPushButton;
class QSlider;
class QTableView;
class QWidget;

class PlaybackController : public QObject {
    Q_OBJECT
public:
    static const QString kBlipAtEndChanged;      // "QMBlipAtEndChanged"
    static const QString kAutoPlayNextChanged;   // "QMAutoPlayNextChanged"
    // The preferences the two check boxes mirror.
    static const QString kBlipAtEndKey;          // "Blip At End"
    static const QString kAutoPlayNextKey;       // "Auto Play Next"

    // The controls are made at once (bar()); `window` gets the Space
    // shortcut.
    PlaybackController(MainController& controller, QTableView* inputTable, QWidget* window);
    ~PlaybackController() override;

    // The row of player controls, for the window's layout.
    QWidget* bar() const { return m_bar; }
    // Adds the "Play" menu with the player commands.
    void addMenu(QMenuBar* menuBar);

    // The commands.
    void playFile();
    void stopFile();
    // Space: stop while playing, else play when play is available.
    void togglePlay();
    void playNextFromFolder();
    void playPreviousFromFolder();
    void playNextFromInputList();
    void playPreviousFromInputList();
    // The slider moved: `value` is the new rate.
    void doVariSpeed(double value);
    void resetVariSpeed();
    void rememberVarispeed(float value);
    void blipAtEnd(bool on);
    void autoPlayNext(bool on);

    // Whether a player command is available now.
    bool validate(AppCommand command) const;
    // Whether the player is sounding a file.
    bool isPlaying() const;
    // Enables the buttons and menu items by validate.
    void updateCommands();

    Player* player() const { return m_player.get(); }
    QPushButton* playButton() const { return m_playButton; }
    QPushButton* button(AppCommand command) const;
    QSlider* speedSlider() const { return m_speedSlider; }
    QLabel* speedField() const { return m_speedField; }
    ElidingLabel* playingLine() const { return m_playingLine; }
    QCheckBox* blipCheckBox() const { return m_blipBox; }
    QCheckBox* autoPlayCheckBox() const { return m_autoPlayBox; }
    // True while the play/stop button shows its stop face.
    bool showsStopFace() const { return m_stopFace; }
    // Why nothing can be played (no sound output device); empty while
    // playback is available.
    const QString& unavailableReason() const { return m_unavailable; }

private:
    // The check boxes and the speed from the defaults.
    void loadSettings();
    void soundPlayStart();
    void soundPlayStopOrPause();
    void blipAtEndChanged(const Notification& notification);
    void autoPlayNextChanged(const Notification& notification);
    // One of the two options the check boxes mirror: stored and announced
    // to the other windows; followed by the box (when another window
    // changed it) and by the player.
    void storeOption(const QString& key, const QString& changed, bool on);
    void followOption(const Notification& notification, const QString& key, QCheckBox* box,
                      void (Player::*apply)(bool));
    void setStopFace(bool stop);
    // Playback has failed for want of a sound device: says so once, and
    // the controls follow.
    void setUnavailable();
    void reloadTable();
    // Runs a player command; a failure to play is shown in an alert.
    template <typename Command>
    void run(Command command);
    // Moves the player to another file (a player command) and shows where
    // it is; nothing to move before the first play.
    void movePlayer(void (Player::*move)());
    static float sliderRate(int position);
    static int sliderPosition(double rate);

    MainController& m_controller;
    QPointer<QTableView> m_inputTable;
    QPointer<QWidget> m_window;
    std::unique_ptr<Player> m_player;
    QWidget* m_bar = nullptr;
    QPushButton* m_playButton = nullptr;
    QPushButton* m_prevList = nullptr;
    QPushButton* m_nextList = nullptr;
    QPushButton* m_prevFolder = nullptr;
    QPushButton* m_nextFolder = nullptr;
    QSlider* m_speedSlider = nullptr;
    QLabel* m_speedField = nullptr;  // shows the slider's speed; not typed into
    QPushButton* m_speedReset = nullptr;
    ElidingLabel* m_playingLine = nullptr;
    QCheckBox* m_blipBox = nullptr;
    QCheckBox* m_autoPlayBox = nullptr;
    QAction* m_playAction = nullptr;
    std::vector<std::pair<AppCommand, QAction*>> m_menuActions;
    bool m_stopFace = false;
    QString m_unavailable;
    std::vector<NotificationCenter::Token> m_observers;
};
