// The conversion editor: the modal dialog in which one conversion is
// defined.  Every control writes into the conversion it was given at once;
// the dialog's result says whether the user confirmed.  What a type allows
// comes from the file-type dictionary and the type's dispatcher; OK is
// enabled only when the verdicts below pass (validateOK), and the reason it
// is not shows in the info line.
//
// The window is built a box at a time (EditorFormatGroup,
// EditorRegionsGroup, EditorFadesAndNamesGroup, EditorGainGroup,
// EditorCommentGroup); which control shows and writes which field of the
// conversion is one table (ConversionFieldTable, built in
// buildFieldTable); what the output type allows is read in
// updateUIForFileType, validateOK and currentSheetKind.
//
// The controls carry object names (the names the tests look them up by):
// "conversionNameTextField", "convertFileTypeCheckBox", "fileTypePopUp",
// "convertSampleRateCheckBox", "sampleRatePopUp", "sampleRateTextField",
// "polyphasePopUp", "numOfBitsCheckBox", "numBitsPopUp",
// "channelHandlingCheckBox", "channelHandlingPopUp",
// "extractionStripOrSnipCheckBox", "extractionPopUp", "fadeCheckBox",
// "copyCheckBox", "ditherCheckBox", "filenameExtensionCheckBox",
// "filenameExtensionTextField", "gateCheckBox", "boostCheckBox",
// "boostPopUp", "firstNormalizeCheckBox", "commentTextView",
// "optionsButton", "infoTextField", "okButton", "automaticNameButton" and
// the value fields "<name>TextField" of the slider pairs (safetyMargin,
// startAt, length, fadeIn, fadeOut, lowerThan, longerThan, attenuate,
// amplify, limit, ceiling).
#pragma once

#include "ConvSpec.h"
#include "ConversionFieldTable.h"
#include "MacTypes.h"
#include "NotificationCenter.h"
#include "OutputCapabilities.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QSet>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class CConvSpec;
class EditorCommentGroup;
class EditorFadesAndNamesGroup;
class EditorFormatGroup;
class EditorGainGroup;
class EditorRegionsGroup;
class OptionSheet;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QUndoStack;
class UserDefaults;

class ConversionEditor : public QDialog {
    Q_OBJECT
public:
    // The built-in sample rates; a rate item's tag is its index here.
    static constexpr int kBuiltInRateCount = 20;
    static const double kBuiltInRates[kBuiltInRateCount];
    // Two rates are the same when closer than this.
    static constexpr double kSameRate = 0.00005;

    explicit ConversionEditor(UserDefaults& defaults, QWidget* parent = nullptr);
    ~ConversionEditor() override;

    // Runs the application's one editor modally on `spec` (edited in
    // place); `names` are the names of the other conversions.  True when
    // the user confirmed.
    static bool editConversion(QWidget* parent, const ConvSpecRef& spec, const QSet<QString>& names,
                               UserDefaults& defaults);

    void setNames(const QSet<QString>& names) { m_names = names; }
    // The conversion to edit (null: none); fills the controls.
    void setConvSpec(const ConvSpecRef& spec);
    const ConvSpecRef& convSpec() const { return m_spec; }
    OSType currentFileType() const { return m_curFileType; }

    // Fills every control from the conversion.
    void updateUI();
    // Applies the rules of `type` to the controls; the type's entry.
    QVariantMap updateUIForFileType(OSType type);
    // The per-type checks, then OK's verdict.
    void checkConsistency();
    // OK's verdict: true, or false with the reason in the info line.  Runs
    // the per-type checks first, so the verdict is that of the settings
    // shown.
    bool validateOK();
    // Whether the file-type item of `tag` / the rate item of `tag` can be
    // chosen.
    bool validateFileTypeItem(OSType tag) const;
    bool validateSampleRateItem(int tag) const;
    QString infoText() const;

    // Marks the type's options confirmed (an option sheet's OK) or not.
    void setFileTypeSpecificsValid(bool valid);
    QLineEdit* sampleRateTextField() const;

    // The Options button: the sheet of the current type (opened window-
    // modal, so this returns at once); null when the type has none.
    OptionSheet* doOptionsButton();
    OptionSheet* currentSheet() const { return m_openSheet; }
    QUndoStack* undoStack() const { return m_undo; }

