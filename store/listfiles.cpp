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
    // The lines of the record being filled, as places in the buffer: they stay valid when the
    // buffer moves or grows.
    struct Span {
        qsizetype start, size;
    } record[fieldCount];
    QByteArrayView views[fieldCount];
    int filled = 0;
    bool packedForm = true; // the record's lines so far were each ended by CR LF
    bool stoppedAtNul = false;
    // A small file needs no full chunk; size() + 1 lets the first read already see the end.
    const qint64 readSize = qBound(qint64(1), file.size() + 1, chunkSize);
    // buffer holds `have` bytes: what is kept of earlier rounds, then what was just read. The line
    // being read starts at lineStart; [lineStart, scanFrom) is known to hold no line end.
    QByteArray buffer(readSize, Qt::Uninitialized);
    qsizetype have = 0, lineStart = 0, scanFrom = 0;
    bool atEnd = false;
    while (!atEnd) {
        if (buffer.size() - have < readSize) // only a line longer than a chunk grows it, doubling
            buffer.resize(qMax(have + readSize, 2 * buffer.size()));
        char *data = buffer.data();
        const qint64 got = file.read(data + have, readSize);
        if (got < 0)
            throw PorError(messages::cannotOpen(path));
        atEnd = got == 0;
        // The first NUL ends the text: nothing after it is read.
        if (const void *nul = got > 0 ? std::memchr(data + have, '\0', size_t(got)) : nullptr) {
            have = static_cast<const char *>(nul) - data;
            atEnd = stoppedAtNul = true;
        } else {
            have += got;
        }

        // Each line found goes into the record being filled; a full record is appended whole, in
        // one copy when its lines were joined by CR LF (the list's packed form).
        const char *end = data + have;
        while (true) {
            const char *q = linefile::detail::findLineEnd(data + scanFrom, end);
            bool crLf = false;
            if (q == end) {
                if (!atEnd || lineStart == have) {
                    scanFrom = have;
                    break;
                }
                // a last line without a line end counts
            } else if (*q == '\r' && q + 1 == end && !atEnd) { // perhaps the first half of CR LF
                scanFrom = q - data;
                break;
            } else {
                crLf = *q == '\r' && q + 1 < end && q[1] == '\n';
            }
            record[filled] = {lineStart, (q - data) - lineStart};
            if (++filled < perRecord) {
                packedForm = packedForm && crLf;
            } else {
                const Span &lastLine = record[perRecord - 1];
                if (packedForm) {
                    list.appendPackedRecord(QByteArrayView(data + record[0].start,
                                                           lastLine.start + lastLine.size - record[0].start));
                } else {
                    for (int k = 0; k < perRecord; ++k)
                        views[k] = QByteArrayView(data + record[k].start, record[k].size);
                    list.appendRecord(views);
                }
                filled = 0;
                packedForm = true;
            }
            if (q == end) {
                lineStart = scanFrom = have;
                break;
            }
            lineStart = scanFrom = (q - data) + (crLf ? 2 : 1);
        }
        // Keep the bytes of an incomplete record and of an unfinished line for the next round.
        const qsizetype consumed = filled > 0 ? record[0].start : lineStart;
        if (consumed > 0) {
            if (have > consumed)
                std::memmove(data, data + consumed, size_t(have - consumed));
            have -= consumed;
            lineStart -= consumed;
            scanFrom -= consumed;
            for (int k = 0; k < filled; ++k)
                record[k].start -= consumed;
        }
    }
    bool droppedText = false;
    for (int k = 0; k < filled; ++k)
        droppedText = droppedText || record[k].size > 0;
    return stoppedAtNul || droppedText;
}

void loadOne(const QString &path, AddressList &list, bool &loaded, bool &readInPart)
{
    loaded = false;
    readInPart = false;
    switch (lookAt(path)) {
    case FileAtPath::None:
        loaded = true;
        return;
    case FileAtPath::Unreachable:
        throw PorError(messages::cannotOpen(path));
    case FileAtPath::Regular:
        break;
    }
    try {
        readInPart = loadList(path, list);
    } catch (...) {
        // A list read only in part is not shown: the user would take it for the whole list.
        list.clear();
        throw;
    }
    loaded = true;
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

void saveOne(const QString &path, const AddressList &list, bool &readInPart)
{
    // The reading stopped early, so the file holds more than the list: its bytes are kept once.
    if (readInPart && lookAt(path) == FileAtPath::Regular)
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
    readInPart = false;
}

} // namespace

void setListReadChunkSize(qint64 bytes)
{
    chunkSize = qMax(qint64(1), bytes);
}

void LoadLists(AddressBook &book)
{
    book.list1Loaded = book.list2Loaded = false;
    book.list1ReadInPart = book.list2ReadInPart = false;
    try {
        loadOne(book.List2Path, book.List2, book.list2Loaded, book.list2ReadInPart);
        loadOne(book.List1Path, book.List1, book.list1Loaded, book.list1ReadInPart);
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
}

bool listFileKept(const AddressBook &book, int list)
{
    const bool loaded = list == 1 ? book.list1Loaded : book.list2Loaded;
    return !loaded && lookAt(list == 1 ? book.List1Path : book.List2Path) != FileAtPath::None;
}

void SaveLists(AddressBook &book)
{
    if (!listFileKept(book, 1))
        saveOne(book.List1Path, book.List1, book.list1ReadInPart);
    if (!listFileKept(book, 2))
        saveOne(book.List2Path, book.List2, book.list2ReadInPart);
}
