#include "store/fieldrule.h"

#include "store/cp932.h"

namespace {

// The first character of text, a surrogate pair counted as one, that CP932 has no bytes for.
QString firstNotInCp932(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        if (!cp932::encode(text.mid(i, length)))
            return text.mid(i, length);
        i += length - 1;
    }
    return QString();
}

} // namespace

StorableField storableField(Field f, const QString &text)
{
    StorableField result;
    result.field = f;
    bool ascii = true; // most imported text is ASCII, and its bytes are its characters
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        result.bytes = text.toLatin1();
    } else if (std::optional<QByteArray> bytes = cp932::encode(text)) {
        result.bytes = std::move(*bytes);
    } else {
        result.problem = FieldProblem::NotCp932;
        result.offending = firstNotInCp932(text);
        return result;
    }
    result.problem = problemWithBytes(result.bytes);
    if (result.problem != FieldProblem::None)
        result.bytes.clear();
    return result;
}

FieldProblem problemWithBytes(QByteArrayView bytes)
{
    if (breaksLine(bytes))
        return FieldProblem::BreaksLine;
    return bytes.size() > maxFieldBytes ? FieldProblem::TooLong : FieldProblem::None;
}

bool breaksLine(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    return false;
}
