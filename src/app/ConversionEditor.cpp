#include "ConversionEditor.h"

#include "AppPresenter.h"
#include "BWFAnnotationSheet.h"
#include "CConvSpec.h"
#include "ConversionCheck.h"
#include "ConversionFieldTable.h"
#include "CreateSoundFile.h"
#include "EditorCommentGroup.h"
#include "ControlTools.h"
#include "EditorFadesAndNamesGroup.h"
#include "EditorFormatGroup.h"
#include "EditorGainGroup.h"
#include "EditorRegionsGroup.h"
#include "FileTypeDictionary.h"
#include "G729OptionsSheet.h"
#include "LAMEOptionsSheet.h"
#include "Localized.h"
#include "MPEGOptionsSheet.h"
#include "MainBundle.h"
#include "PreferenceKeys.h"
#include "PropertyList.h"
#include "UserDefaults.h"
#include "VOCSampleRateSheet.h"
#include "file_type_table.h"
#include "per_type_setting_checks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const double ConversionEditor::kBuiltInRates[kBuiltInRateCount] = {
    192000, 176400, 96000, 88200, 48000, 47952, 44100, 44055.9, 37800, 32000, 24000,
    22554.545454545456, 22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5};

namespace {

const QString kCustomRatesKey = PreferenceKeys::kCustomSampleRates;
const QString kFrameKey = PreferenceKeys::kConversionEditorFrame;
const QString kEditorUpdatedRates = QStringLiteral("QMCustomSampleRatesUpdated");
const QString kWindowUpdatedRates = QStringLiteral("QMUpdatedCustomSampleRates");

enum Which { kRate, kBits, kChannels };

void Substitute(QString* text, const QString& value)
{
    const int at = text->indexOf(QLatin1String("%@"));
    if (at >= 0)
        text->replace(at, 2, value);
}

} // namespace

using namespace ControlTools;

ConversionEditor::ConversionEditor(UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_defaults(defaults), m_curFileType(kDefaultOutputFileType),
      m_undo(new QUndoStack(this)),
      m_fields(this, [this] { return m_spec && !m_filling ? m_spec.get() : nullptr; })
{
    setObjectName(QStringLiteral("ConversionEditor"));
    setWindowTitle(L("Define Conversion"));
    m_fileTypeInfo = GetFileTypeDictionary();
    loadCustomRates();
    m_ratesObserver = NotificationCenter::defaultCenter().addObserver(
        kWindowUpdatedRates, nullptr, [this](const Notification&) {
            // The list as stored; the menu shows the field's rate when it
            // still has an item (a deleted custom rate is not added back).
            loadCustomRates();
            setupSampleRatePopUp();
            selectRateItemForField();
        });
    buildWindow();
}

ConversionEditor::~ConversionEditor()
{
    NotificationCenter::defaultCenter().removeObserver(m_ratesObserver);
}

bool ConversionEditor::editConversion(QWidget* parent, const ConvSpecRef& spec, const QSet<QString>& names,
                                      UserDefaults& defaults)
{
    static QPointer<ConversionEditor> editor;
    if (!editor)
        editor = new ConversionEditor(defaults, parent);
    editor->setParent(parent, editor->windowFlags());
    editor->setNames(names);
    editor->setConvSpec(spec);
    const bool confirmed = editor->exec() == QDialog::Accepted;
    editor->setConvSpec(nullptr);
    return confirmed;
}

// ============================================================ the window

void ConversionEditor::buildWindow()
{
    auto* layout = new QVBoxLayout(this);

    // Name.
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(L("Conversion name:"), this));
    m_nameField = Named(new QLineEdit(this), "conversionNameTextField");
    nameRow->addWidget(m_nameField, 1);
    m_autoNameButton = Named(new QPushButton(L("Automatic Name"), this), "automaticNameButton");
    nameRow->addWidget(m_autoNameButton);
    layout->addLayout(nameRow);
    // Two columns, so that the window fits a laptop's screen: the format
    // and the fades on the left, the regions and the gain on the right.
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    layout->addLayout(columns);
    m_format = new EditorFormatGroup(this);
    left->addWidget(m_format);
    m_regions = new EditorRegionsGroup(this);
    right->addWidget(m_regions);
    m_fades = new EditorFadesAndNamesGroup(this);
    left->addWidget(m_fades);
    left->addStretch();
    m_gain = new EditorGainGroup(this);
    right->addWidget(m_gain);
    right->addStretch();
    m_commentGroup = new EditorCommentGroup(this);
    layout->addWidget(m_commentGroup);

    // Verdict and buttons.
    m_info = Named(new QLabel(this), "infoTextField");
    m_info->setWordWrap(true);
    m_info->setMinimumHeight(36);
    layout->addWidget(m_info);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancelButton = Named(new QPushButton(L("Cancel"), this), "cancelButton");
    m_okButton = Named(new QPushButton(L("OK"), this), "okButton");
    m_okButton->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(m_okButton);
    layout->addLayout(buttons);
    connect(cancelButton, &QPushButton::clicked, this, &ConversionEditor::cancel);
    connect(m_okButton, &QPushButton::clicked, this, &ConversionEditor::ok);

    connect(m_autoNameButton, &QPushButton::clicked, this, &ConversionEditor::doAutomaticName);
    connect(m_format->optionsButton, &QPushButton::clicked, this, [this] { doOptionsButton(); });
    connect(m_format->rateMenu, &QComboBox::activated, this, &ConversionEditor::chooseSampleRateItem);
    connect(m_commentGroup->triangle, &QToolButton::toggled, this, &ConversionEditor::doCommentDisclosure);
    buildFieldTable();
    buildFileTypeMenu();
    setupSampleRatePopUp();

    // Titles the output type sets take the room of the longest.
    QStringList bitsTitles{L("Number of bits")};
    QStringList optionsTitles{L("Options...")};
    for (const QVariant& entry : GetFileTypeDictionary()) {
        const QVariantMap map = entry.toMap();
        for (auto [titles, key] : {std::pair{&bitsTitles, "numBitsCheckBoxTitle"},
                                   std::pair{&optionsTitles, "optionsButtonTitle"}})
            if (const QString title = map.value(QLatin1String(key)).toString(); !title.isEmpty())
                titles->append(title);
    }
    ReserveWidthFor(m_format->bitsBox, bitsTitles);
    ReserveWidthFor(m_format->optionsButton, optionsTitles);
}

