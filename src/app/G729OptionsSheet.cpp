#include "G729OptionsSheet.h"

#include "Localized.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QGroupBox* Matrix(QWidget* parent, const char* title, QButtonGroup* group,
                  std::initializer_list<std::pair<int, const char*>> cells)
{
    auto* box = new QGroupBox(L(title), parent);
    auto* layout = new QVBoxLayout(box);
    for (const auto& [tag, text] : cells) {
        auto* button = new QRadioButton(L(text), box);
        group->addButton(button, tag);
        layout->addWidget(button);
    }
    return box;
}

void Select(QButtonGroup* group, int tag)
{
    if (QAbstractButton* button = group->button(tag))
        button->setChecked(true);
    else if (!group->buttons().isEmpty())
        group->buttons().first()->setChecked(true);
}

} // namespace

G729OptionsSheet::G729OptionsSheet(QWidget* parent)
    : OptionSheet(parent, L("G.729 Options")),
      m_data(new QButtonGroup(this)), m_file(new QButtonGroup(this)), m_header(new QButtonGroup(this))
{
    m_data->setObjectName(QStringLiteral("dataFormatMatrix"));
    m_file->setObjectName(QStringLiteral("fileFormatMatrix"));
    m_header->setObjectName(QStringLiteral("headerMatrix"));
    body()->addWidget(Matrix(this, "File format", m_file,
                             {{0, "Packed (10 bytes per frame)"}, {1, "Unpacked (16-bit words per bit)"}}));
    m_headerBox = Matrix(this, "Header", m_header, {{0, "No header"}, {1, "RIFF (WAVE) header"}});
    body()->addWidget(m_headerBox);
    m_dataBox = Matrix(this, "Data format", m_data, {{0, "Little-endian words"}, {1, "Big-endian words"}});
    body()->addWidget(m_dataBox);
    connect(m_file, &QButtonGroup::idClicked, this, &G729OptionsSheet::doFileFormatMatrix);
}

void G729OptionsSheet::doFileFormatMatrix()
{
    const bool unpacked = m_file->checkedId() != 0;
    m_dataBox->setEnabled(unpacked);
    m_headerBox->setEnabled(!unpacked);
}

void G729OptionsSheet::load()
{
    const unsigned char* block = convSpec()->fileTypeSpecifics();
    Select(m_data, block[0]);
    Select(m_file, block[1]);
    Select(m_header, block[2]);
    doFileFormatMatrix();
}

void G729OptionsSheet::store()
{
    unsigned char* block = convSpec()->fileTypeSpecifics();
    block[0] = static_cast<unsigned char>(std::max(0, m_data->checkedId()));
    block[1] = static_cast<unsigned char>(std::max(0, m_file->checkedId()));
    block[2] = static_cast<unsigned char>(std::max(0, m_header->checkedId()));
    emit specificsConfirmed();
}
