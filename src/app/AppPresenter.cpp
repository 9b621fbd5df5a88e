#include "AppPresenter.h"

#include "ControlTools.h"
#include "MainBundle.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QProcess>
#include <QStandardPaths>
#include <QMessageBox>
#include <QPushButton>

namespace {

AppPresenter::AlertAnswerer& answerer()
{
    static AppPresenter::AlertAnswerer function;
    return function;
}

AppPresenter::UrlOpener& opener()
{
    static AppPresenter::UrlOpener function;
    return function;
}

AppPresenter::SoundPlayer& player()
{
    static AppPresenter::SoundPlayer function;
    return function;
}

// A message box sizes itself to its text; a short title over a message that
// wraps makes a box too narrow for its title bar, which shows the title
// with the application's name after it.  The box is made that wide.
void FitTitleBar(QMessageBox& box)
{
    const int width = ControlTools::TitleBarWidth(box.windowTitle());
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
}

} // namespace

int AppPresenter::showAlert(const Alert& alert, QWidget* parent)
{
    if (answerer())
        return answerer()(alert);

    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(alert.title);
    box.setText(alert.title);
    box.setInformativeText(alert.message);
    QPushButton* defaultButton = box.addButton(
        alert.defaultButton.isEmpty() ? QStringLiteral("OK") : alert.defaultButton, QMessageBox::AcceptRole);
    QPushButton* alternateButton = nullptr;
    QPushButton* otherButton = nullptr;
    if (!alert.alternateButton.isEmpty())
        alternateButton = box.addButton(alert.alternateButton, QMessageBox::RejectRole);
    if (!alert.otherButton.isEmpty())
        otherButton = box.addButton(alert.otherButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(alert.destructive && alternateButton ? alternateButton : defaultButton);
    if (alternateButton)
        box.setEscapeButton(alternateButton);
    FitTitleBar(box);
    box.exec();
    if (box.clickedButton() == defaultButton)
        return 1;
    if (otherButton && box.clickedButton() == otherButton)
        return -1;
    return alternateButton ? 0 : 1;
}

bool AppPresenter::openUrl(const QUrl& url)
{
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void AppPresenter::setAlertAnswerer(AlertAnswerer function)
{
    answerer() = std::move(function);
}

void AppPresenter::setUrlOpener(UrlOpener function)
{
    opener() = std::move(function);
}

void AppPresenter::playSound(const QString& name)
{
    if (player()) {
        player()(name);
        return;
    }
    const QString path = MainBundle::pathForResource(name, QStringLiteral("wav"), QStringLiteral("sounds"));
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        for (const char* program : {"paplay", "pw-play", "aplay"}) {
            const QString found = QStandardPaths::findExecutable(QString::fromLatin1(program));
            if (found.isEmpty())
                continue;
            QStringList arguments;
            if (found.endsWith(QLatin1String("aplay")))
                arguments << QStringLiteral("-q");
            arguments << path;
            if (QProcess::startDetached(found, arguments))
                return;
        }
    }
    QApplication::beep();
}

void AppPresenter::setSoundPlayer(SoundPlayer function)
{
    player() = std::move(function);
}
