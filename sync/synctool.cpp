#include "sync/synctool.h"

#include "platform/runningcopy.h"
#include "store/errors.h"
#include "sync/davclient.h"
#include "sync/keyring.h"
#include "sync/syncengine.h"
#include "sync/syncstate.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

#include <cstdio>
#include <optional>

#include <termios.h>
#include <unistd.h>

namespace {

// How long a sync waits for another tool that is writing the same lists.
constexpr int companionWaitMs = 5000;

const char helpText[] =
    "使い方:\n"
    "  poraddr-sync setup URL [--user 名前] [--password-command コマンド]\n"
    "                         [--list1 アドレス帳] [--list2 アドレス帳] [--create] [フォルダ]\n"
    "                         [--trust-certificate SHA256] [--ca-file ファイル] [--allow-plain-http]\n"
    "  poraddr-sync [--dry-run] [--force] [フォルダ]\n"
    "  poraddr-sync forget [フォルダ]\n"
    "\n"
    "ぽるてアドレス帳の 2 つの一覧を CardDAV サーバーのアドレス帳と双方向に同期します。\n"
    "フォルダは PorAddr1.lst と PorAddr2.lst のあるフォルダです (省略時はこのツールのあるフォルダ)。\n"
    "\n"
    "setup   URL のアカウントのアドレス帳を探して表示し、どの一覧をどれと同期するかを\n"
    "        PorAddrSync.ini に書きます。アドレス帳は URL か表示名で指定し、--create で新しく\n"
    "        作ります。片方だけ指定すると、もう片方も同じアドレス帳を使います (CATEGORIES\n"
    "        「ぽるておともだち」のカードが一覧 1、ほかは一覧 2)。何も指定しなければ最初に見つかった\n"
    "        アドレス帳を両方で使います。パスワードは書きません。--password-command のコマンド\n"
    "        (シェルを通さずに実行) が標準出力の 1 行目に出したものを使います。\n"
    "        https のサーバーの証明書はシステムの証明書 (と --ca-file の PEM ファイルの認証局) で\n"
    "        確かめます。信頼できない証明書は SHA-256 の指紋を示して止まります。確かめたうえで\n"
    "        --trust-certificate 指紋 とすると、その証明書だけを信頼します (変わればまた止まります)。\n"
    "        暗号化しない http はこのマシン (127.0.0.1、::1、localhost) にだけつなぎます。\n"
    "        --allow-plain-http でほかのサーバーにもつなぎますが、パスワードが平文で流れます。\n"
    "        アドレス帳を両方で使います。パスワードはファイルに書きません。端末からは --user の\n"
    "        パスワードを (表示せずに) 尋ね、デスクトップのキーリング (Secret Service) に保存します。\n"
    "        キーリングがなければ --password-command のコマンド (シェルを通さずに実行) が標準出力の\n"
    "        1 行目に出したものを使います。\n"
    "同期    前回の同期からこちらとサーバーで変わったものを欄ごとに合わせます。同じ欄が両方で\n"
    "        変わっていればこちらの値を残してサーバーにも送り、サーバーのカードは\n"
    "        PorAddrSync-conflicts.vcf に追記します。片方で消して片方で変えたものは変えた方が\n"
    "        残ります。並び順は X-PORADDR-ORDER でサーバーに残り、別のマシンでも同じ順になります。\n"
    "        CP932 で表せない文字を含むカードは一覧に入れず名前を示します。前回の状態は\n"
    "        PorAddrSync.state に残します。サーバーにつながらないとき、前回あったカードがサーバーで\n"
    "        全部なくなっているとき、前回あった一覧ファイルがないとき、片側の半分より多く\n"
    "        (10 人を超えて) 消すことになるときは何も変えずに止まります (--force で続けます)。\n"
    "        --dry-run はすることを示すだけで、サーバーにもファイルにも何も書きません。\n"
    "        このフォルダの PorAddr が動いている間は同期しません。\n"
    "forget  設定のサーバーとユーザーのパスワードをキーリングから消します。設定のほかの部分は\n"
    "        残ります (次の同期の前に setup でパスワードをもう一度入れます)。\n"
    "標準エラーに 1 行の結果を出します。\n"
    "\n"
    "終了コード: 0 成功、1 衝突か取り込めないカードがある (ほかは同期済み)、2 コマンド行の誤り\n"
    "  (setup がまだのときも)、3 サーバーにつながらない・認証できない、4 安全のため止めた、\n"
    "  5 PorAddr が動いている、6 ファイルを読めない・書けない\n"
    "\n"
    "Usage:\n"
    "  poraddr-sync setup URL [--user NAME] [--password-command COMMAND]\n"
    "                         [--list1 BOOK] [--list2 BOOK] [--create] [FOLDER]\n"
    "                         [--trust-certificate SHA256] [--ca-file FILE] [--allow-plain-http]\n"
    "  poraddr-sync [--dry-run] [--force] [FOLDER]\n"
    "  poraddr-sync forget [FOLDER]\n"
    "\n"
    "Syncs both lists of ぽるてアドレス帳 both ways with address books on a CardDAV server.\n"
    "FOLDER holds PorAddr1.lst and PorAddr2.lst (default: the folder of this tool).\n"
    "\n"
    "setup   Finds and lists the address books of the account at URL and writes which list syncs\n"
    "        with which into PorAddrSync.ini. A BOOK is given by its URL or display name; --create\n"
    "        makes it. A list not given shares the other's book (cards with the CATEGORIES\n"
    "        \"ぽるておともだち\" are list 1, the others list 2); with neither given both share the\n"
    "        first book found. No password is written: the first line that the --password-command\n"
    "        COMMAND (run without a shell) prints is used.\n"
    "        An https server's certificate is checked against the system's certificates (and the\n"
    "        authorities in the PEM file of --ca-file). An untrusted one stops setup, which shows its\n"
    "        SHA-256 fingerprint; --trust-certificate FINGERPRINT trusts that certificate alone,\n"
    "        after you have checked it (a changed certificate is refused again). Plain http goes\n"
    "        only to this machine (127.0.0.1, ::1, localhost); --allow-plain-http allows it to\n"
    "        another server, but the password then travels in clear.\n"
    "        first book found. No password is written to a file: on a terminal, the password of\n"
    "        --user is asked for (not shown) and kept in the desktop's keyring (Secret Service);\n"
    "        without one, the first line that the --password-command COMMAND (run without a shell)\n"
    "        prints is used.\n"
    "sync    Brings together, field by field, what changed here and on the server since the last\n"
    "        sync. A field changed on both sides keeps this side's value, which goes to the server\n"
    "        too; the server's card is appended to PorAddrSync-conflicts.vcf. Deleted on one side\n"
    "        and changed on the other: the change wins. The order goes to the server as\n"
    "        X-PORADDR-ORDER, so another machine gets the same order. A card with text CP932 cannot\n"
    "        hold is not taken into a list but named. What the last sync saw is kept in\n"
    "        PorAddrSync.state. Nothing is changed when the server cannot be reached, when its book\n"
    "        is empty though it held cards at the last sync, when a list file that held entries is\n"
    "        missing, or when more than half of a side (and more than 10 entries) would be deleted\n"
    "        (--force goes on). --dry-run tells what would be done and writes nothing, neither on\n"
    "        the server nor in files. Refused while PorAddr runs for FOLDER.\n"
    "forget  Removes the password of the configured server and user from the keyring. The rest\n"
    "        of the setup stays (give the password again with setup before the next sync).\n"
    "A one-line summary goes to standard error.\n"
    "\n"
    "Exit codes: 0 done, 1 done with conflicts or cards refused or skipped, 2 wrong command line\n"
    "  (or no setup yet), 3 server unreachable or authentication failed, 4 refused for safety,\n"
    "  5 PorAddr is running, 6 a file could not be read or written\n";

void print(QIODevice &device, const QString &line)
{
    device.write((line + QLatin1Char('\n')).toUtf8());
}

// Asks for the password on the terminal of standard input, with the echo off while it is typed.
// False where standard input is no terminal.
bool askPassword(QIODevice &err, const QString &prompt, QString &password)
{
    if (!isatty(STDIN_FILENO))
        return false;
    // The echo goes off before the prompt shows: what is typed after it is never seen.
    termios saved{};
    const bool quiet = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        hidden.c_lflag |= ECHONL;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    err.write(prompt.toUtf8());
    if (auto *file = qobject_cast<QFileDevice *>(&err))
        file->flush();
    QByteArray line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.append(char(c));
    if (quiet)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (line.endsWith('\r'))
        line.chop(1);
    password = QString::fromUtf8(line);
    return true;
}

struct Options {
    bool setup = false;
    bool forget = false;
    bool dryRun = false, force = false, create = false;
    QString url, user, passwordCommand, books[2];
    bool passwordCommandGiven = false;
    QString trustCertificate, caFile; // empty: as configured before
    bool allowPlainHttp = false;
    QString folder;
};

std::optional<Options> parseOptions(const QStringList &args, const SyncText &tr, QString &problem)
{
    Options o;
    QStringList positional;
    qsizetype i = 0;
    if (args.value(0) == QLatin1String("setup")) {
        o.setup = true;
        i = 1;
    } else if (args.value(0) == QLatin1String("forget")) {
        o.forget = true;
        i = 1;
    }
    for (; i < args.size(); ++i) {
        const QString &a = args[i];
        const auto takeValue = [&](const char *option, QString &value) {
            const QString name = QLatin1String(option);
            if (a == name) {
                if (i + 1 >= args.size())
                    return false;
                value = args[++i];
            } else {
                value = a.mid(name.size() + 1);
            }
            return !value.isEmpty();
        };
        const auto is = [&](const char *option) {
            const QString name = QLatin1String(option);
            return a == name || a.startsWith(name + QLatin1Char('='));
        };
        if (!o.setup && !o.forget && a == QLatin1String("--dry-run")) {
            o.dryRun = true;
        } else if (!o.setup && !o.forget && a == QLatin1String("--force")) {
            o.force = true;
        } else if (o.setup && a == QLatin1String("--create")) {
            o.create = true;
        } else if (o.setup && a == QLatin1String("--allow-plain-http")) {
            o.allowPlainHttp = true;
        } else if (o.setup && (is("--trust-certificate") || is("--ca-file"))) {
            const bool trust = is("--trust-certificate");
            const char *name = trust ? "--trust-certificate" : "--ca-file";
            QString value;
            if (!takeValue(name, value)) {
                problem = tr("%1 には値を指定してください", "%1 takes a value").arg(QLatin1String(name));
                return std::nullopt;
            }
            if (trust) {
                o.trustCertificate = carddav::normalizedFingerprint(value);
                if (o.trustCertificate.isEmpty()) {
                    problem = tr("証明書の指紋は SHA-256 の 16 進 64 桁で指定してください: ",
                                 "a certificate's fingerprint is its SHA-256 in 64 hex digits: ") +
                              value;
                    return std::nullopt;
                }
            } else {
                o.caFile = QFileInfo(value).absoluteFilePath();
            }
        } else if (o.setup && (is("--user") || is("--password-command") || is("--list1") || is("--list2"))) {
            const char *name = is("--user")               ? "--user"
                               : is("--password-command") ? "--password-command"
                               : is("--list1")            ? "--list1"
                                                          : "--list2";
            QString &value = is("--user")               ? o.user
                             : is("--password-command") ? o.passwordCommand
                             : is("--list1")            ? o.books[0]
                                                        : o.books[1];
            o.passwordCommandGiven |= is("--password-command");
            if (!takeValue(name, value)) {
                problem = tr("%1 には値を指定してください", "%1 takes a value").arg(QLatin1String(name));
                return std::nullopt;
            }
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            problem = tr("知らないオプションです: ", "unknown option: ") + a;
            return std::nullopt;
        } else {
            positional.append(a);
        }
    }
    if (o.setup) {
        if (positional.isEmpty()) {
            problem = tr("サーバーの URL を指定してください", "give the server's URL");
            return std::nullopt;
        }
        o.url = positional.takeFirst();
    }
    if (positional.size() > 1) {
        problem = tr("引数が多すぎます: ", "too many arguments: ") + positional.mid(1).join(QLatin1Char(' '));
        return std::nullopt;
    }
    o.folder = positional.value(0);
    return o;
}

QString listDirectory(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        return QString();
    QString dir = info.absoluteFilePath();
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString whyNotWritable(DataFolderLock &lock, const QString &dir, const SyncText &tr)
{
    qint64 pid = 0;
    const QString folder = QDir::toNativeSeparators(dir);
    switch (lock.holdForCompanion(dir, companionWaitMs, &pid)) {
    case DataFolderLock::Use::Free:
        return QString();
    case DataFolderLock::Use::ProgramRuns:
        return pid > 0 ? tr("PorAddr がこのフォルダで動いています (プロセス "
                            "%1)。終了してから同期してください: %2",
                            "PorAddr is running for this folder (process %1); close it, then sync again: %2")
                             .arg(pid)
                             .arg(folder)
                       : tr("PorAddr がこのフォルダで動いています。終了してから同期してください: %1",
                            "PorAddr is running for this folder; close it, then sync again: %1")
                             .arg(folder);
    case DataFolderLock::Use::CompanionWrites:
        return tr("ほかのツールがこのフォルダのリストを書き込み中です。後でもう一度同期してください: %1",
                  "another tool is writing the lists of this folder; sync again later: %1")
            .arg(folder);
    case DataFolderLock::Use::CannotTell:
        break;
    }
    return tr("PorAddr がこのフォルダで動いているかどうか確かめられません (%1 "
              "を調べられません)。同期をやめました: %2",
              "cannot tell whether PorAddr is running for this folder (%1 cannot be looked at); nothing was "
              "synced: %2")
        .arg(DataFolderLock::fileName(), folder);
}

// The connection, or the exit code with the reason said on err.
int connect(const ConnectionFactory &factory, const SyncConfig &config, SyncConnection &connection,
            QIODevice &err, const SyncText &tr, const QString *typed = nullptr)
{
    QString password;
    if (typed) {
        password = *typed;
    } else if (config.passwordInKeyring) {
        const keyring::Answer kept = keyring::read(config.url, config.user);
        if (!kept.ok()) {
            print(err, kept.message);
            return syncexit::Unreachable;
        }
        password = kept.password;
    } else if (!config.passwordCommand.isEmpty()) {
        QString problem;
        if (!syncconfig::password(config.passwordCommand, password, problem)) {
            print(err, tr("パスワードのコマンドが失敗しました: ", "the password command failed: ") + problem);
            return syncexit::Unreachable;
        }
    }
    connection = factory(config, password);
    if (!connection.remote) {
        print(err, tr("このビルドには CardDAV クライアントがありません", "no CardDAV client in this build"));
        return syncexit::Unreachable;
    }
    return syncexit::Ok;
}

QString resolved(const QString &base, const QString &reference)
{
    return QUrl(base).resolved(QUrl(reference)).toString();
}

// Removes the keyring's password of the configured server and user (also one a later setup with a
// password command left behind) and keeps the rest of the configuration.
int runForget(const QString &dir, QIODevice &out, QIODevice &err, const SyncText &tr)
{
    SyncConfig config = syncconfig::load(dir);
    if (config.url.isEmpty() || config.user.isEmpty()) {
        print(out, tr("キーリングに保存したパスワードはありません (同期の設定にユーザーがありません)",
                      "no password is kept in the keyring (the sync's setup names no user)"));
        return syncexit::Ok;
    }
    const keyring::Answer removed = keyring::remove(config.url, config.user);
    if (!removed.ok() && removed.outcome != keyring::Outcome::NotFound) {
        print(err, removed.message);
        return syncexit::Unreachable;
    }
    if (config.passwordInKeyring) {
        config.passwordInKeyring = false;
        syncconfig::save(dir, config);
    }
    print(out, removed.ok() ? tr("%1 (%2) のパスワードをキーリングから消しました",
                                 "removed the password of %1 at %2 from the keyring")
                                  .arg(config.user, config.url)
                            : tr("キーリングには %1 (%2) のパスワードはありません",
                                 "the keyring holds no password of %1 at %2")
                                  .arg(config.user, config.url));
    return syncexit::Ok;
}

int runSetup(const Options &o, const QString &dir, const ConnectionFactory &factory, QIODevice &out,
             QIODevice &err, const SyncText &tr)
{
    SyncConfig config = syncconfig::load(dir);
    // A certificate trusted, or plain http allowed, for one server says nothing about another.
    if (!syncconfig::sameServer(config.url, o.url)) {
        config.trustedCertificate.clear();
        config.allowPlainHttp = false;
    }
    config.url = o.url;
    config.user = o.user;
    if (o.passwordCommandGiven) {
        config.passwordCommand = o.passwordCommand;
        config.passwordInKeyring = false;
    }
    if (!o.trustCertificate.isEmpty())
        config.trustedCertificate = o.trustCertificate;
    if (!o.caFile.isEmpty())
        config.certificateAuthorities = o.caFile;
    config.allowPlainHttp = config.allowPlainHttp || o.allowPlainHttp;
    const QUrl server(o.url);
    if (config.allowPlainHttp && server.scheme() == QLatin1String("http") &&
        !carddav::isLoopbackHost(server.host()))
        print(err, tr("警告: %1 には暗号化せずにつなぎます。パスワードもカードも平文で流れます",
                      "warning: %1 is reached without encryption; the password and the cards travel in clear")
                       .arg(server.host()));
    // On a terminal, without a password command, the password is asked for and goes to the keyring.
    std::optional<QString> typed;
    if (!o.passwordCommandGiven && !o.user.isEmpty() && isatty(STDIN_FILENO)) {
        QString why;
        if (!keyring::available(&why)) {
            print(err, why);
            return syncexit::Usage;
        }
        QString password;
        askPassword(err, tr("%1 のパスワード: ", "password of %1: ").arg(o.user), password);
        typed = password;
    }
    SyncConnection connection;
    if (const int code = connect(factory, config, connection, err, tr, typed ? &*typed : nullptr);
        code != syncexit::Ok)
        return code;
    QList<AddressBookInfo> books;
    QString homeSet;
    if (const carddav::Result r = connection.discover(o.url, books, homeSet); !r.ok()) {
        print(err, r.message.isEmpty() ? o.url : r.message);
        if (r.failure == carddav::Failure::Untrusted && !r.fingerprint.isEmpty())
            print(err, tr("SHA-256 %1\nこの証明書がサーバーのものだと確かめたら、信頼するには: "
                          "poraddr-sync setup %2 --trust-certificate %1",
                          "SHA-256 %1\nif you have checked that this certificate is the server's, trust it "
                          "with: poraddr-sync setup %2 --trust-certificate %1")
                           .arg(r.fingerprint, o.url));
        else if (r.failure == carddav::Failure::Unencrypted)
            print(err, tr("https の URL を使ってください (--allow-plain-http で平文のままつなぎます)",
                          "use an https URL (--allow-plain-http connects in clear all the same)"));
        return syncexit::Unreachable;
    }
    for (const AddressBookInfo &b : books)
        print(out,
              QStringLiteral("%1\t%2%3")
                  .arg(b.url, b.displayName, b.supportsSync ? QStringLiteral("\tsync-token") : QString()));

    QString chosen[2];
    for (int l = 0; l < 2; ++l) {
        const QString &given = o.books[l];
        if (given.isEmpty())
            continue;
        // A book is named by its URL, its path, its folder's name or the name it shows.
        for (const AddressBookInfo &b : books)
            if (b.url == given || b.url == resolved(o.url, given) ||
                QUrl(b.url).path().section(QLatin1Char('/'), -2, -2) == given ||
                b.displayName.compare(given, Qt::CaseInsensitive) == 0)
                chosen[l] = b.url;
        if (!chosen[l].isEmpty())
            continue;
        if (l == 1 && given == o.books[0] && !chosen[0].isEmpty()) {
            chosen[1] = chosen[0];
            continue;
        }
        if (!o.create) {
            print(err, tr("アドレス帳 %1 が見つかりません (--create で作ります)",
                          "no address book %1 (--create makes it)")
                           .arg(given));
            return syncexit::Usage;
        }
        // A name becomes a folder beside the books found (else in the account's home set, else under
        // URL); a URL or path is taken as it is.
        QString url;
        if (given.contains(QLatin1Char('/'))) {
            url = resolved(o.url, given);
        } else {
            const QString parent = !books.isEmpty()     ? resolved(books.first().url, QStringLiteral(".."))
                                   : !homeSet.isEmpty() ? homeSet
                                                        : o.url;
            bool plain = true;
            for (const QChar c : given)
                plain = plain && c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('-'));
            const QString segment = plain ? given : QUuid::createUuid().toString(QUuid::WithoutBraces);
            url = resolved(parent.endsWith(QLatin1Char('/')) ? parent : parent + QLatin1Char('/'),
                           segment + QLatin1Char('/'));
        }
        const QString name = given.contains(QLatin1Char('/')) ? QUrl(url).fileName() : given;
        if (const carddav::Result r = connection.createAddressBook(url, name); !r.ok()) {
            print(err, r.message.isEmpty() ? url : r.message);
            return syncexit::Unreachable;
        }
        print(out, QStringLiteral("%1\t%2").arg(url, name));
        chosen[l] = url;
    }
    if (chosen[0].isEmpty() && chosen[1].isEmpty()) {
        if (books.isEmpty()) {
            print(err, tr("アドレス帳が見つかりません (--list1 名前 --create で作ります)",
                          "no address book found (--list1 NAME --create makes one)"));
            return syncexit::Usage;
        }
        chosen[0] = chosen[1] = books.first().url;
    }
    for (int l = 0; l < 2; ++l)
        if (chosen[l].isEmpty())
            chosen[l] = chosen[1 - l];
    config.collections[0] = chosen[0];
    config.collections[1] = chosen[1];
    if (typed) {
        // Kept before the configuration says where it is.
        if (const keyring::Answer stored = keyring::store(config.url, config.user, *typed); !stored.ok()) {
            print(err, stored.message);
            return stored.outcome == keyring::Outcome::NoService ? syncexit::Usage : syncexit::FileError;
        }
        config.passwordInKeyring = true;
        config.passwordCommand.clear();
    }
    syncconfig::save(dir, config);
    print(err, tr("一覧 1 は %1、一覧 2 は %2 と同期します (%3)", "list 1 syncs with %1, list 2 with %2 (%3)")
                   .arg(chosen[0], chosen[1], QDir::toNativeSeparators(dir + syncconfig::fileName())));
    return syncexit::Ok;
}

QString summaryOf(const SyncResult &r, bool dryRun, const SyncText &tr)
{
    QString line =
        tr("アップロード %1 件、ダウンロード %2 件、こちらで削除 %3 件、サーバーで削除 %4 件、衝突 %5 件",
           "uploaded %1, downloaded %2, deleted %3 here, deleted %4 there, conflicts %5")
            .arg(r.uploaded)
            .arg(r.downloaded)
            .arg(r.deletedHere)
            .arg(r.deletedThere)
            .arg(r.conflicts);
    if (r.conflicts > 0 && !dryRun)
        line += QStringLiteral(" (%1)").arg(syncstate::conflictsFileName());
    if (r.skipped > 0)
        line += tr("、飛ばしたカード %1 枚", ", cards skipped %1").arg(r.skipped);
    if (dryRun)
        line = tr("試しに実行 (何も変えていません): ", "dry run (nothing changed): ") + line;
    return line;
}

int runOnce(const Options &o, const QString &dir, const ConnectionFactory &factory, QIODevice &err,
            const SyncText &tr)
{
    const SyncConfig config = syncconfig::load(dir);
    if (config.url.isEmpty() || (config.collections[0].isEmpty() && config.collections[1].isEmpty())) {
        print(err, tr("同期先が決まっていません。先に poraddr-sync setup URL を実行してください",
                      "nothing to sync with yet; run poraddr-sync setup URL first"));
        return syncexit::Usage;
    }
    // Held for the whole run: a copy of the program started meanwhile waits, then loads the result.
    DataFolderLock folderLock;
    if (const QString why = whyNotWritable(folderLock, dir, tr); !why.isEmpty()) {
        print(err, why);
        return syncexit::ProgramRunning;
    }
    SyncConnection connection;
    if (const int code = connect(factory, config, connection, err, tr); code != syncexit::Ok)
        return code;
    SyncJob job;
    job.dir = dir;
    job.collections[0] = config.collections[0];
    job.collections[1] = config.collections[1];
    job.remote = connection.remote.get();
    job.dryRun = o.dryRun;
    job.force = o.force;
    const SyncResult result = runSync(job, tr);
    for (const QString &note : result.notes)
        print(err, note);
    if (result.stop != SyncStop::None) {
        print(err, result.stopMessage);
        if (result.stop != SyncStop::FileError || result.uploaded + result.deletedThere == 0)
            return exitCodeOf(result);
    }
    print(err, summaryOf(result, o.dryRun, tr));
    return exitCodeOf(result);
}

} // namespace

int runSyncTool(const QStringList &args, const QString &defaultFolder, QIODevice &out, QIODevice &err,
                const ConnectionFactory &factory)
{
    const SyncText tr;
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        out.write(helpText);
        return syncexit::Ok;
    }
    QString problem;
    const std::optional<Options> o = parseOptions(args, tr, problem);
    if (!o) {
        print(err, QStringLiteral("poraddr-sync: ") + problem +
                       tr("（--help で使い方を表示します）", " (see --help)"));
        return syncexit::Usage;
    }
    const QString folder = o->folder.isEmpty() ? defaultFolder : o->folder;
    const QString dir = listDirectory(folder);
    if (dir.isEmpty()) {
        print(err, tr("フォルダがありません: ", "no such folder: ") + QDir::toNativeSeparators(folder));
        return syncexit::FileError;
    }
    try {
        if (o->forget)
            return runForget(dir, out, err, tr);
        return o->setup ? runSetup(*o, dir, factory, out, err, tr) : runOnce(*o, dir, factory, err, tr);
    } catch (const PorError &e) {
        print(err, e.message());
        return syncexit::FileError;
    } catch (const std::bad_alloc &) {
        print(err, messages::outOfMemory());
        return syncexit::FileError;
    }
}
