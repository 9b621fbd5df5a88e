// Options of MP3 output through the LAME encoder: encoding mode, quality,
// flags and the ID3 tag values, kept in the conversion's specifics under
// the "LAME..." keys that the MP3 writer reads.  The genre list is the
// encoder's own (asked for each time the sheet opens).
#pragma once

#include "OptionSheet.h"

#include <QStringList>
#include <QVariantMap>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

class LAMEOptionsSheet : public OptionSheet {
    Q_OBJECT
public:
    using GenreSource = std::function<QVariantMap()>;

    explicit LAMEOptionsSheet(QWidget* parent);

    // Where the genre table comes from (tests); empty: the encoder's.
    static void setGenreSource(GenreSource source);

    // The name of genre number `id` (empty when the table has none).
    QString genreWithID(int id) const;
    const QStringList& genres() const { return m_genres; }

    QButtonGroup* encodingModeMatrix() const { return m_mode; }
    QButtonGroup* titleMatrix() const { return m_titleMode; }
    QComboBox* qualityPopup() const { return m_quality; }
    QComboBox* vbrQualityPopup() const { return m_vbrQuality; }
    QCheckBox* writeID3TagsCheckbox() const { return m_writeTags; }
    QCheckBox* originalCheckbox() const { return m_original; }
    QListWidget* genreTable() const { return m_genreTable; }
    QLineEdit* titleTextField() const { return m_title; }
    // Cell 0 artist, 1 album, 2 track, 3 year.
    QLineEdit* tagsFormCell(int tag) const { return m_tags[tag]; }

protected:
    void load() override;
    void store() override;

private:
    void doTitleMatrix();
    void doVBRQualityMatrix();
    void doID3TagsCheckbox();

    QVariantMap m_genreDict;
    QStringList m_genres;
    QButtonGroup* m_titleMode;
    QLineEdit* m_title;
    QLineEdit* m_tags[4];
    QListWidget* m_genreTable;
    QLabel* m_genreLabel;
    QLineEdit* m_comment;
    QLabel* m_commentLabel;
    QButtonGroup* m_mode;
    QCheckBox* m_copyrighted;
    // Shows the frames' original bit: ticked, the stored "LAMECopy" (the
    // encoder's mark of a copy) is off.
    QCheckBox* m_original;
    QCheckBox* m_crc;
    QCheckBox* m_iso;
    QCheckBox* m_reservoir;
    QComboBox* m_vbrQuality;
    QLabel* m_vbrQualityLabel;
    QComboBox* m_quality;
    QCheckBox* m_writeTags;
    QWidget* m_tagsBox;
};
