#include "CQTMP4File.h"

#include "MediaCodes.h"
#include "MovieExporter.h"
#include "MovieFileTypes.h"
#include "MovieSource.h"
#include "PropertyList.h"
#include "SoundFileFactories.h"
#include "progress_channel.h"

#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

CQTMP4File::CQTMP4File() : CQTMovieFile({FOUR_CHAR_CODE("Mpg4"), "MPEG-4 Audio", "Encoding to MPEG-4 Audio (AAC)"})
{
}

const std::vector<UInt16>& CQTMP4File::StandardBitRates()
{
    static const std::vector<UInt16> rates = {8,   16,  20,  24,  28,  32,  40,  48,  56, 64,
                                              80,  96,  112, 128, 160, 192, 224, 256, 320};
    return rates;
}

UInt16 CQTMP4File::NearestStandardBitRate(double kbps)
{
    const std::vector<UInt16>& rates = StandardBitRates();
    const auto above = std::lower_bound(rates.begin(), rates.end(), kbps,
                                        [](UInt16 rate, double value) { return double(rate) < value; });
    if (above == rates.begin())
        return rates.front();
    if (above == rates.end())
        return rates.back();
    const UInt16 below = *(above - 1);
    return double(*above) - kbps < kbps - double(below) ? *above : below;
}

OSErr CQTMP4File::Open()
{
    const OSErr err = CQTMovieFile::Open();
    if (err != noErr)
        return err;
    const double seconds = m_sampleRate > 0 ? double(m_numFrames) / m_sampleRate : 0.0;
    if (seconds > 0 && m_numChannels > 0) {
        const double perChannel = double(GetDataSize()) / seconds / double(m_numChannels) * 0.008;
        const UInt32 total = UInt32(NearestStandardBitRate(perChannel)) * m_numChannels;
        m_bitRate = UInt16(std::min<UInt32>(total, 0xFFFF));
    }
    return noErr;
}

OSType CQTMP4File::GetMovieFileType() const
{
    return FOUR_CHAR_CODE("mpg4");
}

Boolean CQTMP4File::UseBitRate() const
{
    return true;
}

OSErr CQTMP4File::SetupForWriting(UInt16 channels, SInt16 bitRate, double sampleRate, const UInt8* fileTypeSpecifics)
{
    const OSErr err = CQTMovieFile::SetupForWriting(channels, bitRate, sampleRate, fileTypeSpecifics);
    m_bitRate = UInt16(std::max<SInt16>(bitRate, 0));
    return err;
}

namespace {

struct AACTable {
    bool loaded = false;
    std::string container;
    OSType compression = 0;
    std::map<std::string, bool> allowed;   // "channels-kbps-rate"
};

std::string CombinationKey(UInt32 channels, UInt32 kbps, UInt32 rate)
{
    return std::to_string(channels) + "-" + std::to_string(kbps) + "-" + std::to_string(rate);
}

// The table, read once per process: every standard per-channel rate within
// a row's range, times the row's channel counts, at the row's sample rate.
const AACTable& Table()
{
    static AACTable table;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string path;
        try {
            path = CSoundFile::GetResourcePathString("MP4ExportSettings.plist");
        } catch (...) {
            return;  // no resource: every combination is refused
        }
        const QVariantMap all = PropertyList::fromFile(QString::fromStdString(path)).toMap();
        table.container = all.value(QStringLiteral("container")).toString().toStdString();
        const QByteArray compression = all.value(QStringLiteral("compression")).toString().toLatin1();
        if (compression.size() == 4)
            table.compression = OSType(UInt8(compression[0])) << 24 | OSType(UInt8(compression[1])) << 16 |
                                OSType(UInt8(compression[2])) << 8 | OSType(UInt8(compression[3]));
        for (const QVariant& rowValue : all.value(QStringLiteral("combinations")).toList()) {
            const QVariantMap row = rowValue.toMap();
            const UInt32 rate = UInt32(row.value(QStringLiteral("sampleRate")).toLongLong());
            const UInt32 low = UInt32(row.value(QStringLiteral("minBitRatePerChannel")).toLongLong());
            const UInt32 high = UInt32(row.value(QStringLiteral("maxBitRatePerChannel")).toLongLong());
            for (const QVariant& channelsValue : row.value(QStringLiteral("channels")).toList()) {
                const UInt32 channels = UInt32(channelsValue.toLongLong());
                for (const UInt16 perChannel : CQTMP4File::StandardBitRates())
                    if (perChannel >= low && perChannel <= high)
                        table.allowed[CombinationKey(channels, perChannel * channels, rate)] = true;
            }
        }
        table.loaded = true;
    });
    return table;
}

} // namespace

