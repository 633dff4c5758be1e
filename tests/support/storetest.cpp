#include "storetest.h"

#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfiles.h"
#include "store/memberlist.h"
#include "store/settings.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace storetest {

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot prepare %s", qPrintable(path));
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

QByteArray listFile(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + "\r\n";
    return bytes;
}

AddressEntry sampleEntry(int i)
{
    // CP932 bytes of a few common names; the index keeps entries distinct.
    static const QByteArray handles[] = {
        QByteArray("\x82\xbd\x82\xeb\x82\xa4"), // たろう
        QByteArray("\x89\xd4\x8e\x71"),         // 花子
        QByteArray("\x83\x5c\x83\x74\x83\x67"), // ソフト (0x5C as a second byte)
        QByteArray("pochi"),
    };
    const QByteArray n = QByteArray::number(i);
    AddressEntry e;
    e.Number = QByteArray::number(i % 100);
    e.Handle = handles[i % 4] + n;
    e.Mail = (i % 3 == 0) ? QByteArray() : "user" + n + "@example.ne.jp";
    e.Home = (i % 2 == 0) ? QByteArray() : "http://www.example.jp/~u" + n + "/";
    e.ICQ = (i % 5 == 0) ? QByteArray() : QByteArray::number(10000000 + i);
    e.PostPet = (i % 4 == 0) ? "pet" + n + "@pp.example.jp" : QByteArray();
    e.Memo = (i % 7 == 0) ? QByteArray("\x8d\x82\x8d\x5a\x82\xcc\x93\xaf\x8b\x89\x90\xb6") // 高校の同級生
                          : QByteArray();
    return e;
}

void fillList(AddressList &list, int count)
{
    for (int i = 0; i < count; ++i)
        list.Append(sampleEntry(i));
}

QList<QByteArray> linesOf(const AddressList &list)
{
    return linefile::splitLines(list.fileContent(0, list.Count()));
}

SharedDir::SharedDir(int mode)
{
    QTemporaryDir dir(QStringLiteral("/tmp/porstore-XXXXXX"));
    if (!dir.isValid())
        return;
    dir.setAutoRemove(false);
    path_ = dir.path();
    ::chmod(QFile::encodeName(path_).constData(), mode_t(mode));
}

SharedDir::~SharedDir()
{
    if (path_.isEmpty())
        return;
    // Tests leave folders read-only; as their owner we can open them up again before removing.
    ::chmod(QFile::encodeName(path_).constData(), 0700);
    QDirIterator it(path_, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        if (it.fileInfo().isDir() && !it.fileInfo().isSymLink())
            ::chmod(QFile::encodeName(entry).constData(), 0700);
    }
    QDir(path_).removeRecursively();
}

QByteArray ChildResult::value(const QByteArray &key) const
{
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith(key + ' '))
            return line.mid(key.size() + 1);
        if (line == key)
            return QByteArray();
    }
    return QByteArray("<missing>");
}

bool isRoot()
{
    return ::geteuid() == 0;
}

QStringList asNobody(const QString &program, const QStringList &args)
{
    return QStringList{QStringLiteral("setpriv"),
                       QStringLiteral("--reuid=%1").arg(uidNobody),
                       QStringLiteral("--regid=%1").arg(uidNobody),
                       QStringLiteral("--clear-groups"),
                       QStringLiteral("--"),
                       program} +
           args;
}

QString sharedExecutable()
{
    static SharedDir dir(0755);
    static QString copy;
    if (!copy.isEmpty())
        return copy;
    const QString source = QCoreApplication::applicationFilePath();
    copy = dir.file(QFileInfo(source).fileName());
    QFile::copy(source, copy);
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOther | QFileDevice::ReadOther |
                                    QFileDevice::ExeGroup | QFileDevice::ReadGroup);
    return copy;
}

ChildResult runChild(const QStringList &args, RunAs as, const QStringList &wrapper)
{
    QStringList command = wrapper;
    if (as == RunAs::Unprivileged && isRoot()) {
        command << asNobody(sharedExecutable());
    } else {
        command << (wrapper.isEmpty() ? QCoreApplication::applicationFilePath() : sharedExecutable());
    }
    command << QStringLiteral("--store-child") << args;

    ChildResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(command.takeFirst(), command);
    if (!process.waitForStarted(10000))
        return result;
    process.waitForFinished(120000);
    result.ran = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}

