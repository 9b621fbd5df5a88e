// A copy of a file with every pair of bytes exchanged (a 16-bit byte-order
// change), e.g. for codecs that read big-endian words from a little-endian
// file.
#pragma once

#include <QString>

class ByteSwapper {
public:
    ByteSwapper(const QString& inputPath, const QString& outputPath);

    // Writes the swapped copy; an odd last byte is copied unchanged.  The
    // output may be the input itself (swapped in place), an empty file that
    // the caller reserved (a temporary file), or a new name (written under
    // a temporary name and then renamed, never replacing anything).  False
    // when the input is missing or not a file, when the output is some other
    // existing file, and when any read or write fails.
    bool swapBytes();

    const QString& inputPath() const { return inPath_; }
    const QString& outputPath() const { return outPath_; }

private:
    QString inPath_;
    QString outPath_;
};
