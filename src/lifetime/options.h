// SPDX-License-Identifier: MIT
// The times and clocks the program's parts are built with: main.cpp takes the defaults, which
// suit people; tests pass short ones, so that a test waits milliseconds where a person waits
// seconds.
#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>

struct Options
{
    // How long Korvane must see websites.ini unchanged before another program's change counts
    // as finished: editors and scripts that write in steps pause for less.
    std::chrono::milliseconds settleTime{2000};
    // How often a save that failed is tried again (a full disk may have room again).
    std::chrono::milliseconds saveRetryTime{5000};
    // A run that ends sooner than this ends without a desktop notice: the user has not gone away.
    std::chrono::milliseconds noticeAfter{5000};
    // The time recovery files are named after, and the time a check finds a change at; empty
    // for the current time.
    std::function<QDateTime()> now;
    // The folder that keeps what checks found of each list's sites, from one start to the next
    // (the user's state folder); empty: kept only while the program runs.
    QString findingsDirectory;
};
