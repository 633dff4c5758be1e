// poraddr-vcard as a user runs it: the files it writes, what it says, its exit codes.
#include "platform/runningcopy.h"
#include "store/listfiles.h"
#include "vcardtoolrun.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <iostream>
#include <sys/stat.h>

using storetest::readBytes;
using storetest::writeBytes;

namespace {

QString listName(int list)
{
    return list == 1 ? QStringLiteral("PorAddr1.lst") : QStringLiteral("PorAddr2.lst");
}

// Every line of a vCard we write: at most 75 octets, CR LF, UTF-8.
bool wellFormedExport(const QByteArray &vcf, QByteArray &why)
{
    if (!vcf.isValidUtf8() || !vcf.endsWith("\r\n")) {
        why = "not UTF-8 or not ended by CR LF";
        return false;
    }
    QByteArrayList lines = vcf.split('\n');
    lines.removeLast(); // what follows the last LF
    for (const QByteArray &line : lines) {
        if (!line.endsWith('\r') || line.size() - 1 > 75 || line.chopped(1).contains('\r')) {
            why = "bad line: " + line;
            return false;
        }
    }
    return true;
}

} // namespace

class TestVcardTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void roundTripGivesTheSameListFile_data();
    void roundTripGivesTheSameListFile();
    void import_data();
    void import();
    void commandLine_data();
    void commandLine();
    void refusesWhileProgramRuns_data();
    void refusesWhileProgramRuns();
    void refusesWhenItCannotTell();

private:
    QTemporaryDir blocked_; // list 1 holds one entry; list 2 cannot be written: a folder has its name
};

void TestVcardTool::initTestCase()
{
    QVERIFY2(QFileInfo(toolPath()).isExecutable(), qPrintable(toolPath()));
    QVERIFY(QDir(blocked_.path()).mkdir(QStringLiteral("PorAddr2.lst")));
    writeBytes(blocked_.filePath(QStringLiteral("PorAddr1.lst")), listFile({"1", "a", "", "", "", "", ""}));
    writeBytes(blocked_.filePath(QStringLiteral("in.vcf")), "BEGIN:VCARD\r\nFN:a\r\nEND:VCARD\r\n");
}

void TestVcardTool::roundTripGivesTheSameListFile_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QByteArray>("summary");

    const QByteArray longMemo = QByteArray("\x82\xa0").repeated(100) + "\tend"; // あ x 100: folded
    QTest::newRow("list 1: Japanese, half-width katakana, numbers, empty fields")
        << 1
        << QList<QByteArray>{"5",
                             "\x82\xbd\x82\xeb\x82\xa4",
                             "taro@example.jp",
                             "http://example.jp/~taro/",
                             "12345",
                             "pet@pp.example.jp",
                             "\x8d\x82\x8d\x5a\x82\xcc\x93\xaf\x8b\x89\x90\xb6",
                             "07",
                             "\xb1\xb2\xb3\xde",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             "",
                             ""}
        << QByteArray("Exported 3 people\n");
    QTest::newRow("list 2: NEC and IBM extensions, both codes of one character")
        << 2 << QList<QByteArray>{"\x87\x40\xed\x40\xfa\x5c\x87\x9a\x81\xe6",
                                  "",
                                  "",
                                  "",
                                  "",
                                  "\xee\xf9\xfa\x54\x81\xca"}
        << QByteArray("Exported 1 person\n");
    QTest::newRow("list 2: escaped characters, a second byte 0x5C, folding")
        << 2 << QList<QByteArray>{"a\\b,c;d \x83\x5c\x83\x74\x83\x67 ~",
                                  "a,b@example.jp",
                                  "http://example.jp/a,b;c",
                                  "icq 1",
                                  "",
                                  longMemo}
        << QByteArray("Exported 1 person\n");
    QTest::newRow("list 1: bytes that are not CP932 and control bytes")
        << 1 << QList<QByteArray>{"\xff", "\x82\xa0\x82", "", "", "1\x82 2", "", "x\x01y\x1az\x7f"}
        << QByteArray("Exported 1 person; 4 fields hold bytes that are not CP932, kept in X-PORADDR-RAW\n");
}

