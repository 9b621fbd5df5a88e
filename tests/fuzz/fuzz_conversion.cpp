// A whole small conversion of a hostile input: the batch driver converts it
// (to AIFF at 48 kHz, and to WAVE as it is) or refuses it, and never leaves a
// temporary output behind.
#include "AIFFFuzzSeeds.h"
#include "ConvSpec.h"
#include "ConversionProcess.h"
#include "EngineStartup.h"
#include "FuzzTarget.h"
#include "PropertyList.h"
#include "UserDefaults.h"
#include "WAVEFuzzSeeds.h"

#include <QFile>
#include <QVariantList>

#include <cstdlib>
#include <filesystem>

std::vector<std::string> FuzzSeeds()
{
    return {"a" + AIFFFuzzImage(false, "", 16, 2, 8), "a" + AIFFFuzzImage(false, "", 24, 1, 6),
            "w" + wavefuzz::Riff(wavefuzz::Bytes().chunk("fmt ", wavefuzz::Fmt(1, 2, 16, 4)).chunk("data", wavefuzz::Samples(32)).s)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    namespace fs = std::filesystem;
    static const QList<ConvSpecRef> conversions = [] {
        qputenv("QUILLMARCH_DEFAULTS", QByteArray::fromStdString(FuzzScratchFolder() + "/prefs.plist"));
        EngineStartup::start();
        QFile file(QStringLiteral(QM_SOURCE_RESOURCES "/Factory_Conversions.plist"));
        QList<ConvSpecRef> list;
        if (file.open(QIODevice::ReadOnly)) {
            const QVariantList all = PropertyList::fromData(file.readAll()).toList();
            QVariantMap toAiff = all.value(0).toMap();
            toAiff.insert(QStringLiteral("QMCSName"), QStringLiteral("a"));
            toAiff.insert(QStringLiteral("QMCSSampleRate"), 48000.0);
            toAiff.insert(QStringLiteral("QMCSSampleRateConvertQuality"), 2);  // the short filter
            QVariantMap toWave = all.value(1).toMap();
            toWave.insert(QStringLiteral("QMCSName"), QStringLiteral("w"));
            toWave.insert(QStringLiteral("QMCSNeedsSampleRateConversion"), false);
            for (const QVariantMap& m : {toAiff, toWave})
                if (ConvSpecRef spec = ConvSpec::fromDictionary(m))
                    list.append(spec);
        }
        return list;
    }();
    if (size == 0 || conversions.isEmpty())
        return 0;
    const char* extension = data[0] == 'w' ? ".wav" : data[0] == 'n' ? ".snd" : ".aif";
    const std::string input = FuzzWriteInput(data + 1, size - 1, extension);
    const fs::path out = fs::path(FuzzScratchFolder()) / "out";
    std::error_code ec;
    fs::remove_all(out, ec);
    for (const ConvSpecRef& spec : conversions)
        fs::create_directories(out / spec->conversionName().toStdString(), ec);

    ConversionProcess process;
    process.doConversion({QString::fromStdString(input)}, conversions, QString::fromStdString(out.string()));
    for (const auto& entry : fs::recursive_directory_iterator(out, ec))
        if (entry.path().filename().string().find(".QuillOutFile") != std::string::npos)
            std::abort();
    return 0;
}
