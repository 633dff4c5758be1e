#include "vcard/vcardtext.h"

namespace vcard {

QString escapeText(QStringView text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
        case u',':
        case u';':
            out += QLatin1Char('\\');
            out += c;
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeText(QStringView value)
{
    if (!value.contains(QLatin1Char('\\')))
        return value.toString();
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        switch (next.unicode()) {
        case u'\\':
        case u',':
        case u';':
        case u':':
            out += next;
            ++i;
            break;
        case u'n':
        case u'N':
            out += QLatin1Char('\n');
            ++i;
            break;
        default:
            out += c;
        }
    }
    return out;
}

QStringList splitEscaped(QStringView value, QChar separator)
{
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\')) {
            ++i; // the escaped character never separates
        } else if (value[i] == separator) {
            parts.append(value.mid(start, i - start).toString());
            start = i + 1;
        }
    }
    parts.append(value.mid(start).toString());
    return parts;
}

void appendContentLine(QByteArray &out, QByteArrayView line)
{
    constexpr qsizetype limit = 75;
    qsizetype pos = 0;
    bool first = true;
    while (true) {
        const qsizetype room = first ? limit : limit - 1; // a continuation spends one octet on its blank
        if (!first)
            out += ' ';
        if (line.size() - pos <= room) {
            out.append(line.data() + pos, line.size() - pos);
            out += "\r\n";
            return;
        }
        qsizetype cut = pos + room;
        // Back off to the start of a UTF-8 sequence (continuation octets are 10xxxxxx).
        while (cut > pos && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.data() + pos, cut - pos);
        out += "\r\n";
        pos = cut;
        first = false;
    }
}

} // namespace vcard
