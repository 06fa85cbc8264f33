// SPDX-License-Identifier: MIT
// The download service over libcurl: its handles, and a page's download from its start to its
// end, through each transfer's start.
#include "curldownloadservice.h"

#include "curlfailure.h"
#include "curlsockets.h"
#include "fetchfailure.h"
#include "httpsmemory.h"
#include "lookahead.h"

#include <cerrno>
#include <mutex>
#include <optional>

std::unique_ptr<DownloadService> makeCurlDownloadService(DownloadLimits limits)
{
    return std::make_unique<CurlDownloadService>(std::move(limits));
}

CurlDownloadService::CurlDownloadService(DownloadLimits limits)
    : m_limits(limits), m_settings(m_limits), m_askAgain(m_limits.longestWait)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_share.reset(curl_share_init());
    m_multi.reset(curl_multi_init());
    // Without its DNS cache the share would only hide the look-ahead's work from the downloads.
    if (m_share &&
        (curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
         curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) !=
             CURLSHE_OK))
        m_share.reset();
    m_settings.share = m_share.get();
    m_https = std::make_unique<HttpsMemory>(m_limits.httpsMemoryDirectory, m_limits.clock);
    // A multi handle that cannot be driven from the event loop would need polling: there is
    // no download then.
    m_sockets =
        std::make_unique<CurlSockets>(m_multi.get(), [this](CURLMcode failed) { acted(failed); });
    if (!m_sockets->isDriving()) {
        m_sockets.reset();
        m_multi.reset();
    }
    if (m_multi)
        m_lookAhead = std::make_unique<LookAhead>(
            m_multi.get(), proxyConfigured() ? 0 : m_limits.lookAheadHosts,
            long(m_limits.connectTimeout.count()), m_share.get(),
            [this](const PageAddress& address) { return m_https->addressToFetch(address); });
}

CurlDownloadService::~CurlDownloadService()
{
    cancel();
    m_lookAhead.reset();
    m_sockets.reset();
    m_multi.reset();
    m_https->save();
}

void CurlDownloadService::acted(CURLMcode failed)
{
    if (failed != CURLM_OK && m_current) {
        curl_multi_remove_handle(m_multi.get(), m_current->transfer.handle.get());
        fail(m_current->transfer.asked, libraryFailure(curl_multi_strerror(failed)));
        finish(false);
        return;
    }
    // The multi handle also runs the look-ups and the connection prepared ahead.
    std::optional<CURLcode> ended;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        if (m_current && message->easy_handle == m_current->transfer.handle.get())
            ended = message->data.result;
        else if (m_lookAhead)
            m_lookAhead->finished(message->easy_handle, message->data.result);
    }
    if (ended)
        transferEnded(*ended);
}

void CurlDownloadService::lookAhead(const QByteArrayList& addresses)
{
    // The look-ahead gets ready for the address each page will really be fetched at, which it
    // asks for when the page's turn comes near.
    if (m_lookAhead)
        m_lookAhead->setUpcoming(addresses);
    if (addresses.isEmpty())
        m_https->save();
}

QByteArray CurlDownloadService::addressForLog(const QByteArray& address) const
{
    return address == m_page.text() ? m_page.forLog() : DownloadService::addressForLog(address);
}

void CurlDownloadService::start(const QByteArray& address, const QString& localFile, Done end)
{
    cancel();
    setFailure({});
    m_askAgain.reset();
    // Parsed once for the whole turn: ahead, where the look-ahead had it coming.
    m_page = m_lookAhead ? m_lookAhead->takeTurn(address) : PageAddress(address);
    if (!m_multi) {
        setFailure(FetchFailure::because(FetchFailure::Reason::OutOfMemory));
        end(false);
        return;
    }
    // A site that asked for https, or moved there for good, is fetched there at once.
    bool remembered = false;
    m_https->refresh();
    const PageAddress fetched = m_https->addressToFetch(m_page, &remembered);
    if (fetched.text() != address)
        qCInfo(lcFetch, "%s: fetched as %s", m_page.forLog().constData(),
               fetched.forLog().constData());
    // Every page takes its turn, also one whose download cannot begin, so that the pages after
    // it still get ready.
    const bool freshLookUp = m_lookAhead && m_lookAhead->startTurn(fetched);
    // A NUL byte (a damaged list) would cut the address short: fetch nothing rather than
    // another page.
    if (address.contains('\0')) {
        setFailure(FetchFailure::because(FetchFailure::Reason::NotAValidAddress));
        end(false);
        return;
    }

    auto current = std::make_unique<Download>();
    current->fetched = fetched;
    current->remembered = remembered;
    current->freshLookUp = freshLookUp;
    current->end = std::move(end);
    if (!current->body.open(localFile, m_limits.maxBodyBytes)) {
        fail(m_page, notKept(errno), current->body.partial.constData());
        current->end(false);
        return;
    }
    m_current = std::move(current);
    if (!startTransfer(fetched, true))
        finish(false);
}

