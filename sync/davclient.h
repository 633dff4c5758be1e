#pragma once

#include "sync/remote.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QPair>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>

namespace carddav {

// An address book found on a server: its full URL, its name as the server shows it, and whether
// it answers sync-collection (then a list() with a token gives only changes).
struct AddressBookInfo {
    QString url;
    QString displayName;
    bool supportsSync = false;
};

// How far the client trusts a server. https is checked against the system's certificates, plus
// those of caFile where given; a certificate pinned by its SHA-256 fingerprint is accepted as it is
// (also self-signed, or for another name), and then only that one. Plain http goes only to this
// machine (127.0.0.0/8, ::1, localhost) unless allowPlainHttp: the password would travel in clear.
struct TlsPolicy {
    QString caFile;       // PEM certificates of authorities trusted besides the system's
    QString pinnedSha256; // 64 hex digits (any case, colons allowed); empty: no pin
    bool allowPlainHttp = false;
};

// The SHA-256 fingerprint of certificate as 64 lower-case hex digits (how it is shown and kept).
QString certificateFingerprint(const QSslCertificate &certificate);
// fingerprint as written by a user ("AB:CD:..", upper or lower case, spaces) in the form above;
// empty when it is not 32 bytes of hex.
QString normalizedFingerprint(const QString &fingerprint);
// Whether host is this machine: 127.0.0.0/8, ::1 or localhost.
bool isLoopbackHost(const QString &host);
// Whether a request to url may go out under policy as far as plain http goes (https always may).
bool plainHttpAllowed(const QUrl &url, const TlsPolicy &policy);

// Whether two hrefs name the same resource: servers write "@" as "%40" in their listings whatever
// the href a card was stored at, and a collection with or without its trailing slash.
bool sameHref(const QString &a, const QString &b);

// The CardDAV client the sync talks to: WebDAV requests over one QNetworkAccessManager, each call
// waiting for its answer (a local event loop) or for the time-out. Redirects are followed here,
// keeping the method and body (Qt's own policy turns a PROPFIND into a GET on 301/302); Basic
// credentials are sent with every request to the server's own host once a user name is set.
class DavClient : public Remote {
public:
    // baseUrl: the server ("http://host:port/") or any URL on it; user empty: no credentials.
    DavClient(const QString &baseUrl, const QString &user, const QString &password,
              const TlsPolicy &tls = TlsPolicy());
    ~DavClient() override;
    DavClient(const DavClient &) = delete;
    DavClient &operator=(const DavClient &) = delete;

    // How long one request may take before it counts as Unreachable (default 30 s).
    void setTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
    int timeout() const { return timeoutMs_; }
    // Ends the request under way, and fails every later one, as Unreachable ("cancelled"). May be
    // called from any thread, e.g. by a window while this client works in a thread of its own.
    void abort() { aborted_ = true; }
    // How many cards one addressbook-multiget asks for (default 100).
    void setBatchSize(int cards) { batchSize_ = cards > 0 ? cards : 1; }

    Result list(const QString &collectionUrl, const QByteArray &token, Listing &out) override;
    Result fetch(const QString &collectionUrl, const QStringList &hrefs, QList<RemoteCard> &out,
                 QStringList &failed) override;
    Result put(const QString &href, const QByteArray &body, const QByteArray &ifMatch,
               RemoteCard &stored) override;
    Result remove(const QString &href, const QByteArray &ifMatch) override;

    // The address books of the user, found from the base URL: /.well-known/carddav (RFC 6764), the
    // current-user-principal, its addressbook-home-set, and the address books in that home.
    // homeSet, where given, gets the home's URL: where a new address book of the user belongs.
    Result discover(QList<AddressBookInfo> &out, QString *homeSet = nullptr);
    // Makes an address book at url (a full URL or a path on the server) with an extended MKCOL.
    Result createAddressBook(const QString &url, const QString &displayName);

    // A server's href ("/a/b.vcf", "b.vcf" relative to base, or a full URL) as an absolute path,
    // percent-encoding kept as written.
    static QString hrefPath(const QString &href, const QUrl &base);

private:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    struct Reply {
        int status = 0;
        QByteArray reason;
        QByteArray body;
        Headers headers; // as the last answer gave them
        QUrl url;        // where the last request went (after redirects)
        bool networkFailed = false;
        QString networkError;
        Failure refusal = Failure::None; // Untrusted or Unencrypted: refused by the TLS policy
        QString fingerprint;             // of the certificate refused
        QByteArray header(const QByteArray &name) const;
    };

    QUrl resolve(const QString &urlOrHref) const;
    Reply send(const QByteArray &method, const QUrl &url, const QByteArray &body, const Headers &headers);
    Reply sendOnce(const QByteArray &method, const QUrl &url, const QByteArray &body, const Headers &headers);
    Reply propfind(const QUrl &url, int depth, const QByteArray &body);
    static Result failureOf(const QByteArray &method, const Reply &reply);
    static Result unreadable(const QByteArray &method, const Reply &reply, const QString &why);

    // One sync-collection REPORT, repeated while the server says the answer was cut short (507).
    Result syncReport(const QUrl &collection, const QByteArray &token, Listing &out);
    Result propfindListing(const QUrl &collection, Listing &out);
    Result getOne(const QString &href, RemoteCard &card);

    QUrl base_;
    QByteArray authorization_; // "Basic ..." or empty
    TlsPolicy tls_;            // pinnedSha256 normalized
    QSslConfiguration sslConfiguration_;
    QString policyProblem_; // why no request can go out (a CA file that cannot be read)
    QNetworkAccessManager manager_;
    int timeoutMs_ = 30000;
    int batchSize_ = 100;
    std::atomic<bool> aborted_{false};
};

} // namespace carddav
