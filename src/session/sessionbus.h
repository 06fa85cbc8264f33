// SPDX-License-Identifier: MIT
// The session D-Bus as Korvane and Qt meet it at start: a bus that does not answer is found out
// once, with a short time-out, before anything of Qt's asks it with the blocking calls that
// wait 25 s each (the accessibility bridge asks at the first label, before the window shows).
#pragma once

#include <QByteArray>

#include <chrono>

// Whether the session bus at `address` (as DBUS_SESSION_BUS_ADDRESS gives it) answers the first
// word of a connection within `timeout`. Only a bus that accepts the connection and then says
// nothing hangs: one that is missing or refuses fails at once, as Qt would find too, and one
// reached in ways other than a local socket is left to Qt, as before.
bool sessionBusHangs(const QByteArray& address, std::chrono::milliseconds timeout);

// Keeps the whole program, Qt's parts included, off a session bus that hangs: made before the
// application object, settled right after it.
class SessionBusGuard
{
public:
    // Asks the bus; when it hangs, the program is told there is none until settle().
    explicit SessionBusGuard(std::chrono::milliseconds timeout = std::chrono::seconds(1));
    SessionBusGuard(const SessionBusGuard&) = delete;
    SessionBusGuard& operator=(const SessionBusGuard&) = delete;

    // With the application object made: Qt keeps the connection it makes now (none, when the
    // bus hangs) for the whole run, and the programs Korvane starts (the browser) get the
    // session bus as it was.
    void settle();

    bool hangs() const { return m_hangs; }

private:
    QByteArray m_address;
    bool m_hangs = false;
};
