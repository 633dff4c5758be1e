#include "store/listfilereader.h"

#include "store/errors.h"
#include "store/linefile.h"

#include <cstring>

namespace {

qint64 chunkSize = 1 << 20;
// A run of records this long came with a line longer than many chunks: its buffer is handed over.
constexpr qsizetype adoptBytes = 32 << 20;

} // namespace

void ListFileReader::setChunkSize(qint64 bytes)
{
    chunkSize = qMax(qint64(1), bytes);
}

ListFileReader::ListFileReader(const QString &path, AddressList &list)
    : file_(path), list_(list), perRecord_(list.fieldsPerRecord())
{
    if (!file_.open(QIODevice::ReadOnly))
        throw PorError(messages::cannotOpen(path));
    const qint64 size = file_.size();
    // Room for every entry the file could hold if each line were an empty CR LF line, so that the
    // index does not move while it fills (files with LF alone can hold more; the index then grows).
    list_.reserve(int(qMin<qint64>(list_.Count() + size / (2 * perRecord_) + 1, 1 << 28)));
    // A small file needs no full chunk; size + 1 lets the first read already see the end.
    readSize_ = qBound(qint64(1), size + 1, chunkSize);
    buffer_ = QByteArray(readSize_, Qt::Uninitialized);
}

bool ListFileReader::read()
{
    while (!atEnd_) {
        readChunk();
        scanBlocks();
        scanRest();
        handOverLongRun();
        flushPackedRun();
        keepIncompleteRecord();
    }
    return stoppedAtNul_ || droppedText();
}

void ListFileReader::readChunk()
{
    if (buffer_.size() - have_ < readSize_) // only a line longer than a chunk grows it, doubling
        buffer_.resize(qMax(have_ + readSize_, 2 * buffer_.size()));
    data_ = buffer_.data();
    const qint64 got = file_.read(data_ + have_, readSize_);
    if (got < 0)
        throw PorError(messages::cannotOpen(file_.fileName()));
    atEnd_ = got == 0;
    have_ += got;
}

// Each line end is one set bit of a mask. A block is taken only with a byte after it, which tells
// whether a CR at its end starts a CR LF. The places this walk moves are kept in locals, and written
// back once, so that they stay in registers over the many blocks and records.
void ListFileReader::scanBlocks()
{
    const char *const data = data_;
    const qsizetype have = have_;
    qsizetype at = scanFrom_;
    while (have - at > 64) {
        const linefile::detail::ByteMasks m = linefile::detail::byteMasks(data + at);
        if (m.nul != 0) {
            stopAt(at + qCountTrailingZeroBits(m.nul));
            break;
        }
        const std::uint64_t afterCr = data[at + 64] == '\n' ? std::uint64_t(1) << 63 : 0;
        const std::uint64_t crLfs = m.cr & ((m.lf >> 1) | afterCr);
        const std::uint64_t ends = m.cr | (m.lf & ~(m.cr << 1)); // the LF of a CR LF ends nothing
        if (ends != 0)
            endLinesOfBlock(at, ends, crLfs);
        // The LF of a CR LF at the block's end lies beyond it and is passed over.
        at += 64 + qsizetype(crLfs >> 63);
    }
    scanFrom_ = at;
}

// The line ends of the block at `at`, one bit each; those of them that are a CR LF in crLfs. Whole
// records are found by walking over their line ends, not by visiting each line.
Q_ALWAYS_INLINE void ListFileReader::endLinesOfBlock(qsizetype at, std::uint64_t ends, std::uint64_t crLfs)
{
    const std::uint64_t otherEnds = ends & ~crLfs; // CR alone or LF alone
    const int lastEnd = 63 - qCountLeadingZeroBits(ends);
    qsizetype recordStart = recordStart_;
    int filled = filled_;
    bool packedForm = packedForm_;
    while (true) {
        std::uint64_t e = ends;
        int k = filled;
        for (; e != 0 && k + 1 < perRecord_; ++k)
            e &= e - 1; // the record's earlier line ends
        if (e == 0) {   // no record ends in this block any more
            filled = k;
            break;
        }
        const int bit = qCountTrailingZeroBits(e);
        const std::uint64_t upTo = e ^ (e - 1); // bits 0 to bit
        endRecord(recordStart, at + bit, packedForm && (otherEnds & ends & (upTo >> 1)) == 0);
        recordStart = at + bit + 1 + qsizetype((crLfs >> bit) & 1);
        ends &= ~upTo;
        filled = 0;
        packedForm = true;
    }
    recordStart_ = recordStart;
    filled_ = filled;
    packedForm_ = packedForm && (otherEnds & ends) == 0;
    lineStart_ = at + lastEnd + 1 + qsizetype((crLfs >> lastEnd) & 1);
}

