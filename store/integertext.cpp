#include "store/integertext.h"

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<qint32> parseIntegerText(QByteArrayView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    if (i == n)
        return std::nullopt;

    if (text[i] == '$') {
        ++i;
        if (i == n)
            return std::nullopt;
        quint32 value = 0;
        int significant = 0;
        for (; i < n; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                return std::nullopt;
            if (significant > 0 || d != 0)
                ++significant;
            if (significant > 8)
                return std::nullopt;
            value = (value << 4) | quint32(d);
        }
        // The digits are a 32-bit two's-complement pattern: $FFFFFFFF is -1.
        return qint32(value);
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n)
        return std::nullopt;
    // The magnitude may reach 2147483648 so that -2147483648 fits; qint64 cannot overflow here.
    qint64 value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > qint64(2147483648LL))
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return std::nullopt;
    return qint32(value);
}

std::optional<qint32> parseIntegerText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    return parseIntegerText(QByteArrayView(bytes));
}

std::optional<qint32> parseSettingsInteger(QByteArrayView text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        QByteArray replaced = "$" + text.sliced(2).toByteArray();
        return parseIntegerText(QByteArrayView(replaced));
    }
    return parseIntegerText(text);
}

QByteArray integerText(qint32 value)
{
    return QByteArray::number(value);
}
