#include "sync/davclient.h"

#include "sync/davxml.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QSslError>
#include <QTimer>

namespace carddav {

namespace {

const QByteArray xmlType = QByteArrayLiteral("application/xml; charset=utf-8");
const QByteArray vcardType = QByteArrayLiteral("text/vcard; charset=utf-8");
constexpr int maxRedirects = 5;

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 307 || status == 308;
}

// A path compared as the server means it: percent-decoded, without a trailing slash.
QString pathKey(const QString &path)
{
    QString key = QUrl::fromPercentEncoding(path.toUtf8());
    while (key.size() > 1 && key.endsWith(QLatin1Char('/')))
        key.chop(1);
    return key;
}

// Failures after which no other way of asking can help: no connection, credentials refused, the
// collection gone. (A 403 is not among them: Radicale answers 403 to a sync token it no longer has.)
bool isConnectionFailure(Failure f)
{
    return f == Failure::Unreachable || f == Failure::Untrusted || f == Failure::Unencrypted;
}

bool isFinal(const Result &r)
{
    return isConnectionFailure(r.failure) || r.status == 401 || r.failure == Failure::NotFound;
}

} // namespace

QString certificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return QString();
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QString normalizedFingerprint(const QString &fingerprint)
{
    QString hex;
    for (const QChar c : fingerprint) {
        if (c == QLatin1Char(':') || c.isSpace())
            continue;
        if (!QLatin1String("0123456789abcdefABCDEF").contains(c))
            return QString();
        hex.append(c.toLower());
    }
    return hex.size() == 64 ? hex : QString();
}

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.compare(QLatin1String("localhost."), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

bool plainHttpAllowed(const QUrl &url, const TlsPolicy &policy)
{
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return true;
    return policy.allowPlainHttp || isLoopbackHost(url.host());
}

bool sameHref(const QString &a, const QString &b)
{
    return pathKey(DavClient::hrefPath(a, QUrl())) == pathKey(DavClient::hrefPath(b, QUrl()));
}

DavClient::DavClient(const QString &baseUrl, const QString &user, const QString &password,
                     const TlsPolicy &tls)
    : base_(QUrl(baseUrl, QUrl::TolerantMode)), tls_(tls),
      sslConfiguration_(QSslConfiguration::defaultConfiguration())
{
    if (base_.path().isEmpty())
        base_.setPath(QStringLiteral("/"));
    if (!user.isEmpty())
        authorization_ = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
    if (!tls_.pinnedSha256.isEmpty()) {
        const QString pin = normalizedFingerprint(tls_.pinnedSha256);
        if (pin.isEmpty())
            policyProblem_ = QStringLiteral("the trusted certificate's fingerprint is not 64 hex digits: %1")
                                 .arg(tls_.pinnedSha256);
        tls_.pinnedSha256 = pin;
    }
    if (!tls_.caFile.isEmpty()) {
        const QList<QSslCertificate> authorities =
            QSslCertificate::fromPath(tls_.caFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (authorities.isEmpty()) {
            policyProblem_ = QStringLiteral("the certificate authorities file %1 cannot be read or holds "
                                            "no PEM certificate")
                                 .arg(tls_.caFile);
        } else {
            // Setting a list replaces the system's, which are therefore named as well.
            sslConfiguration_.setCaCertificates(QSslConfiguration::systemCaCertificates() + authorities);
        }
    }
}

DavClient::~DavClient() = default;

QByteArray DavClient::Reply::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QString DavClient::hrefPath(const QString &href, const QUrl &base)
{
    const qsizetype scheme = href.indexOf(QLatin1String("://"));
    if (scheme > 0 && (href.startsWith(QLatin1String("http"), Qt::CaseInsensitive))) {
        // A full URL: its path, exactly as written.
        const qsizetype slash = href.indexOf(QLatin1Char('/'), scheme + 3);
        if (slash < 0)
            return QStringLiteral("/");
        QString path = href.mid(slash);
        for (qsizetype i = 0; i < path.size(); ++i) {
            if (path[i] == QLatin1Char('?') || path[i] == QLatin1Char('#'))
                return path.left(i);
        }
        return path;
    }
    if (href.startsWith(QLatin1Char('/')))
        return href;
    return base.resolved(QUrl(href, QUrl::TolerantMode)).path(QUrl::FullyEncoded);
}

QUrl DavClient::resolve(const QString &urlOrHref) const
{
    const QUrl url(urlOrHref, QUrl::TolerantMode);
    return url.isRelative() ? base_.resolved(url) : url;
}

DavClient::Reply DavClient::sendOnce(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                     const Headers &headers)
{
    Reply out;
    out.url = url;
    // Refused before any connection is made: nothing of the request may reach the network.
    if (!policyProblem_.isEmpty()) {
        out.networkFailed = true;
        out.networkError = policyProblem_;
        return out;
    }
    if (!plainHttpAllowed(url, tls_)) {
        out.networkFailed = true;
        out.refusal = Failure::Unencrypted;
        out.networkError = QStringLiteral("plain http to a server other than this machine is refused: the "
                                          "password and the cards would travel in clear (use https)");
        return out;
    }

    QNetworkRequest request(url);
    request.setSslConfiguration(sslConfiguration_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    for (const auto &h : headers)
        request.setRawHeader(h.first, h.second);
    // Credentials go only to the server's own host, and never from https down to http.
    const bool sameHost =
        url.host().compare(base_.host(), Qt::CaseInsensitive) == 0 &&
        !(base_.scheme() == QLatin1String("https") && url.scheme() != QLatin1String("https"));
    if (!authorization_.isEmpty() && sameHost)
        request.setRawHeader("Authorization", authorization_);

    if (aborted_) {
        out.networkFailed = true;
        out.networkError = QStringLiteral("cancelled");
        return out;
    }
    QNetworkReply *reply = manager_.sendCustomRequest(request, method, body);
    QString tlsReasons; // what the check of the certificate found, where it failed
    QString shown;      // the fingerprint of the certificate the server showed, where refused
    bool notPinned = false;
    const auto peerFingerprint = [reply](const QList<QSslError> &errors) {
        QSslCertificate peer = reply->sslConfiguration().peerCertificate();
        if (peer.isNull() && !errors.isEmpty())
            peer = errors.first().certificate();
        return certificateFingerprint(peer);
    };
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&](const QList<QSslError> &errors) {
        const QString fingerprint = peerFingerprint(errors);
        // A pinned certificate is trusted as it is, whatever the system says of it.
        if (!tls_.pinnedSha256.isEmpty() && fingerprint == tls_.pinnedSha256) {
            reply->ignoreSslErrors(errors);
            return;
        }
        QStringList reasons;
        for (const QSslError &e : errors)
            reasons.append(e.errorString());
        tlsReasons = reasons.join(QStringLiteral("; "));
        shown = fingerprint;
        notPinned = !tls_.pinnedSha256.isEmpty();
    });
    // A pin means "this exact certificate": another one is refused even where the system would
    // trust it, so that a changed certificate is always the user's decision. The handshake is over
    // here and nothing of the request has been sent yet.
    QObject::connect(reply, &QNetworkReply::encrypted, reply, [&] {
        if (tls_.pinnedSha256.isEmpty())
            return;
        const QString fingerprint = peerFingerprint({});
        if (fingerprint == tls_.pinnedSha256)
            return;
        shown = fingerprint;
        notPinned = true;
        reply->abort();
    });
    QEventLoop loop;
    QTimer timer, cancelCheck;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&cancelCheck, &QTimer::timeout, &loop, [&] {
        if (aborted_)
            loop.quit();
    });
    timer.start(timeoutMs_);
    cancelCheck.start(50);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!shown.isEmpty() || !tlsReasons.isEmpty()) {
        QObject::disconnect(reply, nullptr, &loop, nullptr);
        if (!reply->isFinished())
            reply->abort();
        delete reply;
        out.networkFailed = true;
        out.refusal = Failure::Untrusted;
        out.fingerprint = shown;
        const QString fingerprint = shown.isEmpty() ? QStringLiteral("unknown") : shown;
        if (notPinned) {
            out.networkError = QStringLiteral("the server's certificate has changed: it is not the one "
                                              "trusted (SHA-256 %1) but SHA-256 %2")
                                   .arg(tls_.pinnedSha256, fingerprint);
            if (!tlsReasons.isEmpty())
                out.networkError += QStringLiteral(" (%1)").arg(tlsReasons);
        } else {
            out.networkError =
                QStringLiteral("the server's certificate is not trusted (%1); its SHA-256 fingerprint is %2")
                    .arg(tlsReasons, fingerprint);
        }
        return out;
    }
    if (!reply->isFinished()) {
        QObject::disconnect(reply, nullptr, &loop, nullptr);
        reply->abort();
        out.networkFailed = true;
        out.networkError = aborted_ ? QStringLiteral("cancelled")
                                    : QStringLiteral("no answer within %1 s").arg(timeoutMs_ / 1000.0);
    } else {
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        out.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
        out.headers = reply->rawHeaderPairs();
        out.body = reply->readAll();
        if (out.status == 0) {
            out.networkFailed = true;
            out.networkError = reply->errorString();
        }
    }
    delete reply;
    return out;
}

