#include "app/apptitle.h"
#include "app/errorreport.h"
#include "app/messageform.h"
#include "modaldriver.h"

#include "support/scopedhook.h"

#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <optional>
#include <stdexcept>

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void fullStop_data();
    void fullStop();
    void reportGoesThroughSeam();
    void guarded_data();
    void guarded();
    void realBoxIsStopIconWithOk();
    void releasesMouseCapture();
    void defaultTitle_data();
    void defaultTitle();

private:
    void answerAll();
    QList<MessageRequest> seen_;
    std::optional<ScopedHook<MessageAnswerer>> answering_;
};

void TestErrorReport::cleanup()
{
    answering_.reset();
    setApplicationTitle(QString());
    seen_.clear();
}

void TestErrorReport::answerAll()
{
    answering_.emplace(setMessageAnswerer, [this](const MessageRequest &request) {
        seen_ << request;
        return ModalResult::Ok;
    });
}

void TestErrorReport::fullStop_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("full stop") << "Disk full."
                               << "Disk full.";
    QTest::newRow("closing parenthesis") << "failed (5)"
                                         << "failed (5)";
    QTest::newRow("exclamation mark") << "Oops!"
                                      << "Oops!";
    QTest::newRow("minus, below the full stop") << "x-"
                                                << "x-";
    QTest::newRow("blank") << "text "
                           << "text ";
    QTest::newRow("control character") << "text\t"
                                       << "text\t";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("letter") << "Cannot open"
                            << "Cannot open.";
    QTest::newRow("digit") << "code 42"
                           << "code 42.";
    QTest::newRow("slash, just above") << "a/"
                                       << "a/.";
    QTest::newRow("Japanese") << QStringLiteral("行を挿入できません")
                              << QStringLiteral("行を挿入できません.");
    QTest::newRow("half-width katakana")
        << QStringLiteral("ｽﾄﾘｰﾑへの書き込みｴﾗｰ") << QStringLiteral("ｽﾄﾘｰﾑへの書き込みｴﾗｰ.");
    QTest::newRow("full-width full stop") << QStringLiteral("終わり。") << QStringLiteral("終わり。.");
    QTest::newRow("not in CP932") << QStringLiteral("bad 😀") << QStringLiteral("bad 😀.");
    QTest::newRow("file name inside") << QStringLiteral("ﾌｧｲﾙ /tmp/ソフト/PorAddr1.lst は開けません")
                                      << QStringLiteral("ﾌｧｲﾙ /tmp/ソフト/PorAddr1.lst は開けません.");
}

void TestErrorReport::fullStop()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(errorReportText(text), shown);
}

void TestErrorReport::reportGoesThroughSeam()
{
    answerAll();
    ReportError(QStringLiteral("'abc' は整数ではありません"));
    setApplicationTitle(mainTitle());
    ReportError(QStringLiteral("done."));
    QCOMPARE(seen_.size(), 2);
    QCOMPARE(seen_[0].kind, MessageRequest::Kind::ErrorBox);
    QCOMPARE(seen_[0].title, QStringLiteral("tst_errorreport")); // the default title until start-up sets one
    QCOMPARE(seen_[0].text, QStringLiteral("'abc' は整数ではありません."));
    QCOMPARE(seen_[0].buttons, MsgDlgButtons(MsgDlgBtn::OK));
    QCOMPARE(seen_[1].title, QStringLiteral("ぽるてアドレス帳"));
    QCOMPARE(seen_[1].text, QStringLiteral("done."));
}

void TestErrorReport::guarded_data()
{
    QTest::addColumn<QString>("thrown");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QString>("text");

    QTest::newRow("nothing") << "" << 0 << "";
    QTest::newRow("store error") << "por" << 1 << QStringLiteral("ﾌｧｲﾙ x を作成できません.");
    QTest::newRow("silent abort") << "abort" << 0 << "";
    QTest::newRow("out of memory") << "memory" << 1 << QStringLiteral("行を挿入できません.");
    QTest::newRow("other exception") << "std" << 1 << "broken.";
    QTest::newRow("anything else") << "int" << 1 << "";
}

void TestErrorReport::guarded()
{
    QFETCH(QString, thrown);
    QFETCH(int, reports);
    QFETCH(QString, text);

    answerAll();
    bool before = false, after = false;
    ::guarded([&] {
        before = true;
        if (thrown == QLatin1String("por"))
            throw PorError(QStringLiteral("ﾌｧｲﾙ x を作成できません"));
        if (thrown == QLatin1String("abort"))
            throw EAbort();
        if (thrown == QLatin1String("memory"))
            throw std::bad_alloc();
        if (thrown == QLatin1String("std"))
            throw std::runtime_error("broken");
        if (thrown == QLatin1String("int"))
            throw 5;
        after = true;
    });
    QVERIFY(before);
    QCOMPARE(after, thrown.isEmpty());
    QCOMPARE(seen_.size(), reports);
    if (reports) {
        QCOMPARE(seen_[0].kind, MessageRequest::Kind::ErrorBox);
        QCOMPARE(seen_[0].text, text);
    }
}

void TestErrorReport::realBoxIsStopIconWithOk()
{
    setApplicationTitle(mainTitle());
    QWidget mainWindow;
    mainWindow.show();
    mainWindow.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&mainWindow));

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    QList<QAbstractButton *> buttons;
    Qt::TextFormat format = Qt::AutoText;
    Qt::WindowModality modality = Qt::NonModal;
    modaldriver::whenModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons();
        format = box->textFormat();
        modality = box->windowModality();
        modaldriver::typeKey(Qt::Key_Return);
    });
    ReportError(QStringLiteral("<b>%1</b> に書き込めません").arg(QStringLiteral("/tmp/PorAddr.ini")));

    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(title, QStringLiteral("ぽるてアドレス帳"));
    QCOMPARE(text, QStringLiteral("<b>/tmp/PorAddr.ini</b> に書き込めません."));
    QCOMPARE(format, Qt::PlainText); // a path is shown as written, never as markup
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(modality, Qt::ApplicationModal);
    QTRY_COMPARE(QApplication::activeWindow(), &mainWindow);
}

void TestErrorReport::releasesMouseCapture()
{
    answerAll();
    QWidget widget;
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    widget.grabMouse();
    QCOMPARE(QWidget::mouseGrabber(), &widget);
    ReportError(QStringLiteral("x"));
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
}

void TestErrorReport::defaultTitle_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("program") << "/opt/PorAddr"
                             << "Poraddr";
    QTest::newRow("extension") << "/opt/PorAddr.exe"
                               << "Poraddr";
    QTest::newRow("from the first dot") << "/opt/Por.Addr.bin"
                                        << "Por";
    QTest::newRow("dot in the folder") << "/opt/v1.2/PORADDR"
                                       << "Poraddr";
    QTest::newRow("first character kept") << "/x/porAddr"
                                          << "poraddr";
    QTest::newRow("Japanese folder") << QStringLiteral("/home/u/ソフト/PorAddr") << "Poraddr";
}

void TestErrorReport::defaultTitle()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(::defaultTitle(path), title);
}

QTEST_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
