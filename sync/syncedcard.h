#pragma once

#include "store/addressbook.h"
#include "vcard/cardmapping.h"

#include <QByteArray>
#include <QString>

// The cards the sync writes and reads: an entry's card with its UID and X-PORADDR-ORDER, built
// over the card as the server last gave it, so that what the lists have no room for (TEL, ADR,
// PHOTO, further EMAILs, a structured N) stays on the card.
namespace syncedcard {

// "ぽるておともだち": the category that puts a card into list 1 in a shared collection.
QString list1Category();

struct ReadCard {
    bool parsed = false; // one card, readable
    vcard::ImportedCard imported;
    QString uid;
    QByteArray order; // X-PORADDR-ORDER as written
    bool inList1Category = false;
};

ReadCard read(const QByteArray &body, bool forList1);

// The card for entry. Where serverBody is given, only the properties of the fields whose value
// differs from what serverBody maps to are replaced; everything else on it is kept as it stands.
QByteArray build(const AddressEntry &entry, bool list1, const QString &uid, const QByteArray &order,
                 const QByteArray &serverBody);

} // namespace syncedcard
