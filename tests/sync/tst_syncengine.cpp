// The two-way sync against a server kept in memory: what lands in the list files, on the server's
// cards, in the conflicts file, and what a run killed half way leaves for the next one.
#include "platform/runningcopy.h"
#include "store/listfiles.h"
#include "support/storetest.h"
#include "sync/syncengine.h"
#include "sync/syncstate.h"
#include "sync/synctool.h"

#include <QBuffer>
#include <QDir>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using storetest::readBytes;
using storetest::sampleEntry;

namespace {

struct Killed {}; // the process dies here

// A CardDAV collection in memory. Every write gives a new etag; preconditions are checked as a
// server checks them.
class MemoryRemote : public carddav::Remote {
public:
    struct Card {
        QByteArray etag, body;
    };
    QMap<QString, Card> cards;
    bool rewrite = false; // stores a card with its properties in another order
    bool move = false;    // keeps a new card under another href (Location)
    bool noEtag = false;  // says no etag after a PUT
    bool down = false;    // cannot be reached
    bool deltas = false;  // answers a sync token with what changed since
    int writesLeft = -1;  // the sync is killed at the write after these (or the server goes away)
    bool goAway = false;  // at that write the server goes away instead
    QByteArray refused;   // a card holding this is refused (403)
    int writes = 0;
    std::function<void(MemoryRemote &)> beforeWrite; // another device, just before a write of ours

    carddav::Result list(const QString &url, const QByteArray &token, carddav::Listing &out) override
    {
        if (down)
            return unreachable();
        // Etags are the serial numbers of the writes; every card that ever was and is gone is
        // reported removed, as servers keep tombstones.
        const int since = token.toInt();
        out.delta = deltas && !token.isEmpty();
        for (auto it = cards.begin(); it != cards.end(); ++it)
            if (it.key().startsWith(url) && (!out.delta || it->etag.mid(1).chopped(1).toInt() > since))
                out.cards.append({it.key(), it->etag, {}});
        for (auto it = cards.begin(); it != cards.end(); ++it)
            everSeen_.insert(it.key());
        if (out.delta)
            for (const QString &href : everSeen_)
                if (!cards.contains(href))
                    out.removed.append(href);
        out.syncToken = QByteArray::number(serial_);
        return {};
    }
    carddav::Result fetch(const QString &, const QStringList &hrefs, QList<carddav::RemoteCard> &out,
                          QStringList &failed) override
    {
        if (down)
            return unreachable();
        for (const QString &href : hrefs) {
            if (cards.contains(href))
                out.append({href, cards[href].etag, cards[href].body});
            else
                failed.append(href);
        }
        return {};
    }
    carddav::Result put(const QString &href, const QByteArray &body, const QByteArray &ifMatch,
                        carddav::RemoteCard &stored) override
    {
        write();
        if (down)
            return unreachable();
        if (!refused.isEmpty() && body.contains(refused))
            return {carddav::Failure::Refused, 403, QStringLiteral("403 Forbidden")};
        if (ifMatch.isEmpty() ? cards.contains(href) : !cards.contains(href) || cards[href].etag != ifMatch)
            return {carddav::Failure::PreconditionFailed, 412, QStringLiteral("412")};
        const QString at =
            move && ifMatch.isEmpty() ? QStringLiteral("/book/moved-") + href.section('/', -1) : href;
        cards[at] = {newEtag(), rewrite ? rewritten(body) : body};
        everSeen_.insert(at);
        stored = {at, noEtag ? QByteArray() : cards[at].etag, {}};
        return {};
    }
    carddav::Result remove(const QString &href, const QByteArray &ifMatch) override
    {
        write();
        if (down)
            return unreachable();
        if (!cards.contains(href))
            return {carddav::Failure::NotFound, 404, QStringLiteral("404")};
        if (cards[href].etag != ifMatch)
            return {carddav::Failure::PreconditionFailed, 412, QStringLiteral("412")};
        cards.remove(href);
        return {};
    }

    // Another device: changes the card with the given FN as fn says.
    void edit(const QByteArray &name, const std::function<QByteArray(QByteArray)> &fn)
    {
        for (Card &c : cards)
            if (c.body.contains("\r\nFN:" + name + "\r\n")) {
                c.body = fn(c.body);
                c.etag = newEtag();
                return;
            }
        qFatal("no card %s", name.constData());
    }
    QString hrefOf(const QByteArray &name) const
    {
        for (auto it = cards.begin(); it != cards.end(); ++it)
            if (it->body.contains("\r\nFN:" + name + "\r\n"))
                return it.key();
        return QString();
    }
    QByteArray newEtag() { return '"' + QByteArray::number(++serial_) + '"'; }

private:
    static carddav::Result unreachable()
    {
        return {carddav::Failure::Unreachable, 0, QStringLiteral("no route")};
    }
    void write()
    {
        if (beforeWrite)
            std::exchange(beforeWrite, nullptr)(*this);
        ++writes;
        if (writesLeft == 0 && goAway)
            down = true;
        else if (writesLeft == 0)
            throw Killed();
        if (writesLeft > 0)
            --writesLeft;
    }
    // The properties between VERSION and END in reverse order, as some servers keep them.
    static QByteArray rewritten(const QByteArray &body)
    {
        QList<QByteArray> lines = body.split('\n');
        lines.removeLast();
        QList<QByteArray> props = lines.mid(2, lines.size() - 3);
        std::reverse(props.begin(), props.end());
        return lines[0] + '\n' + lines[1] + '\n' + props.join('\n') + '\n' + lines.last() + '\n';
    }
    int serial_ = 0;
    QSet<QString> everSeen_;
};

QByteArray withLine(QByteArray body, const QByteArray &line)
{
    return body.replace("END:VCARD", line + "\r\nEND:VCARD");
}

// Replaces the value of the first property called name ("NOTE") or adds it.
QByteArray withProperty(QByteArray body, const QByteArray &name, const QByteArray &value)
{
    const qsizetype at = body.indexOf("\r\n" + name + ":");
    if (at < 0)
        return withLine(body, name + ':' + value);
    const qsizetype end = body.indexOf("\r\n", at + 2);
    return body.replace(at + 2, end - at - 2, name + ':' + value);
}

struct Folder {
    QTemporaryDir tmp;
    QString dir() const { return tmp.path() + QLatin1Char('/'); }
    QString file(int list) const { return dir() + (list == 1 ? "PorAddr1.lst" : "PorAddr2.lst"); }

