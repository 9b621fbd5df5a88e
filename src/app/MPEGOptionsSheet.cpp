#include "MPEGOptionsSheet.h"

#include "ConversionEditor.h"
#include "Localized.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace {
const QString kPaddingKey = QStringLiteral("Use MPEG Frame Padding");
}

MPEGOptionsSheet::MPEGOptionsSheet(ConversionEditor* owner)
    : OptionSheet(owner, L("MPEG Options"))
{
    m_padding = new QCheckBox(L("Use frame padding"), this);
    m_padding->setObjectName(QStringLiteral("framePaddingCheckbox"));
    body()->addWidget(m_padding);
}

void MPEGOptionsSheet::load()
{
    const QVariant padding = owner()->convSpec()->specificsValue(kPaddingKey);
    m_padding->setChecked(!padding.isValid() || padding.toBool());
}

void MPEGOptionsSheet::store()
{
    owner()->convSpec()->setSpecificsValue(kPaddingKey, m_padding->isChecked());
    owner()->setFileTypeSpecificsValid(true);
}
