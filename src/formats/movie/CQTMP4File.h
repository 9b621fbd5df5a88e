// CQTMP4File ('Mpg4'): MPEG-4 audio.  Input through the movie layer: its
// bit rate is the measured rate per channel rounded to the nearest standard
// AAC rate (ties to the lower), times the channel count.  Output: AAC (low
// complexity) in an MPEG-4 audio file (".m4a"), exported from the 16-bit
// intermediate; the conversion's word length is the bit rate in kbit/s
// (per channel when its "QMCSBitRatePerChannel" is on).  A conversion that
// sets no word length keeps the input's bit rate (the pipeline hands it
// over as the word length), or the allowed rate nearest to it.  The allowed
// combinations of channel count, total bit rate and sample rate, and the
// encoder's settings, are the application's resource
// "MP4ExportSettings.plist"; a combination it does not allow fails the
// export with -24700 (mono), -24701 (stereo) or -24702 (other counts).
// An input of this type is written as AAC also when it was lossless (ALAC):
// where the conversion keeps the input's type, the file's line says so.
#pragma once

#include "CQTMovieFile.h"
#include "error_codes.h"
#include "SoundFileTypeDescriptor.h"

#include <vector>

class CQTMP4File : public CQTMovieFile {
public:
    // The type this class makes, as its library registers it.
    static SoundFileTypeDescriptor Descriptor();

    CQTMP4File();

    OSErr Open() override;
    OSType GetMovieFileType() const override;
    Boolean UseBitRate() const override;
    OSErr SetupForWriting(UInt16 channels, SInt16 bitRate, double sampleRate,
                          const UInt8* fileTypeSpecifics) override;
    OSErr GetExportSettings(MovieExportSettings* settings) override;
    // After the export: an input whose track is lossless, kept as its
    // type, is said to be written lossy (kLosslessMadeLossyWarning).
    OSErr FinishExport() override;
    // Whether the file at `path` holds a sound track that keeps every
    // sample (linear PCM, ALAC, FLAC).
    static bool IsLosslessTrack(const std::string& path);

    // The standard AAC rates per channel (kbit/s), ascending.
    static const std::vector<UInt16>& StandardBitRates();
    // The standard rate nearest to `kbps` (ties to the lower; 8 below the
    // list, 320 above it).
    static UInt16 NearestStandardBitRate(double kbps);
    // The export settings of a combination ("channels-kbps-rate", the total
    // bit rate in kbit/s), from the resource; false when it is not allowed.
    static bool LookUpCombination(UInt16 channels, UInt32 totalKbps, UInt32 sampleRate,
                                  MovieExportSettings* settings);
};
