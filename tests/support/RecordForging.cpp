#include "RecordForging.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace recordforging {

namespace {

QByteArray Number(quint64 n)
{
    return Field(QByteArray::number(n));
}

QByteArray Seal(const QByteArray& key, const QByteArray& before, const QByteArray& bytes)
{
    return QMessageAuthenticationCode::hash(before + bytes, key, QCryptographicHash::Sha256).left(16).toHex();
}

} // namespace

QByteArray Field(const QByteArray& text)
{
    return text + QByteArray(1, '\0');
}

QByteArray Proof(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct statx sx {};
    if (::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME | STATX_SIZE, &sx) != 0)
        return QByteArray();
    QByteArray proof;
    if (sx.stx_mask & STATX_BTIME)
        proof = "b" + QByteArray::number(qint64(sx.stx_btime.tv_sec)) + "." + QByteArray::number(sx.stx_btime.tv_nsec);
    alignas(struct file_handle) unsigned char space[sizeof(struct file_handle) + MAX_HANDLE_SZ];
    auto* handle = reinterpret_cast<struct file_handle*>(space);
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mount = 0;
    if (::name_to_handle_at(AT_FDCWD, name.constData(), handle, &mount, 0) == 0)
        proof += (proof.isEmpty() ? "h" : ",h") + QByteArray::number(handle->handle_type) + ":" +
                 QByteArray(reinterpret_cast<const char*>(space + sizeof(struct file_handle)), int(handle->handle_bytes))
                     .toHex();
    if (proof.isEmpty())
        proof = "c" + QByteArray::number(qint64(sx.stx_ctime.tv_sec)) + "." + QByteArray::number(sx.stx_ctime.tv_nsec) +
                ":" + QByteArray::number(quint64(sx.stx_size));
    return proof;
}

QByteArray MadeEntry(const QString& relative, const QString& path, bool folder)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    return Field(folder ? "D" : "F") + Field(relative.toUtf8()) + Number(st.st_dev) + Number(st.st_ino) +
           Field(Proof(path));
}

QByteArray PendingEntry(const QString& relative, bool folder)
{
    return Field(folder ? "d" : "f") + Field(relative.toUtf8());
}

bool WriteOnce(const QString& path, const std::function<QByteArray(quint64, quint64)>& text)
{
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        struct statx sx {};
        bool written = ::statx(fd, "", AT_EMPTY_PATH, STATX_INO, &sx) == 0;
        if (written) {
            const QByteArray bytes = text(makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino);
            written = ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size()) &&
                      ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_CTIME, &sx) == 0;
        }
        ::close(fd);
        if (!written)
            return false;
        if (!(sx.stx_mask & STATX_BTIME) ||
            (sx.stx_ctime.tv_sec == sx.stx_btime.tv_sec && sx.stx_ctime.tv_nsec == sx.stx_btime.tv_nsec))
            return true;
        ::unlink(name.constData());
    }
    return false;
}

QByteArray StartOf(const QString& path)
{
    const QByteArray proof = Proof(path);
    return proof.startsWith('b') ? proof.split(',').first() : "t" + QByteArray::number(qint64(std::time(nullptr)));
}

bool WriteLedger(const QString& path, const QByteArray& start, const QList<QByteArray>& entries, quint64 selfDevice,
                 quint64 selfInode)
{
    QByteArray key(32, '\0');
    for (char& byte : key)
        byte = char(QRandomGenerator::global()->bounded(256));
    const QString keyPath = path.left(path.size() - 4) + ".key";
    quint64 keyDevice = 0, keyInode = 0;
    if (!WriteOnce(keyPath, [&](quint64 device, quint64 inode) {
            keyDevice = device;
            keyInode = inode;
            return Field("QMKEY1") + Field(key.toHex());
        }))
        return false;
    return WriteOnce(path, [&](quint64 device, quint64 inode) {
        const QByteArray header = Field("QMLEDGER2") + Number(selfInode ? selfDevice : device) +
                                  Number(selfInode ? selfInode : inode) + Field(start) + Number(keyDevice) +
                                  Number(keyInode);
        QByteArray seal = Seal(key, QByteArray(), header);
        QByteArray text = header + Field(seal);
        for (const QByteArray& entry : entries) {
            seal = Seal(key, seal, entry);
            text += entry + Field(seal);
        }
        return text;
    });
}

} // namespace recordforging
