#include "store/errors.h"
#include "support/storetest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using storetest::ChildResult;
using storetest::RunAs;
using storetest::SharedDir;

// Failures made real: an unprivileged user against root's files and folders, a disk that is
// really full, a save killed half way. Each checks the message a user would see and that the files
// already stored are exactly as they were.
class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void unreadableListFile_data();
    void unreadableListFile();
    void saveRefused_data();
    void saveRefused();
    void emptyListsLeaveWhatIsNotTheirs_data();
    void emptyListsLeaveWhatIsNotTheirs();
    void fullDisk_data();
    void fullDisk();
    void killedDuringSave();
    void programDirectoryInJapaneseFolder();

private:
    QByteArray old1_ = QByteArray("old1\r\n").repeated(7);
    QByteArray old2_ = QByteArray("old2\r\n").repeated(6);
    QByteArray oldIni_ = "[Position]\r\nTop=1\r\n";

    void writeOldFiles(const SharedDir &dir) const
    {
        storetest::writeBytes(dir.file(QStringLiteral("PorAddr1.lst")), old1_);
        storetest::writeBytes(dir.file(QStringLiteral("PorAddr2.lst")), old2_);
        storetest::writeBytes(dir.file(QStringLiteral("PorAddr.ini")), oldIni_);
        storetest::writeBytes(dir.file(QStringLiteral("PorMem.txt")), "old\r\n");
        for (const QString &name : storetest::entriesOf(dir.path()))
            ::chmod(QFile::encodeName(dir.file(name)).constData(), 0666);
    }
    void verifyOldFiles(const SharedDir &dir) const
    {
        QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr1.lst"))), old1_);
        QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr2.lst"))), old2_);
        QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr.ini"))), oldIni_);
        QCOMPARE(storetest::entriesOf(dir.path()),
                 (QStringList{"PorAddr.ini", "PorAddr1.lst", "PorAddr2.lst", "PorMem.txt"}));
    }
    static QByteArray md5(const QByteArray &bytes)
    {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
    }
};

void TestFaults::initTestCase()
{
    if (storetest::isRoot() && QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QFAIL("running as root needs setpriv (util-linux) to test as an ordinary user");
}

void TestFaults::unreadableListFile_data()
{
    QTest::addColumn<QString>("unreadable");
    QTest::addColumn<QByteArray>("counts");
    QTest::addColumn<QByteArray>("loaded");
    QTest::newRow("list 2: nothing loaded")
        << QStringLiteral("PorAddr2.lst") << QByteArray("0 0") << QByteArray("0 0");
    QTest::newRow("list 1: list 2 complete")
        << QStringLiteral("PorAddr1.lst") << QByteArray("0 1") << QByteArray("0 1");
}

// The file stays as it was through the failed start and the close that follows.
void TestFaults::unreadableListFile()
{
    QFETCH(QString, unreadable);
    QFETCH(QByteArray, counts);
    QFETCH(QByteArray, loaded);
    SharedDir dir(0777);
    writeOldFiles(dir);
    QVERIFY(QFile::setPermissions(dir.file(unreadable), {}));

    const ChildResult r = storetest::runChild({"load", dir.path(), "then-save"}, RunAs::Unprivileged);
    QVERIFY(r.ran);
    QCOMPARE(QString::fromUtf8(r.value("loaderror")),
             QStringLiteral("ﾌｧｲﾙ %1 は開けません").arg(dir.file(unreadable)));
    QCOMPARE(r.value("counts"), counts);
    QCOMPARE(r.value("loaded"), loaded);
    QVERIFY2(r.value("ok").isEmpty(), r.output);
    const QByteArray other = unreadable.endsWith(QLatin1String("1.lst")) ? "PorAddr2.lst" : "PorAddr1.lst";
    QCOMPARE(storetest::readBytes(dir.file(unreadable)),
             unreadable.endsWith(QLatin1String("1.lst")) ? old1_ : old2_);
    if (loaded == "0 1") // list 2 was read whole, so the close rewrites it
    {
        AddressList added(false);
        added.Append(storetest::sampleEntry(2));
        QCOMPARE(r.value("file " + other), md5(old2_ + added.fileContent(0, added.Count())));
    } else
        QCOMPARE(storetest::readBytes(dir.file(QString::fromLatin1(other))), old1_);
}

void TestFaults::saveRefused_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<QString>("readOnlyFile");
    QTest::addColumn<QStringList>("operation");
    QTest::addColumn<QString>("message");
    const QString create = QStringLiteral("ﾌｧｲﾙ %1 を作成できません");
    const QString settings = QStringLiteral("%1 に書き込めません");
    QTest::newRow("lists, read-only folder")
        << 0755 << QString() << QStringList{"save", "3", "2"} << create + "|PorAddr1.lst";
    QTest::newRow("lists, read-only list 1")
        << 0777 << "PorAddr1.lst" << QStringList{"save", "3", "2"} << create + "|PorAddr1.lst";
    QTest::newRow("lists, read-only list 2")
        << 0777 << "PorAddr2.lst" << QStringList{"save", "0", "2"} << create + "|PorAddr2.lst";
    QTest::newRow("settings, read-only folder")
        << 0755 << QString() << QStringList{"settings"} << settings + "|PorAddr.ini";
    QTest::newRow("settings, read-only file")
        << 0777 << "PorAddr.ini" << QStringList{"settings"} << settings + "|PorAddr.ini";
    QTest::newRow("member list, read-only folder")
        << 0755 << QString() << QStringList{"export", "3"} << create + "|PorMem.txt";
}

