// One running copy per user and program file name: the lock, its take-over after a crash, the
// activation request a second start sends, and the failure when no lock can be made.

#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {
// Child mode: hold the lock for name, answer activation requests by printing their token.
int holdLock(const QString &name)
{
    SingleInstance instance(name);
    if (instance.tryAcquire() != SingleInstance::Result::Acquired)
        return 3;
    instance.listen();
    QObject::connect(&instance, &SingleInstance::activationRequested, [](const QByteArray &token) {
        std::printf("activated %s\n", token.constData());
        std::fflush(stdout);
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

struct Holder {
    QProcess process;
    explicit Holder(const QString &name)
    {
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-lock"), name});
    }
    bool waitReady()
    {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return false;
        return process.readLine().trimmed() == "ready";
    }
    ~Holder()
    {
        process.kill();
        process.waitForFinished();
    }
};
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        runtime_ = std::make_unique<QTemporaryDir>();
        QVERIFY(runtime_->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_->path()));
    }

    void secondStartFindsTheRunningCopyAndActivatesIt_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("sameCopy");
        QTest::newRow("same name") << "PorAddr"
                                   << "PorAddr" << true;
        QTest::newRow("letter case ignored") << "PorAddr"
                                             << "PORADDR" << true;
        QTest::newRow("another file name") << "PorAddr"
                                           << "PorAddr2" << false;
        QTest::newRow("Japanese name") << "ぽるて"
                                       << "ぽるて" << true;
    }

    void secondStartFindsTheRunningCopyAndActivatesIt()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, sameCopy);
        Holder holder(first);
        QVERIFY(holder.waitReady());
        SingleInstance instance(second);
        const SingleInstance::Result result = instance.tryAcquire();
        if (!sameCopy) {
            QCOMPARE(result, SingleInstance::Result::Acquired);
            return;
        }
        QCOMPARE(result, SingleInstance::Result::AnotherRuns);
        instance.activateRunningCopy("token-1");
        QVERIFY(holder.process.waitForReadyRead(10000) || holder.process.canReadLine());
        QTRY_VERIFY(holder.process.canReadLine());
        QCOMPARE(holder.process.readLine().trimmed(), QByteArray("activated token-1"));
    }

    void copyThatWasKilledDoesNotBlock()
    {
        {
            Holder holder(QStringLiteral("PorAddr"));
            QVERIFY(holder.waitReady());
            holder.process.kill(); // no chance to remove its lock or socket
            holder.process.waitForFinished();
        }
        SingleInstance instance(QStringLiteral("PorAddr"));
        QCOMPARE(instance.tryAcquire(), SingleInstance::Result::Acquired);
        instance.listen();
        // A later start reaches this copy, not the dead one's socket.
        QSignalSpy spy(&instance, &SingleInstance::activationRequested);
        QProcess second;
        second.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--activate"), QStringLiteral("PorAddr")});
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy[0][0].toByteArray(), QByteArray("from-second"));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitCode(), 2);
    }

    void releasedLockCanBeTakenAgain()
    {
        SingleInstance first(QStringLiteral("PorAddr"));
        QCOMPARE(first.tryAcquire(), SingleInstance::Result::Acquired);
        first.release();
        SingleInstance second(QStringLiteral("PorAddr"));
        QCOMPARE(second.tryAcquire(), SingleInstance::Result::Acquired);
    }

    void lockThatCannotBeMadeIsAFailure()
    {
        // The lock's place is taken by something that is no lock of a copy: neither free nor held.
        SingleInstance instance(QStringLiteral("PorAddr"));
        QVERIFY(QDir().mkpath(instance.lockPath()));
        QCOMPARE(instance.tryAcquire(), SingleInstance::Result::Failed);
    }

    void silentCopyDoesNotHangTheSecondStart()
    {
        // A copy that holds the lock but does not listen: the second start gives up on its own.
        SingleInstance holder(QStringLiteral("PorAddr"));
        QCOMPARE(holder.tryAcquire(), SingleInstance::Result::Acquired);
        QProcess second;
        second.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--activate"), QStringLiteral("PorAddr")});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 2);
    }

private:
    std::unique_ptr<QTemporaryDir> runtime_;
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(QString::fromUtf8(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "--activate") == 0) {
        SingleInstance instance(QString::fromUtf8(argv[2]));
        if (instance.tryAcquire() != SingleInstance::Result::AnotherRuns)
            return 1;
        instance.activateRunningCopy("from-second");
        return 2;
    }
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