void TestVcardTool::roundTripGivesTheSameListFile()
{
    QFETCH(int, list);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QByteArray, summary);
    QTemporaryDir from, to;
    writeBytes(from.filePath(listName(list)), listFile(lines));

    const QString vcf = from.filePath(QStringLiteral("friends.vcf"));
    const ToolRun exported = runTool({QStringLiteral("export"), QStringLiteral("--list"),
                                      QString::number(list), from.path(), QStringLiteral("-o"), vcf});
    QCOMPARE(exported.exitCode, 0);
    QCOMPARE(exported.err, summary);
    QVERIFY(exported.out.isEmpty());
    QByteArray why;
    QVERIFY2(wellFormedExport(readBytes(vcf), why), why.constData());

    const ToolRun imported =
        runTool({QStringLiteral("import"), vcf, QStringLiteral("--list"), QString::number(list), to.path()});
    QCOMPARE(imported.exitCode, 0);
    QCOMPARE(readBytes(to.filePath(listName(list))), listFile(lines));
    QVERIFY(!QFile::exists(to.filePath(listName(3 - list))));
}

void TestVcardTool::import_data()
{
    QTest::addColumn<QByteArray>("vcf");
    QTest::addColumn<int>("list");
    QTest::addColumn<QList<QByteArray>>("before"); // the list file's lines before the import
    QTest::addColumn<QList<QByteArray>>("after");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArrayList>("said"); // parts of what goes to standard error

    const QList<QByteArray> old{"old", "old@example.jp", "", "", "", ""};
    QTest::newRow("2.1: Shift_JIS, quoted-printable with a soft line break, N for the handle")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=SHIFT_JIS;ENCODING=QUOTED-PRINTABLE:=8E=52=93=63;=91=BE=98=59\r\n"
                      "EMAIL;INTERNET;PREF:yamada@example.jp\r\n"
                      "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=E3=81=82 one=0D=0Atw=\r\no\r\n"
                      "END:VCARD\r\n")
        << 2 << old
        << old +
               QList<QByteArray>{
                   "\x8e\x52\x93\x63 \x91\xbe\x98\x59", "yamada@example.jp", "", "", "", "\x82\xa0 one two"}
        << 0 << QByteArrayList{"Imported 1 person into list 2; 0 cards refused\n"};
    QTest::newRow("3.0 and 4.0: NICKNAME, groups, PostPet by type, IMPP, escapes, LF alone")
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nNICKNAME:pochi,inu\n"
                      "item1.EMAIL;TYPE=INTERNET,x-postpet:pet@pp.example.jp\nitem2.EMAIL;TYPE=HOME:home@"
                      "example.jp\n"
                      "END:VCARD\n\nbegin:vcard\nversion:4.0\nFN:Hanako\\, K.\n"
                      "EMAIL;TYPE=\"work,x-postpet\";PREF=1:hk@pp.example.jp\nIMPP;PREF=1:icq:424242\n"
                      "URL:https://example.jp/hk\nNOTE:first\\nsecond\\\\third\nend:vcard\n")
        << 2 << QList<QByteArray>{}
        << QList<QByteArray>{"pochi",
                             "home@example.jp",
                             "",
                             "",
                             "pet@pp.example.jp",
                             "",
                             "Hanako, K.",
                             "",
                             "https://example.jp/hk",
                             "424242",
                             "hk@pp.example.jp",
                             "first second\\third"}
        << 0 << QByteArrayList{"Imported 2 people"};
    QTest::newRow("list 1: X-PORADDR-NUMBER, else a new entry's 1; control characters")
        << QByteArray(
               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:a\r\nX-PORADDR-NUMBER:42\r\nEND:VCARD\r\n"
               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:b\r\n"
               "NOTE;ENCODING=QUOTED-PRINTABLE:a=00b=07c=0Dd=0Ae=0D=0Af=09g=E2=80=A8h\r\nEND:VCARD\r\n")
        << 1 << QList<QByteArray>{"3", "old", "", "", "", "", ""}
        << QList<QByteArray>{"3",  "old", "", "", "", "", "",
                             "42", "a",   "", "", "", "", "",
                             "1",  "b",   "", "", "", "", "abc d e f\tg h"}
        << 0 << QByteArrayList{"Imported 2 people into list 1"};
    QTest::newRow("cards CP932 cannot hold are named with their line; the rest go in")
        << QByteArray("BEGIN:VCARD\r\nFN:ok1\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nFN:Emoji \xf0\x9f\x98\x80\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nFN:Kim\r\nNOTE:\xed\x95\x9c\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nFN:ok2\r\nEND:VCARD\r\n")
        << 2 << QList<QByteArray>{} << QList<QByteArray>{"ok1", "", "", "", "", "", "ok2", "", "", "", "", ""}
        << 1
        << QByteArrayList{":4: \"Emoji \xf0\x9f\x98\x80\" not imported: its handle holds characters CP932",
                          ":7: \"Kim\" not imported: its memo holds",
                          "Imported 2 people into list 2; 2 cards refused"};
    // The limit of a list file line, as the entry dialog has it: あ is two bytes in CP932.
    QTest::newRow("a field of 4095 bytes goes in, one of 4096 does not")
        << "BEGIN:VCARD\r\nFN:fits\r\nNOTE:a" + QByteArray("\xe3\x81\x82").repeated(2047) +
               "\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:long\r\nNOTE:" +
               QByteArray("\xe3\x81\x82").repeated(2048) + "\r\nEND:VCARD\r\n"
        << 2 << QList<QByteArray>{}
        << QList<QByteArray>{"fits", "", "", "", "", "a" + QByteArray("\x82\xa0").repeated(2047)} << 1
        << QByteArrayList{":5: \"long\" not imported: its memo is longer than 4095 bytes",
                          "Imported 1 person into list 2; 1 cards refused"};
    QTest::newRow("original bytes give way to text changed elsewhere")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:changed\r\n"
                      "X-PORADDR-RAW;X-FIELD=Handle;ENCODING=b:/4I=\r\nEND:VCARD\r\n")
        << 2 << QList<QByteArray>{} << QList<QByteArray>{"changed", "", "", "", "", ""} << 0
        << QByteArrayList{"Imported 1 person"};

    const QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:first\r\nEND:VCARD\r\n";
    const auto broken = [&](const char *name, const QByteArray &rest, const QByteArray &said) {
        QTest::newRow(name) << card + rest << 2 << old << old << 4
                            << QByteArrayList{said, "; nothing was imported"};
    };
    broken("broken: no END", "BEGIN:VCARD\r\nFN:b\r\n", ":5: this card has no END:VCARD");
    broken("broken: outside a card", "FN:stray\r\n", ":5: outside BEGIN:VCARD");
    broken("broken: END alone", "END:VCARD\r\n", ":5: END:VCARD without BEGIN");
    broken("broken: version", "BEGIN:VCARD\r\nVERSION:5.0\r\nEND:VCARD\r\n",
           ":6: unsupported vCard version: 5.0");
    broken("broken: not UTF-8", "BEGIN:VCARD\r\nFN:\xff\r\nEND:VCARD\r\n",
           ":6: the value is not valid UTF-8");
    broken("broken: no colon", "BEGIN:VCARD\r\nFN a\r\nEND:VCARD\r\n", ":6: not a vCard content line");
    broken("broken: charset", "BEGIN:VCARD\r\nFN;CHARSET=X-NONE:a\r\nEND:VCARD\r\n",
           ":6: unknown CHARSET: X-NONE");
    broken("broken: base64", "BEGIN:VCARD\r\nPHOTO;ENCODING=b:%%%\r\nEND:VCARD\r\n",
           ":6: broken base64 value");
    broken("broken: folded line numbered from its start",
           "BEGIN:VCARD\r\nNOTE:a\r\n b\r\nFN;ENCODING=x-zip:\r\n a\r\nEND:VCARD\r\n",
           ":8: unsupported ENCODING");
}

