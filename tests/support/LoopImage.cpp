#include "LoopImage.h"

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/mount.h>
#include <unistd.h>

namespace {

// Runs `program`; empty when it ran to exit status 0, else what it said.
std::string Ran(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return (program + QStringLiteral(" did not run")).toStdString();
    }
    if (process.exitCode() == 0)
        return std::string();
    const QString said = QString::fromLocal8Bit(process.readAll()).trimmed();
    return (program + QStringLiteral(": ") + (said.isEmpty() ? QStringLiteral("failed") : said)).toStdString();
}

} // namespace

LoopImage::LoopImage(const std::string& type, const std::string& folder) : path_(folder + "/mnt")
{
    if (::geteuid() != 0) {
        why_ = "mounting a " + type + " image needs root";
        return;
    }
    const QString image = QString::fromStdString(folder + "/" + type + ".img");
    const QString mountPoint = QString::fromStdString(path_);
    if (!QDir().mkpath(mountPoint)) {
        why_ = "cannot make " + path_;
        return;
    }
    why_ = Ran(QStringLiteral("truncate"), {QStringLiteral("-s"), QStringLiteral("16M"), image});
    QStringList options{QStringLiteral("-q"), QStringLiteral("-F")};
    if (type == "ext2")
        options << QStringLiteral("-I") << QStringLiteral("128");
    if (why_.empty())
        why_ = Ran(QStringLiteral("mkfs.") + QString::fromStdString(type), options + QStringList{image});
    if (why_.empty())
        why_ = Ran(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, mountPoint});
    mounted_ = why_.empty();
    if (!mounted_)
        why_ = "cannot mount a " + type + " image here: " + why_;
}

LoopImage::~LoopImage()
{
    if (mounted_)
        ::umount2(path_.c_str(), MNT_DETACH);
}
