// SPDX-License-Identifier: MIT
// A signal handler may do next to nothing safely: it writes the signal's number into a socket,
// and the event loop, watching the other end, does the rest.
#include "endsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};

int s_sockets[2] = {-1, -1};

extern "C" void onEndSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // Non-blocking: with the socket full, the requests already waiting say the same thing.
    [[maybe_unused]] const ssize_t written = ::write(s_sockets[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

EndSignals::EndSignals(QObject* parent) : QObject(parent)
{
    if (s_sockets[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, s_sockets) != 0)
        return;
    m_notifier = new QSocketNotifier(s_sockets[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : CaughtSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

EndSignals::~EndSignals()
{
    if (!m_notifier)
        return;
    for (const int signalNumber : CaughtSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    ::close(s_sockets[0]);
    ::close(s_sockets[1]);
    s_sockets[0] = s_sockets[1] = -1;
}

void EndSignals::readPending()
{
    char bytes[16];
    ssize_t got;
    while ((got = ::read(s_sockets[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < got; ++i)
            Q_EMIT endRequested(int(bytes[i]));
}