    AddressBook load() const
    {
        AddressBook book;
        setListPaths(book, dir());
        LoadLists(book);
        return book;
    }
    void save(AddressBook &book) const { SaveLists(book); }
    // Everything in the folder, byte for byte.
    QMap<QString, QByteArray> files() const
    {
        QMap<QString, QByteArray> out;
        for (const QString &name : storetest::entriesOf(tmp.path()))
            out.insert(name, readBytes(dir() + name));
        return out;
    }
};

SyncResult sync(const Folder &f, MemoryRemote &remote, bool force = false, bool dryRun = false,
                const QString &list1 = QStringLiteral("/book/"),
                const QString &list2 = QStringLiteral("/book/"))
{
    SyncJob job;
    job.dir = f.dir();
    job.collections[0] = list1;
    job.collections[1] = list2;
    job.remote = &remote;
    job.force = force;
    job.dryRun = dryRun;
    SyncText english;
    english.japanese = false;
    return runSync(job, english);
}

QString counts(const SyncResult &r)
{
    return QStringLiteral("up %1 down %2 here %3 there %4 conflicts %5 skipped %6")
        .arg(r.uploaded)
        .arg(r.downloaded)
        .arg(r.deletedHere)
        .arg(r.deletedThere)
        .arg(r.conflicts)
        .arg(r.skipped);
}

const QString quiet = QStringLiteral("up 0 down 0 here 0 there 0 conflicts 0 skipped 0");

// The handles of a list, and one field more where asked, as "a b c".
QString shown(const AddressList &list, Field extra = Field::Handle)
{
    QStringList out;
    for (int i = 0; i < list.Count(); ++i) {
        QString s = QString::fromLatin1(list.fieldOf(i, Field::Handle));
        if (extra != Field::Handle)
            s += QLatin1Char('=') + QString::fromLatin1(list.fieldOf(i, extra));
        out.append(s);
    }
    return out.join(QLatin1Char(' '));
}

AddressEntry person(const char *handle, const char *memo = "", const char *number = "1")
{
    AddressEntry e;
    e.Number = number;
    e.Handle = handle;
    e.Memo = memo;
    return e;
}

// The messages the checks look for are the English ones.
const bool englishLocale = qputenv("LC_ALL", "C");

using Step = std::function<void(AddressBook &, MemoryRemote &)>;
using Check = std::function<void(const AddressBook &, const MemoryRemote &, const Folder &)>;

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Check)

class TestSyncEngine : public QObject {
    Q_OBJECT
private slots:
    void changes_data();
    void changes();
    void raceWithAnotherDevice_data();
    void raceWithAnotherDevice();
    void quietAfterFirstRun_data();
    void quietAfterFirstRun();
    void refusedCardIsNamedOnce();
    void safety_data();
    void safety();
    void killedRunConverges_data();
    void killedRunConverges();
    void orderKeys();
    void tool_data();
    void tool();

private:
    void changesWith(bool deltas);
    // Lists A B C D in list 1 and x y in list 2, synced once to an empty shared collection.
    void start(Folder &f, MemoryRemote &remote)
    {
        AddressBook book = f.load();
        for (const char *h : {"A", "B", "C", "D"})
            book.List1.Append(person(h));
        book.List2.Append(person("x"));
        book.List2.Append(person("y"));
        f.save(book);
        QCOMPARE(counts(sync(f, remote)), QStringLiteral("up 6 down 0 here 0 there 0 conflicts 0 skipped 0"));
    }
};

