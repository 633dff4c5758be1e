// The About box from the Help menu in the real program, and pictures of the main window on both
// tabs and of the About box for a person to look at (in $E2E_SHOTS_DIR, by default /tmp/e2e-shots).

#include "x11session.h"

using namespace e2e;

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);
    }
    void cleanupTestCase() { session_.reset(); }

    // Escape does nothing (the box has no cancel button); Enter presses OK, its only button.
    void aboutBox_escapeKeepsItEnterClosesIt()
    {
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        // Shift-JIS text as a user's files hold it, so that the pictures show real rows on both tabs.
        QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), listFile({"1",
                                                                       "\x82\xdb\x82\xe9\x82\xc4",
                                                                       "porte@example.jp",
                                                                       "http://www.example.jp/porte/",
                                                                       "1234567",
                                                                       "porte@postpet.example.jp",
                                                                       "\x83\x81\x83\x82",
                                                                       "12",
                                                                       "Taro",
                                                                       "taro@example.jp",
                                                                       "",
                                                                       "",
                                                                       "",
                                                                       "",
                                                                       "99",
                                                                       "\xb6\xc0\xb6\xc5",
                                                                       "",
                                                                       "www.example.jp",
                                                                       "",
                                                                       "",
                                                                       "half-width kana"})));
        QVERIFY(folder.write(
            QStringLiteral("PorAddr2.lst"),
            listFile({"\x82\xa8\x82\xc6\x82\xe0\x82\xbe\x82\xbf", "friend@example.jp", "", "", "", "",
                      "Hanako", "", "http://hanako.example.jp/", "7654321", "", "memo"})));

        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());
        QVERIFY(session_->activate(program.mainWindow()));
        QVERIFY(session_->screenshot(shotsDir() + QStringLiteral("/main-tab1.png")));
        QVERIFY(session_->key({QStringLiteral("ctrl+Tab")}));
        QVERIFY(session_->screenshot(shotsDir() + QStringLiteral("/main-tab2.png")));

        QVERIFY(program.menu(3, QStringLiteral("a")));
        const QString about = program.waitForOtherWindow(exactly(aboutTitle()));
        QVERIFY2(!about.isEmpty(), "バージョン情報 showed no About box");
        QVERIFY(session_->waitForActive(about));
        QVERIFY(session_->screenshot(shotsDir() + QStringLiteral("/about.png")));

        QVERIFY(session_->key({QStringLiteral("Escape")}));
        // Nothing to wait for when nothing is meant to happen: give a wrong close ample time to show.
        QVERIFY2(!session_->waitForNoWindow(exactly(aboutTitle()), program.pid(), 1000),
                 "Escape closed the About box");
        QVERIFY(session_->key({QStringLiteral("Return")}));
        QVERIFY2(session_->waitForNoWindow(exactly(aboutTitle()), program.pid()),
                 "Enter did not close the About box");

        // The box is built afresh for every opening.
        QVERIFY(program.menu(3, QStringLiteral("a")));
        const QString again = program.waitForOtherWindow(exactly(aboutTitle()));
        QVERIFY2(!again.isEmpty(), "the second バージョン情報 showed no About box");
        QVERIFY(session_->waitForActive(again));
        QVERIFY(session_->key({QStringLiteral("Return")}));
        QVERIFY(session_->waitForNoWindow(exactly(aboutTitle()), program.pid()));

        QVERIFY(program.closeAndWait());
    }

private:
    std::unique_ptr<X11Session> session_;
};

QTEST_GUILESS_MAIN(TestAbout)
#include "tst_e2e_about.moc"
