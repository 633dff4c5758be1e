#include "store/errors.h"
#include "store/linefile.h"
#include "support/storetest.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using storetest::readBytes;
using storetest::writeBytes;

class TestLineFile : public QObject {
    Q_OBJECT

private slots:
    void readsLines_data();
    void readsLines();
    void writesEveryLineWithCrLf_data();
    void writesEveryLineWithCrLf();
    void writeReplacesWholeFile();
    void writeRefusesFolderOfThatName();
    void readOfMissingFileNamesThePath();
    void folderSyncedIsThatOfTheRealFile();
    void lineEndMasksAgreeOnEveryPath_data();
    void lineEndMasksAgreeOnEveryPath();
};

using Lines = QList<QByteArray>;

void TestLineFile::readsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Lines>("lines");

    const QByteArray longLine(100 * 1024, 'x');
    QTest::newRow("empty file") << QByteArray() << Lines{};
    QTest::newRow("one line end only") << QByteArray("\r\n") << Lines{""};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << Lines{"a", "b"};
    QTest::newRow("LF only") << QByteArray("a\nb\n") << Lines{"a", "b"};
    QTest::newRow("CR only") << QByteArray("a\rb\r") << Lines{"a", "b"};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
    QTest::newRow("mixed ends") << QByteArray("a\r\n\nb\rc\n\r\n") << Lines{"a", "", "b", "c", ""};
    QTest::newRow("no final end") << QByteArray("a\r\nb") << Lines{"a", "b"};
    QTest::newRow("empty lines kept") << QByteArray("\r\n\r\nz\r\n") << Lines{"", "", "z"};
    QTest::newRow("NUL ends the text") << QByteArray("a\r\nb\r\n\0c\r\n", 10) << Lines{"a", "b"};
    QTest::newRow("line cut by NUL counts") << QByteArray("a\r\nbc\0d\r\n", 9) << Lines{"a", "bc"};
    QTest::newRow("NUL first") << QByteArray("\0a\r\n", 4) << Lines{};
    QTest::newRow("BOM stays in the first line") << QByteArray("\xEF\xBB\xBF"
                                                               "a\r\n")
                                                 << Lines{QByteArray("\xEF\xBB\xBF"
                                                                     "a")};
    QTest::newRow("blanks and bytes kept")
        << QByteArray(" \xED\x40\t\xFA\x5C \x80\r\n") << Lines{QByteArray(" \xED\x40\t\xFA\x5C \x80")};
    QTest::newRow("100 KB line kept whole")
        << QByteArray(longLine + "\r\nnext\r\n") << Lines{longLine, "next"};
}

void TestLineFile::readsLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Lines, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines.txt"));
    writeBytes(path, bytes);
    QCOMPARE(ReadLines(path), lines);
}

void TestLineFile::writesEveryLineWithCrLf_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("nothing") << Lines{} << QByteArray();
    QTest::newRow("one empty line") << Lines{""} << QByteArray("\r\n");
    QTest::newRow("last line ended too") << Lines{"A", "", "mailto:b"} << QByteArray("A\r\n\r\nmailto:b\r\n");
    QTest::newRow("bytes untouched") << Lines{QByteArray("\x83\x5C\xED\x40\xFA\x5C")}
                                     << QByteArray("\x83\x5C\xED\x40\xFA\x5C\r\n");
}

void TestLineFile::writesEveryLineWithCrLf()
{
    QFETCH(Lines, lines);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteLines(path, lines);
    QCOMPARE(readBytes(path), bytes);
    QCOMPARE(ReadLines(path), lines);
}

void TestLineFile::writeReplacesWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    writeBytes(path, QByteArray(5000, 'o'));
    WriteLines(path, {"new"});
    QCOMPARE(readBytes(path), QByteArray("new\r\n"));
    QCOMPARE(storetest::entriesOf(dir.path()), QStringList{"out.txt"});
}

void TestLineFile::writeRefusesFolderOfThatName()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorMem.txt"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("PorMem.txt")));
    try {
        WriteLines(path, {"x"});
        QFAIL("a folder was overwritten");
    } catch (const PorError &e) {
        QCOMPARE(e.message(), QStringLiteral("ﾌｧｲﾙ %1 を作成できません").arg(path));
    }
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(storetest::entriesOf(dir.path()), QStringList{"PorMem.txt"});
}

void TestLineFile::readOfMissingFileNamesThePath()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("none.lst"));
    try {
        ReadLines(path);
        QFAIL("no error");
    } catch (const PorError &e) {
        QCOMPARE(e.message(), QStringLiteral("ﾌｧｲﾙ %1 は開けません").arg(path));
    }
}

// The folder whose entry a save through a link changes, and so the one synced after the rename.
void TestLineFile::folderSyncedIsThatOfTheRealFile()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
    const QString real = dir.filePath(QStringLiteral("real/PorAddr1.lst"));
    writeBytes(real, "old\r\n");
    const QString link = dir.filePath(QStringLiteral("PorAddr1.lst"));
    QVERIFY(QFile::link(QStringLiteral("real/PorAddr1.lst"), link));
    QCOMPARE(linefile::folderHolding(link), QFileInfo(real).absolutePath());
    QCOMPARE(linefile::folderHolding(dir.filePath(QStringLiteral("new.lst"))), dir.path());
    WriteLines(link, {"new"});
    QCOMPARE(readBytes(real), QByteArray("new\r\n"));
    QVERIFY(QFileInfo(link).isSymLink());
}

STORE_TEST_MAIN(TestLineFile)
void TestLineFile::lineEndMasksAgreeOnEveryPath_data()
{
    QTest::addColumn<QByteArray>("alphabet"); // what the 64 bytes are drawn from
    QTest::newRow("any byte") << QByteArray();
    QTest::newRow("line ends, NUL and high bytes")
        << QByteArray("\r\n\r\n\0\x80\xff\x8d\x8a\x0c\x0e\x09a", 13);
}

// The loader finds line ends 64 bytes at a time, with vector instructions where the compiler
// targets them and in plain words elsewhere: both must mark exactly the CR, LF and NUL bytes.
void TestLineFile::lineEndMasksAgreeOnEveryPath()
{
    QFETCH(QByteArray, alphabet);
    QRandomGenerator random(7);
    char bytes[64];
    for (int round = 0; round < 20000; ++round) {
        for (char &c : bytes)
            c = alphabet.isEmpty() ? char(random.bounded(256)) : alphabet.at(random.bounded(alphabet.size()));
        quint64 cr = 0, lf = 0, nul = 0;
        for (int i = 0; i < 64; ++i) {
            cr |= quint64(bytes[i] == '\r') << i;
            lf |= quint64(bytes[i] == '\n') << i;
            nul |= quint64(bytes[i] == '\0') << i;
        }
        for (const auto &m :
             {linefile::detail::byteMasks(bytes), linefile::detail::byteMasksPortable(bytes)}) {
            QCOMPARE(m.cr, cr);
            QCOMPARE(m.lf, lf);
            QCOMPARE(m.nul, nul);
        }
    }
}

#include "tst_linefile.moc"
