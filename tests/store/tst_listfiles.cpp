#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfiles.h"
#include "support/storetest.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utility>

using storetest::entriesOf;
using storetest::readBytes;
using storetest::writeBytes;

namespace {

// Sets the loader's read size while it lives, and puts the usual 1 MiB back.
class ReadChunkSize {
public:
    explicit ReadChunkSize(qint64 bytes) { setListReadChunkSize(bytes); }
    ~ReadChunkSize() { setListReadChunkSize(1 << 20); }
    ReadChunkSize(const ReadChunkSize &) = delete;
    ReadChunkSize &operator=(const ReadChunkSize &) = delete;
};

// The lines of a file in CR LF form, cut at each CR LF and nowhere else: a stray CR or LF stays in
// its line.
QList<QByteArray> crLfLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype at = text.indexOf("\r\n"); at >= 0; at = text.indexOf("\r\n", from)) {
        lines.append(text.sliced(from, at - from));
        from = at + 2;
    }
    return lines;
}

// Each line followed by its own line end.
QByteArray endedBy(const QList<QByteArray> &lines, const QList<QByteArray> &ends)
{
    QByteArray text;
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += lines.at(i) + ends.at(i);
    return text;
}

} // namespace

class TestListFiles : public QObject {
    Q_OBJECT

private slots:
    void loadsWholeRecords_data();
    void loadsWholeRecords();
    void savedFormIsExact_data();
    void savedFormIsExact();
    void loadAgreesWithLineSplitterAcrossReadChunks_data();
    void loadAgreesWithLineSplitterAcrossReadChunks();
    void noFilesMeansEmptyListsAndNoFilesCreated();
    void emptyListDeletesItsFile();
    void folderNamedLikeListFile();
    void listNotLoaded_data();
    void listNotLoaded();
    void whatIsNotAListFile_data();
    void whatIsNotAListFile();
    void fieldsThatBreakLinesAreRefused_data();
    void fieldsThatBreakLinesAreRefused();
    void backupThatCannotBeMadeStopsTheSave();
    void list2KeepsNoNumber();
    void listOperations();

private:
    // One load and the saves after it, as loadsWholeRecords checks them.
    void loadAndSave(const QByteArray &list1, const QByteArray &list2, int count1, int count2,
                     const QByteArray &saved1, const QByteArray &saved2, const QString &keptAsBackup) const;

    QTemporaryDir dir_;
    QString path(const char *name) const { return dir_.filePath(QLatin1String(name)); }
    AddressBook book() const
    {
        AddressBook b;
        setListPaths(b, dir_.path() + QLatin1Char('/'));
        return b;
    }
    void clearDir() const
    {
        for (const QString &name : entriesOf(dir_.path()))
            QFileInfo(dir_.filePath(name)).isDir() ? void(QDir(dir_.filePath(name)).removeRecursively())
                                                   : void(QFile::remove(dir_.filePath(name)));
    }
};

