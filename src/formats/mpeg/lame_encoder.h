// MP3 output through the outside LAME encoder program `lame`.
//
// The encoder is looked for on PATH and in the usual install locations
// ("/usr/local/bin/lame", "/opt/local/bin/lame", "/sw/local/bin/lame");
// among those that report a version, the newest wins (the earlier one on a
// tie).  Versions compare component by component, so 3.100 is newer than
// 3.93, the oldest one that is used.  The encoder is always run from an
// argument vector, never through a shell: option values and paths go to it
// as they are.
//
// The encoder path and the genre table are process-wide and guarded by a
// lock: the batch worker and the main thread (start-up, the MP3 options)
// both read them.
#pragma once

#include "error_codes.h"
#include "MacTypes.h"

#include <QString>
#include <QVariantMap>
#include <QVersionNumber>

#include <string>
#include <vector>

class CDropMP3File;

// The oldest encoder version that is used.
inline const QVersionNumber kLAMEMinimumVersion(3, 93);

// The places looked at, in order: the first `lame` on PATH (when there is
// one), then the three install locations.
std::vector<std::string> LAMECandidateLocations();

// Looks at every candidate location: true when a file exists at any of
// them.  The encoder path becomes the candidate with the newest version
// (the earlier one on a tie), or empty when none reports a version.
bool FindLAME();
// FindLAME(), then the encoder path (empty when none is usable).
std::string GetLAMEPath();

// The version the encoder at `path` reports in its banner ("LAME 64bits
// version 3.100 ..."); a null version when it reports none, cannot be run
// or does not answer within a few seconds.
QVersionNumber GetLAMEVersion(const std::string& path);

// The encoder's genre table: genre name -> genre number (int), from the
// lines "<number><one character><name>" that `lame --genre-list` prints.
// Built by the first call that gets an answer; later calls return it.
QVariantMap GetLAMEGenreList(const std::string& path);
// The table of one `--genre-list` output: per line a number (leading white
// space skipped), exactly one separating character, the name up to the
// newline; the list ends at the first line without a number, and a last
// line without its newline is dropped.  A later line with the same name
// replaces the earlier number.
QVariantMap ParseLAMEGenreList(const std::string& output);

// Whether MP3 output is available: an encoder of version 3.93 or newer was
// found.  When not, *reason (when given) says why in a sentence.  *version
// (when given) is the version of the encoder chosen, null when none reports
// one.
bool LAMEEncoderUsable(QString* reason = nullptr, QVersionNumber* version = nullptr);

// What the encoder is told for one output, before the input and output
// paths: the options of the output specifics ("LAMEEncodingMode",
// "LAMEQuality", ...), the sample rate, the channel count, the bit rate
// (the conversion's word length) and the 21-byte format record (byte 6 'j'
// asks for joint stereo).  `inputPath` is the batch's current input, for
// the title taken from its name.
std::vector<std::string> LAMEOptionArguments(const QVariantMap& specifics, double sampleRate, int channels,
                                             int bitRate, const UInt8* formatRecord, const QString& inputPath);

// The bit rate in kbit/s an output is asked for: `bitRate` (the
// conversion's word length) in the constant and average bit rate modes of
// the specifics' "LAMEEncodingMode"; 0 in the variable one, which asks for
// none.  *average (when given): the rate asked is an average.
int LAMEAskedBitRate(const QVariantMap& specifics, int bitRate, bool* average = nullptr);

// Runs one encode: the encoder at `encoderPath` with `arguments`, then
// (when given) the files `input` and `output`, handed to it as open
// descriptors (the output read and written): it never opens them by their
// names, which another program may have taken meanwhile.  Its progress
// ("( 21%)" in its output) is posted as a percentage; a stop request seen
// on the way (a cancel) ends the encoder's process group, reaps it and
// raises the stop code.  A non-zero exit raises kLAMEEncoderFailedErr.
// Failures are raised as error_code_exception.
void LAMEEncoderLaunch(const std::string& encoderPath, const std::vector<std::string>& arguments,
                       const std::string& input = std::string(), const std::string& output = std::string());

// Encodes the temporary WAVE file of `file` into its output, deletes the
// temporary file and, when the output specifics hold "ID3v2 tag blob" (an
// MP3 input's own tag), puts that tag in front of the MP3 data.  0 on
// success; the error code otherwise (the stop code after a cancel;
// dskFulErr when the encoder or the tag failed on a full disk, which the
// encoder does not tell: the output's folder is asked).
OSErr EncodeWithLame(CDropMP3File* file);
