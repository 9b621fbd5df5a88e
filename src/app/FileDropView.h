// A well that takes one dropped file or folder: it shows an icon and a
// name, highlights itself while an acceptable item is dragged over it, and
// on a drop posts "ZuFileDropViewNotification" on the default notification
// center with the dropped path as the object (and this view as the
// sender).  The output-folder well accepts folders only and notifies only.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QWidget>

class FileDropView : public QWidget {
    Q_OBJECT
public:
    explicit FileDropView(QWidget* parent = nullptr);

    bool acceptsDirectories() const { return m_acceptsDirectories; }
    void setAcceptsDirectories(bool accepts) { m_acceptsDirectories = accepts; }
    bool acceptsFiles() const { return m_acceptsFiles; }
    void setAcceptsFiles(bool accepts) { m_acceptsFiles = accepts; }
    // File name extensions (without the dot) or HFS types in text form;
    // empty accepts every file.
    const QStringList& acceptableTypes() const { return m_acceptableTypes; }
    void setAcceptableTypes(const QStringList& types) { m_acceptableTypes = types; }
    bool onlyNotifyOnDrop() const { return m_onlyNotifyOnDrop; }
    void setOnlyNotifyOnDrop(bool only) { m_onlyNotifyOnDrop = only; }
    bool fullPath() const { return m_fullPath; }
    void setFullPath(bool full) { m_fullPath = full; update(); }
    bool dragSessionInProgress() const { return m_dragSessionInProgress; }

    const QString& filename() const { return m_filename; }
    void setFilename(const QString& name) { m_filename = name; update(); }
    void setIcon(const QIcon& icon) { m_icon = icon; update(); }

    // Whether `path` may be dropped here.
    bool accepts(const QString& path) const;
    // A drop of `path`: what a real drop does.  False when not accepted.
    bool dropPath(const QString& path);

    QSize sizeHint() const override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_acceptsDirectories = false;
    bool m_acceptsFiles = false;
    QStringList m_acceptableTypes;
    bool m_onlyNotifyOnDrop = false;
    bool m_fullPath = false;
    bool m_dragSessionInProgress = false;
    QString m_filename;
    QIcon m_icon;
};
