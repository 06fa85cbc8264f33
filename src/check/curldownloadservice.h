// SPDX-License-Identifier: MIT
// The download service over libcurl: one transfer at a time on a shared multi handle, with the
// policy around it (the options that protect, a second try, the https memory).
#pragma once

#include "askagain.h"
#include "downloadservice.h"
#include "handles.h"
#include "webaddress.h"

#include <memory>

class CurlSockets;
class HttpsMemory;
class LookAhead;

// HTTP and HTTPS only (redirects included), certificates verified, bodies decoded, statuses of
// 400 and above failed. Each download has a handle of its own on one multi handle, which keeps
// the connections and name look-ups from one page to the next. Why a download failed is kept in
// failure() and logged under "korvane.fetch" (off unless QT_LOGGING_RULES turns it on).
class CurlDownloadService final : public DownloadService
{
public:
    explicit CurlDownloadService(DownloadLimits limits = {});
    ~CurlDownloadService() override;
    CurlDownloadService(const CurlDownloadService&) = delete;
    CurlDownloadService& operator=(const CurlDownloadService&) = delete;

    void lookAhead(const QByteArrayList& addresses) override;
    QByteArray addressForLog(const QByteArray& address) const override;

protected:
    void start(const QByteArray& address, const QString& localFile, Done end) override;
    void cancel() override;

private:
    struct Download;
    enum class Transfer
    {
        Done,
        Failed,
        // The connection prepared ahead died before any answer: the page is fetched afresh.
        Again,
        // A redirect led to an http address whose host asked for https: asked there instead.
        Upgrade,
        // The site asked to be asked again later.
        AskedToWait,
    };
    // False when the transfer could not begin; why is in failure().
    bool startTransfer(const PageAddress& address, bool mayUsePrepared);
    bool applyOptions(CURL* handle, const PageAddress& address);
    void acted(CURLMcode failed);
    void transferEnded(CURLcode result);
    // The wait the site asked for is over: the page is asked for again.
    void askAgain();
    // CURLOPT_HEADERFUNCTION: the first answer, and what each answer asks of the https memory.
    static size_t readHeader(char* data, size_t size, size_t count, void* download);
    // The transfer's handle goes, and with it what the https memory handed it.
    void endTransfer();
    Transfer judge(CURLcode result);
    void finish(bool kept);
    void fail(const PageAddress& address, FetchFailure why, const char* detail = nullptr);

    DownloadLimits m_limits;
    // TLS sessions and name look-ups, shared by every page of every run while Korvane is open:
    // a site visited again resumes its TLS session. It outlives the multi handle that uses it.
    CurlShare m_share;
    CurlMulti m_multi;
    std::unique_ptr<CurlSockets> m_sockets;
    std::unique_ptr<HttpsMemory> m_https;
    CurlSlist m_connectTo;
    QByteArray m_userAgent;
    CurlSlist m_requestHeaders;
    AskAgain m_askAgain;
    std::unique_ptr<LookAhead> m_lookAhead;
    std::unique_ptr<Download> m_current;
    // The page of the latest turn, as listed: kept after its download for the log lines about it.
    PageAddress m_page;
};