void TestSyncEngine::changes_data()
{
    QTest::addColumn<Step>("here");
    QTest::addColumn<Step>("there");
    QTest::addColumn<QString>("expectCounts");
    QTest::addColumn<int>("cardsTouched"); // cards of the server written, added or removed
    QTest::addColumn<QString>("list1");    // handles (=memo) after the run
    QTest::addColumn<QString>("list2");
    QTest::addColumn<Check>("check");

    const Step none = [](AddressBook &, MemoryRemote &) {};
    const Check nothing = [](const AddressBook &, const MemoryRemote &, const Folder &) {};
    const auto editHere = [](int i, Field field, const char *value) {
        return Step([=](AddressBook &b, MemoryRemote &) {
            AddressEntry e = b.List1.Entry(i);
            e.field(field) = value;
            b.List1.Replace(i, e);
        });
    };
    const char *fieldNames[] = {"number", "handle", "mail", "home", "icq", "postpet", "memo"};
    for (int f = 0; f < fieldCount; ++f) {
        const QString after = f == int(Field::Handle) ? "A B2 C D" : "A B C D";
        QTest::addRow("edit %s here: one update", fieldNames[f])
            << editHere(1, Field(f), f == int(Field::Handle) ? "B2" : "42") << none
            << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0" << 1 << after << "x y" << nothing;
    }
    QTest::newRow("edit there: one download") << none << Step([](AddressBook &, MemoryRemote &r) {
        r.edit("C", [](QByteArray b) { return withProperty(b, "NOTE", "n"); });
    }) << "up 0 down 1 here 0 there 0 conflicts 0 skipped 0"
                                              << 0 << "A= B= C=n D="
                                              << "x y" << nothing;
    QTest::newRow("move here: only the moved card") << Step([](AddressBook &b, MemoryRemote &) {
        b.List1.Swap(2, 3);
        b.List1.Swap(1, 2);
        b.List1.Swap(0, 1); // D to the front
    }) << none << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0"
                                                    << 1 << "D A B C"
                                                    << "x y" << nothing;
    QTest::newRow("move there: taken here") << none << Step([](AddressBook &, MemoryRemote &r) {
        r.edit("D", [](QByteArray b) { return withProperty(b, "X-PORADDR-ORDER", "1"); }); // before all
    }) << "up 0 down 1 here 0 there 0 conflicts 0 skipped 0"
                                            << 0 << "D A B C"
                                            << "x y" << nothing;
    QTest::newRow("delete here: exactly that card")
        << Step([](AddressBook &b, MemoryRemote &) { b.List1.Delete(2); }) << none
        << "up 0 down 0 here 0 there 1 conflicts 0 skipped 0" << 1 << "A B D"
        << "x y" << Check([](const AddressBook &, const MemoryRemote &r, const Folder &) {
               QVERIFY(r.hrefOf("C").isEmpty());
               QCOMPARE(r.cards.size(), 5);
           });
    QTest::newRow("delete there") << none << Step([](AddressBook &, MemoryRemote &r) {
        r.cards.remove(r.hrefOf("y"));
    }) << "up 0 down 0 here 1 there 0 conflicts 0 skipped 0"
                                  << 0 << "A B C D"
                                  << "x" << nothing;
    QTest::newRow("two identical entries: two cards") << Step([](AddressBook &b, MemoryRemote &) {
        b.List2.Append(person("z"));
        b.List2.Append(person("z"));
    }) << none << "up 2 down 0 here 0 there 0 conflicts 0 skipped 0"
                                                      << 2 << "A B C D"
                                                      << "x y z z" << nothing;
    QTest::newRow("different fields on both sides: both kept")
        << editHere(1, Field::Mail, "b@x") << Step([](AddressBook &, MemoryRemote &r) {
               r.edit("B", [](QByteArray b) { return withProperty(b, "NOTE", "there"); });
           })
        << "up 1 down 1 here 0 there 0 conflicts 0 skipped 0" << 1 << "A= B=there C= D="
        << "x y" << Check([](const AddressBook &b, const MemoryRemote &r, const Folder &) {
               QCOMPARE(b.List1.fieldOf(1, Field::Mail), QByteArray("b@x"));
               QVERIFY(r.cards[r.hrefOf("B")].body.contains("EMAIL;TYPE=INTERNET:b@x"));
               QVERIFY(r.cards[r.hrefOf("B")].body.contains("NOTE:there"));
           });
    QTest::newRow("same field on both sides: this side wins, the server's card saved")
        << editHere(1, Field::Memo, "here") << Step([](AddressBook &, MemoryRemote &r) {
               r.edit("B", [](QByteArray b) { return withProperty(b, "NOTE", "there"); });
           })
        << "up 1 down 0 here 0 there 0 conflicts 1 skipped 0" << 1 << "A= B=here C= D="
        << "x y" << Check([](const AddressBook &, const MemoryRemote &r, const Folder &f) {
               QVERIFY(r.cards[r.hrefOf("B")].body.contains("NOTE:here"));
               const QByteArray saved = readBytes(f.dir() + syncstate::conflictsFileName());
               QVERIFY(saved.contains("NOTE:there"));
               QCOMPARE(saved.count("BEGIN:VCARD"), 1);
           });
    QTest::newRow("deleted here, changed there: comes back")
        << Step([](AddressBook &b, MemoryRemote &) { b.List1.Delete(1); })
        << Step([](AddressBook &, MemoryRemote &r) {
               r.edit("B", [](QByteArray b) { return withProperty(b, "NOTE", "kept"); });
           })
        << "up 0 down 1 here 0 there 0 conflicts 0 skipped 0" << 0 << "A= B=kept C= D="
        << "x y" << nothing;
    QTest::newRow("changed here, deleted there: comes back")
        << editHere(1, Field::Memo, "mine")
        << Step([](AddressBook &, MemoryRemote &r) { r.cards.remove(r.hrefOf("B")); })
        << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0" << 1 << "A= B=mine C= D="
        << "x y" << nothing;
    QTest::newRow("properties the lists lack stay on the card")
        << editHere(1, Field::Memo, "m") << Step([](AddressBook &, MemoryRemote &r) {
               r.edit("B", [](QByteArray b) {
                   b = withLine(withLine(b, "TEL;TYPE=CELL:090-1234"), "ADR;TYPE=HOME:;;1-2 Kita;Sapporo;;;");
                   return withProperty(b, "N", "Yamada;Taro;;;"); // FN still gives the handle
               });
           })
        << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0" << 1 << "A= B=m C= D="
        << "x y" << Check([](const AddressBook &, const MemoryRemote &r, const Folder &) {
               const QByteArray body = r.cards[r.hrefOf("B")].body;
               QVERIFY(body.contains("TEL;TYPE=CELL:090-1234"));
               QVERIFY(body.contains("ADR;TYPE=HOME:;;1-2 Kita;Sapporo;;;"));
               QVERIFY(body.contains("NOTE:m"));
               QVERIFY(body.contains("\r\nN:Yamada;Taro;;;\r\n"));
           });
    QTest::newRow("further mail addresses stay on the card")
        << editHere(1, Field::Mail, "new@x") << Step([](AddressBook &, MemoryRemote &r) {
               r.edit("B", [](QByteArray b) {
                   return withLine(withLine(b, "EMAIL;TYPE=INTERNET:b@x"), "EMAIL;TYPE=WORK:work@x");
               });
           })
        << "up 1 down 0 here 0 there 0 conflicts 1 skipped 0" << 1 << "A B C D"
        << "x y" << Check([](const AddressBook &b, const MemoryRemote &r, const Folder &) {
               const QByteArray body = r.cards[r.hrefOf("B")].body;
               QCOMPARE(b.List1.fieldOf(1, Field::Mail), QByteArray("new@x"));
               QVERIFY(body.contains("EMAIL;TYPE=INTERNET:new@x"));
               QVERIFY(!body.contains("b@x"));
               QVERIFY(body.contains("EMAIL;TYPE=WORK:work@x"));
           });
    QTest::newRow("card of another device, without order or category: list 2, at its end")
        << none << Step([](AddressBook &, MemoryRemote &r) {
               r.cards["/book/phone.vcf"] = {r.newEtag(),
                                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone\r\nFN:p\r\n"
                                             "TEL:1\r\nEND:VCARD\r\n"};
           })
        << "up 1 down 1 here 0 there 0 conflicts 0 skipped 0" << 1 << "A B C D"
        << "x y p" << Check([](const AddressBook &, const MemoryRemote &r, const Folder &) {
               QVERIFY(r.cards["/book/phone.vcf"].body.contains("TEL:1"));
               QVERIFY(r.cards["/book/phone.vcf"].body.contains("X-PORADDR-ORDER:"));
           });
    QTest::newRow("new on both sides, identical: one entry, one card")
        << Step([](AddressBook &b, MemoryRemote &) { b.List2.Append(person("same")); })
        << Step([](AddressBook &, MemoryRemote &r) {
               r.cards["/book/s.vcf"] = {r.newEtag(), "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:s\r\nFN:same\r\n"
                                                      "NOTE:\r\nEND:VCARD\r\n"};
           })
        << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0" << 1 << "A B C D"
        << "x y same" << Check([](const AddressBook &, const MemoryRemote &r, const Folder &) {
               QCOMPARE(r.cards.size(), 7);
           });
}

