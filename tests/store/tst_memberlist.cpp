#include "store/cp932.h"
#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfiles.h"
#include "store/memberlist.h"
#include "support/storetest.h"

#include <QTemporaryDir>
#include <QtTest>

class TestMemberList : public QObject {
    Q_OBJECT

private slots:
    void exportsFirstThirtyEntries_data();
    void exportsFirstThirtyEntries();
    void exactBytesAndReplacedWhole();
    void emptyList1WritesNothing();
    void cp932Text_data();
    void cp932Text();
    void emptyField_data();
    void emptyField();
};

void TestMemberList::exportsFirstThirtyEntries_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("lines");
    QTest::newRow("3 entries") << 3 << 6;
    QTest::newRow("30 entries") << 30 << 60;
    QTest::newRow("31 entries") << 31 << 60;
    QTest::newRow("1000 entries") << 1000 << 60;
}

void TestMemberList::exportsFirstThirtyEntries()
{
    QFETCH(int, entries);
    QFETCH(int, lines);
    QTemporaryDir dir;
    AddressBook book;
    setListPaths(book, dir.path() + QLatin1Char('/'));
    storetest::fillList(book.List1, entries);
    storetest::fillList(book.List2, 5); // never exported
    QVERIFY(exportMemberList(book));
    const QList<QByteArray> written = ReadLines(book.MemberListPath);
    QCOMPARE(written.size(), lines);
    for (int i = 0; i < lines / 2; ++i) {
        const AddressEntry e = storetest::sampleEntry(i);
        QCOMPARE(written[2 * i], e.Handle);
        QCOMPARE(written[2 * i + 1], e.Home.isEmpty() ? "mailto:" + e.Mail : e.Home);
    }
}

void TestMemberList::exactBytesAndReplacedWhole()
{
    QTemporaryDir dir;
    AddressBook book;
    setListPaths(book, dir.path() + QLatin1Char('/'));
    storetest::writeBytes(book.MemberListPath, QByteArray(300, 'x'));
    book.List1.Append({"1", "A", "b", "", "icq", "pp", "memo"});
    book.List1.Append({"2", "C", "mail", "http://home/", "", "", ""});
    book.List1.Append({"3", "D", "", "", "", "", ""});
    QVERIFY(exportMemberList(book));
    QCOMPARE(storetest::readBytes(book.MemberListPath),
             QByteArray("A\r\nmailto:b\r\nC\r\nhttp://home/\r\nD\r\nmailto:\r\n"));
    book.List1.Delete(2);
    book.List1.Delete(1);
    QVERIFY(exportMemberList(book));
    QCOMPARE(storetest::readBytes(book.MemberListPath).size(), 13);
}

void TestMemberList::emptyList1WritesNothing()
{
    QTemporaryDir dir;
    AddressBook book;
    setListPaths(book, dir.path() + QLatin1Char('/'));
    book.List2.Append(storetest::sampleEntry(1));
    QVERIFY(!exportMemberList(book));
    QCOMPARE(storetest::entriesOf(dir.path()), QStringList{});
}

void TestMemberList::cp932Text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: cannot be held
    QTest::newRow("kana") << QStringLiteral("ソフト") << QByteArray("\x83\x5C\x83\x74\x83\x67");
    QTest::newRow("backslash and tilde") << QStringLiteral("\\~") << QByteArray("\x5C\x7E");
    QTest::newRow("full-width tilde") << QStringLiteral("\uFF5E") << QByteArray("\x81\x60");
    QTest::newRow("wave dash") << QStringLiteral("\u301C") << QByteArray("\x81\x60");
    QTest::newRow("minus sign") << QStringLiteral("\u2212") << QByteArray("\x81\x7C");
    QTest::newRow("double vertical line") << QStringLiteral("\u2016") << QByteArray("\x81\x61");
    QTest::newRow("cent pound not") << QStringLiteral("\u00A2\u00A3\u00AC")
                                    << QByteArray("\x81\x91\x81\x92\x81\xCA");
    QTest::newRow("half-width katakana") << QStringLiteral("ﾌｧｲﾙ") << QByteArray("\xCC\xA7\xB2\xD9");
    QTest::newRow("emoji") << QStringLiteral("a\U0001F600") << QByteArray();
    QTest::newRow("hangul") << QStringLiteral("한") << QByteArray();
}

void TestMemberList::cp932Text()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const std::optional<QByteArray> encoded = cp932::encode(text);
    QCOMPARE(encoded.has_value(), !bytes.isEmpty());
    if (encoded) {
        QCOMPARE(*encoded, bytes);
        QCOMPARE(cp932::encode(cp932::decode(bytes)), encoded);
    }
}

void TestMemberList::emptyField_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("empty");
    QTest::newRow("nothing") << QByteArray() << true;
    QTest::newRow("blank") << QByteArray(" ") << false;
    QTest::newRow("full-width blank") << QByteArray("\x81\x40") << false;
    QTest::newRow("text") << QByteArray("a") << false;
    QTest::newRow("invalid byte") << QByteArray("\x80") << false;
    QTest::newRow("lone lead byte") << QByteArray("\x82") << false;
}

void TestMemberList::emptyField()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, empty);
    QCOMPARE(isEmptyField(field), empty);
}

STORE_TEST_MAIN(TestMemberList)
#include "tst_memberlist.moc"
