#include "ConvSpec.h"

#include "CConvSpec.h"
#include "ConvNameFormatter.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "MacRoman.h"
#include "MainBundle.h"
#include "NameExtensionFormatter.h"
#include "SoundFileDispatcher.h"
#include "debug_trace.h"
#include "file_type_table.h"
#include "plist_values.h"

#include <QVariantList>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>

// ---------------------------------------------------------------- keys
const QString ConvSpec::kActiveKey = QStringLiteral("QMCSActive");
const QString ConvSpec::kBitRatePerChannelKey = QStringLiteral("QMCSBitRatePerChannel");
const QString ConvSpec::kCeiledMaxKey = QStringLiteral("QMCSCeiledMax");
const QString ConvSpec::kCeilingKey = QStringLiteral("QMCSCeiling");
const QString ConvSpec::kChannelTreatKey = QStringLiteral("QMCSChannelTreat");
const QString ConvSpec::kCommentKey = QStringLiteral("QMCSComment");
const QString ConvSpec::kCompressionBoostKey = QStringLiteral("QMCSCompressionBoost");
const QString ConvSpec::kCompressionReleaseKey = QStringLiteral("QMCSCompressionRelease");
const QString ConvSpec::kCompressionTypeKey = QStringLiteral("QMCSCompressionType");
const QString ConvSpec::kConversionNameKey = QStringLiteral("QMCSName");
const QString ConvSpec::kCopyExtrasKey = QStringLiteral("QMCSCopyExtras");
const QString ConvSpec::kFadeInTimeKey = QStringLiteral("QMCSFadeInTime");
const QString ConvSpec::kFadeOutTimeKey = QStringLiteral("QMCSFadeOutTime");
const QString ConvSpec::kGateAttenuationKey = QStringLiteral("QMCSGateAttenuation");
const QString ConvSpec::kGateGapLengthKey = QStringLiteral("QMCSGateGapLength");
const QString ConvSpec::kGateThresholdKey = QStringLiteral("QMCSGateThreshold");
const QString ConvSpec::kHasValidMaxKey = QStringLiteral("QMCSHasValidMax");
const QString ConvSpec::kMaxKey = QStringLiteral("QMCSMax");
const QString ConvSpec::kNameExtensionKey = QStringLiteral("QMCSNameExtension");
const QString ConvSpec::kNeedsChannelTreatKey = QStringLiteral("QMCSNeedsChannelTreat");
const QString ConvSpec::kNeedsCompressionKey = QStringLiteral("QMCSNeedsCompression");
const QString ConvSpec::kNeedsCompressorKey = QStringLiteral("QMCSNeedsCompressor");
const QString ConvSpec::kNeedsExtractionKey = QStringLiteral("QMCSNeedsExtraction");
const QString ConvSpec::kNeedsFadesKey = QStringLiteral("QMCSNeedsFades");
const QString ConvSpec::kNeedsGainKey = QStringLiteral("QMCSNeedsGain");
const QString ConvSpec::kNeedsGateKey = QStringLiteral("QMCSNeedsGate");
const QString ConvSpec::kNeedsNameExtensionKey = QStringLiteral("QMCSNeedsNameExtension");
const QString ConvSpec::kNeedsNewWordLengthKey = QStringLiteral("QMCSNeedsNewWordLength");
const QString ConvSpec::kNeedsNormalizeKey = QStringLiteral("QMCSNeedsNormalize");
const QString ConvSpec::kNeedsReditherKey = QStringLiteral("QMCSNeedsRedither");
const QString ConvSpec::kNeedsSampleRateConversionKey = QStringLiteral("QMCSNeedsSampleRateConversion");
const QString ConvSpec::kNeedsSnipKey = QStringLiteral("QMCSNeedsSnip");
const QString ConvSpec::kNeedsStrictFileTypeKey = QStringLiteral("QMCSNeedsStrictFileType");
const QString ConvSpec::kNeedsStripKey = QStringLiteral("QMCSNeedsStrip");
const QString ConvSpec::kOutputFileTypeKey = QStringLiteral("QMCSOutputFileType");
const QString ConvSpec::kSampleRateKey = QStringLiteral("QMCSSampleRate");
const QString ConvSpec::kSampleRateConvertQualityKey = QStringLiteral("QMCSSampleRateConvertQuality");
const QString ConvSpec::kSnipFromKey = QStringLiteral("QMCSSnipFrom");
const QString ConvSpec::kSnipToKey = QStringLiteral("QMCSSnipTo");
const QString ConvSpec::kSpecificsKey = QStringLiteral("QMCSSpecifics");
const QString ConvSpec::kSpecificsValidKey = QStringLiteral("QMCSSpecificsValid");
const QString ConvSpec::kStripMarginKey = QStringLiteral("QMCSStripMargin");
const QString ConvSpec::kWordLengthKey = QStringLiteral("QMCSWordLength");

const QString ConvSpec::kOldDataKey = QStringLiteral("oldData");
const QString ConvSpec::kAnnotationTextKey = QStringLiteral("AnnotationText");

