#include "vcard/cardmapping.h"

#include "store/cp932.h"
#include "vcard/vcardtext.h"

#include <optional>

namespace vcard {

namespace {

const char *const fieldNames[fieldCount] = {"Number", "Handle", "Mail", "Home", "ICQ", "PostPet", "Memo"};

bool isControl(uint c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

bool isPlainAscii(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (uchar(c) >= 0x80 || isControl(uchar(c)))
            return false;
    return true;
}

bool hasControl(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (isControl(uchar(c)))
            return true;
    return false;
}

struct FieldText {
    QString text;
    bool raw = false;      // the text does not give the bytes back
    bool notCp932 = false; // because some bytes are not CP932 text
};

// What a field shows in a card. Bytes the text cannot carry show as U+FFFD.
FieldText fieldText(const QByteArray &bytes)
{
    if (isPlainAscii(bytes))
        return {QString::fromLatin1(bytes)};
    if (!hasControl(bytes)) {
        if (std::optional<QString> text = cp932::decodeValid(bytes)) {
            const std::optional<QByteArray> back = cp932::encode(*text);
            const bool exact = back && *back == bytes;
            return {std::move(*text), !exact, false};
        }
    }
    QString text = cp932::decode(bytes); // a byte that is not CP932 comes out as U+001A, itself a control
    for (QChar &c : text)
        if (isControl(c.unicode()))
            c = QChar(0xFFFD);
    return {text, true, true};
}

void appendProperty(QByteArray &out, const char *head, const QString &value)
{
    QByteArray line(head);
    line += ':';
    line += value.toUtf8();
    appendContentLine(out, line);
}

bool isDigits(const QString &text)
{
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !text.isEmpty();
}

// Line breaks (CR LF, CR, LF, NEL, U+2028, U+2029) become one blank each; other control
// characters, NUL among them, are dropped: a list file line can hold neither.
QString cleaned(const QString &text)
{
    bool clean = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029) {
            if (u != '\t') {
                clean = false;
                break;
            }
        }
    }
    if (clean)
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == '\r') {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1Char(' ');
        } else if (u == '\n' || u == 0x85 || u == 0x2028 || u == 0x2029) {
            out += QLatin1Char(' ');
        } else if ((u < 0x20 && u != '\t') || (u >= 0x7F && u < 0xA0)) {
            continue;
        } else {
            out += text[i];
        }
    }
    return out;
}

const Property *first(const Card &card, QByteArrayView name)
{
    for (const Property &p : card.properties)
        if (p.name == name)
            return &p;
    return nullptr;
}

QString textOf(const Property *p)
{
    return p ? cleaned(unescapeText(p->value)) : QString();
}

QString handleOf(const Card &card)
{
    if (const QString fn = textOf(first(card, "FN")); !fn.isEmpty())
        return fn;
    if (const Property *n = first(card, "N")) {
        // Family name first, as Japanese names are written (and where an export puts the handle).
        const QStringList parts = splitEscaped(n->value, QLatin1Char(';'));
        QStringList names;
        for (qsizetype i = 0; i < qMin<qsizetype>(2, parts.size()); ++i)
            if (const QString part = cleaned(unescapeText(parts[i])).trimmed(); !part.isEmpty())
                names.append(part);
        if (!names.isEmpty())
            return names.join(QLatin1Char(' '));
    }
    if (const Property *nick = first(card, "NICKNAME")) {
        for (const QString &part : splitEscaped(nick->value, QLatin1Char(',')))
            if (const QString name = cleaned(unescapeText(part)).trimmed(); !name.isEmpty())
                return name;
    }
    return QString();
}

} // namespace

