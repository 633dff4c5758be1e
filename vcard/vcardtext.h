#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

// The text rules of vCard values and content lines, shared by the reader and the writer.
namespace vcard {

// Backslash, comma and semicolon get a backslash; a line break becomes "\n".
QString escapeText(QStringView text);

// Undoes escapeText: "\\", "\,", "\;" and "\:" give the character, "\n" and "\N" a line break. Any
// other backslash is kept as it is, as older writers leave them unescaped.
QString unescapeText(QStringView value);

// The parts of an escaped value between the separators that no backslash escapes, still escaped.
QStringList splitEscaped(QStringView value, QChar separator);

// Appends one content line ended by CR LF, folded so that no line is longer than 75 octets: each
// continuation starts with one blank. A UTF-8 sequence is never cut in two.
void appendContentLine(QByteArray &out, QByteArrayView line);

} // namespace vcard
