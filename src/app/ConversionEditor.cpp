#include "ConversionEditor.h"

#include "AppPresenter.h"
#include "BWFAnnotationSheet.h"
#include "CConvSpec.h"
#include "CreateSoundFile.h"
#include "FileTypeDictionary.h"
#include "G729OptionsSheet.h"
#include "LAMEOptionsSheet.h"
#include "Localized.h"
#include "MPEGOptionsSheet.h"
#include "MainBundle.h"
#include "PropertyList.h"
#include "UserDefaults.h"
#include "VOCSampleRateSheet.h"
#include "per_type_setting_checks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QToolButton>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

const double ConversionEditor::kBuiltInRates[kBuiltInRateCount] = {
    192000, 176400, 96000, 88200, 48000, 47952, 44100, 44055.9, 37800, 32000, 24000,
    22554.545454545456, 22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5};

namespace {

const QString kCustomRatesKey = QStringLiteral("Custom Sample Rates");
const QString kFrameKey = QStringLiteral("Define Conversion Dialog Frame");
const QString kEditorUpdatedRates = QStringLiteral("QMCustomSampleRatesUpdated");
const QString kWindowUpdatedRates = QStringLiteral("QMUpdatedCustomSampleRates");
constexpr int kTagRole = Qt::UserRole;
constexpr int kNoItem = -1;

enum Which { kRate, kBits, kChannels };

bool Flag(const QVariantMap& entry, const char* key)
{
    return entry.value(QLatin1String(key)).toBool();
}

double Number(const QVariantMap& entry, const char* key)
{
    return entry.value(QLatin1String(key)).toDouble();
}

QList<double> DiscreteRates(const QVariantMap& entry, bool* present)
{
    const QVariant value = entry.value(QStringLiteral("discreteSampleRates"));
    *present = value.typeId() == QMetaType::QVariantList;
    QList<double> rates;
    for (const QVariant& v : value.toList())
        rates.append(v.toDouble());
    return rates;
}

int ItemTag(const QComboBox* menu, int index)
{
    const QVariant tag = menu->itemData(index, kTagRole);
    return tag.isValid() ? tag.toInt() : 0;
}

int IndexOfTag(const QComboBox* menu, int tag)
{
    for (int i = 0; i < menu->count(); ++i) {
        const QVariant t = menu->itemData(i, kTagRole);
        if (t.isValid() && t.toInt() == tag)
            return i;
    }
    return kNoItem;
}

void SetItemEnabled(QComboBox* menu, int index, bool enabled)
{
    if (auto* model = qobject_cast<QStandardItemModel*>(menu->model()))
        if (QStandardItem* item = model->item(index))
            if (!item->text().isEmpty())
                item->setEnabled(enabled);
}

void Substitute(QString* text, const QString& value)
{
    const int at = text->indexOf(QLatin1String("%@"));
    if (at >= 0)
        text->replace(at, 2, value);
}

bool ParseNumber(const QString& text, double* value)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

} // namespace

ConversionEditor::SheetKind ConversionEditor::SheetKindOf(OSType type)
{
    switch (type) {
    case 'MPG1':
    case 'MPG2': return SheetKind::MPEG;
    case 'BWMP':
    case 'BWLN': return SheetKind::BroadcastWave;
    case 'DMP3': return SheetKind::MP3;
    case 'G729': return SheetKind::G729;
    case 'VOC ': return SheetKind::CreativeVoice;
    case 'QTQ2':
    case 'QTQP':
    case 'Mp3 ': return SheetKind::ConfirmAtOnce;
    default: return SheetKind::None;
    }
}

ConversionEditor::ConversionEditor(UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_defaults(defaults), m_curFileType('AIFF'), m_undo(new QUndoStack(this))
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

QWidget* ConversionEditor::buildPair(Pair& pair, const QString& name, const QString& label, const QString& unit,
                                     double minimum, double maximum, double scale)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    pair.label = new QLabel(label, row);
    pair.label->setObjectName(name + QStringLiteral("Label"));
    pair.slider = new QSlider(Qt::Horizontal, row);
    pair.slider->setObjectName(name + QStringLiteral("Slider"));
    pair.slider->setRange(int(std::lround(minimum * scale)), int(std::lround(maximum * scale)));
    pair.field = new QLineEdit(row);
    pair.field->setObjectName(name + QStringLiteral("TextField"));
    pair.field->setMaximumWidth(80);
    pair.unit = new QLabel(unit, row);
    pair.scale = scale;
    layout->addWidget(pair.label);
    layout->addWidget(pair.slider, 1);
    layout->addWidget(pair.field);
    layout->addWidget(pair.unit);
    return row;
}

void ConversionEditor::wirePair(Pair& pair, const std::function<void()>& write)
{
    // Moving the slider shows its value in the field and writes it; ending
    // an edit of the field writes it and moves the slider.
    Pair* p = &pair;
    connect(pair.slider, &QSlider::sliderMoved, this, [this, p, write](int position) {
        p->field->setText(QString::number(position / p->scale, 'g', 10));
        p->field->setFocus();
        if (m_spec && !m_filling)
            write();
    });
    connect(pair.field, &QLineEdit::editingFinished, this, [this, p, write] {
        double value = 0;
        if (!ParseNumber(p->field->text(), &value))
            return;
        const QSignalBlocker block(p->slider);
        p->slider->setValue(int(std::lround(value * p->scale)));
        if (m_spec && !m_filling)
            write();
    });
}

void ConversionEditor::setPair(Pair& pair, double value)
{
    pair.field->setText(QString::number(value, 'g', 10));
    const QSignalBlocker block(pair.slider);
    pair.slider->setValue(int(std::lround(value * pair.scale)));
}

void ConversionEditor::enablePair(Pair& pair, bool on)
{
    pair.slider->setEnabled(on);
    pair.field->setEnabled(on);
    colourLabel(pair.label, on);
    colourLabel(pair.unit, on);
}

void ConversionEditor::colourLabel(QLabel* label, bool on)
{
    // Black when the control it names is enabled, grey when not.
    label->setEnabled(on);
}

