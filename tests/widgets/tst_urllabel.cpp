// The link label: colours that follow the pointer and the buttons, and the open on every press.
#include "platform/shellopen.h"
#include "widgets/URLLabel.h"

#include "support/scopedhook.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QEnterEvent>
#include <QtTest>
#include <optional>

namespace {
// The pointer's position is the test's to decide: offscreen there is no real pointer.
class ProbeLabel : public TURLLabel {
public:
    using TURLLabel::TURLLabel;
    QPoint pointer{5, 5}; // in the label's own coordinates
    int paints = 0;

protected:
    QPoint pointerPosition() const override { return mapToGlobal(pointer); }
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        TURLLabel::paintEvent(event);
    }
};

const QString caption = QStringLiteral("http://www.example.jp/cgi?a=1&b=2");
} // namespace

class TestURLLabel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaults();
    void colourValues_data();
    void colourValues();
    void colours_data();
    void colours();
    void releaseJudgesPointerAgainstClientArea_data();
    void releaseJudgesPointerAgainstClientArea();
    void opensOnEveryPress_data();
    void opensOnEveryPress();
    void doubleClickOpensTwice_data();
    void doubleClickOpensTwice();
    void settersRepaintOnlyOnChange_data();
    void settersRepaintOnlyOnChange();
    void screenReaderLink_data();
    void screenReaderLink();

private:
    QColor shown() const { return label->palette().color(label->foregroundRole()); }
    void enter();
    void leave();
    void step(const QString &action);

    std::unique_ptr<QWidget> host;
    ProbeLabel *label = nullptr;
    QList<QUrl> opened;
    std::optional<ScopedHook<ShellOpenHandler>> recording_;
};

void TestURLLabel::init()
{
    opened.clear();
    recording_.emplace(setShellOpenHandler, [this](const QUrl &url) { opened << url; });
    host = std::make_unique<QWidget>();
    host->resize(300, 100);
    label = new ProbeLabel(host.get());
    label->setText(caption);
    label->setGeometry(10, 20, 200, 13);
    label->setFontColor(clBlue);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
}

void TestURLLabel::cleanup()
{
    host.reset();
    recording_.reset();
}

void TestURLLabel::enter()
{
    const QPointF local(label->pointer);
    QEnterEvent event(local, label->mapTo(host.get(), local), label->mapToGlobal(local));
    QApplication::sendEvent(label, &event);
}

void TestURLLabel::leave()
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(label, &event);
}

// Steps of a script: pointer "in"/"out" (moves it and sends enter/leave), "press L|R|M",
// "release in|out" (the pointer is put there, the event itself carries the opposite position),
// "hottrack off", "hotcolor lime".
void TestURLLabel::step(const QString &action)
{
    const QPoint inside(5, 5);
    const QPoint outside(label->width() + 20, 5);
    const QStringList words = action.split(u' ');
    if (action == QLatin1String("in")) {
        label->pointer = inside;
        enter();
    } else if (action == QLatin1String("out")) {
        label->pointer = outside;
        leave();
    } else if (words.first() == QLatin1String("press")) {
        const Qt::MouseButton button = words.at(1) == QLatin1String("L")   ? Qt::LeftButton
                                       : words.at(1) == QLatin1String("R") ? Qt::RightButton
                                                                           : Qt::MiddleButton;
        QTest::mousePress(label, button, {}, label->pointer);
    } else if (action == QLatin1String("release in")) {
        label->pointer = inside;
        QTest::mouseRelease(label, Qt::LeftButton, {}, outside);
    } else if (action == QLatin1String("release out")) {
        label->pointer = outside;
        QTest::mouseRelease(label, Qt::LeftButton, {}, inside);
    } else if (action == QLatin1String("hottrack off")) {
        label->setHotTrack(false);
    } else if (action == QLatin1String("hotcolor lime")) {
        label->setHotColor(clLime);
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + action));
    }
}

