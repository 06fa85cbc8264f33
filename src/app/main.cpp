// Starts Korvane: the application object, the main window, the event loop.
#include "datadirectory.h"
#include "mainwindow.h"
#include "singleinstance.h"
#include "urlopener.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("com.korvane.Korvane"));

    // One window per list: a second start on the same list brings the first one forward.
    const QString dataDirectory = dataDirectoryForThisProgram();
    SingleInstance instance(dataDirectory);
    if (!instance.claim())
        return 0;

    MainWindow window(dataDirectory, std::make_unique<XdgOpener>());
    QObject::connect(&instance, &SingleInstance::anotherStartAsked, &window, [&window] {
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.show();
        window.raise();
        window.activateWindow();
    });
    window.show();
    return app.exec();
}
