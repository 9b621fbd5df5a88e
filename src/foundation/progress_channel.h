// Progress and cancel channel: the engine reports progress by posting named
// notifications on the process's default notification center, and learns of
// a cancel through the return value of the position and percentage posts.
//
// Every function may be called from any thread; observers run synchronously
// on the posting thread before the function returns.  The payload is the
// notification's object: a number, or a list in the order given below.
#pragma once

#include "MacTypes.h"

#include <QString>
#include <cstdint>

// Notification names.
inline const QString kProgressNumSampleFramesNotification = QStringLiteral("ProgressNumSampleFrames");
inline const QString kProgressPositionNotification = QStringLiteral("ProgressPosition");
inline const QString kProgressPercentageNotification = QStringLiteral("ProgressPercentage");
inline const QString kProgressNumChannelsNotification = QStringLiteral("ProgressNumChannels");
inline const QString kProgressChannelNotification = QStringLiteral("ProgressChannel");
inline const QString kProgressNumStepsNotification = QStringLiteral("ProgressNumSteps");
inline const QString kProgressStepNotification = QStringLiteral("ProgressStep");
inline const QString kProgressRegionNotification = QStringLiteral("ProgressRegion");

// The calling thread's dictionary keeps the last frame count under this key;
// the stop value is ThreadDictionary::kLastErrorKey ("ZuLastError").
inline const QString kNumberOfInputSamplesKey = QStringLiteral("ZuNumberOfInputSamples");

// Posts the frame count of the work that follows (a qlonglong), and keeps it
// in the calling thread's dictionary for GetNumberOfInputSamples.
void PostProgressNumSampleFrames(int64_t frames);
// Posts the number of channels processed one after another (int).
void PostProgressNumChannels(int count);
// Posts [channel counted from 1, channel count] (two ints).
void PostProgressChannel(int channel, int count);
// Posts the number of processing steps of the current file (int).
void PostProgressNumSteps(int count);
// Posts [step name, value]: the Pascal string read as Mac OS Roman, and the
// int passed through.  Never reports a cancel.
void PostProgressStep(ConstStr255Param name, int value);
// Posts [step name, value, extra] under the same name as PostProgressStep.
void PostProgressStepWithValue(ConstStr255Param name, int value, double extra);
// Posts [region name, start frame, end frame, index from 0, region count].
void PostProgressRegion(ConstStr255Param name, int64_t start, int64_t end, int index, int count);

// Post the position reached (a qlonglong) or the percentage done (int), then
// return the calling thread's stop value ("ZuLastError"): 0 when none is set,
// -128 after the user cancelled.  The value is narrowed to 16 bits; a
// non-zero value whose low 16 bits are 0 (65536, for example) is returned as
// ioErr (-36), never as 0, so that a failure is never taken for success.
OSErr PostProgressPosition(int64_t position);
OSErr PostProgressPercentage(int percent);

// The last count given to PostProgressNumSampleFrames on this thread; 0 when
// this thread never posted one.
int64_t GetNumberOfInputSamples();

// A warning about the output being written (a code of the error table's
// warning class), with what it is about in figures (`detail`, may be empty):
// kept in the calling thread's dictionary until the batch takes it with the
// file's outcome; the first one posted stays.
inline const QString kOutputWarningKey = QStringLiteral("QMOutputWarning");
void PostOutputWarning(int32_t code, const QString& detail = QString());
// The warning posted since the last call (0 when none) and its detail (when
// `detail` is given), and forgets them.
int32_t TakeOutputWarning(QString* detail = nullptr);

// Samples clipped to full scale while the calling thread converts a file:
// counted where a sample is finally saturated (a float input's samples
// decoded to integer words, a pass's doubles written to an output's words),
// and taken with the file's outcome.  The count is kept per thread and added
// to a block at a time; an input counts each of its frames once, however
// often it is read (CSoundFile::ClipCountStart).
void AddClippedSamples(uint64_t count);
// The samples counted since the last call, and forgets them.
uint64_t TakeClippedSamples();

// The 16-bit form of a stop value, as the two posts above return it.
OSErr NarrowStopCode(int64_t code);
