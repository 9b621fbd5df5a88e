#include "CustomRatesWindow.h"

#include "ControlTools.h"
#include "ConversionEditor.h"
#include "Localized.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

const QString kCustomRatesKey = PreferenceKeys::kCustomSampleRates;

} // namespace

// One undoable step: what to do and what undoes it.
class CustomRatesWindow::Command : public QUndoCommand {
public:
    Command(const QString& text, std::function<void()> redo, std::function<void()> undo)
        : m_redo(std::move(redo)), m_undo(std::move(undo))
    {
        setText(text);
    }
    void redo() override { m_redo(); }
    void undo() override { m_undo(); }

private:
    std::function<void()> m_redo;
    std::function<void()> m_undo;
};

CustomRatesWindow::CustomRatesWindow(UserDefaults& defaults, QWidget* parent)
    : QDialog(parent), m_defaults(defaults), m_undo(new QUndoStack(this))
{
    setObjectName(QStringLiteral("CustomSampleRates"));
    setWindowTitle(L("Custom Sample Rates"));
    m_table = new QTableWidget(0, 1, this);
    m_table->setObjectName(QStringLiteral("csrTableView"));
    m_table->setHorizontalHeaderLabels({L("Sample rate (Hz)")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_addButton = new QPushButton(L("Add..."), this);
    m_deleteButton = new QPushButton(L("Delete"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ControlTools::LayOutOverButtonRow(this, m_table, 1, {m_addButton, m_deleteButton}, {buttons});
    ControlTools::ReserveTitleBarWidth(this);

    // The add/edit sheet.
    m_addSheet = new QDialog(this);
    m_addSheet->setWindowModality(Qt::WindowModal);
    m_addSheet->setWindowTitle(L("Custom Sample Rate"));
    m_srField = new QLineEdit(m_addSheet);
    m_srField->setObjectName(QStringLiteral("srTextField"));
    auto* validator = new QDoubleValidator(0.0, 10000000.0, 6, m_srField);
    validator->setLocale(QLocale::c());
    validator->setNotation(QDoubleValidator::StandardNotation);
    m_srField->setValidator(validator);
    auto* sheetButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, m_addSheet);
    auto* sheetLayout = new QVBoxLayout(m_addSheet);
    sheetLayout->addWidget(new QLabel(L("Sample rate (Hz):"), m_addSheet));
    sheetLayout->addWidget(m_srField);
    sheetLayout->addWidget(sheetButtons);
    ControlTools::ReserveTitleBarWidth(m_addSheet);
    connect(sheetButtons, &QDialogButtonBox::accepted, m_addSheet, &QDialog::accept);
    connect(sheetButtons, &QDialogButtonBox::rejected, m_addSheet, &QDialog::reject);
    connect(m_addSheet, &QDialog::finished, this, &CustomRatesWindow::sheetDidEnd);

    connect(m_addButton, &QPushButton::clicked, this, &CustomRatesWindow::doAdd);
    connect(m_deleteButton, &QPushButton::clicked, this, &CustomRatesWindow::deleteSelected);
    connect(buttons, &QDialogButtonBox::accepted, this, &CustomRatesWindow::doOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &CustomRatesWindow::doCancel);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] { doAdd(); });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CustomRatesWindow::selectionChanged);
    connect(m_table, &QTableWidget::cellChanged, this, [this](int r, int) {
        if (m_reloading)
            return;
        bool ok = false;
        const double value = m_table->item(r, 0)->text().toDouble(&ok);
        if (ok)
            editRow(r, value);
        else
            reloadTable();
    });
    m_observer = NotificationCenter::defaultCenter().addObserver(QStringLiteral("QMCustomSampleRatesUpdated"),
                                                                 nullptr, [this](const Notification&) { reload(); });
    reload();
}

CustomRatesWindow::~CustomRatesWindow()
{
    NotificationCenter::defaultCenter().removeObserver(m_observer);
}

void CustomRatesWindow::showShared(QWidget* parent, UserDefaults& defaults)
{
    static QPointer<CustomRatesWindow> window;
    if (!window)
        window = new CustomRatesWindow(defaults, parent);
    window->exec();
}

void CustomRatesWindow::showEvent(QShowEvent* event)
{
    // Every opening starts from what is stored.
    reload();
    QDialog::showEvent(event);
}

void CustomRatesWindow::reload()
{
    m_rates.clear();
    for (const QVariant& v : m_defaults.arrayForKey(kCustomRatesKey)) {
        bool ok = false;
        const double rate = v.toDouble(&ok);
        if (ok)
            m_rates.append(rate);
    }
    m_undo->clear();
    reloadTable();
}

void CustomRatesWindow::reloadTable()
{
    m_reloading = true;
    m_table->setRowCount(int(m_rates.size()));
    for (int r = 0; r < m_rates.size(); ++r)
        m_table->setItem(r, 0, new QTableWidgetItem(ConversionEditor::formatRate(m_rates[r])));
    m_reloading = false;
    selectionChanged();
}

