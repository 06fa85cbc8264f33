// SPDX-License-Identifier: MIT
// One check run over loopback servers that misbehave in every way we could think of, beside
// healthy ones: every row gets its mark, the healthy rows are right, the list is saved, and the
// process's memory stays bounded.
#include "checkrun.h"
#include "checkrunfixtures.h"
#include "curldownloadservice.h"
#include "downloadhtml.h"
#include "fetchnow.h"
#include "reducerreference.h"
#include "testserver.h"
#include "watchlist.h"
#include "watchlistfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Short limits stand in for the production ones and keep their proportions to the servers
// below: the drip sends well below the stall limit, so the stall check stops it long before the
// transfer timeout, and the endless body moves well above it, so only the transfer timeout
// stops that one.
DownloadLimits shortLimits()
{
    DownloadLimits limits;
    limits.connectTimeout = 1s;
    limits.transferTimeout = 4500ms;
    limits.stallTime = 1s;
    // Well under the huge body below; what it bounds is the file, memory never holds a body.
    limits.maxBodyBytes = 4LL * 1024 * 1024;
    return limits;
}
constexpr auto DripInterval = 2500ms; // one byte, then silence: 0.4 bytes a second

// The peak resident set size of this process so far, in KiB.
qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// A loopback server that writes its answers byte by byte onto the socket, for the answers an
// HTTP library will not give: bodies cut short, drips, bodies and headers that never end. One
// thread a connection; a handler returns when its client goes away or the server stops.
class RawServer
{
public:
    using Handler = std::function<void(int socket, const std::atomic<bool>& stopping)>;

    ~RawServer() { stop(); }

    void route(const std::string& path, Handler handler) { m_routes[path] = std::move(handler); }

    bool start()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) ||
            ::listen(m_listener, 16) ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length))
            return false;
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
        return true;
    }

    void stop()
    {
        m_stopping = true;
        if (m_acceptor.joinable())
            m_acceptor.join();
        for (std::thread& connection : m_connections)
            connection.join();
        m_connections.clear();
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
    }

    QByteArray hostAndPort() const { return "127.0.0.1:" + QByteArray::number(m_port); }

    QByteArrayList paths() const
    {
        std::lock_guard lock(m_lock);
        return m_paths;
    }

    // Sends all of `bytes`; false once the client has gone.
    static bool send(int socket, std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            bytes.remove_prefix(size_t(n));
        }
        return true;
    }

    // Waits `time` unless the server stops first; false when it stops.
    static bool pause(std::chrono::milliseconds time, const std::atomic<bool>& stopping)
    {
        for (auto waited = 0ms; waited < time; waited += 10ms) {
            if (stopping)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return !stopping;
    }

private:
    void acceptLoop()
    {
        while (!m_stopping) {
            pollfd ready{m_listener, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (socket >= 0)
                m_connections.emplace_back([this, socket] { serve(socket); });
        }
    }

    void serve(int socket)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd ready{socket, POLLIN, 0};
            if (m_stopping || ::poll(&ready, 1, 5000) <= 0)
                break;
            const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, size_t(n));
        }
        // "GET <path> HTTP/1.1"
        const size_t start = request.find(' ') + 1;
        const size_t end = request.find(' ', start);
        const std::string path = start > 0 && end != std::string::npos
                                     ? request.substr(start, end - start)
                                     : std::string();
        {
            std::lock_guard lock(m_lock);
            m_paths << QByteArray::fromStdString(path);
        }
        const auto route = m_routes.find(path);
        if (route != m_routes.end())
            route->second(socket, m_stopping);
        else
            send(socket,
                 "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
    }

    std::map<std::string, Handler> m_routes;
    int m_listener = -1;
    int m_port = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_connections; // only the acceptor thread adds, before stop joins
    mutable std::mutex m_lock;
    QByteArrayList m_paths;
};

std::string responseHead(const std::string& extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n" + extra;
}

// Bytes of every value, NUL included, from a fixed seed; never "404", which would make the page
// an error page by content rather than by what it does to the program.
std::string garbage(int size)
{
    QRandomGenerator random(4711);
    std::string bytes(size_t(size), '\0');
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
        if (byte == '4')
            byte = '5';
    }
    for (size_t i = 0; i < bytes.size(); i += 7)
        bytes[i] = '\0';
    return bytes;
}

constexpr qint64 MiB = 1024 * 1024;
// Well past the 64 MiB download limit, and past the memory bound below: a download that kept
// it all, or read it all back, could not pass unnoticed.
constexpr qint64 HugeBody = 320 * MiB;

