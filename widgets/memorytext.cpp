#include "widgets/memorytext.h"

namespace {
// One byte in CP932: ASCII and the half-width katakana block.
bool isSingleByteSeparator(const QString &separator)
{
    if (separator.size() != 1)
        return false;
    const char16_t c = separator.at(0).unicode();
    return c < 0x80 || (c >= 0xFF61 && c <= 0xFF9F);
}
} // namespace

QString formatKilobytes(quint64 totalBytes, const QString &localeSeparator)
{
    // Integer arithmetic gives exactly the rounded extended-precision quotient (division by 1024
    // is exact in binary), also where long double is only a double and would lose the last
    // digits of figures beyond 2^53.
    const quint64 kilobytes = totalBytes / 1024 + (totalBytes % 1024 >= 512 ? 1 : 0);
    const QString separator = isSingleByteSeparator(localeSeparator) ? localeSeparator : QStringLiteral(",");

    QString digits = kilobytes == 0 ? QString() : QString::number(kilobytes);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, separator);
    return digits + QStringLiteral(" KB");
}

QString formatMemoryLoad(int load)
{
    return QString::asprintf("%d %%", load);
}
