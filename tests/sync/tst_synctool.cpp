// poraddr-sync as a user runs it, against real CardDAV servers (Radicale and Xandikos on
// 127.0.0.1) and a real second device (vdirsyncer): what lands in the list files and on the
// server, and what a run that is killed, refused or raced leaves behind.
#include "support/davserver.h"
#include "support/storetest.h"
#include "sync/davclient.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>

using davtest::DavServer;
using davtest::DavServerKind;
using storetest::readBytes;
using storetest::writeBytes;

namespace {

QString binary(const QString &name)
{
    return qEnvironmentVariable("PORADDR_BINARY_DIR") + QLatin1Char('/') + name;
}

QByteArray lines(const QList<QByteArray> &fields)
{
    QByteArray bytes;
    for (const QByteArray &f : fields)
        bytes += f + "\r\n";
    return bytes;
}

QByteArray entry1(const QByteArray &number, const QByteArray &handle, const QByteArray &mail = {},
                  const QByteArray &memo = {})
{
    return lines({number, handle, mail, "", "", "", memo});
}

QByteArray entry2(const QByteArray &handle, const QByteArray &mail = {}, const QByteArray &memo = {})
{
    return lines({handle, mail, "", "", "", memo});
}

struct Run {
    int exitCode = -1;
    QByteArray err;
};

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    for (const char *proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"})
        env.remove(QString::fromLatin1(proxy));
    return env;
}

Run runTool(const QStringList &args)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.start(binary(QStringLiteral("poraddr-sync")), args);
    Run run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.err = process.readAllStandardError();
    return run;
}

// One machine's program folder: its list files and its sync setup.
struct Device {
    QTemporaryDir dir;
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }
    QString path() const { return dir.path(); }
    QByteArray list(int n) const { return readBytes(file(n == 1 ? "PorAddr1.lst" : "PorAddr2.lst")); }
    void setList(int n, const QByteArray &bytes) const
    {
        writeBytes(file(n == 1 ? "PorAddr1.lst" : "PorAddr2.lst"), bytes);
    }
    Run setup(const DavServer &server, const QString &book, const QStringList &more = {}) const
    {
        return runTool(QStringList{QStringLiteral("setup"), server.baseUrl(), QStringLiteral("--user"),
                                   server.user(), QStringLiteral("--list1"), book}
                       << more << path());
    }
    Run sync(const QStringList &options = {}) const { return runTool(options + QStringList{path()}); }
};

// The counts of the summary line, "uploaded 1, downloaded 2, deleted 0 here, deleted 0 there, conflicts 0".
QList<int> countsOf(const QByteArray &err)
{
    const QRegularExpression summary(QStringLiteral(
        "uploaded (\\d+), downloaded (\\d+), deleted (\\d+) here, deleted (\\d+) there, conflicts (\\d+)"));
    const QRegularExpressionMatch m = summary.match(QString::fromUtf8(err));
    QList<int> counts;
    for (int i = 1; m.hasMatch() && i <= 5; ++i)
        counts << m.captured(i).toInt();
    return counts;
}

// The server as another device sees it.
struct Book {
    std::unique_ptr<carddav::DavClient> client;
    QString url;

    QList<carddav::RemoteCard> cards() const
    {
        carddav::Listing listing;
        if (!client->list(url, {}, listing).ok())
            return {};
        QStringList hrefs;
        for (const carddav::RemoteCard &c : listing.cards)
            hrefs << c.href;
        QList<carddav::RemoteCard> out;
        QStringList failed;
        client->fetch(url, hrefs, out, failed);
        std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.href < b.href; });
        return out;
    }
    // The card holding text, or an empty one.
    carddav::RemoteCard cardWith(const QByteArray &text) const
    {
        for (const carddav::RemoteCard &c : cards())
            if (c.body.contains(text))
                return c;
        return {};
    }
    bool replace(const QByteArray &text, const QByteArray &from, const QByteArray &to) const
    {
        const carddav::RemoteCard c = cardWith(text);
        carddav::RemoteCard stored;
        QByteArray body = c.body;
        body.replace(from, to);
        return !c.href.isEmpty() && client->put(c.href, body, c.etag, stored).ok();
    }
    bool add(const QString &name, const QByteArray &body) const
    {
        carddav::RemoteCard stored;
        return client->put(QUrl(url).path() + name, body, {}, stored).ok();
    }
    bool removeCardWith(const QByteArray &text) const
    {
        const carddav::RemoteCard c = cardWith(text);
        return !c.href.isEmpty() && client->remove(c.href, c.etag).ok();
    }
};

