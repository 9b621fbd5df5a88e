// Property lists from outside (the version list the update check fetches,
// stored defaults) on damaged input: read or refused, never a crash; what
// reads writes again.
#include "FuzzTarget.h"
#include "PropertyList.h"

#include <QByteArray>
#include <QStringList>
#include <QVariantMap>

std::vector<std::string> FuzzSeeds()
{
    const QVariantMap list{{QStringLiteral("Current Version"), QStringLiteral("4.2")},
                           {QStringLiteral("Old Versions"), QStringList{QStringLiteral("4.0"), QStringLiteral("4.1")}},
                           {QStringLiteral("DownloadURLDemo"), QStringLiteral("https://quillmarch.example/q")},
                           {QStringLiteral("n"), 7},
                           {QStringLiteral("d"), QByteArray("\x01\x02", 2)}};
    std::vector<std::string> seeds;
    // A binary list whose key and strings hold NUL characters.
    static const char kNuls[] =
        "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x04\x53\x61\x00\x62\x51\x6b\x53\x78\x00\x79\xa1"
        "\x05\x53\x70\x00\x71\x08\x0d\x11\x13\x17\x19\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00"
        "\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1d";
    seeds.emplace_back(kNuls, sizeof kNuls - 1);
    for (const QByteArray& data : {PropertyList::toXml(list), PropertyList::toBinary(list)})
        seeds.emplace_back(data.constData(), size_t(data.size()));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QVariant value =
        PropertyList::fromData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (value.isValid()) {
        const QByteArray again = PropertyList::toBinary(value);
        (void)again;
    }
    return 0;
}
