// SPDX-License-Identifier: MIT
// The download service over libcurl and the page fetcher.
#include "downloadhtml.h"

#include "fetchfailure.h"
#include "httpsmemory.h"
#include "korvaneversion.h"
#include "lookahead.h"
#include "strip.h"
#include "webaddress.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

// Why a page could not be fetched, for a user who asks: QT_LOGGING_RULES="korvane.fetch=true".
Q_LOGGING_CATEGORY(lcFetch, "korvane.fetch", QtWarningMsg)

namespace {

constexpr char UserAgent[] = "Korvane/" KORVANE_VERSION;
constexpr qsizetype ShortestPage = 20;
constexpr char ErrorWord[] = "error";

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Where the body goes while it arrives: a file of our own beside the target, renamed over the
// target only once the whole body is there.
struct BodySink
{
    int fd = -1;
    qint64 written = 0;
    qint64 limit = 0;
    bool failed = false;
    bool tooLarge = false;
    int error = 0; // errno of a write the disk refused
};

// The first answer of a transfer, which a redirect then follows: a permanent redirect from http
// to https is remembered.
struct FirstAnswer
{
    int answers = 0;
    long status = 0;
    QByteArray location;
};

size_t readHeader(char* data, size_t size, size_t count, void* userdata)
{
    auto* first = static_cast<FirstAnswer*>(userdata);
    const QByteArrayView line(data, qsizetype(size * count));
    if (line.startsWith("HTTP/")) {
        if (++first->answers == 1) {
            const QList<QByteArray> parts = line.toByteArray().simplified().split(' ');
            first->status = parts.value(1).toLong();
        }
    } else if (first->answers == 1 && line.size() > 9 &&
               QByteArrayView(line.first(9)).compare("location:", Qt::CaseInsensitive) == 0) {
        first->location = line.sliced(9).toByteArray().trimmed();
    }
    return size * count;
}

size_t writeBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* sink = static_cast<BodySink*>(userdata);
    const size_t bytes = size * count;
    // Counted on what arrives, not on what the server announced, so that a lying or missing
    // Content-Length cannot fill memory or disk.
    if (sink->written + qint64(bytes) > sink->limit) {
        sink->failed = sink->tooLarge = true;
        return 0;
    }
    if (const ssize_t n = ::write(sink->fd, data, bytes); n != ssize_t(bytes)) {
        sink->failed = true;
        sink->error = n < 0 ? errno : ENOSPC;
        return 0;
    }
    sink->written += qint64(bytes);
    return bytes;
}

// The address as a log line shows it: a password in it (user:password@host) becomes "***",
// since logs are pasted into bug reports.
QByteArray forLog(const QByteArray& address)
{
    const qsizetype schemeEnd = address.indexOf("://");
    const qsizetype from = schemeEnd < 0 ? 0 : schemeEnd + 3;
    qsizetype authorityEnd = from;
    while (authorityEnd < address.size() && !QByteArrayView("/?#").contains(address[authorityEnd]))
        ++authorityEnd;
    const qsizetype at = address.lastIndexOf('@', authorityEnd - 1);
    if (at < from)
        return address;
    const qsizetype colon = address.indexOf(':', from);
    if (colon < 0 || colon > at)
        return address;
    return address.first(colon + 1) + "***" + address.sliced(at);
}

// The whole file in one read where it can: a check run reads one file per page, so the plain
// system calls matter next to a fast loopback download.
std::optional<QByteArray> readWholeFile(const QByteArray& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info
    {};
    QByteArray bytes;
    bool ok = ::fstat(fd, &info) == 0;
    if (ok) {
        bytes.resize(qsizetype(info.st_size));
        qsizetype got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
            ok = n > 0;
            got += ok ? n : 0;
        }
    }
    ok = ::close(fd) == 0 && ok;
    return ok ? std::optional<QByteArray>(std::move(bytes)) : std::nullopt;
}

// libcurl reads these itself; a page fetched through a proxy gains nothing from a connection
// to its host.
bool proxyConfigured()
{
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    return false;
}

} // namespace

