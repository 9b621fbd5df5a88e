// One undoable change of the input list: a file inserted (undo removes it)
// or a file removed (undo puts it back at its old row).  Commands are
// grouped per user command with QUndoStack macros ("Add File(s)", "Remove
// File(s)", "Remove All Files").
#pragma once

#include "ZuSoundFile.h"

#include <QUndoCommand>

#include <memory>

class MainController;

class InputFileCommand : public QUndoCommand {
public:
    enum Kind { Insert, Remove };

    // Insert: at `index` (-1 appends).  Remove: `index` is ignored.
    InputFileCommand(MainController* controller, Kind kind, std::shared_ptr<ZuSoundFile> file, int index = -1,
                     QUndoCommand* parent = nullptr);

    void redo() override;
    void undo() override;

private:
    MainController* m_controller;
    Kind m_kind;
    std::shared_ptr<ZuSoundFile> m_file;
    int m_index;
};
