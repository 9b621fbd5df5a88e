// Conversion lists and preference files as the batch reads them: any
// property list gives conversions (or none) whose descriptions, names and
// dictionaries can be made, and preferences whose values can be read.
#include "ConvSpec.h"
#include "FuzzTarget.h"
#include "PropertyList.h"
#include "UserDefaults.h"

#include <QFile>
#include <QVariantList>

std::vector<std::string> FuzzSeeds()
{
    const QByteArray factory = [] {
        QFile file(QStringLiteral(QM_SOURCE_RESOURCES "/Factory_Conversions.plist"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    const QVariantList list = PropertyList::fromData(factory).toList();
    const QByteArray binary = PropertyList::toBinary(list.mid(0, 1));
    const QByteArray prefs = PropertyList::toXml(QVariantMap{{"Save Log", true},
                                                             {"Unrecognized Input File Action", 1},
                                                             {"Conversions", list.mid(1, 1)}});
    return {factory.toStdString(), binary.toStdString(), prefs.toStdString()};
}

namespace {

void Exercise(const QVariant& value)
{
    if (value.typeId() != QMetaType::QVariantMap)
        return;
    const ConvSpecRef spec = ConvSpec::fromDictionary(value.toMap());
    if (!spec)
        return;
    (void)spec->descriptionForLog();
    (void)spec->conversionName();
    (void)PropertyList::toXml(spec->dictionary());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariant value = PropertyList::fromData(bytes);
    // A conversion list.
    for (const QVariant& entry : value.toList())
        Exercise(entry);
    Exercise(value);
    // A preferences file.
    const std::string path = FuzzWriteInput(data, size, ".plist");
    UserDefaults defaults(QString::fromStdString(path));
    (void)defaults.boolForKey(QStringLiteral("Save Log"));
    (void)defaults.integerForKey(QStringLiteral("Unrecognized Input File Action"));
    for (const QVariant& entry : defaults.objectForKey(QStringLiteral("Conversions")).toList())
        Exercise(entry);
    return 0;
}
