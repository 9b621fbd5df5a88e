// The shipped per-type property lists as the file-type table, the per-type
// checks and the conversion editor rely on them, and the factory list of
// conversions.
#include "CConvSpec.h"
#include "ConvSpec.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "SoundFileDispatcher.h"
#include "file_type_table.h"
#include "per_type_setting_checks.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cmath>
#include <map>

namespace {

// The editor's built-in sample-rate items: the tag is the index.
const double kBuiltInRates[] = {192000, 176400, 96000,   88200, 48000, 47952, 44100,
                                44055.9, 37800,  32000,   24000, 22554.545454545456,
                                22050,  18900,  16000,   12000, 11025, 8000,  6000, 5512.5};

QString Key(OSType code)
{
    return FileTypeForHFSTypeCode(code);
}

QString CodeText(OSType code)
{
    return QString::fromStdString(FourCharCodeToDisplay(code));
}

bool IsNumber(const QVariant& value)
{
    return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong;
}

bool IsSeparator(const QVariantMap& item)
{
    return !item.contains(QStringLiteral("tag")) && item.value(QStringLiteral("text")).toString() == QLatin1String("-");
}

QVariantList Items(const QVariantMap& entry, const char* key)
{
    return entry.value(QString::fromLatin1(key)).toList();
}

QVariantMap Item(const QVariantMap& entry, const char* key, int index)
{
    return Items(entry, key).value(index).toMap();
}

int Tag(const QVariantMap& entry, const char* key, int index)
{
    return int(Item(entry, key, index).value(QStringLiteral("tag")).toLongLong());
}

QList<double> Rates(const QVariantMap& entry)
{
    QList<double> rates;
    for (const QVariant& rate : entry.value(QStringLiteral("discreteSampleRates")).toList())
        rates.append(rate.toDouble());
    return rates;
}

class FileTypePropertiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ReleaseSoundFileGlobals();
        ResetFileTypeDictionary();
        BuildSoundFileDispatchers();
        types_ = LoadSoundFileProperties();
    }
    void TearDown() override
    {
        ResetFileTypeDictionary();
        ReleaseSoundFileGlobals();
    }
    QVariantMap Entry(const char* code) const
    {
        return types_.value(Key(FourCharCodeFromString(std::string(code, 4)))).toMap();
    }
    SoundFileDispatcherRef Dispatcher(const char* code) const { return GetEntryDispatcher(Entry(code)); }

    QVariantMap types_;
};

// A conversion for one type with the word length and channel treatment of
// one popup item.
ConvSpecRef SpecFor(const char* code)
{
    ConvSpecRef spec = ConvSpec::create();
    spec->setNeedsStrictFileType(true);
    spec->setOutputFileType(FourCharCodeFromString(std::string(code, 4)));
    return spec;
}

} // namespace

