// Conversion names (folder names), name extensions and the engine's view.
#include "CConvSpec.h"
#include "ConvNameFormatter.h"
#include "ConvSpec.h"
#include "NameExtensionFormatter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

QString Name(const QString& typed)
{
    ConvSpec s;
    s.setConversionName(typed);
    return s.conversionName();
}

std::string PascalText(const Str255 pascal)
{
    return std::string(reinterpret_cast<const char*>(pascal + 1), pascal[0]);
}

} // namespace

TEST(ConvNameFormatterTest, NamesAreSafeFolderNames)
{
    EXPECT_EQ(Name(QStringLiteral("a/b:c")), QStringLiteral("a-b-c"));
    EXPECT_EQ(Name(QStringLiteral("a\\/:b")), QStringLiteral("a---b"));
    EXPECT_EQ(Name(QStringLiteral("nul") + QChar(0) + QStringLiteral("here")), QStringLiteral("nul-here"));
    EXPECT_EQ(Name(QStringLiteral(".hidden")), QStringLiteral("hidden"));
    EXPECT_EQ(Name(QStringLiteral("..two")), QStringLiteral(".two"));
    // Names that would make the output folder the destination or its parent.
    for (const QString& bad : {QString(), QStringLiteral(""), QStringLiteral("."), QStringLiteral(".."),
                               QStringLiteral("...")})
        EXPECT_EQ(Name(bad), QStringLiteral("untitled conversion")) << bad.toStdString();
    EXPECT_EQ(Name(QStringLiteral("/")), QStringLiteral("-"));

    // 255 bytes of UTF-8, cut between characters.
    EXPECT_EQ(Name(QString(300, QLatin1Char('x'))), QString(255, QLatin1Char('x')));
    const QString twoByte(200, QChar(0x00e9)); // 400 bytes
    EXPECT_EQ(Name(twoByte), QString(127, QChar(0x00e9)));
    QString emoji;
    for (int i = 0; i < 70; ++i)
        emoji += QString::fromUcs4(U"\U0001F3B5"); // 4 bytes, two UTF-16 units each
    const QString cut = Name(QStringLiteral("ab") + emoji);
    EXPECT_EQ(cut.toUtf8().size(), 2 + 63 * 4);
    EXPECT_FALSE(cut.back().isHighSurrogate());
    EXPECT_EQ(Name(QStringLiteral("x") + QString(300, QChar(0x3042))).toUtf8().size(), 253); // 1 + 84 * 3

    ConvNameFormatter formatter;
    EXPECT_TRUE(formatter.stringForObjectValue(QVariant(12)).isNull());
    QVariant object;
    EXPECT_TRUE(formatter.getObjectValue(&object, QStringLiteral("any/thing"), nullptr));
    EXPECT_EQ(object.toString(), QStringLiteral("any/thing"));
}

TEST(NameExtensionFormatterTest, StoredWithoutOneDotShownWithOne)
{
    ConvSpec s;
    s.setNameExtension(QStringLiteral(".wav"));
    EXPECT_EQ(s.nameExtension(), QStringLiteral("wav"));
    s.setNameExtension(QStringLiteral("..wav"));
    EXPECT_EQ(s.nameExtension(), QStringLiteral(".wav"));
    s.setNameExtension(QStringLiteral("a/b") + QChar(0) + QStringLiteral("c"));
    EXPECT_EQ(s.nameExtension(), QStringLiteral("a-b-c"));
    s.setNameExtension(QStringLiteral("./"));
    EXPECT_EQ(s.nameExtension(), QStringLiteral("-"));
    s.setNameExtension(QString());
    EXPECT_EQ(s.nameExtension(), QString());
    EXPECT_FALSE(s.nameExtension().isNull());

    NameExtensionFormatter formatter;
    EXPECT_EQ(formatter.stringForObjectValue(QStringLiteral("wav")), QStringLiteral(".wav"));
    EXPECT_EQ(formatter.stringForObjectValue(QStringLiteral(".wav")), QStringLiteral(".wav"));
    EXPECT_TRUE(formatter.stringForObjectValue(QVariant(1)).isNull());
}

