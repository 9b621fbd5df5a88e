// The user's preferences: one thread-safe store of registered defaults (the
// program's built-in values, never saved), the user's own values, which
// are kept in an XML property list, and volatile values over both (given
// for one run of the program, as the batch command's --set: never saved).
//
// The file is QUILLMARCH_DEFAULTS when that environment variable is set and
// not empty, else "Quillmarch.plist" in the user's configuration folder for
// the application "Quillmarch" (QStandardPaths::AppConfigLocation).
//
// A file the user names (QUILLMARCH_DEFAULTS, the batch command's
// --defaults, any file given to the constructor) is made when missing in a
// folder that exists, and otherwise written only while it holds a
// dictionary of preferences: it is never moved, and never replaced when it
// holds anything else.  Only the usual file's folder is made when missing,
// and only the usual file is kept aside and replaced when it is unreadable.
//
// Changes stay in memory until synchronize(), which merges them key by key
// into what is on disk (so that another process's changes to other keys
// survive) and replaces the file atomically.
#pragma once

#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

class UserDefaults {
public:
    // The process's store, on the file named above; loaded on first use.
    static UserDefaults& standardUserDefaults();
    // The file standardUserDefaults() uses.
    static QString defaultFilePath();

    enum class FileKind { Usual, Named };
    // Named when QUILLMARCH_DEFAULTS names the file.
    static FileKind defaultFileKind();
    // Why the named file `path` cannot be the preferences file: its folder
    // is missing, or it is there and is not a readable property list
    // holding a dictionary (a folder, an array, anything else).  Empty when
    // it can (a missing file in an existing folder is made when saved).
    static QString namedFileProblem(const QString& path);
    // For the file standardUserDefaults() would use, when it is named: why
    // it cannot be used ("the preferences file 'PATH' cannot be used: ...").
    // Empty when it can, and for the usual file.  Both programs ask before
    // they start.
    static QString defaultFileProblem();

    // A store on a file of its own, loaded at once (a missing file is an
    // empty store).
    explicit UserDefaults(const QString& filePath, FileKind kind = FileKind::Named);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString filePath() const { return filePath_; }

    // The volatile value, else the user's value, else the registered
    // default, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;
    // Stores a property-list value (see PropertyList.h); false, and nothing
    // changed, for any other value.  An invalid QVariant removes the key.
    bool setObject(const QString& key, const QVariant& value);
    void removeObject(const QString& key);

    // Typed reads.  Numbers and strings convert as the Mac does ("YES",
    // "true" and non-zero numbers are true; "42" reads as 42); anything else
    // gives the zero value.  arrayForKey/dictionaryForKey give an empty
    // container unless the value is of that kind.
    bool boolForKey(const QString& key) const;
    qlonglong integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;  // null QString when not a string or number
    QVariantList arrayForKey(const QString& key) const;
    QStringList stringArrayForKey(const QString& key) const;  // empty unless every item is a string
    QVariantMap dictionaryForKey(const QString& key) const;

    void setBool(const QString& key, bool value);
    void setInteger(const QString& key, qlonglong value);
    void setDouble(const QString& key, double value);
    void setString(const QString& key, const QString& value);

    // A value for this process only, read before the user's own: it is
    // never written into the file, whatever is saved and however the
    // process ends, and the user's own value of the key stays as it is
    // (setObject changes that one, unseen while this one stands).  False,
    // and nothing changed, for a value that is no property-list value; an
    // invalid QVariant takes the key's volatile value away.
    bool setVolatileObject(const QString& key, const QVariant& value);
    // Takes every volatile value away.
    void clearVolatileValues();

    // Adds defaults (merged over earlier registrations); values that are no
    // property-list values are skipped.  Registered values are never saved.
    void registerDefaults(const QVariantMap& defaults);
    QVariantMap registeredDefaults() const;

    // The volatile and the user's values merged over the registered
    // defaults.
    QVariantMap dictionaryRepresentation() const;
    // The values the user chose (never the registered defaults): the
    // user's own, with the volatile ones over them.
    QVariantMap persistentValues() const;

    // Writes pending changes: re-reads the file, applies this store's
    // changed and removed keys over it, and replaces the file atomically
    // (temporary file in the same folder, then rename).  Without pending
    // changes it only re-reads.  The usual file, when it cannot be read, is
    // first copied to "<file>.unreadable-<UTC time>" and then replaced; a
    // named one is then left as it is.  False (and an error text) when the
    // file could not be written; the changes then stay pending.
    bool synchronize();
    // Drops pending changes and re-reads the file.
    bool reload();
    bool hasPendingChanges() const;
    QString lastError() const;

private:
    bool loadLocked(QVariantMap& out);
    bool writeLocked(const QVariantMap& values);
    bool keepUnreadableCopyLocked();

    const QString filePath_;
    const FileKind kind_;
    mutable QMutex mutex_;
    QVariantMap registered_;
    QVariantMap values_;
    QVariantMap volatile_;   // never saved
    QSet<QString> changed_;  // keys set or removed since the last synchronize
    QString lastError_;
};