void TestFaults::saveRefused()
{
    QFETCH(int, folderMode);
    QFETCH(QString, readOnlyFile);
    QFETCH(QStringList, operation);
    QFETCH(QString, message);
    SharedDir dir(0777);
    writeOldFiles(dir);
    if (!readOnlyFile.isEmpty())
        ::chmod(QFile::encodeName(dir.file(readOnlyFile)).constData(), 0444);
    ::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode));

    QStringList args = operation;
    args.insert(1, dir.path());
    const ChildResult r = storetest::runChild(args, RunAs::Unprivileged);
    QVERIFY(r.ran);
    QCOMPARE(QString::fromUtf8(r.value("error")),
             message.section(QLatin1Char('|'), 0, 0).arg(dir.file(message.section(QLatin1Char('|'), 1))));
    if (operation.first() == QLatin1String("save") && operation.value(1) == QLatin1String("0")) {
        // list 1 empty: its file went, list 2 stayed (read-only) and nothing else changed
        QCOMPARE(storetest::entriesOf(dir.path()),
                 (QStringList{"PorAddr.ini", "PorAddr2.lst", "PorMem.txt"}));
        QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr2.lst"))), old2_);
        return;
    }
    verifyOldFiles(dir);
    QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorMem.txt"))), QByteArray("old\r\n"));
}

void TestFaults::emptyListsLeaveWhatIsNotTheirs_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<QString>("readOnlyFile");
    QTest::addColumn<QStringList>("left");
    const QStringList all{"PorAddr.ini", "PorAddr1.lst", "PorAddr2.lst", "PorMem.txt"};
    // The deletions fail without a word; the old entries come back at the next start.
    QTest::newRow("read-only folder") << 0755 << QString() << all;
    QTest::newRow("read-only file in a writable folder")
        << 0777 << QStringLiteral("PorAddr2.lst") << QStringList{"PorAddr.ini", "PorAddr2.lst", "PorMem.txt"};
}

void TestFaults::emptyListsLeaveWhatIsNotTheirs()
{
    QFETCH(int, folderMode);
    QFETCH(QString, readOnlyFile);
    QFETCH(QStringList, left);
    SharedDir dir(0777);
    writeOldFiles(dir);
    if (!readOnlyFile.isEmpty())
        ::chmod(QFile::encodeName(dir.file(readOnlyFile)).constData(), 0444);
    ::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode));
    const ChildResult r = storetest::runChild({"save", dir.path(), "0", "0"}, RunAs::Unprivileged);
    QVERIFY(r.ran);
    QVERIFY2(r.output.contains("\nok \n"), r.output);
    QCOMPARE(storetest::entriesOf(dir.path()), left);
    if (left.contains(QStringLiteral("PorAddr1.lst")))
        QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr1.lst"))), old1_);
    QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr2.lst"))), old2_);
}

