// The preferences window: every control shows one user default and writes
// it at once (no OK or Cancel).  The "input" tab also describes how input
// files without a recognised header are read (type, byte order, word size,
// channel count, rate); each change of those is pushed to the sound-file
// layer's raw-file settings.
#pragma once

#include "MacTypes.h"
#include "NotificationCenter.h"
#include "OutputCapabilities.h"

#include <QDialog>
#include <QHash>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QTabWidget;
class UserDefaults;

class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    // The raw rate popup's rates, by tag (0 to 19).
    static constexpr int kRawRateCount = 20;
    static const double kRawRates[kRawRateCount];

    explicit PreferencesWindow(UserDefaults& defaults, QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    // The application's one window, created on first use.
    static PreferencesWindow* shared(QWidget* parent, UserDefaults& defaults);

    void updateUI();
    void selectInputTab();
    void selectLoggingTab();
    void doFactoryDefaults();

    // The tag the stored raw type, byte order and word size give (0 when
    // no reading fits them).
    int rawTypeTag(OSType type, bool bigEndian, int wordSize) const;

    // The controls, for tests: a check box by its user-default key, the
    // two radio groups, the raw-file controls.
    QCheckBox* checkBox(const QString& key) const { return m_boxes.value(key); }
    QButtonGroup* unrecognizedFilesMatrix() const { return m_action; }
    QButtonGroup* badRegionRadioGroup() const { return m_badRegion; }
    QComboBox* fileTypePopup() const { return m_typePopup; }
    QComboBox* sampleRatePopup() const { return m_ratePopup; }
    QSpinBox* channelTextField() const { return m_channels; }
    QTabWidget* tabView() const { return m_tabs; }

    // The user's choices, as the controls make them.
    void chooseRawType(int tag);
    void chooseRawRate(int tag);
    void chooseAction(int tag);

private:
    QCheckBox* addBox(QWidget* parent, const QString& key, const QString& title);
    void doSaveLog();
    void doOpenLog();
    void doUnrecognizedFilesMatrix();
    void enableFileTypeElements(bool on);
    void doFileTypePopup();
    void doChannelTextField();
    void doSampleRatePopup();
    void setupFileTypePopup();
    void setupSampleRatePopup();
    // The rate popup's enabling for the stored type; a telephony type's
    // rate is set to what the type can be read at (stored and pushed).
    void validateRateItems();
    void syncRawSettings();

    // The raw type popup's choices, by tag: the types' headerless readings.
    const HeaderlessReading* rawReading(int tag) const;

    UserDefaults& m_defaults;
    QList<HeaderlessReading> m_rawTypes;
    QHash<QString, QCheckBox*> m_boxes;
    QTabWidget* m_tabs;
    QButtonGroup* m_action;
    QButtonGroup* m_badRegion;
    QComboBox* m_typePopup;
    QComboBox* m_ratePopup;
    QSpinBox* m_channels;
    QLabel* m_labels[3];
    bool m_filling = false;
    std::vector<NotificationCenter::Token> m_observers;
};
