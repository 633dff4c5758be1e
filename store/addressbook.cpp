#include "addressbook.h"

#include <cstring>

namespace {

// List 2 does not store Number, so its packed form starts with Handle.
int firstStoredField(bool keepsNumber)
{
    return keepsNumber ? 0 : 1;
}

// One allocation per entry: the fields joined by '\n', which no field can contain.
QByteArray packViews(const QByteArrayView *fields, int count)
{
    qsizetype total = count - 1;
    for (int k = 0; k < count; ++k)
        total += fields[k].size();
    QByteArray packed(total, Qt::Uninitialized);
    char *out = packed.data();
    for (int k = 0; k < count; ++k) {
        if (k > 0)
            *out++ = '\n';
        if (!fields[k].isEmpty())
            std::memcpy(out, fields[k].data(), size_t(fields[k].size()));
        out += fields[k].size();
    }
    return packed;
}

} // namespace

const QByteArray &AddressEntry::field(Field f) const
{
    switch (f) {
    case Field::Number:
        return Number;
    case Field::Handle:
        return Handle;
    case Field::Mail:
        return Mail;
    case Field::Home:
        return Home;
    case Field::ICQ:
        return ICQ;
    case Field::PostPet:
        return PostPet;
    case Field::Memo:
        break;
    }
    return Memo;
}

QByteArray &AddressEntry::field(Field f)
{
    return const_cast<QByteArray &>(static_cast<const AddressEntry *>(this)->field(f));
}

bool AddressEntry::operator==(const AddressEntry &other) const
{
    return Number == other.Number && Handle == other.Handle && Mail == other.Mail && Home == other.Home &&
           ICQ == other.ICQ && PostPet == other.PostPet && Memo == other.Memo;
}

QByteArray AddressList::pack(const AddressEntry &e) const
{
    const int first = firstStoredField(keepsNumber_);
    QByteArrayView views[FieldCount];
    for (int f = first; f < FieldCount; ++f)
        views[f - first] = e.field(Field(f));
    return packViews(views, FieldCount - first);
}

AddressEntry AddressList::Entry(int i) const
{
    AddressEntry e;
    const QByteArray &packed = entries_.at(i);
    int f = firstStoredField(keepsNumber_);
    const char *p = packed.constData();
    const char *end = p + packed.size();
    while (true) {
        const char *sep = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        const char *fieldEnd = sep ? sep : end;
        e.field(Field(f)) = QByteArray(p, fieldEnd - p);
        if (!sep || ++f >= FieldCount)
            break;
        p = sep + 1;
    }
    return e;
}

QByteArray AddressList::FieldOf(int i, Field f) const
{
    const int first = firstStoredField(keepsNumber_);
    if (int(f) < first)
        return QByteArray();
    const QByteArray &packed = entries_.at(i);
    const char *p = packed.constData();
    const char *end = p + packed.size();
    for (int k = first; k < int(f); ++k) {
        const char *sep = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!sep)
            return QByteArray();
        p = sep + 1;
    }
    const char *sep = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
    return QByteArray(p, (sep ? sep : end) - p);
}

void AddressList::Append(const AddressEntry &e)
{
    entries_.append(pack(e));
}

void AddressList::Replace(int i, const AddressEntry &e)
{
    entries_[i] = pack(e);
}

void AddressList::Delete(int i)
{
    entries_.removeAt(i);
}

void AddressList::Swap(int i, int j)
{
    entries_.swapItemsAt(i, j);
}

void AddressList::AppendRecord(const QByteArrayView *lines)
{
    entries_.append(packViews(lines, keepsNumber_ ? FieldCount : FieldCount - 1));
}

QByteArray AddressList::FileContent() const
{
    const int fields = keepsNumber_ ? FieldCount : FieldCount - 1;
    qsizetype total = 0;
    for (const QByteArray &packed : entries_)
        total += packed.size() + fields + 1; // each '\n' becomes CR LF, and a final CR LF
    QByteArray content(total, Qt::Uninitialized);
    char *out = content.data();
    for (const QByteArray &packed : entries_) {
        const char *p = packed.constData();
        const char *end = p + packed.size();
        while (true) {
            const char *sep = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
            const char *fieldEnd = sep ? sep : end;
            const size_t length = size_t(fieldEnd - p);
            if (length > 0)
                std::memcpy(out, p, length);
            out += length;
            *out++ = '\r';
            *out++ = '\n';
            if (!sep)
                break;
            p = sep + 1;
        }
    }
    Q_ASSERT(out == content.constData() + total);
    return content;
}
