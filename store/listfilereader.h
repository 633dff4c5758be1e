#pragma once

#include "store/addressbook.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

// Reads one list file into a list a chunk at a time, so that memory holds the entries and one chunk
// rather than the whole file besides. Lines end as the line splitter ends them (CR LF, CR or LF; the
// first NUL ends the text); records of the list's line count are appended; an incomplete record at
// the end is dropped. Each byte is looked at once for a line end, however long its line, so the time
// is linear in the file's size. Records whose lines are all joined by CR LF, nearly all of them, go
// to the list as they lie in the read buffer, many in one copy; any other record is split again.
class ListFileReader {
public:
    // Opens path for list. Throws PorError "ﾌｧｲﾙ %s は開けません" when it cannot be opened.
    ListFileReader(const QString &path, AddressList &list);
    ListFileReader(const ListFileReader &) = delete;
    ListFileReader &operator=(const ListFileReader &) = delete;

    // Appends the file's records to the list. Returns whether the reading stopped early: a NUL ended
    // the text, or the dropped record held text. Throws PorError when a read fails.
    bool read();

    // How many bytes are read at a time (1 MiB unless set); at least 1.
    static void setChunkSize(qint64 bytes);

private:
    // Reads the next chunk behind what is kept of earlier rounds; the buffer grows only for a line
    // longer than a chunk.
    void readChunk();
    // Most of the round, 64 bytes at a time, and the rest, a line at a time.
    void scanBlocks();
    void endLinesOfBlock(qsizetype at, std::uint64_t ends, std::uint64_t crLfs);
    void scanRest();
    // The text ends at `at`, before a NUL.
    void stopAt(qsizetype at);
    // A line ends at `at`, and the next one starts at `next`.
    void endLine(qsizetype at, qsizetype next);
    // The record in [from, to) has ended; packed: its lines were joined by CR LF.
    void endRecord(qsizetype from, qsizetype to, bool packed);
    // Hands the records of packedRun_ over to the list in one copy, and empties the run.
    void flushPackedRun();
    void appendSplitRecord(qsizetype from, qsizetype to);
    // The list takes the read buffer itself when a very long entry has made it grow.
    void handOverLongRun();
    // Moves the incomplete record and the unfinished line to the buffer's start for the next round.
    void keepIncompleteRecord();
    // Moves every place in the buffer back by `by` bytes.
    void shiftPlaces(qsizetype by);
    // Whether the dropped record held text: a byte other than a line end.
    bool droppedText() const;

    QFile file_;
    AddressList &list_;
    const int perRecord_;
    qint64 readSize_;
    // Whole records of this round in packed form, not yet handed to the list: they go over in one
    // copy when the round ends, or when a record in another form must come first.
    std::vector<AddressList::RecordSpan> packedRun_;
    // The buffer holds have_ bytes: what is kept of earlier rounds, then what was just read. The
    // places below are offsets in it, so they stay valid when it moves or grows. The line being read
    // starts at lineStart_; [lineStart_, scanFrom_) is known to hold no line end; the record being
    // filled starts at recordStart_ and filled_ of its lines have ended.
    QByteArray buffer_;
    char *data_ = nullptr;
    qsizetype have_ = 0;
    qsizetype lineStart_ = 0;
    qsizetype scanFrom_ = 0;
    qsizetype recordStart_ = 0;
    int filled_ = 0;
    bool packedForm_ = true; // the record's lines so far were each ended by CR LF
    bool atEnd_ = false;
    bool stoppedAtNul_ = false;
};
