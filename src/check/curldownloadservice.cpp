// SPDX-License-Identifier: MIT
// The download service over libcurl: the transfer's options, its second tries and what it
// learns of sites that want https.
#include "curldownloadservice.h"

#include "browserrequest.h"
#include "curlfailure.h"
#include "curlsockets.h"
#include "fetchfailure.h"
#include "httpsmemory.h"
#include "lookahead.h"
#include "response.h"
#include "webaddress.h"

#include <QFile>

#include <cerrno>
#include <mutex>
#include <optional>

namespace {

FetchFailure libraryFailure(const char* words)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::Library);
    failure.libraryWords = words;
    return failure;
}

FetchFailure notKept(int error)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::NotKept);
    failure.systemError = error;
    return failure;
}

FetchFailure tooLarge(qint64 limit)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::TooLarge);
    failure.size = limit;
    return failure;
}

FetchFailure waitFailure(const AskedToWait& refusal)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::AskedToWait);
    failure.status = refusal.status;
    failure.until = refusal.until;
    return failure;
}

} // namespace

// The download under way, and the transfer that fetches it (a second transfer follows when the
// first could not use what was prepared, or when a remembered https address failed).
struct CurlDownloadService::Download
{
    PageAddress fetched; // where it is fetched: https when the site asked for it
    bool remembered = false;
    bool fellBack = false;
    bool freshLookUp = false; // the name failed ahead: the DNS cache has nothing to say
    long upgrades = 0;        // redirects asked again at https, counted as redirects
    ResponseBody body;
    Done end;
    AskedToWait refusal; // when the site asked to wait

    PageAddress asked; // what the current transfer asks for
    bool mayUsePrepared = false;
    WebAddress url; // the transfer's own copy of `asked`, which libcurl may change
    char errorText[CURL_ERROR_SIZE] = {};
    FirstAnswer firstAnswer;
    HttpsMemory::Transfer hsts;
    // Last, so that it goes first: it uses the address, the buffers and the body above.
    CurlEasy handle;
};

std::unique_ptr<DownloadService> makeCurlDownloadService(DownloadLimits limits)
{
    return std::make_unique<CurlDownloadService>(std::move(limits));
}

CurlDownloadService::CurlDownloadService(DownloadLimits limits)
    : m_limits(limits), m_userAgent(browserUserAgent()),
      m_requestHeaders(browserHeaders(m_limits.languages)), m_askAgain(m_limits.longestWait)
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
    m_https = std::make_unique<HttpsMemory>(m_limits.httpsMemoryDirectory, m_limits.clock);
    for (const QByteArray& entry : m_limits.connectTo) {
        // The list's head stays the same once there is one.
        curl_slist* list = curl_slist_append(m_connectTo.get(), entry.constData());
        if (list && list != m_connectTo.get())
            m_connectTo.reset(list);
    }
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
        curl_multi_remove_handle(m_multi.get(), m_current->handle.get());
        fail(m_current->asked, libraryFailure(curl_multi_strerror(failed)));
        finish(false);
        return;
    }
    // The multi handle also runs the look-ups and the connection prepared ahead.
    std::optional<CURLcode> ended;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        if (m_current && message->easy_handle == m_current->handle.get())
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
    if (current->handle)
        curl_multi_remove_handle(m_multi.get(), current->handle.get());
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
    d.asked = address;
    d.mayUsePrepared = mayUsePrepared;
    d.firstAnswer = {};
    d.errorText[0] = 0;
    d.url = address.copy();
    if (!d.url) {
        const CURLUcode code = address.isValid() ? CURLUE_OUT_OF_MEMORY : address.error();
        fail(address, FetchFailure::because(FetchFailure::Reason::NotAValidAddress),
             curl_url_strerror(code));
        return false;
    }

    // A fresh handle for every page: a handle that met a failure keeps some of it (libcurl 7.88
    // then refuses options on it after a reset), and one page's failure must never reach the
    // next. Connections and name look-ups live in the multi handle and are still reused.
    d.handle.reset(curl_easy_init());
    if (!d.handle) {
        fail(address, FetchFailure::because(FetchFailure::Reason::OutOfMemory));
        return false;
    }
    if (!applyOptions(d.handle.get(), address)) {
        // The refused option has been logged already.
        setFailure(FetchFailure::because(FetchFailure::Reason::UnsafeLibrary));
        return false;
    }
    // The pages after this one get ready while it downloads; this one may take the connection
    // opened for it while the page before downloaded.
    if (mayUsePrepared && m_lookAhead)
        m_lookAhead->offerPrepared(d.handle.get());

    if (const CURLMcode added = curl_multi_add_handle(m_multi.get(), d.handle.get());
        added != CURLM_OK) {
        fail(address, libraryFailure(curl_multi_strerror(added)));
        return false;
    }
    return true;
}

