#include "vcard/vcardtool.h"

#include "platform/runningcopy.h"
#include "store/errors.h"
#include "store/linefile.h"
#include "store/listfiles.h"
#include "vcard/cardmapping.h"
#include "vcard/vcardreader.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>
#include <QLocale>

#include <optional>

namespace {

// How long an import waits for another tool that is writing the same lists.
constexpr int companionWaitMs = 5000;

// Messages in Japanese where the user's locale is Japanese, in English elsewhere.
struct Text {
    bool japanese = QLocale::system().language() == QLocale::Japanese;
    QString operator()(const char *ja, const char *en) const { return QString::fromUtf8(japanese ? ja : en); }
};

const char helpText[] =
    "使い方:\n"
    "  poraddr-vcard export [--list 1|2] [フォルダ] [-o ファイル]\n"
    "  poraddr-vcard import ファイル [--list 1|2] [フォルダ]\n"
    "\n"
    "ぽるてアドレス帳の一覧と、ほかのアドレス帳が読み書きする vCard の間で友だちを移します。\n"
    "フォルダは PorAddr1.lst と PorAddr2.lst のあるフォルダです (省略時はこのツールのあるフォルダ)。\n"
    "\n"
    "export  両方の一覧 (--list で片方) を vCard 3.0 (UTF-8、CR LF、75 オクテットで折り返し) で\n"
    "        書き出します。-o がなければ標準出力へ出します。ハンドルは FN、N、NICKNAME、メルアドは\n"
    "        EMAIL;TYPE=INTERNET、ホームは URL、ICQ は X-ICQ (数字だけなら IMPP:icq: も)、ポスペは\n"
    "        EMAIL;TYPE=x-postpet、メモは NOTE、「ぽるておともだち」の No. は X-PORADDR-NUMBER、\n"
    "        一覧の名前は CATEGORIES になります。空の欄は書きません。CP932 でないバイトを含む欄は\n"
    "        X-PORADDR-RAW に元のバイトを base64 で残し、その数を標準エラーに示します。\n"
    "import  ファイルのカードを一覧 (省略時は 2「おともだち」) の末尾にファイルの順で加え、一覧\n"
    "        ファイルを一度に安全に書き換えます。vCard 2.1、3.0、4.0 を読み、UTF-8 か\n"
    "        CHARSET=Shift_JIS の値、quoted-printable の値を解きます。ハンドルは FN、なければ N、\n"
    "        なければ NICKNAME から、ほかは最初の EMAIL、URL、X-ICQ か IMPP:icq:、NOTE から取ります。\n"
    "        「ぽるておともだち」へは X-PORADDR-NUMBER を No. とし、なければ 1 とします。値の中の\n"
    "        改行は空白 1 つに、そのほかの制御文字は取り除きます。CP932 で表せない文字を含むカードは\n"
    "        取り込まず、名前と行番号を標準エラーに示します。壊れたファイルは行番号を示して何も\n"
    "        書きません。このフォルダの PorAddr が動いている間は取り込みません (終了時に一覧が\n"
    "        上書きされるため)。\n"
    "どちらも標準エラーに 1 行の結果 (人数と取り込めなかった数) を出すほかは何も表示しません。\n"
    "\n"
    "終了コード: 0 成功、1 取り込めなかったカードがある (ほかは取り込み済み)、2 コマンド行の誤り、\n"
    "  3 ファイルを読めない・書けない、4 vCard ファイルが壊れている、5 PorAddr が動いている\n"
    "  (3、4、5 では何も書きません)\n"
    "\n"
    "Usage:\n"
    "  poraddr-vcard export [--list 1|2] [FOLDER] [-o FILE]\n"
    "  poraddr-vcard import FILE [--list 1|2] [FOLDER]\n"
    "\n"
    "Moves friends between the lists of ぽるてアドレス帳 and the vCard files other address books\n"
    "read and write. FOLDER holds PorAddr1.lst and PorAddr2.lst (default: the folder of this tool).\n"
    "\n"
    "export  Writes both lists (or the one given by --list) as vCard 3.0: UTF-8, CR LF, lines folded\n"
    "        at 75 octets; to standard output unless -o is given. Handle goes to FN, N and NICKNAME,\n"
    "        Mail to EMAIL;TYPE=INTERNET, Home to URL, ICQ to X-ICQ (and IMPP:icq: for a plain\n"
    "        number), PostPet to EMAIL;TYPE=x-postpet, Memo to NOTE, list 1's Number to\n"
    "        X-PORADDR-NUMBER, the list's name to CATEGORIES. Empty fields are left out. A field\n"
    "        holding bytes that are not CP932 keeps them in X-PORADDR-RAW (base64); such fields are\n"
    "        counted on standard error.\n"
    "import  Appends the people of FILE, in file order, to a list (default 2) and rewrites the list\n"
    "        file in one atomic step. Reads vCard 2.1, 3.0 and 4.0 in UTF-8 or with\n"
    "        CHARSET=Shift_JIS, and decodes quoted-printable values. Handle comes from FN, else N,\n"
    "        else NICKNAME; the others from the first EMAIL, URL, X-ICQ or IMPP:icq:, and NOTE.\n"
    "        Into list 1, X-PORADDR-NUMBER gives the Number, 1 when there is none. Line breaks in\n"
    "        a value become one blank; other control characters are dropped. A card with text that\n"
    "        CP932 cannot hold is not imported but named, with its line, on standard error. A broken\n"
    "        file is reported with its line number and nothing is written. Refused while PorAddr\n"
    "        runs for FOLDER, as it would write its own lists over the result when it closes.\n"
    "Both print a one-line summary (people, cards refused) on standard error and nothing else.\n"
    "\n"
    "Exit codes: 0 done, 1 some cards refused (the others imported), 2 wrong command line,\n"
    "  3 a file could not be read or written, 4 broken vCard file, 5 PorAddr is running\n"
    "  (nothing is written on 3, 4 and 5)\n";

void print(QIODevice &device, const QString &line)
{
    device.write((line + QLatin1Char('\n')).toUtf8());
}

// Standard output is buffered: a full disk shows only when the buffer goes out.
bool flushed(QIODevice &device)
{
    auto *file = qobject_cast<QFileDevice *>(&device);
    return !file || file->flush();
}

struct Options {
    QString command;
    int list = 0; // 0: both (export) or list 2 (import)
    QString output;
    QStringList positional;
};

// The parsed options, or the reason they are wrong.
std::optional<Options> parseOptions(const QStringList &args, const Text &tr, QString &problem)
{
    Options o;
    o.command = args.value(0);
    if (o.command != QLatin1String("export") && o.command != QLatin1String("import")) {
        problem = o.command.isEmpty() ? tr("export か import を指定してください", "give export or import")
                                      : tr("知らないコマンドです: ", "unknown command: ") + o.command;
        return std::nullopt;
    }
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto valueOf = [&](const QString &option, QString &value) {
            if (a == option) {
                if (i + 1 >= args.size())
                    return false;
                value = args[++i];
                return true;
            }
            value = a.mid(option.size() + 1);
            return true;
        };
        QString value;
        if (a == QLatin1String("--list") || a.startsWith(QLatin1String("--list="))) {
            if (!valueOf(QStringLiteral("--list"), value) ||
                (value != QLatin1String("1") && value != QLatin1String("2"))) {
                problem = tr("--list には 1 か 2 を指定してください", "--list takes 1 or 2");
                return std::nullopt;
            }
            o.list = value.toInt();
        } else if (o.command == QLatin1String("export") &&
                   (a == QLatin1String("-o") || a == QLatin1String("--output") ||
                    a.startsWith(QLatin1String("--output=")))) {
            if (!valueOf(a == QLatin1String("-o") ? QStringLiteral("-o") : QStringLiteral("--output"),
                         value) ||
                value.isEmpty()) {
                problem = tr("-o には書き出すファイルを指定してください", "-o takes the file to write");
                return std::nullopt;
            }
            o.output = value;
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            problem = tr("知らないオプションです: ", "unknown option: ") + a;
            return std::nullopt;
        } else {
            o.positional.append(a);
        }
    }
    const int allowed = o.command == QLatin1String("import") ? 2 : 1;
    if (o.positional.size() > allowed) {
        problem = tr("引数が多すぎます: ", "too many arguments: ") +
                  o.positional.mid(allowed).join(QLatin1Char(' '));
        return std::nullopt;
    }
    if (o.command == QLatin1String("import") && o.positional.isEmpty()) {
        problem = tr("取り込む vCard ファイルを指定してください", "give the vCard file to import");
        return std::nullopt;
    }
    return o;
}

