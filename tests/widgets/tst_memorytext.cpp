// The About box's memory figures as text.
#include "widgets/memorytext.h"

#include <QLocale>
#include <QtTest>

class TestMemoryText : public QObject {
    Q_OBJECT

private slots:
    void kilobytes_data();
    void kilobytes();
    void separators_data();
    void separators();
    void load_data();
    void load();
};

void TestMemoryText::kilobytes_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("128 MB machine") << quint64(133169152) << "130,048 KB";
    QTest::newRow("64 MB") << quint64(67108864) << "65,536 KB";
    QTest::newRow("524 KB") << quint64(536576) << "524 KB";
    QTest::newRow("999 KB exact") << quint64(999) * 1024 << "999 KB";
    QTest::newRow("1000 KB exact") << quint64(1000) * 1024 << "1,000 KB";
    QTest::newRow("seven digits") << quint64(1234567) * 1024 << "1,234,567 KB";
    QTest::newRow("remainder 511 rounds down") << quint64(5) * 1024 + 511 << "5 KB";
    QTest::newRow("remainder 512 rounds up") << quint64(5) * 1024 + 512 << "6 KB";
    QTest::newRow("rounding opens a group") << quint64(999) * 1024 + 512 << "1,000 KB";
    QTest::newRow("nothing") << quint64(0) << " KB";
    QTest::newRow("below half a kilobyte") << quint64(511) << " KB";
    QTest::newRow("half a kilobyte") << quint64(512) << "1 KB";
    QTest::newRow("4 GiB") << quint64(4294967296) << "4,194,304 KB";
    QTest::newRow("24 GB") << quint64(25276145664) << "24,683,736 KB";
    QTest::newRow("beyond double precision") << (quint64(1) << 53 | 1) * 1024 << "9,007,199,254,740,993 KB";
    QTest::newRow("largest count") << ~quint64(0) << "18,014,398,509,481,984 KB";
}

void TestMemoryText::kilobytes()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);

    QCOMPARE(formatKilobytes(bytes, QStringLiteral(",")), text);
}

void TestMemoryText::separators_data()
{
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");

    QTest::newRow("ja_JP") << QLocale(QStringLiteral("ja_JP")).groupSeparator() << "1,234,567 KB";
    QTest::newRow("de_DE") << QLocale(QStringLiteral("de_DE")).groupSeparator() << "1.234.567 KB";
    QTest::newRow("it_IT") << QLocale(QStringLiteral("it_IT")).groupSeparator() << "1.234.567 KB";
    // These locales' separators are not one byte in the program's code page.
    QTest::newRow("fr_FR narrow no-break space")
        << QLocale(QStringLiteral("fr_FR")).groupSeparator() << "1,234,567 KB";
    QTest::newRow("ru_RU no-break space")
        << QLocale(QStringLiteral("ru_RU")).groupSeparator() << "1,234,567 KB";
    QTest::newRow("de_CH apostrophe") << QLocale(QStringLiteral("de_CH")).groupSeparator() << "1,234,567 KB";
    QTest::newRow("ar_EG arabic separator")
        << QLocale(QStringLiteral("ar_EG")).groupSeparator() << "1,234,567 KB";
    QTest::newRow("ascii apostrophe") << "'"
                                      << "1'234'567 KB";
    QTest::newRow("blank") << " "
                           << "1 234 567 KB";
    QTest::newRow("half-width katakana middle dot") << QStringLiteral("･") << QStringLiteral("1･234･567 KB");
    QTest::newRow("full-width comma") << QStringLiteral("，") << "1,234,567 KB";
    QTest::newRow("empty") << ""
                           << "1,234,567 KB";
    QTest::newRow("two characters") << ".."
                                    << "1,234,567 KB";
}

void TestMemoryText::separators()
{
    QFETCH(QString, separator);
    QFETCH(QString, text);

    QCOMPARE(formatKilobytes(quint64(1234567) * 1024, separator), text);
}

void TestMemoryText::load_data()
{
    QTest::addColumn<int>("load");
    QTest::addColumn<QString>("text");

    QTest::newRow("idle") << 0 << "0 %";
    QTest::newRow("some") << 37 << "37 %";
    QTest::newRow("full") << 100 << "100 %";
}

void TestMemoryText::load()
{
    QFETCH(int, load);
    QFETCH(QString, text);

    QCOMPARE(formatMemoryLoad(load), text);
}

QTEST_GUILESS_MAIN(TestMemoryText)
#include "tst_memorytext.moc"
