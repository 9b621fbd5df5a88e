#include "VOCSampleRateSheet.h"

#include "Localized.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

VOCSampleRateSheet::VOCSampleRateSheet(QWidget* parent)
    : OptionSheet(parent, L("VOC Sample Rates"))
{
    m_matrix = new QTableWidget(kRows, kColumns, this);
    m_matrix->setObjectName(QStringLiteral("sampleRateMatrix"));
    m_matrix->horizontalHeader()->hide();
    m_matrix->verticalHeader()->hide();
    m_matrix->setSelectionMode(QAbstractItemView::SingleSelection);
    m_matrix->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_matrix->horizontalHeader()->setDefaultSectionSize(76);
    m_matrix->verticalHeader()->setDefaultSectionSize(20);
    m_matrix->setMinimumSize(kColumns * 76 + 4, kRows * 20 + 4);
    m_selection = new QLabel(this);
    m_selection->setObjectName(QStringLiteral("selectionTextField"));
    body()->addWidget(m_matrix);
    body()->addWidget(m_selection);
    connect(m_matrix, &QTableWidget::cellClicked, this, &VOCSampleRateSheet::doMatrix);
}

QString VOCSampleRateSheet::format(double rate)
{
    return QString::number(rate, 'f', 2);
}

void VOCSampleRateSheet::load()
{
    m_value = convSpec()->sampleRate();
    m_selection->setText(format(m_value));
    m_matrix->clearSelection();
    for (int column = 0; column < kColumns; ++column)
        for (int row = 0; row < kRows; ++row) {
            const double rate = 1000000.0 / divisor(row, column);
            auto* cell = new QTableWidgetItem(rate > 20000.0 ? QString() : format(rate));
            if (rate > 20000.0)
                cell->setFlags(Qt::NoItemFlags);
            m_matrix->setItem(row, column, cell);
            if (rate <= 20000.0 && std::fabs(rate - m_value) < 0.5)
                m_matrix->setCurrentCell(row, column);
        }
}

void VOCSampleRateSheet::doMatrix(int row, int column)
{
    const QTableWidgetItem* cell = m_matrix->item(row, column);
    bool ok = false;
    const double rate = cell ? cell->text().toDouble(&ok) : 0.0;
    if (!ok)
        return;
    m_value = rate;
    m_selection->setText(format(rate));
}

void VOCSampleRateSheet::store()
{
    emit sampleRateChosen(m_value);
}
