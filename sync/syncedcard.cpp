#include "sync/syncedcard.h"

#include "vcard/vcardreader.h"
#include "vcard/vcardtext.h"

#include <QList>

namespace syncedcard {

namespace {

const char *const rawFieldNames[fieldCount] = {"Number", "Handle", "Mail", "Home", "ICQ", "PostPet", "Memo"};

// Owners of a content line: a field, the sync itself (rewritten on every build), or nobody (kept).
constexpr int keptLine = -1;
constexpr int syncLine = -2;
constexpr int categoriesLine = -3;

QList<QByteArray> unfolded(const QByteArray &body)
{
    QList<QByteArray> lines;
    for (QByteArray line : body.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!lines.isEmpty() && !line.isEmpty() && (line[0] == ' ' || line[0] == '\t'))
            lines.last() += line.mid(1);
        else if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

struct Owners {
    bool mail = false, postPet = false, home = false, icq = false, impp = false, memo = false;

    int of(const QByteArray &line)
    {
        const qsizetype colon = line.indexOf(':');
        const QByteArray head = line.left(colon < 0 ? line.size() : colon);
        const QByteArray value = colon < 0 ? QByteArray() : line.mid(colon + 1);
        QByteArray name = head.left(head.indexOf(';') < 0 ? head.size() : head.indexOf(';'));
        if (const qsizetype dot = name.lastIndexOf('.'); dot >= 0)
            name = name.mid(dot + 1);
        name = name.trimmed().toUpper();
        const QByteArray params = head.mid(name.size()).toLower();
        const auto once = [](bool &seen) {
            const bool first = !seen;
            seen = true;
            return first;
        };
        if (name == "BEGIN" || name == "END" || name == "VERSION" || name == "UID" ||
            name == "X-PORADDR-ORDER")
            return syncLine;
        if (name == "CATEGORIES")
            return categoriesLine;
        if (name == "FN" || name == "N" || name == "NICKNAME")
            return int(Field::Handle);
        if (name == "X-PORADDR-NUMBER")
            return int(Field::Number);
        if (name == "EMAIL") {
            if (params.contains("x-postpet"))
                return once(postPet) ? int(Field::PostPet) : keptLine;
            return once(mail) ? int(Field::Mail) : keptLine;
        }
        if (name == "URL")
            return once(home) ? int(Field::Home) : keptLine;
        if (name == "X-ICQ")
            return once(icq) ? int(Field::ICQ) : keptLine;
        if (name == "IMPP" && value.toLower().startsWith("icq:"))
            return once(impp) ? int(Field::ICQ) : keptLine;
        if (name == "NOTE")
            return once(memo) ? int(Field::Memo) : keptLine;
        if (name == "X-PORADDR-RAW") {
            const qsizetype at = params.indexOf("x-field=");
            if (at >= 0) {
                QByteArray which = params.mid(at + 8);
                which = which.left(which.indexOf(';') < 0 ? which.size() : which.indexOf(';'));
                for (int f = 0; f < fieldCount; ++f)
                    if (which == QByteArray(rawFieldNames[f]).toLower())
                        return f;
            }
            return syncLine; // a raw line for no field of ours is dropped, as the import ignores it
        }
        return keptLine;
    }
};

} // namespace

QString list1Category()
{
    return QStringLiteral("ぽるておともだち");
}

ReadCard read(const QByteArray &body, bool forList1)
{
    ReadCard r;
    const vcard::ParseResult parsed = vcard::parse(body);
    if (parsed.problem != vcard::ParseProblem::None || parsed.cards.size() != 1)
        return r;
    const vcard::Card &card = parsed.cards.first();
    r.parsed = true;
    r.imported = vcard::entryFromCard(card, forList1);
    for (const vcard::Property &p : card.properties) {
        if (p.name == "UID" && r.uid.isEmpty())
            r.uid = p.value.trimmed();
        else if (p.name == "X-PORADDR-ORDER" && r.order.isEmpty())
            r.order = p.value.trimmed().toLatin1();
        else if (p.name == "CATEGORIES")
            for (const QString &c : vcard::splitEscaped(p.value, QLatin1Char(',')))
                if (vcard::unescapeText(c).trimmed() == list1Category())
                    r.inList1Category = true;
    }
    return r;
}

QByteArray build(const AddressEntry &entry, bool list1, const QString &uid, const QByteArray &order,
                 const QByteArray &serverBody)
{
    AddressList one(list1);
    one.Append(entry);
    QByteArray mapped;
    vcard::ExportCounts counts;
    vcard::appendCards(mapped, one, counts);

    QList<QByteArray> fresh[fieldCount];
    QList<QByteArray> freshCategories;
    {
        Owners owners;
        for (const QByteArray &line : unfolded(mapped)) {
            const int owner = owners.of(line);
            if (owner >= 0)
                fresh[owner].append(line);
            else if (owner == categoriesLine)
                freshCategories.append(line);
        }
    }

    bool changed[fieldCount];
    bool sameList = false;
    QList<QByteArray> base;
    if (!serverBody.isEmpty()) {
        const ReadCard old = read(serverBody, list1);
        if (old.parsed) {
            base = unfolded(serverBody);
            sameList = old.inList1Category == list1;
            for (int f = 0; f < fieldCount; ++f)
                changed[f] = old.imported.refusal != vcard::Refusal::None ||
                             old.imported.entry.field(Field(f)) != entry.field(Field(f));
        }
    }
    if (base.isEmpty())
        std::fill(std::begin(changed), std::end(changed), true);

    QList<QByteArray> lines{"BEGIN:VCARD", "VERSION:3.0", "UID:" + uid.toUtf8()};
    bool placed[fieldCount] = {};
    bool categoriesPlaced = false;
    Owners owners;
    for (const QByteArray &line : base) {
        const int owner = owners.of(line);
        if (owner == keptLine) {
            lines.append(line);
        } else if (owner == categoriesLine) {
            if (sameList)
                lines.append(line);
            else if (!categoriesPlaced)
                lines.append(freshCategories);
            categoriesPlaced = true;
        } else if (owner >= 0) {
            if (!changed[owner])
                lines.append(line);
            else if (!placed[owner])
                lines.append(fresh[owner]);
            placed[owner] = true;
        }
    }
    for (int f = 0; f < fieldCount; ++f)
        if (!placed[f] && changed[f])
            lines.append(fresh[f]);
    if (!categoriesPlaced)
        lines.append(freshCategories);
    lines.append("X-PORADDR-ORDER:" + order);
    lines.append("END:VCARD");

    QByteArray out;
    for (const QByteArray &line : lines)
        vcard::appendContentLine(out, line);
    return out;
}

} // namespace syncedcard
