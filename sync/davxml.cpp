#include "sync/davxml.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace davxml {

namespace {

const QString davNs = QStringLiteral("DAV:");
const QString cardNs = QStringLiteral("urn:ietf:params:xml:ns:carddav");

bool allowedInXml(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// A writer with both namespaces declared on the root element.
class Body {
public:
    Body() : writer_(&bytes_)
    {
        writer_.writeStartDocument();
        writer_.writeNamespace(davNs, QStringLiteral("d"));
        writer_.writeNamespace(cardNs, QStringLiteral("c"));
    }
    QXmlStreamWriter &w() { return writer_; }
    QByteArray finish()
    {
        writer_.writeEndDocument();
        return bytes_;
    }

private:
    QByteArray bytes_;
    QXmlStreamWriter writer_;
};

QByteArray propfind(const QList<QPair<QString, QString>> &props)
{
    Body body;
    body.w().writeStartElement(davNs, QStringLiteral("propfind"));
    body.w().writeStartElement(davNs, QStringLiteral("prop"));
    for (const auto &p : props)
        body.w().writeEmptyElement(p.first, p.second);
    body.w().writeEndElement();
    body.w().writeEndElement();
    return body.finish();
}

bool is(const QXmlStreamReader &r, const QString &ns, const char *name)
{
    return r.namespaceUri() == ns && r.name() == QLatin1String(name);
}

// Reads up to the end of the current element, noting whether any element inside it is
// DAV:sync-collection (servers differ in how deep they put it: Xandikos leaves out DAV:report).
bool containsSyncCollection(QXmlStreamReader &r)
{
    bool found = false;
    int depth = 1;
    while (depth > 0 && !r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            ++depth;
            if (is(r, davNs, "sync-collection"))
                found = true;
        } else if (r.isEndElement()) {
            --depth;
        }
    }
    return found;
}

// The text of the first DAV:href inside the current element; reads to the element's end.
QString firstHref(QXmlStreamReader &r)
{
    QString href;
    while (r.readNextStartElement()) {
        if (is(r, davNs, "href") && href.isEmpty())
            href = r.readElementText().trimmed();
        else
            r.skipCurrentElement();
    }
    return href;
}

// XML reading turns CRLF into LF; a vCard's lines end in CRLF, as a GET gives them.
QByteArray restoreCrlf(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + utf8.size() / 16);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\n' && (i == 0 || utf8[i - 1] != '\r'))
            out.append('\r');
        out.append(utf8[i]);
    }
    return out;
}

void readProp(QXmlStreamReader &r, Response &props)
{
    while (r.readNextStartElement()) {
        if (is(r, davNs, "getetag")) {
            props.etag = r.readElementText().trimmed().toUtf8();
        } else if (is(r, cardNs, "address-data")) {
            props.addressData = restoreCrlf(r.readElementText());
            props.hasAddressData = true;
        } else if (is(r, davNs, "resourcetype")) {
            while (r.readNextStartElement()) {
                if (is(r, davNs, "collection"))
                    props.isCollection = true;
                else if (is(r, cardNs, "addressbook"))
                    props.isAddressBook = true;
                r.skipCurrentElement();
            }
        } else if (is(r, davNs, "displayname")) {
            props.displayName = r.readElementText();
        } else if (is(r, davNs, "supported-report-set")) {
            props.supportsSync = containsSyncCollection(r);
        } else if (is(r, davNs, "current-user-principal")) {
            props.principalHref = firstHref(r);
        } else if (is(r, cardNs, "addressbook-home-set")) {
            props.homeSetHref = firstHref(r);
        } else {
            r.skipCurrentElement();
        }
    }
}

// Properties of a propstat go into response only when its status is 2xx; the status may come
// before or after the prop element.
void readPropstat(QXmlStreamReader &r, Response &response)
{
    Response props;
    int status = 0;
    while (r.readNextStartElement()) {
        if (is(r, davNs, "prop"))
            readProp(r, props);
        else if (is(r, davNs, "status"))
            status = statusCode(r.readElementText());
        else
            r.skipCurrentElement();
    }
    if (status < 200 || status > 299)
        return;
    if (!props.etag.isEmpty())
        response.etag = props.etag;
    if (props.hasAddressData) {
        response.addressData = props.addressData;
        response.hasAddressData = true;
    }
    response.isCollection = response.isCollection || props.isCollection;
    response.isAddressBook = response.isAddressBook || props.isAddressBook;
    if (!props.displayName.isEmpty())
        response.displayName = props.displayName;
    response.supportsSync = response.supportsSync || props.supportsSync;
    if (!props.principalHref.isEmpty())
        response.principalHref = props.principalHref;
    if (!props.homeSetHref.isEmpty())
        response.homeSetHref = props.homeSetHref;
}

