// The launcher that the `poraddr` command and the menu entry start, with a real Radicale on
// 127.0.0.1: the sync before the window opens and after it closes, a server that is down, and a
// second start while the program runs. The suite runs in a D-Bus session of its own and takes the
// notification server's name there, so it sees every notification the launcher sends.

#include "x11session.h"

#include "support/davserver.h"
#include "sync/davclient.h"
#include "sync/syncconfig.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMutex>
#include <QMutexLocker>

using namespace e2e;
using davtest::DavServer;
using davtest::DavServerKind;

// Stands in for the desktop's notification server: records every Notify call.
class NotificationListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString app, icon, summary, body;
        uint replaces = 0, id = 0;
    };

    QList<Shown> shown() const
    {
        QMutexLocker lock(&mutex_);
        return shown_;
    }

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &, int)
    {
        QMutexLocker lock(&mutex_);
        shown_.append({app, icon, summary, body, replaces, uint(shown_.size() + 1)});
        return shown_.last().id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    void CloseNotification(uint) {}

private:
    mutable QMutex mutex_;
    QList<Shown> shown_;
};

namespace {

const QString bookName = QStringLiteral("friends");

QByteArray card(const QByteArray &uid, const QByteArray &name, const QByteArray &mail)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + name + "\r\nN:" + name +
           ";;;;\r\nEMAIL:" + mail + "\r\nEND:VCARD\r\n";
}

// A program folder with the launcher and the sync tool beside the program, as installed.
bool addLauncher(const ProgramFolder &folder, QString &problem)
{
    const QString built = qEnvironmentVariable("PORADDR_BINARY_DIR");
    for (const QString &name : {QStringLiteral("poraddr-launch"), QStringLiteral("poraddr-sync")}) {
        if (!QFile::copy(built + QLatin1Char('/') + name, folder.file(name)) ||
            ::chmod(QFile::encodeName(folder.file(name)).constData(), 0755) != 0) {
            problem = QStringLiteral("cannot copy ") + name + QStringLiteral(" from ") + built;
            return false;
        }
    }
    return true;
}

void configureSync(const ProgramFolder &folder, const QString &url, const QString &user, const QString &book)
{
    SyncConfig config;
    config.url = url;
    config.user = user;
    config.collections[0] = config.collections[1] = book;
    syncconfig::save(folder.path() + QLatin1Char('/'), config);
}

// Starts server with a book that holds one card the lists lack (Hanako), and sets folder up to
// sync with it through the launcher. The book's URL; empty, with the reason in problem, where a
// step fails.
QString syncedFolder(DavServer &server, ProgramFolder &folder, QString &problem)
{
    if (!server.start()) {
        problem = server.errorString();
        return QString();
    }
    carddav::DavClient client(server.baseUrl(), server.user(), server.password());
    client.setTimeout(10000);
    const QString book = server.bookUrl(bookName);
    carddav::RemoteCard stored;
    carddav::Result r = client.createAddressBook(book, QStringLiteral("Friends"));
    if (r.ok())
        r = client.put(book + QStringLiteral("hanako.vcf"), card("hanako", "Hanako", "hanako@example.jp"), {},
                       stored);
    if (!r.ok()) {
        problem = r.message;
        return QString();
    }
    if (!folder.isValid()) {
        problem = folder.error();
        return QString();
    }
    if (!addLauncher(folder, problem))
        return QString();
    configureSync(folder, server.baseUrl(), server.user(), book);
    return book;
}

// How many requests the server has logged so far. Its output reaches the test through the event
// loop, which runs a moment first.
int requestsSeen(DavServer &server)
{
    QTest::qWait(300);
    return int(server.output().count(" request for "));
}

// The program's own environment as it was started, from the process the window belongs to.
QByteArray environmentOfWindow(const X11Session &session, const QString &window)
{
    const RunResult r = session.xdotool({QStringLiteral("getwindowpid"), window});
    if (!r.finished || r.exitCode != 0)
        return QByteArray();
    return readBytes(QStringLiteral("/proc/%1/environ").arg(QString::fromLatin1(r.out.trimmed())));
}

} // namespace

