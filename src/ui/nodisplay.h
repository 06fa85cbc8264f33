// SPDX-License-Identifier: MIT
// What a start says where no display can be reached: one line on standard error, since there
// is nowhere else to say it.
#pragma once

#include "graphicalsession.h"

// "korvane: Korvane needs a graphical session, and no display could be reached (DISPLAY is not
// set, WAYLAND_DISPLAY is not set). Start it from the desktop, or set ...", in one line.
void tellNoDisplay(const DisplayLookup& lookup);
