// Markers, loops, names and time stamps through whole batches, checked with
// libsndfile: label-less cue points, loop ends across AIFF and WAVE, the
// IDs of AIFF markers, region-named set members, the 64-bit Broadcast Wave
// time stamp, and which outputs get an AppleDouble sidecar; the 'bext'
// header of both Broadcast Wave outputs and an MP3 input's tag on an MP3
// output.
#include "CAIFFFile.h"
#include "CBWFLinearFile.h"
#include "CliTestSupport.h"
#include "MacRoman.h"
#include "PCMFileTypes.h"
#include "PeerTools.h"
#include "PropertyList.h"
#include "RIFFBuilding.h"
#include "TestTempDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <set>
#include <vector>

using namespace clitest;

namespace {

QVariantMap Conversion(const QString& name, const char* type)
{
    const auto code = (UInt32(UInt8(type[0])) << 24) | (UInt32(UInt8(type[1])) << 16) |
                      (UInt32(UInt8(type[2])) << 8) | UInt32(UInt8(type[3]));
    return {{"QMCSName", name},
            {"QMCSNeedsStrictFileType", true},
            {"QMCSOutputFileType", qint32(code)},
            {"QMCSCopyExtras", true}};
}

// G.721 files do not record their rate: the conversion sets it.
QVariantMap G721()
{
    QVariantMap c = Conversion("G721", "21-4");
    c.insert("QMCSNeedsSampleRateConversion", true);
    c.insert("QMCSSampleRate", 8000);
    return c;
}

struct SndfileAnnotations {
    std::vector<UInt32> cueOffsets;
    std::vector<std::pair<UInt32, UInt32>> loops;
};

SndfileAnnotations ReadAnnotations(const QString& path)
{
    SndfileAnnotations a;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f)
        return a;
    static SF_CUES cues;
    std::memset(&cues, 0, sizeof cues);
    if (sf_command(f, SFC_GET_CUE, &cues, sizeof cues))
        for (UInt32 i = 0; i < cues.cue_count && i < 100; ++i)
            a.cueOffsets.push_back(cues.cue_points[i].sample_offset);
    SF_INSTRUMENT instrument{};
    if (sf_command(f, SFC_GET_INSTRUMENT, &instrument, sizeof instrument))
        for (int i = 0; i < instrument.loop_count && i < 16; ++i)
            a.loops.emplace_back(instrument.loops[i].start, instrument.loops[i].end);
    sf_close(f);
    return a;
}

// The marker IDs of an AIFF's 'MARK' chunk.
std::vector<int> AIFFMarkerIDs(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray d = file.readAll();
    const auto u32 = [&d](qsizetype p) {
        return (UInt32(UInt8(d[p])) << 24) | (UInt32(UInt8(d[p + 1])) << 16) | (UInt32(UInt8(d[p + 2])) << 8) |
               UInt8(d[p + 3]);
    };
    std::vector<int> ids;
    for (qsizetype p = 12; p + 8 <= d.size();) {
        const UInt32 size = u32(p + 4);
        if (d.mid(p, 4) == "MARK" && p + 10 <= d.size()) {
            const int count = (UInt8(d[p + 8]) << 8) | UInt8(d[p + 9]);
            qsizetype q = p + 10;
            for (int i = 0; i < count && q + 7 <= d.size(); ++i) {
                ids.push_back(SInt16((UInt8(d[q]) << 8) | UInt8(d[q + 1])));
                const int length = UInt8(d[q + 6]);
                q += 6 + 1 + length + ((1 + length) & 1);
            }
        }
        p += 8 + qsizetype(size) + (size & 1);
    }
    return ids;
}

