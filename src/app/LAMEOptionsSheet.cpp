#include "LAMEOptionsSheet.h"

#include "ControlTools.h"
#include "EngineStartup.h"
#include "FullUserName.h"
#include "Localized.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>


namespace {

LAMEOptionsSheet::GenreSource gGenreSource;

bool Switch(const QVariantMap& s, const char* key, bool absent)
{
    const QVariant v = s.value(QLatin1String(key));
    return v.isValid() ? v.toBool() : absent;
}

int Integer(const QVariantMap& s, const char* key, int absent)
{
    const QVariant v = s.value(QLatin1String(key));
    return v.isValid() ? v.toInt() : absent;
}

QString Text(const QVariantMap& s, const char* key, const QString& absent)
{
    const QVariant v = s.value(QLatin1String(key));
    return v.isValid() ? v.toString() : absent;
}

} // namespace

using namespace ControlTools;

void LAMEOptionsSheet::setGenreSource(GenreSource source)
{
    gGenreSource = std::move(source);
}

LAMEOptionsSheet::LAMEOptionsSheet(QWidget* parent)
    : OptionSheet(parent, L("MP3 Encoder Options")), m_titleMode(new QButtonGroup(this)),
      m_mode(new QButtonGroup(this))
{
    auto* columns = new QHBoxLayout;
    body()->addLayout(columns);

    // Encoding.
    auto* encoding = new QGroupBox(L("Encoding"), this);
    auto* encodingLayout = new QVBoxLayout(encoding);
    AddRadioCell(m_mode, encodingLayout, 0, "Constant bit rate");
    AddRadioCell(m_mode, encodingLayout, 1, "Average bit rate");
    AddRadioCell(m_mode, encodingLayout, 2, "Variable bit rate");
    auto* form = new QFormLayout;
    m_quality = new QComboBox(encoding);
    m_quality->setObjectName(QStringLiteral("qualityPopup"));
    for (int i = 0; i <= 9; ++i)
        m_quality->addItem(i == 0 ? L("0 (best, slowest)") : i == 9 ? L("9 (worst, fastest)") : QString::number(i));
    form->addRow(L("Quality:"), m_quality);
    m_vbrQuality = new QComboBox(encoding);
    m_vbrQuality->setObjectName(QStringLiteral("vbrQualityPopup"));
    for (int i = 0; i <= 9; ++i)
        m_vbrQuality->addItem(i == 0 ? L("0 (highest bit rate)") : i == 9 ? L("9 (lowest bit rate)")
                                                                          : QString::number(i));
    m_vbrQualityLabel = new QLabel(L("VBR quality:"), encoding);
    form->addRow(m_vbrQualityLabel, m_vbrQuality);
    encodingLayout->addLayout(form);
    m_copyrighted = new QCheckBox(L("Copyrighted"), encoding);
    m_original = new QCheckBox(L("Original (not a copy)"), encoding);
    m_crc = new QCheckBox(L("Error protection (CRC)"), encoding);
    m_iso = new QCheckBox(L("Strict ISO compliance"), encoding);
    m_reservoir = new QCheckBox(L("Use bit reservoir"), encoding);
    m_copyrighted->setObjectName(QStringLiteral("copyrightedCheckbox"));
    m_original->setObjectName(QStringLiteral("originalCheckbox"));
    m_crc->setObjectName(QStringLiteral("crcCheckbox"));
    m_iso->setObjectName(QStringLiteral("isoCheckbox"));
    m_reservoir->setObjectName(QStringLiteral("bitReservoirCheckbox"));
    for (QCheckBox* box : {m_copyrighted, m_original, m_crc, m_iso, m_reservoir})
        encodingLayout->addWidget(box);
    encodingLayout->addStretch();
    columns->addWidget(encoding);

    // ID3 tags.
    auto* tags = new QGroupBox(L("ID3 tags"), this);
    auto* tagsLayout = new QVBoxLayout(tags);
    m_writeTags = new QCheckBox(L("Write ID3 tags"), tags);
    m_writeTags->setObjectName(QStringLiteral("writeID3TagsCheckbox"));
    tagsLayout->addWidget(m_writeTags);
    m_tagsBox = new QWidget(tags);
    auto* tagsForm = new QGridLayout(m_tagsBox);
    tagsForm->setContentsMargins(0, 0, 0, 0);
    auto* titleRow = new QHBoxLayout;
    AddRadioCell(m_titleMode, titleRow, 0, "Title from the input file's name");
    AddRadioCell(m_titleMode, titleRow, 1, "Title:");
    m_title = new QLineEdit(m_tagsBox);
    m_title->setObjectName(QStringLiteral("titleTextField"));
    titleRow->addWidget(m_title, 1);
    tagsForm->addLayout(titleRow, 0, 0, 1, 2);
    const char* names[] = {"Artist:", "Album:", "Track:", "Year:"};
    for (int i = 0; i < 4; ++i) {
        m_tags[i] = new QLineEdit(m_tagsBox);
        m_tags[i]->setObjectName(QStringLiteral("tagsFormCell%1").arg(i));
        if (i >= 2)
            m_tags[i]->setValidator(new QIntValidator(0, 9999, m_tags[i]));
        tagsForm->addWidget(new QLabel(L(names[i]), m_tagsBox), i + 1, 0);
        tagsForm->addWidget(m_tags[i], i + 1, 1);
    }
    m_commentLabel = new QLabel(L("Comment:"), m_tagsBox);
    m_comment = new QLineEdit(m_tagsBox);
    m_comment->setObjectName(QStringLiteral("commentTextField"));
    tagsForm->addWidget(m_commentLabel, 5, 0);
    tagsForm->addWidget(m_comment, 5, 1);
    tagsLayout->addWidget(m_tagsBox);
    m_genreLabel = new QLabel(L("Genre:"), tags);
    tagsLayout->addWidget(m_genreLabel);
    m_genreTable = new QListWidget(tags);
    m_genreTable->setObjectName(QStringLiteral("genreTable"));
    m_genreTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_genreTable->setMinimumHeight(140);
    tagsLayout->addWidget(m_genreTable, 1);
    // The rule the encoder follows, said where the values are typed.
    auto* inputTag = new QLabel(L("An mp3 input file that has an ID3v2 tag keeps its own tag: these values are "
                                  "written for the other input files."),
                                tags);
    inputTag->setObjectName(QStringLiteral("inputTagNote"));
    inputTag->setWordWrap(true);
    tagsLayout->addWidget(inputTag);
    columns->addWidget(tags, 1);

    connect(m_titleMode, &QButtonGroup::idClicked, this, &LAMEOptionsSheet::doTitleMatrix);
    connect(m_mode, &QButtonGroup::idClicked, this, &LAMEOptionsSheet::doVBRQualityMatrix);
    connect(m_writeTags, &QCheckBox::clicked, this, &LAMEOptionsSheet::doID3TagsCheckbox);
}

