#pragma once

#include <QString>

// The account's password in the desktop's Secret Service (GNOME Keyring, KWallet) through
// QtKeychain, keyed by the server's URL and the user name. Nothing is ever written to a file: where
// no Secret Service runs (a bare server, an ssh login), every call says so and the caller offers
// the configuration's PasswordCommand instead.
namespace keyring {

enum class Outcome {
    Done,      // stored, read or removed
    NotFound,  // no password kept for this server and user
    NoService, // no Secret Service on this session's D-Bus
    Failed,    // refused, locked, or no answer within the time limit
};

struct Answer {
    Outcome outcome = Outcome::Done;
    QString password; // read(): the password kept
    QString message;  // for the user, where not Done
    bool ok() const { return outcome == Outcome::Done; }
};

// How long one call waits for the keyring before it gives up (a locked keyring may ask the user).
constexpr int defaultTimeoutMs = 60000;

// Whether a Secret Service runs (or can be started) on the session bus; why not in why.
bool available(QString *why = nullptr);

Answer read(const QString &server, const QString &user, int timeoutMs = defaultTimeoutMs);
// Replaces what was kept for server and user.
Answer store(const QString &server, const QString &user, const QString &password,
             int timeoutMs = defaultTimeoutMs);
Answer remove(const QString &server, const QString &user, int timeoutMs = defaultTimeoutMs);

} // namespace keyring
