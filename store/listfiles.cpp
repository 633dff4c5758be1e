#include "store/listfiles.h"

#include "store/errors.h"
#include "store/linefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

QString programDirectory()
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString folder = program.isEmpty() ? QFileInfo(QStringLiteral(".")).absoluteFilePath()
                                             : QFileInfo(program).absolutePath();
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

void setListPaths(AddressBook &book, const QString &directory)
{
    book.List1Path = directory + QStringLiteral("PorAddr1.lst");
    book.List2Path = directory + QStringLiteral("PorAddr2.lst");
    book.MemberListPath = directory + QStringLiteral("PorMem.txt");
}

QString settingsPathIn(const QString &directory)
{
    return directory + QStringLiteral("PorAddr.ini");
}

namespace {

qint64 chunkSize = 1 << 20;
// A run of records this long came with a line longer than many chunks: its buffer is handed over.
constexpr qsizetype adoptBytes = 32 << 20;

// What stands at a list file's path. Only "no such file" (and a folder of that name) means there is
// no list to read; any other failure to look (an I/O error, a link loop, a folder we may not search)
// must not pass for an empty list, or the close would write one over the file.
enum class FileAtPath { None, Regular, Unreachable };

FileAtPath lookAt(const QString &path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT ? FileAtPath::None : FileAtPath::Unreachable;
    if (S_ISREG(info.st_mode))
        return FileAtPath::Regular;
    return S_ISDIR(info.st_mode) ? FileAtPath::None : FileAtPath::Unreachable;
}

// Hands the whole records of a run over to the list in one copy, and empties the run.
void flushPackedRun(AddressList &list, const char *data, std::vector<AddressList::RecordSpan> &run)
{
    if (!run.empty())
        list.appendPackedRecords(data, run.data(), int(run.size()));
    run.clear();
}

// Appends the record in [p, end), whose lines are split again here: a record with a line ended
// otherwise than by CR LF comes from another program and is rare, so the common form alone is
// kept fast.
void appendSplitRecord(AddressList &list, const char *p, const char *end)
{
    const int perRecord = list.fieldsPerRecord();
    QByteArrayView lines[fieldCount];
    for (int k = 0; k < perRecord - 1; ++k) {
        const char *q = linefile::detail::findLineEnd(p, end);
        lines[k] = QByteArrayView(p, q - p);
        p = q + (*q == '\r' && q + 1 < end && q[1] == '\n' ? 2 : 1);
    }
    lines[perRecord - 1] = QByteArrayView(p, end - p);
    list.appendRecord(lines);
}

// Reads one list file into list a chunk at a time, so that memory holds the entries and one chunk
// rather than the whole file besides. Lines end as the line splitter ends them; records of the
// list's line count are appended; an incomplete record at the end is dropped. Each byte is looked
// at once for a line end, however long its line, so the time is linear in the file's size.
// Returns whether the reading stopped early: a NUL ended the text, or the dropped record held text.
bool loadList(const QString &path, AddressList &list)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PorError(messages::cannotOpen(path));

    const int perRecord = list.fieldsPerRecord();
    // Room for every entry the file could hold if each line were an empty CR LF line, so that the
    // index does not move while it fills (files with LF alone can hold more; the index then grows).
    list.reserve(int(qMin<qint64>(list.Count() + file.size() / (2 * perRecord) + 1, 1 << 28)));
    // Where the record being filled starts and how many of its lines have ended, as places in the
    // buffer: they stay valid when the buffer moves or grows.
    qsizetype recordStart = 0;
    int filled = 0;
    bool packedForm = true; // the record's lines so far were each ended by CR LF
    bool stoppedAtNul = false;
    // Whole records of this round in packed form, not yet handed to the list: they go over in
    // one copy when the round ends, or when a record in another form must come first.
    std::vector<AddressList::RecordSpan> packedRun;
    // A small file needs no full chunk; size() + 1 lets the first read already see the end.
    const qint64 readSize = qBound(qint64(1), file.size() + 1, chunkSize);
    // buffer holds `have` bytes: what is kept of earlier rounds, then what was just read. The line
    // being read starts at lineStart; [lineStart, scanFrom) is known to hold no line end.
    QByteArray buffer(readSize, Qt::Uninitialized);
    qsizetype have = 0, lineStart = 0, scanFrom = 0;
    bool atEnd = false;
    char *data = nullptr;

