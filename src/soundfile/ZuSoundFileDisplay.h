// How the input-file model (ZuSoundFile) shows itself: the texts it gives
// in the user's language, the icon of a path and the formatting of dates
// and byte counts.  The model knows nothing of widgets: the application
// installs a subclass that answers with its own icons and formatters; the
// default instance answers with the English texts, no icon, and dates and
// sizes in a fixed English form.
//
// Every member is called from whichever thread examines or shows a model,
// so subclasses must be thread-safe (const and without shared state, or
// locked).  The installed instance can be replaced at any time; a model in
// the middle of a call keeps using the instance it started with.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

class ZuSoundFileDisplay {
public:
    virtual ~ZuSoundFileDisplay();

    // The text shown for one of the model's own texts ("Folder",
    // "QuickTime Movie without audio track", "Right side of a split stereo
    // file").  Default: the key itself.
    virtual QString localizedString(const QString& key) const;
    // The icon of the item at `path`, as the application represents icons
    // (an image or icon object in a QVariant).  Default: none.
    virtual QVariant iconForPath(const QString& path) const;
    // A date in medium date style and medium time style.  Default:
    // "Dec 7, 2026 4:47:40 AM" (English, local time).
    virtual QString formatDate(const QDateTime& date) const;
    // A byte count ("512 B", "1.50 kB").  Default: ByteFormatter.
    virtual QString formatSize(uint64_t bytes) const;

    // The installed instance (the default one until something is set).
    static std::shared_ptr<const ZuSoundFileDisplay> instance();
    // Installs `display`; null brings back the default.
    static void setInstance(std::shared_ptr<const ZuSoundFileDisplay> display);
};
