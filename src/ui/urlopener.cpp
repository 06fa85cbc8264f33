// Opening addresses with xdg-open, detached from Korvane.
#include "urlopener.h"

#include "watchlist.h"

#include <QProcess>

void XdgOpener::open(const QByteArray& address)
{
    QProcess::startDetached(QStringLiteral("xdg-open"), {WatchList::displayText(address)});
}
