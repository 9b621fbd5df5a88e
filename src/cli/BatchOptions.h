// The command line of quillmarch-batch:
//
//   quillmarch-batch [options] -o OUTPUT_FOLDER INPUT...
//   quillmarch-batch [--defaults FILE] [--set KEY=VALUE]... --info INPUT...
//   quillmarch-batch [--conversions FILE] [--defaults FILE] --list-conversions
//   quillmarch-batch --list-types | --version | --help
//
// Options: --conversions FILE, --conversion NAME (repeatable), --defaults
// FILE, --set "KEY=VALUE" (repeatable), --info, --list-types,
// --list-conversions, --quiet, --version, -h/--help.  Long
// options take their value as the next argument or after "=" ("--set=K=V");
// "-o" takes the next argument or the rest of its own ("-oOUT"); "--" ends
// the options.  A misspelt option is refused with the closest one; a --set
// KEY must be one of the registered preferences and its VALUE of that
// preference's kind (YES or NO in any case, also true, false, 1 or 0; a
// whole number; a number; text), else the command line is refused with the
// closest key or the values allowed.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

class BatchOptions {
public:
    // Exit status of a usage error (EX_USAGE).
    static constexpr int kUsageExitStatus = 64;

    // Reads `arguments` (without the program name).  Never fails: check
    // ok() and error().
    static BatchOptions parse(const QStringList& arguments);

    // The short usage text and the full help text.
    static QString usage();
    static QString help();
    // The conversions-file guide: the installed copy beside the installed
    // resources, else the source tree's.
    static QString conversionsGuide();

    // A --set value as the user defaults store it: "YES", "NO", "true" and
    // "false" (in any case) as booleans, whole numbers as integers, other
    // numbers as reals (C locale), anything else as text.
    static QVariant defaultValueFromText(const QString& text);

    bool ok() const { return error_.isEmpty(); }
    // Why the command line is not usable; empty when it is.
    const QString& error() const { return error_; }

    bool helpRequested() const { return help_; }
    bool infoMode() const { return info_; }
    bool listTypes() const { return listTypes_; }
    bool listConversions() const { return listConversions_; }
    bool versionRequested() const { return version_; }
    bool quiet() const { return quiet_; }
    const QString& outputFolder() const { return outputFolder_; }
    const QStringList& inputs() const { return inputs_; }
    const QString& conversionsFile() const { return conversionsFile_; }
    const QStringList& conversionNames() const { return conversionNames_; }
    const QString& defaultsFile() const { return defaultsFile_; }
    // The --set pairs in command-line order (a later one for the same key wins).
    const QList<QPair<QString, QVariant>>& settings() const { return settings_; }

private:
    void fail(const QString& message);
    // A file option that may be given once (--conversions, --defaults).
    void setFileOnce(QString* file, const QString& value, const QString& option);

    QString error_;
    bool help_ = false;
    bool info_ = false;
    bool listTypes_ = false;
    bool listConversions_ = false;
    bool version_ = false;
    bool quiet_ = false;
    QString outputFolder_;
    QStringList inputs_;
    QString conversionsFile_;
    QStringList conversionNames_;
    QString defaultsFile_;
    QList<QPair<QString, QVariant>> settings_;
};
