// Store throughput at scale: generates realistic list files and times loading, saving and the
// member list export, or reports the peak memory of a load. bench/run.sh sets the figures beside
// wc -l and cp + sync on the same files.
//
//   porbench_store generate DIR ENTRIES   list 1 and list 2 with ENTRIES entries each
//   porbench_store generate-long-line DIR MIB
//                                         list 2 whose one entry has a memo of MIB mebibytes
//   porbench_store load DIR REPEATS       best LoadLists time in seconds
//   porbench_store read DIR REPEATS       best time to read both files whole into new memory: the
//                                         least any loader that keeps the text in memory can take
//   porbench_store save DIR REPEATS       best SaveLists time (the lists loaded from DIR, written back)
//   porbench_store export DIR REPEATS     best exportMemberList time
//   porbench_store memory DIR             peak memory of one LoadLists above the start, in bytes

#include "store/linefile.h"
#include "store/listfiles.h"
#include "store/memberlist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

namespace {

QByteArray pick(QRandomGenerator &random, std::initializer_list<const char *> choices)
{
    return QByteArray(choices.begin()[random.bounded(int(choices.size()))]);
}

// Handles in kana and kanji (CP932) or ASCII, addresses in ASCII, memos in Japanese; about a
// third of the optional fields empty, as in a real circle of friends.
AddressEntry realisticEntry(QRandomGenerator &random, int i)
{
    const QByteArray n = QByteArray::number(i);
    AddressEntry e;
    e.Number = QByteArray::number(random.bounded(100));
    e.Handle = random.bounded(3) == 0
                   ? pick(random, {"pochi", "tama", "neko", "yuki"}) + n
                   : pick(random, {"\x82\xbd\x82\xeb\x82\xa4", "\x89\xd4\x8e\x71", "\x83\x5c\x83\x74\x83\x67",
                                   "\x82\xdc\x82\xe4\x82\xdd", "\x8e\x52\x93\x63\x91\xbe\x98\x59"}) +
                         n;
    if (random.bounded(10) < 8)
        e.Mail = pick(random, {"user", "taro.y", "hanako_k"}) + n +
                 pick(random, {"@example.ne.jp", "@mail.example.jp"});
    if (random.bounded(2) == 0)
        e.Home = "http://www.example.ne.jp/~u" + n + "/";
    if (random.bounded(3) == 0)
        e.ICQ = QByteArray::number(10000000 + random.bounded(90000000));
    if (random.bounded(4) == 0)
        e.PostPet = "pet" + n + "@pp.example.jp";
    if (random.bounded(3) == 0)
        e.Memo = pick(random, {"\x8d\x82\x8d\x5a\x82\xcc\x93\xaf\x8b\x89\x90\xb6",
                               "\x83\x51\x81\x5b\x83\x80\x8d\x44\x82\xab", "\x8e\xd0\x88\xf5",
                               "met at the offline meeting"});
    return e;
}

AddressBook bookIn(const QString &dir)
{
    AddressBook book;
    setListPaths(book, dir + QLatin1Char('/'));
    return book;
}

// run returns the seconds of the part it times (a load times LoadLists, not freeing the lists).
double bestSeconds(int repeats, const std::function<double()> &run)
{
    double best = 1e300;
    for (int r = 0; r < repeats; ++r)
        best = qMin(best, run());
    return best;
}

double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

// Peak resident set size so far (VmHWM), or the current one (VmRSS), in bytes.
qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const QString dir = args.value(2);
    const int number = args.value(3).toInt();

    if (mode == QLatin1String("generate")) {
        QRandomGenerator random(20240601);
        AddressBook book = bookIn(dir);
        for (int i = 0; i < number; ++i) {
            book.List1.Append(realisticEntry(random, i));
            book.List2.Append(realisticEntry(random, i));
        }
        book.list(1).loaded = book.list(2).loaded = true;
        SaveLists(book);
        return 0;
    }
    if (mode == QLatin1String("generate-long-line")) {
        AddressBook book = bookIn(dir);
        AddressEntry e = realisticEntry(*QRandomGenerator::global(), 1);
        e.Memo = QByteArray(qsizetype(number) << 20, 'x');
        book.List2.Append(e);
        book.list(1).loaded = book.list(2).loaded = true;
        SaveLists(book);
        return 0;
    }
    if (mode == QLatin1String("memory")) {
        // A fresh process: the start figure is everything the program holds before loading.
        const qint64 before = statusBytes("VmRSS:");
        AddressBook book = bookIn(dir);
        LoadLists(book);
        const qint64 peak = statusBytes("VmHWM:");
        const qint64 fileBytes = QFileInfo(book.List1Path).size() + QFileInfo(book.List2Path).size();
        std::printf("%lld %lld\n", static_cast<long long>(peak - before), static_cast<long long>(fileBytes));
        return 0;
    }

    const int repeats = qMax(1, number);
    double seconds = -1;
    if (mode == QLatin1String("load")) {
        seconds = bestSeconds(repeats, [&] {
            AddressBook book = bookIn(dir);
            return secondsOf([&] { LoadLists(book); });
        });
    } else if (mode == QLatin1String("read")) {
        seconds = bestSeconds(repeats, [&] {
            const AddressBook book = bookIn(dir);
            QByteArray list1, list2;
            return secondsOf([&] {
                list1 = linefile::readFile(book.List1Path);
                list2 = linefile::readFile(book.List2Path);
            });
        });
    } else if (mode == QLatin1String("save") || mode == QLatin1String("export")) {
        AddressBook book = bookIn(dir);
        LoadLists(book);
        if (mode == QLatin1String("save"))
            seconds = bestSeconds(repeats, [&] { return secondsOf([&] { SaveLists(book); }); });
        else
            seconds = bestSeconds(repeats, [&] { return secondsOf([&] { exportMemberList(book); }); });
    } else {
        std::fprintf(stderr, "usage: porbench_store generate|load|save|export|memory DIR [N]\n");
        return 2;
    }
    std::printf("%.6f\n", seconds);
    return 0;
}