// FOLDER as the list files' directory (with the trailing "/"), or empty when it is no folder.
QString listDirectory(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        return QString();
    QString dir = info.absoluteFilePath();
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString fieldLabel(Field f, const Text &tr)
{
    switch (f) {
    case Field::Number:
        return tr("No.", "number");
    case Field::Handle:
        return tr("ハンドル", "handle");
    case Field::Mail:
        return tr("メルアド", "mail address");
    case Field::Home:
        return tr("ホーム", "home page");
    case Field::ICQ:
        return QStringLiteral("ICQ");
    case Field::PostPet:
        return tr("ポスペ", "PostPet address");
    case Field::Memo:
        break;
    }
    return tr("メモ", "memo");
}

QString problemText(const vcard::ParseResult &r, const Text &tr)
{
    const QString detail = QString::fromUtf8(r.problemDetail);
    switch (r.problem) {
    case vcard::ParseProblem::None:
        break;
    case vcard::ParseProblem::NotAContentLine:
        return tr("vCard の行ではありません", "not a vCard content line");
    case vcard::ParseProblem::OutsideCard:
        return tr("BEGIN:VCARD と END:VCARD の外にあります", "outside BEGIN:VCARD ... END:VCARD");
    case vcard::ParseProblem::NotAVCard:
        return tr("vCard ではないものの BEGIN か END です", "BEGIN or END of something that is not a vCard");
    case vcard::ParseProblem::EndWithoutBegin:
        return tr("BEGIN:VCARD のない END:VCARD です", "END:VCARD without BEGIN:VCARD");
    case vcard::ParseProblem::MissingEnd:
        return tr("このカードの END:VCARD がありません", "this card has no END:VCARD");
    case vcard::ParseProblem::UnsupportedVersion:
        return tr("対応していない vCard の版です: ", "unsupported vCard version: ") + detail;
    case vcard::ParseProblem::UnknownEncoding:
        return tr("対応していない ENCODING です: ", "unsupported ENCODING: ") + detail;
    case vcard::ParseProblem::BadBase64:
        return tr("base64 の値が壊れています", "broken base64 value");
    case vcard::ParseProblem::UnknownCharset:
        return tr("知らない CHARSET です: ", "unknown CHARSET: ") + detail;
    case vcard::ParseProblem::BadText:
        return tr("値が正しい %1 ではありません", "the value is not valid %1").arg(detail);
    }
    return QString();
}

int runExport(const Options &o, const QString &dir, QIODevice &out, QIODevice &err, const Text &tr)
{
    AddressBook book;
    setListPaths(book, dir);
    LoadLists(book);
    QByteArray content;
    content.reserve((qsizetype(book.List1.Count()) + book.List2.Count()) * 320); // a card is some 250 bytes
    vcard::ExportCounts counts;
    for (const int number : {1, 2})
        if (o.list == 0 || o.list == number)
            vcard::appendCards(content, book.list(number).entries, counts);
    if (!o.output.isEmpty()) {
        linefile::writeFileAtomically(o.output, content, messages::cannotCreate(o.output));
    } else if (out.write(content) != content.size() || !flushed(out)) {
        print(err, tr("標準出力に書き込めません", "cannot write to standard output"));
        return vcardexit::FileError;
    }
    QString summary =
        tr("%1 人を書き出しました", counts.people == 1 ? "Exported %1 person" : "Exported %1 people")
            .arg(counts.people);
    if (counts.rawFields > 0)
        summary +=
            tr("（CP932 でないバイトを含む欄 %1 個は X-PORADDR-RAW に残しました）",
               counts.rawFields == 1 ? "; %1 field holds bytes that are not CP932, kept in X-PORADDR-RAW"
                                     : "; %1 fields hold bytes that are not CP932, kept in X-PORADDR-RAW")
                .arg(counts.rawFields);
    print(err, summary);
    return vcardexit::Ok;
}

// Why the lists in dir may not be written now, said on err; empty when the folder is held.
QString whyNotWritable(DataFolderLock &lock, const QString &dir, const Text &tr)
{
    qint64 pid = 0;
    const QString folder = QDir::toNativeSeparators(dir);
    switch (lock.holdForCompanion(dir, companionWaitMs, &pid)) {
    case DataFolderLock::Use::Free:
        return QString();
    case DataFolderLock::Use::ProgramRuns:
        return pid > 0
                   ? tr("PorAddr がこのフォルダで動いています (プロセス %1)。終了してから取り込んでください: "
                        "%2",
                        "PorAddr is running for this folder (process %1); close it, then import again: %2")
                         .arg(pid)
                         .arg(folder)
                   : tr("PorAddr がこのフォルダで動いています。終了してから取り込んでください: %1",
                        "PorAddr is running for this folder; close it, then import again: %1")
                         .arg(folder);
    case DataFolderLock::Use::CompanionWrites:
        return tr("ほかのツールがこのフォルダのリストを書き込み中です。後でもう一度取り込んでください: %1",
                  "another tool is writing the lists of this folder; import again later: %1")
            .arg(folder);
    case DataFolderLock::Use::CannotTell:
        break;
    }
    return tr("PorAddr がこのフォルダで動いているかどうか確かめられません (%1 "
              "を調べられません)。取り込みをやめました: %2",
              "cannot tell whether PorAddr is running for this folder (%1 cannot be looked at); nothing was "
              "imported: %2")
        .arg(DataFolderLock::fileName(), folder);
}

int runImport(const Options &o, const QString &dir, QIODevice &err, const Text &tr)
{
    const QString file = o.positional.at(0);
    // Held until the lists are written: a copy of the program started meanwhile waits, and then
    // loads what the import wrote.
    DataFolderLock folderLock;
    const QString notWritable = whyNotWritable(folderLock, dir, tr);
    if (!notWritable.isEmpty()) {
        print(err, notWritable);
        return vcardexit::ProgramRunning;
    }
    const QByteArray content = linefile::readFile(file);
    const bool toList1 = o.list == 1;
    const int number = toList1 ? 1 : 2;
    AddressBook book;
    setListPaths(book, dir);
    LoadLists(book);
    StoredList &stored = book.list(number);
    AddressList &list = stored.entries;
    int imported = 0;
    QStringList refusals; // said only when the whole file could be read
    // Cards are taken as they are read: the list in memory is written only once the file has
    // been read to its end without a problem.
    const vcard::ParseResult parsed = vcard::parse(content, [&](const vcard::Card &card) {
        const vcard::ImportedCard c = vcard::entryFromCard(card, toList1);
        if (c.refusal == vcard::Refusal::None) {
            list.Append(c.entry);
            ++imported;
            return;
        }
        const QString name = c.name.isEmpty() ? tr("（名前なし）", "(no name)") : c.name;
        const QString field = fieldLabel(c.field, tr);
        const QString why =
            c.refusal == vcard::Refusal::NotCp932
                ? tr("%1 に CP932 で表せない文字があります", "its %1 holds characters CP932 does not have")
                      .arg(field)
                : tr("%1 が %2 バイトを超えます", "its %1 is longer than %2 bytes")
                      .arg(field)
                      .arg(maxFieldBytes);
        refusals.append(QStringLiteral("%1:%2: %3")
                            .arg(file)
                            .arg(card.line)
                            .arg(tr("「%1」は取り込みません: %2", "\"%1\" not imported: %2").arg(name, why)));
    });
    if (parsed.problem != vcard::ParseProblem::None) {
        print(err,
              QStringLiteral("%1:%2: %3%4")
                  .arg(file)
                  .arg(parsed.problemLine)
                  .arg(problemText(parsed, tr), tr("。何も取り込んでいません", "; nothing was imported")));
        return vcardexit::Malformed;
    }
    const qsizetype refused = refusals.size();
    for (const QString &refusal : refusals)
        print(err, refusal);
    if (imported > 0) {
        // Only the list that took the people is written; the other stays exactly as it is.
        saveList(stored);
    }
    const QString listName = tr.japanese ? listCaption(number) : QString::number(number);
    print(err, tr("%1 人を「%3」に取り込みました。取り込めなかったカード: %2 枚",
                  imported == 1 ? "Imported %1 person into list %3; %2 cards refused"
                                : "Imported %1 people into list %3; %2 cards refused")
                   .arg(imported)
                   .arg(refused)
                   .arg(listName));
    return refused > 0 ? vcardexit::SomeRefused : vcardexit::Ok;
}

} // namespace

int runVcardTool(const QStringList &args, const QString &defaultFolder, QIODevice &out, QIODevice &err)
{
    const Text tr;
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out.write(helpText);
        return vcardexit::Ok;
    }
    QString problem;
    const std::optional<Options> o = parseOptions(args, tr, problem);
    if (!o) {
        print(err, QStringLiteral("poraddr-vcard: ") + problem +
                       tr("（--help で使い方を表示します）", " (see --help)"));
        return vcardexit::Usage;
    }
    const QString folder = o->positional.size() > (o->command == QLatin1String("import") ? 1 : 0)
                               ? o->positional.last()
                               : defaultFolder;
    const QString dir = listDirectory(folder);
    if (dir.isEmpty()) {
        print(err, tr("フォルダがありません: ", "no such folder: ") + QDir::toNativeSeparators(folder));
        return vcardexit::FileError;
    }
    try {
        return o->command == QLatin1String("export") ? runExport(*o, dir, out, err, tr)
                                                     : runImport(*o, dir, err, tr);
    } catch (const PorError &e) {
        print(err, e.message());
        return vcardexit::FileError;
    } catch (const std::bad_alloc &) {
        print(err, messages::outOfMemory());
        return vcardexit::FileError;
    }
}
