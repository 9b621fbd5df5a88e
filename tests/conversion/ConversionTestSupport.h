// Helpers shared by the conversion tests: a conversion that changes nothing
// but what a test asks for, running one through CConvSpec, inputs opened
// through the registries, tones made by sox, the files of an output folder,
// and a batch stopped while its worker is held at its first position.
#pragma once

#include "CSoundFile.h"
#include "ConvSpec.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

class ConversionProcess;

namespace convtest {

constexpr OSType kAIFF = FOUR_CHAR_CODE("AIFF");
constexpr OSType kWAVE = FOUR_CHAR_CODE("WAVE");
constexpr int kNoTreatment = -1;

// A conversion to `type` with every stage off; with a treatment other than
// kNoTreatment the channel treatment is on and set to it.
ConvSpecRef PlainConversion(OSType type, int treatment = kNoTreatment);

// A file-type dictionary entry with its text and whether it can be written.
QVariantMap TypeEntry(const QString& text, bool canBeWritten = true);

// Runs `spec` on `in` into `folder`, naming the input "Song".
SInt16 RunConversion(const ConvSpecRef& spec, CSoundFile* in, const QString& folder);

// Closes and deletes an input file when it goes.
struct InputCloser {
    void operator()(CSoundFile* f) const
    {
        if (f)
            f->CloseAndDelete(true);
    }
};
using InputPtr = std::unique_ptr<CSoundFile, InputCloser>;

// The file at `path`, its type detected, opened for reading.
InputPtr OpenInput(const QString& path);
// A split or surround set of `paths`, opened with `configuration`.
InputPtr OpenSet(OSType setType, OSType memberType, const QStringList& paths, SInt32 configuration);

// The 5.1 member indicators in channel order.
extern const QStringList kSurroundSuffixes;
// The sorted names `stem` + indicator + `ext` of a 5.1 set.
QStringList SurroundNames(const QString& stem, const QString& ext);
// Splits the six-channel `whole` into WAVE members `stem`.L.wav ... beside
// it (sox) and opens them as a 5.1 surround set.
InputPtr OpenSurroundSplit(const QString& whole, const QString& stem);

// Runs sox; false (and its standard error in `error`) when it fails.
bool Sox(const QStringList& args, QString* error = nullptr);
// One field of "sox --i" ("-c", "-r", "-b").
QString SoxInfo(const QString& path, const char* what);
// A sine tone per channel (`firstHz` + `stepHz` per channel) written by sox.
QString SoxTone(
    const QString& path, int channels, int bits, double rate, double seconds, int firstHz, int stepHz, double volume);

// The files below `folder`, relative to it and sorted; AppleDouble sidecars
// left out, links to folders listed rather than followed.
QStringList FilesBelow(const QString& folder);

// Records the progress notifications posted while it lives: the step
// counts, the frame counts and the step texts.
class ProgressRecord {
public:
    ProgressRecord();
    ~ProgressRecord();
    QList<int> steps;
    QList<qint64> frames;
    QStringList texts;

private:
    quint64 token_ = 0;
};

// Starts `process` on the batch and holds its worker at its first position
// notification; there it runs `whilePaused`, asks the process to stop and
// waits for it to end.
::testing::AssertionResult StopAtFirstPosition(ConversionProcess& process, const QStringList& inputs,
    const QList<ConvSpecRef>& conversions, const QString& out, const std::function<void()>& whilePaused = {});

}  // namespace convtest

#define SOX(...)                                                                                                       \
    do {                                                                                                               \
        QString soxError;                                                                                              \
        ASSERT_TRUE(convtest::Sox(QStringList{__VA_ARGS__}, &soxError)) << soxError.toStdString();                     \
    } while (0)