void TestVcardTool::import()
{
    QFETCH(QByteArray, vcf);
    QFETCH(int, list);
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, after);
    QFETCH(int, exitCode);
    QFETCH(QByteArrayList, said);
    QTemporaryDir dir;
    const QString target = dir.filePath(listName(list));
    if (!before.isEmpty())
        writeBytes(target, listFile(before));
    writeBytes(dir.filePath(QStringLiteral("in.vcf")), vcf);

    const ToolRun run = runTool({QStringLiteral("import"), dir.filePath(QStringLiteral("in.vcf")),
                                 QStringLiteral("--list"), QString::number(list), dir.path()});
    QCOMPARE(run.exitCode, exitCode);
    for (const QByteArray &part : said)
        QVERIFY2(run.err.contains(part), run.err.constData());
    QCOMPARE(readBytes(target), after.isEmpty() ? QByteArray("<unreadable>") : listFile(after));
    QCOMPARE(storetest::entriesOf(dir.path()).size(), 2); // no temporary file left behind
}

void TestVcardTool::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said"); // a part of standard output and error together

    QTest::newRow("help in both languages") << QStringList{QStringLiteral("import"), QStringLiteral("--help")}
                                            << QStringList{} << 0 << QByteArray("使い方:");
    QTest::newRow("help names the exit codes") << QStringList{QStringLiteral("-h")} << QStringList{} << 0
                                               << QByteArray("Exit codes: 0 done, 1 some cards refused");
    QTest::newRow("no command") << QStringList{} << QStringList{} << 2 << QByteArray("give export or import");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("export"), QStringLiteral("--all")}
                                    << QStringList{} << 2 << QByteArray("unknown option: --all (see --help)");
    QTest::newRow("list 3") << QStringList{QStringLiteral("export"), QStringLiteral("--list=3")}
                            << QStringList{} << 2 << QByteArray("--list takes 1 or 2");
    QTest::newRow("import without a file") << QStringList{QStringLiteral("import")} << QStringList{} << 2
                                           << QByteArray("give the vCard file to import");
    QTest::newRow("no such folder") << QStringList{QStringLiteral("export"), QStringLiteral("/nonexistent/x")}
                                    << QStringList{} << 3 << QByteArray("no such folder: /nonexistent/x");
    QTest::newRow("no such vCard file")
        << QStringList{QStringLiteral("import"), QStringLiteral("/nonexistent.vcf"), QDir::tempPath()}
        << QStringList{} << 3 << QByteArray("/nonexistent.vcf");
    QTest::newRow("list file that cannot be written")
        << QStringList{QStringLiteral("import"), blocked_.filePath(QStringLiteral("in.vcf")), blocked_.path()}
        << QStringList{} << 3 << QByteArray("/PorAddr2.lst を作成できません");
    QTest::newRow("standard output on a full disk") << QStringList{QStringLiteral("export"), blocked_.path()}
                                                    << QStringList{QStringLiteral("STDOUT=/dev/full")} << 3
                                                    << QByteArray("cannot write to standard output");
    QTest::newRow("Japanese messages in a Japanese locale")
        << QStringList{QStringLiteral("export"), QDir::tempPath() + QStringLiteral("/nonexistent-folder")}
        << QStringList{QStringLiteral("LC_ALL=ja_JP.UTF-8")} << 3 << QByteArray("フォルダがありません");
}

