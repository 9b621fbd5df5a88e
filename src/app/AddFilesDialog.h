// The add-files panel: a file dialog (Qt's own, not the desktop's) in which
// files and folders can be chosen together, with the prompt "Add".  A
// folder typed into the name field opens on Enter.
#pragma once

#include <QFileDialog>
#include <QStringList>

class QPushButton;

class AddFilesDialog : public QFileDialog {
    Q_OBJECT
public:
    explicit AddFilesDialog(QWidget* parent = nullptr);
    // The chosen files and folders after the dialog was accepted.
    const QStringList& chosenPaths() const { return m_paths; }

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void allowMultipleSelection();
    // The folder the name field names while it is being edited (Enter opens
    // it), else empty.
    QString typedFolder() const;
    // True when the name field names a folder: it is opened.
    bool openTypedFolder();
    // The accept button says what it does: "Add" (what is selected, files and
    // folders alike), or "Open" only for a typed folder.  It is a button of
    // ours in place of the dialog's own, which says "Open" whenever a folder
    // is among the selection; ours follows only its enabled state.
    void showAcceptLabel();
    bool eventFilter(QObject* watched, QEvent* event) override;
    QPushButton* m_acceptButton = nullptr;
    QPushButton* m_dialogsButton = nullptr;
    QStringList m_paths;
};