void TestURLLabel::defaults()
{
    TURLLabel fresh;
    QCOMPARE(fresh.HotTrack(), true);
    QCOMPARE(fresh.HotColor(), TColor(0xFFFF00));
    QCOMPARE(fresh.PushedColor(), TColor(0x0000FF));
    QCOMPARE(fresh.Executable, false);
    QCOMPARE(fresh.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(fresh.palette().color(fresh.foregroundRole()),
             QApplication::palette().color(QPalette::WindowText));
    // The same fields as properties, as a stored layout would name them.
    QCOMPARE(fresh.property("HotColor").value<TColor>(), clAqua);
    QCOMPARE(fresh.property("Executable").toBool(), false);
}

void TestURLLabel::colourValues_data()
{
    QTest::addColumn<TColor>("value");
    QTest::addColumn<QColor>("screen");

    QTest::newRow("clBlue") << clBlue << QColor(0, 0, 255);
    QTest::newRow("clGreen") << clGreen << QColor(0, 128, 0);
    QTest::newRow("clLime") << clLime << QColor(0, 255, 0);
    QTest::newRow("clAqua") << clAqua << QColor(0, 255, 255);
    QTest::newRow("clRed") << clRed << QColor(255, 0, 0);
    QTest::newRow("mixed bytes") << TColor(0x00336699) << QColor(0x99, 0x66, 0x33);
    QTest::newRow("clWindowText") << clWindowText << QApplication::palette().color(QPalette::WindowText);
}

void TestURLLabel::colourValues()
{
    QFETCH(TColor, value);
    QFETCH(QColor, screen);

    QCOMPARE(toQColor(value), screen);
}

void TestURLLabel::colours_data()
{
    QTest::addColumn<bool>("hotTrack");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("colours"); // after each step: normal, hot, pushed or lime

    const auto l = [](std::initializer_list<const char *> words) {
        QStringList list;
        for (const char *word : words)
            list << QLatin1String(word);
        return list;
    };

    QTest::newRow("enter and leave") << true << l({"in", "out"}) << l({"hot", "normal"});
    QTest::newRow("press and release inside")
        << true << l({"in", "press L", "release in"}) << l({"hot", "pushed", "hot"});
    QTest::newRow("press, drag out, release")
        << true << l({"in", "press L", "out", "release out"}) << l({"hot", "pushed", "normal", "normal"});
    QTest::newRow("press, drag out and back in, release")
        << true << l({"in", "press L", "out", "in", "release in"})
        << l({"hot", "pushed", "normal", "hot", "hot"});
    QTest::newRow("right button") << true << l({"in", "press R", "release in"})
                                  << l({"hot", "pushed", "hot"});
    QTest::newRow("middle button, released outside")
        << true << l({"in", "press M", "release out"}) << l({"hot", "pushed", "normal"});
    QTest::newRow("release outside before any entering") << true << l({"release out"}) << l({"normal"});
    QTest::newRow("press before any entering, release outside")
        << true << l({"press L", "release out"}) << l({"pushed", "normal"});
    QTest::newRow("new hot colour waits for the next entering")
        << true << l({"in", "hotcolor lime", "out", "in"}) << l({"hot", "hot", "normal", "lime"});
    QTest::newRow("hot tracking turned off while hot")
        << true << l({"in", "hottrack off", "out", "press L", "release out"})
        << l({"hot", "hot", "hot", "hot", "hot"});
    QTest::newRow("no hot tracking") << false << l({"in", "press L", "out", "in", "release in", "out"})
                                     << l({"normal", "normal", "normal", "normal", "normal", "normal"});
    QTest::newRow("no hot tracking, other buttons")
        << false << l({"in", "press R", "release out", "press M", "release in"})
        << l({"normal", "normal", "normal", "normal", "normal"});
}

void TestURLLabel::colours()
{
    QFETCH(bool, hotTrack);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, colours);
    QCOMPARE(steps.size(), colours.size());

    const QHash<QString, QColor> named = {{QStringLiteral("normal"), QColor(0, 0, 255)},
                                          {QStringLiteral("hot"), QColor(0, 255, 255)},
                                          {QStringLiteral("pushed"), QColor(255, 0, 0)},
                                          {QStringLiteral("lime"), QColor(0, 255, 0)}};
    label->setHotTrack(hotTrack);
    QCOMPARE(shown(), named.value(QStringLiteral("normal")));
    for (qsizetype i = 0; i < steps.size(); ++i) {
        step(steps.at(i));
        QVERIFY2(shown() == named.value(colours.at(i)),
                 qPrintable(QStringLiteral("after \"%1\" (step %2): %3, expected %4")
                                .arg(steps.at(i))
                                .arg(i + 1)
                                .arg(shown().name(), colours.at(i))));
    }
}

void TestURLLabel::releaseJudgesPointerAgainstClientArea_data()
{
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<bool>("hot");

    // The label is 200 x 13.
    QTest::newRow("top left corner") << QPoint(0, 0) << true;
    QTest::newRow("bottom right pixel") << QPoint(199, 12) << true;
    QTest::newRow("right edge") << QPoint(200, 5) << false;
    QTest::newRow("bottom edge") << QPoint(5, 13) << false;
    QTest::newRow("left of it") << QPoint(-1, 5) << false;
    QTest::newRow("above it") << QPoint(5, -1) << false;
}

