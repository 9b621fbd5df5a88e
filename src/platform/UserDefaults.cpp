#include "UserDefaults.h"

#include "PropertyList.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

#include <limits>

namespace {

bool isNumber(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
    case QMetaType::Double: case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults()
{
    // Never destroyed: worker threads may read preferences while the process ends.
    static UserDefaults* store = new UserDefaults(defaultFilePath(), defaultFileKind());
    return *store;
}

QString UserDefaults::defaultFilePath()
{
    const QString env = qEnvironmentVariable("QUILLMARCH_DEFAULTS");
    if (!env.isEmpty())
        return env;
    // The application's configuration folder, for the application name
    // "Quillmarch" whatever the running executable is called.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString org = QCoreApplication::organizationName();
    if (!org.isEmpty())
        folder += QLatin1Char('/') + org;
    folder += QStringLiteral("/Quillmarch");
    return folder + QStringLiteral("/Quillmarch.plist");
}

UserDefaults::FileKind UserDefaults::defaultFileKind()
{
    return qEnvironmentVariableIsEmpty("QUILLMARCH_DEFAULTS") ? FileKind::Usual : FileKind::Named;
}

namespace {

enum class Read { Missing, Done, Failed };

// Reads the preferences file `path` into *out; *problem says why it
// failed.  Only a regular file is read (a FIFO would never end).
Read ReadPreferences(const QString& path, QVariantMap* out, QString* problem)
{
    out->clear();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Read::Missing;
    if (info.isDir()) {
        *problem = QStringLiteral("it is a folder");
        return Read::Failed;
    }
    if (!info.isFile()) {
        *problem = QStringLiteral("it is not a regular file");
        return Read::Failed;
    }
    QString error;
    const QVariant root = PropertyList::fromFile(path, &error);
    if (!root.isValid()) {
        *problem = QStringLiteral("it cannot be read: %1").arg(error);
        return Read::Failed;
    }
    if (root.metaType().id() != QMetaType::QVariantMap) {
        *problem = root.metaType().id() == QMetaType::QVariantList
                       ? QStringLiteral("it holds an array, not a dictionary of preferences")
                       : QStringLiteral("it does not hold a dictionary of preferences");
        return Read::Failed;
    }
    *out = root.toMap();
    return Read::Done;
}

// Why the folder of `path` cannot hold it; empty when it can.
QString FolderProblem(const QString& path)
{
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.exists())
        return QStringLiteral("its folder %1 does not exist").arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder.filePath());
    return QString();
}

}  // namespace

QString UserDefaults::namedFileProblem(const QString& path)
{
    QString problem = FolderProblem(path);
    QVariantMap values;
    if (problem.isEmpty())
        ReadPreferences(path, &values, &problem);
    return problem;
}

QString UserDefaults::defaultFileProblem()
{
    if (defaultFileKind() != FileKind::Named)
        return QString();
    const QString path = defaultFilePath();
    const QString problem = namedFileProblem(path);
    return problem.isEmpty() ? QString()
                             : QStringLiteral("the preferences file '%1' cannot be used: %2").arg(path, problem);
}

UserDefaults::UserDefaults(const QString& filePath, FileKind kind) : filePath_(filePath), kind_(kind)
{
    QMutexLocker lock(&mutex_);
    QVariantMap loaded;
    if (loadLocked(loaded))
        values_ = loaded;
}

bool UserDefaults::loadLocked(QVariantMap& out)
{
    QString problem;
    if (ReadPreferences(filePath_, &out, &problem) != Read::Failed)
        return true;  // read, or nothing saved yet
    lastError_ = QStringLiteral("the preferences file %1 cannot be used: %2").arg(filePath_, problem);
    qWarning("%s", qPrintable(lastError_));
    return false;
}