QByteArray card(const QByteArray &uid, const QByteArray &fn, const QByteArray &more = {})
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + fn + "\r\nN:" + fn + ";;;;\r\n" + more +
           "END:VCARD\r\n";
}

// UIDs of the cards, each once: a second card for one entry would show as a second UID or a repeat.
QStringList uidsOf(const QList<carddav::RemoteCard> &cards)
{
    QStringList uids;
    for (const carddav::RemoteCard &c : cards) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\r\nUID:([^\r\n]*)")).match(QString::fromUtf8(c.body));
        uids << m.captured(1);
    }
    return uids;
}

} // namespace

class TestSyncTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { servers_.clear(); }
    void guarantee_data();
    void guarantee();
    void twoMachinesConverge_data();
    void twoMachinesConverge();
    void killedRunConverges_data();
    void killedRunConverges();
    void programStartedDuringARunLoadsWhatItWrote();
    void phoneThroughVdirsyncer_data();
    void phoneThroughVdirsyncer();
    void passwordFromACommand();

private:
    DavServer &server(const QString &name) { return *servers_.at(name == QLatin1String("xandikos") ? 1 : 0); }
    // A new book on the server for one test, and a client on it.
    Book newBook(DavServer &s, const QString &name);
    std::vector<std::unique_ptr<DavServer>> servers_;
    int books_ = 0;
};

void TestSyncTool::initTestCase()
{
    QVERIFY(QFileInfo(binary(QStringLiteral("poraddr-sync"))).isExecutable());
    for (const DavServerKind kind : {DavServerKind::Radicale, DavServerKind::Xandikos}) {
        servers_.push_back(std::make_unique<DavServer>(kind));
        QVERIFY2(servers_.back()->start(), qPrintable(servers_.back()->errorString()));
    }
}

Book TestSyncTool::newBook(DavServer &s, const QString &name)
{
    Book book;
    book.client = std::make_unique<carddav::DavClient>(s.baseUrl(), s.user(), s.password());
    book.url = s.bookUrl(name + QString::number(++books_));
    if (!book.client->createAddressBook(book.url, name).ok())
        book.url.clear();
    return book;
}

// Each guarantee of the sync, on each server. Every row ends with the same three checks: the run
// after it does nothing, and a second, empty machine gets byte-identical list files.
void TestSyncTool::guarantee_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("scenario");
    const char *scenarios[] = {
        "edit, move and delete touch only their cards",
        "two identical entries are two cards",
        "changes on both sides merge field by field, keeping what the lists do not hold",
        "the same field changed on both sides: the window wins, the server's card is kept",
        "deleted on one side, changed on the other: the change wins",
        "an unreachable server changes nothing",
        "an emptied book deletes nothing here without --force",
        "a missing list file deletes nothing there without --force",
        "a card CP932 cannot hold is named once and left alone",
        "a dry run writes nothing",
    };
    for (const char *server : {"radicale", "xandikos"})
        for (const char *scenario : scenarios)
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(server, scenario)))
                << QString::fromLatin1(server) << QString::fromLatin1(scenario);
}