void TestSyncEngine::changes()
{
    for (const bool deltas : {false, true}) {
        changesWith(deltas);
        if (QTest::currentTestFailed()) {
            qWarning("with sync tokens: %s", deltas ? "yes" : "no");
            return;
        }
    }
}

void TestSyncEngine::changesWith(bool deltas)
{
    QFETCH(Step, here);
    QFETCH(Step, there);
    QFETCH(QString, expectCounts);
    QFETCH(int, cardsTouched);
    QFETCH(QString, list1);
    QFETCH(QString, list2);
    QFETCH(Check, check);

    Folder f;
    MemoryRemote remote;
    remote.deltas = deltas;
    start(f, remote);
    AddressBook book = f.load();
    here(book, remote);
    f.save(book);
    there(book, remote);

    // A dry run says the same and changes nothing.
    const QMap<QString, QByteArray> filesBefore = f.files();
    const QMap<QString, MemoryRemote::Card> cardsBefore = remote.cards;
    const int writesBefore = remote.writes;
    const SyncResult dry = sync(f, remote, false, true);
    QCOMPARE(counts(dry), expectCounts);
    QVERIFY(!dry.notes.isEmpty());
    QCOMPARE(f.files(), filesBefore);
    QCOMPARE(remote.writes, writesBefore);

    const SyncResult r = sync(f, remote);
    QCOMPARE(counts(r), expectCounts);
    int touched = 0;
    for (auto it = remote.cards.begin(); it != remote.cards.end(); ++it)
        touched += !cardsBefore.contains(it.key()) || cardsBefore[it.key()].etag != it->etag;
    for (auto it = cardsBefore.begin(); it != cardsBefore.end(); ++it)
        touched += !remote.cards.contains(it.key());
    const AddressBook after = f.load();
    const Field extra = list1.contains('=') ? Field::Memo : Field::Handle;
    QCOMPARE(shown(after.List1, extra), list1);
    QCOMPARE(shown(after.List2), list2);
    check(after, remote, f);
    QCOMPARE(touched, cardsTouched);

    QCOMPARE(counts(sync(f, remote)), quiet);
    // A second machine with nothing gets the same files.
    Folder other;
    sync(other, remote);
    QCOMPARE(readBytes(other.file(1)), readBytes(f.file(1)));
    QCOMPARE(readBytes(other.file(2)), readBytes(f.file(2)));
    QCOMPARE(counts(sync(f, remote)), quiet);
}