TEST_F(FileTypePropertiesTest, EveryTableCodeHasAWellFormedEntry)
{
    QSet<QString> texts;
    for (OSType code : GetFileTypeTableCodes()) {
        SCOPED_TRACE(CodeText(code).toStdString());
        ASSERT_TRUE(types_.contains(Key(code)));
        const QVariantMap p = types_.value(Key(code)).toMap();
        EXPECT_EQ(HFSTypeCodeFromFileType(p.value(QStringLiteral("typeCode")).toString()), code);

        // Texts name the types in the file-type menu, which finds a type by
        // its text: they must differ.
        const QString text = p.value(QStringLiteral("text")).toString();
        EXPECT_EQ(p.value(QStringLiteral("text")).typeId(), QMetaType::QString);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(texts.contains(text)) << text.toStdString();
        texts.insert(text);

        EXPECT_EQ(p.value(QStringLiteral("extension")).typeId(), QMetaType::QString);
        EXPECT_FALSE(p.value(QStringLiteral("extension")).toString().startsWith(QLatin1Char('.')));
        EXPECT_NE(HFSTypeCodeFromFileType(p.value(QStringLiteral("fileType")).toString()), 0u);
        EXPECT_NE(HFSTypeCodeFromFileType(p.value(QStringLiteral("creator")).toString()), 0u);
        for (const char* flag : {"canBeRead", "canBeWritten", "forceSampleRate", "forceWordSize", "forceChannels",
                                 "optionsButtonEnabled", "specificsMustBeValid"})
            EXPECT_EQ(p.value(QString::fromLatin1(flag)).typeId(), QMetaType::Bool) << flag;
        ASSERT_EQ(p.value(QStringLiteral("extensions")).typeId(), QMetaType::QVariantList);
        for (const QVariant& extension : p.value(QStringLiteral("extensions")).toList()) {
            EXPECT_EQ(extension.typeId(), QMetaType::QString);
            EXPECT_FALSE(extension.toString().isEmpty());
            EXPECT_EQ(extension.toString(), extension.toString().toLower());
        }
        EXPECT_EQ(p.value(QStringLiteral("numBitsCheckBoxTitle")).typeId(), QMetaType::QString);
        // The editor names the options button without its last three
        // characters ("Options...").
        EXPECT_TRUE(p.value(QStringLiteral("optionsButtonTitle")).toString().endsWith(QStringLiteral("...")));

        // Rates: numbers, default within the limits, discrete rates too.
        ASSERT_TRUE(IsNumber(p.value(QStringLiteral("sampleRateMin"))));
        ASSERT_TRUE(IsNumber(p.value(QStringLiteral("sampleRateMax"))));
        ASSERT_TRUE(IsNumber(p.value(QStringLiteral("sampleRateDefault"))));
        const double low = p.value(QStringLiteral("sampleRateMin")).toDouble();
        const double high = p.value(QStringLiteral("sampleRateMax")).toDouble();
        const double def = p.value(QStringLiteral("sampleRateDefault")).toDouble();
        EXPECT_GT(low, 0.0);
        EXPECT_LE(low, def);
        EXPECT_LE(def, high);
        if (p.contains(QStringLiteral("discreteSampleRates"))) {
            ASSERT_EQ(p.value(QStringLiteral("discreteSampleRates")).typeId(), QMetaType::QVariantList);
            const QList<double> rates = Rates(p);
            EXPECT_FALSE(rates.isEmpty());
            bool defaultListed = false;
            for (double rate : rates) {
                EXPECT_GE(rate, low);
                EXPECT_LE(rate, high);
                defaultListed = defaultListed || std::fabs(rate - def) < 0.00005;
                // Every discrete rate can be chosen from the built-in menu.
                bool builtIn = false;
                for (double item : kBuiltInRates)
                    builtIn = builtIn || std::fabs(rate - item) < 0.00005;
                EXPECT_TRUE(builtIn) << rate;
            }
            EXPECT_TRUE(defaultListed);
        }

        // Popups: items with a text and an integer tag, or separators; the
        // default is a real item.  Channel items are treatments 1 to 6 (7 and
        // 8 have no pipeline).
        for (const char* popup : {"numBitsPopup", "channelHandlingPopup"}) {
            SCOPED_TRACE(popup);
            const QVariantList items = Items(p, popup);
            ASSERT_FALSE(items.isEmpty());
            for (const QVariant& value : items) {
                ASSERT_EQ(value.typeId(), QMetaType::QVariantMap);
                const QVariantMap item = value.toMap();
                EXPECT_EQ(item.value(QStringLiteral("text")).typeId(), QMetaType::QString);
                if (IsSeparator(item))
                    continue;
                ASSERT_EQ(item.value(QStringLiteral("tag")).typeId(), QMetaType::LongLong);
                const qlonglong tag = item.value(QStringLiteral("tag")).toLongLong();
                if (QLatin1String(popup) == QLatin1String("channelHandlingPopup")) {
                    EXPECT_GE(tag, 1);
                    EXPECT_LE(tag, 6);
                } else {
                    EXPECT_GT(tag, 0);
                }
            }
            const QVariant def = p.value(QString::fromLatin1(popup) + QStringLiteral("Default"));
            ASSERT_EQ(def.typeId(), QMetaType::LongLong);
            ASSERT_GE(def.toLongLong(), 0);
            ASSERT_LT(def.toLongLong(), items.size());
            EXPECT_FALSE(IsSeparator(items.at(int(def.toLongLong())).toMap()));
        }
        EXPECT_TRUE(GetEntryDispatcher(p));
    }
    EXPECT_EQ(int(GetFileTypeTableCodes().size()), 61);
}

