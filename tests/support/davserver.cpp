#include "support/davserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>

namespace davtest {

namespace {

const QString python = QStringLiteral("/usr/bin/python3");
const QString xandikos = QStringLiteral("/usr/bin/xandikos");

} // namespace

DavServer::DavServer(DavServerKind kind, const QString &user, const QString &password)
    : kind_(kind), user_(kind == DavServerKind::Xandikos ? QStringLiteral("user") : user), password_(password)
{
    process_.setProcessChannelMode(QProcess::MergedChannels);
    // A suite that crashes takes its server with it.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

DavServer::~DavServer()
{
    stop();
}

QString DavServer::name() const
{
    switch (kind_) {
    case DavServerKind::Radicale:
        return QStringLiteral("radicale");
    case DavServerKind::RadicaleBcrypt:
        return QStringLiteral("radicale-bcrypt");
    case DavServerKind::Xandikos:
        return QStringLiteral("xandikos");
    }
    return {};
}

void DavServer::setTls(const QString &certificate, const QString &key)
{
    certificate_ = certificate;
    key_ = key;
}

QString DavServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2/").arg(isTls() ? "https" : "http").arg(port_);
}

QString DavServer::principalPath() const
{
    return QLatin1Char('/') + user_ + QLatin1Char('/');
}

QString DavServer::homePath() const
{
    return kind_ == DavServerKind::Xandikos ? QStringLiteral("/user/contacts/") : principalPath();
}

QString DavServer::bookUrl(const QString &name) const
{
    return baseUrl() + homePath().mid(1) + name + QLatin1Char('/');
}

QByteArray DavServer::output()
{
    output_ += process_.readAll();
    return output_;
}

bool DavServer::isRunning() const
{
    return process_.state() == QProcess::Running;
}

quint16 DavServer::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool DavServer::writeHtpasswd(const QString &path)
{
    // Few rounds: Radicale checks the hash on every request, and the suite makes hundreds.
    QProcess hash;
    hash.start(python,
               {QStringLiteral("-c"),
                QStringLiteral("import bcrypt, sys; "
                               "print(bcrypt.hashpw(sys.argv[1].encode(), bcrypt.gensalt(4)).decode())"),
                password_});
    if (!hash.waitForFinished(20000) || hash.exitStatus() != QProcess::NormalExit || hash.exitCode() != 0) {
        error_ = QStringLiteral("python3-bcrypt could not hash the password: ") +
                 QString::fromUtf8(hash.readAllStandardError());
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    file.write(user_.toUtf8() + ':' + hash.readAllStandardOutput().trimmed() + '\n');
    return true;
}

bool DavServer::start()
{
    if (isRunning())
        return true;
    if (!storage_.isValid() || !config_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    if (kind_ == DavServerKind::Xandikos && !QFileInfo(xandikos).isFile()) {
        error_ = QStringLiteral("%1 is not installed").arg(xandikos);
        return false;
    }
    const QString htpasswd = config_.filePath(QStringLiteral("htpasswd"));
    if (kind_ == DavServerKind::RadicaleBcrypt && !writeHtpasswd(htpasswd))
        return false;
    // Another program may take the free port before the server binds it: the server then stops,
    // and another port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(htpasswd))
            return true;
        if (isRunning())
            break;
    }
    stop();
    return false;
}

bool DavServer::restart()
{
    stop();
    const QString htpasswd = config_.filePath(QStringLiteral("htpasswd"));
    // The port was just given up; it may take a moment until it can be bound again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (startOnce(htpasswd, true))
            return true;
        stop();
        QDeadlineTimer pause(250);
        while (!pause.hasExpired())
            process_.waitForFinished(50);
    }
    return false;
}

bool DavServer::startOnce(const QString &htpasswd, bool samePort)
{
    if (!samePort || port_ == 0)
        port_ = freePort();
    if (port_ == 0) {
        error_ = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    output_.clear();
    const QString listen = QStringLiteral("127.0.0.1:%1").arg(port_);
    QStringList args;
    if (kind_ == DavServerKind::Xandikos) {
        args = {xandikos,
                QStringLiteral("-d"),
                storage_.path(),
                QStringLiteral("--defaults"),
                QStringLiteral("-l"),
                QStringLiteral("127.0.0.1"),
                QStringLiteral("-p"),
                QString::number(port_)};
    } else {
        // At level info Radicale says when it has bound its port, and logs each request.
        args = {QStringLiteral("-m"),
                QStringLiteral("radicale"),
                QStringLiteral("--config"),
                QString(),
                QStringLiteral("--server-hosts"),
                listen,
                QStringLiteral("--storage-filesystem-folder"),
                storage_.path(),
                QStringLiteral("--logging-level"),
                QStringLiteral("info")};
        if (isTls()) {
            args << QStringLiteral("--server-ssl") << QStringLiteral("--server-certificate") << certificate_
                 << QStringLiteral("--server-key") << key_;
        }
        if (kind_ == DavServerKind::RadicaleBcrypt) {
            args << QStringLiteral("--auth-type") << QStringLiteral("htpasswd")
                 << QStringLiteral("--auth-htpasswd-filename") << htpasswd
                 << QStringLiteral("--auth-htpasswd-encryption") << QStringLiteral("bcrypt");
        } else {
            args << QStringLiteral("--auth-type") << QStringLiteral("none");
        }
    }
    process_.start(python, args);
    if (!process_.waitForStarted(10000)) {
        error_ = QStringLiteral("%1 does not start: %2").arg(name(), process_.errorString());
        return false;
    }
    // Ready once the server has said it listens on our port and a connection gets through while it
    // still runs (so that the connection is not to some other program that took the port).
    const QByteArray listening = kind_ == DavServerKind::Xandikos ? "Listening on " + listen.toUtf8()
                                                                  : QByteArray("Radicale server ready");
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (!isRunning()) {
            error_ = QStringLiteral("%1 stopped at once: %2").arg(name(), QString::fromUtf8(output()));
            return false;
        }
        if (output().contains(listening)) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port_);
            if (socket.waitForConnected(200) && !process_.waitForFinished(200))
                return true;
        }
        process_.waitForFinished(100); // lets the server start meanwhile; returns early if it stops
    }
    error_ = QStringLiteral("%1 does not answer on %2: %3").arg(name(), listen, QString::fromUtf8(output()));
    return false;
}

