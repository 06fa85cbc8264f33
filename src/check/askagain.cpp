// SPDX-License-Identifier: MIT
// Waiting once for a site that asked to be asked again later.
#include "askagain.h"

#include <algorithm>
#include <utility>

std::optional<AskedToWait> askedToWait(CURL* handle, CURLcode result,
                                       const std::function<qint64()>& clock)
{
    long status = 0;
    curl_off_t seconds = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    // 0 when the header is missing, and also for a date that has passed: nothing to wait for.
    if (result != CURLE_HTTP_RETURNED_ERROR || (status != 429 && status != 503) ||
        curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &seconds) != CURLE_OK || seconds <= 0)
        return std::nullopt;
    // A wait of years is as good as never, and keeps the time it names within reach.
    constexpr curl_off_t AYear = 366LL * 24 * 60 * 60;
    seconds = std::min(seconds, AYear);
    const qint64 now = clock ? clock() : QDateTime::currentSecsSinceEpoch();
    return AskedToWait{status, std::chrono::seconds(seconds),
                       QDateTime::fromSecsSinceEpoch(now + qint64(seconds))};
}

AskAgain::AskAgain(std::chrono::seconds longestWait) : m_longest(longestWait)
{
    m_timer.setSingleShot(true);
    // Not a moment before the site said: a coarse timer may come 5% early.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.callOnTimeout([this] {
        if (m_again)
            std::exchange(m_again, {})();
    });
}

bool AskAgain::waitThenAskAgain(std::chrono::seconds wait, std::function<void()> again)
{
    if (m_waited || wait > m_longest)
        return false;
    m_waited = true;
    m_again = std::move(again);
    m_timer.start(wait);
    return true;
}

void AskAgain::reset()
{
    m_timer.stop();
    m_again = {};
    m_waited = false;
}
