// SPDX-License-Identifier: MIT
// A real HTTP server on 127.0.0.1 for tests: an ephemeral port, started before the test goes on
// and stopped when the object goes away. And a port on which nothing answers.
#pragma once

#include "responsegate.h"

#include <httplib.h>

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

// The certificates a TLS test server shows: for "localhost" and 127.0.0.1, from a test CA that
// only the tests trust.
QString testCaCertificates();

class TestServer
{
public:
    // With `tls`, the server speaks https, as "localhost".
    explicit TestServer(bool tls = false);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& http() { return *m_server; }
    int port() const { return m_port; }
    // "127.0.0.1:<port>", the form a watch list row holds (no scheme).
    QByteArray hostAndPort() const;
    // "http://127.0.0.1:<port>", or "https://localhost:<port>", followed by `path`.
    QByteArray url(const std::string& path) const;

    // Starts listening; handlers must be registered before.
    void start();
    void stop();

private:
    std::unique_ptr<httplib::Server> m_server;
    bool m_tls;
    std::thread m_thread;
    int m_port = -1;
};

// A server of one page, "/held", that comes only when `gate` lets it, so that a run waits on it.
struct HeldPageServer
{
    TestServer server;
    ResponseGate gate;
    HeldPageServer()
    {
        server.http().Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            gate.wait();
            res.set_content(std::string(100, 'x'), "text/html");
        });
        server.start();
    }
    QByteArray address() const { return server.hostAndPort() + "/held"; }
};

// A loopback port that refuses every connection for as long as the object lives: bound, so that
// nothing else can take it meanwhile, but never listening.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by `path`.
    QByteArray url(const std::string& path) const;

protected:
    int m_socket = -1;
    int m_port = -1;
};

// A loopback port that takes every connection and closes it at once, as an overloaded or
// broken server does; or, `afterTheRequest`, once the request has come, without an answer.
class ClosingPort final : public RefusingPort
{
public:
    explicit ClosingPort(bool afterTheRequest = false);
    ~ClosingPort();

private:
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
