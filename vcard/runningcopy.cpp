#include "vcard/runningcopy.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>

qint64 runningCopyIn(const QString &folder, const QString &lockPath)
{
    qint64 pid = 0;
    QString host, application;
    if (!QLockFile(lockPath).getLockInfo(&pid, &host, &application) || pid <= 0)
        return 0;
    // A lock written on another machine (a renamed host) names no process of this one.
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return 0;
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return 0; // left behind by a copy that is gone
    QString program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (program.isEmpty())
        return pid;
    // A program file replaced while it runs still names its folder.
    const QString deleted = QStringLiteral(" (deleted)");
    if (program.endsWith(deleted))
        program.chop(deleted.size());
    const QString programFolder = QFileInfo(QFileInfo(program).absolutePath()).canonicalFilePath();
    const QString target = QFileInfo(folder).canonicalFilePath();
    return !target.isEmpty() && programFolder == target ? pid : 0;
}
