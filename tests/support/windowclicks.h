// SPDX-License-Identifier: MIT
// Clicks where a user clicks on the main window. QTest::mouseClick on a widget skips the
// window's own hit-testing, so these click the window at the widget's place instead.
#pragma once

#include "clickarea.h"
#include "mainwindow.h"
#include "sitegrid.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

inline void clickInWindow(MainWindow& window, QWidget* widget, QPoint point,
                          Qt::KeyboardModifiers keys = {})
{
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, keys, widget->mapTo(&window, point));
}

// One of the drawn buttons, by its name ("Label3" is Go Look!, "Label6" remove).
inline void clickDrawnButton(MainWindow& window, const char* name)
{
    auto* area = window.findChild<ClickArea*>(name);
    QVERIFY(area);
    clickInWindow(window, area, area->rect().center());
}

// The middle of a cell of the grid; `row` counts the header row as 0.
inline void clickCell(MainWindow& window, int row, int col)
{
    SiteGrid* grid = window.grid();
    const QRect cell = grid->visualRect(window.watchList().index(row - 1, col));
    clickInWindow(window, grid->viewport(), cell.center());
}

// A check run goes on from the event loop after the command that started it has returned:
// this handles events until it has ended. False when it did not end within `limitMs`.
inline bool waitForCheckRun(MainWindow& window, int limitMs = 30'000)
{
    const QDeadlineTimer deadline(limitMs);
    // Wakes the wait even when nothing else happens, so that the limit is seen.
    QTimer wake;
    wake.start(50);
    while (window.runUnderWay() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return !window.runUnderWay();
}