Response readResponse(QXmlStreamReader &r)
{
    Response response;
    while (r.readNextStartElement()) {
        if (is(r, davNs, "href") && response.href.isEmpty())
            response.href = r.readElementText().trimmed();
        else if (is(r, davNs, "status"))
            response.status = statusCode(r.readElementText());
        else if (is(r, davNs, "propstat"))
            readPropstat(r, response);
        else
            r.skipCurrentElement();
    }
    return response;
}

} // namespace

QString xmlSafe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out.append(c);
            out.append(text[++i]);
        } else if (!c.isSurrogate() && allowedInXml(c.unicode())) {
            out.append(c);
        }
    }
    return out;
}

QByteArray propfindEtags()
{
    return propfind({{davNs, QStringLiteral("getetag")}, {davNs, QStringLiteral("resourcetype")}});
}

QByteArray propfindPrincipal()
{
    return propfind({{davNs, QStringLiteral("current-user-principal")}});
}

QByteArray propfindHomeSet()
{
    return propfind({{cardNs, QStringLiteral("addressbook-home-set")}});
}

QByteArray propfindCollections()
{
    return propfind({{davNs, QStringLiteral("resourcetype")},
                     {davNs, QStringLiteral("displayname")},
                     {davNs, QStringLiteral("supported-report-set")}});
}

QByteArray syncCollection(const QByteArray &token)
{
    Body body;
    QXmlStreamWriter &w = body.w();
    w.writeStartElement(davNs, QStringLiteral("sync-collection"));
    w.writeTextElement(davNs, QStringLiteral("sync-token"), xmlSafe(QString::fromUtf8(token)));
    w.writeTextElement(davNs, QStringLiteral("sync-level"), QStringLiteral("1"));
    w.writeStartElement(davNs, QStringLiteral("prop"));
    w.writeEmptyElement(davNs, QStringLiteral("getetag"));
    w.writeEmptyElement(davNs, QStringLiteral("resourcetype"));
    w.writeEndElement();
    w.writeEndElement();
    return body.finish();
}

QByteArray multiget(const QStringList &hrefs)
{
    Body body;
    QXmlStreamWriter &w = body.w();
    w.writeStartElement(cardNs, QStringLiteral("addressbook-multiget"));
    w.writeStartElement(davNs, QStringLiteral("prop"));
    w.writeEmptyElement(davNs, QStringLiteral("getetag"));
    w.writeEmptyElement(cardNs, QStringLiteral("address-data"));
    w.writeEndElement();
    for (const QString &href : hrefs)
        w.writeTextElement(davNs, QStringLiteral("href"), xmlSafe(href));
    w.writeEndElement();
    return body.finish();
}

QByteArray mkcolAddressBook(const QString &displayName)
{
    Body body;
    QXmlStreamWriter &w = body.w();
    w.writeStartElement(davNs, QStringLiteral("mkcol"));
    w.writeStartElement(davNs, QStringLiteral("set"));
    w.writeStartElement(davNs, QStringLiteral("prop"));
    w.writeStartElement(davNs, QStringLiteral("resourcetype"));
    w.writeEmptyElement(davNs, QStringLiteral("collection"));
    w.writeEmptyElement(cardNs, QStringLiteral("addressbook"));
    w.writeEndElement();
    w.writeTextElement(davNs, QStringLiteral("displayname"), xmlSafe(displayName));
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndElement();
    return body.finish();
}

bool parseMultistatus(const QByteArray &xml, Multistatus &out, QString *error)
{
    out = {};
    QXmlStreamReader r(xml);
    if (!r.readNextStartElement() || !is(r, davNs, "multistatus")) {
        if (error)
            *error = r.hasError() ? r.errorString() : QStringLiteral("the answer is not a DAV multistatus");
        return false;
    }
    while (r.readNextStartElement()) {
        if (is(r, davNs, "response"))
            out.responses.append(readResponse(r));
        else if (is(r, davNs, "sync-token"))
            out.syncToken = r.readElementText().trimmed().toUtf8();
        else
            r.skipCurrentElement();
    }
    // Nothing but white space and comments may follow the root element: read on to the end.
    while (!r.atEnd())
        r.readNext();
    if (r.hasError()) {
        if (error)
            *error = QStringLiteral("unreadable XML at line %1: %2").arg(r.lineNumber()).arg(r.errorString());
        return false;
    }
    return true;
}

int statusCode(const QString &statusLine)
{
    const QStringList parts = statusLine.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return 0;
    bool ok = false;
    const int code = parts[1].toInt(&ok);
    return ok ? code : 0;
}

} // namespace davxml
