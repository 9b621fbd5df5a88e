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
#include "format_type_codes.h"
#include "plist_values.h"

#include <QVariantList>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <variant>

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
constexpr OSType kLAMEMP3Type = format_type_codes::kOutsideEncoderMP3;

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

// ========================================================== field table

// How a field of a previous-version record is stored: a 16-bit flag
// (non-zero is YES), a signed 16-bit number or a 32-bit float.
enum class LegacyKind { None, Flag, Signed16, Float };

struct ConvSpec::Field {
    // A string field is set through its setter (which normalises it).
    struct Text {
        QString ConvSpec::*member;
        void (ConvSpec::*set)(const QString&);
    };
    // The specifics dictionary and its block.
    struct Specifics {};
    // The member, by type: flags, longs, reals, floats, the type code.
    using Member = std::variant<bool ConvSpec::*, SInt32 ConvSpec::*, double ConvSpec::*, float ConvSpec::*,
                                OSType ConvSpec::*, Text, Specifics>;

    Field(const QString* key, Member member, QVariant initial = QVariant(), int decimals = -1, double scale = 1.0,
          int legacyOffset = -1, LegacyKind legacyKind = LegacyKind::None)
        : key(key), member(member), initial(std::move(initial)), decimals(decimals), scale(scale),
          legacyOffset(legacyOffset), legacyKind(legacyKind)
    {
    }

    const QString* key;
    Member member;
    // What a new conversion holds (read as a dictionary value would be);
    // invalid: zero, NO or "".
    QVariant initial;
    // The description shows a number with these decimals, times `scale`.
    int decimals;
    double scale;
    // Where a previous-version record holds the field, when it maps there
    // as it stands.
    int legacyOffset;
    LegacyKind legacyKind;
};

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// A field's value from a previous-version record, as a dictionary value.
QVariant LegacyValue(const unsigned char* record, int offset, LegacyKind kind)
{
    switch (kind) {
    case LegacyKind::Flag: return ReadFlag(record, offset);
    case LegacyKind::Signed16: return int(ReadSigned16(record, offset));
    case LegacyKind::Float: return ReadFloat(record, offset);
    case LegacyKind::None: break;
    }
    return QVariant();
}

} // namespace

