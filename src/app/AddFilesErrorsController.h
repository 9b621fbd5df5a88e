// The window that lists, after files were added, the paths that were not
// added, in titled groups (names already in the list; files not recognised
// as sound files).  A listed file's folder can be shown in the file
// manager, and the whole list saved as text.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QPushButton;
class QTreeWidget;
class UserDefaults;

class AddFilesErrorsController : public QDialog {
    Q_OBJECT
public:
    struct Group {
        QString description;
        QStringList paths;
    };

    AddFilesErrorsController(UserDefaults& defaults, QWidget* parent = nullptr);
    ~AddFilesErrorsController() override;

    // Empties the list.
    void reset();
    // Appends a group, shown expanded.
    void setPaths(const QStringList& paths, const QString& description);
    const QList<Group>& groups() const { return m_items; }

    // Per group: its title and "\n", one "\t" + path + "\n" per path, then
    // "\n".
    static QString textForGroups(const QList<Group>& groups);
    // Writes the text atomically; false (and *error) on failure.
    bool saveAsText(const QString& path, QString* error = nullptr) const;

    // Selects the row of `path` (tests and the keyboard use it).
    void selectPath(const QString& path);
    // Shows the folder of the selected path; nothing when a title (or
    // nothing) is selected.
    void openInFileManager();
    bool openInFileManagerEnabled() const;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void chooseFileAndSave();
    void selectionChanged();
    QString selectedPath() const;

    UserDefaults& m_defaults;
    QList<Group> m_items;
    QTreeWidget* m_table = nullptr;
    QPushButton* m_openButton = nullptr;
};
