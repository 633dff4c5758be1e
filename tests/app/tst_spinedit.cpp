#include "app/spinedit.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>
#include <limits>

// The number field in a window beside an ordinary edit, so that focus can enter and leave it.
class SpinWindow : public QWidget {
public:
    SpinWindow()
    {
        auto *layout = new QVBoxLayout(this);
        other = new QLineEdit(this);
        spin = new TSpinEdit(this);
        spin->setFixedSize(65, 21);
        layout->addWidget(other);
        layout->addWidget(spin);
    }
    QLineEdit *other;
    TSpinEdit *spin;
};

class TestSpinEdit : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reading_data();
    void reading();
    void setting_data();
    void setting();
    void arrowKeys_data();
    void arrowKeys();
    void buttonClicks_data();
    void buttonClicks();
    void buttonsAtTheRight();
    void holdRepeats();
    void holdPausesOffTheButton();
    void pressFocusesAndSelects();
    void typingFilter_data();
    void typingFilter();
    void pasteIsNotFiltered();
    void leaving_data();
    void leaving();
    void windowSwitchIsNoExit();
    void inputMethod_data();
    void inputMethod();

private:
    void focusSpin();
    SpinWindow *window_ = nullptr;
};

void TestSpinEdit::init()
{
    window_ = new SpinWindow;
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

void TestSpinEdit::cleanup()
{
    delete window_;
    window_ = nullptr;
}

void TestSpinEdit::focusSpin()
{
    window_->spin->lineEdit()->setFocus(Qt::MouseFocusReason);
    QVERIFY(window_->spin->hasFocus());
}

void TestSpinEdit::reading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("in range") << "5" << 5;
    QTest::newRow("above, not clamped") << "150" << 150;
    QTest::newRow("below, not clamped") << "-5" << -5;
    QTest::newRow("leading zeros") << "0099" << 99;
    QTest::newRow("plus sign") << "+5" << 5;
    QTest::newRow("leading blanks") << "  7" << 7;
    QTest::newRow("hexadecimal") << "$1F" << 31;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("plus alone") << "+" << 0;
    QTest::newRow("minus alone") << "-" << 0;
    QTest::newRow("decimal separator") << "1.5" << 0;
    QTest::newRow("trailing blank") << "7 " << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("beyond 32 bits") << "99999999999" << 0;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << 0;
}

void TestSpinEdit::reading()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    window_->spin->setText(text);
    QCOMPARE(window_->spin->Value(), value);
    QCOMPARE(window_->spin->text(), text); // reading never rewrites the text
}

void TestSpinEdit::setting_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("in range") << 7 << "7";
    QTest::newRow("lower bound") << 0 << "0";
    QTest::newRow("upper bound") << 99 << "99";
    QTest::newRow("above") << 150 << "99";
    QTest::newRow("below") << -3 << "0";
    QTest::newRow("lowest int") << std::numeric_limits<int>::min() << "0";
}

void TestSpinEdit::setting()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    window_->spin->setText(QStringLiteral("junk"));
    window_->spin->setValue(value);
    QCOMPARE(window_->spin->text(), text);
}

void TestSpinEdit::arrowKeys_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::newRow("up") << "5" << int(Qt::Key_Up) << "6";
    QTest::newRow("down") << "5" << int(Qt::Key_Down) << "4";
    QTest::newRow("up at 99") << "99" << int(Qt::Key_Up) << "99";
    QTest::newRow("down at 0") << "0" << int(Qt::Key_Down) << "0";
    QTest::newRow("up on empty") << "" << int(Qt::Key_Up) << "1";
    QTest::newRow("down on letters") << "abc" << int(Qt::Key_Down) << "0";
    QTest::newRow("down from above the range") << "150" << int(Qt::Key_Down) << "99";
    QTest::newRow("up from below the range") << "-5" << int(Qt::Key_Up) << "0";
    QTest::newRow("up from the largest int") << "2147483647" << int(Qt::Key_Up) << "99";
    QTest::newRow("down from the smallest int") << "-2147483648" << int(Qt::Key_Down) << "0";
    QTest::newRow("up on leading zeros") << "007" << int(Qt::Key_Up) << "8";
}

void TestSpinEdit::arrowKeys()
{
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(QString, text);
    focusSpin();
    window_->spin->setText(start);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QCOMPARE(window_->spin->text(), text);
}

