#include "platform/singleinstance.h"

#include "platform/lockrule.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder for the lock and the socket must be the user's own and closed to writers other than
// the user: whoever may write there could plant a lock that blocks every start, or a socket that
// receives the activation token. lstat, never stat: a link planted in place of the folder is refused.
bool isPrivateFolder(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The runtime folder when it is private; otherwise a folder of the program's own under the user's
// cache folder, one per machine (a home shared between machines must not share a lock whose
// holder and socket only one machine can see). Empty when the user has neither.
QString lockFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        return QString();
    QString host = QSysInfo::machineHostName();
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir::cleanPath(cache) + QStringLiteral("/poraddr-") + host;
}

// Makes sure the folder exists, is ours and is closed to others: created with mode 0700, or an
// existing one of ours whose mode is tightened. False when it cannot be made private.
bool makePrivateFolder(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    if (isPrivateFolder(path))
        return true;
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return false;
    return isPrivateFolder(path);
}

// How long a lock without content is given to show its holder, and the pause between looks.
constexpr int lockPatienceMs = 1000;
constexpr int lockRetryMs = 10;
// A lock still without readable content this long after it was made was left by a start that
// died while making it.
constexpr qint64 staleUnreadableSeconds = 5;

enum class LockState {
    Held,       // a running copy holds it
    BeingTaken, // no content yet: another start has just made it and is about to write it
    Vanished,   // gone while we looked, or removed as stale: try again
    NotALock,   // something else in its place (a folder, a link)
};

// The activation message is one line holding the desktop's activation token, which is printable
// ASCII and far shorter than the limit. Anything else is ignored.
constexpr qsizetype maxTokenBytes = 4096;
constexpr int activationTimeoutMs = 2000;

bool isUsableToken(QByteArrayView token)
{
    if (token.size() > maxTokenBytes)
        return false;
    for (const char c : token) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E)
            return false;
    }
    return true;
}

// The first line of a lock names the process that holds it.
bool namesAProcess(const QByteArray &content)
{
    const QByteArray pid = content.left(content.indexOf('\n'));
    if (pid.isEmpty())
        return false;
    for (const char c : pid)
        if (c < '0' || c > '9')
            return false;
    return pid.toLongLong() > 0;
}

// Removes a lock nobody holds, while we hold its flock (so no other start removes it at the same
// time) and only if it is still the file at path (not a new lock made meanwhile).
LockState removeStale(const QByteArray &path, int fd)
{
    struct stat held, current;
    const bool same = ::fstat(fd, &held) == 0 && ::lstat(path.constData(), &current) == 0 &&
                      held.st_dev == current.st_dev && held.st_ino == current.st_ino;
    const bool removed = same && (::unlink(path.constData()) == 0 || errno == ENOENT);
    ::close(fd);
    return !same || removed ? LockState::Vanished : LockState::NotALock;
}

// A copy holds its lock file open with an exclusive flock for as long as it runs, taken right after
// the file is made and before its content is written. So by the lock rule a lock whose flock we can
// take was left by a copy that is gone, whatever process and host name it names. One without
// content may still be being made, unless it is old; it is only removed then.
LockState inspectLock(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT ? LockState::Vanished : LockState::NotALock;
    if (!S_ISREG(st.st_mode))
        return LockState::NotALock;
    const bool old = std::llabs(qint64(::time(nullptr)) - qint64(st.st_mtime)) > staleUnreadableSeconds;
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return LockState::Vanished;
        if (!old)
            return LockState::BeingTaken;
        return ::unlink(native.constData()) == 0 || errno == ENOENT ? LockState::Vanished
                                                                    : LockState::NotALock;
    }
    const FlockTry taken = tryFlock(fd, true);
    if (taken == FlockTry::HeldElsewhere) {
        ::close(fd);
        return LockState::Held;
    }
    const bool ours = taken == FlockTry::Taken;
    QByteArray content(4096, Qt::Uninitialized);
    const ssize_t got = ::read(fd, content.data(), size_t(content.size()));
    content.resize(got > 0 ? qsizetype(got) : 0);
    const bool named = namesAProcess(content);
    // Without flock (a file system that has none) a named lock can only be taken for held.
    if ((named && ours) || (!named && old))
        return removeStale(native, fd);
    ::close(fd);
    return named ? LockState::Held : LockState::BeingTaken;
}

} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent)
{
    // The same program file started twice gives the same key whatever the letter case. A short
    // hash keeps the names within a file name and the socket path within a socket address however
    // long the program's name is; the user id keeps the copies of users sharing a folder apart.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(name.toCaseFolded().toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(QByteArray::number(qulonglong(::geteuid())));
    key_ = QStringLiteral("poraddr-") + QString::fromLatin1(hash.result().toHex().left(16));
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::lockPath() const
{
    const QString folder = lockFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + key_ + QStringLiteral(".lock");
}

QString SingleInstance::serverName() const
{
    const QString folder = lockFolder();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + key_ + QStringLiteral(".socket");
}

SingleInstance::Result SingleInstance::tryAcquire()
{
    if (!makePrivateFolder(lockFolder()))
        return Result::Failed;
    const QString path = lockPath();
    QDeadlineTimer patience(lockPatienceMs);
    for (;;) {
        auto lock = std::make_unique<QLockFile>(path);
        // A lock is stale only when its process is gone, never because it is old: a copy may run for weeks.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            lock_ = std::move(lock);
            return Result::Acquired;
        }
        if (lock->error() != QLockFile::LockFailedError)
            return Result::Failed;
        switch (inspectLock(path)) {
        case LockState::Held:
            return Result::AnotherRuns;
        case LockState::NotALock:
            return Result::Failed; // the user must be told: no lock can ever be made here
        case LockState::Vanished:
            if (patience.hasExpired())
                return Result::Failed; // made and removed over and over: not a lock we can judge
            break;
        case LockState::BeingTaken:
            // Still without content after a while: taken to be the copy that is starting. Its
            // socket may not listen yet, and then this start ends quietly.
            if (patience.hasExpired())
                return Result::AnotherRuns;
            QThread::msleep(lockRetryMs);
            break;
        }
    }
}

void SingleInstance::activateRunningCopy(const QByteArray &activationToken)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(2000))
        return; // a copy that holds the lock but does not answer: end quietly
    // A token the running copy would refuse (too long, or more than printable ASCII) is left out:
    // the window is still raised, only without it.
    socket.write((isUsableToken(activationToken) ? activationToken : QByteArray()) + '\n');
    socket.flush();
    socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(2000);
}

void SingleInstance::listen()
{
    if (server_ || !lock_)
        return;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file left here belongs to a copy that is gone.
    QLocalServer::removeServer(serverName());
    if (!server_->listen(serverName()))
        return; // activation from a second start is then not possible; the program still runs
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // One line, soon: a connection that has not sent it in time is dropped.
            QTimer::singleShot(activationTimeoutMs, socket, &QLocalSocket::abort);
            auto received = std::make_shared<QByteArray>();
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
                // Never more than a line and its line end is read; the new bytes alone are searched.
                const qsizetype searched = received->size();
                received->append(socket->read(maxTokenBytes + 2 - received->size()));
                const qsizetype end = received->indexOf('\n', searched);
                if (end < 0) {
                    if (received->size() >= maxTokenBytes + 2)
                        socket->abort();
                    return;
                }
                QByteArray token = received->left(end);
                if (token.endsWith('\r'))
                    token.chop(1);
                socket->abort(); // anything after the line is ignored
                if (isUsableToken(token))
                    emit activationRequested(token);
            });
        }
    });
}

void SingleInstance::release()
{
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}