void ConversionEditor::buildFieldTable()
{
    ConversionFieldTable& t = m_fields;
    EditorFormatGroup& format = *m_format;
    EditorRegionsGroup& regions = *m_regions;
    EditorFadesAndNamesGroup& fades = *m_fades;
    EditorGainGroup& gain = *m_gain;

    t.text(m_nameField, ConvSpec::kConversionNameKey, &ConvSpec::conversionName, &ConvSpec::setConversionName);

    // The output type, the rate, the word length and the channels; the
    // word-length and channel menus are filled and shown by the type's
    // rules (updateUIForFileType).
    m_convertTypeRow = t.add({{ConvSpec::kNeedsStrictFileTypeKey, ConvSpec::kNeedsNameExtensionKey},
                              [&format](ConvSpec& s) { format.convertTypeBox->setChecked(s.needsStrictFileType()); },
                              [this, &format, &fades](ConvSpec& s) {
                                  // A type of one's own, a name extension of one's own: the
                                  // output type's, when the field has none.  Without an
                                  // extension to use, the box stays as it was.
                                  const bool on = format.convertTypeBox->isChecked();
                                  s.setNeedsStrictFileType(on);
                                  if (on && fades.extensionField->text().isEmpty()) {
                                      const QString extension = m_fileTypeInfo.value(FileTypeForHFSTypeCode(s.outputFileType()))
                                                                    .toMap()
                                                                    .value(QStringLiteral("extension"))
                                                                    .toString();
                                      fades.extensionField->setText(extension);
                                      s.setNameExtension(extension);
                                  }
                                  if (!on || !fades.extensionField->text().isEmpty()) {
                                      fades.extensionBox->setChecked(on);
                                      m_fields.edit(m_extensionRow);
                                  }
                              },
                              [this] { convertFileTypeDependencies(); }});
    t.editOn(m_convertTypeRow, format.convertTypeBox, &QCheckBox::clicked);
    m_convertRateRow = t.check(format.convertRateBox, ConvSpec::kNeedsSampleRateConversionKey,
                               &ConvSpec::needsSampleRateConversion, &ConvSpec::setNeedsSampleRateConversion, [this] {
                                   sampleRateDependencies();
                                   checkConsistency();
                               });
    m_bitsRow = t.add({{ConvSpec::kNeedsNewWordLengthKey, ConvSpec::kWordLengthKey},
                       [&format](ConvSpec& s) { format.bitsBox->setChecked(s.needsNewWordLength()); },
                       [&format](ConvSpec& s) {
                           // Switched on, the word length shown is the one used.
                           const bool on = format.bitsBox->isChecked();
                           s.setNeedsNewWordLength(on);
                           if (on && format.bitsMenu->currentIndex() >= 0)
                               s.setWordLength(ItemTag(format.bitsMenu, format.bitsMenu->currentIndex()));
                       },
                       [this] {
                           numOfBitsDependencies();
                           checkConsistency();
                       }});
    t.editOn(m_bitsRow, format.bitsBox, &QCheckBox::clicked);
    const int bitsMenuRow = t.add({{ConvSpec::kWordLengthKey},
                                   {},
                                   [&format](ConvSpec& s) {
                                       if (format.bitsMenu->currentIndex() >= 0)
                                           s.setWordLength(ItemTag(format.bitsMenu, format.bitsMenu->currentIndex()));
                                   },
                                   [this] { checkConsistency(); }});
    t.editOn(bitsMenuRow, format.bitsMenu, &QComboBox::activated);
    m_channelsRow = t.add({{ConvSpec::kNeedsChannelTreatKey, ConvSpec::kChannelTreatKey},
                           [&format](ConvSpec& s) { format.channelBox->setChecked(s.needsChannelTreat()); },
                           [&format](ConvSpec& s) {
                               // Switched off, no treatment is kept.
                               const bool on = format.channelBox->isChecked();
                               s.setNeedsChannelTreat(on);
                               s.setChannelTreat(on && format.channelMenu->currentIndex() >= 0
                                                     ? ItemTag(format.channelMenu, format.channelMenu->currentIndex())
                                                     : 0);
                           },
                           [this] {
                               channelHandlingDependencies();
                               checkConsistency();
                           }});
    t.editOn(m_channelsRow, format.channelBox, &QCheckBox::clicked);
    const int channelMenuRow =
        t.add({{ConvSpec::kChannelTreatKey},
               {},
               [&format](ConvSpec& s) {
                   if (format.channelMenu->currentIndex() >= 0)
                       s.setChannelTreat(ItemTag(format.channelMenu, format.channelMenu->currentIndex()));
               },
               [this] { checkConsistency(); }});
    t.editOn(channelMenuRow, format.channelMenu, &QComboBox::activated);
    m_typeRow = t.add({{ConvSpec::kOutputFileTypeKey, ConvSpec::kNameExtensionKey, ConvSpec::kSpecificsValidKey},
                       [&format](ConvSpec& s) {
                           format.typeMenu->setCurrentIndex(IndexOfTag(format.typeMenu, int(s.outputFileType())));
                       },
                       [this](ConvSpec&) { applyFileTypeItem(); },
                       {}});
    t.editOn(m_typeRow, format.typeMenu, &QComboBox::activated);
    // The rate menu puts its rate into the field (chooseSampleRateItem);
    // the rate in the field becomes the conversion's by the type's checks.
    const int rateRow = t.add({{ConvSpec::kSampleRateKey},
                               [this, &format](ConvSpec& s) {
                                   format.rateField->setText(formatRate(s.sampleRate()));
                                   handleSampleRateTextFieldDependencies();
                               },
                               [this](ConvSpec&) {
                                   handleSampleRateTextFieldDependencies();
                                   checkConsistency();
                               },
                               {}});
    t.editOn(rateRow, format.rateField, &QLineEdit::editingFinished);
    t.tag(format.qualityMenu, ConvSpec::kSampleRateConvertQualityKey, &ConvSpec::sampleRateConvertQuality,
          &ConvSpec::setSampleRateConvertQuality);

    // Regions: one of extraction, strip and snip (the menu's item), or
    // none.
    auto storeRegions = [&regions](ConvSpec& s) {
        const bool on = regions.extractionBox->isChecked();
        const int item = regions.extractionMenu->currentIndex();
        s.setNeedsExtraction(on && item == 0);
        s.setNeedsStrip(on && item == 1);
        s.setNeedsSnip(on && item == 2);
    };
    const int regionsRow =
        t.add({{ConvSpec::kNeedsExtractionKey, ConvSpec::kNeedsStripKey, ConvSpec::kNeedsSnipKey},
               [&regions, storeRegions](ConvSpec& s) {
                   regions.extractionMenu->setCurrentIndex(s.needsSnip() ? 2 : s.needsStrip() ? 1 : 0);
                   regions.extractionBox->setChecked(s.needsExtraction() || s.needsStrip() || s.needsSnip());
                   // The flags as the window shows them: one at the most.
                   storeRegions(s);
               },
               storeRegions, [this] { extractionDependencies(); }});
    t.editOn(regionsRow, regions.extractionBox, &QCheckBox::clicked);
    t.editOn(regionsRow, regions.extractionMenu, &QComboBox::activated);
    // The snip is shown as start and length.
    const int startRow = t.add({{ConvSpec::kSnipFromKey, ConvSpec::kSnipToKey},
                                [&regions](ConvSpec& s) { regions.startAt.set(s.snipFrom()); },
                                [&regions](ConvSpec& s) {
                                    double from = 0;
                                    double length = 0;
                                    if (!regions.startAt.value(&from) || !regions.length.value(&length))
                                        return;
                                    s.setSnipFrom(from);
                                    s.setSnipTo(from + length);
                                },
                                {}});
    t.editOnPair(startRow, regions.startAt);
    const int lengthRow = t.add({{ConvSpec::kSnipToKey},
                                 [&regions](ConvSpec& s) { regions.length.set(s.snipTo() - s.snipFrom()); },
                                 [&regions](ConvSpec& s) {
                                     double length = 0;
                                     if (regions.length.value(&length))
                                         s.setSnipTo(s.snipFrom() + length);
                                 },
                                 {}});
    t.editOnPair(lengthRow, regions.length);
    t.number(regions.margin, ConvSpec::kStripMarginKey, &ConvSpec::stripMargin, &ConvSpec::setStripMargin);

    // Fades, extras, name extension.
    t.check(fades.fadeBox, ConvSpec::kNeedsFadesKey, &ConvSpec::needsFades, &ConvSpec::setNeedsFades,
            [this] { fadeDependencies(); });
    m_extensionRow = t.check(fades.extensionBox, ConvSpec::kNeedsNameExtensionKey, &ConvSpec::needsNameExtension,
                             &ConvSpec::setNeedsNameExtension, [this] { nameExtensionDependencies(); });
    t.number(fades.fadeIn, ConvSpec::kFadeInTimeKey, &ConvSpec::fadeInTime, &ConvSpec::setFadeInTime);
    t.number(fades.fadeOut, ConvSpec::kFadeOutTimeKey, &ConvSpec::fadeOutTime, &ConvSpec::setFadeOutTime);
    t.check(fades.copyBox, ConvSpec::kCopyExtrasKey, &ConvSpec::copyExtras, &ConvSpec::setCopyExtras);
    t.check(format.ditherBox, ConvSpec::kNeedsReditherKey, &ConvSpec::needsRedither, &ConvSpec::setNeedsRedither);
    t.text(fades.extensionField, ConvSpec::kNameExtensionKey, &ConvSpec::nameExtension, &ConvSpec::setNameExtension);

    // Gain: the gate, then the boost; either needs the gain stage.
    const int gateRow = t.add({{ConvSpec::kNeedsGateKey, ConvSpec::kNeedsGainKey},
                               [&gain](ConvSpec& s) { gain.gateBox->setChecked(s.needsGate()); },
                               [&gain](ConvSpec& s) {
                                   s.setNeedsGate(gain.gateBox->isChecked());
                                   s.setNeedsGain(gain.gateBox->isChecked() || gain.boostBox->isChecked());
                               },
                               [this] { gateDependencies(); }});
    t.editOn(gateRow, gain.gateBox, &QCheckBox::clicked);
    t.number(gain.longerThan, ConvSpec::kGateGapLengthKey, &ConvSpec::gateGapLength, &ConvSpec::setGateGapLength,
             1000.0);
    t.number(gain.lowerThan, ConvSpec::kGateThresholdKey, &ConvSpec::gateThreshold, &ConvSpec::setGateThreshold);
    t.number(gain.attenuate, ConvSpec::kGateAttenuationKey, &ConvSpec::gateAttenuation,
             &ConvSpec::setGateAttenuation);
    // The boost menu: item 0 compressor, 1 normalise; normalising first
    // with the compressor is both.
    const int boostRow =
        t.add({{ConvSpec::kNeedsCompressorKey, ConvSpec::kNeedsNormalizeKey, ConvSpec::kNeedsGainKey},
               [&gain](ConvSpec& s) {
                   gain.boostMenu->setCurrentIndex(s.needsCompressor() ? 0 : s.needsNormalize() ? 1 : 0);
                   gain.boostBox->setChecked(s.needsCompressor() || s.needsNormalize());
                   gain.firstNormalizeBox->setChecked(s.needsCompressor() && s.needsNormalize());
               },
               [&gain](ConvSpec& s) {
                   const bool on = gain.boostBox->isChecked();
                   const int item = gain.boostMenu->currentIndex();
                   s.setNeedsGain(on || gain.gateBox->isChecked());
                   s.setNeedsCompressor(on && item == 0);
                   s.setNeedsNormalize(on && (item == 1 || gain.firstNormalizeBox->isChecked()));
               },
               [this] { boostDependencies(); }});
    t.editOn(boostRow, gain.boostBox, &QCheckBox::clicked);
    t.editOn(boostRow, gain.boostMenu, &QComboBox::activated);
    t.editOn(boostRow, gain.firstNormalizeBox, &QCheckBox::clicked);
    t.number(gain.amplify, ConvSpec::kCompressionBoostKey, &ConvSpec::compressionBoost, &ConvSpec::setCompressionBoost);
    // The compressor's limit and the normalising ceiling are one field.
    for (SliderPair* pair : {&gain.limit, &gain.ceiling}) {
        SliderPair* twin = pair == &gain.limit ? &gain.ceiling : &gain.limit;
        const int row = t.add({{ConvSpec::kCeilingKey},
                               [pair](ConvSpec& s) { pair->set(s.ceiling()); },
                               [pair, twin](ConvSpec& s) {
                                   double value = 0;
                                   if (pair->value(&value)) {
                                       s.setCeiling(value);
                                       twin->set(value);
                                   }
                               },
                               {}});
        t.editOnPair(row, *pair);
    }

    // The comment; a tab typed at its end moves on to the name.
    EditorCommentGroup& comment = *m_commentGroup;
    const int commentRow = t.add({{ConvSpec::kCommentKey},
                                  [this, &comment](ConvSpec& s) {
                                      comment.text->setPlainText(s.comment());
                                      comment.triangle->setChecked(!s.comment().isEmpty());
                                      doCommentDisclosure(!s.comment().isEmpty());
                                  },
                                  [this, &comment](ConvSpec& s) {
                                      QString text = comment.text->toPlainText();
                                      if (text.endsWith(QLatin1Char('\t'))) {
                                          text.chop(1);
                                          const QSignalBlocker block(comment.text);
                                          comment.text->setPlainText(text);
                                          m_nameField->setFocus();
                                      }
                                      s.setComment(text);
                                  },
                                  {}});
    t.editOn(commentRow, comment.text, &QPlainTextEdit::textChanged);
}