const std::vector<ConvSpec::Field>& ConvSpec::fields()
{
    using F = Field;
    using L = LegacyKind;
    static const std::vector<Field> table = {
        {&kActiveKey, &ConvSpec::active_, true},
        {&kBitRatePerChannelKey, &ConvSpec::bitRatePerChannel_, true},
        {&kCeiledMaxKey, &ConvSpec::ceiledMax_},
        {&kCeilingKey, &ConvSpec::ceiling_, {}, 1, 1.0, 44, L::Float},
        {&kChannelTreatKey, &ConvSpec::channelTreat_, 2},
        {&kCommentKey, F::Text{&ConvSpec::comment_, &ConvSpec::setComment}, QStringLiteral("")},
        {&kCompressionBoostKey, &ConvSpec::compressionBoost_, 6.0, 1, 1.0, 60, L::Float},
        {&kCompressionReleaseKey, &ConvSpec::compressionRelease_, 0.005, -1, 1.0, 64, L::Float},
        {&kCompressionTypeKey, &ConvSpec::compressionType_, {}, -1, 1.0, 40, L::Signed16},
        // Its default is a localised text: defaultConversionName().
        {&kConversionNameKey, F::Text{&ConvSpec::conversionName_, &ConvSpec::setConversionName}},
        {&kCopyExtrasKey, &ConvSpec::copyExtras_, {}, -1, 1.0, 48, L::Flag},
        {&kFadeInTimeKey, &ConvSpec::fadeInTime_, 20.0f, 1, 1.0, 16, L::Float},
        {&kFadeOutTimeKey, &ConvSpec::fadeOutTime_, 20.0f, 1, 1.0, 372, L::Float},
        {&kGateAttenuationKey, &ConvSpec::gateAttenuation_, -12.0, 1, 1.0, 78, L::Float},
        {&kGateGapLengthKey, &ConvSpec::gateGapLength_, 0.2, 1, 1000.0, 74, L::Float},  // shown in ms
        {&kGateThresholdKey, &ConvSpec::gateThreshold_, -30.0, 1, 1.0, 70, L::Float},
        {&kHasValidMaxKey, &ConvSpec::hasValidMax_},
        {&kMaxKey, &ConvSpec::max_},
        {&kNameExtensionKey, F::Text{&ConvSpec::nameExtension_, &ConvSpec::setNameExtension}, QStringLiteral("")},
        {&kNeedsChannelTreatKey, &ConvSpec::needsChannelTreat_},
        {&kNeedsCompressionKey, &ConvSpec::needsCompression_, {}, -1, 1.0, 38, L::Flag},
        {&kNeedsCompressorKey, &ConvSpec::needsCompressor_, {}, -1, 1.0, 58, L::Flag},
        {&kNeedsExtractionKey, &ConvSpec::needsExtraction_, {}, -1, 1.0, 12, L::Flag},
        {&kNeedsFadesKey, &ConvSpec::needsFades_, {}, -1, 1.0, 14, L::Flag},
        {&kNeedsGainKey, &ConvSpec::needsGain_, {}, -1, 1.0, 52, L::Flag},
        {&kNeedsGateKey, &ConvSpec::needsGate_, {}, -1, 1.0, 68, L::Flag},
        {&kNeedsNameExtensionKey, &ConvSpec::needsNameExtension_, {}, -1, 1.0, 338, L::Flag},
        {&kNeedsNewWordLengthKey, &ConvSpec::needsNewWordLength_, {}, -1, 1.0, 34, L::Flag},
        {&kNeedsNormalizeKey, &ConvSpec::needsNormalize_, {}, -1, 1.0, 32, L::Flag},
        {&kNeedsReditherKey, &ConvSpec::needsRedither_, {}, -1, 1.0, 42, L::Flag},
        {&kNeedsSampleRateConversionKey, &ConvSpec::needsSampleRateConversion_, {}, -1, 1.0, 24, L::Flag},
        {&kNeedsSnipKey, &ConvSpec::needsSnip_, {}, -1, 1.0, 376, L::Flag},
        {&kNeedsStrictFileTypeKey, &ConvSpec::needsStrictFileType_, {}, -1, 1.0, 6, L::Flag},
        {&kNeedsStripKey, &ConvSpec::needsStrip_, {}, -1, 1.0, 0, L::Flag},
        {&kOutputFileTypeKey, &ConvSpec::outputFileType_, SInt32(kDefaultOutputFileType)},
        {&kSampleRateKey, &ConvSpec::sampleRate_, 44100.0, 4, 1.0, 26, L::Float},
        {&kSampleRateConvertQualityKey, &ConvSpec::sampleRateConvertQuality_, 1},
        {&kSnipFromKey, &ConvSpec::snipFrom_, {}, 3, 1.0, 378, L::Float},
        {&kSnipToKey, &ConvSpec::snipTo_, 10.0, 3, 1.0, 382, L::Float},
        {&kSpecificsKey, F::Specifics{}},
        {&kSpecificsValidKey, &ConvSpec::specificsValid_},
        {&kStripMarginKey, &ConvSpec::stripMargin_, 100.0f, 1, 1.0, 2, L::Float},
        {&kWordLengthKey, &ConvSpec::wordLength_, 16, -1, 1.0, 36, L::Signed16},
    };
    return table;
}

