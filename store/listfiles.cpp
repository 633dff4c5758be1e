#include "store/listfiles.h"

#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfilereader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
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
        list.readInPart = ListFileReader(list.path, list.entries).read();
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
    ListFileReader::setChunkSize(bytes);
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
