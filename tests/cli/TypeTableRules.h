// The type table as the tests see it: the writable types (by the batch
// command's own rule) and what each type's properties allow, so that a
// conversion to any type is made as the editor makes it.
#pragma once

#include "CliTestSupport.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "FileTypeDictionary.h"
#include "file_type_table.h"

#include <QString>
#include <QVariantMap>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace clitest {

inline QString TypeText(OSType code)
{
    return QString::fromLatin1(QByteArray(1, char(code >> 24)) + char(code >> 16) + char(code >> 8) + char(code));
}

// The writable types of the type table, in its order, by the batch
// command's own rule (the table as the engine builds it at start-up, with
// the MP3 encoder's check).
inline std::vector<std::string> WritableTypes()
{
    EngineStartup::buildFileTypeTable();
    std::vector<std::string> types;
    for (const OSType code : GetFileTypeTableCodes())
        if (FileTypeCanBeWritten(code))
            types.push_back(TypeText(code).toStdString());
    return types;
}

// What a type's properties allow.
struct TypeRules {
    QString type;
    QVariantMap properties;
    int wordLength = 16;
    std::vector<double> rates;  // discrete rates (empty: a range)
    double minRate = 0;
    double maxRate = 0;
    std::set<int> treatments;
    double inputRate = 44100.0;  // of the input converted

    explicit TypeRules(const QString& t, double input = 44100.0) : type(t), inputRate(input)
    {
        const QByteArray code = t.toLatin1();
        properties = GetSoundFileProperties(OSType(UInt8(code[0])) << 24 | OSType(UInt8(code[1])) << 16 |
                                            OSType(UInt8(code[2])) << 8 | OSType(UInt8(code[3])));
        const QVariantList bits = properties.value("numBitsPopup").toList();
        const int index = properties.value("numBitsPopupDefault").toInt();
        if (index >= 0 && index < bits.size() && bits[index].toMap().contains("tag"))
            wordLength = bits[index].toMap().value("tag").toInt();
        for (const QVariant& rate : properties.value("discreteSampleRates").toList())
            rates.push_back(rate.toDouble());
        minRate = properties.value("sampleRateMin").toDouble();
        maxRate = properties.value("sampleRateMax").toDouble();
        for (const QVariant& item : properties.value("channelHandlingPopup").toList())
            if (item.toMap().contains("tag"))
                treatments.insert(item.toMap().value("tag").toInt());
    }
    bool Forces(const char* key) const { return properties.value(QLatin1String(key)).toBool(); }
    // A type that holds one channel only: the editor makes every conversion
    // to it take the type's own channel treatment.
    int ForcedTreatment() const
    {
        if (!Forces("forceChannels") || treatments.count(1))
            return 0;
        const QVariantList items = properties.value("channelHandlingPopup").toList();
        return items.value(properties.value("channelHandlingPopupDefault").toInt()).toMap().value("tag").toInt();
    }
    // A type of fixed rates that does not hold the input's: the editor
    // makes every conversion to it convert to the type's own rate.
    double ForcedRate() const
    {
        return Forces("forceSampleRate") && !HoldsRate(inputRate) ? properties.value("sampleRateDefault").toDouble()
                                                                  : 0.0;
    }
    bool HoldsRate(double rate) const
    {
        if (!rates.empty())
            return std::find(rates.begin(), rates.end(), rate) != rates.end();
        return rate >= minRate && rate <= maxRate;
    }
    // The rate a rate change goes to: the highest discrete rate other than
    // the input's and the forced one, else 22050 Hz when the range holds
    // it, else the type's default.
    double TargetRate() const
    {
        double best = 0;
        for (const double rate : rates)
            if (rate != inputRate && rate != ForcedRate() && rate > best)
                best = rate;
        if (best > 0)
            return best;
        if (!rates.empty())
            return ForcedRate() > 0 ? ForcedRate() : rates.front();
        if (HoldsRate(22050.0))
            return 22050.0;
        return properties.value("sampleRateDefault").toDouble();
    }
};

// `c` converting to `rate` (when the input is not at it, or the type takes
// its rate from the conversion) and with the channel treatment `treatment`
// (0: none).
inline void SetRateAndTreatment(QVariantMap* c, const TypeRules& rules, double rate, int treatment)
{
    if (rate != rules.inputRate || rules.Forces("forceSampleRate")) {
        c->insert("QMCSNeedsSampleRateConversion", true);
        c->insert("QMCSSampleRate", rate);
        // Linear interpolation: the seams are under test here, the filters
        // have tests of their own (and are slow in the sanitizer build).
        c->insert("QMCSSampleRateConvertQuality", 0);
    }
    if (treatment != 0) {
        c->insert("QMCSNeedsChannelTreat", true);
        c->insert("QMCSChannelTreat", treatment);
    }
}

// The plain conversion named `name` to the type, as the editor makes it
// (the type's own rate and channel treatment where it forces them).
inline QVariantMap PlainConversion(const TypeRules& rules, const QString& name)
{
    const QByteArray code = rules.type.toLatin1();
    QVariantMap c = TypedConversion(name.toUtf8().constData(), code.constData(), rules.wordLength, QByteArray());
    SetRateAndTreatment(&c, rules, rules.ForcedRate() > 0 ? rules.ForcedRate() : rules.inputRate,
                        rules.ForcedTreatment());
    return c;
}

}  // namespace clitest
