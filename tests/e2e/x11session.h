#pragma once

// End-to-end harness: a private X server with a window manager, the real PorAddr started in a
// program folder of its own, and xdotool to find its windows and type into them. Every wait is
// bounded and every process started here is killed when its owner goes away.

#include "support/storetest.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {

// Files as bytes, list files from their lines, and nobody, as the other suites have them.
using storetest::asNobody;
using storetest::listFile;
using storetest::readBytes;
using storetest::RunAs;
using storetest::uidNobody;
using storetest::writeBytes;

// The main window's title; the error box carries the same one.
inline QString mainTitle()
{
    return QString::fromUtf8("ぽるてアドレス帳");
}
inline QString inputTitle()
{
    return QString::fromUtf8("ぽるてアドレス帳：入力");
}
inline QString aboutTitle()
{
    return QString::fromUtf8("ぽるてアドレス帳のバージョン情報");
}
inline QString confirmTitle()
{
    return QString::fromUtf8("確認");
}

// xdotool takes a regular expression; the titles hold no special characters, only anchors are added.
inline QString exactly(const QString &title)
{
    return QLatin1Char('^') + title + QLatin1Char('$');
}

// Where the suites leave their screenshots for a person to look at.
inline QString shotsDir()
{
    const QString dir = qEnvironmentVariable("E2E_SHOTS_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/e2e-shots") : dir;
}

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    QByteArray out, err;
};

// Runs a short helper command to its end, or kills it at the deadline.
inline RunResult run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
                     int timeoutMs = 10000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    RunResult result;
    if (!process.waitForStarted(timeoutMs))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Polls cond every intervalMs until it holds or timeoutMs has passed; returns its last answer.
template <typename Cond> bool waitFor(Cond cond, int timeoutMs, int intervalMs = 40)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (cond())
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(intervalMs);
    }
}

// Polls list until it names a window; the first one named, or empty when none came in time.
template <typename List> QString waitForFirst(List list, int timeoutMs)
{
    QString found;
    waitFor(
        [&] {
            const QStringList ids = list();
            if (!ids.isEmpty())
                found = ids.first();
            return !found.isEmpty();
        },
        timeoutMs);
    return found;
}

