// The layout of G.729 output, in bytes 0 to 2 of the per-type block: the
// data format (1 big-endian words, 0 little-endian), the file format
// (0 packed, 1 unpacked) and the header (1 RIFF, 0 none).  The header
// applies to the packed layout, the data format to the unpacked one.
#pragma once

#include "OptionSheet.h"

class QButtonGroup;
class QGroupBox;

class G729OptionsSheet : public OptionSheet {
    Q_OBJECT
public:
    explicit G729OptionsSheet(QWidget* parent);
    // The three choices; a button's id is its tag.
    QButtonGroup* dataFormatMatrix() const { return m_data; }
    QButtonGroup* fileFormatMatrix() const { return m_file; }
    QButtonGroup* headerMatrix() const { return m_header; }

protected:
    void load() override;
    void store() override;

private:
    void doFileFormatMatrix();
    QButtonGroup* m_data;
    QButtonGroup* m_file;
    QButtonGroup* m_header;
    QGroupBox* m_dataBox;
    QGroupBox* m_headerBox;
};
