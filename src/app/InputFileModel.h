// The input list as the input table shows it: one row per ZuSoundFile, the
// columns named by the identifiers the sort keys use.  Lives and is
// touched on the GUI thread only.
//
// The "playable" column shows a loudspeaker on the row the player is at
// (row 0 before there is a player): sounding while it plays, muted
// otherwise; its header shows the sounding one.
//
// The list keeps the last path components of its entries in a name set:
// two entries with the same last component never stand in the list
// together (the file adding checks this before inserting).
#pragma once

#include "SharedItemTableModel.h"
#include "ZuSoundFile.h"

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSet>
#include <QString>

#include <memory>

using ZuSoundFileRef = std::shared_ptr<ZuSoundFile>;

class InputFileModel : public SharedItemTableModel<ZuSoundFile, InputFileModel> {
    Q_OBJECT
public:
    enum Column { Playable, FileName, Size, FileType, SampleRate, Channels, Bits, Length, Regions, Timestamps,
                  ColumnCount };
    // The path of the row's file, for the file cell.
    static constexpr int PathRole = Qt::UserRole + 1;

    explicit InputFileModel(QObject* parent = nullptr);

    // The column identifiers the sort keys use; the file column's header
    // sums the list up.
    static constexpr const char* kColumnIdentifiers[] = {"playable", "filename", "size",    "fileType", "sampleRate",
                                                         "channels", "bits",     "length",  "regions",  "timestamps"};
    static constexpr int kSummaryColumn = FileName;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;

    const QList<ZuSoundFileRef>& files() const { return m_items; }
    ZuSoundFileRef fileAt(int row) const;
    bool containsName(const QString& lastComponent) const { return m_names.contains(lastComponent); }
    static QString lastComponent(const ZuSoundFile& file);

    // index -1 appends; an index past the end appends too.
    void insertFile(const ZuSoundFileRef& file, int index);
    // The row the file stood at, -1 when it was not listed.
    int removeFile(const ZuSoundFile* file);

    // Sorts by ZuSoundFile's class-wide key and direction (stable).
    void sortFiles();

    // The player's row (-1: none) and whether it plays.
    void setPlayState(int row, bool playing);
    int playRow() const { return m_playRow; }
    bool playing() const { return m_playing; }

    int folderCount() const;
    // "Input: %d File%s, %d Folder%s"
    QString summary() const;

    // File URLs dropped on the table go to filesDropped.
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;

signals:
    // Paths dropped on the table (file names from the file manager).
    void filesDropped(const QStringList& paths);

private:
    QSet<QString> m_names;
    QIcon m_fileIcon;
    QIcon m_folderIcon;
    QPixmap m_playingImage;
    QPixmap m_mutedImage;
    int m_playRow = 0;
    bool m_playing = false;
};
