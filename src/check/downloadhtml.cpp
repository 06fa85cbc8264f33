// SPDX-License-Identifier: MIT
// The page fetcher: a page's download, read back and reduced to its text.
#include "downloadhtml.h"

#include "fetchfailure.h"
#include "strip.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QPointer>

#include <cerrno>
#include <limits>
#include <unistd.h>

namespace {

constexpr qsizetype ShortestPage = 20;
constexpr char ErrorWord[] = "error";
// The download kept the page within its own limit.
constexpr qint64 AnyPageSize = std::numeric_limits<qint64>::max();

} // namespace

DownloadHandle DownloadToFile(DownloadService& service, const QByteArray& address,
                              const QString& localFile, DownloadService::Done done,
                              DownloadService::Waiting waiting)
{
    return service.download(address, localFile, std::move(done), std::move(waiting));
}

QString temporaryDownloadPath(const QString& dataDirectory)
{
    return QDir(dataDirectory).filePath(QStringLiteral("KVtemp.txt"));
}

PageFetcher::PageFetcher(DownloadService& service, QString temporaryFile)
    : m_service(service), m_temporaryFile(std::move(temporaryFile))
{}

DownloadHandle PageFetcher::FetchPageText(const QByteArray& address, Done done,
                                          DownloadService::Waiting waiting)
{
    m_failure = {};
    // The handle belongs to the caller, who may outlive this fetcher: the page is read back
    // only while the fetcher is there.
    return DownloadToFile(
        m_service, address, m_temporaryFile,
        [fetcher = QPointer(this), address, done = std::move(done)](bool downloaded) {
            if (fetcher)
                done(fetcher->pageText(address, downloaded));
        },
        std::move(waiting));
}

std::optional<QByteArray> PageFetcher::pageText(const QByteArray& address, bool downloaded)
{
    using Reason = FetchFailure::Reason;
    if (!downloaded) {
        m_failure = m_service.failure();
        if (m_failure.isNone())
            m_failure = FetchFailure::because(Reason::NotDownloaded);
        return QByteArray();
    }

    std::optional<QByteArray> page = readWholeFile(m_temporaryFile, AnyPageSize);
    if (!page || ::unlink(QFile::encodeName(m_temporaryFile).constData()) != 0) {
        m_failure = FetchFailure::because(Reason::NotReadBack);
        m_failure.systemError = errno;
        logFetchFailure(m_service.addressForLog(address), m_failure);
        return std::nullopt;
    }

    // The server said the page is good: it is measured whatever its text holds (a number, a
    // colour, a phone number with "404" in it). Only a page too short to be one is not.
    if (page->size() < ShortestPage) {
        m_failure = FetchFailure::because(page->isEmpty() ? Reason::Empty : Reason::TooShort);
        m_failure.size = page->size();
        *page = ErrorWord;
    }
    QByteArray text = ReduceHtml(std::move(*page));
    if (text.isEmpty() && m_failure.isNone())
        m_failure = FetchFailure::because(Reason::NoText);
    if (!m_failure.isNone())
        logFetchFailure(m_service.addressForLog(address), m_failure);
    return text;
}
