#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Integer text: leading blanks, then an optional sign and decimal digits, or "$" and at most
// eight significant hex digits (a 32-bit pattern, no sign); nothing may follow.
std::optional<qint32> parseIntegerText(QByteArrayView text);
std::optional<qint32> parseIntegerText(const QString &text); // non-ASCII text is never an integer
// A QByteArray converts to both of the above; this settles which.
inline std::optional<qint32> parseIntegerText(const QByteArray &text)
{
    return parseIntegerText(QByteArrayView(text));
}

// The settings file's reading: a leading "0x"/"0X" on a text longer than 2 bytes counts as "$".
std::optional<qint32> parseSettingsInteger(QByteArrayView text);

// Plain decimal: "-" before a negative value, no leading zeros.
QByteArray integerText(qint32 value);
