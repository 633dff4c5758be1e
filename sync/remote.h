#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the sync needs of a CardDAV server, and nothing more: list a collection's cards (all of
// them, or what changed since a sync token), fetch their bodies, store and remove one card on a
// precondition. Every call waits for its answer; the tool runs one sync at a time.
namespace carddav {

// A card as the server names it. href is the server's path of the card ("/user/book/x.vcf"),
// percent-encoded as the server writes it; etag is the entity tag with its quotes, as sent.
struct RemoteCard {
    QString href;
    QByteArray etag;
    QByteArray body; // the vCard text; empty where only listed
};

struct Listing {
    QList<RemoteCard> cards; // href and etag of each card listed (bodies not fetched)
    QStringList removed;     // hrefs gone since the token (a delta listing only)
    QByteArray syncToken;    // to give to the next list(); empty where the server offers none
    bool delta = false;      // cards and removed are changes since the token given, not everything
};

enum class Failure {
    None,
    Unreachable,        // no connection, a time-out, a TLS handshake that failed otherwise
    Untrusted,          // the server's certificate is not trusted, or not the one trusted before
    Unencrypted,        // plain http to another machine, refused before connecting
    Unauthorized,       // 401 or 403 on the collection
    NotFound,           // 404 / 410
    PreconditionFailed, // 412: If-Match or If-None-Match did not hold
    Refused,            // another 4xx: the server will not store or remove this card
    ServerError,        // 5xx, or an answer that cannot be read
};

struct Result {
    Failure failure = Failure::None;
    int status = 0;  // the HTTP status, where there was one
    QString message; // for the user: what failed, with the server's URL
    // Untrusted: the SHA-256 fingerprint of the certificate the server showed (64 lower-case hex
    // digits), the one to trust explicitly if the user recognises it.
    // Initialized here so that a Result written as {failure, status, message} stays complete.
    QString fingerprint = QString();
    bool ok() const { return failure == Failure::None; }
};

class Remote {
public:
    virtual ~Remote() = default;

    // The cards of the collection at collectionUrl: the changes since token where the server keeps
    // sync tokens (RFC 6578) and token is not empty, otherwise all of them (then delta is false). A
    // token the server no longer takes is answered with a full listing, never with a failure.
    virtual Result list(const QString &collectionUrl, const QByteArray &token, Listing &out) = 0;

    // The bodies (and current etags) of the cards at hrefs, in batches where the server allows.
    // A card that cannot be fetched is left out of out and named in failed; a card gone meanwhile too.
    virtual Result fetch(const QString &collectionUrl, const QStringList &hrefs, QList<RemoteCard> &out,
                         QStringList &failed) = 0;

    // Stores body at href: a new card when ifMatch is empty (If-None-Match: *), else a replacement
    // of the card whose etag is ifMatch. stored receives the card's href as the server keeps it
    // (it may move it: Location) and its new etag (empty when the server does not say).
    virtual Result put(const QString &href, const QByteArray &body, const QByteArray &ifMatch,
                       RemoteCard &stored) = 0;

    // Removes the card at href if its etag is still ifMatch.
    virtual Result remove(const QString &href, const QByteArray &ifMatch) = 0;
};

} // namespace carddav
