#include "BatchLogHooks.h"

#include "ConversionProcess.h"
#include "Logger.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "ZuSoundFile.h"

const QString BatchLogHooks::kFullPathsIntoLogKey = PreferenceKeys::kFullPathsIntoLog;
const QString BatchLogHooks::kNumberOfFilesConvertedKey = PreferenceKeys::kNumberOfFilesEverConverted;

namespace {

// The output a failure is about, for the message: the final name that was
// taken for a duplicate, with how to have such outputs numbered instead.
QString OutputDetail(int code, const QVariantMap& info, const UserDefaults& defaults)
{
    QString detail = info.value(ConversionProcess::kOutputPathKey).toString();
    if (code == dupFNErr && !defaults.boolForKey(ConversionProcess::kNumberDuplicatesKey))
        detail += QStringLiteral(" (to number such outputs NAME-1, NAME-2, ... instead, switch on the preference "
                                 "\"Number Duplicate Files\")");
    return detail;
}

}  // namespace

BatchLogHooks::BatchLogHooks(ConversionProcess& process, Logger& logger, UserDefaults* store)
    : process_(process), logger_(logger), defaults_(store)
{
    logger_.setStopHandler([this] { process_.setShouldStop(true); });
    // One observer per notification that goes to the log, so that the
    // process's other notifications (which the log ignores) find no
    // observer here and need no payload built for it.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    auto observe = [&](const QString& name, NotificationCenter::Callback callback) {
        tokens_.push_back(center.addObserver(name, &process_, std::move(callback)));
    };
    observe(ConversionProcess::kHeaderNotification, [this](const Notification& n) {
        if (const ConvSpecRef spec = ConversionProcess::notificationObject(n).value<ConvSpecRef>())
            logger_.logConversionHeader(*spec);
    });
    observe(ConversionProcess::kFooterNotification, [this](const Notification&) { logger_.logConversionFooter(); });
    observe(ConversionProcess::kSuccessNotification, [this](const Notification& n) {
        const QVariantMap payload = n.object.toMap();
        const QString path = payload.value(ConversionProcess::kObjectKey).toString();
        const int warning = payload.value(ConversionProcess::kWarningKey).toInt();
        if (warning)
            logger_.logDoneWarning(logName(path), warning,
                                   payload.value(ConversionProcess::kWarningDetailKey).toString());
        else
            logger_.logDoneMessage(logName(path), payload.value(ConversionProcess::kCommentKey).toString());
        UserDefaults& d = defaults();
        const qulonglong count = d.objectForKey(kNumberOfFilesConvertedKey).toULongLong();
        d.setObject(kNumberOfFilesConvertedKey, QVariant(qulonglong(count + 1)));
    });
    observe(ConversionProcess::kFailureNotification, [this](const Notification& n) {
        const QVariant object = ConversionProcess::notificationObject(n);
        const QVariantMap info = ConversionProcess::notificationUserInfo(n);
        const int code = info.value(ConversionProcess::kErrorKey).toInt();
        logger_.logErrorMessage(logName(object.toString()), code, OutputDetail(code, info, defaults()),
                                info.value(ConversionProcess::kReasonKey).toString());
    });
    observe(ConversionProcess::kNoteNotification,
            [this](const Notification& n) { logger_.logNote(ConversionProcess::notificationObject(n).toString()); });
    observe(ConversionProcess::kSkippedNotification, [this](const Notification& n) {
        const QVariantMap payload = n.object.toMap();
        logger_.logSkippedMessage(logName(payload.value(ConversionProcess::kObjectKey).toString()),
                                  payload.value(ConversionProcess::kReasonKey).toString());
    });
}

BatchLogHooks::~BatchLogHooks()
{
    for (const NotificationCenter::Token token : tokens_)
        NotificationCenter::defaultCenter().removeObserver(token);
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
