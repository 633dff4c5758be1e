#include "app/InputForm.h"
#include "app/messageform.h"
#include "app/spinedit.h"
#include "modaldriver.h"
#include "store/errors.h"

#include "support/scopedhook.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString focusName()
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus)
        return QStringLiteral("(none)");
    if (qobject_cast<TSpinEdit *>(focus->parentWidget()))
        return focus->parentWidget()->objectName();
    return focus->objectName();
}

// What an input method does when the user composes and then confirms a text.
void composeAndCommit(QWidget *target, const QString &text)
{
    QList<QInputMethodEvent::Attribute> attributes{
        {QInputMethodEvent::Cursor, int(text.size()), 1, QVariant()}};
    QInputMethodEvent preedit(text, attributes);
    QApplication::sendEvent(target, &preedit);
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(target, &commit);
}

void clickButton(QPushButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

} // namespace

class TestInputDlg : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void windowFrame();
    void scaledAtOtherDensity();
    void layoutAtThisDensity();
    void keys_data();
    void keys();
    void tabCycle_data();
    void tabCycle();
    void tabSelectsClickDoesNot();
    void positionMemory();
    void focusMemory();
    void numberReadAtOk_data();
    void numberReadAtOk();
    void untouchedBytes_data();
    void untouchedBytes();
    void editedBackToStoredText();
    void changedTextEncoded_data();
    void changedTextEncoded();
    void refusedAtOk_data();
    void refusedAtOk();
    void refusalShownInWarningBox();
    void lineBreaks_data();
    void lineBreaks();
    void inputMethodComposition();
    void modalHook();
    void accessibleControls_data();
    void accessibleControls();
    void accessibleNumberValue_data();
    void accessibleNumberValue();

private:
    TInputDlg *dialog_ = nullptr;
};

void TestInputDlg::init()
{
    dialog_ = new TInputDlg;
}

void TestInputDlg::cleanup()
{
    delete dialog_;
    dialog_ = nullptr;
}

void TestInputDlg::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");

    QTest::newRow("StaticText1") << "StaticText1" << QRect(16, 16, 50, 16) << QStringLiteral("ぽるてNo.");
    QTest::newRow("SpinEdit1") << "SpinEdit1" << QRect(80, 16, 65, 21) << "1";
    QTest::newRow("StaticText2") << "StaticText2" << QRect(16, 48, 56, 16) << QStringLiteral("ハンドル ：");
    QTest::newRow("StaticText3") << "StaticText3" << QRect(16, 72, 54, 16) << QStringLiteral("メルアド ：");
    QTest::newRow("StaticText4") << "StaticText4" << QRect(16, 96, 49, 16) << QStringLiteral("ホーム ：");
    QTest::newRow("StaticText5") << "StaticText5" << QRect(16, 120, 36, 16) << QStringLiteral("ＩＣＱ ：");
    QTest::newRow("StaticText6") << "StaticText6" << QRect(16, 144, 47, 16) << QStringLiteral("ポスペ ：");
    QTest::newRow("StaticText7") << "StaticText7" << QRect(16, 168, 34, 16) << QStringLiteral("メモ ：");
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("Edit%1").arg(i + 1);
        QTest::newRow(qPrintable(name)) << name << QRect(80, 48 + 24 * i, 281, 20) << QString();
    }
    QTest::newRow("Button1") << "Button1" << QRect(48, 208, 121, 23) << QStringLiteral("ＯＫ");
    QTest::newRow("Button2") << "Button2" << QRect(208, 208, 121, 23) << QStringLiteral("キャンセル");
}

void TestInputDlg::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QCOMPARE(dialog_->logicalDpiY(), 96);

    auto *control = dialog_->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), dialog_);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->font().pixelSize(), 12);
    if (auto *label = qobject_cast<QLabel *>(control)) {
        QCOMPARE(label->text(), caption);
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    } else if (auto *button = qobject_cast<QPushButton *>(control)) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    } else if (auto *spin = qobject_cast<TSpinEdit *>(control)) {
        QCOMPARE(spin->text(), caption);
        QCOMPARE(spin->MinValue, 0);
        QCOMPARE(spin->MaxValue, 99);
        QCOMPARE(spin->Increment, 1);
    } else {
        QCOMPARE(qobject_cast<QLineEdit *>(control)->text(), caption);
    }
}

