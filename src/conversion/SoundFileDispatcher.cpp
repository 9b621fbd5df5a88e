#include "SoundFileDispatcher.h"

#include "MacTypes.h"

namespace {

const char* const kLoggingError = "internal error during logging";
const char* const kAutoNameError = "internal error during auto name generation";

QString Pointer(const void* pointer)
{
    return QString::asprintf("%p", pointer);
}

// A function's address when it is a plain function, else that of the
// holder of its target; "(nil)" when there is none.
template <typename R, typename... A>
QString FunctionPointer(const std::function<R(A...)>& function)
{
    if (!function)
        return Pointer(nullptr);
    if (const auto plain = function.template target<R (*)(A...)>())
        return Pointer(reinterpret_cast<const void*>(*plain));
    return Pointer(&function);
}

} // namespace

CSoundFile* SoundFileDispatcher::callCreateSoundFileObject() const
{
    return createSoundFileObject_ ? createSoundFileObject_() : nullptr;
}

SInt16 SoundFileDispatcher::callHandleWordLengthSettings(CConvSpec* spec, int index, const QString& title,
                                                         int tag) const
{
    return handleWordLengthSettings_ ? handleWordLengthSettings_(spec, index, title, tag) : paramErr;
}

SInt16 SoundFileDispatcher::callHandleChannelSettings(CConvSpec* spec, int index, const QString& title,
                                                      int tag) const
{
    return handleChannelSettings_ ? handleChannelSettings_(spec, index, title, tag) : paramErr;
}

SInt16 SoundFileDispatcher::callHandleSampleRateSettings(CConvSpec* spec, int index, const QString& title,
                                                         int tag) const
{
    return handleSampleRateSettings_ ? handleSampleRateSettings_(spec, index, title, tag) : paramErr;
}

bool SoundFileDispatcher::callIsMyFileType(const FSRef* file) const
{
    return isMyFileType_ ? isMyFileType_(file) : false;
}

int SoundFileDispatcher::callChannelIndexFunc(CConvSpec* spec) const
{
    return channelIndexFunc_ ? channelIndexFunc_(spec) : -1;
}

int SoundFileDispatcher::callWordLengthIndexFunc(CConvSpec* spec) const
{
    return wordLengthIndexFunc_ ? wordLengthIndexFunc_(spec) : -1;
}

QString SoundFileDispatcher::callLogWordLengthFunc(CConvSpec* spec) const
{
    return logWordLengthFunc_ ? logWordLengthFunc_(spec) : QString::fromLatin1(kLoggingError);
}

QString SoundFileDispatcher::callLogChannelSettingsFunc(CConvSpec* spec) const
{
    return logChannelSettingsFunc_ ? logChannelSettingsFunc_(spec) : QString::fromLatin1(kLoggingError);
}

QString SoundFileDispatcher::callAutoNameWordLengthFunc(CConvSpec* spec) const
{
    return autoNameWordLengthFunc_ ? autoNameWordLengthFunc_(spec) : QString::fromLatin1(kAutoNameError);
}

QString SoundFileDispatcher::callAutoNameChannelSettingsFunc(CConvSpec* spec) const
{
    return autoNameChannelSettingsFunc_ ? autoNameChannelSettingsFunc_(spec) : QString::fromLatin1(kAutoNameError);
}

QString SoundFileDispatcher::description() const
{
    return QStringLiteral("dispatcher %1 { create func %2, word length func %3, channel func %4, sample rate func "
                          "%5, recognizer func %6, channel treat popup index func %7, word length popup index "
                          "func %8, log word length func %9, log channel settings func %10, auto name word "
                          "length func %11, auto name channel settings func %12 }")
        .arg(Pointer(this), FunctionPointer(createSoundFileObject_), FunctionPointer(handleWordLengthSettings_),
             FunctionPointer(handleChannelSettings_), FunctionPointer(handleSampleRateSettings_),
             FunctionPointer(isMyFileType_), FunctionPointer(channelIndexFunc_),
             FunctionPointer(wordLengthIndexFunc_), FunctionPointer(logWordLengthFunc_))
        .arg(FunctionPointer(logChannelSettingsFunc_), FunctionPointer(autoNameWordLengthFunc_),
             FunctionPointer(autoNameChannelSettingsFunc_));
}
