// One named conversion: what to make of every input file of a batch (output
// type, sample rate, word length, channel treatment, gain, fades, snipping,
// compacting, region extraction, name extension, comment) plus a
// dictionary of per-type settings ("specifics").
//
// Persistence: the 43 fields live under the keys "QMCS" + field name in a
// property-list dictionary (dictionary()); the archive form is that
// dictionary written as a property list.  Conversions of the previous
// version come in as 386-byte big-endian records (fromLegacyData).  One
// table of the fields (ConvSpec.cpp: key, member, type, default, legacy
// record place, how the descriptions show it) drives the defaults, the
// dictionary both ways, the copy, the comparison, the legacy import and
// the numbers of the descriptions.
//
// Whatever the path a conversion is built on, its specifics hold an
// "oldData" block of exactly 256 bytes (the per-type settings block that
// the engine reaches through fileTypeSpecifics()).
//
// Not locked: the editor does not change a conversion while a batch runs.
#pragma once

#include "MacTypes.h"
#include "PropertyList.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <array>
#include <memory>
#include <vector>

class ConvSpec;
using ConvSpecRef = std::shared_ptr<ConvSpec>;

class ConvSpec : public std::enable_shared_from_this<ConvSpec> {
public:
    // Size of the per-type settings block.
    static constexpr int kFileTypeSpecificsSize = 256;
    // Size of one record of the previous version.
    static constexpr int kLegacyRecordSize = 386;

    // ------------------------------------------------------------ keys
    static const QString kActiveKey;                    // "QMCSActive"
    static const QString kBitRatePerChannelKey;         // "QMCSBitRatePerChannel"
    static const QString kCeiledMaxKey;                 // "QMCSCeiledMax"
    static const QString kCeilingKey;                   // "QMCSCeiling"
    static const QString kChannelTreatKey;              // "QMCSChannelTreat"
    static const QString kCommentKey;                   // "QMCSComment"
    static const QString kCompressionBoostKey;          // "QMCSCompressionBoost"
    static const QString kCompressionReleaseKey;        // "QMCSCompressionRelease"
    static const QString kCompressionTypeKey;           // "QMCSCompressionType"
    static const QString kConversionNameKey;            // "QMCSName"
    static const QString kCopyExtrasKey;                // "QMCSCopyExtras"
    static const QString kFadeInTimeKey;                // "QMCSFadeInTime"
    static const QString kFadeOutTimeKey;               // "QMCSFadeOutTime"
    static const QString kGateAttenuationKey;           // "QMCSGateAttenuation"
    static const QString kGateGapLengthKey;             // "QMCSGateGapLength"
    static const QString kGateThresholdKey;             // "QMCSGateThreshold"
    static const QString kHasValidMaxKey;               // "QMCSHasValidMax"
    static const QString kMaxKey;                       // "QMCSMax"
    static const QString kNameExtensionKey;             // "QMCSNameExtension"
    static const QString kNeedsChannelTreatKey;         // "QMCSNeedsChannelTreat"
    static const QString kNeedsCompressionKey;          // "QMCSNeedsCompression"
    static const QString kNeedsCompressorKey;           // "QMCSNeedsCompressor"
    static const QString kNeedsExtractionKey;           // "QMCSNeedsExtraction"
    static const QString kNeedsFadesKey;                // "QMCSNeedsFades"
    static const QString kNeedsGainKey;                 // "QMCSNeedsGain"
    static const QString kNeedsGateKey;                 // "QMCSNeedsGate"
    static const QString kNeedsNameExtensionKey;        // "QMCSNeedsNameExtension"
    static const QString kNeedsNewWordLengthKey;        // "QMCSNeedsNewWordLength"
    static const QString kNeedsNormalizeKey;            // "QMCSNeedsNormalize"
    static const QString kNeedsReditherKey;             // "QMCSNeedsRedither"
    static const QString kNeedsSampleRateConversionKey; // "QMCSNeedsSampleRateConversion"
    static const QString kNeedsSnipKey;                 // "QMCSNeedsSnip"
    static const QString kNeedsStrictFileTypeKey;       // "QMCSNeedsStrictFileType"
    static const QString kNeedsStripKey;                // "QMCSNeedsStrip"
    static const QString kOutputFileTypeKey;            // "QMCSOutputFileType"
    static const QString kSampleRateKey;                // "QMCSSampleRate"
    static const QString kSampleRateConvertQualityKey;  // "QMCSSampleRateConvertQuality"
    static const QString kSnipFromKey;                  // "QMCSSnipFrom"
    static const QString kSnipToKey;                    // "QMCSSnipTo"
    static const QString kSpecificsKey;                 // "QMCSSpecifics"
    static const QString kSpecificsValidKey;            // "QMCSSpecificsValid"
    static const QString kStripMarginKey;               // "QMCSStripMargin"
    static const QString kWordLengthKey;                // "QMCSWordLength"