TEST(CConvSpecTest, EngineViewForwardsToTheConversion)
{
    ConvSpecRef spec = ConvSpec::create();
    {
        CConvSpec view(spec);
        EXPECT_EQ(view.GetConvSpec(), spec.get());
        EXPECT_TRUE(view.LongName().isNull());
        EXPECT_TRUE(view.OutputFolder().parent.empty());
        EXPECT_TRUE(view.OutputFolderRef()->path.empty());

        // Without snipping: the whole file, whatever is stored.
        spec->setSnipFrom(3.0f);
        spec->setSnipTo(4.0f);
        EXPECT_EQ(view.SnipFrom(), 0.0f);
        EXPECT_EQ(view.SnipTo(), -1.0f);
        spec->setNeedsSnip(true);
        EXPECT_EQ(view.SnipFrom(), 3.0f);
        EXPECT_EQ(view.SnipTo(), 4.0f);

        // Long fields narrowed to 16 bits.
        spec->setWordLength(0x12345);
        EXPECT_EQ(view.WordLength(), SInt16(0x2345));
        spec->setChannelTreat(-1);
        EXPECT_EQ(view.ChannelTreat(), -1);

        // Setters write through.
        view.SetMax(0.5);
        view.SetCeiledMax(0.25);
        view.SetHasValidMax(true);
        view.SetCopyExtras(true);
        view.SetSampleRate(8000.0);
        EXPECT_EQ(spec->max(), 0.5);
        EXPECT_EQ(spec->ceiledMax(), 0.25);
        EXPECT_TRUE(spec->hasValidMax());
        EXPECT_TRUE(spec->copyExtras());
        EXPECT_EQ(spec->sampleRate(), 8000.0);
        view.FileTypeSpecifics()[60] = 0x42;
        EXPECT_EQ(spec->fileTypeSpecifics()[60], 0x42);
        EXPECT_EQ(view.Run(nullptr), -50);
    }
    EXPECT_EQ(spec.use_count(), 1);

    FSSpec folder{"/tmp", "out"};
    FSRef ref;
    ref.path = "/tmp/out";
    ref.inode = 7;
    CConvSpec full(spec, &folder, &ref, QStringLiteral("take 1.aif"));
    EXPECT_EQ(spec.use_count(), 2);
    FSSpec copied;
    full.GetOutputFolder(&copied);
    EXPECT_EQ(copied.name, "out");
    EXPECT_EQ(full.OutputFolderRef()->inode, 7u);
    EXPECT_EQ(full.LongName(), QStringLiteral("take 1.aif"));
}

TEST(CConvSpecTest, NameExtensionForOutputNames)
{
    ConvSpecRef spec = ConvSpec::create();
    CConvSpec view(spec);
    Str255 out;
    spec->setNameExtension(QStringLiteral("wav"));
    view.GetNameExtension(out);
    EXPECT_EQ(PascalText(out), "");
    spec->setNeedsNameExtension(true);
    view.GetNameExtension(out);
    EXPECT_EQ(PascalText(out), ".wav");
    // Stored with a dot: used as it is, asked for or not.
    spec->setNameExtension(QStringLiteral("..wav"));
    spec->setNeedsNameExtension(false);
    view.GetNameExtension(out);
    EXPECT_EQ(PascalText(out), ".wav");

    // Set from a Pascal string (Mac OS Roman), as the per-type checks do.
    const unsigned char pascal[] = {4, '.', 'a', 'p', 0x8E};
    view.SetNameExtension(pascal);
    EXPECT_EQ(spec->nameExtension(), QStringLiteral("ap\u00e9"));
    spec->setNeedsNameExtension(true);
    view.GetNameExtension(out);
    EXPECT_EQ(PascalText(out), std::string(".ap\x8e"));
    EXPECT_EQ(view.NameExtensionString(), QStringLiteral(".ap\u00e9"));

    // Longer than a Pascal string holds: cut at 255.
    spec->setNameExtension(QString(400, QLatin1Char('e')));
    view.GetNameExtension(out);
    EXPECT_EQ(out[0], 255);
}
