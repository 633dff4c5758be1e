#include "widgets/windowplacement.h"

#include <QTest>
#include <QWidget>

// Frame positions worked out for centring, and the outer bounds a main window keeps: as given
// before it is shown, brought within what the window system takes, and never made up where the
// platform tells no positions.
class TestWindowPlacement : public QObject {
    Q_OBJECT

private slots:
    void centredFrame_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<bool>("keepInside");
        QTest::addColumn<QPoint>("frameAt");
        const QRect screen(0, 0, 1280, 1024);
        QTest::newRow("no frame") << screen << QSize(480, 258) << QMargins() << false << QPoint(400, 383);
        QTest::newRow("frame counts in the size")
            << screen << QSize(476, 233) << QMargins(2, 23, 2, 2) << false << QPoint(400, 383);
        QTest::newRow("halves round toward zero")
            << screen << QSize(349, 260) << QMargins(1, 1, 1, 1) << false << QPoint(640 - 175, 512 - 131);
        QTest::newRow("second screen")
            << QRect(1280, 0, 800, 600) << QSize(200, 100) << QMargins() << false << QPoint(1580, 250);
        QTest::newRow("larger than the screen")
            << QRect(0, 0, 640, 480) << QSize(800, 600) << QMargins() << false << QPoint(-80, -60);
        QTest::newRow("larger, kept inside")
            << QRect(0, 0, 640, 480) << QSize(800, 600) << QMargins() << true << QPoint(0, 0);
    }
    void centredFrame()
    {
        QFETCH(QRect, area);
        QFETCH(QSize, client);
        QFETCH(QMargins, frame);
        QFETCH(bool, keepInside);
        QFETCH(QPoint, frameAt);
        QCOMPARE(windowplacement::centredFrame(area, client, frame, keepInside), frameAt);
    }

    void placedBeforeShowing()
    {
        QWidget window;
        window.resize(200, 100);
        windowplacement::centreOnScreen(&window);
        const QRect screen = windowplacement::primaryScreenArea();
        const QMargins frame = windowplacement::expectedFrameMargins(&window);
        const QPoint expected = windowplacement::centredFrame(screen, window.size(), frame);
        QCOMPARE(window.pos(), expected);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(100); // the check for the real frame has run out
        QCOMPARE(window.frameGeometry().topLeft(), expected);
    }

    void boundsAsGiven_data()
    {
        QTest::addColumn<bool>("positionsKnown");
        QTest::addColumn<QList<int>>("given"); // top, left, width, height; INT_MIN: not given
        QTest::addColumn<QList<int>>("kept");  // top, left, width, height; INT_MIN: none
        const int none = INT_MIN;
        QTest::newRow("all four") << true << QList<int>{100, 150, 520, 300} << QList<int>{100, 150, 520, 300};
        QTest::newRow("beyond 16 bits")
            << true << QList<int>{INT_MAX, INT_MIN + 1, INT_MAX, -5} << QList<int>{32767, -32768, 32767, 0};
        QTest::newRow("no positions told, none read")
            << false << QList<int>{none, none, 520, 300} << QList<int>{none, none, 520, 300};
        QTest::newRow("no positions told, both read")
            << false << QList<int>{100, 150, 520, 300} << QList<int>{100, 150, 520, 300};
        QTest::newRow("no positions told, Top read")
            << false << QList<int>{-40, none, 480, 258} << QList<int>{-40, none, 480, 258};
    }
    void boundsAsGiven()
    {
        QFETCH(bool, positionsKnown);
        QFETCH(QList<int>, given);
        QFETCH(QList<int>, kept);
        QWidget window;
        window.resize(480, 258);
        OuterBounds bounds(&window, positionsKnown);
        if (given[0] != INT_MIN)
            bounds.setTop(given[0]);
        if (given[1] != INT_MIN)
            bounds.setLeft(given[1]);
        bounds.setWidth(given[2]);
        bounds.setHeight(given[3]);
        auto asInt = [](const std::optional<int> &v) { return v.value_or(INT_MIN); };
        QCOMPARE(asInt(bounds.top()), kept[0]);
        QCOMPARE(asInt(bounds.left()), kept[1]);
        QCOMPARE(bounds.outer().width(), kept[2]);
        QCOMPARE(bounds.outer().height(), kept[3]);
        if (positionsKnown)
            return;
        // Shown where the platform tells nothing (Qt says 0,0): still only what was read.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(20);
        QCOMPARE(asInt(bounds.top()), kept[0]);
        QCOMPARE(asInt(bounds.left()), kept[1]);
    }
};

QTEST_MAIN(TestWindowPlacement)
#include "tst_windowplacement.moc"
