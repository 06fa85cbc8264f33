// SPDX-License-Identifier: MIT
// Fetching one page: the download service over libcurl, and the page fetcher that turns an
// address into page text through the temporary download file.
#pragma once

#include "handles.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

class HttpsMemory;
class LookAhead;

// Downloads one address into a local file, driven by the event loop: the thread that asked
// stays free to paint and answer while the network is slow.
class DownloadService : public QObject
{
public:
    // True exactly when `localFile` now holds the complete body of the response (an existing
    // file of that name is replaced). On failure an existing file of that name is left as it
    // was.
    using Done = std::function<void(bool kept)>;

    ~DownloadService() override = default;

    // Starts downloading `address` into `localFile`; `done` is called once the download has
    // ended. A service calls it from the event loop, never before download() returns. One
    // download at a time: a download started while another runs gives that one up.
    virtual void download(const QByteArray& address, const QString& localFile, Done done) = 0;

    // Gives the download under way up at once, whatever the network is doing: its `done` is
    // never called. The program is ending, and nobody waits for a slow host.
    virtual void cancel() {}

    // The addresses the next downloads will ask for, in their order: a service may look their
    // hosts up and open a connection ahead, never sending a request before its turn. An empty
    // list frees whatever was prepared.
    virtual void lookAhead(const QByteArrayList& addresses) { Q_UNUSED(addresses); }

    // Why the last download failed, in words for the user ("No such host: shop.example");
    // empty after a download that succeeded, or when the service cannot tell.
    const QString& errorString() const { return m_errorString; }

protected:
    void setErrorString(QString why) { m_errorString = std::move(why); }

private:
    QString m_errorString;
};

struct DownloadLimits
{
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds transferTimeout{30'000};
    // A transfer that moves less than one byte a second for this long has stalled.
    std::chrono::seconds stallTime{10};
    qint64 maxBodyBytes = 64LL * 1024 * 1024;
    long maxRedirects = 10;
    // Host names looked up ahead at once; 0 prepares nothing, as does a proxy.
    int lookAheadHosts = 8;
    // Where the memory of sites that want https is kept (the user's cache folder); empty to
    // remember nothing.
    QString httpsMemoryDirectory;
    // The certificates to trust, a file of PEM certificates; empty for the system's.
    QString trustedCertificates;
    // Where the downloads connect instead, as curl's --connect-to ("HOST:PORT:TO:TO-PORT"):
    // tests reach default ports and made-up names on 127.0.0.1 without asking any DNS.
    QByteArrayList connectTo;
    // Seconds since the epoch, for what the https memory keeps; empty for the system's clock.
    std::function<qint64()> clock;
};

// HTTP and HTTPS only (redirects included), certificates verified, bodies decoded, statuses of
// 400 and above failed. Each download has a handle of its own on one multi handle, which keeps
// the connections and name look-ups from one page to the next. Why a download failed is kept in
// errorString() and logged under "korvane.fetch" (off unless QT_LOGGING_RULES turns it on).
class CurlDownloadService final : public DownloadService
{
public:
    explicit CurlDownloadService(DownloadLimits limits = {});
    ~CurlDownloadService() override;
    CurlDownloadService(const CurlDownloadService&) = delete;
    CurlDownloadService& operator=(const CurlDownloadService&) = delete;

    void download(const QByteArray& address, const QString& localFile, Done done) override;
    void cancel() override;
    void lookAhead(const QByteArrayList& addresses) override;

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
    };
    // False when the transfer could not begin; why is in errorString().
    bool startTransfer(const QByteArray& address, bool mayUsePrepared);
    void transferEnded(CURLcode result);
    // The transfer's handle goes, and libcurl hands back what it learnt of HSTS.
    void endTransfer();
    Transfer judge(CURLcode result);
    void finish(bool kept);
    void callLater(Done done, bool kept);
    void fail(const QByteArray& address, QString why, const char* detail = nullptr);

    // libcurl says which sockets to watch and when to call it back; the event loop watches.
    static int watchSocket(CURL* handle, curl_socket_t socket, int what, void* service,
                           void* socketData);
    static int setTimer(CURLM* multi, long timeoutMs, void* service);
    void act(curl_socket_t socket, int events);
    void collectEnds();

    DownloadLimits m_limits;
    // TLS sessions and name look-ups, shared by every page of every run while Korvane is open:
    // a site visited again resumes its TLS session. It outlives the multi handle that uses it.
    CurlShare m_share;
    CurlMulti m_multi;
    std::unique_ptr<HttpsMemory> m_https;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> m_connectTo{nullptr,
                                                                            curl_slist_free_all};
    std::unique_ptr<LookAhead> m_lookAhead;
    std::unique_ptr<Download> m_current;
    QTimer m_timer;
    struct SocketWatch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    std::unordered_map<curl_socket_t, SocketWatch> m_sockets;
    // Counts cancels: a `done` queued before a cancel is not called after it.
    quint64 m_generation = 0;
};

// The download call of the page fetcher: `done` learns whether the file holds the complete body.
void DownloadToFile(DownloadService& service, const QByteArray& address, const QString& localFile,
                    DownloadService::Done done);

// The temporary download file in the data directory.
QString temporaryDownloadPath(const QString& dataDirectory);

class PageFetcher
{
public:
    PageFetcher(DownloadService& service, QString temporaryFile);

    // The addresses the next fetches will ask for, in their order; empty at the end of a run.
    void lookAhead(const QByteArrayList& addresses) { m_service.lookAhead(addresses); }

    // The page text of `address`, given to `done` once fetched: the reduced text of a page the
    // server delivered, whatever it says; empty when the download failed (the network or the
    // server said so) or the page is shorter than 20 bytes. std::nullopt when the temporary
    // download file could not be read or deleted.
    using Done = std::function<void(std::optional<QByteArray> text)>;
    void FetchPageText(const QByteArray& address, Done done);

    // Gives the fetch under way up: its `done` is never called.
    void cancel() { m_service.cancel(); }

    // Why the last fetch gave no page text, in words for the user; empty when it gave text.
    const QString& errorString() const { return m_errorString; }

private:
    std::optional<QByteArray> pageText(const QByteArray& address, bool downloaded);

    DownloadService& m_service;
    QString m_temporaryFile;
    QString m_errorString;
};
