// One running copy per user and program file name: the lock and the private folder it lives in,
// its take-over after a crash, the activation request a second start sends, and the failure when
// no lock can be made. And the data folder's lock, by which companion tools find a running copy.

#include "platform/runningcopy.h"
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

QString programFolderUnder(const QString &cache)
{
    return cache + QStringLiteral("/poraddr-") + QSysInfo::machineHostName();
}

// A lock file as a start that is making it, or a copy that holds it, would leave it: the file,
// optionally held with an exclusive flock (a running copy holds its lock so for as long as it
// runs), with content that may come only a moment later.
struct PlantedLock {
    int fd = -1;
    std::thread writer;
    PlantedLock(const QString &path, const QByteArray &content, bool held, int writeAfterMs, int ageSeconds)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        if (held)
            ::flock(fd, LOCK_EX);
        if (writeAfterMs < 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, content.constData(), size_t(content.size()));
            const timespec made{::time(nullptr) - ageSeconds, 0};
            const timespec times[2] = {made, made};
            ::futimens(fd, times);
            return;
        }
        writer = std::thread([this, content, writeAfterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(writeAfterMs));
            ::flock(fd, LOCK_EX);
            [[maybe_unused]] const ssize_t n = ::write(fd, content.constData(), size_t(content.size()));
        });
    }
    ~PlantedLock()
    {
        if (writer.joinable())
            writer.join();
        if (fd >= 0)
            ::close(fd);
    }
};

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
        cache_ = std::make_unique<QTemporaryDir>();
        QVERIFY(runtime_->isValid() && cache_->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_->path()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache_->path()));
    }

    // The runtime folder is used only when the user owns it and nobody else may write to it;
    // otherwise lock and socket go to a folder of mode 0700 under the user's cache folder.
    void lockAndSocketOnlyInAPrivateFolder_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<bool>("inRuntime");
        QTest::newRow("private runtime folder") << "0700" << true;
        QTest::newRow("others may read, not write") << "0755" << true;
        QTest::newRow("group may write") << "0770" << false;
        QTest::newRow("everyone may write, as /tmp") << "1777" << false;
        QTest::newRow("a link to a private folder") << "link" << false;
        QTest::newRow("another user's folder") << "other user" << false;
        QTest::newRow("no runtime folder") << "unset" << false;
        QTest::newRow("relative path") << "relative" << false;
    }

    void lockAndSocketOnlyInAPrivateFolder()
    {
        QFETCH(QString, runtime);
        QFETCH(bool, inRuntime);
        const QString dir = runtime_->path();
        const QByteArray native = QFile::encodeName(dir);
        QTemporaryDir linkHolder;
        if (runtime == QLatin1String("link")) {
            const QString link = linkHolder.filePath(QStringLiteral("runtime"));
            QVERIFY(QFile::link(dir, link));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(link));
        } else if (runtime == QLatin1String("other user")) {
            if (::geteuid() != 0)
                QSKIP("needs root to hand the folder to another user");
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        } else if (runtime == QLatin1String("unset")) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else if (runtime == QLatin1String("relative")) {
            qputenv("XDG_RUNTIME_DIR", "runtime");
        } else {
            QCOMPARE(::chmod(native.constData(), mode_t(runtime.toInt(nullptr, 8))), 0);
        }

        SingleInstance instance(QStringLiteral("PorAddr"));
        QCOMPARE(instance.tryAcquire(), SingleInstance::Result::Acquired);
        instance.listen();
        const QString folder = inRuntime ? dir : programFolderUnder(cache_->path());
        QCOMPARE(QFileInfo(instance.lockPath()).path(), folder);
        QCOMPARE(QFileInfo(instance.serverName()).path(), folder);
        QVERIFY(QFileInfo(instance.lockPath()).isFile());
        QVERIFY(QFileInfo::exists(instance.serverName()));
        if (!inRuntime) {
            QCOMPARE(modeOf(folder) & 07777, mode_t(0700));
            QVERIFY(QDir(dir).isEmpty());
        }
        // A second start of the same user finds this copy there.
        SingleInstance second(QStringLiteral("PorAddr"));
        QCOMPARE(second.tryAcquire(), SingleInstance::Result::AnotherRuns);
    }

    // With no private folder to be had the start fails (and the user is told), rather than using a
    // folder someone else could write to.
    void noPrivateFolderIsAFailure_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("cache folder cannot be made") << "file";
        QTest::newRow("program's folder is a link") << "link";
        QTest::newRow("program's folder is another user's") << "other user";
    }

    void noPrivateFolderIsAFailure()
    {
        QFETCH(QString, obstacle);
        qunsetenv("XDG_RUNTIME_DIR");
        const QString folder = programFolderUnder(cache_->path());
        if (obstacle == QLatin1String("file")) {
            const QString file = cache_->filePath(QStringLiteral("file"));
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
            qputenv("XDG_CACHE_HOME", QFile::encodeName(file + QStringLiteral("/cache")));
        } else if (obstacle == QLatin1String("link")) {
            QVERIFY(QFile::link(runtime_->path(), folder));
        } else {
            if (::geteuid() != 0)
                QSKIP("needs root to hand the folder to another user");
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        SingleInstance instance(QStringLiteral("PorAddr"));
        QCOMPARE(instance.tryAcquire(), SingleInstance::Result::Failed);
        QVERIFY(QDir(runtime_->path()).isEmpty());
    }

    // What a start makes of a lock it finds. Another start may have made the file and not yet
    // written who holds it: that start is given a moment, never reported as a failure. A lock
    // nobody holds any more is taken over, whatever host name it names, and so is one without
    // readable content once it is a few seconds old.
    void lockFoundByAStart_data()
    {
        // In content, "PID" stands for a running process, "DEAD" for one that has ended and "HOST"
        // for this machine's name.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("writeAfterMs"); // -1: the content is there from the start
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<SingleInstance::Result>("result");
        using R = SingleInstance::Result;
        const QByteArray running = "PID\nPorAddr\nHOST\n";
        QTest::newRow("held by a running copy") << running << true << -1 << 0 << R::AnotherRuns;
        QTest::newRow("being taken: held, no content yet") << running << true << 300 << 0 << R::AnotherRuns;
        QTest::newRow("being taken: neither held nor written yet")
            << running << false << 300 << 0 << R::AnotherRuns;
        QTest::newRow("no content for longer than a start takes")
            << QByteArray() << false << -1 << 0 << R::AnotherRuns;
        // Left by a copy that crashed: taken over.
        QTest::newRow("copy gone") << QByteArray("DEAD\nPorAddr\nHOST\n") << false << -1 << 60 << R::Acquired;
        QTest::newRow("copy gone, machine renamed since")
            << QByteArray("DEAD\nPorAddr\nold-name\n") << false << -1 << 60 << R::Acquired;
        QTest::newRow("copy running since before the machine was renamed")
            << QByteArray("PID\nPorAddr\nold-name\n") << true << -1 << 60 << R::AnotherRuns;
        QTest::newRow("empty, left seconds ago") << QByteArray() << false << -1 << 10 << R::Acquired;
        QTest::newRow("unreadable, left seconds ago")
            << QByteArray("\xff\xfe\x01garbage") << false << -1 << 10 << R::Acquired;
    }

    void lockFoundByAStart()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, held);
        QFETCH(int, writeAfterMs);
        QFETCH(int, ageSeconds);
        QFETCH(SingleInstance::Result, result);
        if (content.contains("DEAD")) {
            QProcess gone;
            gone.start(QStringLiteral("true"), {});
            QVERIFY(gone.waitForStarted());
            content.replace("DEAD", QByteArray::number(gone.processId()));
            QVERIFY(gone.waitForFinished());
        }
        content.replace("PID", QByteArray::number(QCoreApplication::applicationPid()));
        content.replace("HOST", QSysInfo::machineHostName().toUtf8());
        SingleInstance instance(QStringLiteral("PorAddr"));
        PlantedLock planted(instance.lockPath(), content, held, writeAfterMs, ageSeconds);
        QVERIFY(planted.fd >= 0);
        QCOMPARE(instance.tryAcquire(), result);
        if (result == SingleInstance::Result::Acquired) {
            // The lock is now this copy's: a second start finds it running.
            SingleInstance second(QStringLiteral("PorAddr"));
            QCOMPARE(second.tryAcquire(), SingleInstance::Result::AnotherRuns);
        }
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
        const QString longName = QString::fromUtf8("ぽるてアドレス帳").repeated(8).left(60);
        QTest::newRow("60-character Japanese name") << longName << longName << true;
        QTest::newRow("long names that differ at the end") << longName << longName.left(59) << false;
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

    // The running copy takes one line of at most 4 KiB of printable ASCII and drops the connection
    // after it, or after a short while without one; anything else raises nothing.
    void activationMessageIsBounded_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("activations");
        QTest::addColumn<QByteArray>("token");
        const QByteArray longest(4096, 'x');
        QTest::newRow("token") << QByteArray("host-1234_TIME5678\n") << 1 << QByteArray("host-1234_TIME5678");
        QTest::newRow("CR LF") << QByteArray("abc\r\n") << 1 << QByteArray("abc");
        QTest::newRow("no token: raise all the same") << QByteArray("\n") << 1 << QByteArray();
        QTest::newRow("4 KiB") << longest + '\n' << 1 << longest;
        QTest::newRow("one byte over 4 KiB") << longest + "x\n" << 0 << QByteArray();
        QTest::newRow("1 MiB without line end") << QByteArray(1 << 20, 'x') << 0 << QByteArray();
        QTest::newRow("no line end, connection kept open") << QByteArray("abc") << 0 << QByteArray();
        QTest::newRow("control character") << QByteArray("a\x01"
                                                         "b\n")
                                           << 0 << QByteArray();
        QTest::newRow("not ASCII") << QByteArray("\xe3\x81\x82\n") << 0 << QByteArray();
        QTest::newRow("only the first line counts") << QByteArray("one\ntwo\n") << 1 << QByteArray("one");
    }

    void activationMessageIsBounded()
    {
        QFETCH(QByteArray, sent);
        QFETCH(int, activations);
        QFETCH(QByteArray, token);
        SingleInstance running(QStringLiteral("PorAddr"));
        QCOMPARE(running.tryAcquire(), SingleInstance::Result::Acquired);
        running.listen();
        QSignalSpy spy(&running, &SingleInstance::activationRequested);
        QLocalSocket client;
        client.connectToServer(running.serverName());
        QVERIFY(client.waitForConnected(5000));
        client.write(sent);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(spy.count(), activations);
        if (activations > 0)
            QCOMPARE(spy[0][0].toByteArray(), token);
    }

    // The second start sends only a token the running copy takes; any other is left out, and the
    // window is raised without one.
    void secondStartSendsOnlyAUsableToken_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("received");
        const QByteArray longest(4096, 't');
        QTest::newRow("token") << QByteArray("host-1234_TIME5678") << QByteArray("host-1234_TIME5678");
        QTest::newRow("4 KiB") << longest << longest;
        QTest::newRow("one byte over 4 KiB") << longest + 't' << QByteArray();
        QTest::newRow("line end inside") << QByteArray("a\nb") << QByteArray();
        QTest::newRow("control character") << QByteArray("a\tb") << QByteArray();
        QTest::newRow("not ASCII") << QByteArray("\xe3\x81\x82") << QByteArray();
    }

    void secondStartSendsOnlyAUsableToken()
    {
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, received);
        Holder holder(QStringLiteral("PorAddr"));
        QVERIFY(holder.waitReady());
        SingleInstance second(QStringLiteral("PorAddr"));
        QCOMPARE(second.tryAcquire(), SingleInstance::Result::AnotherRuns);
        second.activateRunningCopy(token);
        QTRY_VERIFY_WITH_TIMEOUT(holder.process.canReadLine(), 10000);
        QCOMPARE(holder.process.readLine(), "activated " + received + '\n');
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

    // What a start of the program and a companion tool see of a data folder, by what is in it.
    void dataFolderLock_data()
    {
        QTest::addColumn<QString>("present"); // what holds or lies in the folder beforehand
        QTest::addColumn<bool>("programStarts");
        QTest::addColumn<int>("companionSees"); // DataFolderLock::Use
        using Use = DataFolderLock::Use;
        QTest::newRow("nothing") << "nothing" << true << int(Use::Free);
        QTest::newRow("a running copy") << "program" << true << int(Use::ProgramRuns);
        QTest::newRow("two running copies") << "two programs" << true << int(Use::ProgramRuns);
        QTest::newRow("a companion writing") << "companion" << false << int(Use::CompanionWrites);
        QTest::newRow("a file left by a killed copy") << "left file" << true << int(Use::Free);
        QTest::newRow("a folder in its place") << "folder" << true << int(Use::CannotTell);
        QTest::newRow("a link in its place") << "link" << true << int(Use::CannotTell);
    }
    void dataFolderLock()
    {
        QFETCH(QString, present);
        QFETCH(bool, programStarts);
        QFETCH(int, companionSees);
        QTemporaryDir folder;
        const QString lockFile = folder.filePath(DataFolderLock::fileName());
        DataFolderLock first, second;
        if (present == QLatin1String("program") || present == QLatin1String("two programs"))
            QVERIFY(first.holdForProgram(folder.path(), 0) && first.isHeld());
        if (present == QLatin1String("two programs"))
            QVERIFY(second.holdForProgram(folder.path(), 0) && second.isHeld());
        if (present == QLatin1String("companion"))
            QCOMPARE(first.holdForCompanion(folder.path(), 0), DataFolderLock::Use::Free);
        if (present == QLatin1String("left file"))
            QVERIFY(QFile(lockFile).open(QIODevice::WriteOnly));
        if (present == QLatin1String("folder"))
            QVERIFY(QDir(folder.path()).mkdir(DataFolderLock::fileName()));
        if (present == QLatin1String("link"))
            QVERIFY(QFile::link(folder.filePath(QStringLiteral("elsewhere")), lockFile));

        DataFolderLock program;
        QCOMPARE(program.holdForProgram(folder.path(), 100), programStarts);
        program.release();
        DataFolderLock companion;
        qint64 pid = -1;
        QCOMPARE(int(companion.holdForCompanion(folder.path(), 100, &pid)), companionSees);
        QCOMPARE(companion.isHeld(), companionSees == int(DataFolderLock::Use::Free));
        if (companionSees == int(DataFolderLock::Use::ProgramRuns))
            QCOMPARE(pid, qint64(QCoreApplication::applicationPid()));
        // While a companion holds the folder, a start waits; it goes on once the companion is done.
        if (companion.isHeld()) {
            QVERIFY(!program.holdForProgram(folder.path(), 0));
            std::thread done([&companion] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                companion.release();
            });
            const bool started = program.holdForProgram(folder.path(), 10000);
            done.join();
            QVERIFY(started && program.isHeld());
        }
        first.release();
        second.release();
        program.release();
        // Whoever leaves last takes a lock file along; what is not a lock file stays.
        QCOMPARE(QFileInfo::exists(lockFile) || QFileInfo(lockFile).isSymLink(),
                 present == QLatin1String("folder") || present == QLatin1String("link"));
    }

private:
    std::unique_ptr<QTemporaryDir> runtime_, cache_;
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
