#include "lame_encoder.h"
#include "LameOutputCheck.h"

#include "CDropMP3File.h"
#include "ChildProcess.h"
#include "FileOperations.h"
#include "MacRoman.h"
#include "debug_trace.h"
#include "error_code_exception.h"
#include "progress_channel.h"
#include "throw_helpers.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

const char* const kInstallLocations[] = {"/usr/local/bin/lame", "/opt/local/bin/lame", "/sw/local/bin/lame"};

// How long a version or genre probe may take before the encoder is ended.
constexpr int kProbeTimeoutMs = 3000;

const QString kID3v2BlobKey = QStringLiteral("ID3v2 tag blob");

struct EncoderState {
    std::mutex mutex;
    std::string path;
    bool genresBuilt = false;
    QVariantMap genres;
};

EncoderState& State()
{
    static EncoderState state;
    return state;
}

// A switch of the output specifics: booleans, numbers, and the texts YES,
// true and 1 read as on; an absent switch reads off.
bool Switch(const QVariantMap& specifics, const char* key)
{
    const QVariant v = specifics.value(QLatin1String(key));
    if (!v.isValid())
        return false;
    if (v.typeId() == QMetaType::QString) {
        const QString t = v.toString().trimmed().toLower();
        return t == QLatin1String("yes") || t == QLatin1String("true") || t == QLatin1String("1");
    }
    return v.toBool();
}

// An integer of the output specifics (text is read as a leading integer).
int Integer(const QVariantMap& specifics, const char* key)
{
    const QVariant v = specifics.value(QLatin1String(key));
    if (v.typeId() == QMetaType::QString) {
        static const QRegularExpression leading(QStringLiteral("^\\s*([+-]?\\d+)"));
        const QRegularExpressionMatch m = leading.match(v.toString());
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    return v.toInt();
}

QString Text(const QVariantMap& specifics, const char* key)
{
    const QVariant v = specifics.value(QLatin1String(key));
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.isValid() && v.canConvert<QString>())
        return v.toString();
    return QString();
}

std::string Number(long long value)
{
    return std::to_string(value);
}

// The channel letter of "-m", or 0 for none.
char ChannelLetter(const QVariantMap& specifics, int channels, const UInt8* formatRecord)
{
    if (!specifics.contains(QStringLiteral("LAMEChannelHandling")) ||
        !specifics.contains(QStringLiteral("LAMEStereoMode"))) {
        if (channels == 2)
            return formatRecord && formatRecord[6] == 'j' ? 'j' : 's';
        return 'm';
    }
    const int handling = Integer(specifics, "LAMEChannelHandling");
    if (handling == 0)
        return 'm';
    if (handling != 1) {
        QM_TRACE("EncodeWithLame", "invalid lame channel handling: " << handling);
        return 0;
    }
    if (channels == 1)
        return 'm';
    if (channels != 2) {
        QM_TRACE("EncodeWithLame", "invalid number of channels: " << channels);
        return 0;
    }
    switch (Integer(specifics, "LAMEStereoMode")) {
    case 0: return 's';
    case 1: return 'j';
    case 2: return 'd';
    default:
        QM_TRACE("EncodeWithLame", "invalid lame stereo mode: " << Integer(specifics, "LAMEStereoMode"));
        return 0;
    }
}

// The percentage in one line of the encoder's progress: the number between
// the first '(' and the first '%' after it.
bool PercentageOfLine(const std::string& line, int* percent)
{
    const size_t open = line.find('(');
    const size_t sign = line.find('%');
    if (open == std::string::npos || sign == std::string::npos || sign <= open)
        return false;
    bool ok = false;
    const int value = QString::fromStdString(line.substr(open + 1, sign - open - 1)).trimmed().toInt(&ok);
    if (ok)
        *percent = value;
    return ok;
}

[[noreturn]] void Raise(OSErr code, const std::string& what)
{
    throw error_code_exception(code, "%s (%s:%d)", what.c_str(), path_file_name(__FILE__), __LINE__);
}

}  // namespace

// ================================================================ finding

std::vector<std::string> LAMECandidateLocations()
{
    std::vector<std::string> places;
    const std::string onPath = ChildProcess::findOnPath("lame");
    if (!onPath.empty())
        places.push_back(AbsolutePath(onPath));
    for (const char* location : kInstallLocations) {
        if (std::find(places.begin(), places.end(), location) == places.end())
            places.emplace_back(location);
    }
    return places;
}

