// Markers, loops, regions, region names, the whole-file region and its
// switches, sampler data, split pairs and time stamps of CSoundFile.
#include "MacRoman.h"
#include "NotificationCenter.h"
#include "MemorySoundFile.h"
#include "SoundFileSwitches.h"

#include <gtest/gtest.h>

namespace {

SFTMarker Marker(SInt32 id, UInt32 pos, const char* name)
{
    SFTMarker m;
    m.markerID = id;
    m.pos = pos;
    MacRoman::toPascal(QString::fromUtf8(name), m.name, 31);
    return m;
}

SFTRegion Region(UInt32 start, UInt32 end, const QString& name, SInt32 id = 0)
{
    SFTRegion r;
    r.regionID = id;
    r.start = start;
    r.end = end;
    MacRoman::toPascal(name, r.name, 31);
    return r;
}

QStringList RegionNames(const CSoundFile& f)
{
    QStringList names;
    for (const ZuRegion& r : f.GetRegions())
        names << r.name();
    return names;
}

// Restores the process-wide region switches after a test.
class SwitchGuard {
public:
    SwitchGuard()
        : process_(GetProcessFileIfNoRegions()), skip_(GetSkipBadRegion()),
          ignore_(GetIgnoreRegionsContainingWholeFile())
    {
    }
    ~SwitchGuard()
    {
        SetProcessFileIfNoRegions(process_);
        SetSkipBadRegion(skip_ ? 1 : 0);
        SetIgnoreRegionsContainingWholeFile(ignore_);
    }

private:
    bool process_, skip_, ignore_;
};

} // namespace

TEST(SoundFileMarkers, OrderedByIdentifierWithTakenIdentifiersRenumbered)
{
    MemorySoundFile f(1, 16);
    SFTMarker a = Marker(1, 10, "one"), b = Marker(5, 50, "five"), c = Marker(3, 30, "three");
    ASSERT_EQ(f.AddMarker(&a), 0);
    ASSERT_EQ(f.AddMarker(&b), 0);
    ASSERT_EQ(f.AddMarker(&c), 0);
    ASSERT_EQ(f.GetNumMarkers(), 3);
    SFTMarker out;
    ASSERT_EQ(f.GetMarker(1, &out), 0);
    EXPECT_EQ(out.markerID, 3);
    EXPECT_EQ(out.pos, 30u);

    SFTMarker again = Marker(5, 70, "five");  // same identifier, other position
    ASSERT_EQ(f.AddMarker(&again), 0);
    ASSERT_EQ(f.GetNumMarkers(), 4);
    ASSERT_EQ(f.GetMarker(3, &out), 0);
    EXPECT_EQ(out.markerID, 6);
    EXPECT_EQ(out.pos, 70u);

    SFTMarker equal = Marker(9, 30, "three");  // same position and name: not added
    ASSERT_EQ(f.AddMarker(&equal), 0);
    EXPECT_EQ(f.GetNumMarkers(), 4);

    EXPECT_EQ(f.GetMarkerByID(6, &out), 0);
    EXPECT_EQ(out.pos, 70u);
    EXPECT_EQ(f.GetMarkerByID(2, &out), -22000);
    EXPECT_EQ(f.GetMarker(4, &out), -22000);
    EXPECT_EQ(f.GetMarkerObject(4), nullptr);
    ASSERT_NE(f.GetMarkerObject(0), nullptr);
    EXPECT_EQ(f.GetMarkerObject(0)->name(), QStringLiteral("one"));

    SFTMarker missing = Marker(1, 11, "one");
    EXPECT_EQ(f.RemoveMarker(&missing), -22000);
    EXPECT_EQ(f.RemoveMarker(&c), 0);
    EXPECT_EQ(f.GetNumMarkers(), 3);
}

