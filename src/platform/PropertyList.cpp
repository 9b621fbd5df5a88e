#include "PropertyList.h"

#include <algorithm>

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTimeZone>
#include <QVariantList>
#include <QVariantMap>

#include <plist/plist.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// Whether a binary list holds a string (ASCII or UTF-16) with a NUL inside.
// libplist hands such a string out as a dictionary key only through a
// reader that aborts on it, so these lists are refused before parsing.
// Anything malformed answers false: libplist refuses it itself.
bool BinaryListHasNulInString(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const uint64_t size = static_cast<uint64_t>(data.size());
    if (size < 8 + 32)
        return false;
    auto readBE = [&](uint64_t at, unsigned width, uint64_t* value) {
        if (width == 0 || width > 8 || at > size || width > size - at)
            return false;
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i)
            v = (v << 8) | bytes[at + i];
        *value = v;
        return true;
    };
    const uint64_t trailer = size - 32;
    const unsigned offsetSize = bytes[trailer + 6];
    uint64_t count = 0, table = 0;
    if (!readBE(trailer + 8, 8, &count) || !readBE(trailer + 24, 8, &table))
        return false;
    if (offsetSize == 0 || offsetSize > 8 || table > trailer || count > (trailer - table) / offsetSize)
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t at = 0;
        if (!readBE(table + i * offsetSize, offsetSize, &at) || at >= trailer)
            continue;
        const unsigned marker = bytes[at];
        const unsigned type = marker >> 4;
        if (type != 0x5 && type != 0x6)
            continue;
        uint64_t length = marker & 0xF;
        uint64_t pos = at + 1;
        if (length == 0xF) {
            if (pos >= trailer || (bytes[pos] >> 4) != 0x1 || (bytes[pos] & 0xF) > 3)
                continue;
            const unsigned width = 1u << (bytes[pos] & 0xF);
            if (!readBE(pos + 1, width, &length))
                continue;
            pos += 1 + width;
        }
        const uint64_t unit = type == 0x6 ? 2 : 1;
        if (pos > trailer || length > (trailer - pos) / unit)
            continue;
        for (uint64_t k = 0; k < length; ++k) {
            const uint64_t b = pos + k * unit;
            if (bytes[b] == 0 && (unit == 1 || bytes[b + 1] == 0))
                return true;
        }
    }
    return false;
}

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

const QDateTime& referenceDate()
{
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return epoch;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// ------------------------------------------------------------ reading

bool toVariant(plist_t node, int depth, QVariant& out, QString* error)
{
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("property list nested too deeply"));
        return false;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        out = QVariant(b != 0);
        return true;
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        out = QVariant(static_cast<qlonglong>(v));
        return true;
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        out = QVariant(d);
        return true;
    }
    case PLIST_STRING: {
        // By pointer and length: a string with a NUL inside (a damaged or
        // hostile binary list) must not reach libplist's copying reader,
        // which aborts on it.
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        if (length > static_cast<uint64_t>(PropertyList::kMaxInputSize)) {
            setError(error, QStringLiteral("property list string too large"));
            return false;
        }
        out = QVariant(QString::fromUtf8(s ? s : "", s ? static_cast<qsizetype>(length) : 0));
        return true;
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        if (length > static_cast<uint64_t>(PropertyList::kMaxInputSize)) {
            setError(error, QStringLiteral("property list data item too large"));
            return false;
        }
        out = QVariant(QByteArray(p ? p : "", p ? static_cast<qsizetype>(length) : 0));
        return true;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        // libplist hands out the fraction of a date before 2001 without its
        // sign (-1.75 s reads as -1 s and +750000 us).
        const qint64 us = usec;
        const qint64 fractionMs = (us < 0 ? -us : us) / 1000;
        const qint64 ms = static_cast<qint64>(sec) * 1000 + (sec < 0 ? -fractionMs : us / 1000);
        out = QVariant(referenceDate().addMSecs(ms));
        return true;
    }
    case PLIST_UID: {
        uint64_t v = 0;
        plist_get_uid_val(node, &v);
        QVariantMap m;
        m.insert(QStringLiteral("CF$UID"), static_cast<qlonglong>(v));
        out = QVariant(m);
        return true;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            QVariant item;
            if (!toVariant(plist_array_get_item(node, i), depth + 1, item, error))
                return false;
            list.append(item);
        }
        out = QVariant(list);
        return true;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it) {
            out = QVariant(map);
            return true;
        }
        bool ok = true;
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            QVariant item;
            ok = toVariant(value, depth + 1, item, error);
            if (ok)
                map.insert(QString::fromUtf8(key ? key : ""), item);
            std::free(key);
            if (!ok)
                break;
        }
        std::free(it);
        if (!ok)
            return false;
        out = QVariant(map);
        return true;
    }
    default:
        setError(error, QStringLiteral("property list holds an item of unknown type"));
        return false;
    }
}