void TestVcardTool::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    // "STDOUT=file" sends the tool's standard output there.
    const QString stdoutFile =
        environment.filter(QRegularExpression(QStringLiteral("^STDOUT="))).value(0).mid(7);
    const ToolRun run = runTool(args, environment, stdoutFile);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((run.out + run.err).contains(said), (run.out + run.err).constData());
    if (exitCode == 0)
        QVERIFY(run.out.contains("Usage:") && run.out.contains("使い方:") && run.err.isEmpty());
}

void TestVcardTool::refusesWhileProgramRuns_data()
{
    // The holder is this test program copied to `where` under `name`, started as `started`; it
    // holds the data folder as the program does at start, for its own folder.
    QTest::addColumn<QString>("where"); // "folder" (the lists' folder) or "elsewhere"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("started"); // "directly", "link" (a link elsewhere), "killed"
    QTest::addColumn<int>("exitCode");
    const QString usual = QStringLiteral("PorAddr");
    const QString folder = QStringLiteral("folder"), elsewhere = QStringLiteral("elsewhere");
    const QString directly = QStringLiteral("directly");
    QTest::newRow("its usual name") << folder << usual << directly << 5;
    QTest::newRow("another name") << folder << QStringLiteral("MyBook") << directly << 5;
    QTest::newRow("a Japanese name") << folder << QStringLiteral("ぽるてアドレス帳") << directly << 5;
    QTest::newRow("through a link from another folder")
        << folder << QStringLiteral("MyBook") << QStringLiteral("link") << 5;
    QTest::newRow("the same name in another folder") << elsewhere << usual << directly << 0;
    QTest::newRow("a copy that was killed") << folder << usual << QStringLiteral("killed") << 0;
}