void appendCards(QByteArray &out, const AddressList &list, ExportCounts &counts)
{
    const bool list1 = list.keepsNumber();
    const QString category = listCaption(list1 ? 1 : 2);
    FieldText t[fieldCount];
    for (int i = 0; i < list.Count(); ++i) {
        const AddressEntry e = list.Entry(i);
        for (int f = list1 ? 0 : 1; f < fieldCount; ++f)
            t[f] = fieldText(e.field(Field(f)));
        const auto value = [&](Field f) { return escapeText(t[int(f)].text); };
        const auto present = [&](Field f) { return !e.field(f).isEmpty(); };

        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        const QString handle = value(Field::Handle);
        appendProperty(out, "FN", handle); // FN and N are required, even when empty
        appendProperty(out, "N", handle + QLatin1String(";;;;"));
        if (present(Field::Handle))
            appendProperty(out, "NICKNAME", handle);
        if (present(Field::Mail))
            appendProperty(out, "EMAIL;TYPE=INTERNET", value(Field::Mail));
        if (present(Field::PostPet))
            appendProperty(out, "EMAIL;TYPE=x-postpet", value(Field::PostPet));
        if (present(Field::Home))
            appendProperty(out, "URL", value(Field::Home));
        if (present(Field::ICQ)) {
            appendProperty(out, "X-ICQ", value(Field::ICQ));
            // IMPP holds an address, which only a plain number makes.
            if (isDigits(t[int(Field::ICQ)].text))
                appendProperty(out, "IMPP", QLatin1String("icq:") + t[int(Field::ICQ)].text);
        }
        if (present(Field::Memo))
            appendProperty(out, "NOTE", value(Field::Memo));
        // Always in list 1: a card without it gets a new entry's number on import, which would
        // turn an empty number into 1.
        if (list1)
            appendProperty(out, "X-PORADDR-NUMBER", value(Field::Number));
        appendProperty(out, "CATEGORIES", category);
        for (int f = list1 ? 0 : 1; f < fieldCount; ++f) {
            if (!t[f].raw)
                continue;
            const QByteArray head = QByteArray("X-PORADDR-RAW;X-FIELD=") + fieldNames[f] + ";ENCODING=b:";
            appendContentLine(out, head + e.field(Field(f)).toBase64());
            if (t[f].notCp932)
                ++counts.rawFields;
        }
        out += "END:VCARD\r\n";
        ++counts.people;
    }
}

ImportedCard entryFromCard(const Card &card, bool forList1)
{
    ImportedCard result;
    QString text[fieldCount];
    text[int(Field::Handle)] = handleOf(card);
    result.name = text[int(Field::Handle)];

    const Property *mail = nullptr, *postPet = nullptr, *icq = nullptr, *impp = nullptr;
    std::optional<QByteArray> raw[fieldCount];
    for (const Property &p : card.properties) {
        if (p.name == "EMAIL") {
            const Property *&slot = p.hasType("x-postpet") ? postPet : mail;
            if (!slot)
                slot = &p;
        } else if (p.name == "X-ICQ") {
            if (!icq)
                icq = &p;
        } else if (p.name == "IMPP") {
            if (!impp && p.value.startsWith(QLatin1String("icq:"), Qt::CaseInsensitive))
                impp = &p;
        } else if (p.name == "X-PORADDR-RAW") {
            // Bytes a list file cannot hold are not taken, whatever the card says.
            if (p.bytes.isEmpty() || problemWithBytes(p.bytes) != FieldProblem::None)
                continue;
            const QByteArray name = p.parameter("X-FIELD");
            for (int f = 0; f < fieldCount; ++f)
                if (!raw[f] && name.compare(fieldNames[f], Qt::CaseInsensitive) == 0)
                    raw[f] = p.bytes;
        }
    }
    text[int(Field::Mail)] = textOf(mail);
    text[int(Field::PostPet)] = textOf(postPet);
    text[int(Field::Home)] = textOf(first(card, "URL"));
    if (icq)
        text[int(Field::ICQ)] = textOf(icq);
    else if (impp)
        text[int(Field::ICQ)] = cleaned(unescapeText(QStringView(impp->value).sliced(4))); // after "icq:"
    text[int(Field::Memo)] = textOf(first(card, "NOTE"));
    if (forList1) {
        const Property *number = first(card, "X-PORADDR-NUMBER");
        text[int(Field::Number)] = number ? textOf(number) : QStringLiteral("1");
    }

    for (int f = forList1 ? 0 : 1; f < fieldCount; ++f) {
        QByteArray &bytes = result.entry.field(Field(f));
        // The original bytes come back only while the text still shows them: an edit elsewhere wins.
        if (raw[f] && fieldText(*raw[f]).text == text[f]) {
            bytes = *raw[f];
            continue;
        }
        StorableField kept = storableField(Field(f), text[f]);
        if (kept.problem != FieldProblem::None) {
            // What a card gives has had its line breaks and control characters taken out already.
            result.refusal = kept.problem == FieldProblem::NotCp932 ? Refusal::NotCp932 : Refusal::TooLong;
            result.field = Field(f);
            return result;
        }
        bytes = std::move(kept.bytes);
    }
    return result;
}

} // namespace vcard