// ------------------------------------------------------------ writing

bool isIntegerType(int id)
{
    switch (id) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

plist_t fromVariant(const QVariant& v, int depth, QString* error)
{
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("value nested too deeply for a property list"));
        return nullptr;
    }
    const int id = v.metaType().id();
    if (id == QMetaType::Bool)
        return plist_new_bool(v.toBool() ? 1 : 0);
    if (isIntegerType(id)) {
        if (id == QMetaType::ULongLong || id == QMetaType::ULong) {
            const qulonglong u = v.toULongLong();
            if (u > static_cast<qulonglong>(std::numeric_limits<qlonglong>::max())) {
                setError(error, QStringLiteral("integer %1 is too large for a property list").arg(u));
                return nullptr;
            }
        }
        return plist_new_uint(static_cast<uint64_t>(v.toLongLong()));
    }
    if (id == QMetaType::Double || id == QMetaType::Float)
        return plist_new_real(v.toDouble());
    if (id == QMetaType::QString) {
        const QString s = v.toString();
        if (s.contains(QChar(0))) {
            setError(error, QStringLiteral("a string with a NUL character cannot be written"));
            return nullptr;
        }
        return plist_new_string(s.toUtf8().constData());
    }
    if (id == QMetaType::QByteArray) {
        const QByteArray b = v.toByteArray();
        return plist_new_data(b.constData(), static_cast<uint64_t>(b.size()));
    }
    if (id == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid()) {
            setError(error, QStringLiteral("invalid date"));
            return nullptr;
        }
        const qint64 ms = referenceDate().msecsTo(dt);
        qint64 sec = ms / 1000, rem = ms % 1000;
        if (rem < 0) {
            // Before 2001 only whole seconds are kept: libplist cannot read
            // back the fraction of a negative time (see above).
            rem = 0;
            --sec;
        }
        if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max()) {
            setError(error, QStringLiteral("date %1 is outside the property-list range")
                                .arg(dt.toString(Qt::ISODate)));
            return nullptr;
        }
        return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(rem * 1000));
    }
    if (id == QMetaType::QVariantList || id == QMetaType::QStringList) {
        const QVariantList list = v.toList();
        PlistPtr array(plist_new_array());
        for (const QVariant& item : list) {
            plist_t node = fromVariant(item, depth + 1, error);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    if (id == QMetaType::QVariantMap || id == QMetaType::QVariantHash) {
        const QVariantMap map = v.toMap();
        PlistPtr dict(plist_new_dict());
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            if (it.key().contains(QChar(0))) {
                setError(error, QStringLiteral("a key with a NUL character cannot be written"));
                return nullptr;
            }
            plist_t node = fromVariant(it.value(), depth + 1, error);
            if (!node) {
                if (error && !error->contains(QStringLiteral(" (key ")))
                    *error += QStringLiteral(" (key \"%1\")").arg(it.key());
                return nullptr;
            }
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node);
        }
        return dict.release();
    }
    setError(error, QStringLiteral("values of type %1 have no property-list form")
                        .arg(QString::fromLatin1(v.isValid() ? v.typeName() : "invalid")));
    return nullptr;
}

}  // namespace

QVariant PropertyList::fromData(const QByteArray& data, QString* error)
{
    if (data.isEmpty()) {
        setError(error, QStringLiteral("empty property list"));
        return QVariant();
    }
    if (data.size() > kMaxInputSize) {
        setError(error, QStringLiteral("property list too large"));
        return QVariant();
    }
    plist_t root = nullptr;
    const auto length = static_cast<uint32_t>(data.size());
    if (plist_is_binary(data.constData(), length)) {
        if (BinaryListHasNulInString(data)) {
            setError(error, QStringLiteral("property list string with a NUL character"));
            return QVariant();
        }
        plist_from_bin(data.constData(), length, &root);
    }
    else
        plist_from_xml(data.constData(), length, &root);
    PlistPtr owner(root);
    if (!root) {
        setError(error, QStringLiteral("not a readable property list"));
        return QVariant();
    }
    QVariant out;
    if (!toVariant(root, 0, out, error))
        return QVariant();
    return out;
}

