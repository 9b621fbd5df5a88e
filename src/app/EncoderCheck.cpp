#include "EncoderCheck.h"

#include "AppPresenter.h"
#include "MainBundle.h"
#include "CreateSoundFile.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace {

EncoderCheck::VersionProbe& probe()
{
    static EncoderCheck::VersionProbe function;
    return function;
}

qulonglong componentValue(const QString& component)
{
    qulonglong value = 0;
    for (const QChar c : component) {
        if (!c.isDigit())
            break;
        const qulonglong next = value * 10 + qulonglong(c.digitValue());
        if (next < value)
            return ~qulonglong(0);  // absurdly long: saturate
        value = next;
    }
    return value;
}

} // namespace

QString EncoderCheck::minimumVersion()
{
    return QStringLiteral("3.93");
}

int EncoderCheck::compareVersions(const QString& a, const QString& b)
{
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qulonglong x = i < left.size() ? componentValue(left.at(i)) : 0;
        const qulonglong y = i < right.size() ? componentValue(right.at(i)) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

QString EncoderCheck::findEncoder()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("lame"));
    if (!onPath.isEmpty())
        return onPath;
    for (const char* folder : {"/usr/local/bin", "/opt/local/bin", "/usr/bin"}) {
        const QFileInfo info(QString::fromLatin1(folder) + QStringLiteral("/lame"));
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QString();
}

void EncoderCheck::setVersionProbe(VersionProbe function)
{
    probe() = std::move(function);
}

bool EncoderCheck::run(QWidget* parent)
{
    bool usable = false;
    const QString path = findEncoder();
    if (!path.isEmpty() && probe()) {
        if (const std::optional<QString> version = probe()(path)) {
            usable = compareVersions(*version, minimumVersion()) >= 0;
            if (!usable) {
                Alert alert;
                alert.title = MainBundle::localizedString(QStringLiteral("LAME mp3-encoder Too Old"));
                alert.message =
                    MainBundle::localizedString(
                        QStringLiteral("The version of the LAME encoder for mp3 files that is installed on your "
                                       "system is too old. It is version %1, but it has to be version 3.93 or "
                                       "higher. Please refer to the Quillmarch Release Notes in the Help menu to "
                                       "get more information about obtaining the LAME encoder."))
                        .arg(*version);
                AppPresenter::showAlert(alert, parent);
            }
        }
    }
    SetSoundFileProperty('DMP3', QStringLiteral("canBeWritten"), usable);
    return usable;
}
