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
#include <limits>
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
    FileDescriptor fd;
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
    if (const ssize_t n = ::write(sink->fd.get(), data, bytes); n != ssize_t(bytes)) {
        sink->failed = true;
        sink->error = n < 0 ? errno : ENOSPC;
        return 0;
    }
    sink->written += qint64(bytes);
    return bytes;
}

// A second transfer of the same page starts the body afresh.
bool restartBody(BodySink& sink)
{
    sink.written = 0;
    return ::ftruncate(sink.fd.get(), 0) == 0 && ::lseek(sink.fd.get(), 0, SEEK_SET) == 0;
}

// The whole file in one read where it can: a check run reads one file per page, so the plain
// system calls matter next to a fast loopback download.
std::optional<QByteArray> readWholeFile(const QByteArray& name)
{
    FileDescriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return std::nullopt;
    struct stat info
    {};
    QByteArray bytes;
    bool ok = ::fstat(fd.get(), &info) == 0;
    if (ok) {
        bytes.resize(qsizetype(info.st_size));
        qsizetype got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = ::read(fd.get(), bytes.data() + got, size_t(bytes.size() - got));
            ok = n > 0;
            got += ok ? n : 0;
        }
    }
    ok = fd.close() && ok;
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

// The download under way, and the transfer that fetches it (a second transfer follows when the
// first could not use what was prepared, or when a remembered https address failed).
struct CurlDownloadService::Download
{
    QByteArray address; // as the list has it
    QByteArray fetched; // where it is fetched: https when the site asked for it
    bool remembered = false;
    bool fellBack = false;
    bool freshLookUp = false; // the name failed ahead: the DNS cache has nothing to say
    long upgrades = 0;        // redirects asked again at https, counted as redirects
    QByteArray target;
    QByteArray partial;
    BodySink sink;
    Done done;

    QByteArray asked; // what the current transfer asks for
    bool mayUsePrepared = false;
    WebAddress url{nullptr, curl_url_cleanup};
    char errorText[CURL_ERROR_SIZE] = {};
    FirstAnswer firstAnswer;
    HttpsMemory::Transfer hsts;
    // Last, so that it goes first: it uses the address, the buffers and the sink above.
    CurlEasy handle;
};

CurlDownloadService::CurlDownloadService(DownloadLimits limits) : m_limits(limits)
{
    initCurlOnce();
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
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    // Without its callbacks the multi handle would need polling: there is no download then.
    if (m_multi &&
        (curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, watchSocket) != CURLM_OK ||
         curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
         curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, setTimer) != CURLM_OK ||
         curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERDATA, this) != CURLM_OK))
        m_multi.reset();
    if (m_multi)
        m_lookAhead = std::make_unique<LookAhead>(
            m_multi.get(), proxyConfigured() ? 0 : m_limits.lookAheadHosts,
            long(m_limits.connectTimeout.count()), m_share.get(),
            [this](const QByteArray& address) { return m_https->addressToFetch(address); });
}

CurlDownloadService::~CurlDownloadService()
{
    cancel();
    m_lookAhead.reset();
    if (m_multi) {
        // Closing its connections, the multi handle would tell a service half gone.
        curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, nullptr);
        curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, nullptr);
    }
    m_sockets.clear();
    m_multi.reset();
    m_https->save();
}