QString LAMEOptionsSheet::genreWithID(int id) const
{
    for (const QString& name : m_genres)
        if (m_genreDict.value(name).toInt() == id)
            return name;
    return QString();
}

void LAMEOptionsSheet::doTitleMatrix()
{
    m_title->setEnabled(m_writeTags->isChecked() && m_titleMode->checkedId() != 0);
}

void LAMEOptionsSheet::doVBRQualityMatrix()
{
    const bool vbr = m_mode->checkedId() == 2;
    m_vbrQuality->setEnabled(vbr);
    m_vbrQualityLabel->setEnabled(vbr);
}

void LAMEOptionsSheet::doID3TagsCheckbox()
{
    const bool on = m_writeTags->isChecked();
    m_tagsBox->setEnabled(on);
    m_genreLabel->setEnabled(on);
    m_commentLabel->setEnabled(on);
    // With tags off the genre list is greyed and keeps its selection.
    m_genreTable->setEnabled(on);
    doTitleMatrix();
}

void LAMEOptionsSheet::load()
{
    m_genreDict = gGenreSource ? gGenreSource() : EngineStartup::mp3EncoderGenres();
    m_genres = m_genreDict.keys();
    std::sort(m_genres.begin(), m_genres.end());
    m_genreTable->clear();
    m_genreTable->addItems(m_genres);

    const QVariantMap s = convSpec()->specifics();
    auto select = [](QButtonGroup* group, int tag) {
        if (QAbstractButton* button = group->button(tag))
            button->setChecked(true);
    };
    select(m_mode, Integer(s, "LAMEEncodingMode", 0));
    m_quality->setCurrentIndex(std::clamp(Integer(s, "LAMEQuality", 2), 0, m_quality->count() - 1));
    m_vbrQuality->setCurrentIndex(std::clamp(Integer(s, "LAMEVBRQuality", 4), 0, m_vbrQuality->count() - 1));
    m_copyrighted->setChecked(Switch(s, "LAMECopyrighted", false));
    // The encoder marks a copy only when told; so does an absent key.
    m_original->setChecked(!Switch(s, "LAMECopy", false));
    m_crc->setChecked(Switch(s, "LAMEUseCRC", false));
    m_iso->setChecked(Switch(s, "LAMEISOCompliant", false));
    m_reservoir->setChecked(Switch(s, "LAMEUseBitReservoir", true));
    m_writeTags->setChecked(Switch(s, "LAMEWriteID3Tags", true));
    select(m_titleMode, Switch(s, "LAMEUseInputFileNameAsTitle", true) ? 0 : 1);
    m_title->setText(Text(s, "LAMETitle", L("Title")));
    m_tags[0]->setText(Text(s, "LAMEArtist", NSFullUserName()));
    m_tags[1]->setText(Text(s, "LAMEAlbum", L("Album")));
    m_tags[2]->setText(Text(s, "LAMETrack", QStringLiteral("1")));
    m_tags[3]->setText(Text(s, "LAMEYear", QString::number(QDate::currentDate().year())));
    m_comment->setText(Text(s, "LAMEComment", QString()));

    m_genreTable->clearSelection();
    int row = -1;
    if (s.contains(QStringLiteral("LAMEGenre")))
        row = int(m_genres.indexOf(genreWithID(Integer(s, "LAMEGenre", -1))));
    else if (m_genres.size() > 1)
        row = 1;
    if (row >= 0) {
        m_genreTable->setCurrentRow(row);
        m_genreTable->scrollToItem(m_genreTable->item(row));
    } else {
        m_genreTable->setCurrentRow(-1);
    }

    doTitleMatrix();
    doVBRQualityMatrix();
    doID3TagsCheckbox();
}

