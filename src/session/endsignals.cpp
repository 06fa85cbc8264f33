// SPDX-License-Identifier: MIT
// A signal handler may do next to nothing safely: it writes the signal's number into a socket,
// and the event loop, watching the other end, does the rest.
#include "endsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Made once and kept open until the process exits, so that a signal at any moment, the last
// ones included, finds the handler and the socket it writes to.
int s_sockets[2] = {-1, -1};

extern "C" void onEndSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // Non-blocking: with the socket full, the requests already waiting say the same thing.
    [[maybe_unused]] const ssize_t written = ::write(s_sockets[1], &byte, 1);
    errno = savedErrno;
}

sigset_t caughtSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : CaughtSignals)
        sigaddset(&set, signalNumber);
    return set;
}

bool catchForGood()
{
    if (s_sockets[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, s_sockets) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : CaughtSignals)
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

} // namespace

void EndSignals::holdBack()
{
    // Threads started from here on (Qt's among them) inherit the mask, so a held signal waits
    // for this thread to let it through.
    const sigset_t set = caughtSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

EndSignals::EndSignals(QObject* parent) : QObject(parent)
{
    // Without the socket the signals cannot be caught; they keep their default actions rather
    // than being held back for ever.
    if (catchForGood()) {
        m_notifier = new QSocketNotifier(s_sockets[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &EndSignals::readPending);
    }
    const sigset_t set = caughtSet();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

EndSignals::~EndSignals() = default;

bool EndSignals::hasPendingRequest() const
{
    char byte;
    return m_notifier && ::recv(s_sockets[0], &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
}

void EndSignals::readPending()
{
    char bytes[16];
    ssize_t got;
    while ((got = ::read(s_sockets[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < got; ++i)
            Q_EMIT endRequested(int(bytes[i]));
}
