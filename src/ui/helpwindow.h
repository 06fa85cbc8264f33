// SPDX-License-Identifier: MIT
// The help page in a window of Korvane's own, for a desktop where no browser could open it.
#pragma once

#include <QTextBrowser>
#include <QUrl>

class HelpWindow final : public QTextBrowser
{
    Q_OBJECT
public:
    // A window of its own, in front of `parent`, which it goes with.
    explicit HelpWindow(QWidget* parent);

    // Shows `page` (a file on this computer, or the page built into the program when empty),
    // in front.
    void showPage(const QUrl& page);
};
