// The About box: its layout, its keys and results, its links and its memory figures.
#include "platform/localeinfo.h"
#include "platform/memorystatus.h"
#include "platform/shellopen.h"
#include "widgets/About.h"
#include "widgets/URLLabel.h"
#include "widgets/appearance.h"
#include "widgets/memorytext.h"

#include "support/scopedhook.h"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <optional>

namespace {
const MemoryStatus testMemory{133169152, 37};
} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void frame();
    void layout_data();
    void layout();
    void fonts();
    void links_data();
    void links();
    void onlyOkTakesFocus();
    void keysAndResults_data();
    void keysAndResults();
    void centredOnScreen();
    void memoryFigures_data();
    void memoryFigures();
    void figuresTakenAtEachOpening();
    void looksRight();

private:
    // Runs the dialog modally and does `act` once it shows; gives exec()'s result and whether the
    // dialog was still open after the first action.
    int runModal(TAboutDlg &dlg, const std::function<void(TAboutDlg &)> &act);

    QList<QUrl> opened;
    std::optional<ScopedHook<ShellOpenHandler>> recording_;
    std::optional<ScopedHook<MemoryStatusSource>> memory_;
    std::optional<ScopedHook<ThousandsSeparatorSource>> separator_;
};

void TestAbout::init()
{
    opened.clear();
    recording_.emplace(setShellOpenHandler, [this](const QUrl &url) { opened << url; });
    memory_.emplace(setMemoryStatusSource, [] { return testMemory; });
    separator_.emplace(setThousandsSeparatorSource, [] { return QStringLiteral(","); });
    rereadSystemLocale();
}

void TestAbout::cleanup()
{
    recording_.reset();
    memory_.reset();
    separator_.reset();
    rereadSystemLocale();
}

int TestAbout::runModal(TAboutDlg &dlg, const std::function<void(TAboutDlg &)> &act)
{
    QTimer::singleShot(0, &dlg, [&dlg, act] { act(dlg); });
    // Never hang the suite when a key fails to close the box.
    QTimer::singleShot(3000, &dlg, [&dlg] { dlg.done(-1); });
    return dlg.exec();
}

void TestAbout::frame()
{
    TAboutDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ぽるてアドレス帳のバージョン情報"));
    QCOMPARE(dlg.size(), QSize(349, 260));
    QCOMPARE(dlg.minimumSize(), QSize(349, 260));
    QCOMPARE(dlg.maximumSize(), QSize(349, 260));
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!dlg.isSizeGripEnabled());
}

void TestAbout::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // width and height 0: sized to the text
    QTest::addColumn<QString>("text");   // empty: any

    QTest::newRow("Image1") << "Image1" << QRect(8, 8, 32, 32) << "";
    QTest::newRow("Label1") << "Label1" << QRect(64, 8, 0, 0)
                            << QStringLiteral("ぽるてアドレス帳 for Windows95/98");
    QTest::newRow("Label2") << "Label2" << QRect(64, 24, 0, 0) << QStringLiteral("第三版");
    QTest::newRow("Label6") << "Label6" << QRect(64, 48, 0, 0) << "";
    QTest::newRow("URLLabel1") << "URLLabel1" << QRect(72, 64, 0, 0) << "";
    QTest::newRow("Label8") << "Label8" << QRect(64, 80, 0, 0) << "";
    QTest::newRow("URLLabel2") << "URLLabel2" << QRect(72, 96, 0, 0) << "";
    QTest::newRow("Label3") << "Label3" << QRect(64, 112, 0, 0) << "";
    QTest::newRow("AuthorURL") << "AuthorURL" << QRect(72, 128, 0, 0) << "";
    QTest::newRow("AuthorMail") << "AuthorMail" << QRect(72, 144, 0, 0) << "";
    QTest::newRow("Label7") << "Label7" << QRect(64, 160, 0, 0) << "";
    QTest::newRow("Bevel1") << "Bevel1" << QRect(16, 184, 321, 2) << "";
    QTest::newRow("Label4") << "Label4" << QRect(48, 192, 0, 0)
                            << QStringLiteral("Windows が使用できる物理メモリ：");
    QTest::newRow("Label5") << "Label5" << QRect(49, 208, 0, 0) << QStringLiteral("メモリ使用率：");
    QTest::newRow("PhysMem") << "PhysMem" << QRect(240, 192, 0, 0) << "130,048 KB";
    QTest::newRow("FreeRes") << "FreeRes" << QRect(240, 208, 0, 0) << "37 %";
    QTest::newRow("OKBtn") << "OKBtn" << QRect(248, 228, 79, 23) << "OK";
}

void TestAbout::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    TAboutDlg dlg;
    auto *control = dlg.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->pos(), geometry.topLeft());
    if (geometry.width() > 0) {
        QCOMPARE(control->size(), geometry.size());
    } else {
        // Sized to its text: nothing cut off, and inside the dialog.
        auto *label = qobject_cast<QLabel *>(control);
        QVERIFY(label);
        QVERIFY(!label->text().isEmpty());
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QVERIFY(label->height() >= 12);
        QVERIFY2(control->geometry().right() < 349 - 8, qPrintable(label->text()));
    }
    if (!text.isEmpty()) {
        const QLabel *label = qobject_cast<QLabel *>(control);
        const QPushButton *button = qobject_cast<QPushButton *>(control);
        QCOMPARE(label ? label->text() : button->text(), text);
    }
}

