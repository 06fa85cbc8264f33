// The download service over libcurl and the page fetcher.
#include "downloadhtml.h"

#include "strip.h"

#include <QDir>
#include <QFile>

#include <curl/curl.h>

#include <cstdio>
#include <mutex>
#include <string_view>

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
    std::FILE* file = nullptr;
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
    if (std::fwrite(data, 1, bytes, sink->file) != bytes) {
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
    if (!m_handle)
        return false;

    const QByteArray target = QFile::encodeName(localFile);
    const QByteArray partial = target + ".part";
    BodySink sink;
    sink.limit = m_limits.maxBodyBytes;
    sink.file = std::fopen(partial.constData(), "wb");
    if (!sink.file)
        return false;

    CURL* h = m_handle;
    // The handle keeps its connections and DNS cache across resets; only the options go.
    curl_easy_reset(h);
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
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

    const CURLcode result = curl_easy_perform(h);
    const bool closed = std::fclose(sink.file) == 0;
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

    QFile file(m_temporaryFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray page = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();
    if (!QFile::remove(m_temporaryFile))
        return std::nullopt;

    bool errorPage = false;
    if (contains(page, "404"))
        errorPage = true;
    if (contains(page, "Unable to resolve"))
        errorPage = true;
    if (page.size() < ShortestPage)
        errorPage = true;
    if (errorPage)
        page = ErrorWord;

    return ReduceHtml(std::move(page));
}
