// The integer-text parser on arbitrary bytes, checked against a slow reference reading.
#include "store/integertext.h"

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Leading blanks, then sign and decimal digits, or "$" and hex digits; exact arithmetic in 128 bits.
std::optional<qint32> reference(QByteArrayView t)
{
    qsizetype i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    t = t.sliced(i);
    if (t.startsWith('$')) {
        const QByteArrayView digits = t.sliced(1);
        if (digits.isEmpty())
            return std::nullopt;
        __int128 v = 0;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            v = v * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
            if (v > 0xFFFFFFFFLL)
                return std::nullopt;
        }
        return qint32(quint32(v));
    }
    bool negative = false;
    if (t.startsWith('+') || t.startsWith('-')) {
        negative = t.startsWith('-');
        t = t.sliced(1);
    }
    if (t.isEmpty())
        return std::nullopt;
    __int128 v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > (__int128(1) << 40))
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
        return std::nullopt;
    return qint32(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<qint32> parsed = parseIntegerText(text);
    check(parsed == reference(text));
    if (parsed)
        check(parseIntegerText(integerText(*parsed)) == parsed);

    const std::optional<qint32> setting = parseSettingsInteger(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        check(setting == reference("$" + text.sliced(2).toByteArray()));
    else
        check(setting == parsed);
    return 0;
}
