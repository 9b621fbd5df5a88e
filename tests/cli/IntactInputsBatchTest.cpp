// The intact-file guard: every shape of intact file the installed encoders
// make, and those other writers give that are built here (tags around MP3
// frames, Opus pre-skips, an AAC first packet that only primes the decoder,
// a channel mode that changes, chained Ogg, hand-built Layer I frames with
// checksums), converts in one batch over their folder with no line of its
// own and with the length ffmpeg decodes (where a tag stands between MP3
// frames, that of the file without it; flac's, of 32-bit FLAC, which
// ffmpeg may not read).  A warning on an intact file is a
// false alarm.  Over 300 files: a seeded sample of each encoder's shapes
// runs by default (QM_INTACT_SEED changes the seed, printed with every
// failure); QM_INTACT_ALL=1 runs all of them and prints the counts.
// QM_INTACT_WRITE=FOLDER only writes the chosen shapes into FOLDER.
#include "CliTestSupport.h"
#include "IntactShapes.h"
#include "LayerOneBuilding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <random>

using namespace clitest;

namespace {

// The share of the recipes a sampled run takes (a sanitizer build runs
// the program several times slower).
#ifdef QM_SANITIZED
constexpr int kSampled = 40;
#else
constexpr int kSampled = 90;
#endif

// How the intact file is made from the encoder's output.
enum class Shape {
    Encoded,
    OpusPreSkip,  // the pre-skip set to `value`
    EmptyFirstAAC,  // the first AAC packet decodes to nothing: it only primes the decoder
    TwoID3v2,  // a second ID3v2 tag of `value` bytes after the first
    JunkAfterID3v2,  // `value` bytes that are no frame between the ID3v2 tag and the first frame
    TagsAtEnd,  // after the last frame: `value` 0 ID3v2 + ID3v1, 1 ID3v2.4 with a footer + ID3v1,
                // 2 APEv2 without its header, 3 APEv2 with it + ID3v1
    Chained,  // the encode of `second` after the encode of the source (an Ogg chain, a mode change;
              // an ID3v2 tag of `value` bytes between them, as joined MP3s carry)
    TagBetweenFrames,  // an ID3v2 tag of `value` bytes between two middle MP3 frames
    ZerosBetweenFrames,  // `value` zero bytes between two middle MP3 frames
    LayerOneByHand,  // Layer I frames with checksums in channel mode `value`, built here
    OpusEndTrim,  // the last page's granule lowered by `value` (a valid end trim over several packets)
    Skeleton,  // a Skeleton stream beside the Vorbis one, of `value` granules a second
};

struct Recipe {
    QString family;  // encoder and shape, for the counts
    QString name;  // the input's name (no two share a base name)
    QString program;  // empty: built here (or by the batch's own encoder)
    QString arguments;  // {SRC} the source, {OUT} the file
    QString source;  // sox's arguments after "-n" for {SRC}: "rate channels seconds"
    Shape shape = Shape::Encoded;
    int value = 0;
    QString second{};  // Chained: the second source
};

// "44100 2 1.5" (and the bits when not 16) as sox's synthesis of a tone at
// -10 dB, a frequency a channel.
QStringList SynthArguments(const QString& source, const QString& path)
{
    const QStringList p = source.split(' ');
    QStringList a = {"-D", "-n", "-r", p[0], "-c", p[1], "-b", p.value(3, "16"), path, "synth", p[2]};
    for (int c = 0; c < p[1].toInt(); ++c)
        a << "sine" << QString::number(300 + 110 * c);
    a << "gain"
      << "-10";
    return a;
}

QString S(const char* text)
{
    return QString::fromLatin1(text);
}

// A source's rate and channels for a name: "44100_2".
QString Tag(const char* source)
{
    return QString::fromLatin1(source).section(' ', 0, 1).replace(' ', '_');
}

// Every recipe.
QList<Recipe> Recipes()
{
    QList<Recipe> r;
    const QString ff = S("-nostdin -v error -y -i {SRC} ");
    const QString stereo = S("44100 2 1.5"), mono = S("44100 1 1.2");
    // lame: constant, variable and average rates, with and without CRC,
    // with every tag it writes.
    const QStringList rates = {"-b 32", "-b 128", "-b 320", "-V 0", "-V 5", "-V 9", "--abr 96", "--abr 192"};
    const QStringList tags = {"-t", "", "--id3v2-only --tt Title", "--id3v1-only --tt Title", "--add-id3v2 --tt Title"};
    for (int i = 0; i < rates.size(); ++i)
        for (const bool crc : {false, true})
            for (int t = 0; t < tags.size(); ++t)
                r.append({"lame", QString("lame_%1_%2_t%3.mp3").arg(i).arg(int(crc)).arg(t), "lame",
                    QString("--quiet %1 %2 %3 {SRC} {OUT}").arg(rates[i], crc ? "-p" : "", tags[t]), stereo});
    for (const char* rate : {"8000", "11025", "16000", "22050", "24000", "32000", "48000"})
        for (const bool crc : {false, true})
            r.append({"lame rates", QString("lame_r%1_%2.mp3").arg(rate).arg(int(crc)), "lame",
                QString("--quiet %1 -b 64 {SRC} {OUT}").arg(crc ? "-p" : ""), QString("%1 1 1").arg(rate)});
    for (const char* mode : {"m", "s", "j", "f", "d"})
        for (const bool crc : {false, true})
            r.append({"lame modes", QString("lame_m%1_%2.mp3").arg(mode).arg(int(crc)), "lame",
                QString("--quiet -m %1 %2 {SRC} {OUT}").arg(mode, crc ? "-p" : ""),
                S(*mode == 'm' ? "44100 1 1" : "44100 2 1")});
    // Tags and bytes that are no sound, around raw frames and behind an
    // information frame; a channel mode that changes.
    for (const bool info : {false, true}) {
        const QString a = info ? S("--quiet {SRC} {OUT}") : S("--quiet -t {SRC} {OUT}");
        const QString i = info ? S("info") : S("raw");
        r.append({"lame tags", "two_id3v2_" + i + ".mp3", "lame", a, stereo, Shape::TwoID3v2, 200000});
        r.append({"lame tags", "two_id3v2_small_" + i + ".mp3", "lame", a, stereo, Shape::TwoID3v2, 300});
        r.append({"lame tags", "junk_id3v2_" + i + ".mp3", "lame", a, stereo, Shape::JunkAfterID3v2, 3000});
        for (int t = 0; t < 4; ++t)
            r.append({"lame tags", QString("end_tags%1_%2.mp3").arg(t).arg(i), "lame", a, stereo, Shape::TagsAtEnd, t});
        r.append({"lame between frames", "tag_between_" + i + ".mp3", "lame", a, stereo, Shape::TagBetweenFrames,
            1000});
        // (Zeros of no frame's length: a run the length of frames is
        // what a frame overwritten leaves, and is said lost.)
        r.append({"lame between frames", "zeros_between_" + i + ".mp3", "lame", a, stereo, Shape::ZerosBetweenFrames,
            300});
        r.append({"lame between frames", "joined_tag_" + i + ".mp3", "lame", a, stereo, Shape::Chained, 1000, mono});
        r.append({"lame mode change", "mono_stereo_" + i + ".mp3", "lame", a, mono, Shape::Chained, 0, stereo});
        r.append({"lame mode change", "stereo_mono_" + i + ".mp3", "lame", a, stereo, Shape::Chained, 0, mono});
    }
    // AAC in every MPEG-4 flavour, with an edit list and without, and raw.
    for (const char* ext : {"m4a", "mp4", "3gp", "3g2", "mov"})
        for (const bool edits : {true, false})
            for (const char* source : {"22050 1 1", "44100 2 1.5", "48000 2 1", "48000 1 1"})
                r.append({"ffmpeg aac", QString("aac_%1_%2_%3.%4").arg(int(edits)).arg(Tag(source), ext, ext), "ffmpeg",
                    ff + (edits ? "-c:a aac {OUT}" : "-c:a aac -use_editlist 0 {OUT}"), S(source)});
    for (const char* source : {"22050 1 1", "44100 2 1.5", "48000 2 1"})
        r.append({"ffmpeg aac", QString("adts_%1.aac").arg(Tag(source)), "ffmpeg", ff + "-c:a aac -f adts {OUT}",
            S(source)});
    // Raw AAC behind an ID3v2 tag, before an APE tag (the stream begins on
    // a frame after the tag).
    r.append({"ffmpeg aac", "adts_id3v2.aac", "ffmpeg", ff + "-c:a aac -f adts -write_id3v2 1 -metadata title=Title {OUT}",
        stereo});
    r.append({"ffmpeg aac", "adts_ape.aac", "ffmpeg", ff + "-c:a aac -f adts -write_apetag 1 -metadata title=Title {OUT}",
        mono});
    for (const char* ext : {"m4a", "3g2"})
        for (const bool edits : {true, false})
            r.append({"ffmpeg aac priming packet", QString("priming_%1.%2").arg(int(edits)).arg(ext), "ffmpeg",
                ff + (edits ? "-c:a aac {OUT}" : "-c:a aac -use_editlist 0 {OUT}"), stereo, Shape::EmptyFirstAAC});
    // Opus: every frame size, pre-skips beyond a packet, chains.
    for (const char* size : {"2.5", "5", "10", "20", "40", "60"})
        r.append({"opusenc", QString("opusenc_%1.opus").arg(size), "opusenc",
            QString("--quiet --framesize %1 {SRC} {OUT}").arg(size), stereo});
    r.append({"opusenc", "opusenc_mono.opus", "opusenc", S("--quiet {SRC} {OUT}"), mono});
    for (const char* duration : {"10", "20", "60", "120"})
        r.append({"ffmpeg opus", QString("opus_%1.opus").arg(duration), "ffmpeg",
            ff + QString("-c:a libopus -frame_duration %1 {OUT}").arg(duration), stereo});
    for (const int skip : {1000, 3840, 8000, 65535}) {
        r.append({"opus pre-skip", QString("preskip_%1.opus").arg(skip), "ffmpeg", ff + "-c:a libopus {OUT}", stereo,
            Shape::OpusPreSkip, skip});
        r.append({"opus pre-skip", QString("preskip120_%1.opus").arg(skip), "ffmpeg",
            ff + "-c:a libopus -frame_duration 120 {OUT}", stereo, Shape::OpusPreSkip, skip});
        r.append({"opus pre-skip", QString("preskip_opusenc_%1.opus").arg(skip), "opusenc", S("--quiet {SRC} {OUT}"),
            stereo, Shape::OpusPreSkip, skip});
    }
    // Vorbis and chained Ogg (links of one rate and channel count).
    for (const char* q : {"-1", "3", "10"})
        for (const char* source : {"44100 2 1.5", "44100 1 1.2", "22050 1 1"})
            r.append({"oggenc", QString("oggenc_%1_%2.ogg").arg(q, Tag(source)), "oggenc",
                QString("-Q -q %1 -o {OUT} {SRC}").arg(q), S(source)});
    for (const char* q : {"1", "5"})
        for (const char* source : {"44100 2 1.5", "48000 1 1"})
            r.append({"ffmpeg vorbis", QString("vorbis_%1_%2.ogg").arg(q, Tag(source)), "ffmpeg",
                ff + QString("-c:a libvorbis -q:a %1 {OUT}").arg(q), S(source)});
    r.append({"sox vorbis", "sox_vorbis.ogg", "sox", S("{SRC} {OUT}"), stereo});
    r.append({"chained ogg", "chain_oggenc.ogg", "oggenc", S("-Q -o {OUT} {SRC}"), stereo, Shape::Chained, 0, stereo});
    r.append({"chained ogg", "chain_oggenc_mono.ogg", "oggenc", S("-Q -o {OUT} {SRC}"), mono, Shape::Chained, 0, mono});
    r.append(
        {"chained ogg", "chain_vorbis.ogg", "ffmpeg", ff + "-c:a libvorbis {OUT}", stereo, Shape::Chained, 0, stereo});
    // Ogg of several logical streams: two sound streams, a video beside
    // the sound (before it or after, longer or shorter).
    const QString video = S("-f lavfi -i testsrc=size=64x48:rate=10:duration=");
    r.append({"multiplexed ogg", "two_vorbis.ogg", "ffmpeg", ff + "-map 0:a -map 0:a -c:a libvorbis {OUT}", stereo});
    r.append({"multiplexed ogg", "two_opus.opus", "ffmpeg", ff + "-map 0:a -map 0:a -c:a libopus {OUT}", stereo});
    for (const char* codec : {"libvorbis", "libopus"})
        for (const char* seconds : {"1", "2.5"}) {
            r.append({"multiplexed ogg", QString("theora_%1_%2.ogg").arg(codec, seconds), "ffmpeg",
                ff + video + seconds + QString(" -map 1:v -map 0:a -c:v libtheora -c:a %1 {OUT}").arg(codec), stereo});
            r.append({"multiplexed ogg", QString("%1_theora_%2.ogg").arg(codec, seconds), "ffmpeg",
                ff + video + seconds + QString(" -c:v libtheora -c:a %1 -page_duration 250000 {OUT}").arg(codec),
                stereo});
        }
    r.append({"multiplexed ogg", "skeleton_oggenc.ogg", "oggenc", S("-Q -o {OUT} {SRC}"), stereo, Shape::Skeleton,
        44100});
    r.append({"multiplexed ogg", "skeleton_vorbis.ogg", "ffmpeg", ff + "-c:a libvorbis {OUT}", S("48000 1 1"),
        Shape::Skeleton, 48000});
    // Opus end trims over several packets of the last page.
    for (const int trim : {1000, 1500, 4000})
        r.append({"opus end trim", QString("end_trim_%1.opus").arg(trim), "opusenc", S("--quiet {SRC} {OUT}"),
            S("48000 2 1.6"), Shape::OpusEndTrim, trim});
    // FLAC: every block size the encoder offers, levels, Ogg, other writers.
    for (const char* block : {"192", "576", "1152", "2304", "4096", "4608"})
        for (const char* level : {"-0", "-5", "-8"})
            r.append({"flac", QString("flac_b%1_l%2.flac").arg(block, QString(level).mid(1)), "flac",
                QString("--silent %1 -b %2 -o {OUT} {SRC}").arg(level, block), stereo});
    for (const char* block : {"8192", "16384", "32768"})
        r.append({"flac", QString("flac_lax_b%1.flac").arg(block), "flac",
            QString("--silent --lax -b %1 -o {OUT} {SRC}").arg(block), stereo});
    r.append({"flac", "flac_24.flac", "flac", S("--silent -o {OUT} {SRC}"), S("96000 2 0.5 24")});
    r.append({"flac", "flac_mono.flac", "flac", S("--silent -o {OUT} {SRC}"), mono});
    r.append({"flac", "flac_ogg.oga", "flac", S("--silent --ogg -o {OUT} {SRC}"), stereo});
    r.append({"flac", "flac_ogg_mono.oga", "flac", S("--silent --ogg -o {OUT} {SRC}"), mono});
    // (32-bit samples, which only flac decodes: its length is flac's.)
    r.append({"flac 32-bit", "flac32_mono.flac", "flac", S("--silent -o {OUT} {SRC}"), S("44100 1 1.2 32")});
    r.append({"chained ogg flac", "chain_flac.oga", "ffmpeg", ff + "-c:a flac {OUT}", stereo, Shape::Chained, 0, stereo});
    r.append({"chained ogg flac rates", "chain_flac_rates.oga", "ffmpeg", ff + "-c:a flac {OUT}", stereo, Shape::Chained, 0,
        S("22050 2 1")});
    for (const char* level : {"0", "8", "12"})
        r.append({"ffmpeg flac", QString("ffflac_%1.flac").arg(level), "ffmpeg",
            ff + QString("-c:a flac -compression_level %1 {OUT}").arg(level), stereo});
    r.append({"sox flac", "sox_flac.flac", "sox", S("{SRC} {OUT}"), stereo});
    // WMA, both versions, at every rate.
    for (const char* codec : {"wmav1", "wmav2"})
        for (const char* rate : {"8000", "11025", "16000", "22050", "32000", "44100", "48000"})
            for (const int channels : {1, 2})
                r.append({"ffmpeg wma", QString("%1_%2_%3.wma").arg(codec, rate).arg(channels), "ffmpeg",
                    ff + QString("-c:a %1 {OUT}").arg(codec), QString("%1 %2 1.3").arg(rate).arg(channels)});
    // AC-3 and E-AC-3, raw and in Matroska, a stream of two frames.
    for (const char* codec : {"ac3", "eac3"})
        for (const char* rate : {"32000", "44100", "48000"})
            for (const int channels : {1, 2, 6})
                r.append({"ffmpeg ac-3", QString("%1_%2_%3.%1").arg(codec, rate).arg(channels), "ffmpeg",
                    ff + QString("-c:a %1 {OUT}").arg(codec), QString("%1 %2 1").arg(rate).arg(channels)});
    r.append({"ffmpeg ac-3", "eac3_short.eac3", "ffmpeg", ff + "-c:a eac3 {OUT}", S("48000 2 0.05")});
    r.append({"ffmpeg ac-3", "ac3_mka.mka", "ffmpeg", ff + "-c:a ac3 {OUT}", S("48000 6 1")});
    // ALAC in every container that holds it.
    for (const char* ext : {"m4a", "caf", "mov"})
        for (const char* format : {"s16p", "s32p"})
            for (const char* source : {"44100 2 1.5", "48000 1 1"})
                r.append({"ffmpeg alac", QString("alac_%1_%2_%3.%4").arg(format, Tag(source), ext, ext), "ffmpeg",
                    ff + QString("-c:a alac -sample_fmt %1 {OUT}").arg(format), S(source)});
    // RF64, the WAVE of more than 4 GB.
    for (const char* codec : {"pcm_s16le", "pcm_s24le", "pcm_f32le"})
        r.append({"ffmpeg rf64", QString("rf64_%1.wav").arg(codec), "ffmpeg",
            ff + QString("-c:a %1 -rf64 always {OUT}").arg(codec), stereo});
    // Fragmented MPEG-4 (fragments of 0.3 s, or one a video key frame),
    // CMAF.
    const QString fragments = S("-movflags frag_keyframe+empty_moov+default_base_moof");
    for (const char* source : {"44100 2 1.5", "48000 1 1"}) {
        r.append({"fragmented mp4", QString("frag_%1.mp4").arg(Tag(source)), "ffmpeg",
            ff + "-c:a aac " + fragments + " -frag_duration 300000 {OUT}", S(source)});
        r.append({"fragmented mp4", QString("cmaf_%1.mp4").arg(Tag(source)), "ffmpeg",
            ff + "-c:a aac " + fragments + "+cmaf {OUT}", S(source)});
    }
    r.append({"fragmented mp4", "frag_video.mp4", "ffmpeg",
        ff + video + "2 -c:v mpeg4 -g 5 -c:a aac " + fragments + " {OUT}", stereo});
    r.append({"fragmented mp4", "frag_alac.m4a", "ffmpeg",
        ff + "-c:a alac " + fragments + " -frag_duration 300000 {OUT}", stereo});
    // Files of several tracks whose duration is another's: a subtitle or a
    // video ending after the sound.
    const QString subtitle =
        S("-f srt -i data:text/plain;base64,MQowMDowMDowMCw1MDAgLS0+IDAwOjAwOjA1LDAwMApIZWxsbwoK ");
    r.append({"tracks beyond the sound", "subtitled.mkv", "ffmpeg",
        ff + video + "1 " + subtitle + "-map 0 -map 1 -map 2 -c:v mpeg4 -c:a libvorbis -c:s srt {OUT}", stereo});
    r.append({"tracks beyond the sound", "subtitled_opus.mka", "ffmpeg",
        ff + subtitle + "-map 0 -map 1 -c:a libopus -c:s srt {OUT}", stereo});
    r.append({"tracks beyond the sound", "longer_video_asf.wmv", "ffmpeg",
        ff + video + "3 -c:v wmv2 -c:a wmav2 {OUT}", stereo});
    r.append({"tracks beyond the sound", "longer_video_mkv.mkv", "ffmpeg",
        ff + video + "3 -c:v mpeg4 -c:a aac {OUT}", stereo});
    // WebM and Matroska.
    r.append({"matroska", "webm_opus.webm", "ffmpeg", ff + "-c:a libopus {OUT}", stereo});
    r.append({"matroska", "webm_vorbis.webm", "ffmpeg", ff + "-c:a libvorbis {OUT}", stereo});
    for (const char* codec : {"flac", "aac", "libmp3lame", "libvorbis", "libopus", "pcm_s16le", "alac", "mp2"})
        r.append(
            {"matroska", QString("mka_%1.mka").arg(codec), "ffmpeg", ff + QString("-c:a %1 {OUT}").arg(codec), stereo});
    // Layer II from other encoders, with and without CRC, every mode.
    for (const char* mode : {"s", "j", "d", "m"})
        for (const bool crc : {false, true})
            r.append({"twolame", QString("twolame_%1_%2.mp2").arg(mode).arg(int(crc)), "twolame",
                QString("--quiet -m %1 %2 %3 {SRC} {OUT}").arg(mode, crc ? "-p" : "", *mode == 'm' ? "-a" : ""),
                stereo});
    r.append({"ffmpeg mp2", "ffmp2.mp2", "ffmpeg", ff + "-c:a mp2 {OUT}", stereo});
    r.append({"ffmpeg mp2", "ffmp2_mono.mp2", "ffmpeg", ff + "-c:a mp2 {OUT}", mono});
    r.append({"ffmpeg mp3", "shine.mp3", "ffmpeg", ff + "-c:a libshine {OUT}", stereo});
    // Hand-built Layer I frames with checksums, every channel mode.
    for (int mode = 0; mode < 4; ++mode)
        for (const int frames : {3, 60})
            r.append({"layer I by hand", QString("layer1_m%1_%2.mp1").arg(mode).arg(frames), QString(), QString(),
                QString(), Shape::LayerOneByHand, mode * 1000 + frames});
    return r;
}

// The conversions of the program's own Layer I and II encoder, every mode,
// and the sources they run over.
struct OwnEncoding {
    const char* name;
    const char* type;
    int bitRate;
    bool joint;
};
constexpr OwnEncoding kOwnEncodings[]
    = {{"L1 stereo", "MPG1", 192, false}, {"L1 joint", "MPG1", 384, true}, {"L2 stereo", "MPG2", 192, false},
        {"L2 joint", "MPG2", 128, true}, {"L1 low", "MPG1", 128, true}, {"L2 mid", "MPG2", 160, false}};
const char* const kOwnSources[] = {"44100 2 1.5", "48000 2 1", "32000 2 1", "44100 1 1", "48000 1 0.3"};

// Runs every job (program and arguments), a few at a time: their results.
QList<peers::RunResult> RunAll(const QList<QPair<QString, QStringList>>& jobs)
{
    constexpr int kAtOnce = 4;
    QList<peers::RunResult> results;
    for (qsizetype first = 0; first < jobs.size(); first += kAtOnce) {
        std::vector<std::unique_ptr<QProcess>> running;
        for (qsizetype i = first; i < std::min<qsizetype>(first + kAtOnce, jobs.size()); ++i) {
            running.push_back(std::make_unique<QProcess>());
            running.back()->start(jobs[i].first, jobs[i].second);
            running.back()->closeWriteChannel();
        }
        for (const std::unique_ptr<QProcess>& p : running) {
            peers::RunResult r;
            if (p->waitForFinished(120000) && p->exitStatus() == QProcess::NormalExit)
                r.exitCode = p->exitCode();
            r.out = p->readAllStandardOutput();
            r.err = p->readAllStandardError();
            results.append(r);
        }
    }
    return results;
}

// The jobs that failed, with what they said; empty when none did.
QString Failures(const QList<QPair<QString, QStringList>>& jobs, const QList<peers::RunResult>& results)
{
    QStringList failures;
    for (qsizetype i = 0; i < jobs.size(); ++i)
        if (results[i].exitCode != 0)
            failures << jobs[i].first + " " + jobs[i].second.join(' ') + ": " + QString::fromUtf8(results[i].err);
    return failures.join('\n');
}

long long OutputFrames(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.toUtf8().constData(), SFM_READ, &info);
    if (!file)
        return -1;
    sf_close(file);
    return info.frames;
}