void TestSyncEngine::raceWithAnotherDevice_data()
{
    QTest::addColumn<Step>("here");
    QTest::addColumn<QString>("expectCounts");
    QTest::addColumn<QString>("list1");
    const auto noteOnB = [](MemoryRemote &r) {
        r.edit("B", [](QByteArray b) { return withProperty(b, "NOTE", "late"); });
    };
    QTest::newRow("card changed before our update: merged") << Step([=](AddressBook &b, MemoryRemote &r) {
        AddressEntry e = b.List1.Entry(1);
        e.Mail = "b@x";
        b.List1.Replace(1, e);
        r.beforeWrite = noteOnB;
    }) << "up 1 down 1 here 0 there 0 conflicts 0 skipped 0"
                                                            << "A= B=late C= D=";
    QTest::newRow("card changed before our deletion: comes back")
        << Step([=](AddressBook &b, MemoryRemote &r) {
               b.List1.Delete(1);
               r.beforeWrite = noteOnB;
           })
        << "up 0 down 1 here 0 there 0 conflicts 0 skipped 0"
        << "A= B=late C= D=";
    QTest::newRow("card deleted before our update: made again") << Step([=](AddressBook &b, MemoryRemote &r) {
        b.List1.Replace(1, person("B", "mine"));
        r.beforeWrite = [](MemoryRemote &m) { m.cards.remove(m.hrefOf("B")); };
    }) << "up 1 down 0 here 0 there 0 conflicts 0 skipped 0"
                                                                << "A= B=mine C= D=";
}

void TestSyncEngine::raceWithAnotherDevice()
{
    QFETCH(Step, here);
    QFETCH(QString, expectCounts);
    QFETCH(QString, list1);
    Folder f;
    MemoryRemote remote;
    start(f, remote);
    AddressBook book = f.load();
    here(book, remote);
    f.save(book);
    QCOMPARE(counts(sync(f, remote)), expectCounts);
    QCOMPARE(shown(f.load().List1, Field::Memo), list1);
    QCOMPARE(counts(sync(f, remote)), quiet);
    QCOMPARE(remote.cards.size(), 6);
}

void TestSyncEngine::quietAfterFirstRun_data()
{
    QTest::addColumn<bool>("rewrite");
    QTest::addColumn<bool>("move");
    QTest::addColumn<bool>("noEtag");
    QTest::addColumn<bool>("separate"); // one collection for each list
    QTest::newRow("plain") << false << false << false << false;
    QTest::newRow("server reorders properties") << true << false << false << false;
    QTest::newRow("server reorders, says no etag") << true << false << true << false;
    QTest::newRow("server moves new cards") << false << true << false << false;
    QTest::newRow("one collection a list") << false << false << false << true;
}

void TestSyncEngine::quietAfterFirstRun()
{
    QFETCH(bool, rewrite);
    QFETCH(bool, move);
    QFETCH(bool, noEtag);
    QFETCH(bool, separate);
    Folder f;
    MemoryRemote remote;
    remote.rewrite = rewrite;
    remote.move = move;
    remote.noEtag = noEtag;
    const QString two = separate ? QStringLiteral("/book/two/") : QStringLiteral("/book/");
    const QString one = separate ? QStringLiteral("/book/one/") : QStringLiteral("/book/");
    AddressBook book = f.load();
    storetest::fillList(book.List1, 12);
    storetest::fillList(book.List2, 5);
    book.List2.Append(book.List2.Entry(0)); // the same person twice
    f.save(book);
    const QByteArray list1 = readBytes(f.file(1)), list2 = readBytes(f.file(2));
    QCOMPARE(counts(sync(f, remote, false, false, one, two)),
             QStringLiteral("up 18 down 0 here 0 there 0 conflicts 0 skipped 0"));
    QCOMPARE(remote.cards.size(), 18);
    const int writes = remote.writes;
    QCOMPARE(counts(sync(f, remote, false, false, one, two)), quiet);
    QCOMPARE(counts(sync(f, remote, false, false, one, two)), quiet);
    QCOMPARE(remote.writes, writes);
    QCOMPARE(readBytes(f.file(1)), list1);
    QCOMPARE(readBytes(f.file(2)), list2);

    Folder other;
    QCOMPARE(counts(sync(other, remote, false, false, one, two)),
             QStringLiteral("up 0 down 18 here 0 there 0 conflicts 0 skipped 0"));
    QCOMPARE(readBytes(other.file(1)), list1);
    QCOMPARE(readBytes(other.file(2)), list2);
    QCOMPARE(remote.writes, writes);
}

