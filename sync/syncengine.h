#pragma once

#include "sync/remote.h"

#include <QLocale>
#include <QString>
#include <QStringList>

// One two-way sync of the lists in a folder with their collections. The caller holds the folder
// (DataFolderLock::holdForCompanion) for the whole run. Writes happen in this order: the server's
// cards, the lists (SaveLists), the conflicts file, the state; a new card is first recorded in the
// state as pending, with the UID and href chosen here, so that a run killed anywhere is finished
// by the next one without a second card or a second entry.

// Messages in Japanese where the user's locale is Japanese, in English elsewhere.
struct SyncText {
    bool japanese = QLocale::system().language() == QLocale::Japanese;
    QString operator()(const char *ja, const char *en) const { return QString::fromUtf8(japanese ? ja : en); }
};

struct SyncJob {
    QString dir; // the lists' folder, with a trailing "/"
    QString
        collections[2]; // the collection of list 1 and of list 2 (the same one: shared); empty: not synced
    carddav::Remote *remote = nullptr;
    bool dryRun = false; // say what would be done; write nothing anywhere
    bool force = false;  // go on where the safety checks would stop
};

enum class SyncStop {
    None,
    Unreachable, // the server cannot be reached, or refuses the account
    Safety,      // the run would delete what an empty or missing side does not show
    FileError,   // a list, the state or the conflicts file could not be read or written
};

struct SyncResult {
    SyncStop stop = SyncStop::None;
    QString stopMessage;
    int uploaded = 0, downloaded = 0, deletedHere = 0, deletedThere = 0, conflicts = 0;
    int skipped = 0;   // cards refused, unreadable or failing on the server this run
    QStringList notes; // one line each: cards refused or skipped, conflicts, what a dry run would do
};

SyncResult runSync(const SyncJob &job, const SyncText &tr = SyncText());

namespace syncexit {
enum : int {
    Ok = 0,
    Partly = 1,         // done, with conflicts or cards refused or skipped
    Usage = 2,          //
    Unreachable = 3,    // server unreachable or authentication failed
    Safety = 4,         // refused for safety (see --force)
    ProgramRunning = 5, // PorAddr runs for the folder
    FileError = 6,      // a file could not be read or written
};
} // namespace syncexit

int exitCodeOf(const SyncResult &result);