void TestFaults::fullDisk_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("operation");
    QTest::addColumn<QString>("unchanged");
    const QStringList bigSave{"save", "5000", "5000"};
    QTest::newRow("file size limit") << QStringLiteral("fsize=65536") << bigSave
                                     << QStringLiteral("PorAddr1.lst");
    QTest::newRow("small tmpfs") << QStringLiteral("tmpfs") << bigSave << QStringLiteral("PorAddr1.lst");
    // Small enough to sit in the file's write buffer: the disk says no only when it is flushed.
    QTest::newRow("three entries, 100 bytes left")
        << QStringLiteral("fsize=100") << QStringList{"save", "3", "0"} << QStringLiteral("PorAddr1.lst");
    QTest::newRow("member list, 100 bytes left")
        << QStringLiteral("fsize=100") << QStringList{"export", "6"} << QStringLiteral("PorMem.txt");
}

void TestFaults::fullDisk()
{
    QFETCH(QString, how);
    QFETCH(QStringList, operation);
    QFETCH(QString, unchanged);
    SharedDir dir(0777);
    QStringList wrapper;
    QStringList options{"--old", dir.path()};
    if (how.startsWith(QLatin1String("fsize="))) {
        options << "--fsize" << how.mid(6);
    } else {
        if (QProcess::execute(QStringLiteral("unshare"), {"-rm", "true"}) != 0)
            QSKIP("this machine allows no user namespace for a private tmpfs; the size limit case covers it");
        wrapper << "unshare"
                << "-rm"
                << "sh"
                << "-c"
                << R"(mount -t tmpfs -o size=64k tmpfs "$0" && exec "$@")" << dir.path();
    }
    operation.insert(1, dir.path());
    const ChildResult r = storetest::runChild(options + operation, RunAs::Self, wrapper);
    QVERIFY2(r.ran && r.exitCode == 0, r.output);
    QCOMPARE(QString::fromUtf8(r.value("error")), QStringLiteral("ｽﾄﾘｰﾑへの書き込みｴﾗｰ"));
    // Seen from inside, where the tmpfs lives: the old files whole, no temporary file left.
    const QByteArray old = unchanged == QLatin1String("PorMem.txt") ? QByteArray("old\r\n") : old1_;
    QCOMPARE(r.value("file " + unchanged.toLatin1()), md5(old));
    QCOMPARE(r.value("file PorAddr2.lst"), md5(old2_));
    QCOMPARE(r.output.count("\nfile "), 4);
}

void TestFaults::killedDuringSave()
{
    SharedDir dir(0777);
    writeOldFiles(dir);
    QFile::remove(dir.file(QStringLiteral("PorMem.txt")));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--store-child", "save", dir.path(), "400000", "0"});
    QVERIFY(child.waitForStarted());

    // Kill once the new list file is open in the folder and partly written.
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(child.processId());
    bool killed = false;
    QElapsedTimer timer;
    timer.start();
    while (!killed && timer.elapsed() < 60000 && child.state() == QProcess::Running) {
        for (const QFileInfo &fd : QDir(fdDir).entryInfoList(QDir::Files | QDir::System)) {
            if (!QFile::symLinkTarget(fd.filePath()).startsWith(dir.path()))
                continue;
            // "pos:" is how far the child has written into that file.
            QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(child.processId()).arg(fd.fileName()));
            if (info.open(QIODevice::ReadOnly) && info.readLine().mid(4).trimmed().toLongLong() > 0) {
                ::kill(pid_t(child.processId()), SIGKILL);
                killed = true;
                break;
            }
        }
    }
    child.waitForFinished();
    QVERIFY2(killed, "the save ended before it could be killed");
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY(!child.readAllStandardOutput().contains("\nok"));
    QCOMPARE(storetest::readBytes(dir.file(QStringLiteral("PorAddr1.lst"))), old1_);
    QCOMPARE(storetest::entriesOf(dir.path()), (QStringList{"PorAddr.ini", "PorAddr1.lst", "PorAddr2.lst"}));
}

void TestFaults::programDirectoryInJapaneseFolder()
{
    SharedDir dir(0755);
    const QString folder = dir.file(QStringLiteral("ソフト"));
    QVERIFY(QDir().mkpath(folder));
    const QString copy = folder + QStringLiteral("/PorAddr");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    QProcess child;
    child.start(copy, {"--store-child", "progdir"});
    QVERIFY(child.waitForFinished());
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(),
             QStringLiteral("dir ") + folder + "/");
}

STORE_TEST_MAIN(TestFaults)
#include "tst_faults.moc"
