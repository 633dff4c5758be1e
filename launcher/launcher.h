#pragma once

#include <QString>
#include <QStringList>

// What the `poraddr` command and the menu entry start: syncs the lists beside the program with
// the CardDAV server when a sync is set up (PorAddrSync.ini names a server), starts the program,
// waits for it, and syncs again once it has closed normally. A program already running for the
// folder is only brought forward (the program is started, which hands over to it): no sync then.
// Every sync is bounded; a failed one is told through a desktop notification, a good one says
// nothing. The program is started exactly as it would be without the launcher, with the same
// arguments and environment (the desktop's startup and activation tokens included).
namespace launcher {

// How long a sync may take before the program opens, and after it has closed; then it is ended.
constexpr int syncBeforeStartMs = 15000;
constexpr int syncAfterCloseMs = 60000;

QString programFileName();  // "PorAddr"
QString syncToolFileName(); // "poraddr-sync"

// How one run of the sync tool ended.
struct SyncOutcome {
    enum class End {
        Exited,     // exitCode holds the tool's code
        TimedOut,   // ended by the launcher at the bound
        NotStarted, // the tool is missing or cannot be run
        Crashed,
        Stopped, // the launcher was told to end meanwhile
    };
    End end = End::NotStarted;
    int exitCode = -1;
    QString lastLine; // the last line the tool wrote to standard error
};

enum class SyncMoment { BeforeStart, AfterClose };

// A notification's text; an empty summary where the sync is nothing to tell about.
struct SyncNotice {
    QString summary, body;
};

// Runs `tool FOLDER`, ending it when it has not finished within timeoutMs. Its standard error is
// kept for the outcome and passed on to the launcher's own.
SyncOutcome syncOnce(const QString &tool, const QString &folder, int timeoutMs);

// What to tell the user about an outcome: failures and conflicts, not a sync that went well nor
// one that left the folder alone because the program runs for it.
SyncNotice noticeFor(const SyncOutcome &outcome, SyncMoment moment, int timeoutMs);

// The whole launcher for the program folder dir (the program, the sync tool, the lists and the
// sync configuration are all in it); args go to the program. Returns the program's exit code.
int runLauncher(const QString &dir, const QStringList &args);

} // namespace launcher