void TestListFiles::loadsWholeRecords_data()
{
    QTest::addColumn<QByteArray>("list1");
    QTest::addColumn<QByteArray>("list2");
    QTest::addColumn<int>("count1");
    QTest::addColumn<int>("count2");
    QTest::addColumn<QByteArray>("saved1"); // what the next close writes back
    QTest::addColumn<QByteArray>("saved2");
    // Lists whose reading stopped early: their first save keeps the file as it was in <file>.bak.
    QTest::addColumn<QString>("keptAsBackup");

    const QByteArray seven = "1\r\nA\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n";
    const QByteArray six = "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n";
    const QByteArray big(100 * 1024, '\x82');
    const QString none, bak1 = QStringLiteral("PorAddr1.lst.bak"), bak2 = QStringLiteral("PorAddr2.lst.bak");
    QTest::newRow("one each") << seven << six << 1 << 1 << seven << six << none;
    QTest::newRow("13 lines give 2 entries of list 2")
        << QByteArray() << QByteArray(six + six + "extra\r\n") << 0 << 2 << QByteArray()
        << QByteArray(six + six) << bak2;
    QTest::newRow("6 lines give no entry of list 1")
        << QByteArray("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n") << QByteArray() << 0 << 0 << QByteArray()
        << QByteArray() << bak1;
    QTest::newRow("LF only and no final end")
        << QByteArray("1\nA\nm\nh\ni\np\nmemo") << QByteArray("A\rm\rh\ri\rp\r\r") << 1 << 1 << seven
        << QByteArray("A\r\nm\r\nh\r\ni\r\np\r\n\r\n") << none;
    QTest::newRow("BOM is part of the first field")
        << QByteArray("\xEF\xBB\xBF" + seven) << QByteArray() << 1 << 0 << QByteArray("\xEF\xBB\xBF" + seven)
        << QByteArray() << none;
    QTest::newRow("NUL in list 2 cuts it")
        << QByteArray() << QByteArray(six + "B\r\nx\r\ny\r\n" + QByteArray(1, '\0') + "z\r\nw\r\nv\r\n") << 0
        << 1 << QByteArray() << six << bak2;
    QTest::newRow("NUL far into list 2 cuts it in the middle of a line")
        << QByteArray() << QByteArray(six.repeated(30) + "B\r\nxy" + QByteArray(1, '\0') + six) << 0 << 30
        << QByteArray() << six.repeated(30) << bak2;
    QTest::newRow("NUL at the start of list 1: nothing read, the file goes")
        << QByteArray(QByteArray(1, '\0') + seven) << six << 0 << 1 << QByteArray() << six << bak1;
    QTest::newRow("empty lines after the last record are no text")
        << QByteArray(seven + "\r\n\r\n") << QByteArray(six + "\n") << 1 << 1 << seven << six << none;
    // A line over many read chunks: the loader hands its whole buffer to the list.
    const QByteArray huge(33 << 20, 'x');
    QTest::newRow("33 MiB memo between short entries")
        << QByteArray() << QByteArray(six + "B\r\nm\r\nh\r\ni\r\np\r\n" + huge + "\r\n" + six + "tail") << 0
        << 3 << QByteArray() << QByteArray(six + "B\r\nm\r\nh\r\ni\r\np\r\n" + huge + "\r\n" + six) << bak2;
    QTest::newRow("100 KB field stays in its place")
        << QByteArray("1\r\n" + big + "\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n" + seven) << QByteArray() << 2 << 0
        << QByteArray("1\r\n" + big + "\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n" + seven) << QByteArray() << none;
    QTest::newRow("invalid CP932 and NEC/IBM duplicates untouched")
        << QByteArray("\x80\r\n\xED\x40\r\n\xFA\x5C\r\n\x81\r\n\xFF\r\n\r\n\x83\x5C\r\n") << QByteArray() << 1
        << 0 << QByteArray("\x80\r\n\xED\x40\r\n\xFA\x5C\r\n\x81\r\n\xFF\r\n\r\n\x83\x5C\r\n") << QByteArray()
        << none;
    QTest::newRow("0-byte file") << QByteArray("") << QByteArray() << 0 << 0 << QByteArray() << QByteArray()
                                 << none;

    // Lines ended by LF alone, CR alone or CR LF, mixed inside one record and inside one 64-byte
    // block, and long lines whose ends fall on a block's edge: every record loads as its lines and
    // is saved in CR LF form. A record taken for one in CR LF form would keep a stray CR or LF in a
    // field, or shift the fields after it.
    const QList<QByteArray> lines7{"1", "A", "m", "h", "i", "p", "memo"}, lines6 = lines7.mid(1);
    QTest::newRow("LF, CR and CR LF mixed in records inside one block")
        << QByteArray(endedBy(lines7, {"\n", "\r\n", "\r", "\r\n", "\n", "\r", "\r\n"}) + seven +
                      endedBy(lines7, {"\r", "\r", "\n", "\n", "\r\n", "\r\n", "\n"}) + seven)
        << QByteArray(six + endedBy(lines6, {"\r\n", "\r\n", "\r\n", "\r\n", "\n", "\r\n"}) + six +
                      endedBy(lines6, {"\r", "\r\n", "\r\n", "\r\n", "\r\n", "\r\n"}))
        << 4 << 4 << seven.repeated(4) << six.repeated(4) << none;
    QTest::newRow("LF alone and CR LF records by turns")
        << QByteArray() << QByteArray("A\nm\nh\ni\np\nmemo\n" + six).repeated(5) << 0 << 10 << QByteArray()
        << six.repeated(10) << none;
    QTest::newRow("LF CR and LF then CR LF end two lines each")
        << QByteArray(endedBy({"1", "", "m", "h", "i", "p", "memo"},
                              {"\n", "\r\n", "\r", "\n", "\n", "\r", "\r\n"}) +
                      seven + seven)
        << QByteArray("A\n\rh\ri\np\r\nmemo\n" + six + six) << 3 << 3
        << QByteArray("1\r\n\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n" + seven + seven)
        << QByteArray("A\r\n\r\nh\r\ni\r\np\r\nmemo\r\n" + six + six) << none;
    const QByteArray l63(63, 'a'), l64(64, 'b'), l65(65, 'c'), l130(130, 'd');
    const QList<QList<QByteArray>> long1{
        {"1", l63, l64, l65, l130, "", "memo"}, lines7, {"2", l64, l63, l130, l65, "x", "y"}};
    const QList<QList<QByteArray>> long2{{l63, l64, l65, l130, "p", "memo"},
                                         {l130, l65, l64, l63, "", "m"},
                                         {l63, l64, l65, l130, "p", "memo"},
                                         {"A", l63, "h", l64, "p", l65}};
    const auto crLfForm = [](const QList<QList<QByteArray>> &records) {
        QByteArray text;
        for (const QList<QByteArray> &lines : records)
            text += endedBy(lines, QList<QByteArray>(lines.size(), "\r\n"));
        return text;
    };
    QTest::newRow("lines of 63, 64, 65 and 130 bytes with mixed ends across blocks")
        << QByteArray(endedBy(long1[0], {"\r\n", "\r", "\n", "\r\n", "\n", "\r", "\n"}) + seven +
                      endedBy(long1[2], {"\r\n", "\r\n", "\r\n", "\r\n", "\n", "\r\n", "\r\n"}))
        << QByteArray(endedBy(long2[0], {"\n", "\r", "\r\n", "\n", "\r", "\r\n"}) +
                      endedBy(long2[1], {"\r\n", "\n", "\r\n", "\r", "\r\n", "\n"}) + crLfForm({long2[2]}) +
                      endedBy(long2[3], {"\r", "\r", "\n", "\n", "\r\n", "\r"}))
        << 3 << 4 << crLfForm(long1) << crLfForm(long2) << none;
    QTest::newRow("incomplete record of mixed ends dropped")
        << QByteArray() << QByteArray(six + "B\nx\ry\r\n") << 0 << 1 << QByteArray() << six << bak2;
}