TEST_F(FileTypePropertiesTest, WritableTypesOnThisPlatform)
{
    // MACE, QDesign and PureVoice have no encoder here, and the movie
    // reader writes nothing; MP3 output waits for the encoder probe at
    // start-up.
    for (const char* code : {"QTM3", "QTM6", "MooV", "Mp3 ", "QTQP", "QTQ2", "QTQD", "QTPV", "DMP3", "Temp", "Snip"})
        EXPECT_FALSE(Entry(code).value(QStringLiteral("canBeWritten")).toBool()) << code;
    for (const char* code : {"AIFF", "WAVE", "BWMP", "MPG1", "MPG2", "MSAP", "G729", "DADP", "DALW", "711a",
                             "A1t4", "QTAL", "QTIM", "QTIF", "QTUL", "Mpg4",
                             "DPCM", "DULW", "711u", "DVAP", "PADP", "21-4", "23-2", "23-3", "23-5", "26-3",
                             "26-4", "26-5", "VOC "}) {
        const QVariantMap p = Entry(code);
        EXPECT_TRUE(p.value(QStringLiteral("canBeWritten")).toBool()) << code;
        EXPECT_FALSE(p.value(QStringLiteral("extension")).toString().isEmpty()) << code;
    }
    // Output-only classes read nothing.
    for (const char* code : {"DMP3", "MPG1", "MPG2", "BWMP"})
        EXPECT_FALSE(Entry(code).value(QStringLiteral("canBeRead")).toBool()) << code;

    // A readable extension belongs to one type; "mov" is typed by the movie
    // layer without being listed.
    std::map<QString, QString> owner;
    for (auto it = types_.cbegin(); it != types_.cend(); ++it) {
        const QVariantMap p = it.value().toMap();
        if (!p.value(QStringLiteral("canBeRead")).toBool())
            continue;
        for (const QVariant& extension : p.value(QStringLiteral("extensions")).toList()) {
            EXPECT_EQ(owner.count(extension.toString()), 0u) << extension.toString().toStdString();
            owner[extension.toString()] = it.key();
        }
    }
    EXPECT_EQ(owner.count(QStringLiteral("mov")), 0u);
    EXPECT_EQ(owner[QStringLiteral("vap")], QStringLiteral("'DVAP'"));
    EXPECT_EQ(owner[QStringLiteral("p16")], QStringLiteral("'DPCM'"));
}