void TestInputDlg::windowFrame()
{
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("ぽるてアドレス帳：入力"));
    QCOMPARE(dialog_->size(), QSize(386, 243));
    QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());
    const Qt::WindowFlags flags = dialog_->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                       Qt::WindowContextHelpButtonHint)));
    QVERIFY(!dialog_->isVisible());
}

// A screen of 144 dpi needs a platform set up before the application starts: a child run of this suite.
void TestInputDlg::scaledAtOtherDensity()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile config(dir.filePath(QStringLiteral("screen.json")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(R"({"screens":[{"name":"s","x":0,"y":0,"width":1600,"height":1200,"logicalDpi":144,)"
                 R"("logicalBaseDpi":96,"dpr":1}]})");
    config.close();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       QStringLiteral("offscreen:configfile=") + config.fileName());
    environment.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));
    environment.insert(QStringLiteral("PORADDR_EXPECT_DPI"), QStringLiteral("144"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("layoutAtThisDensity")});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAllStandardOutput();
    QVERIFY2(child.exitCode() == 0 && output.contains("PASS   : TestInputDlg::layoutAtThisDensity()"),
             output.constData());
}

void TestInputDlg::layoutAtThisDensity()
{
    const int expected = qEnvironmentVariableIntValue("PORADDR_EXPECT_DPI");
    if (expected == 0)
        QSKIP("run by scaledAtOtherDensity in a process of its own");
    QCOMPARE(dialog_->logicalDpiY(), expected);
    // 1.5 times every design size, halves rounded up.
    QCOMPARE(dialog_->size(), QSize(579, 365));
    QCOMPARE(dialog_->font().pixelSize(), 18);
    QCOMPARE(dialog_->SpinEdit1->geometry(), QRect(120, 24, 98, 32));
    QCOMPARE(dialog_->Edit6->geometry(), QRect(120, 252, 422, 30));
    QCOMPARE(dialog_->Button2->geometry(), QRect(312, 312, 182, 35));
    QCOMPARE(dialog_->StaticText5->geometry(), QRect(24, 180, 54, 24));
}

void TestInputDlg::keys_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<ModalResult>("result"); // None: the dialog stays open

    QTest::newRow("Enter in an edit") << "Edit1" << int(Qt::Key_Return) << ModalResult::None;
    QTest::newRow("keypad Enter in an edit") << "Edit6" << int(Qt::Key_Enter) << ModalResult::None;
    QTest::newRow("Enter in the number field") << "SpinEdit1" << int(Qt::Key_Return) << ModalResult::None;
    QTest::newRow("Escape in an edit") << "Edit3" << int(Qt::Key_Escape) << ModalResult::None;
    QTest::newRow("Escape on Cancel") << "Button2" << int(Qt::Key_Escape) << ModalResult::None;
    QTest::newRow("Enter on OK") << "Button1" << int(Qt::Key_Return) << ModalResult::Ok;
    QTest::newRow("Space on OK") << "Button1" << int(Qt::Key_Space) << ModalResult::Ok;
    QTest::newRow("Enter on Cancel") << "Button2" << int(Qt::Key_Return) << ModalResult::Cancel;
    QTest::newRow("Space on Cancel") << "Button2" << int(Qt::Key_Space) << ModalResult::Cancel;
    QTest::newRow("close box") << "Edit2" << -1 << ModalResult::Cancel;
}

void TestInputDlg::keys()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(ModalResult, result);

    bool stayedOpen = false;
    modaldriver::whenModal([&](QWidget *modal) {
        modal->findChild<QWidget *>(focus)->setFocus(Qt::TabFocusReason);
        if (key < 0) {
            modal->close();
            return;
        }
        modaldriver::typeKey(Qt::Key(key));
        QApplication::processEvents();
        stayedOpen = modal->isVisible();
        if (stayedOpen)
            dialog_->Button2->click();
    });
    const ModalResult shown = dialog_->showModal();
    QCOMPARE(stayedOpen, result == ModalResult::None);
    QCOMPARE(shown, result == ModalResult::None ? ModalResult::Cancel : result);
}