namespace {

constexpr OSType kNoneType = FOUR_CHAR_CODE("None");
constexpr OSType kPNRAType = FOUR_CHAR_CODE("PNRA");
constexpr OSType kRAG2Type = FOUR_CHAR_CODE("RAG2");
constexpr OSType kLAMEMP3Type = FOUR_CHAR_CODE("DMP3");

// ------------------------------------------------------------ sort state
struct SortState {
    std::mutex mutex;
    bool ascending = true;
    QString key = QStringLiteral("convName");
};

SortState& Sort()
{
    static SortState state;
    return state;
}

// ------------------------------------------------------------ copying
// A copy of a property-list value that shares no storage with it.
QVariant DeepCopy(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap source = value.toMap();
        QVariantMap copy;
        for (auto it = source.cbegin(); it != source.cend(); ++it)
            copy.insert(QString(it.key().constData(), it.key().size()), DeepCopy(it.value()));
        return copy;
    }
    case QMetaType::QVariantList: {
        const QVariantList source = value.toList();
        QVariantList copy;
        copy.reserve(source.size());
        for (const QVariant& item : source)
            copy.append(DeepCopy(item));
        return copy;
    }
    case QMetaType::QStringList: {
        QStringList copy;
        for (const QString& item : value.toStringList())
            copy.append(QString(item.constData(), item.size()));
        return copy;
    }
    case QMetaType::QByteArray: {
        const QByteArray source = value.toByteArray();
        return QByteArray(source.constData(), source.size());
    }
    case QMetaType::QString: {
        const QString source = value.toString();
        return QString(source.constData(), source.size());
    }
    default:
        return value;
    }
}

QVariantMap DeepCopyMap(const QVariantMap& map)
{
    return DeepCopy(QVariant(map)).toMap();
}

// ------------------------------------------------------- old records
UInt16 Read16(const unsigned char* p) { return static_cast<UInt16>((p[0] << 8) | p[1]); }

UInt32 Read32(const unsigned char* p)
{
    return (static_cast<UInt32>(Read16(p)) << 16) | Read16(p + 2);
}

bool ReadFlag(const unsigned char* record, int offset) { return Read16(record + offset) != 0; }

SInt16 ReadSigned16(const unsigned char* record, int offset)
{
    return static_cast<SInt16>(Read16(record + offset));
}

