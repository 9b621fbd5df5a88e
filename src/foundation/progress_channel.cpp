#include "progress_channel.h"

#include "MacRoman.h"
#include "NotificationCenter.h"
#include "ThreadDictionary.h"

#include <QVariantList>

namespace {

void post(const QString& name, const QVariant& object)
{
    NotificationCenter::defaultCenter().postNotification(name, object);
}

QString stepName(ConstStr255Param name)
{
    return MacRoman::fromPascal(name, sizeof(Str255));
}

OSErr currentStopCode()
{
    const auto code = ThreadDictionary::current().lastError();
    return code ? NarrowStopCode(*code) : noErr;
}

}  // namespace

OSErr NarrowStopCode(int64_t code)
{
    if (code == 0)
        return noErr;
    const auto narrowed = static_cast<OSErr>(static_cast<uint16_t>(static_cast<uint64_t>(code) & 0xFFFFu));
    return narrowed != 0 ? narrowed : ioErr;
}

void PostProgressNumSampleFrames(int64_t frames)
{
    const QVariant number(static_cast<qlonglong>(frames));
    post(kProgressNumSampleFramesNotification, number);
    ThreadDictionary::current().setValue(kNumberOfInputSamplesKey, number);
}

void PostProgressNumChannels(int count)
{
    post(kProgressNumChannelsNotification, QVariant(count));
}

void PostProgressChannel(int channel, int count)
{
    post(kProgressChannelNotification, QVariantList{channel, count});
}

void PostProgressNumSteps(int count)
{
    post(kProgressNumStepsNotification, QVariant(count));
}

void PostProgressStep(ConstStr255Param name, int value)
{
    post(kProgressStepNotification, QVariantList{stepName(name), value});
}

void PostProgressStepWithValue(ConstStr255Param name, int value, double extra)
{
    post(kProgressStepNotification, QVariantList{stepName(name), value, extra});
}

void PostProgressRegion(ConstStr255Param name, int64_t start, int64_t end, int index, int count)
{
    post(kProgressRegionNotification, QVariantList{stepName(name), static_cast<qlonglong>(start),
                                                   static_cast<qlonglong>(end), index, count});
}

OSErr PostProgressPosition(int64_t position)
{
    post(kProgressPositionNotification, QVariant(static_cast<qlonglong>(position)));
    return currentStopCode();
}

OSErr PostProgressPercentage(int percent)
{
    post(kProgressPercentageNotification, QVariant(percent));
    return currentStopCode();
}

namespace {
const QString kOutputWarningDetailKey = QStringLiteral("QMOutputWarningDetail");
}  // namespace

void PostOutputWarning(int32_t code, const QString& detail)
{
    ThreadDictionary dictionary = ThreadDictionary::current();
    if (code && !dictionary.contains(kOutputWarningKey)) {
        dictionary.setValue(kOutputWarningKey, code);
        dictionary.setValue(kOutputWarningDetailKey, detail);
    }
}

int32_t TakeOutputWarning(QString* detail)
{
    ThreadDictionary dictionary = ThreadDictionary::current();
    const int32_t code = dictionary.value(kOutputWarningKey).toInt();
    if (detail)
        *detail = dictionary.value(kOutputWarningDetailKey).toString();
    dictionary.remove(kOutputWarningKey);
    dictionary.remove(kOutputWarningDetailKey);
    return code;
}

namespace {
thread_local uint64_t tClippedSamples = 0;
}  // namespace

void AddClippedSamples(uint64_t count)
{
    tClippedSamples += count;
}

uint64_t TakeClippedSamples()
{
    const uint64_t count = tClippedSamples;
    tClippedSamples = 0;
    return count;
}

int64_t GetNumberOfInputSamples()
{
    const QVariant number = ThreadDictionary::current().value(kNumberOfInputSamplesKey);
    return number.isValid() ? number.toLongLong() : 0;
}