void TestInputDlg::tabCycle_data()
{
    QTest::addColumn<bool>("numberShown");
    QTest::addColumn<QStringList>("forward");
    QTest::addColumn<QString>("backFromFirst");

    QTest::newRow("with the number field")
        << true << QStringList{"SpinEdit1", "Edit1", "Edit2",   "Edit3",   "Edit4",
                               "Edit5",     "Edit6", "Button1", "Button2", "SpinEdit1"}
        << "Button2";
    QTest::newRow("without it") << false << QStringList{"Edit1", "Edit2",   "Edit3",   "Edit4", "Edit5",
                                                        "Edit6", "Button1", "Button2", "Edit1"}
                                << "Button2";
}

void TestInputDlg::tabCycle()
{
    QFETCH(bool, numberShown);
    QFETCH(QStringList, forward);
    QFETCH(QString, backFromFirst);

    dialog_->SpinEdit1->setVisible(numberShown);
    dialog_->StaticText1->setVisible(numberShown);
    QStringList seen;
    QString back;
    modaldriver::whenModal([&](QWidget *) {
        seen << focusName();
        for (int i = 1; i < forward.size(); ++i) {
            modaldriver::typeKey(Qt::Key_Tab);
            seen << focusName();
        }
        modaldriver::typeKey(Qt::Key_Backtab);
        back = focusName();
        dialog_->Button2->click();
    });
    dialog_->showModal();
    QCOMPARE(seen, forward);
    QCOMPARE(back, backFromFirst);
}

void TestInputDlg::tabSelectsClickDoesNot()
{
    dialog_->setEditBytes(0, "abc");
    dialog_->setEditBytes(1, "def");
    dialog_->setEditBytes(2, "ghi");
    dialog_->SpinEdit1->setValue(42);
    QString tabbedEdit, tabbedNumber, clicked;
    bool clickedHasFocus = false;
    modaldriver::whenModal([&](QWidget *) {
        dialog_->Edit1->setFocus(Qt::MouseFocusReason);
        dialog_->Edit1->deselect();
        modaldriver::typeKey(Qt::Key_Tab);
        tabbedEdit = dialog_->Edit2->selectedText();
        QTest::mouseClick(dialog_->Edit3, Qt::LeftButton, {}, QPoint(100, 10));
        clickedHasFocus = dialog_->Edit3->hasFocus();
        clicked = dialog_->Edit3->selectedText();
        modaldriver::typeKey(Qt::Key_Backtab);
        modaldriver::typeKey(Qt::Key_Backtab);
        modaldriver::typeKey(Qt::Key_Backtab);
        tabbedNumber = dialog_->SpinEdit1->lineEdit()->selectedText();
        dialog_->Button2->click();
    });
    dialog_->showModal();
    QCOMPARE(tabbedEdit, QStringLiteral("def"));
    QVERIFY(clickedHasFocus);
    QCOMPARE(clicked, QString());
    QCOMPARE(tabbedNumber, QStringLiteral("42"));
}

