// The download service over libcurl and the page fetcher.
#include "downloadhtml.h"

#include "strip.h"

#include <QDir>
#include <QFile>

#include <curl/curl.h>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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
    m_handle = curl_easy_init();
}

CurlDownloadService::~CurlDownloadService()
{
    if (m_handle)
        curl_easy_cleanup(m_handle);
}

bool CurlDownloadService::download(const QByteArray& address, const QString& localFile)
{
    // A NUL byte (a damaged list) would cut the address short: fetch nothing rather than
    // another page.
    if (!m_handle || address.contains('\0'))
        return false;

    // Addresses are typed by people, who write spaces where a URL needs "%20", as browsers
    // accept them: the parser takes them and sends them encoded.
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.constData(),
                             CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
        return false;

    const QByteArray target = QFile::encodeName(localFile);
    const QByteArray partial = target + ".part";
    BodySink sink;
    sink.limit = m_limits.maxBodyBytes;
    sink.fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (sink.fd < 0)
        return false;

    CURL* h = m_handle;
    // The handle keeps its connections and DNS cache across resets; only the options go.
    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_CURLU, url.get());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, m_limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(m_limits.transferTimeout.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(m_limits.stallTime.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);

    const CURLcode result = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_CURLU, nullptr);
    const bool closed = ::close(sink.fd) == 0;
    if (result != CURLE_OK || sink.failed || !closed ||
        std::rename(partial.constData(), target.constData()) != 0) {
        std::remove(partial.constData());
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
