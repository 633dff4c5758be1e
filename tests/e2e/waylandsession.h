#pragma once

// A headless Wayland compositor (weston) for running the real program natively on Wayland, where
// no window manager tells positions and no X tools reach the windows.

#include "x11session.h"

#include <QFile>

namespace e2e {

class WaylandSession {
public:
    WaylandSession()
    {
        if (!runtime_.isValid()) {
            error_ = QStringLiteral("no temporary folder");
            return;
        }
        QFile::setPermissions(runtime_.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        env.remove(QStringLiteral("DISPLAY"));
        weston_.setProcessEnvironment(env);
        weston_.setStandardOutputFile(QProcess::nullDevice());
        weston_.setStandardErrorFile(runtime_.filePath(QStringLiteral("weston.log")));
        weston_.start(QStringLiteral("weston"),
                      {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=porwl"),
                       QStringLiteral("--idle-time=0")});
        if (!weston_.waitForStarted(5000)) {
            error_ = QStringLiteral("weston did not start (is the weston package installed?)");
            return;
        }
        if (!waitFor([&] { return QFileInfo::exists(socket()); }, 15000, 50)) {
            error_ = QStringLiteral("weston made no socket: ") +
                     QString::fromLocal8Bit(readBytes(runtime_.filePath(QStringLiteral("weston.log"))));
            return;
        }
        ready_ = true;
    }
    ~WaylandSession()
    {
        if (weston_.state() != QProcess::NotRunning) {
            weston_.terminate();
            if (!weston_.waitForFinished(5000))
                weston_.kill();
            weston_.waitForFinished(2000);
        }
    }
    WaylandSession(const WaylandSession &) = delete;
    WaylandSession &operator=(const WaylandSession &) = delete;

    bool isReady() const { return ready_; }
    QString error() const { return error_; }
    QString socket() const { return runtime_.filePath(QStringLiteral("porwl")); }

    // The environment of a Qt client on this compositor, with its own runtime folder for the
    // program's lock (the display is named by its full path).
    QProcessEnvironment clientEnvironment(const QString &runtimeDir, const QString &home) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("SESSION_MANAGER"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }

private:
    QTemporaryDir runtime_{QStringLiteral("/tmp/poraddr-wl-XXXXXX")};
    QProcess weston_;
    QString error_;
    bool ready_ = false;
};

// Whether the process has a handler of its own for sig: until then the signal would end it.
inline bool catchesSignal(qint64 pid, int sig)
{
    for (const QByteArray &line : readBytes(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}

} // namespace e2e
