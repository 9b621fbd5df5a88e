#include "EditorCommands.h"

#include "ConversionEditor.h"
#include "CustomRatesWindow.h"
#include "Localized.h"
#include "MainController.h"
#include "MainWindow.h"
#include "OptionSheet.h"
#include "PreferenceKeys.h"
#include "PreferencesWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSet>
#include <QTableView>
#include <QTimer>

namespace {

QSet<QString> NamesBut(const MainController& controller, const ConvSpec* except)
{
    QSet<QString> names;
    for (const ConvSpecRef& spec : controller.conversions())
        if (spec.get() != except)
            names.insert(spec->conversionName());
    return names;
}

int SelectedConversionRow(MainWindow& window)
{
    const QModelIndexList rows = window.conversionTable()->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

} // namespace

bool EditorCommands::newConversion(MainWindow& window, MainController& controller)
{
    const ConvSpecRef spec = ConvSpec::create();
    if (!ConversionEditor::editConversion(&window, spec, NamesBut(controller, nullptr), controller.defaults()))
        return false;
    controller.addConversion(spec);  // undoable, re-sorted and saved
    window.showConversions();
    window.selectConversion(spec.get());
    return true;
}

bool EditorCommands::editConversion(MainWindow& window, MainController& controller, int row)
{
    QList<ConvSpecRef> list = controller.conversions();
    if (row < 0 || row >= list.size())
        return false;
    // The editor works on a copy; only a confirmed edit replaces the
    // conversion.
    const ConvSpecRef copy = list[row]->copy();
    if (!ConversionEditor::editConversion(&window, copy, NamesBut(controller, list[row].get()), controller.defaults()))
        return false;
    controller.replaceConversion(row, copy);  // undoable, re-sorted and saved
    return true;
}

void EditorCommands::install(MainWindow& window, MainController& controller)
{
    MainWindow* w = &window;
    MainController* c = &controller;
    {
        QMenu* edit = window.editMenu();
        edit->addSeparator();
        QAction* rates = edit->addAction(L("Custom Sample Rates..."));
        QObject::connect(rates, &QAction::triggered, w,
                         [w, c] { CustomRatesWindow::showShared(w, c->defaults()); });
        QAction* preferences = edit->addAction(L("Preferences..."));
        preferences->setMenuRole(QAction::PreferencesRole);
        preferences->setShortcut(QKeySequence::Preferences);
        QObject::connect(preferences, &QAction::triggered, w, [w, c] {
            PreferencesWindow* prefs = PreferencesWindow::shared(w, c->defaults());
            prefs->updateUI();
            prefs->show();
            prefs->raise();
            prefs->activateWindow();
        });
    }

    auto add = [w, c] { newConversion(*w, *c); };
    auto change = [w, c] { editConversion(*w, *c, SelectedConversionRow(*w)); };
    {
        QMenu* conversions = window.conversionsMenu();
        QAction* first = conversions->actions().value(0);
        auto* newAction = new QAction(L("New Conversion..."), conversions);
        auto* editAction = new QAction(L("Edit Conversion..."), conversions);
        conversions->insertAction(first, newAction);
        conversions->insertAction(first, editAction);
        QObject::connect(newAction, &QAction::triggered, w, add);
        QObject::connect(editAction, &QAction::triggered, w, change);
        QObject::connect(conversions, &QMenu::aboutToShow, w, [w, c, editAction] {
            editAction->setEnabled(c->validate(AppCommand::EditConversion) && SelectedConversionRow(*w) >= 0);
        });
    }
    if (QHBoxLayout* row = window.conversionButtonRow()) {
        auto* newButton = new QPushButton(L("New..."));
        newButton->setObjectName(QStringLiteral("newConversionButton"));
        auto* editButton = new QPushButton(L("Edit..."));
        editButton->setObjectName(QStringLiteral("editConversionButton"));
        row->insertWidget(0, newButton);
        row->insertWidget(1, editButton);
        QObject::connect(newButton, &QPushButton::clicked, w, add);
        QObject::connect(editButton, &QPushButton::clicked, w, change);
        auto refresh = [w, c, editButton] {
            editButton->setEnabled(c->validate(AppCommand::EditConversion) && SelectedConversionRow(*w) >= 0);
        };
        QObject::connect(c, &MainController::validationChanged, editButton, refresh);
        QObject::connect(w->conversionTable()->selectionModel(), &QItemSelectionModel::selectionChanged, editButton,
                         refresh);
        refresh();
    }
    QObject::connect(window.conversionTable(), &QTableView::doubleClicked, w, [w, c](const QModelIndex& index) {
        if (index.isValid())
            editConversion(*w, *c, index.row());
    });
}

void EditorCommands::screenshotIfAsked(MainWindow& window, MainController& controller)
{
    const QString path = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_EDITOR");
    const QString mp3Path = qEnvironmentVariable("QUILLMARCH_SCREENSHOT_MP3");
    if (path.isEmpty() && mp3Path.isEmpty())
        return;
    MainWindow* w = &window;
    MainController* c = &controller;
    QTimer::singleShot(300, w, [w, c, path, mp3Path] {
        auto* editor = new ConversionEditor(c->defaults(), w);
        const ConvSpecRef spec = ConvSpec::create();
        editor->show();
        if (!path.isEmpty()) {
            spec->setConversionName(QStringLiteral("Broadcast MP2, 48 kHz, compressed"));
            spec->setComment(QStringLiteral("For the radio archive."));
            editor->setConvSpec(spec);
            editor->findChild<QCheckBox*>(QStringLiteral("convertFileTypeCheckBox"))->click();
            editor->chooseFileType('MPG2');
            editor->chooseSampleRateItem(
                editor->findChild<QComboBox*>(QStringLiteral("sampleRatePopUp"))->findText(QStringLiteral("48000")));
            editor->findChild<QCheckBox*>(QStringLiteral("fadeCheckBox"))->click();
            editor->findChild<QCheckBox*>(QStringLiteral("boostCheckBox"))->click();
            QTimer::singleShot(400, editor, [editor, path] {
                const bool saved = editor->grab().save(path);
                QApplication::exit(saved ? 0 : 1);
            });
            return;
        }
        // The MP3 encoder's options, opened over the editor.
        spec->setConversionName(QStringLiteral("Podcast MP3, variable bit rate"));
        spec->setSpecificsValue(QStringLiteral("LAMEEncodingMode"), 2);
        spec->setSpecificsValue(QStringLiteral("LAMEVBRQuality"), 2);
        spec->setSpecificsValue(QStringLiteral("LAMEArtist"), QStringLiteral("The Example Players"));
        spec->setSpecificsValue(QStringLiteral("LAMEAlbum"), QStringLiteral("Examples"));
        editor->setConvSpec(spec);
        editor->findChild<QCheckBox*>(QStringLiteral("convertFileTypeCheckBox"))->click();
        editor->chooseFileType('DMP3');
        OptionSheet* sheet = editor->doOptionsButton();
        QTimer::singleShot(600, editor, [sheet, mp3Path] {
            const bool saved = sheet && sheet->grab().save(mp3Path);
            QApplication::exit(saved ? 0 : 1);
        });
    });
}