// ======================================================= menus

void ConversionEditor::buildFileTypeMenu()
{
    m_format->typeMenu->clear();
    const QString path = MainBundle::pathForResource(QStringLiteral("menus"), QStringLiteral("plist"));
    QFile file(path);
    QVariantList titles;
    if (file.open(QIODevice::ReadOnly))
        titles = PropertyList::fromData(file.readAll()).toMap().value(QStringLiteral("popup")).toList();
    for (const QVariant& item : titles) {
        const QString title = item.toString();
        if (title == QLatin1String("-")) {
            m_format->typeMenu->insertSeparator(m_format->typeMenu->count());
            continue;
        }
        int tag = 0;
        for (auto it = m_fileTypeInfo.cbegin(); it != m_fileTypeInfo.cend(); ++it)
            if (it.value().toMap().value(QStringLiteral("text")).toString() == title) {
                tag = int(HFSTypeCodeFromFileType(it.key()));
                break;
            }
        m_format->typeMenu->addItem(title, tag);
    }
    refreshFileTypeItemStates();
}

void ConversionEditor::fillMenu(QComboBox* menu, const QVariantList& items)
{
    menu->clear();
    for (const QVariant& v : items) {
        const QVariantMap item = v.toMap();
        const QString text = item.value(QStringLiteral("text")).toString();
        if (text == QLatin1String("-")) {
            menu->insertSeparator(menu->count());
            continue;
        }
        menu->addItem(text);
        if (item.contains(QStringLiteral("tag")))
            menu->setItemData(menu->count() - 1, item.value(QStringLiteral("tag")).toInt(), kTagRole);
    }
}

