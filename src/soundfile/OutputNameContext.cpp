#include "OutputNameContext.h"

namespace {

thread_local std::string t_baseName;

} // namespace

OutputNameContext::OutputNameContext(const std::string& baseName) : previous_(t_baseName)
{
    t_baseName = baseName;
}

OutputNameContext::~OutputNameContext()
{
    t_baseName = previous_;
}

std::string OutputNameContext::CurrentBaseName()
{
    return t_baseName;
}
