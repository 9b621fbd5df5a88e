// The name the outputs made on this thread will be published under, while
// an object of this class lives: the pipeline opens one around the making
// of an output, and every sound file made meanwhile (a set's members and a
// coded file's inner file too) keeps that base name.  A format that stores
// its own name in the file stores the final name then, not the temporary
// one (CSoundFile::GetStoredFileNameString).
//
//   OutputNameContext context("Song");
//   ... make the output object, name and create it ...
#pragma once

#include <string>

class OutputNameContext {
public:
    explicit OutputNameContext(const std::string& baseName);
    ~OutputNameContext();
    OutputNameContext(const OutputNameContext&) = delete;
    OutputNameContext& operator=(const OutputNameContext&) = delete;

    // The base name of the innermost context on this thread; empty with none.
    static std::string CurrentBaseName();

private:
    std::string previous_;
};
