#include "OptionSheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

OptionSheet::OptionSheet(QWidget* parent, const QString& title) : QDialog(parent), m_body(new QVBoxLayout)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionSheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_body);
    layout->addWidget(buttons);
}

void OptionSheet::begin(const ConvSpecRef& spec)
{
    m_spec = spec;
    load();
    open();
}

void OptionSheet::accept()
{
    QDialog::accept();
    store();
}
