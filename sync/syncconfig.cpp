#include "sync/syncconfig.h"

#include "store/profile.h"
#include "sync/davclient.h"

#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace syncconfig {

namespace {

// The one value [Server] Password may have: the password is in the keyring, never in the file.
QByteArray keyringValue()
{
    return QByteArrayLiteral("keyring");
}

} // namespace

QString fileName()
{
    return QStringLiteral("PorAddrSync.ini");
}

SyncConfig load(const QString &dir)
{
    SyncConfig c;
    const QString path = dir + fileName();
    if (!QFileInfo::exists(path))
        return c;
    const auto get = [&](const char *section, const char *key) {
        return QString::fromUtf8(getPrivateProfileString(path, section, key));
    };
    c.url = get("Server", "URL");
    c.user = get("Server", "User");
    c.passwordCommand = get("Server", "PasswordCommand");
    c.trustedCertificate = get("Server", "TrustedCertificate");
    c.certificateAuthorities = get("Server", "CertificateAuthorities");
    const QString plain = get("Server", "AllowPlainHttp").trimmed();
    c.allowPlainHttp = plain.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                       plain.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
                       plain == QLatin1String("1");
    c.passwordInKeyring =
        get("Server", "Password").compare(QString::fromLatin1(keyringValue()), Qt::CaseInsensitive) == 0;
    c.collections[0] = get("List1", "Collection");
    c.collections[1] = get("List2", "Collection");
    return c;
}

void save(const QString &dir, const SyncConfig &config)
{
    writePrivateProfileStrings(
        dir + fileName(), {{"Server", "URL", config.url.toUtf8()},
                           {"Server", "User", config.user.toUtf8()},
                           {"Server", "Password", config.passwordInKeyring ? keyringValue() : QByteArray()},
                           {"Server", "PasswordCommand", config.passwordCommand.toUtf8()},
                           {"Server", "TrustedCertificate", config.trustedCertificate.toUtf8()},
                           {"Server", "CertificateAuthorities", config.certificateAuthorities.toUtf8()},
                           {"Server", "AllowPlainHttp", config.allowPlainHttp ? "true" : "false"},
                           {"List1", "Collection", config.collections[0].toUtf8()},
                           {"List2", "Collection", config.collections[1].toUtf8()}});
}

QStringList splitCommand(const QString &command)
{
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote; // ' or " while inside quotes
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (quote == QLatin1Char('\'')) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (c == QLatin1Char('\\') && i + 1 < command.size() &&
                   (quote.isNull() || QStringLiteral("\"\\$`").contains(command.at(i + 1)))) {
            word += command.at(++i);
            inWord = true;
        } else if (quote == QLatin1Char('"')) {
            if (c == quote)
                quote = QChar();
            else
                word += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

bool sameServer(const QString &a, const QString &b)
{
    const QUrl x(a), y(b);
    return x.scheme() == y.scheme() && x.host().compare(y.host(), Qt::CaseInsensitive) == 0 &&
           x.port() == y.port();
}

carddav::TlsPolicy tlsPolicy(const SyncConfig &config)
{
    carddav::TlsPolicy policy;
    policy.caFile = config.certificateAuthorities;
    policy.pinnedSha256 = config.trustedCertificate;
    policy.allowPlainHttp = config.allowPlainHttp;
    return policy;
}

bool password(const QString &command, QString &password, QString &problem)
{
    QStringList args = splitCommand(command);
    if (args.isEmpty()) {
        problem = command;
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(args.takeFirst(), args, QIODevice::ReadOnly);
    if (!process.waitForStarted() || !process.waitForFinished(60000) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        problem = command;
        process.kill();
        process.waitForFinished();
        return false;
    }
    QByteArray out = process.readAllStandardOutput();
    const qsizetype end = out.indexOf('\n');
    if (end >= 0)
        out.truncate(end);
    if (out.endsWith('\r'))
        out.chop(1);
    password = QString::fromUtf8(out);
    return true;
}

} // namespace syncconfig
