// SPDX-License-Identifier: MIT
// Fetching one page: the page fetcher that turns an address into page text through the
// temporary download file, over a download service.
#pragma once

#include "downloadservice.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The download call of the page fetcher: `done` learns whether the file holds the complete body.
// The download lasts as long as the handle returned.
[[nodiscard]] DownloadHandle DownloadToFile(DownloadService& service, const QByteArray& address,
                                            const QString& localFile, DownloadService::Done done,
                                            DownloadService::Waiting waiting = {});

// The temporary download file in the data directory.
QString temporaryDownloadPath(const QString& dataDirectory);

class PageFetcher final : public QObject
{
public:
    PageFetcher(DownloadService& service, QString temporaryFile);

    // The addresses the next fetches will ask for, in their order; empty at the end of a run.
    void lookAhead(const QByteArrayList& addresses) { m_service.lookAhead(addresses); }

    // The page text of `address`, given to `done` once fetched: the reduced text of a page the
    // server delivered, whatever it says; empty when the download failed (the network or the
    // server said so) or the page is shorter than 20 bytes. std::nullopt when the temporary
    // download file could not be read or deleted. The fetch lasts as long as the handle
    // returned: once it goes, neither `done` nor `waiting` is called. `waiting` learns when the
    // fetch waits for a site that asked it to.
    using Done = std::function<void(std::optional<QByteArray> text)>;
    [[nodiscard]] DownloadHandle FetchPageText(const QByteArray& address, Done done,
                                               DownloadService::Waiting waiting = {});

    // Why the last fetch gave no page text; none when it gave text.
    const FetchFailure& failure() const { return m_failure; }

private:
    std::optional<QByteArray> pageText(const QByteArray& address, bool downloaded);

    DownloadService& m_service;
    QString m_temporaryFile;
    FetchFailure m_failure;
};