// Passes every download on and notes how long each took.
class TimedDownloads final : public DownloadService
{
public:
    explicit TimedDownloads(DownloadService& real) : m_real(real) {}
    QList<qint64> milliseconds;

protected:
    void start(const QByteArray& address, const QString& localFile, Done end) override
    {
        QElapsedTimer timer;
        timer.start();
        m_download = m_real.download(address, localFile, [this, timer, end](bool downloaded) {
            milliseconds << timer.elapsed();
            setFailure(m_real.failure());
            end(downloaded);
        });
    }
    void cancel() override { m_download.cancel(); }

private:
    DownloadService& m_real;
    DownloadHandle m_download;
};

} // namespace

class TestHostileServers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestServer m_http;
    RawServer m_raw;
    std::mutex m_lock;
    QByteArrayList m_httpPaths;
    std::string m_garbage = garbage(16384);
    std::atomic<qint64> m_hugeBytesSent{0};

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        httplib::Server& http = m_http.http();
        http.set_logger([this](const httplib::Request& req, const httplib::Response&) {
            std::lock_guard lock(m_lock);
            m_httpPaths << QByteArray::fromStdString(req.path);
        });
        for (int length : {10, 100, 1000, 5000}) {
            http.Get("/healthy" + std::to_string(length),
                     [length](const httplib::Request&, httplib::Response& res) {
                         res.set_content(pageOfTextLength(length), "text/html");
                     });
        }
        http.Get("/garbage", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(m_garbage, "application/octet-stream");
        });
        http.Get("/loop", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/loop");
        });
        http.Get("/a b\"c'd", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageOfTextLength(44), "text/html");
        });
        http.Get("/q\"u'o\"te", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pageOfTextLength(33), "text/html");
        });
        // Far past the download limit, as fast as the loopback takes it, with no length
        // announced: only counting what arrives can stop it.
        http.Get("/huge", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
                static const std::string block(size_t(MiB), 'z');
                if (m_hugeBytesSent >= HugeBody) {
                    sink.done();
                    return true;
                }
                m_hugeBytesSent += qint64(block.size());
                return sink.write(block.data(), block.size());
            });
        });
        m_http.start();

        m_raw.route("/cut", [](int socket, const std::atomic<bool>&) {
            RawServer::send(socket,
                            responseHead("Content-Length: 10000\r\n\r\n") + std::string(3000, 'c'));
        });
        m_raw.route("/drip", [](int socket, const std::atomic<bool>& stopping) {
            if (!RawServer::send(socket, responseHead("Content-Length: 100000\r\n\r\n")))
                return;
            while (RawServer::send(socket, ">") && RawServer::pause(DripInterval, stopping)) {
            }
        });
        m_raw.route("/endless", [](int socket, const std::atomic<bool>& stopping) {
            if (!RawServer::send(socket, responseHead("Transfer-Encoding: chunked\r\n\r\n")))
                return;
            while (RawServer::send(socket, "10\r\n>endless chunk.\r\n") &&
                   RawServer::pause(100ms, stopping)) {
            }
        });
        m_raw.route("/headers", [](int socket, const std::atomic<bool>&) {
            std::string head = responseHead();
            for (int i = 0; i < 4000; ++i)
                head += "X-Filler-" + std::to_string(i) + ": " + std::string(30, 'f') + "\r\n";
            const std::string body = pageOfTextLength(77);
            RawServer::send(socket, head + "Content-Length: " + std::to_string(body.size()) +
                                        "\r\n\r\n" + body);
        });
        m_raw.route("/longheader", [](int socket, const std::atomic<bool>&) {
            const std::string body = pageOfTextLength(77);
            RawServer::send(socket, responseHead("X-Long: " + std::string(200'000, 'l') +
                                                 "\r\nContent-Length: " +
                                                 std::to_string(body.size()) + "\r\n\r\n") +
                                        body);
        });
        m_raw.route("/headersforever", [](int socket, const std::atomic<bool>& stopping) {
            if (!RawServer::send(socket, responseHead()))
                return;
            const std::string lines = [] {
                std::string many;
                for (int i = 0; i < 100; ++i)
                    many += "X-More: " + std::string(90, 'm') + "\r\n";
                return many;
            }();
            while (!stopping && RawServer::send(socket, lines)) {
            }
        });
        QVERIFY(m_raw.start());
    }

    void cleanupTestCase()
    {
        m_raw.stop();
        m_http.stop();
    }

    // The drip runs into the stall check and the endless chunked body into the transfer
    // timeout, so the run takes a few seconds.
    void everyRowMarkedHealthyRowsRightMemoryBounded()
    {
        const QByteArray http = m_http.hostAndPort();
        const QByteArray raw = m_raw.hostAndPort();
        const qsizetype garbageText = qsizetype(reference::reduceHtml(m_garbage).size());
        QVERIFY(garbageText > 1);

        struct Row
        {
            const char* what;
            QByteArray address;
            QByteArray mark;
            QByteArray stored;
        };
        const QList<Row> rows = {
            {"healthy", http + "/healthy10", "Yes", "10"},
            {"binary garbage with NUL bytes", http + "/garbage", "Yes",
             QByteArray::number(garbageText)},
            {"redirect loop", http + "/loop", "Error", ""},
            {"body cut off after 3000 of 10000 bytes", raw + "/cut", "Error", ""},
            {"healthy after a cut-off body", http + "/healthy100", "Yes", "100"},
            {"one byte every 2.5 s", raw + "/drip", "Error", ""},
            {"chunked body that never ends", raw + "/endless", "Error", ""},
            {"healthy after the slow ones", http + "/healthy1000", "Yes", "1000"},
            {"4000 headers", raw + "/headers", "Yes", "77"},
            {"one 200 kB header", raw + "/longheader", "Error", ""},
            {"headers that never end", raw + "/headersforever", "Error", ""},
            {"address with spaces and quotes", http + "/a b\"c'd", "Yes", "44"},
            {"address with quotes", http + "/q\"u'o\"te", "Yes", "33"},
            {"320 MiB chunked, no length", http + "/huge", "Error", ""},
            {"healthy at the end", http + "/healthy5000", "Yes", "5000"},
        };

        const QString listPath = m_dir.filePath("websites.ini");
        QByteArray firstRun;
        for (const Row& row : rows)
            firstRun += row.address + "\r\n\r\n\r\n";
        {
            QFile file(listPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(firstRun), firstRun.size());
        }

        WatchListFile file(listPath);
        WatchList list;
        QCOMPARE(file.LoadResultsFromFile(list), LoadOutcome::Read);
        QCOMPARE(list.Rows(), int(rows.size()) + 1);

        RecordingHost host;
        const DownloadLimits limits = shortLimits();
        CurlDownloadService curl(limits);
        TimedDownloads downloads(curl);
        PageFetcher fetcher(downloads, temporaryDownloadPath(m_dir.path()));

        const qint64 before = peakResidentKiB();
        QVERIFY(before > 0);
        QElapsedTimer timer;
        timer.start();
        CheckRun run(list, file, fetcher, host, fixedClock);
        QVERIFY(runToEnd(run));
        const qint64 took = timer.elapsed();
        const qint64 after = peakResidentKiB();
        qInfo("check run over %d sites took %lld ms; peak memory (VmHWM) %lld KiB before, %lld "
              "KiB after, grew %lld KiB",
              int(rows.size()), took, before, after, after - before);

        QCOMPARE(host.status, DoneStatusText);
        QCOMPARE(downloads.milliseconds.size(), rows.size());
        QByteArray saved;
        for (int i = 0; i < rows.size(); ++i) {
            const int r = i + 1;
            const QByteArray seen = list.cell(r, WatchList::UpdatedColumn) + " " +
                                    list.cell(r, WatchList::LengthColumn);
            qInfo("%-40s %-10s after %lld ms", rows[i].what, seen.constData(),
                  downloads.milliseconds.value(i, -1));
            QVERIFY2(list.cell(r, WatchList::UpdatedColumn) == rows[i].mark &&
                         list.cell(r, WatchList::LengthColumn) == rows[i].stored,
                     qPrintable(QStringLiteral("%1: %2, expected %3 %4")
                                    .arg(rows[i].what, seen, rows[i].mark, rows[i].stored)));
            QCOMPARE(list.cell(r, WatchList::LastVisitedColumn), Now);
            saved += rows[i].address + "\r\n" + Now + "\r\n" + rows[i].stored + "\r\n";
        }
        QFile savedFile(listPath);
        QVERIFY(savedFile.open(QIODevice::ReadOnly));
        QCOMPARE(savedFile.readAll(), saved);
        // Nothing of the downloads is left behind.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"websites.ini"});

        // The address with spaces went out whole, as one request line; the huge body was cut
        // off early.
        {
            std::lock_guard lock(m_lock);
            for (const QByteArray& path : m_httpPaths)
                QVERIFY2(!path.startsWith("/a") || path == "/a b\"c'd", path.constData());
            QVERIFY(m_httpPaths.contains("/a b\"c'd"));
        }
        QVERIFY(m_hugeBytesSent < HugeBody);

        // Each slow server was stopped by the limit meant for it. libcurl's clock and ours
        // start a moment apart, hence the slack.
        const auto durationOf = [&](const char* path) {
            for (int i = 0; i < rows.size(); ++i)
                if (rows[i].address.endsWith(path))
                    return std::chrono::milliseconds(downloads.milliseconds.value(i));
            return std::chrono::milliseconds(-1);
        };
        QVERIFY2(durationOf("/drip") > limits.stallTime - 250ms &&
                     durationOf("/drip") < limits.transferTimeout - 1s,
                 "the drip was not stopped as stalled");
        QVERIFY2(durationOf("/endless") > limits.transferTimeout - 250ms,
                 "the endless body was stopped before the transfer timeout");
        QVERIFY2(after - before < 200 * 1024,
                 qPrintable(QStringLiteral("peak memory grew by %1 KiB").arg(after - before)));
    }
};

QTEST_GUILESS_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
