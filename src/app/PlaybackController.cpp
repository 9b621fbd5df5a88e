#include "PlaybackController.h"

#include "AppPresenter.h"
#include "AudioOutput.h"
#include "ElidingLabel.h"
#include "FrameworkException.h"
#include "InputFileModel.h"
#include "Localized.h"
#include "MainController.h"
#include "Player.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cmath>

const QString PlaybackController::kBlipAtEndChanged = QStringLiteral("QMBlipAtEndChanged");
const QString PlaybackController::kAutoPlayNextChanged = QStringLiteral("QMAutoPlayNextChanged");
const QString PlaybackController::kBlipAtEndKey = PreferenceKeys::kBlipAtEnd;
const QString PlaybackController::kAutoPlayNextKey = PreferenceKeys::kAutoPlayNext;

namespace {
const QString kVarispeedKey = PreferenceKeys::kVarispeed;
// The slider's range: a quarter of the speed to four times it.
constexpr int kSliderMin = 25;
constexpr int kSliderMax = 400;

QString RateText(double rate) { return QString::asprintf("%.2f", rate); }

// The code in "Error <code>, (file:line)".
long ErrorCode(const FrameworkException& e)
{
    const std::string& reason = e.reason();
    const std::string prefix = "Error ";
    if (reason.compare(0, prefix.size(), prefix) != 0)
        return 0;
    return std::strtol(reason.c_str() + prefix.size(), nullptr, 10);
}
}

PlaybackController::PlaybackController(MainController& controller, QTableView* inputTable, QWidget* window)
    : QObject(window), m_controller(controller), m_inputTable(inputTable), m_window(window)
{
    m_bar = new QWidget(window);
    QStyle* style = QApplication::style();
    auto makeButton = [&](QStyle::StandardPixmap icon, const char* tip) {
        auto* b = new QPushButton(style->standardIcon(icon), QString(), m_bar);
        b->setToolTip(L(tip));
        return b;
    };
    m_prevList = makeButton(QStyle::SP_MediaSkipBackward, "Previous File");
    m_playButton = makeButton(QStyle::SP_MediaPlay, "Play");
    m_nextList = makeButton(QStyle::SP_MediaSkipForward, "Next File");
    m_prevFolder = makeButton(QStyle::SP_MediaSeekBackward, "Previous File in Folder");
    m_nextFolder = makeButton(QStyle::SP_MediaSeekForward, "Next File in Folder");
    m_speedSlider = new QSlider(Qt::Horizontal, m_bar);
    m_speedSlider->setRange(kSliderMin, kSliderMax);
    m_speedSlider->setMaximumWidth(140);
    m_speedField = new QLabel(m_bar);
    m_speedField->setToolTip(L("Playing Speed"));
    m_speedField->setMinimumWidth(m_speedField->fontMetrics().horizontalAdvance(QStringLiteral("4.00")));
    m_speedReset = new QPushButton(L("1x"), m_bar);
    m_speedReset->setToolTip(L("Normal Speed"));
    m_playingLine = new ElidingLabel(m_bar);
    m_playingLine->setMinimumWidth(80);
    m_blipBox = new QCheckBox(L("Blip At End"), m_bar);
    m_autoPlayBox = new QCheckBox(L("Auto Play Next"), m_bar);

    auto* row = new QHBoxLayout(m_bar);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : {static_cast<QWidget*>(m_prevList), static_cast<QWidget*>(m_playButton),
                       static_cast<QWidget*>(m_nextList), static_cast<QWidget*>(m_prevFolder),
                       static_cast<QWidget*>(m_nextFolder), static_cast<QWidget*>(m_speedSlider),
                       static_cast<QWidget*>(m_speedField), static_cast<QWidget*>(m_speedReset)})
        row->addWidget(w);
    row->addWidget(m_playingLine, 1);
    row->addWidget(m_blipBox);
    row->addWidget(m_autoPlayBox);

    // The window is made before the start-up registers the defaults: the
    // settings are read now and again once the start-up has run.
    loadSettings();
    QTimer::singleShot(0, this, &PlaybackController::loadSettings);

    connect(m_playButton, &QPushButton::clicked, this, [this] { m_stopFace ? stopFile() : playFile(); });
    connect(m_prevList, &QPushButton::clicked, this, &PlaybackController::playPreviousFromInputList);
    connect(m_nextList, &QPushButton::clicked, this, &PlaybackController::playNextFromInputList);
    connect(m_prevFolder, &QPushButton::clicked, this, &PlaybackController::playPreviousFromFolder);
    connect(m_nextFolder, &QPushButton::clicked, this, &PlaybackController::playNextFromFolder);
    connect(m_speedSlider, &QSlider::valueChanged, this, [this](int position) { doVariSpeed(sliderRate(position)); });
    connect(m_speedReset, &QPushButton::clicked, this, &PlaybackController::resetVariSpeed);
    connect(m_blipBox, &QCheckBox::toggled, this, &PlaybackController::blipAtEnd);
    connect(m_autoPlayBox, &QCheckBox::toggled, this, &PlaybackController::autoPlayNext);
    if (window) {
        auto* space = new QShortcut(QKeySequence(Qt::Key_Space), window);
        connect(space, &QShortcut::activated, this, &PlaybackController::togglePlay);
    }
    if (inputTable && inputTable->selectionModel())
        connect(inputTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &PlaybackController::updateCommands);
    // The player walks the live list.
    connect(&controller, &MainController::inputsChanged, this, [this] {
        if (m_player)
            m_player->updateInputFiles(m_controller.inputModel()->files());
        updateCommands();
        reloadTable();  // the playing entry may stand in another row now
    });
    // A double click on an input plays it.
    if (inputTable)
        connect(inputTable, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            if (index.isValid() && validate(AppCommand::PlayFile))
                playFile();
        });

    NotificationCenter& center = NotificationCenter::defaultCenter();
    m_observers.push_back(center.addObserver(Player::kFileStartNotification, nullptr,
                                             [this](const Notification&) { soundPlayStart(); }));
    m_observers.push_back(center.addObserver(Player::kFileStopNotification, nullptr,
                                             [this](const Notification&) { soundPlayStopOrPause(); }));
    m_observers.push_back(center.addObserver(Player::kFilePauseNotification, nullptr,
                                             [this](const Notification&) { soundPlayStopOrPause(); }));
    m_observers.push_back(center.addObserver(kBlipAtEndChanged, nullptr,
                                             [this](const Notification& n) { blipAtEndChanged(n); }));
    m_observers.push_back(center.addObserver(kAutoPlayNextChanged, nullptr,
                                             [this](const Notification& n) { autoPlayNextChanged(n); }));
    // The main window's commands (Start among them) follow the player.
    controller.setPlayback(this);
    updateCommands();
}

