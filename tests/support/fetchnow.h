// SPDX-License-Identifier: MIT
// Waits in the event loop for what the check run waits for: one download, one page's text, one
// whole run. A limit ends the wait of a test that fails, which then fails rather than hangs.
#pragma once

#include "checkrun.h"
#include "downloadhtml.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <optional>

inline constexpr int FetchWaitLimitMs = 30'000;

// Runs `start`, which gets a callback to call with the result and returns the handle that keeps
// the download going, until that callback comes.
template <typename Result, typename Start> std::optional<Result> waitForResult(Start start)
{
    QEventLoop loop;
    std::optional<Result> result;
    const DownloadHandle download = start([&](Result got) {
        result = std::move(got);
        loop.quit();
    });
    if (!result) {
        QTimer::singleShot(FetchWaitLimitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result;
}

inline bool downloadNow(DownloadService& service, const QByteArray& address,
                        const QString& localFile)
{
    return waitForResult<bool>(
               [&](auto done) { return service.download(address, localFile, done); })
        .value_or(false);
}

inline bool downloadNow(DownloadService&& service, const QByteArray& address,
                        const QString& localFile)
{
    return downloadNow(service, address, localFile);
}

inline std::optional<QByteArray> fetchNow(PageFetcher& fetcher, const QByteArray& address)
{
    return waitForResult<std::optional<QByteArray>>(
               [&](auto done) { return fetcher.FetchPageText(address, done); })
        .value_or(QByteArray("(no answer in time)"));
}

// A run from its start to its end, finished or stopped; false when it did not end in time.
inline bool runToEnd(CheckRun& run)
{
    QSignalSpy finished(&run, &CheckRun::finished);
    QSignalSpy stopped(&run, &CheckRun::stopped);
    QEventLoop loop;
    QObject::connect(&run, &CheckRun::finished, &loop, &QEventLoop::quit);
    QObject::connect(&run, &CheckRun::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(FetchWaitLimitMs, &loop, &QEventLoop::quit);
    run.VisitALL();
    if (finished.count() + stopped.count() == 0)
        loop.exec();
    return finished.count() + stopped.count() == 1;
}