using IntactInputsBatch = BatchTest;

TEST_F(IntactInputsBatch, EveryEncoderShapeConvertsCleanlyToFFmpegsLength)
{
    for (const char* peer : {"ffmpeg", "sox", "lame", "flac", "oggenc", "opusenc", "twolame"})
        if (!peers::Have(peer)) {
            if (peers::InCI())
                FAIL() << peer << " is not installed (a peer every CI run needs)";
            GTEST_SKIP() << peer << " is not installed";
        }
    const bool all = qEnvironmentVariable("QM_INTACT_ALL") == QLatin1String("1");
    bool seeded = false;
    const quint64 seed = qEnvironmentVariable("QM_INTACT_SEED").toULongLong(&seeded);
    const quint64 used = seeded ? seed : 20261209u;
    const std::string tag = all ? std::string("all recipes") : "seed " + std::to_string(used);

    // The recipes run: all, or of each family a share drawn with the seed
    // (one at least; with two of the program's own encodings, joint-stereo
    // Layer I always among them).
    QList<Recipe> recipes = Recipes();
    ASSERT_GE(recipes.size() + qsizetype(std::size(kOwnEncodings) * std::size(kOwnSources)), 300);
    std::vector<bool> ownChosen(std::size(kOwnEncodings), all);
    if (!all) {
        std::mt19937_64 rng(used);
        QMap<QString, QList<Recipe>> families;
        for (const Recipe& recipe : recipes)
            families[recipe.family].append(recipe);
        QList<Recipe> sample;
        for (auto it = families.begin(); it != families.end(); ++it) {
            QList<Recipe>& members = it.value();
            std::shuffle(members.begin(), members.end(), rng);
            const qsizetype take = std::max<qsizetype>(1, members.size() * kSampled / recipes.size());
            sample += members.mid(0, take);
        }
        recipes = sample;
        ownChosen[rng() % ownChosen.size()] = true;
        ownChosen[1] = true;  // joint-stereo Layer I
    }

    // The sources, then every encode.
    const QString sources = root + "/sources", ownSources = root + "/ownsources", in = root + "/in",
                  made = root + "/made";
    ASSERT_TRUE(QDir().mkpath(sources) && QDir().mkpath(ownSources) && QDir().mkpath(in) && QDir().mkpath(made));
    const auto sourcePath = [&](const QString& source) {
        return sources + "/" + QString(source).replace(' ', '_').replace('.', 'p') + ".wav";
    };
    QSet<QString> wanted;
    for (const Recipe& recipe : recipes)
        for (const QString& source : {recipe.source, recipe.second})
            if (!source.isEmpty())
                wanted.insert(source);
    QList<QPair<QString, QStringList>> jobs;
    for (const QString& source : wanted)
        jobs.append({"sox", SynthArguments(source, sourcePath(source))});
    for (const char* source : kOwnSources)
        jobs.append({"sox",
            SynthArguments(S(source), ownSources + "/" + S(source).replace(' ', '_').replace('.', 'p') + ".wav")});
    QString failures = Failures(jobs, RunAll(jobs));
    ASSERT_TRUE(failures.isEmpty()) << failures.toStdString();
    jobs.clear();
    const auto encoded = [&](const Recipe& recipe, bool second) {
        return made + "/" + (second ? "second_" : "") + recipe.name;
    };
    for (const Recipe& recipe : recipes)
        for (const bool second : {false, true}) {
            if (recipe.program.isEmpty() || (second && recipe.second.isEmpty()))
                continue;
            QStringList arguments;
            for (const QString& a : recipe.arguments.split(' ', Qt::SkipEmptyParts))
                arguments << (a == "{SRC}" ? sourcePath(second ? recipe.second : recipe.source)
                        : a == "{OUT}"     ? encoded(recipe, second)
                                           : a);
            jobs.append({recipe.program, arguments});
        }
    failures = Failures(jobs, RunAll(jobs));
    ASSERT_TRUE(failures.isEmpty()) << failures.toStdString();

    // The shapes.  (ffmpeg passes over the frame after a tag between two
    // frames: the length is that of the file without the tag.)
    QMap<QString, QString> untagged;
    for (const Recipe& recipe : recipes) {
        const std::string path = encoded(recipe, false).toStdString();
        intactshape::Bytes bytes = recipe.program.isEmpty() ? intactshape::Bytes() : peers::ReadAll(path);
        intactshape::Bytes before, after;
        switch (recipe.shape) {
        case Shape::Encoded:
            break;
        case Shape::OpusPreSkip:
            ASSERT_TRUE(intactshape::SetOpusPreSkip(&bytes, uint16_t(recipe.value)));
            break;
        case Shape::EmptyFirstAAC:
            ASSERT_TRUE(intactshape::EmptyFirstAACPacket(&bytes)) << recipe.name.toStdString();
            break;
        case Shape::TwoID3v2:
            before = intactshape::ID3v2Tag(600);
            after = intactshape::ID3v2Tag(uint32_t(recipe.value));
            before.insert(before.end(), after.begin(), after.end());
            after.clear();
            break;
        case Shape::JunkAfterID3v2:
            before = intactshape::ID3v2Tag(600);
            for (int i = 0; i < recipe.value; ++i)
                before.push_back(uint8_t(i % 200));
            break;
        case Shape::TagsAtEnd: {
            after = recipe.value < 2 ? intactshape::ID3v2Tag(3000, recipe.value == 1)
                                     : intactshape::APETag(recipe.value == 3);
            if (recipe.value != 2) {
                const intactshape::Bytes v1 = intactshape::ID3v1Tag();
                after.insert(after.end(), v1.begin(), v1.end());
            }
            break;
        }
        case Shape::Chained:
            after = peers::ReadAll(encoded(recipe, true).toStdString());
            if (recipe.value > 0) {
                intactshape::Bytes joined = bytes;
                joined.insert(joined.end(), after.begin(), after.end());
                untagged[recipe.name] = made + "/untagged_" + recipe.name;
                peers::WriteAll(untagged[recipe.name].toStdString(), joined);
                const intactshape::Bytes tag = intactshape::ID3v2Tag(uint32_t(recipe.value));
                after.insert(after.begin(), tag.begin(), tag.end());
            }
            break;
        case Shape::TagBetweenFrames:
        case Shape::ZerosBetweenFrames: {
            const std::size_t at = intactshape::Mp3FrameAt(bytes, 0.4);
            ASSERT_GT(at, 0u) << recipe.name.toStdString();
            untagged[recipe.name] = encoded(recipe, false);
            const intactshape::Bytes between = recipe.shape == Shape::TagBetweenFrames
                                                   ? intactshape::ID3v2Tag(uint32_t(recipe.value))
                                                   : intactshape::Bytes(std::size_t(recipe.value), 0);
            bytes.insert(bytes.begin() + std::ptrdiff_t(at), between.begin(), between.end());
            break;
        }
        case Shape::LayerOneByHand:
            bytes = layeronebuild::Stream(recipe.value / 1000, recipe.value % 1000);
            break;
        case Shape::Skeleton:
            ASSERT_TRUE(intactshape::AddSkeleton(&bytes, uint32_t(recipe.value))) << recipe.name.toStdString();
            break;
        case Shape::OpusEndTrim:
            ASSERT_TRUE(intactshape::LowerLastOggGranule(&bytes, recipe.value)) << recipe.name.toStdString();
            break;
        }
        bytes.insert(bytes.begin(), before.begin(), before.end());
        bytes.insert(bytes.end(), after.begin(), after.end());
        ASSERT_FALSE(bytes.empty()) << recipe.name.toStdString();
        peers::WriteAll((in + "/" + recipe.name).toStdString(), bytes);
    }

    // The program's own Layer I and II encodings, into the folder too.
    QList<QPair<int, QVariantMap>> own;
    for (std::size_t i = 0; i < std::size(kOwnEncodings); ++i) {
        if (!ownChosen[i])
            continue;
        QByteArray specifics(1, char(20));
        specifics += kOwnEncodings[i].joint ? "MPEG joint stereo   " : "MPEG stereo         ";
        own.append(
            {0, TypedConversion(kOwnEncodings[i].name, kOwnEncodings[i].type, kOwnEncodings[i].bitRate, specifics)});
    }
    const QString ownOut = root + "/own";
    const RunResult encodedOwn = RunConversions("own", own, ownSources, ownOut);
    ASSERT_EQ(encodedOwn.exitCode, 0) << encodedOwn.err.toStdString();
    QMap<QString, QString> family;
    for (const Recipe& recipe : recipes)
        family[recipe.name] = recipe.family;
    for (const QString& file : FilesUnder(ownOut, true)) {
        if (!file.endsWith(".mpg") && !file.endsWith(".mp2"))
            continue;
        const QString name = "own_" + QString(file).replace('/', '_').replace(' ', '_');
        ASSERT_TRUE(QFile::copy(ownOut + "/" + file, in + "/" + name));
        family[name] = file.endsWith(".mpg") ? "own Layer I" : "own Layer II";
    }

    // QM_INTACT_WRITE=FOLDER copies the files there and converts nothing
    // (the verdict snapshot converts them with the other corpora).
    if (const QString writeTo = qEnvironmentVariable("QM_INTACT_WRITE"); !writeTo.isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(writeTo));
        for (const QString& name : QDir(in).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(in + "/" + name, writeTo + "/" + name)) << name.toStdString();
        return;
    }

    // One batch over the folder.
    const QString out = root + "/out";
    const RunResult run = RunConversions("keep", {{0, TypedConversion("Keep", "AIFF", 16, QByteArray())}}, in, out);
    ASSERT_FALSE(run.crashed);

    // Each input: no line of its own, and ffmpeg's length.
    const QStringList names = QDir(in).entryList(QDir::Files, QDir::Name);
    QList<QPair<QString, QStringList>> decodes;
    // (ffmpeg is told a raw AC-3 stream's kind: it scores two frames too
    // low to know them.)
    for (const QString& name : names) {
        const QString suffix = QFileInfo(name).suffix();
        const QStringList kind = suffix == "ac3" || suffix == "eac3" ? QStringList{"-f", suffix} : QStringList();
        if (name.startsWith("flac32_"))
            decodes.append({"flac", {"-d", "-s", "-c", "--force-raw-format", "--endian=little", "--sign=signed",
                                        in + "/" + name}});
        else
            decodes.append({"ffmpeg",
                QStringList{"-nostdin", "-v", "quiet"} + kind
                    + QStringList{"-i", untagged.value(name, in + "/" + name), "-ac", "1", "-f", "s16le", "-"}});
    }
    const QList<peers::RunResult> decoded = RunAll(decodes);
    std::map<QString, std::array<int, 4>> counts;  // clean, warned, failed, wrong length
    QStringList faults;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        const long long expected = decoded[i].out.size() / (name.startsWith("flac32_") ? 4 : 2);
        const QString line = run.err.split('\n').filter(in + "/" + name + ":").join(" | ");
        // (The folder is mirrored; an unknown extension is kept.)
        const QString kept = out + "/Keep/in/", base = QFileInfo(name).completeBaseName();
        const QString output = QFile::exists(kept + base + ".aif") ? kept + base + ".aif" : kept + name + ".aif";
        const long long frames = OutputFrames(output);
        std::array<int, 4>& c = counts[family.value(name, "?")];
        if (line.startsWith("warning"))
            ++c[1];
        else if (!line.isEmpty() || frames < 0)
            ++c[2];
        else if (frames != expected)
            ++c[3];
        else
            ++c[0];
        if (!line.isEmpty() || frames != expected)
            faults << QString("%1: %2 frames, ffmpeg %3 %4").arg(name).arg(frames).arg(expected).arg(line);
    }
    if (all || !faults.isEmpty()) {
        std::printf("intact inputs (%s): family: clean, warned, failed, wrong length\n", tag.c_str());
        for (const auto& [name, c] : counts)
            std::printf("  %s: %d, %d, %d, %d\n", name.toUtf8().constData(), c[0], c[1], c[2], c[3]);
    }
    EXPECT_GE(names.size(), all ? 300 : 40) << tag;
    EXPECT_TRUE(faults.isEmpty()) << tag << " (QM_INTACT_SEED, QM_INTACT_ALL=1):\n" << faults.join('\n').toStdString();
}

}  // namespace