void PlaybackController::loadSettings()
{
    const UserDefaults& defaults = m_controller.defaults();
    const QSignalBlocker blockBlip(m_blipBox);
    const QSignalBlocker blockAuto(m_autoPlayBox);
    const QSignalBlocker blockSlider(m_speedSlider);
    m_blipBox->setChecked(defaults.boolForKey(kBlipAtEndKey));
    m_autoPlayBox->setChecked(defaults.boolForKey(kAutoPlayNextKey));
    double rate = defaults.doubleForKey(kVarispeedKey);
    if (!(rate > 0) || !std::isfinite(rate))
        rate = 1.0;
    m_speedSlider->setValue(sliderPosition(rate));
    m_speedField->setText(RateText(rate));
}

PlaybackController::~PlaybackController()
{
    m_controller.setPlayback(nullptr);
    for (NotificationCenter::Token token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
    m_player.reset();
}

void PlaybackController::addMenu(QMenuBar* menuBar)
{
    QMenu* menu = menuBar->addMenu(L("&Play"));
    auto add = [&](AppCommand command, const char* title, void (PlaybackController::*slot)()) {
        QAction* action = menu->addAction(L(title));
        connect(action, &QAction::triggered, this, slot);
        m_menuActions.emplace_back(command, action);
        return action;
    };
    // Space itself is the window's shortcut; the menu shows it.
    m_playAction = add(AppCommand::PlayFile, "Play", &PlaybackController::togglePlay);
    m_playAction->setShortcut(QKeySequence(Qt::Key_Space));
    m_playAction->setShortcutContext(Qt::WidgetShortcut);
    add(AppCommand::PlayPreviousFromInputList, "Previous File", &PlaybackController::playPreviousFromInputList);
    add(AppCommand::PlayNextFromInputList, "Next File", &PlaybackController::playNextFromInputList);
    add(AppCommand::PlayPreviousFromFolder, "Previous File in Folder", &PlaybackController::playPreviousFromFolder);
    add(AppCommand::PlayNextFromFolder, "Next File in Folder", &PlaybackController::playNextFromFolder);
    updateCommands();
}

// ------------------------------------------------------------- commands

template <typename Command>
void PlaybackController::run(Command command)
{
    try {
        command();
    } catch (const FrameworkException& e) {
        if (ErrorCode(e) == kAudioHardwareBadDeviceError) {
            setUnavailable();
            return;
        }
        AppPresenter::showAlert({L("Cannot Play"),
                                 L("The file could not be played (%1).").arg(QString::fromStdString(e.reason())),
                                 {}, {}, {}},
                                m_window);
    }
}

void PlaybackController::setUnavailable()
{
    if (!m_unavailable.isEmpty())
        return;
    m_unavailable = L("No sound output device is available, so files cannot be played.");
    AppPresenter::showAlert({L("Cannot Play"), m_unavailable, {}, {}, {}}, m_window);
    m_playingLine->setText(L("No sound output device"));
    m_playingLine->setToolTip(m_unavailable);
    updateCommands();
}

void PlaybackController::playFile()
{
    run([this] {
        InputFileModel* model = m_controller.inputModel();
        if (!m_player) {
            m_player = std::make_unique<Player>(model->files(), sliderRate(m_speedSlider->value()),
                                                m_controller.defaults().boolForKey(kAutoPlayNextKey),
                                                m_controller.defaults().boolForKey(kBlipAtEndKey),
                                                &m_controller.defaults());
        }
        if (m_inputTable && m_inputTable->selectionModel()) {
            const QModelIndexList rows = m_inputTable->selectionModel()->selectedRows();
            if (!rows.isEmpty()) {
                int first = rows.first().row();
                for (const QModelIndex& index : rows)
                    first = std::min(first, index.row());
                if (auto entry = model->fileAt(first))
                    m_player->setFileFromList(entry);
            }
        }
        m_player->start();
    });
    reloadTable();
    setStopFace(m_player && m_player->isPlaying());
    updateCommands();
}

void PlaybackController::stopFile()
{
    if (m_player)
        m_player->pause();
    reloadTable();
    setStopFace(false);
    updateCommands();
}

void PlaybackController::togglePlay()
{
    if (m_player && m_player->isPlaying())
        stopFile();
    else if (validate(AppCommand::PlayFile))
        playFile();
}

void PlaybackController::movePlayer(void (Player::*move)())
{
    if (m_player)
        run([this, move] { (m_player.get()->*move)(); });
    reloadTable();
}

void PlaybackController::playNextFromFolder()
{
    movePlayer(&Player::doNextFromFolder);
}

void PlaybackController::playPreviousFromFolder()
{
    movePlayer(&Player::doPreviousFromFolder);
}

void PlaybackController::playNextFromInputList()
{
    movePlayer(&Player::doNextFromInputList);
}

void PlaybackController::playPreviousFromInputList()
{
    movePlayer(&Player::doPreviousFromInputList);
}

void PlaybackController::doVariSpeed(double value)
{
    m_speedField->setText(RateText(value));
    if (m_player)
        run([&] { m_player->setVarispeed(float(value)); });
    rememberVarispeed(float(value));
}

void PlaybackController::resetVariSpeed()
{
    {
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setValue(sliderPosition(1.0));
    }
    m_speedField->setText(RateText(1.0));
    if (m_player)
        run([this] { m_player->setVarispeed(1.0f); });
    rememberVarispeed(1.0f);
}

void PlaybackController::rememberVarispeed(float value)
{
    m_controller.defaults().setDouble(kVarispeedKey, double(value));
    m_controller.defaults().synchronize();
}

void PlaybackController::storeOption(const QString& key, const QString& changed, bool on)
{
    m_controller.defaults().setBool(key, on);
    NotificationCenter::defaultCenter().postNotification(changed, QVariant(), this);
    m_controller.defaults().synchronize();
}

void PlaybackController::blipAtEnd(bool on)
{
    storeOption(kBlipAtEndKey, kBlipAtEndChanged, on);
}

void PlaybackController::autoPlayNext(bool on)
{
    storeOption(kAutoPlayNextKey, kAutoPlayNextChanged, on);
}

// -------------------------------------------------------- notifications

void PlaybackController::soundPlayStart()
{
    if (m_player && m_player->playingFile()) {
        const QString path = m_player->playingFile()->path();
        m_playingLine->setText(L("Playing: %1").arg(path));
        m_playingLine->setToolTip(path);
    }
    setStopFace(true);
    updateCommands();
    reloadTable();
    if (m_player && m_inputTable) {
        const int row = m_controller.inputModel()->playRow();
        if (row >= 0)
            m_inputTable->scrollTo(m_controller.inputModel()->index(row, 0));
    }
}

void PlaybackController::soundPlayStopOrPause()
{
    m_playingLine->clear();
    m_playingLine->setToolTip(m_unavailable);
    setStopFace(false);
    updateCommands();
    reloadTable();
}

void PlaybackController::followOption(const Notification& notification, const QString& key, QCheckBox* box,
                                      void (Player::*apply)(bool))
{
    const bool on = m_controller.defaults().boolForKey(key);
    if (notification.sender != this) {
        const QSignalBlocker block(box);
        box->setChecked(on);
    }
    if (m_player)
        (m_player.get()->*apply)(on);
}

void PlaybackController::blipAtEndChanged(const Notification& notification)
{
    followOption(notification, kBlipAtEndKey, m_blipBox, &Player::setBlipAtEnd);
}

void PlaybackController::autoPlayNextChanged(const Notification& notification)
{
    followOption(notification, kAutoPlayNextKey, m_autoPlayBox, &Player::setAutoPlayNext);
}

// ------------------------------------------------------------ enabling

bool PlaybackController::isPlaying() const
{
    return m_player && m_player->isPlaying();
}

bool PlaybackController::validate(AppCommand command) const
{
    if (!m_unavailable.isEmpty())
        return false;
    const int inputs = int(m_controller.inputModel()->files().size());
    switch (command) {
    case AppCommand::PlayFile:
        if (!m_player)
            return m_inputTable && m_inputTable->selectionModel()
                   && m_inputTable->selectionModel()->hasSelection();
        return inputs > 0;
    case AppCommand::PlayPreviousFromFolder:
    case AppCommand::PlayNextFromFolder:
        return m_player && m_player->isPlayingFolder();
    case AppCommand::PlayPreviousFromInputList:
    case AppCommand::PlayNextFromInputList:
        return m_player && inputs > 1;
    case AppCommand::StopFile:
        return m_player && m_player->isPlaying();
    default:
        return false;
    }
}

QPushButton* PlaybackController::button(AppCommand command) const
{
    switch (command) {
    case AppCommand::PlayFile:
    case AppCommand::StopFile: return m_playButton;
    case AppCommand::PlayPreviousFromInputList: return m_prevList;
    case AppCommand::PlayNextFromInputList: return m_nextList;
    case AppCommand::PlayPreviousFromFolder: return m_prevFolder;
    case AppCommand::PlayNextFromFolder: return m_nextFolder;
    default: return nullptr;
    }
}

void PlaybackController::updateCommands()
{
    m_playButton->setEnabled(validate(m_stopFace ? AppCommand::StopFile : AppCommand::PlayFile));
    for (AppCommand c : {AppCommand::PlayPreviousFromInputList, AppCommand::PlayNextFromInputList,
                         AppCommand::PlayPreviousFromFolder, AppCommand::PlayNextFromFolder})
        button(c)->setEnabled(validate(c));
    for (const auto& [command, action] : m_menuActions) {
        if (action == m_playAction) {
            action->setText(m_stopFace ? L("Stop") : L("Play"));
            action->setEnabled(validate(m_stopFace ? AppCommand::StopFile : AppCommand::PlayFile));
        } else {
            action->setEnabled(validate(command));
        }
    }
    if (!m_unavailable.isEmpty()) {
        // Every control of the player, the line that says why aside.
        for (QWidget* control : m_bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control == m_playingLine)
                continue;
            control->setEnabled(false);
            control->setToolTip(m_unavailable);
        }
    }
    m_controller.playbackChanged();
}

void PlaybackController::setStopFace(bool stop)
{
    m_stopFace = stop;
    m_playButton->setIcon(QApplication::style()->standardIcon(stop ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
    m_playButton->setToolTip(stop ? L("Stop") : L("Play"));
}

void PlaybackController::reloadTable()
{
    // The loudspeaker on the player's row (row 0 before there is a player).
    InputFileModel* model = m_controller.inputModel();
    model->setPlayState(m_player ? model->rowOf(m_player->fileFromList().get()) : 0, isPlaying());
    if (m_inputTable)
        m_inputTable->viewport()->update();
}

float PlaybackController::sliderRate(int position) { return float(position) / 100.0f; }

int PlaybackController::sliderPosition(double rate)
{
    return std::clamp(int(std::lround(rate * 100.0)), kSliderMin, kSliderMax);
}
