#include "platform/terminationsignals.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

// A terminate signal reaches the program as a request on its own thread; the process goes on.
class TestTerminationSignals : public QObject {
    Q_OBJECT

private slots:
    void signalBecomesARequest_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalBecomesARequest()
    {
        QFETCH(int, number);
        TerminationSignals watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy requests(&watcher, &TerminationSignals::requested);
        QCOMPARE(::raise(number), 0);
        QCOMPARE(::raise(number), 0);
        QTRY_COMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0).at(0).toInt(), number);
    }
};

QTEST_GUILESS_MAIN(TestTerminationSignals)
#include "tst_terminationsignals.moc"