bool CurlDownloadService::applyOptions(CURL* h, const PageAddress& address)
{
    Download& d = *m_current;
    // The options that protect (schemes, certificates, limits, the body's way to its file) are
    // what the download relies on: one that this libcurl refuses fails the download rather than
    // letting it go ahead without. Those that only tune its pace are tried and let go.
    bool applied = true;
    const auto refused = [&](CURLoption option, CURLcode code) {
        if (code != CURLE_OK) {
            const curl_easyoption* known = curl_easy_option_by_id(option);
            qCInfo(lcFetch, "%s: libcurl refused option %s: %s", address.forLog().constData(),
                   known ? known->name : "?", curl_easy_strerror(code));
        }
        return code != CURLE_OK;
    };
    const auto trySet = [&](CURLoption option, auto value) {
        return !refused(option, curl_easy_setopt(h, option, value));
    };
    const auto set = [&](CURLoption option, auto value) {
        if (applied)
            applied = trySet(option, value);
    };
    set(CURLOPT_ERRORBUFFER, static_cast<char*>(d.errorText));
    set(CURLOPT_CURLU, d.url.get());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, m_limits.maxRedirects);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_FAILONERROR, 1L);
    set(CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.connectTimeout.count()));
    set(CURLOPT_TIMEOUT_MS, long(m_limits.transferTimeout.count()));
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, long(m_limits.stallTime.count()));
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBodyBytes));
    set(CURLOPT_USERAGENT, m_userAgent.constData());
    if (m_requestHeaders)
        set(CURLOPT_HTTPHEADER, m_requestHeaders.get());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, ResponseBody::write);
    set(CURLOPT_WRITEDATA, &d.body);
    set(CURLOPT_HEADERFUNCTION, readHeader);
    set(CURLOPT_HEADERDATA, &d);
    if (!m_limits.trustedCertificates.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(m_limits.trustedCertificates).constData());
    if (m_connectTo)
        set(CURLOPT_CONNECT_TO, m_connectTo.get());
    // A name whose look-up failed ahead is asked again, whatever the cache kept of it; one
    // looked up a while ago, too.
    set(CURLOPT_DNS_CACHE_TIMEOUT, d.freshLookUp ? 0L : NameFreshSeconds);
    // A site's wish for https is kept like the other protections.
    if (applied) {
        const auto [option, code] = m_https->useFor(h, d.asked, d.hsts);
        applied = !refused(option, code);
    }
    if (!applied)
        return false;
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    trySet(CURLOPT_BUFFERSIZE, 256L * 1024);
    // A download given up while its host name is still being looked up does not wait for the
    // look-up to end: the program is ending, and the look-up may hang for many seconds.
    trySet(CURLOPT_QUICK_EXIT, 1L);
    if (m_share)
        trySet(CURLOPT_SHARE, m_share.get());
    return true;
}

size_t CurlDownloadService::readHeader(char* data, size_t size, size_t count, void* download)
{
    auto* d = static_cast<Download*>(download);
    if (d->hsts.memory)
        d->hsts.memory->readHeader(d->hsts, QByteArrayView(data, qsizetype(size * count)));
    return FirstAnswer::read(data, size, count, &d->firstAnswer);
}

void CurlDownloadService::endTransfer()
{
    Download& d = *m_current;
    if (!d.handle)
        return;
    curl_multi_remove_handle(m_multi.get(), d.handle.get());
    d.handle.reset();
    d.hsts = {};
}

void CurlDownloadService::transferEnded(CURLcode result)
{
    Download& d = *m_current;
    Transfer outcome = judge(result);
    long status = 0;
    curl_easy_getinfo(d.handle.get(), CURLINFO_RESPONSE_CODE, &status);
    const PageAddress upgraded = d.hsts.upgraded;
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
    if (m_current->body.restart() && startTransfer(m_current->asked, false))
        return;
    finish(false);
}

CurlDownloadService::Transfer CurlDownloadService::judge(CURLcode result)
{
    Download& d = *m_current;
    CURL* h = d.handle.get();
    const PageAddress& address = d.asked;
    if (result != CURLE_OK && d.mayUsePrepared && m_lookAhead &&
        m_lookAhead->usedPreparedConnection() &&
        (result == CURLE_GOT_NOTHING || result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR)) {
        // The server closed the prepared connection just as the request went out: the page is
        // fetched on a connection of its own, exactly as without preparing.
        long headerBytes = 0;
        curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerBytes);
        if (headerBytes == 0 && d.body.written == 0)
            return Transfer::Again;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && !d.hsts.upgraded.isNull())
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
            fail(address, failureOf(result, h, address), d.errorText[0] ? d.errorText : nullptr);
        return Transfer::Failed;
    }
    if (const PageAddress to = d.firstAnswer.movedTo(d.url); !to.isNull())
        m_https->rememberRedirect(address, to);
    // A site that moved back to http (its https address redirects there) is fetched as listed.
    const char* last = nullptr;
    if (d.remembered && curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &last) == CURLE_OK && last &&
        qstrnicmp(last, "http:", 5) == 0)
        m_https->forgetRedirect(m_page.text());
    return Transfer::Done;
}