// Xvfb on a free display (it picks one and tells it through -displayfd) with openbox on it.
class X11Session {
public:
    X11Session()
    {
        if (!work_.isValid()) {
            error_ = QStringLiteral("no temporary folder");
            return;
        }
        const QString displayFile = work_.filePath(QStringLiteral("display"));
        xvfb_.setStandardOutputFile(QProcess::nullDevice());
        xvfb_.setStandardErrorFile(work_.filePath(QStringLiteral("xvfb.log")));
        // exec keeps Xvfb's pid the one QProcess knows; fd 3 carries the display number to a file.
        xvfb_.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"),
                     QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>\"$0\""),
                     displayFile});
        if (!xvfb_.waitForStarted(5000)) {
            error_ = QStringLiteral("Xvfb did not start (is the xvfb package installed?)");
            return;
        }
        const bool numbered = waitFor(
            [&] {
                const QByteArray text = readBytes(displayFile);
                if (!text.endsWith('\n'))
                    return false;
                display_ = QLatin1Char(':') + QString::fromLatin1(text.trimmed());
                return true;
            },
            15000, 20);
        if (!numbered) {
            error_ = QStringLiteral("Xvfb did not report a display: ") +
                     QString::fromLocal8Bit(readBytes(work_.filePath(QStringLiteral("xvfb.log"))));
            return;
        }
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("DISPLAY"), display_);
        env_.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        env_.insert(QStringLiteral("HOME"), work_.path());
        env_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env_.remove(QStringLiteral("SESSION_MANAGER"));
        env_.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env_.remove(QStringLiteral("XAUTHORITY"));

        openbox_.setProcessEnvironment(env_);
        openbox_.setStandardOutputFile(QProcess::nullDevice());
        openbox_.setStandardErrorFile(QProcess::nullDevice());
        openbox_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!openbox_.waitForStarted(5000)) {
            error_ = QStringLiteral("openbox did not start (is the openbox package installed?)");
            return;
        }
        // The window manager is ready once it has announced itself on the root window.
        const bool managed = waitFor(
            [&] {
                const RunResult r =
                    run(QStringLiteral("xprop"),
                        {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, env_, 5000);
                return r.finished && r.exitCode == 0 && r.out.contains("window id");
            },
            15000, 50);
        if (!managed) {
            error_ = QStringLiteral("openbox did not take over the display");
            return;
        }
        ready_ = true;
    }

    ~X11Session()
    {
        stop(openbox_);
        stop(xvfb_);
    }

    X11Session(const X11Session &) = delete;
    X11Session &operator=(const X11Session &) = delete;

    bool isReady() const { return ready_; }
    QString error() const { return error_; }
    QString display() const { return display_; }
    // The environment every client of this display gets: the display, a UTF-8 locale, no session manager.
    QProcessEnvironment environment() const { return env_; }

    RunResult xdotool(const QStringList &args, int timeoutMs = 10000) const
    {
        return run(QStringLiteral("xdotool"), args, env_, timeoutMs);
    }

    // Visible windows whose title matches the expression, optionally only those of one process.
    QStringList windows(const QString &titleRegex, qint64 pid = 0) const
    {
        // --all: xdotool joins its conditions with "or" unless told otherwise.
        QStringList args{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible")};
        if (pid > 0)
            args << QStringLiteral("--pid") << QString::number(pid);
        args << QStringLiteral("--name") << titleRegex;
        const RunResult r = xdotool(args);
        QStringList ids;
        if (r.finished && r.exitCode == 0)
            for (const QByteArray &line : r.out.split('\n'))
                if (!line.trimmed().isEmpty())
                    ids << QString::fromLatin1(line.trimmed());
        return ids;
    }

    QString waitForWindow(const QString &titleRegex, qint64 pid = 0, int timeoutMs = 15000) const
    {
        return waitForFirst([&] { return windows(titleRegex, pid); }, timeoutMs);
    }

    bool waitForNoWindow(const QString &titleRegex, qint64 pid = 0, int timeoutMs = 10000) const
    {
        return waitFor([&] { return windows(titleRegex, pid).isEmpty(); }, timeoutMs);
    }

    QString activeWindow() const
    {
        const RunResult r = xdotool({QStringLiteral("getactivewindow")});
        return r.finished && r.exitCode == 0 ? QString::fromLatin1(r.out.trimmed()) : QString();
    }

    bool waitForActive(const QString &window, int timeoutMs = 10000) const
    {
        return waitFor([&] { return activeWindow() == window; }, timeoutMs);
    }

    // Asks the window manager to give the window the focus, and waits until it has.
    bool activate(const QString &window, int timeoutMs = 10000) const
    {
        if (activeWindow() == window)
            return true;
        xdotool({QStringLiteral("windowactivate"), window}, timeoutMs);
        return waitForActive(window, timeoutMs);
    }

    // Key strokes through the X server's test extension, as a keyboard would send them, to the
    // window that has the focus (so the window manager's own bindings, such as Alt+F4, apply).
    bool key(const QStringList &keys) const
    {
        const RunResult r = xdotool(
            QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + keys);
        return r.finished && r.exitCode == 0;
    }

    // A character that the keyboard map lacks is typed by xdotool through a key it maps for the
    // moment and maps back after the release; the program must look the map up while the key is
    // still down, so such characters go one by one with the key held long enough for a busy program.
    bool type(const QString &text) const
    {
        QString ascii;
        const auto flush = [&] {
            if (ascii.isEmpty())
                return true;
            const RunResult r =
                xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), ascii});
            ascii.clear();
            return r.finished && r.exitCode == 0;
        };
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                ascii += c;
                continue;
            }
            if (!flush())
                return false;
            const RunResult r = xdotool(
                {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("400"), QString(c)});
            if (!r.finished || r.exitCode != 0)
                return false;
        }
        return flush();
    }

    QString windowName(const QString &window) const
    {
        const RunResult r = xdotool({QStringLiteral("getwindowname"), window});
        return r.finished && r.exitCode == 0 ? QString::fromUtf8(r.out).trimmed() : QString();
    }

    // Outer geometry as "x y width height" of the window manager's frame around the window.
    QString geometry(const QString &window) const
    {
        const RunResult r =
            run(QStringLiteral("xwininfo"), {QStringLiteral("-frame"), QStringLiteral("-id"), window}, env_);
        return QString::fromLatin1(r.out);
    }

    // The whole screen into a PNG file; the folder is created when missing.
    bool screenshot(const QString &path) const
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        const RunResult r = run(QStringLiteral("import"),
                                {QStringLiteral("-window"), QStringLiteral("root"), path}, env_, 20000);
        return r.finished && r.exitCode == 0 && QFileInfo(path).size() > 0;
    }