QVersionNumber GetLAMEVersion(const std::string& path)
{
    std::string output;
    bool timedOut = false;
    ChildProcess::run(path, {"-v"}, &output, kProbeTimeoutMs, &timedOut);
    if (timedOut)
        QM_TRACE("GetLAMEVersion", path << " did not answer");
    static const QRegularExpression banner(QStringLiteral("version (\\d+(?:\\.\\d+)*)"));
    const QRegularExpressionMatch m = banner.match(QString::fromLocal8Bit(output.data(), qsizetype(output.size())));
    return m.hasMatch() ? QVersionNumber::fromString(m.captured(1)) : QVersionNumber();
}

bool FindLAME()
{
    bool found = false;
    QVersionNumber best;
    std::string chosen;
    for (const std::string& location : LAMECandidateLocations()) {
        PathStatus status;
        if (StatPath(location, &status) != 0)
            continue;
        found = true;
        const QVersionNumber version = GetLAMEVersion(location);
        if (!version.isNull() && (best.isNull() || version > best)) {
            best = version;
            chosen = location;
        }
    }
    EncoderState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.path = chosen;
    return found;
}

std::string GetLAMEPath()
{
    FindLAME();
    EncoderState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.path;
}

bool LAMEEncoderUsable(QString* reason, QVersionNumber* foundVersion)
{
    auto say = [reason](const QString& text) {
        if (reason)
            *reason = text;
    };
    if (foundVersion)
        *foundVersion = QVersionNumber();
    if (!FindLAME()) {
        // Where it was looked for: the folders of PATH as this process has
        // them, then the install locations.
        const QString path = qEnvironmentVariable("PATH");
        say(QStringLiteral("MP3 output needs the LAME encoder 'lame' (version 3.93 or newer), which was not found "
                           "on PATH (%1) nor in /usr/local/bin, /opt/local/bin or /sw/local/bin.")
                .arg(path.isEmpty() ? QStringLiteral("empty") : path));
        return false;
    }
    std::string path;
    {
        EncoderState& s = State();
        std::lock_guard<std::mutex> lock(s.mutex);
        path = s.path;
    }
    if (path.empty()) {
        say(QStringLiteral("MP3 output needs the LAME encoder 'lame' (version 3.93 or newer); the one found "
                           "reports no version."));
        return false;
    }
    const QVersionNumber version = GetLAMEVersion(path);
    if (foundVersion)
        *foundVersion = version;
    if (version.isNull() || version < kLAMEMinimumVersion) {
        say(QStringLiteral("The version of the LAME encoder for mp3 files that is installed on your system is too "
                           "old. It is version %1 (%2), but it has to be version 3.93 or higher.")
                .arg(version.toString(), QString::fromStdString(path)));
        return false;
    }
    say(QString());
    return true;
}

QVariantMap ParseLAMEGenreList(const std::string& output)
{
    QVariantMap genres;
    size_t at = 0;
    for (;;) {
        while (at < output.size() && std::isspace(static_cast<unsigned char>(output[at])))
            ++at;
        size_t digits = at;
        if (digits < output.size() && (output[digits] == '-' || output[digits] == '+'))
            ++digits;
        const size_t numberStart = digits;
        while (digits < output.size() && std::isdigit(static_cast<unsigned char>(output[digits])))
            ++digits;
        if (digits == numberStart || digits - at > 9)
            break;
        const int number = std::stoi(output.substr(at, digits - at));
        at = digits + 1;  // exactly one separating character
        const size_t newline = output.find('\n', std::min(at, output.size()));
        if (newline == std::string::npos)
            break;  // a last line without its newline is dropped
        genres.insert(QString::fromUtf8(output.data() + at, qsizetype(newline - at)), number);
        at = newline + 1;
    }
    return genres;
}

QVariantMap GetLAMEGenreList(const std::string& path)
{
    EncoderState& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.genresBuilt)
            return s.genres;
    }
    std::string output;
    OSErr startError = noErr;
    ChildProcess::run(path, {"--genre-list"}, &output, kProbeTimeoutMs, nullptr, &startError);
    if (startError != noErr)
        return QVariantMap();

    const QVariantMap genres = ParseLAMEGenreList(output);
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.genresBuilt) {
        s.genres = genres;
        s.genresBuilt = true;
    }
    return s.genres;
}

// ============================================================= arguments