void TestSyncEngine::refusedCardIsNamedOnce()
{
    Folder f;
    MemoryRemote remote;
    start(f, remote);
    remote.cards["/book/emoji.vcf"] = {remote.newEtag(),
                                       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:e\r\nFN:Ann \xF0\x9F\x98\x80\r\n"
                                       "END:VCARD\r\n"};
    remote.cards["/book/broken.vcf"] = {remote.newEtag(), "BEGIN:VCARD\r\nVERSION:9.9\r\nEND:VCARD\r\n"};
    // The card of a person known here turns into text CP932 cannot hold: the entry stays as it was.
    remote.edit("B", [](QByteArray b) { return withProperty(b, "NOTE", "\xF0\x9F\x98\x80"); });
    const SyncResult r = sync(f, remote);
    QCOMPARE(counts(r), QStringLiteral("up 0 down 0 here 0 there 0 conflicts 0 skipped 3"));
    QCOMPARE(exitCodeOf(r), int(syncexit::Partly));
    const QString notes = r.notes.join('\n');
    QVERIFY2(notes.contains("\"Ann \U0001F600\" not taken into the list: its handle holds characters CP932"),
             qPrintable(notes));
    QVERIFY2(notes.contains("/book/broken.vcf"), qPrintable(notes));
    QVERIFY(!notes.contains('?'));
    QCOMPARE(shown(f.load().List1), QStringLiteral("A B C D"));
    QCOMPARE(shown(f.load().List2), QStringLiteral("x y"));

    // Refusals are not said again while the cards stay as they are; the broken card is.
    const SyncResult again = sync(f, remote);
    QCOMPARE(counts(again), QStringLiteral("up 0 down 0 here 0 there 0 conflicts 0 skipped 1"));
    QVERIFY(!again.notes.join('\n').contains("Ann"));
    remote.cards.remove("/book/broken.vcf");
    QCOMPARE(exitCodeOf(sync(f, remote)), int(syncexit::Ok));

    // A card the server will not store is named; the entry stays and goes up once it is taken.
    AddressBook book = f.load();
    book.List2.Append(person("Q"));
    f.save(book);
    remote.refused = "FN:Q";
    const SyncResult refused = sync(f, remote);
    QCOMPARE(counts(refused), QStringLiteral("up 0 down 0 here 0 there 0 conflicts 0 skipped 1"));
    QVERIFY2(refused.notes.join('\n').contains("\"Q\": upload failed (403 Forbidden)"),
             qPrintable(refused.notes.join('\n')));
    QCOMPARE(shown(f.load().List2), QStringLiteral("x y Q"));
    remote.refused.clear();
    QCOMPARE(counts(sync(f, remote)), QStringLiteral("up 1 down 0 here 0 there 0 conflicts 0 skipped 0"));
    QCOMPARE(counts(sync(f, remote)), quiet);
    QCOMPARE(remote.cards.size(), 8); // 6 + the refused one + Q
    QVERIFY(remote.cards["/book/emoji.vcf"].body.contains("\xF0\x9F\x98\x80"));
    QVERIFY(remote.cards[remote.hrefOf("B")].body.contains("NOTE:\xF0\x9F\x98\x80"));
}

void TestSyncEngine::safety_data()
{
    QTest::addColumn<Step>("change");
    QTest::addColumn<int>("stop");
    QTest::addColumn<QString>("forced"); // counts with --force ("" when --force stops too)
    QTest::addColumn<QString>("why");    // in the message

    QTest::newRow("server unreachable")
        << Step([](AddressBook &, MemoryRemote &r) { r.down = true; }) << int(SyncStop::Unreachable)
        << QString() << QStringLiteral("no route");
    QTest::newRow("collection empty though cards were known")
        << Step([](AddressBook &, MemoryRemote &r) { r.cards.clear(); }) << int(SyncStop::Safety)
        << "up 0 down 0 here 24 there 0 conflicts 0 skipped 0" << QStringLiteral("is empty");
    QTest::newRow("collection emptied, told by sync token") << Step([](AddressBook &, MemoryRemote &r) {
        r.deltas = true;
        r.cards.clear();
    }) << int(SyncStop::Safety) << "up 0 down 0 here 24 there 0 conflicts 0 skipped 0"
                                                            << QStringLiteral("is empty");
    QTest::newRow("list file missing")
        << Step([](AddressBook &b, MemoryRemote &) { QFile::remove(b.List1Path); }) << int(SyncStop::Safety)
        << "up 0 down 0 here 0 there 20 conflicts 0 skipped 0" << QStringLiteral("is missing");
    QTest::newRow("list file is a folder") << Step([](AddressBook &b, MemoryRemote &) {
        QFile::remove(b.List1Path);
        QDir().mkdir(b.List1Path);
    }) << int(SyncStop::Safety) << "up 0 down 0 here 0 there 20 conflicts 0 skipped 0"
                                           << QStringLiteral("is missing");
    QTest::newRow("state file unreadable") << Step([](AddressBook &b, MemoryRemote &) {
        storetest::writeBytes(QFileInfo(b.List1Path).path() + "/PorAddrSync.state", "{ not json");
    }) << int(SyncStop::FileError) << QString()
                                           << QStringLiteral("PorAddrSync.state");
    QTest::newRow("more than half deleted here") << Step([](AddressBook &b, MemoryRemote &) {
        for (int i = 0; i < 11; ++i)
            b.List1.Delete(0);
    }) << int(SyncStop::Safety) << "up 0 down 0 here 0 there 11 conflicts 0 skipped 0"
                                                 << QStringLiteral("cards on the server");
    QTest::newRow("more than half deleted there") << Step([](AddressBook &, MemoryRemote &r) {
        const QStringList hrefs = r.cards.keys();
        for (int i = 0; i < 13; ++i)
            r.cards.remove(hrefs[i]);
    }) << int(SyncStop::Safety) << "up 0 down 0 here 13 there 0 conflicts 0 skipped 0"
                                                  << QStringLiteral("entries here");
}