    // Keys inside the specifics.
    static const QString kOldDataKey;                   // "oldData"
    static const QString kAnnotationTextKey;            // "AnnotationText"

    // ---------------------------------------------------- construction
    // The defaults (comment "", name "untitled conversion", active, 2
    // (split) as channel treatment, 44100 Hz, 16 bits,
    // kDefaultOutputFileType, fades of 20 ms, ...).  Settings are not
    // validated.
    ConvSpec();
    // A copy that shares nothing with `other` (every field, `valid` and
    // `specificsValid` included; not validated).
    ConvSpec(const ConvSpec& other);
    ConvSpec& operator=(const ConvSpec& other);
    virtual ~ConvSpec() = default;

    static ConvSpecRef create();
    ConvSpecRef copy() const;

    // Every persisted field, the specifics (block included) and `valid`
    // alike.
    bool operator==(const ConvSpec& other) const;
    bool operator!=(const ConvSpec& other) const { return !(*this == other); }

    // From a dictionary keyed by the "QMCS" keys.  Missing or unusable
    // values give 0, NO or "" (numbers are read from numbers, booleans and
    // numeric text; anything else counts as missing).  Ends with
    // validateSettings().
    static ConvSpecRef fromDictionary(const QVariantMap& dictionary);
    // The 43 fields under their keys: flags as booleans, reals and floats
    // as reals, longs and the type code as (signed 32-bit) integers,
    // strings, and the specifics with their "oldData" block.
    QVariantMap dictionary() const;
    // The dictionary as an XML property list (for traces).
    QString description() const;

    // Archive form: the dictionary as a property list.  fromArchive gives
    // null for data that is not a property-list dictionary.
    QByteArray archivedData(PropertyList::Format format = PropertyList::Format::Binary) const;
    static ConvSpecRef fromArchive(const QByteArray& data);

    // One record of the previous version and its name.  Null for a record
    // shorter than kLegacyRecordSize bytes, and for one whose forced output
    // type is no longer offered ('PNRA', 'RAG2').
    static ConvSpecRef fromLegacyData(const QByteArray& record, const QString& name);
    static SInt32 remapV3QualityToV4(SInt32 quality);

    // "untitled conversion"
    static QString defaultConversionName();

    // ------------------------------------------------------ sort state
    // Class-wide: ascending by "convName" until changed.  Keys: "convName"
    // (case-insensitive name), "active" (NO first), "comment"
    // (case-insensitive); any other key compares equal.
    static bool ascendingSort();
    static void setAscendingSort(bool ascending);
    static QString sortKey();
    static void setSortKey(const QString& key);
    // -1, 0 or 1.  A null `other` sorts after (ascending) / before
    // (descending) this one.
    int compare(const ConvSpec* other) const;

    // -------------------------------------------------------- checks
    // valid = not strict, or the output type's entry in the file-type
    // dictionary says "canBeWritten".  Returns valid.
    bool validateSettings();
    bool valid() const { return valid_; }
    void setValid(bool value) { valid_ = value; }

    // -------------------------------------------------- descriptions
    // The output type's popup wording of the word length / the channel
    // treatment; "%d bits" / "channel treatment %d" when no item matches.
    // A setting that replaces the word length is said instead (see below).
    QString descriptionForWordLength() const;
    // What stands in place of the word length, empty when nothing does: an
    // MP3 of variable bit rate has no bit rate, its quality says it
    // ("VBR quality 2"), as the encoder is given it.
    QString descriptionInPlaceOfWordLength() const;
    // The word length as the log says it: as above, except an MPEG-4 bit
    // rate per channel, said per channel with the stereo total.
    QString descriptionForWordLengthInLog() const;
    QString descriptionForChannelHandling() const;
    // A channel treatment in the words of the log's "Change number of
    // channels by:" line ("mixing stereo files to mono files"); empty for
    // a value that names none.
    static QString channelTreatmentPhrase(SInt32 treatment);
    // The indented block the log writes at the head of a conversion.
    QString descriptionForLog() const;
    // The one-line name the editor offers.
    QString descriptionForAutoName() const;

