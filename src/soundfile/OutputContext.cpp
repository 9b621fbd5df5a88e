#include "OutputContext.h"

namespace {

thread_local std::shared_ptr<const OutputContext> t_context;

} // namespace

OutputContextScope::OutputContextScope(OutputContext context) : previous_(t_context)
{
    t_context = std::make_shared<const OutputContext>(std::move(context));
}

OutputContextScope::~OutputContextScope()
{
    t_context = previous_;
}

std::shared_ptr<const OutputContext> OutputContextScope::Current()
{
    return t_context;
}

const OutputContext& OutputContextScope::Empty()
{
    static const OutputContext empty;
    return empty;
}
