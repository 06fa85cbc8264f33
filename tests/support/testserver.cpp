// Starting and stopping the loopback test server without the race cpp-httplib leaves open.
#include "testserver.h"

#include <chrono>
#include <stdexcept>

TestServer::TestServer() = default;

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
    return QByteArray("http://") + hostAndPort() + QByteArray::fromStdString(path);
}

void TestServer::start()
{
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("test server could not bind to 127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() before the listen loop runs would leave join() waiting for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server.is_running()) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("test server did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestServer::stop()
{
    if (m_thread.joinable()) {
        m_server.stop();
        m_thread.join();
    }
}