void LAMEOptionsSheet::store()
{
    const ConvSpecRef& spec = convSpec();
    spec->setSpecificsValue(QStringLiteral("LAMEQuality"), m_quality->currentIndex());
    spec->setSpecificsValue(QStringLiteral("LAMEEncodingMode"), std::max(0, m_mode->checkedId()));
    spec->setSpecificsValue(QStringLiteral("LAMEVBRQuality"), m_vbrQuality->currentIndex());
    spec->setSpecificsValue(QStringLiteral("LAMECopyrighted"), m_copyrighted->isChecked());
    spec->setSpecificsValue(QStringLiteral("LAMECopy"), !m_original->isChecked());
    spec->setSpecificsValue(QStringLiteral("LAMEUseCRC"), m_crc->isChecked());
    spec->setSpecificsValue(QStringLiteral("LAMEISOCompliant"), m_iso->isChecked());
    spec->setSpecificsValue(QStringLiteral("LAMEUseBitReservoir"), m_reservoir->isChecked());
    spec->setSpecificsValue(QStringLiteral("LAMEWriteID3Tags"), m_writeTags->isChecked());
    if (m_writeTags->isChecked()) {
        spec->setSpecificsValue(QStringLiteral("LAMEUseInputFileNameAsTitle"), m_titleMode->checkedId() == 0);
        spec->setSpecificsValue(QStringLiteral("LAMETitle"), m_title->text());
        spec->setSpecificsValue(QStringLiteral("LAMEArtist"), m_tags[0]->text());
        spec->setSpecificsValue(QStringLiteral("LAMEAlbum"), m_tags[1]->text());
        spec->setSpecificsValue(QStringLiteral("LAMETrack"), m_tags[2]->text());
        spec->setSpecificsValue(QStringLiteral("LAMEYear"), m_tags[3]->text());
        // No genre selected: the earlier one stays.
        const QList<QListWidgetItem*> selected = m_genreTable->selectedItems();
        if (!selected.isEmpty())
            spec->setSpecificsValue(QStringLiteral("LAMEGenre"), m_genreDict.value(selected.first()->text()).toInt());
        spec->setSpecificsValue(QStringLiteral("LAMEComment"), m_comment->text());
    }
    emit specificsConfirmed();
}
