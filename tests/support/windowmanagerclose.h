// SPDX-License-Identifier: MIT
// Closes a window of another program the way a window manager does when the user clicks its
// close button: a WM_DELETE_WINDOW message, which the program handles as the user's input.
#pragma once

#include <QString>

// True when the message was sent to `window` (an X window id) on the X display `display`.
bool closeAsWindowManager(const QString& display, unsigned long window);