class BatchAnnotations : public BatchTest {
protected:
    void SetUp() override
    {
        BatchTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(root + "/in"));
    }

    // Runs the conversions over `input` into `out`; the conversions file is
    // written first.
    RunResult Batch(const QVariantList& conversions, const QString& input, const QString& out)
    {
        const QString list = root + "/conv-" + QString::number(++batches) + ".plist";
        QFile file(list);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(PropertyList::toXml(conversions));
        file.close();
        EXPECT_TRUE(QDir().mkpath(out));
        RunResult r = Run({"--conversions", list, "-o", out, input});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r;
    }

    QJsonObject Info(const QString& path)
    {
        const RunResult r = Run({"--info", path});
        return QJsonDocument::fromJson(r.out.toUtf8()).object();
    }

    // A stereo WAVE written by libsndfile: three cue points without labels
    // (1000, 2000, 3000) and a forward loop over frames 100 to 200.
    QString CueWave()
    {
        const QString path = root + "/in/cues.wav";
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        if (!f)
            return path;
        static SF_CUES cues;
        std::memset(&cues, 0, sizeof cues);
        cues.cue_count = 3;
        for (int i = 0; i < 3; ++i) {
            cues.cue_points[i].indx = i + 1;
            cues.cue_points[i].fcc_chunk = 0x61746164;  // "data"
            cues.cue_points[i].sample_offset = UInt32(1000 * (i + 1));
        }
        EXPECT_TRUE(sf_command(f, SFC_SET_CUE, &cues, sizeof cues));
        SF_INSTRUMENT instrument{};
        instrument.basenote = 60;
        instrument.key_hi = instrument.velocity_hi = 127;
        instrument.loop_count = 1;
        instrument.loops[0].mode = SF_LOOP_FORWARD;
        instrument.loops[0].start = 100;
        instrument.loops[0].end = 200;
        EXPECT_TRUE(sf_command(f, SFC_SET_INSTRUMENT, &instrument, sizeof instrument));
        std::vector<short> samples(2 * 10000);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = short(int(i * 37 % 2000) - 1000);
        sf_write_short(f, samples.data(), sf_count_t(samples.size()));
        sf_close(f);
        return path;
    }

    // Every file below `folder`, relative to it, sorted.
    // (the logs left out).
    static QStringList Files(const QString& folder)
    {
        QStringList files = FilesUnder(folder, true);
        files.removeIf([](const QString& f) { return f.startsWith("QuillLog-"); });
        return files;
    }

    int batches = 0;
};

TEST_F(BatchAnnotations, LabelLessCuePointsAndLoopsReachEveryTypeThatHoldsThem)
{
    const QString input = CueWave();
    struct Output {
        const char* type;
        const char* file;
        bool aiff;  // an AIFF 'MARK' chunk, read by libsndfile
        bool wave;  // a 'cue ' and 'smpl' chunk, read by libsndfile
    };
    const std::vector<Output> outputs = {
        {"AIFF", "AIFF/cues.aif", true, false},   {"AIFC", "AIFC/cues.aifc", true, false},
        {"Dawn", "Dawn/cues.aif", true, false},   {"WAVE", "WAVE/cues.wav", false, true},
        {"BWLN", "BWLN/cues.wav", false, true},   {"WVau", "WVau/cues.wav", false, true},
        {"WVfl", "WVfl/cues.wav", false, true},   {"Sd2f", "Sd2f/cues.sd2", false, false},
        {"MMIX", "MMIX/cues.mix", false, false},
    };
    QVariantList conversions;
    for (const Output& o : outputs) {
        QVariantMap c = Conversion(o.type, o.type);
        if (QByteArray(o.type) == "Dawn") {  // mono files only
            c.insert("QMCSNeedsChannelTreat", true);
            c.insert("QMCSChannelTreat", 3);
        }
        conversions.append(c);
    }
    Batch(conversions, input, root + "/out");

    EXPECT_EQ(Info(input)["markers"].toInt(), 3);
    for (const Output& o : outputs) {
        SCOPED_TRACE(o.type);
        const QString path = root + "/out/" + o.file;
        const QJsonObject info = Info(path);
        EXPECT_EQ(info["type"].toString(), o.type);
        EXPECT_EQ(info["markers"].toInt(), 3);
        EXPECT_EQ(info["loops"].toInt(), 1);
        // The input held no region and none was made; a Dawn file's start
        // time is a region of the whole file.
        EXPECT_EQ(info["regions"].toInt(), QString(o.type) == "Dawn" ? 1 : 0);
        if (!o.aiff && !o.wave)
            continue;
        const SndfileAnnotations a = ReadAnnotations(path);
        ASSERT_EQ(a.loops.size(), 1u);
        EXPECT_EQ(a.loops[0], std::make_pair(UInt32(100), UInt32(200)));
        std::set<UInt32> offsets(a.cueOffsets.begin(), a.cueOffsets.end());
        for (UInt32 expected : {1000u, 2000u, 3000u})
            EXPECT_TRUE(offsets.count(expected)) << expected;
        if (o.aiff) {
            EXPECT_EQ(a.cueOffsets.size(), 3u);  // libsndfile lists every marker but the loop's
            const std::vector<int> ids = AIFFMarkerIDs(path);
            EXPECT_EQ(ids.size(), 5u);
            for (int id : ids)
                EXPECT_GT(id, 0);
            EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size());
        }
    }
}