void TestListFiles::loadsWholeRecords()
{
    QFETCH(QByteArray, list1);
    QFETCH(QByteArray, list2);
    QFETCH(int, count1);
    QFETCH(int, count2);
    QFETCH(QByteArray, saved1);
    QFETCH(QByteArray, saved2);
    QFETCH(QString, keptAsBackup);
    // Small files are read again in chunks of a few bytes, so that chunk edges fall inside lines,
    // between a CR and its LF and inside records; 0 is the usual size.
    const bool small = list1.size() + list2.size() <= 4096;
    for (const qint64 chunk : small ? QList<qint64>{0, 1, 2, 3, 5, 63, 64, 65, 130} : QList<qint64>{0}) {
        const auto where = qScopeGuard([chunk] {
            if (QTest::currentTestFailed())
                qWarning("read in chunks of %lld bytes", static_cast<long long>(chunk));
        });
        const ReadChunkSize readChunkSize(chunk == 0 ? 1 << 20 : chunk);
        loadAndSave(list1, list2, count1, count2, saved1, saved2, keptAsBackup);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestListFiles::loadAndSave(const QByteArray &list1, const QByteArray &list2, int count1, int count2,
                                const QByteArray &saved1, const QByteArray &saved2,
                                const QString &keptAsBackup) const
{
    clearDir();
    if (!list1.isNull())
        writeBytes(path("PorAddr1.lst"), list1);
    if (!list2.isNull())
        writeBytes(path("PorAddr2.lst"), list2);

    AddressBook b = book();
    LoadLists(b);
    QCOMPARE(b.List1.Count(), count1);
    QCOMPARE(b.List2.Count(), count2);
    QVERIFY(b.list(1).loaded && b.list(2).loaded);
    // Every field as the saved form has it, byte for byte; list 2 keeps no number.
    for (const auto &[list, saved] : {std::pair{&b.List1, saved1}, std::pair{&b.List2, saved2}}) {
        const QList<QByteArray> lines = crLfLines(saved);
        QCOMPARE(lines.size(), qsizetype(list->Count()) * list->fieldsPerRecord());
        for (int i = 0; i < list->Count(); ++i) {
            const AddressEntry e = list->Entry(i);
            if (!list->keepsNumber())
                QCOMPARE(e.Number, QByteArray());
            for (int k = 0; k < list->fieldsPerRecord(); ++k)
                QCOMPARE(e.field(list->fieldOfLine(k)), lines.at(i * list->fieldsPerRecord() + k));
        }
    }

    SaveLists(b);
    QCOMPARE(QFileInfo::exists(path("PorAddr1.lst")), count1 > 0);
    QCOMPARE(QFileInfo::exists(path("PorAddr2.lst")), count2 > 0);
    if (count1 > 0)
        QCOMPARE(readBytes(path("PorAddr1.lst")), saved1);
    if (count2 > 0)
        QCOMPARE(readBytes(path("PorAddr2.lst")), saved2);
    const QStringList backups = entriesOf(dir_.path()).filter(QStringLiteral(".bak"));
    QCOMPARE(backups, keptAsBackup.isEmpty() ? QStringList() : QStringList{keptAsBackup});
    if (keptAsBackup.isEmpty())
        return;
    const QByteArray original = keptAsBackup.startsWith(QLatin1String("PorAddr1")) ? list1 : list2;
    QCOMPARE(readBytes(dir_.filePath(keptAsBackup)), original);
    // Later closes of the same run save the list as usual and leave the copy of the original alone.
    b.List1.Append(storetest::sampleEntry(1));
    b.List2.Append(storetest::sampleEntry(2));
    SaveLists(b);
    QCOMPARE(readBytes(dir_.filePath(keptAsBackup)), original);
}

void TestListFiles::savedFormIsExact_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<AddressEntry>("entry");
    QTest::addColumn<QByteArray>("bytes");
    AddressEntry handleOnly;
    handleOnly.Handle = "A";
    handleOnly.Number = "12"; // list 2 drops it
    AddressEntry numberOnly;
    numberOnly.Number = "1";
    AddressEntry full{"99", "\x82\xbd", "m@x", "http://h/", "123", "pp", "\x83\x5c"};
    QTest::newRow("list 2, handle A: 13 bytes") << 2 << handleOnly << QByteArray("A\r\n\r\n\r\n\r\n\r\n\r\n");
    QTest::newRow("list 1, number 1: 15 bytes")
        << 1 << numberOnly << QByteArray("1\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    QTest::newRow("list 1, all fields")
        << 1 << full << QByteArray("99\r\n\x82\xbd\r\nm@x\r\nhttp://h/\r\n123\r\npp\r\n\x83\x5c\r\n");
}

void TestListFiles::savedFormIsExact()
{
    QFETCH(int, list);
    QFETCH(AddressEntry, entry);
    QFETCH(QByteArray, bytes);
    clearDir();
    AddressBook b = book();
    b.list(1).loaded = b.list(2).loaded = true;
    (list == 1 ? b.List1 : b.List2).Append(entry);
    SaveLists(b);
    const QString file = list == 1 ? b.List1Path : b.List2Path;
    QCOMPARE(readBytes(file), bytes);
    QCOMPARE(entriesOf(dir_.path()), QStringList{QFileInfo(file).fileName()});

    AddressBook again = book();
    LoadLists(again);
    AddressEntry expected = entry;
    if (list == 2)
        expected.Number.clear();
    QCOMPARE((list == 1 ? again.List1 : again.List2).Entry(0), expected);
}

void TestListFiles::loadAgreesWithLineSplitterAcrossReadChunks_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("longest");   // the longest of the rare long lines
    QTest::addColumn<int>("otherEnds"); // per thousand lines, how many end by LF, CR or LF CR
    QTest::addColumn<int>("chunk");     // the loader's read size; 0 for the usual 1 MiB
    QTest::newRow("3 MB of short lines") << 1u << 3 * 1024 * 1024 << 20000 << 750 << 0;
    QTest::newRow("2 MB with long lines") << 2u << 2 * 1024 * 1024 + 7 << 20000 << 750 << 0;
    QTest::newRow("1 MB exactly") << 3u << 1024 * 1024 << 20000 << 750 << 0;
    QTest::newRow("lines over several chunks") << 4u << 9 * 1024 * 1024 << 3 * 1024 * 1024 << 750 << 0;
    QTest::newRow("CR LF, now and then another end") << 5u << 3 * 1024 * 1024 + 1 << 300 << 5 << 0;
    QTest::newRow("CR LF only") << 6u << 2 * 1024 * 1024 << 200 << 0 << 0;
    QTest::newRow("200 KB read 7 bytes at a time") << 7u << 200 * 1024 << 300 << 250 << 7;
    QTest::newRow("200 KB read 64 bytes at a time") << 8u << 200 * 1024 + 3 << 300 << 250 << 64;
    QTest::newRow("200 KB read 65 bytes at a time") << 9u << 200 * 1024 << 300 << 100 << 65;
}

// The loader reads in chunks; whatever falls on a chunk's edge (CR of a CR LF, half a record, a long
// line) must give the same records as splitting the whole text at once.
void TestListFiles::loadAgreesWithLineSplitterAcrossReadChunks()
{
    QFETCH(quint32, seed);
    QFETCH(int, size);
    QFETCH(int, longest);
    QFETCH(int, otherEnds);
    QFETCH(int, chunk);
    const ReadChunkSize readChunkSize(chunk == 0 ? 1 << 20 : chunk);
    QRandomGenerator random(seed);
    QByteArray text;
    text.reserve(size);
    const char *ends[] = {"\r\n", "\n", "\r", "\n\r"};
    while (text.size() < size) {
        const int length = random.bounded(100) == 0 ? random.bounded(longest) : random.bounded(12);
        for (int i = 0; i < length; ++i)
            text.append(char('a' + random.bounded(26)));
        text.append(random.bounded(1000) < otherEnds ? ends[1 + random.bounded(3)] : ends[0]);
    }
    text.truncate(size);
    clearDir();
    writeBytes(path("PorAddr1.lst"), text);
    writeBytes(path("PorAddr2.lst"), text);

    AddressBook b = book();
    LoadLists(b);
    const QList<QByteArray> lines = linefile::splitLines(text);
    QCOMPARE(b.List1.Count(), lines.size() / 7);
    QCOMPARE(b.List2.Count(), lines.size() / 6);
    QCOMPARE(storetest::linesOf(b.List1), lines.first(lines.size() / 7 * 7));
    QCOMPARE(storetest::linesOf(b.List2), lines.first(lines.size() / 6 * 6));
    // What a save writes is every record in CR LF form, whatever ended its lines in the file.
    QCOMPARE(b.List1.fileContent(0, b.List1.Count()), linefile::joinLines(lines.first(lines.size() / 7 * 7)));
    QCOMPARE(b.List2.fileContent(0, b.List2.Count()), linefile::joinLines(lines.first(lines.size() / 6 * 6)));
}

void TestListFiles::noFilesMeansEmptyListsAndNoFilesCreated()
{
    clearDir();
    AddressBook b = book();
    LoadLists(b);
    QCOMPARE(b.List1.Count() + b.List2.Count(), 0);
    SaveLists(b);
    QCOMPARE(entriesOf(dir_.path()), QStringList{});
}

void TestListFiles::emptyListDeletesItsFile()
{
    clearDir();
    writeBytes(path("PorAddr1.lst"), "");
    writeBytes(path("PorAddr2.lst"), "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n");
    AddressBook b = book();
    LoadLists(b);
    b.List2.Delete(0);
    SaveLists(b);
    QCOMPARE(entriesOf(dir_.path()), QStringList{});
}

void TestListFiles::folderNamedLikeListFile()
{
    clearDir();
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("PorAddr1.lst")));
    writeBytes(path("PorAddr2.lst"), "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n");
    AddressBook b = book();
    LoadLists(b); // a folder counts as no file
    QCOMPARE(b.List1.Count(), 0);
    QCOMPARE(b.List2.Count(), 1);

    b.List1.Append(storetest::sampleEntry(1));
    b.List2.Append(storetest::sampleEntry(2));
    try {
        SaveLists(b);
        QFAIL("saved over a folder");
    } catch (const PorError &e) {
        QCOMPARE(e.message(), QStringLiteral("ﾌｧｲﾙ %1 を作成できません").arg(b.List1Path));
    }
    QVERIFY(QFileInfo(path("PorAddr1.lst")).isDir());
    // list 2 comes after list 1 and was not reached
    QCOMPARE(readBytes(path("PorAddr2.lst")), QByteArray("A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n"));
}

