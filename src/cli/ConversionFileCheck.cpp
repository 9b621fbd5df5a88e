#include "ConversionFileCheck.h"

#include "ClosestNames.h"
#include "ConvSpec.h"
#include "ConversionCheck.h"
#include "ConversionList.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "InputInfo.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

enum class Kind { Flag, Long, Real, Text, TypeCode, Dictionary };

struct KeyRule {
    const QString* key;
    Kind kind;
    // Allowed range of a number (inclusive); NaN: no limit on that side.
    double low;
    double high;
    const char* unit;
};

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// Every key with its kind and, for numbers, its range regardless of the
// other settings.
const std::vector<KeyRule>& Rules()
{
    static const std::vector<KeyRule> rules = {
        {&ConvSpec::kActiveKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kBitRatePerChannelKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kCeiledMaxKey, Kind::Real, kNone, kNone, ""},
        {&ConvSpec::kCeilingKey, Kind::Real, kNone, 0.0, " dBFS"},
        {&ConvSpec::kChannelTreatKey, Kind::Long, 0, 8, ""},
        {&ConvSpec::kCommentKey, Kind::Text, kNone, kNone, ""},
        {&ConvSpec::kCompressionBoostKey, Kind::Real, 0.0, kNone, " dB"},
        {&ConvSpec::kCompressionReleaseKey, Kind::Real, 0.0, kNone, ""},
        {&ConvSpec::kCompressionTypeKey, Kind::Long, kNone, kNone, ""},
        {&ConvSpec::kConversionNameKey, Kind::Text, kNone, kNone, ""},
        {&ConvSpec::kCopyExtrasKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kFadeInTimeKey, Kind::Real, 0.0, kNone, " ms"},
        {&ConvSpec::kFadeOutTimeKey, Kind::Real, 0.0, kNone, " ms"},
        {&ConvSpec::kGateAttenuationKey, Kind::Real, kNone, 0.0, " dB"},
        {&ConvSpec::kGateGapLengthKey, Kind::Real, 0.0, kNone, " s"},
        {&ConvSpec::kGateThresholdKey, Kind::Real, kNone, 0.0, " dBFS"},
        {&ConvSpec::kHasValidMaxKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kMaxKey, Kind::Real, kNone, kNone, ""},
        {&ConvSpec::kNameExtensionKey, Kind::Text, kNone, kNone, ""},
        {&ConvSpec::kNeedsChannelTreatKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsCompressionKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsCompressorKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsExtractionKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsFadesKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsGainKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsGateKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsNameExtensionKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsNewWordLengthKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsNormalizeKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsReditherKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsSampleRateConversionKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsSnipKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsStrictFileTypeKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kNeedsStripKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kOutputFileTypeKey, Kind::TypeCode, kNone, kNone, ""},
        {&ConvSpec::kSampleRateKey, Kind::Real, 1000.0, 192000.0, " Hz"},
        {&ConvSpec::kSampleRateConvertQualityKey, Kind::Long, 0, 4, ""},
        {&ConvSpec::kSnipFromKey, Kind::Real, 0.0, kNone, " s"},
        {&ConvSpec::kSnipToKey, Kind::Real, 0.0, kNone, " s"},
        {&ConvSpec::kSpecificsKey, Kind::Dictionary, kNone, kNone, ""},
        {&ConvSpec::kSpecificsValidKey, Kind::Flag, kNone, kNone, ""},
        {&ConvSpec::kStripMarginKey, Kind::Real, 0.0, kNone, " ms"},
        {&ConvSpec::kWordLengthKey, Kind::Long, kNone, kNone, ""},
    };
    return rules;
}

const KeyRule* RuleFor(const QString& key)
{
    for (const KeyRule& rule : Rules())
        if (*rule.key == key)
            return &rule;
    return nullptr;
}

bool IsIntegerValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::Short: case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

// A number: <integer> or <real>.  Text is no number, whatever it holds
// (the application and every property-list writer store numbers as
// numbers).
std::optional<double> NumberOf(const QVariant& v)
{
    if (IsIntegerValue(v))
        return double(v.toLongLong());
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return v.toDouble();
    return std::nullopt;
}

