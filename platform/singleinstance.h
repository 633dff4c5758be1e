#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLockFile;
class QLocalServer;

// One running copy per user and program file name. The lock makes test-and-register one atomic
// step; the running copy listens on a local socket of the same name so that a second start can
// ask it to come to the front.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Result { Acquired, AnotherRuns, Failed };

    // name: the marker name, the program's file name (case-folded by the class).
    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    Result tryAcquire();
    // Second start: asks the running copy to raise its window; gives up quietly when it does not answer.
    void activateRunningCopy(const QByteArray &activationToken);
    // Running copy: start listening; activationRequested is emitted for each second start.
    void listen();
    void release();

    QString lockPath() const;
    QString serverName() const;

signals:
    void activationRequested(const QByteArray &activationToken);

private:
    QString key_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer *server_ = nullptr;
};
