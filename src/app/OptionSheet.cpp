#include "OptionSheet.h"

#include "ControlTools.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

OptionSheet::OptionSheet(QWidget* parent, const QString& title) : QDialog(parent), m_body(new QVBoxLayout)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    m_buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &OptionSheet::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &OptionSheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_body);
    layout->addWidget(m_buttons);
    ControlTools::ReserveTitleBarWidth(this);
}

void OptionSheet::begin(const ConvSpecRef& spec)
{
    m_spec = spec;
    load();
    // The buttons were made before the fields: the first field the user can
    // tab to (of radio buttons, the one on) takes the focus, not OK or Cancel.
    for (QWidget* widget = nextInFocusChain(); widget != this; widget = widget->nextInFocusChain()) {
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisibleTo(this) &&
            !m_buttons->isAncestorOf(widget) && !(button && button->autoExclusive() && !button->isChecked())) {
            widget->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    open();
}

void OptionSheet::accept()
{
    QDialog::accept();
    store();
}