void TestSpinEdit::buttonClicks_data()
{
    QTest::addColumn<bool>("up");
    QTest::addColumn<QPoint>("releaseOffset"); // from the button's centre
    QTest::addColumn<QString>("text");
    QTest::newRow("up, released on it") << true << QPoint(0, 0) << "6";
    QTest::newRow("down, released on it") << false << QPoint(0, 0) << "4";
    QTest::newRow("up, released off it") << true << QPoint(-40, 0) << "5";
    QTest::newRow("down, released off it") << false << QPoint(0, 40) << "5";
}

void TestSpinEdit::buttonClicks()
{
    QFETCH(bool, up);
    QFETCH(QPoint, releaseOffset);
    QFETCH(QString, text);
    window_->spin->setText(QStringLiteral("5"));
    QToolButton *button = up ? window_->spin->upButton() : window_->spin->downButton();
    const QPoint centre = button->rect().center();
    QTest::mousePress(button, Qt::LeftButton, {}, centre);
    QCOMPARE(window_->spin->text(), QStringLiteral("5")); // nothing on the press itself
    if (!releaseOffset.isNull())
        QTest::mouseMove(button, centre + releaseOffset);
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre + releaseOffset);
    QCOMPARE(window_->spin->text(), text);
}

void TestSpinEdit::buttonsAtTheRight()
{
    const TSpinEdit *spin = window_->spin;
    const QRect up = spin->upButton()->geometry(), down = spin->downButton()->geometry();
    QCOMPARE(up.width(), 15);
    QCOMPARE(down.width(), 15);
    QCOMPARE(up.left(), down.left());
    QVERIFY(up.bottom() < down.top());
    QVERIFY(spin->width() - 1 - up.right() <= 3); // inside the frame, at its right end
    QCOMPARE(spin->lineEdit()->geometry(), spin->rect());
    QCOMPARE(spin->lineEdit()->textMargins().right(), 15 + 2);
}

// Holding the button steps 400 ms after the press, then every 100 ms; the release adds the click.
void TestSpinEdit::holdRepeats()
{
    window_->spin->setText(QStringLiteral("0"));
    QToolButton *up = window_->spin->upButton();
    QElapsedTimer clock;
    QTest::mousePress(up, Qt::LeftButton, {}, up->rect().center());
    clock.start();
    QTest::qWait(300);
    QCOMPARE(window_->spin->Value(), 0);
    QTest::qWait(350);
    const qint64 held = clock.elapsed();
    const int expected = 1 + int((held - 400) / 100); // 400, 500, 600 ms at 650 ms
    QVERIFY2(qAbs(window_->spin->Value() - expected) <= 1,
             qPrintable(QStringLiteral("%1 steps after %2 ms").arg(window_->spin->Value()).arg(held)));
    QVERIFY(window_->spin->Value() >= 2);
    const int beforeRelease = window_->spin->Value();
    QTest::mouseRelease(up, Qt::LeftButton, {}, up->rect().center());
    QCOMPARE(window_->spin->Value(), beforeRelease + 1);
    QTest::qWait(250);
    QCOMPARE(window_->spin->Value(), beforeRelease + 1);
}

void TestSpinEdit::holdPausesOffTheButton()
{
    window_->spin->setText(QStringLiteral("50"));
    QToolButton *down = window_->spin->downButton();
    const QPoint centre = down->rect().center();
    QTest::mousePress(down, Qt::LeftButton, {}, centre);
    QTest::mouseMove(down, centre + QPoint(-40, 0));
    QTest::qWait(600);
    QCOMPARE(window_->spin->Value(), 50);
    QTest::mouseMove(down, centre);
    QTRY_VERIFY_WITH_TIMEOUT(window_->spin->Value() < 50, 500);
    QTest::mouseRelease(down, Qt::LeftButton, {}, centre);
}

void TestSpinEdit::pressFocusesAndSelects()
{
    window_->other->setFocus(Qt::MouseFocusReason);
    window_->spin->setText(QStringLiteral("42"));
    QToolButton *up = window_->spin->upButton();
    QTest::mousePress(up, Qt::LeftButton, {}, up->rect().center());
    QVERIFY(window_->spin->hasFocus());
    QCOMPARE(window_->spin->lineEdit()->selectedText(), QStringLiteral("42"));
    QTest::mouseRelease(up, Qt::LeftButton, {}, up->rect().center());
    QCOMPARE(window_->spin->text(), QStringLiteral("43"));
    QVERIFY(window_->spin->hasFocus());
}

