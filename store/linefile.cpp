#include "store/linefile.h"

#include "store/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace linefile {

QList<QByteArray> splitLines(QByteArrayView text)
{
    QList<QByteArray> lines;
    forEachLine(text, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
    return lines;
}

QByteArray joinLines(const QList<QByteArray> &lines)
{
    qsizetype total = 0;
    for (const QByteArray &line : lines)
        total += line.size() + 2;
    QByteArray content;
    content.reserve(total);
    for (const QByteArray &line : lines) {
        content.append(line);
        content.append("\r\n", 2);
    }
    return content;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PorError(messages::cannotOpen(path));
    try {
        QByteArray content = file.readAll();
        // readAll gives no other sign of a read that failed half way (an I/O error, a file
        // that is really a directory).
        if (file.error() != QFileDevice::NoError)
            throw PorError(messages::cannotOpen(path));
        return content;
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
}

QString folderHolding(const QString &path)
{
    // The save replaced the file a symbolic link points to, so the entry that changed is in the
    // folder of the link's final target.
    const QString real = QFileInfo(path).canonicalFilePath();
    return QFileInfo(real.isEmpty() ? path : real).absolutePath();
}

namespace {

// After the rename the new name lives only in the folder's cached entry until the folder itself
// is synced; without this a power cut could bring back the old file, or none.
bool syncFolderOf(const QString &path)
{
    const QByteArray folder = QFile::encodeName(folderHolding(path));
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true; // nothing to sync through; the data itself is already on disk
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    const bool ok = rc == 0 || errno == EINVAL || errno == EROFS; // some filesystems cannot sync folders
    ::close(fd);
    return ok;
}

} // namespace

void writeFileAtomically(const QString &path, const std::function<bool(QByteArray &)> &nextPiece,
                         const QString &createMessage)
{
    QSaveFile file(path);
    // Writing straight into the target would leave half a file behind on failure.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw PorError(createMessage);

    auto fail = [&file]() {
        file.cancelWriting();
        throw PorError(messages::writeError());
    };
    QByteArray piece;
    try {
        while (nextPiece(piece)) {
            if (file.write(piece) != piece.size())
                fail();
        }
    } catch (const std::bad_alloc &) {
        file.cancelWriting();
        throw PorError(messages::outOfMemory());
    }
    if (!file.flush())
        fail();
    // QSaveFile syncs on commit but ignores the result; a full disk on a delayed-allocation
    // filesystem shows up only here.
    int rc;
    do {
        rc = ::fdatasync(file.handle());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        fail();
    if (!file.commit())
        throw PorError(messages::writeError());
    if (!syncFolderOf(path))
        throw PorError(messages::writeError());
}

void writeFileAtomically(const QString &path, const QByteArray &content, const QString &createMessage)
{
    bool given = false;
    writeFileAtomically(
        path,
        [&](QByteArray &piece) {
            if (given)
                return false;
            piece = content;
            given = true;
            return true;
        },
        createMessage);
}

} // namespace linefile

QList<QByteArray> ReadLines(const QString &path)
{
    const QByteArray content = linefile::readFile(path);
    try {
        return linefile::splitLines(content);
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
}

void WriteLines(const QString &path, const QList<QByteArray> &lines)
{
    QByteArray content;
    try {
        content = linefile::joinLines(lines);
    } catch (const std::bad_alloc &) {
        throw PorError(messages::outOfMemory());
    }
    linefile::writeFileAtomically(path, content, messages::cannotCreate(path));
}
