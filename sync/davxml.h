#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The WebDAV / CardDAV request bodies the client sends, and the one answer shape it reads back:
// a 207 multistatus. Written with QXmlStreamWriter, read with QXmlStreamReader; names are matched
// by namespace and local name, so any prefix a server chooses reads the same.
namespace davxml {

// text without the characters XML 1.0 does not allow (control characters other than tab, line
// feed and carriage return, lone surrogates, U+FFFE and U+FFFF): what we write into a body.
QString xmlSafe(const QString &text);

// PROPFIND bodies.
QByteArray propfindEtags();       // getetag and resourcetype: a collection's members
QByteArray propfindPrincipal();   // current-user-principal
QByteArray propfindHomeSet();     // addressbook-home-set
QByteArray propfindCollections(); // resourcetype, displayname, supported-report-set

// sync-collection REPORT (RFC 6578) at sync-level 1 asking getetag; an empty token asks for
// everything and the first token.
QByteArray syncCollection(const QByteArray &token);
// addressbook-multiget REPORT (RFC 6352) asking getetag and address-data for hrefs.
QByteArray multiget(const QStringList &hrefs);
// Extended MKCOL (RFC 5689) making an address book named displayName.
QByteArray mkcolAddressBook(const QString &displayName);

// One DAV:response of a multistatus. Properties are taken only from a propstat whose status is
// 2xx; a property the server reports as 404 stays at its default.
struct Response {
    QString href;           // the first DAV:href, as written
    int status = 0;         // the response's own DAV:status (a removed card: 404), else 0
    QByteArray etag;        // getetag, quotes kept
    QByteArray addressData; // address-data, line ends as the vCard has them (CRLF)
    bool hasAddressData = false;
    bool isCollection = false;
    bool isAddressBook = false;
    QString displayName;
    bool supportsSync = false; // supported-report-set names sync-collection
    QString principalHref;     // current-user-principal
    QString homeSetHref;       // addressbook-home-set (the first one)
};

struct Multistatus {
    QList<Response> responses;
    QByteArray syncToken; // the multistatus's DAV:sync-token (sync-collection answers)
};

// Reads a multistatus body. False, with a reason in error, when it is not well-formed XML or not
// a multistatus (a control character in a card makes a server's answer unreadable).
bool parseMultistatus(const QByteArray &xml, Multistatus &out, QString *error = nullptr);

// The number in an HTTP status line ("HTTP/1.1 404 Not Found" gives 404), 0 when there is none.
int statusCode(const QString &statusLine);

} // namespace davxml
