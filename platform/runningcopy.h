#pragma once

#include <QString>

// Whether a copy of the program runs with its data in a folder, whatever its program file is
// called and however it was started (a link, another name, another user).
//
// The program keeps a lock file in its data folder and holds it shared for as long as it runs;
// a companion tool that writes the lists holds the same file exclusively while it reads and
// writes them. The lock is live exactly while a process holds it: a file left behind by a copy
// that was killed locks nobody out. Lock and lists being in one folder, the answer follows the
// folder itself, however it is reached.
class DataFolderLock {
public:
    enum class Use {
        Free,            // nobody uses the folder; the companion's lock is held now
        ProgramRuns,     // a copy of the program runs with its data here
        CompanionWrites, // another tool is writing the lists right now
        CannotTell,      // the lock cannot be looked at (another user's, or not a file)
    };

    DataFolderLock() = default;
    DataFolderLock(DataFolderLock &&other) noexcept;
    DataFolderLock &operator=(DataFolderLock &&other) noexcept;
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;
    // Releases the lock; the last one to leave removes the file.
    ~DataFolderLock();

    // The program's share of the folder, held until it is destroyed. A companion writing the lists
    // is waited for, up to waitMs; false when it still writes then. A folder where no lock can be
    // made (read-only, say) is true without a lock: nothing can write the lists there.
    bool holdForProgram(const QString &folder, int waitMs);

    // The one check every companion makes before it writes a list: Free (and the folder is then
    // held, so that no copy of the program starts and loads the lists until the lock is released),
    // or why not. Another companion writing is waited for, up to waitMs. pid, where given, receives
    // a process that holds the lock, when the system tells it (0 otherwise).
    Use holdForCompanion(const QString &folder, int waitMs, qint64 *pid = nullptr);

    bool isHeld() const { return fd_ >= 0; }
    void release();

    // The lock's file name in the data folder.
    static QString fileName();

private:
    int fd_ = -1;
    QString path_;
};