TEST_F(FileTypePropertiesTest, WordLengthPopupsMatchTheirChecks)
{
    // Paris: 16 bits, then big-endian 16 and 24, then little-endian 16 and 24.
    const QVariantMap paris = Entry(" paf");
    ASSERT_EQ(Items(paris, "numBitsPopup").size(), 5);
    const int parisTags[] = {16, 16, 24, 16, 24};
    // QuickTime integer/float: 8; 16; 24 big, little; 32 integer big,
    // little; 32 float big, little; 64 float big, little.
    const QVariantMap qtif = Entry("QTIF");
    ASSERT_EQ(Items(qtif, "numBitsPopup").size(), 10);
    const int qtifTags[] = {8, 16, 24, 24, 32, 32, 32, 32, 64, 64};
    const QVariantMap sonic = Entry("SAIF");
    ASSERT_EQ(Items(sonic, "numBitsPopup").size(), 5);
    const int sonicTags[] = {16, 24, 24, 24, 24};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Tag(paris, "numBitsPopup", i), parisTags[i]);
        EXPECT_EQ(Tag(sonic, "numBitsPopup", i), sonicTags[i]);
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Tag(qtif, "numBitsPopup", i), qtifTags[i]);

    // Choosing any item and placing the popup again gives that item back
    // (Paris's plain "16 bits" is stored as big-endian, its next item).
    for (const char* code : {" paf", "QTIF", "SAIF"}) {
        const QVariantMap entry = Entry(code);
        const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
        const int count = int(Items(entry, "numBitsPopup").size());
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(std::string(code) + " item " + std::to_string(i));
            ConvSpecRef spec = SpecFor(code);
            const QVariantMap item = Item(entry, "numBitsPopup", i);
            spec->setWordLength(SInt32(item.value(QStringLiteral("tag")).toLongLong()));
            CConvSpec view(spec);
            EXPECT_EQ(dispatcher->callHandleWordLengthSettings(&view, i, item.value(QStringLiteral("text")).toString(),
                                                               spec->wordLength()),
                      0);
            const int expected = (QLatin1String(code) == QLatin1String(" paf") && i == 0) ? 1 : i;
            EXPECT_EQ(dispatcher->callWordLengthIndexFunc(&view), expected);
            EXPECT_TRUE(spec->descriptionForWordLength().size() > 0);
        }
    }
    const QString bigEndian = Item(paris, "numBitsPopup", 1).value(QStringLiteral("text")).toString();
    const QString littleEndian = Item(paris, "numBitsPopup", 4).value(QStringLiteral("text")).toString();
    EXPECT_TRUE(bigEndian.contains(QStringLiteral("big")));
    EXPECT_TRUE(littleEndian.contains(QStringLiteral("little")));

    // Dialogic PCM: item 0 is 8 bits ("pc8"), the others 16 bits ("p16").
    const QVariantMap pcm = Entry("DPCM");
    const int pcmCount = int(Items(pcm, "numBitsPopup").size());
    ASSERT_GE(pcmCount, 2);
    ASSERT_LE(pcmCount, 4);
    EXPECT_EQ(Tag(pcm, "numBitsPopup", 0), 8);
    for (int i = 1; i < pcmCount; ++i)
        EXPECT_EQ(Tag(pcm, "numBitsPopup", i), 16);
    EXPECT_TRUE(pcm.value(QStringLiteral("forceWordSize")).toBool());
}

TEST_F(FileTypePropertiesTest, ChannelPopupsMatchTheirChecks)
{
    // MPEG modes: items of the interleaved-stereo treatment, joint then
    // separate, at 4 and 5 (Layer I: 5 and 6).
    const std::pair<const char*, int> mpeg[] = {{"MPG1", 5}, {"MPG2", 4}, {"BWMP", 4}, {"DMP3", 4}};
    for (const auto& [code, joint] : mpeg) {
        SCOPED_TRACE(code);
        const QVariantMap entry = Entry(code);
        ASSERT_EQ(Items(entry, "channelHandlingPopup").size(), joint + 2);
        EXPECT_EQ(Item(entry, "channelHandlingPopup", joint).value(QStringLiteral("text")).toString(),
                  QStringLiteral("MPEG joint stereo"));
        EXPECT_EQ(Item(entry, "channelHandlingPopup", joint + 1).value(QStringLiteral("text")).toString(),
                  QStringLiteral("MPEG separate stereo"));
        EXPECT_EQ(Tag(entry, "channelHandlingPopup", joint), 1);
        EXPECT_EQ(Tag(entry, "channelHandlingPopup", joint + 1), 1);
        EXPECT_EQ(Tag(entry, "channelHandlingPopup", 0), 1);
    }

    // For every type with a channel check or a channel index function,
    // choosing an item as the editor does gives a valid verdict for every
    // item of a mono-only type and places the popup back on that item.
    for (OSType code : GetFileTypeTableCodes()) {
        const QVariantMap entry = types_.value(Key(code)).toMap();
        const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
        if (!dispatcher->hasHandleChannelFunc() && !dispatcher->hasChannelIndexFunc())
            continue;
        const QVariantList items = Items(entry, "channelHandlingPopup");
        for (int i = 0; i < int(items.size()); ++i) {
            const QVariantMap item = items.at(i).toMap();
            if (IsSeparator(item))
                continue;
            SCOPED_TRACE(CodeText(code).toStdString() + " item " + std::to_string(i));
            ConvSpecRef spec = SpecFor(FourCharCodeToString(code).c_str());
            spec->setNeedsChannelTreat(true);
            spec->setChannelTreat(SInt32(item.value(QStringLiteral("tag")).toLongLong()));
            const int bitsDefault = int(entry.value(QStringLiteral("numBitsPopupDefault")).toLongLong());
            spec->setWordLength(Tag(entry, "numBitsPopup", bitsDefault));
            CConvSpec view(spec);
            if (dispatcher->hasHandleChannelFunc()) {
                EXPECT_EQ(dispatcher->callHandleChannelSettings(&view, i, item.value(QStringLiteral("text")).toString(),
                                                                spec->channelTreat()),
                          0);
            }
            const QVariant verdict = spec->specificsValue(kChannelHandlingValidKey);
            EXPECT_TRUE(!verdict.isValid() || verdict.toBool());
            if (dispatcher->hasChannelIndexFunc()) {
                EXPECT_EQ(dispatcher->callChannelIndexFunc(&view), i);
            }
        }
    }

    // Types that must be mono force channel handling and offer only
    // one-channel treatments.
    for (const char* code : {"21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "Dawn", "DADP", "DALW",
                             "711a", "DULW", "711u", "DVAP", "PADP", "G729", "QTPV"}) {
        SCOPED_TRACE(code);
        const QVariantMap entry = Entry(code);
        EXPECT_TRUE(entry.value(QStringLiteral("forceChannels")).toBool());
        for (const QVariant& item : Items(entry, "channelHandlingPopup")) {
            const qlonglong tag = item.toMap().value(QStringLiteral("tag")).toLongLong();
            EXPECT_TRUE(tag >= 2 && tag <= 5) << tag;
        }
    }
}

