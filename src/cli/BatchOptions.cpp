#include "BatchOptions.h"

#include "ClosestNames.h"
#include "EngineStartup.h"
#include "MainBundle.h"
#include "PreferenceKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <iterator>

namespace {

// The long options that take a value.
enum class ValueOption { None, Output, Conversions, Conversion, Defaults, Set };

ValueOption valueOptionFor(const QString& name)
{
    if (name == QLatin1String("--conversions"))
        return ValueOption::Conversions;
    if (name == QLatin1String("--conversion"))
        return ValueOption::Conversion;
    if (name == QLatin1String("--defaults"))
        return ValueOption::Defaults;
    if (name == QLatin1String("--set"))
        return ValueOption::Set;
    return ValueOption::None;
}

// Every option's name, for the closest one to a misspelt option.
const QStringList& OptionNames()
{
    static const QStringList names = {"-o", "--conversions", "--conversion", "--defaults", "--set", "--info",
                                      "--quiet", "--list-types", "--list-conversions", "--version", "--help"};
    return names;
}

// " (did you mean 'X'?)" when one of `names` is a plausible slip for `wanted`.
QString ClosestHint(const QString& wanted, const QStringList& names)
{
    const QStringList closest = ClosestNames::find(wanted, names, 1);
    if (closest.isEmpty() ||
        ClosestNames::distance(wanted, closest.first()) > std::max<qsizetype>(2, closest.first().size() / 4))
        return QString();
    return QStringLiteral(" (did you mean '%1'?)").arg(closest.first());
}

// The value of a --set for the preference `key` as the preferences hold
// it (of the registered default's kind), or why it cannot be.
QVariant SettingValue(const QString& key, const QString& text, QString* problem)
{
    static const QVariantMap registered = EngineStartup::registeredDefaults();
    const auto known = registered.constFind(key);
    if (known == registered.cend()) {
        // Every preference is a plausible slip target here: the closest
        // is given whatever its distance.
        const QStringList closest = ClosestNames::find(key, registered.keys(), 1);
        *problem = QStringLiteral("--set: unknown preference '%1'%2")
                       .arg(key, closest.isEmpty() ? QString()
                                                   : QStringLiteral(" (did you mean '%1'?)").arg(closest.first()));
        return QVariant();
    }
    const QVariant value = BatchOptions::defaultValueFromText(text);
    QString allowed;
    switch (known->typeId()) {
    case QMetaType::Bool:
        if (value.typeId() == QMetaType::Bool)
            return value;
        if (value.typeId() == QMetaType::LongLong && (value.toLongLong() == 0 || value.toLongLong() == 1))
            return value.toLongLong() == 1;  // as a property list's <integer> flag
        allowed = QStringLiteral("YES or NO");
        break;
    case QMetaType::LongLong:
        if (value.typeId() == QMetaType::LongLong) {
            if (const QString why = EngineStartup::preferenceProblem(key, value, text); !why.isEmpty()) {
                *problem = QStringLiteral("--set: ") + why;
                return QVariant();
            }
            return value;
        }
        allowed = QStringLiteral("a whole number");
        break;
    case QMetaType::Double:
        if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Double) {
            // A number the preference can never take is refused here, where
            // it is set, rather than when the first file needs it.
            if (const QString why = EngineStartup::preferenceProblem(key, value, text); !why.isEmpty()) {
                *problem = QStringLiteral("--set: ") + why;
                return QVariant();
            }
            return value.toDouble();
        }
        allowed = QStringLiteral("a number (as 22050 or 22050.5)");
        break;
    case QMetaType::QString:
        if (const QString why = EngineStartup::preferenceProblem(key, text, text); !why.isEmpty()) {
            *problem = QStringLiteral("--set: ") + why;
            return QVariant();
        }
        return text;
    default:
        *problem = QStringLiteral("--set: '%1' holds a list and cannot be set here%2")
                       .arg(key, key == PreferenceKeys::kConversions ? QStringLiteral(" (use --conversions FILE)")
                                                                     : QString());
        return QVariant();
    }
    *problem = QStringLiteral("--set: '%1' takes %2, not '%3'").arg(key, allowed, text);
    return QVariant();
}

}  // namespace