void TestSyncTool::guarantee()
{
    QFETCH(QString, server);
    QFETCH(QString, scenario);
    DavServer &s = this->server(server);
    const Book book = newBook(s, QStringLiteral("book"));
    QVERIFY(!book.url.isEmpty());
    const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
    Device a;
    const QByteArray list1 = entry1("3", "Taro", "taro@example.jp") + entry1("5", "Jiro", "", "memo") +
                             entry1("7", "Saburo", "saburo@example.jp");
    const QByteArray list2 = entry2("Hanako", "hanako@example.jp") + entry2("Yoshiko");
    a.setList(1, list1);
    a.setList(2, list2);
    QCOMPARE(a.setup(s, bookName).exitCode, 0);
    Run first = a.sync();
    QVERIFY2(first.exitCode == 0, first.err.constData());
    QCOMPARE(countsOf(first.err), (QList<int>{5, 0, 0, 0, 0}));
    const QList<carddav::RemoteCard> before = book.cards();
    QCOMPARE(before.size(), 5);

    int expectedExit = 0;
    QList<int> expectedCounts;
    QByteArray expected1 = list1, expected2 = list2;
    QList<carddav::RemoteCard> after;
    if (scenario.startsWith(QLatin1String("edit, move"))) {
        // Jiro's handle changes, Saburo moves up over him, Yoshiko is deleted.
        a.setList(1, entry1("3", "Taro", "taro@example.jp") + entry1("7", "Saburo", "saburo@example.jp") +
                         entry1("5", "Jiro Y.", "", "memo"));
        a.setList(2, entry2("Hanako", "hanako@example.jp"));
        expected1 = a.list(1);
        expected2 = a.list(2);
        // The edited card goes up; of the two that traded places, one takes a new place key.
    } else if (scenario.startsWith(QLatin1String("two identical"))) {
        a.setList(2, list2 + entry2("Twin", "twin@example.jp") + entry2("Twin", "twin@example.jp"));
        expected2 = a.list(2);
        expectedCounts = {2, 0, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("changes on both sides"))) {
        QVERIFY(book.replace("FN:Jiro", "END:VCARD", "TEL;TYPE=CELL:+81-90-0000-0000\r\nEND:VCARD"));
        QVERIFY(book.replace("FN:Jiro", "NOTE:memo", "NOTE:from the phone"));
        a.setList(1, entry1("3", "Taro", "taro@example.jp") + entry1("5", "Jiro", "jiro@example.jp", "memo") +
                         entry1("7", "Saburo", "saburo@example.jp"));
        expected1 = entry1("3", "Taro", "taro@example.jp") +
                    entry1("5", "Jiro", "jiro@example.jp", "from the phone") +
                    entry1("7", "Saburo", "saburo@example.jp");
        expectedCounts = {1, 1, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("the same field"))) {
        QVERIFY(book.replace("FN:Jiro", "NOTE:memo", "NOTE:phone's note"));
        a.setList(1, entry1("3", "Taro", "taro@example.jp") + entry1("5", "Jiro", "", "window's note") +
                         entry1("7", "Saburo", "saburo@example.jp"));
        expected1 = a.list(1);
        expectedExit = 1;
        expectedCounts = {1, 0, 0, 0, 1};
    } else if (scenario.startsWith(QLatin1String("deleted on one side"))) {
        QVERIFY(book.removeCardWith("FN:Jiro"));
        QVERIFY(book.replace("FN:Hanako", "EMAIL;TYPE=INTERNET:hanako@example.jp",
                             "EMAIL;TYPE=INTERNET:h@example.jp"));
        a.setList(1, entry1("3", "Taro", "taro@example.jp") + entry1("5", "Jiro", "", "edited") +
                         entry1("7", "Saburo", "saburo@example.jp"));
        a.setList(2, entry2("Yoshiko"));
        expected1 = a.list(1);
        expected2 = entry2("Hanako", "h@example.jp") + entry2("Yoshiko");
        expectedCounts = {1, 1, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("an unreachable"))) {
        const QByteArray ini = readBytes(a.file("PorAddrSync.ini"));
        writeBytes(
            a.file("PorAddrSync.ini"),
            QByteArray(ini).replace(QByteArray::number(s.port()), QByteArray::number(DavServer::freePort())));
        a.setList(2, entry2("Hanako", "new@example.jp") + entry2("Yoshiko"));
        const Run down = a.sync();
        QCOMPARE(down.exitCode, 3);
        QCOMPARE(a.list(2), entry2("Hanako", "new@example.jp") + entry2("Yoshiko"));
        writeBytes(a.file("PorAddrSync.ini"), ini);
        expected2 = a.list(2);
        expectedCounts = {1, 0, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("an emptied book"))) {
        for (const QByteArray name : {"Taro", "Jiro", "Saburo", "Hanako", "Yoshiko"})
            QVERIFY(book.removeCardWith("FN:" + name));
        const Run refused = a.sync();
        QVERIFY2(refused.exitCode == 4, refused.err.constData());
        QCOMPARE(a.list(1), list1);
        QCOMPARE(a.list(2), list2);
        const Run forced = a.sync({QStringLiteral("--force")});
        QCOMPARE(forced.exitCode, 0);
        QCOMPARE(countsOf(forced.err), (QList<int>{0, 0, 5, 0, 0}));
        expected1 = expected2 = "<unreadable>"; // an empty list has no file
        expectedCounts = {0, 0, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("a missing list file"))) {
        QVERIFY(QFile::remove(a.file("PorAddr1.lst")));
        const Run refused = a.sync();
        QVERIFY2(refused.exitCode == 4, refused.err.constData());
        QCOMPARE(book.cards().size(), 5);
        a.setList(1, list1);
        expectedCounts = {0, 0, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("a card CP932"))) {
        QVERIFY(book.add(QStringLiteral("emoji.vcf"), card("emoji-1", "Smile \xf0\x9f\x98\x80")));
        const Run named = a.sync();
        QCOMPARE(named.exitCode, 1);
        QVERIFY2(named.err.contains("Smile \xf0\x9f\x98\x80"), named.err.constData());
        expectedCounts = {0, 0, 0, 0, 0};
    } else if (scenario.startsWith(QLatin1String("a dry run"))) {
        QVERIFY(book.replace("FN:Jiro", "NOTE:memo", "NOTE:phone"));
        a.setList(2, entry2("Hanako", "hanako@example.jp"));
        const QByteArray state = readBytes(a.file("PorAddrSync.state"));
        const QList<carddav::RemoteCard> onServer = book.cards();
        const Run dry = a.sync({QStringLiteral("--dry-run")});
        QCOMPARE(dry.exitCode, 0);
        QCOMPARE(countsOf(dry.err), (QList<int>{0, 1, 0, 1, 0}));
        QCOMPARE(readBytes(a.file("PorAddrSync.state")), state);
        QCOMPARE(a.list(1), list1);
        QCOMPARE(book.cards().size(), onServer.size());
        for (int i = 0; i < onServer.size(); ++i)
            QCOMPARE(book.cards().at(i).etag, onServer.at(i).etag);
        expected1 = entry1("3", "Taro", "taro@example.jp") + entry1("5", "Jiro", "", "phone") +
                    entry1("7", "Saburo", "saburo@example.jp");
        expected2 = a.list(2);
        expectedCounts = {0, 1, 0, 1, 0};
    }

    const Run second = a.sync();
    QVERIFY2(second.exitCode == expectedExit, second.err.constData());
    if (scenario.startsWith(QLatin1String("edit, move"))) {
        const QList<int> counts = countsOf(second.err);
        QVERIFY2(counts == (QList<int>{1, 0, 0, 1, 0}) || counts == (QList<int>{2, 0, 0, 1, 0}),
                 second.err.constData());
    } else {
        QCOMPARE(countsOf(second.err), expectedCounts);
    }
    QCOMPARE(a.list(1), expected1);
    QCOMPARE(a.list(2), expected2);
    after = book.cards();

    if (scenario.startsWith(QLatin1String("edit, move"))) {
        // The same cards, one gone; only the edited card and one of the two that traded places
        // were written, and nobody else's.
        QCOMPARE(after.size(), 4);
        QSet<QString> changed;
        for (const carddav::RemoteCard &b : before)
            for (const carddav::RemoteCard &c : after)
                if (carddav::sameHref(b.href, c.href) && b.etag != c.etag)
                    changed << QString::fromUtf8(c.body.mid(c.body.indexOf("FN:") + 3).split('\r').first());
        QVERIFY2(changed.contains(QStringLiteral("Jiro Y.")),
                 qPrintable(QStringList(changed.values()).join(',')));
        changed.remove(QStringLiteral("Jiro Y."));
        changed.remove(QStringLiteral("Saburo"));
        QVERIFY2(changed.isEmpty(), qPrintable(QStringList(changed.values()).join(',')));
        QVERIFY(book.cardWith("FN:Jiro Y.").href == book.cardWith("NOTE:memo").href);
        QVERIFY(book.cardWith("FN:Yoshiko").href.isEmpty());
    } else if (scenario.startsWith(QLatin1String("two identical"))) {
        QCOMPARE(after.size(), 7);
    } else if (scenario.startsWith(QLatin1String("changes on both sides"))) {
        const QByteArray jiro = book.cardWith("FN:Jiro").body;
        QVERIFY2(jiro.contains("TEL;TYPE=CELL:+81-90-0000-0000") && jiro.contains("jiro@example.jp") &&
                     jiro.contains("NOTE:from the phone"),
                 jiro.constData());
    } else if (scenario.startsWith(QLatin1String("the same field"))) {
        QVERIFY(book.cardWith("FN:Jiro").body.contains("NOTE:window's note"));
        const QByteArray conflicts = readBytes(a.file("PorAddrSync-conflicts.vcf"));
        QVERIFY2(conflicts.contains("NOTE:phone's note"), conflicts.constData());
        QVERIFY(second.err.contains("PorAddrSync-conflicts.vcf"));
    } else if (scenario.startsWith(QLatin1String("deleted on one side"))) {
        QVERIFY(book.cardWith("FN:Jiro").body.contains("NOTE:edited"));
        QVERIFY(book.cardWith("FN:Yoshiko").body.contains("UID:"));
        QCOMPARE(after.size(), 5);
    }
    const QStringList uids = uidsOf(after);
    QCOMPARE(QSet<QString>(uids.begin(), uids.end()).size(), uids.size());

    // Nothing left to do, and another machine rebuilds the same files.
    const Run again = a.sync();
    QVERIFY2(again.exitCode == 0, again.err.constData());
    QCOMPARE(countsOf(again.err), (QList<int>{0, 0, 0, 0, 0}));
    Device b;
    QCOMPARE(b.setup(s, bookName).exitCode, 0);
    const Run download = b.sync();
    QVERIFY2(download.exitCode == 0 || scenario.startsWith(QLatin1String("a card CP932")),
             download.err.constData());
    QCOMPARE(b.list(1), a.list(1));
    QCOMPARE(b.list(2), a.list(2));
}

