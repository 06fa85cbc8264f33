// SPDX-License-Identifier: MIT
// A whole check run over pages on many hosts far away, beside the curl tool fetching the same
// pages one after another, and beside the run without looking ahead. Run inside the near
// namespace that bench/latency/run.sh sets up: every name and page is 40 ms away each way.
// Usage: bench_latency [--https] DOMAIN PAGES
// --https: the sites redirect http to https (half of them with HSTS); the benchmark trusts the
// CA in $BENCH_CA and counts connections and TLS handshakes in nginx's $BENCH_ACCESS_LOG.
#include "checkrun.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

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
    void showRunStatus(RunStatus) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void runSaved(SaveOutcome, const FileFailure&) override {}
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
    // From nginx's log: TCP connections, and TLS handshakes in full and resumed.
    int connections = -1, handshakes = 0, resumed = 0;
};

// Counts what nginx logged since `from` (a size of its log): one line a request, naming its
// port, its connection and whether that connection resumed a TLS session.
void countConnections(qint64 from, Result& result)
{
    QFile log(qEnvironmentVariable("BENCH_ACCESS_LOG"));
    if (log.fileName().isEmpty() || !log.open(QIODevice::ReadOnly) || !log.seek(from))
        return;
    QSet<QByteArray> seen;
    result.connections = result.handshakes = result.resumed = 0;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 4 || seen.contains(fields[1]))
            continue;
        seen.insert(fields[1]);
        ++result.connections;
        if (fields[0] == "443")
            ++(fields[3] == "r" ? result.resumed : result.handshakes);
    }
}

qint64 logSize()
{
    const QString log = qEnvironmentVariable("BENCH_ACCESS_LOG");
    return log.isEmpty() ? 0 : QFileInfo(log).size();
}

// One run of Korvane's over the list, with the download service of a Korvane that stays open.
Result korvaneRun(const QByteArrayList& addresses, CurlDownloadService& downloads,
                  const QString& directory)
{
    WatchList list;
    std::vector<WatchList::Cells> rows(size_t(addresses.size()));
    for (qsizetype i = 0; i < addresses.size(); ++i)
        rows[size_t(i)].text[WatchList::UrlColumn] = addresses[i];
    list.replaceSiteRows(std::move(rows));
    WatchListFile file(QDir(directory).filePath(QStringLiteral("websites.ini")));
    SamplingHost host;
    QTimer sampling;
    QObject::connect(&sampling, &QTimer::timeout, [&host] { host.sample(); });
    sampling.start(10);
    const qint64 logged = logSize();
    const auto start = Clock::now();
    {
        PageFetcher fetcher(downloads, temporaryDownloadPath(directory));
        CheckRun run(list, file, fetcher, host);
        QEventLoop loop;
        QObject::connect(&run, &CheckRun::finished, &loop, &QEventLoop::quit);
        run.VisitALL();
        loop.exec();
    }
    Result result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sampling.stop();
    for (int row = 1; row < list.Rows(); ++row)
        result.failed += list.cell(row, WatchList::UpdatedColumn) != "Yes";
    result.peakThreads = host.peakThreads;
    result.peakFiles = host.peakFiles;
    countConnections(logged, result);
    return result;
}

Result korvane(const QByteArrayList& addresses, int lookAheadHosts, const QString& directory)
{
    DownloadLimits limits;
    limits.lookAheadHosts = lookAheadHosts;
    CurlDownloadService downloads(limits);
    return korvaneRun(addresses, downloads, directory);
}

Result curlTool(const QByteArrayList& addresses, const QString& directory,
                const QStringList& more = {})
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
    const qint64 logged = logSize();
    const auto start = Clock::now();
    // Asking for compressed bodies, as Korvane does: the same bytes cross the network.
    curl.start(QStringLiteral("curl"),
               QStringList{QStringLiteral("--silent"), QStringLiteral("--fail"),
                           QStringLiteral("--compressed")} +
                   more + QStringList{QStringLiteral("--config"), path});
    if (!curl.waitForFinished(600'000) || curl.exitCode() != 0)
        return {};
    Result result;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    countConnections(logged, result);
    return result;
}

void report(const char* what, const Result& result, const Result& curl)
{
    std::printf("  %-28s %7.2f s  %5.2f x curl  failed %d", what, result.seconds,
                curl.seconds > 0 ? result.seconds / curl.seconds : 0.0, result.failed);
    if (result.peakThreads)
        std::printf("  peak threads %d, files %d", result.peakThreads, result.peakFiles);
    if (result.connections >= 0)
        std::printf("  connections %d, TLS handshakes %d (+%d resumed)", result.connections,
                    result.handshakes, result.resumed);
    std::printf("\n");
}

// The web of today: bare addresses whose http answers with a 301 to https.
bool httpsMode(const std::vector<std::pair<const char*, QByteArrayList>>& lists, int pages,
               const QString& directory)
{
    bool fetched = true;
    const QString ca = qEnvironmentVariable("BENCH_CA");
    for (const auto& [name, addresses] : lists) {
        std::printf("%d pages on %s, http answered by a 301 to https:\n", pages, name);
        const QString hsts = QDir(directory).filePath(QStringLiteral("curl-hsts.txt"));
        QFile::remove(hsts);
        const QStringList trust{QStringLiteral("--cacert"), ca, QStringLiteral("--location")};
        const Result cold = curlTool(addresses, directory, trust);
        report("curl -K -L (cold)", cold, cold);
        curlTool(addresses, directory, trust + QStringList{QStringLiteral("--hsts"), hsts});
        const Result warm =
            curlTool(addresses, directory, trust + QStringList{QStringLiteral("--hsts"), hsts});
        report("curl -K -L --hsts (warm)", warm, cold);
        QTemporaryDir memory;
        DownloadLimits limits;
        limits.trustedCertificates = ca;
        limits.httpsMemoryDirectory = memory.path();
        CurlDownloadService downloads(limits);
        const Result first = korvaneRun(addresses, downloads, directory);
        downloads.lookAhead({});
        report("Korvane, first run", first, cold);
        const Result second = korvaneRun(addresses, downloads, directory);
        downloads.lookAhead({});
        report("Korvane, second run", second, cold);
        if (cold.seconds <= 0 || warm.seconds <= 0 || first.failed || second.failed) {
            std::printf("  some fetch failed: the figures mean nothing\n");
            fetched = false;
            continue;
        }
        std::printf("  second run: %.2f x cold curl (goal: at most 0.50), %.2f x warm curl "
                    "(goal: at most 0.70); first run: %.2f x cold curl (goal: at most 0.80)\n",
                    second.seconds / cold.seconds, second.seconds / warm.seconds,
                    first.seconds / cold.seconds);
    }
    return fetched;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool https = argc > 1 && std::strcmp(argv[1], "--https") == 0;
    argc -= https;
    argv += https;
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s [--https] DOMAIN PAGES\n", argv[0]);
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

    if (https)
        return httpsMode({{"many hosts", manyHosts}, {"one host", oneHost}}, pages,
                         directory.path())
                   ? 0
                   : 1;
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