template <class T>
QString ConvSpec::shown(T ConvSpec::*member, int decimals) const
{
    for (const Field& field : fields()) {
        const auto* held = std::get_if<T ConvSpec::*>(&field.member);
        if (held && *held == member)
            return FormatFixed(double(this->*member) * field.scale, decimals >= 0 ? decimals : field.decimals);
    }
    return QString();
}

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
    for (const Field& field : fields())
        if (field.initial.isValid())
            readField(field, field.initial);
    setConversionName(defaultConversionName());
    setValid(true);
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
    for (const Field& field : fields())
        std::visit(Overloaded{[&](const Field::Text& t) {
                                  const QString& text = other.*t.member;
                                  this->*t.member = QString(text.constData(), text.size());
                              },
                              [&](Field::Specifics) {
                                  specifics_ = DeepCopyMap(other.specifics_);
                                  oldData_ = other.oldData_;
                              },
                              [&](auto member) { this->*member = other.*member; }},
                   field.member);
    valid_ = other.valid_;
}

bool ConvSpec::operator==(const ConvSpec& other) const
{
    for (const Field& field : fields()) {
        const bool same = std::visit(
            Overloaded{[&](const Field::Text& t) { return this->*t.member == other.*t.member; },
                       [&](Field::Specifics) { return specifics_ == other.specifics_ && oldData_ == other.oldData_; },
                       [&](auto member) { return this->*member == other.*member; }},
            field.member);
        if (!same)
            return false;
    }
    return valid_ == other.valid_;
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
    for (const Field& field : fields())
        d.insert(*field.key, std::visit(Overloaded{[this](const Field::Text& t) { return QVariant(this->*t.member); },
                                                   [this](Field::Specifics) { return QVariant(specifics()); },
                                                   [this](OSType ConvSpec::*m) { return QVariant(SInt32(this->*m)); },
                                                   [this](auto m) { return QVariant(this->*m); }},
                                        field.member));
    return d;
}

QString ConvSpec::description() const
{
    return QString::fromUtf8(PropertyList::toXml(dictionary()));
}

void ConvSpec::readField(const Field& field, const QVariant& value)
{
    std::visit(Overloaded{[&](bool ConvSpec::*m) { this->*m = PlistBoolValue(value); },
                          [&](SInt32 ConvSpec::*m) { this->*m = PlistIntValue(value); },
                          [&](double ConvSpec::*m) { this->*m = PlistDoubleValue(value); },
                          [&](float ConvSpec::*m) { this->*m = PlistFloatValue(value); },
                          [&](OSType ConvSpec::*m) { this->*m = PlistTypeCodeValue(value); },
                          [&](const Field::Text& t) { (this->*t.set)(PlistStringValue(value)); },
                          // A missing or unusable specifics dictionary gives an
                          // empty one with a zeroed block, as a new conversion has.
                          [&](Field::Specifics) {
                              setSpecifics(value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap());
                          }},
               field.member);
}

void ConvSpec::readDictionary(const QVariantMap& d)
{
    for (const Field& field : fields())
        readField(field, d.value(*field.key));
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
    spec->readLegacyRecord(r);
    spec->setConversionName(name);
    spec->setOutputFileType(type);
    spec->validateSettings();
    return spec;
}

