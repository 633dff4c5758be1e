#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real Secret Service for a suite: gnome-keyring-daemon on the suite's own D-Bus session (the
// suite runs under dbus-run-session), over a fresh login keyring unlocked with a password of the
// test's. The suite's HOME and XDG folders move into a temporary folder first, so neither the
// daemon nor anything else the suite does touches the real ones; killed and waited for on
// destruction.
namespace keyringtest {

class KeyringDaemon {
public:
    KeyringDaemon();
    ~KeyringDaemon();
    KeyringDaemon(const KeyringDaemon &) = delete;
    KeyringDaemon &operator=(const KeyringDaemon &) = delete;

    // Starts the daemon and waits until it owns org.freedesktop.secrets on the session bus; false
    // (see errorString()) when there is no session bus or it does not come up within 20 s.
    bool start();
    QString errorString() const { return error_; }

    // The temporary HOME: every file the suite, the daemon and the tools write lands under it.
    QString home() const { return home_.path(); }
    // The files under home() whose bytes contain text, as their paths relative to it.
    QStringList filesContaining(const QByteArray &text) const;

private:
    QTemporaryDir home_;
    QProcess process_;
    QString error_;
};

} // namespace keyringtest
