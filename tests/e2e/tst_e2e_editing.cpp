// Editing through the real windows with the keyboard only: adding through the entry dialog,
// deleting after the confirmation, moving entries; each checked in the list files the close writes.

#include "x11session.h"

using namespace e2e;

namespace {

QByteArray entry1(const QByteArray &number, const QByteArray &handle, const QByteArray &mail = QByteArray(),
                  const QByteArray &home = QByteArray(), const QByteArray &icq = QByteArray(),
                  const QByteArray &postPet = QByteArray(), const QByteArray &memo = QByteArray())
{
    return listFile({number, handle, mail, home, icq, postPet, memo});
}

QByteArray entry2(const QByteArray &handle, const QByteArray &mail = QByteArray())
{
    return listFile({handle, mail, "", "", "", ""});
}

// Steps of a keyboard script: "=text" is typed as it stands, anything else is a blank-separated
// list of key names for xdotool.
bool play(const X11Session &session, const QStringList &steps)
{
    for (const QString &step : steps) {
        const bool ok = step.startsWith(QLatin1Char('='))
                            ? session.type(step.mid(1))
                            : session.key(step.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        if (!ok)
            return false;
    }
    return true;
}

constexpr int editMenu = 1;

} // namespace

class TestEditing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);
    }
    void cleanupTestCase() { session_.reset(); }

    void newEntryInList1_isSavedAsTyped_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("dialogKeys");
        QTest::addColumn<QByteArray>("expected");

        // The dialog opens with the focus in the number field; six Tabs from the handle reach OK.
        QTest::newRow("number 1 as offered, handle A")
            << QByteArray() << QStringList{"Tab", "=A", "Tab Tab Tab Tab Tab Tab", "Return"}
            << entry1("1", "A");

        // Up steps the number; Enter in an edit and Escape must leave the dialog open; Japanese
        // text, half-width katakana included, reaches the file as CP932.
        QTest::newRow("every field, after an existing entry")
            << entry1("42", "old")
            << QStringList{"Up Up",
                           "Tab",
                           QString::fromUtf8("=ぽるて"),
                           "Return Escape",
                           "Tab",
                           "=a@example.jp",
                           "Tab",
                           "=http://www.example.jp/",
                           "Tab",
                           "=12345678",
                           "Tab",
                           "=pp@example.jp",
                           "Tab",
                           QString::fromUtf8("=ﾒﾓ 1"),
                           "Tab Return"}
            << entry1("42", "old") + entry1("3", "\x82\xdb\x82\xe9\x82\xc4", "a@example.jp",
                                            "http://www.example.jp/", "12345678", "pp@example.jp",
                                            "\xd2\xd3 1");

        // A number typed beyond the range is held to 99 when the focus leaves the field.
        QTest::newRow("number 150 typed")
            << QByteArray()
            << QStringList{"End BackSpace", "=150", "Tab", "=B", "Tab Tab Tab Tab Tab Tab", "Return"}
            << entry1("99", "B");
    }

    void newEntryInList1_isSavedAsTyped()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, dialogKeys);
        QFETCH(QByteArray, expected);
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        if (!stored.isEmpty())
            QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), stored));

        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());
        QVERIFY(program.menu(editMenu, QStringLiteral("n")));
        const QString dialog = program.waitForOtherWindow(exactly(inputTitle()));
        QVERIFY2(!dialog.isEmpty(), "新規追加 did not open the entry dialog");
        QVERIFY(session_->waitForActive(dialog));
        QVERIFY(play(*session_, dialogKeys));
        QVERIFY2(session_->waitForNoWindow(exactly(inputTitle()), program.pid()),
                 "the dialog did not close on OK");

        QVERIFY(program.closeAndWait());
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), expected);
        QVERIFY2(!folder.exists(QStringLiteral("PorAddr2.lst")), "an empty list 2 left a file");
    }

    // Escape answers No and deletes nothing; Enter answers Yes, the focused first button.
    void deleteInList2_asksFirst()
    {
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        const QByteArray list1 = entry1("1", "stays");
        QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), list1));
        QVERIFY(folder.write(QStringLiteral("PorAddr2.lst"),
                             entry2("P") + entry2("Q", "q@example.jp") + entry2("R")));

        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());
        QVERIFY(session_->activate(program.mainWindow()));
        // The keyboard starts in list 1 and goes with the page to list 2; onto its second row.
        QVERIFY(session_->key({QStringLiteral("ctrl+Tab")}));
        QVERIFY(program.selectRow(1));

        QVERIFY(program.menu(editMenu, QStringLiteral("d")));
        QString box = program.waitForOtherWindow(exactly(confirmTitle()));
        QVERIFY2(!box.isEmpty(), "削除 asked nothing");
        QVERIFY(session_->waitForActive(box));
        QVERIFY(session_->key({QStringLiteral("Escape")}));
        QVERIFY2(session_->waitForNoWindow(exactly(confirmTitle()), program.pid()),
                 "Escape left the confirmation open");

        QVERIFY(program.menu(editMenu, QStringLiteral("d")));
        box = program.waitForOtherWindow(exactly(confirmTitle()));
        QVERIFY2(!box.isEmpty(), "the second 削除 asked nothing: the selection was lost after No");
        QVERIFY(session_->waitForActive(box));
        QVERIFY(session_->key({QStringLiteral("Return")}));
        QVERIFY2(session_->waitForNoWindow(exactly(confirmTitle()), program.pid()),
                 "Enter left the confirmation open");

        QVERIFY(program.closeAndWait());
        QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), entry2("P") + entry2("R"));
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), list1);
    }

    // Down on the last row changes nothing; Down on another row swaps whole entries, numbers
    // included, and the selection follows the moved entry down to the end.
    void moveDownInList1_carriesNumbers()
    {
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), entry1("10", "A", "a@example.jp") +
                                                                 entry1("20", "B") +
                                                                 entry1("30", "C", "", "", "", "", "c")));

        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());
        QVERIFY(session_->activate(program.mainWindow()));
        QVERIFY(session_->key({QStringLiteral("Home"), QStringLiteral("End")}));
        QVERIFY(program.menu(editMenu, QStringLiteral("l"))); // the last entry: nothing to do
        QVERIFY(session_->key({QStringLiteral("Home")}));
        QVERIFY(program.menu(editMenu, QStringLiteral("l")));
        QVERIFY(program.menu(editMenu, QStringLiteral("l")));
        QVERIFY(program.menu(editMenu, QStringLiteral("l"))); // now last again: nothing

        QVERIFY(program.closeAndWait());
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), entry1("20", "B") +
                                                                  entry1("30", "C", "", "", "", "", "c") +
                                                                  entry1("10", "A", "a@example.jp"));
    }

private:
    std::unique_ptr<X11Session> session_;
};

QTEST_GUILESS_MAIN(TestEditing)
#include "tst_e2e_editing.moc"
