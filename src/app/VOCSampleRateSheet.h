// The sample rates a Creative Voice file can hold, 1000000 / d for whole
// divisors d, as a matrix of 21 rows and 10 columns filled column by
// column (row r, column c: d = 255 - 21c - r, so d runs from 255 down to
// 46).  Rates above 20000 Hz are left out.  OK hands the chosen rate on
// (sampleRateChosen); the editor makes it the conversion's and shows it.
#pragma once

#include "OptionSheet.h"

class QLabel;
class QTableWidget;

class VOCSampleRateSheet : public OptionSheet {
    Q_OBJECT
public:
    static constexpr int kRows = 21;
    static constexpr int kColumns = 10;

    explicit VOCSampleRateSheet(QWidget* parent);
    QTableWidget* sampleRateMatrix() const { return m_matrix; }
    double value() const { return m_value; }
    // The divisor of a cell.
    static int divisor(int row, int column) { return 255 - 21 * column - row; }
    // A click on a cell.
    void doMatrix(int row, int column);

signals:
    // OK chose `rate` for the conversion.
    void sampleRateChosen(double rate);

protected:
    void load() override;
    void store() override;

private:
    static QString format(double rate);
    QTableWidget* m_matrix;
    QLabel* m_selection;
    double m_value = 0;
};
