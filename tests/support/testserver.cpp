// SPDX-License-Identifier: MIT
// Starting and stopping the loopback test server without the race cpp-httplib leaves open, and
// holding a port that refuses connections.
#include "testserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

QString testCaCertificates()
{
    return QStringLiteral(KORVANE_TEST_TLS_DIR "/ca.pem");
}

TestServer::TestServer(bool tls)
    : m_server(
          tls ? std::unique_ptr<httplib::Server>(new httplib::SSLServer(
                    KORVANE_TEST_TLS_DIR "/localhost.pem", KORVANE_TEST_TLS_DIR "/localhost.key"))
              : std::make_unique<httplib::Server>()),
      m_tls(tls)
{}

TestServer::~TestServer()
{
    stop();
}

QByteArray TestServer::hostAndPort() const
{
    return QByteArray("127.0.0.1:") + QByteArray::number(m_port);
}

QByteArray TestServer::url(const std::string& path) const
{
    if (m_tls)
        return "https://localhost:" + QByteArray::number(m_port) + QByteArray::fromStdString(path);
    return QByteArray("http://") + hostAndPort() + QByteArray::fromStdString(path);
}

void TestServer::start()
{
    // A response goes out in several writes; held back by Nagle's algorithm for the client's
    // delayed acknowledgement, each page would take 40 ms longer than a real server needs.
    m_server->set_tcp_nodelay(true);
    // Newer cpp-httplib packs a text response on its own when the client accepts it, even one a
    // handler packed already: a test would then see its page packed twice, or a page packed
    // that it served plain. The request is read without the client's wish, so every response
    // goes out with exactly the bytes and headers the test gave it.
    m_server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        const_cast<httplib::Request&>(request).headers.erase("Accept-Encoding");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("test server could not bind to 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() before the listen loop runs would leave join() waiting for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("test server did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestServer::stop()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

RefusingPort::RefusingPort()
{
    // No SO_REUSEADDR: then no other socket can bind the port while this one holds it.
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("could not bind a port on 127.0.0.1");
    m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    ::close(m_socket);
}

QByteArray RefusingPort::url(const std::string& path) const
{
    return QByteArray("http://127.0.0.1:") + QByteArray::number(m_port) +
           QByteArray::fromStdString(path);
}

ClosingPort::ClosingPort(bool afterTheRequest)
{
    if (::listen(m_socket, 16) != 0)
        throw std::runtime_error("could not listen on 127.0.0.1");
    m_thread = std::thread([this, afterTheRequest] {
        while (!m_stopping) {
            pollfd ready{m_socket, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0)
                continue;
            const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            for (std::string request;
                 afterTheRequest && request.find("\r\n\r\n") == request.npos;) {
                pollfd readable{connection, POLLIN, 0};
                char buffer[512];
                const ssize_t n =
                    ::poll(&readable, 1, 2000) > 0 ? ::read(connection, buffer, sizeof buffer) : 0;
                if (n <= 0)
                    break;
                request.append(buffer, size_t(n));
            }
            ::close(connection);
        }
    });
}

ClosingPort::~ClosingPort()
{
    m_stopping = true;
    m_thread.join();
}