QString BatchOptions::usage()
{
    return QStringLiteral(
        "usage: quillmarch-batch [options] -o OUTPUT_FOLDER INPUT...\n"
        "       quillmarch-batch [--defaults FILE] [--set KEY=VALUE]... --info INPUT...\n"
        "       quillmarch-batch [--conversions FILE] --list-conversions\n"
        "       quillmarch-batch --list-types | --version\n"
        "Try 'quillmarch-batch --help' for more information.\n");
}

QString BatchOptions::conversionsGuide()
{
    // Installed: share/doc/Quillmarch beside share/quillmarch/resources; in
    // the source tree: docs beside resources.
    const QString resources = MainBundle::resourcesPath();
    if (!resources.isEmpty()) {
        for (const char* relative : {"/../../doc/Quillmarch/conversions.md", "/../docs/conversions.md"}) {
            const QString path = QDir::cleanPath(resources + QLatin1String(relative));
            if (QFileInfo::exists(path))
                return path;
        }
    }
    return QStringLiteral("conversions.md (installed with the documentation)");
}

QString BatchOptions::help()
{
    return QStringLiteral(
        "usage: quillmarch-batch [options] -o OUTPUT_FOLDER INPUT...\n"
        "       quillmarch-batch [--defaults FILE] [--set KEY=VALUE]... --info INPUT...\n"
        "       quillmarch-batch [--conversions FILE] --list-conversions\n"
        "       quillmarch-batch --list-types | --version\n"
        "\n"
        "Runs every active conversion over the input files and folders (folders are\n"
        "walked and mirrored); each conversion writes into its own subfolder of\n"
        "OUTPUT_FOLDER, named after the conversion.  A missing OUTPUT_FOLDER is\n"
        "created (with its missing parents).  The log is written into OUTPUT_FOLDER\n"
        "and its path alone printed on standard output (nothing when the log could\n"
        "not be written: standard error says where and why); progress, and a line for\n"
        "every input that fails, is skipped or converts with a warning, go to\n"
        "standard error.  Inputs are never overwritten.  An active conversion that\n"
        "cannot run (MP3 without the encoder 'lame', a type that is never written)\n"
        "is left out and the others run: it is said once on standard error and in\n"
        "the log with why, the summary counts its files as not converted, and the\n"
        "exit status is 1.\n"
        "\n"
        "Samples beyond full scale (a float input's above 1.0 or below -1.0, the\n"
        "overshoot of a rate conversion or a gain) are clipped wherever the output\n"
        "or the processing holds integers, and the input's line says how many: \"has\n"
        "samples beyond full scale: N samples clipped\".  A float input kept as its\n"
        "type stays float, unless another word length is asked (which is written);\n"
        "a float-to-float copy that changes nothing else keeps every value between\n"
        "float WAVE and AIFF-C fl32 files (a float CAF is clipped at full scale).\n"
        "\n"
        "  -o FOLDER            the output folder (created when missing)\n"
        "  --conversions FILE   a property list holding an array of conversions\n"
        "                       (default: the \"Conversions\" preference, else the\n"
        "                       factory conversions); every key, its units and\n"
        "                       values: %1\n"
        "  --conversion NAME    run only the conversions of these names, active or\n"
        "                       not, in any case when that names one (repeatable)\n"
        "  --defaults FILE      the preferences file to use (made when missing; its\n"
        "                       folder must exist)\n"
        "  --set KEY=VALUE      a preference for this run only: YES or NO (any case,\n"
        "                       also true, false, 1, 0), a number or text, as the\n"
        "                       preference takes (repeatable)\n"
        "  --info               describe each INPUT, and every file below an INPUT\n"
        "                       folder (walked as a batch walks it), as one line of\n"
        "                       JSON; \"regions\" counts the regions a file holds;\n"
        "                       converts nothing\n"
        "  --list-conversions   list the conversions (active or not) and exit\n"
        "  --list-types         list every file type: its code as a conversions file\n"
        "                       holds it, as four characters, how its files are read\n"
        "                       (yes: as that type; as 'MooV': as another type; raw:\n"
        "                       as headerless input, through the raw-file settings\n"
        "                       or the sidecar written beside it), whether it is\n"
        "                       written, its extension and\n"
        "                       name; then what the media libraries read besides\n"
        "                       (FLAC, Ogg, ...)\n"
        "  --quiet              no progress on standard error\n"
        "  --version            the version, the resources folder and the\n"
        "                       preferences file, and exit\n"
        "  -h, --help           this text\n"
        "\n"
        "Preferences live in ~/.config/Quillmarch/Quillmarch.plist (an XML property\n"
        "list; $XDG_CONFIG_HOME replaces ~/.config), or in the file named by\n"
        "--defaults or by the environment variable QUILLMARCH_DEFAULTS.  A named file\n"
        "that is not a dictionary of preferences (an array such as a conversions\n"
        "file, a folder, anything unreadable), or whose folder is missing, is refused\n"
        "with status 64 and left as it is.\n"
        "\n"
        "An output whose name is already taken fails with a duplicate filename\n"
        "error and the existing file is kept.  To number duplicates instead\n"
        "(NAME-1.aif, NAME-2.aif, ...), set the preference \"Number Duplicate Files\":\n"
        "  --set \"Number Duplicate Files=YES\"\n"
        "\n"
        "Exit status: 0 every file converted (or listed, or described); 1 some files\n"
        "failed, an active conversion could not run (its files were not converted),\n"
        "the log could not be written, or none converted while some were skipped\n"
        "(with --info: an input that cannot be read); 2 the batch stopped or could\n"
        "not start: a fatal\n"
        "error (a full disk, also when the MP3 encoder or the renaming of outputs\n"
        "meets it), an interrupt, the output folder removed while the batch ran, an\n"
        "output folder that cannot be made, used or written into (named, with the\n"
        "reason), or a conversion's output folder that exists while \"Easy Thru\" is\n"
        "NO; 64 bad usage: an unknown option or preference, a value of the wrong\n"
        "kind or out of its range, a conversions or preferences file that cannot be\n"
        "used, QUILLMARCH_RESOURCES naming a folder that is missing or holds no\n"
        "resources, an input that does not exist (also with --info), or an output\n"
        "folder inside an input folder (nothing is made); 130 a second Ctrl-C (the\n"
        "program ends at once); 141 standard output or error was a pipe that closed:\n"
        "the batch ends, its log without an end; the next run in that output folder\n"
        "removes what it left under temporary names.\n")
        .arg(conversionsGuide());
}