std::vector<std::string> LAMEOptionArguments(const QVariantMap& specifics, double sampleRate, int channels,
                                             int bitRate, const UInt8* formatRecord, const QString& inputPath)
{
    std::vector<std::string> a;
    a.push_back("--resample");
    a.push_back(QString::number(sampleRate / 1000.0, 'g', 6).toStdString());

    const int mode = Integer(specifics, "LAMEEncodingMode");
    const bool hasQuality = specifics.contains(QStringLiteral("LAMEQuality"));
    const std::string quality = Number(Integer(specifics, "LAMEQuality"));
    if (mode == 0 || mode == 1) {
        if (hasQuality) {
            a.push_back("-q");
            a.push_back(quality);
        } else {
            a.push_back("-h");
        }
    }
    if (mode == 0) {
        a.insert(a.end(), {"--cbr", "-b", Number(bitRate)});
    } else if (mode == 1) {
        a.insert(a.end(), {"--abr", Number(bitRate)});
    } else if (mode == 2) {
        // -V takes the VBR quality and -q the algorithm quality; a
        // conversion stored before the VBR quality was kept has only the
        // latter, which then serves as -V.
        a.push_back("--vbr-new");
        if (specifics.contains(QStringLiteral("LAMEVBRQuality"))) {
            a.push_back("-V");
            a.push_back(Number(Integer(specifics, "LAMEVBRQuality")));
            if (hasQuality) {
                a.push_back("-q");
                a.push_back(quality);
            }
        } else if (hasQuality) {
            a.push_back("-V");
            a.push_back(quality);
        } else {
            a.push_back("-h");
        }
    } else {
        QM_TRACE("EncodeWithLame", "invalid lame encoding mode: " << mode);
    }
    if ((mode == 1 || mode == 2) && specifics.contains(QStringLiteral("LAMEMinimumBitRate")) &&
        Integer(specifics, "LAMEMinimumBitRate") > 0) {
        a.push_back("-b");
        a.push_back(Number(Integer(specifics, "LAMEMinimumBitRate")));
    }
    if (const char letter = ChannelLetter(specifics, channels, formatRecord)) {
        a.push_back("-m");
        a.push_back(std::string(1, letter));
    }
    if (Switch(specifics, "LAMECopyrighted"))
        a.push_back("-c");
    if (Switch(specifics, "LAMECopy"))
        a.push_back("-o");
    if (Switch(specifics, "LAMEUseCRC"))
        a.push_back("-p");
    if (!Switch(specifics, "LAMEUseBitReservoir"))
        a.push_back("--nores");
    if (Switch(specifics, "LAMEISOCompliant"))
        a.push_back("--strictly-enforce-ISO");

    const bool tags = (!specifics.contains(QStringLiteral("LAMEWriteID3Tags")) || Switch(specifics, "LAMEWriteID3Tags")) &&
                      !specifics.contains(kID3v2BlobKey);
    if (tags) {
        auto add = [&a](const char* option, const QString& value) {
            if (!value.isEmpty()) {
                a.push_back(option);
                a.push_back(value.toStdString());
            }
        };
        QString title;
        const QFileInfo input(inputPath);
        if (input.suffix() != QLatin1String("mp3") && Switch(specifics, "LAMEUseInputFileNameAsTitle")) {
            title = input.completeBaseName();
        } else {
            title = Text(specifics, "LAMETitle");
            static const QRegularExpression trackNumber(QStringLiteral("^\\d\\d "));
            title.remove(trackNumber);
        }
        add("--tt", title);
        add("--ta", Text(specifics, "LAMEArtist"));
        add("--tl", Text(specifics, "LAMEAlbum"));
        add("--tn", Text(specifics, "LAMETrack"));
        add("--ty", Text(specifics, "LAMEYear"));
        const int genre = Integer(specifics, "LAMEGenre");
        add("--tg", genre > 0 ? QString::number(genre) : Text(specifics, "LAMEGenre"));
        add("--tc", Text(specifics, "LAMEComment"));
        a.push_back("--ignore-tag-errors");
    }
    return a;
}

int LAMEAskedBitRate(const QVariantMap& specifics, int bitRate, bool* average)
{
    const int mode = Integer(specifics, "LAMEEncodingMode");
    if (average)
        *average = mode == 1;
    return mode == 0 || mode == 1 ? bitRate : 0;
}

// ================================================================ encoding

