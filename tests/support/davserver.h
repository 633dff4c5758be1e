#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real CardDAV server for a test: started on 127.0.0.1 only, on a free port, over a storage
// folder of its own that is removed with it; stopped (killed and waited for) on destruction.
namespace davtest {

enum class DavServerKind {
    Radicale,       // /usr/bin/python3 -m radicale, no authentication (any user name logs in)
    RadicaleBcrypt, // the same with an htpasswd file of bcrypt hashes: only user/password logs in
    Xandikos,       // xandikos --defaults: a principal /user/ with /user/contacts/addressbook/
};

class DavServer {
public:
    explicit DavServer(DavServerKind kind, const QString &user = QStringLiteral("user"),
                       const QString &password = QStringLiteral("secret"));
    ~DavServer();
    DavServer(const DavServer &) = delete;
    DavServer &operator=(const DavServer &) = delete;

    // Serves https with the PEM certificate and key given (Radicale only), from the next start();
    // empty paths: plain http again.
    void setTls(const QString &certificate, const QString &key);
    bool isTls() const { return !certificate_.isEmpty(); }

    // Starts the server and waits until it accepts connections; false (see errorString()) when it
    // cannot be started or does not answer within 20 s.
    bool start();
    // Stops the server and starts it again on the same port (with the certificate set meanwhile).
    bool restart();
    void stop();
    bool isRunning() const;
    QString errorString() const { return error_; }

    QString name() const; // "radicale", "radicale-bcrypt", "xandikos"
    quint16 port() const { return port_; }
    QString baseUrl() const; // "http://127.0.0.1:PORT/" ("https://" with TLS)
    // Whom to log in as. Radicale lets only a named user see its collections even without
    // authentication; Xandikos does not look at credentials at all.
    QString user() const { return user_; }
    QString password() const { return password_; }
    // The principal and the user's address book home: /user/ and /user/ on Radicale (whose home is
    // the principal), /user/ and /user/contacts/ on Xandikos.
    QString principalPath() const;
    QString homePath() const;
    // The full URL of an address book called name in the home (made by the test, e.g. with
    // DavClient::createAddressBook).
    QString bookUrl(const QString &name) const;

    // Where the server keeps its files, for tests and benches that seed it directly. Radicale: a
    // card of book B is DIR/collection-root/USER/B/<name>.vcf (a .Radicale.props file beside it
    // holds the collection's type and name). Xandikos: DIR/user/contacts/B/ is a git repository
    // whose committed files are the cards.
    QString storageDir() const { return storage_.path(); }
    // What the server printed so far, for the message of a failed check.
    QByteArray output();

    // A port on 127.0.0.1 that nothing listens on just now.
    static quint16 freePort();

private:
    bool writeHtpasswd(const QString &path);
    bool startOnce(const QString &htpasswd, bool samePort = false);

    DavServerKind kind_;
    QString user_;
    QString password_;
    QTemporaryDir storage_;
    QTemporaryDir config_;
    QProcess process_;
    QByteArray output_;
    quint16 port_ = 0;
    QString error_;
    QString certificate_, key_;
};

// A certificate authority of a test's own, made with openssl in a temporary folder, and server
// certificates it signs for 127.0.0.1 and localhost (subjectAltName), for DavServer::setTls.
class TestCertificates {
public:
    // Makes the authority's key and certificate; false (see errorString()) when openssl fails.
    bool makeAuthority();
    QString authorityFile() const; // the authority's certificate (PEM)
    // A server certificate called name signed by the authority: its certificate and key file.
    bool makeServer(const QString &name, QString &certificate, QString &key);
    // The SHA-256 fingerprint of a PEM certificate as openssl shows it, in lower-case hex without
    // colons; empty when it cannot be read.
    QString fingerprint(const QString &certificate);
    QString errorString() const { return error_; }

private:
    bool openssl(const QStringList &args);
    QTemporaryDir dir_;
    QString error_;
};

} // namespace davtest
