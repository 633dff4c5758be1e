#include "listfiles.h"

#include "errors.h"
#include "linefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <new>

QString ProgramDirectory()
{
    const QString program = QCoreApplication::applicationFilePath();
    const QString folder = program.isEmpty() ? QFileInfo(QStringLiteral(".")).absoluteFilePath()
                                             : QFileInfo(program).absolutePath();
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

void SetListPaths(AddressBook &book, const QString &directory)
{
    book.List1Path = directory + QStringLiteral("PorAddr1.lst");
    book.List2Path = directory + QStringLiteral("PorAddr2.lst");
    book.MemberListPath = directory + QStringLiteral("PorMem.txt");
}

QString SettingsPathIn(const QString &directory)
{
    return directory + QStringLiteral("PorAddr.ini");
}

namespace {

qint64 chunkSize = 1 << 20;

// Where the complete lines of buffer end, seen from a reader that may still get more bytes: after
// the last LF, or after the last CR that has a byte behind it (a CR at the very end may be the
// first half of CR LF). 0 when no line is complete yet.
qsizetype completeLinesEnd(QByteArrayView buffer)
{
    const char *data = buffer.data();
    for (qsizetype i = buffer.size(); i > 0; --i) {
        if (data[i - 1] == '\n')
            return i;
        if (data[i - 1] == '\r' && i < buffer.size())
            return i;
    }
    return 0;
}

// Reads one list file into list a chunk at a time, so that memory holds the entries and one chunk
// rather than the whole file besides. Lines are split by forEachLine, records of the list's
// line count are appended; an incomplete record at the end is dropped.
void loadList(const QString &path, AddressList &list)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PorError(messages::cannotOpen(path));

    const int perRecord = list.KeepsNumber() ? FieldCount : FieldCount - 1;
    // Room for every entry the file could hold if each line were an empty CR LF line, so that the
    // index does not move while it fills (files with LF alone can hold more; the index then grows).
    list.Reserve(int(qMin<qint64>(list.Count() + file.size() / (2 * perRecord) + 1, 1 << 28)));
    QByteArrayView record[FieldCount];
    // A small file needs no full chunk; size() + 1 lets the first read already see the end.
    const qint64 readSize = qBound(qint64(1), file.size() + 1, chunkSize);
    // buffer holds `have` bytes: the unfinished tail of the last round, then what was just read.
    // It is managed by hand so that each round reuses the same memory.
    QByteArray buffer(readSize, Qt::Uninitialized);
    qsizetype have = 0;
    bool atEnd = false;
    while (!atEnd) {
        if (buffer.size() - have < readSize)
            buffer.resize(have + readSize); // only an unfinished line longer than a chunk grows it
        char *data = buffer.data();
        const qint64 got = file.read(data + have, readSize);
        if (got < 0)
            throw PorError(messages::cannotOpen(path));
        atEnd = got == 0;
        // The first NUL ends the text: nothing after it is read.
        if (const void *nul = got > 0 ? std::memchr(data + have, '\0', size_t(got)) : nullptr) {
            have = static_cast<const char *>(nul) - data;
            atEnd = true;
        } else {
            have += got;
        }

        const qsizetype usable = atEnd ? have : completeLinesEnd(QByteArrayView(data, have));
        if (usable == 0 && !atEnd)
            continue;
        int filled = 0;
        qsizetype recordStart = 0;
        linefile::forEachLine(QByteArrayView(data, usable), [&](QByteArrayView line) {
            if (filled == 0)
                recordStart = line.data() - data;
            record[filled++] = line;
            if (filled == perRecord) {
                list.AppendRecord(record);
                filled = 0;
            }
        });
        // Keep the bytes of an incomplete record and of unfinished lines for the next round;
        // they are split again from the record's first line.
        const qsizetype consumed = filled > 0 ? recordStart : usable;
        if (consumed > 0 && have > consumed)
            std::memmove(data, data + consumed, size_t(have - consumed));
        have -= consumed;
    }
}

void loadOne(const QString &path, AddressList &list, bool &loaded)
{
    loaded = false;
    // Only a regular file counts; a folder of that name is as good as no file.
    if (!QFileInfo(path).isFile()) {
        loaded = true;
        return;
    }
    try {
        loadList(path, list);
    } catch (...) {
        // A list read only in part is not shown: the user would take it for the whole list.
        list.Clear();
        throw;
    }
    loaded = true;
}

void saveOne(const QString &path, const AddressList &list)
{
    if (list.Count() == 0) {
        // A list without entries has no file; a file that will not go is left silently.
        QFile::remove(path);
        return;
    }
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
            piece = list.FileContent(next, count);
            next += count;
            return true;
        },
        messages::cannotCreate(path));
}

} // namespace

void SetListReadChunkSize(qint64 bytes)
{
    chunkSize = qMax(qint64(1), bytes);
}

void LoadLists(AddressBook &book)
{
    book.List1Loaded = false;
    book.List2Loaded = false;
    try {
        loadOne(book.List2Path, book.List2, book.List2Loaded);
        loadOne(book.List1Path, book.List1, book.List1Loaded);
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
}

void SaveLists(const AddressBook &book)
{
    if (book.List1Loaded)
        saveOne(book.List1Path, book.List1);
    if (book.List2Loaded)
        saveOne(book.List2Path, book.List2);
}

QList<QByteArray> ListLines(const AddressList &list)
{
    QList<QByteArray> lines;
    const int first = list.KeepsNumber() ? 0 : 1;
    lines.reserve(qsizetype(list.Count()) * (FieldCount - first));
    for (int i = 0; i < list.Count(); ++i) {
        const AddressEntry e = list.Entry(i);
        for (int f = first; f < FieldCount; ++f)
            lines.append(e.field(Field(f)));
    }
    return lines;
}