void CurlDownloadService::cancel()
{
    if (!m_current)
        return;
    const std::unique_ptr<Download> current = std::move(m_current);
    m_askAgain.reset();
    if (current->transfer.handle)
        curl_multi_remove_handle(m_multi.get(), current->transfer.handle.get());
    fail(m_page, FetchFailure::because(FetchFailure::Reason::GivenUp));
    current->body.discard();
}

void CurlDownloadService::finish(bool kept)
{
    endTransfer();
    const std::unique_ptr<Download> current = std::move(m_current);
    ResponseBody& body = current->body;
    if (!body.close())
        kept = false;
    if (body.tooLarge)
        fail(m_page, tooLarge(body.limit));
    else if (body.error)
        fail(m_page, notKept(body.error));
    if (kept && !body.keep()) {
        fail(m_page, notKept(errno), body.target.constData());
        kept = false;
    }
    if (!kept)
        body.discard();
    current->end(kept);
}

void CurlDownloadService::fail(const PageAddress& address, FetchFailure why, const char* detail)
{
    // The first reason is the one that counts: a body over the limit makes libcurl report a
    // write error too.
    if (!failure().isNone())
        return;
    logFetchFailure(address.forLog(), why, detail);
    setFailure(std::move(why));
}

bool CurlDownloadService::startTransfer(const PageAddress& address, bool mayUsePrepared)
{
    Download& d = *m_current;
    CurlTransfer& t = d.transfer;
    t.asked = address;
    t.mayUsePrepared = mayUsePrepared;
    t.firstAnswer = {};
    t.errorText[0] = 0;
    t.url = address.copy();
    if (!t.url) {
        const CURLUcode code = address.isValid() ? CURLUE_OUT_OF_MEMORY : address.error();
        fail(address, FetchFailure::because(FetchFailure::Reason::NotAValidAddress),
             curl_url_strerror(code));
        return false;
    }

    // A fresh handle for every page: a handle that met a failure keeps some of it (libcurl 7.88
    // then refuses options on it after a reset), and one page's failure must never reach the
    // next. Connections and name look-ups live in the multi handle and are still reused.
    t.handle.reset(curl_easy_init());
    if (!t.handle) {
        fail(address, FetchFailure::because(FetchFailure::Reason::OutOfMemory));
        return false;
    }
    if (!t.applyOptions(m_settings, d.body, d.freshLookUp, *m_https)) {
        // The refused option has been logged already.
        setFailure(FetchFailure::because(FetchFailure::Reason::UnsafeLibrary));
        return false;
    }
    // The pages after this one get ready while it downloads; this one may take the connection
    // opened for it while the page before downloaded.
    if (mayUsePrepared && m_lookAhead)
        m_lookAhead->offerPrepared(t.handle.get());

    if (const CURLMcode added = curl_multi_add_handle(m_multi.get(), t.handle.get());
        added != CURLM_OK) {
        fail(address, libraryFailure(curl_multi_strerror(added)));
        return false;
    }
    return true;
}

void CurlDownloadService::endTransfer()
{
    CurlTransfer& t = m_current->transfer;
    if (!t.handle)
        return;
    curl_multi_remove_handle(m_multi.get(), t.handle.get());
    t.handle.reset();
    t.hsts = {};
}