// Two machines edit, add, move and delete, each on its own; after each has synced twice both hold
// byte-identical list files.
void TestSyncTool::twoMachinesConverge_data()
{
    phoneThroughVdirsyncer_data();
}

void TestSyncTool::twoMachinesConverge()
{
    QFETCH(QString, server);
    DavServer &s = this->server(server);
    const Book book = newBook(s, QStringLiteral("two"));
    const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
    Device a, b;
    a.setList(1, entry1("1", "Ichiro") + entry1("2", "Jiro") + entry1("3", "Saburo"));
    a.setList(2, entry2("Hanako") + entry2("Yoshiko"));
    QCOMPARE(a.setup(s, bookName).exitCode, 0);
    QCOMPARE(b.setup(s, bookName).exitCode, 0);
    QCOMPARE(a.sync().exitCode, 0);
    QCOMPARE(b.sync().exitCode, 0);
    QCOMPARE(b.list(1), a.list(1));

    // A: Jiro's mail, Saburo moves to the top, Yoshiko goes. B: Ichiro's memo, a new Shiro, a new
    // Natsuko in list 2 first.
    a.setList(1, entry1("3", "Saburo") + entry1("1", "Ichiro") + entry1("2", "Jiro", "jiro@example.jp"));
    a.setList(2, entry2("Hanako"));
    b.setList(1, entry1("1", "Ichiro", "", "memo") + entry1("2", "Jiro") + entry1("3", "Saburo") +
                     entry1("4", "Shiro"));
    b.setList(2, entry2("Natsuko") + entry2("Hanako") + entry2("Yoshiko"));
    for (const Device *d : {&a, &b, &a, &b}) {
        const Run r = d->sync();
        QVERIFY2(r.exitCode == 0, r.err.constData());
    }
    QCOMPARE(a.list(1), entry1("3", "Saburo") + entry1("1", "Ichiro", "", "memo") +
                            entry1("2", "Jiro", "jiro@example.jp") + entry1("4", "Shiro"));
    QCOMPARE(a.list(2), entry2("Natsuko") + entry2("Hanako"));
    QCOMPARE(b.list(1), a.list(1));
    QCOMPARE(b.list(2), a.list(2));
    QCOMPARE(book.cards().size(), 6);
}