TEST_F(BatchAnnotations, CuePointsOfEveryWAVEFamilyInputReachTheOutputs)
{
    // One input per WAVE-family type, built by hand: two cue points
    // without labels after the data.
    const char* const types[] = {"WAVE", "WVfl", "WVau", "WVal", "BWLN", "MSAP", "G729"};
    for (const char* type : types) {
        const OSType code = OSType(UInt8(type[0])) << 24 | UInt8(type[1]) << 16 | UInt8(type[2]) << 8 | UInt8(type[3]);
        peers::WriteAll((root + "/in/" + type + ".wav").toStdString(),
                        riffbuild::Assemble(riffbuild::FamilyChunks(code, 800),
                                            {{"FORMAT", {}}, {"data", {}}, riffbuild::Cue({{1, 100}, {2, 700}})}));
    }
    Batch({Conversion("WAVE", "WAVE"), Conversion("MSAP", "MSAP")}, root + "/in", root + "/out");
    for (const char* type : types) {
        SCOPED_TRACE(type);
        const QString name = QString(type) + ".wav";
        EXPECT_EQ(Info(root + "/in/" + name)["markers"].toInt(), 2);
        for (const QString output : {"WAVE", "MSAP"}) {
            const QString path = root + "/out/" + output + "/in/" + name;  // the folder mirrored
            EXPECT_EQ(Info(path)["markers"].toInt(), 2) << output.toStdString();
            // (With a cue point of the whole-file region the batch adds.)
            const std::vector<UInt32> offsets = ReadAnnotations(path).cueOffsets;
            const std::set<UInt32> points(offsets.begin(), offsets.end());
            EXPECT_TRUE(points.count(100) && points.count(700)) << output.toStdString();
        }
    }
}