CurlDownloadService::CurlDownloadService(DownloadLimits limits) : m_limits(limits)
{
    initCurlOnce();
    m_multi = curl_multi_init();
    m_share = curl_share_init();
    if (m_share) {
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    m_https = std::make_unique<HttpsMemory>(m_limits.httpsMemoryDirectory);
    if (m_multi)
        m_lookAhead =
            std::make_unique<LookAhead>(m_multi, proxyConfigured() ? 0 : m_limits.lookAheadHosts,
                                        long(m_limits.connectTimeout.count()), m_share);
}

CurlDownloadService::~CurlDownloadService()
{
    m_lookAhead.reset();
    if (m_multi)
        curl_multi_cleanup(m_multi);
    if (m_share)
        curl_share_cleanup(m_share);
    m_https->save();
}

void CurlDownloadService::lookAhead(const QByteArrayList& addresses)
{
    if (m_busy)
        return;
    // The look-ahead gets ready for the address each page will really be fetched at.
    QByteArrayList fetched;
    fetched.reserve(addresses.size());
    for (const QByteArray& address : addresses)
        fetched << m_https->addressToFetch(address);
    if (m_lookAhead)
        m_lookAhead->setUpcoming(fetched);
    if (addresses.isEmpty())
        m_https->save();
}

bool CurlDownloadService::download(const QByteArray& address, const QString& localFile)
{
    // A NUL byte (a damaged list) would cut the address short: fetch nothing rather than
    // another page. A download asked for from inside the waiting handler would run inside the
    // one that is waiting, on the same multi handle.
    setErrorString({});
    if (!m_multi || m_busy)
        return false;
    // A site that asked for https, or moved there for good, is fetched there at once.
    bool remembered = false;
    const QByteArray fetched = m_https->addressToFetch(address, &remembered);
    if (fetched != address)
        qCInfo(lcFetch, "%s: fetched as %s", forLog(address).constData(),
               forLog(fetched).constData());
    // Every page takes its turn, also one whose download cannot begin, so that the pages after
    // it still get ready.
    const QString known = m_lookAhead ? m_lookAhead->startTurn(fetched) : QString();
    if (address.contains('\0')) {
        setErrorString(QStringLiteral("Not a valid address"));
        return false;
    }
    if (!known.isEmpty()) {
        fail(address, known, "looked up before in this run");
        return false;
    }

    const QByteArray target = QFile::encodeName(localFile);
    const QByteArray partial = target + ".part";
    BodySink sink;
    sink.limit = m_limits.maxBodyBytes;
    sink.fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (sink.fd < 0) {
        fail(address, notKeptText(errno), partial.constData());
        return false;
    }

    m_busy = true;
    Transfer outcome = transfer(fetched, &sink, true);
    if (outcome == Transfer::Again)
        outcome = transfer(fetched, &sink, false);
    if (outcome == Transfer::Failed && remembered && !m_answered && !sink.failed) {
        // The https address of a remembered redirect failed before any answer: the page is
        // fetched where the list says, as before, and the redirect is forgotten. A site under
        // HSTS gets no such second try: that is what HSTS is for.
        qCInfo(lcFetch, "%s: %s failed, fetched as listed", forLog(address).constData(),
               forLog(fetched).constData());
        m_https->forgetRedirect(address);
        setErrorString({});
        outcome = transfer(address, &sink, false);
    }
    bool kept = outcome == Transfer::Done;
    m_busy = false;

    if (::close(sink.fd) != 0 && kept) {
        sink.error = errno;
        kept = false;
    }
    if (sink.tooLarge)
        fail(address, QStringLiteral("The page is larger than %1").arg(sizeText(sink.limit)));
    else if (sink.error)
        fail(address, notKeptText(sink.error));
    if (kept && std::rename(partial.constData(), target.constData()) != 0) {
        fail(address, notKeptText(errno), target.constData());
        kept = false;
    }
    if (!kept)
        std::remove(partial.constData());
    return kept;
}

void CurlDownloadService::fail(const QByteArray& address, QString why, const char* detail)
{
    // The first reason is the one that counts: a body over the limit makes libcurl report a
    // write error too.
    if (!errorString().isEmpty())
        return;
    if (detail && *detail)
        qCInfo(lcFetch, "%s: %s (%s)", forLog(address).constData(), qUtf8Printable(why), detail);
    else
        qCInfo(lcFetch, "%s: %s", forLog(address).constData(), qUtf8Printable(why));
    setErrorString(std::move(why));
}

CurlDownloadService::Transfer CurlDownloadService::transfer(const QByteArray& address,
                                                            void* bodySink, bool mayUsePrepared)
{
    CURLUcode code = CURLUE_OK;
    const WebAddress url = parseWebAddress(address, &code);
    if (!url) {
        fail(address, QStringLiteral("Not a valid address"), curl_url_strerror(code));
        return Transfer::Failed;
    }

    // A fresh handle for every page: a handle that met a failure keeps some of it (libcurl 7.88
    // then refuses options on it after a reset), and one page's failure must never reach the
    // next. Connections and name look-ups live in the multi handle and are still reused.
    char errorText[CURL_ERROR_SIZE] = {};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
        fail(address, QStringLiteral("Out of memory"));
        return Transfer::Failed;
    }
    CURL* h = handle.get();
    // The options that protect (schemes, certificates, limits, the body's way to its file) are
    // what the download relies on: one that this libcurl refuses fails the download rather than
    // letting it go ahead without. Those that only tune its pace are tried and let go.
    bool applied = true;
    const auto trySet = [&](CURLoption option, auto value) {
        const CURLcode code = curl_easy_setopt(h, option, value);
        if (code != CURLE_OK) {
            const curl_easyoption* known = curl_easy_option_by_id(option);
            qCInfo(lcFetch, "%s: libcurl refused option %s: %s", forLog(address).constData(),
                   known ? known->name : "?", curl_easy_strerror(code));
        }
        return code == CURLE_OK;
    };
    const auto set = [&](CURLoption option, auto value) {
        if (applied)
            applied = trySet(option, value);
    };
    set(CURLOPT_ERRORBUFFER, static_cast<char*>(errorText));
    set(CURLOPT_CURLU, url.get());
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
    set(CURLOPT_USERAGENT, UserAgent);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, writeBody);
    set(CURLOPT_WRITEDATA, bodySink);
    FirstAnswer firstAnswer;
    set(CURLOPT_HEADERFUNCTION, readHeader);
    set(CURLOPT_HEADERDATA, &firstAnswer);
    if (!m_limits.trustedCertificates.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(m_limits.trustedCertificates).constData());
    if (!applied) {
        // The refused option has been logged already.
        setErrorString(QStringLiteral("This computer's libcurl cannot fetch pages safely"));
        return Transfer::Failed;
    }
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    trySet(CURLOPT_BUFFERSIZE, 256L * 1024);
    // A download given up while its host name is still being looked up does not wait for the
    // look-up to end: the program is ending, and the look-up may hang for many seconds.
    trySet(CURLOPT_QUICK_EXIT, 1L);
    if (m_share)
        trySet(CURLOPT_SHARE, m_share);
    m_https->useFor(h);

    // The pages after this one get ready while it downloads; this one may take the connection
    // opened for it while the page before downloaded.
    if (mayUsePrepared && m_lookAhead)
        m_lookAhead->offerPrepared(h);

    // The multi interface lets the wait be cut into short slices, between which the waiting
    // handler runs: a host that is slow to resolve, connect or answer never holds the caller
    // longer than one slice.
    if (const CURLMcode code = curl_multi_add_handle(m_multi, h); code != CURLM_OK) {
        fail(address, QString::fromUtf8(curl_multi_strerror(code)));
        return Transfer::Failed;
    }
    using Clock = std::chrono::steady_clock;
    auto lastWaiting = Clock::now();
    int running = 1;
    bool givenUp = false;
    bool done = false;
    CURLcode result = CURLE_FAILED_INIT;
    CURLMcode multiCode = CURLM_OK;
    // The multi handle also runs the look-ups and the connection prepared ahead: only this
    // page's end ends the wait.
    const auto collectEnds = [&] {
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            if (message->easy_handle == h) {
                done = true;
                result = message->data.result;
            } else if (m_lookAhead) {
                m_lookAhead->finished(message->easy_handle, message->data.result);
            }
        }
    };
    for (;;) {
        multiCode = curl_multi_perform(m_multi, &running);
        if (multiCode != CURLM_OK)
            break;
        collectEnds();
        if (done)
            break;
        multiCode =
            curl_multi_poll(m_multi, nullptr, 0, int(WaitingHandlerInterval.count()), nullptr);
        if (multiCode != CURLM_OK)
            break;
        if (const auto now = Clock::now(); now - lastWaiting >= WaitingHandlerInterval) {
            givenUp = !whileWaiting();
            if (givenUp)
                break;
            lastWaiting = Clock::now();
        }
    }
    curl_multi_remove_handle(m_multi, h);
    m_answered = firstAnswer.answers > 0;

    if (givenUp) {
        fail(address, QStringLiteral("Given up: Korvane is ending"));
        return Transfer::Failed;
    }
    if (multiCode != CURLM_OK) {
        fail(address, QString::fromUtf8(curl_multi_strerror(multiCode)));
        return Transfer::Failed;
    }
    if (result != CURLE_OK && mayUsePrepared && m_lookAhead &&
        m_lookAhead->usedPreparedConnection() &&
        (result == CURLE_GOT_NOTHING || result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR)) {
        // The server closed the prepared connection just as the request went out: the page is
        // fetched on a connection of its own, exactly as without preparing.
        long headerBytes = 0;
        curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerBytes);
        if (headerBytes == 0 && static_cast<BodySink*>(bodySink)->written == 0)
            return Transfer::Again;
    }
    if (result != CURLE_OK) {
        // The body's own failure (too large, a full disk) is told by download(), which knows it.
        if (result == CURLE_FILESIZE_EXCEEDED)
            fail(address,
                 QStringLiteral("The page is larger than %1").arg(sizeText(m_limits.maxBodyBytes)));
        else if (result != CURLE_WRITE_ERROR || !static_cast<BodySink*>(bodySink)->failed)
            fail(address, reasonFor(result, h), errorText[0] ? errorText : nullptr);
        return Transfer::Failed;
    }
    if (firstAnswer.status == 301 || firstAnswer.status == 308) {
        // Where the redirect pointed, made whole against the address asked for.
        char* target = nullptr;
        if (curl_url_set(url.get(), CURLUPART_URL, firstAnswer.location.constData(),
                         CURLU_URLENCODE) == CURLUE_OK &&
            curl_url_get(url.get(), CURLUPART_URL, &target, 0) == CURLUE_OK) {
            m_https->rememberRedirect(address, target);
            curl_free(target);
        }
    }
    return Transfer::Done;
}

