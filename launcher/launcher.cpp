#include "launcher/launcher.h"

#include "launcher/notifier.h"
#include "platform/runningcopy.h"
#include "sync/syncconfig.h"
#include "sync/syncengine.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace launcher {

namespace {

// The child the launcher waits for just now (the sync tool or the program), and whether a
// termination signal came. A signal is passed on to the child: the program closes as for its
// close box (saving its lists), a sync ends; the launcher then starts nothing more.
std::atomic<pid_t> waitedFor{0};
std::atomic<bool> stopRequested{false};

extern "C" void passSignalOn(int signalNumber)
{
    stopRequested = true;
    const pid_t child = waitedFor;
    if (child > 0)
        ::kill(child, signalNumber);
}

void catchTerminationSignals()
{
    struct sigaction action = {};
    action.sa_handler = passSignalOn;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
}

// Waits for process to end, the signal handler knowing whom to pass a signal on to meanwhile.
bool waitWhileForwarding(QProcess &process, int timeoutMs)
{
    waitedFor = pid_t(process.processId());
    const bool ended = process.waitForFinished(timeoutMs);
    waitedFor = 0;
    return ended;
}

void writeToStderr(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString lastLineOf(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it)
        if (!it->trimmed().isEmpty())
            return QString::fromUtf8(it->trimmed());
    return QString();
}

QString quoted(const QString &path)
{
    return QString::fromUtf8("「%1」").arg(path);
}

// Replaces the launcher by the program: what the user runs is then the program itself.
int execProgram(const QString &program, const QStringList &args)
{
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString &a : args)
        words.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    return -1;
}

int cannotStartProgram(const QString &program, DesktopNotifier &notifier)
{
    const QString summary = QString::fromUtf8("ぽるてアドレス帳を起動できません");
    writeToStderr((summary + QStringLiteral(": ") + program + QLatin1Char('\n')).toUtf8());
    notifier.notify(summary, quoted(program));
    return 1;
}

} // namespace

QString programFileName()
{
    return QStringLiteral("PorAddr");
}

QString syncToolFileName()
{
    return QStringLiteral("poraddr-sync");
}

SyncOutcome syncOnce(const QString &tool, const QString &folder, int timeoutMs)
{
    SyncOutcome outcome;
    QProcess sync;
    sync.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    sync.start(tool, {folder});
    if (!sync.waitForStarted(timeoutMs)) {
        outcome.lastLine = QString::fromUtf8("%1 を起動できません: %2").arg(quoted(tool), sync.errorString());
        return outcome;
    }
    sync.closeWriteChannel();
    if (!waitWhileForwarding(sync, timeoutMs)) {
        outcome.end = SyncOutcome::End::TimedOut;
        sync.terminate();
        if (!sync.waitForFinished(2000)) {
            sync.kill();
            sync.waitForFinished(2000);
        }
    } else if (stopRequested) {
        outcome.end = SyncOutcome::End::Stopped;
    } else if (sync.exitStatus() != QProcess::NormalExit) {
        outcome.end = SyncOutcome::End::Crashed;
    } else {
        outcome.end = SyncOutcome::End::Exited;
        outcome.exitCode = sync.exitCode();
    }
    const QByteArray said = sync.readAllStandardError();
    writeToStderr(said);
    outcome.lastLine = lastLineOf(said);
    return outcome;
}

SyncNotice noticeFor(const SyncOutcome &outcome, SyncMoment moment, int timeoutMs)
{
    const bool before = moment == SyncMoment::BeforeStart;
    const QString failed = before ? QString::fromUtf8("起動前の同期ができませんでした")
                                  : QString::fromUtf8("終了後の同期ができませんでした");
    const QString tool = syncToolFileName();
    switch (outcome.end) {
    case SyncOutcome::End::Stopped:
        return {};
    case SyncOutcome::End::NotStarted:
        return {failed, outcome.lastLine};
    case SyncOutcome::End::TimedOut:
        return {failed,
                QString::fromUtf8("%1 が %2 秒で終わらないので止めました").arg(tool).arg(timeoutMs / 1000)};
    case SyncOutcome::End::Crashed:
        return {failed, QString::fromUtf8("%1 が異常終了しました").arg(tool)};
    case SyncOutcome::End::Exited:
        break;
    }
    const QString line =
        outcome.lastLine.isEmpty()
            ? QString::fromUtf8("%1 が終了コード %2 で終わりました").arg(tool).arg(outcome.exitCode)
            : outcome.lastLine;
    switch (outcome.exitCode) {
    case syncexit::Ok:
    // The program runs for the folder (started meanwhile, or the one this start handed over to):
    // its lists are synced when it closes, nothing went wrong.
    case syncexit::ProgramRunning:
        return {};
    case syncexit::Partly:
        return {before ? QString::fromUtf8("起動前の同期: 衝突か取り込めないカードがあります")
                       : QString::fromUtf8("終了後の同期: 衝突か取り込めないカードがあります"),
                line};
    default:
        return {failed, line};
    }
}

int runLauncher(const QString &dir, const QStringList &args)
{
    const QString program = dir + programFileName();
    DesktopNotifier notifier;

    // Only a look: the lock is let go at once, the sync takes it itself.
    DataFolderLock folder;
    const DataFolderLock::Use use = folder.holdForCompanion(dir, 0);
    folder.release();
    const bool syncSetUp = !syncconfig::load(dir).url.isEmpty();
    // A running copy is only brought forward by the start; a folder whose lock cannot be looked at
    // would be refused by the sync anyway.
    if (!syncSetUp || use == DataFolderLock::Use::ProgramRuns || use == DataFolderLock::Use::CannotTell) {
        execProgram(program, args);
        return cannotStartProgram(program, notifier);
    }

    catchTerminationSignals();
    const QString tool = dir + syncToolFileName();
    SyncNotice toldBefore;
    // Another tool writing the lists just now: the program waits for it as it starts, and this
    // start's sync is left to the close.
    if (use == DataFolderLock::Use::Free) {
        const SyncOutcome before = syncOnce(tool, dir, syncBeforeStartMs);
        if (stopRequested)
            return 1;
        toldBefore = noticeFor(before, SyncMoment::BeforeStart, syncBeforeStartMs);
    }

    QProcess porAddr;
    porAddr.setProcessChannelMode(QProcess::ForwardedChannels);
    porAddr.setInputChannelMode(QProcess::ForwardedInputChannel);
    porAddr.start(program, args);
    if (!porAddr.waitForStarted(-1))
        return cannotStartProgram(program, notifier);
    // Told once the window is on its way, so that a slow notification server never holds it up.
    if (!toldBefore.summary.isEmpty())
        notifier.notify(toldBefore.summary, toldBefore.body);
    waitWhileForwarding(porAddr, -1);
    if (porAddr.exitStatus() != QProcess::NormalExit)
        return 1;
    const int exitCode = porAddr.exitCode();
    if (exitCode != 0 || stopRequested)
        return exitCode;

    const SyncOutcome after = syncOnce(tool, dir, syncAfterCloseMs);
    const SyncNotice toldAfter = noticeFor(after, SyncMoment::AfterClose, syncAfterCloseMs);
    if (!toldAfter.summary.isEmpty())
        notifier.notify(toldAfter.summary, toldAfter.body);
    return exitCode;
}

} // namespace launcher