TEST(SoundFileMarkers, LoopsKeepInsertionOrderAndDuplicatesGo)
{
    MemorySoundFile f(1, 16);
    SFTLoop l1{2, 100, 200, 0}, l2{1, 10, 20, 1};
    ASSERT_EQ(f.AddLoop(&l1), 0);
    ASSERT_EQ(f.AddLoop(&l2), 0);
    ASSERT_EQ(f.AddLoop(&l1), 0);
    ASSERT_EQ(f.GetNumLoops(), 3);
    SFTLoop out;
    ASSERT_EQ(f.GetLoop(1, &out), 0);
    EXPECT_EQ(out.loopID, 1);
    EXPECT_EQ(f.GetLoop(3, &out), -22001);
    EXPECT_EQ(f.GetLoopObject(3), nullptr);

    // RemoveDuplicateMarkers keeps the first of equal loops (and markers).
    SFTMarker m = Marker(1, 5, "m");
    ASSERT_EQ(f.AddMarker(&m), 0);
    ASSERT_EQ(f.RemoveDuplicateMarkers(), 0);
    EXPECT_EQ(f.GetNumLoops(), 2);
    EXPECT_EQ(f.GetNumMarkers(), 1);
    ASSERT_EQ(f.GetLoop(0, &out), 0);
    EXPECT_EQ(out.loopID, 2);

    SFTLoop other{2, 100, 201, 0};
    EXPECT_EQ(f.RemoveLoop(&other), -22001);
    EXPECT_EQ(f.RemoveLoop(&l1), 0);
    EXPECT_EQ(f.GetNumLoops(), 1);
}

TEST(SoundFileRegions, SortedClampedAndNamed)
{
    MemorySoundFile f(1, 16);
    f.SetNumFrames(1000);
    SFTRegion late = Region(300, 400, "late", 1);
    SFTRegion early = Region(UInt32(-10), 100, "early", 2);
    SFTRegion beyond = Region(50, 5000, "beyond", 3);
    ASSERT_EQ(f.AddRegion(&late), 0);
    ASSERT_EQ(f.AddRegion(&early), 0);
    ASSERT_EQ(f.AddRegion(&beyond), 0);
    ASSERT_EQ(f.GetNumRegions(), 3);
    SFTRegion out;
    ASSERT_EQ(f.GetRegion(0, &out), 0);
    EXPECT_EQ(out.start, 0u);
    EXPECT_EQ(out.regionID, 2);
    ASSERT_EQ(f.GetRegion(1, &out), 0);
    EXPECT_EQ(out.end, 1000u);
    EXPECT_EQ(RegionNames(f), (QStringList{"early", "beyond", "late"}));
    EXPECT_EQ(f.GetRegion(3, &out), -22002);
    EXPECT_EQ(f.GetRegionObject(3), nullptr);

    // An equal region (same start and end) is not added again.
    SFTRegion same = Region(300, 400, "other name");
    ASSERT_EQ(f.AddRegion(&same), 0);
    EXPECT_EQ(f.GetNumRegions(), 3);

    // A 40-character name is cut to 30.
    SFTRegion longName = Region(500, 600, QString(40, QLatin1Char('x')).left(31));
    ASSERT_EQ(f.AddRegion(&longName), 0);
    EXPECT_EQ(f.GetRegionObject(3)->name().size(), 30);

    // The 64-bit time stamp survives the round trip.
    SFTRegion stamped = Region(700, 800, "stamped");
    stamped.timeStamp = (SInt64(1) << 40) + 5;
    ASSERT_EQ(f.AddRegion(&stamped), 0);
    ASSERT_TRUE(f.FindRegion(700, 800, &out));
    EXPECT_EQ(out.timeStamp, (SInt64(1) << 40) + 5);
    EXPECT_FALSE(f.FindRegion(700, 801, nullptr));

    EXPECT_EQ(f.RemoveRegion(&stamped), 0);
    EXPECT_FALSE(f.FindRegion(700, 800, nullptr));
    EXPECT_EQ(f.RemoveRegion(&stamped), -22002);
}

TEST(SoundFileRegions, EndsKeptWhileTheFrameCountIsUnknown)
{
    // An output that has no frames yet receives regions copied from its input.
    MemorySoundFile out(1, 16);
    SFTRegion r = Region(100, 50000, "copied");
    ASSERT_EQ(out.AddRegion(&r), 0);
    SFTRegion got;
    ASSERT_EQ(out.GetRegion(0, &got), 0);
    EXPECT_EQ(got.end, 50000u);
}

