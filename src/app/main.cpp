// Starts Korvane: the application object, the main window, the event loop.
#include "datadirectory.h"
#include "mainwindow.h"
#include "urlopener.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(KORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("korvane"));

    MainWindow window(dataDirectoryForThisProgram(), std::make_unique<XdgOpener>());
    window.show();
    return app.exec();
}