    // User actions, callable from tests as the controls call them.
    void chooseFileType(OSType type);
    void chooseSampleRateItem(int index);
    void typeSampleRate(const QString& text);
    void doAutomaticName();
    void setConversionName(const QString& name);

    // The rate as the sample-rate formatter shows it.
    static QString formatRate(double rate);
    // The stored custom rates (highest first); the menu also offers a new
    // rate in use, which OK stores.
    const QList<double>& customSampleRates() const { return m_customRates; }

public slots:
    void ok();
    void cancel();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    // The option sheet of a type (its "optionSheet", OutputCapabilities.h):
    // none, none but the options count as confirmed at once, or one of the
    // sheets.
    using SheetKind = OutputCapabilities::OptionSheet;
    SheetKind currentSheetKind() const;
    OptionSheet* makeSheet(SheetKind kind);
    // A rate chosen in the Creative Voice sheet: the conversion's, shown
    // in the field and the menu.
    void useSampleRate(double rate);

    void buildWindow();
    // The controls bound to the conversion's fields (m_fields).
    void buildFieldTable();

    void buildFileTypeMenu();
    void setupSampleRatePopUp();
    static void fillMenu(QComboBox* menu, const QVariantList& items);
    void refreshFileTypeItemStates();
    void refreshSampleRateItemStates();
    void selectClosestValidSampleRate(const QVariantMap& entry);
    void updateSampleRateTextField();
    void handleSampleRatePopUpDependencies();
    // Selects the built-in or custom item of the field's rate; false when
    // there is none.
    bool selectRateItemForField();
    bool rateFieldValue(double* rate) const;
    void handleSampleRateTextFieldDependencies();
    // The per-type checks of the rate, the word length and the channels.
    void handleSampleRateSettings();
    void handleNumOfBitsSettings();
    void handleChannelHandlingSettings();
    void loadCustomRates();
    void storeCustomRates();

    // The file-type menu's item chosen: the type's rules apply, its force
    // rules switch boxes on (and boxes the old type forced go off).
    void applyFileTypeItem();
    void doCommentDisclosure(bool open);
    // Dependency steps.
    void convertFileTypeDependencies();
    void sampleRateDependencies();
    void numOfBitsDependencies();
    void channelHandlingDependencies();
    void extractionDependencies();
    void fadeDependencies();
    void nameExtensionDependencies();
    void gateDependencies();
    void boostDependencies();

    // The settings operation of the current type's dispatcher, given a
    // CConvSpec of the conversion and the popup's current item.
    void callDispatcher(int which, QComboBox* popup);
    std::unique_ptr<CConvSpec> makeCConvSpec() const;
    QVariantMap currentEntry() const;
    // What the current type can hold and asks for (its entry, read once).
    OutputCapabilities currentCapabilities() const;
    void closeDialog();
    bool refuseName();

    UserDefaults& m_defaults;
    ConvSpecRef m_spec;
    QVariantMap m_fileTypeInfo;
    QSet<QString> m_names;
    QList<double> m_customRates;
    // A rate shown that is neither built in nor a custom rate yet.
    std::optional<double> m_newRate;
    OSType m_curFileType;
    bool m_sampleRateForced = false;
    bool m_wordSizeForced = false;
    bool m_channelsForced = false;
    bool m_uiUpdated = false;
    bool m_filling = false;
    bool m_placed = false;
    QUndoStack* m_undo = nullptr;
    ConversionFieldTable m_fields;
    // Rows of the table that other steps edit.
    int m_convertTypeRow = 0;
    int m_convertRateRow = 0;
    int m_bitsRow = 0;
    int m_channelsRow = 0;
    int m_typeRow = 0;
    int m_extensionRow = 0;
    NotificationCenter::Token m_ratesObserver = 0;
    OptionSheet* m_openSheet = nullptr;
    // The sheets made so far (made on first use, kept), by kind.
    QHash<int, OptionSheet*> m_sheets;

    QLineEdit* m_nameField = nullptr;
    QPushButton* m_autoNameButton = nullptr;
    EditorFormatGroup* m_format = nullptr;
    EditorRegionsGroup* m_regions = nullptr;
    EditorFadesAndNamesGroup* m_fades = nullptr;
    EditorGainGroup* m_gain = nullptr;
    EditorCommentGroup* m_commentGroup = nullptr;
    QLabel* m_info = nullptr;
    QPushButton* m_okButton = nullptr;
};