// Killed at any moment, the next run finishes the work: no second card, no second entry, no edit lost.
void TestSyncTool::killedRunConverges_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("killAfterMs");
    for (const char *server : {"radicale", "xandikos"})
        for (const int ms : {50, 150, 400, 900})
            QTest::newRow(qPrintable(QStringLiteral("%1, killed after %2 ms").arg(server).arg(ms)))
                << QString::fromLatin1(server) << ms;
}

void TestSyncTool::killedRunConverges()
{
    QFETCH(QString, server);
    QFETCH(int, killAfterMs);
    DavServer &s = this->server(server);
    const Book book = newBook(s, QStringLiteral("killed"));
    const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
    Device a;
    QByteArray list2;
    for (int i = 0; i < 80; ++i)
        list2 += entry2("Friend " + QByteArray::number(i), QByteArray::number(i) + "@example.jp");
    a.setList(2, list2);
    QCOMPARE(a.setup(s, bookName).exitCode, 0);
    // A device adds one card meanwhile; the run is killed in the middle of its uploads.
    QVERIFY(book.add(QStringLiteral("phone.vcf"), card("phone-1", "From the phone")));
    QProcess run;
    run.setProcessEnvironment(toolEnvironment());
    run.start(binary(QStringLiteral("poraddr-sync")), {a.path()});
    QVERIFY(run.waitForStarted());
    QThread::msleep(ulong(killAfterMs));
    ::kill(pid_t(run.processId()), SIGKILL);
    run.waitForFinished();

    Run rerun = a.sync();
    QVERIFY2(rerun.exitCode == 0, rerun.err.constData());
    rerun = a.sync();
    QCOMPARE(countsOf(rerun.err), (QList<int>{0, 0, 0, 0, 0}));
    const QList<carddav::RemoteCard> cards = book.cards();
    QCOMPARE(cards.size(), 81);
    const QStringList uids = uidsOf(cards);
    QCOMPARE(QSet<QString>(uids.begin(), uids.end()).size(), 81);
    QCOMPARE(a.list(2), list2 + entry2("From the phone"));
    Device b;
    QCOMPARE(b.setup(s, bookName).exitCode, 0);
    QCOMPARE(b.sync().exitCode, 0);
    QCOMPARE(b.list(2), a.list(2));
}