private:
    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    QTemporaryDir work_;
    QProcess xvfb_, openbox_;
    QProcessEnvironment env_;
    QString display_, error_;
    bool ready_ = false;
};

// A program folder under /tmp holding a copy of the built PorAddr, plus a runtime folder (mode 0700)
// and a home of its own, so that the copy's single-instance lock is private to the test.
class ProgramFolder {
public:
    explicit ProgramFolder(RunAs as = RunAs::Self, const QString &exeName = QStringLiteral("PorAddr"))
        : as_(as)
    {
        const QString built = qEnvironmentVariable("PORADDR_EXE");
        if (built.isEmpty() || !QFileInfo(built).isExecutable()) {
            error_ = QStringLiteral("PORADDR_EXE does not name the built PorAddr: ") + built;
            return;
        }
        if (!root_.isValid()) {
            error_ = QStringLiteral("no temporary folder");
            return;
        }
        dir_ = root_.filePath(QStringLiteral("prog"));
        runtime_ = root_.filePath(QStringLiteral("runtime"));
        home_ = root_.filePath(QStringLiteral("home"));
        for (const QString &path : {dir_, runtime_, home_})
            QDir().mkpath(path);
        exe_ = dir_ + QLatin1Char('/') + exeName;
        if (!QFile::copy(built, exe_)) {
            error_ = QStringLiteral("cannot copy ") + built;
            return;
        }
        ::chmod(QFile::encodeName(root_.path()).constData(), 0755);
        ::chmod(QFile::encodeName(exe_).constData(), 0755);
        ::chmod(QFile::encodeName(runtime_).constData(), 0700);
        if (as_ == RunAs::Unprivileged) {
            for (const QString &path : {dir_, runtime_, home_})
                if (::chown(QFile::encodeName(path).constData(), uidNobody, uidNobody) != 0)
                    error_ = QStringLiteral("cannot hand ") + path + QStringLiteral(" to nobody");
        }
    }

    bool isValid() const { return error_.isEmpty(); }
    QString error() const { return error_; }
    QString path() const { return dir_; }
    QString exe() const { return exe_; }
    QString runtimeDir() const { return runtime_; }
    QString homeDir() const { return home_; }
    RunAs runAs() const { return as_; }
    QString file(const QString &name) const { return dir_ + QLatin1Char('/') + name; }
    QByteArray read(const QString &name) const { return readBytes(file(name)); }
    bool exists(const QString &name) const { return QFileInfo(file(name)).isFile(); }

    bool write(const QString &name, const QByteArray &bytes) const
    {
        writeBytes(file(name), bytes);
        if (as_ == RunAs::Unprivileged)
            return ::chown(QFile::encodeName(file(name)).constData(), uidNobody, uidNobody) == 0;
        return true;
    }

    // The folder's own permission bits; the files in it keep theirs.
    bool setMode(int mode) const { return ::chmod(QFile::encodeName(dir_).constData(), mode_t(mode)) == 0; }

private:
    RunAs as_;
    QTemporaryDir root_{QStringLiteral("/tmp/poraddr-e2e-XXXXXX")};
    QString dir_, runtime_, home_, exe_, error_;
};

// One start of the program in its folder.
class PorAddrProcess {
public:
    PorAddrProcess(const X11Session &session, const ProgramFolder &folder)
        : session_(session), folder_(folder)
    {
    }
    ~PorAddrProcess() { kill(); }

    PorAddrProcess(const PorAddrProcess &) = delete;
    PorAddrProcess &operator=(const PorAddrProcess &) = delete;

    // Another copy's runtime folder, so that two program folders share one set of locks.
    void setRuntimeDir(const QString &dir) { runtimeDir_ = dir; }
    // Starts the program through this path (a link to it) instead of its file.
    void setStartedAs(const QString &path) { startedAs_ = path; }
    // A variable for this start on top of the session's; a null value removes it.
    void setEnvironment(const QString &name, const QString &value) { extraEnv_[name] = value; }

