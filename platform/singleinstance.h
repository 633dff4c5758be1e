#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLockFile;
class QLocalServer;

// One running copy per user and program file name. The lock makes test-and-register one atomic
// step; the running copy listens on a local socket of the same name so that a second start can
// ask it to come to the front. Lock and socket live only in a folder that the user owns and nobody
// else may write to, so another user can neither block a start nor answer it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { Acquired, AnotherRuns, Failed };

    // name: the marker name, the program's file name (case-folded by the class).
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Failed when no private folder can be had or the lock cannot be made there.
    Result tryAcquire();
    // Second start: asks the running copy to raise its window; gives up quietly when it does not answer.
    void activateRunningCopy(const QByteArray &activationToken);
    // Running copy: start listening; activationRequested is emitted for each second start.
    void listen();
    void release();

    // Full paths of the lock file and of the socket the running copy listens on, for this program
    // file name and the current user; usable without tryAcquire (the private folder may not exist
    // yet, in which case no copy runs). Empty when the user has no private folder at all.
    QString lockPath() const;
    QString serverName() const;

signals:
    void activationRequested(const QByteArray &activationToken);

private:
    QString key_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer *server_ = nullptr;
};
