// SPDX-License-Identifier: MIT
// The words of a start without a display.
#include "nodisplay.h"

#include <QStringList>

#include <cstdio>

namespace {

QString noDisplayText(const DisplayLookup& lookup)
{
    QStringList looked;
    QStringList names;
    bool x11 = false;
    for (const DisplayLookup::Place& place : lookup.tried) {
        const QString variable = QString::fromLocal8Bit(place.variable);
        looked << (place.value.isEmpty()
                       ? QStringLiteral("%1 is not set").arg(variable)
                       : QStringLiteral("%1=%2 does not answer")
                             .arg(variable, QString::fromLocal8Bit(place.value).simplified()));
        names << (place.kind == DisplayLookup::Kind::X11 ? QStringLiteral("DISPLAY")
                                                         : QStringLiteral("WAYLAND_DISPLAY"));
        x11 = x11 || place.kind == DisplayLookup::Kind::X11;
    }
    return QStringLiteral("Korvane needs a graphical session, and no display could be reached "
                          "(%1). Start it from the desktop, or set %2 to a display that is "
                          "running%3.")
        .arg(looked.join(QStringLiteral(", ")), names.join(QStringLiteral(" or ")),
             x11 ? QStringLiteral("; over ssh, connect with ssh -X") : QString());
}

} // namespace

void tellNoDisplay(const DisplayLookup& lookup)
{
    std::fprintf(stderr, "korvane: %s\n", qUtf8Printable(noDisplayText(lookup)));
}
