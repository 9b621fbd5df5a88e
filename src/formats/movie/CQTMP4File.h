// CQTMP4File ('Mpg4'): MPEG-4 audio input through the movie layer; its bit
// rate is the measured rate per channel rounded to the nearest standard AAC
// rate (ties to the lower), times the channel count.  Writing is the
// exporter's.
#pragma once

#include "CQTMovieFile.h"

#include <vector>

class CQTMP4File : public CQTMovieFile {
public:
    OSErr Open() override;
    OSType GetFileType() const override;
    OSType GetMovieFileType() const override;
    Boolean UseBitRate() const override;
    QString GetFormatName() const override;

    // The standard AAC rates per channel (kbit/s), ascending.
    static const std::vector<UInt16>& StandardBitRates();
    // The standard rate nearest to `kbps` (ties to the lower; 8 below the
    // list, 320 above it).
    static UInt16 NearestStandardBitRate(double kbps);
};