int CurlDownloadService::watchSocket(CURL*, curl_socket_t socket, int what, void* service, void*)
{
    auto* self = static_cast<CurlDownloadService*>(service);
    const auto watch = [self, socket](QSocketNotifier::Type type, int event) {
        auto* notifier = new QSocketNotifier(socket, type, self);
        QObject::connect(notifier, &QSocketNotifier::activated, self,
                         [self, socket, event] { self->act(socket, event); });
        return notifier;
    };
    if (what == CURL_POLL_REMOVE) {
        // libcurl may close the socket as soon as this returns, and its number may come back
        // for another socket: the notifiers stop now, and go once their signal has returned.
        if (const auto watched = self->m_sockets.find(socket); watched != self->m_sockets.end()) {
            for (QSocketNotifier* notifier : {watched->second.read, watched->second.write}) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            self->m_sockets.erase(watched);
        }
        return 0;
    }
    SocketWatch& watched = self->m_sockets[socket];
    if (!watched.read) {
        watched.read = watch(QSocketNotifier::Read, CURL_CSELECT_IN);
        watched.write = watch(QSocketNotifier::Write, CURL_CSELECT_OUT);
    }
    watched.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watched.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlDownloadService::setTimer(CURLM*, long timeoutMs, void* service)
{
    auto* self = static_cast<CurlDownloadService*>(service);
    if (timeoutMs < 0)
        self->m_timer.stop();
    else
        self->m_timer.start(int(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
    return 0;
}

void CurlDownloadService::act(curl_socket_t socket, int events)
{
    int running = 0;
    if (const CURLMcode code = curl_multi_socket_action(m_multi.get(), socket, events, &running);
        code != CURLM_OK && m_current) {
        curl_multi_remove_handle(m_multi.get(), m_current->handle.get());
        fail(m_current->asked, QString::fromUtf8(curl_multi_strerror(code)));
        finish(false);
        return;
    }
    collectEnds();
}

void CurlDownloadService::collectEnds()
{
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

void CurlDownloadService::download(const QByteArray& address, const QString& localFile, Done done)
{
    cancel();
    setErrorString({});
    if (!m_multi) {
        setErrorString(QStringLiteral("Out of memory"));
        callLater(std::move(done), false);
        return;
    }
    // A site that asked for https, or moved there for good, is fetched there at once.
    bool remembered = false;
    const QByteArray fetched = m_https->addressToFetch(address, &remembered);
    if (fetched != address)
        qCInfo(lcFetch, "%s: fetched as %s", forLog(address).constData(),
               forLog(fetched).constData());
    // Every page takes its turn, also one whose download cannot begin, so that the pages after
    // it still get ready.
    const bool freshLookUp = m_lookAhead && m_lookAhead->startTurn(address, fetched);
    // A NUL byte (a damaged list) would cut the address short: fetch nothing rather than
    // another page.
    if (address.contains('\0')) {
        setErrorString(QStringLiteral("Not a valid address"));
        callLater(std::move(done), false);
        return;
    }

    auto current = std::make_unique<Download>();
    current->address = address;
    current->fetched = fetched;
    current->remembered = remembered;
    current->freshLookUp = freshLookUp;
    current->target = QFile::encodeName(localFile);
    current->partial = current->target + ".part";
    current->sink.limit = m_limits.maxBodyBytes;
    current->sink.fd = FileDescriptor(
        ::open(current->partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    current->done = std::move(done);
    if (!current->sink.fd.isOpen()) {
        fail(address, notKeptText(errno), current->partial.constData());
        callLater(std::move(current->done), false);
        return;
    }
    m_current = std::move(current);
    if (!startTransfer(fetched, true))
        finish(false);
}

void CurlDownloadService::cancel()
{
    ++m_generation;
    if (!m_current)
        return;
    const std::unique_ptr<Download> current = std::move(m_current);
    if (current->handle)
        curl_multi_remove_handle(m_multi.get(), current->handle.get());
    fail(current->address, QStringLiteral("Given up: Korvane is ending"));
    current->sink.fd.close();
    std::remove(current->partial.constData());
}

void CurlDownloadService::callLater(Done done, bool kept)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation, done = std::move(done), kept] {
            if (generation == m_generation)
                done(kept);
        },
        Qt::QueuedConnection);
}

void CurlDownloadService::finish(bool kept)
{
    endTransfer();
    const std::unique_ptr<Download> current = std::move(m_current);
    BodySink& sink = current->sink;
    if (!sink.fd.close() && kept) {
        sink.error = errno;
        kept = false;
    }
    if (sink.tooLarge)
        fail(current->address,
             QStringLiteral("The page is larger than %1").arg(sizeText(sink.limit)));
    else if (sink.error)
        fail(current->address, notKeptText(sink.error));
    if (kept && std::rename(current->partial.constData(), current->target.constData()) != 0) {
        fail(current->address, notKeptText(errno), current->target.constData());
        kept = false;
    }
    if (!kept)
        std::remove(current->partial.constData());
    callLater(std::move(current->done), kept);
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

bool CurlDownloadService::startTransfer(const QByteArray& address, bool mayUsePrepared)
{
    Download& d = *m_current;
    d.asked = address;
    d.mayUsePrepared = mayUsePrepared;
    d.firstAnswer = {};
    d.errorText[0] = 0;
    CURLUcode code = CURLUE_OK;
    d.url = parseWebAddress(address, &code);
    if (!d.url) {
        fail(address, QStringLiteral("Not a valid address"), curl_url_strerror(code));
        return false;
    }

    // A fresh handle for every page: a handle that met a failure keeps some of it (libcurl 7.88
    // then refuses options on it after a reset), and one page's failure must never reach the
    // next. Connections and name look-ups live in the multi handle and are still reused.
    d.handle.reset(curl_easy_init());
    if (!d.handle) {
        fail(address, QStringLiteral("Out of memory"));
        return false;
    }
    CURL* h = d.handle.get();
    // The options that protect (schemes, certificates, limits, the body's way to its file) are
    // what the download relies on: one that this libcurl refuses fails the download rather than
    // letting it go ahead without. Those that only tune its pace are tried and let go.
    bool applied = true;
    const auto refused = [&](CURLoption option, CURLcode code) {
        if (code != CURLE_OK) {
            const curl_easyoption* known = curl_easy_option_by_id(option);
            qCInfo(lcFetch, "%s: libcurl refused option %s: %s", forLog(address).constData(),
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
    set(CURLOPT_USERAGENT, UserAgent);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_WRITEFUNCTION, writeBody);
    set(CURLOPT_WRITEDATA, &d.sink);
    set(CURLOPT_HEADERFUNCTION, readHeader);
    set(CURLOPT_HEADERDATA, &d.firstAnswer);
    if (!m_limits.trustedCertificates.isEmpty())
        set(CURLOPT_CAINFO, QFile::encodeName(m_limits.trustedCertificates).constData());
    if (m_connectTo)
        set(CURLOPT_CONNECT_TO, m_connectTo.get());
    // A name whose look-up failed ahead is asked again, whatever the cache kept of it.
    if (d.freshLookUp)
        set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    // A site's wish for https is kept like the other protections.
    if (applied) {
        const auto [option, code] = m_https->useFor(h, address, d.hsts);
        applied = !refused(option, code);
    }
    if (!applied) {
        // The refused option has been logged already.
        setErrorString(QStringLiteral("This computer's libcurl cannot fetch pages safely"));
        return false;
    }
    // Larger pieces than the default 16 KiB: fewer callbacks and fewer writes per page.
    trySet(CURLOPT_BUFFERSIZE, 256L * 1024);
    // A download given up while its host name is still being looked up does not wait for the
    // look-up to end: the program is ending, and the look-up may hang for many seconds.
    trySet(CURLOPT_QUICK_EXIT, 1L);
    if (m_share)
        trySet(CURLOPT_SHARE, m_share.get());

    // The pages after this one get ready while it downloads; this one may take the connection
    // opened for it while the page before downloaded.
    if (mayUsePrepared && m_lookAhead)
        m_lookAhead->offerPrepared(h);

    if (const CURLMcode code = curl_multi_add_handle(m_multi.get(), h); code != CURLM_OK) {
        fail(address, QString::fromUtf8(curl_multi_strerror(code)));
        return false;
    }
    return true;
}

void CurlDownloadService::endTransfer()
{
    Download& d = *m_current;
    if (!d.handle)
        return;
    curl_multi_remove_handle(m_multi.get(), d.handle.get());
    d.handle.reset();
    m_https->takeBack(d.hsts);
}

void CurlDownloadService::transferEnded(CURLcode result)
{
    Download& d = *m_current;
    Transfer outcome = judge(result);
    long status = 0;
    curl_easy_getinfo(d.handle.get(), CURLINFO_RESPONSE_CODE, &status);
    const QByteArray upgraded = d.hsts.upgraded;
    endTransfer();
    if (outcome == Transfer::Upgrade) {
        if (++d.upgrades <= m_limits.maxRedirects && restartBody(d.sink) &&
            startTransfer(upgraded, false))
            return;
        fail(d.address, reasonFor(CURLE_TOO_MANY_REDIRECTS, nullptr));
        outcome = Transfer::Failed;
    }
    if (outcome == Transfer::Again) {
        if (startTransfer(d.fetched, false))
            return;
        outcome = Transfer::Failed;
    }
    const bool page = outcome == Transfer::Done && status >= 200 && status <= 299;
    if (!page && d.remembered && !d.fellBack && !d.sink.failed) {
        // The https address of a remembered redirect did not give the page: it is fetched where
        // the list says, as before, and the redirect is forgotten. A site under HSTS gets no
        // such second try: that is what HSTS is for.
        qCInfo(lcFetch, "%s: %s failed, fetched as listed", forLog(d.address).constData(),
               forLog(d.fetched).constData());
        m_https->forgetRedirect(d.address);
        setErrorString({});
        d.fellBack = true;
        if (restartBody(d.sink) && startTransfer(d.address, false))
            return;
    }
    finish(outcome == Transfer::Done);
}

CurlDownloadService::Transfer CurlDownloadService::judge(CURLcode result)
{
    Download& d = *m_current;
    CURL* h = d.handle.get();
    const QByteArray& address = d.asked;
    if (result != CURLE_OK && d.mayUsePrepared && m_lookAhead &&
        m_lookAhead->usedPreparedConnection() &&
        (result == CURLE_GOT_NOTHING || result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR)) {
        // The server closed the prepared connection just as the request went out: the page is
        // fetched on a connection of its own, exactly as without preparing.
        long headerBytes = 0;
        curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerBytes);
        if (headerBytes == 0 && d.sink.written == 0)
            return Transfer::Again;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && !d.hsts.upgraded.isEmpty())
        return Transfer::Upgrade;
    if (result != CURLE_OK) {
        // The body's own failure (too large, a full disk) is told by download(), which knows it.
        if (result == CURLE_FILESIZE_EXCEEDED)
            fail(address,
                 QStringLiteral("The page is larger than %1").arg(sizeText(m_limits.maxBodyBytes)));
        else if (result != CURLE_WRITE_ERROR || !d.sink.failed)
            fail(address, reasonFor(result, h), d.errorText[0] ? d.errorText : nullptr);
        return Transfer::Failed;
    }
    if (d.firstAnswer.status == 301 || d.firstAnswer.status == 308) {
        // Where the redirect pointed, made whole against the address asked for.
        char* target = nullptr;
        if (curl_url_set(d.url.get(), CURLUPART_URL, d.firstAnswer.location.constData(),
                         CURLU_URLENCODE) == CURLUE_OK &&
            curl_url_get(d.url.get(), CURLUPART_URL, &target, 0) == CURLUE_OK) {
            m_https->rememberRedirect(address, target);
            curl_free(target);
        }
    }
    return Transfer::Done;
}

void DownloadToFile(DownloadService& service, const QByteArray& address, const QString& localFile,
                    DownloadService::Done done)
{
    service.download(address, localFile, std::move(done));
}

QString temporaryDownloadPath(const QString& dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("KVtemp.txt"));
}

PageFetcher::PageFetcher(DownloadService& service, QString temporaryFile)
    : m_service(service), m_temporaryFile(std::move(temporaryFile))
{}

void PageFetcher::FetchPageText(const QByteArray& address, Done done)
{
    m_errorString.clear();
    DownloadToFile(m_service, address, m_temporaryFile,
                   [this, address, done = std::move(done)](bool downloaded) {
                       done(pageText(address, downloaded));
                   });
}

std::optional<QByteArray> PageFetcher::pageText(const QByteArray& address, bool downloaded)
{
    if (!downloaded) {
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
