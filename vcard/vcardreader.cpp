#include "vcard/vcardreader.h"

#include "store/cp932.h"
#include "store/linefile.h"

#include <QStringDecoder>

namespace vcard {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Physical lines: CR LF, LF or CR end one, found by the line splitter's search. Its walk
// (forEachLine) is not used: a card's reader takes lines one at a time to unfold continuation lines
// and quoted-printable soft breaks into the line before, and a NUL is data here, not the text's end.
class LineReader {
public:
    explicit LineReader(QByteArrayView text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    int number() const { return number_; } // of the line last taken

    QByteArrayView take()
    {
        const char *const data = text_.data();
        const char *const end = data + text_.size();
        const char *const at = linefile::detail::findLineEnd(data + pos_, end);
        const QByteArrayView line(data + pos_, at - (data + pos_));
        pos_ = (at < end ? linefile::detail::afterLineEnd(at, end) : end) - data;
        ++number_;
        return line;
    }

    bool nextStartsWithBlank() const { return pos_ < text_.size() && isBlank(text_[pos_]); }

private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
    int number_ = 0;
};

// Where the name and parameters end: the first colon outside double quotes, or -1.
qsizetype colonOf(QByteArrayView line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return -1;
}

bool mentionsQuotedPrintable(QByteArrayView head)
{
    return head.size() >= 16 && head.toByteArray().toUpper().contains("QUOTED-PRINTABLE");
}

QList<QByteArrayView> splitParameters(QByteArrayView head)
{
    QList<QByteArrayView> parts;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (head[i] == '"') {
            quoted = !quoted;
        } else if (head[i] == ';' && !quoted) {
            parts.append(head.sliced(start, i - start));
            start = i + 1;
        }
    }
    parts.append(head.sliced(start));
    return parts;
}

QByteArray unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.sliced(1, value.size() - 2);
    return value.toByteArray();
}