DavClient::Reply DavClient::send(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                 const Headers &headers)
{
    QUrl current = url;
    for (int hop = 0;; ++hop) {
        Reply reply = sendOnce(method, current, body, headers);
        if (reply.networkFailed || !isRedirect(reply.status) || hop == maxRedirects)
            return reply;
        const QByteArray location = reply.header("Location");
        if (location.isEmpty())
            return reply;
        const QUrl next = current.resolved(QUrl(QString::fromUtf8(location), QUrl::TolerantMode));
        if (next.scheme() != QLatin1String("http") && next.scheme() != QLatin1String("https"))
            return reply;
        current = next;
    }
}

DavClient::Reply DavClient::propfind(const QUrl &url, int depth, const QByteArray &body)
{
    return send("PROPFIND", url, body, {{"Depth", QByteArray::number(depth)}, {"Content-Type", xmlType}});
}

Result DavClient::failureOf(const QByteArray &method, const Reply &reply)
{
    Result r;
    r.status = reply.status;
    const QString where = QString::fromLatin1(method) + QLatin1Char(' ') +
                          reply.url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
    if (reply.refusal != Failure::None) {
        r.failure = reply.refusal;
        r.fingerprint = reply.fingerprint;
        r.message = QStringLiteral("%1: %2").arg(where, reply.networkError);
        return r;
    }
    if (reply.networkFailed) {
        r.failure = Failure::Unreachable;
        r.message = QStringLiteral("%1: the server cannot be reached (%2)").arg(where, reply.networkError);
        return r;
    }
    const QString answer = QStringLiteral("%1: the server answered %2 %3")
                               .arg(where)
                               .arg(reply.status)
                               .arg(QString::fromLatin1(reply.reason));
    const int s = reply.status;
    if (s == 401 || s == 403) {
        r.failure = Failure::Unauthorized;
        r.message = answer + QStringLiteral(" (user name or password not accepted, or no access)");
    } else if (s == 404 || s == 410) {
        r.failure = Failure::NotFound;
        r.message = answer + QStringLiteral(" (not found)");
    } else if (s == 412) {
        r.failure = Failure::PreconditionFailed;
        r.message = answer + QStringLiteral(" (the card changed on the server meanwhile)");
    } else if (s >= 400 && s <= 499) {
        r.failure = Failure::Refused;
        r.message = answer;
    } else if (isRedirect(s)) {
        r.failure = Failure::ServerError;
        r.message = answer + QStringLiteral(" (redirected too often, or to nowhere)");
    } else {
        r.failure = Failure::ServerError;
        r.message = answer;
    }
    return r;
}

