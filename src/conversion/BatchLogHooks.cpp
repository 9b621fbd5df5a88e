#include "BatchLogHooks.h"

#include "ConversionProcess.h"
#include "Logger.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"

const QString BatchLogHooks::kFullPathsIntoLogKey = QStringLiteral("Full Paths Into Log");
const QString BatchLogHooks::kNumberOfFilesConvertedKey = QStringLiteral("Number of Files Ever Converted");

namespace {

// The output a failure is about, for the message: the final name that was
// taken for a duplicate.
QString OutputDetail(int code, const QVariantMap& info)
{
    Q_UNUSED(code);
    return info.value(ConversionProcess::kOutputPathKey).toString();
}

}  // namespace

BatchLogHooks::BatchLogHooks(ConversionProcess& process, Logger& logger, UserDefaults* store)
    : process_(process), logger_(logger), defaults_(store)
{
    logger_.setStopHandler([this] { process_.setShouldStop(true); });
    token_ = NotificationCenter::defaultCenter().addObserver(QString(), &process_, [this](const Notification& n) {
        const QVariant object = ConversionProcess::notificationObject(n);
        const QVariantMap info = ConversionProcess::notificationUserInfo(n);
        if (n.name == ConversionProcess::kHeaderNotification) {
            if (const ConvSpecRef spec = object.value<ConvSpecRef>())
                logger_.logConversionHeader(*spec);
        } else if (n.name == ConversionProcess::kFooterNotification) {
            logger_.logConversionFooter();
        } else if (n.name == ConversionProcess::kSuccessNotification) {
            const int warning = info.value(ConversionProcess::kWarningKey).toInt();
            if (warning)
                logger_.logDoneWarning(logName(object.toString()), warning);
            else
                logger_.logDoneMessage(logName(object.toString()),
                                       info.value(ConversionProcess::kCommentKey).toString());
            UserDefaults& d = defaults();
            const qulonglong count = d.objectForKey(kNumberOfFilesConvertedKey).toULongLong();
            d.setObject(kNumberOfFilesConvertedKey, QVariant(qulonglong(count + 1)));
        } else if (n.name == ConversionProcess::kFailureNotification) {
            const int code = info.value(ConversionProcess::kErrorKey).toInt();
            logger_.logErrorMessage(logName(object.toString()), code, OutputDetail(code, info));
        } else if (n.name == ConversionProcess::kSkippedNotification) {
            logger_.logSkippedMessage(logName(object.toString()),
                                      info.value(ConversionProcess::kReasonKey).toString());
        }
    });
}

BatchLogHooks::~BatchLogHooks()
{
    NotificationCenter::defaultCenter().removeObserver(token_);
    logger_.setStopHandler({});
}

UserDefaults& BatchLogHooks::defaults() const
{
    return defaults_ ? *defaults_ : UserDefaults::standardUserDefaults();
}

QString BatchLogHooks::logName(const QString& inputPath) const
{
    // The input being converted has been examined already: its model gives
    // the name without reading the file again.
    const std::shared_ptr<ZuSoundFile> current = process_.curInputModel();
    const QString name =
        current && current->path() == inputPath ? current->name() : ZuSoundFile(inputPath).name();
    if (!defaults().boolForKey(kFullPathsIntoLogKey))
        return name;
    const qsizetype slash = inputPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : inputPath.left(slash);
    return folder + QLatin1Char('/') + name;
}

OSErr BatchLogHooks::finish()
{
    logger_.setNumWarnings(process_.warnings());
    return logger_.finishLogFile();
}
