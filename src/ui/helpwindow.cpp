// SPDX-License-Identifier: MIT
// A text browser over the help page: its links to places in the page, and to other pages
// beside it, are followed inside the window.
#include "helpwindow.h"

HelpWindow::HelpWindow(QWidget* parent) : QTextBrowser(parent)
{
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("Korvane help"));
    // Room for the page's lines (42 em) and margins.
    resize(fontMetrics().averageCharWidth() * 90, fontMetrics().height() * 36);
    // An address on the web goes to the desktop, as a browser would have it.
    setOpenExternalLinks(true);
}

void HelpWindow::showPage(const QUrl& page)
{
    // The page is compiled into this static library, which the linker would otherwise drop.
    Q_INIT_RESOURCE(help);
    setSource(page.isEmpty() ? QUrl(QStringLiteral("qrc:/help/help.html")) : page);
    show();
    raise();
    activateWindow();
}