// The load failure itself is made real in tst_faults; here: what SaveLists does with the flags.
void TestListFiles::listNotLoaded_data()
{
    QTest::addColumn<bool>("fileThere");
    QTest::newRow("its file is kept") << true;
    QTest::newRow("no file to protect: saved") << false;
}

void TestListFiles::listNotLoaded()
{
    QFETCH(bool, fileThere);
    clearDir();
    const QByteArray old1 = "1\r\nA\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n";
    const QByteArray old2 = "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n";
    if (fileThere) {
        writeBytes(path("PorAddr1.lst"), old1);
        writeBytes(path("PorAddr2.lst"), old2);
    }
    AddressBook b = book();
    b.List1.Append(storetest::sampleEntry(3)); // would be written if it counted as loaded
    b.list(1).loaded = false;
    b.list(2).loaded = false; // empty: would be deleted if it counted as loaded
    QCOMPARE(listFileKept(b.list(1)), fileThere);
    QCOMPARE(listFileKept(b.list(2)), fileThere);
    SaveLists(b);
    if (fileThere) {
        QCOMPARE(readBytes(path("PorAddr1.lst")), old1);
        QCOMPARE(readBytes(path("PorAddr2.lst")), old2);
    } else {
        QCOMPARE(readBytes(path("PorAddr1.lst")), b.List1.fileContent(0, b.List1.Count()));
        QCOMPARE(entriesOf(dir_.path()), QStringList{"PorAddr1.lst"});
    }
}

