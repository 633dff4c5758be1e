#pragma once

#include "store/addressbook.h"
#include "store/fieldrule.h"
#include "vcard/vcardreader.h"

#include <QByteArray>
#include <QString>

// Entries as vCard 3.0 cards and cards as entries.
//
//   Handle  FN, N (family name), NICKNAME     Mail     EMAIL;TYPE=INTERNET
//   Home    URL                               ICQ      X-ICQ (and IMPP:icq: for a plain number)
//   PostPet EMAIL;TYPE=x-postpet              Memo     NOTE
//   Number  X-PORADDR-NUMBER (list 1)         list     CATEGORIES
//
// A field whose bytes the text cannot give back exactly (bytes that are not CP932, control bytes,
// or the second of two CP932 codes for one character) also goes as X-PORADDR-RAW;X-FIELD=<field>
// with its bytes in base64, so that an import restores it as long as the text was not changed.
namespace vcard {

struct ExportCounts {
    int people = 0;
    int rawFields = 0; // fields holding bytes that are not CP932 text
};

// Appends a card for every entry of list (UTF-8, CR LF, folded at 75 octets).
void appendCards(QByteArray &out, const AddressList &list, ExportCounts &counts);

enum class Refusal {
    None,
    NotCp932, // the text of field holds a character CP932 does not have
    TooLong,  // field would take more than a list file line holds
};

struct ImportedCard {
    AddressEntry entry;
    QString name; // the handle as read, for messages
    Refusal refusal = Refusal::None;
    Field field = Field::Handle; // the field refused
};

// The entry for a card: Handle from FN, else N, else NICKNAME; the first EMAIL (not PostPet's),
// URL, X-ICQ (else an icq: IMPP) and NOTE. Line breaks become a blank; other control characters
// are dropped. forList1: Number from X-PORADDR-NUMBER, or "1" (a new entry's number) without it.
ImportedCard entryFromCard(const Card &card, bool forList1);

} // namespace vcard
