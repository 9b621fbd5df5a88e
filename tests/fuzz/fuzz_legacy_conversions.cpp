// Import of conversions from damaged preferences files of the previous
// major version: the input is the file, read as a bare resource fork; the
// resource map and every 'Libs' record must be checked before use, so no
// input crashes or reads out of bounds, and every resource file is closed.
#include "FuzzTarget.h"
#include "LegacyConversionImporter.h"
#include "ResourceManager.h"

#include "../app/LegacyPrefsFile.h"

#include <cstdlib>

std::vector<std::string> FuzzSeeds()
{
    using legacy_prefs::MakeRecord;
    const std::string scratch = FuzzWriteInput(nullptr, 0, ".seed");
    std::vector<std::string> seeds;
    seeds.push_back(legacy_prefs::BareForkBytes(scratch, {{"To WAVE", MakeRecord(FOUR_CHAR_CODE("WAVE"), 22050.0f)}}));
    seeds.push_back(legacy_prefs::BareForkBytes(
        scratch, {{"A", MakeRecord(FOUR_CHAR_CODE("AIFF"), 44100.0f, false, 200)},
                  {"Old", MakeRecord(FOUR_CHAR_CODE("PNRA"), 8000.0f, true)},
                  {std::string(255, 'n'), MakeRecord(FOUR_CHAR_CODE("WAVE"), 8000.0f).left(100)}}));
    seeds.push_back(legacy_prefs::BareForkBytes(scratch, {}));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = FuzzWriteInput(data, size, ".prefs");
    const auto result = LegacyConversionImporter::readFile(QString::fromStdString(path));
    if (result.unsupported < 0 || OpenResFileCount() != 0)
        std::abort();
    for (const ConvSpecRef& spec : result.conversions)
        if (!spec || spec->nameExtension().size() > 31)
            std::abort();
    return 0;
}