// Text that reads whole as a number in the C locale.
std::optional<double> NumberInText(const QVariant& v)
{
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const double d = QLocale::c().toDouble(v.toString().trimmed(), &ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

bool IsFlag(const QVariant& v)
{
    if (v.typeId() == QMetaType::Bool || IsIntegerValue(v))
        return true;
    if (v.typeId() == QMetaType::QString) {
        const QString t = v.toString().trimmed().toLower();
        return t == QLatin1String("yes") || t == QLatin1String("no") || t == QLatin1String("true") ||
               t == QLatin1String("false") || t == QLatin1String("1") || t == QLatin1String("0");
    }
    return false;
}

QString KindText(Kind kind)
{
    switch (kind) {
    case Kind::Flag: return QStringLiteral("a boolean (<true/> or <false/>)");
    case Kind::Long: return QStringLiteral("a whole number (<integer>)");
    case Kind::Real: return QStringLiteral("a number (<real> or <integer>)");
    case Kind::Text: return QStringLiteral("text (<string>)");
    case Kind::TypeCode: return QStringLiteral("a type code as a whole number (see --list-types)");
    case Kind::Dictionary: return QStringLiteral("a dictionary (<dict>)");
    }
    return QString();
}

QString NumberText(double value)
{
    return QLocale::c().toString(value, 'g', 10);
}

QString ValueText(const QVariant& v)
{
    if (v.typeId() == QMetaType::QString)
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    if (const std::optional<double> n = NumberOf(v))
        return NumberText(*n);
    return QString::fromLatin1(v.typeName());
}

QString RangeText(double low, double high, const char* unit)
{
    const QString u = QString::fromLatin1(unit);
    if (!std::isnan(low) && !std::isnan(high))
        return QStringLiteral("%1 to %2%3").arg(NumberText(low), NumberText(high), u);
    if (!std::isnan(low))
        return QStringLiteral("%1%2 or more").arg(NumberText(low), u);
    return QStringLiteral("%1%2 or less").arg(NumberText(high), u);
}

bool InRange(double value, double low, double high)
{
    if (!std::isfinite(value))
        return false;
    return (std::isnan(low) || value >= low) && (std::isnan(high) || value <= high);
}

}  // namespace

QStringList ConversionFileCheck::knownKeys()
{
    QStringList keys;
    for (const KeyRule& rule : Rules())
        keys.append(*rule.key);
    return keys;
}

QVariantMap ConversionFileCheck::withDefaults(const QVariantMap& dictionary)
{
    return ConversionList::withDefaults(dictionary);
}

QStringList ConversionFileCheck::problems(const QVariant& item, int index)
{
    QStringList found;
    if (item.typeId() != QMetaType::QVariantMap) {
        found.append(QStringLiteral("item %1 of the conversions file is not a conversion dictionary (<dict>)")
                         .arg(index + 1));
        return found;
    }
    const QVariantMap given = item.toMap();
    const QString givenName = given.value(ConvSpec::kConversionNameKey).toString().trimmed();
    const QString who = QStringLiteral("conversion %1 '%2'")
                            .arg(index + 1)
                            .arg(givenName.isEmpty() ? ConvSpec::defaultConversionName() : givenName);
    auto report = [&](const QString& text) { found.append(who + QStringLiteral(": ") + text); };

    bool kindsOk = true;
    for (auto it = given.cbegin(); it != given.cend(); ++it) {
        const KeyRule* rule = RuleFor(it.key());
        if (!rule) {
            const QStringList closest = ClosestNames::find(it.key(), knownKeys(), 1);
            report(QStringLiteral("unknown key '%1'%2")
                       .arg(it.key(), closest.isEmpty() ? QString()
                                                        : QStringLiteral(" (did you mean '%1'?)").arg(closest.first())));
            continue;
        }
        const QVariant& v = it.value();
        bool ok = true;
        switch (rule->kind) {
        case Kind::Flag: ok = IsFlag(v); break;
        case Kind::Long: ok = NumberOf(v).has_value() && std::trunc(*NumberOf(v)) == *NumberOf(v); break;
        case Kind::Real: ok = NumberOf(v).has_value(); break;
        case Kind::Text: ok = v.typeId() == QMetaType::QString; break;
        case Kind::TypeCode: ok = IsIntegerValue(v); break;
        case Kind::Dictionary: ok = v.typeId() == QMetaType::QVariantMap; break;
        }
        if (!ok) {
            QString hint;
            // A number written as text: how to write it as the kind it is.
            if (const std::optional<double> n = NumberInText(v);
                n && (rule->kind == Kind::Long || rule->kind == Kind::Real)) {
                const bool whole = std::trunc(*n) == *n;
                hint = whole ? QStringLiteral(" (write <integer>%1</integer>)").arg(NumberText(*n))
                             : QStringLiteral(" (write <real>%1</real>)").arg(NumberText(*n));
            }
            if (rule->kind == Kind::TypeCode && v.typeId() == QMetaType::QString) {
                QString text = v.toString();
                if (text.size() == 6 && text.startsWith(QLatin1Char('\'')) && text.endsWith(QLatin1Char('\'')))
                    text = text.mid(1, 4);
                const OSType code = HFSTypeCodeFromFileType(text);
                if (code != 0 && !GetFileTypeEntry(code).isEmpty())
                    hint = QStringLiteral(" ('%1' is <integer>%2</integer>)").arg(text).arg(qint32(code));
            }
            report(QStringLiteral("%1 is %2; it must be %3%4")
                       .arg(it.key(), ValueText(v), KindText(rule->kind), hint));
            kindsOk = false;
            continue;
        }
        if (rule->kind == Kind::Long || rule->kind == Kind::Real) {
            const double n = *NumberOf(v);
            if (!InRange(n, rule->low, rule->high)) {
                report(QStringLiteral("%1 is %2, out of range (allowed: %3)")
                           .arg(it.key(), NumberText(n), std::isnan(rule->low) && std::isnan(rule->high)
                                                             ? QStringLiteral("a finite number")
                                                             : RangeText(rule->low, rule->high, rule->unit)));
            }
        }
        if (rule->kind == Kind::Text && *rule->key == ConvSpec::kConversionNameKey && givenName.isEmpty())
            report(QStringLiteral("%1 is empty; a conversion needs a name (it names its output folder)")
                       .arg(it.key()));
    }
    if (!kindsOk || !found.isEmpty())
        return found;

    // The checks that depend on other settings, over the conversion as it
    // will run (missing keys at their defaults).
    const QVariantMap d = withDefaults(given);
    const OSType type = OSType(d.value(ConvSpec::kOutputFileTypeKey).toLongLong() & 0xFFFFFFFF);
    if (GetFileTypeEntry(type).isEmpty()) {
        report(QStringLiteral("%1 %2 ('%3') is not a type this program knows (see --list-types)")
                   .arg(ConvSpec::kOutputFileTypeKey)
                   .arg(qint32(type))
                   .arg(InputInfo::typeCodeText(type)));
        return found;
    }
    const ConvSpecRef spec = ConvSpec::fromDictionary(d);
    for (const QString& problem :
         ConversionCheck::problems(*spec, [&given](const QString& key) { return given.contains(key); }))
        report(problem);
    return found;
}

QStringList ConversionFileCheck::problems(const QVariantList& array)
{
    QStringList found;
    for (int i = 0; i < int(array.size()); ++i)
        found += problems(array.at(i), i);
    return found;
}

QStringList ConversionFileCheck::warnings(const QVariantList& array)
{
    // The options some type reads ("specificsKeys" of its properties), and
    // the settings block every type has.
    QStringList known{ConvSpec::kOldDataKey};
    const QVariantMap table = LoadSoundFileProperties();
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        for (const QString& key : it.value().toMap().value(QStringLiteral("specificsKeys")).toStringList())
            if (!known.contains(key))
                known.append(key);
    QStringList found;
    for (int i = 0; i < int(array.size()); ++i) {
        const QVariantMap given = array.at(i).toMap();
        const QVariantMap specifics = given.value(ConvSpec::kSpecificsKey).toMap();
        const QString name = given.value(ConvSpec::kConversionNameKey).toString().trimmed();
        for (auto it = specifics.cbegin(); it != specifics.cend(); ++it) {
            if (known.contains(it.key()))
                continue;
            const QStringList closest = ClosestNames::find(it.key(), known, 1);
            found.append(QStringLiteral("conversion %1 '%2': %3 key '%4' is not an option of any output type and "
                                        "is ignored%5")
                             .arg(i + 1)
                             .arg(name.isEmpty() ? ConvSpec::defaultConversionName() : name, ConvSpec::kSpecificsKey,
                                  it.key(),
                                  closest.isEmpty() ? QString()
                                                    : QStringLiteral(" (did you mean '%1'?)").arg(closest.first())));
        }
    }
    return found;
}
