#include "sync/syncstate.h"

#include "store/errors.h"
#include "store/linefile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace syncstate {

namespace {

constexpr int formatVersion = 1;

QJsonValue bytesValue(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray bytesOf(const QJsonValue &value)
{
    return QByteArray::fromBase64(value.toString().toLatin1());
}

QJsonObject entryObject(const SyncedEntry &e)
{
    QJsonArray fields;
    for (int f = 0; f < fieldCount; ++f)
        fields.append(bytesValue(e.fields.field(Field(f))));
    QJsonObject o{{QStringLiteral("fields"), fields},
                  {QStringLiteral("uid"), e.uid},
                  {QStringLiteral("href"), e.href},
                  {QStringLiteral("etag"), QString::fromLatin1(e.etag)},
                  {QStringLiteral("order"), QString::fromLatin1(e.order)},
                  {QStringLiteral("body"), bytesValue(e.body)}};
    if (e.pending)
        o.insert(QStringLiteral("pending"), true);
    return o;
}

SyncedEntry entryFrom(const QJsonObject &o)
{
    SyncedEntry e;
    const QJsonArray fields = o.value(QStringLiteral("fields")).toArray();
    for (int f = 0; f < fieldCount && f < fields.size(); ++f)
        e.fields.field(Field(f)) = bytesOf(fields[f]);
    e.uid = o.value(QStringLiteral("uid")).toString();
    e.href = o.value(QStringLiteral("href")).toString();
    e.etag = o.value(QStringLiteral("etag")).toString().toLatin1();
    e.order = o.value(QStringLiteral("order")).toString().toLatin1();
    e.body = bytesOf(o.value(QStringLiteral("body")));
    e.pending = o.value(QStringLiteral("pending")).toBool();
    return e;
}

} // namespace

QString fileName()
{
    return QStringLiteral("PorAddrSync.state");
}

QString conflictsFileName()
{
    return QStringLiteral("PorAddrSync-conflicts.vcf");
}

QByteArray toJson(const SyncState &state)
{
    QJsonArray lists;
    for (const ListState &list : state.lists) {
        QJsonArray entries;
        for (const SyncedEntry &e : list.entries)
            entries.append(entryObject(e));
        lists.append(QJsonObject{{QStringLiteral("collection"), list.collection},
                                 {QStringLiteral("entries"), entries}});
    }
    QJsonObject collections;
    for (auto it = state.collections.begin(); it != state.collections.end(); ++it) {
        QJsonArray skipped;
        for (const SkippedCard &s : it->skipped)
            skipped.append(QJsonObject{{QStringLiteral("href"), s.href},
                                       {QStringLiteral("etag"), QString::fromLatin1(s.etag)},
                                       {QStringLiteral("name"), s.name}});
        collections.insert(it.key(),
                           QJsonObject{{QStringLiteral("syncToken"), QString::fromUtf8(it->syncToken)},
                                       {QStringLiteral("skipped"), skipped}});
    }
    const QJsonObject root{{QStringLiteral("version"), formatVersion},
                           {QStringLiteral("lists"), lists},
                           {QStringLiteral("collections"), collections}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

SyncState load(const QString &dir)
{
    const QString path = dir + fileName();
    SyncState state;
    if (!QFileInfo::exists(path))
        return state;
    const QByteArray content = linefile::readFile(path);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() ||
        doc.object().value(QStringLiteral("version")).toInt() != formatVersion)
        throw PorError(messages::cannotOpen(path));
    const QJsonObject root = doc.object();
    const QJsonArray lists = root.value(QStringLiteral("lists")).toArray();
    for (int l = 0; l < 2 && l < lists.size(); ++l) {
        const QJsonObject list = lists[l].toObject();
        state.lists[l].collection = list.value(QStringLiteral("collection")).toString();
        for (const QJsonValue &v : list.value(QStringLiteral("entries")).toArray())
            state.lists[l].entries.append(entryFrom(v.toObject()));
    }
    const QJsonObject collections = root.value(QStringLiteral("collections")).toObject();
    for (auto it = collections.begin(); it != collections.end(); ++it) {
        const QJsonObject o = it->toObject();
        CollectionState &c = state.collections[it.key()];
        c.syncToken = o.value(QStringLiteral("syncToken")).toString().toUtf8();
        for (const QJsonValue &v : o.value(QStringLiteral("skipped")).toArray()) {
            const QJsonObject s = v.toObject();
            c.skipped.append({s.value(QStringLiteral("href")).toString(),
                              s.value(QStringLiteral("etag")).toString().toLatin1(),
                              s.value(QStringLiteral("name")).toString()});
        }
    }
    return state;
}

void save(const QString &dir, const SyncState &state)
{
    const QString path = dir + fileName();
    linefile::writeFileAtomically(path, toJson(state), messages::cannotCreate(path));
}

} // namespace syncstate