QString ConversionEditor::formatRate(double rate)
{
    return QString::number(rate, 'g', 12);
}

void ConversionEditor::setupSampleRatePopUp()
{
    const QSignalBlocker block(m_format->rateMenu);
    m_format->rateMenu->clear();
    for (int i = 0; i < kBuiltInRateCount; ++i) {
        const double rate = kBuiltInRates[i];
        const QString title = rate == std::floor(rate) ? QString::number(qlonglong(rate))
                                                        : QString::number(rate, 'f', rate > 22000 && rate < 23000 ? 3 : 1);
        m_format->rateMenu->addItem(title, i);
    }
    // The custom rates, with the rate shown when it is new (stored only
    // by OK), highest first.
    QList<double> custom = m_customRates;
    if (m_newRate)
        custom.append(*m_newRate);
    std::sort(custom.begin(), custom.end(), std::greater<double>());
    if (!custom.isEmpty()) {
        m_format->rateMenu->insertSeparator(m_format->rateMenu->count());
        for (double rate : custom)
            m_format->rateMenu->addItem(formatRate(rate), -1);
    }
    m_format->rateMenu->setCurrentIndex(0);
    refreshSampleRateItemStates();
}

void ConversionEditor::refreshFileTypeItemStates()
{
    for (int i = 0; i < m_format->typeMenu->count(); ++i)
        if (m_format->typeMenu->itemData(i, kTagRole).isValid())
            SetItemEnabled(m_format->typeMenu, i, validateFileTypeItem(OSType(ItemTag(m_format->typeMenu, i))));
}

void ConversionEditor::refreshSampleRateItemStates()
{
    for (int i = 0; i < m_format->rateMenu->count(); ++i)
        if (m_format->rateMenu->itemData(i, kTagRole).isValid())
            SetItemEnabled(m_format->rateMenu, i, validateSampleRateItem(ItemTag(m_format->rateMenu, i)));
}

void ConversionEditor::loadCustomRates()
{
    m_customRates.clear();
    for (const QVariant& v : m_defaults.arrayForKey(kCustomRatesKey)) {
        bool ok = false;
        const double rate = v.toDouble(&ok);
        if (ok && std::isfinite(rate))
            m_customRates.append(rate);
    }
}

void ConversionEditor::storeCustomRates()
{
    std::sort(m_customRates.begin(), m_customRates.end());
    std::reverse(m_customRates.begin(), m_customRates.end());
    QVariantList list;
    for (double rate : m_customRates)
        list.append(rate);
    m_defaults.setObject(kCustomRatesKey, list);
    NotificationCenter::defaultCenter().postNotification(kEditorUpdatedRates, QVariant(), this);
}

// ======================================================= filling

QVariantMap ConversionEditor::currentEntry() const
{
    return m_fileTypeInfo.value(FileTypeForHFSTypeCode(m_curFileType)).toMap();
}