    // The record being filled ends at `at`: it goes to the run when its lines were joined by CR LF.
    const auto endRecord = [&](qsizetype at, bool packed) {
        if (packed) {
            packedRun.push_back({recordStart, at - recordStart});
        } else {
            flushPackedRun(list, data, packedRun);
            appendSplitRecord(list, data + recordStart, data + at);
        }
    };
    // A line ends at `at`, and the next one starts at `next`: two bytes later after CR LF, one
    // after another line end, at once when the text ended.
    const auto endLine = [&](qsizetype at, qsizetype next) {
        if (++filled < perRecord) {
            packedForm = packedForm && next - at == 2;
        } else {
            endRecord(at, packedForm);
            filled = 0;
            packedForm = true;
            recordStart = next;
        }
        lineStart = next;
    };

    while (!atEnd) {
        if (buffer.size() - have < readSize) // only a line longer than a chunk grows it, doubling
            buffer.resize(qMax(have + readSize, 2 * buffer.size()));
        data = buffer.data();
        const qint64 got = file.read(data + have, readSize);
        if (got < 0)
            throw PorError(messages::cannotOpen(path));
        atEnd = got == 0;
        have += got;

        // Most of the text, 64 bytes at a time: each line end is one set bit of a mask. A block is
        // taken only with a byte after it, which tells whether a CR at its end starts a CR LF.
        while (have - scanFrom > 64) {
            const linefile::detail::ByteMasks m = linefile::detail::byteMasks(data + scanFrom);
            if (m.nul != 0) { // the first NUL ends the text: nothing after it is read
                have = scanFrom + qCountTrailingZeroBits(m.nul);
                atEnd = stoppedAtNul = true;
                break;
            }
            const std::uint64_t afterCr = data[scanFrom + 64] == '\n' ? std::uint64_t(1) << 63 : 0;
            const std::uint64_t crLfs = m.cr & ((m.lf >> 1) | afterCr);
            std::uint64_t ends = m.cr | (m.lf & ~(m.cr << 1)); // the LF of a CR LF ends nothing
            if (ends != 0) {
                const std::uint64_t otherEnds = ends & ~crLfs; // CR alone or LF alone
                const int lastEnd = 63 - qCountLeadingZeroBits(ends);
                // Whole records are found by walking over their line ends, not by visiting each line.
                while (true) {
                    std::uint64_t e = ends;
                    int k = filled;
                    for (; e != 0 && k + 1 < perRecord; ++k)
                        e &= e - 1; // the record's earlier line ends
                    if (e == 0) {   // no record ends in this block any more
                        filled = k;
                        break;
                    }
                    const int bit = qCountTrailingZeroBits(e);
                    const std::uint64_t upTo = e ^ (e - 1); // bits 0 to bit
                    endRecord(scanFrom + bit, packedForm && (otherEnds & ends & (upTo >> 1)) == 0);
                    recordStart = scanFrom + bit + 1 + qsizetype((crLfs >> bit) & 1);
                    ends &= ~upTo;
                    filled = 0;
                    packedForm = true;
                }
                packedForm = packedForm && (otherEnds & ends) == 0;
                lineStart = scanFrom + lastEnd + 1 + qsizetype((crLfs >> lastEnd) & 1);
            }
            // The LF of a CR LF at the block's end lies beyond it and is passed over.
            scanFrom += 64 + qsizetype(crLfs >> 63);
        }
        // The rest of the round, fewer than 65 bytes, a line at a time.
        if (!stoppedAtNul && have > scanFrom) {
            if (const void *nul = std::memchr(data + scanFrom, '\0', size_t(have - scanFrom))) {
                have = static_cast<const char *>(nul) - data;
                atEnd = stoppedAtNul = true;
            }
        }
        const char *end = data + have;
        while (true) {
            const char *q = linefile::detail::findLineEnd(data + scanFrom, end);
            if (q == end) {
                if (!atEnd || lineStart == have) {
                    scanFrom = have;
                    break;
                }
                endLine(have, have); // a last line without a line end counts
                scanFrom = have;
                break;
            }
            if (*q == '\r' && q + 1 == end && !atEnd) { // perhaps the first half of CR LF
                scanFrom = q - data;
                break;
            }
            endLine(q - data, (q - data) + (*q == '\r' && q + 1 < end && q[1] == '\n' ? 2 : 1));
            scanFrom = lineStart;
        }
        const qsizetype runEnd = packedRun.empty() ? 0 : packedRun.back().start + packedRun.back().size;
        if (runEnd >= adoptBytes && packedRun.back().start <= qsizetype(0xFFFFFFFFu)) {
            // A very long entry made the buffer grow: the list takes the buffer as it is, and the
            // rest of the round moves to a fresh one.
            QByteArray rest(qMax(have - recordStart, qsizetype(0)) + readSize, Qt::Uninitialized);
            if (have > recordStart)
                std::memcpy(rest.data(), data + recordStart, size_t(have - recordStart));
            buffer.truncate(runEnd);
            buffer.squeeze();
            list.adoptPackedRecords(std::move(buffer), packedRun.data(), int(packedRun.size()));
            packedRun.clear();
            buffer = std::move(rest);
            data = buffer.data();
            have -= recordStart;
            lineStart -= recordStart;
            scanFrom -= recordStart;
            recordStart = 0;
        }
        flushPackedRun(list, data, packedRun);
        // Keep the bytes of an incomplete record and of an unfinished line for the next round.
        const qsizetype consumed = recordStart;
        if (consumed > 0) {
            if (have > consumed)
                std::memmove(data, data + consumed, size_t(have - consumed));
            have -= consumed;
            lineStart -= consumed;
            scanFrom -= consumed;
            recordStart = 0;
        }
    }
    // The dropped record held text if any of its lines was not empty: a byte other than a line end.
    bool droppedText = false;
    for (qsizetype i = recordStart; i < have && !droppedText; ++i)
        droppedText = data[i] != '\r' && data[i] != '\n';
    return stoppedAtNul || droppedText;
}