namespace {

std::mutex gWaitStopMutex;
std::function<bool()> gWaitStop;

bool WaitStopped()
{
    std::lock_guard<std::mutex> lock(gWaitStopMutex);
    return gWaitStop && gWaitStop();
}

// The whole of a file that is not a regular one, read as its writer sends
// it: waiting for the writer (which may never come) in steps that a stop
// request ends.  *data is cut at `limit` + 1 bytes.  0, or the errno value
// (EINTR: stopped).
int ReadStream(int fd, qint64 limit, QByteArray* data)
{
    char buffer[65536];
    for (;;) {
        struct pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (WaitStopped())
            return EINTR;
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        data->append(buffer, qsizetype(got));
        if (data->size() > limit)
            return 0;
    }
}

} // namespace

void PropertyList::setWaitStop(std::function<bool()> stop)
{
    std::lock_guard<std::mutex> lock(gWaitStopMutex);
    gWaitStop = std::move(stop);
}

QVariant PropertyList::fromFile(const QString& path, QString* error)
{
    // Opened without waiting: a named pipe that nobody writes to does not
    // hold the program in its open.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int e = errno;
        if (fd >= 0)
            ::close(fd);
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e))));
        return QVariant();
    }
    if (!S_ISREG(st.st_mode)) {
        QByteArray data;
        const int e = ReadStream(fd, kMaxInputSize, &data);
        ::close(fd);
        if (e == EINTR) {
            setError(error, QStringLiteral("interrupted while waiting for %1").arg(path));
            return QVariant();
        }
        if (e != 0) {
            setError(error, QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(e))));
            return QVariant();
        }
        if (data.size() > kMaxInputSize) {
            setError(error, QStringLiteral("%1 is too large for a property list").arg(path));
            return QVariant();
        }
        return fromData(data, error);
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return QVariant();
    }
    // Read at most one byte past the limit: a larger (or growing) file is
    // refused without reading it whole.  The request is sized by the file,
    // since a read reserves the whole requested size up front.
    const qint64 want = std::min<qint64>(std::max<qint64>(file.size(), 0), kMaxInputSize) + 1;
    QByteArray data = file.read(want);
    while (data.size() == want && data.size() <= kMaxInputSize) {
        const QByteArray more = file.read(std::min<qint64>(1 << 20, kMaxInputSize + 1 - data.size()));
        if (more.isEmpty())
            break;
        data += more;
    }
    if (data.size() > kMaxInputSize) {
        setError(error, QStringLiteral("%1 is too large for a property list").arg(path));
        return QVariant();
    }
    if (file.error() != QFileDevice::NoError) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return QVariant();
    }
    return fromData(data, error);
}

QByteArray PropertyList::toData(const QVariant& value, Format format, QString* error)
{
    PlistPtr root(fromVariant(value, 0, error));
    if (!root)
        return QByteArray();
    char* bytes = nullptr;
    uint32_t length = 0;
    QByteArray out;
    if (format == Format::Binary) {
        plist_to_bin(root.get(), &bytes, &length);
        if (bytes)
            out = QByteArray(bytes, static_cast<qsizetype>(length));
        plist_to_bin_free(bytes);
    } else {
        plist_to_xml(root.get(), &bytes, &length);
        if (bytes)
            out = QByteArray(bytes, static_cast<qsizetype>(length));
        plist_to_xml_free(bytes);
    }
    if (out.isEmpty())
        setError(error, QStringLiteral("the property list could not be written"));
    return out;
}

bool PropertyList::isPropertyListValue(const QVariant& value)
{
    // Plain numbers and flags are answered without building a node.
    const int id = value.metaType().id();
    if (id == QMetaType::Bool || id == QMetaType::Double || id == QMetaType::Float)
        return true;
    if (isIntegerType(id)) {
        if (id == QMetaType::ULongLong || id == QMetaType::ULong)
            return value.toULongLong() <= static_cast<qulonglong>(std::numeric_limits<qlonglong>::max());
        return true;
    }
    PlistPtr node(fromVariant(value, 0, nullptr));
    return static_cast<bool>(node);
}
