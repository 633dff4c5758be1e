#include "support/keyringdaemon.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace keyringtest {

namespace {

bool secretServiceRuns()
{
    QProcess ask;
    ask.start(QStringLiteral("dbus-send"),
              {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
               "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
    return ask.waitForFinished(5000) && ask.exitCode() == 0 && ask.readAllStandardOutput().contains("true");
}

} // namespace

KeyringDaemon::KeyringDaemon()
{
    const QString home = home_.path();
    for (const char *sub : {"data", "config", "cache", "run"})
        QDir(home).mkpath(QLatin1String(sub));
    QFile::setPermissions(home + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home + QStringLiteral("/cache")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home + QStringLiteral("/run")).toUtf8());
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

KeyringDaemon::~KeyringDaemon()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool KeyringDaemon::start()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        error_ = QStringLiteral("no D-Bus session (run the suite under dbus-run-session)");
        return false;
    }
    if (secretServiceRuns()) {
        error_ = QStringLiteral("a Secret Service runs already on this session bus");
        return false;
    }
    process_.start(QStringLiteral("gnome-keyring-daemon"),
                   {"--unlock", "--components=secrets", "--foreground"});
    if (!process_.waitForStarted(5000)) {
        error_ = process_.errorString();
        return false;
    }
    // The login keyring's own password, read by --unlock up to the end of its input.
    process_.write("test");
    process_.waitForBytesWritten(5000);
    process_.closeWriteChannel();
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (process_.state() == QProcess::NotRunning) {
            error_ =
                QStringLiteral("gnome-keyring-daemon stopped: ") + QString::fromLocal8Bit(process_.readAll());
            return false;
        }
        if (secretServiceRuns())
            return true;
        QThread::msleep(100);
    }
    error_ =
        QStringLiteral("gnome-keyring-daemon did not come up: ") + QString::fromLocal8Bit(process_.readAll());
    return false;
}

QStringList KeyringDaemon::filesContaining(const QByteArray &text) const
{
    QStringList found;
    QDirIterator it(home_.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
            found.append(QDir(home_.path()).relativeFilePath(path));
    }
    return found;
}

} // namespace keyringtest