void TestInputDlg::positionMemory()
{
    QPoint first, second, third;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    modaldriver::whenModal([&](QWidget *modal) {
        const QSize outer = modal->frameGeometry().size();
        const QPoint centred((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
        QTRY_COMPARE(modal->frameGeometry().topLeft(), centred); // once the window system has framed it
        first = modal->pos();
        modal->close();
    });
    dialog_->showModal();
    QVERIFY(!first.isNull());

    modaldriver::whenModal([&](QWidget *modal) {
        second = modal->pos();
        modal->move(30, 40); // as the user drags it
        dialog_->Button2->click();
    });
    dialog_->showModal();
    QCOMPARE(second, first);

    modaldriver::whenModal([&](QWidget *modal) {
        third = modal->pos();
        dialog_->Button2->click();
    });
    dialog_->showModal();
    QCOMPARE(third, QPoint(30, 40));
}

void TestInputDlg::focusMemory()
{
    // Each opening notes where the focus is, moves it, and closes: by Enter on a button, else the close box.
    QStringList openedWith;
    auto open = [&](const QString &moveTo) {
        modaldriver::whenModal([&, moveTo](QWidget *modal) {
            openedWith << focusName();
            modal->findChild<QWidget *>(moveTo)->setFocus(Qt::MouseFocusReason);
            if (moveTo.startsWith(QLatin1String("Button")))
                modaldriver::typeKey(Qt::Key_Return);
            else
                modal->close();
        });
        dialog_->showModal();
    };

    open("Edit4");   // first opening: the first control
    open("Button1"); // then the one that had the focus at the close
    open("SpinEdit1");
    dialog_->SpinEdit1->hide(); // as for list 2
    dialog_->StaticText1->hide();
    open("Edit3"); // the remembered number field is hidden: the first control again
    dialog_->SpinEdit1->show();
    dialog_->StaticText1->show();
    open("Edit5"); // shown again: Edit3 was never hidden, so it gets the focus back
    dialog_->Edit5->hide();
    dialog_->Edit5->show();
    open("Button2"); // Edit5 was hidden in between: the first control
    open("Edit1");

    QCOMPARE(openedWith,
             (QStringList{"SpinEdit1", "Edit4", "Button1", "Edit1", "Edit3", "SpinEdit1", "Button2"}));
}

void TestInputDlg::numberReadAtOk_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byMouse");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("150, mouse") << "150" << true << "99" << 99;
    QTest::newRow("150, keyboard") << "150" << false << "99" << 99;
    QTest::newRow("-5, mouse") << "-5" << true << "0" << 0;
    QTest::newRow("1.5 stays") << "1.5" << false << "1.5" << 0;
    QTest::newRow("0099 stays") << "0099" << true << "0099" << 99;
}

void TestInputDlg::numberReadAtOk()
{
    QFETCH(QString, typed);
    QFETCH(bool, byMouse);
    QFETCH(QString, text);
    QFETCH(int, value);

    modaldriver::whenModal([&](QWidget *) {
        QCOMPARE(focusName(), QStringLiteral("SpinEdit1"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), typed);
        if (byMouse) {
            clickButton(dialog_->Button1);
        } else {
            for (int i = 0; i < 7; ++i)
                modaldriver::typeKey(Qt::Key_Tab);
            modaldriver::typeKey(Qt::Key_Return);
        }
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    QCOMPARE(dialog_->SpinEdit1->text(), text);
    QCOMPARE(dialog_->SpinEdit1->Value(), value);
}

void TestInputDlg::untouchedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("not CP932: lead byte and blank") << QByteArray("\x81\x20x");
    QTest::newRow("unassigned code") << QByteArray("\x85\x40");
    QTest::newRow("lone lead byte at the end") << QByteArray("ab\x82");
    QTest::newRow("0xFF") << QByteArray("\xFF");
    QTest::newRow("NEC row 13 0xED40") << QByteArray("\xED\x40");
    QTest::newRow("IBM extension 0xFA5C") << QByteArray("\xFA\x5C");
    QTest::newRow("backslash and tilde") << QByteArray("C:\\x~");
    QTest::newRow("wave dash") << QByteArray("\x81\x60");
    QTest::newRow("longer than a list line") << QByteArray(5000, 'a');
    QTest::newRow("longer than a line edit's own limit") << QByteArray("\x82\xA0").repeated(20000);
}

void TestInputDlg::untouchedBytes()
{
    QFETCH(QByteArray, bytes);
    for (int i = 0; i < 6; ++i)
        dialog_->setEditBytes(i, bytes);
    modaldriver::whenModal([&](QWidget *) {
        // Through every field and out again by the keyboard, changing nothing.
        for (int i = 0; i < 7; ++i)
            modaldriver::typeKey(Qt::Key_Tab);
        QCOMPARE(focusName(), QStringLiteral("Button1"));
        modaldriver::typeKey(Qt::Key_Space);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(dialog_->editBytes(i), bytes);
}

void TestInputDlg::editedBackToStoredText()
{
    const QByteArray nec("\xED\x40");
    dialog_->setEditBytes(0, nec);
    dialog_->setEditBytes(1, nec);
    modaldriver::whenModal([&](QWidget *) {
        dialog_->Edit1->setFocus(Qt::TabFocusReason);
        dialog_->Edit1->end(false);
        QTest::keyClicks(dialog_->Edit1, "xy");
        QTest::keyClick(dialog_->Edit1, Qt::Key_Backspace);
        QTest::keyClick(dialog_->Edit1, Qt::Key_Backspace); // the stored text again
        dialog_->Edit2->setFocus(Qt::TabFocusReason);
        dialog_->Edit2->end(false);
        QTest::keyClicks(dialog_->Edit2, "x");
        clickButton(dialog_->Button1);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    QCOMPARE(dialog_->editBytes(0), nec);
    const QByteArray changed = dialog_->editBytes(1);
    QVERIFY(changed.endsWith('x'));
    QCOMPARE(changed.size(), 3);
}

void TestInputDlg::changedTextEncoded_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII") << "mail@example.jp" << QByteArray("mail@example.jp");
    QTest::newRow("kanji") << QStringLiteral("愛") << QByteArray("\x88\xA4");
    QTest::newRow("half-width katakana") << QStringLiteral("ｱｲ") << QByteArray("\xB1\xB2");
    QTest::newRow("U+301C wave dash") << QStringLiteral("〜") << QByteArray("\x81\x60");
    QTest::newRow("U+FF5E full-width tilde") << QStringLiteral("～") << QByteArray("\x81\x60");
    QTest::newRow("U+2016 double bar") << QStringLiteral("‖") << QByteArray("\x81\x61");
    QTest::newRow("U+2212 minus") << QStringLiteral("−") << QByteArray("\x81\x7C");
    QTest::newRow("U+00A2 cent") << QStringLiteral("¢") << QByteArray("\x81\x91");
    QTest::newRow("U+00A3 pound") << QStringLiteral("£") << QByteArray("\x81\x92");
    QTest::newRow("U+00AC not") << QStringLiteral("¬") << QByteArray("\x81\xCA");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestInputDlg::changedTextEncoded()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    dialog_->setEditBytes(4, "old");
    modaldriver::whenModal([&](QWidget *) {
        dialog_->Edit5->setFocus(Qt::TabFocusReason); // selects the old text; typing replaces it
        if (typed.isEmpty())
            QTest::keyClick(dialog_->Edit5, Qt::Key_Delete);
        else
            composeAndCommit(dialog_->Edit5, typed);
        clickButton(dialog_->Button1);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    QCOMPARE(dialog_->editBytes(4), bytes);
}

void TestInputDlg::refusedAtOk_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // empty: accepted

    QTest::newRow("emoji") << 0 << QStringLiteral("Hi😀") << QStringLiteral("ハンドル") << QStringLiteral("😀");
    QTest::newRow("Hangul") << 5 << QStringLiteral("메모") << QStringLiteral("メモ") << QStringLiteral("메");
    QTest::newRow("4096 bytes of ASCII")
        << 1 << QString(4096, QLatin1Char('a')) << QStringLiteral("メルアド") << QStringLiteral("4096");
    QTest::newRow("4096 bytes of kana")
        << 2 << QStringLiteral("あ").repeated(2048) << QStringLiteral("ホーム") << QStringLiteral("4096");
    QTest::newRow("4095 bytes pass") << 3 << QStringLiteral("あ").repeated(2047) + QLatin1Char('a')
                                     << QStringLiteral("ＩＣＱ") << QString();
}

void TestInputDlg::refusedAtOk()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, reason);

    QList<MessageRequest> warnings;
    const ScopedHook answering(setMessageAnswerer, [&](const MessageRequest &request) {
        warnings << request;
        return ModalResult::Ok;
    });
    bool openAfterOk = false;
    QString textAfterOk;
    modaldriver::whenModal([&](QWidget *modal) {
        QLineEdit *edit = dialog_->edit(field);
        edit->setFocus(Qt::TabFocusReason);
        composeAndCommit(edit, text);
        clickButton(dialog_->Button1);
        openAfterOk = modal->isVisible();
        textAfterOk = edit->text();
        if (openAfterOk)
            clickButton(dialog_->Button2);
    });
    const ModalResult result = dialog_->showModal();

    if (reason.isEmpty()) {
        QCOMPARE(result, ModalResult::Ok);
        QVERIFY(warnings.isEmpty());
        QCOMPARE(dialog_->editBytes(field).size(), 4095);
        return;
    }
    QVERIFY(openAfterOk);
    QCOMPARE(textAfterOk, text); // kept as typed
    QCOMPARE(result, ModalResult::Cancel);
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings[0].title, QStringLiteral("警告"));
    QCOMPARE(warnings[0].type, MsgDlgType::Warning);
    QCOMPARE(warnings[0].buttons, MsgDlgButtons(MsgDlgBtn::OK));
    QVERIFY2(warnings[0].text.contains(name) && warnings[0].text.contains(reason),
             qPrintable(warnings[0].text));
    QVERIFY(!dialog_->validate());
    QVERIFY_THROWS_EXCEPTION(PorError, dialog_->editBytes(field)); // never a silent substitute
}

void TestInputDlg::refusalShownInWarningBox()
{
    QString title, text;
    bool entryStillOpen = false;
    modaldriver::whenModal(
        [&](QWidget *warning) {
            title = warning->windowTitle();
            text = warning->findChild<QLabel *>(QStringLiteral("Message"))->text();
            modaldriver::typeKey(Qt::Key_Return);
        },
        4000, [](QWidget *modal) { return qobject_cast<TMessageForm *>(modal) != nullptr; });
    modaldriver::whenModal([&](QWidget *modal) {
        dialog_->Edit6->setFocus(Qt::TabFocusReason);
        composeAndCommit(dialog_->Edit6, QStringLiteral("🎉"));
        clickButton(dialog_->Button1);
        entryStillOpen = modal->isVisible();
        clickButton(dialog_->Button2);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Cancel);
    QVERIFY(entryStillOpen);
    QCOMPARE(title, QStringLiteral("警告"));
    QVERIFY2(text.contains(QStringLiteral("メモ")), qPrintable(text));
}

void TestInputDlg::lineBreaks_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor"); // -1: all selected
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("arriving");
    QTest::addColumn<QString>("after");

    QTest::newRow("paste LF") << "" << 0 << "paste"
                              << "a\nb"
                              << "a";
    QTest::newRow("paste CR LF") << "" << 0 << "paste"
                                 << "a\r\nb\r\n"
                                 << "a";
    QTest::newRow("paste CR") << "" << 0 << "paste"
                              << "a\rb"
                              << "a";
    QTest::newRow("paste in the middle") << "XYZ" << 2 << "paste"
                                         << "1\n2"
                                         << "XY1Z";
    QTest::newRow("paste over a selection") << "XYZ" << -1 << "paste"
                                            << "p\nq"
                                            << "p";
    QTest::newRow("paste starting with a break") << "XY" << 2 << "paste"
                                                 << "\nlater"
                                                 << "XY";
    QTest::newRow("paste repeating the text before") << "ab" << 1 << "paste"
                                                     << "b\nx"
                                                     << "abb";
    QTest::newRow("input method") << "" << 0 << "commit"
                                  << "c\nd"
                                  << "c";
    QTest::newRow("set by code") << "" << 0 << "set"
                                 << "p\nq"
                                 << "p";
    QTest::newRow("NUL set by code") << "" << 0 << "set" << QString::fromUtf16(u"x\0y", 3) << "x";
}

void TestInputDlg::lineBreaks()
{
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(QString, how);
    QFETCH(QString, arriving);
    QFETCH(QString, after);

    QString result;
    modaldriver::whenModal([&](QWidget *) {
        QLineEdit *edit = dialog_->Edit1;
        edit->setText(before);
        edit->setFocus(Qt::MouseFocusReason);
        if (cursor < 0)
            edit->selectAll();
        else
            edit->setCursorPosition(cursor);
        if (how == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(arriving);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else if (how == QLatin1String("commit")) {
            composeAndCommit(edit, arriving);
        } else {
            edit->setText(arriving);
        }
        result = edit->text();
        clickButton(dialog_->Button1);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    QCOMPARE(result, after);
    QVERIFY(!dialog_->editBytes(0).contains('\n'));
}

void TestInputDlg::inputMethodComposition()
{
    QString duringComposition, afterCommit;
    bool inputMethodOn = false;
    modaldriver::whenModal([&](QWidget *) {
        QLineEdit *edit = dialog_->Edit1;
        edit->setFocus(Qt::TabFocusReason);
        inputMethodOn =
            edit->testAttribute(Qt::WA_InputMethodEnabled) && edit->inputMethodQuery(Qt::ImEnabled).toBool();
        QList<QInputMethodEvent::Attribute> attributes{{QInputMethodEvent::Cursor, 2, 1, QVariant()}};
        QInputMethodEvent preedit(QStringLiteral("あい"), attributes);
        QApplication::sendEvent(edit, &preedit);
        duringComposition = edit->text();
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("愛"));
        QApplication::sendEvent(edit, &commit);
        afterCommit = edit->text();
        clickButton(dialog_->Button1);
    });
    QCOMPARE(dialog_->showModal(), ModalResult::Ok);
    QVERIFY(inputMethodOn);
    QCOMPARE(duringComposition, QString()); // the composition is shown, not yet part of the text
    QCOMPARE(afterCommit, QStringLiteral("愛"));
    QCOMPARE(dialog_->editBytes(0), QByteArray("\x88\xA4"));
}

void TestInputDlg::modalHook()
{
    bool visibleInHook = true;
    ModalResult result = ModalResult::None;
    {
        const ScopedHook scripted(&TInputDlg::setModalHook, [&](TInputDlg &dialog) {
            visibleInHook = dialog.isVisible();
            dialog.Edit1->setText(QStringLiteral("scripted"));
            return ModalResult::Ok;
        });
        result = dialog_->showModal();
    }
    QCOMPARE(result, ModalResult::Ok);
    QVERIFY(!visibleInHook);
    QCOMPARE(dialog_->editBytes(0), QByteArray("scripted"));
}

// What a screen reader hears for each control: its role, its name, and the label it reads it from.
void TestInputDlg::accessibleControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QString>("labelledBy");

    QTest::newRow("SpinEdit1") << "SpinEdit1" << int(QAccessible::SpinBox) << QStringLiteral("ぽるてNo.")
                               << "StaticText1";
    QTest::newRow("typing area of SpinEdit1")
        << "SpinText" << int(QAccessible::EditableText) << QStringLiteral("ぽるてNo.") << QString();
    QTest::newRow("up arrow") << "UpButton" << int(QAccessible::Button) << QStringLiteral("増やす")
                              << QString();
    QTest::newRow("down arrow") << "DownButton" << int(QAccessible::Button) << QStringLiteral("減らす")
                                << QString();
    const char *const fields[] = {"ハンドル", "メルアド", "ホーム", "ICQ", "ポスペ", "メモ"};
    for (int i = 0; i < 6; ++i)
        QTest::addRow("Edit%d", i + 1)
            << QStringLiteral("Edit%1").arg(i + 1) << int(QAccessible::EditableText)
            << QString::fromUtf8(fields[i]) << QStringLiteral("StaticText%1").arg(i + 2);
    QTest::newRow("Button1") << "Button1" << int(QAccessible::Button) << QStringLiteral("ＯＫ") << QString();
    QTest::newRow("Button2") << "Button2" << int(QAccessible::Button) << QStringLiteral("キャンセル")
                             << QString();
}

void TestInputDlg::accessibleControls()
{
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QString, accessibleName);
    QFETCH(QString, labelledBy);

    auto *control = dialog_->findChild<QWidget *>(name);
    QVERIFY(control);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(control);
    QVERIFY(iface);
    QCOMPARE(int(iface->role()), role);
    QCOMPARE(iface->text(QAccessible::Name), accessibleName);
    if (!labelledBy.isEmpty()) {
        const auto labels = iface->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object()->objectName(), labelledBy);
    }
}

// The spin box tells the value the dialog would read back, and a value set through it is kept in
// range as a step is.
void TestInputDlg::accessibleNumberValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("in range") << "42" << 42;
    QTest::newRow("typed beyond the range, not yet left") << "150" << 150;
    QTest::newRow("not an integer") << "1.5" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestInputDlg::accessibleNumberValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    dialog_->SpinEdit1->setText(text);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(dialog_->SpinEdit1);
    QVERIFY(iface && iface->valueInterface());
    QCOMPARE(iface->valueInterface()->currentValue().toInt(), value);
    QCOMPARE(iface->text(QAccessible::Value), text);
    QCOMPARE(iface->valueInterface()->minimumValue().toInt(), 0);
    QCOMPARE(iface->valueInterface()->maximumValue().toInt(), 99);

    iface->valueInterface()->setCurrentValue(value + 60);
    QCOMPARE(dialog_->SpinEdit1->text(), QString::number(qMin(value + 60, 99)));
}

QTEST_MAIN(TestInputDlg)
#include "tst_inputdlg.moc"
