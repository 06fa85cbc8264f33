// SPDX-License-Identifier: MIT
// Handing the connection opened ahead over to the download of its page.
#include "readyconnection.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// A prepared connection the server has closed, or that has something to read before anything
// was asked, is no use.
bool alive(curl_socket_t socket)
{
    pollfd check{socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&check, 1, 0) == 0;
}

bool samePeer(curl_socket_t socket, const curl_sockaddr& wanted)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.ss_family != wanted.family)
        return false;
    if (wanted.family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(peer);
        const auto& b = reinterpret_cast<const sockaddr_in&>(wanted.addr);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    if (wanted.family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(peer);
        const auto& b = reinterpret_cast<const sockaddr_in6&>(wanted.addr);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }
    return false;
}

} // namespace

curl_socket_t newSocket(const curl_sockaddr& address)
{
    return ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
}

void ReadyConnection::keep(curl_socket_t socket, const QByteArray& host)
{
    m_socket = FileDescriptor(socket);
    m_host = host;
}

void ReadyConnection::close()
{
    m_socket.close();
    m_host.clear();
}

void ReadyConnection::offerTo(CURL* handle)
{
    m_handedOver = CURL_SOCKET_BAD;
    m_used = false;
    if (m_socket.isOpen()) {
        const bool offered =
            curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, this) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_SOCKOPTDATA, this) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, openForDownload) == CURLE_OK &&
            curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, connectedForDownload) == CURLE_OK;
        if (!offered) {
            // Half an offer would hand over a connected socket that libcurl then connects
            // again: the download makes its own socket, as it does with nothing prepared.
            curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, nullptr);
            curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, nullptr);
        }
    }
}

curl_socket_t ReadyConnection::openForDownload(void* self, curlsocktype, curl_sockaddr* address)
{
    auto& ready = *static_cast<ReadyConnection*>(self);
    if (ready.m_socket.isOpen() && samePeer(ready.m_socket.get(), *address)) {
        if (alive(ready.m_socket.get())) {
            // libcurl closes it from here on.
            ready.m_handedOver = ready.m_socket.release();
            ready.m_used = true;
            ready.m_host.clear();
            return ready.m_handedOver;
        }
        // Closed by the server meanwhile: the download makes its own, as it would have.
        ready.close();
    }
    const curl_socket_t socket = newSocket(*address);
    if (socket == ready.m_handedOver)
        ready.m_handedOver = CURL_SOCKET_BAD;
    return socket;
}

int ReadyConnection::connectedForDownload(void* self, curl_socket_t socket, curlsocktype)
{
    auto& ready = *static_cast<ReadyConnection*>(self);
    if (socket == CURL_SOCKET_BAD || socket != ready.m_handedOver)
        return CURL_SOCKOPT_OK;
    ready.m_handedOver = CURL_SOCKET_BAD;
    return CURL_SOCKOPT_ALREADY_CONNECTED;
}
