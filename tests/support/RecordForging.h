// Records of temporary files and publications written byte by byte as the
// program writes them (TemporaryLedger.h, FilePublishing.h), for tests that
// forge, copy or damage them: a ledger with its key beside it and each
// entry sealed, files made exclusively with mode 0600 and written at once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace recordforging {

// One field, ended by its NUL.
QByteArray Field(const QByteArray& text);

// The proof of the item at `path` as a record keeps it: its birth time and
// the file system's handle (where the file system keeps neither, its
// status change time and size).
QByteArray Proof(const QString& path);

// An entry naming `relative` as made (a file, or a folder), with the
// identity and proof of the item at `path`.
QByteArray MadeEntry(const QString& relative, const QString& path, bool folder = false);
// An entry naming `relative` as about to be made.
QByteArray PendingEntry(const QString& relative, bool folder = false);

// Makes the file `path` as the program makes its records: exclusively with
// mode 0600, holding `text` (given the file's device and inode) from its
// birth, asking nothing of it before; made anew while the clock's tick
// passed meanwhile.  False when it cannot be made.
bool WriteOnce(const QString& path, const std::function<QByteArray(quint64 device, quint64 inode)>& text);

// A run's start as its ledger states it, from the birth of the file
// `path` (where births are kept; else the clock's second).
QByteArray StartOf(const QString& path);

// A ledger `path` (a ".run" name) of a run begun at `start`, with its key
// (the same name with ".key"), naming itself -- or the identity given -- and
// holding `entries`, each sealed with the key.  False when it cannot be
// made.
bool WriteLedger(const QString& path, const QByteArray& start, const QList<QByteArray>& entries,
                 quint64 selfDevice = 0, quint64 selfInode = 0);

} // namespace recordforging
