// SPDX-License-Identifier: MIT
// What a page's download does when its site asks to be asked again later: a server that
// answers 429 Too Many Requests or 503 Service Unavailable with Retry-After (as many do when
// several pages of one site come back to back) is waited for once, when the wait is short, and
// then asked again; otherwise the page fails with the time the site named.
#pragma once

#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

#include <curl/curl.h>

// A page refused because its site asked to wait: the answer's status (429 or 503), how long
// the site asked to wait, and until when.
struct AskedToWait
{
    long status = 0;
    std::chrono::seconds wait{0};
    QDateTime until;
};

// What the transfer on `handle`, which ended with `result`, was asked: a Retry-After (seconds
// or a date, as libcurl gives it) on a 429 or 503; nullopt for any other end, or an answer
// without Retry-After. `clock` gives the time now in seconds since the epoch; empty for the
// system's.
std::optional<AskedToWait> askedToWait(CURL* handle, CURLcode result,
                                       const std::function<qint64()>& clock);

// The wait of one page at a time, on the event loop: the window stays live meanwhile, and
// nothing waits when the download is given up.
class AskAgain final
{
public:
    explicit AskAgain(std::chrono::seconds longestWait);

    // Waits `wait`, then calls `again`; false, calling nothing, when the wait is longer than the
    // longest, or when this page was waited for already: a site that refuses twice is not
    // asked a third time.
    bool waitThenAskAgain(std::chrono::seconds wait, std::function<void()> again);

    // The next page starts afresh; a wait under way ends at once, calling nothing.
    void reset();

private:
    std::chrono::seconds m_longest;
    QTimer m_timer;
    std::function<void()> m_again;
    bool m_waited = false;
};
