#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The seven fields of an entry, in the order of list 1's columns and list file lines.
enum class Field { Number, Handle, Mail, Home, ICQ, PostPet, Memo };
constexpr int fieldCount = 7;
// The six text fields every entry has, in order; list 1 keeps Number before them, list 2 does not.
constexpr Field textFields[] = {Field::Handle, Field::Mail,    Field::Home,
                                Field::ICQ,    Field::PostPet, Field::Memo};
constexpr int textFieldCount = int(sizeof(textFields) / sizeof(textFields[0]));

// One friend. Every field is the exact CP932 bytes read or confirmed; the store never converts,
// trims or checks them. A field never holds CR, LF or NUL.
struct AddressEntry {
    QByteArray Number, Handle, Mail, Home, ICQ, PostPet, Memo;

    const QByteArray &field(Field f) const;
    QByteArray &field(Field f);
    bool operator==(const AddressEntry &other) const;
    bool operator!=(const AddressEntry &other) const { return !(*this == other); }
};

// An ordered list of entries. List 1 keeps each entry's Number; list 2 drops it.
// Append and Replace refuse an entry whose field holds CR, LF or NUL (PorError): the list files
// have no way to write them, and one such byte would shift every later field of the file.
// Entries are packed in their file's written form (lines joined by CR LF, which no field can
// contain), so that loading and saving copy a record whole, into large shared blocks
// and found through a small index, so that a million of them take little more memory than their
// file and loading makes no allocation per entry. Replace and Delete leave the old bytes unused
// in their block until the list is cleared: edits by hand are far too few for that to matter.
class AddressList {
public:
    explicit AddressList(bool keepsNumber) : keepsNumber_(keepsNumber) {}

    bool keepsNumber() const { return keepsNumber_; }
    // Lines of one entry in the list's file: 7 for list 1, 6 for list 2.
    int fieldsPerRecord() const { return keepsNumber_ ? fieldCount : textFieldCount; }
    // The field that line k of a record holds.
    Field fieldOfLine(int k) const { return Field(keepsNumber_ ? k : k + 1); }
    int Count() const { return int(slots_.size()); }
    AddressEntry Entry(int i) const;
    QByteArray fieldOf(int i, Field f) const; // one field without unpacking the rest
    // Throws PorError when a field this list keeps holds CR, LF or NUL; Append and Replace check
    // first with it, and a caller that must announce a change before making it can too.
    void checkStorable(const AddressEntry &e) const;
    void Append(const AddressEntry &e);
    void Replace(int i, const AddressEntry &e);
    void Delete(int i);
    void Swap(int i, int j);
    void clear();
    // Whether Append, Replace, Delete or Swap ever ran on this list (loading does not count).
    bool changed() const { return changed_; }

    // The written form of count entries from first on (one line a field, each ended by CR LF),
    // built straight from the packed entries: a large list is saved in pieces, with no list of lines.
    QByteArray fileContent(int first, int count) const;

private:
    // The loader's way in: it hands over records as they lie in its read buffer, which only it
    // knows to be in packed form, so these stay out of everyone else's reach.
    friend class ListFileReader;

    // Room for n entries in the index. Room never used costs address space only, not memory, so
    // the loader may ask for as many entries as its file could at most hold.
    void reserve(int n);
    // Appends an entry given as its record's lines (fieldsPerRecord of them) without building an
    // AddressEntry first; used by the loader.
    void appendRecord(const QByteArrayView *lines);
    // Where a record lies in a run of bytes, counted from the run's start.
    struct RecordSpan {
        qsizetype start, size;
    };
    // Appends count records in packed form that lie in run in order, where records says (the
    // bytes between them, the line end after each record's last line, are no part of them). The
    // run is copied in as few pieces as the blocks allow, not one record at a time: a loader
    // hands over a chunk of a file at once.
    void appendPackedRecords(const char *run, const RecordSpan *records, int count);
    // The same without a copy: block, which holds the records where records says, becomes a block
    // of the list's own. A loader hands over its read buffer so when one entry alone fills many
    // megabytes, which would otherwise be copied once more into fresh memory. Every record's start
    // must lie within the first 4 GiB of the block.
    void adoptPackedRecords(QByteArray block, const RecordSpan *records, int count);

    struct Slot {
        quint32 block;  // index in blocks_
        quint32 offset; // where it starts in its block (blocks hold at most 32 MiB, or one entry)
        qsizetype size; // bytes of the packed entry; an entry may exceed 4 GiB
    };

    Slot store(const QByteArrayView *lines);
    // Room for `total` bytes at the end of the last block, and the slot they will have.
    char *room(qsizetype total, Slot &slot);
    // Starts a new block unless the last one has `total` bytes free.
    void makeRoom(qsizetype total);
    QByteArrayView packed(int i) const;
    // The one walk over a packed entry: its first `count` lines, in record order.
    void unpack(int i, QByteArrayView *lines, int count) const;

    bool keepsNumber_;
    QList<Slot> slots_;
    QList<QByteArray> blocks_;    // implicitly shared, so copies of a list are cheap and independent
    qsizetype lastBlockUsed_ = 0; // bytes of the last block taken by entries; the rest is free
    bool changed_ = false;
};

// One of the two lists with its file: the entries, where they are kept, and what reading the file
// at start-up found.
struct StoredList {
    explicit StoredList(bool keepsNumber) : entries(keepsNumber) {}

    AddressList entries;
    QString path;
    // The file was read at start-up, or nothing stood under its name: only then is it written or
    // deleted at close. A list whose file could not be read keeps that file untouched.
    bool loaded = false;
    // The reading stopped early (a NUL, or an incomplete record with text at the end): the first
    // save keeps the file's bytes beside it as <file>.bak before replacing them.
    bool readInPart = false;
};

// The caption by which users know list 1 or 2: its tab, its category on a card.
QString listCaption(int list);

// Both lists and the paths of the files beside the program. One per run.
struct AddressBook {
    AddressBook() = default;
    // The names below always refer to this book's own lists, also in a copy.
    AddressBook(const AddressBook &other)
        : lists_{other.lists_[0], other.lists_[1]}, MemberListPath(other.MemberListPath),
          SettingsPath(other.SettingsPath)
    {
    }
    AddressBook &operator=(const AddressBook &other)
    {
        if (this == &other)
            return *this;
        lists_[0] = other.lists_[0];
        lists_[1] = other.lists_[1];
        MemberListPath = other.MemberListPath;
        SettingsPath = other.SettingsPath;
        return *this;
    }

    StoredList &list(int number) { return lists_[number - 1]; } // number: 1 or 2
    const StoredList &list(int number) const { return lists_[number - 1]; }

private:
    StoredList lists_[2] = {StoredList(true), StoredList(false)};

public:
    // The names the program's documents give the lists and their files.
    AddressList &List1 = lists_[0].entries;
    AddressList &List2 = lists_[1].entries;
    QString &List1Path = lists_[0].path;
    QString &List2Path = lists_[1].path;
    QString MemberListPath, SettingsPath;
};