TEST_F(FileTypePropertiesTest, SampleRateRulesMatchTheirChecks)
{
    // The telephony types name their files by the rate items tagged 17
    // (8000 Hz) and 18 (6000 Hz): exactly those rates, the default naming
    // its extension.
    ASSERT_EQ(kBuiltInRates[17], 8000.0);
    ASSERT_EQ(kBuiltInRates[18], 6000.0);
    for (const char* code : {"DADP", "DALW", "711a", "DULW", "711u", "PADP"}) {
        SCOPED_TRACE(code);
        const QVariantMap entry = Entry(code);
        EXPECT_TRUE(entry.value(QStringLiteral("forceSampleRate")).toBool());
        EXPECT_EQ(Rates(entry), (QList<double>{8000.0, 6000.0}));
        ConvSpecRef spec = SpecFor(code);
        CConvSpec view(spec);
        EXPECT_EQ(GetEntryDispatcher(entry)->callHandleSampleRateSettings(&view, 17, QStringLiteral("8000"), 17), 0);
        EXPECT_EQ(spec->nameExtension(), entry.value(QStringLiteral("extension")).toString());
    }
    // Fixed 8 kHz speech codecs.
    for (const char* code : {"21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "G729"})
        EXPECT_EQ(Rates(Entry(code)), QList<double>{8000.0}) << code;

    // MPEG-1 Layer I/II: the MPEG-1 rates; bit rates from the layer's table.
    const QList<int> layer1 = {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
    const QList<int> layer2 = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    for (const char* code : {"MPG1", "MPG2", "BWMP"}) {
        const QVariantMap entry = Entry(code);
        EXPECT_EQ(Rates(entry), (QList<double>{32000.0, 44100.0, 48000.0})) << code;
        EXPECT_TRUE(entry.value(QStringLiteral("forceWordSize")).toBool()) << code;
        for (const QVariant& item : Items(entry, "numBitsPopup")) {
            const int rate = int(item.toMap().value(QStringLiteral("tag")).toLongLong());
            EXPECT_TRUE((QLatin1String(code) == QLatin1String("MPG1") ? layer1 : layer2).contains(rate))
                << code << " " << rate;
        }
    }

    // AAC: every offered rate allows some offered bit rate, and the default
    // bit rate fits the default rate.
    const QVariantMap aac = Entry("Mpg4");
    const SoundFileDispatcherRef aacDispatcher = GetEntryDispatcher(aac);
    const QVariantList bitRates = Items(aac, "numBitsPopup");
    for (double rate : Rates(aac)) {
        bool any = false;
        for (int i = 0; i < int(bitRates.size()); ++i) {
            ConvSpecRef spec = SpecFor("Mpg4");
            spec->setSampleRate(rate);
            CConvSpec view(spec);
            const QVariantMap item = bitRates.at(i).toMap();
            aacDispatcher->callHandleWordLengthSettings(&view, i, item.value(QStringLiteral("text")).toString(),
                                                        int(item.value(QStringLiteral("tag")).toLongLong()));
            any = any || spec->specificsValue(kWordSizeValidKey).toBool();
        }
        EXPECT_TRUE(any) << rate;
    }
    {
        ConvSpecRef spec = SpecFor("Mpg4");
        spec->setSampleRate(aac.value(QStringLiteral("sampleRateDefault")).toDouble());
        const int def = int(aac.value(QStringLiteral("numBitsPopupDefault")).toLongLong());
        CConvSpec view(spec);
        aacDispatcher->callHandleWordLengthSettings(&view, def, QString(), Tag(aac, "numBitsPopup", def));
        EXPECT_TRUE(spec->specificsValue(kWordSizeValidKey).toBool());
    }

    // Creative Voice: the limits are those of the time-constant rule, the
    // default passes it, and rates must be converted.
    const QVariantMap voc = Entry("VOC ");
    EXPECT_TRUE(voc.value(QStringLiteral("forceSampleRate")).toBool());
    EXPECT_LE(voc.value(QStringLiteral("sampleRateMax")).toDouble(), 20000.0);
    EXPECT_GE(voc.value(QStringLiteral("sampleRateMin")).toDouble(), 3609.0);
    ConvSpecRef spec = SpecFor("VOC ");
    spec->setNeedsSampleRateConversion(true);
    spec->setSampleRate(voc.value(QStringLiteral("sampleRateDefault")).toDouble());
    CConvSpec view(spec);
    EXPECT_EQ(GetEntryDispatcher(voc)->callHandleSampleRateSettings(&view, 0, QString(), 17), 0);
    EXPECT_TRUE(spec->specificsValue(kSampleRateValidKey).toBool());
}

TEST_F(FileTypePropertiesTest, FactoryConversionsAreValidAgainstTheTable)
{
    const QString path = MainBundle::pathForResource(QStringLiteral("Factory_Conversions"), QStringLiteral("plist"));
    ASSERT_FALSE(path.isEmpty());
    QString error;
    const QVariant list = PropertyList::fromFile(path, &error);
    ASSERT_EQ(list.typeId(), QMetaType::QVariantList) << error.toStdString();
    const QVariantList conversions = list.toList();
    ASSERT_GE(conversions.size(), 3);

    const QStringList allKeys = ConvSpec::create()->dictionary().keys();
    QSet<QString> names;
    for (const QVariant& value : conversions) {
        ASSERT_EQ(value.typeId(), QMetaType::QVariantMap);
        const QVariantMap dictionary = value.toMap();
        // Every field is stored: a missing one would read as 0 or NO.
        EXPECT_EQ(dictionary.keys(), allKeys);
        const ConvSpecRef spec = ConvSpec::fromDictionary(dictionary);
        ASSERT_TRUE(spec);
        SCOPED_TRACE(spec->conversionName().toStdString());
        EXPECT_TRUE(spec->valid());
        EXPECT_TRUE(spec->active());
        EXPECT_EQ(spec->conversionName(), dictionary.value(ConvSpec::kConversionNameKey).toString());
        EXPECT_FALSE(spec->conversionName().isEmpty());
        EXPECT_FALSE(names.contains(spec->conversionName()));
        names.insert(spec->conversionName());

        const QVariantMap entry = GetFileTypeEntry(spec->outputFileType());
        ASSERT_FALSE(entry.isEmpty());
        CConvSpec view(spec);
        const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
        ASSERT_TRUE(dispatcher);
        if (spec->needsStrictFileType()) {
            EXPECT_TRUE(entry.value(QStringLiteral("canBeWritten")).toBool());
            if (entry.value(QStringLiteral("specificsMustBeValid")).toBool()) {
                EXPECT_TRUE(spec->specificsValid());
            }
        } else {
            // A name extension needs an explicit output type.
            EXPECT_FALSE(spec->needsNameExtension());
        }
        if (spec->needsSampleRateConversion()) {
            EXPECT_GE(spec->sampleRate(), entry.value(QStringLiteral("sampleRateMin")).toDouble());
            EXPECT_LE(spec->sampleRate(), entry.value(QStringLiteral("sampleRateMax")).toDouble());
            if (dispatcher->hasSampleRateFunc())
                dispatcher->callHandleSampleRateSettings(&view, 0, QString::number(spec->sampleRate()), 0);
        }
        if (spec->needsNewWordLength()) {
            bool listed = false;
            for (const QVariant& item : Items(entry, "numBitsPopup"))
                listed = listed || item.toMap().value(QStringLiteral("tag")).toLongLong() == spec->wordLength();
            EXPECT_TRUE(listed);
        }
        if (spec->needsChannelTreat()) {
            bool listed = false;
            for (const QVariant& item : Items(entry, "channelHandlingPopup"))
                listed = listed || item.toMap().value(QStringLiteral("tag")).toLongLong() == spec->channelTreat();
            EXPECT_TRUE(listed);
            if (dispatcher->hasHandleChannelFunc())
                dispatcher->callHandleChannelSettings(&view, 0, QString(), int(spec->channelTreat()));
        }
        if (spec->needsGain()) {
            EXPECT_TRUE(spec->needsNormalize() || spec->needsCompressor() || spec->needsGate());
        }
        for (const QString& key : {kChannelHandlingValidKey, kWordSizeValidKey, kSampleRateValidKey}) {
            const QVariant verdict = spec->specificsValue(key);
            EXPECT_TRUE(!verdict.isValid() || verdict.toBool()) << key.toStdString();
        }
        EXPECT_FALSE(spec->descriptionForLog().contains(QStringLiteral("internal error")));
    }
}

TEST_F(FileTypePropertiesTest, DescriptionsUseTheTypesOwnWording)
{
    // Layer II at 192 kbit/s in joint stereo, as the editor stores it.
    ConvSpecRef mpeg = SpecFor("MPG2");
    mpeg->setNeedsNewWordLength(true);
    mpeg->setWordLength(192);
    mpeg->setNeedsChannelTreat(true);
    mpeg->setChannelTreat(1);
    {
        CConvSpec view(mpeg);
        ASSERT_EQ(Dispatcher("MPG2")->callHandleChannelSettings(&view, 4, QStringLiteral("MPEG joint stereo"), 1), 0);
    }
    EXPECT_EQ(mpeg->descriptionForWordLength(), QStringLiteral("192 kbit/s"));
    EXPECT_EQ(mpeg->descriptionForChannelHandling(), QStringLiteral("MPEG joint stereo"));
    EXPECT_TRUE(mpeg->descriptionForAutoName().startsWith(QStringLiteral("MPEG-1 Layer II ('MP2')")));
    EXPECT_TRUE(mpeg->descriptionForAutoName().endsWith(QStringLiteral(", 192 kbit/s, MPEG joint stereo")));
    EXPECT_TRUE(mpeg->descriptionForLog().contains(QStringLiteral("Change number of channels by: MPEG joint stereo")));

    // Paris 24 bits little-endian, chosen from its popup.
    ConvSpecRef paris = SpecFor(" paf");
    paris->setNeedsNewWordLength(true);
    paris->setWordLength(24);
    {
        CConvSpec view(paris);
        Dispatcher(" paf")->callHandleWordLengthSettings(&view, 4, QString(), 24);
    }
    EXPECT_EQ(paris->descriptionForWordLength(), QStringLiteral("24 bits little-endian"));

    // A mono-only type with its forced channel item.
    ConvSpecRef dialogic = SpecFor("DADP");
    dialogic->setNeedsChannelTreat(true);
    dialogic->setChannelTreat(3);
    EXPECT_EQ(dialogic->descriptionForChannelHandling(), QStringLiteral("Mix stereo to mono"));
    EXPECT_TRUE(dialogic->descriptionForAutoName().startsWith(QStringLiteral("Dialogic ADPCM (no header)")));
}
