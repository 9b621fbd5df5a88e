// The file-information view of the add-files panel: what the selection is
// and, for one playable sound file, one line per attribute that the
// resource "attributes" lists (a label and what to show: the name of a
// reader of the input model, or "specifics:" and a key of the file's
// specifics).  Each line is a bold label right-aligned at a tab stop, a
// colon and the value left-aligned at a second tab stop 8 points further;
// wrapped values indent to the value column.
//
// Readers are looked up by name in a table; a name the table does not know
// shows nothing (the line is skipped).
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>
#include <QTextEdit>
#include <QVariantList>

#include <memory>

class QFileDialog;
class QTextDocument;
class ZuSoundFile;

class SoundFileInfoViewController : public QObject {
    Q_OBJECT
public:
    using Line = QPair<QString, QString>;

    explicit SoundFileInfoViewController(QObject* parent = nullptr);
    ~SoundFileInfoViewController() override;

    // The text view, made here; whoever shows it owns it.
    QTextEdit* infoTextView() const { return m_view; }
    // Puts the view under the panel's file list and follows the panel's
    // current file.
    void attachTo(QFileDialog* panel);

    void setList(const QList<std::shared_ptr<ZuSoundFile>>& list) { m_list = list; }
    // Describes the list anew.
    void updateInfo();
    // Describes the file at `path` (empty: nothing selected).
    void showPath(const QString& path);

    const QList<Line>& info() const { return m_info; }
    // The label column's right edge (the value column is 8 points further).
    double labelColumnWidth() const { return m_tabWidth; }
    // The value a reader name gives for `file` (null: unknown name).
    static QString valueForName(const ZuSoundFile& file, const QString& name);
    // The attribute list as read from the resource.
    const QVariantList& attributes() const { return m_attributes; }
    void setAttributes(const QVariantList& attributes) { m_attributes = attributes; }

private:
    void setupInfo();
    void setupInfoForFile(const ZuSoundFile& file);
    void setInfoKey(const QString& key, const QString& value);
    void recalcTabStops();
    // The lines into the view.
    void render();

    QPointer<QTextEdit> m_view;
    QList<std::shared_ptr<ZuSoundFile>> m_list;
    QTextCharFormat m_textFormat;
    QTextCharFormat m_labelFormat;
    QVariantList m_attributes;
    QList<Line> m_info;
    double m_tabWidth = 0.0;
};
