// SPDX-License-Identifier: MIT
// Looking for a display: a connection to the X server, as Qt's xcb platform makes it
// (authorization included), or to the Wayland compositor's socket.
#include "graphicalsession.h"

#include <QByteArrayList>
#include <QtGlobal>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

// The value after Qt's option `-name` (or `--name`) in the command line; empty without one.
QByteArray qtOption(int argc, char* argv[], const QByteArray& name)
{
    for (int i = 1; i + 1 < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == '-' + name || argument == "--" + name)
            return argv[i + 1];
    }
    return {};
}

bool xServerAnswers(const QByteArray& display)
{
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool answers = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return answers;
}

// libwayland's way: a name without a slash lives in the runtime directory, "wayland-0" when
// none is given.
bool compositorAnswers(const QByteArray& name)
{
    const QByteArray socketName = name.isEmpty() ? QByteArray("wayland-0") : name;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!socketName.startsWith('/') && runtime.isEmpty())
        return false;
    const QByteArray path = socketName.startsWith('/') ? socketName : runtime + '/' + socketName;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return answers;
}

} // namespace

DisplayLookup lookForDisplay(int argc, char* argv[])
{
    QByteArray platforms = qtOption(argc, argv, "platform");
    if (platforms.isEmpty())
        platforms = qgetenv("QT_QPA_PLATFORM");
    bool x11 = platforms.isEmpty();
    bool wayland = platforms.isEmpty();
    // Qt takes the first of a list that starts: one without a display of these settles it.
    for (const QByteArray& platform : platforms.split(';')) {
        const QByteArray name = platform.split(':').front().trimmed();
        if (name == "xcb")
            x11 = true;
        else if (name.startsWith("wayland"))
            wayland = true;
        else if (!name.isEmpty())
            return {true, {}};
    }

    DisplayLookup lookup;
    if (x11) {
        const QByteArray option = qtOption(argc, argv, "display");
        const DisplayLookup::Place x{DisplayLookup::Kind::X11,
                                     option.isEmpty() ? "DISPLAY" : "-display",
                                     option.isEmpty() ? qgetenv("DISPLAY") : option};
        if (!x.value.isEmpty() && xServerAnswers(x.value))
            return {true, {}};
        lookup.tried.push_back(x);
    }
    if (wayland) {
        const DisplayLookup::Place place{DisplayLookup::Kind::Wayland, "WAYLAND_DISPLAY",
                                         qgetenv("WAYLAND_DISPLAY")};
        // A compositor that started Korvane may hand it a connection instead of a name.
        if (qEnvironmentVariableIsSet("WAYLAND_SOCKET") ||
            ((!place.value.isEmpty() || !platforms.isEmpty()) && compositorAnswers(place.value)))
            return {true, {}};
        lookup.tried.push_back(place);
    }
    return lookup;
}
