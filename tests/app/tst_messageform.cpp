#include "app/apptitle.h"
#include "app/messageform.h"
#include "modaldriver.h"
#include "widgets/muldiv.h"

#include "support/scopedhook.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

Q_DECLARE_METATYPE(MsgDlgType)
Q_DECLARE_METATYPE(MsgDlgButtons)

namespace {
const QString deleteQuestion = QStringLiteral("選択したアイテムを、削除してもよろしいですか？");
const QString exportDone = QStringLiteral("ぽるてアドレス帳のフォルダにPorMem.txtを作成しました。"
                                          "このファイルをぽるてソフトのフォルダにコピーしてお使い下さい。");
const QString startFailure = QStringLiteral("プログラムを起動できません");

QStringList captions(const TMessageForm &form)
{
    QStringList list;
    for (QPushButton *button : form.buttons())
        list << button->text();
    return list;
}

int halfScreenWidth()
{
    return QGuiApplication::primaryScreen()->geometry().width() / 2;
}
} // namespace

class TestMessageForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void mulDivRounds_data();
    void mulDivRounds();
    void kinds_data();
    void kinds();
    void keys_data();
    void keys();
    void geometryFollowsFont_data();
    void geometryFollowsFont();
    void longTextWraps_data();
    void longTextWraps();
    void centredOnScreen();
    void answererReplacesWindow();
    void plainTitleIsApplicationTitle();
};

void TestMessageForm::initTestCase()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QApplication::setFont(font, "QMessageBox");
}

void TestMessageForm::mulDivRounds_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("expected");
    QTest::newRow("exact") << 8 << 7 << 4 << 14;
    QTest::newRow("half up") << 10 << 7 << 4 << 18;     // 17.5
    QTest::newRow("above half") << 14 << 13 << 8 << 23; // 22.75
    QTest::newRow("below half") << 10 << 13 << 8 << 16; // 16.25
    QTest::newRow("negative half") << -10 << 7 << 4 << -18;
    QTest::newRow("button height") << 14 << 15 << 8 << 26; // 26.25
}

void TestMessageForm::mulDivRounds()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, expected);
    QCOMPARE(MulDiv(a, b, c), expected);
}

void TestMessageForm::kinds_data()
{
    QTest::addColumn<MsgDlgType>("type");
    QTest::addColumn<MsgDlgButtons>("buttons");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("defaultName");
    QTest::addColumn<QString>("cancelName");
    QTest::addColumn<bool>("hasIcon");

    QTest::newRow("delete confirmation")
        << MsgDlgType::Confirmation << MsgDlgButtons(MsgDlgBtn::Yes | MsgDlgBtn::No) << deleteQuestion
        << QStringLiteral("確認") << QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}
        << "Yes"
        << "No" << true;
    QTest::newRow("export done") << MsgDlgType::Information << MsgDlgButtons(MsgDlgBtn::OK) << exportDone
                                 << QStringLiteral("情報") << QStringList{QStringLiteral("OK")} << "OK"
                                 << "OK" << true;
    QTest::newRow("start-up failure")
        << MsgDlgType::Custom << MsgDlgButtons(MsgDlgBtn::OK) << startFailure
        << QStringLiteral("tst_messageform") << QStringList{QStringLiteral("OK")} << "OK"
        << "OK" << false;
    QTest::newRow("all three, in order")
        << MsgDlgType::Warning << MsgDlgButtons(MsgDlgBtn::OK | MsgDlgBtn::No | MsgDlgBtn::Yes)
        << QStringLiteral("x") << QStringLiteral("警告")
        << QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)"), QStringLiteral("OK")} << "OK"
        << "No" << true;
}

void TestMessageForm::kinds()
{
    QFETCH(MsgDlgType, type);
    QFETCH(MsgDlgButtons, buttons);
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(QStringList, captions);
    QFETCH(QString, defaultName);
    QFETCH(QString, cancelName);
    QFETCH(bool, hasIcon);

    TMessageForm form(text, type, buttons);
    QCOMPARE(form.windowTitle(), title);
    QCOMPARE(form.Message->text().remove(QLatin1Char('\n')), text);
    QCOMPARE(form.Message->objectName(), QStringLiteral("Message"));
    QCOMPARE(::captions(form), captions);
    QCOMPARE(form.defaultButton()->objectName(), defaultName);
    QVERIFY(form.defaultButton()->isDefault());
    QCOMPARE(form.cancelButton()->objectName(), cancelName);
    QCOMPARE(form.Image != nullptr, hasIcon);
    if (hasIcon) {
        QCOMPARE(form.Image->objectName(), QStringLiteral("Image"));
        QCOMPARE(form.Image->size(), QSize(32, 32));
        QVERIFY(!form.Image->pixmap().isNull());
    }
    QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                    Qt::WindowContextHelpButtonHint)));
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(form.minimumSize(), form.maximumSize());
}