void DavServer::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(10000);
    output_ += process_.readAll();
}

bool TestCertificates::openssl(const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        error_ = QStringLiteral("openssl %1: %2 %3")
                     .arg(args.join(QLatin1Char(' ')), process.errorString(),
                          QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

QString TestCertificates::authorityFile() const
{
    return dir_.filePath(QStringLiteral("ca.crt"));
}

bool TestCertificates::makeAuthority()
{
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    return openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=PorAddr Test CA",
                    "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign"});
}

bool TestCertificates::makeServer(const QString &name, QString &certificate, QString &key)
{
    const QString extensions = name + QStringLiteral(".ext");
    QFile ext(dir_.filePath(extensions));
    if (!ext.open(QIODevice::WriteOnly)) {
        error_ = QStringLiteral("cannot write %1").arg(ext.fileName());
        return false;
    }
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
              "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n");
    ext.close();
    certificate = dir_.filePath(name + QStringLiteral(".crt"));
    key = dir_.filePath(name + QStringLiteral(".key"));
    return openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                    key, "-out", name + QStringLiteral(".csr"), "-subj", "/CN=127.0.0.1"}) &&
           openssl({"x509", "-req", "-in", name + QStringLiteral(".csr"), "-CA", "ca.crt", "-CAkey", "ca.key",
                    "-CAcreateserial", "-days", "2", "-extfile", extensions, "-out", certificate});
}

QString TestCertificates::fingerprint(const QString &certificate)
{
    QProcess process;
    process.start(QStringLiteral("openssl"),
                  {"x509", "-in", certificate, "-noout", "-fingerprint", "-sha256"});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QString();
    // "sha256 Fingerprint=AB:CD:..."
    const QByteArray line = process.readAllStandardOutput().trimmed();
    return QString::fromLatin1(line.mid(line.indexOf('=') + 1)).remove(QLatin1Char(':')).toLower();
}

} // namespace davtest