class TestLauncher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY2(bus.isConnected(), "no D-Bus session: run the suite under dbus-run-session");
        // Calls are answered in a thread of the listener's own, while the test waits on windows.
        listener_.moveToThread(&listenerThread_);
        listenerThread_.start();
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &listener_,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY2(bus.registerService(QStringLiteral("org.freedesktop.Notifications")),
                 "another notification server owns the name on this bus");
    }
    void cleanupTestCase()
    {
        QDBusConnection::sessionBus().unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        listenerThread_.quit();
        listenerThread_.wait();
        session_.reset();
    }
    // A check that failed leaves the program the launcher started running without it: ended here,
    // so that the next case starts with the screen empty.
    void cleanup()
    {
        for (const QString &window : session_->windows(exactly(mainTitle()))) {
            const RunResult r = session_->xdotool({QStringLiteral("getwindowpid"), window});
            const qint64 pid = r.out.trimmed().toLongLong();
            if (r.finished && r.exitCode == 0 && pid > 0)
                ::kill(pid_t(pid), SIGKILL);
        }
        session_->waitForNoWindow(exactly(mainTitle()));
    }

    // A card the lists lack is in them when the window opens; an entry added in the window is on
    // the server once it has closed. Both syncs go well: nothing is told. The program gets the
    // desktop's activation tokens the launcher was started with.
    void syncsBeforeOpeningAndAfterClosing()
    {
        DavServer server(DavServerKind::Radicale);
        ProgramFolder folder;
        QString problem;
        const QString book = syncedFolder(server, folder, problem);
        QVERIFY2(!book.isEmpty(), qPrintable(problem));
        const int toldBefore = listener_.shown().size();

        PorAddrProcess launcher(*session_, folder);
        launcher.setStartedAs(folder.file(QStringLiteral("poraddr-launch")));
        launcher.setEnvironment(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("launcher-test_TIME1"));
        launcher.setEnvironment(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("launcher-token"));
        QVERIFY(launcher.start());
        const QString window = session_->waitForWindow(exactly(mainTitle()), 0, 30000);
        QVERIFY2(!window.isEmpty(), "the launcher opened no main window");
        QVERIFY2(folder.read(QStringLiteral("PorAddr2.lst")).startsWith("Hanako\r\nhanako@example.jp\r\n"),
                 "the server's card was not in list 2 when the window opened");
        const QByteArray environment = environmentOfWindow(*session_, window);
        QVERIFY2(environment.contains("DESKTOP_STARTUP_ID=launcher-test_TIME1"),
                 "the program did not get the startup id");
        QVERIFY2(environment.contains("XDG_ACTIVATION_TOKEN=launcher-token"),
                 "the program did not get the activation token");

        // A new entry in list 1 through the entry dialog: handle Taro, the other fields left empty.
        QVERIFY(session_->activate(window));
        QVERIFY(session_->key({QStringLiteral("alt+f"), QStringLiteral("Right"), QStringLiteral("n")}));
        const QString dialog = session_->waitForWindow(exactly(inputTitle()));
        QVERIFY2(!dialog.isEmpty(), "新規追加 did not open the entry dialog");
        QVERIFY(session_->waitForActive(dialog));
        QVERIFY(session_->key({QStringLiteral("Tab")}));
        QVERIFY(session_->type(QStringLiteral("Taro")));
        QVERIFY(session_->key(QStringList(6, QStringLiteral("Tab")) << QStringLiteral("Return")));
        QVERIFY(session_->waitForNoWindow(exactly(inputTitle())));

        QVERIFY(run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window},
                    session_->environment())
                    .exitCode == 0);
        QCOMPARE(launcher.waitForExit(90000), 0);
        QVERIFY(folder.read(QStringLiteral("PorAddr1.lst")).startsWith("1\r\nTaro\r\n"));

        carddav::DavClient client(server.baseUrl(), server.user(), server.password());
        client.setTimeout(10000);
        carddav::Listing listing;
        QVERIFY(client.list(book, {}, listing).ok());
        QStringList hrefs;
        for (const carddav::RemoteCard &c : listing.cards)
            hrefs << c.href;
        QList<carddav::RemoteCard> cards;
        QStringList failed;
        QVERIFY(client.fetch(book, hrefs, cards, failed).ok());
        QStringList names;
        for (const carddav::RemoteCard &c : cards)
            for (const QByteArray &line : c.body.split('\n'))
                if (line.startsWith("FN:"))
                    names << QString::fromUtf8(line.mid(3).trimmed());
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("Hanako"), QStringLiteral("Taro")}));
        QCOMPARE(listener_.shown().size(), toldBefore);
    }

    // With the server down the window opens at once all the same, and the failed sync is told in
    // one notification, which the failure after the close replaces. Without a session bus nothing
    // is told and the launcher still ends as the program does.
    void serverDown_windowOpensAndTheFailureIsTold_data()
    {
        QTest::addColumn<bool>("sessionBus");
        QTest::newRow("session bus") << true;
        QTest::newRow("no session bus") << false;
    }
    void serverDown_windowOpensAndTheFailureIsTold()
    {
        QFETCH(bool, sessionBus);
        ProgramFolder folder;
        QVERIFY2(folder.isValid(), qPrintable(folder.error()));
        QString problem;
        QVERIFY2(addLauncher(folder, problem), qPrintable(problem));
        const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(DavServer::freePort());
        configureSync(folder, url, QStringLiteral("user"), url + QStringLiteral("user/friends/"));
        QVERIFY(folder.write(QStringLiteral("PorAddr2.lst"), listFile({"Hanako", "", "", "", "", ""})));
        const int toldBefore = listener_.shown().size();

        PorAddrProcess launcher(*session_, folder);
        launcher.setStartedAs(folder.file(QStringLiteral("poraddr-launch")));
        if (!sessionBus)
            launcher.setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString());
        QElapsedTimer started;
        started.start();
        QVERIFY(launcher.start());
        // The sync's connection is refused at once; the window does not wait for the sync's bound.
        const QString window = session_->waitForWindow(exactly(mainTitle()), 0, 20000);
        QVERIFY2(!window.isEmpty(), "the launcher opened no main window");
        QVERIFY2(started.elapsed() < 2000,
                 qPrintable(QStringLiteral("the window took %1 ms to open").arg(started.elapsed())));

        if (sessionBus) {
            QVERIFY2(waitFor([&] { return listener_.shown().size() > toldBefore; }, 10000),
                     "the failed sync was not told");
            QTest::qWait(500);
            const QList<NotificationListener::Shown> shown = listener_.shown().mid(toldBefore);
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown[0].app, QString::fromUtf8("ぽるてアドレス帳"));
            QCOMPARE(shown[0].icon, QStringLiteral("jp.example.PorAddr"));
            QCOMPARE(shown[0].summary, QString::fromUtf8("起動前の同期ができませんでした"));
            QVERIFY2(shown[0].body.contains(QStringLiteral("127.0.0.1")),
                     qPrintable(QStringLiteral("the sync's own line is not told: ") + shown[0].body));
        }

        QVERIFY(run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window},
                    session_->environment())
                    .exitCode == 0);
        QCOMPARE(launcher.waitForExit(90000), 0);
        const QList<NotificationListener::Shown> shown = listener_.shown().mid(toldBefore);
        if (sessionBus) {
            QCOMPARE(shown.size(), 2);
            QCOMPARE(shown[1].summary, QString::fromUtf8("終了後の同期ができませんでした"));
            QCOMPARE(shown[1].replaces, shown[0].id);
        } else {
            QCOMPARE(shown.size(), 0);
        }
        QCOMPARE(folder.read(QStringLiteral("PorAddr2.lst")), listFile({"Hanako", "", "", "", "", ""}));
    }

    // A start while the program runs for the folder syncs nothing and brings the running window
    // to the front.
    void secondStart_raisesTheRunningWindowWithoutSyncing()
    {
        DavServer server(DavServerKind::Radicale);
        ProgramFolder folder;
        QString problem;
        const QString book = syncedFolder(server, folder, problem);
        QVERIFY2(!book.isEmpty(), qPrintable(problem));
        // Another program under its own file name, to take the focus from the first window.
        ProgramFolder other(RunAs::Self, QStringLiteral("PorAddrCopy"));
        QVERIFY2(other.isValid(), qPrintable(other.error()));
        const int toldBefore = listener_.shown().size();

        PorAddrProcess first(*session_, folder);
        first.setStartedAs(folder.file(QStringLiteral("poraddr-launch")));
        QVERIFY(first.start());
        const QString window = session_->waitForWindow(exactly(mainTitle()), 0, 30000);
        QVERIFY2(!window.isEmpty(), "the first start opened no main window");
        QVERIFY(folder.exists(QStringLiteral("PorAddr2.lst")));

        PorAddrProcess beside(*session_, other);
        beside.setRuntimeDir(folder.runtimeDir());
        QVERIFY(beside.start());
        QVERIFY(!beside.waitForMainWindow().isEmpty());
        QVERIFY(session_->activate(beside.mainWindow()));

        const int requests = requestsSeen(server);
        const QByteArray state = folder.read(QStringLiteral("PorAddrSync.state"));
        QVERIFY(!state.isEmpty());
        PorAddrProcess second(*session_, folder);
        second.setStartedAs(folder.file(QStringLiteral("poraddr-launch")));
        QVERIFY(second.start());
        QCOMPARE(second.waitForExit(15000), 0);
        // A sync run now would refuse before any request, naming the folder on standard error.
        QVERIFY2(!second.errorOutput().contains(QFile::encodeName(folder.path())),
                 second.errorOutput().constData());
        QVERIFY2(session_->waitForActive(window, 5000), "the running window was not brought to the front");
        QCOMPARE(session_->windows(exactly(mainTitle())).size(), 2);
        QCOMPARE(requestsSeen(server), requests);
        QCOMPARE(folder.read(QStringLiteral("PorAddrSync.state")), state);
        QCOMPARE(listener_.shown().size(), toldBefore);

        QVERIFY(beside.closeAndWait());
        QVERIFY(run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window},
                    session_->environment())
                    .exitCode == 0);
        QCOMPARE(first.waitForExit(90000), 0);
        QVERIFY2(requestsSeen(server) > requests,
                 qPrintable(QStringLiteral("the first start did not sync after its close: ") +
                            QString::fromUtf8(first.errorOutput())));
        QCOMPARE(listener_.shown().size(), toldBefore);
    }

private:
    std::unique_ptr<X11Session> session_;
    NotificationListener listener_;
    QThread listenerThread_;
};

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_e2e_launcher.moc"
