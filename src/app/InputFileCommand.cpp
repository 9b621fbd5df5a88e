#include "InputFileCommand.h"

#include "MainController.h"

InputFileCommand::InputFileCommand(MainController* controller, Kind kind, std::shared_ptr<ZuSoundFile> file,
                                   int index, QUndoCommand* parent)
    : QUndoCommand(parent), m_controller(controller), m_kind(kind), m_file(std::move(file)), m_index(index)
{
}

void InputFileCommand::redo()
{
    if (m_kind == Insert)
        m_controller->insertFile(m_file, m_index);
    else
        m_index = m_controller->deleteFile(m_file.get());
}

void InputFileCommand::undo()
{
    if (m_kind == Insert)
        m_controller->deleteFile(m_file.get());
    else
        m_controller->insertFile(m_file, m_index);
}