void TestSyncEngine::safety()
{
    QFETCH(Step, change);
    QFETCH(int, stop);
    QFETCH(QString, forced);
    QFETCH(QString, why);
    Folder f;
    MemoryRemote remote;
    AddressBook book = f.load();
    storetest::fillList(book.List1, 20);
    storetest::fillList(book.List2, 4);
    f.save(book);
    sync(f, remote);
    book = f.load();
    change(book, remote);
    if (book.List1.changed())
        f.save(book);
    const QMap<QString, QByteArray> files = f.files();
    const QMap<QString, MemoryRemote::Card> cards = remote.cards;
    const int writes = remote.writes;

    const SyncResult r = sync(f, remote);
    QCOMPARE(int(r.stop), stop);
    QVERIFY2(r.stopMessage.contains(why), qPrintable(r.stopMessage));
    QCOMPARE(f.files(), files);
    QCOMPARE(remote.writes, writes);
    QCOMPARE(exitCodeOf(r), stop == int(SyncStop::Safety) ? 4 : stop == int(SyncStop::Unreachable) ? 3 : 6);
    if (forced.isEmpty()) {
        QCOMPARE(int(sync(f, remote, true).stop), stop);
        return;
    }
    QCOMPARE(counts(sync(f, remote, true)), forced);
    QCOMPARE(counts(sync(f, remote)), quiet);
}

void TestSyncEngine::killedRunConverges_data()
{
    QTest::addColumn<int>("writesBeforeKill"); // -1: killed after the lists, before the state
    QTest::addColumn<bool>("editedMeanwhile"); // a new entry is changed before the next run
    QTest::addColumn<bool>("serverGoesAway");  // instead of the sync being killed
    for (int n = 0; n < 6; ++n) {
        QTest::addRow("killed after %d server writes", n) << n << false << false;
        QTest::addRow("killed after %d server writes, new entry edited", n) << n << true << false;
        QTest::addRow("server gone after %d writes", n) << n << false << true;
    }
    QTest::newRow("killed before the state is written") << -1 << false << false;
}

void TestSyncEngine::killedRunConverges()
{
    QFETCH(int, writesBeforeKill);
    QFETCH(bool, editedMeanwhile);
    QFETCH(bool, serverGoesAway);
    Folder f;
    MemoryRemote remote;
    start(f, remote);
    // Three new entries, one edit, one deletion here; one edit and one new card there.
    AddressBook book = f.load();
    book.List1.Append(person("E"));
    book.List1.Append(person("F"));
    book.List2.Append(person("z"));
    book.List1.Replace(0, person("A", "edited"));
    book.List1.Delete(2);
    f.save(book);
    remote.edit("D", [](QByteArray b) { return withProperty(b, "NOTE", "far"); });
    remote.cards["/book/n.vcf"] = {remote.newEtag(), "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:n\r\nFN:N\r\n"
                                                     "CATEGORIES:ぽるておともだち\r\nEND:VCARD\r\n"};
    const QByteArray stateBefore = readBytes(f.dir() + syncstate::fileName());

    if (serverGoesAway) {
        remote.writesLeft = writesBeforeKill;
        remote.goAway = true;
        const SyncResult r = sync(f, remote);
        QCOMPARE(exitCodeOf(r), int(syncexit::Unreachable));
        QCOMPARE(r.stopMessage, QStringLiteral("no route"));
        remote.down = false;
        remote.writesLeft = -1;
    } else if (writesBeforeKill >= 0) {
        remote.writesLeft = writesBeforeKill;
        bool killed = false;
        try {
            sync(f, remote);
        } catch (const Killed &) {
            killed = true;
        }
        QVERIFY(killed);
        remote.writesLeft = -1;
        if (editedMeanwhile) {
            book = f.load();
            book.List1.Replace(3, person("E", "later"));
            f.save(book);
        }
    } else {
        sync(f, remote);
        storetest::writeBytes(f.dir() + syncstate::fileName(), stateBefore);
    }
    sync(f, remote);
    QCOMPARE(counts(sync(f, remote)), quiet);
    const AddressBook after = f.load();
    QCOMPARE(shown(after.List1, Field::Memo), editedMeanwhile
                                                  ? QStringLiteral("A=edited B= D=far E=later F= N=")
                                                  : QStringLiteral("A=edited B= D=far E= F= N="));
    QCOMPARE(shown(after.List2), QStringLiteral("x y z"));
    QCOMPARE(remote.cards.size(), 9); // 6 - C + E F z N
}

void TestSyncEngine::orderKeys()
{
    // A move changes one card; many insertions at one place keep keys short.
    Folder f;
    MemoryRemote remote;
    AddressBook book = f.load();
    storetest::fillList(book.List2, 300);
    f.save(book);
    sync(f, remote);
    for (const MemoryRemote::Card &c : remote.cards) {
        const qsizetype at = c.body.indexOf("X-PORADDR-ORDER:");
        QVERIFY(c.body.indexOf("\r\n", at) - at - 16 <= 3);
    }
    book = f.load();
    for (int i = 0; i < 40; ++i)
        book.List2.Append(sampleEntry(1000 + i));
    book.List2.Swap(0, 299);
    f.save(book);
    QCOMPARE(counts(sync(f, remote)), QStringLiteral("up 42 down 0 here 0 there 0 conflicts 0 skipped 0"));
    Folder other;
    sync(other, remote);
    QCOMPARE(readBytes(other.file(2)), readBytes(f.file(2)));
}

