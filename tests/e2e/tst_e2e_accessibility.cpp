// The real program as a screen reader reaches it: over the AT-SPI bus of a private D-Bus session
// (the suite runs under dbus-run-session), the main window with both tabs and the entry dialog
// with its named fields, read by tests/e2e/atspi_tree.py through pyatspi.

#include "x11session.h"

using namespace e2e;

namespace {
struct Node {
    QString window, role, name;
    bool operator==(const Node &other) const
    {
        return window == other.window && role == other.role && name == other.name;
    }
};
} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QFAIL("no D-Bus session: run the suite under dbus-run-session");
        // Qt speaks to the accessibility bus only when asked to or when a screen reader runs.
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);

        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());
        QVERIFY(program.menu(1, QStringLiteral("n"))); // 編集 > 新規追加
        const QString dialog = program.waitForOtherWindow(exactly(inputTitle()));
        QVERIFY2(!dialog.isEmpty(), "新規追加 showed no entry dialog");

        const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3"))
                                   ? QStringLiteral("/usr/bin/python3")
                                   : "python3";
        const RunResult walked =
            run(python,
                {qEnvironmentVariable("PORADDR_E2E_DIR") + QStringLiteral("/atspi_tree.py"),
                 QString::number(program.pid()), mainTitle(), inputTitle()},
                session_->environment(), 60000);
        QVERIFY2(walked.finished && walked.exitCode == 0, walked.err.constData());
        for (const QByteArray &line : walked.out.split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
            if (fields.size() == 3)
                tree_.append({fields[0], fields[1], fields[2]});
        }

        // The close box answers Cancel; then the main window closes as usual.
        QVERIFY(run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), dialog},
                    session_->environment())
                    .exitCode == 0);
        QVERIFY(session_->waitForNoWindow(exactly(inputTitle()), program.pid()));
        QVERIFY(program.closeAndWait());
    }
    void cleanupTestCase() { session_.reset(); }

    void treeHolds_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("name");

        const QString main = mainTitle(), input = inputTitle();
        QTest::newRow("main window") << main << "frame" << main;
        QTest::newRow("first tab") << main << "page tab" << QString::fromUtf8("ぽるておともだち");
        QTest::newRow("second tab") << main << "page tab" << QString::fromUtf8("おともだち");
        QTest::newRow("list 1") << main << "tree" << QString::fromUtf8("ぽるておともだち");
        QTest::newRow("tool button 新規追加") << main << "push button" << QString::fromUtf8("新規追加");
        QTest::newRow("entry dialog") << input << "dialog" << input;
        QTest::newRow("number field") << input << "spin button" << QString::fromUtf8("ぽるてNo.");
        for (const char *field : {"ハンドル", "メルアド", "ホーム", "ICQ", "ポスペ", "メモ"})
            QTest::newRow(field) << input << "text" << QString::fromUtf8(field);
        QTest::newRow("OK") << input << "push button" << QString::fromUtf8("ＯＫ");
        QTest::newRow("Cancel") << input << "push button" << QString::fromUtf8("キャンセル");
    }
    void treeHolds()
    {
        QFETCH(QString, window);
        QFETCH(QString, role);
        QFETCH(QString, name);
        QVERIFY2(tree_.contains(Node{window, role, name}),
                 qPrintable(QStringLiteral("no %1 named %2 in %3; the tree holds %4 objects")
                                .arg(role, name, window)
                                .arg(tree_.size())));
    }

private:
    std::unique_ptr<X11Session> session_;
    QList<Node> tree_;
};

QTEST_GUILESS_MAIN(TestAccessibility)
#include "tst_e2e_accessibility.moc"
