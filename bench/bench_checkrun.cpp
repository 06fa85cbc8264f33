// SPDX-License-Identifier: MIT
// A whole check run over a thousand pages served from 127.0.0.1, beside the curl command-line
// tool fetching the same addresses one after another in one process: the practical floor. The
// cost of a page with a big memory of https sites. And the longest gap between two handled
// events during runs over pages that answer slowly, stall in the middle, or arrive large, with
// events handled the way the window handles them.
#include "benchmain.h"
#include "checkrun.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "findingsfile.h"
#include "httpsmemory.h"
#include "pageserver.h"
#include "sitefindings.h"
#include "strip.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace benchtext;
using namespace benchpages;
using namespace std::chrono_literals;

class WindowLikeHost final : public CheckRunHost
{
public:
    void showRunStatus(RunStatus) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void runSaved(SaveOutcome, const FileFailure&) override {}
};

// Starts the run and handles events, as the window's event loop does, until it has ended.
void runInEventLoop(CheckRun& run)
{
    QEventLoop loop;
    QObject::connect(&run, &CheckRun::finished, &loop, &QEventLoop::quit);
    QObject::connect(&run, &CheckRun::stopped, &loop, &QEventLoop::quit);
    run.VisitALL();
    loop.exec();
}

void curlTool(benchmark::State& state)
{
    for (auto _ : state) {
        const double seconds = runCurl();
        if (seconds < 0) {
            state.SkipWithError("curl failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(state.iterations() * server().totalBytes());
    state.counters["pages"] = PageCount;
}

// The reducer alone over every page, in memory: the part of a run that is neither network nor
// file.
void reduceOnly(benchmark::State& state)
{
    std::vector<QByteArray> pages;
    for (const std::string& page : server().pages())
        pages.push_back(QByteArray::fromStdString(page));
    for (auto _ : state) {
        for (const QByteArray& page : pages) {
            QByteArray copy(page.constData(), page.size());
            benchmark::DoNotOptimize(ReduceHtml(std::move(copy)));
        }
    }
    state.SetBytesProcessed(state.iterations() * server().totalBytes());
}

// A list of every page, each row with a stored length that the run will find changed.
std::unique_ptr<WatchList> freshList()
{
    auto list = std::make_unique<WatchList>();
    std::vector<WatchList::Cells> rows(PageCount);
    for (int i = 0; i < PageCount; ++i) {
        rows[size_t(i)].text[WatchList::UrlColumn] = server().address(i);
        rows[size_t(i)].text[WatchList::LastVisitedColumn] = "01/03/2026 08:00:00";
        rows[size_t(i)].text[WatchList::LengthColumn] = "1";
    }
    list->replaceSiteRows(std::move(rows));
    return list;
}

bool everyPageRead(const WatchList& list)
{
    for (int row = 1; row < list.Rows(); ++row)
        if (list.cell(row, WatchList::UpdatedColumn) != "Yes")
            return false;
    return true;
}

// Our run from the first download to the end (a new download service, as at the first "Go
// Look!"), with a curl tool run right after each one. The ratio is the median of the
// run-by-run ratios, so that a burst of other work on the machine during one run does not
// decide it.
void checkRun(benchmark::State& state)
{
    const QString dataDirectory = workDirectory().path();
    WindowLikeHost host;
    BesideCurl runs;
    for (auto _ : state) {
        std::unique_ptr<WatchList> list = freshList();
        WatchListFile file(QDir(dataDirectory).filePath(QStringLiteral("websites.ini")));

        const auto start = Clock::now();
        {
            CurlDownloadService downloads;
            PageFetcher fetcher(downloads, temporaryDownloadPath(dataDirectory));
            CheckRun run(*list, file, fetcher, host);
            runInEventLoop(run);
        }
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);

        if (!everyPageRead(*list)) {
            state.SkipWithError("some page was not read");
            break;
        }
        if (!runs.add(state, seconds))
            break;
    }
    state.SetBytesProcessed(state.iterations() * server().totalBytes());
    runs.report(state);
}

// A whole run that keeps what it finds beside one that does not, as runs were before: the
// findings file read as the first run after a start reads it, every page's text digested and
// compared, and the file written at the end, as the window's runs do. The file is put back
// before each run with every page's text changed, so that each run writes all of it. The runs
// take turns, so that other work on the machine weighs on both alike.
void checkRunWithFindings(benchmark::State& state)
{
    const QString dataDirectory = workDirectory().path();
    const QString listPath = QDir(dataDirectory).filePath(QStringLiteral("websites.ini"));
    const QString findingsDirectory = workDirectory().filePath(QStringLiteral("state"));
    SiteFindingsByKey stale;
    for (int i = 0; i < PageCount; ++i)
        stale.insert(
            siteKey(WatchList::siteAddress(server().address(i))),
            SiteFinding{QByteArray(32, '\0'), 1, QDateTime::currentDateTimeUtc(), {}, 0, 0, 0});
    const QByteArray staleBytes = findingsBytes(stale);
    WindowLikeHost host;
    const auto pass = [&](bool keep) {
        std::unique_ptr<WatchList> list = freshList();
        WatchListFile file(listPath);
        QFile findingsFile(findingsPath(findingsDirectory, listPath));
        if (!QDir().mkpath(findingsDirectory) || !findingsFile.open(QIODevice::WriteOnly) ||
            findingsFile.write(staleBytes) != staleBytes.size() || !findingsFile.flush())
            return -1.0;
        findingsFile.close();
        const auto start = Clock::now();
        {
            SiteFindings findings(findingsDirectory, listPath);
            CurlDownloadService downloads;
            PageFetcher fetcher(downloads, temporaryDownloadPath(dataDirectory));
            CheckRun run(*list, file, fetcher, host);
            if (keep)
                run.keepFindingsIn(findings);
            runInEventLoop(run);
            if (keep)
                findings.save(*list);
        }
        const double seconds = secondsSince(start);
        const bool written = findingsFile.open(QIODevice::ReadOnly) &&
                             (findingsFile.readAll() != staleBytes) == keep;
        return everyPageRead(*list) && written ? seconds : -1.0;
    };
    std::vector<double> kept, none, ratios;
    bool keepFirst = true;
    for (auto _ : state) {
        const double first = pass(keepFirst);
        const double second = pass(!keepFirst);
        const double a = keepFirst ? first : second, b = keepFirst ? second : first;
        keepFirst = !keepFirst;
        if (a < 0 || b < 0) {
            state.SkipWithError("some page was not read, or the findings not written");
            return;
        }
        state.SetIterationTime(a + b);
        kept.push_back(a);
        none.push_back(b);
        ratios.push_back(a / b);
    }
    state.counters["run_ms"] = 1000 * median(kept);
    state.counters["run_ms_none"] = 1000 * median(none);
    state.counters["vs_none"] = median(ratios);
}

// What a long-used Korvane remembers of `hosts` sites that want https, none of them the
// pages' own: an HSTS entry for each, half with includeSubDomains, and a permanent redirect.
QString httpsMemory(int hosts)
{
    const QString directory = workDirectory().filePath(QStringLiteral("memory-%1").arg(hosts));
    QByteArray hsts, redirects;
    for (int i = 0; i < hosts; ++i) {
        const QByteArray host = "site" + QByteArray::number(i) + ".example";
        hsts += host + (i % 2 ? " 1" : " 0") + " 20991231 00:00:00\n";
        redirects += "http://" + host + "/ https://" + host + "/ 4102358400\n";
    }
    for (const auto& [name, bytes] :
         {std::pair{"hsts.txt", hsts}, {"https-redirects.txt", redirects}}) {
        QFile file(QDir(directory).filePath(QString::fromLatin1(name)));
        if (!QDir().mkpath(directory) || !file.open(QIODevice::WriteOnly) ||
            file.write(bytes) != bytes.size() || !file.flush())
            return {};
    }
    return directory;
}

// A page's cost with a memory of 30,000 hosts beside one with none: two services, their
// memories read before the first pass (as in every run after the first), passes of the same
// list taking turns, so that other work on the machine weighs on both alike.
void pageCostWithMemory(benchmark::State& state, int hosts)
{
    const QString dataDirectory = workDirectory().path();
    DownloadLimits big;
    big.httpsMemoryDirectory = httpsMemory(hosts);
    DownloadLimits none;
    none.httpsMemoryDirectory = httpsMemory(0);
    if (big.httpsMemoryDirectory.isEmpty() || none.httpsMemoryDirectory.isEmpty()) {
        state.SkipWithError("cannot write the memory");
        return;
    }
    CurlDownloadService bigDownloads(big), noDownloads(none);
    PageFetcher bigFetcher(bigDownloads, temporaryDownloadPath(dataDirectory));
    PageFetcher noFetcher(noDownloads, temporaryDownloadPath(dataDirectory));
    WindowLikeHost host;
    const auto pass = [&](PageFetcher& fetcher) {
        std::unique_ptr<WatchList> list = freshList();
        WatchListFile file(QDir(dataDirectory).filePath(QStringLiteral("websites.ini")));
        CheckRun run(*list, file, fetcher, host);
        const auto start = Clock::now();
        runInEventLoop(run);
        return everyPageRead(*list) ? secondsSince(start) / PageCount : -1.0;
    };
    pass(bigFetcher);
    pass(noFetcher);
    std::vector<double> withMemory, without, ratios;
    bool bigFirst = true;
    for (auto _ : state) {
        // Each goes first every other time: neither gains from what the other left warm.
        const double first = pass(bigFirst ? bigFetcher : noFetcher);
        const double second = pass(bigFirst ? noFetcher : bigFetcher);
        const double a = bigFirst ? first : second, b = bigFirst ? second : first;
        bigFirst = !bigFirst;
        if (a < 0 || b < 0) {
            state.SkipWithError("some page was not read");
            return;
        }
        state.SetIterationTime((a + b) * PageCount);
        withMemory.push_back(a);
        without.push_back(b);
        ratios.push_back(a / b);
    }
    state.counters["hosts"] = hosts;
    state.counters["page_us"] = 1e6 * median(withMemory);
    state.counters["page_us_none"] = 1e6 * median(without);
    state.counters["vs_none"] = median(ratios);
}

// Start-up with that memory: the download service as the program makes it at start, and the
// memory read at the first fetch that needs it.
void startWithMemory(benchmark::State& state, int hosts)
{
    DownloadLimits limits;
    limits.httpsMemoryDirectory = httpsMemory(hosts);
    std::vector<double> start, read;
    for (auto _ : state) {
        const auto begin = Clock::now();
        CurlDownloadService downloads(limits);
        start.push_back(secondsSince(begin));
        const auto reading = Clock::now();
        HttpsMemory memory(limits.httpsMemoryDirectory);
        benchmark::DoNotOptimize(memory.addressToFetch(PageAddress("http://127.0.0.1/")));
        read.push_back(secondsSince(reading));
        state.SetIterationTime(start.back() + read.back());
    }
    state.counters["hosts"] = hosts;
    state.counters["start_ms"] = 1000 * median(start);
    state.counters["first_fetch_reads_ms"] = 1000 * median(read);
}

// Markup and text in the proportions of a news page, `size` bytes long.
std::string largePage(size_t size)
{
    Random random;
    std::string out = "<!DOCTYPE html>\n<html><head><title>Archive</title></head><body>\n";
    out.reserve(size + 256);
    while (out.size() < size) {
        out += "<div class=\"card col-md-4\"><a href=\"/news/";
        out += random.pick(Words);
        out += ".html?ref=home&amp;utm_source=feed\">";
        for (int i = 0; i < 12; ++i) {
            out += random.pick(Words);
            out += ' ';
        }
        out += "</a>&nbsp;<span class=\"label\">";
        out += random.pick(Words);
        out += "</span></div>\n";
    }
    endPage(out, size);
    return out;
}

class SlowServer
{
public:
    SlowServer()
        : m_page(largePage(40'000)), m_big8(largePage(8 << 20)), m_big63(largePage(63 << 20))
    {
        // Answers after a long think, as an overloaded host does.
        m_server.http().Get("/slow", [this](const httplib::Request&, httplib::Response& response) {
            std::this_thread::sleep_for(600ms);
            response.set_content(m_page, "text/html");
        });
        // Sends a part, goes quiet for a second and a half, then sends the rest.
        m_server.http().Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                m_page.size(), "text/html",
                [this](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t half = m_page.size() / 2;
                    if (offset == 0) {
                        sink.write(m_page.data(), half);
                        return true;
                    }
                    std::this_thread::sleep_for(1500ms);
                    return sink.write(m_page.data() + offset, length);
                });
        });
        for (auto* big : {&m_big8, &m_big63}) {
            m_server.http().Get(
                big == &m_big8 ? "/big8" : "/big63",
                [big](const httplib::Request&, httplib::Response& response) {
                    response.set_content_provider(
                        big->size(), "text/html",
                        [big](size_t offset, size_t length, httplib::DataSink& sink) {
                            return sink.write(big->data() + offset, length);
                        });
                });
        }
        m_server.start();
    }
    // By name, so that each run also waits for a look-up.
    QByteArray address(const char* path) const
    {
        return "localhost:" + QByteArray::number(m_server.port()) + path;
    }

private:
    std::string m_page;
    std::string m_big8;
    std::string m_big63;
    LoopbackServer m_server;
};

SlowServer& slowServer()
{
    static SlowServer instance;
    return instance;
}

// The longest time between two handled ticks of a 1 ms timer.
class GapMeter
{
public:
    GapMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        m_last = Clock::now();
        m_longest = {};
        m_timer.start();
    }
    Clock::duration stop()
    {
        // The tick after the run ends closes the last gap.
        QCoreApplication::processEvents();
        tick();
        m_timer.stop();
        return m_longest;
    }

private:
    void tick()
    {
        const auto now = Clock::now();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    Clock::time_point m_last;
    Clock::duration m_longest{};
};

void windowGap(benchmark::State& state, const char* path, int rows, double targetMs)
{
    const QString dataDirectory = workDirectory().path();
    WindowLikeHost host;
    GapMeter meter;
    double longestMs = 0;
    for (auto _ : state) {
        WatchList list;
        std::vector<WatchList::Cells> cells(static_cast<size_t>(rows));
        for (auto& row : cells) {
            row.text[WatchList::UrlColumn] = slowServer().address(path);
            row.text[WatchList::LengthColumn] = "1";
        }
        list.replaceSiteRows(std::move(cells));
        WatchListFile file(QDir(dataDirectory).filePath(QStringLiteral("websites.ini")));
        CurlDownloadService downloads;
        PageFetcher fetcher(downloads, temporaryDownloadPath(dataDirectory));
        CheckRun run(list, file, fetcher, host);

        const auto start = Clock::now();
        meter.start();
        runInEventLoop(run);
        const auto longest = meter.stop();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        for (int row = 1; row < list.Rows(); ++row) {
            if (list.cell(row, WatchList::UpdatedColumn) != "Yes") {
                state.SkipWithError("a page was not read");
                return;
            }
        }
        longestMs = std::max(longestMs, std::chrono::duration<double, std::milli>(longest).count());
    }
    state.counters["longest_gap_ms"] = longestMs;
    state.counters["target_ms"] = targetMs;
    state.counters["met"] = longestMs < targetMs ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    if (!workDirectory().isValid()) {
        std::fprintf(stderr, "cannot create a temporary directory\n");
        return 1;
    }
    server();
    if (runCurl() < 0) {
        std::fprintf(stderr, "the curl tool cannot fetch the pages\n");
        return 1;
    }
    benchmark::RegisterBenchmark("curl-tool/1000-pages", curlTool)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    benchmark::RegisterBenchmark("reduce-only/1000-pages", reduceOnly)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("check-run/1000-pages", checkRun)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    // What a run finds, kept from one run and one start to the next, costs the run nothing
    // that shows.
    benchmark::RegisterBenchmark("check-run/1000-pages-findings-kept-vs-not", checkRunWithFindings)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    // What Korvane remembers of sites costs nothing per page, and little once.
    benchmark::RegisterBenchmark("https-memory/page-cost-30000-hosts-vs-none", pageCostWithMemory,
                                 30'000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    benchmark::RegisterBenchmark("https-memory/start-30000-hosts", startWithMemory, 30'000)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    // How long the window goes without handling an event: no gap over 100 ms with pages up to
    // 8 MiB; under 0.5 s with a page near the 64 MiB cap, whose reading back and reducing hold
    // the thread at once.
    slowServer();
    const auto addGap = [](const char* name, const char* path, int rows, double targetMs) {
        benchmark::RegisterBenchmark(name, windowGap, path, rows, targetMs)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(3);
    };
    addGap("window-gap/slow-answers-4x600ms", "/slow", 4, 100);
    addGap("window-gap/stall-2x1500ms", "/stall", 2, 100);
    addGap("window-gap/large-3x8MiB", "/big8", 3, 100);
    addGap("window-gap/near-cap-63MiB", "/big63", 1, 500);
    return runRegisteredBenchmarks(argc, argv);
}
