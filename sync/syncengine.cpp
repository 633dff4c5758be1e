#include "sync/syncengine.h"

#include "store/cp932.h"
#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfiles.h"
#include "sync/davclient.h"
#include "sync/orderkey.h"
#include "sync/syncedcard.h"
#include "sync/syncstate.h"

#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <algorithm>

namespace {

// How often a card that changed on the server meanwhile (412) is fetched and tried again.
constexpr int attempts = 3;
// Deleting more than half of a side needs --force once it is more than this many entries.
constexpr int deletionsWithoutForce = 10;

int firstField(bool list1)
{
    return list1 ? 0 : 1;
}

bool sameFields(const AddressEntry &a, const AddressEntry &b, bool list1)
{
    for (int f = firstField(list1); f < fieldCount; ++f)
        if (a.field(Field(f)) != b.field(Field(f)))
            return false;
    return true;
}

QByteArray identity(const AddressEntry &e, bool list1)
{
    QByteArray out;
    for (int f = firstField(list1); f < fieldCount; ++f) {
        out += e.field(Field(f));
        out += '\n'; // no field holds a line break
    }
    return out;
}

// How many text fields two entries share, counting only fields that hold something.
int likeness(const AddressEntry &a, const AddressEntry &b)
{
    int n = 0;
    for (const Field f : textFields)
        if (!a.field(f).isEmpty() && a.field(f) == b.field(f))
            ++n;
    return n;
}

// Field by field: a side that changed a field wins; where both changed it differently the
// window's value stays (conflict set).
AddressEntry merged(const AddressEntry &base, const AddressEntry &here, const AddressEntry &there, bool list1,
                    bool &conflict)
{
    AddressEntry out = here;
    for (int f = firstField(list1); f < fieldCount; ++f) {
        const QByteArray &b = base.field(Field(f)), &h = here.field(Field(f)), &t = there.field(Field(f));
        if (h == t || t == b)
            continue;
        if (h == b)
            out.field(Field(f)) = t;
        else
            conflict = true;
    }
    return out;
}

QString nameOf(const AddressEntry &e, const SyncText &tr)
{
    const QString name = cp932::decode(e.Handle);
    return name.isEmpty() ? tr("（名前なし）", "(no name)") : name;
}

QString fieldLabel(Field f, const SyncText &tr)
{
    switch (f) {
    case Field::Number:
        return tr("No.", "number");
    case Field::Handle:
        return tr("ハンドル", "handle");
    case Field::Mail:
        return tr("メルアド", "mail address");
    case Field::Home:
        return tr("ホーム", "home page");
    case Field::ICQ:
        return QStringLiteral("ICQ");
    case Field::PostPet:
        return tr("ポスペ", "PostPet address");
    case Field::Memo:
        break;
    }
    return tr("メモ", "memo");
}

// A card on the server as this run sees it.
struct RemoteItem {
    QString href;
    QByteArray etag, body;
    int list = -1;       // which list it belongs to; -1: none (refused before, unchanged since)
    bool usable = false; // read and taken; otherwise the card is left as it is
    AddressEntry fields;
    QString uid;
    QByteArray order;
    QString name;         // of a card refused
    bool claimed = false; // paired with an entry of the state or a new entry
};

struct Collection {
    QString url;
    QList<RemoteItem> cards;
    QByteArray token;
    bool complete = true; // every card was read: the new token may be kept
    QList<SkippedCard> skipped;
};

enum class Op { None, Create, Update, Delete };

// One entry or card of a list and what becomes of it.
struct Item {
    int list = 0;
    int base = -1, local = -1, remote = -1;
    AddressEntry fields; // the result
    QByteArray key;
    bool inList = false;
    bool frozen = false; // its card could not be read: neither side is touched
    Op op = Op::None;
    bool failed = false;
    // The card as on the server now (or as it is to be).
    QString uid, href;
    QByteArray etag, body;
    bool hasRemote = false;
    AddressEntry remoteFields;
    QByteArray remoteKey;
    bool cameBack = false;   // deleted here, changed there: back in the list
    bool movedThere = false; // takes the place the server gives it
};

// Cards without a place of ours go after the others, by UID, so that every machine puts them alike.
bool placedBefore(const Item *a, const Item *b)
{
    if (a->key.isEmpty() != b->key.isEmpty())
        return b->key.isEmpty();
    if (a->key != b->key)
        return a->key < b->key;
    return a->uid < b->uid;
}

QString collectionPath(const QString &collection)
{
    const QUrl url(collection);
    QString path = url.isValid() && !url.scheme().isEmpty() ? url.path(QUrl::FullyEncoded) : collection;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

class Run {
public:
    Run(const SyncJob &job, const SyncText &tr) : job_(job), tr_(tr) {}
    SyncResult go();

private:
    bool readLocal();
    bool readCollections();
    bool readCollection(Collection &c);
    void matchList(int l);
    void decide(Item &item);
    void order(int l);
    bool checkDeletions();
    void describePlan();
    void runServer();
    void renewTokens();
    void create(Item &item);
    void update(Item &item);
    void remove(Item &item);
    bool fetchOne(const Item &item, RemoteItem &out, bool &gone);
    bool serverFailed(const carddav::Result &r, Item &item, const QString &what);
    void noteConflict(const AddressEntry &kept, const QByteArray &theirs);
    void finish();
    Collection &collectionOf(int l);
    AddressList &listOf(int l) { return book_.list(l + 1).entries; }
    RemoteItem readRemote(const carddav::RemoteCard &card, const Collection &c);
    SyncResult stop(SyncStop s, const QString &message)
    {
        result_.stop = s;
        result_.stopMessage = message;
        return result_;
    }

    const SyncJob &job_;
    const SyncText &tr_;
    SyncResult result_;
    SyncState state_;
    AddressBook book_;
    QList<Collection> collections_;
    // What this run wrote, by collection: href -> the etag the server gave (empty: removed).
    QHash<QString, QHash<QString, QByteArray>> wrote_;
    void wrote(const Item &item, const QByteArray &etag)
    {
        wrote_[job_.collections[item.list]].insert(item.href, etag);
    }
    QList<Item> items_;
    QByteArray conflicts_;
    bool serverDown_ = false;
    int depth_ = 0; // create and update hand a card to each other when the server keeps changing it
};

Collection &Run::collectionOf(int l)
{
    for (Collection &c : collections_)
        if (c.url == job_.collections[l])
            return c;
    Q_UNREACHABLE();
}

bool Run::readLocal()
{
    try {
        state_ = syncstate::load(job_.dir);
        setListPaths(book_, job_.dir);
        LoadLists(book_);
    } catch (const PorError &e) {
        stop(SyncStop::FileError, e.message());
        return false;
    }
    for (int l = 0; l < 2; ++l) {
        if (state_.lists[l].collection != job_.collections[l]) {
            // Another collection than last time: everything on it is new, its token of an earlier
            // setup would hide the cards that did not change since.
            state_.lists[l] = ListState{job_.collections[l], {}};
            state_.collections.remove(job_.collections[l]);
        }
        if (job_.collections[l].isEmpty())
            continue;
        const qsizetype known = std::count_if(state_.lists[l].entries.begin(), state_.lists[l].entries.end(),
                                              [](const SyncedEntry &e) { return !e.pending; });
        const QString path = book_.list(l + 1).path;
        if (known > 0 && !QFileInfo(path).isFile() && !job_.force) {
            stop(SyncStop::Safety,
                 tr_("%1 がありません。前回は %2 人いたので、サーバーからは何も消していません (消すなら "
                     "--force)",
                     "%1 is missing though it held %2 entries at the last sync; nothing was deleted on "
                     "the server (--force deletes them there)")
                     .arg(path)
                     .arg(known));
            return false;
        }
    }
    return true;
}

RemoteItem Run::readRemote(const carddav::RemoteCard &card, const Collection &c)
{
    RemoteItem r;
    r.href = card.href;
    r.etag = card.etag;
    r.body = card.body;
    syncedcard::ReadCard read = syncedcard::read(card.body, true);
    const bool both = job_.collections[0] == c.url && job_.collections[1] == c.url;
    r.list = both ? (read.inList1Category ? 0 : 1) : (job_.collections[0] == c.url ? 0 : 1);
    if (r.list == 1)
        read = syncedcard::read(card.body, false);
    if (!read.parsed) {
        result_.notes.append(tr_("%1: vCard として読めないカードです。飛ばしました",
                                 "%1: the card cannot be read as a vCard; skipped")
                                 .arg(card.href));
        ++result_.skipped;
        return r;
    }
    const vcard::ImportedCard &imported = read.imported;
    if (imported.refusal != vcard::Refusal::None) {
        const QString name = imported.name.isEmpty() ? tr_("（名前なし）", "(no name)") : imported.name;
        const QString field = fieldLabel(imported.field, tr_);
        const QString why =
            imported.refusal == vcard::Refusal::NotCp932
                ? tr_("%1 に CP932 で表せない文字があります", "its %1 holds characters CP932 does not have")
                      .arg(field)
                : tr_("%1 が %2 バイトを超えます", "its %1 is longer than %2 bytes")
                      .arg(field)
                      .arg(maxFieldBytes);
        result_.notes.append(QStringLiteral("%1: %2").arg(
            card.href,
            tr_("「%1」は取り込みません: %2", "\"%1\" not taken into the list: %2").arg(name, why)));
        ++result_.skipped;
        r.list = -1;
        r.name = name;
        return r;
    }
    r.usable = true;
    r.fields = imported.entry;
    // A card another program made without a UID is known by its file name, alike on every machine.
    r.uid =
        read.uid.isEmpty() ? card.href.section(QLatin1Char('/'), -1).remove(QLatin1String(".vcf")) : read.uid;
    r.order = read.order;
    return r;
}

bool Run::readCollection(Collection &c)
{
    QMap<QString, QByteArray> known; // href -> etag as the state last saw it
    QHash<QString, const SyncedEntry *> entryAt;
    QHash<QString, int> listAt;
    for (int l = 0; l < 2; ++l) {
        if (job_.collections[l] != c.url)
            continue;
        for (const SyncedEntry &e : state_.lists[l].entries) {
            if (e.pending)
                continue;
            known.insert(e.href, e.etag);
            entryAt.insert(e.href, &e);
            listAt.insert(e.href, l);
        }
    }
    const CollectionState old = state_.collections.value(c.url);
    QHash<QString, QByteArray> skippedAt;
    for (const SkippedCard &s : old.skipped) {
        known.insert(s.href, s.etag);
        skippedAt.insert(s.href, s.etag);
    }

    carddav::Listing listing;
    const carddav::Result listed = job_.remote->list(c.url, old.syncToken, listing);
    if (!listed.ok()) {
        stop(SyncStop::Unreachable, listed.message.isEmpty() ? c.url : listed.message);
        return false;
    }
    QMap<QString, QByteArray> now;
    if (listing.delta) {
        now = known;
        for (const QString &href : listing.removed)
            now.remove(href);
    }
    for (const carddav::RemoteCard &card : listing.cards)
        now.insert(card.href, card.etag);
    if (now.isEmpty() && !entryAt.isEmpty() && !job_.force) {
        stop(SyncStop::Safety,
             tr_("%1 が空です。前回は %2 枚あったので、ここでは何も消していません (消すなら --force)",
                 "%1 is empty though it held %2 cards at the last sync; nothing was deleted "
                 "here (--force deletes them here)")
                 .arg(c.url)
                 .arg(entryAt.size()));
        return false;
    }
    c.token = listing.syncToken;

    QStringList wanted;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (!known.contains(it.key()) || known.value(it.key()) != it.value() || it.value().isEmpty())
            wanted.append(it.key());
    const QSet<QString> asked(wanted.begin(), wanted.end());
    QHash<QString, carddav::RemoteCard> fetched;
    if (!wanted.isEmpty()) {
        QList<carddav::RemoteCard> out;
        QStringList failed;
        const carddav::Result got = job_.remote->fetch(c.url, wanted, out, failed);
        if (!got.ok()) {
            stop(SyncStop::Unreachable, got.message.isEmpty() ? c.url : got.message);
            return false;
        }
        for (const carddav::RemoteCard &card : out)
            fetched.insert(card.href, card);
    }
    for (auto it = now.begin(); it != now.end(); ++it) {
        const QString &href = it.key();
        if (fetched.contains(href)) {
            const carddav::RemoteCard &card = fetched[href];
            RemoteItem r = readRemote(card, c);
            if (!r.usable) {
                if (r.list == -1) // refused: said once, until the card changes
                    c.skipped.append({href, card.etag, r.name});
                else
                    c.complete = false;
            }
            c.cards.append(r);
        } else if (asked.contains(href)) {
            if (!serverDown_) {
                result_.notes.append(tr_("%1: カードを取ってこられません。飛ばしました",
                                         "%1: the card cannot be fetched; skipped")
                                         .arg(href));
                ++result_.skipped;
            }
            c.complete = false;
            RemoteItem r;
            r.href = href;
            c.cards.append(r);
        } else if (skippedAt.contains(href)) {
            c.skipped.append({href, it.value(), QString()});
            RemoteItem r;
            r.href = href;
            r.etag = it.value();
            c.cards.append(r);
        } else {
            const SyncedEntry &e = *entryAt.value(href);
            RemoteItem r;
            r.href = href;
            r.etag = e.etag;
            r.body = e.body;
            r.list = listAt.value(href);
            r.usable = true;
            r.fields = e.fields;
            r.uid = e.uid;
            r.order = e.order;
            c.cards.append(r);
        }
    }
    return true;
}

bool Run::readCollections()
{
    for (int l = 0; l < 2; ++l) {
        if (job_.collections[l].isEmpty())
            continue;
        if (std::any_of(collections_.begin(), collections_.end(),
                        [&](const Collection &c) { return c.url == job_.collections[l]; }))
            continue;
        collections_.append(Collection{job_.collections[l], {}, {}, true, {}});
        if (!readCollection(collections_.last()))
            return false;
    }
    return true;
}

void Run::matchList(int l)
{
    const bool list1 = l == 0;
    const QList<SyncedEntry> &bases = state_.lists[l].entries;
    const AddressList &local = listOf(l);
    Collection &c = collectionOf(l);
    const int n = local.Count();
    const qsizetype m = bases.size();
    QList<AddressEntry> here(n);
    for (int i = 0; i < n; ++i)
        here[i] = local.Entry(i);

    // (a) identical fields pair in order, so two identical entries stay two cards.
    QList<int> baseOf(n, -1);
    QList<int> localOf(m, -1);
    {
        QHash<QByteArray, QList<int>> waiting;
        for (int b = 0; b < m; ++b)
            waiting[identity(bases[b].fields, list1)].append(b);
        for (int i = 0; i < n; ++i) {
            QList<int> &queue = waiting[identity(here[i], list1)];
            if (!queue.isEmpty()) {
                baseOf[i] = queue.takeFirst();
                localOf[baseOf[i]] = i;
            }
        }
    }
    // (b) the rest between the same matched neighbours pair by position, where as many are left on
    // both sides: an entry edited in place, whatever its fields, is the same card.
    for (int i = 0; i < n;) {
        if (baseOf[i] >= 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < n && baseOf[end] < 0)
            ++end;
        const int low = i > 0 ? baseOf[i - 1] : -1;
        const int high = end < n ? baseOf[end] : int(m);
        QList<int> free;
        for (int b = low + 1; b < high && low < high; ++b)
            if (localOf[b] < 0)
                free.append(b);
        if (free.size() == end - i)
            for (int k = i; k < end; ++k) {
                baseOf[k] = free[k - i];
                localOf[free[k - i]] = k;
            }
        i = end;
    }
    // ... then by most equal fields, among the few entries of the state left over.
    QList<int> leftOver;
    for (int b = 0; b < m; ++b)
        if (localOf[b] < 0)
            leftOver.append(b);
    for (int i = 0; i < n && !leftOver.isEmpty(); ++i) {
        if (baseOf[i] >= 0)
            continue;
        qsizetype best = -1;
        int bestScore = 0;
        for (qsizetype k = 0; k < leftOver.size(); ++k) {
            const int score = likeness(here[i], bases[leftOver[k]].fields);
            if (score > bestScore) {
                best = k;
                bestScore = score;
            }
        }
        if (best >= 0) {
            baseOf[i] = leftOver.takeAt(best);
            localOf[baseOf[i]] = i;
        }
    }

    // The state's entries to their cards: by href, else by UID (a server may have moved it).
    QHash<QString, int> byHref, byUid;
    for (int r = 0; r < c.cards.size(); ++r) {
        byHref.insert(c.cards[r].href, r);
        if (c.cards[r].usable && c.cards[r].list == l && !c.cards[r].uid.isEmpty())
            byUid.insert(c.cards[r].uid, r);
    }
    const qsizetype first = items_.size();
    for (int b = 0; b < m; ++b) {
        Item item;
        item.list = l;
        item.base = b;
        item.local = localOf[b];
        int r = byHref.value(bases[b].href, -1);
        if (r < 0 && !bases[b].uid.isEmpty())
            r = byUid.value(bases[b].uid, -1);
        if (r >= 0 && !c.cards[r].claimed) {
            item.remote = r;
            c.cards[r].claimed = true;
        }
        items_.append(item);
    }
    // New on both sides with identical fields (a run stopped between the upload and the state, or
    // the same person entered on two machines): one entry, one card.
    QHash<QByteArray, QList<int>> newThere;
    for (int r = 0; r < c.cards.size(); ++r)
        if (c.cards[r].usable && c.cards[r].list == l && !c.cards[r].claimed)
            newThere[identity(c.cards[r].fields, list1)].append(r);
    for (int i = 0; i < n; ++i) {
        if (baseOf[i] >= 0)
            continue;
        Item item;
        item.list = l;
        item.local = i;
        QList<int> &queue = newThere[identity(here[i], list1)];
        if (!queue.isEmpty()) {
            item.remote = queue.takeFirst();
            c.cards[item.remote].claimed = true;
        }
        items_.append(item);
    }
    for (int r = 0; r < c.cards.size(); ++r) {
        if (c.cards[r].usable && c.cards[r].list == l && !c.cards[r].claimed) {
            Item item;
            item.list = l;
            item.remote = r;
            c.cards[r].claimed = true;
            items_.append(item);
        }
    }
    for (qsizetype k = first; k < items_.size(); ++k)
        decide(items_[k]);
    order(l);
}

void Run::decide(Item &item)
{
    const bool list1 = item.list == 0;
    const SyncedEntry *b = item.base >= 0 ? &state_.lists[item.list].entries[item.base] : nullptr;
    const RemoteItem *r = item.remote >= 0 ? &collectionOf(item.list).cards[item.remote] : nullptr;
    const AddressEntry here = item.local >= 0 ? listOf(item.list).Entry(item.local) : AddressEntry();
    const bool isHere = item.local >= 0;
    if (r) {
        item.hasRemote = r->usable;
        item.href = r->href;
        item.etag = r->etag;
        item.body = r->body;
        item.uid = r->uid;
        item.remoteFields = r->fields;
        item.remoteKey = r->order;
    }
    if (b && item.uid.isEmpty())
        item.uid = b->uid;
    if (b && item.href.isEmpty())
        item.href = b->href;
    if (r && !r->usable) {
        item.frozen = true;
        item.inList = isHere;
        item.fields = here;
        return;
    }
    if (r && b) {
        if (isHere) {
            bool conflict = false;
            item.fields = merged(b->fields, here, r->fields, list1, conflict);
            item.inList = true;
            if (conflict)
                noteConflict(here, r->body);
        } else if (!b->pending && !sameFields(r->fields, b->fields, list1)) {
            item.fields = r->fields; // deleted here, changed there: the change wins
            item.inList = true;
            item.cameBack = true;
        } else {
            item.op = Op::Delete;
        }
        return;
    }
    if (b) { // no card any more, or (pending) never made
        if (isHere && (b->pending || !sameFields(here, b->fields, list1))) {
            item.fields = here; // changed here, deleted there: the change wins
            item.inList = true;
            item.op = Op::Create;
            item.body = b->body;
        }
        return;
    }
    if (isHere) {
        item.fields = here;
        item.inList = true;
        if (!r) {
            item.op = Op::Create;
            item.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            item.href = collectionPath(job_.collections[item.list]) + item.uid + QLatin1String(".vcf");
        }
        return;
    }
    item.fields = r->fields;
    item.inList = true;
}

void Run::order(int l)
{
    QList<Item *> here, all;
    for (Item &item : items_)
        if (item.list == l && item.inList) {
            all.append(&item);
            if (item.local >= 0)
                here.append(&item);
        }
    std::sort(here.begin(), here.end(), [](const Item *a, const Item *b) { return a->local < b->local; });
    const QList<SyncedEntry> &bases = state_.lists[l].entries;
    QList<QByteArray> was;
    for (const Item *item : here)
        was.append(item->base >= 0   ? bases[item->base].order
                   : item->hasRemote ? item->remoteKey
                                     : QByteArray());
    const QList<QByteArray> now = orderkey::renumbered(was);
    for (qsizetype i = 0; i < here.size(); ++i) {
        Item &item = *here[i];
        // Not moved here but moved there: the server's place.
        const bool movedThere = item.base >= 0 && item.hasRemote && orderkey::isValid(item.remoteKey) &&
                                item.remoteKey != bases[item.base].order;
        item.movedThere = now[i] == was[i] && movedThere;
        item.key = item.movedThere ? item.remoteKey : now[i];
    }
    for (Item *item : all)
        if (item->local < 0)
            item->key = orderkey::isValid(item->remoteKey) ? item->remoteKey : QByteArray();
    std::stable_sort(all.begin(), all.end(), placedBefore);
    QList<QByteArray> keys;
    for (const Item *item : all)
        keys.append(item->key);
    keys = orderkey::renumbered(keys);
    for (qsizetype i = 0; i < all.size(); ++i) {
        Item &item = *all[i];
        item.key = keys[i];
        if (item.frozen || item.op != Op::None || !item.hasRemote)
            continue;
        if (!sameFields(item.fields, item.remoteFields, l == 0) || item.key != item.remoteKey)
            item.op = Op::Update;
    }
}

bool Run::checkDeletions()
{
    // Counted for each list and for both together: [0] list 1, [1] list 2, [2] both.
    int here[3] = {}, there[3] = {}, entries[3] = {}, cards[3] = {};
    for (const Item &item : items_) {
        for (const int k : {item.list, 2}) {
            here[k] += item.local >= 0 && !item.inList;
            there[k] += item.op == Op::Delete;
            cards[k] += item.hasRemote;
        }
    }
    for (int l = 0; l < 2; ++l)
        if (!job_.collections[l].isEmpty()) {
            entries[l] = listOf(l).Count();
            entries[2] += entries[l];
        }
    const auto tooMany = [](int deleted, int of) {
        return deleted > deletionsWithoutForce && 2 * deleted > of;
    };
    for (int k = 0; k < 3 && !job_.force; ++k) {
        if (tooMany(here[k], entries[k])) {
            stop(
                SyncStop::Safety,
                tr_("こちらの %1 人のうち %2 人を消すことになります。本当に消すなら --force をつけてください",
                    "this would delete %2 of the %1 entries here; give --force if that is meant")
                    .arg(entries[k])
                    .arg(here[k]));
            return false;
        }
        if (tooMany(there[k], cards[k])) {
            stop(SyncStop::Safety,
                 tr_("サーバーの %1 枚のうち %2 枚を消すことになります。本当に消すなら --force "
                     "をつけてください",
                     "this would delete %2 of the %1 cards on the server; give --force if that is meant")
                     .arg(cards[k])
                     .arg(there[k]));
            return false;
        }
    }
    return true;
}

void Run::describePlan()
{
    for (const Item &item : items_) {
        const AddressList &list = listOf(item.list);
        AddressEntry shown = item.fields;
        if (item.op == Op::Delete && item.base >= 0)
            shown = state_.lists[item.list].entries[item.base].fields;
        else if (!item.inList && item.local >= 0)
            shown = list.Entry(item.local);
        QString what;
        if (item.op == Op::Create)
            what = tr_("サーバーに新しく載せます", "would upload as a new card");
        else if (item.op == Op::Update)
            what = tr_("サーバーのカードを書き換えます", "would update the card on the server");
        else if (item.op == Op::Delete)
            what = tr_("サーバーから消します", "would delete the card on the server");
        if (item.local >= 0 && !item.inList)
            what = tr_("こちらの一覧から消します", "would delete the entry here");
        else if (item.inList && item.local < 0)
            what += (what.isEmpty() ? QString() : tr_("、", ", ")) +
                    tr_("こちらの一覧に加えます", "would add the entry here");
        else if (item.inList && !sameFields(item.fields, list.Entry(item.local), item.list == 0))
            what += (what.isEmpty() ? QString() : tr_("、", ", ")) +
                    tr_("こちらの一覧を書き換えます", "would change the entry here");
        if (item.movedThere)
            what +=
                (what.isEmpty() ? QString() : tr_("、", ", ")) +
                tr_("こちらの一覧でサーバーの並びに移します", "would move the entry here as on the server");
        if (!what.isEmpty())
            result_.notes.append(tr_("一覧 %1「%2」: %3", "list %1 \"%2\": %3")
                                     .arg(item.list + 1)
                                     .arg(nameOf(shown, tr_), what));
    }
}

void Run::noteConflict(const AddressEntry &kept, const QByteArray &theirs)
{
    ++result_.conflicts;
    conflicts_ += theirs;
    result_.notes.append(
        tr_("「%1」は両方で同じ欄が変わっています。こちらの値を残し、サーバーのカードを %2 に残しました",
            "\"%1\" changed in the same field on both sides: this side's value kept, the "
            "server's card saved in %2")
            .arg(nameOf(kept, tr_), syncstate::conflictsFileName()));
}

bool Run::serverFailed(const carddav::Result &r, Item &item, const QString &what)
{
    if (r.ok())
        return false;
    item.failed = true;
    if (r.failure == carddav::Failure::Unreachable || r.failure == carddav::Failure::Untrusted ||
        r.failure == carddav::Failure::Unencrypted || r.failure == carddav::Failure::Unauthorized) {
        serverDown_ = true;
        result_.stop = SyncStop::Unreachable;
        result_.stopMessage = r.message;
        return true;
    }
    ++result_.skipped;
    result_.notes.append(tr_("「%1」: %2 できませんでした (%3)", "\"%1\": %2 failed (%3)")
                             .arg(nameOf(item.fields, tr_), what,
                                  r.message.isEmpty() ? QString::number(r.status) : r.message));
    return true;
}

bool Run::fetchOne(const Item &item, RemoteItem &out, bool &gone)
{
    QList<carddav::RemoteCard> cards;
    QStringList failed;
    Collection &c = collectionOf(item.list);
    const carddav::Result r = job_.remote->fetch(c.url, {item.href}, cards, failed);
    gone = false;
    if (!r.ok()) {
        if (r.failure == carddav::Failure::Unreachable || r.failure == carddav::Failure::Untrusted ||
            r.failure == carddav::Failure::Unencrypted || r.failure == carddav::Failure::Unauthorized) {
            serverDown_ = true;
            result_.stop = SyncStop::Unreachable;
            result_.stopMessage = r.message;
        }
        return false;
    }
    if (cards.isEmpty()) {
        gone = true;
        return true;
    }
    out = readRemote(cards.first(), c);
    return out.usable;
}

void Run::create(Item &item)
{
    const bool list1 = item.list == 0;
    ++depth_;
    for (int attempt = 0; attempt < attempts && !serverDown_ && depth_ <= attempts; ++attempt) {
        const QByteArray body = syncedcard::build(item.fields, list1, item.uid, item.key, item.body);
        carddav::RemoteCard stored;
        const carddav::Result r = job_.remote->put(item.href, body, QByteArray(), stored);
        if (r.ok()) {
            item.href = stored.href.isEmpty() ? item.href : stored.href;
            item.etag = stored.etag;
            item.body = body;
            item.failed = false;
            wrote(item, item.etag);
            return;
        }
        if (r.failure != carddav::Failure::PreconditionFailed) {
            serverFailed(r, item, tr_("アップロード", "upload"));
            return;
        }
        // The card is there already (an earlier run stopped after its upload): take it over.
        RemoteItem there;
        bool gone = false;
        if (!fetchOne(item, there, gone) || gone) {
            if (serverDown_ || !gone)
                break;
            continue;
        }
        item.etag = there.etag;
        item.body = there.body;
        item.remoteFields = there.fields;
        item.remoteKey = there.order;
        item.hasRemote = true;
        if (sameFields(there.fields, item.fields, list1) && there.order == item.key) {
            item.failed = false;
            return;
        }
        update(item);
        return;
    }
    item.failed = true;
    if (!serverDown_) {
        ++result_.skipped;
        result_.notes.append(tr_("「%1」をアップロードできませんでした", "\"%1\" could not be uploaded")
                                 .arg(nameOf(item.fields, tr_)));
    }
}

void Run::update(Item &item)
{
    const bool list1 = item.list == 0;
    ++depth_;
    for (int attempt = 0; attempt < attempts && !serverDown_ && depth_ <= attempts; ++attempt) {
        const QByteArray body = syncedcard::build(item.fields, list1, item.uid, item.key, item.body);
        carddav::RemoteCard stored;
        const carddav::Result r = job_.remote->put(item.href, body, item.etag, stored);
        if (r.ok()) {
            item.href = stored.href.isEmpty() ? item.href : stored.href;
            item.etag = stored.etag;
            item.body = body;
            item.failed = false;
            wrote(item, item.etag);
            return;
        }
        if (r.failure != carddav::Failure::PreconditionFailed && r.failure != carddav::Failure::NotFound) {
            serverFailed(r, item, tr_("アップロード", "upload"));
            return;
        }
        // Changed or removed meanwhile: merge with what is there now and try again.
        RemoteItem there;
        bool gone = r.failure == carddav::Failure::NotFound;
        if (!gone && !fetchOne(item, there, gone))
            break;
        if (gone) {
            item.body.clear();
            item.etag.clear();
            create(item);
            return;
        }
        bool conflict = false;
        item.fields = merged(item.remoteFields, item.fields, there.fields, list1, conflict);
        if (conflict)
            noteConflict(item.fields, there.body);
        item.etag = there.etag;
        item.body = there.body;
        item.remoteFields = there.fields;
        item.remoteKey = there.order;
    }
    item.failed = true;
    if (!serverDown_) {
        ++result_.skipped;
        result_.notes.append(tr_("「%1」をアップロードできませんでした", "\"%1\" could not be uploaded")
                                 .arg(nameOf(item.fields, tr_)));
    }
}

void Run::remove(Item &item)
{
    const bool list1 = item.list == 0;
    const AddressEntry synced = state_.lists[item.list].entries[item.base].fields;
    for (int attempt = 0; attempt < attempts && !serverDown_; ++attempt) {
        const carddav::Result r = job_.remote->remove(item.href, item.etag);
        if (r.ok() || r.failure == carddav::Failure::NotFound) {
            item.failed = false;
            wrote(item, QByteArray());
            return;
        }
        if (r.failure != carddav::Failure::PreconditionFailed) {
            serverFailed(r, item, tr_("削除", "deletion"));
            return;
        }
        RemoteItem there;
        bool gone = false;
        if (!fetchOne(item, there, gone))
            break;
        if (gone)
            return;
        item.etag = there.etag;
        if (!sameFields(there.fields, synced, list1)) {
            // Changed there meanwhile: the change wins, the entry comes back.
            item.op = Op::None;
            item.inList = true;
            item.cameBack = true;
            item.fields = there.fields;
            item.body = there.body;
            item.remoteFields = there.fields;
            item.key = orderkey::isValid(there.order) ? there.order : QByteArray();
            item.remoteKey = there.order;
            item.hasRemote = true;
            return;
        }
    }
    item.failed = true;
    if (!serverDown_) {
        ++result_.skipped;
        result_.notes.append(
            tr_("「%1」をサーバーから消せませんでした", "\"%1\" could not be deleted on the server")
                .arg(nameOf(synced, tr_)));
    }
}

void Run::runServer()
{
    for (Item &item : items_) {
        if (serverDown_) {
            if (item.op != Op::None)
                item.failed = true;
            continue;
        }
        switch (item.op) {
        case Op::None:
            break;
        case Op::Create:
            depth_ = 0;
            create(item);
            break;
        case Op::Update:
            depth_ = 0;
            update(item);
            break;
        case Op::Delete:
            remove(item);
            break;
        }
    }
}

void Run::finish()
{
    SyncState next;
    bool listChanged[2] = {false, false};
    for (int l = 0; l < 2; ++l) {
        next.lists[l].collection = job_.collections[l];
        if (job_.collections[l].isEmpty()) {
            next.lists[l] = state_.lists[l];
            continue;
        }
        const QList<SyncedEntry> &bases = state_.lists[l].entries;
        QList<Item *> all;
        for (Item &item : items_)
            if (item.list == l && item.inList)
                all.append(&item);
        std::stable_sort(all.begin(), all.end(), placedBefore);
        AddressList list(l == 0);
        for (const Item *item : all)
            list.Append(item->fields);
        const AddressList &was = listOf(l);
        listChanged[l] = list.Count() != was.Count();
        for (int i = 0; i < list.Count() && !listChanged[l]; ++i)
            listChanged[l] = list.Entry(i) != was.Entry(i);

        // The state in list order; an entry kept from the last run because its card could not be
        // written keeps its place, so that the next run pairs the entries around it as before.
        QList<SyncedEntry> records;
        const auto keep = [&](const SyncedEntry &e) { records.append(e); };
        for (const Item *item : all) {
            if (item->local < 0 || item->cameBack || item->movedThere)
                ++result_.downloaded;
            else if (!sameFields(item->fields, was.Entry(item->local), l == 0))
                ++result_.downloaded;
            if (!item->failed && (item->op == Op::Create || item->op == Op::Update))
                ++result_.uploaded;
            SyncedEntry e;
            e.uid = item->uid;
            e.href = item->href;
            e.etag = item->etag;
            e.body = item->body;
            if (item->frozen) {
                if (item->base >= 0)
                    keep(bases[item->base]);
            } else if (item->failed && item->op == Op::Update) {
                // As the card is on the server: what differs here goes up next time.
                e.fields = item->remoteFields;
                e.order = item->remoteKey;
                keep(e);
            } else if (item->failed && item->base >= 0 && !bases[item->base].pending) {
                keep(bases[item->base]); // a card to make again
            } else {
                e.fields = item->fields;
                e.order = item->key;
                e.pending = item->failed; // a new card whose upload may have happened
                keep(e);
            }
        }
        for (const Item &item : items_) {
            if (item.list != l || item.inList)
                continue;
            if (item.local >= 0)
                ++result_.deletedHere;
            if (item.op == Op::Delete && !item.failed)
                ++result_.deletedThere;
            if ((item.failed || item.frozen) && item.base >= 0)
                keep(bases[item.base]);
        }
        std::stable_sort(records.begin(), records.end(), [](const SyncedEntry &a, const SyncedEntry &b) {
            if (a.order.isEmpty() != b.order.isEmpty())
                return b.order.isEmpty();
            return a.order < b.order;
        });
        next.lists[l].entries = records;
        if (listChanged[l])
            listOf(l) = list;
    }
    for (const Collection &c : collections_)
        next.collections.insert(
            c.url, CollectionState{c.complete && !serverDown_ ? c.token : QByteArray(), c.skipped});
    if (job_.dryRun)
        return;
    try {
        // Only a list the run changed is written; the other stays exactly as it is.
        for (int l = 0; l < 2; ++l)
            if (listChanged[l])
                saveList(book_.list(l + 1));
        if (!conflicts_.isEmpty()) {
            const QString path = job_.dir + syncstate::conflictsFileName();
            QByteArray content = QFileInfo::exists(path) ? linefile::readFile(path) : QByteArray();
            if (!content.isEmpty() && !content.endsWith('\n'))
                content += "\r\n";
            content += conflicts_;
            linefile::writeFileAtomically(path, content, messages::cannotCreate(path));
        }
        // A run that changed nothing leaves the state file as it is.
        const QString statePath = job_.dir + syncstate::fileName();
        if (!QFileInfo::exists(statePath) || linefile::readFile(statePath) != syncstate::toJson(next))
            syncstate::save(job_.dir, next);
    } catch (const PorError &e) {
        result_.stop = SyncStop::FileError;
        result_.stopMessage = e.message();
    }
}

SyncResult Run::go()
{
    if (!readLocal() || !readCollections())
        return result_;
    for (int l = 0; l < 2; ++l)
        if (!job_.collections[l].isEmpty())
            matchList(l);
    if (!checkDeletions())
        return result_;
    if (job_.dryRun) {
        describePlan();
        finish();
        return result_;
    }
    // New cards are known by their UID and href before they are uploaded.
    bool creates = false;
    SyncState pending = state_;
    for (const Item &item : items_) {
        if (item.op != Op::Create || (item.base >= 0))
            continue;
        creates = true;
        SyncedEntry e;
        e.fields = item.fields;
        e.uid = item.uid;
        e.href = item.href;
        e.order = item.key;
        e.pending = true;
        pending.lists[item.list].entries.append(e);
    }
    if (creates) {
        try {
            syncstate::save(job_.dir, pending);
        } catch (const PorError &e) {
            return stop(SyncStop::FileError, e.message());
        }
    }
    runServer();
    renewTokens();
    finish();
    return result_;
}

// A token taken before this run's writes is kept only where the changes since it are this run's
// own writes, and then the token after them is: servers whose token names the collection's content
// (Xandikos) would otherwise give back the old token once the content is as it was, and the
// changes in between (every card deleted elsewhere, say) would never be seen. Where that cannot be
// told, no token is kept and the next run lists everything.
void Run::renewTokens()
{
    for (Collection &c : collections_) {
        const auto written = wrote_.constFind(c.url);
        if (written == wrote_.constEnd() || c.token.isEmpty() || serverDown_)
            continue;
        const auto ours = [&](const QString &href, const QByteArray &etag) {
            for (auto it = written->constBegin(); it != written->constEnd(); ++it)
                if (carddav::sameHref(it.key(), href))
                    return !it.value().isEmpty() ? it.value() == etag : etag.isNull();
            return false;
        };
        carddav::Listing since;
        bool onlyOurs = job_.remote->list(c.url, c.token, since).ok() && since.delta;
        for (const carddav::RemoteCard &card : since.cards)
            onlyOurs = onlyOurs && !card.etag.isEmpty() && ours(card.href, card.etag);
        for (const QString &href : since.removed)
            onlyOurs = onlyOurs && ours(href, QByteArray());
        c.token = onlyOurs ? since.syncToken : QByteArray();
    }
}

} // namespace

SyncResult runSync(const SyncJob &job, const SyncText &tr)
{
    Run run(job, tr);
    return run.go();
}

int exitCodeOf(const SyncResult &result)
{
    switch (result.stop) {
    case SyncStop::None:
        break;
    case SyncStop::Unreachable:
        return syncexit::Unreachable;
    case SyncStop::Safety:
        return syncexit::Safety;
    case SyncStop::FileError:
        return syncexit::FileError;
    }
    return result.conflicts > 0 || result.skipped > 0 ? syncexit::Partly : syncexit::Ok;
}