// A start of the program while a run reads and writes the lists waits for the run, then loads what
// the run wrote: its close must not write back older lists.
void TestSyncTool::programStartedDuringARunLoadsWhatItWrote()
{
    DavServer &s = server(QStringLiteral("radicale"));
    for (const int startAfterMs : {0, 100, 300, 700}) {
        const Book book = newBook(s, QStringLiteral("during"));
        const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
        for (int i = 0; i < 60; ++i)
            QVERIFY(book.add(QStringLiteral("c%1.vcf").arg(i),
                             card("c" + QByteArray::number(i), "Card " + QByteArray::number(i))));
        Device folder;
        QCOMPARE(folder.setup(s, bookName).exitCode, 0);
        const QString program = folder.file("MyBook");
        QVERIFY(QFile::copy(binary(QStringLiteral("PorAddr")), program));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        QProcess sync;
        sync.setProcessEnvironment(toolEnvironment());
        sync.start(binary(QStringLiteral("poraddr-sync")), {folder.path()});
        QVERIFY(sync.waitForStarted());
        QThread::msleep(ulong(startAfterMs));
        QProcess window;
        QProcessEnvironment env = toolEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        window.setProcessEnvironment(env);
        window.start(program, {});
        QVERIFY(window.waitForStarted());
        QVERIFY(sync.waitForFinished(60000));
        // A window that got the folder first makes the run refuse; otherwise the run wrote the list.
        QVERIFY2(sync.exitCode() == 0 || sync.exitCode() == 5, sync.readAllStandardError().constData());
        const QByteArray synced = folder.list(2);
        QCOMPARE(synced.count("Card "), sync.exitCode() == 0 ? 60 : 0);
        // The window has loaded once the run let go of the folder; its close writes what it holds.
        QThread::msleep(1500);
        ::kill(pid_t(window.processId()), SIGTERM);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(window.exitCode(), 0);
        QCOMPARE(folder.list(2), synced);
    }
}

