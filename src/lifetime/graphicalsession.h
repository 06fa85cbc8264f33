// SPDX-License-Identifier: MIT
// Whether the display that Qt is about to open can be reached, decided before the application
// object is made: without one, Qt ends the program with an abort and words of its own.
#pragma once

#include <QByteArray>

#include <vector>

struct DisplayLookup
{
    enum class Kind
    {
        X11,
        Wayland,
    };
    // Where a display was looked for: the variable (or Qt's -display option) that names it, and
    // its value, empty when it is not set.
    struct Place
    {
        Kind kind;
        QByteArray variable;
        QByteArray value;
    };

    // Also true when Qt is asked for a platform that needs neither (offscreen, vnc, eglfs...):
    // that one's needs are Qt's to check.
    bool reachable = false;
    // Where a display was looked for, when none was reached.
    std::vector<Place> tried;
};

// Looks for the display the way Qt will: the platform from Qt's -platform option or
// QT_QPA_PLATFORM, the X display from Qt's -display option or DISPLAY, the Wayland one from
// WAYLAND_DISPLAY. Without a platform named, either display does; a Wayland display counts then
// only where it is named, as a desktop names it. `argc` and `argv` are main's.
DisplayLookup lookForDisplay(int argc, char* argv[]);
