#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

// Reads vCard 2.1, 3.0 and 4.0 files: unfolds lines, joins quoted-printable soft line breaks,
// decodes quoted-printable and base64 values and the CHARSET parameter (UTF-8 when none).
namespace vcard {

struct Parameter {
    QByteArray name;  // upper case; a bare 2.1 parameter is filed under TYPE, or ENCODING for an encoding
    QByteArray value; // as written, without surrounding double quotes
};

struct Property {
    QByteArray name; // upper case, without its group ("item1.EMAIL" is EMAIL)
    QList<Parameter> parameters;
    QString value;    // decoded text, vCard escapes still in place; empty for a base64 value
    QByteArray bytes; // the decoded bytes of a base64 value
    int line = 0;     // where the property starts, counted from 1

    // True when a TYPE parameter lists type (case-insensitive), in any of the ways versions write it.
    bool hasType(QByteArrayView type) const;
    QByteArray parameter(QByteArrayView name) const; // the first such parameter's value, or empty
};

struct Card {
    int line = 0; // of its BEGIN:VCARD
    QList<Property> properties;
};

enum class ParseProblem {
    None,
    NotAContentLine,    // a line with no name or no colon
    OutsideCard,        // a property before BEGIN:VCARD or after END:VCARD
    NotAVCard,          // BEGIN or END of something other than VCARD
    EndWithoutBegin,    //
    MissingEnd,         // the file ends inside a card (line: its BEGIN)
    UnsupportedVersion, // a VERSION other than 2.1, 3.0 and 4.0
    UnknownEncoding,    // an ENCODING that is not quoted-printable, base64 or 7/8 bit
    BadBase64,          //
    UnknownCharset,     //
    BadText,            // a value that is not valid in its charset
};

struct ParseResult {
    QList<Card> cards;
    ParseProblem problem = ParseProblem::None;
    int problemLine = 0;
    QByteArray problemDetail; // the version, encoding or charset named, where there is one
};

// Reads a whole file, handing each card to onCard as soon as it ends (result.cards stays empty).
// Stops at the first problem; the cards before it have been handed over, but a caller should take
// nothing from a file with a problem.
ParseResult parse(QByteArrayView data, const std::function<void(const Card &)> &onCard);

// The same, with the cards collected in result.cards.
ParseResult parse(QByteArrayView data);

} // namespace vcard
