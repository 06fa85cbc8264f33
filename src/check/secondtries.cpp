// SPDX-License-Identifier: MIT
// The download service's retry policy: what the end of a page's transfer means, and when
// another follows, on a connection of its own when the one prepared ahead died before any
// answer, at https when a redirect led to an http address whose host asked for it, after the
// wait a site asked for, and as listed when a remembered https address failed.
#include "curldownloadservice.h"

#include "curlfailure.h"
#include "fetchfailure.h"
#include "httpsmemory.h"
#include "lookahead.h"

namespace {

FetchFailure waitFailure(const AskedToWait& refusal)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::AskedToWait);
    failure.status = refusal.status;
    failure.until = refusal.until;
    return failure;
}

} // namespace

void CurlDownloadService::transferEnded(CURLcode result)
{
    Download& d = *m_current;
    Transfer outcome = judge(result);
    long status = 0;
    curl_easy_getinfo(d.transfer.handle.get(), CURLINFO_RESPONSE_CODE, &status);
    const PageAddress upgraded = d.transfer.hsts.upgraded();
    endTransfer();
    if (outcome == Transfer::Upgrade) {
        if (++d.upgrades <= m_limits.maxRedirects && d.body.restart() &&
            startTransfer(upgraded, false))
            return;
        fail(m_page, failureOf(CURLE_TOO_MANY_REDIRECTS, nullptr));
        outcome = Transfer::Failed;
    }
    if (outcome == Transfer::Again) {
        if (startTransfer(d.fetched, false))
            return;
        outcome = Transfer::Failed;
    }
    // The site is there, and says when it answers again: it is asked once more after a short
    // wait, and otherwise the page fails with the time it named.
    const bool refused = outcome == Transfer::AskedToWait;
    if (refused) {
        if (m_askAgain.waitThenAskAgain(d.refusal.wait, [this] { askAgain(); })) {
            tellWaiting({m_page.host(), d.refusal.wait});
            return;
        }
        fail(m_page, waitFailure(d.refusal));
        outcome = Transfer::Failed;
    }
    const bool page = outcome == Transfer::Done && status >= 200 && status <= 299;
    if (!page && !refused && d.remembered && !d.fellBack && !d.body.failed) {
        // The https address of a remembered redirect did not give the page: it is fetched where
        // the list says, and the redirect is forgotten. A site under HSTS gets no such second
        // try: that is what HSTS is for.
        qCInfo(lcFetch, "%s: %s failed, fetched as listed", m_page.forLog().constData(),
               d.fetched.forLog().constData());
        m_https->forgetRedirect(m_page.text());
        setFailure({});
        d.fellBack = true;
        if (d.body.restart() && startTransfer(m_page, false))
            return;
    }
    finish(outcome == Transfer::Done);
}

void CurlDownloadService::askAgain()
{
    if (!m_current)
        return;
    tellWaiting({m_page.host(), std::chrono::seconds(0)});
    if (m_current->body.restart() && startTransfer(m_current->transfer.asked, false))
        return;
    finish(false);
}

CurlDownloadService::Transfer CurlDownloadService::judge(CURLcode result)
{
    Download& d = *m_current;
    CurlTransfer& t = d.transfer;
    CURL* h = t.handle.get();
    const PageAddress& address = t.asked;
    if (result != CURLE_OK && t.mayUsePrepared && m_lookAhead &&
        m_lookAhead->usedPreparedConnection() &&
        (result == CURLE_GOT_NOTHING || result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR)) {
        // The server closed the prepared connection just as the request went out: the page is
        // fetched on a connection of its own, exactly as without preparing.
        long headerBytes = 0;
        curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerBytes);
        if (headerBytes == 0 && d.body.written == 0)
            return Transfer::Again;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && !t.hsts.upgraded().isNull())
        return Transfer::Upgrade;
    if (result != CURLE_OK) {
        if (const auto refusal = askedToWait(h, result, m_limits.clock)) {
            d.refusal = *refusal;
            return Transfer::AskedToWait;
        }
        // The body's own failure (too large, a full disk) is told by finish(), which knows it.
        if (result == CURLE_FILESIZE_EXCEEDED)
            fail(address, tooLarge(m_limits.maxBodyBytes));
        else if (result != CURLE_WRITE_ERROR || !d.body.failed)
            fail(address, failureOf(result, h, address), t.errorText[0] ? t.errorText : nullptr);
        return Transfer::Failed;
    }
    if (const PageAddress to = t.firstAnswer.movedTo(t.url); !to.isNull())
        m_https->rememberRedirect(address, to);
    // A site that moved back to http (its https address redirects there) is fetched as listed.
    const char* last = nullptr;
    if (d.remembered && curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &last) == CURLE_OK && last &&
        qstrnicmp(last, "http:", 5) == 0)
        m_https->forgetRedirect(m_page.text());
    return Transfer::Done;
}