// Coded WAVE inputs that the media libraries decode, as sox and ffmpeg
// write them, with three named cue points appended: --info counts what
// libsndfile lists, and WAVE and AIFF outputs keep them.
TEST_F(BatchAnnotations, CuePointsOfCodedWAVEInputsReadThroughTheMediaLibraries)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("ffmpeg");
    struct Input {
        const char* name;
        QString program;
        QStringList arguments;  // the output path follows
    };
    const QStringList tone = {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.5:sample_rate=8000"};
    const std::vector<Input> inputs = {
        {"sox-ima", "sox", {"-n", "-r", "8000", "-e", "ima-adpcm"}},
        {"sox-gsm", "sox", {"-n", "-r", "8000", "-e", "gsm-full-rate"}},
        {"ffmpeg-ima", "ffmpeg", tone + QStringList{"-c:a", "adpcm_ima_wav", "-f", "wav"}},
        {"ffmpeg-mp3", "ffmpeg", tone + QStringList{"-c:a", "libmp3lame", "-f", "wav"}},
        {"ffmpeg-g726", "ffmpeg", tone + QStringList{"-c:a", "adpcm_g726", "-f", "wav"}},
    };
    const std::vector<std::pair<UInt32, UInt32>> points = {{1, 500}, {2, 1500}, {3, 3000}};
    for (const Input& input : inputs) {
        const QString path = root + "/in/" + input.name + ".wav";
        QStringList arguments = input.arguments;
        arguments << path;
        if (input.program == "sox")
            arguments << "synth" << "0.5" << "sine" << "440";
        ASSERT_TRUE(RunPeer(input.program, arguments)) << input.name;
        std::vector<UInt8> bytes = peers::ReadAll(path.toStdString());
        riffbuild::RIFFBuilder tail;
        const riffbuild::Chunk cue = riffbuild::Cue(points);
        const riffbuild::Chunk list = riffbuild::List(
            "adtl", {riffbuild::Label(1, "Intro"), riffbuild::Label(2, "Verse"), riffbuild::Label(3, "Outro")});
        const std::vector<UInt8> chunks =
            tail.chunk(cue.id.c_str(), cue.body).chunk(list.id.c_str(), list.body).build(false);
        bytes.insert(bytes.end(), chunks.begin() + 12, chunks.end());
        const UInt32 riffSize = UInt32(bytes.size() - 8);
        for (int i = 0; i < 4; ++i)
            bytes[std::size_t(4 + i)] = UInt8(riffSize >> (8 * i));
        peers::WriteAll(path.toStdString(), bytes);
    }
    Batch({Conversion("WAVE", "WAVE"), Conversion("AIFF", "AIFF")}, root + "/in", root + "/out");
    for (const Input& input : inputs) {
        SCOPED_TRACE(input.name);
        const QString name = input.name;
        const QString path = root + "/in/" + name + ".wav";
        EXPECT_EQ(Info(path)["format"].toString(), "Compressed Wave");
        EXPECT_EQ(Info(path)["markers"].toInt(), 3);
        // Where libsndfile reads the coding, it lists the same three.
        if (peers::ReadWithSndfile(path.toStdString()).opened)
            EXPECT_EQ(ReadAnnotations(path).cueOffsets, std::vector<UInt32>({500, 1500, 3000}));
        for (const QString& output : {root + "/out/WAVE/in/" + name + ".wav", root + "/out/AIFF/in/" + name + ".aif"}) {
            EXPECT_EQ(Info(output)["markers"].toInt(), 3) << output.toStdString();
            const std::vector<UInt32> offsets = ReadAnnotations(output).cueOffsets;
            const std::set<UInt32> found(offsets.begin(), offsets.end());
            for (const auto& [id, frame] : points)
                EXPECT_TRUE(found.count(frame)) << output.toStdString() << " " << frame;
        }
    }
}

TEST_F(BatchAnnotations, LoopKeepsItsLengthFromAIFFToWaveAndBack)
{
    CueWave();
    // WAVE -> AIFF -> WAVE -> AIFF, each output the next input.
    QString current = root + "/in/cues.wav";
    const char* const chain[] = {"AIFF", "WAVE", "AIFF"};
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        const QString out = root + "/step" + QString::number(step);
        Batch({Conversion(chain[step], chain[step])}, current, out);
        const QStringList files = Files(out);
        ASSERT_EQ(files.size(), 1) << files.join(' ').toStdString();
        current = out + "/" + files.front();
        const SndfileAnnotations a = ReadAnnotations(current);
        ASSERT_EQ(a.loops.size(), 1u);
        EXPECT_EQ(a.loops[0], std::make_pair(UInt32(100), UInt32(200)));
    }
}

TEST_F(BatchAnnotations, SidecarsOnlyWhereTheFileCannotTellItsType)
{
    QM_REQUIRE_PEER("sox");
    const QString input = root + "/in/tone.wav";
    ASSERT_TRUE(Sox({"-n", "-r", "8000", "-c", "1", "-b", "16", input, "synth", "0.2", "sine", "440"}));
    Batch({Conversion("AIFF", "AIFF"), Conversion("WAVE", "WAVE"), Conversion("AIFC", "AIFC"),
           Conversion("Sonic", "SAIF"), Conversion("Dawn", "Dawn"), Conversion("SDII", "Sd2f"),
           G721(), Conversion("CAF", "caff")},
          input, root + "/out");
    const QStringList files = Files(root + "/out");
    // Header-typed outputs: no sidecar, and still detected as written.
    for (const char* text : {"AIFF/tone.aif", "WAVE/tone.wav", "AIFC/tone.aifc", "Sonic/tone.aif", "CAF/tone.caf"}) {
        const QString name = QString::fromLatin1(text);
        EXPECT_TRUE(files.contains(name)) << files.join(' ').toStdString();
        const QString sidecar = QFileInfo(name).path() + "/._" + QFileInfo(name).fileName();
        EXPECT_FALSE(files.contains(sidecar)) << sidecar.toStdString();
    }
    EXPECT_EQ(Info(root + "/out/Sonic/tone.aif")["type"].toString(), "SAIF");
    // A Core Audio File, read as every one without Finder information.
    EXPECT_EQ(Info(root + "/out/CAF/tone.caf")["format"].toString(), "Core Audio File");
    // A Dawn file is an AIFF but for its creator; Sound Designer II keeps
    // its resource fork; the headerless G.721 type is not told by its
    // extension.
    EXPECT_TRUE(files.contains("Dawn/._tone.aif")) << files.join(' ').toStdString();
    EXPECT_EQ(Info(root + "/out/Dawn/tone.aif")["type"].toString(), "Dawn");
    EXPECT_TRUE(files.contains("SDII/._tone.sd2"));
    EXPECT_TRUE(files.contains("G721/._tone.g721")) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("G721/tone.g721"));
}