QVariant BatchOptions::defaultValueFromText(const QString& text)
{
    for (const char* yes : {"YES", "TRUE"})
        if (text.compare(QLatin1String(yes), Qt::CaseInsensitive) == 0)
            return true;
    for (const char* no : {"NO", "FALSE"})
        if (text.compare(QLatin1String(no), Qt::CaseInsensitive) == 0)
            return false;
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const qlonglong whole = c.toLongLong(text, &ok);
    if (ok)
        return whole;
    const double real = c.toDouble(text, &ok);
    if (ok && !text.trimmed().isEmpty())
        return real;
    return text;
}

void BatchOptions::fail(const QString& message)
{
    if (error_.isEmpty())
        error_ = message;
}

void BatchOptions::setFileOnce(QString* file, const QString& value, const QString& option)
{
    if (!file->isEmpty())
        fail(QStringLiteral("only one %1 file can be given").arg(option));
    else if (value.isEmpty())
        fail(QStringLiteral("the %1 file name is empty").arg(option));
    *file = value;
}

BatchOptions BatchOptions::parse(const QStringList& arguments)
{
    BatchOptions options;
    bool outputGiven = false;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            options.inputs_.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // Options that switch something on.
        static const struct {
            const char* name;
            bool BatchOptions::*flag;
        } kSwitches[] = {
            {"-h", &BatchOptions::help_},
            {"--help", &BatchOptions::help_},
            {"--info", &BatchOptions::info_},
            {"--quiet", &BatchOptions::quiet_},
            {"--list-types", &BatchOptions::listTypes_},
            {"--list-conversions", &BatchOptions::listConversions_},
            {"--version", &BatchOptions::version_},
        };
        const auto named = std::find_if(std::begin(kSwitches), std::end(kSwitches),
                                        [&](const auto& option) { return argument == QLatin1String(option.name); });
        if (named != std::end(kSwitches)) {
            options.*(named->flag) = true;
            continue;
        }

        // Options with a value.
        ValueOption kind = ValueOption::None;
        QString name = argument;
        QString value;
        bool hasValue = false;
        if (argument.startsWith(QLatin1String("-o"))) {
            kind = ValueOption::Output;
            name = QStringLiteral("-o");
            if (argument.size() > 2) {
                value = argument.mid(2);
                hasValue = true;
            }
        } else if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (equals > 0) {
                name = argument.left(equals);
                value = argument.mid(equals + 1);
                hasValue = true;
            }
            kind = valueOptionFor(name);
        }
        if (kind == ValueOption::None) {
            const bool isSwitch = std::any_of(std::begin(kSwitches), std::end(kSwitches),
                                              [&](const auto& option) { return name == QLatin1String(option.name); });
            if (isSwitch)
                options.fail(QStringLiteral("option '%1' takes no value").arg(name));
            else
                options.fail(QStringLiteral("unknown option '%1'%2").arg(argument, ClosestHint(name, OptionNames())));
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                options.fail(QStringLiteral("option '%1' needs a value").arg(name));
                continue;
            }
            value = arguments.at(++i);
        }
        switch (kind) {
        case ValueOption::Output:
            if (outputGiven)
                options.fail(QStringLiteral("only one output folder (-o) can be given"));
            else if (value.isEmpty())
                options.fail(QStringLiteral("the output folder (-o) is empty"));
            outputGiven = true;
            options.outputFolder_ = value;
            break;
        case ValueOption::Conversions:
            options.setFileOnce(&options.conversionsFile_, value, QStringLiteral("--conversions"));
            break;
        case ValueOption::Conversion:
            if (value.isEmpty())
                options.fail(QStringLiteral("--conversion needs a name"));
            else if (!options.conversionNames_.contains(value))
                options.conversionNames_.append(value);
            break;
        case ValueOption::Defaults:
            options.setFileOnce(&options.defaultsFile_, value, QStringLiteral("--defaults"));
            break;
        case ValueOption::Set: {
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            if (equals <= 0) {
                // A name with spaces, unquoted, comes in words: the words
                // up to the one holding '=' say what was meant.
                QStringList words{value};
                for (qsizetype next = i + 1; equals < 0 && next < arguments.size() && next <= i + 8; ++next) {
                    words.append(arguments.at(next));
                    if (arguments.at(next).contains(QLatin1Char('=')))
                        break;
                }
                const bool split = equals < 0 && words.size() > 1 && words.last().contains(QLatin1Char('='));
                options.fail(QStringLiteral("--set needs KEY=VALUE, not '%1': quote it whole when it has spaces, "
                                            "as in --set \"%2\"")
                                 .arg(value, split ? words.join(QLatin1Char(' '))
                                                   : QStringLiteral("Number Duplicate Files=YES")));
                break;
            }
            QString problem;
            const QString key = value.left(equals);
            const QVariant setting = SettingValue(key, value.mid(equals + 1), &problem);
            if (!problem.isEmpty())
                options.fail(problem);
            else
                options.settings_.append({key, setting});
            break;
        }
        case ValueOption::None:
            break;
        }
    }

    if (options.help_ || !options.ok())
        return options;
    const int listings = int(options.listTypes_) + int(options.listConversions_) + int(options.version_);
    if (listings > 0) {
        if (listings > 1 || options.info_)
            options.fail(QStringLiteral("--list-types, --list-conversions, --version and --info go alone"));
        else if (!options.inputs_.isEmpty() || outputGiven)
            options.fail(QStringLiteral("a listing takes no inputs and no -o"));
        else if (!options.listConversions_ &&
                 (!options.conversionsFile_.isEmpty() || !options.conversionNames_.isEmpty()))
            options.fail(QStringLiteral("only --list-conversions reads conversions"));
        return options;
    }
    if (options.inputs_.isEmpty())
        options.fail(QStringLiteral("no input files or folders given"));
    if (options.info_) {
        if (outputGiven || !options.conversionsFile_.isEmpty() || !options.conversionNames_.isEmpty())
            options.fail(QStringLiteral("--info converts nothing: it takes no -o, --conversions or --conversion"));
    } else if (!outputGiven) {
        options.fail(QStringLiteral("no output folder given (-o OUTPUT_FOLDER)"));
    }
    return options;
}