OutputCapabilities ConversionEditor::currentCapabilities() const
{
    return OutputCapabilities::fromEntry(currentEntry());
}

void ConversionEditor::setConvSpec(const ConvSpecRef& spec)
{
    m_spec = spec;
    if (m_newRate) {
        m_newRate.reset();
        setupSampleRatePopUp();
    }
    m_undo->clear();
    m_uiUpdated = false;
    if (m_spec)
        updateUI();
}

void ConversionEditor::showEvent(QShowEvent* event)
{
    // Each opening, for a new conversion or an edit, starts in the name,
    // selected (not in the comment that showing a conversion discloses).
    if (!event->spontaneous()) {
        m_nameField->setFocus(Qt::TabFocusReason);
        m_nameField->selectAll();
    }
    if (!m_placed) {
        m_placed = true;
        static const QRegularExpression point(QStringLiteral("^\\{\\s*(-?\\d+)\\s*,\\s*(-?\\d+)\\s*\\}$"));
        const QRegularExpressionMatch m = point.match(m_defaults.stringForKey(kFrameKey));
        if (m.hasMatch())
            move(m.captured(1).toInt(), m.captured(2).toInt());
    }
    QDialog::showEvent(event);
    // Showing the groups changes what some of them need (rows that the
    // settings show): the window takes its final size now, before it is
    // mapped, not at the first edit.
    if (layout())
        layout()->activate();
}

void ConversionEditor::updateUI()
{
    m_uiUpdated = true;
    if (!m_spec)
        return;
    m_filling = true;
    ConvSpec& s = *m_spec;
    m_fileTypeInfo = GetFileTypeDictionary();
    refreshFileTypeItemStates();
    m_sampleRateForced = m_wordSizeForced = m_channelsForced = false;
    m_curFileType = s.outputFileType();
    // The sample-rate field first, so the type's rate rules see the
    // conversion's rate.
    m_format->rateField->setText(formatRate(s.sampleRate()));
    m_format->convertRateBox->setChecked(s.needsSampleRateConversion());
    updateUIForFileType(m_curFileType);
    m_fields.showAll(s);
    m_filling = false;
    checkConsistency();
}

QVariantMap ConversionEditor::updateUIForFileType(OSType type)
{
    const bool filling = m_filling;
    m_filling = true;
    m_curFileType = type;
    const QVariantMap entry = currentEntry();
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(entry);

    selectClosestValidSampleRate(entry);
    handleSampleRateTextFieldDependencies();
    updateSampleRateTextField();
    refreshSampleRateItemStates();

    m_format->bitsBox->setText(entry.value(QStringLiteral("numBitsCheckBoxTitle"), L("Number of bits")).toString());
    // The word-length and the channel menu: the item the type's own index
    // operation names, else the one tagged with the stored value, else the
    // type's default item.  A stored value the menu has no item for gives
    // the item shown, as if chosen: the conversion holds what the menu says.
    const auto selectItem = [&](QComboBox* menu, const char* itemsKey, const char* defaultKey, bool hasIndexFunc,
                                const std::function<int(CConvSpec*)>& indexFunc, int stored) -> std::optional<int> {
        fillMenu(menu, entry.value(QLatin1String(itemsKey)).toList());
        int index = kNoItem;
        if (m_spec) {
            if (hasIndexFunc) {
                const auto cspec = makeCConvSpec();
                index = indexFunc(cspec.get());
            } else {
                index = IndexOfTag(menu, stored);
            }
        }
        if (index < 0 || index >= menu->count())
            index = entry.value(QLatin1String(defaultKey)).toInt();
        menu->setCurrentIndex(index >= 0 && index < menu->count() ? index : 0);
        const int current = menu->currentIndex();
        if (!m_spec || !menu->itemData(current, kTagRole).isValid() || ItemTag(menu, current) == stored)
            return std::nullopt;
        return ItemTag(menu, current);
    };
    if (const std::optional<int> tag = selectItem(
            m_format->bitsMenu, "numBitsPopup", "numBitsPopupDefault",
            dispatcher && dispatcher->hasWordLengthIndexFunc(),
            [&](CConvSpec* cspec) { return dispatcher->callWordLengthIndexFunc(cspec); },
            m_spec ? m_spec->wordLength() : 0))
        m_spec->setWordLength(*tag);
    // (A channel treatment only while one is in use: off, it stays 0.)
    if (const std::optional<int> tag = selectItem(
            m_format->channelMenu, "channelHandlingPopup", "channelHandlingPopupDefault",
            dispatcher && dispatcher->hasChannelIndexFunc(),
            [&](CConvSpec* cspec) { return dispatcher->callChannelIndexFunc(cspec); },
            m_spec ? m_spec->channelTreat() : 0);
        tag && m_spec->needsChannelTreat())
        m_spec->setChannelTreat(*tag);

    m_format->optionsButton->setText(entry.value(QStringLiteral("optionsButtonTitle"), L("Options...")).toString());
    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    m_format->optionsTabs->setCurrentIndex(caps.hasOptions ? 0 : 1);
    if (m_spec && !m_spec->specificsValid())
        m_spec->setSpecificsValid(!caps.optionsRequired);
    m_filling = filling;
    return entry;
}

void ConversionEditor::selectClosestValidSampleRate(const QVariantMap& entry)
{
    double field = 0;
    const bool parsed = rateFieldValue(&field);
    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    bool match = true;
    if (!caps.discreteRates.isEmpty()) {
        match = false;
        const double rate = m_spec ? m_spec->sampleRate() : field;
        for (double r : caps.discreteRates)
            if (std::fabs(r - rate) < kSameRate)
                match = true;
    }
    if (!parsed || field > caps.rateMax || field < caps.rateMin || !match)
        m_format->rateField->setText(formatRate(caps.rateDefault));
}

void ConversionEditor::updateSampleRateTextField()
{
    const bool discrete = !currentCapabilities().discreteRates.isEmpty();
    m_format->rateField->setEnabled(!discrete && m_format->convertRateBox->isChecked());
}

bool ConversionEditor::rateFieldValue(double* rate) const
{
    return ParseNumber(m_format->rateField->text(), rate);
}

