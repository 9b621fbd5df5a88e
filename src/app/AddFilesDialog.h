// The add-files panel: a file dialog (Qt's own, not the desktop's) in which
// files and folders can be chosen together, with the prompt "Add".  A
// folder typed into the name field opens on Enter.
#pragma once

#include <QFileDialog>
#include <QStringList>

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
    // True when the name field, being edited, names a folder: it is opened.
    bool openTypedFolder();
    QStringList m_paths;
};
