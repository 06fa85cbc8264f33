// SPDX-License-Identifier: MIT
// The page fetcher: a page's download, read back and reduced to its text.
#include "downloadhtml.h"

#include "fetchfailure.h"
#include "handles.h"
#include "strip.h"

#include <QDir>
#include <QFile>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype ShortestPage = 20;
constexpr char ErrorWord[] = "error";

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

    const QByteArray name = QFile::encodeName(m_temporaryFile);
    std::optional<QByteArray> page = readWholeFile(name);
    if (!page || ::unlink(name.constData()) != 0) {
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