namespace {

void print(const QByteArray &key, const QByteArray &value)
{
    std::fputs((key + ' ' + value + '\n').constData(), stdout);
    std::fflush(stdout);
}

void printFolder(const QString &dir)
{
    for (const QString &name : entriesOf(dir)) {
        const QByteArray bytes = readBytes(dir + QLatin1Char('/') + name);
        print("file", name.toUtf8() + ' ' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    }
}

// Fixed values for a close to write.
WindowSettings fixedSettings()
{
    WindowSettings settings;
    settings.top = 11, settings.left = -22, settings.width = 480, settings.height = 258;
    for (int column = 0; column < list1ColumnCount; ++column)
        settings.list1Widths[column] = 100 + column;
    for (int column = 0; column < list2ColumnCount; ++column)
        settings.list2Widths[column] = 200 + column;
    return settings;
}

// The operations a parent test asks for. Each prints "error <message>" when the store throws,
// "ok" otherwise, and the folder's files with their digests when asked.
int childMain(QStringList args)
{
    // Options first: a file size limit turns writes past it into EFBIG instead of a signal.
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--fsize")) {
            const rlim_t limit = rlim_t(args.takeFirst().toLongLong());
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
                return 3;
        } else if (option == QLatin1String("--memory")) {
            // An address space limit: memory beyond it cannot be had (the allocation fails).
            const rlim_t limit = rlim_t(args.takeFirst().toLongLong());
            rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_AS, &r) != 0)
                return 3;
        } else if (option == QLatin1String("--old")) {
            // Known earlier content, written here because a fresh tmpfs starts empty.
            const QString dir = args.takeFirst();
            writeBytes(dir + QStringLiteral("/PorAddr1.lst"), QByteArray("old1\r\n").repeated(7));
            writeBytes(dir + QStringLiteral("/PorAddr2.lst"), QByteArray("old2\r\n").repeated(6));
            writeBytes(dir + QStringLiteral("/PorAddr.ini"), QByteArray("[Position]\r\nTop=1\r\n"));
            writeBytes(dir + QStringLiteral("/PorMem.txt"), QByteArray("old\r\n"));
        }
    }
    const QString op = args.value(0);
    const QString dir = args.value(1);
    AddressBook book;
    setListPaths(book, dir + QLatin1Char('/'));
    book.SettingsPath = settingsPathIn(dir + QLatin1Char('/'));
    if (op == QLatin1String("load")) {
        try {
            LoadLists(book);
        } catch (const PorError &e) {
            print("loaderror", e.message().toUtf8());
        }
        print("counts",
              QByteArray::number(book.List1.Count()) + ' ' + QByteArray::number(book.List2.Count()));
        print("loaded",
              QByteArray::number(book.list(1).loaded) + ' ' + QByteArray::number(book.list(2).loaded));
        if (args.value(2) != QLatin1String("then-save"))
            return 0;
        // As the close after a failed start-up would: every list now has an entry to write.
        book.List1.Append(sampleEntry(1));
        book.List2.Append(sampleEntry(2));
    } else if (op == QLatin1String("save")) {
        fillList(book.List1, args.value(2).toInt());
        fillList(book.List2, args.value(3).toInt());
        book.list(1).loaded = book.list(2).loaded = true;
    } else if (op == QLatin1String("export")) {
        fillList(book.List1, args.value(2).toInt());
    } else if (op == QLatin1String("progdir")) {
        print("dir", programDirectory().toUtf8());
        return 0;
    } else if (op == QLatin1String("loadsettings")) {
        if (const std::optional<int> top = LoadSettings(book.SettingsPath).top) // the Top read
            print("applied", "Top=" + QByteArray::number(*top));
    } else if (op != QLatin1String("settings")) {
        return 2;
    }
    try {
        print("saving", QByteArray());
        if (op == QLatin1String("export"))
            exportMemberList(book);
        else if (op == QLatin1String("settings") || op == QLatin1String("loadsettings"))
            SaveSettings(book.SettingsPath, fixedSettings());
        else
            SaveLists(book);
        print("ok", QByteArray());
    } catch (const PorError &e) {
        print("error", e.message().toUtf8());
    }
    printFolder(dir);
    return 0;
}

} // namespace

int runStoreChild(int argc, char **argv)
{
    if (argc < 2 || qstrcmp(argv[1], "--store-child") != 0)
        return -1;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(2);
    return childMain(args);
}

} // namespace storetest
