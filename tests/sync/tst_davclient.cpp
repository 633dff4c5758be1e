#include "support/davserver.h"
#include "sync/davclient.h"
#include "sync/davxml.h"
#include "sync/synctool.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QSslError>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>

using carddav::DavClient;
using carddav::Failure;
using carddav::Listing;
using carddav::RemoteCard;
using carddav::Result;
using carddav::TlsPolicy;
using davtest::DavServer;
using davtest::DavServerKind;

Q_DECLARE_METATYPE(carddav::Failure)

namespace {

QByteArray card(const QString &uid, const QString &name, const QByteArray &note = {})
{
    QByteArray text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid.toUtf8() + "\r\nFN:" + name.toUtf8() +
                      "\r\nN:" + name.toUtf8() + ";;;;\r\n";
    if (!note.isEmpty())
        text += "NOTE:" + note + "\r\n";
    return text + "END:VCARD\r\n";
}

QStringList sortedHrefs(const QList<RemoteCard> &cards)
{
    QStringList hrefs;
    for (const RemoteCard &c : cards)
        hrefs.append(c.href);
    hrefs.sort();
    return hrefs;
}

QString pathOf(const QString &url)
{
    return QUrl(url).path();
}

// A small HTTP server on 127.0.0.1: it notes each whole request (request line, headers, body) and
// sends back what respond makes of it, then closes the connection.
class FakeServer : public QObject {
public:
    FakeServer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()); }
    QList<QByteArray> requestLines() const
    {
        QList<QByteArray> lines;
        for (const QByteArray &r : requests)
            lines.append(r.left(r.indexOf("\r\n")));
        return lines;
    }
    static QByteArray answer(const QByteArray &statusLine, const QByteArray &headers,
                             const QByteArray &body = {})
    {
        return "HTTP/1.1 " + statusLine + "\r\n" + headers +
               "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    std::function<QByteArray(const QByteArray &request)> respond;
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = pending_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray &line : buffer.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < end + 4 + length)
            return;
        const QByteArray request = buffer;
        pending_.remove(socket);
        requests.append(request);
        socket->write(respond(request));
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket *, QByteArray> pending_;
};

// fake answers every request with a redirect to the same path on target, or (target empty) to
// itself again; with refuseReports it answers a REPORT itself with that status, as a server
// without sync-collection and addressbook-multiget would.
void redirecting(FakeServer &fake, int status, const QString &target, int refuseReports = 0)
{
    fake.respond = [&fake, status, target, refuseReports](const QByteArray &request) {
        const QByteArray line = request.left(request.indexOf("\r\n"));
        if (refuseReports != 0 && line.startsWith("REPORT "))
            return FakeServer::answer(QByteArray::number(refuseReports) + " Refused", {});
        const QByteArray to =
            (target.isEmpty() ? fake.url() : target).toUtf8() + line.split(' ').value(1).mid(1);
        return FakeServer::answer(QByteArray::number(status) + " Moved", "Location: " + to + "\r\n");
    };
}

// fake gives answers in turn, the last one again once they run out.
void inTurn(FakeServer &fake, const QList<QByteArray> &answers)
{
    fake.respond = [&fake, answers](const QByteArray &) {
        return answers.value(std::min(fake.requests.size(), answers.size()) - 1);
    };
}

} // namespace

class TestDavClient : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DavServer> radicale_;
    std::unique_ptr<DavServer> xandikos_;
    std::unique_ptr<DavServer> bcrypt_;
    std::unique_ptr<DavServer> tls_; // Radicale over https, with one of two certificates of a test CA
    davtest::TestCertificates certificates_;
    QString certificate_[2], key_[2], fingerprint_[2];
    int served_ = 0; // which of them tls_ shows
    int books_ = 0;

    // tls_ showing certificate n, restarted on its port where it showed the other one.
    bool serve(int n)
    {
        if (served_ == n)
            return true;
        served_ = n;
        tls_->setTls(certificate_[n], key_[n]);
        return tls_->restart();
    }

    DavServer *server(const QString &name)
    {
        return name == QLatin1String("xandikos") ? xandikos_.get() : radicale_.get();
    }
    static void serverRows()
    {
        QTest::addColumn<QString>("server");
        QTest::newRow("radicale") << QStringLiteral("radicale");
        QTest::newRow("xandikos") << QStringLiteral("xandikos");
    }
    std::unique_ptr<DavClient> clientFor(DavServer *s, const QString &base = {})
    {
        auto client =
            std::make_unique<DavClient>(base.isEmpty() ? s->baseUrl() : base, s->user(), s->password());
        client->setTimeout(10000);
        return client;
    }
    // A fresh address book on s for the current test: its full URL, empty when it cannot be made.
    QString newBook(DavServer *s, DavClient &client, const QString &displayName = QStringLiteral("Test"))
    {
        const QString url = s->bookUrl(QStringLiteral("book%1").arg(++books_));
        const Result r = client.createAddressBook(url, displayName);
        if (!r.ok()) {
            qWarning("%s", qPrintable(r.message));
            return {};
        }
        return url;
    }

