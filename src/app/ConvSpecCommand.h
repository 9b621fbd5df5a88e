// One undoable change of the conversion list: a conversion inserted (undo
// removes it), removed (undo puts it back at its old row) or replaced by an
// edited copy (undo puts the old one back).  Commands are grouped per user
// command with QUndoStack macros named with the command's words.
#pragma once

#include "ConvSpec.h"

#include <QUndoCommand>

class MainController;

class ConvSpecCommand : public QUndoCommand {
public:
    enum Kind { Insert, Remove, Update };

    // Insert: `spec` at `index` (-1 appends).  Remove: `spec`.  Update:
    // `spec` takes the place of `previous`.
    ConvSpecCommand(MainController* controller, Kind kind, ConvSpecRef spec, int index = -1,
                    ConvSpecRef previous = nullptr, QUndoCommand* parent = nullptr);

    void redo() override;
    void undo() override;

private:
    MainController* m_controller;
    Kind m_kind;
    ConvSpecRef m_spec;
    ConvSpecRef m_previous;
    int m_index;
};
