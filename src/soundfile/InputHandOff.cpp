#include "InputHandOff.h"

#include <utility>

namespace {

thread_local InputHandOff* tCurrent = nullptr;

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

} // namespace

OpenedInput::~OpenedInput() = default;

InputHandOff::InputHandOff(std::string inputPath) : path_(std::move(inputPath)), outer_(tCurrent)
{
    tCurrent = this;
}

InputHandOff::~InputHandOff()
{
    kept_.reset();
    tCurrent = outer_;
}

bool InputHandOff::Keep(const std::string& path, std::unique_ptr<OpenedInput> opened)
{
    InputHandOff* handOff = tCurrent;
    struct stat st {};
    if (!handOff || !opened || path != handOff->path_ || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // The one kept before goes now, not with the hand-off.
    handOff->kept_.reset();
    handOff->kept_ = std::move(opened);
    handOff->st_ = st;
    return true;
}

OpenedInput* InputHandOff::Kept(const std::string& path)
{
    InputHandOff* handOff = tCurrent;
    return handOff && path == handOff->path_ ? handOff->kept_.get() : nullptr;
}

std::unique_ptr<OpenedInput> InputHandOff::TakeKept(const std::string& path)
{
    InputHandOff* handOff = tCurrent;
    if (!handOff || !handOff->kept_ || path != handOff->path_)
        return nullptr;
    std::unique_ptr<OpenedInput> kept = std::move(handOff->kept_);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !SameFile(st, handOff->st_))
        return nullptr;
    return kept;
}
