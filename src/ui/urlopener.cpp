// SPDX-License-Identifier: MIT
// Opening addresses with xdg-open, watched from the event loop.
#include "urlopener.h"

#include "watchlist.h"

#include <QElapsedTimer>
#include <QProcess>

#include <unistd.h>

namespace {

// Where no desktop's own opener stands in, xdg-open runs the browser itself and waits for it:
// an xdg-open that has run this long has shown the page, and its status later is the
// browser's, which may end hours on.
constexpr qint64 HandedOverMs = 15'000;

} // namespace

XdgOpener::~XdgOpener()
{
    // An xdg-open still running may hold the user's browser: it is let go, never killed (a
    // QProcess that goes kills its process). Its object goes once it ends, or is held here
    // until the program ends, which leaves the process running.
    static QObject* const stillRunning = new QObject;
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        process->setParent(stillRunning);
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
    }
}

void XdgOpener::open(const QByteArray& address)
{
    const auto failed = [this, address] {
        QMetaObject::invokeMethod(
            this, [this, address] { Q_EMIT couldNotOpen(address); }, Qt::QueuedConnection);
    };
    // An argument ends at its first NUL byte, so such an address would open another page.
    if (address.contains('\0')) {
        failed();
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({WatchList::displayText(address)});
    // Its complaints go where Korvane's go; it reads nothing of Korvane's terminal, and, in a
    // session of its own, neither a Ctrl+C there nor the terminal's end reaches the browser.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { ::setsid(); });
    QElapsedTimer running;
    running.start();
    connect(process, &QProcess::finished, this,
            [process, running, failed](int status, QProcess::ExitStatus how) {
                if ((status != 0 || how != QProcess::NormalExit) &&
                    running.elapsed() < HandedOverMs)
                    failed();
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, this, [process, failed](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            failed();
            process->deleteLater();
        }
    });
    process->start();
}
