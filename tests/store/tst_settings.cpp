#include "store/errors.h"
#include "store/integertext.h"
#include "store/settings.h"
#include "support/storetest.h"

#include <QTemporaryDir>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace {

// A window's values as the settings see them: applies what was read, in the file's order, recording
// each value, on top of the window's layout values; collects what a close writes.
struct RecordingWindow {
    int top = 33, left = 44, width = 480, height = 258;
    int columns[3][7] = {{}, {50, 60, 60, 60, 50, 50, 50}, {60, 60, 60, 50, 50, 50}};
    QStringList applied;

    void apply(const WindowSettings &s)
    {
        const std::pair<const char *, std::optional<int> WindowSettings::*> position[] = {
            {"Top", &WindowSettings::top},
            {"Left", &WindowSettings::left},
            {"Width", &WindowSettings::width},
            {"Height", &WindowSettings::height}};
        int *fields[] = {&top, &left, &width, &height};
        for (int k = 0; k < 4; ++k) {
            if (const std::optional<int> v = s.*position[k].second)
                *fields[k] = *v, applied << QStringLiteral("%1=%2").arg(position[k].first).arg(*v);
        }
        for (int list = 1; list <= 2; ++list) {
            for (int column = 0; column < (list == 1 ? list1ColumnCount : list2ColumnCount); ++column) {
                if (const std::optional<int> w = list == 1 ? s.list1Widths[column] : s.list2Widths[column]) {
                    columns[list][column] = *w;
                    applied << QStringLiteral("L%1C%2=%3").arg(list).arg(column + 1).arg(*w);
                }
            }
        }
    }
    WindowSettings collect() const
    {
        WindowSettings s;
        s.top = top, s.left = left, s.width = width, s.height = height;
        for (int column = 0; column < list1ColumnCount; ++column)
            s.list1Widths[column] = columns[1][column];
        for (int column = 0; column < list2ColumnCount; ++column)
            s.list2Widths[column] = columns[2][column];
        return s;
    }
};

const QByteArray defaultsFile =
    "[Position]\r\nTop=33\r\nLeft=44\r\nWidth=480\r\nHeight=258\r\n"
    "[List1]\r\nCol1=50\r\nCol2=60\r\nCol3=60\r\nCol4=60\r\nCol5=50\r\nCol6=50\r\n"
    "Col7=50\r\n[List2]\r\nCol1=60\r\nCol2=60\r\nCol3=60\r\nCol4=50\r\nCol5=50\r\n"
    "Col6=50\r\n";

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void integerText_data();
    void integerText();
    void oddValuesKeepTheValueInForce_data();
    void oddValuesKeepTheValueInForce();
    void appliesKeysInTableOrder();
    void firstCloseCreatesAllSeventeenKeys();
    void saveKeepsOtherContentAndRewritesOwnKeys();
    void emptyPathIsNeitherReadNorWritten();
    void largeFileIsReadAndWrittenInBoundedMemory();
};

void TestSettings::integerText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << QByteArray("99") << true << 99;
    QTest::newRow("leading blanks") << QByteArray("   7") << true << 7;
    QTest::newRow("plus") << QByteArray("+5") << true << 5;
    QTest::newRow("leading zeros") << QByteArray("-007") << true << -7;
    QTest::newRow("min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
    QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("above max") << QByteArray("2147483648") << false << 0;
    QTest::newRow("below min") << QByteArray("-2147483649") << false << 0;
    QTest::newRow("huge") << QByteArray("99999999999999999999") << false << 0;
    QTest::newRow("hex") << QByteArray("$64") << true << 100;
    QTest::newRow("hex any case") << QByteArray("$aBcD") << true << 0xABCD;
    QTest::newRow("hex pattern") << QByteArray("$FFFFFFFF") << true << -1;
    QTest::newRow("hex leading zeros") << QByteArray("$000000010") << true << 16;
    QTest::newRow("hex nine digits") << QByteArray("$100000000") << false << 0;
    QTest::newRow("sign before $") << QByteArray("-$10") << false << 0;
    QTest::newRow("$ alone") << QByteArray("$") << false << 0;
    QTest::newRow("trailing blank") << QByteArray("5 ") << false << 0;
    QTest::newRow("tab is no blank") << QByteArray("\t5") << false << 0;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("blanks only") << QByteArray("  ") << false << 0;
    QTest::newRow("sign only") << QByteArray("-") << false << 0;
    QTest::newRow("decimal point") << QByteArray("1.5") << false << 0;
    QTest::newRow("unit") << QByteArray("12px") << false << 0;
    QTest::newRow("0x is not for the entry dialog") << QByteArray("0x64") << false << 0;
}

void TestSettings::integerText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<qint32> parsed = parseIntegerText(QByteArrayView(text));
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(*parsed, value);
        QCOMPARE(parseIntegerText(QString::fromLatin1(text)), parsed);
        QCOMPARE(parseIntegerText(::integerText(value)), parsed); // written form reads back
    }
}