void ConversionEditor::handleSampleRatePopUpDependencies()
{
    const int index = m_format->rateMenu->currentIndex();
    const int tag = ItemTag(m_format->rateMenu, index);
    if (tag >= 0 && tag < kBuiltInRateCount) {
        m_format->rateField->setText(formatRate(kBuiltInRates[tag]));
        return;
    }
    double rate = 0;
    if (ParseNumber(m_format->rateMenu->itemText(index), &rate))
        m_format->rateField->setText(formatRate(rate));
}

bool ConversionEditor::selectRateItemForField()
{
    double rate = 0;
    if (!rateFieldValue(&rate))
        return false;
    const QSignalBlocker block(m_format->rateMenu);
    for (int i = 0; i < kBuiltInRateCount; ++i)
        if (std::fabs(kBuiltInRates[i] - rate) < kSameRate) {
            m_format->rateMenu->setCurrentIndex(IndexOfTag(m_format->rateMenu, i));
            return true;
        }
    QList<double> custom = m_customRates;
    if (m_newRate)
        custom.append(*m_newRate);
    for (double known : custom)
        if (std::fabs(known - rate) < kSameRate) {
            m_format->rateMenu->setCurrentIndex(m_format->rateMenu->findText(formatRate(known)));
            return true;
        }
    return false;
}

void ConversionEditor::handleSampleRateTextFieldDependencies()
{
    if (selectRateItemForField())
        return;
    double rate = 0;
    const bool parsed = rateFieldValue(&rate);
    const QSignalBlocker block(m_format->rateMenu);
    // A new rate: the menu shows it among the custom rates, which it joins
    // when OK confirms the conversion (an unreadable one adds nothing; the
    // menu is rebuilt as it was).
    if (parsed && rate > 0)
        m_newRate = rate;
    setupSampleRatePopUp();
    if (parsed && rate > 0)
        m_format->rateMenu->setCurrentIndex(m_format->rateMenu->findText(formatRate(rate)));
}

// ======================================================= verdicts

std::unique_ptr<CConvSpec> ConversionEditor::makeCConvSpec() const
{
    return std::make_unique<CConvSpec>(m_spec);
}

void ConversionEditor::callDispatcher(int which, QComboBox* popup)
{
    if (!m_spec)
        return;
    const SoundFileDispatcherRef dispatcher = GetEntryDispatcher(currentEntry());
    if (!dispatcher)
        return;
    const bool has = which == kRate ? dispatcher->hasSampleRateFunc()
                     : which == kBits ? dispatcher->hasHandleWordLengthFunc()
                                      : dispatcher->hasHandleChannelFunc();
    if (!has)
        return;
    const int index = popup->currentIndex();
    const QString title = index >= 0 ? popup->itemText(index) : QString();
    const int tag = index >= 0 ? ItemTag(popup, index) : 0;
    const auto cspec = makeCConvSpec();
    if (which == kRate)
        dispatcher->callHandleSampleRateSettings(cspec.get(), index, title, tag);
    else if (which == kBits)
        dispatcher->callHandleWordLengthSettings(cspec.get(), index, title, tag);
    else
        dispatcher->callHandleChannelSettings(cspec.get(), index, title, tag);
}

void ConversionEditor::handleSampleRateSettings()
{
    if (!m_spec)
        return;
    double rate = 0;
    if (rateFieldValue(&rate))
        m_spec->setSampleRate(rate);
    callDispatcher(kRate, m_format->rateMenu);
}

void ConversionEditor::handleNumOfBitsSettings()
{
    callDispatcher(kBits, m_format->bitsMenu);
}

void ConversionEditor::handleChannelHandlingSettings()
{
    callDispatcher(kChannels, m_format->channelMenu);
}

void ConversionEditor::checkConsistency()
{
    if (!m_spec || m_filling)
        return;
    // A setting in place of the word length (an MP3's variable bit rate)
    // is shown in the row instead of its menu.
    m_format->showInPlaceOfBits(m_spec->descriptionInPlaceOfWordLength());
    m_okButton->setEnabled(validateOK());
}

void ConversionEditor::setFileTypeSpecificsValid(bool valid)
{
    if (!m_spec)
        return;
    m_spec->setSpecificsValid(valid);
    checkConsistency();
}

bool ConversionEditor::validateFileTypeItem(OSType tag) const
{
    return m_fileTypeInfo.value(FileTypeForHFSTypeCode(tag)).toMap().value(QStringLiteral("canBeWritten")).toBool();
}

bool ConversionEditor::validateSampleRateItem(int tag) const
{
    const QList<double> rates = currentCapabilities().discreteRates;
    if (rates.isEmpty())
        return true;
    if (tag < 0 || tag >= kBuiltInRateCount)
        return false;
    for (double r : rates)
        if (std::fabs(kBuiltInRates[tag] - r) < kSameRate)
            return true;
    return false;
}

QLineEdit* ConversionEditor::sampleRateTextField() const
{
    return m_format->rateField;
}

QString ConversionEditor::infoText() const
{
    return m_info->text();
}

