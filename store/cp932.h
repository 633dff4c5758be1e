#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// The one place where CP932 bytes and screen text meet.
namespace cp932 {

// For display: the whole field at once; bytes that are not CP932 show as U+001A.
QString decode(const QByteArray &bytes);

// The text of bytes that are all valid CP932; nothing when any byte is not. Cheap enough to call once
// a field over a whole list.
std::optional<QString> decodeValid(QByteArrayView bytes);

// Replaces look-alikes that pasted text often carries (U+301C wave dash, U+2016, U+2212, U+00A2,
// U+00A3, U+00AC) by the full-width forms CP932 holds.
QString mapLookalikes(QString text);

// Encodes after mapLookalikes; nothing when a character has no CP932 form.
std::optional<QByteArray> encode(const QString &text);

} // namespace cp932

// A field is empty when the user's locale compares its text equal to the empty text.
bool isEmptyField(const QByteArray &field);