Result DavClient::unreadable(const QByteArray &method, const Reply &reply, const QString &why)
{
    Result r;
    r.failure = Failure::ServerError;
    r.status = reply.status;
    r.message = QStringLiteral("%1 %2: the answer cannot be read (%3)")
                    .arg(QString::fromLatin1(method),
                         reply.url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded), why);
    return r;
}

Result DavClient::syncReport(const QUrl &collection, const QByteArray &token, Listing &out)
{
    const QString self = pathKey(collection.path(QUrl::FullyEncoded));
    QByteArray current = token;
    // A server may cut a long answer short (a 507 on the collection itself) and expects the
    // request again with the token it gave; the rounds are bounded against a server that loops.
    for (int round = 0; round < 1000; ++round) {
        const Reply reply = send("REPORT", collection, davxml::syncCollection(current),
                                 {{"Depth", "0"}, {"Content-Type", xmlType}});
        if (reply.status != 207)
            return reply.networkFailed || !isSuccess(reply.status)
                       ? failureOf("REPORT", reply)
                       : unreadable("REPORT", reply, QStringLiteral("no multistatus"));
        davxml::Multistatus ms;
        QString why;
        if (!davxml::parseMultistatus(reply.body, ms, &why))
            return unreadable("REPORT", reply, why);
        bool truncated = false;
        for (const davxml::Response &response : ms.responses) {
            const QString path = hrefPath(response.href, reply.url);
            if (pathKey(path) == self) {
                truncated = truncated || response.status == 507;
                continue;
            }
            if (response.status == 404 || response.status == 410) {
                out.removed.append(path);
                continue;
            }
            if ((response.status != 0 && !isSuccess(response.status)) || response.isCollection)
                continue;
            out.cards.append(RemoteCard{path, response.etag, {}});
        }
        out.syncToken = ms.syncToken;
        if (!truncated || ms.syncToken.isEmpty() || ms.syncToken == current)
            return {};
        current = ms.syncToken;
    }
    return {};
}