bool ConversionEditor::validateOK()
{
    if (!m_spec) {
        m_info->clear();
        return false;
    }
    // Fresh verdicts: those of an earlier type or setting are dropped and
    // the type's checks judge what the controls show now.
    for (const QString* key : {&kSampleRateValidKey, &kSampleRateInvalidMessageKey, &kWordSizeValidKey,
                               &kWordSizeValidMessageKey, &kChannelHandlingValidKey,
                               &kChannelHandlingInvalidMessageKey})
        m_spec->removeSpecificsValue(*key);
    handleSampleRateSettings();
    handleNumOfBitsSettings();
    handleChannelHandlingSettings();

    const QVariantMap entry = currentEntry();
    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    const QString& text = caps.name;
    const QVariantMap specifics = m_spec->specifics();
    auto verdict = [&](const QString& validKey, const QString& messageKey, const char* fallback, QString* out) {
        if (!specifics.contains(validKey) || specifics.value(validKey).toBool())
            return false;
        const QVariant message = specifics.value(messageKey);
        *out = message.isValid() ? message.toString() : L(fallback);
        return true;
    };
    double rate = 0;
    const bool parsed = rateFieldValue(&rate);
    QString reason;
    if (caps.optionsRequired && !m_spec->specificsValid()) {
        reason = L("You have to use the %@ button to specify the encoder settings.");
        Substitute(&reason, entry.value(QStringLiteral("optionsButtonTitle")).toString().chopped(
                                std::min<qsizetype>(3, entry.value(QStringLiteral("optionsButtonTitle")).toString().size())));
    } else if (m_format->convertRateBox->isChecked() && parsed && rate > caps.rateMax) {
        reason = L("The sample rate of %@ files may not exceed %d Hz.");
        Substitute(&reason, text);
        reason.replace(QLatin1String("%d"), QString::number(qlonglong(caps.rateMax)));
    } else if (m_format->convertRateBox->isChecked() && parsed && rate < caps.rateMin) {
        reason = L("The sample rate of %@ files may not be less than %d Hz.");
        Substitute(&reason, text);
        reason.replace(QLatin1String("%d"), QString::number(qlonglong(caps.rateMin)));
    } else if (verdict(kSampleRateValidKey, kSampleRateInvalidMessageKey, "The sample rate is invalid.", &reason)) {
    } else if (!m_format->convertRateBox->isChecked() && caps.rateRequired) {
        reason = L("%@ files have a restricted number of possible sample rates, so please check 'Convert sample "
                   "rate to' and select an available sample rate from the popup menu");
        Substitute(&reason, text);
    } else if (verdict(kWordSizeValidKey, kWordSizeValidMessageKey, "The number of bits or bitrate is invalid.",
                       &reason)) {
    } else if (!m_format->bitsBox->isChecked() && caps.wordLengthRequired) {
        reason = L("%@ files must have a value specified for the '%@', so please check to select a setting.");
        Substitute(&reason, text);
        Substitute(&reason, entry.value(QStringLiteral("numBitsCheckBoxTitle")).toString());
    } else if (verdict(kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey,
                       "The setting for channel handling is invalid.", &reason)) {
    } else if (!m_format->channelBox->isChecked() && caps.channelsRequired) {
        reason = L("%@ files have a restricted number of possible channel handling methods, so please check to "
                   "use one of the given settings in the 'Channel handling' popup menu.");
        Substitute(&reason, text);
    } else if (!m_format->convertTypeBox->isChecked() && m_fades->extensionBox->isChecked()) {
        reason = L("You can't force a file name extension when you don't explicitly convert to a given file type. "
                   "Please select a file type to convert to, or leave the file name extension checkbox unchecked.");
    } else if (m_format->convertRateBox->isChecked() && !parsed) {
        reason = L("The sample rate is invalid.");
    } else {
        // What keeps the conversion from ever running, as the batch sees it.
        reason = ConversionCheck::problems(*m_spec).value(0);
    }
    m_info->setText(reason);
    return reason.isEmpty();
}

// ======================================================= actions

void ConversionEditor::chooseFileType(OSType type)
{
    const int index = IndexOfTag(m_format->typeMenu, int(type));
    if (index < 0)
        return;
    m_format->typeMenu->setCurrentIndex(index);
    m_fields.edit(m_typeRow);
}

void ConversionEditor::applyFileTypeItem()
{
    // Checkboxes the old type's force rule switched on go off again, and
    // so does what they did: the box and the batch agree.
    if (m_sampleRateForced) {
        m_sampleRateForced = false;
        m_format->convertRateBox->setChecked(false);
        m_spec->setNeedsSampleRateConversion(false);
        sampleRateDependencies();
    }
    if (m_wordSizeForced) {
        m_wordSizeForced = false;
        m_format->bitsBox->setChecked(false);
        m_spec->setNeedsNewWordLength(false);
        numOfBitsDependencies();
    }
    if (m_channelsForced) {
        m_channelsForced = false;
        m_format->channelBox->setChecked(false);
        m_spec->setNeedsChannelTreat(false);
        m_spec->setChannelTreat(0);
        channelHandlingDependencies();
    }
    const int index = m_format->typeMenu->currentIndex();
    m_curFileType = m_format->convertTypeBox->isChecked() && index >= 0 ? OSType(ItemTag(m_format->typeMenu, index))
                                                                         : kDefaultOutputFileType;
    m_spec->setSpecificsValid(false);
    const QVariantMap entry = updateUIForFileType(m_curFileType);
    m_spec->setOutputFileType(m_curFileType);
    const QString extension = entry.value(QStringLiteral("extension")).toString();
    m_fades->extensionField->setText(extension);
    m_spec->setNameExtension(extension);

    const OutputCapabilities caps = OutputCapabilities::fromEntry(entry);
    if (caps.rateRequired) {
        m_sampleRateForced = !m_format->convertRateBox->isChecked();
        m_format->convertRateBox->setChecked(true);
        m_fields.edit(m_convertRateRow);
    }
    if (caps.wordLengthRequired) {
        m_wordSizeForced = !m_format->bitsBox->isChecked();
        m_format->bitsBox->setChecked(true);
        m_fields.edit(m_bitsRow);
    }
    if (caps.channelsRequired) {
        m_channelsForced = !m_format->channelBox->isChecked();
        m_format->channelBox->setChecked(true);
        m_fields.edit(m_channelsRow);
    }
    checkConsistency();
}

void ConversionEditor::chooseSampleRateItem(int index)
{
    if (!m_spec || index < 0)
        return;
    m_format->rateMenu->setCurrentIndex(index);
    handleSampleRatePopUpDependencies();
    checkConsistency();
}

void ConversionEditor::typeSampleRate(const QString& text)
{
    m_format->rateField->setText(text);
    if (!m_spec)
        return;
    handleSampleRateTextFieldDependencies();
    checkConsistency();
}

void ConversionEditor::doCommentDisclosure(bool open)
{
    m_commentGroup->disclose(open, m_nameField);
}

