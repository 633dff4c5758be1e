#include "platform/runningcopy.h"

#include "platform/lockrule.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int retryMs = 20;

enum class Opened {
    Held,          // fd holds the lock as asked
    HeldElsewhere, // somebody holds it in a way that excludes ours
    NoLockHere,    // the folder has no lock and none can be made in it
    Unknown,       // something is in the way that cannot be judged
};

QString lockPathIn(const QString &folder)
{
    return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
           DataFolderLock::fileName();
}

// Opens the lock at path, making it where missing, and tries to take it. A holder that leaves
// removes the file while it holds it exclusively, so a lock taken on a file that is no longer the
// one at path is let go and taken again on the new one.
Opened openAndLock(const QByteArray &path, bool exclusive, int &fd)
{
    for (int round = 0; round < 100; ++round) {
        fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            struct stat there;
            const bool exists = ::lstat(path.constData(), &there) == 0;
            if (!exists && (errno == EACCES || errno == EROFS || errno == ENOENT || errno == EPERM))
                return Opened::NoLockHere;
            return Opened::Unknown;
        }
        struct stat held;
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            fd = -1;
            return Opened::Unknown;
        }
        // Other users running the program from a shared folder must be able to look at the lock.
        if (held.st_uid == ::geteuid() && (held.st_mode & 0777) != 0644)
            ::fchmod(fd, 0644);
        const FlockTry taken = tryFlock(fd, exclusive);
        if (taken != FlockTry::Taken) {
            ::close(fd);
            fd = -1;
            return taken == FlockTry::HeldElsewhere ? Opened::HeldElsewhere : Opened::Unknown;
        }
        struct stat current;
        if (::lstat(path.constData(), &current) == 0 && current.st_dev == held.st_dev &&
            current.st_ino == held.st_ino)
            return Opened::Held;
        ::close(fd); // removed by a holder leaving meanwhile
        fd = -1;
    }
    return Opened::Unknown;
}

// The process that holds an flock on the file at path, as /proc/locks tells ("1: FLOCK ADVISORY
// READ 4242 08:01:1234 0 EOF"); 0 when it does not tell.
qint64 holderOf(const QByteArray &path)
{
    struct stat st;
    QFile locks(QStringLiteral("/proc/locks"));
    if (::stat(path.constData(), &st) != 0 || !locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray where = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':' +
                             QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 6 && words.at(1) == "FLOCK" && words.at(5) == where)
            return words.at(4).toLongLong();
    }
    return 0;
}

} // namespace

QString DataFolderLock::fileName()
{
    return QStringLiteral(".PorAddr.lock");
}

DataFolderLock::DataFolderLock(DataFolderLock &&other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_))
{
    other.fd_ = -1;
}

DataFolderLock &DataFolderLock::operator=(DataFolderLock &&other) noexcept
{
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

DataFolderLock::~DataFolderLock()
{
    release();
}

bool DataFolderLock::holdForProgram(const QString &folder, int waitMs)
{
    release();
    path_ = lockPathIn(folder);
    const QByteArray path = QFile::encodeName(path_);
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        switch (openAndLock(path, false, fd_)) {
        case Opened::Held:
        case Opened::NoLockHere:
        case Opened::Unknown: // the program still runs; a companion will find it cannot tell
            return true;
        case Opened::HeldElsewhere:
            if (deadline.hasExpired())
                return false;
            QThread::msleep(retryMs);
            break;
        }
    }
}

DataFolderLock::Use DataFolderLock::holdForCompanion(const QString &folder, int waitMs, qint64 *pid)
{
    release();
    if (pid)
        *pid = 0;
    path_ = lockPathIn(folder);
    const QByteArray path = QFile::encodeName(path_);
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        switch (openAndLock(path, true, fd_)) {
        case Opened::Held:
            return Use::Free;
        case Opened::NoLockHere:
        case Opened::Unknown:
            return Use::CannotTell;
        case Opened::HeldElsewhere:
            break;
        }
        // Held shared: a copy of the program. Not even that: another tool, which is waited for.
        int probe = -1;
        const Opened shared = openAndLock(path, false, probe);
        if (probe >= 0)
            ::close(probe);
        if (shared == Opened::Held) {
            if (pid)
                *pid = holderOf(path);
            return Use::ProgramRuns;
        }
        if (shared != Opened::HeldElsewhere)
            return Use::CannotTell;
        if (deadline.hasExpired()) {
            if (pid)
                *pid = holderOf(path);
            return Use::CompanionWrites;
        }
        QThread::msleep(retryMs);
    }
}

void DataFolderLock::release()
{
    if (fd_ < 0)
        return;
    // The last one to leave removes the file, holding it exclusively so that nobody takes it in
    // between; a file left by a copy that was killed is taken over by the next one as it is.
    if (tryFlock(fd_, true) == FlockTry::Taken) {
        struct stat held, current;
        const QByteArray path = QFile::encodeName(path_);
        if (::fstat(fd_, &held) == 0 && ::lstat(path.constData(), &current) == 0 &&
            held.st_dev == current.st_dev && held.st_ino == current.st_ino)
            ::unlink(path.constData());
    }
    ::close(fd_);
    fd_ = -1;
}
