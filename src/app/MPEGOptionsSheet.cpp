#include "MPEGOptionsSheet.h"

#include "Localized.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace {
const QString kPaddingKey = QStringLiteral("Use MPEG Frame Padding");
}

MPEGOptionsSheet::MPEGOptionsSheet(QWidget* parent)
    : OptionSheet(parent, L("MPEG Options"))
{
    m_padding = new QCheckBox(L("Use frame padding"), this);
    m_padding->setObjectName(QStringLiteral("framePaddingCheckbox"));
    body()->addWidget(m_padding);
}

void MPEGOptionsSheet::load()
{
    const QVariant padding = convSpec()->specificsValue(kPaddingKey);
    m_padding->setChecked(!padding.isValid() || padding.toBool());
}

void MPEGOptionsSheet::store()
{
    convSpec()->setSpecificsValue(kPaddingKey, m_padding->isChecked());
    emit specificsConfirmed();
}