private slots:
    void initTestCase()
    {
        // Whatever proxy the environment names, the suite talks to 127.0.0.1 itself only.
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        radicale_ = std::make_unique<DavServer>(DavServerKind::Radicale);
        xandikos_ = std::make_unique<DavServer>(DavServerKind::Xandikos);
        bcrypt_ = std::make_unique<DavServer>(DavServerKind::RadicaleBcrypt, QStringLiteral("anna"),
                                              QStringLiteral("richtig"));
        for (DavServer *s : {radicale_.get(), xandikos_.get(), bcrypt_.get()})
            QVERIFY2(s->start(), qPrintable(s->errorString()));

        QVERIFY2(certificates_.makeAuthority(), qPrintable(certificates_.errorString()));
        for (int n = 0; n < 2; ++n) {
            QVERIFY2(certificates_.makeServer(QStringLiteral("server%1").arg(n), certificate_[n], key_[n]),
                     qPrintable(certificates_.errorString()));
            fingerprint_[n] = certificates_.fingerprint(certificate_[n]);
            QCOMPARE(fingerprint_[n].size(), 64);
        }
        tls_ = std::make_unique<DavServer>(DavServerKind::Radicale);
        tls_->setTls(certificate_[0], key_[0]);
        QVERIFY2(tls_->start(), qPrintable(tls_->errorString()));
        QVERIFY(tls_->baseUrl().startsWith(QLatin1String("https://127.0.0.1:")));
    }

    void cleanupTestCase()
    {
        radicale_.reset();
        xandikos_.reset();
        bcrypt_.reset();
        tls_.reset();
    }

    // https is checked against the system's authorities and those of a CA file; a pinned
    // certificate is trusted as it is, and only that one, even where an authority signed another.
    void tls_data()
    {
        QTest::addColumn<bool>("caFile");
        QTest::addColumn<int>("pinned"); // which certificate's fingerprint is pinned; -1: none
        QTest::addColumn<int>("served"); // which certificate the server shows
        QTest::addColumn<Failure>("failure");
        QTest::newRow("trusted through the CA file") << true << -1 << 0 << Failure::None;
        QTest::newRow("not trusted without the CA file") << false << -1 << 0 << Failure::Untrusted;
        QTest::newRow("pinned") << false << 0 << 0 << Failure::None;
        QTest::newRow("pinned and trusted") << true << 0 << 0 << Failure::None;
        QTest::newRow("pinned certificate changed") << false << 0 << 1 << Failure::Untrusted;
        QTest::newRow("pinned certificate changed to a trusted one") << true << 0 << 1 << Failure::Untrusted;
        QTest::newRow("another certificate of the CA") << true << -1 << 1 << Failure::None;
        QTest::newRow("other certificate pinned") << false << 1 << 1 << Failure::None;
    }
    void tls()
    {
        QFETCH(bool, caFile);
        QFETCH(int, pinned);
        QFETCH(int, served);
        QFETCH(Failure, failure);
        QVERIFY2(serve(served), qPrintable(tls_->errorString()));
        TlsPolicy policy;
        if (caFile)
            policy.caFile = certificates_.authorityFile();
        if (pinned >= 0) // as a user may copy it: upper case, in pairs
            for (int i = 0; i < 64; i += 2)
                policy.pinnedSha256 +=
                    (i ? QStringLiteral(":") : QString()) + fingerprint_[pinned].mid(i, 2).toUpper();
        DavClient client(tls_->baseUrl(), tls_->user(), tls_->password(), policy);
        client.setTimeout(10000);
        const qsizetype logged = tls_->output().count(" request for ");
        QList<carddav::AddressBookInfo> books;
        Result r = client.discover(books);
        QCOMPARE(r.failure, failure);
        if (failure == Failure::None) {
            const QString book = newBook(tls_.get(), client);
            QVERIFY(!book.isEmpty());
            RemoteCard stored;
            r = client.put(pathOf(book) + "t.vcf", card("t", "t"), {}, stored);
            QVERIFY2(r.ok(), qPrintable(r.message));
            Listing listing;
            r = client.list(book, {}, listing);
            QVERIFY2(r.ok(), qPrintable(r.message));
            QCOMPARE(sortedHrefs(listing.cards), QStringList{stored.href});
            QVERIFY(tls_->output().count(" request for ") > logged); // the server logs each request
            return;
        }
        QCOMPARE(r.fingerprint, fingerprint_[served]);
        QVERIFY2(r.message.contains(tls_->baseUrl()), qPrintable(r.message));
        QVERIFY2(r.message.contains(fingerprint_[served]), qPrintable(r.message));
        if (pinned >= 0) {
            QVERIFY2(r.message.contains(QLatin1String("certificate has changed")), qPrintable(r.message));
            QVERIFY2(r.message.contains(fingerprint_[pinned]), qPrintable(r.message));
        } else {
            QVERIFY2(r.message.contains(QLatin1String("not trusted")), qPrintable(r.message));
            const QString reason = QSslError(QSslError::UnableToGetLocalIssuerCertificate).errorString();
            QVERIFY2(r.message.contains(reason), qPrintable(r.message));
        }
        // Refused at the handshake: no request reached the server.
        QCOMPARE(tls_->output().count(" request for "), logged);
        RemoteCard stored;
        QCOMPARE(client.put(tls_->bookUrl("x") + "x.vcf", card("x", "x"), {}, stored).failure, failure);
    }

    // What the tool tells and keeps: setup shows an untrusted certificate's fingerprint and keeps
    // it once trusted; a sync run stops (exit 3) when the server shows another one, naming it.
    void toolTrust()
    {
        QVERIFY2(serve(0), qPrintable(tls_->errorString()));
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString ini = folder.filePath(QStringLiteral("PorAddrSync.ini"));
        QString said;
        const auto tool = [&](const QStringList &args) {
            QBuffer out, err;
            out.open(QIODevice::WriteOnly);
            err.open(QIODevice::WriteOnly);
            const int code =
                runSyncTool(args + QStringList{folder.path()}, QString(), out, err, makeConnection);
            said = QString::fromUtf8(out.data() + err.data());
            return code;
        };
        const auto kept = [&] {
            QFile file(ini);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QString base = tls_->baseUrl();
        const QStringList setup{"setup",   base, "--user", tls_->user(), "--list1", tls_->bookUrl("tool"),
                                "--create"};

        QCOMPARE(tool(setup), 3);
        QVERIFY2(said.contains(base), qPrintable(said));
        QVERIFY2(said.contains(fingerprint_[0]), qPrintable(said));
        QVERIFY2(said.contains("--trust-certificate " + fingerprint_[0]), qPrintable(said));
        QVERIFY(!kept().contains("TrustedCertificate=" + fingerprint_[0].toUtf8()));

        const int trusted = tool(setup + QStringList{"--trust-certificate", fingerprint_[0].toUpper()});
        QVERIFY2(trusted == 0, qPrintable(said));
        QVERIFY2(kept().contains("\nTrustedCertificate=" + fingerprint_[0].toUtf8()), kept().constData());
        QVERIFY(kept().contains("\nAllowPlainHttp=false"));
        QCOMPARE(tool({}), 0);
        // setup again without the option keeps the pin of the same server
        QCOMPARE(tool(setup), 0);
        QVERIFY2(kept().contains("\nTrustedCertificate=" + fingerprint_[0].toUtf8()), kept().constData());

        QVERIFY2(serve(1), qPrintable(tls_->errorString()));
        QCOMPARE(tool({}), 3);
        QVERIFY2(said.contains(fingerprint_[1]), qPrintable(said));
        QVERIFY2(said.contains(fingerprint_[0]), qPrintable(said));
        QVERIFY2(kept().contains("\nTrustedCertificate=" + fingerprint_[0].toUtf8()), kept().constData());

        // The authority's file instead: the new certificate is not pinned, so the file decides.
        QCOMPARE(tool(QStringList(setup) << "--ca-file" << certificates_.authorityFile()), 3); // still pinned
        QCOMPARE(tool(QStringList(setup) << "--ca-file" << certificates_.authorityFile()
                                         << "--trust-certificate" << fingerprint_[1]),
                 0);
        QVERIFY2(kept().contains("\nCertificateAuthorities=" + certificates_.authorityFile().toUtf8()),
                 kept().constData());
        QCOMPARE(tool({}), 0);

        QCOMPARE(tool(QStringList(setup) << "--trust-certificate"
                                         << "12ab"),
                 2);
    }

    void unreadableCaFile()
    {
        TlsPolicy policy;
        policy.caFile = QStringLiteral("/nonexistent/ca.pem");
        DavClient client(tls_->baseUrl(), tls_->user(), tls_->password(), policy);
        QList<carddav::AddressBookInfo> books;
        const Result r = client.discover(books);
        QCOMPARE(r.failure, Failure::Unreachable);
        QVERIFY2(r.message.contains(policy.caFile), qPrintable(r.message));
    }

    // Plain http only to this machine unless allowed; https anywhere.
    void plainHttpPolicy_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("127.0.0.1") << "http://127.0.0.1:5232/" << false << true;
        QTest::newRow("127.8.9.10") << "http://127.8.9.10/" << false << true;
        QTest::newRow("::1") << "http://[::1]:5232/" << false << true;
        QTest::newRow("localhost") << "http://LocalHost/dav/" << false << true;
        QTest::newRow("other machine") << "http://192.0.2.1/" << false << false;
        QTest::newRow("name ending in localhost") << "http://evil-localhost/" << false << false;
        QTest::newRow("localhost subdomain") << "http://localhost.example/" << false << false;
        QTest::newRow("other machine, allowed") << "http://192.0.2.1/" << true << true;
        QTest::newRow("https to another machine") << "https://192.0.2.1/" << false << true;
    }
    void plainHttpPolicy()
    {
        QFETCH(QString, url);
        QFETCH(bool, allow);
        QFETCH(bool, allowed);
        TlsPolicy policy;
        policy.allowPlainHttp = allow;
        QCOMPARE(carddav::plainHttpAllowed(QUrl(url), policy), allowed);
    }

    // The refusal comes before any connection. Every connection the client makes meanwhile goes
    // to a proxy on 127.0.0.1 that answers nothing, so the other machine is never contacted
    // whatever the client does; without the refusal the request would show there.
    void plainHttpRefused_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::newRow("not allowed") << false;
        QTest::newRow("allowed") << true;
    }
    void plainHttpRefused()
    {
        QFETCH(bool, allow);
        FakeServer proxy;
        inTurn(proxy, {FakeServer::answer("404 Not Found", {})});
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), QUrl(proxy.url()).port()));
        const auto restore = qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); });
        TlsPolicy policy;
        policy.allowPlainHttp = allow;
        DavClient client(QStringLiteral("http://192.0.2.1/"), QStringLiteral("user"), QStringLiteral("pw"),
                         policy);
        client.setTimeout(5000);
        QList<carddav::AddressBookInfo> books;
        const Result r = client.discover(books);
        if (allow) {
            QVERIFY(r.failure != Failure::Unencrypted);
            QVERIFY(!proxy.requests.isEmpty());
            QVERIFY2(proxy.requests[0].startsWith("PROPFIND http://192.0.2.1/.well-known/carddav "),
                     proxy.requests[0].constData());
            return;
        }
        QCOMPARE(r.failure, Failure::Unencrypted);
        QVERIFY2(r.message.contains(QLatin1String("http://192.0.2.1/")), qPrintable(r.message));
        QVERIFY2(r.message.contains(QLatin1String("in clear")), qPrintable(r.message));
        QTest::qWait(200); // a connection to the proxy would have been accepted by now
        QVERIFY(proxy.requests.isEmpty());
        RemoteCard stored;
        QCOMPARE(client.put(QStringLiteral("/b/x.vcf"), card("x", "x"), {}, stored).failure,
                 Failure::Unencrypted);
        QVERIFY(proxy.requests.isEmpty());
    }

    void discovery_data() { serverRows(); }
    void discovery()
    {
        QFETCH(QString, server);
        DavServer *s = this->server(server);
        auto client = clientFor(s);
        const QString name = QStringLiteral("家族 & <friends>");
        const QString url = newBook(s, *client, name);
        QVERIFY(!url.isEmpty());

        QList<carddav::AddressBookInfo> books;
        QString homeSet;
        const Result r = client->discover(books, &homeSet);
        QVERIFY2(r.ok(), qPrintable(r.message));
        // Where setup makes a new book for an account that has none.
        QCOMPARE(homeSet, s->baseUrl() + s->homePath().mid(1));
        const auto found = std::find_if(books.cbegin(), books.cend(),
                                        [&](const carddav::AddressBookInfo &b) { return b.url == url; });
        QVERIFY2(found != books.cend(), qPrintable(url));
        QCOMPARE(found->displayName, name);
        QVERIFY(found->supportsSync);
        for (const auto &b : books)
            QVERIFY2(b.url.startsWith(s->baseUrl() + s->homePath().mid(1)), qPrintable(b.url));
    }

    void preconditions_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<Failure>("sameUid"); // a second card with the UID of the first
        QTest::newRow("radicale") << QStringLiteral("radicale") << Failure::Refused; // 409
        QTest::newRow("xandikos") << QStringLiteral("xandikos") << Failure::None;
    }
    void preconditions()
    {
        QFETCH(QString, server);
        QFETCH(Failure, sameUid);
        DavServer *s = this->server(server);
        auto client = clientFor(s);
        const QString book = newBook(s, *client);
        QVERIFY(!book.isEmpty());
        const QString href = pathOf(book) + QStringLiteral("p1.vcf");

        RemoteCard first;
        Result r = client->put(href, card(QStringLiteral("p1"), QStringLiteral("First")), {}, first);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(first.href, href);
        QVERIFY(first.etag.startsWith('"'));

        // A second new card at the same href is refused: the first one is there.
        RemoteCard again;
        r = client->put(href, card(QStringLiteral("p1"), QStringLiteral("Other")), {}, again);
        QCOMPARE(r.failure, Failure::PreconditionFailed);
        QCOMPARE(r.status, 412);
        QVERIFY2(r.message.contains(QStringLiteral("p1.vcf")), qPrintable(r.message));

        RemoteCard twin;
        r = client->put(pathOf(book) + "twin.vcf", card(QStringLiteral("p1"), QStringLiteral("Twin")), {},
                        twin);
        QCOMPARE(r.failure, sameUid);
        if (!r.ok())
            QVERIFY2(r.message.contains(QStringLiteral("twin.vcf")), qPrintable(r.message));

        RemoteCard second;
        r = client->put(href, card(QStringLiteral("p1"), QStringLiteral("Second")), first.etag, second);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(!second.etag.isEmpty());
        QVERIFY(second.etag != first.etag);

        RemoteCard stale;
        r = client->put(href, card(QStringLiteral("p1"), QStringLiteral("Stale")), first.etag, stale);
        QCOMPARE(r.failure, Failure::PreconditionFailed);

        QList<RemoteCard> fetched;
        QStringList failed;
        QVERIFY(client->fetch(book, {href}, fetched, failed).ok());
        QCOMPARE(fetched.size(), 1);
        QVERIFY(fetched[0].body.contains("FN:Second\r\n"));
        QCOMPARE(fetched[0].etag, second.etag);

        QCOMPARE(client->remove(href, first.etag).failure, Failure::PreconditionFailed);
        r = client->remove(href, second.etag);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(client->remove(href, second.etag).failure, Failure::NotFound);

        QVERIFY(client->fetch(book, {href}, fetched, failed).ok());
        QVERIFY(fetched.isEmpty());
        QCOMPARE(failed, QStringList{href});
    }

    void listing_data() { serverRows(); }
    void listing()
    {
        QFETCH(QString, server);
        DavServer *s = this->server(server);
        auto client = clientFor(s);
        const QString book = newBook(s, *client);
        QVERIFY(!book.isEmpty());
        const QString dir = pathOf(book);
        QHash<QString, QByteArray> etags;
        for (const char *id : {"a", "b", "c"}) {
            RemoteCard stored;
            const QString uid = QString::fromLatin1(id);
            QVERIFY(client->put(dir + uid + QStringLiteral(".vcf"), card(uid, uid), {}, stored).ok());
            etags.insert(stored.href, stored.etag);
        }

        Listing all;
        Result r = client->list(book, {}, all);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(!all.delta);
        QCOMPARE(sortedHrefs(all.cards), QStringList({dir + "a.vcf", dir + "b.vcf", dir + "c.vcf"}));
        for (const RemoteCard &c : all.cards)
            QCOMPARE(c.etag, etags.value(c.href));
        QVERIFY(!all.syncToken.isEmpty());

        RemoteCard stored;
        QVERIFY(client->put(dir + "a.vcf", card("a", "a changed"), etags.value(dir + "a.vcf"), stored).ok());
        QVERIFY(client->remove(dir + "b.vcf", etags.value(dir + "b.vcf")).ok());
        QVERIFY(client->put(dir + "d.vcf", card("d", "d"), {}, stored).ok());

        Listing changes;
        r = client->list(book, all.syncToken, changes);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(changes.delta);
        QCOMPARE(sortedHrefs(changes.cards), QStringList({dir + "a.vcf", dir + "d.vcf"}));
        QCOMPARE(changes.removed, QStringList{dir + "b.vcf"});
        QVERIFY(!changes.syncToken.isEmpty());
        QVERIFY(changes.syncToken != all.syncToken);

        // Nothing changed since the newest token: an empty delta.
        Listing none;
        QVERIFY(client->list(book, changes.syncToken, none).ok());
        QVERIFY(none.delta);
        QVERIFY(none.cards.isEmpty());
        QVERIFY(none.removed.isEmpty());

        // A token the server does not know (Radicale 403, Xandikos 500) gives everything.
        for (const QByteArray &bad :
             {QByteArray("no-such-token"), QByteArray("http://radicale.org/ns/sync/00")}) {
            Listing full;
            r = client->list(book, bad, full);
            QVERIFY2(r.ok(), qPrintable(r.message));
            QVERIFY(!full.delta);
            QCOMPARE(sortedHrefs(full.cards), QStringList({dir + "a.vcf", dir + "c.vcf", dir + "d.vcf"}));
            QVERIFY(full.removed.isEmpty());
            QVERIFY(!full.syncToken.isEmpty());
        }
    }

    void fetchBatches_data() { serverRows(); }
    void fetchBatches()
    {
        QFETCH(QString, server);
        DavServer *s = this->server(server);
        auto client = clientFor(s);
        const QString book = newBook(s, *client);
        QVERIFY(!book.isEmpty());
        const QString dir = pathOf(book);
        QStringList hrefs;
        QHash<QString, QByteArray> etags;
        for (int i = 0; i < 25; ++i) {
            RemoteCard stored;
            const QString uid = QStringLiteral("m%1").arg(i);
            // the 7th card has a raw control character in its note: its batch cannot be read as XML
            const QByteArray note = i == 7 ? QByteArray("before\x01"
                                                        "after")
                                           : QByteArray("plain");
            const Result r = client->put(dir + uid + ".vcf",
                                         card(uid, QStringLiteral("名前 %1").arg(i), note), {}, stored);
            QVERIFY2(r.ok(), qPrintable(r.message));
            hrefs.append(stored.href);
            etags.insert(stored.href, stored.etag);
        }
        const QString missing = dir + "missing.vcf";
        client->setBatchSize(10);
        QList<RemoteCard> out;
        QStringList failed;
        const Result r = client->fetch(book, QStringList(hrefs) << missing, out, failed);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(failed, QStringList{missing});
        QStringList expected = hrefs;
        expected.sort();
        QCOMPARE(sortedHrefs(out), expected);
        for (const RemoteCard &c : out) {
            const int i = QFileInfo(c.href).baseName().mid(1).toInt();
            QVERIFY2(c.body.contains(QStringLiteral("FN:名前 %1\r\n").arg(i).toUtf8()), c.body.constData());
            QCOMPARE(c.body.count('\n'), c.body.count("\r\n")); // lines end as in the card
            QCOMPARE(c.etag, etags.value(c.href));
            QCOMPARE(c.body.contains("NOTE:before\x01"
                                     "after\r\n"),
                     i == 7);
        }
    }

    void authentication_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Failure>("failure");
        QTest::newRow("right password") << "anna"
                                        << "richtig" << Failure::None;
        QTest::newRow("wrong password") << "anna"
                                        << "falsch" << Failure::Unauthorized;
        QTest::newRow("unknown user") << "bert"
                                      << "richtig" << Failure::Unauthorized;
        QTest::newRow("no credentials") << ""
                                        << "" << Failure::Unauthorized;
    }
    void authentication()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(Failure, failure);
        static QString book;
        if (book.isEmpty()) {
            auto owner = clientFor(bcrypt_.get());
            book = newBook(bcrypt_.get(), *owner);
            RemoteCard stored;
            QVERIFY(owner->put(pathOf(book) + "x.vcf", card("x", "x"), {}, stored).ok());
        }
        QVERIFY(!book.isEmpty());
        DavClient client(bcrypt_->baseUrl(), user, password);
        Listing listing;
        Result r = client.list(book, {}, listing);
        QCOMPARE(r.failure, failure);
        if (failure == Failure::None) {
            QCOMPARE(listing.cards.size(), 1);
        } else {
            QCOMPARE(r.status, 401);
            QVERIFY2(r.message.contains(book), qPrintable(r.message));
        }
        QList<carddav::AddressBookInfo> books;
        r = client.discover(books);
        QCOMPARE(r.failure, failure);
        QCOMPARE(books.size(), failure == Failure::None ? 1 : 0);
    }

    void unreachable_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("nothing listens") << false;
        QTest::newRow("no answer") << true;
    }
    void unreachable()
    {
        QFETCH(bool, silent);
        QTcpServer quiet; // accepts connections (the kernel does) and never answers
        quint16 port = 0;
        if (silent) {
            QVERIFY(quiet.listen(QHostAddress::LocalHost, 0));
            port = quiet.serverPort();
        } else {
            port = DavServer::freePort();
        }
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        DavClient client(base, QStringLiteral("user"), QStringLiteral("pw"));
        client.setTimeout(1000);
        QElapsedTimer clock;
        clock.start();
        Listing listing;
        const Result r = client.list(base + "user/book/", {}, listing);
        QCOMPARE(r.failure, Failure::Unreachable);
        QVERIFY2(r.message.contains(base + "user/book/"), qPrintable(r.message));
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed()))); // not hanging
        RemoteCard stored;
        QCOMPARE(client.put(base + "user/book/x.vcf", card("x", "x"), {}, stored).failure,
                 Failure::Unreachable);
    }

    void redirect_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("status");
        for (const char *s : {"radicale", "xandikos"}) {
            for (int status : {301, 302, 307, 308})
                QTest::addRow("%s %d", s, status) << QString::fromLatin1(s) << status;
        }
    }
    void redirect()
    {
        QFETCH(QString, server);
        QFETCH(int, status);
        DavServer *s = this->server(server);
        auto direct = clientFor(s);
        const QString book = newBook(s, *direct, QStringLiteral("Moved"));
        QVERIFY(!book.isEmpty());
        RemoteCard stored;
        QVERIFY(direct->put(pathOf(book) + "r.vcf", card("r", "r"), {}, stored).ok());

        // Everything at the old address has moved to the real server, path for path.
        FakeServer moved;
        redirecting(moved, status, s->baseUrl());
        auto client = clientFor(s, moved.url());
        QList<carddav::AddressBookInfo> books;
        Result r = client->discover(books);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(std::any_of(books.cbegin(), books.cend(),
                            [&](const carddav::AddressBookInfo &b) { return b.url == book; }));
        QVERIFY(!moved.requests.isEmpty());
        QCOMPARE(moved.requestLines().first(), QByteArray("PROPFIND /.well-known/carddav HTTP/1.1"));

        moved.requests.clear();
        Listing listing;
        r = client->list(moved.url() + pathOf(book).mid(1), {}, listing);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(sortedHrefs(listing.cards), QStringList{stored.href});
        QCOMPARE(moved.requestLines(), QList<QByteArray>{"REPORT " + pathOf(book).toUtf8() + " HTTP/1.1"});
    }

    // A server that answers no REPORT: everything is listed by PROPFIND and fetched by GET, with
    // or without a token.
    void withoutReports_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("status");
        for (const char *s : {"radicale", "xandikos"}) {
            for (int status : {403, 405, 501})
                QTest::addRow("%s %d", s, status) << QString::fromLatin1(s) << status;
        }
    }
    void withoutReports()
    {
        QFETCH(QString, server);
        QFETCH(int, status);
        DavServer *s = this->server(server);
        auto direct = clientFor(s);
        const QString book = newBook(s, *direct);
        QVERIFY(!book.isEmpty());
        const QString dir = pathOf(book);
        QHash<QString, QByteArray> etags;
        for (const char *id : {"u", "v"}) {
            RemoteCard stored;
            QVERIFY(direct->put(dir + id + ".vcf", card(id, id), {}, stored).ok());
            etags.insert(stored.href, stored.etag);
        }
        Listing before;
        QVERIFY(direct->list(book, {}, before).ok());

        FakeServer plain;
        redirecting(plain, 307, s->baseUrl(), status);
        auto client = clientFor(s, plain.url());
        const QString oldBook = plain.url() + dir.mid(1);
        for (const QByteArray &token : {QByteArray(), before.syncToken}) {
            Listing listing;
            const Result r = client->list(oldBook, token, listing);
            QVERIFY2(r.ok(), qPrintable(r.message));
            QVERIFY(!listing.delta);
            QVERIFY(listing.syncToken.isEmpty());
            QCOMPARE(sortedHrefs(listing.cards), QStringList({dir + "u.vcf", dir + "v.vcf"}));
            for (const RemoteCard &c : listing.cards)
                QCOMPARE(c.etag, etags.value(c.href));
        }
        QList<RemoteCard> out;
        QStringList failed;
        const Result r =
            client->fetch(oldBook, {dir + "u.vcf", dir + "gone.vcf", dir + "v.vcf"}, out, failed);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(failed, QStringList{dir + "gone.vcf"});
        QCOMPARE(sortedHrefs(out), QStringList({dir + "u.vcf", dir + "v.vcf"}));
        for (const RemoteCard &c : out) {
            QCOMPARE(c.etag, etags.value(c.href));
            QVERIFY(c.body.contains("UID:" + QFileInfo(c.href).baseName().toUtf8() + "\r\n"));
        }
    }

    // Hrefs as servers write them, each as the absolute path the sync keeps.
    void hrefPaths_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("path");
        QTest::newRow("path") << "/user/book/a%40b.vcf"
                              << "/user/book/a%40b.vcf";
        QTest::newRow("full URL") << "http://127.0.0.1:5232/user/book/a%40b.vcf"
                                  << "/user/book/a%40b.vcf";
        QTest::newRow("https URL, query") << "HTTPS://h.example/dav/x.vcf?v=1"
                                          << "/dav/x.vcf";
        QTest::newRow("host only") << "http://127.0.0.1:5232"
                                   << "/";
        QTest::newRow("relative") << "a%20b.vcf"
                                  << "/user/book/a%20b.vcf";
        QTest::newRow("relative up") << "../other/c.vcf"
                                     << "/user/other/c.vcf";
    }
    void hrefPaths()
    {
        QFETCH(QString, href);
        QFETCH(QString, path);
        QCOMPARE(DavClient::hrefPath(href, QUrl(QStringLiteral("http://127.0.0.1:5232/user/book/"))), path);
    }

    void sameHrefs_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("@ written as %40") << "/u/b/a@b.vcf"
                                          << "/u/b/a%40b.vcf" << true;
        QTest::newRow("hex case") << "/u/b/%e6%97%a5.vcf"
                                  << "/u/b/%E6%97%A5.vcf" << true;
        QTest::newRow("full URL") << "http://127.0.0.1:1/u/b/x.vcf"
                                  << "/u/b/x.vcf" << true;
        QTest::newRow("trailing slash") << "/u/b/"
                                        << "/u/b" << true;
        QTest::newRow("other card") << "/u/b/x.vcf"
                                    << "/u/b/y.vcf" << false;
        QTest::newRow("other book") << "/u/b/x.vcf"
                                    << "/u/c/x.vcf" << false;
    }
    void sameHrefs()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(carddav::sameHref(a, b), same);
        QCOMPARE(carddav::sameHref(b, a), same);
    }

    // Answers read whatever their prefixes and order; properties the server reports as not found
    // stay empty; a control character makes the answer unreadable rather than cut short.
    void multistatus_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("status before prop")
            << QByteArray("<ns0:multistatus xmlns:ns0=\"DAV:\"><ns0:response><ns0:href>/b/a.vcf</ns0:href>"
                          "<ns0:propstat><ns0:status>HTTP/1.1 200 OK</ns0:status><ns0:prop><ns0:getetag>\"1\""
                          "</ns0:getetag></ns0:prop></ns0:propstat></ns0:response><ns0:sync-token>t1"
                          "</ns0:sync-token></ns0:multistatus>")
            << true << QByteArray("\"1\"") << 0 << QByteArray("t1");
        QTest::newRow("default namespace, 404 propstat")
            << QByteArray("<?xml version='1.0'?><multistatus xmlns=\"DAV:\"><response><href>/b/a.vcf</href>"
                          "<propstat><prop><getetag>\"2\"</getetag></prop><status>HTTP/1.1 200 OK</status>"
                          "</propstat><propstat><prop><getetag>\"wrong\"</getetag></prop>"
                          "<status>HTTP/1.1 404 Not Found</status></propstat></response></multistatus>")
            << true << QByteArray("\"2\"") << 0 << QByteArray();
        QTest::newRow("removed card")
            << QByteArray("<d:multistatus xmlns:d=\"DAV:\"><d:sync-token>t2</d:sync-token><d:response>"
                          "<d:href>/b/a.vcf</d:href><d:status>HTTP/1.1 404 Not Found</d:status></d:response>"
                          "</d:multistatus>")
            << true << QByteArray() << 404 << QByteArray("t2");
        QTest::newRow("control character in a card")
            << QByteArray(
                   "<d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:response>"
                   "<d:href>/b/a.vcf</d:href><d:propstat><d:prop><c:address-data>NOTE:a\x01"
                   "b</c:address-data></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
                   "</d:response></d:multistatus>")
            << false << QByteArray() << 0 << QByteArray();
        QTest::newRow("cut short")
            << QByteArray("<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/b/a.vcf</d:href>") << false
            << QByteArray() << 0 << QByteArray();
        QTest::newRow("not a multistatus")
            << QByteArray("<d:error xmlns:d=\"DAV:\"><d:valid-sync-token/></d:error>") << false
            << QByteArray() << 0 << QByteArray();
    }
    void multistatus()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, readable);
        QFETCH(QByteArray, etag);
        QFETCH(int, status);
        QFETCH(QByteArray, token);
        davxml::Multistatus ms;
        QString why;
        QCOMPARE(davxml::parseMultistatus(xml, ms, &why), readable);
        QCOMPARE(why.isEmpty(), readable);
        if (!readable)
            return;
        QCOMPARE(ms.responses.size(), 1);
        QCOMPARE(ms.responses[0].href, QStringLiteral("/b/a.vcf"));
        QCOMPARE(ms.responses[0].etag, etag);
        QCOMPARE(ms.responses[0].status, status);
        QCOMPARE(ms.syncToken, token);
    }

    // Whatever a display name holds, the MKCOL body stays well-formed XML and keeps the rest.
    void mkcolBody()
    {
        const QByteArray body = davxml::mkcolAddressBook(QStringLiteral("A\x01<B>&\x7f 家\xfffe"));
        QXmlStreamReader r(body);
        QString name;
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String("displayname"))
                name = r.readElementText();
        }
        QVERIFY2(!r.hasError(), qPrintable(r.errorString()));
        QCOMPARE(name, QStringLiteral("A<B>&\x7f 家"));
    }

    // What a PUT answer says of the stored card: where it is (Location, resolved against the card's
    // URL) and its etag; and what the PUT said of the card: its type, the precondition, the login.
    void putAnswer_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("ifMatch");
        QTest::addColumn<QString>("href");
        QTest::addColumn<QByteArray>("etag");
        QTest::newRow("etag only") << QByteArray("ETag: \"e1\"\r\n") << QByteArray() << "/b/x.vcf"
                                   << QByteArray("\"e1\"");
        QTest::newRow("no etag") << QByteArray() << QByteArray("\"e0\"") << "/b/x.vcf" << QByteArray();
        QTest::newRow("relative Location") << QByteArray("Location: ../moved/y.vcf\r\nETag: \"e2\"\r\n")
                                           << QByteArray() << "/moved/y.vcf" << QByteArray("\"e2\"");
        QTest::newRow("full Location") << QByteArray("Location: http://127.0.0.1:9/c/z%40q.vcf\r\n")
                                       << QByteArray("\"e0\"") << "/c/z%40q.vcf" << QByteArray();
    }
    void putAnswer()
    {
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, ifMatch);
        QFETCH(QString, href);
        QFETCH(QByteArray, etag);
        FakeServer fake;
        inTurn(fake, {FakeServer::answer(ifMatch.isEmpty() ? "201 Created" : "204 No Content", headers)});
        DavClient client(fake.url(), QStringLiteral("ich"), QStringLiteral("pw"));
        RemoteCard stored;
        const Result r = client.put(QStringLiteral("/b/x.vcf"), card("x", "x"), ifMatch, stored);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(stored.href, href);
        QCOMPARE(stored.etag, etag);
        QCOMPARE(fake.requests.size(), 1);
        const QByteArray request = fake.requests[0];
        QVERIFY2(request.startsWith("PUT /b/x.vcf HTTP/1.1\r\n"), request.constData());
        QVERIFY2(request.contains("\r\nContent-Type: text/vcard; charset=utf-8\r\n"), request.constData());
        QVERIFY2(request.contains("\r\nAuthorization: Basic " + QByteArray("ich:pw").toBase64() + "\r\n"),
                 request.constData());
        if (ifMatch.isEmpty())
            QVERIFY2(request.contains("\r\nIf-None-Match: *\r\n"), request.constData());
        else
            QVERIFY2(request.contains("\r\nIf-Match: " + ifMatch + "\r\n"), request.constData());
        QVERIFY(request.endsWith(card("x", "x")));
    }

    // A server may cut a sync answer short (507 on the collection itself): the client asks again
    // with the token it got until the answer is whole.
    void truncatedSync()
    {
        const QByteArray head = "Content-Type: application/xml\r\n";
        const QByteArray first =
            "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/b/a.vcf</d:href><d:propstat>"
            "<d:prop><d:getetag>\"a\"</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
            "</d:propstat></d:response><d:response><d:href>http://127.0.0.1/b/</d:href>"
            "<d:status>HTTP/1.1 507 Insufficient Storage</d:status></d:response>"
            "<d:sync-token>t1</d:sync-token></d:multistatus>";
        const QByteArray second =
            "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/b/c.vcf</d:href><d:status>"
            "HTTP/1.1 404 Not Found</d:status></d:response><d:sync-token>t2</d:sync-token>"
            "</d:multistatus>";
        FakeServer fake;
        inTurn(fake, {FakeServer::answer("207 Multi-Status", head, first),
                      FakeServer::answer("207 Multi-Status", head, second)});
        DavClient client(fake.url(), QString(), QString());
        Listing listing;
        const Result r = client.list(fake.url() + "b/", "t0", listing);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(listing.delta);
        QCOMPARE(sortedHrefs(listing.cards), QStringList{"/b/a.vcf"});
        QCOMPARE(listing.removed, QStringList{"/b/c.vcf"});
        QCOMPARE(listing.syncToken, QByteArray("t2"));
        QCOMPARE(fake.requests.size(), 2);
        for (const QByteArray &request : fake.requests) {
            QVERIFY2(request.startsWith("REPORT /b/ HTTP/1.1\r\n"), request.constData());
            QVERIFY2(request.contains("\r\nDepth: 0\r\n"), request.constData());
            QVERIFY2(request.contains("\r\nContent-Type: application/xml; charset=utf-8\r\n"),
                     request.constData());
            QVERIFY(!request.contains("Authorization:"));
        }
        QVERIFY(fake.requests[0].contains(">t0</"));
        QVERIFY(fake.requests[1].contains(">t1</"));
    }

    void redirectLoop()
    {
        FakeServer loop;
        redirecting(loop, 301, QString());
        DavClient client(loop.url(), QString(), QString());
        client.setTimeout(5000);
        Listing listing;
        const Result r = client.list(loop.url() + "book/", {}, listing);
        QCOMPARE(r.failure, Failure::ServerError);
        QCOMPARE(r.status, 301);
        // the first request and five redirects, for the REPORT, then again for the PROPFIND
        QCOMPARE(loop.requests.size(), 12);
    }
};

QTEST_GUILESS_MAIN(TestDavClient)
#include "tst_davclient.moc"
