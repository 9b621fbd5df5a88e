// Region, marker and loop objects: equality, ordering and the round trip
// through the packed records.
#include "SoundFileRecords.h"
#include "ZuLoop.h"
#include "ZuMarker.h"
#include "ZuRegion.h"

#include <gtest/gtest.h>

#include <QList>
#include <algorithm>
#include <cstring>

namespace {

void SetPascal(Str31 field, const char* text)
{
    const size_t length = std::strlen(text);
    field[0] = static_cast<unsigned char>(length);
    std::memcpy(field + 1, text, length);
}

std::string PascalText(const unsigned char* field)
{
    return std::string(reinterpret_cast<const char*>(field + 1), field[0]);
}

} // namespace

TEST(ZuRegionTest, EqualityLooksAtStartAndEndOnly)
{
    const ZuRegion a(1, 100, 200, 0, 0, QStringLiteral("Verse"));
    const ZuRegion b(7, 100, 200, 150, 42, QStringLiteral("Chorus"));
    const ZuRegion c(1, 100, 201, 0, 0, QStringLiteral("Verse"));
    EXPECT_TRUE(a.isEqual(b));
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    EXPECT_FALSE(ZuRegion(1, 101, 200, 0, 0, QStringLiteral("Verse")) == a);
}

TEST(ZuRegionTest, SortingOrdersByStartWhateverTheIdentifiers)
{
    QList<ZuRegion> regions{ZuRegion(1, 200, 300, 0, 0, QStringLiteral("late")),
                            ZuRegion(2, 100, 500, 0, 0, QStringLiteral("early")),
                            ZuRegion(3, 0x80000000u, 0x80000010u, 0, 0, QStringLiteral("beyond 2^31")),
                            ZuRegion(0, 150, 160, 0, 0, QStringLiteral("middle"))};
    std::stable_sort(regions.begin(), regions.end(), RegionPrecedes);
    ASSERT_EQ(regions.size(), 4);
    EXPECT_EQ(regions[0].start(), 100u);
    EXPECT_EQ(regions[1].start(), 150u);
    EXPECT_EQ(regions[2].start(), 200u);
    // Frames past 2^31 stay after the earlier ones.
    EXPECT_EQ(regions[3].start(), 0x80000000u);

    const ZuRegion x(5, 100, 110, 0, 0, QString());
    const ZuRegion y(9, 100, 900, 0, 0, QStringLiteral("other"));
    EXPECT_EQ(x.compare(y), 0);
    EXPECT_EQ(CompareRegions(&x, &regions[2]), -1);
    EXPECT_EQ(CompareRegions(&regions[2], &x), 1);
    EXPECT_EQ(CompareRegions(&x, nullptr), -1);
    EXPECT_EQ(CompareRegions(nullptr, &x), 1);
}

TEST(ZuRegionTest, RecordRoundTrip)
{
    SFTRegion record;
    record.regionID = -3;
    record.start = 10;
    record.end = 44100;
    record.syncFrame = 20;
    record.timeStamp = 0x123456789LL;
    SetPascal(record.name, "Take 1");

    const ZuRegion region(record);
    EXPECT_EQ(region.regionID(), -3);
    EXPECT_EQ(region.start(), 10u);
    EXPECT_EQ(region.end(), 44100u);
    EXPECT_EQ(region.syncFrame(), 20u);
    EXPECT_EQ(region.timeStamp(), 0x123456789LL);
    EXPECT_EQ(region.timeStampHigh(), 1u);
    EXPECT_EQ(region.timeStampLow(), 0x23456789u);
    EXPECT_EQ(region.name(), QStringLiteral("Take 1"));

    SFTRegion back;
    region.getRegion(&back);
    EXPECT_EQ(back.regionID, record.regionID);
    EXPECT_EQ(back.start, record.start);
    EXPECT_EQ(back.end, record.end);
    EXPECT_EQ(back.syncFrame, record.syncFrame);
    EXPECT_EQ(back.timeStamp, record.timeStamp);
    EXPECT_EQ(0, std::memcmp(back.name, record.name, record.name[0] + 1));
}

TEST(ZuRegionTest, NamesAreMacRomanAndCutTo31Characters)
{
    // "Café" holds a character outside ASCII; Mac OS Roman has it (0x8E).
    const ZuRegion cafe(0, 0, 10, 0, 0, QString::fromUtf8("Caf\xC3\xA9"));
    SFTRegion record;
    cafe.getRegion(&record);
    ASSERT_EQ(record.name[0], 4);
    EXPECT_EQ(record.name[4], 0x8E);
    EXPECT_EQ(ZuRegion(record).name(), cafe.name());

    const QString longName(40, QLatin1Char('x'));
    ZuRegion region(0, 0, 10, 0, 0, longName);
    region.getRegion(&record);
    EXPECT_EQ(record.name[0], 31);
    EXPECT_EQ(PascalText(record.name), std::string(31, 'x'));

    region.setName(QStringLiteral("renamed"));
    EXPECT_EQ(region.name(), QStringLiteral("renamed"));
}