// Only "no such file" is no file. A name that cannot even be looked at is a load error, and the
// close leaves it as it was; a link, a pipe or a folder under an empty list's name is not removed.
void TestListFiles::whatIsNotAListFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("loadFails");
    QTest::newRow("link loop") << QStringLiteral("loop") << true;
    QTest::newRow("named pipe") << QStringLiteral("fifo") << true;
    QTest::newRow("link to a list file") << QStringLiteral("link") << false;
    QTest::newRow("folder") << QStringLiteral("folder") << false;
}

void TestListFiles::whatIsNotAListFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, loadFails);
    clearDir();
    const QString list2 = path("PorAddr2.lst");
    const QByteArray target = "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n";
    if (kind == QLatin1String("loop")) {
        QVERIFY(QFile::link(list2, list2));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(list2).constData(), 0644), 0);
    } else if (kind == QLatin1String("link")) {
        writeBytes(path("elsewhere.lst"), target);
        QVERIFY(QFile::link(path("elsewhere.lst"), list2));
    } else {
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("PorAddr2.lst")));
    }
    const QStringList before = entriesOf(dir_.path());
    AddressBook b = book();
    try {
        LoadLists(b);
        QVERIFY(!loadFails);
    } catch (const PorError &e) {
        QVERIFY(loadFails);
        QCOMPARE(e.message(), QStringLiteral("ﾌｧｲﾙ %1 は開けません").arg(list2));
    }
    QCOMPARE(b.list(2).loaded, !loadFails);
    b.List2.clear(); // an empty list 2 at the close: its file would be deleted
    SaveLists(b);
    QCOMPARE(entriesOf(dir_.path()), before);
    if (kind == QLatin1String("link"))
        QCOMPARE(readBytes(path("elsewhere.lst")), target);
}

