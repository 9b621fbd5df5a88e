// A named exception with a reason text, raised by the playback side where a
// failure is reported as an exception rather than an error code.
#pragma once

#include <exception>
#include <string>

class FrameworkException : public std::exception {
public:
    FrameworkException(std::string name, std::string reason);
    ~FrameworkException() override;

    const std::string& name() const noexcept { return name_; }
    const std::string& reason() const noexcept { return reason_; }
    // The reason.
    const char* what() const noexcept override;

private:
    std::string name_;
    std::string reason_;
};