    bool start()
    {
        QProcessEnvironment env = session_.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                   runtimeDir_.isEmpty() ? folder_.runtimeDir() : runtimeDir_);
        env.insert(QStringLiteral("HOME"), folder_.homeDir());
        for (auto it = extraEnv_.cbegin(); it != extraEnv_.cend(); ++it) {
            if (it.value().isNull())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(folder_.homeDir());
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        if (folder_.runAs() == RunAs::Unprivileged) {
            QStringList command = asNobody(folder_.exe());
            process_.start(command.takeFirst(), command);
        } else {
            process_.start(startedAs_.isEmpty() ? folder_.exe() : startedAs_, {});
        }
        return process_.waitForStarted(10000);
    }

    // setpriv replaces itself with the program, so the pid is the program's either way.
    qint64 pid() const { return process_.processId(); }
    bool running() const { return process_.state() != QProcess::NotRunning; }

    // The main window: visible, of this process, with exactly the program's title.
    QString waitForMainWindow(int timeoutMs = 20000)
    {
        mainWindow_ = session_.waitForWindow(exactly(mainTitle()), pid(), timeoutMs);
        return mainWindow_;
    }
    QString mainWindow() const { return mainWindow_; }

    // Other visible windows of this process with the given title (the main window left out).
    QStringList otherWindows(const QString &titleRegex) const
    {
        QStringList ids = session_.windows(titleRegex, pid());
        ids.removeAll(mainWindow_);
        return ids;
    }

    QString waitForOtherWindow(const QString &titleRegex, int timeoutMs = 15000) const
    {
        return waitForFirst([&] { return otherWindows(titleRegex); }, timeoutMs);
    }

    // Opens a top-level menu (0 File, 1 Edit, 2 Execute, 3 Help) and chooses the item with the access
    // key. Edit and Execute share E, and a repeated Alt+E cycles between them, so the menus are
    // reached from File with the arrow key instead.
    bool menu(int index, const QString &accessKey) const
    {
        if (!session_.activate(mainWindow_))
            return false;
        QStringList keys{QStringLiteral("alt+f")};
        for (int i = 0; i < index; ++i)
            keys << QStringLiteral("Right");
        keys << accessKey;
        return session_.key(keys);
    }

    // Selects row `row` of the list that has the focus: End then Home moves the current row (a key
    // that leaves the current row where it is selects nothing), then Down as often as needed.
    bool selectRow(int row) const
    {
        QStringList keys{QStringLiteral("End"), QStringLiteral("Home")};
        for (int i = 0; i < row; ++i)
            keys << QStringLiteral("Down");
        return session_.key(keys);
    }

    // A close request through the window manager (wmctrl asks it to close the window, and it sends
    // WM_DELETE_WINDOW), so the program's close query runs exactly as for the close box. Unlike a
    // key binding it needs no window to be active first.
    bool requestClose() const
    {
        return run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), mainWindow_},
                   session_.environment())
                   .exitCode == 0;
    }

    // Waits for the end of the process; its exit code, or -1 when it did not end in time or crashed.
    int waitForExit(int timeoutMs = 20000)
    {
        if (running() && !process_.waitForFinished(timeoutMs))
            return -1;
        stderr_ = process_.readAllStandardError();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    bool closeAndWait(int timeoutMs = 20000) { return requestClose() && waitForExit(timeoutMs) == 0; }

    void killHard()
    {
        if (running()) {
            ::kill(pid_t(pid()), SIGKILL);
            process_.waitForFinished(5000);
        }
    }

    void kill()
    {
        if (running()) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QByteArray errorOutput() const { return stderr_; }

private:
    const X11Session &session_;
    const ProgramFolder &folder_;
    QProcess process_;
    QString mainWindow_, runtimeDir_, startedAs_;
    QMap<QString, QString> extraEnv_;
    QByteArray stderr_;
};

} // namespace e2e

#define E2E_REQUIRE_SESSION(session)                                                                         \
    do {                                                                                                     \
        if (!(session).isReady())                                                                            \
            QFAIL(qPrintable(QStringLiteral("no X session: ") + (session).error()));                         \
    } while (false)