bool UserDefaults::writeLocked(const QVariantMap& values)
{
    QString error;
    const QByteArray xml = PropertyList::toXml(QVariant(values), &error);
    if (xml.isEmpty()) {
        lastError_ = error;
        return false;
    }
    // Only the usual file's folder is made; a named file's must be there.
    const QString folder = QFileInfo(filePath_).absolutePath();
    if (kind_ == FileKind::Named) {
        if (const QString problem = FolderProblem(filePath_); !problem.isEmpty()) {
            lastError_ = QStringLiteral("cannot write %1: %2").arg(filePath_, problem);
            return false;
        }
    } else if (!QDir().mkpath(folder)) {
        lastError_ = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
    }
    // QSaveFile writes a uniquely named temporary file beside the target,
    // flushes it to disk and renames it over the target on commit.
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly)) {
        lastError_ = QStringLiteral("cannot write %1: %2").arg(filePath_, file.errorString());
        return false;
    }
    if (file.write(xml) != xml.size() || !file.commit()) {
        lastError_ = QStringLiteral("cannot write %1: %2").arg(filePath_, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool UserDefaults::keepUnreadableCopyLocked()
{
    const QFileInfo info(filePath_);
    if (!info.exists() && !info.isSymLink())
        return true;
    // A folder, a FIFO or a device is not copied nor replaced.
    if (!info.isFile() || info.isSymLink()) {
        lastError_ += QStringLiteral("; it is left as it is");
        return false;
    }
    const QString stem = filePath_ + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // QFile::copy never replaces an existing file.
    for (int n = 0; n < 100; ++n) {
        const QString target = n == 0 ? stem : stem + QLatin1Char('-') + QString::number(n);
        if (QFile::copy(filePath_, target)) {
            qWarning("unreadable preferences kept as %s", qPrintable(target));
            return true;
        }
    }
    lastError_ = QStringLiteral("cannot keep a copy of the unreadable %1").arg(filePath_);
    return false;
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    QMutexLocker lock(&mutex_);
    for (const QVariantMap* layer : {&volatile_, &values_}) {
        auto it = layer->constFind(key);
        if (it != layer->constEnd())
            return it.value();
    }
    return registered_.value(key);
}

bool UserDefaults::setObject(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        removeObject(key);
        return true;
    }
    if (!PropertyList::isPropertyListValue(value))
        return false;
    QMutexLocker lock(&mutex_);
    values_.insert(key, value);
    changed_.insert(key);
    return true;
}

void UserDefaults::removeObject(const QString& key)
{
    QMutexLocker lock(&mutex_);
    values_.remove(key);
    changed_.insert(key);
}

bool UserDefaults::setVolatileObject(const QString& key, const QVariant& value)
{
    if (value.isValid() && !PropertyList::isPropertyListValue(value))
        return false;
    QMutexLocker lock(&mutex_);
    if (value.isValid())
        volatile_.insert(key, value);
    else
        volatile_.remove(key);
    return true;
}

void UserDefaults::clearVolatileValues()
{
    QMutexLocker lock(&mutex_);
    volatile_.clear();
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v))
        return v.toDouble() != 0.0;
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 ||
            s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        bool ok = false;
        const qlonglong n = s.toLongLong(&ok);
        return ok && n != 0;
    }
    return false;
}

qlonglong UserDefaults::integerForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int id = v.metaType().id();
    if (id == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (id == QMetaType::Double || id == QMetaType::Float) {
        const double d = v.toDouble();
        if (!(d == d))
            return 0;
        if (d >= 9.2233720368547758e18)
            return std::numeric_limits<qlonglong>::max();
        if (d <= -9.2233720368547758e18)
            return std::numeric_limits<qlonglong>::min();
        return static_cast<qlonglong>(d);
    }
    if (isNumber(v))
        return v.toLongLong();
    if (id == QMetaType::QString) {
        bool ok = false;
        const QString s = v.toString().trimmed();
        const qlonglong n = s.toLongLong(&ok);
        if (ok)
            return n;
        const double d = s.toDouble(&ok);
        if (ok && d == d && d > -9.2233720368547758e18 && d < 9.2233720368547758e18)
            return static_cast<qlonglong>(d);
    }
    return 0;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    if (isNumber(v))
        return v.toDouble();
    if (v.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isNumber(v))
        return v.toString();  // Qt formats numbers in the C locale
    return QString();
}

