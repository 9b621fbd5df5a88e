#include "CQTMP4File.h"

#include <algorithm>

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

OSType CQTMP4File::GetFileType() const
{
    return FOUR_CHAR_CODE("Mpg4");
}

OSType CQTMP4File::GetMovieFileType() const
{
    return FOUR_CHAR_CODE("mpg4");
}

Boolean CQTMP4File::UseBitRate() const
{
    return true;
}

QString CQTMP4File::GetFormatName() const
{
    return QStringLiteral("MPEG-4 Audio");
}