TEST_F(BatchAnnotations, RegionNamesKeepTheirDotsInSetMembers)
{
    RegisterPCMFileTypes();
    for (const UInt16 channels : {UInt16(2), UInt16(6)}) {
        CAIFFFile file;
        ASSERT_EQ(file.SetFile((root + "/in/take" + QString::number(channels)).toStdString()), noErr);
        const UInt8 ext[] = {3, 'a', 'i', 'f'};
        if (channels == 6)
            file.SetChannelConfiguration(kChannelConfig5_1);
        ASSERT_EQ(file.Create(channels, 16, 0, nullptr, ext, 44100.0f), noErr);
        std::vector<double> samples(std::size_t(channels) * 2000, 0.25);
        UInt32 count = 2000;
        ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
        SFTRegion region{1, 100, 900};
        MacRoman::toPascal(QStringLiteral("Vocal.lead"), region.name, 31);
        ASSERT_EQ(file.AddRegion(&region), noErr);
        ASSERT_EQ(file.Close(), noErr);
    }
    QVariantMap split = Conversion("Split", "AIFF");
    split.insert("QMCSNeedsExtraction", true);
    split.insert("QMCSNeedsChannelTreat", true);
    split.insert("QMCSChannelTreat", 2);
    Batch({split}, root + "/in/take2.aif", root + "/out2");
    EXPECT_EQ(Files(root + "/out2"), QStringList({"Split/take2/Vocal.lead.L.aif", "Split/take2/Vocal.lead.R.aif"}));
    // A surround set's members take the set's channel indicators, also in
    // the types that name their stereo pairs their own way (Paris "-L").
    const std::pair<const char*, const char*> types[] = {{"AIFF", ".aif"}, {" paf", ".paf"}, {"SAIF", ".aif"}};
    QVariantList conversions;
    QStringList expected;
    for (const auto& [type, extension] : types) {
        const QString folder = QStringLiteral("Surround%1").arg(conversions.size());
        QVariantMap surround = Conversion(folder, type);
        surround.insert("QMCSNeedsExtraction", true);
        surround.insert("QMCSNeedsChannelTreat", true);
        surround.insert("QMCSChannelTreat", 2);
        conversions.append(surround);
        for (const char* indicator : {".C", ".L", ".LFE", ".Ls", ".R", ".Rs"})
            expected << folder + "/take6/Vocal.lead" + indicator + extension;
    }
    Batch(conversions, root + "/in/take6.aif", root + "/out6");
    EXPECT_EQ(Files(root + "/out6").join(' ').toStdString(), expected.join(' ').toStdString());
}