void ConversionEditor::setConversionName(const QString& name)
{
    if (!m_spec)
        return;
    const QString old = m_spec->conversionName();
    m_spec->setConversionName(name);
    m_nameField->setText(m_spec->conversionName());
    ConvSpecRef spec = m_spec;
    struct NameCommand : QUndoCommand {
        ConversionEditor* editor;
        ConvSpecRef spec;
        QString oldName, newName;
        bool first = true;
        void apply(const QString& name)
        {
            spec->setConversionName(name);
            if (editor->convSpec() == spec)
                editor->findChild<QLineEdit*>(QStringLiteral("conversionNameTextField"))->setText(name);
        }
        void undo() override { apply(oldName); }
        void redo() override
        {
            if (!first)
                apply(newName);
            first = false;
        }
    };
    auto* command = new NameCommand;
    command->setText(L("Automatic Conversion Name"));
    command->editor = this;
    command->spec = spec;
    command->oldName = old;
    command->newName = m_spec->conversionName();
    m_undo->push(command);
}

void ConversionEditor::doAutomaticName()
{
    if (m_spec)
        setConversionName(m_spec->descriptionForAutoName());
}

// ======================================================= dependency steps

void ConversionEditor::convertFileTypeDependencies()
{
    m_format->showConvertType();
    checkConsistency();
}

void ConversionEditor::sampleRateDependencies()
{
    updateSampleRateTextField();
    m_format->showConvertRate();
}

void ConversionEditor::numOfBitsDependencies()
{
    m_format->bitsMenu->setEnabled(m_format->bitsBox->isChecked());
    handleNumOfBitsSettings();
}

void ConversionEditor::channelHandlingDependencies()
{
    m_format->channelMenu->setEnabled(m_format->channelBox->isChecked());
    handleChannelHandlingSettings();
}

void ConversionEditor::extractionDependencies()
{
    m_regions->showExtraction(m_format->rateField, m_fades->fadeIn.field);
}

void ConversionEditor::fadeDependencies()
{
    m_fades->showFades();
}

void ConversionEditor::nameExtensionDependencies()
{
    m_fades->showNameExtension();
    checkConsistency();
}

void ConversionEditor::gateDependencies()
{
    m_gain->showGate();
}

void ConversionEditor::boostDependencies()
{
    m_gain->showBoost(m_nameField);
}

// ======================================================= option sheets

OptionSheet* ConversionEditor::doOptionsButton()
{
    if (!m_spec)
        return nullptr;
    const SheetKind kind = currentSheetKind();
    if (kind == SheetKind::None)
        return nullptr;
    if (kind == SheetKind::ConfirmAtOnce) {
        setFileTypeSpecificsValid(true);
        return nullptr;
    }
    OptionSheet*& sheet = m_sheets[int(kind)];
    if (!sheet)
        sheet = makeSheet(kind);
    m_openSheet = sheet;
    sheet->begin(m_spec);
    return sheet;
}

ConversionEditor::SheetKind ConversionEditor::currentSheetKind() const
{
    return currentCapabilities().optionSheet;
}

OptionSheet* ConversionEditor::makeSheet(SheetKind kind)
{
    OptionSheet* sheet = nullptr;
    switch (kind) {
    case SheetKind::MPEG: sheet = new MPEGOptionsSheet(this); break;
    case SheetKind::BroadcastWave: sheet = new BWFAnnotationSheet(this); break;
    case SheetKind::MP3: sheet = new LAMEOptionsSheet(this); break;
    case SheetKind::G729: sheet = new G729OptionsSheet(this); break;
    case SheetKind::CreativeVoice: {
        auto* voc = new VOCSampleRateSheet(this);
        connect(voc, &VOCSampleRateSheet::sampleRateChosen, this, &ConversionEditor::useSampleRate);
        sheet = voc;
        break;
    }
    case SheetKind::None:
    case SheetKind::ConfirmAtOnce: return nullptr;
    }
    connect(sheet, &OptionSheet::specificsConfirmed, this, [this] { setFileTypeSpecificsValid(true); });
    return sheet;
}

void ConversionEditor::useSampleRate(double rate)
{
    if (!m_spec)
        return;
    m_spec->setSampleRate(rate);
    m_format->rateField->setText(formatRate(rate));
    handleSampleRateTextFieldDependencies();
    handleSampleRateSettings();
    checkConsistency();
}

// ======================================================= ending

bool ConversionEditor::refuseName()
{
    const QString typed = m_nameField->text();
    if (typed.isEmpty() || typed == QLatin1String(".") || typed == QLatin1String("..")) {
        Alert alert;
        alert.title = L("Invalid Conversion Name");
        alert.message = L("A conversion name may not be empty, \".\" or \"..\".\nPlease specify another one.");
        alert.defaultButton = L("OK");
        AppPresenter::showAlert(alert, this);
        return true;
    }
    if (m_names.contains(m_spec->conversionName())) {
        Alert alert;
        alert.title = L("Conversion Name Already Exists");
        alert.message = L("Conversion name '%@' already exists.\nConversion names must be unique, please specify "
                          "another one.");
        Substitute(&alert.message, m_spec->conversionName());
        alert.defaultButton = L("OK");
        AppPresenter::showAlert(alert, this);
        return true;
    }
    return false;
}

void ConversionEditor::ok()
{
    if (!m_spec)
        return;
    // An edit in progress ends first (its field writes the conversion).
    if (QWidget* focus = focusWidget())
        if (auto* field = qobject_cast<QLineEdit*>(focus))
            emit field->editingFinished();
    if (!validateOK()) {
        m_okButton->setEnabled(false);
        return;
    }
    if (refuseName())
        return;
    m_spec->validateSettings();
    // A new rate in use joins the custom rates now.
    double rate = 0;
    if (m_newRate && m_spec->needsSampleRateConversion() && rateFieldValue(&rate) &&
        std::fabs(rate - *m_newRate) < kSameRate) {
        m_customRates.append(*m_newRate);
        m_newRate.reset();
        storeCustomRates();
    }
    closeDialog();
    done(QDialog::Accepted);
}

void ConversionEditor::cancel()
{
    closeDialog();
    done(QDialog::Rejected);
}

void ConversionEditor::reject()
{
    cancel();
}

void ConversionEditor::closeDialog()
{
    m_defaults.setString(kFrameKey, QStringLiteral("{%1, %2}").arg(pos().x()).arg(pos().y()));
    if (m_openSheet && m_openSheet->isVisible())
        m_openSheet->reject();
}