void TestVcardTool::refusesWhileProgramRuns()
{
    QFETCH(QString, where);
    QFETCH(QString, name);
    QFETCH(QString, started);
    QFETCH(int, exitCode);
    QTemporaryDir folder, elsewhere;
    const QString program = (where == QLatin1String("elsewhere") ? elsewhere : folder).filePath(name);
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QString startedAs = program;
    if (started == QLatin1String("link")) {
        startedAs = elsewhere.filePath(QStringLiteral("poraddr"));
        QVERIFY(QFile::link(program, startedAs));
    }
    QProcess copy;
    copy.start(startedAs, {QStringLiteral("--hold-data-folder")});
    QVERIFY(copy.waitForReadyRead(30000));
    QCOMPARE(copy.readLine(), QByteArray("held\n"));
    const qint64 holderPid = copy.processId();
    if (started == QLatin1String("killed")) {
        copy.kill();
        copy.waitForFinished();
        QVERIFY(QFile::exists(folder.filePath(DataFolderLock::fileName())));
    }

    const QList<QByteArray> old{"old", "", "", "", "", ""};
    writeBytes(folder.filePath(QStringLiteral("PorAddr2.lst")), listFile(old));
    writeBytes(elsewhere.filePath(QStringLiteral("in.vcf")), "BEGIN:VCARD\r\nFN:new\r\nEND:VCARD\r\n");
    const ToolRun run =
        runTool({QStringLiteral("import"), elsewhere.filePath(QStringLiteral("in.vcf")), folder.path()});
    copy.closeWriteChannel();
    copy.waitForFinished();

    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 5) {
        QVERIFY2(
            run.err.contains("PorAddr is running for this folder (process " + QByteArray::number(holderPid)),
            run.err.constData());
        QCOMPARE(readBytes(folder.filePath(QStringLiteral("PorAddr2.lst"))), listFile(old));
    } else {
        QCOMPARE(readBytes(folder.filePath(QStringLiteral("PorAddr2.lst"))),
                 listFile(old + QList<QByteArray>{"new", "", "", "", "", ""}));
    }
    // Whoever leaves last takes the lock file along; one left by a killed copy is taken over.
    QVERIFY(!QFile::exists(folder.filePath(DataFolderLock::fileName())));
}

void TestVcardTool::refusesWhenItCannotTell()
{
    if (!storetest::isRoot())
        QSKIP("needs root, to run the tool as another user than the lock's owner");
    // A lock another user holds and keeps to itself: the tool cannot look, so it does not write.
    storetest::SharedDir folder;
    const QString lock = folder.file(DataFolderLock::fileName());
    writeBytes(lock, QByteArray());
    QVERIFY(QFile::setPermissions(lock, QFile::ReadOwner | QFile::WriteOwner));
    const QByteArray old = listFile({"old", "", "", "", "", ""});
    writeBytes(folder.file(QStringLiteral("PorAddr2.lst")), old);
    writeBytes(folder.file(QStringLiteral("in.vcf")), "BEGIN:VCARD\r\nFN:new\r\nEND:VCARD\r\n");
    QFile::setPermissions(folder.file(QStringLiteral("in.vcf")), QFile::ReadOwner | QFile::ReadOther);
    ::chmod(QFile::encodeName(folder.file(QStringLiteral("PorAddr2.lst"))).constData(), 0666);
    // The tool is copied beside the lists, where the unprivileged user can surely run it.
    const QString tool = folder.file(QStringLiteral("poraddr-vcard"));
    QVERIFY(QFile::copy(toolPath(), tool));
    ::chmod(QFile::encodeName(tool).constData(), 0755);
    const ToolRun run = runTool({QStringLiteral("import"), folder.file(QStringLiteral("in.vcf"))}, {}, {},
                                {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                                 QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"), tool});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains("cannot tell whether PorAddr is running"), run.err.constData());
    QCOMPARE(readBytes(folder.file(QStringLiteral("PorAddr2.lst"))), old);
}

// "--hold-data-folder": hold this program's data folder as the program does while it runs, until
// standard input closes.
static int holdDataFolder(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DataFolderLock lock;
    if (!lock.holdForProgram(programDirectory(), 0) || !lock.isHeld())
        return 1;
    std::cout << "held" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--hold-data-folder") == 0)
        return holdDataFolder(argc, argv);
    QCoreApplication app(argc, argv);
    TestVcardTool test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vcardtool.moc"
