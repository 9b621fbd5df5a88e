#include "ZuSoundFileDisplay.h"

#include "ByteFormatter.h"

#include <QLocale>

#include <mutex>

namespace {

std::mutex g_displayMutex;
std::shared_ptr<const ZuSoundFileDisplay> g_display;

} // namespace

ZuSoundFileDisplay::~ZuSoundFileDisplay() = default;

QString ZuSoundFileDisplay::localizedString(const QString& key) const
{
    return key;
}

QVariant ZuSoundFileDisplay::iconForPath(const QString&) const
{
    return QVariant();
}

QString ZuSoundFileDisplay::formatDate(const QDateTime& date) const
{
    if (!date.isValid())
        return QString();
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(date.toLocalTime(), QStringLiteral("MMM d, yyyy h:mm:ss AP"));
}

QString ZuSoundFileDisplay::formatSize(uint64_t bytes) const
{
    return ByteFormatter().stringForObjectValue(QVariant::fromValue<qulonglong>(bytes));
}

std::shared_ptr<const ZuSoundFileDisplay> ZuSoundFileDisplay::instance()
{
    std::lock_guard<std::mutex> lock(g_displayMutex);
    if (!g_display)
        g_display = std::make_shared<const ZuSoundFileDisplay>();
    return g_display;
}

void ZuSoundFileDisplay::setInstance(std::shared_ptr<const ZuSoundFileDisplay> display)
{
    std::lock_guard<std::mutex> lock(g_displayMutex);
    g_display = std::move(display);
}
