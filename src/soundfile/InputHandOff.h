// What a reader found opening a batch's input (its frames counted, its
// packets indexed), handed from the batch's first look at the file to the
// conversion of the same file, which takes it instead of finding it all
// again.  The conversion of one input file owns the hand-off (active on its
// thread while it lives); a reader keeps what it opened at its closing
// (Keep) and its next opening of the same file takes it back (Take): once,
// as the reader's own type, and only while the file is the one it was
// (device, inode, size, times of modification and change, asked of the
// file system at both ends).  With no hand-off on the thread, or for
// another path than its input's, nothing is kept.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

// What a reader keeps: a type of the reader's own, derived from this.
class OpenedInput {
public:
    virtual ~OpenedInput();
};

class InputHandOff {
public:
    explicit InputHandOff(std::string inputPath);
    ~InputHandOff();
    InputHandOff(const InputHandOff&) = delete;
    InputHandOff& operator=(const InputHandOff&) = delete;

    // Keeps `opened` for the next opening of `path` (the one kept before
    // goes now); false, and `opened` gone, where nothing can keep it.
    static bool Keep(const std::string& path, std::unique_ptr<OpenedInput> opened);
    // What was kept for `path` when it is a T and the file is unchanged
    // (null otherwise); given once.
    template <class T>
    static std::unique_ptr<T> Take(const std::string& path)
    {
        // Another reader's is left for it.
        if (!dynamic_cast<T*>(Kept(path)))
            return nullptr;
        std::unique_ptr<OpenedInput> kept = TakeKept(path);
        return std::unique_ptr<T>(static_cast<T*>(kept.release()));
    }

private:
    // What is kept for `path` (null: nothing), left kept.
    static OpenedInput* Kept(const std::string& path);
    static std::unique_ptr<OpenedInput> TakeKept(const std::string& path);

    std::string path_;
    struct stat st_ {};
    std::unique_ptr<OpenedInput> kept_;
    InputHandOff* outer_ = nullptr;
};
