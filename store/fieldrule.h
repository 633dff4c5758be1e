#pragma once

#include "store/addressbook.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What a field may hold once it is kept: the list files keep one field a line in CP932, so a field
// holds no CR, LF or NUL, at most maxFieldBytes bytes, and only characters CP932 has. The entry
// dialog and every import take a field's bytes from here, so that they keep exactly the same.
constexpr qsizetype maxFieldBytes = 4095;

enum class FieldProblem {
    None,
    NotCp932,   // a character CP932 does not have
    TooLong,    // more than maxFieldBytes bytes
    BreaksLine, // CR, LF or NUL
};

struct StorableField {
    Field field = Field::Handle;
    FieldProblem problem = FieldProblem::None;
    QByteArray bytes;  // what to keep, when problem is None
    QString offending; // NotCp932: the first character that CP932 does not have
};

// The bytes to keep for text the user typed or a card gave as field f, or why it cannot be kept.
StorableField storableField(Field f, const QString &text);

// The same rule for bytes given as they are (a card's original bytes, say).
FieldProblem problemWithBytes(QByteArrayView bytes);

// Whether bytes hold CR, LF or NUL, which no list file line can hold whatever its length.
bool breaksLine(QByteArrayView bytes);
