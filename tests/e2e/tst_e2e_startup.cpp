// The real program under a window manager: one copy per user that no other user can block,
// recovery after a killed copy, the settings file after repeated runs, and a close that cannot save.

#include "waylandsession.h"
#include "x11session.h"

#include <QLocalServer>
#include <QLockFile>

#include <algorithm>
#include <vector>

using namespace e2e;

namespace {

QByteArray entry1(const QByteArray &number, const QByteArray &handle)
{
    return listFile({number, handle, "", "", "", "", ""});
}

QByteArray entry2(const QByteArray &handle)
{
    return listFile({handle, "", "", "", "", ""});
}

// "Key=value" of one section of the settings file, in file order.
QStringList sectionOf(const QByteArray &ini, const QByteArray &section)
{
    QStringList lines;
    bool inside = false;
    for (QByteArray line : ini.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('['))
            inside = line == '[' + section + ']';
        else if (inside && !line.isEmpty())
            lines << QString::fromLatin1(line);
    }
    return lines;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);
    }
    void cleanupTestCase() { session_.reset(); }

    // Any program file name works, however long: the lock and socket names do not grow with it.
    void secondStart_endsAndBringsTheRunningCopyForward_data()
    {
        QTest::addColumn<QString>("exeName");
        QTest::newRow("PorAddr") << "PorAddr";
        QTest::newRow("60-character Japanese name")
            << QString::fromUtf8("ぽるてアドレス帳").repeated(8).left(60);
    }
    void secondStart_endsAndBringsTheRunningCopyForward()
    {
        QFETCH(QString, exeName);
        ProgramFolder folder(RunAs::Self, exeName);
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        // A copy under another file name has its own marker: it runs beside the first.
        ProgramFolder other(RunAs::Self, QStringLiteral("PorAddrCopy"));
        QVERIFY2(other.isValid(), qPrintable(other.error()));

        PorAddrProcess first(*session_, folder);
        QVERIFY(first.start());
        QVERIFY2(!first.waitForMainWindow().isEmpty(), "the first copy shows no main window");

        PorAddrProcess beside(*session_, other);
        beside.setRuntimeDir(folder.runtimeDir());
        QVERIFY(beside.start());
        QVERIFY2(!beside.waitForMainWindow().isEmpty(), "a copy under another file name did not start");
        QVERIFY2(session_->activate(beside.mainWindow()), "the second program's window never got the focus");

        PorAddrProcess second(*session_, folder);
        QVERIFY(second.start());
        QCOMPARE(second.waitForExit(15000), 0);

        QCOMPARE(session_->windows(exactly(mainTitle())).size(), 2);
        QVERIFY(first.running());
        QVERIFY2(session_->waitForActive(first.mainWindow(), 5000),
                 "the running copy's window was not brought to the front");

        QVERIFY(beside.closeAndWait());
        QVERIFY(first.closeAndWait());
    }

    // Another local user plants a lock naming a running process, and a socket, under the names an
    // earlier version used in the shared temporary folder, and makes the user's own runtime
    // folder unusable. The user's start must still open its window and send that socket nothing.
    // The shared folder here is a private stand-in for /tmp (sticky, open to all, TMPDIR).
    void lockPlantedByAnotherUser_doesNotBlockTheStart_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::newRow("no runtime folder") << "unset";
        QTest::newRow("runtime folder of another user") << "shared";
    }
    void lockPlantedByAnotherUser_doesNotBlockTheStart()
    {
        QFETCH(QString, runtime);
        if (geteuid() != 0)
            QSKIP("needs root to plant files as one user and start the program as another");
        QTemporaryDir shared(QStringLiteral("/tmp/poraddr-e2e-shared-XXXXXX"));
        QVERIFY(shared.isValid());
        QCOMPARE(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
        // The toolkit's own fallback runtime folder for nobody, taken first by the other user.
        QVERIFY(QDir(shared.path()).mkdir(QStringLiteral("runtime-nobody")));
        const QString oldName = shared.filePath(QStringLiteral("poraddr-%1").arg(uidNobody));
        QLockFile plantedLock(oldName + QStringLiteral(".lock"));
        QVERIFY(plantedLock.tryLock(0));
        QLocalServer plantedSocket;
        plantedSocket.setSocketOptions(QLocalServer::WorldAccessOption);
        QVERIFY(plantedSocket.listen(oldName + QStringLiteral(".socket")));

        ProgramFolder folder(RunAs::Unprivileged);
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        PorAddrProcess program(*session_, folder);
        program.setEnvironment(QStringLiteral("TMPDIR"), shared.path());
        program.setEnvironment(QStringLiteral("XDG_RUNTIME_DIR"),
                               runtime == QLatin1String("unset") ? QString() : shared.path());
        QVERIFY(program.start());
        QVERIFY2(!program.waitForMainWindow().isEmpty(), "a lock planted by another user blocked the start");
        QVERIFY2(!plantedSocket.waitForNewConnection(0), "the start talked to another user's socket");
        QVERIFY(program.closeAndWait());
        QVERIFY(QFileInfo::exists(oldName + QStringLiteral(".lock")));
    }

    // Twelve starts at the same moment, twenty times: exactly one window each time, and none of
    // the others shows "プログラムを起動できません" (a box with the program's default title).
    void simultaneousStarts_openExactlyOneWindow()
    {
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        const QString errorBox = exactly(QStringLiteral("Poraddr"));
        for (int round = 0; round < 20; ++round) {
            std::vector<std::unique_ptr<PorAddrProcess>> starts;
            for (int i = 0; i < 12; ++i)
                starts.push_back(std::make_unique<PorAddrProcess>(*session_, folder));
            for (auto &start : starts)
                QVERIFY(start->start());
            auto runningCount = [&] {
                QCoreApplication::processEvents(); // lets the processes report their ends
                return std::count_if(starts.begin(), starts.end(), [](auto &p) { return p->running(); });
            };
            bool errorShown = false;
            waitFor(
                [&] {
                    errorShown = !session_->windows(errorBox).isEmpty();
                    return errorShown || runningCount() <= 1;
                },
                30000, 100);
            QVERIFY2(!errorShown,
                     qPrintable(QStringLiteral("round %1: an error box beside the window").arg(round)));
            QCOMPARE(runningCount(), 1);
            PorAddrProcess *winner = nullptr;
            for (auto &start : starts) {
                if (start->running())
                    winner = start.get();
                else
                    QCOMPARE(start->waitForExit(0), 0);
            }
            QVERIFY(!winner->waitForMainWindow().isEmpty());
            QCOMPARE(session_->windows(exactly(mainTitle())).size(), 1);
            QVERIFY(winner->closeAndWait());
        }
    }

    void killedCopy_doesNotBlockTheNextStart()
    {
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), entry1("5", "kept")));

        PorAddrProcess killed(*session_, folder);
        QVERIFY(killed.start());
        QVERIFY(!killed.waitForMainWindow().isEmpty());
        killed.killHard();
        QVERIFY(session_->waitForNoWindow(exactly(mainTitle())));

        PorAddrProcess next(*session_, folder);
        QVERIFY(next.start());
        QVERIFY2(!next.waitForMainWindow().isEmpty(),
                 "no window after a killed copy: its lock blocked the start");
        QVERIFY(next.closeAndWait());
        // The killed copy wrote nothing, and the next one read and saved the list unharmed.
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), entry1("5", "kept"));
    }

    // The vCard import must not write lists that a running copy will write over at its close,
    // however that copy was named or started; a copy running from another folder does not count.
    void vcardImport_refusedWhileACopyRunsFromTheFolder_data()
    {
        QTest::addColumn<QString>("exeName");
        QTest::addColumn<bool>("throughLink");
        QTest::addColumn<bool>("fromAnotherFolder");
        QTest::newRow("its usual name") << "PorAddr" << false << false;
        QTest::newRow("another name") << "MyBook" << false << false;
        QTest::newRow("through a link") << "MyBook" << true << false;
        QTest::newRow("the same name in another folder") << "PorAddr" << false << true;
    }
    void vcardImport_refusedWhileACopyRunsFromTheFolder()
    {
        QFETCH(QString, exeName);
        QFETCH(bool, throughLink);
        QFETCH(bool, fromAnotherFolder);
        ProgramFolder folder(RunAs::Self, exeName), other(RunAs::Self, exeName);
        QVERIFY2(folder.isValid() && other.isValid(), qPrintable(folder.error() + other.error()));
        const QByteArray old = entry2("old");
        QVERIFY(folder.write(QStringLiteral("PorAddr2.lst"), old));
        QVERIFY(folder.write(QStringLiteral("in.vcf"), "BEGIN:VCARD\r\nFN:new\r\nEND:VCARD\r\n"));

        PorAddrProcess copy(*session_, fromAnotherFolder ? other : folder);
        if (throughLink) {
            const QString link = folder.homeDir() + QStringLiteral("/poraddr");
            QVERIFY(QFile::link(folder.exe(), link));
            copy.setStartedAs(link);
        }
        QVERIFY(copy.start());
        QVERIFY(!copy.waitForMainWindow().isEmpty());
        const qint64 copyPid = copy.pid();

        const RunResult import =
            run(qEnvironmentVariable("PORADDR_BINARY_DIR") + QStringLiteral("/poraddr-vcard"),
                {QStringLiteral("import"), folder.file(QStringLiteral("in.vcf")), folder.path()},
                session_->environment());
        QVERIFY(import.finished);
        QVERIFY(copy.closeAndWait());
        if (fromAnotherFolder) {
            QCOMPARE(import.exitCode, 0);
            QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), old + entry2("new"));
        } else {
            QVERIFY2(import.exitCode == 5, import.err.constData());
            QVERIFY2(import.err.contains("(process " + QByteArray::number(copyPid) + ")"),
                     import.err.constData());
            // What the copy wrote at its close is what it had: the lists as they were.
            QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), old);
        }
    }

    void startAndClose_keepsTheSettings_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("expectedColumns");

        QTest::newRow("first start, no settings file")
            << QByteArray()
            << QStringList{"Col1=50", "Col2=60", "Col3=60", "Col4=60", "Col5=50", "Col6=50", "Col7=50"};
        QTest::newRow("stored position, size and column widths")
            << QByteArray(
                   "[Position]\r\nTop=100\r\nLeft=150\r\nWidth=520\r\nHeight=300\r\n"
                   "[List1]\r\nCol1=40\r\nCol2=120\r\nCol3=90\r\nCol4=60\r\nCol5=50\r\nCol6=50\r\nCol7=0\r\n")
            << QStringList{"Col1=40", "Col2=120", "Col3=90", "Col4=60", "Col5=50", "Col6=50", "Col7=0"};
        // The coordinate not stored stays where the window manager puts a new window.
        QTest::newRow("stored Top without Left")
            << QByteArray("[Position]\r\nTop=100\r\n")
            << QStringList{"Col1=50", "Col2=60", "Col3=60", "Col4=60", "Col5=50", "Col6=50", "Col7=50"};
        QTest::newRow("stored Left without Top")
            << QByteArray("[Position]\r\nLeft=150\r\n")
            << QStringList{"Col1=50", "Col2=60", "Col3=60", "Col4=60", "Col5=50", "Col6=50", "Col7=50"};
    }

    // Starting and closing without touching the window writes back what was read: the window must
    // not creep or grow by its frame from run to run.
    void startAndClose_keepsTheSettings()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, expectedColumns);
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        if (!stored.isEmpty())
            QVERIFY(folder.write(QStringLiteral("PorAddr.ini"), stored));

        QList<QByteArray> written;
        for (int run = 0; run < 3; ++run) {
            PorAddrProcess program(*session_, folder);
            QVERIFY(program.start());
            QVERIFY(!program.waitForMainWindow().isEmpty());
            QVERIFY(program.closeAndWait());
            QVERIFY2(folder.exists(QStringLiteral("PorAddr.ini")), "the close wrote no settings file");
            written << folder.read(QStringLiteral("PorAddr.ini"));
            QVERIFY2(!written.last().isEmpty(), "the close wrote no settings file");
        }

        const QStringList position = sectionOf(written[0], "Position");
        if (stored.isEmpty()) {
            QCOMPARE(position.filter(QRegularExpression("^(Width|Height)=")),
                     (QStringList{"Width=480", "Height=258"}));
        } else if (!stored.contains("Width")) {
            // Where the window manager places the window when nothing is stored, seen in a folder of its own.
            ProgramFolder plain;
            PorAddrProcess program(*session_, plain);
            QVERIFY(program.start());
            QVERIFY(!program.waitForMainWindow().isEmpty());
            QVERIFY(program.closeAndWait());
            QStringList placed = sectionOf(plain.read(QStringLiteral("PorAddr.ini")), "Position");
            QVERIFY2(!placed.contains(QStringLiteral("Left=0")) && !placed.contains(QStringLiteral("Top=0")),
                     "the window manager's own placement cannot be told from none");
            const QString given = QString::fromLatin1(stored.mid(stored.indexOf(']') + 3).trimmed());
            placed.replaceInStrings(QRegularExpression(QLatin1Char('^') + given.section('=', 0, 0) + "=.*"),
                                    given);
            QCOMPARE(QSet<QString>(position.begin(), position.end()),
                     QSet<QString>(placed.begin(), placed.end()));
        } else {
            QCOMPARE(position, (QStringList{"Top=100", "Left=150", "Width=520", "Height=300"}));
        }
        QCOMPARE(sectionOf(written[0], "List1"), expectedColumns);
        for (int run = 1; run < 3; ++run) {
            QVERIFY2(sectionOf(written[run], "Position") == position,
                     qPrintable(QStringLiteral("run %1 wrote %2, run 1 wrote %3")
                                    .arg(run + 1)
                                    .arg(sectionOf(written[run], "Position").join(' '), position.join(' '))));
            QCOMPARE(written[run], written[0]);
        }
    }

    // As an unprivileged user (root writes anywhere): a close into a read-only folder reports the
    // list file that cannot be created and keeps the window; once the folder is writable again the
    // next close saves everything.
    // The settings hold the outer bounds the window last had on screen: the maximised ones when it
    // is closed maximised (it then opens as a normal window of that size), the ones from before
    // minimising when it is closed from the taskbar while minimised.
    void windowStateAtClose_writesItsBounds_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("maximised") << "maximised"
                                   << QStringList{"Top=0", "Left=0", "Width=1280", "Height=1024"};
        QTest::newRow("minimised") << "minimised"
                                   << QStringList{"Top=100", "Left=150", "Width=520", "Height=300"};
    }
    void windowStateAtClose_writesItsBounds()
    {
        QFETCH(QString, state);
        QFETCH(QStringList, expected);
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        QVERIFY(folder.write(QStringLiteral("PorAddr.ini"),
                             "[Position]\r\nTop=100\r\nLeft=150\r\nWidth=520\r\nHeight=300\r\n"));
        const QProcessEnvironment env = session_->environment();
        auto wmctrl = [&](const QStringList &args) {
            return run(QStringLiteral("wmctrl"), args, env).exitCode == 0;
        };
        auto netState = [&](const QString &window) {
            return run(QStringLiteral("xprop"),
                       {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE")}, env)
                .out;
        };

        {
            PorAddrProcess program(*session_, folder);
            QVERIFY(program.start());
            const QString window = program.waitForMainWindow();
            QVERIFY(!window.isEmpty());
            if (state == QLatin1String("maximised")) {
                QVERIFY(wmctrl({QStringLiteral("-i"), QStringLiteral("-r"), window, QStringLiteral("-b"),
                                QStringLiteral("add,maximized_vert,maximized_horz")}));
                QVERIFY(waitFor([&] { return netState(window).contains("_NET_WM_STATE_MAXIMIZED_HORZ"); },
                                10000));
                QVERIFY(waitFor([&] { return session_->geometry(window).contains(QLatin1String("1280x")); },
                                10000));
                // Maximised, the window manager drops the side borders; the program hears of the new
                // frame through the window's frame-extents property, so wait for that as a user would.
                QVERIFY(waitFor(
                    [&] {
                        return run(QStringLiteral("xprop"),
                                   {QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS")}, env)
                            .out.contains("= 0, 0,");
                    },
                    10000));
            } else {
                QVERIFY(session_->xdotool({QStringLiteral("windowminimize"), window}).exitCode == 0);
                QVERIFY(waitFor([&] { return netState(window).contains("_NET_WM_STATE_HIDDEN"); }, 10000));
            }
            // The window manager's close request, as from the taskbar: it reaches a minimised window
            // without bringing it back first.
            QVERIFY(wmctrl({QStringLiteral("-i"), QStringLiteral("-c"), window}));
            QCOMPARE(program.waitForExit(), 0);
        }
        const QByteArray first = folder.read(QStringLiteral("PorAddr.ini"));
        QCOMPARE(sectionOf(first, "Position"), expected);

        // The next start opens a normal window with those bounds and writes them back unchanged.
        PorAddrProcess again(*session_, folder);
        QVERIFY(again.start());
        const QString window = again.waitForMainWindow();
        QVERIFY(!window.isEmpty());
        QVERIFY(!netState(window).contains("MAXIMIZED"));
        QVERIFY(wmctrl({QStringLiteral("-i"), QStringLiteral("-c"), window}));
        QCOMPARE(again.waitForExit(), 0);
        QCOMPARE(sectionOf(folder.read(QStringLiteral("PorAddr.ini")), "Position"), expected);
    }

    // A terminate signal (a closed terminal, kill, a shutdown, a logoff without a session manager)
    // is a close request: the lists are saved and the program ends with 0. A list file with LF alone
    // tells, since every save writes CR LF.
    void terminateSignal_savesAndEnds_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("wayland");
        QTest::addColumn<QByteArray>("position"); // stored before, and expected after
        QTest::newRow("SIGTERM") << int(SIGTERM) << false << QByteArray();
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << QByteArray();
        // Wayland tells no window positions: the close writes back those read, and makes none up.
        QTest::newRow("SIGTERM on Wayland") << int(SIGTERM) << true << QByteArray();
        QTest::newRow("SIGTERM on Wayland, stored position")
            << int(SIGTERM) << true << QByteArray("Top=100\r\nLeft=150\r\n");
    }
    void terminateSignal_savesAndEnds()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, wayland);
        QFETCH(QByteArray, position);
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        if (!position.isEmpty())
            QVERIFY(folder.write(QStringLiteral("PorAddr.ini"), "[Position]\r\n" + position));
        const QByteArray list2 = listFile({"friend", "mail", "", "", "", "memo"});
        QByteArray lfOnly = list2;
        lfOnly.replace("\r\n", "\n");
        QVERIFY(folder.write(QStringLiteral("PorAddr2.lst"), lfOnly));

        if (wayland) {
            WaylandSession compositor;
            QVERIFY2(compositor.isReady(), qPrintable(compositor.error()));
            QProcess program;
            program.setProcessEnvironment(
                compositor.clientEnvironment(folder.runtimeDir(), folder.homeDir()));
            program.setStandardOutputFile(QProcess::nullDevice());
            program.start(folder.exe(), {});
            QVERIFY(program.waitForStarted(10000));
            QVERIFY2(waitFor([&] { return catchesSignal(program.processId(), signalNumber); }, 15000),
                     "the program never took the signal over");
            QTest::qWait(500); // let the window come up on the compositor
            QVERIFY(program.state() == QProcess::Running);
            ::kill(pid_t(program.processId()), signalNumber);
            QVERIFY(program.waitForFinished(20000));
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
        } else {
            PorAddrProcess program(*session_, folder);
            QVERIFY(program.start());
            QVERIFY(!program.waitForMainWindow().isEmpty());
            ::kill(pid_t(program.pid()), signalNumber);
            QCOMPARE(program.waitForExit(), 0);
        }
        QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), list2);
        const QStringList written = sectionOf(folder.read(QStringLiteral("PorAddr.ini")), "Position");
        QVERIFY2(written.contains(QStringLiteral("Width=480")), qPrintable(written.join(' ')));
        if (wayland) {
            QStringList expected =
                QString::fromLatin1(position).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            QCOMPARE(written.filter(QRegularExpression("^(Top|Left)=")), expected);
        }
    }

    void readOnlyFolderAtClose_reportsAndKeepsTheWindow_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("close box") << false;
        QTest::newRow("SIGTERM") << true;
    }
    void readOnlyFolderAtClose_reportsAndKeepsTheWindow()
    {
        QFETCH(bool, bySignal);
        if (geteuid() != 0)
            QSKIP("needs root to run the program as another user and to change the folder back");
        ProgramFolder folder(RunAs::Unprivileged);
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        const QByteArray list1 = entry1("7", "nana");
        const QByteArray list2 = listFile({"friend", "", "", "", "", ""});
        QVERIFY(folder.write(QStringLiteral("PorAddr1.lst"), list1));
        QVERIFY(folder.write(QStringLiteral("PorAddr2.lst"), list2));

        PorAddrProcess program(*session_, folder);
        QVERIFY(program.start());
        QVERIFY(!program.waitForMainWindow().isEmpty());

        QVERIFY(folder.setMode(0555));
        struct Writable {
            const ProgramFolder &folder;
            ~Writable() { folder.setMode(0755); }
        } restore{folder};

        if (bySignal)
            QCOMPARE(::kill(pid_t(program.pid()), SIGTERM), 0);
        else
            QVERIFY(program.requestClose());
        const QString box = program.waitForOtherWindow(exactly(mainTitle()));
        QVERIFY2(!box.isEmpty(), "no error box after a close into a read-only folder");
        QVERIFY(session_->activate(box));
        // The text itself can only be seen: keep a picture of the box for whoever looks.
        QVERIFY(session_->screenshot(shotsDir() + QStringLiteral("/error-box-read-only-folder.png")));
        QVERIFY(session_->key({QStringLiteral("Return")}));
        QVERIFY2(waitFor([&] { return program.otherWindows(exactly(mainTitle())).isEmpty(); }, 10000),
                 "the error box did not close on Enter");
        QVERIFY2(program.running(), "the program ended although its lists could not be saved");
        QCOMPARE(session_->windows(exactly(mainTitle()), program.pid()), QStringList{program.mainWindow()});
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), list1);
        QVERIFY2(!folder.exists(QStringLiteral("PorAddr.ini")),
                 "settings were written although the lists failed");

        QVERIFY(folder.setMode(0755));
        if (bySignal) {
            QCOMPARE(::kill(pid_t(program.pid()), SIGTERM), 0);
            QCOMPARE(program.waitForExit(), 0);
        } else {
            QVERIFY(program.closeAndWait());
        }
        QCOMPARE(folder.read(QStringLiteral("PorAddr1.lst")), list1);
        QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), list2);
        QVERIFY2(folder.exists(QStringLiteral("PorAddr.ini")), "the second close wrote no settings");
    }

private:
    std::unique_ptr<X11Session> session_;
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_e2e_startup.moc"