TEST(SoundFileRegions, BlocksOfOverlappingRegions)
{
    MemorySoundFile f(1, 16);
    f.SetNumFrames(1000);
    UInt32 start = 99, end = 99;
    EXPECT_EQ(f.GetRegionBounds(0, &start, &end), -20002);
    EXPECT_EQ(end, 0u);
    SFTRegion a = Region(0, 100, "a"), b = Region(50, 200, "b"), c = Region(300, 400, "c");
    ASSERT_EQ(f.AddRegion(&a), 0);
    ASSERT_EQ(f.AddRegion(&b), 0);
    ASSERT_EQ(f.AddRegion(&c), 0);
    ASSERT_EQ(f.GetRegionBounds(0, &start, &end), 0);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 200u);
    ASSERT_EQ(f.GetRegionBounds(-1, &start, &end), 0);
    EXPECT_EQ(start, 0u);
    ASSERT_EQ(f.GetRegionBounds(250, &start, &end), 0);
    EXPECT_EQ(start, 300u);
    EXPECT_EQ(end, 400u);
    EXPECT_EQ(f.GetRegionBounds(500, &start, &end), -20002);
    EXPECT_EQ(end, 0u);
}

TEST(SoundFileRegions, NamesRepairedAndMadeUnique)
{
    MemorySoundFile f(1, 16);
    f.SetNumFrames(10000);
    SFTRegion bad = Region(0, 10, "a/b:c");
    SFTRegion empty = Region(10, 20, "");
    SFTRegion n1 = Region(20, 30, "N"), n2 = Region(30, 40, "N");
    SFTRegion taken = Region(40, 50, "N#1");
    const QString thirty(30, QLatin1Char('L'));
    SFTRegion l1 = Region(50, 60, thirty), l2 = Region(60, 70, thirty);
    for (SFTRegion* r : {&bad, &empty, &n1, &n2, &taken, &l1, &l2})
        ASSERT_EQ(f.AddRegion(r), 0);

    ASSERT_EQ(f.MakeRegionNamesUnique(), 0);
    const QStringList names = RegionNames(f);
    EXPECT_EQ(names[0], QStringLiteral("a-b-c"));
    EXPECT_EQ(names[1], QStringLiteral("... no name ..."));
    EXPECT_EQ(names[2], QStringLiteral("N#2"));  // "N#1" is taken already
    EXPECT_EQ(names[3], QStringLiteral("N#3"));
    EXPECT_EQ(names[4], QStringLiteral("N#1"));
    EXPECT_EQ(names[5], QString(28, QLatin1Char('L')) + QStringLiteral("#1"));
    EXPECT_EQ(names[6], QString(28, QLatin1Char('L')) + QStringLiteral("#2"));
    for (const QString& name : names)
        EXPECT_LE(name.size(), 30) << name.toStdString();
    // Nothing is left to number.
    ASSERT_EQ(f.MakeRegionNamesUnique(), 0);
    EXPECT_EQ(RegionNames(f), names);
}

TEST(SoundFileRegions, RepairAnnouncesItsStep)
{
    QVariantList seen;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("ProgressStep"), nullptr, [&](const Notification& n) { seen << n.object; });
    MemorySoundFile f(1, 16);
    EXPECT_EQ(f.RepairRegionNames(), 0);
    NotificationCenter::defaultCenter().removeObserver(token);
    ASSERT_EQ(seen.size(), 1);
    const QVariantList payload = seen[0].toList();
    ASSERT_EQ(payload.size(), 2);
    EXPECT_EQ(payload[0].toString(), QStringLiteral("Looking for bad region names"));
    EXPECT_EQ(payload[1].toInt(), 0);
}

TEST(SoundFileRegions, UniqueNamesNeverExceedThirtyCharacters)
{
    MemorySoundFile f(1, 16);
    f.SetNumFrames(100000);
    const QString name(29, QLatin1Char('q'));
    for (UInt32 i = 0; i < 12; ++i) {  // suffixes up to "#12"
        SFTRegion r = Region(i * 10, i * 10 + 5, name);
        ASSERT_EQ(f.AddRegion(&r), 0);
    }
    ASSERT_EQ(f.MakeRegionNamesUnique(), 0);
    QSet<QString> seen;
    for (const QString& n : RegionNames(f)) {
        EXPECT_LE(n.size(), 30);
        EXPECT_FALSE(seen.contains(n)) << n.toStdString();
        seen.insert(n);
    }
    EXPECT_TRUE(seen.contains(QString(27, QLatin1Char('q')) + QStringLiteral("#12")));
}