bool DownloadToFile(DownloadService& service, const QByteArray& address, const QString& localFile)
{
    return service.download(address, localFile);
}

QString temporaryDownloadPath(const QString& dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("KVtemp.txt"));
}

PageFetcher::PageFetcher(DownloadService& service, QString temporaryFile)
    : m_service(service), m_temporaryFile(std::move(temporaryFile))
{}

std::optional<QByteArray> PageFetcher::FetchPageText(const QByteArray& address)
{
    m_errorString.clear();
    if (!DownloadToFile(m_service, address, m_temporaryFile)) {
        m_errorString = m_service.errorString();
        if (m_errorString.isEmpty())
            m_errorString = QStringLiteral("The page could not be downloaded");
        return QByteArray();
    }

    const QByteArray name = QFile::encodeName(m_temporaryFile);
    std::optional<QByteArray> page = readWholeFile(name);
    if (!page || ::unlink(name.constData()) != 0) {
        m_errorString = QStringLiteral("The downloaded page could not be read back: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        qCInfo(lcFetch, "%s: %s", forLog(address).constData(), qUtf8Printable(m_errorString));
        return std::nullopt;
    }

    // The server said the page is good: it is measured whatever its text holds (a number, a
    // colour, a phone number with "404" in it). Only a page too short to be one is not.
    if (page->size() < ShortestPage) {
        m_errorString = page->isEmpty()
                            ? QStringLiteral("The page is empty")
                            : QStringLiteral("The page is too short: %1 bytes").arg(page->size());
        *page = ErrorWord;
    }
    QByteArray text = ReduceHtml(std::move(*page));
    if (text.isEmpty() && m_errorString.isEmpty())
        m_errorString = QStringLiteral("The page has no text");
    if (!m_errorString.isEmpty())
        qCInfo(lcFetch, "%s: %s", forLog(address).constData(), qUtf8Printable(m_errorString));
    return text;
}
