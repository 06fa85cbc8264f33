// SPDX-License-Identifier: MIT
// Starts Korvane: a display to show it on, the end signals, the application object, the claim on
// the list, the main window with what it checks pages with, the desktop's view of its runs, the
// event loop.
#include "alreadyopen.h"
#include "checkrun.h"
#include "datadirectory.h"
#include "datetimetext.h"
#include "desktopprogress.h"
#include "downloadhtml.h"
#include "endsignals.h"
#include "korvaneversion.h"
#include "mainwindow.h"
#include "nodisplay.h"
#include "sessionbus.h"
#include "singleinstance.h"
#include "statewords.h"
#include "urlopener.h"
#include "watchlistfile.h"

#include <QApplication>
#include <QFileInfo>
#include <QStandardPaths>

int main(int argc, char* argv[])
{
    // Without a display Qt would abort in words of its own: Korvane says what it looked for, in
    // one line, having touched nothing.
    if (const DisplayLookup display = lookForDisplay(argc, argv); !display.reachable) {
        tellNoDisplay(display);
        return 1;
    }
    // Before anything else: a logout or Ctrl+C in the first milliseconds waits to be handled
    // instead of killing the program.
    EndSignals::holdBack();
    // A session bus that does not answer is found out before Qt asks it, and kept from Qt.
    SessionBusGuard sessionBus;
    QApplication app(argc, argv);
    sessionBus.settle();
    // The menus stay in the window, and off the session bus: a global menu is asked for over
    // D-Bus with blocking calls, which a bus that does not answer holds for 25 s. Set once the
    // application exists, as KDE's platform theme sets it back when it is made.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.korvane.Korvane"));
    EndSignals endSignals;
    // The fetch log says why a page failed in the words its mark shows.
    setFetchFailureWords(fetchFailureText);

    // Never the folder Korvane happens to be started from: a list there would be another one
    // for every folder, and nothing would say so.
    QStringList refusals;
    const QString dataDirectory = dataDirectoryForThisProgram(&refusals);
    if (dataDirectory.isEmpty()) {
        tellNoPlaceForTheList(refusals);
        return 1;
    }
    // One window per list: a second start on the same list brings the first one forward. A
    // list that is a link to a file elsewhere is guarded where that file is, so that every
    // link to it meets the same lock.
    const QString realList = QFileInfo(watchListPath(dataDirectory)).canonicalFilePath();
    SingleInstance instance(realList.isEmpty() ? dataDirectory
                                               : QFileInfo(realList).absolutePath());
    switch (instance.claim()) {
    case SingleInstance::Claim::Owner:
        break;
    case SingleInstance::Claim::Raised:
        return 0;
    case SingleInstance::Claim::AlreadyOpen:
        // A logout while the message is up takes it away.
        QObject::connect(&endSignals, &EndSignals::endRequested, &app,
                         &QApplication::closeAllWindows);
        tellListAlreadyOpen(watchListPath(dataDirectory));
        return 0;
    }
    // Asked to end before the list is loaded: there is nothing to save.
    if (endSignals.hasPendingRequest())
        return 0;

    CheckTools checkTools;
    DownloadLimits limits;
    limits.httpsMemoryDirectory = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    checkTools.downloads = makeCurlDownloadService(limits);
    checkTools.fetcher =
        std::make_unique<PageFetcher>(*checkTools.downloads, temporaryDownloadPath(dataDirectory));
    checkTools.now = nowAsGeneralDateTimeText;

    // The times a person needs: tests build their windows with shorter ones.
    Options options;
    options.findingsDirectory = findingsDirectoryForThisUser();
    MainWindow window(dataDirectory, std::make_unique<XdgOpener>(), std::move(checkTools), options);
    QObject::connect(&instance, &SingleInstance::anotherStartAsked, &window,
                     &MainWindow::bringForward);
    // A dialog of Korvane's in front counts as being there: the run's end shows behind it.
    DesktopProgress desktop(
        QGuiApplication::desktopFileName(), [] { return QApplication::activeWindow() != nullptr; },
        options.noticeAfter);
    QObject::connect(&window, &MainWindow::checkRunStarted, &desktop, &DesktopProgress::follow);
    QObject::connect(&desktop, &DesktopProgress::noticeActivated, &window,
                     &MainWindow::bringForward);
    QObject::connect(&endSignals, &EndSignals::endRequested, &window, &MainWindow::endOnRequest);
    // At once, out of any dialog that is open: no further handler runs.
    QObject::connect(&window, &MainWindow::finished, &app, [] { QCoreApplication::exit(0); });
    window.show();
    return app.exec();
}
