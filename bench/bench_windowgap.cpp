// How long the window goes without handling an event during a check run, over pages that answer
// slowly, stall in the middle, or arrive large: the longest gap between two ticks of a 1 ms
// timer while the run goes on, with events handled the way the window handles them during a
// run. Targets: no gap over 100 ms with pages up to 8 MiB; under 0.5 s with a page near the
// 64 MiB cap, whose reading back and reducing hold the thread at once.
#include "checkrun.h"
#include "downloadhtml.h"
#include "pagetext.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace benchtext;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
    out.resize(size - 16);
    out += "</body></html>\n";
    for (size_t at = out.find("404"); at != std::string::npos; at = out.find("404", at))
        out[at + 1] = '1';
    return out;
}

class SlowServer
{
public:
    SlowServer()
        : m_page(largePage(40'000)), m_big8(largePage(8 << 20)), m_big63(largePage(63 << 20))
    {
        // Answers after a long think, as an overloaded host does.
        m_server.Get("/slow", [this](const httplib::Request&, httplib::Response& response) {
            std::this_thread::sleep_for(600ms);
            response.set_content(m_page, "text/html");
        });
        // Sends a part, goes quiet for a second and a half, then sends the rest.
        m_server.Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
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
            m_server.Get(big == &m_big8 ? "/big8" : "/big63",
                         [big](const httplib::Request&, httplib::Response& response) {
                             response.set_content_provider(
                                 big->size(), "text/html",
                                 [big](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(big->data() + offset, length);
                                 });
                         });
        }
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("cannot bind to 127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~SlowServer()
    {
        m_server.stop();
        m_thread.join();
    }

    // By name, so that each run also waits for a look-up.
    QByteArray address(const char* path) const
    {
        return "localhost:" + QByteArray::number(m_port) + path;
    }

private:
    std::string m_page;
    std::string m_big8;
    std::string m_big63;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = -1;
};

SlowServer& server()
{
    static SlowServer instance;
    return instance;
}

QTemporaryDir& workDirectory()
{
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("bench_windowgap-XXXXXX")));
    return dir;
}

// Handles events as the window does while a run goes on.
void handleEvents()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

class AnsweringHost final : public CheckRunHost
{
public:
    void setStatusText(const QString&) override {}
    void setBusyPointer(bool) override {}
    void repaintNow() override {}
    void checkingRow(int) override { handleEvents(); }
};

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
        handleEvents();
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
    AnsweringHost host;
    GapMeter meter;
    double longestMs = 0;
    for (auto _ : state) {
        WatchList list;
        std::vector<WatchList::Cells> cells(static_cast<size_t>(rows));
        for (auto& row : cells) {
            row.text[WatchList::UrlColumn] = server().address(path);
            row.text[WatchList::LengthColumn] = "1";
        }
        list.replaceSiteRows(std::move(cells));
        WatchListFile file(QDir(dataDirectory).filePath(QStringLiteral("websites.ini")));
        CurlDownloadService downloads;
        downloads.setWaitingHandler(handleEvents);
        PageFetcher fetcher(downloads, temporaryDownloadPath(dataDirectory));
        CheckRun run(list, file, fetcher, host);

        const auto start = Clock::now();
        meter.start();
        run.VisitALL();
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
    const auto add = [](const char* name, const char* path, int rows, double targetMs) {
        benchmark::RegisterBenchmark(name, windowGap, path, rows, targetMs)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(3);
    };
    add("window-gap/slow-answers-4x600ms", "/slow", 4, 100);
    add("window-gap/stall-2x1500ms", "/stall", 2, 100);
    add("window-gap/large-3x8MiB", "/big8", 3, 100);
    add("window-gap/near-cap-63MiB", "/big63", 1, 500);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