void TestMessageForm::keys_data()
{
    QTest::addColumn<MsgDlgButtons>("buttons");
    QTest::addColumn<QString>("action");
    QTest::addColumn<ModalResult>("expected");

    const MsgDlgButtons yesNo = MsgDlgBtn::Yes | MsgDlgBtn::No;
    const MsgDlgButtons ok = MsgDlgBtn::OK;
    QTest::newRow("yes/no: Enter at once answers Yes") << yesNo << "enter" << ModalResult::Yes;
    QTest::newRow("yes/no: Space at once answers Yes") << yesNo << "space" << ModalResult::Yes;
    QTest::newRow("yes/no: Escape answers No") << yesNo << "escape" << ModalResult::No;
    QTest::newRow("yes/no: close box") << yesNo << "close" << ModalResult::Cancel;
    QTest::newRow("yes/no: Enter on No") << yesNo << "tab enter" << ModalResult::No;
    QTest::newRow("yes/no: Space on No") << yesNo << "tab space" << ModalResult::No;
    QTest::newRow("yes/no: click No") << yesNo << "click No" << ModalResult::No;
    QTest::newRow("ok: Enter") << ok << "enter" << ModalResult::Ok;
    QTest::newRow("ok: Space") << ok << "space" << ModalResult::Ok;
    QTest::newRow("ok: Escape") << ok << "escape" << ModalResult::Ok;
    QTest::newRow("ok: close box") << ok << "close" << ModalResult::Cancel;
}

void TestMessageForm::keys()
{
    QFETCH(MsgDlgButtons, buttons);
    QFETCH(QString, action);
    QFETCH(ModalResult, expected);

    QString focusedAtOpening;
    modaldriver::whenModal([&](QWidget *modal) {
        focusedAtOpening =
            QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        if (action == QLatin1String("close")) {
            modal->close();
            return;
        }
        if (action.startsWith(QLatin1String("click "))) {
            QTest::mouseClick(modal->findChild<QPushButton *>(action.mid(6)), Qt::LeftButton);
            return;
        }
        if (action.startsWith(QLatin1String("tab ")))
            modaldriver::typeKey(Qt::Key_Tab);
        if (action.endsWith(QLatin1String("enter")))
            modaldriver::typeKey(Qt::Key_Return);
        else if (action.endsWith(QLatin1String("space")))
            modaldriver::typeKey(Qt::Key_Space);
        else if (action == QLatin1String("escape"))
            modaldriver::typeKey(Qt::Key_Escape);
    });
    const ModalResult result =
        MessageDialog(QStringLiteral("質問です"), MsgDlgType::Confirmation, buttons, 0);
    QCOMPARE(result, expected);
    QCOMPARE(focusedAtOpening,
             buttons.testFlag(MsgDlgBtn::Yes) ? QStringLiteral("Yes") : QStringLiteral("OK"));
    QTRY_VERIFY(!QApplication::activeModalWidget());
}

void TestMessageForm::geometryFollowsFont_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<MsgDlgType>("type");
    QTest::addColumn<MsgDlgButtons>("buttons");

    QTest::newRow("confirmation, two buttons")
        << deleteQuestion << MsgDlgType::Confirmation << MsgDlgButtons(MsgDlgBtn::Yes | MsgDlgBtn::No);
    QTest::newRow("plain, no icon") << startFailure << MsgDlgType::Custom << MsgDlgButtons(MsgDlgBtn::OK);
    QTest::newRow("short text, buttons wider than text")
        << QStringLiteral("了解") << MsgDlgType::Information
        << MsgDlgButtons(MsgDlgBtn::Yes | MsgDlgBtn::No | MsgDlgBtn::OK);
    QTest::newRow("empty text") << QString() << MsgDlgType::Custom << MsgDlgButtons(MsgDlgBtn::OK);
}