void TestAbout::fonts()
{
    TAboutDlg dlg;
    const QFont program = programFont();
    for (const QWidget *control : dlg.findChildren<QWidget *>()) {
        QCOMPARE(control->font().family(), program.family());
        QCOMPARE(control->font().pixelSize(), 12);
        QCOMPARE(control->font().bold(), control == dlg.Label1);
    }
    QVERIFY(!dlg.Image1->pixmap().isNull());
    QCOMPARE(dlg.Image1->pixmap().size(), QSize(32, 32));
}

void TestAbout::links_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<TColor>("hotColor");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("URLLabel1") << "URLLabel1" << QColor(0, 0, 255) << clAqua << "http://www.example.jp/";
    QTest::newRow("URLLabel2") << "URLLabel2" << QColor(0, 0, 255) << clAqua << "http://www.example.jp/";
    QTest::newRow("AuthorURL") << "AuthorURL" << QColor(0, 0, 255) << clAqua << "http://www.example.jp/";
    QTest::newRow("AuthorMail") << "AuthorMail" << QColor(0, 128, 0) << clLime << "mailto:";
}

void TestAbout::links()
{
    QFETCH(QString, name);
    QFETCH(QColor, colour);
    QFETCH(TColor, hotColor);
    QFETCH(QString, prefix);

    TAboutDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *link = dlg.findChild<TURLLabel *>(name);
    QVERIFY(link);
    QVERIFY(link->text().startsWith(prefix));
    QVERIFY(link->text().contains(QLatin1String("example.jp")));
    QCOMPARE(link->palette().color(link->foregroundRole()), colour);
    QCOMPARE(link->HotColor(), hotColor);
    QCOMPARE(link->PushedColor(), clRed);
    QVERIFY(link->Executable);
    QVERIFY(link->HotTrack());
    QVERIFY(!link->autoFillBackground());
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(link);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Link);
    QCOMPARE(iface->text(QAccessible::Name), link->text());

    // A click opens its own text, and the box stays open.
    QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, {}, link->geometry().center());
    QCOMPARE(opened, QList<QUrl>{QUrl(link->text())});
    QVERIFY(dlg.isVisible());
}

void TestAbout::onlyOkTakesFocus()
{
    TAboutDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QApplication::setActiveWindow(&dlg);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(dlg.OKBtn));
    QVERIFY(dlg.OKBtn->isDefault());
    for (const QWidget *control : dlg.findChildren<QWidget *>()) {
        if (control != dlg.OKBtn)
            QCOMPARE(control->focusPolicy(), Qt::NoFocus);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(dlg.OKBtn));
}

void TestAbout::keysAndResults_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<ModalResult>("result");

    QTest::newRow("Return") << "Return" << ModalResult::Ok;
    QTest::newRow("keypad Enter") << "Enter" << ModalResult::Ok;
    QTest::newRow("Space") << "Space" << ModalResult::Ok;
    QTest::newRow("click OK") << "click" << ModalResult::Ok;
    QTest::newRow("Escape, then Return") << "Escape" << ModalResult::Ok;
    QTest::newRow("close box") << "close" << ModalResult::Cancel;
}

void TestAbout::keysAndResults()
{
    QFETCH(QString, action);
    QFETCH(ModalResult, result);

    TAboutDlg dlg;
    bool openAfterEscape = false;
    const int got = runModal(dlg, [&](TAboutDlg &box) {
        QApplication::setActiveWindow(&box);
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : &box;
        if (action == QLatin1String("Return")) {
            QTest::keyClick(focus, Qt::Key_Return);
        } else if (action == QLatin1String("Enter")) {
            QTest::keyClick(focus, Qt::Key_Enter, Qt::KeypadModifier);
        } else if (action == QLatin1String("Space")) {
            QTest::keyClick(focus, Qt::Key_Space);
        } else if (action == QLatin1String("click")) {
            QTest::mouseClick(box.OKBtn, Qt::LeftButton);
        } else if (action == QLatin1String("Escape")) {
            QTest::keyClick(focus, Qt::Key_Escape);
            QTest::keyClick(&box, Qt::Key_Escape);
            QCoreApplication::processEvents();
            openAfterEscape = box.isVisible();
            QTest::keyClick(focus, Qt::Key_Return);
        } else if (action == QLatin1String("close")) {
            box.close();
        }
    });
    QCOMPARE(ModalResult(got), result);
    QVERIFY(!dlg.isVisible());
    if (action == QLatin1String("Escape"))
        QVERIFY(openAfterEscape);
}

void TestAbout::centredOnScreen()
{
    QWidget owner;
    owner.setGeometry(10, 10, 200, 150);
    owner.show();
    TAboutDlg dlg(&owner);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QRect screen = dlg.screen()->geometry();
    const QPoint offset = dlg.frameGeometry().center() - screen.center();
    QVERIFY2(qAbs(offset.x()) <= 1 && qAbs(offset.y()) <= 1,
             qPrintable(QStringLiteral("off the centre by %1, %2").arg(offset.x()).arg(offset.y())));
}

