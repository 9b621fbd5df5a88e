// Small helpers shared by the platform tests.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

inline QByteArray ReadWholeFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline bool WriteWholeFile(const std::string& path, const QByteArray& bytes)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

inline bool FileExistsAt(const std::string& path)
{
    return QFile::exists(QString::fromStdString(path));
}

// A recognisable byte pattern of `size` bytes.
inline QByteArray Pattern(int size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    return bytes;
}
