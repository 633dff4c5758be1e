// The line reader and the list loader on arbitrary bytes: the loader, which reads in chunks, must
// agree with the whole-text splitter, and what it saves must load back unchanged.
#include "store/linefile.h"
#include "store/listfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void writeFile(const QString &path, QByteArrayView bytes)
{
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    check(file.write(bytes.data(), bytes.size()) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // tmpfs where there is one: every save syncs, and a disk would make each run slow.
    static QTemporaryDir dir(
        (QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
        QStringLiteral("/porfuzz-XXXXXX"));
    if (size == 0)
        return 0;
    // The first byte sets the loader's read size, so that chunk edges fall everywhere.
    setListReadChunkSize(1 + data[0] % 64);
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const QList<QByteArray> lines = linefile::splitLines(bytes);
    qsizetype counted = 0;
    linefile::forEachLine(bytes, [&](QByteArrayView line) {
        check(!line.contains('\r') && !line.contains('\n') && !line.contains('\0'));
        ++counted;
    });
    check(counted == lines.size());

    // The written form of the lines reads back as the same lines.
    check(linefile::splitLines(linefile::joinLines(lines)) == lines);

    AddressBook book;
    setListPaths(book, dir.path() + QLatin1Char('/'));
    writeFile(book.List1Path, bytes);
    writeFile(book.List2Path, bytes);
    LoadLists(book);
    check(book.list(1).loaded && book.list(2).loaded);
    check(book.List1.Count() == lines.size() / 7 && book.List2.Count() == lines.size() / 6);
    check(linefile::splitLines(book.List1.fileContent(0, book.List1.Count())) ==
          lines.first(lines.size() / 7 * 7));
    check(linefile::splitLines(book.List2.fileContent(0, book.List2.Count())) ==
          lines.first(lines.size() / 6 * 6));

    SaveLists(book);
    AddressBook again;
    setListPaths(again, dir.path() + QLatin1Char('/'));
    LoadLists(again);
    check(again.List1.Count() == book.List1.Count() && again.List2.Count() == book.List2.Count());
    for (int i = 0; i < book.List1.Count(); ++i)
        check(again.List1.Entry(i) == book.List1.Entry(i));
    for (int i = 0; i < book.List2.Count(); ++i)
        check(again.List2.Entry(i) == book.List2.Entry(i));
    QFile::remove(book.List1Path);
    QFile::remove(book.List2Path);
    QFile::remove(book.List1Path + QStringLiteral(".bak")); // a text cut short keeps its original once
    QFile::remove(book.List2Path + QStringLiteral(".bak"));
    return 0;
}
