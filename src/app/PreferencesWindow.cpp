#include "PreferencesWindow.h"

#include "AppPresenter.h"
#include "ControlTools.h"
#include "CreateSoundFile.h"
#include "EngineStartup.h"
#include "Localized.h"
#include "Logger.h"
#include "PlaybackController.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "debug_trace.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

const double PreferencesWindow::kRawRates[kRawRateCount] = {
    192000, 176400, 96000, 88200, 48000, 47952.1, 44100, 44055.9, 37800, 32000,
    24000,  22554.545454545456, 22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5};

namespace {

const QString kType = PreferenceKeys::kUnrecognizedInputFileType;
const QString kBigEndian = PreferenceKeys::kUnrecognizedInputFileBigEndian;
const QString kWordSize = PreferenceKeys::kUnrecognizedInputFileWordSize;
const QString kChannels = PreferenceKeys::kUnrecognizedFileNumChannels;
const QString kRate = PreferenceKeys::kUnrecognizedInputFileSampleRate;
const QString kOpenLog = PreferenceKeys::kOpenLog;

} // namespace

using namespace ControlTools;

PreferencesWindow::PreferencesWindow(UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_defaults(defaults), m_tabs(new QTabWidget(this)), m_action(new QButtonGroup(this)),
      m_badRegion(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("Preferences"));
    setWindowTitle(L("Preferences"));

    // Input.
    auto* input = new QWidget;
    input->setObjectName(QStringLiteral("input"));
    auto* inputLayout = new QVBoxLayout(input);
    auto* regions = new QGroupBox(L("Regions"), input);
    auto* regionLayout = new QVBoxLayout(regions);
    regionLayout->addWidget(addBox(regions, PreferenceKeys::kIgnoreRegionsContainingWholeFile,
                                   L("Ignore regions that contain the whole file")));
    regionLayout->addWidget(addBox(regions, PreferenceKeys::kProcessFileIfNoRegions,
                                   L("Process the whole file when it has no regions")));
    auto* badRow = new QHBoxLayout;
    badRow->addWidget(new QLabel(L("A region that lies outside the file:"), regions));
    AddRadioCell(m_badRegion, badRow, 0, "stops the file");
    AddRadioCell(m_badRegion, badRow, 1, "is skipped");
    regionLayout->addLayout(badRow);
    inputLayout->addWidget(regions);
    inputLayout->addWidget(addBox(input, PreferenceKeys::kRecognizeNumberFilesAsSplit,
                                  L("Recognise numbered files (.1, .2, ...) as split channels")));
    inputLayout->addWidget(addBox(input, PreferenceKeys::kEasyThru,
                                  L("Use an output subfolder that already exists without asking (easy thru)")));
    inputLayout->addWidget(addBox(input, PreferenceKeys::kNumberDuplicateFiles,
                                  L("Number duplicate files (NAME-1, NAME-2, ...) instead of failing them")));
    inputLayout->addWidget(addBox(input, PreferenceKeys::kPreserveFinderComments, L("Preserve file comments")));

    auto* unknown = new QGroupBox(L("Input files of an unrecognised type"), input);
    auto* unknownLayout = new QVBoxLayout(unknown);
    AddRadioCell(m_action, unknownLayout, 0, "Skip them");
    AddRadioCell(m_action, unknownLayout, 1, "Copy them");
    AddRadioCell(m_action, unknownLayout, 2, "Read them as headerless audio:");
    auto* raw = new QFormLayout;
    m_typePopup = new QComboBox(unknown);
    m_typePopup->setObjectName(QStringLiteral("fileTypePopup"));
    m_rawTypes = GetHeaderlessReadings();
    for (const HeaderlessReading& reading : m_rawTypes)
        m_typePopup->addItem(L(reading.title.toUtf8().constData()), reading.tag);
    m_ratePopup = new QComboBox(unknown);
    m_ratePopup->setObjectName(QStringLiteral("sampleRatePopup"));
    for (int tag = 0; tag < kRawRateCount; ++tag) {
        const double rate = kRawRates[tag];
        // Titles read as the rate in hertz.
        const QString title = rate == std::floor(rate) ? QString::number(qlonglong(rate))
                                                        : QString::number(rate, 'f', tag == 11 ? 3 : 1);
        m_ratePopup->addItem(title, tag);
    }
    m_channels = new QSpinBox(unknown);
    m_channels->setObjectName(QStringLiteral("channelTextField"));
    m_channels->setRange(EngineStartup::kMinRawChannels, EngineStartup::kMaxRawChannels);
    m_labels[0] = new QLabel(L("Type:"), unknown);
    m_labels[1] = new QLabel(L("Sample rate (Hz):"), unknown);
    m_labels[2] = new QLabel(L("Channels:"), unknown);
    raw->addRow(m_labels[0], m_typePopup);
    raw->addRow(m_labels[1], m_ratePopup);
    raw->addRow(m_labels[2], m_channels);
    unknownLayout->addLayout(raw);
    inputLayout->addWidget(unknown);
    inputLayout->addStretch();
    m_tabs->addTab(input, L("Input"));

    // Logging and the end of a batch.
    auto* logging = new QWidget;
    logging->setObjectName(QStringLiteral("logging"));
    auto* logLayout = new QVBoxLayout(logging);
    // Each "only when" box stands indented under the box it depends on.
    auto addIndented = [&](const QString& key, const QString& title) {
        auto* row = new QHBoxLayout;
        row->addSpacing(24);
        row->addWidget(addBox(logging, key, title));
        logLayout->addLayout(row);
    };
    logLayout->addWidget(addBox(logging, Logger::kSaveLogKey, L("Save the log")));
    addIndented(PreferenceKeys::kOnlySaveWhenErrors, L("only when there were errors"));
    logLayout->addWidget(addBox(logging, kOpenLog, L("Open the log")));
    addIndented(PreferenceKeys::kOnlyOpenWhenErrors, L("only when there were errors"));
    logLayout->addWidget(addBox(logging, PreferenceKeys::kFullPathsIntoLog, L("Write full paths into the log")));
    logLayout->addWidget(addBox(logging, PreferenceKeys::kBeepWhenDone, L("Play a sound when a batch is done")));
    logLayout->addStretch();
    m_tabs->addTab(logging, L("Logging"));

    // Playing input files (the player under the input list).
    auto* playback = new QWidget;
    playback->setObjectName(QStringLiteral("playback"));
    auto* playLayout = new QVBoxLayout(playback);
    playLayout->addWidget(addBox(playback, PlaybackController::kBlipAtEndKey, L("Blip at the end of a played file")));
    playLayout->addWidget(addBox(playback, PlaybackController::kAutoPlayNextKey, L("Play the next file automatically")));
    playLayout->addStretch();
    m_tabs->addTab(playback, L("Playback"));

    auto* factory = new QPushButton(L("Factory Defaults..."), this);
    factory->setObjectName(QStringLiteral("factoryDefaultsButton"));
    // Return never resets: the reset is no default button, and it asks.
    factory->setAutoDefault(false);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    LayOutOverButtonRow(this, m_tabs, 0, {factory}, {close});

    connect(factory, &QPushButton::clicked, this, [this] {
        const int answer = AppPresenter::showAlert(
            {L("Reset the preferences?"),
             L("Every preference goes back to its factory setting (the channel count of headerless files stays)."),
             L("Reset"), L("Cancel"), {}, true},
            this);
        if (answer == 1)
            doFactoryDefaults();
    });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(m_badRegion, &QButtonGroup::idClicked, this,
            [this](int tag) { m_defaults.setInteger(PreferenceKeys::kSkipBadRegion, tag); });
    connect(m_action, &QButtonGroup::idClicked, this, &PreferencesWindow::doUnrecognizedFilesMatrix);
    connect(m_typePopup, &QComboBox::activated, this, &PreferencesWindow::doFileTypePopup);
    connect(m_ratePopup, &QComboBox::activated, this, &PreferencesWindow::doSampleRatePopup);
    connect(m_channels, &QSpinBox::valueChanged, this, [this] {
        if (!m_filling)
            doChannelTextField();
    });

    auto& center = NotificationCenter::defaultCenter();
    // The player's bar changes its two options too.
    const std::pair<QString, QString> playerOptions[] = {
        {PlaybackController::kBlipAtEndChanged, PlaybackController::kBlipAtEndKey},
        {PlaybackController::kAutoPlayNextChanged, PlaybackController::kAutoPlayNextKey}};
    for (const auto& [changed, key] : playerOptions)
        m_observers.push_back(center.addObserver(changed, nullptr, [this, key = key](const Notification& n) {
            if (n.sender != this)
                m_boxes.value(key)->setChecked(m_defaults.boolForKey(key));
        }));
    updateUI();
}

