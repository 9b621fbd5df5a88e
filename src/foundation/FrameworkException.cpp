#include "FrameworkException.h"

#include <utility>

FrameworkException::FrameworkException(std::string name, std::string reason)
    : name_(std::move(name)), reason_(std::move(reason))
{
}

FrameworkException::~FrameworkException() = default;

const char* FrameworkException::what() const noexcept
{
    return reason_.c_str();
}