float ReadFloat(const unsigned char* record, int offset)
{
    const UInt32 bits = Read32(record + offset);
    float value;
    static_assert(sizeof(value) == sizeof(bits));
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// ----------------------------------------------------------- numbers
// printf's "%.*f" in the C locale.
QString FormatFixed(double value, int decimals)
{
    char buffer[400];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return QString::number(value, 'f', decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString FormatInt(long long value)
{
    return QString::number(value);
}

// ---------------------------------------------------- popup wording
// The "text" of the item at `index` of a popup description; a null string
// when the index is outside the list or the item has no text.
QString PopupItemText(const QVariantList& items, int index)
{
    if (index < 0 || index >= items.size())
        return QString();
    const QVariant item = items.at(index);
    if (item.typeId() != QMetaType::QVariantMap)
        return QString();
    return PlistStringValue(item.toMap().value(QStringLiteral("text")));
}

// The "text" of the first item whose "tag" equals `tag`; a null string
// when none does.
QString PopupTextForTag(const QVariantList& items, SInt32 tag)
{
    for (const QVariant& item : items) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap map = item.toMap();
        const QVariant itemTag = map.value(QStringLiteral("tag"));
        if (!itemTag.isValid() || PlistIntValue(itemTag) != tag)
            continue;
        const QString text = PlistStringValue(map.value(QStringLiteral("text")));
        if (!text.isNull())
            return text;
    }
    return QString();
}

QVariantList PopupItems(const QVariantMap& entry, const QString& key)
{
    const QVariant value = entry.value(key);
    if (value.typeId() != QMetaType::QVariantList)
        return QVariantList();
    return value.toList();
}

// The output type's display name; its code when the type has none.
QString TypeText(const QVariantMap& entry, OSType type)
{
    const QString text = PlistStringValue(entry.value(QStringLiteral("text")));
    if (!text.isNull())
        return text;
    return QString::fromStdString(FourCharCodeToDisplay(type));
}

// A specifics value shown as text: strings as they are, numbers written
// out; a null string for anything else.
QString SpecificsText(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return value.toString();
    if (type == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (type == QMetaType::Double || type == QMetaType::Float)
        return QString::number(value.toDouble(), 'g', 17);
    if (value.canConvert<qlonglong>() && (type == QMetaType::LongLong || type == QMetaType::Int ||
                                          type == QMetaType::UInt || type == QMetaType::ULongLong))
        return value.toString();
    return QString();
}

const char* LogChannelPhrase(SInt32 treat)
{
    switch (treat) {
    case 1: return "forcing every file to interleaved stereo";
    case 2: return "splitting stereo files to separate mono files";
    case 3: return "mixing stereo files to mono files";
    case 4: return "copying only left channels of stereo files";
    case 5: return "copying only right channels of stereo files";
    case 7: return "making MPEG joint stereo";
    case 8: return "making MPEG separate stereo";
    default: return nullptr;
    }
}

const char* AutoNameChannelPhrase(SInt32 treat)
{
    switch (treat) {
    case 1: return ", interleaved";
    case 2: return ", split";
    case 3: return ", mix to mono";
    case 4: return ", copy left only";
    case 5: return ", copy right only";
    case 6: return ", only stereo to interleaved";
    case 7: return ", MPEG joint stereo";
    case 8: return ", MPEG separate stereo";
    default: return nullptr;
    }
}

} // namespace

// ================================================================ class

QString ConvSpec::defaultConversionName()
{
    return MainBundle::localizedString(QStringLiteral("untitled conversion"));
}

bool ConvSpec::ascendingSort()
{
    SortState& s = Sort();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.ascending;
}

void ConvSpec::setAscendingSort(bool ascending)
{
    SortState& s = Sort();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.ascending = ascending;
}

QString ConvSpec::sortKey()
{
    SortState& s = Sort();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.key;
}

void ConvSpec::setSortKey(const QString& key)
{
    SortState& s = Sort();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.key = key;
}

// ======================================================== construction

ConvSpec::ConvSpec(Zeroed)
{
    comment_ = QString(QLatin1String(""));
    nameExtension_ = QString(QLatin1String(""));
    conversionName_ = QString(QLatin1String(""));
}

ConvSpec::ConvSpec() : ConvSpec(Zeroed{})
{
    setComment(QString());
    specifics_.clear();
    oldData_.fill(0);
    setActive(true);
    setBitRatePerChannel(true);
    setChannelTreat(2);
    setCompressionBoost(6.0);
    setCompressionRelease(0.005);
    setConversionName(defaultConversionName());
    setFadeInTime(20.0f);
    setFadeOutTime(20.0f);
    setGateAttenuation(-12.0);
    setGateGapLength(0.2);
    setGateThreshold(-30.0);
    setNameExtension(QStringLiteral(""));
    setOutputFileType(kDefaultOutputFileType);
    setSampleRate(44100.0);
    setSampleRateConvertQuality(1);
    setSnipTo(10.0f);
    setStripMargin(100.0f);
    setValid(true);
    setWordLength(16);
}

ConvSpec::ConvSpec(const ConvSpec& other) : std::enable_shared_from_this<ConvSpec>()
{
    assignFrom(other);
}

ConvSpec& ConvSpec::operator=(const ConvSpec& other)
{
    if (this != &other)
        assignFrom(other);
    return *this;
}

void ConvSpec::assignFrom(const ConvSpec& other)
{
    active_ = other.active_;
    bitRatePerChannel_ = other.bitRatePerChannel_;
    ceiledMax_ = other.ceiledMax_;
    ceiling_ = other.ceiling_;
    channelTreat_ = other.channelTreat_;
    comment_ = QString(other.comment_.constData(), other.comment_.size());
    compressionBoost_ = other.compressionBoost_;
    compressionRelease_ = other.compressionRelease_;
    compressionType_ = other.compressionType_;
    conversionName_ = QString(other.conversionName_.constData(), other.conversionName_.size());
    copyExtras_ = other.copyExtras_;
    fadeInTime_ = other.fadeInTime_;
    fadeOutTime_ = other.fadeOutTime_;
    gateAttenuation_ = other.gateAttenuation_;
    gateGapLength_ = other.gateGapLength_;
    gateThreshold_ = other.gateThreshold_;
    hasValidMax_ = other.hasValidMax_;
    max_ = other.max_;
    nameExtension_ = QString(other.nameExtension_.constData(), other.nameExtension_.size());
    needsChannelTreat_ = other.needsChannelTreat_;
    needsCompression_ = other.needsCompression_;
    needsCompressor_ = other.needsCompressor_;
    needsExtraction_ = other.needsExtraction_;
    needsFades_ = other.needsFades_;
    needsGain_ = other.needsGain_;
    needsGate_ = other.needsGate_;
    needsNameExtension_ = other.needsNameExtension_;
    needsNewWordLength_ = other.needsNewWordLength_;
    needsNormalize_ = other.needsNormalize_;
    needsRedither_ = other.needsRedither_;
    needsSampleRateConversion_ = other.needsSampleRateConversion_;
    needsSnip_ = other.needsSnip_;
    needsStrictFileType_ = other.needsStrictFileType_;
    needsStrip_ = other.needsStrip_;
    outputFileType_ = other.outputFileType_;
    sampleRate_ = other.sampleRate_;
    sampleRateConvertQuality_ = other.sampleRateConvertQuality_;
    snipFrom_ = other.snipFrom_;
    snipTo_ = other.snipTo_;
    specifics_ = DeepCopyMap(other.specifics_);
    oldData_ = other.oldData_;
    specificsValid_ = other.specificsValid_;
    stripMargin_ = other.stripMargin_;
    wordLength_ = other.wordLength_;
    valid_ = other.valid_;
}

ConvSpecRef ConvSpec::create()
{
    return std::make_shared<ConvSpec>();
}

ConvSpecRef ConvSpec::copy() const
{
    return std::make_shared<ConvSpec>(*this);
}

std::shared_ptr<ConvSpec> ConvSpec::selfReference() const
{
    ConvSpec* self = const_cast<ConvSpec*>(this);
    std::shared_ptr<ConvSpec> owned = self->weak_from_this().lock();
    if (owned)
        return owned;
    // Not owned by a shared pointer (a conversion on the stack): a pointer
    // that owns nothing, used only while this object is alive.
    return std::shared_ptr<ConvSpec>(std::shared_ptr<ConvSpec>(), self);
}

// ============================================================ strings

void ConvSpec::setConversionName(const QString& v)
{
    const QString text = v.isNull() ? QString(QLatin1String("")) : v;
    conversionName_ = ConvNameFormatter().stringForObjectValue(text);
}

void ConvSpec::setNameExtension(const QString& v)
{
    const QString text = v.isNull() ? QString(QLatin1String("")) : v;
    QVariant stored;
    NameExtensionFormatter().getObjectValue(&stored, text, nullptr);
    nameExtension_ = stored.toString();
    if (nameExtension_.isNull())
        nameExtension_ = QString(QLatin1String(""));
}

void ConvSpec::setComment(const QString& v)
{
    comment_ = v.isNull() ? QString(QLatin1String("")) : QString(v.constData(), v.size());
}

// ========================================================== specifics

QVariantMap ConvSpec::specifics() const
{
    QVariantMap map = specifics_;
    map.insert(kOldDataKey, QByteArray(reinterpret_cast<const char*>(oldData_.data()), kFileTypeSpecificsSize));
    return map;
}

void ConvSpec::setSpecifics(const QVariantMap& specifics)
{
    QVariantMap map = DeepCopyMap(specifics);
    const QVariant block = map.take(kOldDataKey);
    specifics_ = map;
    oldData_.fill(0);
    if (block.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = block.toByteArray();
        std::memcpy(oldData_.data(), bytes.constData(),
                    static_cast<size_t>(std::min<qsizetype>(bytes.size(), kFileTypeSpecificsSize)));
    }
}

QVariant ConvSpec::specificsValue(const QString& key) const
{
    if (key == kOldDataKey)
        return QByteArray(reinterpret_cast<const char*>(oldData_.data()), kFileTypeSpecificsSize);
    return specifics_.value(key);
}

void ConvSpec::setSpecificsValue(const QString& key, const QVariant& value)
{
    if (key == kOldDataKey) {
        oldData_.fill(0);
        if (value.typeId() == QMetaType::QByteArray) {
            const QByteArray bytes = value.toByteArray();
            std::memcpy(oldData_.data(), bytes.constData(),
                        static_cast<size_t>(std::min<qsizetype>(bytes.size(), kFileTypeSpecificsSize)));
        }
        return;
    }
    specifics_.insert(key, DeepCopy(value));
}

void ConvSpec::removeSpecificsValue(const QString& key)
{
    if (key == kOldDataKey) {
        oldData_.fill(0);
        return;
    }
    specifics_.remove(key);
}

void ConvSpec::setFileTypeSpecifics(const unsigned char* bytes)
{
    if (bytes)
        std::memcpy(oldData_.data(), bytes, kFileTypeSpecificsSize);
    else
        oldData_.fill(0);
}

QByteArray ConvSpec::blockForAnnotation(const QString& text, const unsigned char* previous)
{
    QByteArray block(kFileTypeSpecificsSize, '\0');
    // What the block holds before the text (the MPEG stereo mode of
    // compressed Broadcast Wave) stays.
    if (previous)
        std::copy_n(previous, kAnnotationOffset, block.data());
    const QByteArray utf8 = text.toUtf8();
    qsizetype length = std::min<qsizetype>(utf8.size(), kMaxAnnotationBytes);
    // Never end inside a character: back off continuation bytes.
    while (length > 0 && length < utf8.size() && (quint8(utf8[length]) & 0xC0) == 0x80)
        --length;
    std::copy_n(utf8.constData(), length, block.data() + kAnnotationOffset);
    return block;
}

void ConvSpec::storeAnnotationInBlock()
{
    const QString text = SpecificsText(specifics_.value(kAnnotationTextKey));
    if (text.isNull())
        return;
    const QByteArray block = blockForAnnotation(text, oldData_.data());
    setFileTypeSpecifics(reinterpret_cast<const unsigned char*>(block.constData()));
}

// ========================================================= dictionary

QVariantMap ConvSpec::dictionary() const
{
    QVariantMap d;
    d.insert(kActiveKey, active_);
    d.insert(kBitRatePerChannelKey, bitRatePerChannel_);
    d.insert(kCeiledMaxKey, ceiledMax_);
    d.insert(kCeilingKey, ceiling_);
    d.insert(kChannelTreatKey, channelTreat_);
    d.insert(kCommentKey, comment_);
    d.insert(kCompressionBoostKey, compressionBoost_);
    d.insert(kCompressionReleaseKey, compressionRelease_);
    d.insert(kCompressionTypeKey, compressionType_);
    d.insert(kConversionNameKey, conversionName_);
    d.insert(kCopyExtrasKey, copyExtras_);
    d.insert(kFadeInTimeKey, fadeInTime_);
    d.insert(kFadeOutTimeKey, fadeOutTime_);
    d.insert(kGateAttenuationKey, gateAttenuation_);
    d.insert(kGateGapLengthKey, gateGapLength_);
    d.insert(kGateThresholdKey, gateThreshold_);
    d.insert(kHasValidMaxKey, hasValidMax_);
    d.insert(kMaxKey, max_);
    d.insert(kNameExtensionKey, nameExtension_);
    d.insert(kNeedsChannelTreatKey, needsChannelTreat_);
    d.insert(kNeedsCompressionKey, needsCompression_);
    d.insert(kNeedsCompressorKey, needsCompressor_);
    d.insert(kNeedsExtractionKey, needsExtraction_);
    d.insert(kNeedsFadesKey, needsFades_);
    d.insert(kNeedsGainKey, needsGain_);
    d.insert(kNeedsGateKey, needsGate_);
    d.insert(kNeedsNameExtensionKey, needsNameExtension_);
    d.insert(kNeedsNewWordLengthKey, needsNewWordLength_);
    d.insert(kNeedsNormalizeKey, needsNormalize_);
    d.insert(kNeedsReditherKey, needsRedither_);
    d.insert(kNeedsSampleRateConversionKey, needsSampleRateConversion_);
    d.insert(kNeedsSnipKey, needsSnip_);
    d.insert(kNeedsStrictFileTypeKey, needsStrictFileType_);
    d.insert(kNeedsStripKey, needsStrip_);
    d.insert(kOutputFileTypeKey, static_cast<SInt32>(outputFileType_));
    d.insert(kSampleRateKey, sampleRate_);
    d.insert(kSampleRateConvertQualityKey, sampleRateConvertQuality_);
    d.insert(kSnipFromKey, snipFrom_);
    d.insert(kSnipToKey, snipTo_);
    d.insert(kSpecificsKey, specifics());
    d.insert(kSpecificsValidKey, specificsValid_);
    d.insert(kStripMarginKey, stripMargin_);
    d.insert(kWordLengthKey, wordLength_);
    return d;
}

QString ConvSpec::description() const
{
    return QString::fromUtf8(PropertyList::toXml(dictionary()));
}

void ConvSpec::readDictionary(const QVariantMap& d)
{
    setActive(PlistBoolValue(d.value(kActiveKey)));
    setBitRatePerChannel(PlistBoolValue(d.value(kBitRatePerChannelKey)));
    setCeiledMax(PlistDoubleValue(d.value(kCeiledMaxKey)));
    setCeiling(PlistDoubleValue(d.value(kCeilingKey)));
    setChannelTreat(PlistIntValue(d.value(kChannelTreatKey)));
    setComment(PlistStringValue(d.value(kCommentKey)));
    setCompressionBoost(PlistDoubleValue(d.value(kCompressionBoostKey)));
    setCompressionRelease(PlistDoubleValue(d.value(kCompressionReleaseKey)));
    setCompressionType(PlistIntValue(d.value(kCompressionTypeKey)));
    setConversionName(PlistStringValue(d.value(kConversionNameKey)));
    setCopyExtras(PlistBoolValue(d.value(kCopyExtrasKey)));
    setFadeInTime(PlistFloatValue(d.value(kFadeInTimeKey)));
    setFadeOutTime(PlistFloatValue(d.value(kFadeOutTimeKey)));
    setGateAttenuation(PlistDoubleValue(d.value(kGateAttenuationKey)));
    setGateGapLength(PlistDoubleValue(d.value(kGateGapLengthKey)));
    setGateThreshold(PlistDoubleValue(d.value(kGateThresholdKey)));
    setHasValidMax(PlistBoolValue(d.value(kHasValidMaxKey)));
    setMax(PlistDoubleValue(d.value(kMaxKey)));
    setNameExtension(PlistStringValue(d.value(kNameExtensionKey)));
    setNeedsChannelTreat(PlistBoolValue(d.value(kNeedsChannelTreatKey)));
    setNeedsCompression(PlistBoolValue(d.value(kNeedsCompressionKey)));
    setNeedsCompressor(PlistBoolValue(d.value(kNeedsCompressorKey)));
    setNeedsExtraction(PlistBoolValue(d.value(kNeedsExtractionKey)));
    setNeedsFades(PlistBoolValue(d.value(kNeedsFadesKey)));
    setNeedsGain(PlistBoolValue(d.value(kNeedsGainKey)));
    setNeedsGate(PlistBoolValue(d.value(kNeedsGateKey)));
    setNeedsNameExtension(PlistBoolValue(d.value(kNeedsNameExtensionKey)));
    setNeedsNewWordLength(PlistBoolValue(d.value(kNeedsNewWordLengthKey)));
    setNeedsNormalize(PlistBoolValue(d.value(kNeedsNormalizeKey)));
    setNeedsRedither(PlistBoolValue(d.value(kNeedsReditherKey)));
    setNeedsSampleRateConversion(PlistBoolValue(d.value(kNeedsSampleRateConversionKey)));
    setNeedsSnip(PlistBoolValue(d.value(kNeedsSnipKey)));
    setNeedsStrictFileType(PlistBoolValue(d.value(kNeedsStrictFileTypeKey)));
    setNeedsStrip(PlistBoolValue(d.value(kNeedsStripKey)));
    setOutputFileType(PlistTypeCodeValue(d.value(kOutputFileTypeKey)));
    setSampleRate(PlistDoubleValue(d.value(kSampleRateKey)));
    setSampleRateConvertQuality(PlistIntValue(d.value(kSampleRateConvertQualityKey)));
    setSnipFrom(PlistFloatValue(d.value(kSnipFromKey)));
    setSnipTo(PlistFloatValue(d.value(kSnipToKey)));
    // A missing or unusable specifics dictionary gives an empty one with a
    // zeroed block, as a new conversion has.
    const QVariant specifics = d.value(kSpecificsKey);
    setSpecifics(specifics.typeId() == QMetaType::QVariantMap ? specifics.toMap() : QVariantMap());
    setSpecificsValid(PlistBoolValue(d.value(kSpecificsValidKey)));
    setStripMargin(PlistFloatValue(d.value(kStripMarginKey)));
    setWordLength(PlistIntValue(d.value(kWordLengthKey)));
    validateSettings();
}

ConvSpecRef ConvSpec::fromDictionary(const QVariantMap& dictionary)
{
    ConvSpecRef spec(new ConvSpec(Zeroed{}));
    spec->readDictionary(dictionary);
    return spec;
}

QByteArray ConvSpec::archivedData(PropertyList::Format format) const
{
    QString error;
    const QByteArray data = PropertyList::toData(dictionary(), format, &error);
    if (data.isEmpty())
        QM_TRACE("archivedData", "could not write the conversion: " << error.toStdString());
    return data;
}

ConvSpecRef ConvSpec::fromArchive(const QByteArray& data)
{
    QString error;
    const QVariant value = PropertyList::fromData(data, &error);
    if (value.typeId() != QMetaType::QVariantMap) {
        QM_TRACE("fromArchive", "not a conversion archive: " << error.toStdString());
        return nullptr;
    }
    return fromDictionary(value.toMap());
}

// ============================================================ old records

SInt32 ConvSpec::remapV3QualityToV4(SInt32 quality)
{
    return quality == 2 ? 3 : quality;
}

ConvSpecRef ConvSpec::fromLegacyData(const QByteArray& data, const QString& name)
{
    if (data.size() < kLegacyRecordSize) {
        QM_TRACE("fromLegacyData", "record of " << data.size() << " bytes refused");
        return nullptr;
    }
    const unsigned char* r = reinterpret_cast<const unsigned char*>(data.constData());

    const bool strict = ReadSigned16(r, 6) != 0;
    OSType type = Read32(r + 8);
    if (strict && (type == kPNRAType || type == kRAG2Type))
        return nullptr;
    if (type == kNoneType)
        type = kDefaultOutputFileType;

    ConvSpecRef spec(new ConvSpec(Zeroed{}));
    ConvSpec& s = *spec;
    s.setComment(QString());
    s.specifics_.clear();

    const SInt16 treat = ReadSigned16(r, 22);
    // The extension: a length byte and up to 31 characters.
    const int extensionLength = std::min<int>(r[340], 31);
    const QString extension = MacRoman::toUnicode(reinterpret_cast<const char*>(r + 341),
                                                  static_cast<std::size_t>(extensionLength));

    s.setActive(false);
    s.setBitRatePerChannel(false);
    s.setCeiledMax(0);
    s.setCeiling(ReadFloat(r, 44));
    s.setChannelTreat(treat != 0 ? treat : 2);
    s.setCompressionBoost(ReadFloat(r, 60));
    s.setCompressionRelease(ReadFloat(r, 64));
    s.setCompressionType(ReadSigned16(r, 40));
    s.setConversionName(name);
    s.setCopyExtras(ReadFlag(r, 48));
    s.setFadeInTime(ReadFloat(r, 16));
    s.setFadeOutTime(ReadFloat(r, 372));
    s.setGateAttenuation(ReadFloat(r, 78));
    s.setGateGapLength(ReadFloat(r, 74));
    s.setGateThreshold(ReadFloat(r, 70));
    s.setHasValidMax(false);
    s.setMax(0);
    s.setNameExtension(extension);
    s.setNeedsChannelTreat(treat != 0);
    s.setNeedsCompression(ReadFlag(r, 38));
    s.setNeedsCompressor(ReadFlag(r, 58));
    s.setNeedsExtraction(ReadFlag(r, 12));
    s.setNeedsFades(ReadFlag(r, 14));
    s.setNeedsGain(ReadFlag(r, 52));
    s.setNeedsGate(ReadFlag(r, 68));
    s.setNeedsNameExtension(ReadFlag(r, 338));
    s.setNeedsNewWordLength(ReadFlag(r, 34));
    s.setNeedsNormalize(ReadFlag(r, 32));
    s.setNeedsRedither(ReadFlag(r, 42));
    s.setNeedsSampleRateConversion(ReadFlag(r, 24));
    s.setNeedsSnip(ReadFlag(r, 376));
    s.setNeedsStrictFileType(strict);
    s.setNeedsStrip(ReadFlag(r, 0));
    s.setOutputFileType(type);
    s.setSampleRate(ReadFloat(r, 26));
    s.setSampleRateConvertQuality(remapV3QualityToV4(ReadSigned16(r, 30)));
    s.setSnipFrom(ReadFloat(r, 378));
    s.setSnipTo(ReadFloat(r, 382));
    s.setFileTypeSpecifics(r + 82);
    s.setSpecificsValid(true);
    s.setStripMargin(ReadFloat(r, 2));
    s.setWordLength(ReadSigned16(r, 36));
    s.validateSettings();
    return spec;
}

// ================================================== validation and sort

bool ConvSpec::validateSettings()
{
    if (!needsStrictFileType_) {
        valid_ = true;
        return valid_;
    }
    const QVariantMap entry = GetFileTypeEntry(outputFileType_);
    valid_ = PlistBoolValue(entry.value(QStringLiteral("canBeWritten")));
    return valid_;
}

int ConvSpec::compare(const ConvSpec* other) const
{
    const bool ascending = ascendingSort();
    if (!other)
        return ascending ? -1 : 1;
    const ConvSpec* first = ascending ? this : other;
    const ConvSpec* second = ascending ? other : this;
    const QString key = sortKey();
    int result = 0;
    if (key == QLatin1String("convName")) {
        result = first->conversionName_.compare(second->conversionName_, Qt::CaseInsensitive);
    } else if (key == QLatin1String("active")) {
        result = int(first->active_) - int(second->active_);
    } else if (key == QLatin1String("comment")) {
        result = first->comment_.compare(second->comment_, Qt::CaseInsensitive);
    }
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

// ========================================================= descriptions

QString ConvSpec::descriptionInPlaceOfWordLength() const
{
    if (!needsStrictFileType_ || outputFileType_ != kLAMEMP3Type ||
        specifics_.value(QStringLiteral("LAMEEncodingMode")).toInt() != 2)
        return QString();
    // The encoder's -V: the VBR quality, else (a conversion stored before it
    // was kept) the quality, else the encoder's own default, 4.
    int quality = 4;
    for (const char* key : {"LAMEVBRQuality", "LAMEQuality"})
        if (specifics_.contains(QLatin1String(key))) {
            quality = specifics_.value(QLatin1String(key)).toInt();
            break;
        }
    return QStringLiteral("VBR quality ") + FormatInt(quality);
}

QString ConvSpec::descriptionForWordLength() const
{
    if (const QString instead = descriptionInPlaceOfWordLength(); !instead.isEmpty())
        return instead;
    const QVariantMap entry = GetFileTypeEntry(outputFileType_);
    const QVariantList items = PopupItems(entry, QStringLiteral("numBitsPopup"));
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
    if (dispatcher && dispatcher->hasWordLengthIndexFunc()) {
        CConvSpec view(selfReference());
        const QString text = PopupItemText(items, dispatcher->callWordLengthIndexFunc(&view));
        if (!text.isNull())
            return text;
    }
    const QString text = PopupTextForTag(items, wordLength_);
    if (!text.isNull())
        return text;
    return FormatInt(wordLength_) + QStringLiteral(" bits");
}

QString ConvSpec::descriptionForWordLengthInLog() const
{
    // A bit rate per channel (of a type whose entry has "bitRatePerChannel":
    // MPEG-4 audio) is written times the channel count.
    if (needsStrictFileType_ && bitRatePerChannel_ &&
        GetFileTypeEntry(outputFileType_).value(QStringLiteral("bitRatePerChannel")).toBool()) {
        const bool mono = needsChannelTreat_ && (channelTreat_ == 3 || channelTreat_ == 4 || channelTreat_ == 5);
        QString text = FormatInt(wordLength_) + QStringLiteral(" kbit/s per channel");
        if (!mono)
            text += QStringLiteral(" (") + FormatInt(2 * wordLength_) + QStringLiteral(" kbit/s for stereo)");
        return text;
    }
    return descriptionForWordLength();
}

QString ConvSpec::descriptionForChannelHandling() const
{
    const QVariantMap entry = GetFileTypeEntry(outputFileType_);
    const QVariantList items = PopupItems(entry, QStringLiteral("channelHandlingPopup"));
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
    if (dispatcher && dispatcher->hasChannelIndexFunc()) {
        CConvSpec view(selfReference());
        const QString text = PopupItemText(items, dispatcher->callChannelIndexFunc(&view));
        if (!text.isNull())
            return text;
    }
    const QString text = PopupTextForTag(items, channelTreat_);
    if (!text.isNull())
        return text;
    return QStringLiteral("channel treatment ") + FormatInt(channelTreat_);
}

QString ConvSpec::descriptionForLog() const
{
    const QVariantMap entry = GetFileTypeEntry(outputFileType_);
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);
    const QString nl = QStringLiteral("\n    ");

    QString log = QStringLiteral("    Conversion name: ") + conversionName_;
    if (!comment_.isEmpty())
        log += nl + QStringLiteral("Comment: ") + comment_;

    if (needsStrictFileType_)
        log += nl + QStringLiteral("Convert file format to: ") + TypeText(entry, outputFileType_);
    else
        log += nl + QStringLiteral("Do not convert file format");

    if (needsSampleRateConversion_)
        log += nl + QStringLiteral("Convert the sample rate to: ") + FormatFixed(sampleRate_, 4) +
               QStringLiteral(" Hz");
    else
        log += nl + QStringLiteral("Do not convert the sample rate");

    if (needsNewWordLength_)
        log += nl + QStringLiteral("Convert number of bits to: ") + descriptionForWordLengthInLog() +
               QStringLiteral(", ") + (needsRedither_ ? QStringLiteral("using") : QStringLiteral("without")) +
               QStringLiteral(" dithering");
    else
        log += nl + QStringLiteral("Do not convert the number of bits");

    if (needsChannelTreat_) {
        log += nl + QStringLiteral("Change number of channels by: ");
        if (dispatcher && dispatcher->hasLogChannelSettingsFunc()) {
            CConvSpec view(selfReference());
            log += dispatcher->callLogChannelSettingsFunc(&view);
        } else if (const char* phrase = LogChannelPhrase(channelTreat_)) {
            log += QString::fromLatin1(phrase);
        }
    }

    if (needsExtraction_)
        log += nl + QStringLiteral("Extract regions");
    if (needsStrip_)
        log += nl + QStringLiteral("Compact audio (by region) with a ") + FormatFixed(stripMargin_, 1) +
               QStringLiteral(" ms safety margin");
    if (needsSnip_)
        log += nl + QStringLiteral("Convert only a snippet from ") + FormatFixed(snipFrom_, 3) +
               QStringLiteral(" to ") + FormatFixed(snipTo_, 3) + QStringLiteral(" s");
    if (copyExtras_)
        log += nl + QStringLiteral("Convert any marker-, loop-, region definitions, and time stamps");
    if (needsFades_) {
        log += nl + QStringLiteral("Supply output files with a fade in of ") + FormatFixed(fadeInTime_, 1) +
               QStringLiteral(" ms");
        log += QStringLiteral("\n                        and a fade out of ") + FormatFixed(fadeOutTime_, 1) +
               QStringLiteral(" ms");
    }

    if (needsGain_) {
        if (needsGate_) {
            log += nl + QStringLiteral("Gate silences with following settings:");
            log += QStringLiteral("\n        A silence is longer than ") + FormatFixed(gateGapLength_ * 1000.0, 1) +
                   QStringLiteral(" ms");
            log += QStringLiteral("\n        and lower than ") + FormatFixed(gateThreshold_, 1) +
                   QStringLiteral(" dBfs");
            log += QStringLiteral("\n        Attenuate silences ") + FormatFixed(gateAttenuation_, 1) +
                   QStringLiteral(" dB");
        }
        const QString rest = needsGate_ ? QStringLiteral("non-silences ") : QString(QLatin1String(""));
        if (needsCompressor_) {
            log += nl + QStringLiteral("Boost ") + rest +
                   QStringLiteral("with Look Ahead Peak Limiter, using following settings:");
            if (needsNormalize_)
                log += QStringLiteral("\n        First normalize to full scale");
            log += QStringLiteral("\n\t\t ") + (needsNormalize_ ? QStringLiteral("Then a") : QStringLiteral("     A")) +
                   QStringLiteral("mplify ") + FormatFixed(compressionBoost_, 1) + QStringLiteral(" dB");
            log += QStringLiteral("\n        Then limit at ") + FormatFixed(ceiling_, 1) + QStringLiteral(" dBfs");
        } else if (needsNormalize_) {
            log += nl + QStringLiteral("Boost ") + rest + QStringLiteral("by normalizing to: ") +
                   FormatFixed(ceiling_, 1) + QStringLiteral(" dB");
        }
    } else {
        log += nl + QStringLiteral("Do not change the gain");
    }

    if (needsNameExtension_) {
        const QString extension =
            nameExtension_.startsWith(QLatin1Char('.')) ? nameExtension_.mid(1) : nameExtension_;
        log += nl + QStringLiteral("Add or replace filename extension: .") + extension;
    }

    if (specifics_.contains(kAnnotationTextKey)) {
        const QString annotation = SpecificsText(specifics_.value(kAnnotationTextKey));
        if (!annotation.isNull())
            log += nl + QStringLiteral("BWF annotation: ") + annotation;
    }
    return log;
}

QString ConvSpec::descriptionForAutoName() const
{
    const QVariantMap entry = GetFileTypeEntry(outputFileType_);
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);

    QString name = QString(QLatin1String(""));
    if (needsStrictFileType_) {
        name += TypeText(entry, outputFileType_);
        if (needsNameExtension_)
            name += QStringLiteral(" (.") + nameExtension_ + QStringLiteral(")");
    } else {
        name += MainBundle::localizedString(QStringLiteral("Same type"));
    }

    if (needsSampleRateConversion_)
        name += QStringLiteral(", ") + FormatFixed(sampleRate_, 2) + QStringLiteral(" Hz");
    if (needsNewWordLength_)
        name += QStringLiteral(", ") + descriptionForWordLength() +
                (needsRedither_ ? QStringLiteral(" dithered") : QString());
    if (needsChannelTreat_) {
        if (dispatcher && dispatcher->hasChannelIndexFunc())
            name += QStringLiteral(", ") + descriptionForChannelHandling();
        else if (const char* phrase = AutoNameChannelPhrase(channelTreat_))
            name += QString::fromLatin1(phrase);
    }
    if (needsExtraction_)
        name += QStringLiteral(", extract");
    if (needsStrip_)
        name += QStringLiteral(", strip (margin ") + FormatFixed(stripMargin_, 1) + QStringLiteral(" ms)");
    if (needsSnip_)
        name += QStringLiteral(", snippet from ") + FormatFixed(snipFrom_, 3) + QStringLiteral(" to ") +
                FormatFixed(snipTo_, 3) + QStringLiteral(" s");
    if (copyExtras_)
        name += QStringLiteral(", copy extras");
    if (needsFades_)
        name += QStringLiteral(", fade in ") + FormatFixed(fadeInTime_, 1) + QStringLiteral(" ms, out ") +
                FormatFixed(fadeOutTime_, 1) + QStringLiteral(" ms");
    if (needsGain_) {
        if (needsGate_)
            name += QStringLiteral(", att ") + FormatFixed(gateAttenuation_, 1) + QStringLiteral(" dB when below ") +
                    FormatFixed(gateThreshold_, 1) + QStringLiteral(" dBfs for over ") +
                    FormatFixed(gateGapLength_ * 1000.0, 1) + QStringLiteral(" ms");
        const QString rest = needsGate_ ? QStringLiteral(" rest") : QString();
        if (needsCompressor_)
            name += QStringLiteral(", boost") + rest + QStringLiteral(", ") +
                    (needsNormalize_ ? QStringLiteral("normalize, ") : QString()) + QStringLiteral("amp ") +
                    FormatFixed(compressionBoost_, 1) + QStringLiteral(" dB, limit @ ") + FormatFixed(ceiling_, 1) +
                    QStringLiteral(" dBfs");
        else if (needsNormalize_)
            name += QStringLiteral(", boost") + rest + QStringLiteral(" by normalizing to ") +
                    FormatFixed(ceiling_, 1) + QStringLiteral(" dBfs");
    }
    return name;
}