// A region over the whole input covers the whole output after a rate
// change, whatever the rounding of the new frame count (linear and filter
// converters, up and down), and a marker at the input's end stays at the
// output's: read back by our AIFF reader, the frame count by libsndfile.
TEST_F(BatchAnnotations, AWholeFileRegionStaysWholeAfterARateChange)
{
    RegisterPCMFileTypes();
    constexpr UInt32 kFrames = 1003;
    CAIFFFile file;
    ASSERT_EQ(file.SetFile((root + "/in/whole").toStdString()), noErr);
    const UInt8 ext[] = {3, 'a', 'i', 'f'};
    ASSERT_EQ(file.Create(1, 16, 0, nullptr, ext, 44100.0f), noErr);
    std::vector<double> samples(kFrames, 0.25);
    UInt32 count = kFrames;
    ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    SFTRegion region{1, 0, kFrames};
    MacRoman::toPascal(QStringLiteral("All"), region.name, 31);
    ASSERT_EQ(file.AddRegion(&region), noErr);
    SFTMarker marker{};
    marker.markerID = 1;
    marker.pos = kFrames;
    ASSERT_EQ(file.AddMarker(&marker), noErr);
    ASSERT_EQ(file.Close(), noErr);

    const int rates[] = {48000, 22050, 32000, 96000};
    QVariantList conversions;
    for (const int rate : rates)
        for (const int quality : {0, 1}) {
            QVariantMap c = Conversion(QStringLiteral("R%1q%2").arg(rate).arg(quality), "AIFF");
            c.insert("QMCSNeedsSampleRateConversion", true);
            c.insert("QMCSSampleRate", rate);
            c.insert("QMCSSampleRateConvertQuality", quality);
            conversions.append(c);
        }
    Batch(conversions, root + "/in/whole.aif", root + "/out");
    for (const QVariant& conversion : conversions) {
        const QString name = conversion.toMap()["QMCSName"].toString();
        SCOPED_TRACE(name.toStdString());
        const QString path = root + "/out/" + name + "/whole.aif";
        SF_INFO info{};
        SNDFILE* peer = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
        ASSERT_NE(peer, nullptr);
        sf_close(peer);
        CAIFFFile out;
        ASSERT_EQ(out.SetFile(path.toStdString()), noErr);
        ASSERT_EQ(out.Open(), noErr);
        EXPECT_EQ(sf_count_t(out.GetNumFrames()), info.frames);
        SFTRegion whole{};
        ASSERT_EQ(out.GetNumRegions(), 1);
        ASSERT_EQ(out.GetRegion(0, &whole), noErr);
        EXPECT_EQ(whole.start, 0u);
        EXPECT_EQ(sf_count_t(whole.end), info.frames);
        SFTMarker end{};
        ASSERT_EQ(out.GetNumMarkers(), 1);
        ASSERT_EQ(out.GetMarker(0, &end), noErr);
        EXPECT_EQ(sf_count_t(end.pos), info.frames);
        out.Close();
    }
}

TEST_F(BatchAnnotations, BroadcastWaveTimeStampIsShownFromAllItsBits)
{
    RegisterPCMFileTypes();
    CBWFLinearFile file;
    ASSERT_EQ(file.SetFile((root + "/in/stamped").toStdString()), noErr);
    const UInt8 ext[] = {3, 'w', 'a', 'v'};
    ASSERT_EQ(file.Create(1, 16, 0, nullptr, ext, 96000.0f), noErr);
    file.SetTimeStamp64(UInt64(13) * 3600 * 96000);  // past 2^32 frames
    std::vector<double> samples(960, 0.1);
    UInt32 count = 960;
    ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    ASSERT_EQ(file.Close(), noErr);
    EXPECT_EQ(Info(root + "/in/stamped.wav")["timestamp"].toString(), "13:00:00.000");
}

