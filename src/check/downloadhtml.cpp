// SPDX-License-Identifier: MIT
// The download service over libcurl and the page fetcher.
#include "downloadhtml.h"

#include "strip.h"

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
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

// Why a page could not be fetched, for a user who asks: QT_LOGGING_RULES="korvane.fetch=true".
Q_LOGGING_CATEGORY(lcFetch, "korvane.fetch", QtWarningMsg)

namespace {

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
};

size_t writeBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* sink = static_cast<BodySink*>(userdata);
    const size_t bytes = size * count;
    // Counted on what arrives, not on what the server announced, so that a lying or missing
    // Content-Length cannot fill memory or disk.
    if (sink->written + qint64(bytes) > sink->limit) {
        sink->failed = true;
        return 0;
    }
    if (::write(sink->fd, data, bytes) != ssize_t(bytes)) {
        sink->failed = true;
        return 0;
    }
    sink->written += qint64(bytes);
    return bytes;
}

// For a needle of five bytes or fewer, Qt 6.4's QByteArray::contains runs a rolling hash over
// every byte of the page, which took half as long as the page's loopback download; the standard
// library's find jumps with memchr from one occurrence of the needle's first byte to the next.
bool contains(const QByteArray& page, std::string_view needle)
{
    return std::string_view(page.constData(), size_t(page.size())).find(needle) !=
           std::string_view::npos;
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

} // namespace

CurlDownloadService::CurlDownloadService(DownloadLimits limits) : m_limits(limits)
{
    initCurlOnce();
    m_multi = curl_multi_init();
}

CurlDownloadService::~CurlDownloadService()
{
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

bool CurlDownloadService::download(const QByteArray& address, const QString& localFile)
{
    // A NUL byte (a damaged list) would cut the address short: fetch nothing rather than
    // another page. A download asked for from inside the waiting handler would run inside the
    // one that is waiting, on the same multi handle.
    if (!m_multi || m_busy || address.contains('\0'))
        return false;

    const QByteArray target = QFile::encodeName(localFile);
    const QByteArray partial = target + ".part";
    BodySink sink;
    sink.limit = m_limits.maxBodyBytes;
    sink.fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (sink.fd < 0) {
        qCInfo(lcFetch, "%s: cannot create %s: %s", address.constData(), partial.constData(),
               std::strerror(errno));
        return false;
    }

    m_busy = true;
    const bool transferred = transfer(address, &sink);
    m_busy = false;

    const bool closed = ::close(sink.fd) == 0;
    if (transferred && sink.failed)
        qCInfo(lcFetch, "%s: the body was not kept (over %lld bytes, or the disk refused it)",
               address.constData(), sink.limit);
    if (!transferred || sink.failed || !closed ||
        std::rename(partial.constData(), target.constData()) != 0) {
        std::remove(partial.constData());
        return false;
    }
    return true;
}

bool CurlDownloadService::transfer(const QByteArray& address, void* bodySink)
{
    // Addresses are typed by people, who write spaces where a URL needs "%20", as browsers
    // accept them. The spaces are escaped here, the way a browser sends them; the parser would
    // send "+" in a query, which a server reads as a plus.
    QByteArray escaped = address;
    escaped.replace(' ', "%20");
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url) {
        qCInfo(lcFetch, "%s: out of memory", address.constData());
        return false;
    }
    if (const CURLUcode code =
            curl_url_set(url.get(), CURLUPART_URL, escaped.constData(), CURLU_URLENCODE);
        code != CURLUE_OK) {
        qCInfo(lcFetch, "%s: not an address: %s", address.constData(), curl_url_strerror(code));
        return false;
    }

    // A fresh handle for every page: a handle that met a failure keeps some of it (libcurl 7.88
    // then refuses options on it after a reset), and one page's failure must never reach the
    // next. Connections and name look-ups live in the multi handle and are still reused.
    char errorText[CURL_ERROR_SIZE] = {};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
        qCInfo(lcFetch, "%s: out of memory", address.constData());
        return false;
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
            qCInfo(lcFetch, "%s: libcurl refused option %s: %s", address.constData(),
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
    if (!applied)
        return false;
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    trySet(CURLOPT_BUFFERSIZE, 256L * 1024);
    // A download given up while its host name is still being looked up does not wait for the
    // look-up to end: the program is ending, and the look-up may hang for many seconds.
    trySet(CURLOPT_QUICK_EXIT, 1L);

    // The multi interface lets the wait be cut into short slices, between which the waiting
    // handler runs: a host that is slow to resolve, connect or answer never holds the caller
    // longer than one slice.
    if (const CURLMcode code = curl_multi_add_handle(m_multi, h); code != CURLM_OK) {
        qCInfo(lcFetch, "%s: %s", address.constData(), curl_multi_strerror(code));
        return false;
    }
    using Clock = std::chrono::steady_clock;
    auto lastWaiting = Clock::now();
    int running = 1;
    bool givenUp = false;
    CURLMcode multiCode = CURLM_OK;
    for (;;) {
        multiCode = curl_multi_perform(m_multi, &running);
        if (multiCode != CURLM_OK || running == 0)
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
    CURLcode result = CURLE_FAILED_INIT;
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == h)
            result = message->data.result;
    curl_multi_remove_handle(m_multi, h);

    if (givenUp) {
        qCInfo(lcFetch, "%s: given up before its end", address.constData());
        return false;
    }
    if (multiCode != CURLM_OK) {
        qCInfo(lcFetch, "%s: %s", address.constData(), curl_multi_strerror(multiCode));
        return false;
    }
    if (result != CURLE_OK) {
        qCInfo(lcFetch, "%s: %s%s%s", address.constData(), curl_easy_strerror(result),
               errorText[0] ? ": " : "", errorText);
        return false;
    }
    return true;
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
    if (!DownloadToFile(m_service, address, m_temporaryFile))
        return QByteArray();

    const QByteArray name = QFile::encodeName(m_temporaryFile);
    std::optional<QByteArray> page = readWholeFile(name);
    if (!page || ::unlink(name.constData()) != 0)
        return std::nullopt;

    bool errorPage = false;
    if (contains(*page, "404"))
        errorPage = true;
    if (contains(*page, "Unable to resolve"))
        errorPage = true;
    if (page->size() < ShortestPage)
        errorPage = true;
    if (errorPage)
        *page = ErrorWord;

    return ReduceHtml(std::move(*page));
}