    // ------------------------------------------------------- specifics
    // The specifics dictionary with its "oldData" block.
    QVariantMap specifics() const;
    // Replaces the specifics; "oldData" is taken as the new block (cut or
    // padded with zeros to 256 bytes; zeros when missing or not data).
    void setSpecifics(const QVariantMap& specifics);
    QVariant specificsValue(const QString& key) const;
    void setSpecificsValue(const QString& key, const QVariant& value);
    void removeSpecificsValue(const QString& key);
    // The 256 bytes of "oldData"; valid as long as this object lives.
    unsigned char* fileTypeSpecifics() { return oldData_.data(); }
    const unsigned char* fileTypeSpecifics() const { return oldData_.data(); }
    // Copies 256 bytes from `bytes` (zeros for null).
    void setFileTypeSpecifics(const unsigned char* bytes);

    // Broadcast Wave outputs read their annotation from the block: UTF-8
    // from byte 22, at most 233 bytes, always followed by a zero byte.
    static constexpr int kAnnotationOffset = 22;
    static constexpr int kMaxAnnotationBytes = kFileTypeSpecificsSize - kAnnotationOffset - 1;
    // The block that holds `text` as annotation: the bytes before the
    // offset from `previous` (zeros when null), then the text cut on a
    // character boundary, then zeros.
    static QByteArray blockForAnnotation(const QString& text, const unsigned char* previous = nullptr);
    // When the specifics hold an "AnnotationText", puts it into the block
    // where the writers read it, as the annotation sheet does.
    void storeAnnotationInBlock();

    // ---------------------------------------------------------- fields
    bool active() const { return active_; }
    void setActive(bool v) { active_ = v; }
    bool bitRatePerChannel() const { return bitRatePerChannel_; }
    void setBitRatePerChannel(bool v) { bitRatePerChannel_ = v; }
    double ceiledMax() const { return ceiledMax_; }
    void setCeiledMax(double v) { ceiledMax_ = v; }
    double ceiling() const { return ceiling_; }
    void setCeiling(double v) { ceiling_ = v; }
    SInt32 channelTreat() const { return channelTreat_; }
    void setChannelTreat(SInt32 v) { channelTreat_ = v; }
    const QString& comment() const { return comment_; }
    void setComment(const QString& v); // null becomes ""
    double compressionBoost() const { return compressionBoost_; }
    void setCompressionBoost(double v) { compressionBoost_ = v; }
    double compressionRelease() const { return compressionRelease_; }
    void setCompressionRelease(double v) { compressionRelease_ = v; }
    SInt32 compressionType() const { return compressionType_; }
    void setCompressionType(SInt32 v) { compressionType_ = v; }
    const QString& conversionName() const { return conversionName_; }
    // Through ConvNameFormatter: always a usable folder name.
    void setConversionName(const QString& v);
    bool copyExtras() const { return copyExtras_; }
    void setCopyExtras(bool v) { copyExtras_ = v; }
    float fadeInTime() const { return fadeInTime_; }
    void setFadeInTime(float v) { fadeInTime_ = v; }
    float fadeOutTime() const { return fadeOutTime_; }
    void setFadeOutTime(float v) { fadeOutTime_ = v; }
    double gateAttenuation() const { return gateAttenuation_; }
    void setGateAttenuation(double v) { gateAttenuation_ = v; }
    double gateGapLength() const { return gateGapLength_; }
    void setGateGapLength(double v) { gateGapLength_ = v; }
    double gateThreshold() const { return gateThreshold_; }
    void setGateThreshold(double v) { gateThreshold_ = v; }
    bool hasValidMax() const { return hasValidMax_; }
    void setHasValidMax(bool v) { hasValidMax_ = v; }
    double max() const { return max_; }
    void setMax(double v) { max_ = v; }
    const QString& nameExtension() const { return nameExtension_; }
    // Through NameExtensionFormatter: stored without its first ".".
    void setNameExtension(const QString& v);
    bool needsChannelTreat() const { return needsChannelTreat_; }
    void setNeedsChannelTreat(bool v) { needsChannelTreat_ = v; }
    bool needsCompression() const { return needsCompression_; }
    void setNeedsCompression(bool v) { needsCompression_ = v; }
    bool needsCompressor() const { return needsCompressor_; }
    void setNeedsCompressor(bool v) { needsCompressor_ = v; }
    bool needsExtraction() const { return needsExtraction_; }
    void setNeedsExtraction(bool v) { needsExtraction_ = v; }
    bool needsFades() const { return needsFades_; }
    void setNeedsFades(bool v) { needsFades_ = v; }
    bool needsGain() const { return needsGain_; }
    void setNeedsGain(bool v) { needsGain_ = v; }
    bool needsGate() const { return needsGate_; }
    void setNeedsGate(bool v) { needsGate_ = v; }
    bool needsNameExtension() const { return needsNameExtension_; }
    void setNeedsNameExtension(bool v) { needsNameExtension_ = v; }
    bool needsNewWordLength() const { return needsNewWordLength_; }
    void setNeedsNewWordLength(bool v) { needsNewWordLength_ = v; }
    bool needsNormalize() const { return needsNormalize_; }
    void setNeedsNormalize(bool v) { needsNormalize_ = v; }
    bool needsRedither() const { return needsRedither_; }
    void setNeedsRedither(bool v) { needsRedither_ = v; }
    bool needsSampleRateConversion() const { return needsSampleRateConversion_; }
    void setNeedsSampleRateConversion(bool v) { needsSampleRateConversion_ = v; }
    bool needsSnip() const { return needsSnip_; }
    void setNeedsSnip(bool v) { needsSnip_ = v; }
    bool needsStrictFileType() const { return needsStrictFileType_; }
    void setNeedsStrictFileType(bool v) { needsStrictFileType_ = v; }
    bool needsStrip() const { return needsStrip_; }
    void setNeedsStrip(bool v) { needsStrip_ = v; }
    OSType outputFileType() const { return outputFileType_; }
    void setOutputFileType(OSType v) { outputFileType_ = v; }
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double v) { sampleRate_ = v; }
    SInt32 sampleRateConvertQuality() const { return sampleRateConvertQuality_; }
    void setSampleRateConvertQuality(SInt32 v) { sampleRateConvertQuality_ = v; }
    double snipFrom() const { return snipFrom_; }
    void setSnipFrom(double v) { snipFrom_ = v; }
    double snipTo() const { return snipTo_; }
    void setSnipTo(double v) { snipTo_ = v; }
    bool specificsValid() const { return specificsValid_; }
    void setSpecificsValid(bool v) { specificsValid_ = v; }
    float stripMargin() const { return stripMargin_; }
    void setStripMargin(float v) { stripMargin_ = v; }
    SInt32 wordLength() const { return wordLength_; }
    void setWordLength(SInt32 v) { wordLength_ = v; }