// The rest of the round, fewer than 65 bytes unless a NUL stopped the blocks.
void ListFileReader::scanRest()
{
    if (!stoppedAtNul_ && have_ > scanFrom_) {
        if (const void *nul = std::memchr(data_ + scanFrom_, '\0', size_t(have_ - scanFrom_)))
            stopAt(static_cast<const char *>(nul) - data_);
    }
    const char *end = data_ + have_;
    while (true) {
        const char *q = linefile::detail::findLineEnd(data_ + scanFrom_, end);
        if (q == end) {
            if (atEnd_ && lineStart_ != have_)
                endLine(have_, have_); // a last line without a line end counts
            scanFrom_ = have_;
            return;
        }
        if (*q == '\r' && q + 1 == end && !atEnd_) { // perhaps the first half of CR LF
            scanFrom_ = q - data_;
            return;
        }
        endLine(q - data_, linefile::detail::afterLineEnd(q, end) - data_);
        scanFrom_ = lineStart_;
    }
}

void ListFileReader::stopAt(qsizetype at)
{
    have_ = at; // nothing after the first NUL is read
    atEnd_ = stoppedAtNul_ = true;
}

// The next line starts two bytes after `at` after CR LF, one after another line end, at once when
// the text ended.
void ListFileReader::endLine(qsizetype at, qsizetype next)
{
    if (++filled_ < perRecord_) {
        packedForm_ = packedForm_ && next - at == 2;
    } else {
        endRecord(recordStart_, at, packedForm_);
        filled_ = 0;
        packedForm_ = true;
        recordStart_ = next;
    }
    lineStart_ = next;
}

// A packed record joins the run; any other goes to the list at once, after the run before it.
Q_ALWAYS_INLINE void ListFileReader::endRecord(qsizetype from, qsizetype to, bool packed)
{
    if (Q_LIKELY(packed)) {
        packedRun_.push_back({from, to - from});
    } else {
        flushPackedRun();
        appendSplitRecord(from, to);
    }
}

void ListFileReader::flushPackedRun()
{
    if (!packedRun_.empty())
        list_.appendPackedRecords(data_, packedRun_.data(), int(packedRun_.size()));
    packedRun_.clear();
}

// The record in [from, to), whose lines are split again here: a record with a line ended otherwise
// than by CR LF comes from another program and is rare, so the common form alone is kept fast.
void ListFileReader::appendSplitRecord(qsizetype from, qsizetype to)
{
    const char *p = data_ + from;
    const char *const end = data_ + to;
    QByteArrayView lines[fieldCount];
    for (int k = 0; k < perRecord_ - 1; ++k) {
        const char *q = linefile::detail::findLineEnd(p, end);
        lines[k] = QByteArrayView(p, q - p);
        p = linefile::detail::afterLineEnd(q, end);
    }
    lines[perRecord_ - 1] = QByteArrayView(p, end - p);
    list_.appendRecord(lines);
}

// A very long entry made the buffer grow: the list takes the buffer as it is, and the rest of the
// round moves to a fresh one, instead of the entry being copied once more into fresh memory.
void ListFileReader::handOverLongRun()
{
    if (packedRun_.empty())
        return;
    const qsizetype runEnd = packedRun_.back().start + packedRun_.back().size;
    if (runEnd < adoptBytes || packedRun_.back().start > qsizetype(0xFFFFFFFFu))
        return;
    QByteArray rest(qMax(have_ - recordStart_, qsizetype(0)) + readSize_, Qt::Uninitialized);
    if (have_ > recordStart_)
        std::memcpy(rest.data(), data_ + recordStart_, size_t(have_ - recordStart_));
    buffer_.truncate(runEnd);
    buffer_.squeeze();
    list_.adoptPackedRecords(std::move(buffer_), packedRun_.data(), int(packedRun_.size()));
    packedRun_.clear();
    buffer_ = std::move(rest);
    data_ = buffer_.data();
    shiftPlaces(recordStart_);
}

void ListFileReader::keepIncompleteRecord()
{
    const qsizetype consumed = recordStart_;
    if (consumed <= 0)
        return;
    if (have_ > consumed)
        std::memmove(data_, data_ + consumed, size_t(have_ - consumed));
    shiftPlaces(consumed);
}

void ListFileReader::shiftPlaces(qsizetype by)
{
    have_ -= by;
    lineStart_ -= by;
    scanFrom_ -= by;
    recordStart_ -= by;
}

bool ListFileReader::droppedText() const
{
    for (qsizetype i = recordStart_; i < have_; ++i) {
        if (data_[i] != '\r' && data_[i] != '\n')
            return true;
    }
    return false;
}
