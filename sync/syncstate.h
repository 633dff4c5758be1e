#pragma once

#include "store/addressbook.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// What the sync knows from its last run, kept beside the lists as PorAddrSync.state (JSON): for
// each list, in list order, the last synced form of every entry with the card it is on, and for
// each collection its sync token and the cards that could not be taken into a list.
struct SyncedEntry {
    AddressEntry fields; // exact CP932 bytes
    QString uid;
    QString href;
    QByteArray etag;
    QByteArray order;     // X-PORADDR-ORDER
    QByteArray body;      // the card as last stored or fetched; keeps what the lists have no room for
    bool pending = false; // a new card whose upload may or may not have happened
};

struct SkippedCard {
    QString href;
    QByteArray etag; // the version that was refused: a new version is looked at again
    QString name;
};

struct CollectionState {
    QByteArray syncToken;
    QList<SkippedCard> skipped;
};

struct ListState {
    QString collection; // the entries are on this collection's cards
    QList<SyncedEntry> entries;
};

struct SyncState {
    ListState lists[2];
    QMap<QString, CollectionState> collections;
};

namespace syncstate {

QString fileName();          // "PorAddrSync.state"
QString conflictsFileName(); // "PorAddrSync-conflicts.vcf"

// The state in dir; an empty state when there is none. Throws PorError when the file is there
// but cannot be read or is not a state file.
SyncState load(const QString &dir);

// Replaces the state file in one atomic step. Throws PorError on failure.
void save(const QString &dir, const SyncState &state);

QByteArray toJson(const SyncState &state);

} // namespace syncstate
