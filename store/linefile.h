#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

// Line files: lines of CP932 bytes, each followed by CR LF when written. On reading CR, LF or
// CR LF end a line, the first NUL ends the text, a last line without an end counts.
namespace linefile {

// Calls fn(QByteArrayView line) for every line of text; the single splitter every reader uses.
template <typename Fn> void forEachLine(QByteArrayView text, Fn &&fn);

// The lines of text, as forEachLine sees them.
QList<QByteArray> splitLines(QByteArrayView text);

// Whole content of a line file in its written form.
QByteArray joinLines(const QList<QByteArray> &lines);

// Reads the whole file. Throws PorError "ﾌｧｲﾙ %s は開けません" when it cannot be opened.
QByteArray readFile(const QString &path);

// Replaces path with content atomically: temporary file in the same folder, data synced, rename,
// folder synced. Throws PorError with createMessage when the file cannot be created, and
// "ｽﾄﾘｰﾑへの書き込みｴﾗｰ" when writing, syncing or the rename fails. The old file is untouched on failure.
void writeFileAtomically(const QString &path, const QByteArray &content, const QString &createMessage);

// The same, with the content handed over in pieces: nextPiece fills its argument with the next
// piece and returns false when there is none left. Keeps a large file from being built whole in memory.
void writeFileAtomically(const QString &path, const std::function<bool(QByteArray &)> &nextPiece,
                         const QString &createMessage);

// The folder whose entry a replacement of path changes: that of the file a link at path leads to.
QString folderHolding(const QString &path);

} // namespace linefile

QList<QByteArray> ReadLines(const QString &path);
void WriteLines(const QString &path, const QList<QByteArray> &lines);

#include "store/linefile_impl.h"