Result DavClient::propfindListing(const QUrl &collection, Listing &out)
{
    const Reply reply = propfind(collection, 1, davxml::propfindEtags());
    if (reply.status != 207)
        return reply.networkFailed || !isSuccess(reply.status)
                   ? failureOf("PROPFIND", reply)
                   : unreadable("PROPFIND", reply, QStringLiteral("no multistatus"));
    davxml::Multistatus ms;
    QString why;
    if (!davxml::parseMultistatus(reply.body, ms, &why))
        return unreadable("PROPFIND", reply, why);
    const QString self = pathKey(collection.path(QUrl::FullyEncoded));
    for (const davxml::Response &response : ms.responses) {
        const QString path = hrefPath(response.href, reply.url);
        if (pathKey(path) == self || response.isCollection)
            continue;
        if (response.status != 0 && !isSuccess(response.status))
            continue;
        out.cards.append(RemoteCard{path, response.etag, {}});
    }
    return {};
}

Result DavClient::list(const QString &collectionUrl, const QByteArray &token, Listing &out)
{
    out = Listing();
    const QUrl collection = resolve(collectionUrl);
    if (!token.isEmpty()) {
        Listing changes;
        const Result r = syncReport(collection, token, changes);
        if (r.ok()) {
            out = changes;
            out.delta = true;
            return r;
        }
        if (isFinal(r))
            return r;
        // Any other answer to a token (403 or 409 valid-sync-token, Xandikos's 500, a 400) means
        // the token is no good any more: list everything instead.
    }
    Listing all;
    const Result r = syncReport(collection, QByteArray(), all);
    if (r.ok()) {
        out = all;
        out.removed.clear();
        return r;
    }
    if (isFinal(r))
        return r;
    out = Listing();
    return propfindListing(collection, out);
}

Result DavClient::getOne(const QString &href, RemoteCard &card)
{
    const Reply reply = send("GET", resolve(href), QByteArray(), {{"Accept", "text/vcard"}});
    if (reply.networkFailed || !isSuccess(reply.status))
        return failureOf("GET", reply);
    card.href = href;
    card.etag = reply.header("ETag");
    card.body = reply.body;
    return {};
}

Result DavClient::fetch(const QString &collectionUrl, const QStringList &hrefs, QList<RemoteCard> &out,
                        QStringList &failed)
{
    out.clear();
    failed.clear();
    const QUrl collection = resolve(collectionUrl);
    for (qsizetype start = 0; start < hrefs.size(); start += batchSize_) {
        const QStringList batch = hrefs.mid(start, batchSize_);
        QHash<QString, QString> byKey; // the card's path as compared -> href as the caller gave it
        QStringList paths;
        for (const QString &href : batch) {
            const QString path = hrefPath(href, base_);
            byKey.insert(pathKey(path), href);
            paths.append(path);
        }
        const Reply reply =
            send("REPORT", collection, davxml::multiget(paths), {{"Depth", "1"}, {"Content-Type", xmlType}});
        if (reply.networkFailed || reply.status == 401)
            return failureOf("REPORT", reply);
        QSet<QString> answered;
        davxml::Multistatus ms;
        // An answer that cannot be read (a control character in one card is enough) leaves the
        // whole batch to single GETs.
        if (reply.status == 207 && davxml::parseMultistatus(reply.body, ms)) {
            for (const davxml::Response &response : ms.responses) {
                const QString key = pathKey(hrefPath(response.href, reply.url));
                const auto it = byKey.constFind(key);
                if (it == byKey.constEnd() || answered.contains(key))
                    continue;
                if (response.status == 404 || response.status == 410) {
                    failed.append(it.value());
                    answered.insert(key);
                } else if (response.hasAddressData && (response.status == 0 || isSuccess(response.status))) {
                    out.append(RemoteCard{it.value(), response.etag, response.addressData});
                    answered.insert(key);
                }
            }
        }
        for (const QString &href : batch) {
            const QString key = pathKey(hrefPath(href, base_));
            if (answered.contains(key))
                continue;
            answered.insert(key);
            RemoteCard card;
            const Result r = getOne(href, card);
            if (r.ok())
                out.append(card);
            else if (isConnectionFailure(r.failure) || r.status == 401)
                return r;
            else
                failed.append(href);
        }
    }
    return {};
}