private:
    // One persisted field: its key, member, type, default, legacy record
    // place and how the descriptions show it (ConvSpec.cpp).  Every
    // operation that walks the fields walks this table.
    struct Field;
    static const std::vector<Field>& fields();

    struct Zeroed {};
    explicit ConvSpec(Zeroed);
    void assignFrom(const ConvSpec& other);
    void readField(const Field& field, const QVariant& value);
    void readDictionary(const QVariantMap& dictionary);
    void readLegacyRecord(const unsigned char* record);
    // A numeric field as the descriptions show it: scaled, with the field's
    // decimals unless `decimals` is given.
    template <class T>
    QString shown(T ConvSpec::*member, int decimals = -1) const;
    // The parts of descriptionForLog, each a run of indented lines.
    QString logFormatLines() const;
    QString logChannelLines() const;
    QString logEditLines() const;
    QString logGainLines() const;
    QString logNamingLines() const;
    // This object as a shared pointer (a non-owning one when it is not
    // owned by one), for the engine view the descriptions build.
    std::shared_ptr<ConvSpec> selfReference() const;

    bool active_ = false;
    bool bitRatePerChannel_ = false;
    double ceiledMax_ = 0;
    double ceiling_ = 0;
    SInt32 channelTreat_ = 0;
    QString comment_;
    double compressionBoost_ = 0;
    double compressionRelease_ = 0;
    SInt32 compressionType_ = 0;
    QString conversionName_;
    bool copyExtras_ = false;
    float fadeInTime_ = 0;
    float fadeOutTime_ = 0;
    double gateAttenuation_ = 0;
    double gateGapLength_ = 0;
    double gateThreshold_ = 0;
    bool hasValidMax_ = false;
    double max_ = 0;
    QString nameExtension_;
    bool needsChannelTreat_ = false;
    bool needsCompression_ = false;
    bool needsCompressor_ = false;
    bool needsExtraction_ = false;
    bool needsFades_ = false;
    bool needsGain_ = false;
    bool needsGate_ = false;
    bool needsNameExtension_ = false;
    bool needsNewWordLength_ = false;
    bool needsNormalize_ = false;
    bool needsRedither_ = false;
    bool needsSampleRateConversion_ = false;
    bool needsSnip_ = false;
    bool needsStrictFileType_ = false;
    bool needsStrip_ = false;
    OSType outputFileType_ = 0;
    double sampleRate_ = 0;
    SInt32 sampleRateConvertQuality_ = 0;
    // Seconds, held as written (a float would move 20.3 s off its frame).
    double snipFrom_ = 0;
    double snipTo_ = 0;
    QVariantMap specifics_; // every key but "oldData"
    std::array<unsigned char, kFileTypeSpecificsSize> oldData_{};
    bool specificsValid_ = false;
    float stripMargin_ = 0;
    SInt32 wordLength_ = 0;
    bool valid_ = false;
};