TEST(ZuRegionTest, MalformedRecordNameIsClampedToItsField)
{
    SFTRegion record;
    std::memset(record.name, 'y', sizeof(record.name));
    record.name[0] = 255; // promises more than the 32-byte field holds
    const ZuRegion region(record);
    EXPECT_LE(region.name().size(), 31);
}

TEST(ZuRegionTest, DescriptionNamesTheFields)
{
    const ZuRegion region(4, 10, 20, 15, -1, QStringLiteral("Intro"));
    const QString text = region.description();
    EXPECT_TRUE(text.startsWith(QStringLiteral("ZuRegion @ ")));
    EXPECT_TRUE(text.endsWith(
        QStringLiteral(", ID = 4, start = 10, end = 20, syncFrame = 15, timestamp = -1, name = Intro")))
        << text.toStdString();
}

TEST(ZuMarkerTest, EqualityLooksAtPositionAndExactName)
{
    const ZuMarker a(1, 500, 0, 0, QStringLiteral("Cue"));
    const ZuMarker sameButId(9, 500, 3, 7, QStringLiteral("Cue"));
    const ZuMarker otherCase(1, 500, 0, 0, QStringLiteral("cue"));
    const ZuMarker otherPos(1, 501, 0, 0, QStringLiteral("Cue"));
    EXPECT_TRUE(a == sameButId);
    EXPECT_FALSE(a == otherCase);
    EXPECT_FALSE(a == otherPos);
}

TEST(ZuMarkerTest, RecordRoundTripAndRenumbering)
{
    SFTMarker record;
    record.markerID = 12;
    record.pos = 0xFFFFFFF0u;
    record.type = -2;
    record.number = 5;
    SetPascal(record.name, "Marker A");

    ZuMarker marker(record);
    EXPECT_EQ(marker.markerID(), 12);
    EXPECT_EQ(marker.pos(), 0xFFFFFFF0u);
    EXPECT_EQ(marker.type(), -2);
    EXPECT_EQ(marker.number(), 5);
    EXPECT_EQ(marker.name(), QStringLiteral("Marker A"));

    marker.setMarkerID(13);
    SFTMarker back;
    marker.getMarker(&back);
    EXPECT_EQ(back.markerID, 13);
    EXPECT_EQ(back.pos, record.pos);
    EXPECT_EQ(back.type, record.type);
    EXPECT_EQ(back.number, record.number);
    EXPECT_EQ(PascalText(back.name), "Marker A");

    const ZuMarker early(1, 10, 0, 0, QString());
    EXPECT_EQ(CompareMarkers(&early, &marker), -1);
    EXPECT_EQ(CompareMarkers(&marker, &early), 1);
    EXPECT_EQ(CompareMarkers(nullptr, &early), 1);
    EXPECT_TRUE(marker.description().endsWith(
        QStringLiteral(", ID = 13, pos = 4294967280, type = -2, number = 5, name = Marker A")))
        << marker.description().toStdString();
}

TEST(ZuLoopTest, EqualityNeedsAllFourFields)
{
    const ZuLoop a(1, 100, 200, 0);
    EXPECT_TRUE(a == ZuLoop(1, 100, 200, 0));
    EXPECT_FALSE(a == ZuLoop(2, 100, 200, 0));
    EXPECT_FALSE(a == ZuLoop(1, 101, 200, 0));
    EXPECT_FALSE(a == ZuLoop(1, 100, 201, 0));
    EXPECT_FALSE(a == ZuLoop(1, 100, 200, 1));
}

TEST(ZuLoopTest, RecordRoundTripAndOrder)
{
    SFTLoop record;
    record.loopID = 3;
    record.start = 1000;
    record.end = 2000;
    record.type = 1;
    const ZuLoop loop(record);
    SFTLoop back;
    loop.getLoop(&back);
    EXPECT_EQ(back.loopID, 3);
    EXPECT_EQ(back.start, 1000u);
    EXPECT_EQ(back.end, 2000u);
    EXPECT_EQ(back.type, 1);

    QList<ZuLoop> loops{ZuLoop(1, 0x90000000u, 0x90000001u, 0), loop, ZuLoop(2, 5, 6, 0)};
    std::stable_sort(loops.begin(), loops.end(), LoopPrecedes);
    EXPECT_EQ(loops[0].start(), 5u);
    EXPECT_EQ(loops[1].start(), 1000u);
    EXPECT_EQ(loops[2].start(), 0x90000000u);
    EXPECT_TRUE(loop.description().endsWith(QStringLiteral(", ID = 3, start = 1000, end = 2000, type = 1")));
}