void TestURLLabel::releaseJudgesPointerAgainstClientArea()
{
    QFETCH(QPoint, pointer);
    QFETCH(bool, hot);

    step(QStringLiteral("in"));
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    label->pointer = pointer;
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(shown(), hot ? QColor(0, 255, 255) : QColor(0, 0, 255));
}

void TestURLLabel::opensOnEveryPress_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("hotTrack");

    const QList<QPair<const char *, Qt::MouseButton>> buttons = {
        {"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
    for (const auto &[name, button] : buttons) {
        for (bool executable : {true, false}) {
            for (bool hotTrack : {true, false}) {
                QTest::addRow("%s, %s, %s", name, executable ? "executable" : "not executable",
                              hotTrack ? "hot tracking" : "no hot tracking")
                    << button << executable << hotTrack;
            }
        }
    }
}

void TestURLLabel::opensOnEveryPress()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, executable);
    QFETCH(bool, hotTrack);

    label->Executable = executable;
    label->setHotTrack(hotTrack);
    QTest::mousePress(label, button, {}, QPoint(5, 5));
    // Opened on the press, before any release.
    QCOMPARE(opened.size(), executable ? 1 : 0);
    QTest::mouseRelease(label, button, {}, QPoint(5, 5));
    QCOMPARE(opened.size(), executable ? 1 : 0);
    if (executable) {
        // The caption exactly, "&" and all.
        QCOMPARE(opened.first().toString(), caption);
    }
    QCOMPARE(shown(), hotTrack ? QColor(0, 255, 255) : QColor(0, 0, 255));
}

void TestURLLabel::doubleClickOpensTwice_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("executable");

    QTest::newRow("left") << Qt::LeftButton << true;
    QTest::newRow("right") << Qt::RightButton << true;
    QTest::newRow("middle") << Qt::MiddleButton << true;
    QTest::newRow("left, not executable") << Qt::LeftButton << false;
}

void TestURLLabel::doubleClickOpensTwice()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, executable);

    label->Executable = executable;
    // Through the window, so that the toolkit itself recognises the double click.
    QTest::mouseDClick(host->windowHandle(), button, {}, label->mapTo(host.get(), QPoint(5, 5)));
    QCoreApplication::processEvents();
    QCOMPARE(opened.size(), executable ? 2 : 0);
    for (const QUrl &url : std::as_const(opened))
        QCOMPARE(url.toString(), caption);
}

void TestURLLabel::settersRepaintOnlyOnChange_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("sameValue");
    QTest::addColumn<QVariant>("newValue");

    QTest::newRow("HotTrack") << QByteArray("HotTrack") << QVariant(true) << QVariant(false);
    QTest::newRow("HotColor") << QByteArray("HotColor") << QVariant::fromValue(clAqua)
                              << QVariant::fromValue(clLime);
    QTest::newRow("PushedColor") << QByteArray("PushedColor") << QVariant::fromValue(clRed)
                                 << QVariant::fromValue(clGreen);
}

void TestURLLabel::settersRepaintOnlyOnChange()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, sameValue);
    QFETCH(QVariant, newValue);

    step(QStringLiteral("in"));
    QTRY_VERIFY(label->paints > 0);
    QTest::qWait(20);
    label->paints = 0;

    QVERIFY(label->setProperty(property, sameValue));
    QTest::qWait(50);
    QCOMPARE(label->paints, 0);

    QVERIFY(label->setProperty(property, newValue));
    QTRY_VERIFY(label->paints > 0);
    QCOMPARE(label->property(property), newValue);
    // Storing a value never recolours: the label stays hot.
    QCOMPARE(shown(), QColor(0, 255, 255));
}

// A screen reader meets a link named by its address; its default action opens that address as a
// press does, and leaves the colour alone since no pointer is involved.
void TestURLLabel::screenReaderLink_data()
{
    QTest::addColumn<bool>("executable");
    QTest::newRow("executable") << true;
    QTest::newRow("not executable") << false;
}

void TestURLLabel::screenReaderLink()
{
    QFETCH(bool, executable);
    label->Executable = executable;
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Link);
    QCOMPARE(iface->text(QAccessible::Name), caption);
    QVERIFY(iface->state().linked);
    QAccessibleActionInterface *actions = iface->actionInterface();
    QVERIFY(actions);
    const QStringList names = actions->actionNames();
    QCOMPARE(!names.isEmpty() && names.first() == QAccessibleActionInterface::pressAction(), executable);

    actions->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(opened.size(), executable ? 1 : 0);
    if (executable)
        QCOMPARE(opened.first().toString(), caption);
    QCOMPARE(shown(), QColor(0, 0, 255));
}

QTEST_MAIN(TestURLLabel)
#include "tst_urllabel.moc"
