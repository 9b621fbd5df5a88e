// The one way the application shows alerts, plays its sounds and hands
// paths to the desktop (the file manager, the default application of a
// file).  By default it
// uses message boxes and QDesktopServices; tests install an answerer that
// records what would have been shown and answers for the user.
//
// Alerts follow the usual answers: the default button answers 1, the
// alternate 0, the other -1.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

struct Alert {
    QString title;
    QString message;
    QString defaultButton;    // "OK" when empty
    QString alternateButton;  // none when empty
    QString otherButton;      // none when empty
    // The default button's action cannot be undone (deleting, resetting,
    // cancelling a batch): Return answers the alternate button (Cancel)
    // instead, so that a key pressed from habit destroys nothing.
    bool destructive = false;
};

class AppPresenter {
public:
    using AlertAnswerer = std::function<int(const Alert&)>;
    using UrlOpener = std::function<bool(const QUrl&)>;
    using SoundPlayer = std::function<void(const QString&)>;

    // Shows the alert modally over `parent` (may be null) and returns the
    // answer.
    static int showAlert(const Alert& alert, QWidget* parent = nullptr);
    // Opens a folder in the file manager or a file with its application.
    static bool openUrl(const QUrl& url);
    // Plays the application's sound `name` (resources/sounds/NAME.wav)
    // through the desktop's sound player program (paplay, pw-play or aplay,
    // whichever is found first), else the system beep.
    static void playSound(const QString& name);

    // Test hooks; an empty function brings back the real behaviour.
    static void setAlertAnswerer(AlertAnswerer answerer);
    static void setUrlOpener(UrlOpener opener);
    static void setSoundPlayer(SoundPlayer player);
};