void ConversionEditor::buildWindow()
{
    auto* layout = new QVBoxLayout(this);

    // Name.
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(L("Conversion name:"), this));
    m_nameField = new QLineEdit(this);
    m_nameField->setObjectName(QStringLiteral("conversionNameTextField"));
    nameRow->addWidget(m_nameField, 1);
    m_autoNameButton = new QPushButton(L("Automatic Name"), this);
    m_autoNameButton->setObjectName(QStringLiteral("automaticNameButton"));
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
    connect(m_nameField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_spec && !m_filling)
            m_spec->setConversionName(text);
    });
    connect(m_autoNameButton, &QPushButton::clicked, this, &ConversionEditor::doAutomaticName);

    // Output type, rate, word length, channels.
    auto* format = new QGroupBox(L("Format"), this);
    auto* grid = new QGridLayout(format);
    m_convertTypeBox = new QCheckBox(L("Convert file type"), format);
    m_convertTypeBox->setObjectName(QStringLiteral("convertFileTypeCheckBox"));
    m_typeToLabel = new QLabel(L("to"), format);
    m_typeMenu = new QComboBox(format);
    m_typeMenu->setObjectName(QStringLiteral("fileTypePopUp"));
    m_typeMenu->setMaxVisibleItems(30);
    m_optionsTabs = new QStackedWidget(format);
    m_optionsButton = new QPushButton(L("Options..."));
    m_optionsButton->setObjectName(QStringLiteral("optionsButton"));
    m_optionsTabs->addWidget(m_optionsButton);
    m_optionsTabs->addWidget(new QWidget);
    grid->addWidget(m_convertTypeBox, 0, 0);
    grid->addWidget(m_typeToLabel, 0, 1);
    grid->addWidget(m_typeMenu, 0, 2, 1, 2);
    grid->addWidget(m_optionsTabs, 0, 4);

    m_convertRateBox = new QCheckBox(L("Convert sample rate"), format);
    m_convertRateBox->setObjectName(QStringLiteral("convertSampleRateCheckBox"));
    m_rateToLabel = new QLabel(L("to"), format);
    m_rateField = new QLineEdit(format);
    m_rateField->setObjectName(QStringLiteral("sampleRateTextField"));
    m_rateField->setMaximumWidth(110);
    m_rateMenu = new QComboBox(format);
    m_rateMenu->setObjectName(QStringLiteral("sampleRatePopUp"));
    m_rateMenu->setMaxVisibleItems(30);
    m_qualityLabel = new QLabel(L("Hz, using quality"), format);
    m_qualityMenu = new QComboBox(format);
    m_qualityMenu->setObjectName(QStringLiteral("polyphasePopUp"));
    const char* qualities[] = {"Linear (fastest)", "Automatic", "Low (12 taps)", "Medium (32 taps)",
                               "High (64 taps)"};
    for (int i = 0; i < 5; ++i)
        m_qualityMenu->addItem(L(qualities[i]), i);
    grid->addWidget(m_convertRateBox, 1, 0);
    grid->addWidget(m_rateToLabel, 1, 1);
    grid->addWidget(m_rateField, 1, 2);
    grid->addWidget(m_rateMenu, 1, 3);
    grid->addWidget(m_qualityLabel, 2, 2, Qt::AlignRight);
    grid->addWidget(m_qualityMenu, 2, 3);

    m_bitsBox = new QCheckBox(L("Number of bits"), format);
    m_bitsBox->setObjectName(QStringLiteral("numOfBitsCheckBox"));
    m_bitsMenu = new QComboBox(format);
    m_bitsMenu->setObjectName(QStringLiteral("numBitsPopUp"));
    m_ditherBox = new QCheckBox(L("Redither"), format);
    m_ditherBox->setObjectName(QStringLiteral("ditherCheckBox"));
    grid->addWidget(m_bitsBox, 3, 0);
    grid->addWidget(m_bitsMenu, 3, 2, 1, 2);
    grid->addWidget(m_ditherBox, 3, 4);
    m_channelBox = new QCheckBox(L("Channel handling"), format);
    m_channelBox->setObjectName(QStringLiteral("channelHandlingCheckBox"));
    m_channelMenu = new QComboBox(format);
    m_channelMenu->setObjectName(QStringLiteral("channelHandlingPopUp"));
    grid->addWidget(m_channelBox, 4, 0);
    grid->addWidget(m_channelMenu, 4, 2, 1, 2);
    left->addWidget(format);

    connect(m_convertTypeBox, &QCheckBox::clicked, this, &ConversionEditor::doConvertFileTypeCheckbox);
    connect(m_typeMenu, &QComboBox::activated, this, &ConversionEditor::doFileTypePopUp);
    connect(m_optionsButton, &QPushButton::clicked, this, [this] { doOptionsButton(); });
    connect(m_convertRateBox, &QCheckBox::clicked, this, &ConversionEditor::doConvertSampleRateCheckbox);
    connect(m_rateMenu, &QComboBox::activated, this, &ConversionEditor::chooseSampleRateItem);
    connect(m_rateField, &QLineEdit::editingFinished, this, [this] {
        if (m_spec && !m_filling) {
            handleSampleRateTextFieldDependencies();
            checkConsistency();
        }
    });
    connect(m_qualityMenu, &QComboBox::activated, this, [this](int index) {
        if (m_spec)
            m_spec->setSampleRateConvertQuality(ItemTag(m_qualityMenu, index));
    });
    connect(m_bitsBox, &QCheckBox::clicked, this, &ConversionEditor::doNumOfBitsCheckbox);
    connect(m_bitsMenu, &QComboBox::activated, this, &ConversionEditor::doNumOfBitsPopUp);
    connect(m_ditherBox, &QCheckBox::clicked, this, [this](bool on) {
        if (m_spec)
            m_spec->setNeedsRedither(on);
    });
    connect(m_channelBox, &QCheckBox::clicked, this, &ConversionEditor::doChannelHandlingCheckbox);
    connect(m_channelMenu, &QComboBox::activated, this, &ConversionEditor::doChannelHandlingPopUp);

    // Regions: extraction, strip, snip.
    auto* regions = new QGroupBox(L("Regions"), this);
    auto* regionLayout = new QVBoxLayout(regions);
    auto* extractionRow = new QHBoxLayout;
    m_extractionBox = new QCheckBox(regions);
    m_extractionBox->setObjectName(QStringLiteral("extractionStripOrSnipCheckBox"));
    m_extractionMenu = new QComboBox(regions);
    m_extractionMenu->setObjectName(QStringLiteral("extractionPopUp"));
    m_extractionMenu->addItems({L("Extract regions"), L("Strip silence"), L("Snip")});
    extractionRow->addWidget(m_extractionBox);
    extractionRow->addWidget(m_extractionMenu);
    extractionRow->addStretch();
    regionLayout->addLayout(extractionRow);
    m_extractionTabs = new QStackedWidget(regions);
    m_extractionTabs->addWidget(new QLabel(L("Every region becomes a file of its own."), regions));
    m_extractionTabs->addWidget(buildPair(m_margin, QStringLiteral("safetyMargin"), L("Safety margin"), L("ms"), 0,
                                          1000, 1));
    auto* snip = new QWidget(regions);
    auto* snipLayout = new QVBoxLayout(snip);
    snipLayout->setContentsMargins(0, 0, 0, 0);
    snipLayout->addWidget(buildPair(m_startAt, QStringLiteral("startAt"), L("Start at"), L("s"), 0, 3600, 10));
    snipLayout->addWidget(buildPair(m_length, QStringLiteral("length"), L("Length"), L("s"), 0, 3600, 10));
    m_extractionTabs->addWidget(snip);
    regionLayout->addWidget(m_extractionTabs);
    right->addWidget(regions);
    wirePair(m_margin, [this] {
        double v = 0;
        if (ParseNumber(m_margin.field->text(), &v))
            m_spec->setStripMargin(float(v));
    });
    wirePair(m_startAt, [this] { doSnipFields(); });
    wirePair(m_length, [this] {
        double length = 0;
        if (ParseNumber(m_length.field->text(), &length))
            m_spec->setSnipTo(m_spec->snipFrom() + float(length));
    });
    connect(m_extractionBox, &QCheckBox::clicked, this, &ConversionEditor::doExtractionCheckbox);
    connect(m_extractionMenu, &QComboBox::activated, this, &ConversionEditor::doExtractionPopUp);

    // Fades, extras, name extension.
    auto* other = new QGroupBox(L("Fades and output names"), this);
    auto* otherLayout = new QVBoxLayout(other);
    m_fadeBox = new QCheckBox(L("Fade in and out"), other);
    m_fadeBox->setObjectName(QStringLiteral("fadeCheckBox"));
    otherLayout->addWidget(m_fadeBox);
    otherLayout->addWidget(buildPair(m_fadeIn, QStringLiteral("fadeIn"), L("Fade in"), L("ms"), 0, 10000, 1));
    otherLayout->addWidget(buildPair(m_fadeOut, QStringLiteral("fadeOut"), L("Fade out"), L("ms"), 0, 10000, 1));
    wirePair(m_fadeIn, [this] {
        double v = 0;
        if (ParseNumber(m_fadeIn.field->text(), &v))
            m_spec->setFadeInTime(float(v));
    });
    wirePair(m_fadeOut, [this] {
        double v = 0;
        if (ParseNumber(m_fadeOut.field->text(), &v))
            m_spec->setFadeOutTime(float(v));
    });
    m_copyBox = new QCheckBox(L("Copy regions, markers and loops"), other);
    m_copyBox->setObjectName(QStringLiteral("copyCheckBox"));
    otherLayout->addWidget(m_copyBox);
    auto* extensionRow = new QHBoxLayout;
    m_extensionBox = new QCheckBox(L("File name extension"), other);
    m_extensionBox->setObjectName(QStringLiteral("filenameExtensionCheckBox"));
    m_extensionField = new QLineEdit(other);
    m_extensionField->setObjectName(QStringLiteral("filenameExtensionTextField"));
    extensionRow->addWidget(m_extensionBox);
    extensionRow->addWidget(m_extensionField, 1);
    otherLayout->addLayout(extensionRow);
    left->addWidget(other);
    left->addStretch();
    connect(m_fadeBox, &QCheckBox::clicked, this, &ConversionEditor::doFadeCheckbox);
    connect(m_copyBox, &QCheckBox::clicked, this, [this](bool on) {
        if (m_spec)
            m_spec->setCopyExtras(on);
    });
    connect(m_extensionBox, &QCheckBox::clicked, this, &ConversionEditor::doFilenameExtCheckbox);
    connect(m_extensionField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_spec && !m_filling)
            m_spec->setNameExtension(text);
    });

    // Gain: gate, compressor or normalise.
    auto* gain = new QGroupBox(L("Gain"), this);
    auto* gainLayout = new QVBoxLayout(gain);
    m_gateBox = new QCheckBox(L("Gate"), gain);
    m_gateBox->setObjectName(QStringLiteral("gateCheckBox"));
    gainLayout->addWidget(m_gateBox);
    gainLayout->addWidget(buildPair(m_lowerThan, QStringLiteral("lowerThan"), L("lower than"), L("dB"), -96, 0, 1));
    gainLayout->addWidget(buildPair(m_longerThan, QStringLiteral("longerThan"), L("longer than"), L("ms"), 0, 5000,
                                    1));
    gainLayout->addWidget(buildPair(m_attenuate, QStringLiteral("attenuate"), L("attenuate by"), L("dB"), -96, 0,
                                    1));
    wirePair(m_lowerThan, [this] {
        double v = 0;
        if (ParseNumber(m_lowerThan.field->text(), &v))
            m_spec->setGateThreshold(v);
    });
    wirePair(m_longerThan, [this] {
        double v = 0;
        if (ParseNumber(m_longerThan.field->text(), &v))
            m_spec->setGateGapLength(v / 1000.0);
    });
    wirePair(m_attenuate, [this] {
        double v = 0;
        if (ParseNumber(m_attenuate.field->text(), &v))
            m_spec->setGateAttenuation(v);
    });
    auto* boostRow = new QHBoxLayout;
    m_boostBox = new QCheckBox(L("Boost"), gain);
    m_boostBox->setObjectName(QStringLiteral("boostCheckBox"));
    m_boostLabel = new QLabel(L("with"), gain);
    m_boostMenu = new QComboBox(gain);
    m_boostMenu->setObjectName(QStringLiteral("boostPopUp"));
    m_boostMenu->addItems({L("Compressor"), L("Normalise")});
    m_firstNormalizeBox = new QCheckBox(L("Normalise first"), gain);
    m_firstNormalizeBox->setObjectName(QStringLiteral("firstNormalizeCheckBox"));
    boostRow->addWidget(m_boostBox);
    boostRow->addWidget(m_boostLabel);
    boostRow->addWidget(m_boostMenu);
    boostRow->addWidget(m_firstNormalizeBox);
    boostRow->addStretch();
    gainLayout->addLayout(boostRow);
    m_boostTabs = new QStackedWidget(gain);
    auto* compressor = new QWidget(gain);
    auto* compressorLayout = new QVBoxLayout(compressor);
    compressorLayout->setContentsMargins(0, 0, 0, 0);
    compressorLayout->addWidget(buildPair(m_amplify, QStringLiteral("amplify"), L("amplify"), L("dB"), 0, 40, 10));
    compressorLayout->addWidget(buildPair(m_limit, QStringLiteral("limit"), L("limit at"), L("dB"), -40, 0, 10));
    m_boostTabs->addWidget(compressor);
    m_boostTabs->addWidget(buildPair(m_ceiling, QStringLiteral("ceiling"), L("ceiling"), L("dB"), -40, 0, 10));
    gainLayout->addWidget(m_boostTabs);
    right->addWidget(gain);
    right->addStretch();
    wirePair(m_amplify, [this] {
        double v = 0;
        if (ParseNumber(m_amplify.field->text(), &v))
            m_spec->setCompressionBoost(v);
    });
    for (Pair* pair : {&m_limit, &m_ceiling}) {
        wirePair(*pair, [this, pair] {
            double v = 0;
            if (ParseNumber(pair->field->text(), &v)) {
                m_spec->setCeiling(v);
                Pair* twin = pair == &m_limit ? &m_ceiling : &m_limit;
                setPair(*twin, v);
            }
        });
    }
    connect(m_gateBox, &QCheckBox::clicked, this, &ConversionEditor::doGateCheckbox);
    connect(m_boostBox, &QCheckBox::clicked, this, &ConversionEditor::doBoostCheckbox);
    connect(m_boostMenu, &QComboBox::activated, this, [this] {
        boostDependencies();
        if (m_spec)
            boostRules();
    });
    connect(m_firstNormalizeBox, &QCheckBox::clicked, this, [this] {
        boostDependencies();
        if (m_spec)
            boostRules();
    });

    // Comment.
    auto* commentRow = new QHBoxLayout;
    m_commentTriangle = new QToolButton(this);
    m_commentTriangle->setObjectName(QStringLiteral("commentDisclosureTriangle"));
    m_commentTriangle->setCheckable(true);
    m_commentTriangle->setChecked(true);
    m_commentTriangle->setArrowType(Qt::DownArrow);
    m_commentTriangle->setAutoRaise(true);
    commentRow->addWidget(m_commentTriangle);
    commentRow->addWidget(new QLabel(L("Comment"), this));
    commentRow->addStretch();
    layout->addLayout(commentRow);
    m_comment = new QPlainTextEdit(this);
    m_comment->setObjectName(QStringLiteral("commentTextView"));
    m_comment->setFixedHeight(60);
    QFont font = m_comment->font();
    font.setPointSize(11);
    m_comment->setFont(font);
    layout->addWidget(m_comment);
    connect(m_commentTriangle, &QToolButton::toggled, this, &ConversionEditor::doCommentDisclosure);
    connect(m_comment, &QPlainTextEdit::textChanged, this, &ConversionEditor::commentChanged);

    // Verdict and buttons.
    m_info = new QLabel(this);
    m_info->setObjectName(QStringLiteral("infoTextField"));
    m_info->setWordWrap(true);
    m_info->setMinimumHeight(36);
    layout->addWidget(m_info);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancelButton = new QPushButton(L("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_okButton = new QPushButton(L("OK"), this);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(m_okButton);
    layout->addLayout(buttons);
    connect(cancelButton, &QPushButton::clicked, this, &ConversionEditor::cancel);
    connect(m_okButton, &QPushButton::clicked, this, &ConversionEditor::ok);

    buildFileTypeMenu();
    setupSampleRatePopUp();
}

// ======================================================= menus

void ConversionEditor::buildFileTypeMenu()
{
    m_typeMenu->clear();
    const QString path = MainBundle::pathForResource(QStringLiteral("menus"), QStringLiteral("plist"));
    QFile file(path);
    QVariantList titles;
    if (file.open(QIODevice::ReadOnly))
        titles = PropertyList::fromData(file.readAll()).toMap().value(QStringLiteral("popup")).toList();
    for (const QVariant& item : titles) {
        const QString title = item.toString();
        if (title == QLatin1String("-")) {
            m_typeMenu->insertSeparator(m_typeMenu->count());
            continue;
        }
        int tag = 0;
        for (auto it = m_fileTypeInfo.cbegin(); it != m_fileTypeInfo.cend(); ++it)
            if (it.value().toMap().value(QStringLiteral("text")).toString() == title) {
                tag = int(HFSTypeCodeFromFileType(it.key()));
                break;
            }
        m_typeMenu->addItem(title, tag);
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
    const QSignalBlocker block(m_rateMenu);
    m_rateMenu->clear();
    for (int i = 0; i < kBuiltInRateCount; ++i) {
        const double rate = kBuiltInRates[i];
        const QString title = rate == std::floor(rate) ? QString::number(qlonglong(rate))
                                                        : QString::number(rate, 'f', rate > 22000 && rate < 23000 ? 3 : 1);
        m_rateMenu->addItem(title, i);
    }
    // The custom rates, with the rate shown when it is new (stored only
    // by OK), highest first.
    QList<double> custom = m_customRates;
    if (m_newRate)
        custom.append(*m_newRate);
    std::sort(custom.begin(), custom.end(), std::greater<double>());
    if (!custom.isEmpty()) {
        m_rateMenu->insertSeparator(m_rateMenu->count());
        for (double rate : custom)
            m_rateMenu->addItem(formatRate(rate), -1);
    }
    m_rateMenu->setCurrentIndex(0);
    refreshSampleRateItemStates();
}

void ConversionEditor::refreshFileTypeItemStates()
{
    for (int i = 0; i < m_typeMenu->count(); ++i)
        if (m_typeMenu->itemData(i, kTagRole).isValid())
            SetItemEnabled(m_typeMenu, i, validateFileTypeItem(OSType(ItemTag(m_typeMenu, i))));
}

void ConversionEditor::refreshSampleRateItemStates()
{
    for (int i = 0; i < m_rateMenu->count(); ++i)
        if (m_rateMenu->itemData(i, kTagRole).isValid())
            SetItemEnabled(m_rateMenu, i, validateSampleRateItem(ItemTag(m_rateMenu, i)));
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
    if (!m_placed) {
        m_placed = true;
        static const QRegularExpression point(QStringLiteral("^\\{\\s*(-?\\d+)\\s*,\\s*(-?\\d+)\\s*\\}$"));
        const QRegularExpressionMatch m = point.match(m_defaults.stringForKey(kFrameKey));
        if (m.hasMatch())
            move(m.captured(1).toInt(), m.captured(2).toInt());
    }
    QDialog::showEvent(event);
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
    m_nameField->setText(s.conversionName());
    // The sample-rate field first, so the type's rate rules see the
    // conversion's rate.
    m_rateField->setText(formatRate(s.sampleRate()));
    m_convertRateBox->setChecked(s.needsSampleRateConversion());
    updateUIForFileType(m_curFileType);

    m_convertTypeBox->setChecked(s.needsStrictFileType());
    convertFileTypeDependencies();
    m_convertRateBox->setChecked(s.needsSampleRateConversion());
    sampleRateDependencies();
    m_bitsBox->setChecked(s.needsNewWordLength());
    numOfBitsDependencies();
    m_channelBox->setChecked(s.needsChannelTreat());
    channelHandlingDependencies();

    const int typeIndex = IndexOfTag(m_typeMenu, int(m_curFileType));
    m_typeMenu->setCurrentIndex(typeIndex);
    m_rateField->setText(formatRate(s.sampleRate()));
    handleSampleRateTextFieldDependencies();
    m_qualityMenu->setCurrentIndex(std::max(0, IndexOfTag(m_qualityMenu, s.sampleRateConvertQuality())));

    m_extractionMenu->setCurrentIndex(s.needsSnip() ? 2 : s.needsStrip() ? 1 : 0);
    m_extractionBox->setChecked(s.needsExtraction() || s.needsStrip() || s.needsSnip());
    doExtractionPopUp();
    setPair(m_startAt, s.snipFrom());
    setPair(m_length, double(s.snipTo() - s.snipFrom()));
    setPair(m_margin, s.stripMargin());
    m_fadeBox->setChecked(s.needsFades());
    fadeDependencies();
    m_extensionBox->setChecked(s.needsNameExtension());
    nameExtensionDependencies();
    setPair(m_fadeIn, s.fadeInTime());
    setPair(m_fadeOut, s.fadeOutTime());
    m_copyBox->setChecked(s.copyExtras());
    m_ditherBox->setChecked(s.needsRedither());
    m_extensionField->setText(s.nameExtension());
    m_gateBox->setChecked(s.needsGate());
    gateDependencies();
    setPair(m_longerThan, s.gateGapLength() * 1000.0);
    setPair(m_lowerThan, s.gateThreshold());
    setPair(m_attenuate, s.gateAttenuation());
    m_boostMenu->setCurrentIndex(s.needsCompressor() ? 0 : s.needsNormalize() ? 1 : 0);
    m_boostBox->setChecked(s.needsCompressor() || s.needsNormalize());
    m_firstNormalizeBox->setChecked(s.needsCompressor() && s.needsNormalize());
    boostDependencies();
    setPair(m_amplify, s.compressionBoost());
    setPair(m_limit, s.ceiling());
    setPair(m_ceiling, s.ceiling());
    m_comment->setPlainText(s.comment());
    m_commentTriangle->setChecked(!s.comment().isEmpty());
    doCommentDisclosure(!s.comment().isEmpty());
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

    m_bitsBox->setText(entry.value(QStringLiteral("numBitsCheckBoxTitle"), L("Number of bits")).toString());
    fillMenu(m_bitsMenu, entry.value(QStringLiteral("numBitsPopup")).toList());
    int index = kNoItem;
    if (m_spec) {
        if (dispatcher && dispatcher->hasWordLengthIndexFunc()) {
            const auto cspec = makeCConvSpec();
            index = dispatcher->callWordLengthIndexFunc(cspec.get());
        } else {
            index = IndexOfTag(m_bitsMenu, m_spec->wordLength());
        }
    }
    if (index < 0 || index >= m_bitsMenu->count())
        index = entry.value(QStringLiteral("numBitsPopupDefault")).toInt();
    m_bitsMenu->setCurrentIndex(index >= 0 && index < m_bitsMenu->count() ? index : 0);
    // A stored value the new menu has no item for becomes the item shown,
    // as if chosen: the conversion holds what the menu says.
    if (m_spec && m_bitsMenu->itemData(m_bitsMenu->currentIndex(), kTagRole).isValid() &&
        ItemTag(m_bitsMenu, m_bitsMenu->currentIndex()) != m_spec->wordLength())
        m_spec->setWordLength(ItemTag(m_bitsMenu, m_bitsMenu->currentIndex()));

    fillMenu(m_channelMenu, entry.value(QStringLiteral("channelHandlingPopup")).toList());
    index = kNoItem;
    if (m_spec) {
        if (dispatcher && dispatcher->hasChannelIndexFunc()) {
            const auto cspec = makeCConvSpec();
            index = dispatcher->callChannelIndexFunc(cspec.get());
        } else {
            index = IndexOfTag(m_channelMenu, m_spec->channelTreat());
        }
    }
    if (index < 0 || index >= m_channelMenu->count())
        index = entry.value(QStringLiteral("channelHandlingPopupDefault")).toInt();
    m_channelMenu->setCurrentIndex(index >= 0 && index < m_channelMenu->count() ? index : 0);
    // The same for a channel treatment in use (off, it stays 0).
    if (m_spec && m_spec->needsChannelTreat() &&
        m_channelMenu->itemData(m_channelMenu->currentIndex(), kTagRole).isValid() &&
        ItemTag(m_channelMenu, m_channelMenu->currentIndex()) != m_spec->channelTreat())
        m_spec->setChannelTreat(ItemTag(m_channelMenu, m_channelMenu->currentIndex()));

    m_optionsButton->setText(entry.value(QStringLiteral("optionsButtonTitle"), L("Options...")).toString());
    m_optionsTabs->setCurrentIndex(Flag(entry, "optionsButtonEnabled") ? 0 : 1);
    if (m_spec && !m_spec->specificsValid())
        m_spec->setSpecificsValid(!Flag(entry, "specificsMustBeValid"));
    m_filling = filling;
    return entry;
}

void ConversionEditor::selectClosestValidSampleRate(const QVariantMap& entry)
{
    double field = 0;
    const bool parsed = rateFieldValue(&field);
    bool discrete = false;
    const QList<double> rates = DiscreteRates(entry, &discrete);
    bool match = true;
    if (discrete && !rates.isEmpty()) {
        match = false;
        const double rate = m_spec ? m_spec->sampleRate() : field;
        for (double r : rates)
            if (std::fabs(r - rate) < kSameRate)
                match = true;
    }
    if (!parsed || field > Number(entry, "sampleRateMax") || field < Number(entry, "sampleRateMin") || !match)
        m_rateField->setText(formatRate(Number(entry, "sampleRateDefault")));
}

void ConversionEditor::updateSampleRateTextField()
{
    bool discrete = false;
    DiscreteRates(currentEntry(), &discrete);
    m_rateField->setEnabled(!discrete && m_convertRateBox->isChecked());
}

bool ConversionEditor::rateFieldValue(double* rate) const
{
    return ParseNumber(m_rateField->text(), rate);
}

void ConversionEditor::handleSampleRatePopUpDependencies()
{
    const int index = m_rateMenu->currentIndex();
    const int tag = ItemTag(m_rateMenu, index);
    if (tag >= 0 && tag < kBuiltInRateCount) {
        m_rateField->setText(formatRate(kBuiltInRates[tag]));
        return;
    }
    double rate = 0;
    if (ParseNumber(m_rateMenu->itemText(index), &rate))
        m_rateField->setText(formatRate(rate));
}

bool ConversionEditor::selectRateItemForField()
{
    double rate = 0;
    if (!rateFieldValue(&rate))
        return false;
    const QSignalBlocker block(m_rateMenu);
    for (int i = 0; i < kBuiltInRateCount; ++i)
        if (std::fabs(kBuiltInRates[i] - rate) < kSameRate) {
            m_rateMenu->setCurrentIndex(IndexOfTag(m_rateMenu, i));
            return true;
        }
    QList<double> custom = m_customRates;
    if (m_newRate)
        custom.append(*m_newRate);
    for (double known : custom)
        if (std::fabs(known - rate) < kSameRate) {
            m_rateMenu->setCurrentIndex(m_rateMenu->findText(formatRate(known)));
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
    const QSignalBlocker block(m_rateMenu);
    // A new rate: the menu shows it among the custom rates, which it joins
    // when OK confirms the conversion (an unreadable one adds nothing; the
    // menu is rebuilt as it was).
    if (parsed && rate > 0)
        m_newRate = rate;
    setupSampleRatePopUp();
    if (parsed && rate > 0)
        m_rateMenu->setCurrentIndex(m_rateMenu->findText(formatRate(rate)));
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
    callDispatcher(kRate, m_rateMenu);
}

void ConversionEditor::handleNumOfBitsSettings()
{
    callDispatcher(kBits, m_bitsMenu);
}

void ConversionEditor::handleChannelHandlingSettings()
{
    callDispatcher(kChannels, m_channelMenu);
}

void ConversionEditor::checkConsistency()
{
    if (!m_spec || m_filling)
        return;
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
    bool discrete = false;
    const QList<double> rates = DiscreteRates(currentEntry(), &discrete);
    if (!discrete)
        return true;
    if (tag < 0 || tag >= kBuiltInRateCount)
        return false;
    for (double r : rates)
        if (std::fabs(kBuiltInRates[tag] - r) < kSameRate)
            return true;
    return false;
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
    const QString text = entry.value(QStringLiteral("text")).toString();
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
    if (Flag(entry, "specificsMustBeValid") && !m_spec->specificsValid()) {
        reason = L("You have to use the %@ button to specify the encoder settings.");
        Substitute(&reason, entry.value(QStringLiteral("optionsButtonTitle")).toString().chopped(
                                std::min<qsizetype>(3, entry.value(QStringLiteral("optionsButtonTitle")).toString().size())));
    } else if (m_convertRateBox->isChecked() && parsed && rate > Number(entry, "sampleRateMax")) {
        reason = L("The sample rate of %@ files may not exceed %d Hz.");
        Substitute(&reason, text);
        reason.replace(QLatin1String("%d"), QString::number(qlonglong(Number(entry, "sampleRateMax"))));
    } else if (m_convertRateBox->isChecked() && parsed && rate < Number(entry, "sampleRateMin")) {
        reason = L("The sample rate of %@ files may not be less than %d Hz.");
        Substitute(&reason, text);
        reason.replace(QLatin1String("%d"), QString::number(qlonglong(Number(entry, "sampleRateMin"))));
    } else if (verdict(kSampleRateValidKey, kSampleRateInvalidMessageKey, "The sample rate is invalid.", &reason)) {
    } else if (!m_convertRateBox->isChecked() && Flag(entry, "forceSampleRate")) {
        reason = L("%@ files have a restricted number of possible sample rates, so please check 'Convert sample "
                   "rate to' and select an available sample rate from the popup menu");
        Substitute(&reason, text);
    } else if (verdict(kWordSizeValidKey, kWordSizeValidMessageKey, "The number of bits or bitrate is invalid.",
                       &reason)) {
    } else if (!m_bitsBox->isChecked() && Flag(entry, "forceWordSize")) {
        reason = L("%@ files must have a value specified for the '%@', so please check to select a setting.");
        Substitute(&reason, text);
        Substitute(&reason, entry.value(QStringLiteral("numBitsCheckBoxTitle")).toString());
    } else if (verdict(kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey,
                       "The setting for channel handling is invalid.", &reason)) {
    } else if (!m_channelBox->isChecked() && Flag(entry, "forceChannels")) {
        reason = L("%@ files have a restricted number of possible channel handling methods, so please check to "
                   "use one of the given settings in the 'Channel handling' popup menu.");
        Substitute(&reason, text);
    } else if (!m_convertTypeBox->isChecked() && m_extensionBox->isChecked()) {
        reason = L("You can't force a file name extension when you don't explicitly convert to a given file type. "
                   "Please select a file type to convert to, or leave the file name extension checkbox unchecked.");
    } else if (m_convertRateBox->isChecked() && !parsed) {
        reason = L("The sample rate is invalid.");
    }
    m_info->setText(reason);
    return reason.isEmpty();
}

// ======================================================= actions

void ConversionEditor::chooseFileType(OSType type)
{
    const int index = IndexOfTag(m_typeMenu, int(type));
    if (index < 0)
        return;
    m_typeMenu->setCurrentIndex(index);
    doFileTypePopUp();
}

void ConversionEditor::doConvertFileTypeCheckbox()
{
    if (!m_spec)
        return;
    const bool on = m_convertTypeBox->isChecked();
    m_spec->setNeedsStrictFileType(on);
    m_extensionBox->setChecked(on);
    doFilenameExtCheckbox();
    convertFileTypeDependencies();
}

void ConversionEditor::doFileTypePopUp()
{
    if (!m_spec)
        return;
    // Checkboxes the old type's force rule switched on go off again, and
    // so does what they did: the box and the batch agree.
    if (m_sampleRateForced) {
        m_sampleRateForced = false;
        m_convertRateBox->setChecked(false);
        m_spec->setNeedsSampleRateConversion(false);
        sampleRateDependencies();
    }
    if (m_wordSizeForced) {
        m_wordSizeForced = false;
        m_bitsBox->setChecked(false);
        m_spec->setNeedsNewWordLength(false);
        numOfBitsDependencies();
    }
    if (m_channelsForced) {
        m_channelsForced = false;
        m_channelBox->setChecked(false);
        m_spec->setNeedsChannelTreat(false);
        m_spec->setChannelTreat(0);
        channelHandlingDependencies();
    }
    const int index = m_typeMenu->currentIndex();
    m_curFileType = m_convertTypeBox->isChecked() && index >= 0 ? OSType(ItemTag(m_typeMenu, index)) : 'AIFF';
    m_spec->setSpecificsValid(false);
    const QVariantMap entry = updateUIForFileType(m_curFileType);
    m_spec->setOutputFileType(m_curFileType);
    const QString extension = entry.value(QStringLiteral("extension")).toString();
    m_extensionField->setText(extension);
    m_spec->setNameExtension(extension);

    if (Flag(entry, "forceSampleRate")) {
        m_sampleRateForced = !m_convertRateBox->isChecked();
        m_convertRateBox->setChecked(true);
        doConvertSampleRateCheckbox();
    }
    if (Flag(entry, "forceWordSize")) {
        m_wordSizeForced = !m_bitsBox->isChecked();
        m_bitsBox->setChecked(true);
        doNumOfBitsCheckbox();
    }
    if (Flag(entry, "forceChannels")) {
        m_channelsForced = !m_channelBox->isChecked();
        m_channelBox->setChecked(true);
        doChannelHandlingCheckbox();
    }
    checkConsistency();
}

void ConversionEditor::doConvertSampleRateCheckbox()
{
    if (!m_spec)
        return;
    m_spec->setNeedsSampleRateConversion(m_convertRateBox->isChecked());
    sampleRateDependencies();
    checkConsistency();
}

void ConversionEditor::chooseSampleRateItem(int index)
{
    if (!m_spec || index < 0)
        return;
    m_rateMenu->setCurrentIndex(index);
    handleSampleRatePopUpDependencies();
    checkConsistency();
}

void ConversionEditor::typeSampleRate(const QString& text)
{
    m_rateField->setText(text);
    if (!m_spec)
        return;
    handleSampleRateTextFieldDependencies();
    checkConsistency();
}

void ConversionEditor::doNumOfBitsCheckbox()
{
    if (!m_spec)
        return;
    const bool on = m_bitsBox->isChecked();
    m_spec->setNeedsNewWordLength(on);
    if (on && m_bitsMenu->currentIndex() >= 0)
        m_spec->setWordLength(ItemTag(m_bitsMenu, m_bitsMenu->currentIndex()));
    numOfBitsDependencies();
    checkConsistency();
}

void ConversionEditor::doNumOfBitsPopUp()
{
    if (!m_spec || m_bitsMenu->currentIndex() < 0)
        return;
    m_spec->setWordLength(ItemTag(m_bitsMenu, m_bitsMenu->currentIndex()));
    checkConsistency();
}

void ConversionEditor::doChannelHandlingCheckbox()
{
    if (!m_spec)
        return;
    const bool on = m_channelBox->isChecked();
    m_spec->setNeedsChannelTreat(on);
    m_spec->setChannelTreat(on && m_channelMenu->currentIndex() >= 0
                                ? ItemTag(m_channelMenu, m_channelMenu->currentIndex())
                                : 0);
    channelHandlingDependencies();
    checkConsistency();
}

void ConversionEditor::doChannelHandlingPopUp()
{
    if (!m_spec || m_channelMenu->currentIndex() < 0)
        return;
    m_spec->setChannelTreat(ItemTag(m_channelMenu, m_channelMenu->currentIndex()));
    checkConsistency();
}

void ConversionEditor::doExtractionCheckbox()
{
    extractionDependencies();
    doExtractionPopUp();
}

void ConversionEditor::doExtractionPopUp()
{
    extractionDependencies();
    if (!m_spec)
        return;
    const bool on = m_extractionBox->isChecked();
    const int item = m_extractionMenu->currentIndex();
    m_spec->setNeedsExtraction(on && item == 0);
    m_spec->setNeedsStrip(on && item == 1);
    m_spec->setNeedsSnip(on && item == 2);
}

void ConversionEditor::doSnipFields()
{
    double from = 0;
    double length = 0;
    if (!ParseNumber(m_startAt.field->text(), &from) || !ParseNumber(m_length.field->text(), &length))
        return;
    m_spec->setSnipFrom(float(from));
    m_spec->setSnipTo(float(from) + float(length));
}

void ConversionEditor::doFadeCheckbox()
{
    if (m_spec)
        m_spec->setNeedsFades(m_fadeBox->isChecked());
    fadeDependencies();
}

void ConversionEditor::doFilenameExtCheckbox()
{
    if (m_spec)
        m_spec->setNeedsNameExtension(m_extensionBox->isChecked());
    nameExtensionDependencies();
}

void ConversionEditor::doGateCheckbox()
{
    gateDependencies();
    if (!m_spec)
        return;
    m_spec->setNeedsGate(m_gateBox->isChecked());
    m_spec->setNeedsGain(m_gateBox->isChecked() || m_boostBox->isChecked());
}

void ConversionEditor::doBoostCheckbox()
{
    boostDependencies();
    if (m_spec)
        boostRules();
}

void ConversionEditor::boostRules()
{
    const bool on = m_boostBox->isChecked();
    const int item = m_boostMenu->currentIndex();
    m_spec->setNeedsGain(on || m_gateBox->isChecked());
    m_spec->setNeedsCompressor(on && item == 0);
    m_spec->setNeedsNormalize(on && (item == 1 || m_firstNormalizeBox->isChecked()));
}

void ConversionEditor::doCommentDisclosure(bool open)
{
    if (open == m_expanded && m_comment->isVisible() == open)
        return;
    m_expanded = open;
    m_commentTriangle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    m_comment->setVisible(open);
    m_comment->setReadOnly(!open);
    if (open)
        m_comment->setFocus();
    else
        m_nameField->setFocus();
    adjustSize();
}

void ConversionEditor::commentChanged()
{
    if (!m_spec || m_filling)
        return;
    QString text = m_comment->toPlainText();
    if (text.endsWith(QLatin1Char('\t'))) {
        text.chop(1);
        const QSignalBlocker block(m_comment);
        m_comment->setPlainText(text);
        m_nameField->setFocus();
    }
    m_spec->setComment(text);
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
    const bool on = m_convertTypeBox->isChecked();
    m_typeMenu->setEnabled(on);
    colourLabel(m_typeToLabel, on);
    checkConsistency();
}

void ConversionEditor::sampleRateDependencies()
{
    const bool on = m_convertRateBox->isChecked();
    updateSampleRateTextField();
    m_rateMenu->setEnabled(on);
    m_qualityMenu->setEnabled(on);
    colourLabel(m_rateToLabel, on);
    colourLabel(m_qualityLabel, on);
}

void ConversionEditor::numOfBitsDependencies()
{
    m_bitsMenu->setEnabled(m_bitsBox->isChecked());
    handleNumOfBitsSettings();
}

void ConversionEditor::channelHandlingDependencies()
{
    m_channelMenu->setEnabled(m_channelBox->isChecked());
    handleChannelHandlingSettings();
}

void ConversionEditor::extractionDependencies()
{
    const bool on = m_extractionBox->isChecked();
    m_extractionMenu->setEnabled(on);
    for (Pair* pair : {&m_margin, &m_startAt, &m_length})
        enablePair(*pair, on);
    const int item = std::max(0, m_extractionMenu->currentIndex());
    m_extractionTabs->setCurrentIndex(item);
    if (item == 0) {
        setTabOrder(m_rateField, m_fadeIn.field);
    } else if (item == 1) {
        setTabOrder(m_rateField, m_margin.field);
        setTabOrder(m_margin.field, m_fadeIn.field);
    } else {
        setTabOrder(m_rateField, m_startAt.field);
        setTabOrder(m_length.field, m_fadeIn.field);
    }
}

void ConversionEditor::fadeDependencies()
{
    const bool on = m_fadeBox->isChecked();
    enablePair(m_fadeIn, on);
    enablePair(m_fadeOut, on);
}

void ConversionEditor::nameExtensionDependencies()
{
    m_extensionField->setEnabled(m_extensionBox->isChecked());
    checkConsistency();
}

void ConversionEditor::gateDependencies()
{
    const bool on = m_gateBox->isChecked();
    for (Pair* pair : {&m_lowerThan, &m_longerThan, &m_attenuate})
        enablePair(*pair, on);
    m_boostLabel->setText(on ? L("non-silences with") : L("with"));
}

void ConversionEditor::boostDependencies()
{
    const bool on = m_boostBox->isChecked();
    m_boostMenu->setEnabled(on);
    m_firstNormalizeBox->setEnabled(on);
    for (Pair* pair : {&m_amplify, &m_limit, &m_ceiling})
        enablePair(*pair, on);
    colourLabel(m_boostLabel, on);
    const int tab = m_boostMenu->currentIndex() == 1 ? 1 : 0;
    m_boostTabs->setCurrentIndex(tab);
    if (tab == 0) {
        setTabOrder(m_attenuate.field, m_amplify.field);
        setTabOrder(m_limit.field, m_nameField);
    } else {
        setTabOrder(m_attenuate.field, m_ceiling.field);
        setTabOrder(m_ceiling.field, m_nameField);
    }
    m_amplify.label->setText(m_firstNormalizeBox->isChecked() ? L("then amplify") : L("amplify"));
}

// ======================================================= option sheets

OptionSheet* ConversionEditor::doOptionsButton()
{
    if (!m_spec)
        return nullptr;
    const SheetKind kind = SheetKindOf(m_curFileType);
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
    m_rateField->setText(formatRate(rate));
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
