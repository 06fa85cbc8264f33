// SPDX-License-Identifier: MIT
// A whole check run over pages on many hosts far away, beside the curl tool fetching the same
// pages one after another, and beside the run without looking ahead. Run inside the near
// namespace that bench/latency/run.sh sets up: every name and page is 40 ms away each way.
// Usage: bench_latency DOMAIN PAGES
#include "checkrun.h"
#include "downloadhtml.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

int entriesIn(const char* directory)
{
    return int(QDir(QString::fromLatin1(directory))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                   .size());
}

// Counts what the process holds while the run waits, as often as the window would look.
class SamplingHost final : public CheckRunHost
{
public:
    int peakThreads = 0;
    int peakFiles = 0;
    void setStatusText(const QString&) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void checkingRow(int) override { sample(); }
    void sample()
    {
        peakThreads = std::max(peakThreads, entriesIn("/proc/self/task"));
        peakFiles = std::max(peakFiles, entriesIn("/proc/self/fd"));
    }
};

struct Result
{
    double seconds = -1;
    int failed = 0;
    int peakThreads = 0;
    int peakFiles = 0;
};

Result korvane(const QByteArrayList& addresses, int lookAheadHosts, const QString& directory)
{
    WatchList list;
    std::vector<WatchList::Cells> rows(size_t(addresses.size()));
    for (qsizetype i = 0; i < addresses.size(); ++i)
        rows[size_t(i)].text[WatchList::UrlColumn] = addresses[i];
    list.replaceSiteRows(std::move(rows));
    WatchListFile file(QDir(directory).filePath(QStringLiteral("websites.ini")));
    SamplingHost host;
    DownloadLimits limits;
    limits.lookAheadHosts = lookAheadHosts;

    const auto start = Clock::now();
    {
        CurlDownloadService downloads(limits);
        downloads.setWaitingHandler([&host] {
            host.sample();
            return true;
        });
        PageFetcher fetcher(downloads, temporaryDownloadPath(directory));
        CheckRun(list, file, fetcher, host).VisitURLlist(qint16(list.Rows()));
    }
    Result result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int row = 1; row < list.Rows(); ++row)
        result.failed += list.cell(row, WatchList::UpdatedColumn) != "Yes";
    result.peakThreads = host.peakThreads;
    result.peakFiles = host.peakFiles;
    return result;
}

Result curlTool(const QByteArrayList& addresses, const QString& directory)
{
    QByteArray config;
    for (const QByteArray& address : addresses)
        config += "url = \"http://" + address + "\"\noutput = \"/dev/null\"\n";
    const QString path = QDir(directory).filePath(QStringLiteral("curl.config"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(config) != config.size())
        return {};
    out.close();
    QProcess curl;
    const auto start = Clock::now();
    // Asking for compressed bodies, as Korvane does: the same bytes cross the network.
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("--silent"), QStringLiteral("--fail"),
                QStringLiteral("--compressed"), QStringLiteral("--config"), path});
    if (!curl.waitForFinished(600'000) || curl.exitCode() != 0)
        return {};
    Result result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

void report(const char* what, const Result& result, const Result& curl)
{
    std::printf("  %-28s %7.2f s  %5.2f x curl  failed %d", what, result.seconds,
                curl.seconds > 0 ? result.seconds / curl.seconds : 0.0, result.failed);
    if (result.peakThreads)
        std::printf("  peak threads %d, files %d", result.peakThreads, result.peakFiles);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DOMAIN PAGES\n", argv[0]);
        return 2;
    }
    const QByteArray domain = argv[1];
    const int pages = std::atoi(argv[2]);
    QTemporaryDir directory;
    QByteArrayList manyHosts, oneHost;
    for (int i = 1; i <= pages; ++i) {
        const QByteArray page = "/p" + QByteArray::number(i) + ".html";
        manyHosts << "h" + QByteArray::number(i) + '.' + domain + page;
        oneHost << "one." + domain + page;
    }

    // Fails only when a fetch failed: the figures are for people to read.
    bool fetched = true;
    for (const auto& [name, addresses] :
         {std::pair{"many hosts", manyHosts}, std::pair{"one host", oneHost}}) {
        std::printf("%d pages on %s:\n", pages, name);
        const Result curl = curlTool(addresses, directory.path());
        std::printf("  %-28s %7.2f s\n", "curl -K", curl.seconds);
        const Result before = korvane(addresses, 0, directory.path());
        report("Korvane, no look-ahead", before, curl);
        const Result ahead = korvane(addresses, DownloadLimits().lookAheadHosts, directory.path());
        report("Korvane, looking ahead", ahead, curl);
        if (curl.seconds <= 0 || before.failed || ahead.failed) {
            std::printf("  some fetch failed: the figures mean nothing\n");
            fetched = false;
        } else if (addresses == manyHosts) {
            std::printf("  ratio to curl: %.2f (goal: at most 0.50)\n",
                        ahead.seconds / curl.seconds);
        } else {
            std::printf("  against no look-ahead: %.2f (goal: not slower)\n",
                        ahead.seconds / before.seconds);
        }
    }
    return fetched ? 0 : 1;
}