void LAMEEncoderLaunch(const std::string& encoderPath, const std::vector<std::string>& arguments,
                       const std::string& input, const std::string& output)
{
    QM_TRACE("LAMEEncoderLaunch", encoderPath << " (" << arguments.size() << " arguments)");
    ChildProcess child;
    std::vector<std::string> all = arguments;
    for (const auto& [path, writing] : {std::pair{input, false}, std::pair{output, true}}) {
        if (path.empty())
            continue;
        OSErr err = noErr;
        all.push_back(child.handOver(path, writing, &err));
        if (err != noErr)
            Raise(err, "could not hand " + path + " to the LAME encoder");
    }
    const OSErr startError = child.start(encoderPath, all);
    if (startError != noErr)
        Raise(startError == fnfErr ? kLAMEEncoderMissingErr : startError,
              "could not start the LAME encoder " + encoderPath);

    int percent = 0;
    std::string pending;
    std::string tail;  // the encoder's last words, for the trace
    auto cancelled = [&](OSErr stop) {
        child.kill();
        Raise(stop, "encoding cancelled");
    };
    for (;;) {
        const ChildProcess::ReadResult r = child.read(&pending, 100);
        if (r == ChildProcess::ReadResult::End)
            break;
        if (r == ChildProcess::ReadResult::Data) {
            // Progress lines end in a carriage return, the others in a newline.
            size_t end;
            while ((end = pending.find_first_of("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty())
                    tail = line;
                PercentageOfLine(line, &percent);
                if (const OSErr stop = PostProgressPercentage(percent))
                    cancelled(stop);
            }
            if (pending.size() > 65536)
                pending.erase(0, pending.size() - 1024);
        } else if (const OSErr stop = PostProgressPercentage(percent)) {
            cancelled(stop);
        }
    }
    // The output is closed; the encoder may still be finishing.
    while (!child.exited(100)) {
        if (const OSErr stop = PostProgressPercentage(percent))
            cancelled(stop);
    }
    const int status = child.reap();
    if (status != 0)
        Raise(kLAMEEncoderFailedErr,
              "the LAME encoder ended with status " + std::to_string(status) + ": " + tail.substr(0, 300));
}

OSErr EncodeWithLame(CDropMP3File* file)
{
    const std::string temp = file->GetTempPath();
    const std::string output = file->GetPath();
    try {
        Str255 step = {0};
        MacRoman::toPascal(QStringLiteral("Encoding mp3 using the LAME encoder"), step, 255);
        PostProgressStep(step, 0);

        const OutputContext& context = file->GetOutputContext();
        const QVariantMap& specifics = context.specifics;
        std::vector<std::string> arguments =
            LAMEOptionArguments(specifics, file->GetSampleRate(), file->GetNumChannels(), file->GetBitRateSetting(),
                                file->GetFormatRecord(), context.inputPath);
        const std::string encoder = GetLAMEPath();
        if (encoder.empty())
            Raise(kLAMEEncoderMissingErr, "no usable LAME encoder");
        LAMEEncoderLaunch(encoder, arguments, temp, output);

        {
            QFile written;
            if (!OpenFileDevice(&written, output, false) || written.size() == 0)
                Raise(kLAMEEncoderFailedErr, "the LAME encoder wrote no mp3 data");
        }
        // The encoder may end well although its last writes failed: only a
        // whole stream is kept.
        if (!LAMEOutputComplete(output))
            Raise(kLAMEEncoderFailedErr, "the LAME encoder's mp3 data is incomplete");
        DeletePath(temp);

        const QByteArray blob = specifics.value(kID3v2BlobKey).toByteArray();
        if (!blob.isEmpty()) {
            QFile mp3;
            if (!OpenFileDevice(&mp3, output, true))
                Raise(ioErr, "cannot reopen the mp3 file for its tag");
            const QByteArray data = mp3.readAll();
            if (!mp3.seek(0) || mp3.write(blob) != blob.size() || mp3.write(data) != data.size() || !mp3.flush())
                Raise(ioErr, "cannot write the tag in front of the mp3 data");
            mp3.close();
            if (mp3.error() != QFileDevice::NoError)
                Raise(ioErr, "cannot close the mp3 file after its tag");
        }
        return noErr;
    } catch (const error_code_exception& e) {
        // The encoder tells no reason; a full disk (asked before the
        // temporary file gives its room back) is the batch's own failure
        // and is said as such.
        int32_t code = e.code();
        const std::size_t slash = output.find_last_of('/');
        if ((code == kLAMEEncoderFailedErr || code == ioErr) &&
            CheckRoomToWrite(slash == std::string::npos ? std::string(".") : output.substr(0, slash + 1)) == dskFulErr)
            code = dskFulErr;
        if (DeletePath(temp) != noErr)
            QM_TRACE("EncodeWithLame", "could not delete temp file: " << temp);
        return OSErr(code >= -32768 && code <= 32767 && code != 0 ? code : ioErr);
    } catch (...) {
        DeletePath(temp);
        return kLAMEEncoderFailedErr;
    }
}