void TestSyncEngine::tool_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("programRuns");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // on standard error (or out for --help and setup's books)

    const QStringList setup{"setup", "http://dav.example/", "--user",
                            "me",    "--password-command",  "echo secret"};
    QTest::newRow("help") << QStringList{"--help"} << false << 0
                          << "poraddr-sync [--dry-run] [--force] [FOLDER]";
    QTest::newRow("unknown option") << QStringList{"--fast"} << false << 2 << "unknown option: --fast";
    QTest::newRow("no setup yet") << QStringList{} << false << 2 << "poraddr-sync setup URL";
    QTest::newRow("setup, shared first book")
        << setup << false << 0
        << "list 1 syncs with http://dav.example/book/, list 2 with http://dav.example/book/";
    QTest::newRow("setup, books by name")
        << setup + QStringList{"--list1", "Other", "--list2", "Book"} << false << 0
        << "list 1 syncs with http://dav.example/other/, list 2 with http://dav.example/book/";
    QTest::newRow("setup, unknown book")
        << setup + QStringList{"--list1", "New"} << false << 2 << "no address book New";
    QTest::newRow("setup, made") << setup + QStringList{"--list1", "New", "--create"} << false << 0
                                 << "list 1 syncs with http://dav.example/New/";
    QTest::newRow("setup, made in the home of an account without books")
        << QStringList{"setup",
                       "http://empty.example/",
                       "--user",
                       "me",
                       "--password-command",
                       "echo secret",
                       "--list1",
                       "New",
                       "--create"}
        << false << 0 << "list 1 syncs with http://empty.example/me/New/";
    QTest::newRow("sync") << QStringList{"setup-first"} << false << 0
                          << "uploaded 1, downloaded 0, deleted 0 here, deleted 0 there, conflicts 0";
    QTest::newRow("dry run") << QStringList{"setup-first", "--dry-run"} << false << 0
                             << "dry run (nothing changed): uploaded 1";
    QTest::newRow("program runs") << QStringList{"setup-first"} << true << 5
                                  << "PorAddr is running for this folder";
    QTest::newRow("server down") << QStringList{"setup-first", "down"} << false << 3 << "no route";
}

void TestSyncEngine::tool()
{
    QFETCH(QStringList, args);
    QFETCH(bool, programRuns);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    Folder f;
    AddressBook book = f.load();
    book.List1.Append(person("A"));
    f.save(book);
    MemoryRemote remote;
    QString passwordSeen;
    QStringList made;
    const ConnectionFactory factory = [&](const SyncConfig &, const QString &password) {
        passwordSeen = password;
        SyncConnection c;
        struct Borrowed : carddav::Remote {
            MemoryRemote *r;
            carddav::Result list(const QString &u, const QByteArray &t, carddav::Listing &o) override
            {
                return r->list(u, t, o);
            }
            carddav::Result fetch(const QString &u, const QStringList &h, QList<carddav::RemoteCard> &o,
                                  QStringList &x) override
            {
                return r->fetch(u, h, o, x);
            }
            carddav::Result put(const QString &h, const QByteArray &b, const QByteArray &m,
                                carddav::RemoteCard &s) override
            {
                return r->put(h, b, m, s);
            }
            carddav::Result remove(const QString &h, const QByteArray &m) override { return r->remove(h, m); }
        };
        auto borrowed = std::make_unique<Borrowed>();
        borrowed->r = &remote;
        c.remote = std::move(borrowed);
        // An account at empty.example has no books yet, only its home set.
        c.discover = [](const QString &base, QList<AddressBookInfo> &books, QString &homeSet) {
            const bool empty = base.contains(QLatin1String("empty.example"));
            homeSet = empty ? "http://empty.example/me/" : "http://dav.example/";
            books.clear();
            if (!empty)
                books = {{"http://dav.example/book/", "Book", true},
                         {"http://dav.example/other/", "Other", false}};
            return carddav::Result();
        };
        c.createAddressBook = [&](const QString &url, const QString &) {
            made.append(url);
            return carddav::Result();
        };
        return c;
    };
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    if (args.value(0) == QLatin1String("setup-first")) {
        QBuffer ignored;
        ignored.open(QIODevice::WriteOnly);
        QCOMPARE(
            runSyncTool({"setup", "http://dav.example/", f.tmp.path()}, QString(), ignored, ignored, factory),
            0);
        args.removeFirst();
        if (args.removeAll("down"))
            remote.down = true;
    }
    DataFolderLock program;
    if (programRuns)
        QVERIFY(program.holdForProgram(f.dir(), 0));
    const int code = runSyncTool(args + QStringList{f.tmp.path()}, QString(), out, err, factory);
    const QString said = QString::fromUtf8(out.data() + err.data());
    QVERIFY2(said.contains(says), qPrintable(said));
    QCOMPARE(code, exitCode);
    if (args.value(0) == QLatin1String("setup") && exitCode == 0) {
        const QByteArray ini = readBytes(f.dir() + "PorAddrSync.ini");
        QVERIFY(ini.contains("PasswordCommand=echo secret"));
        QVERIFY(ini.contains("User=me"));
        QVERIFY(!ini.contains("=secret"));
        QCOMPARE(passwordSeen, QStringLiteral("secret"));
        QCOMPARE(made.isEmpty(), !args.contains("--create"));
    }
    if (args.contains("--dry-run") || exitCode != 0)
        QVERIFY(remote.cards.isEmpty());
}

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_syncengine.moc"