// A field holding a line break or a NUL would shift every later field of the file, so no list takes one.
void TestListFiles::fieldsThatBreakLinesAreRefused_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("CR in a handle") << 1 << int(Field::Handle) << QByteArray("a\rb");
    QTest::newRow("LF in a memo") << 2 << int(Field::Memo) << QByteArray("a\nb");
    QTest::newRow("NUL in a mail address") << 2 << int(Field::Mail) << QByteArray("a\0b", 3);
    QTest::newRow("line end in list 1's number") << 1 << int(Field::Number) << QByteArray("1\r\n");
}

void TestListFiles::fieldsThatBreakLinesAreRefused()
{
    QFETCH(int, list);
    QFETCH(int, field);
    QFETCH(QByteArray, value);
    AddressList l(list == 1);
    l.Append(storetest::sampleEntry(1));
    const AddressList before = l;
    AddressEntry e = storetest::sampleEntry(2);
    e.field(Field(field)) = value;
    for (const bool replace : {false, true}) {
        try {
            replace ? l.Replace(0, e) : l.Append(e);
            QFAIL("a field with a line break was taken");
        } catch (const PorError &error) {
            QCOMPARE(error.message(), QStringLiteral("改行やNUL文字を含む項目は登録できません"));
        }
        QCOMPARE(l.Count(), 1);
        QCOMPARE(l.Entry(0), before.Entry(0));
    }
}

