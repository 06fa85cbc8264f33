// SPDX-License-Identifier: MIT
// What the check run downloads pages with: a service driven by the event loop, and the handle
// that ties each download to the life of whoever asked for it.
#pragma once

#include "fetchfailure.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class DownloadService;

// A download waits for a site that asked to be asked again later (see AskAgain): `host` of the
// page, and the seconds `left` until it is asked again; 0 once the wait is over and the site is
// asked again.
struct SiteWait
{
    QByteArray host;
    std::chrono::seconds left{0};
};

// The caller's hold on one download. The download lives no longer than its handle: when the
// handle goes, is assigned another download, or is cancelled, the transfer is given up and its
// `done` never comes, not even one already queued. A callback that a caller gives therefore
// never reaches a caller that is gone, as long as the caller owns the handle.
class DownloadHandle
{
public:
    DownloadHandle() = default;
    ~DownloadHandle() { cancel(); }
    DownloadHandle(DownloadHandle&& other) noexcept = default;
    DownloadHandle& operator=(DownloadHandle&& other) noexcept;
    DownloadHandle(const DownloadHandle&) = delete;
    DownloadHandle& operator=(const DownloadHandle&) = delete;

    // Gives the download up at once, whatever the network is doing: its `done` is never called.
    void cancel();
    // From download() until its `done` has been called or it was given up.
    bool isActive() const;

private:
    friend class DownloadService;
    explicit DownloadHandle(DownloadService* service);

    QPointer<DownloadService> m_service;
    // The download's `done` is queued to this object: deleting it drops what is queued.
    std::unique_ptr<QObject> m_receiver;
};

// Downloads one address into a local file, driven by the event loop: the thread that asked
// stays free to paint and answer while the network is slow.
class DownloadService : public QObject
{
public:
    // True exactly when `localFile` now holds the complete body of the response (an existing
    // file of that name is replaced). On failure an existing file of that name is left as it
    // was.
    using Done = std::function<void(bool kept)>;
    // Told, from the event loop and only while the handle is kept, when the download starts and
    // ends a wait for its site.
    using Waiting = std::function<void(const SiteWait& wait)>;

    ~DownloadService() override = default;

    // Starts downloading `address` into `localFile`; `done` is called once the download has
    // ended, always from the event loop, never before download() returns, and only while the
    // handle is kept. One download at a time: a download started while another runs gives
    // that one up.
    [[nodiscard]] DownloadHandle download(const QByteArray& address, const QString& localFile,
                                          Done done, Waiting waiting = {});

    // The addresses the next downloads will ask for, in their order: a service may look their
    // hosts up and open a connection ahead, never sending a request before its turn. An empty
    // list frees whatever was prepared.
    virtual void lookAhead(const QByteArrayList& addresses) { Q_UNUSED(addresses); }

    // `address` as log lines show it (see PageAddress::forLog), for the caller's own lines about
    // a download; a service that parsed it for the download gives what it worked out then.
    virtual QByteArray addressForLog(const QByteArray& address) const;

    // Why the last download failed ("no such host", with the host); none after a download that
    // succeeded, or when the service cannot tell.
    const FetchFailure& failure() const { return m_failure; }

protected:
    // A service's own start of a download. It tells the end through `end`, once, at any time,
    // even before start() returns: the caller hears of it from the event loop.
    virtual void start(const QByteArray& address, const QString& localFile, Done end) = 0;
    // Gives the download under way up, its file included: `end` is not to be called after
    // this. Every service must be able to, for its callers may go at any time.
    virtual void cancel() = 0;

    void setFailure(FetchFailure why) { m_failure = std::move(why); }
    // Tells whoever asked for the download under way that it waits, or has waited.
    void tellWaiting(const SiteWait& wait);

private:
    friend class DownloadHandle;
    // Where the `done` of the download under way is queued; null when none is under way.
    QPointer<QObject> m_current;
    Waiting m_waiting;
    FetchFailure m_failure;
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
    // Seconds since the epoch, for what the https memory keeps and the time a site asked to wait
    // until; empty for the system's clock.
    std::function<qint64()> clock;
    // The languages pages are asked in, most wanted first, as QLocale::uiLanguages() gives
    // them; empty for the user's own.
    QStringList languages;
    // A site that asks to wait at most this long is waited for once and asked again.
    std::chrono::seconds longestWait{30};
};

// The service that downloads over libcurl (see CurlDownloadService), for those who need not see
// libcurl.
std::unique_ptr<DownloadService> makeCurlDownloadService(DownloadLimits limits = {});