namespace {

// `v` when it holds one of the two types; else an invalid value (read as
// an empty list or dictionary).
QVariant OfTypes(const QVariant& v, int type, int otherType)
{
    const int id = v.metaType().id();
    return id == type || id == otherType ? v : QVariant();
}

} // namespace

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    return OfTypes(objectForKey(key), QMetaType::QVariantList, QMetaType::QStringList).toList();
}

QStringList UserDefaults::stringArrayForKey(const QString& key) const
{
    QStringList out;
    for (const QVariant& item : arrayForKey(key)) {
        if (item.metaType().id() != QMetaType::QString)
            return QStringList();
        out.append(item.toString());
    }
    return out;
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    return OfTypes(objectForKey(key), QMetaType::QVariantMap, QMetaType::QVariantHash).toMap();
}

void UserDefaults::setBool(const QString& key, bool value) { setObject(key, QVariant(value)); }
void UserDefaults::setInteger(const QString& key, qlonglong value) { setObject(key, QVariant(value)); }
void UserDefaults::setDouble(const QString& key, double value) { setObject(key, QVariant(value)); }
void UserDefaults::setString(const QString& key, const QString& value) { setObject(key, QVariant(value)); }

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    QVariantMap accepted;
    for (auto it = defaults.constBegin(); it != defaults.constEnd(); ++it)
        if (PropertyList::isPropertyListValue(it.value()))
            accepted.insert(it.key(), it.value());
    QMutexLocker lock(&mutex_);
    for (auto it = accepted.constBegin(); it != accepted.constEnd(); ++it)
        registered_.insert(it.key(), it.value());
}

QVariantMap UserDefaults::registeredDefaults() const
{
    QMutexLocker lock(&mutex_);
    return registered_;
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    QMutexLocker lock(&mutex_);
    QVariantMap merged = registered_;
    for (const QVariantMap* layer : {&values_, &volatile_})
        for (auto it = layer->constBegin(); it != layer->constEnd(); ++it)
            merged.insert(it.key(), it.value());
    return merged;
}

QVariantMap UserDefaults::persistentValues() const
{
    QMutexLocker lock(&mutex_);
    QVariantMap chosen = values_;
    for (auto it = volatile_.constBegin(); it != volatile_.constEnd(); ++it)
        chosen.insert(it.key(), it.value());
    return chosen;
}

bool UserDefaults::synchronize()
{
    QMutexLocker lock(&mutex_);
    QVariantMap onDisk;
    const bool readable = loadLocked(onDisk);
    if (changed_.isEmpty()) {
        if (readable)
            values_ = onDisk;
        return readable;
    }
    // A readable file keeps the keys this store did not change.  The usual
    // file, unreadable, is kept aside under a new name before it is replaced
    // by this store's values, so that nothing the user had is lost unseen; a
    // named one is left as it is.
    if (!readable && kind_ == FileKind::Named) {
        lastError_ += QStringLiteral("; it is left as it is");
        return false;
    }
    if (!readable && !keepUnreadableCopyLocked())
        return false;
    QVariantMap merged = readable ? onDisk : values_;
    for (const QString& key : std::as_const(changed_)) {
        auto it = values_.constFind(key);
        if (it != values_.constEnd())
            merged.insert(key, it.value());
        else
            merged.remove(key);
    }
    if (!writeLocked(merged))
        return false;
    values_ = merged;
    changed_.clear();
    lastError_.clear();
    return true;
}

bool UserDefaults::reload()
{
    QMutexLocker lock(&mutex_);
    QVariantMap loaded;
    const bool ok = loadLocked(loaded);
    values_ = loaded;
    changed_.clear();
    return ok;
}

bool UserDefaults::hasPendingChanges() const
{
    QMutexLocker lock(&mutex_);
    return !changed_.isEmpty();
}

QString UserDefaults::lastError() const
{
    QMutexLocker lock(&mutex_);
    return lastError_;
}