void TestSettings::oddValuesKeepTheValueInForce_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("applied");
    QTest::newRow("0x64") << QByteArray("Top=0x64") << QStringList{"Top=100"};
    QTest::newRow("0X64") << QByteArray("Top=0X64") << QStringList{"Top=100"};
    QTest::newRow("$64") << QByteArray("Top=$64") << QStringList{"Top=100"};
    QTest::newRow("quoted") << QByteArray("Top=\"64\"") << QStringList{"Top=64"};
    QTest::newRow("0x alone") << QByteArray("Top=0x") << QStringList{};
    QTest::newRow("empty") << QByteArray("Top=") << QStringList{};
    QTest::newRow("12px") << QByteArray("Top=12px") << QStringList{};
    QTest::newRow("1.5") << QByteArray("Top=1.5") << QStringList{};
    QTest::newRow("too large") << QByteArray("Top=4294967296") << QStringList{};
    QTest::newRow("-0x10") << QByteArray("Width=-0x10") << QStringList{};
    QTest::newRow("-$10") << QByteArray("Width=-$10") << QStringList{};
    QTest::newRow("blank before 0x") << QByteArray("Width= 0x10")
                                     << QStringList{"Width=16"}; // blanks trimmed
    QTest::newRow("far off screen") << QByteArray("Left=-30000") << QStringList{"Left=-30000"};
}

void TestSettings::oddValuesKeepTheValueInForce()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, applied);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    storetest::writeBytes(path, "[Position]\n" + line + "\n");
    RecordingWindow window;
    window.apply(LoadSettings(path));
    QCOMPARE(window.applied, applied);
}

void TestSettings::appliesKeysInTableOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    // Written in another order, with a zero-wide memo column and a key the program does not know.
    storetest::writeBytes(
        path, "[List2]\nCol6=6\nCol1=1\n[List1]\nCol7=0\nCol9=9\n[Position]\nHeight=300\nTop=-5\n");
    RecordingWindow window;
    window.apply(LoadSettings(path));
    QCOMPARE(window.applied, (QStringList{"Top=-5", "Height=300", "L1C7=0", "L2C1=1", "L2C6=6"}));
    QCOMPARE(window.width, 480);
}

void TestSettings::firstCloseCreatesAllSeventeenKeys()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    RecordingWindow window;
    SaveSettings(path, window.collect());
    QCOMPARE(storetest::readBytes(path), defaultsFile);
    RecordingWindow again;
    again.top = again.left = 0;
    again.apply(LoadSettings(path));
    QCOMPARE(again.applied.size(), 17);
    QCOMPARE(again.top, 33);
    QCOMPARE(again.left, 44);
}

void TestSettings::saveKeepsOtherContentAndRewritesOwnKeys()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    storetest::writeBytes(path, "; hand edits\n[Other]\nx=1\n[position]\ntop = 0x10 ; old\nLeft=5\n");
    RecordingWindow window;
    window.left = -1;
    window.columns[1][6] = 0;
    SaveSettings(path, window.collect());
    QCOMPARE(
        storetest::readBytes(path),
        QByteArray("; hand edits\n[Other]\nx=1\n[position]\ntop =33\nLeft=-1\nWidth=480\r\nHeight=258\r\n"
                   "[List1]\r\nCol1=50\r\nCol2=60\r\nCol3=60\r\nCol4=60\r\nCol5=50\r\nCol6=50\r\nCol7=0\r\n"
                   "[List2]\r\nCol1=60\r\nCol2=60\r\nCol3=60\r\nCol4=50\r\nCol5=50\r\nCol6=50\r\n"));
}

void TestSettings::emptyPathIsNeitherReadNorWritten()
{
    RecordingWindow window;
    window.apply(LoadSettings(QString()));
    SaveSettings(QString(), window.collect());
    QVERIFY(window.applied.isEmpty());
}

// A settings file of 20 MB of blank lines before the program's keys, read and written by a child
// whose address space is held to 512 MiB: a reader that kept something for every line would need
// far more and fail. The lines stay as they were.
void TestSettings::largeFileIsReadAndWrittenInBoundedMemory()
{
#ifdef UNDER_ADDRESS_SANITIZER
    QSKIP("an address space limit does not work with AddressSanitizer's shadow memory");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PorAddr.ini"));
    const QByteArray blank(20 * 1000 * 1000, '\n');
    storetest::writeBytes(path, blank + "[Position]\r\nTop=7\r\n");
    const storetest::ChildResult child = storetest::runChild(
        {QStringLiteral("--memory"), QString::number(512 << 20), QStringLiteral("loadsettings"), dir.path()});
    QVERIFY2(child.ran && child.exitCode == 0, child.output.constData());
    QCOMPARE(child.value("applied"), QByteArray("Top=7"));
    QVERIFY2(child.output.contains("\nok "), child.output.constData());
    QByteArray expected = blank + "[Position]\r\nTop=11\r\nLeft=-22\r\nWidth=480\r\nHeight=258\r\n";
    for (int list = 1; list <= 2; ++list) {
        expected += "[List" + QByteArray::number(list) + "]\r\n";
        for (int column = 0; column < (list == 1 ? 7 : 6); ++column)
            expected += "Col" + QByteArray::number(column + 1) + '=' +
                        QByteArray::number(list * 100 + column) + "\r\n";
    }
    QVERIFY(storetest::readBytes(path) == expected);
}

STORE_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