Parameter parameterFrom(QByteArrayView item)
{
    const qsizetype eq = item.indexOf('=');
    if (eq >= 0)
        return {item.first(eq).trimmed().toByteArray().toUpper(), unquoted(item.sliced(eq + 1).trimmed())};
    // vCard 2.1 writes parameter values alone: "EMAIL;INTERNET;QUOTED-PRINTABLE:".
    const QByteArray value = item.trimmed().toByteArray();
    const QByteArray upper = value.toUpper();
    const bool encoding =
        upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "8BIT" || upper == "7BIT";
    return {encoding ? QByteArray("ENCODING") : QByteArray("TYPE"), value};
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Soft line breaks ("=" at a line end) are already joined; an "=" not followed by two hex digits
// is kept as it is, as lenient readers do.
QByteArray decodeQuotedPrintable(QByteArrayView value)
{
    QByteArray out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size()) {
            const int hi = hexValue(value[i + 1]);
            const int lo = hexValue(value[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += value[i];
    }
    return out;
}

bool isShiftJis(const QByteArray &charset)
{
    const QByteArray c = charset.toUpper();
    return c == "SHIFT_JIS" || c == "SHIFT-JIS" || c == "SJIS" || c == "X-SJIS" || c == "MS_KANJI" ||
           c == "CP932" || c == "WINDOWS-31J" || c == "MS932" || c == "CSSHIFTJIS";
}

struct Decoded {
    ParseProblem problem = ParseProblem::None;
    QByteArray detail;
};

// Fills property.value (or .bytes) from the raw value by its ENCODING and CHARSET.
Decoded decodeValue(Property &property, QByteArrayView raw)
{
    const QByteArray encoding = property.parameter("ENCODING").toUpper();
    QByteArray bytes;
    if (encoding.isEmpty() || encoding == "8BIT" || encoding == "7BIT") {
        bytes = raw.toByteArray();
    } else if (encoding == "QUOTED-PRINTABLE") {
        bytes = decodeQuotedPrintable(raw);
    } else if (encoding == "B" || encoding == "BASE64") {
        QByteArray compact = raw.toByteArray();
        compact.replace(' ', QByteArray()).replace('\t', QByteArray());
        auto result = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
        if (!result)
            return {ParseProblem::BadBase64, {}};
        property.bytes = std::move(*result);
        return {};
    } else {
        return {ParseProblem::UnknownEncoding, encoding};
    }

    const QByteArray charset = property.parameter("CHARSET");
    if (charset.isEmpty() || charset.compare("UTF-8", Qt::CaseInsensitive) == 0 ||
        charset.compare("US-ASCII", Qt::CaseInsensitive) == 0) {
        if (!QByteArrayView(bytes).isValidUtf8())
            return {ParseProblem::BadText, charset.isEmpty() ? QByteArray("UTF-8") : charset};
        property.value = QString::fromUtf8(bytes);
    } else if (isShiftJis(charset)) {
        auto text = cp932::decodeValid(bytes);
        if (!text)
            return {ParseProblem::BadText, charset};
        property.value = std::move(*text);
    } else {
        QStringDecoder decoder(charset.constData(), QStringConverter::Flag::Stateless);
        if (!decoder.isValid())
            return {ParseProblem::UnknownCharset, charset};
        property.value = decoder.decode(bytes);
        if (decoder.hasError())
            return {ParseProblem::BadText, charset};
    }
    return {};
}

} // namespace

bool Property::hasType(QByteArrayView type) const
{
    for (const Parameter &p : parameters) {
        if (p.name != "TYPE")
            continue;
        for (const QByteArray &item : p.value.split(','))
            if (item.trimmed().compare(type, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

QByteArray Property::parameter(QByteArrayView parameterName) const
{
    for (const Parameter &p : parameters)
        if (p.name == parameterName)
            return p.value;
    return QByteArray();
}

ParseResult parse(QByteArrayView data)
{
    QList<Card> cards;
    ParseResult result = parse(data, [&](const Card &card) { cards.append(card); });
    result.cards = std::move(cards);
    return result;
}

ParseResult parse(QByteArrayView data, const std::function<void(const Card &)> &onCard)
{
    ParseResult result;
    if (data.startsWith("\xEF\xBB\xBF"))
        data = data.sliced(3);
    LineReader reader(data);
    QByteArray joined; // a logical line that had to be put together from several
    int depth = 0;     // 1 inside a card; deeper inside a card nested in it (a 2.1 AGENT)
    Card card;

    const auto fail = [&](ParseProblem problem, int line, QByteArray detail = {}) {
        result.problem = problem;
        result.problemLine = line;
        result.problemDetail = std::move(detail);
        return result;
    };

    while (!reader.atEnd()) {
        QByteArrayView line = reader.take();
        const int lineNumber = reader.number();
        if (reader.nextStartsWithBlank()) {
            joined = line.toByteArray();
            while (reader.nextStartsWithBlank())
                joined += reader.take().sliced(1);
            line = joined;
        }
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype colon = colonOf(line);
        // Quoted-printable lines end in "=" where the value goes on at the start of the next line.
        if (colon > 0 && line.endsWith('=') && mentionsQuotedPrintable(line.first(colon))) {
            if (line.data() != joined.constData())
                joined = line.toByteArray();
            while (joined.endsWith('=') && !reader.atEnd()) {
                joined.chop(1);
                joined += reader.take();
            }
            line = joined;
        }
        if (colon <= 0)
            return fail(ParseProblem::NotAContentLine, lineNumber);

        const QList<QByteArrayView> head = splitParameters(line.first(colon));
        QByteArrayView name = head.first().trimmed();
        if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0)
            name = name.sliced(dot + 1);
        if (name.isEmpty())
            return fail(ParseProblem::NotAContentLine, lineNumber);
        const QByteArray upperName = name.toByteArray().toUpper();
        const QByteArrayView value = line.sliced(colon + 1);

        if (upperName == "BEGIN" || upperName == "END") {
            if (value.trimmed().compare("VCARD", Qt::CaseInsensitive) != 0)
                return fail(ParseProblem::NotAVCard, lineNumber);
            if (upperName == "BEGIN") {
                if (depth++ == 0) {
                    card.properties.clear(); // keeps its room for the next card
                    card.line = lineNumber;
                }
            } else {
                if (depth == 0)
                    return fail(ParseProblem::EndWithoutBegin, lineNumber);
                if (--depth == 0)
                    onCard(card);
            }
            continue;
        }
        if (depth == 0)
            return fail(ParseProblem::OutsideCard, lineNumber);
        if (depth > 1)
            continue; // a card inside a card is not one of the people

        Property property;
        property.name = upperName;
        property.line = lineNumber;
        property.parameters.reserve(head.size() - 1);
        for (qsizetype i = 1; i < head.size(); ++i)
            property.parameters.append(parameterFrom(head[i]));
        const Decoded decoded = decodeValue(property, value);
        if (decoded.problem != ParseProblem::None)
            return fail(decoded.problem, lineNumber, decoded.detail);
        if (upperName == "VERSION") {
            const QString version = property.value.trimmed();
            if (version != QLatin1String("2.1") && version != QLatin1String("3.0") &&
                version != QLatin1String("4.0"))
                return fail(ParseProblem::UnsupportedVersion, lineNumber, version.toUtf8());
            continue;
        }
        card.properties.append(std::move(property));
    }
    if (depth > 0)
        return fail(ParseProblem::MissingEnd, card.line);
    return result;
}

} // namespace vcard
