#include "platform/terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int watchedSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Written only before the handlers are installed and after they are removed.
volatile sig_atomic_t writeEnd = -1;

extern "C" void onTerminationSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // write() is async-signal-safe; a full pipe already holds a request, so a lost byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    int ends[2];
    if (writeEnd != -1 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // without a pipe the signals keep their default action
    readEnd_ = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : watchedSignals)
        ::sigaction(number, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_)
        return;
    for (const int number : watchedSignals)
        ::signal(number, SIG_DFL);
    ::close(writeEnd);
    writeEnd = -1;
    ::close(readEnd_);
}

void TerminationSignals::readPending()
{
    unsigned char numbers[64];
    ssize_t got;
    while ((got = ::read(readEnd_, numbers, sizeof numbers)) > 0 || (got < 0 && errno == EINTR)) {
        for (ssize_t i = 0; i < got; ++i)
            emit requested(numbers[i]);
    }
}
