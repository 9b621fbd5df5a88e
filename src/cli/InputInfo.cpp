#include "InputInfo.h"

#include "BatchStart.h"
#include "CreateSoundFile.h"
#include "MacTypes.h"
#include "PreferenceKeys.h"
#include "ZuSoundFile.h"
#include "FileOperations.h"
#include "error_codes.h"
#include "path_problems.h"
#include "string_utils.h"
#include "error_table.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>

InputInfo::InputInfo(const QString& path)
{
    const ZuSoundFile model(path);
    describe(model);
}

InputInfo::InputInfo(const ZuSoundFile& model)
{
    describe(model);
}

QString InputInfo::typeCodeText(quint32 code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>((code >> shift) & 0xFF);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            text += QLatin1Char(char(c));
        else
            text += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString InputInfo::rawRateSetting(const QString& rate)
{
    return QStringLiteral("--set \"%1=%2\"").arg(PreferenceKeys::kUnrecognizedInputFileSampleRate, rate);
}

QString InputInfo::errorMessage(int code)
{
    return BatchStart::errorMessage(code);
}

void InputInfo::describe(const ZuSoundFile& model)
{
    object_.insert(QStringLiteral("path"), model.path());
    if (model.isDirectory()) {
        readable_ = true;
        object_.insert(QStringLiteral("folder"), true);
        return;
    }

    int error = model.errorCode();
    if (!model.size().has_value() && error == noErr)
        error = fnfErr;  // nothing at that path
    // A name whose bytes are not UTF-8 reaches us with replacement
    // characters, and so is not found: said as what it is.
    if (error == fnfErr && has_undecodable_bytes(model.path()))
        error = kNameNotUTF8Err;
    // A link that leads nowhere is said to be one, as a batch says it.
    const QString brokenLink = BrokenLinkProblem(model.path());
    if (!brokenLink.isEmpty())
        error = StatPath(model.path().toStdString(), nullptr) == ELOOP ? kAliasLoopErr : kAliasOriginalNotFoundErr;
    readable_ = model.infoAvailable() && error == noErr;

    if (model.hfsFileType() != 0)
        object_.insert(QStringLiteral("type"), typeCodeText(model.hfsFileType()));
    if (readable_) {
        if (model.hfsRealType() != model.hfsFileType())
            object_.insert(QStringLiteral("memberType"), typeCodeText(model.hfsRealType()));
        object_.insert(QStringLiteral("format"), model.descriptor());
        object_.insert(QStringLiteral("sampleRate"), model.sampleRate());
        // A headerless file whose name gives no rate is read at the raw-file
        // rate: said, with the preference that sets it.
        if (model.rateFromRawSettings())
            object_.insert(QStringLiteral("sampleRateFrom"),
                           QStringLiteral("the raw-file settings (its name gives no rate); %1 sets another")
                               .arg(rawRateSetting(QStringLiteral("RATE"))));
        object_.insert(QStringLiteral("channels"), int(model.numChannels()));
        object_.insert(QStringLiteral("bits"), int(model.numBits()));
        object_.insert(QStringLiteral("frames"), qint64(model.numFrames()));
        object_.insert(QStringLiteral("markers"), qint64(model.numMarkers()));
        object_.insert(QStringLiteral("loops"), qint64(model.numLoops()));
        object_.insert(QStringLiteral("regions"), qint64(model.numRegions()));
        object_.insert(QStringLiteral("timestamp"), model.timestamps());
        // How a compressed input's length and losses were judged, rule by rule.
        if (!model.verdictLines().empty()) {
            QJsonArray lines;
            for (const std::string& line : model.verdictLines())
                lines.append(QString::fromStdString(line));
            object_.insert(QStringLiteral("verdict"), lines);
        }
        if (!model.surround_set().empty()) {
            QJsonArray members;
            for (const std::string& member : model.surround_set())
                members.append(QString::fromStdString(member));
            object_.insert(QStringLiteral("members"), members);
        }
        return;
    }

    if (error == noErr)
        error = kUnknownFileFormatErr;
    object_.insert(QStringLiteral("error"), error);
    object_.insert(QStringLiteral("message"), !brokenLink.isEmpty() ? brokenLink
                                              : model.descriptor().isEmpty() || error == fnfErr ||
                                                      error == kNameNotUTF8Err
                                                  ? errorMessage(error)
                                                  : model.descriptor());
}

QString InputInfo::jsonLine() const
{
    return QString::fromUtf8(QJsonDocument(object_).toJson(QJsonDocument::Compact));
}
