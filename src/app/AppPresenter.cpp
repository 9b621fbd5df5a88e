#include "AppPresenter.h"

#include <QDesktopServices>
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
    box.setDefaultButton(defaultButton);
    if (alternateButton)
        box.setEscapeButton(alternateButton);
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