// Both Broadcast Wave outputs hold the conversion's annotation and say
// when and by what they were made; no header names a temporary file.
TEST_F(BatchAnnotations, BroadcastWaveHeadersHoldTheAnnotationAndTheirOrigin)
{
    QM_REQUIRE_PEER("sox");
    QM_REQUIRE_PEER("ffprobe");
    const QString input = root + "/in/take.wav";
    ASSERT_TRUE(Sox({"-n", "-r", "48000", "-c", "2", "-b", "16", input, "synth", "0.3", "sine", "440"}));
    const QString annotation = QString::fromUtf8("Morning take, studio 2 \xc3\xa9t\xc3\xa9");
    QVariantList conversions;
    for (const char* type : {"BWLN", "BWMP"}) {
        QVariantMap conversion = TypedConversion(type, type, std::strcmp(type, "BWMP") == 0 ? 192 : 16, {});
        QVariantMap specifics = conversion["QMCSSpecifics"].toMap();
        specifics.insert("AnnotationText", annotation);  // the block itself holds no text
        conversion.insert("QMCSSpecifics", specifics);
        conversions.append(conversion);
    }
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    Batch(conversions, input, root + "/out");
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);

    for (const char* type : {"BWLN", "BWMP"}) {
        SCOPED_TRACE(type);
        const QString path = root + "/out/" + type + "/take.wav";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const qsizetype bext = bytes.indexOf("bext");
        ASSERT_GE(bext, 12);
        ASSERT_GE(bytes.size(), bext + 8 + 602);
        const auto field = [&](int offset, int size) {
            const QByteArray raw = bytes.mid(bext + 8 + offset, size);
            return raw.left(raw.indexOf('\0') < 0 ? raw.size() : raw.indexOf('\0'));
        };
        EXPECT_EQ(QString::fromUtf8(field(0, 256)), annotation);
        EXPECT_EQ(field(256, 32), "Quillmarch");
        EXPECT_EQ(field(288, 32), "OriginatorReference");
        EXPECT_FALSE(bytes.contains("QuillOutFile"));
        // yyyy-mm-dd and hh:mm:ss: the moment the output was made.
        const QDateTime made = QDateTime::fromString(QString::fromLatin1(field(320, 10) + ' ' + field(330, 8)),
                                                     QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_TRUE(made.isValid()) << field(320, 18).constData();
        EXPECT_TRUE(made >= before.addMSecs(-before.time().msec()) && made <= after)
            << made.toString(Qt::ISODate).toStdString();

        const QJsonObject tags = Probe(path)["format"].toObject()["tags"].toObject();
        EXPECT_EQ(tags["comment"].toString(), annotation);
        EXPECT_EQ(tags["encoded_by"].toString(), "Quillmarch");
        EXPECT_EQ(tags["date"].toString(), QString::fromLatin1(field(320, 10)));
    }
}

// An MP3 input's tag and cover reach an MP3 output whose conversion names
// no extension (it takes its type's).
TEST_F(BatchAnnotations, Mp3InputTagsReachAnMp3Output)
{
    QM_REQUIRE_PEER("lame");
    QM_REQUIRE_PEER("ffmpeg");
    const QString wave = root + "/tone.wav", cover = root + "/cover.png", input = root + "/in/song.mp3";
    ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=duration=0.5", wave}));
    ASSERT_TRUE(RunPeer("ffmpeg", {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=8x8", "-frames:v",
                                   "1", cover}));
    ASSERT_TRUE(RunPeer("lame", {"--quiet", "--tt", "Quill Song", "--tl", "Feathers", "--ti", cover, wave, input}));
    Batch({TypedConversion("MP3", "DMP3", 128, {})}, input, root + "/out");

    const QJsonObject probe = Probe(root + "/out/MP3/song.mp3");
    const QJsonObject tags = probe["format"].toObject()["tags"].toObject();
    EXPECT_EQ(tags["title"].toString(), "Quill Song");
    EXPECT_EQ(tags["album"].toString(), "Feathers");
    bool hasCover = false;
    for (const QJsonValue& stream : probe["streams"].toArray())
        hasCover = hasCover || stream.toObject()["disposition"].toObject()["attached_pic"].toInt() == 1;
    EXPECT_TRUE(hasCover);
}

}  // namespace

