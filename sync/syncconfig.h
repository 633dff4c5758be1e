#pragma once

#include <QString>

// Where the lists sync to, kept in PorAddrSync.ini beside them:
//   [Server] URL, User, Password, PasswordCommand, TrustedCertificate, CertificateAuthorities,
//            AllowPlainHttp
//   [List1] Collection    [List2] Collection
// No password is ever written there: "Password=keyring" says the desktop's keyring keeps it
// (sync/keyring), else PasswordCommand, where set, prints it. An empty Collection: that list is not
// synced.
struct SyncConfig {
    QString url, user, passwordCommand;
    bool passwordInKeyring = false;
    QString trustedCertificate;     // SHA-256 of the server's certificate, trusted as it is
    QString certificateAuthorities; // a PEM file of authorities trusted besides the system's
    bool allowPlainHttp = false;    // http also to another machine: the password travels in clear
    QString collections[2];         // list 1's and list 2's collection; the same one when they share it
};

namespace carddav {
struct TlsPolicy;
}

namespace syncconfig {

QString fileName(); // "PorAddrSync.ini"

// The configuration in dir (all empty where there is none).
SyncConfig load(const QString &dir);

// Writes every key of config into dir's file, keeping its other lines. Throws PorError.
void save(const QString &dir, const SyncConfig &config);

// The words of a command line as a shell splits them: blanks part words, '…' keeps everything as
// it is, "…" and a backslash as outside quotes in a shell; nothing is expanded.
QStringList splitCommand(const QString &command);

// Whether two URLs name the same server: scheme, host and port. A certificate trusted, or plain
// http allowed, for one server says nothing about another.
bool sameServer(const QString &a, const QString &b);

// The TLS settings of config, for the CardDAV client.
carddav::TlsPolicy tlsPolicy(const SyncConfig &config);

// Runs command (program and arguments, split by splitCommand, without a shell)
// and takes the first line it prints as the password. False with problem set when it cannot be run
// or fails.
bool password(const QString &command, QString &password, QString &problem);

} // namespace syncconfig
