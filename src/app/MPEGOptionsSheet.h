// Options of MPEG Layer I and II output: frame padding, kept in the
// conversion's specifics as "Use MPEG Frame Padding" (on when absent).
#pragma once

#include "OptionSheet.h"

class QCheckBox;

class MPEGOptionsSheet : public OptionSheet {
    Q_OBJECT
public:
    explicit MPEGOptionsSheet(QWidget* parent);
    QCheckBox* framePaddingCheckbox() const { return m_padding; }

protected:
    void load() override;
    void store() override;

private:
    QCheckBox* m_padding;
};