void TestAbout::memoryFigures_data()
{
    QTest::addColumn<quint64>("total");
    QTest::addColumn<int>("load");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("physMem");
    QTest::addColumn<QString>("freeRes");

    QTest::newRow("128 MB") << quint64(133169152) << 37 << ","
                            << "130,048 KB"
                            << "37 %";
    QTest::newRow("dot separator") << quint64(67108864) << 0 << "."
                                   << "65.536 KB"
                                   << "0 %";
    QTest::newRow("unusable separator") << quint64(67108864) << 100 << QStringLiteral("\u202f") << "65,536 KB"
                                        << "100 %";
    QTest::newRow("beyond 32 bits") << quint64(25276145664) << 1 << ","
                                    << "24,683,736 KB"
                                    << "1 %";
    QTest::newRow("no memory") << quint64(100) << 0 << ","
                               << " KB"
                               << "0 %";
}

void TestAbout::memoryFigures()
{
    QFETCH(quint64, total);
    QFETCH(int, load);
    QFETCH(QString, separator);
    QFETCH(QString, physMem);
    QFETCH(QString, freeRes);

    const ScopedHook memory(setMemoryStatusSource, [total, load] { return MemoryStatus{total, load}; });
    const ScopedHook grouping(setThousandsSeparatorSource, [separator] { return separator; });
    rereadSystemLocale();

    TAboutDlg dlg;
    QCOMPARE(dlg.PhysMem->text(), physMem);
    QCOMPARE(dlg.FreeRes->text(), freeRes);
    QVERIFY(dlg.PhysMem->width() >= dlg.PhysMem->fontMetrics().horizontalAdvance(physMem));

    // A screen reader reads each figure as text, labelled by its caption.
    const QList<QPair<QLabel *, QLabel *>> figures{{dlg.PhysMem, dlg.Label4}, {dlg.FreeRes, dlg.Label5}};
    for (const auto &[figure, caption] : figures) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(figure);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::StaticText);
        QCOMPARE(iface->text(QAccessible::Name), figure->text());
        const auto labels = iface->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object(), caption);
    }
}

void TestAbout::figuresTakenAtEachOpening()
{
    MemoryStatus now{quint64(1024) * 1024 * 1024, 10};
    std::optional<ScopedHook<MemoryStatusSource>> changing;
    changing.emplace(setMemoryStatusSource, [&now] { return now; });

    TAboutDlg first;
    QCOMPARE(first.PhysMem->text(), QStringLiteral("1,048,576 KB"));
    QCOMPARE(first.FreeRes->text(), QStringLiteral("10 %"));

    now = MemoryStatus{quint64(2048) * 1024 * 1024, 55};
    TAboutDlg second;
    QCOMPARE(second.PhysMem->text(), QStringLiteral("2,097,152 KB"));
    QCOMPARE(second.FreeRes->text(), QStringLiteral("55 %"));
    // The first box is not refreshed while it is open.
    QCOMPARE(first.FreeRes->text(), QStringLiteral("10 %"));

    // Real figures when no test source stands in.
    const ScopedHook noTestSource(setMemoryStatusSource, MemoryStatusSource());
    TAboutDlg real;
    QCOMPARE(real.PhysMem->text(),
             formatKilobytes(GlobalMemoryStatus().totalPhys, systemThousandsSeparator()));
}

void TestAbout::looksRight()
{
    TAboutDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QImage shot = dlg.grab().toImage();
    if (const QByteArray path = qgetenv("PORADDR_ABOUT_SHOT"); !path.isEmpty())
        shot.save(QString::fromLocal8Bit(path));

    const auto countPixels = [&shot](const QRect &area, const std::function<bool(QColor)> &test) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += test(shot.pixelColor(x, y)) ? 1 : 0;
        return count;
    };
    const auto blue = [](QColor c) { return c.blue() > 200 && c.red() < 60 && c.green() < 60; };
    const auto green = [](QColor c) { return c.green() > 90 && c.red() < 60 && c.blue() < 60; };
    const auto dark = [](QColor c) { return c.lightness() < 100; };

    // The links are drawn in their colours, the texts in dark ink, the rule as a line.
    QVERIFY(countPixels(dlg.AuthorURL->geometry(), blue) > 20);
    QVERIFY(countPixels(dlg.URLLabel1->geometry(), blue) > 20);
    QVERIFY(countPixels(dlg.AuthorMail->geometry(), green) > 20);
    QVERIFY(countPixels(dlg.Label1->geometry(), dark) > 40);
    QVERIFY(countPixels(dlg.PhysMem->geometry(), dark) > 20);
    const QColor background = shot.pixelColor(345, 150);
    QVERIFY(countPixels(dlg.Bevel1->geometry(), [&](QColor c) { return c != background; }) > 300);
    // The icon is painted where it belongs.
    QVERIFY(countPixels(QRect(8, 8, 32, 32), [&](QColor c) { return c != background; }) > 100);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