bool CQTMP4File::LookUpCombination(UInt16 channels, UInt32 totalKbps, UInt32 sampleRate, MovieExportSettings* settings)
{
    const AACTable& table = Table();
    if (!table.loaded || table.allowed.count(CombinationKey(channels, totalKbps, sampleRate)) == 0)
        return false;
    if (settings) {
        settings->container = table.container;
        settings->compression = table.compression;
        settings->sampleSize = 16;
        settings->bitRate = totalKbps * 1000;
    }
    return true;
}

OSErr CQTMP4File::GetExportSettings(MovieExportSettings* settings)
{
    const UInt32 rate = m_sampleRate > 0 && m_sampleRate < 4294967295.0 ? UInt32(m_sampleRate) : 0;
    const std::optional<OutputContext::WordLength>& conversion = GetOutputContext().wordLength;
    UInt32 total = m_bitRate;
    // The conversion's own word length is the rate (per channel when asked);
    // a conversion without one hands over the input's total rate, kept as
    // near as the table allows at this sample rate.
    const bool inputRate = conversion && !conversion->needsNewWordLength;
    if (!inputRate && conversion && conversion->bitRatePerChannel)
        total = UInt32(m_bitRate) * m_numChannels;
    if (inputRate && m_numChannels > 0 && !LookUpCombination(m_numChannels, total, rate, nullptr)) {
        const double perChannel = double(total) / double(m_numChannels);
        UInt32 best = 0;
        double bestDistance = 0.0;
        for (const UInt16 candidate : StandardBitRates()) {
            const UInt32 candidateTotal = UInt32(candidate) * m_numChannels;
            if (!LookUpCombination(m_numChannels, candidateTotal, rate, nullptr))
                continue;
            const double distance = std::abs(double(candidate) - perChannel);
            if (best == 0 || distance < bestDistance) {
                best = candidateTotal;
                bestDistance = distance;
            }
        }
        if (best != 0)
            total = best;
    }
    m_bitRate = UInt16(std::min<UInt32>(total, 0xFFFF));
    if (LookUpCombination(m_numChannels, total, rate, settings))
        return noErr;
    return m_numChannels == 1 ? kMP4MonoCombinationErr : m_numChannels == 2 ? kMP4StereoCombinationErr : kMP4ChannelCountErr;
}

bool CQTMP4File::IsLosslessTrack(const std::string& path)
{
    OSType dataFormat = 0;
    if (path.empty() || MovieSource::Probe(path, nullptr, &dataFormat) <= 0)
        return false;
    return dataFormat == kAudioFormatLinearPCM || dataFormat == FOUR_CHAR_CODE("alac") ||
           dataFormat == FOUR_CHAR_CODE("flac");
}

OSErr CQTMP4File::FinishExport()
{
    // An input of this type whose track keeps every sample (ALAC, FLAC,
    // linear PCM in an MPEG-4 file), kept as its type, became AAC: said.
    const OutputContext& context = GetOutputContext();
    if (context.keepsInputType && IsLosslessTrack(context.inputPath.toStdString()))
        PostOutputWarning(kLosslessMadeLossyWarning,
                          QStringLiteral("written as AAC at %1 kbit/s; give this conversion an output type that "
                                         "keeps every sample, as AIFF, WAVE or CAF")
                              .arg(m_bitRate));
    return noErr;
}

SoundFileTypeDescriptor CQTMP4File::Descriptor()
{
    return {.type = FOUR_CHAR_CODE("Mpg4"), .factory = &MakeSoundFile<CQTMP4File>, .probe = &ProbeMP4};
}