void ConvSpec::readLegacyRecord(const unsigned char* r)
{
    // The fields a record holds as they stand; the rest stay zero, NO or
    // "", but for those set below.
    for (const Field& field : fields())
        if (field.legacyKind != LegacyKind::None)
            readField(field, LegacyValue(r, field.legacyOffset, field.legacyKind));

    const SInt16 treat = ReadSigned16(r, 22);
    setNeedsChannelTreat(treat != 0);
    setChannelTreat(treat != 0 ? treat : 2);
    setSampleRateConvertQuality(remapV3QualityToV4(ReadSigned16(r, 30)));
    // The extension: a length byte and up to 31 characters.
    const int extensionLength = std::min<int>(r[340], 31);
    setNameExtension(MacRoman::toUnicode(reinterpret_cast<const char*>(r + 341),
                                         static_cast<std::size_t>(extensionLength)));
    setFileTypeSpecifics(r + 82);
    setSpecificsValid(true);
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

QString ConvSpec::channelTreatmentPhrase(SInt32 treatment)
{
    const char* phrase = LogChannelPhrase(treatment);
    return phrase ? QString::fromLatin1(phrase) : QString();
}

namespace {

const QString kLogLine = QStringLiteral("\n    ");

} // namespace

QString ConvSpec::descriptionForLog() const
{
    return QStringLiteral("    Conversion name: ") + conversionName_ + logFormatLines() + logChannelLines() +
           logEditLines() + logGainLines() + logNamingLines();
}

// The comment, the output type, the sample rate and the word length.
QString ConvSpec::logFormatLines() const
{
    QString log;
    if (!comment_.isEmpty())
        log += kLogLine + QStringLiteral("Comment: ") + comment_;

    if (needsStrictFileType_)
        log += kLogLine + QStringLiteral("Convert file format to: ") +
               TypeText(GetFileTypeEntry(outputFileType_), outputFileType_);
    else
        log += kLogLine + QStringLiteral("Do not convert file format");

    if (needsSampleRateConversion_)
        log += kLogLine + QStringLiteral("Convert the sample rate to: ") + shown(&ConvSpec::sampleRate_) +
               QStringLiteral(" Hz");
    else
        log += kLogLine + QStringLiteral("Do not convert the sample rate");

    if (needsNewWordLength_)
        log += kLogLine + QStringLiteral("Convert number of bits to: ") + descriptionForWordLengthInLog() +
               QStringLiteral(", ") + (needsRedither_ ? QStringLiteral("using") : QStringLiteral("without")) +
               QStringLiteral(" dithering");
    else
        log += kLogLine + QStringLiteral("Do not convert the number of bits");
    return log;
}

QString ConvSpec::logChannelLines() const
{
    if (!needsChannelTreat_)
        return QString();
    QString log = kLogLine + QStringLiteral("Change number of channels by: ");
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(GetFileTypeEntry(outputFileType_));
    if (dispatcher && dispatcher->hasLogChannelSettingsFunc()) {
        CConvSpec view(selfReference());
        log += dispatcher->callLogChannelSettingsFunc(&view);
    } else {
        log += channelTreatmentPhrase(channelTreat_);
    }
    return log;
}

// Extraction, compacting, snipping, extras and fades.
QString ConvSpec::logEditLines() const
{
    QString log;
    if (needsExtraction_)
        log += kLogLine + QStringLiteral("Extract regions");
    if (needsStrip_)
        log += kLogLine + QStringLiteral("Compact audio (by region) with a ") + shown(&ConvSpec::stripMargin_) +
               QStringLiteral(" ms safety margin");
    if (needsSnip_)
        log += kLogLine + QStringLiteral("Convert only a snippet from ") + shown(&ConvSpec::snipFrom_) +
               QStringLiteral(" to ") + shown(&ConvSpec::snipTo_) + QStringLiteral(" s");
    if (copyExtras_)
        log += kLogLine + QStringLiteral("Convert any marker-, loop-, region definitions, and time stamps");
    if (needsFades_) {
        log += kLogLine + QStringLiteral("Supply output files with a fade in of ") + shown(&ConvSpec::fadeInTime_) +
               QStringLiteral(" ms");
        log += QStringLiteral("\n                        and a fade out of ") + shown(&ConvSpec::fadeOutTime_) +
               QStringLiteral(" ms");
    }
    return log;
}

// The gate, then the limiter or the normalising.
QString ConvSpec::logGainLines() const
{
    if (!needsGain_)
        return kLogLine + QStringLiteral("Do not change the gain");
    QString log;
    if (needsGate_) {
        log += kLogLine + QStringLiteral("Gate silences with following settings:");
        log += QStringLiteral("\n        A silence is longer than ") + shown(&ConvSpec::gateGapLength_) +
               QStringLiteral(" ms");
        log += QStringLiteral("\n        and lower than ") + shown(&ConvSpec::gateThreshold_) + QStringLiteral(" dBfs");
        log += QStringLiteral("\n        Attenuate silences ") + shown(&ConvSpec::gateAttenuation_) +
               QStringLiteral(" dB");
    }
    const QString rest = needsGate_ ? QStringLiteral("non-silences ") : QString(QLatin1String(""));
    if (needsCompressor_) {
        log += kLogLine + QStringLiteral("Boost ") + rest +
               QStringLiteral("with Look Ahead Peak Limiter, using following settings:");
        if (needsNormalize_)
            log += QStringLiteral("\n        First normalize to full scale");
        log += QStringLiteral("\n\t\t ") + (needsNormalize_ ? QStringLiteral("Then a") : QStringLiteral("     A")) +
               QStringLiteral("mplify ") + shown(&ConvSpec::compressionBoost_) + QStringLiteral(" dB");
        log += QStringLiteral("\n        Then limit at ") + shown(&ConvSpec::ceiling_) + QStringLiteral(" dBfs");
    } else if (needsNormalize_) {
        log += kLogLine + QStringLiteral("Boost ") + rest + QStringLiteral("by normalizing to: ") +
               shown(&ConvSpec::ceiling_) + QStringLiteral(" dB");
    }
    return log;
}

// The name extension and the Broadcast Wave annotation.
QString ConvSpec::logNamingLines() const
{
    QString log;
    if (needsNameExtension_) {
        const QString extension =
            nameExtension_.startsWith(QLatin1Char('.')) ? nameExtension_.mid(1) : nameExtension_;
        log += kLogLine + QStringLiteral("Add or replace filename extension: .") + extension;
    }
    if (specifics_.contains(kAnnotationTextKey)) {
        const QString annotation = SpecificsText(specifics_.value(kAnnotationTextKey));
        if (!annotation.isNull())
            log += kLogLine + QStringLiteral("BWF annotation: ") + annotation;
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
        name += QStringLiteral(", ") + shown(&ConvSpec::sampleRate_, 2) + QStringLiteral(" Hz");
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
        name += QStringLiteral(", strip (margin ") + shown(&ConvSpec::stripMargin_) + QStringLiteral(" ms)");
    if (needsSnip_)
        name += QStringLiteral(", snippet from ") + shown(&ConvSpec::snipFrom_) + QStringLiteral(" to ") +
                shown(&ConvSpec::snipTo_) + QStringLiteral(" s");
    if (copyExtras_)
        name += QStringLiteral(", copy extras");
    if (needsFades_)
        name += QStringLiteral(", fade in ") + shown(&ConvSpec::fadeInTime_) + QStringLiteral(" ms, out ") +
                shown(&ConvSpec::fadeOutTime_) + QStringLiteral(" ms");
    if (needsGain_) {
        if (needsGate_)
            name += QStringLiteral(", att ") + shown(&ConvSpec::gateAttenuation_) + QStringLiteral(" dB when below ") +
                    shown(&ConvSpec::gateThreshold_) + QStringLiteral(" dBfs for over ") +
                    shown(&ConvSpec::gateGapLength_) + QStringLiteral(" ms");
        const QString rest = needsGate_ ? QStringLiteral(" rest") : QString();
        if (needsCompressor_)
            name += QStringLiteral(", boost") + rest + QStringLiteral(", ") +
                    (needsNormalize_ ? QStringLiteral("normalize, ") : QString()) + QStringLiteral("amp ") +
                    shown(&ConvSpec::compressionBoost_) + QStringLiteral(" dB, limit @ ") + shown(&ConvSpec::ceiling_) +
                    QStringLiteral(" dBfs");
        else if (needsNormalize_)
            name += QStringLiteral(", boost") + rest + QStringLiteral(" by normalizing to ") +
                    shown(&ConvSpec::ceiling_) + QStringLiteral(" dBfs");
    }
    return name;
}