// vdirsyncer keeps a folder of .vcf files in step with the book, as a phone would: what it adds,
// changes and deletes there comes into the lists, and the reverse.
void TestSyncTool::phoneThroughVdirsyncer_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("radicale") << QStringLiteral("radicale");
    QTest::newRow("xandikos") << QStringLiteral("xandikos");
}

void TestSyncTool::phoneThroughVdirsyncer()
{
    QFETCH(QString, server);
    DavServer &s = this->server(server);
    const Book book = newBook(s, QStringLiteral("phone"));
    const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
    QTemporaryDir phone;
    const QString cards = phone.filePath(QStringLiteral("cards"));
    QDir().mkpath(cards);
    QDir().mkpath(phone.filePath(QStringLiteral("status")));
    writeBytes(phone.filePath(QStringLiteral("config")),
               QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n\n"
                              "[pair book]\na = \"phone\"\nb = \"server\"\ncollections = null\n"
                              "conflict_resolution = \"a wins\"\n\n"
                              "[storage phone]\ntype = \"filesystem\"\npath = \"%2/\"\nfileext = \".vcf\"\n\n"
                              "[storage server]\ntype = \"carddav\"\nurl = \"%3\"\nusername = \"%4\"\n"
                              "password = \"%5\"\n")
                   .arg(phone.path(), cards, book.url, s.user(), s.password())
                   .toUtf8());
    const auto vdirsyncer = [&](const QString &command) {
        QProcess p;
        QProcessEnvironment env = toolEnvironment();
        env.insert(QStringLiteral("HOME"), phone.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("vdirsyncer"),
                {QStringLiteral("-c"), phone.filePath(QStringLiteral("config")), command});
        p.write("y\n");
        p.closeWriteChannel();
        return p.waitForFinished(120000) && p.exitCode() == 0 ? QByteArray() : p.readAll() + "\nfailed";
    };

    Device a;
    a.setList(1, entry1("3", "Taro", "taro@example.jp"));
    a.setList(2, entry2("Hanako", "hanako@example.jp") + entry2("Yoshiko"));
    QCOMPARE(a.setup(s, bookName).exitCode, 0);
    QCOMPARE(a.sync().exitCode, 0);
    QCOMPARE(vdirsyncer(QStringLiteral("discover")), QByteArray());
    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QByteArray());
    QCOMPARE(QDir(cards).entryList(QDir::Files).size(), 3);

    // On the phone: Hanako's mail changes, Yoshiko is deleted, Goro is added.
    for (const QString &name : QDir(cards).entryList(QDir::Files)) {
        const QString path = cards + QLatin1Char('/') + name;
        QByteArray body = readBytes(path);
        if (body.contains("FN:Hanako")) {
            writeBytes(path, body.replace("hanako@example.jp", "hanako@phone.example.jp"));
        } else if (body.contains("FN:Yoshiko")) {
            QVERIFY(QFile::remove(path));
        }
    }
    writeBytes(cards + QStringLiteral("/goro.vcf"), card("goro-1", "Goro", "EMAIL:goro@example.jp\r\n"));
    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QByteArray());
    const Run in = a.sync();
    QVERIFY2(in.exitCode == 0, in.err.constData());
    // Goro came without a place in the order: he is given one, on the server too.
    QVERIFY2(countsOf(in.err) == (QList<int>{1, 2, 1, 0, 0}), in.err.constData());
    QCOMPARE(a.list(2), entry2("Hanako", "hanako@phone.example.jp") + entry2("Goro", "goro@example.jp"));

    // Here: Taro's mail changes and Rokuro is added; the phone gets both.
    a.setList(1, entry1("3", "Taro", "taro@here.example.jp"));
    a.setList(2, a.list(2) + entry2("Rokuro"));
    QCOMPARE(a.sync().exitCode, 0);
    QCOMPARE(vdirsyncer(QStringLiteral("sync")), QByteArray());
    QByteArray all;
    for (const QString &name : QDir(cards).entryList(QDir::Files))
        all += readBytes(cards + QLatin1Char('/') + name);
    QVERIFY2(all.contains("taro@here.example.jp") && all.contains("FN:Rokuro") && !all.contains("Yoshiko"),
             all.constData());
    QCOMPARE(QDir(cards).entryList(QDir::Files).size(), 4);
}

