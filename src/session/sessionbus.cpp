// SPDX-License-Identifier: MIT
// A look at the session bus with a time-out, before Qt looks without one.
#include "sessionbus.h"

#include <QByteArrayList>
#include <QDBusConnection>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The local socket a D-Bus address names ("unix:path=…" or "unix:abstract=…", its values
// %-escaped); false for any other kind.
bool localSocketOf(const QByteArray& address, sockaddr_un& socket, socklen_t& length)
{
    if (!address.startsWith("unix:"))
        return false;
    for (const QByteArray& pair : address.sliced(5).split(',')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = pair.first(std::max<qsizetype>(equals, 0));
        if (equals < 0 || (key != "path" && key != "abstract"))
            continue;
        const QByteArray value = QByteArray::fromPercentEncoding(pair.sliced(equals + 1));
        const bool abstract = key == "abstract";
        if (value.isEmpty() || size_t(value.size()) + abstract >= sizeof socket.sun_path)
            return false;
        socket = {};
        socket.sun_family = AF_UNIX;
        std::memcpy(socket.sun_path + abstract, value.constData(), size_t(value.size()));
        length = socklen_t(offsetof(sockaddr_un, sun_path) + abstract + size_t(value.size()) +
                           (abstract ? 0 : 1));
        return true;
    }
    return false;
}

// Waits for `events` on `fd` until `deadline` has passed on `clock`.
bool waitFor(int fd, short events, const QElapsedTimer& clock, std::chrono::milliseconds deadline)
{
    for (;;) {
        const qint64 left = deadline.count() - clock.elapsed();
        if (left <= 0)
            return false;
        pollfd wait{fd, events, 0};
        const int ready = ::poll(&wait, 1, int(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

bool sessionBusHangs(const QByteArray& address, std::chrono::milliseconds timeout)
{
    // A client takes the first address of the list that it can connect to.
    for (const QByteArray& one : address.split(';')) {
        sockaddr_un where{};
        socklen_t length = 0;
        if (!localSocketOf(one, where, length))
            return false;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), length) != 0) {
            // A daemon that stopped long ago leaves its queue of connections full: it hangs.
            const bool full = errno == EAGAIN;
            ::close(fd);
            if (full)
                return true;
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        // The first word of D-Bus's handshake: a NUL byte, then a request that any daemon
        // answers at once, with the ways it accepts ("REJECTED EXTERNAL …").
        static const char ask[] = "\0AUTH\r\n";
        const bool hangs =
            ::send(fd, ask, sizeof ask - 1, MSG_NOSIGNAL) == ssize_t(sizeof ask - 1) &&
            !waitFor(fd, POLLIN, clock, timeout);
        ::close(fd);
        return hangs;
    }
    return false;
}

SessionBusGuard::SessionBusGuard(std::chrono::milliseconds timeout)
    : m_address(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
{
    m_hangs = sessionBusHangs(m_address, timeout);
    if (m_hangs)
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

void SessionBusGuard::settle()
{
    if (!m_hangs)
        return;
    // Qt keeps its first connection, failed or not, for the life of the process.
    QDBusConnection::sessionBus();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address);
}
