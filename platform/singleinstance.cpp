#include "platform/singleinstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>

namespace {
QString runtimeDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}
} // namespace

SingleInstance::SingleInstance(const QString &name, QObject *parent) : QObject(parent)
{
    // The same program file started twice gives the same key whatever the letter case; the user id
    // keeps the copies of different users apart when the runtime folder is shared (/tmp).
    key_ = QString::fromLatin1(QUrl::toPercentEncoding(name.toCaseFolded())) + QLatin1Char('-') +
           QString::number(getuid());
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::lockPath() const
{
    return runtimeDirectory() + QLatin1Char('/') + key_ + QStringLiteral(".lock");
}

QString SingleInstance::serverName() const
{
    return runtimeDirectory() + QLatin1Char('/') + key_ + QStringLiteral(".socket");
}

SingleInstance::Result SingleInstance::tryAcquire()
{
    lock_ = std::make_unique<QLockFile>(lockPath());
    // A lock is stale only when its process is gone, never because it is old: a copy may run for weeks.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return Result::Acquired;
    // Only a lock that names its holder is another copy; anything else in its place (a folder, a
    // file we cannot read) means no lock can be made here, which the user must be told about.
    qint64 pid = 0;
    QString host, application;
    const bool held =
        lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&pid, &host, &application);
    lock_.reset();
    return held ? Result::AnotherRuns : Result::Failed;
}

void SingleInstance::activateRunningCopy(const QByteArray &activationToken)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(2000))
        return; // a copy that holds the lock but does not answer: end quietly
    socket.write(activationToken + '\n');
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
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray token = socket->readLine().trimmed();
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
