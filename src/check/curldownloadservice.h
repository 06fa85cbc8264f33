// SPDX-License-Identifier: MIT
// The download service over libcurl: one page at a time on a shared multi handle, each page in
// one transfer or, by the retry policy (secondtries.cpp), a few.
#pragma once

#include "askagain.h"
#include "curltransfer.h"
#include "downloadservice.h"
#include "handles.h"
#include "response.h"
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
    // The page under way, and the transfer that fetches it.
    struct Download
    {
        PageAddress fetched; // where it is fetched: https when the site asked for it
        bool remembered = false;
        bool fellBack = false;
        bool freshLookUp = false; // the name failed ahead: the DNS cache has nothing to say
        long upgrades = 0;        // redirects asked again at https, counted as redirects
        ResponseBody body;
        Done end;
        AskedToWait refusal; // when the site asked to wait
        // Last, so that it goes first: its handle writes to the body above.
        CurlTransfer transfer;
    };
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
    void acted(CURLMcode failed);
    // The transfer's handle goes, and with it what the https memory handed it.
    void endTransfer();
    void finish(bool kept);
    void fail(const PageAddress& address, FetchFailure why, const char* detail = nullptr);

    // The retry policy, in secondtries.cpp.
    Transfer judge(CURLcode result);
    void transferEnded(CURLcode result);
    // The wait the site asked for is over: the page is asked for again.
    void askAgain();

    DownloadLimits m_limits;
    // TLS sessions and name look-ups, shared by every page of every run while Korvane is open:
    // a site visited again resumes its TLS session. It outlives the multi handle that uses it.
    CurlShare m_share;
    CurlMulti m_multi;
    std::unique_ptr<CurlSockets> m_sockets;
    std::unique_ptr<HttpsMemory> m_https;
    TransferSettings m_settings;
    AskAgain m_askAgain;
    std::unique_ptr<LookAhead> m_lookAhead;
    std::unique_ptr<Download> m_current;
    // The page of the latest turn, as listed: kept after its download for the log lines about it.
    PageAddress m_page;
};
