// SPDX-License-Identifier: MIT
// Fetching one page: the download service over libcurl, and the page fetcher that turns an
// address into page text through the temporary download file.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

using CURL = void;
using CURLM = void;
using CURLSH = void;
class HttpsMemory;
class LookAhead;

// Downloads one address into a local file.
class DownloadService
{
public:
    virtual ~DownloadService() = default;
    // True exactly when `localFile` now holds the complete body of the response (an existing file
    // of that name is replaced). On failure an existing file of that name is left as it was.
    // Blocks until the download has ended, calling the waiting handler meanwhile.
    virtual bool download(const QByteArray& address, const QString& localFile) = 0;

    // Called on the downloading thread, every few milliseconds, for as long as a download waits
    // or runs: a window that downloads on its own thread keeps answering the desktop through it.
    // The handler returns false to give the download up: it then fails at once, whatever the
    // network is doing.
    void setWaitingHandler(std::function<bool()> handler) { m_waiting = std::move(handler); }

    // The addresses the next downloads will ask for, in their order: a service may look their
    // hosts up and open a connection ahead, never sending a request before its turn. An empty
    // list frees whatever was prepared.
    virtual void lookAhead(const QByteArrayList& addresses) { Q_UNUSED(addresses); }

    // Why the last download failed, in words for the user ("No such host: shop.example");
    // empty after a download that succeeded, or when the service cannot tell.
    const QString& errorString() const { return m_errorString; }

protected:
    // False when the download is to be given up.
    bool whileWaiting() const { return !m_waiting || m_waiting(); }
    void setErrorString(QString why) { m_errorString = std::move(why); }

private:
    std::function<bool()> m_waiting;
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
};

// The longest the waiting handler goes uncalled while a download waits for the network; far
// below the few seconds after which a desktop calls a window not responding.
inline constexpr std::chrono::milliseconds WaitingHandlerInterval{10};

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

    bool download(const QByteArray& address, const QString& localFile) override;
    void lookAhead(const QByteArrayList& addresses) override;

private:
    enum class Transfer
    {
        Done,
        Failed,
        // The connection prepared ahead died before any answer: the page is fetched afresh.
        Again,
    };
    Transfer transfer(const QByteArray& address, void* bodySink, bool mayUsePrepared);
    void fail(const QByteArray& address, QString why, const char* detail = nullptr);

    DownloadLimits m_limits;
    CURLM* m_multi = nullptr;
    // TLS sessions and name look-ups, shared by every page of every run while Korvane is open:
    // a site visited again resumes its TLS session.
    CURLSH* m_share = nullptr;
    std::unique_ptr<HttpsMemory> m_https;
    std::unique_ptr<LookAhead> m_lookAhead;
    // Whether the last transfer got any answer from the server.
    bool m_answered = false;
    bool m_busy = false;
};

// The download call of the page fetcher: true when the file holds the complete body.
bool DownloadToFile(DownloadService& service, const QByteArray& address, const QString& localFile);

// The temporary download file in the data directory.
QString temporaryDownloadPath(const QString& dataDirectory);

class PageFetcher
{
public:
    PageFetcher(DownloadService& service, QString temporaryFile);

    // The addresses the next fetches will ask for, in their order; empty at the end of a run.
    void lookAhead(const QByteArrayList& addresses) { m_service.lookAhead(addresses); }

    // The page text of `address`: the reduced text of a page the server delivered, whatever it
    // says; empty when the download failed (the network or the server said so) or the page is
    // shorter than 20 bytes. std::nullopt when the temporary download file could not be read or
    // deleted.
    std::optional<QByteArray> FetchPageText(const QByteArray& address);

    // Why the last fetch gave no page text, in words for the user; empty when it gave text.
    const QString& errorString() const { return m_errorString; }

private:
    DownloadService& m_service;
    QString m_temporaryFile;
    QString m_errorString;
};
