#include "ConvSpecCommand.h"

#include "MainController.h"

ConvSpecCommand::ConvSpecCommand(MainController* controller, Kind kind, ConvSpecRef spec, int index,
                                 ConvSpecRef previous, QUndoCommand* parent)
    : QUndoCommand(parent), m_controller(controller), m_kind(kind), m_spec(std::move(spec)),
      m_previous(std::move(previous)), m_index(index)
{
}

void ConvSpecCommand::redo()
{
    switch (m_kind) {
    case Insert: m_controller->insertConvSpec(m_spec, m_index); break;
    case Remove: m_index = m_controller->deleteConvSpec(m_spec.get()); break;
    case Update: m_controller->updateConvSpec(m_previous.get(), m_spec); break;
    }
}

void ConvSpecCommand::undo()
{
    switch (m_kind) {
    case Insert: m_controller->deleteConvSpec(m_spec.get()); break;
    case Remove: m_controller->insertConvSpec(m_spec, m_index); break;
    case Update: m_controller->updateConvSpec(m_spec.get(), m_previous); break;
    }
}