Result DavClient::put(const QString &href, const QByteArray &body, const QByteArray &ifMatch,
                      RemoteCard &stored)
{
    stored = RemoteCard();
    Headers headers{{"Content-Type", vcardType}};
    if (ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    else
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch));
    const Reply reply = send("PUT", resolve(href), body, headers);
    if (reply.networkFailed || !isSuccess(reply.status))
        return failureOf("PUT", reply);
    const QByteArray location = reply.header("Location");
    stored.href =
        location.isEmpty() ? hrefPath(href, base_) : hrefPath(QString::fromUtf8(location), reply.url);
    stored.etag = reply.header("ETag");
    return {};
}

Result DavClient::remove(const QString &href, const QByteArray &ifMatch)
{
    Headers headers;
    if (!ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch));
    const Reply reply = send("DELETE", resolve(href), QByteArray(), headers);
    if (reply.networkFailed || !isSuccess(reply.status))
        return failureOf("DELETE", reply);
    return {};
}

Result DavClient::discover(QList<AddressBookInfo> &out, QString *homeSet)
{
    out.clear();
    // The principal: from the well-known address (which redirects, RFC 6764), else from the base.
    QUrl principal;
    for (const QUrl &start : {base_.resolved(QUrl(QStringLiteral("/.well-known/carddav"))), base_}) {
        const Reply reply = propfind(start, 0, davxml::propfindPrincipal());
        if (reply.networkFailed || reply.status == 401)
            return failureOf("PROPFIND", reply);
        davxml::Multistatus ms;
        if (reply.status != 207 || !davxml::parseMultistatus(reply.body, ms))
            continue;
        for (const davxml::Response &response : ms.responses) {
            if (!response.principalHref.isEmpty()) {
                principal = reply.url.resolved(QUrl(response.principalHref, QUrl::TolerantMode));
                break;
            }
        }
        if (!principal.isEmpty())
            break;
    }
    if (principal.isEmpty())
        principal = base_;

    QUrl home = principal;
    {
        const Reply reply = propfind(principal, 0, davxml::propfindHomeSet());
        if (reply.networkFailed || reply.status == 401)
            return failureOf("PROPFIND", reply);
        davxml::Multistatus ms;
        if (reply.status == 207 && davxml::parseMultistatus(reply.body, ms)) {
            for (const davxml::Response &response : ms.responses) {
                if (!response.homeSetHref.isEmpty()) {
                    home = reply.url.resolved(QUrl(response.homeSetHref, QUrl::TolerantMode));
                    break;
                }
            }
        }
    }
    if (homeSet)
        *homeSet = home.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);

    // The address books in the home; where there are none, the base URL may name one itself (a
    // user who gave the book's own URL), which is looked at without complaint if it cannot be.
    for (const QUrl &where : {home, base_}) {
        const bool inHome = where == home;
        const Reply reply = propfind(where, inHome ? 1 : 0, davxml::propfindCollections());
        davxml::Multistatus ms;
        QString why;
        if (reply.status != 207 || !davxml::parseMultistatus(reply.body, ms, &why)) {
            if (!inHome)
                break;
            return reply.status == 207 ? unreadable("PROPFIND", reply, why) : failureOf("PROPFIND", reply);
        }
        for (const davxml::Response &response : ms.responses) {
            if (!response.isAddressBook)
                continue;
            const QUrl url = reply.url.resolved(QUrl(hrefPath(response.href, reply.url), QUrl::TolerantMode));
            out.append(AddressBookInfo{url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded),
                                       response.displayName, response.supportsSync});
        }
        if (!out.isEmpty() || home == base_)
            break;
    }
    return {};
}

Result DavClient::createAddressBook(const QString &url, const QString &displayName)
{
    const Reply reply =
        send("MKCOL", resolve(url), davxml::mkcolAddressBook(displayName), {{"Content-Type", xmlType}});
    if (reply.networkFailed || !isSuccess(reply.status))
        return failureOf("MKCOL", reply);
    return {};
}

} // namespace carddav
