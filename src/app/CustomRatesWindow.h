// The custom sample rates: a modal window with the list (user default
// "Custom Sample Rates", highest first), an add/edit sheet and undoable
// edits.  OK stores the list and tells the conversion editor
// ("QMUpdatedCustomSampleRates"); Cancel stores nothing and drops the
// edits: the list is read again from the defaults each time the window
// opens, and whenever the editor adds a typed rate
// ("QMCustomSampleRatesUpdated").
#pragma once

#include "NotificationCenter.h"

#include <QDialog>
#include <QList>

class QLineEdit;
class QPushButton;
class QTableWidget;
class QUndoStack;
class UserDefaults;

class CustomRatesWindow : public QDialog {
    Q_OBJECT
public:
    explicit CustomRatesWindow(UserDefaults& defaults, QWidget* parent = nullptr);
    ~CustomRatesWindow() override;

    // The application's one window, created on first use and run modally.
    static void showShared(QWidget* parent, UserDefaults& defaults);

    // Reads the list from the defaults and forgets the edits' history.
    void reload();
    const QList<double>& customSampleRates() const { return m_rates; }
    QTableWidget* table() const { return m_table; }
    QUndoStack* undoStack() const { return m_undo; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    QDialog* addSheet() const { return m_addSheet; }
    QLineEdit* srTextField() const { return m_srField; }

    // The commands.
    void doAdd();
    void deleteSelected();
    void doOK();
    void doCancel();
    // A row edited in place.
    void editRow(int row, double value);

    // The undoable list operations (each reloads the table).
    void insertObject(double rate, int index);
    void deleteObject(double rate);
    void updateObject(double rate, int index);

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    class Command;
    void sheetDidEnd(int code);
    void reloadTable();
    void selectionChanged();
    QList<int> selectedRows() const;
    // Without undo: the operations' bodies.
    void rawInsert(double rate, int index);
    int rawDelete(double rate);
    int rawUpdate(double rate, int index);
    void sort();

    UserDefaults& m_defaults;
    QList<double> m_rates;
    bool m_isEditing = false;
    bool m_reloading = false;
    QTableWidget* m_table;
    QUndoStack* m_undo;
    QPushButton* m_addButton;
    QPushButton* m_deleteButton;
    QDialog* m_addSheet;
    QLineEdit* m_srField;
    NotificationCenter::Token m_observer = 0;
};
