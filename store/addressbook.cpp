#include "addressbook.h"

#include "errors.h"

#include <cstring>

#include <sys/mman.h>

namespace {

// List 2 does not store Number, so its packed form starts with Handle.
int firstStoredField(bool keepsNumber)
{
    return keepsNumber ? 0 : 1;
}

// Blocks start small, for the few entries of a typical list, and double up to this size.
constexpr qsizetype firstBlockBytes = 4 << 10;
constexpr qsizetype largestBlockBytes = 32 << 20;

// Large blocks are filled from start to end at once while a list loads. Backing them with huge
// pages where the system offers them turns hundreds of page faults per megabyte into one, which
// is most of the cost of loading a large list on machines where fresh memory is slow to touch.
void adviseHugePages(const void *data, qsizetype bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr quintptr hugePage = 2 << 20;
    const quintptr start = (quintptr(data) + hugePage - 1) & ~(hugePage - 1);
    const quintptr end = (quintptr(data) + quintptr(bytes)) & ~(hugePage - 1);
    if (end > start)
        madvise(reinterpret_cast<void *>(start), size_t(end - start), MADV_HUGEPAGE); // only a hint
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
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

AddressList::Slot AddressList::store(const QByteArrayView *fields, int count)
{
    qsizetype total = count - 1;
    for (int k = 0; k < count; ++k)
        total += fields[k].size();
    if (blocks_.isEmpty() || blocks_.last().size() - lastBlockUsed_ < total) {
        const qsizetype grown =
            blocks_.isEmpty() ? firstBlockBytes : qMin(largestBlockBytes, 2 * blocks_.last().size());
        // Allocated, not yet touched: memory is taken only as entries fill the block.
        QByteArray block(qMax(grown, total), Qt::Uninitialized);
        adviseHugePages(block.constData(), block.size());
        blocks_.append(std::move(block));
        lastBlockUsed_ = 0;
    }
    // data() first parts a block still shared with a copy of this list, so the copy keeps its bytes.
    char *out = blocks_.last().data() + lastBlockUsed_;
    const Slot slot{quint32(blocks_.size() - 1), quint32(lastBlockUsed_), total};
    for (int k = 0; k < count; ++k) {
        if (k > 0)
            *out++ = '\n';
        if (!fields[k].isEmpty())
            std::memcpy(out, fields[k].data(), size_t(fields[k].size()));
        out += fields[k].size();
    }
    lastBlockUsed_ += total;
    return slot;
}

QByteArrayView AddressList::packed(int i) const
{
    const Slot &slot = slots_.at(i);
    return QByteArrayView(blocks_.at(slot.block).constData() + slot.offset, slot.size);
}

namespace {

// The fields an entry keeps in this list; throws when one of them cannot be written to a line file.
void storedFields(const AddressEntry &e, bool keepsNumber, QByteArrayView *views)
{
    const int first = firstStoredField(keepsNumber);
    for (int f = first; f < FieldCount; ++f) {
        const QByteArray &value = e.field(Field(f));
        for (const char c : value) {
            if (c == '\r' || c == '\n' || c == '\0')
                throw PorError(messages::fieldBreaksLine());
        }
        views[f - first] = value;
    }
}

} // namespace

AddressEntry AddressList::Entry(int i) const
{
    AddressEntry e;
    const QByteArrayView entry = packed(i);
    int f = firstStoredField(keepsNumber_);
    const char *p = entry.data();
    const char *end = p + entry.size();
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
    const QByteArrayView entry = packed(i);
    const char *p = entry.data();
    const char *end = p + entry.size();
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
    QByteArrayView views[FieldCount];
    storedFields(e, keepsNumber_, views);
    slots_.append(store(views, FieldCount - firstStoredField(keepsNumber_)));
    changed_ = true;
}

void AddressList::Replace(int i, const AddressEntry &e)
{
    QByteArrayView views[FieldCount];
    storedFields(e, keepsNumber_, views);
    slots_[i] = store(views, FieldCount - firstStoredField(keepsNumber_));
    changed_ = true;
}

void AddressList::Reserve(int n)
{
    if (n <= slots_.capacity())
        return;
    slots_.reserve(n);
    adviseHugePages(slots_.constData(), slots_.capacity() * qsizetype(sizeof(Slot)));
}

void AddressList::Delete(int i)
{
    slots_.removeAt(i);
    changed_ = true;
}

void AddressList::Swap(int i, int j)
{
    slots_.swapItemsAt(i, j);
    changed_ = true;
}

void AddressList::Clear()
{
    slots_.clear();
    blocks_.clear();
    lastBlockUsed_ = 0;
}

void AddressList::AppendRecord(const QByteArrayView *lines)
{
    slots_.append(store(lines, keepsNumber_ ? FieldCount : FieldCount - 1));
}

QByteArray AddressList::FileContent() const
{
    return FileContent(0, Count());
}

QByteArray AddressList::FileContent(int first, int count) const
{
    const int fields = keepsNumber_ ? FieldCount : FieldCount - 1;
    const int last = first + count;
    qsizetype total = 0;
    for (int i = first; i < last; ++i)
        total += slots_.at(i).size + fields + 1; // each '\n' becomes CR LF, and a final CR LF
    QByteArray content(total, Qt::Uninitialized);
    char *out = content.data();
    for (int i = first; i < last; ++i) {
        const QByteArrayView entry = packed(i);
        const char *p = entry.data();
        const char *end = p + entry.size();
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
