// SPDX-License-Identifier: MIT
// Opening addresses with xdg-open, detached from Korvane.
#include "urlopener.h"

#include "watchlist.h"

#include <QProcess>

void XdgOpener::open(const QByteArray& address)
{
    // An argument ends at its first NUL byte, so such an address would open another page.
    if (address.contains('\0'))
        return;
    QProcess::startDetached(QStringLiteral("xdg-open"), {WatchList::displayText(address)});
}
