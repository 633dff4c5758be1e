// Memory figures from /proc/meminfo and the locale's thousands separator.
#include "platform/localeinfo.h"
#include "platform/memorystatus.h"

#include "support/scopedhook.h"

#include <QCoreApplication>
#include <QLocale>
#include <QtTest>
#include <optional>
#include <sys/sysinfo.h>

class TestSystemStatus : public QObject {
    Q_OBJECT

private slots:
    void parseMemInfo_data();
    void parseMemInfo();
    void globalMemoryStatus_matchesKernel();
    void globalMemoryStatus_takesTestSource();
    void separator_isSystemLocales();
    void separator_keptUntilLocaleChange();
};

namespace {
QByteArray meminfo(const QByteArray &total, const QByteArray &available)
{
    QByteArray text = "MemTotal:       " + total + " kB\nMemFree:          100000 kB\n";
    if (!available.isNull())
        text += "MemAvailable:   " + available + " kB\n";
    return text + "Buffers:            2376 kB\nCached:           119168 kB\nHugePages_Total:       0\n";
}
} // namespace

void TestSystemStatus::parseMemInfo_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint64>("totalPhys");
    QTest::addColumn<int>("load");

    QTest::newRow("128 MB, 37 %") << meminfo("130048", "81930") << quint64(133169152) << 37;
    QTest::newRow("half rounds up") << meminfo("1000", "625") << quint64(1024000) << 38;
    QTest::newRow("just below half") << meminfo("1000", "626") << quint64(1024000) << 37;
    QTest::newRow("idle") << meminfo("1000", "1000") << quint64(1024000) << 0;
    QTest::newRow("all in use") << meminfo("1000", "0") << quint64(1024000) << 100;
    QTest::newRow("available above total") << meminfo("1000", "2000") << quint64(1024000) << 0;
    QTest::newRow("4 GiB") << meminfo("4194304", "2097152") << quint64(4294967296) << 50;
    QTest::newRow("24 GB machine") << meminfo("24683736", "24372256") << quint64(25276145664) << 1;
    QTest::newRow("2 TiB") << meminfo("2147483648", "536870912") << quint64(2199023255552) << 75;
    QTest::newRow("old kernel without available")
        << meminfo("1000000", QByteArray()) << quint64(1024000000) << 78; // free+buffers+cached = 221544
    QTest::newRow("empty") << QByteArray() << quint64(0) << 0;
    QTest::newRow("total unreadable")
        << QByteArray("MemTotal: lots kB\nMemAvailable: 10 kB\n") << quint64(0) << 0;
    QTest::newRow("total zero") << meminfo("0", "0") << quint64(0) << 0;
    QTest::newRow("total beyond 64 bits") << meminfo("18446744073709551615", "0") << quint64(0) << 0;
}

void TestSystemStatus::parseMemInfo()
{
    QFETCH(QByteArray, text);
    QFETCH(quint64, totalPhys);
    QFETCH(int, load);

    const MemoryStatus status = ::parseMemInfo(text);
    QCOMPARE(status.totalPhys, totalPhys);
    QCOMPARE(status.memoryLoad, load);
}

void TestSystemStatus::globalMemoryStatus_matchesKernel()
{
    struct sysinfo info {};
    QCOMPARE(sysinfo(&info), 0);
    const quint64 kernelTotal = quint64(info.totalram) * info.mem_unit;

    const MemoryStatus status = GlobalMemoryStatus();
    // /proc/meminfo rounds the total down to whole kibibytes.
    QVERIFY2(status.totalPhys <= kernelTotal && kernelTotal - status.totalPhys < 1024,
             qPrintable(QStringLiteral("%1 vs %2").arg(status.totalPhys).arg(kernelTotal)));
    QVERIFY(status.memoryLoad >= 0 && status.memoryLoad <= 100);
}

void TestSystemStatus::globalMemoryStatus_takesTestSource()
{
    const MemoryStatus fake{quint64(1) << 40, 42};
    MemoryStatus seen;
    {
        const ScopedHook faked(setMemoryStatusSource, [fake] { return fake; });
        seen = GlobalMemoryStatus();
    }

    QCOMPARE(seen.totalPhys, fake.totalPhys);
    QCOMPARE(seen.memoryLoad, 42);
    QVERIFY(GlobalMemoryStatus().totalPhys != fake.totalPhys);
}

void TestSystemStatus::separator_isSystemLocales()
{
    rereadSystemLocale();
    QCOMPARE(systemThousandsSeparator(), QLocale::system().groupSeparator());
}

void TestSystemStatus::separator_keptUntilLocaleChange()
{
    QString systemSeparator = QStringLiteral(".");
    std::optional<ScopedHook<ThousandsSeparatorSource>> faked;
    faked.emplace(setThousandsSeparatorSource, [&systemSeparator] { return systemSeparator; });
    rereadSystemLocale();
    QCOMPARE(systemThousandsSeparator(), QStringLiteral("."));

    // The setting changes, but nothing announced it yet.
    systemSeparator = QStringLiteral("'");
    QCOMPARE(systemThousandsSeparator(), QStringLiteral("."));

    watchLocaleChanges(QCoreApplication::instance());
    QEvent change(QEvent::LocaleChange);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &change);
    QCOMPARE(systemThousandsSeparator(), QStringLiteral("'"));

    // Other events leave it alone.
    systemSeparator = QString();
    QEvent other(QEvent::FontChange);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &other);
    QCOMPARE(systemThousandsSeparator(), QStringLiteral("'"));

    faked.reset();
    rereadSystemLocale();
    QCOMPARE(systemThousandsSeparator(), QLocale::system().groupSeparator());
}

QTEST_GUILESS_MAIN(TestSystemStatus)
#include "tst_systemstatus.moc"