void TestMessageForm::geometryFollowsFont()
{
    QFETCH(QString, text);
    QFETCH(MsgDlgType, type);
    QFETCH(MsgDlgButtons, buttons);

    TMessageForm form(text, type, buttons);
    const QFontMetrics fm(QApplication::font("QMessageBox"));
    const int x =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52;
    const int y = fm.height();
    QCOMPARE(form.metrics().charWidth, x);
    QCOMPARE(form.metrics().charHeight, y);

    const int hMargin = MulDiv(8, x, 4), vMargin = MulDiv(8, y, 8);
    const int hSpacing = MulDiv(10, x, 4), vSpacing = MulDiv(10, y, 8);
    const int buttonHeight = MulDiv(14, y, 8), buttonSpacing = MulDiv(4, x, 4);
    const int buttonWidth = MulDiv(50, x, 4); // every caption here is narrower than this
    const int textWidth = text.isEmpty() ? 0 : fm.horizontalAdvance(text);
    const int textHeight = text.isEmpty() ? 0 : y;
    QCOMPARE(form.metrics().textSize, QSize(textWidth, textHeight));

    const bool icon = type != MsgDlgType::Custom;
    const int blockWidth = icon ? textWidth + 32 + hSpacing : textWidth;
    const int blockHeight = icon ? std::max(textHeight, 32) : textHeight;
    const int n = int(form.buttons().size());
    const int groupWidth = n * buttonWidth + (n - 1) * buttonSpacing;
    const int clientWidth = std::max(blockWidth, groupWidth) + 2 * hMargin;
    const int clientHeight = blockHeight + buttonHeight + vSpacing + 2 * vMargin;

    QCOMPARE(form.size(), QSize(clientWidth, clientHeight));
    QCOMPARE(form.Message->geometry(),
             QRect(blockWidth - textWidth + hMargin, vMargin, textWidth, textHeight));
    if (icon)
        QCOMPARE(form.Image->geometry(), QRect(hMargin, vMargin, 32, 32));
    int left = (clientWidth - groupWidth) / 2;
    for (QPushButton *button : form.buttons()) {
        QCOMPARE(button->geometry(),
                 QRect(left, blockHeight + vMargin + vSpacing, buttonWidth, buttonHeight));
        left += buttonWidth + buttonSpacing;
    }
}

void TestMessageForm::longTextWraps_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("blanksKept");

    QTest::newRow("Japanese without blanks") << exportDone.repeated(2) << false;
    QTest::newRow("words") << QStringLiteral("The list file could not be written because the disk is full. ")
                                  .repeated(4)
                                  .trimmed()
                           << true;
    QTest::newRow("one overlong word") << QStringLiteral("x").repeated(400) << false;
}

void TestMessageForm::longTextWraps()
{
    QFETCH(QString, text);
    QFETCH(bool, blanksKept);

    TMessageForm form(text, MsgDlgType::Information, MsgDlgBtn::OK);
    const QStringList lines = form.Message->text().split(QLatin1Char('\n'));
    QVERIFY2(lines.size() > 1, qPrintable(form.Message->text()));
    const QFontMetrics fm(form.font());
    for (const QString &line : lines)
        QVERIFY2(fm.horizontalAdvance(line) <= halfScreenWidth(), qPrintable(line));
    QVERIFY(form.Message->width() <= halfScreenWidth());
    QCOMPARE(form.Message->height(), form.metrics().textSize.height());
    QVERIFY(form.Message->height() >= int(lines.size()) * fm.height());
    // Nothing of the text is lost at the breaks; a break at a blank takes the blank's place.
    QCOMPARE(lines.join(blanksKept ? QStringLiteral(" ") : QString()), text);
}

void TestMessageForm::centredOnScreen()
{
    TMessageForm form(deleteQuestion, MsgDlgType::Confirmation, MsgDlgBtn::Yes | MsgDlgBtn::No);
    form.centreOnScreen();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize outer = form.frameGeometry().size();
    QTRY_COMPARE(form.frameGeometry().topLeft(),
                 QPoint(screen.width() / 2 - outer.width() / 2, screen.height() / 2 - outer.height() / 2));
}

void TestMessageForm::answererReplacesWindow()
{
    QList<MessageRequest> seen;
    bool windowUp = false;
    const ScopedHook answering(setMessageAnswerer, [&](const MessageRequest &request) {
        seen << request;
        windowUp = windowUp || QApplication::activeModalWidget();
        return ModalResult::No;
    });
    QCOMPARE(MessageDialog(deleteQuestion, MsgDlgType::Confirmation, MsgDlgBtn::Yes | MsgDlgBtn::No, 0),
             ModalResult::No);
    PlainMessage(startFailure);
    QCOMPARE(seen.size(), 2);
    QVERIFY(!windowUp);
    QCOMPARE(seen[0].kind, MessageRequest::Kind::Dialog);
    QCOMPARE(seen[0].title, QStringLiteral("確認"));
    QCOMPARE(seen[0].text, deleteQuestion);
    QCOMPARE(seen[0].buttons, MsgDlgButtons(MsgDlgBtn::Yes | MsgDlgBtn::No));
    QCOMPARE(seen[1].type, MsgDlgType::Custom);
    QCOMPARE(seen[1].buttons, MsgDlgButtons(MsgDlgBtn::OK));
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<TMessageForm *>(window));
}

void TestMessageForm::plainTitleIsApplicationTitle()
{
    QStringList titles;
    const ScopedHook answering(setMessageAnswerer, [&](const MessageRequest &request) {
        titles << request.title;
        return ModalResult::Ok;
    });
    PlainMessage(startFailure); // before start-up sets the title: the default one
    setApplicationTitle(mainTitle());
    PlainMessage(startFailure);
    setApplicationTitle(QString());
    QCOMPARE(titles, (QStringList{QStringLiteral("tst_messageform"), QStringLiteral("ぽるてアドレス帳")}));
}

QTEST_MAIN(TestMessageForm)
#include "tst_messageform.moc"