TEST(SoundFileRegions, WholeFileRegionAndTheRegionSwitches)
{
    SwitchGuard guard;
    struct Case {
        bool processFileIfNoRegions;
        int skipBadRegion;
        bool ignoreRegionsContainingWholeFile;
        std::string path;  // empty: none set
        std::vector<SFTRegion> inFile;
        QStringList names;  // the regions after opening
    };
    const Case cases[] = {
        // Switch off: no region.
        {false, 1, false, "/tmp/take.wav", {}, {}},
        // Switch on: one region over the file, named after it without its
        // readable extension, at most 29 characters.
        {true, 1, false, "/tmp/take.wav", {}, {"take"}},
        {true, 1, false, "/tmp/" + std::string(40, 'w') + ".wav", {}, {QString(29, QLatin1Char('w'))}},
        // A file with regions of its own gets no whole-file region.
        {true, 1, false, "", {Region(10, 20, "own")}, {"own"}},
        // "Ignore Regions Containing Whole File" drops a read region over
        // the whole file (the whole-file region then comes from the switch).
        {true, 1, true, "/tmp/mix.wav", {Region(0, 500, "all"), Region(10, 20, "part")}, {"part"}},
        // With "Skip Bad Region" off, names are repaired and made unique.
        {true, 0, false, "", {Region(0, 10, "x:y"), Region(10, 20, "x-y")}, {"x-y#1", "x-y#2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.join(',').toStdString());
        SetProcessFileIfNoRegions(c.processFileIfNoRegions);
        SetSkipBadRegion(c.skipBadRegion);
        SetIgnoreRegionsContainingWholeFile(c.ignoreRegionsContainingWholeFile);
        MemorySoundFile f(1, 16);
        f.SetNumFrames(500);
        if (!c.path.empty())
            (void)f.SetFile(c.path);
        f.regionsInFile = c.inFile;
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(RegionNames(f), c.names);
        if (c.inFile.empty() && !c.names.isEmpty()) {
            const ZuRegion* r = f.GetRegionObject(0);
            EXPECT_EQ(r->start(), 0u);
            EXPECT_EQ(r->end(), 500u);
            EXPECT_EQ(r->regionID(), 0);
        }
    }
    SetSkipBadRegion(0);
    EXPECT_FALSE(GetSkipBadRegion());
    SetSkipBadRegion(2);  // only 1 switches it on
    EXPECT_FALSE(GetSkipBadRegion());
}

TEST(SoundFileAnnotations, SamplerSplitPairsAndTimeStamps)
{
    MemorySoundFile f(1, 16);
    SFTSamplerInfo info;
    info.baseNote = 48;
    info.valid = 1;
    ASSERT_EQ(f.SetSamplerInfo(&info), 0);
    SFTSamplerInfo out;
    ASSERT_EQ(f.GetSamplerInfo(&out), 0);
    EXPECT_EQ(out.baseNote, 48);
    f.ResetSamplerInfo();
    EXPECT_EQ(f.GetSamplerInfo(&out), -22007);
    EXPECT_EQ(out.baseNote, 60);

    UInt32 a = 0, b = 0;
    EXPECT_EQ(f.GetSplitPair(0, &a, &b), -22015);
    ASSERT_EQ(f.AddSplitPair(10, 20), 0);
    ASSERT_EQ(f.GetSplitPair(0, &a, nullptr), 0);
    EXPECT_EQ(a, 10u);
    ASSERT_EQ(f.GetSplitPair(0, nullptr, &b), 0);
    EXPECT_EQ(b, 20u);
    EXPECT_EQ(f.GetSplitPair(1, &a, &b), -22015);

    EXPECT_FALSE(f.HasTimeStamp());
    f.SetTimeStamp64((UInt64(3) << 32) | 7);
    EXPECT_TRUE(f.HasTimeStamp());
    EXPECT_EQ(f.GetTimeStamp64(), (UInt64(3) << 32) | 7);
    EXPECT_EQ(f.GetTimeStamp(), 7u);
    f.SetTimeStamp(0xFFFFFFFFu);
    EXPECT_EQ(f.GetTimeStamp64(), 0xFFFFFFFFull);
}
