// A batch log (".qlg") as a document window: opened from the batch's end,
// from the command line and the file manager, edited as plain text in a
// fixed-pitch font, saved and printed.
//
// Logs are UTF-8.  A file that is not valid UTF-8 opens with replacement
// characters where its bytes do not decode; since saving would lose those
// bytes, such a document is never saved over its file: Save asks for a new
// name.  A file that cannot be read opens no window.  Printing prints the
// text as it is in the window now.
#pragma once

#include <QMainWindow>
#include <QString>

class QPlainTextEdit;
class QPrinter;

class LogDocument : public QMainWindow {
    Q_OBJECT
public:
    explicit LogDocument(QWidget* parent = nullptr);

    // Reads `path`; false (and *error) when it cannot be read.
    bool load(const QString& path, QString* error = nullptr);
    const QString& path() const { return m_path; }
    // Some bytes of the file were not UTF-8.
    bool lossyLoad() const { return m_lossy; }

    QString text() const;
    void setText(const QString& text);
    bool isEdited() const;
    QPlainTextEdit* textView() const { return m_view; }

    // Save: over the file, or through a save panel for a new document or a
    // lossy load.  saveTo writes `path` (atomically) and makes it the
    // document's file.
    void save();
    void saveAs();
    bool saveTo(const QString& path, QString* error = nullptr);

    // Prints the current text in Courier 9 on `printer`; with the panel,
    // the print dialog asks first.
    void printTo(QPrinter* printer) const;
    void printShowingPrintPanel(bool showPanels);

protected:
    // An edited document asks whether to save.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateTitle();

    QPlainTextEdit* m_view = nullptr;
    QString m_path;
    bool m_lossy = false;
};
