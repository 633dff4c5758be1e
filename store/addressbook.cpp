#include "store/addressbook.h"

#include "store/fieldrule.h"

#include "store/errors.h"

#include <cstring>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace {

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

void AddressList::makeRoom(qsizetype total)
{
    if (blocks_.isEmpty() || blocks_.last().size() - lastBlockUsed_ < total) {
        const qsizetype grown =
            blocks_.isEmpty() ? firstBlockBytes : qMin(largestBlockBytes, 2 * blocks_.last().size());
        // Allocated, not yet touched: memory is taken only as entries fill the block.
        QByteArray block(qMax(grown, total), Qt::Uninitialized);
        adviseHugePages(block.constData(), block.size());
        blocks_.append(std::move(block));
        lastBlockUsed_ = 0;
    }
}

char *AddressList::room(qsizetype total, Slot &slot)
{
    makeRoom(total);
    slot = Slot{quint32(blocks_.size() - 1), quint32(lastBlockUsed_), total};
    // data() first parts a block still shared with a copy of this list, so the copy keeps its bytes.
    char *out = blocks_.last().data() + lastBlockUsed_;
    lastBlockUsed_ += total;
    return out;
}

AddressList::Slot AddressList::store(const QByteArrayView *lines)
{
    const int count = fieldsPerRecord();
    qsizetype total = 2 * (count - 1);
    for (int k = 0; k < count; ++k)
        total += lines[k].size();
    Slot slot;
    char *out = room(total, slot);
    for (int k = 0; k < count; ++k) {
        if (k > 0) {
            *out++ = '\r';
            *out++ = '\n';
        }
        if (!lines[k].isEmpty())
            std::memcpy(out, lines[k].data(), size_t(lines[k].size()));
        out += lines[k].size();
    }
    return slot;
}

QByteArrayView AddressList::packed(int i) const
{
    const Slot &slot = slots_.at(i);
    return QByteArrayView(blocks_.at(slot.block).constData() + slot.offset, slot.size);
}

void AddressList::unpack(int i, QByteArrayView *lines, int count) const
{
    const QByteArrayView entry = packed(i);
    const char *p = entry.data();
    const char *end = p + entry.size();
    // Lines are joined by CR LF; a field holds neither byte, so the first CR ends it.
    for (int k = 0; k < count; ++k) {
        const auto *sep =
            p < end ? static_cast<const char *>(std::memchr(p, '\r', size_t(end - p))) : nullptr;
        const char *fieldEnd = sep ? sep : end;
        lines[k] = QByteArrayView(p, fieldEnd - p);
        p = sep ? sep + 2 : end;
    }
}

void AddressList::checkStorable(const AddressEntry &e) const
{
    for (int k = 0; k < fieldsPerRecord(); ++k)
        if (breaksLine(e.field(fieldOfLine(k))))
            throw PorError(messages::fieldBreaksLine());
}

namespace {

// The record's lines of an entry that checkStorable has passed.
void recordLines(const AddressEntry &e, const AddressList &list, QByteArrayView *lines)
{
    for (int k = 0; k < list.fieldsPerRecord(); ++k)
        lines[k] = e.field(list.fieldOfLine(k));
}

} // namespace

AddressEntry AddressList::Entry(int i) const
{
    QByteArrayView lines[fieldCount];
    unpack(i, lines, fieldsPerRecord());
    AddressEntry e;
    for (int k = 0; k < fieldsPerRecord(); ++k)
        e.field(fieldOfLine(k)) = lines[k].toByteArray();
    return e;
}

QByteArray AddressList::fieldOf(int i, Field f) const
{
    const int line = keepsNumber_ ? int(f) : int(f) - 1;
    if (line < 0)
        return QByteArray();
    QByteArrayView lines[fieldCount];
    unpack(i, lines, line + 1);
    return lines[line].toByteArray();
}

void AddressList::Append(const AddressEntry &e)
{
    checkStorable(e);
    QByteArrayView lines[fieldCount];
    recordLines(e, *this, lines);
    slots_.append(store(lines));
    changed_ = true;
}

void AddressList::Replace(int i, const AddressEntry &e)
{
    checkStorable(e);
    QByteArrayView lines[fieldCount];
    recordLines(e, *this, lines);
    slots_[i] = store(lines);
    changed_ = true;
}

void AddressList::reserve(int n)
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

void AddressList::clear()
{
    slots_.clear();
    blocks_.clear();
    lastBlockUsed_ = 0;
}

void AddressList::appendRecord(const QByteArrayView *lines)
{
    slots_.append(store(lines));
}

void AddressList::adoptPackedRecords(QByteArray block, const RecordSpan *records, int count)
{
    blocks_.append(std::move(block));
    const quint32 index = quint32(blocks_.size() - 1);
    slots_.reserve(slots_.size() + count);
    for (int i = 0; i < count; ++i)
        slots_.append(Slot{index, quint32(records[i].start), records[i].size});
    lastBlockUsed_ = blocks_.last().size(); // full: the next entry starts a block of its own
}

void AddressList::appendPackedRecords(const char *run, const RecordSpan *records, int count)
{
    int done = 0;
    while (done < count) {
        const qsizetype from = records[done].start;
        if (blocks_.isEmpty())
            makeRoom(0);
        const qsizetype free = blocks_.last().size() - lastBlockUsed_;
        int upTo = done; // the records from `done` on that fit into the last block as they lie
        while (upTo < count && records[upTo].start + records[upTo].size - from <= free)
            ++upTo;
        if (upTo == done) {
            makeRoom(records[done].size); // a fresh block, large enough for this record at least
            continue;
        }
        const qsizetype bytes = records[upTo - 1].start + records[upTo - 1].size - from;
        // data() first parts a block still shared with a copy of this list, so the copy keeps its bytes.
        char *out = blocks_.last().data() + lastBlockUsed_;
        if (bytes > 0)
            std::memcpy(out, run + from, size_t(bytes));
        const quint32 block = quint32(blocks_.size() - 1);
        const qsizetype shift = lastBlockUsed_ - from;
        // The index grows by the run at once and is filled in place, without a check per entry.
        const qsizetype first = slots_.size();
        if (slots_.capacity() < first + (upTo - done))
            slots_.reserve(qMax(first + (upTo - done), 2 * first));
        slots_.resize(first + (upTo - done));
        Slot *slot = slots_.data() + first;
        for (int i = done; i < upTo; ++i)
            *slot++ = Slot{block, quint32(records[i].start + shift), records[i].size};
        // The line end between records stays in the block unused: two bytes an entry buy one
        // copy a run instead of one a record.
        lastBlockUsed_ += bytes;
        done = upTo;
    }
}

QByteArray AddressList::fileContent(int first, int count) const
{
    const int last = first + count;
    qsizetype total = 0;
    for (int i = first; i < last; ++i)
        total += slots_.at(i).size + 2; // the packed entry is its lines already; the last one's CR LF
    QByteArray content(total, Qt::Uninitialized);
    char *out = content.data();
    for (int i = first; i < last; ++i) {
        const QByteArrayView entry = packed(i);
        if (!entry.isEmpty())
            std::memcpy(out, entry.data(), size_t(entry.size()));
        out += entry.size();
        *out++ = '\r';
        *out++ = '\n';
    }
    Q_ASSERT(out == content.constData() + total);
    return content;
}

QString listCaption(int list)
{
    return list == 1 ? QStringLiteral("ぽるておともだち") : QStringLiteral("おともだち");
}
