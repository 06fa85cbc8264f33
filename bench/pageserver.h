// SPDX-License-Identifier: MIT
// The thousand pages the check-run benchmarks fetch, served from 127.0.0.1 by a thread of the
// benchmark itself, and the curl command-line tool fetching the same addresses: the floor any
// run is measured against.
#pragma once

#include "pagetext.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace benchpages {

using namespace benchtext;

inline constexpr int PageCount = 1000;

// A news-site page of 20 to 60 KB: mostly markup with long attribute lists, some scripts and
// comparatively little text, different for every address.
inline std::string page(int index)
{
    Random random(0x636865636bULL + std::uint64_t(index) * 7919);
    const size_t size = size_t(20'000 + random.below(40'001));
    std::string out;
    out.reserve(size + 4096);
    out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n  <meta charset=\"utf-8\">\n"
           "  <title>Local News &amp; Weather, edition " +
           std::to_string(index) + "</title>\n</head>\n<body class=\"home\">";
    int id = 0;
    while (out.size() < size) {
        ++id;
        switch (random.below(8)) {
        case 0:
        case 1:
            appendIndent(out, random);
            out += "<div class=\"card card--featured col-md-4 js-track\" id=\"item-" +
                   std::to_string(id) + "\" data-component=\"teaser\"><span class=\"label\">";
            out += random.pick(Words);
            out += "</span></div>";
            break;
        case 2:
        case 3:
            appendIndent(out, random);
            out += "<li class=\"nav__item\"><a class=\"nav__link\" href=\"/news/2024/";
            out += random.pick(Words);
            out += '-';
            out += std::to_string(id);
            out += ".html?ref=home&amp;utm_source=feed\">";
            appendSentence(out, random, int(1 + random.below(5)));
            out += "</a></li>";
            break;
        case 4:
        case 5:
            appendParagraph(out, random);
            break;
        case 6:
            appendScript(out, random, id);
            break;
        default:
            appendIndent(out, random);
            out += "<img src=\"/static/images/" + std::to_string(id) +
                   "/teaser-640x360.jpg\" alt=\"\" loading=\"lazy\" width=\"640\" height=\"360\">";
            break;
        }
    }
    endPage(out, size);
    return out;
}

// An HTTP server on 127.0.0.1, on a port of the system's choosing, answering from a thread of
// its own from start() until it goes.
class LoopbackServer
{
public:
    LoopbackServer() = default;
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer()
    {
        if (!m_thread.joinable())
            return;
        m_http.stop();
        m_thread.join();
    }

    httplib::Server& http() { return m_http; }
    int port() const { return m_port; }

    // Returns once the server answers: stop() before the listen loop runs would leave join()
    // waiting for ever.
    void start()
    {
        m_port = m_http.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("cannot bind to 127.0.0.1");
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
        while (!m_http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    httplib::Server m_http;
    std::thread m_thread;
    int m_port = -1;
};

// The pages on 127.0.0.1, on a port of the system's choosing. The server keeps a connection
// open for as many requests as a client sends on it, and sends every response at once, as
// common web servers do; the bodies go out as they are, because this library would compress
// them per request at its slowest setting and the figures would measure that instead.
class PageServer
{
public:
    PageServer()
    {
        m_pages.reserve(PageCount);
        for (int i = 0; i < PageCount; ++i) {
            m_pages.push_back(page(i));
            m_totalBytes += std::int64_t(m_pages.back().size());
        }
        m_server.http().set_keep_alive_max_count(100'000);
        m_server.http().set_tcp_nodelay(true);
        m_server.http().Get(R"(/page/(\d+))",
                            [this](const httplib::Request& request, httplib::Response& response) {
                                const size_t index = std::stoul(request.matches[1].str());
                                if (index >= m_pages.size()) {
                                    response.status = 404;
                                    return;
                                }
                                const std::string& body = m_pages[index];
                                response.set_content_provider(
                                    body.size(), "text/html; charset=utf-8",
                                    [&body](size_t offset, size_t length, httplib::DataSink& sink) {
                                        return sink.write(body.data() + offset, length);
                                    });
                            });
        m_server.start();
    }
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // The address as a watch list row holds it: no scheme.
    QByteArray address(int index) const
    {
        return "127.0.0.1:" + QByteArray::number(m_server.port()) + "/page/" +
               QByteArray::number(index);
    }
    std::int64_t totalBytes() const { return m_totalBytes; }
    const std::vector<std::string>& pages() const { return m_pages; }

private:
    std::vector<std::string> m_pages;
    std::int64_t m_totalBytes = 0;
    LoopbackServer m_server;
};

inline PageServer& server()
{
    static PageServer instance;
    return instance;
}

inline QTemporaryDir& workDirectory()
{
    // On the real disk, like the program's data directory, never in memory.
    static QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("bench_checkrun-XXXXXX")));
    return dir;
}

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The curl tool, given every address in one configuration file, fetching them in turn over the
// connection it keeps open; the bodies go to /dev/null. Returns the seconds it took, or a
// negative number when it failed.
inline double runCurl()
{
    static const QByteArray config = [] {
        const QString path = workDirectory().filePath(QStringLiteral("curl.config"));
        QByteArray text;
        for (int i = 0; i < PageCount; ++i)
            text += "url = \"http://" + server().address(i) + "\"\noutput = \"/dev/null\"\n";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush())
            return QByteArray();
        return QFile::encodeName(path);
    }();
    if (config.isEmpty())
        return -1;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char curl[] = "curl";
    char silent[] = "--silent";
    char showError[] = "--show-error";
    char fail[] = "--fail";
    char configOption[] = "--config";
    char* argv[] = {curl,   silent,       showError,
                    fail,   configOption, const_cast<char*>(config.constData()),
                    nullptr};

    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return secondsSince(start);
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Our runs, each followed by the curl tool over the same pages. The ratio is the median of the
// run-by-run ratios, so that a machine that slows down for a while slows both sides of one.
class BesideCurl
{
public:
    // False, with the benchmark told why, when curl could not fetch the pages.
    bool add(benchmark::State& state, double seconds)
    {
        const double curlSeconds = runCurl();
        if (curlSeconds <= 0) {
            state.SkipWithError("curl failed");
            return false;
        }
        m_ours.push_back(seconds);
        m_curl.push_back(curlSeconds);
        m_ratios.push_back(seconds / curlSeconds);
        return true;
    }

    void report(benchmark::State& state) const
    {
        state.counters["pages"] = PageCount;
        if (m_ratios.empty())
            return;
        state.counters["median_ms"] = 1000 * median(m_ours);
        state.counters["curl_median_ms"] = 1000 * median(m_curl);
        state.counters["vs_curl"] = median(m_ratios);
    }

private:
    std::vector<double> m_ours, m_curl, m_ratios;
};

} // namespace benchpages