QList<int> CustomRatesWindow::selectedRows() const
{
    return ControlTools::SortedSelectedRows(m_table);
}

void CustomRatesWindow::selectionChanged()
{
    const qsizetype count = selectedRows().size();
    m_deleteButton->setEnabled(count >= 1);
    m_addButton->setEnabled(count < 2);
    m_addButton->setText(count == 0 ? L("Add...") : L("Edit..."));
}

void CustomRatesWindow::doAdd()
{
    const QList<int> rows = selectedRows();
    if (rows.size() >= 2)
        return;
    if (rows.isEmpty()) {
        m_srField->clear();
        m_isEditing = false;
    } else {
        m_srField->setText(ConversionEditor::formatRate(m_rates[rows.first()]));
        m_isEditing = true;
    }
    m_addSheet->open();
}

void CustomRatesWindow::sheetDidEnd(int code)
{
    if (code != QDialog::Accepted)
        return;
    bool ok = false;
    const double value = QLocale::c().toDouble(m_srField->text().trimmed(), &ok);
    if (!ok || value <= 0)
        return;
    const QList<int> rows = selectedRows();
    if (m_isEditing && !rows.isEmpty())
        updateObject(value, rows.first());
    else
        insertObject(value, -1);
}

void CustomRatesWindow::editRow(int row, double value)
{
    if (row >= 0 && row < m_rates.size())
        updateObject(value, row);
}

void CustomRatesWindow::deleteSelected()
{
    QList<double> numbers;
    for (int row : selectedRows())
        numbers.append(m_rates[row]);
    for (double rate : numbers)
        deleteObject(rate);
}

void CustomRatesWindow::doOK()
{
    QVariantList list;
    for (double rate : m_rates)
        list.append(rate);
    m_defaults.setObject(kCustomRatesKey, list);
    NotificationCenter::defaultCenter().postNotification(QStringLiteral("QMUpdatedCustomSampleRates"), QVariant(),
                                                         this);
    done(QDialog::Accepted);
}

void CustomRatesWindow::doCancel()
{
    done(QDialog::Rejected);
}

void CustomRatesWindow::reject()
{
    doCancel();
}

// ------------------------------------------------------ list operations

void CustomRatesWindow::sort()
{
    std::sort(m_rates.begin(), m_rates.end(), std::greater<double>());
}

void CustomRatesWindow::rawInsert(double rate, int index)
{
    if (index < 0 || index > m_rates.size())
        m_rates.append(rate);
    else
        m_rates.insert(index, rate);
    sort();
    reloadTable();
}

int CustomRatesWindow::rawDelete(double rate)
{
    const int index = int(m_rates.indexOf(rate));
    if (index >= 0) {
        m_rates.removeAt(index);
        m_table->clearSelection();
        reloadTable();
    }
    return index;
}

int CustomRatesWindow::rawUpdate(double rate, int index)
{
    if (index < 0 || index >= m_rates.size())
        return -1;
    const bool wasSelected = m_table->selectionModel()->isRowSelected(index, QModelIndex());
    m_rates[index] = rate;
    sort();
    const int newIndex = int(m_rates.indexOf(rate));
    reloadTable();
    // The selection moves with the value.
    if (newIndex != index) {
        const bool newWasSelected = m_table->selectionModel()->isRowSelected(newIndex, QModelIndex());
        auto select = [this](int row, bool on) {
            m_table->selectionModel()->select(m_table->model()->index(row, 0),
                                              (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                                  QItemSelectionModel::Rows);
        };
        select(newIndex, wasSelected);
        select(index, newWasSelected);
    }
    return newIndex;
}

void CustomRatesWindow::insertObject(double rate, int index)
{
    m_undo->push(new Command(
        L("Add Custom Sample Rate"), [this, rate, index] { rawInsert(rate, index); },
        [this, rate] { rawDelete(rate); }));
}

void CustomRatesWindow::deleteObject(double rate)
{
    const int index = int(m_rates.indexOf(rate));
    if (index < 0)
        return;
    m_undo->push(new Command(
        L("Delete Custom Sample Rate(s)"), [this, rate] { rawDelete(rate); },
        [this, rate, index] { rawInsert(rate, index); }));
}

void CustomRatesWindow::updateObject(double rate, int index)
{
    if (index < 0 || index >= m_rates.size())
        return;
    const double old = m_rates[index];
    auto newIndex = std::make_shared<int>(-1);
    m_undo->push(new Command(
        L("Edit Custom Sample Rate"), [this, rate, index, newIndex] { *newIndex = rawUpdate(rate, index); },
        [this, old, newIndex] { rawUpdate(old, *newIndex); }));
}