void TestSpinEdit::typingFilter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("refused");
    const QString separator = QLocale::system().decimalPoint();
    QTest::newRow("digits") << "0123456789"
                            << "0123456789" << 0;
    QTest::newRow("signs") << "+-"
                           << "+-" << 0;
    QTest::newRow("decimal separator") << "1" + separator + "5"
                                       << "1" + separator + "5" << 0;
    QTest::newRow("letters") << "a5b"
                             << "5" << 2;
    QTest::newRow("blank") << " "
                           << "" << 1;
    QTest::newRow("other punctuation") << "$#"
                                       << "" << 2;
    QTest::newRow("full-width digit") << QStringLiteral("５") << "" << 1;
    QTest::newRow("Japanese") << QStringLiteral("あ") << "" << 1;
}

void TestSpinEdit::typingFilter()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(int, refused);
    focusSpin();
    window_->spin->setText(QString());
    QSignalSpy refusals(window_->spin, &TSpinEdit::keyRefused);
    for (const QChar c : typed) {
        // QTest::keyClicks knows only Latin-1; a keyboard layout can give any character.
        const Qt::Key key = c.unicode() < 0x80 ? Qt::Key(c.toUpper().unicode()) : Qt::Key_unknown;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(QApplication::focusWidget(), &press);
        QApplication::sendEvent(QApplication::focusWidget(), &release);
    }
    QCOMPARE(window_->spin->text(), text);
    QCOMPARE(refusals.size(), refused);
}

void TestSpinEdit::pasteIsNotFiltered()
{
    focusSpin();
    window_->spin->setText(QStringLiteral("12"));
    QSignalSpy refusals(window_->spin, &TSpinEdit::keyRefused);
    QWidget *field = QApplication::focusWidget();
    QTest::keyClick(field, Qt::Key_Backspace); // a control character passes
    QTest::keyClick(field, Qt::Key_Return);    // Enter does not
    QTest::keyClick(field, Qt::Key_Enter);
    QCOMPARE(refusals.size(), 2);
    QCOMPARE(window_->spin->text(), QStringLiteral("1"));
    QGuiApplication::clipboard()->setText(QStringLiteral("word"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(window_->spin->text(), QStringLiteral("1word"));
    QCOMPARE(window_->spin->Value(), 0);
    QCOMPARE(refusals.size(), 2);
}

void TestSpinEdit::leaving_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("after");
    QTest::newRow("above") << "150"
                           << "99";
    QTest::newRow("below") << "-5"
                           << "0";
    QTest::newRow("hexadecimal above") << "$FF"
                                       << "99";
    QTest::newRow("in range") << "42"
                              << "42";
    QTest::newRow("leading zeros stay") << "0099"
                                        << "0099";
    QTest::newRow("plus sign stays") << "+5"
                                     << "+5";
    QTest::newRow("empty stays") << ""
                                 << "";
    QTest::newRow("plus alone stays") << "+"
                                      << "+";
    QTest::newRow("minus alone stays") << "-"
                                       << "-";
    QTest::newRow("decimal stays") << "1.5"
                                   << "1.5";
    QTest::newRow("letters stay") << "abc"
                                  << "abc";
}

void TestSpinEdit::leaving()
{
    QFETCH(QString, text);
    QFETCH(QString, after);
    focusSpin();
    window_->spin->setText(text);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(window_->other->hasFocus());
    QCOMPARE(window_->spin->text(), after);
}

void TestSpinEdit::windowSwitchIsNoExit()
{
    focusSpin();
    window_->spin->setText(QStringLiteral("150"));
    QWidget otherWindow;
    otherWindow.show();
    otherWindow.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&otherWindow));
    QCOMPARE(window_->spin->text(), QStringLiteral("150"));
}

void TestSpinEdit::inputMethod_data()
{
    QTest::addColumn<QString>("commit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("refused");
    QTest::newRow("digits") << "12"
                            << "12" << 0;
    QTest::newRow("kana") << QStringLiteral("いち") << "" << 1;
}

void TestSpinEdit::inputMethod()
{
    QFETCH(QString, commit);
    QFETCH(QString, text);
    QFETCH(int, refused);
    focusSpin();
    window_->spin->setText(QString());
    QVERIFY(window_->spin->lineEdit()->inputMethodHints() & Qt::ImhDigitsOnly);
    QSignalSpy refusals(window_->spin, &TSpinEdit::keyRefused);
    QInputMethodEvent preedit(commit, {});
    QApplication::sendEvent(QApplication::focusWidget(), &preedit);
    QInputMethodEvent done;
    done.setCommitString(commit);
    QApplication::sendEvent(QApplication::focusWidget(), &done);
    QCOMPARE(window_->spin->text(), text);
    QCOMPARE(refusals.size(), refused);
}

QTEST_MAIN(TestSpinEdit)
#include "tst_spinedit.moc"