void loadOne(StoredList &list)
{
    list.loaded = false;
    list.readInPart = false;
    switch (lookAt(list.path)) {
    case FileAtPath::None:
        list.loaded = true;
        return;
    case FileAtPath::Unreachable:
        throw PorError(messages::cannotOpen(list.path));
    case FileAtPath::Regular:
        break;
    }
    try {
        list.readInPart = loadList(list.path, list.entries);
    } catch (...) {
        // A list read only in part is not shown: the user would take it for the whole list.
        list.entries.clear();
        throw;
    }
    list.loaded = true;
}

// The file's bytes as they are, beside it as <file>.bak, replaced atomically.
void keepBackup(const QString &path)
{
    const QString backup = path + QStringLiteral(".bak");
    QFile original(path);
    if (!original.open(QIODevice::ReadOnly))
        throw PorError(messages::cannotOpen(path));
    linefile::writeFileAtomically(
        backup,
        [&](QByteArray &piece) {
            piece = original.read(1 << 20);
            if (original.error() != QFileDevice::NoError)
                throw PorError(messages::cannotOpen(path));
            return !piece.isEmpty();
        },
        messages::cannotCreate(backup));
}

// A list without entries has no file. Only a regular file that the user may write is removed: a
// read-only file keeps the old entries (they come back at the next start), and a link, a pipe or
// a folder of that name is not ours to remove. A removal that fails is no error either.
void removeListFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info;
    if (::lstat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        ::access(name.constData(), W_OK) != 0)
        return;
    ::unlink(name.constData());
}

void saveOne(StoredList &stored)
{
    const QString &path = stored.path;
    const AddressList &list = stored.entries;
    // The reading stopped early, so the file holds more than the list: its bytes are kept once.
    if (stored.readInPart && lookAt(path) == FileAtPath::Regular)
        keepBackup(path);
    if (list.Count() == 0) {
        removeListFile(path);
    } else {
        // In pieces of a few hundred kilobytes: a large list is written without a second copy of
        // itself in memory.
        constexpr int entriesPerPiece = 4096;
        int next = 0;
        linefile::writeFileAtomically(
            path,
            [&](QByteArray &piece) {
                if (next >= list.Count())
                    return false;
                const int count = qMin(entriesPerPiece, list.Count() - next);
                piece = list.fileContent(next, count);
                next += count;
                return true;
            },
            messages::cannotCreate(path));
    }
    stored.readInPart = false;
}

} // namespace

void setListReadChunkSize(qint64 bytes)
{
    chunkSize = qMax(qint64(1), bytes);
}

void LoadLists(AddressBook &book)
{
    for (const int number : {1, 2}) {
        book.list(number).loaded = false;
        book.list(number).readInPart = false;
    }
    try {
        loadOne(book.list(2));
        loadOne(book.list(1));
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
}

bool listFileKept(const StoredList &list)
{
    return !list.loaded && lookAt(list.path) != FileAtPath::None;
}

void saveList(StoredList &list)
{
    if (!listFileKept(list))
        saveOne(list);
}

void SaveLists(AddressBook &book)
{
    saveList(book.list(1));
    saveList(book.list(2));
}