PreferencesWindow::~PreferencesWindow()
{
    for (auto token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
}

PreferencesWindow* PreferencesWindow::shared(QWidget* parent, UserDefaults& defaults)
{
    static QPointer<PreferencesWindow> window;
    if (!window)
        window = new PreferencesWindow(defaults, parent);
    return window;
}

QCheckBox* PreferencesWindow::addBox(QWidget* parent, const QString& key, const QString& title)
{
    auto* box = new QCheckBox(title, parent);
    box->setObjectName(key);
    m_boxes.insert(key, box);
    connect(box, &QCheckBox::clicked, this, [this, key](bool on) {
        m_defaults.setBool(key, on);
        if (key == Logger::kSaveLogKey)
            doSaveLog();
        else if (key == kOpenLog)
            doOpenLog();
        else if (key == PlaybackController::kBlipAtEndKey)
            NotificationCenter::defaultCenter().postNotification(PlaybackController::kBlipAtEndChanged, QVariant(),
                                                                 this);
        else if (key == PlaybackController::kAutoPlayNextKey)
            NotificationCenter::defaultCenter().postNotification(PlaybackController::kAutoPlayNextChanged, QVariant(),
                                                                 this);
    });
    return box;
}

void PreferencesWindow::selectInputTab()
{
    m_tabs->setCurrentIndex(0);
}

void PreferencesWindow::selectLoggingTab()
{
    m_tabs->setCurrentIndex(1);
}

void PreferencesWindow::updateUI()
{
    m_filling = true;
    for (auto it = m_boxes.cbegin(); it != m_boxes.cend(); ++it)
        it.value()->setChecked(m_defaults.boolForKey(it.key()));
    if (QAbstractButton* b = m_badRegion->button(int(m_defaults.integerForKey(PreferenceKeys::kSkipBadRegion))))
        b->setChecked(true);
    if (QAbstractButton* b = m_action->button(int(m_defaults.integerForKey(Logger::kUnrecognizedActionKey))))
        b->setChecked(true);
    doSaveLog();
    doUnrecognizedFilesMatrix();
    m_channels->setValue(int(std::clamp<qlonglong>(m_defaults.integerForKey(kChannels),
                                                   EngineStartup::kMinRawChannels,
                                                   EngineStartup::kMaxRawChannels)));
    setupFileTypePopup();
    setupSampleRatePopup();
    validateRateItems();
    m_filling = false;
}

void PreferencesWindow::doSaveLog()
{
    const bool on = m_boxes.value(Logger::kSaveLogKey)->isChecked();
    m_defaults.setBool(Logger::kSaveLogKey, on);
    m_boxes.value(PreferenceKeys::kOnlySaveWhenErrors)->setEnabled(on);
    m_boxes.value(kOpenLog)->setEnabled(on);
    doOpenLog();
}

void PreferencesWindow::doOpenLog()
{
    QCheckBox* open = m_boxes.value(kOpenLog);
    m_defaults.setBool(kOpenLog, open->isChecked());
    m_boxes.value(PreferenceKeys::kOnlyOpenWhenErrors)->setEnabled(open->isChecked() && open->isEnabled());
}

void PreferencesWindow::chooseAction(int tag)
{
    if (QAbstractButton* b = m_action->button(tag)) {
        b->setChecked(true);
        doUnrecognizedFilesMatrix();
    }
}

void PreferencesWindow::doUnrecognizedFilesMatrix()
{
    const int tag = m_action->checkedId();
    if (tag >= 0)
        m_defaults.setInteger(Logger::kUnrecognizedActionKey, tag);
    if (tag == 0 || tag == 1)
        enableFileTypeElements(false);
    else if (tag == 2)
        enableFileTypeElements(true);
    syncRawSettings();
}

void PreferencesWindow::enableFileTypeElements(bool on)
{
    m_typePopup->setEnabled(on);
    m_ratePopup->setEnabled(on);
    m_channels->setEnabled(on);
    for (QLabel* label : m_labels)
        label->setEnabled(on);
}

const HeaderlessReading* PreferencesWindow::rawReading(int tag) const
{
    for (const HeaderlessReading& reading : m_rawTypes)
        if (reading.tag == tag)
            return &reading;
    return nullptr;
}

int PreferencesWindow::rawTypeTag(OSType type, bool bigEndian, int wordSize) const
{
    // A type read one way has that item whatever the byte order and word
    // size; one read several ways, the item of the stored ones.
    QList<const HeaderlessReading*> ofType;
    for (const HeaderlessReading& reading : m_rawTypes)
        if (reading.type == type)
            ofType.append(&reading);
    if (ofType.size() == 1)
        return ofType.first()->tag;
    for (const HeaderlessReading* reading : ofType)
        if (reading->bigEndian == bigEndian && reading->wordSize == wordSize)
            return reading->tag;
    return 0;
}

void PreferencesWindow::setupFileTypePopup()
{
    const int tag = rawTypeTag(HFSTypeCodeFromFileType(m_defaults.stringForKey(kType)),
                               m_defaults.boolForKey(kBigEndian), int(m_defaults.integerForKey(kWordSize)));
    m_typePopup->setCurrentIndex(m_typePopup->findData(tag));
    doFileTypePopup();
}

void PreferencesWindow::chooseRawType(int tag)
{
    m_typePopup->setCurrentIndex(m_typePopup->findData(tag));
    doFileTypePopup();
}

void PreferencesWindow::doFileTypePopup()
{
    const int tag = m_typePopup->currentData().toInt();
    OSType type = 'None';
    bool bigEndian = true;
    int wordSize = 16;
    int channels = m_channels->value();
    if (const HeaderlessReading* raw = rawReading(tag)) {
        type = raw->type;
        bigEndian = raw->bigEndian;
        wordSize = raw->wordSize;
        if (!raw->channelsFromField)
            channels = 1;
    } else {
        QM_TRACE("doFileTypePopup", "Unknown tag (" << tag << ") from file type popup in preferences dialog (input tab)");
    }
    m_defaults.setString(kType, FileTypeForHFSTypeCode(type));
    m_defaults.setBool(kBigEndian, bigEndian);
    m_defaults.setInteger(kWordSize, wordSize);
    m_defaults.setInteger(kChannels, channels);
    {
        const QSignalBlocker block(m_channels);
        m_channels->setValue(channels);
    }
    for (int i = 0; i < m_typePopup->count(); ++i) {
        const HeaderlessReading* reading = rawReading(m_typePopup->itemData(i).toInt());
        SetItemEnabled(m_typePopup, i, reading && reading->choosable);
    }
    validateRateItems();
    syncRawSettings();
}

void PreferencesWindow::doChannelTextField()
{
    m_defaults.setInteger(kChannels, m_channels->value());
    m_defaults.synchronize();
}

void PreferencesWindow::setupSampleRatePopup()
{
    const float rate = float(m_defaults.doubleForKey(kRate));
    for (int i = 0; i < m_ratePopup->count(); ++i) {
        const double v = m_ratePopup->itemText(i).toDouble();
        if (v - 0.5 < double(rate) && double(rate) < v + 0.5) {
            m_ratePopup->setCurrentIndex(i);
            return;
        }
    }
}

void PreferencesWindow::chooseRawRate(int tag)
{
    m_ratePopup->setCurrentIndex(m_ratePopup->findData(tag));
    doSampleRatePopup();
}

void PreferencesWindow::doSampleRatePopup()
{
    const int tag = m_ratePopup->currentData().toInt();
    if (tag < 0 || tag >= kRawRateCount)
        return;
    m_defaults.setDouble(kRate, double(float(kRawRates[tag])));
    syncRawSettings();
}

void PreferencesWindow::validateRateItems()
{
    const OSType type = HFSTypeCodeFromFileType(m_defaults.stringForKey(kType));
    const double stored = double(float(m_defaults.doubleForKey(kRate)));
    const double readAt = EngineStartup::rawSampleRate(type, stored);
    // A type read at its own rates offers only those.
    const QList<double> rates = GetOutputCapabilities(type).headerlessRates;
    const bool restricted = !rates.isEmpty();
    int readAtTag = -1;
    for (int i = 0; i < m_ratePopup->count(); ++i) {
        const int tag = m_ratePopup->itemData(i).toInt();
        const double rate = tag >= 0 && tag < kRawRateCount ? kRawRates[tag] : 0.0;
        if (rate == readAt)
            readAtTag = tag;
        SetItemEnabled(m_ratePopup, i, !restricted || rates.contains(rate));
    }
    if (restricted) {
        // The menu shows the rate the files are read at, and the stored
        // value is that rate too.
        m_ratePopup->setCurrentIndex(m_ratePopup->findData(readAtTag));
        if (readAt != stored)
            m_defaults.setDouble(kRate, double(float(readAt)));
    }
}

void PreferencesWindow::syncRawSettings()
{
    EngineStartup::syncRawSettings(m_defaults);
}

void PreferencesWindow::doFactoryDefaults()
{
    namespace P = PreferenceKeys;
    for (const QString& key :
         {P::kIgnoreRegionsContainingWholeFile, P::kRecognizeNumberFilesAsSplit, P::kProcessFileIfNoRegions,
          P::kSkipBadRegion, P::kEasyThru, P::kSaveLog, P::kOnlySaveWhenErrors, P::kOpenLog, P::kOnlyOpenWhenErrors,
          P::kBeepWhenDone, P::kFullPathsIntoLog, P::kBlipAtEnd, P::kAutoPlayNext, P::kPreserveFinderComments,
          P::kUnrecognizedInputFileAction, P::kUnrecognizedInputFileType, P::kUnrecognizedInputFileBigEndian,
          P::kUnrecognizedInputFileSampleRate, P::kUnrecognizedInputFileWordSize})
        m_defaults.removeObject(key);
    updateUI();
    NotificationCenter::defaultCenter().postNotification(PlaybackController::kBlipAtEndChanged, QVariant(), this);
    NotificationCenter::defaultCenter().postNotification(PlaybackController::kAutoPlayNextChanged, QVariant(), this);
}