namespace {

// What each writable type carries of two markers, a loop and two regions
// when a conversion asks for them, read back by the program: the guide's
// table of markers, loops and regions (docs/conversions.md).
struct Carried {
    const char* type;
    int markers, loops, regions;
};

const Carried kCarried[] = {
    {"AIFF", 2, 1, 2}, {"AIFC", 2, 1, 2}, {"WAVE", 2, 1, 2}, {"WVfl", 2, 1, 2}, {"WVal", 2, 1, 2},
    {"WVau", 2, 1, 2}, {"BWLN", 2, 1, 2}, {"Sd2f", 2, 1, 2}, {"MMIX", 2, 1, 2},
    {"Dawn", 2, 1, 1},  // its start time is a region of the whole file
    {"MSAP", 2, 0, 2}, {"A1t4", 2, 0, 0}, {".AVR", 0, 1, 0},
    {"BWMP", 0, 0, 0}, {"MPG1", 0, 0, 0}, {"MPG2", 0, 0, 0}, {"Mpg4", 0, 0, 0}, {"caff", 0, 0, 0},
    {"QTIF", 0, 0, 0}, {"NxTS", 0, 0, 0}, {" paf", 0, 0, 0}, {"Sd1f", 0, 0, 0}, {"sfil", 0, 0, 0},
    {"8SVX", 0, 0, 0}, {"VOC ", 0, 0, 0}, {"VOC2", 0, 0, 0}, {"SAIF", 0, 0, 0}, {"IDAT", 0, 0, 0},
    {"DADP", 0, 0, 0}, {"26-4", 0, 0, 0}, {"G729", 0, 0, 0},
};

}  // namespace

TEST_F(BatchAnnotations, EachTypeCarriesWhatTheGuideSays)
{
    RegisterPCMFileTypes();
    CAIFFFile file;
    ASSERT_EQ(file.SetFile((root + "/in/marked").toStdString()), noErr);
    const UInt8 ext[] = {3, 'a', 'i', 'f'};
    ASSERT_EQ(file.Create(1, 16, 0, nullptr, ext, 8000.0f), noErr);
    std::vector<double> samples(8000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.25 * std::sin(double(i) * 0.3);
    UInt32 count = UInt32(samples.size());
    ASSERT_EQ(file.WriteFrames(0, &count, samples.data()), noErr);
    for (UInt32 at : {1000u, 3000u}) {
        SFTMarker marker{SInt32(at), at};
        ASSERT_EQ(file.AddMarker(&marker), noErr);
    }
    SFTLoop loop{1, 2000, 4000, 1};
    ASSERT_EQ(file.AddLoop(&loop), noErr);
    for (UInt32 at : {500u, 5000u}) {
        SFTRegion region{SInt32(at), at, at + 2000};
        MacRoman::toPascal(QStringLiteral("R%1").arg(at), region.name, 31);
        ASSERT_EQ(file.AddRegion(&region), noErr);
    }
    ASSERT_EQ(file.Close(), noErr);

    QVariantList conversions;
    for (const Carried& c : kCarried) {
        const QString type = QString::fromLatin1(c.type, 4);
        QVariantMap conversion = Conversion(type.trimmed().remove('.'), c.type);
        conversion.insert("QMCSNeedsNewWordLength", true);
        conversion.insert("QMCSWordLength", type == "VOC " || type == "8SVX" ? 8 : type == "WVfl" ? 32 : 16);
        if (type.startsWith("MPG") || type == "BWMP" || type == "Mpg4")
            conversion.insert("QMCSWordLength", type == "Mpg4" ? 32 : 64);
        const double rate = type == "IDAT" ? 44100 : type.startsWith("MPG") || type == "BWMP" ? 32000 : 0;
        if (rate > 0 || type == "DADP" || type == "26-4" || type == "G729" || type == "VOC ") {
            conversion.insert("QMCSNeedsSampleRateConversion", true);
            conversion.insert("QMCSSampleRate", rate > 0 ? rate : 8000.0);
        }
        if (type == "IDAT") {
            conversion.insert("QMCSNeedsChannelTreat", true);
            conversion.insert("QMCSChannelTreat", 1);
        }
        conversions.append(conversion);
    }
    Batch(conversions, root + "/in/marked.aif", root + "/out");
    for (const Carried& c : kCarried) {
        const QString folder = root + "/out/" + QString::fromLatin1(c.type, 4).trimmed().remove('.');
        const QStringList files = QDir(folder).entryList({"marked*"}, QDir::Files);
        ASSERT_EQ(files.size(), 1) << c.type;
        const QJsonObject info = Info(folder + "/" + files.first());
        EXPECT_EQ(QList<int>({info["markers"].toInt(), info["loops"].toInt(), info["regions"].toInt()}),
                  QList<int>({c.markers, c.loops, c.regions}))
            << c.type;
    }
}
