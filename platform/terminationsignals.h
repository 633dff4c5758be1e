#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT (a closed terminal, kill, a shutdown or a logoff without a session
// manager) as requests to close rather than an instant end. The handler itself only writes the
// signal's number to a pipe; a notifier reads it on the user-interface thread, where all the work
// is done. One watcher at a time; the default actions come back when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isWatching() const { return notifier_ != nullptr; }

signals:
    void requested(int signalNumber);

private:
    void readPending();

    QSocketNotifier *notifier_ = nullptr;
    int readEnd_ = -1;
};