// An account with a password: the password command gives it, a wrong one is refused (exit 3)
// before anything changes, and no password lands in a file.
void TestSyncTool::passwordFromACommand()
{
    DavServer s(DavServerKind::RadicaleBcrypt, QStringLiteral("user"), QStringLiteral("pw-secret"));
    QVERIFY2(s.start(), qPrintable(s.errorString()));
    const Book book = newBook(s, QStringLiteral("locked"));
    QVERIFY(!book.url.isEmpty());
    const QString bookName = QUrl(book.url).path().section(QLatin1Char('/'), -2, -2);
    Device a;
    a.setList(2, entry2("Hanako"));
    const Run wrong =
        a.setup(s, bookName, {QStringLiteral("--password-command"), QStringLiteral("echo nope")});
    QCOMPARE(wrong.exitCode, 3);
    // The password lives elsewhere (a password manager, a file of the user's); the command reads it.
    QTemporaryDir elsewhere;
    writeBytes(elsewhere.filePath(QStringLiteral("it's secret")), "pw-secret\n");
    const Run right = a.setup(s, bookName,
                              {QStringLiteral("--password-command"),
                               QStringLiteral("cat '%1'")
                                   .arg(elsewhere.filePath(QStringLiteral("it's secret"))
                                            .replace(QStringLiteral("'"), QStringLiteral("'\\''")))});
    QVERIFY2(right.exitCode == 0, right.err.constData());
    QCOMPARE(a.sync().exitCode, 0);
    QCOMPARE(book.cards().size(), 1);
    for (const QString &name : QDir(a.path()).entryList(QDir::Files))
        QVERIFY2(!readBytes(a.file(qPrintable(name))).contains("pw-secret"), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestSyncTool)
#include "tst_synctool.moc"
