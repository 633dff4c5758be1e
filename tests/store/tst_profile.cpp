#include "store/errors.h"
#include "store/profile.h"
#include "support/storetest.h"

#include <QTemporaryDir>
#include <QtTest>

class TestProfile : public QObject {
    Q_OBJECT

private slots:
    void readsValue_data();
    void readsValue();
    void writesValueKeepingEverythingElse_data();
    void writesValueKeepingEverythingElse();
    void writeCreatesMissingFile();
    void writeFailureLeavesFileAsItWas();
};

void TestProfile::readsValue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("plain") << QByteArray("[Position]\r\nTop=100\r\n") << QByteArray("Position")
                           << QByteArray("Top") << QByteArray("100");
    QTest::newRow("case of names ignored") << QByteArray("[position]\nTOP=1\n") << QByteArray("POSITION")
                                           << QByteArray("top") << QByteArray("1");
    QTest::newRow("blanks and tabs around everything")
        << QByteArray(" [ List1 ] \r\n\t Col1 \t=  \t7 \t\r\n") << QByteArray("List1") << QByteArray("Col1")
        << QByteArray("7");
    QTest::newRow("outer double quotes")
        << QByteArray("[s]\r\nk=\" 5 \"\r\n") << QByteArray("s") << QByteArray("k") << QByteArray(" 5 ");
    QTest::newRow("outer single quotes")
        << QByteArray("[s]\r\nk='5'\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("5");
    QTest::newRow("unmatched quotes stay")
        << QByteArray("[s]\r\nk=\"5'\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("\"5'");
    QTest::newRow("comment line skipped")
        << QByteArray("[s]\r\n ;k=1\r\nk=2\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("2");
    QTest::newRow("semicolon inside is data")
        << QByteArray("[s]\r\nk=1;2\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("1;2");
    QTest::newRow("first key wins") << QByteArray("[s]\r\nk=1\r\nk=2\r\n") << QByteArray("s")
                                    << QByteArray("k") << QByteArray("1");
    QTest::newRow("first section wins") << QByteArray("[s]\r\nk=1\r\n[S]\r\nk=2\r\n") << QByteArray("s")
                                        << QByteArray("k") << QByteArray("1");
    QTest::newRow("key only in a later duplicate section")
        << QByteArray("[s]\r\na=1\r\n[s]\r\nk=2\r\n") << QByteArray("s") << QByteArray("k") << QByteArray();
    QTest::newRow("key in another section")
        << QByteArray("[a]\r\nk=1\r\n[b]\r\n") << QByteArray("b") << QByteArray("k") << QByteArray();
    QTest::newRow("key before any section")
        << QByteArray("k=1\r\n[s]\r\n") << QByteArray("s") << QByteArray("k") << QByteArray();
    QTest::newRow("empty value") << QByteArray("[s]\r\nk=\r\n") << QByteArray("s") << QByteArray("k")
                                 << QByteArray();
    QTest::newRow("CR only lines") << QByteArray("[s]\rk=3\r") << QByteArray("s") << QByteArray("k")
                                   << QByteArray("3");
    QTest::newRow("no final line end")
        << QByteArray("[s]\nk=4") << QByteArray("s") << QByteArray("k") << QByteArray("4");
    QTest::newRow("second byte of a kana is no letter")
        << QByteArray("[\x83\x61]\r\nk=1\r\n[\x83\x41]\r\nk=2\r\n") << QByteArray("\x83\x41")
        << QByteArray("k") << QByteArray("2");
    QTest::newRow("] as second byte does not end a section name") << QByteArray("[\x83\x5D"
                                                                                "x]\r\nk=5\r\n")
                                                                  << QByteArray("\x83\x5D"
                                                                                "x")
                                                                  << QByteArray("k") << QByteArray("5");
    QTest::newRow("section name ends at first ]")
        << QByteArray("[s]x]\r\nk=6\r\n") << QByteArray("s") << QByteArray("k") << QByteArray("6");
    QTest::newRow("long value cut to 1023 bytes")
        << QByteArray("[s]\r\nk=" + QByteArray(1500, '9') + "\r\n") << QByteArray("s") << QByteArray("k")
        << QByteArray(1023, '9');
    QTest::newRow("cut never splits a double-byte character")
        << QByteArray("[s]\r\nk=" + QByteArray(1022, 'a') + "\x82\xa0zz\r\n") << QByteArray("s")
        << QByteArray("k") << QByteArray(1022, 'a');
    QTest::newRow("no such file content")
        << QByteArray() << QByteArray("s") << QByteArray("k") << QByteArray();
}

void TestProfile::readsValue()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    storetest::writeBytes(path, content);
    QCOMPARE(getPrivateProfileString(path, section, key), value);
}

void TestProfile::writesValueKeepingEverythingElse_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << QByteArray("Position") << QByteArray("Top")
                              << QByteArray("[Position]\r\nTop=42\r\n");
    QTest::newRow("update keeps spelling and line end")
        << QByteArray("; mine\n[position]\n  top = 1 \n[x]\r\ny=2") << QByteArray("Position")
        << QByteArray("Top") << QByteArray("; mine\n[position]\n  top =42\n[x]\r\ny=2");
    QTest::newRow("first duplicate key updated") << QByteArray("[s]\r\nk=1\r\nk=2\r\n") << QByteArray("s")
                                                 << QByteArray("k") << QByteArray("[s]\r\nk=42\r\nk=2\r\n");
    QTest::newRow("new key after last key of its section")
        << QByteArray("[s]\r\na=1\r\n\r\n; note\r\n[t]\r\n") << QByteArray("s") << QByteArray("k")
        << QByteArray("[s]\r\na=1\r\nk=42\r\n\r\n; note\r\n[t]\r\n");
    QTest::newRow("new key in a section without keys")
        << QByteArray("[s]\n[t]\n") << QByteArray("S") << QByteArray("k") << QByteArray("[s]\nk=42\r\n[t]\n");
    QTest::newRow("new key after unended last line")
        << QByteArray("[s]\na=1") << QByteArray("s") << QByteArray("k") << QByteArray("[s]\na=1\r\nk=42\r\n");
    QTest::newRow("new section at the end") << QByteArray("[a]\r\nx=1") << QByteArray("b") << QByteArray("k")
                                            << QByteArray("[a]\r\nx=1\r\n[b]\r\nk=42\r\n");
}

void TestProfile::writesValueKeepingEverythingElse()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    if (!before.isEmpty())
        storetest::writeBytes(path, before);
    writePrivateProfileStrings(path, {{section, key, "42"}});
    QCOMPARE(storetest::readBytes(path), after);
    QCOMPARE(getPrivateProfileString(path, section, key), QByteArray("42"));
}

void TestProfile::writeCreatesMissingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    writePrivateProfileStrings(path, {{"A", "x", "1"}, {"B", "y", "2"}, {"A", "z", "3"}, {"a", "X", "4"}});
    QCOMPARE(storetest::readBytes(path), QByteArray("[A]\r\nx=4\r\nz=3\r\n[B]\r\ny=2\r\n"));
}

void TestProfile::writeFailureLeavesFileAsItWas()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("PorAddr.ini")));
    try {
        writePrivateProfileStrings(path, {{"A", "x", "1"}});
        QFAIL("no error");
    } catch (const PorError &e) {
        QCOMPARE(e.message(), QStringLiteral("%1 に書き込めません").arg(path));
    }
    QVERIFY(QFileInfo(path).isDir());
}

STORE_TEST_MAIN(TestProfile)
#include "tst_profile.moc"