// Keeping the original is part of the save: when the copy cannot be made, nothing is replaced.
void TestListFiles::backupThatCannotBeMadeStopsTheSave()
{
    clearDir();
    const QByteArray damaged = "A\r\nm\r\nh\r\ni\r\np\r\nmemo\r\n" + QByteArray(1, '\0') + "rest";
    writeBytes(path("PorAddr2.lst"), damaged);
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("PorAddr2.lst.bak")));
    AddressBook b = book();
    LoadLists(b);
    QVERIFY(b.list(2).readInPart);
    try {
        SaveLists(b);
        QFAIL("saved without keeping the original");
    } catch (const PorError &e) {
        QCOMPARE(e.message(), QStringLiteral("ﾌｧｲﾙ %1 を作成できません").arg(path("PorAddr2.lst.bak")));
    }
    QCOMPARE(readBytes(path("PorAddr2.lst")), damaged);
    // Once the way is clear the next close makes the copy, then saves.
    QVERIFY(QDir(dir_.path()).rmdir(QStringLiteral("PorAddr2.lst.bak")));
    SaveLists(b);
    QCOMPARE(readBytes(path("PorAddr2.lst.bak")), damaged);
    QCOMPARE(readBytes(path("PorAddr2.lst")), b.List2.fileContent(0, b.List2.Count()));
}

void TestListFiles::list2KeepsNoNumber()
{
    AddressList list2(false);
    AddressEntry e = storetest::sampleEntry(12);
    list2.Append(e);
    QCOMPARE(list2.Entry(0).Number, QByteArray());
    QCOMPARE(list2.fieldOf(0, Field::Number), QByteArray());
    e.Number.clear();
    QCOMPARE(list2.Entry(0), e);
    AddressEntry other = storetest::sampleEntry(5);
    list2.Replace(0, other);
    other.Number.clear();
    QCOMPARE(list2.Entry(0), other);
    QCOMPARE(storetest::linesOf(list2).size(), 6);
}

void TestListFiles::listOperations()
{
    AddressList list1(true);
    for (const char *number : {"5", "3", "5", ""}) {
        AddressEntry e;
        e.Number = number;
        e.Memo = QByteArray("memo") + number;
        list1.Append(e);
    }
    list1.Swap(0, 1);
    QCOMPARE(list1.fieldOf(0, Field::Number), QByteArray("3"));
    QCOMPARE(list1.fieldOf(1, Field::Memo), QByteArray("memo5"));
    list1.Delete(0);
    QCOMPARE(list1.Count(), 3);
    QCOMPARE(list1.Entry(0).Number, QByteArray("5"));
    QCOMPARE(list1.Entry(1).Number, QByteArray("5")); // duplicates stay, in order
    QCOMPARE(list1.Entry(2).Memo, QByteArray("memo"));
    QCOMPARE(list1.fieldOf(2, Field::Handle), QByteArray());

    // A copy is a list of its own: changes to either leave the other as it was.
    AddressList copy = list1;
    copy.Replace(0, storetest::sampleEntry(7));
    copy.Append(storetest::sampleEntry(8));
    list1.Append(storetest::sampleEntry(9));
    QCOMPARE(copy.Entry(0), storetest::sampleEntry(7));
    QCOMPARE(copy.Entry(3), storetest::sampleEntry(8));
    QCOMPARE(list1.Entry(0).Number, QByteArray("5"));
    QCOMPARE(list1.Entry(3), storetest::sampleEntry(9));
    list1.clear();
    QCOMPARE(list1.Count(), 0);
    QCOMPARE(copy.Count(), 4);
}

STORE_TEST_MAIN(TestListFiles)
#include "tst_listfiles.moc"
