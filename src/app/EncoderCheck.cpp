#include "EncoderCheck.h"

#include "AppPresenter.h"
#include "EngineStartup.h"
#include "Localized.h"

#include <QVersionNumber>

bool EncoderCheck::run(QWidget* parent)
{
    QString found;
    if (EngineStartup::mp3EncoderUsable(&found))
        return true;
    const QVersionNumber version = QVersionNumber::fromString(found);
    if (EngineStartup::mp3EncoderTooOld(version)) {
        Alert alert;
        alert.title = L("LAME mp3-encoder Too Old");
        alert.message =
            L("The version of the LAME encoder for mp3 files that is installed on your system is too "
              "old. It is version %1, but it has to be version 3.93 or higher. Please install a newer LAME "
              "encoder (the package \"lame\" of your system, or a \"lame\" program on your PATH) and start "
              "Quillmarch again: until then mp3 files cannot be written.")
                .arg(found);
        AppPresenter::showAlert(alert, parent);
    }
    return false;
}
