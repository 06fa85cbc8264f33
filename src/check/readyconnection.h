// SPDX-License-Identifier: MIT
// The connection opened ahead to the next page's host, until that page's download takes it
// through its socket callbacks: when it connects to the same peer and the connection is alive.
#pragma once

#include "handles.h"

#include <QByteArray>

#include <curl/curl.h>

// A socket for `address`, as libcurl would open it, closed on exec.
curl_socket_t newSocket(const curl_sockaddr& address);

class ReadyConnection
{
public:
    // Takes on the connected `socket` to `host` ("scheme://host:port"), closing the one before.
    void keep(curl_socket_t socket, const QByteArray& host);
    void close();
    // The host it is connected to; empty when none.
    const QByteArray& host() const { return m_host; }

    // Offers the download on `handle` the connection, which it takes if it is alive.
    void offerTo(CURL* handle);
    // True when the download offered last runs on this connection.
    bool used() const { return m_used; }

private:
    // The download's socket callbacks. The socket is reported as connected once, to the one
    // question about it: libcurl may close it and get its number again for a socket of its own,
    // which is not connected.
    static curl_socket_t openForDownload(void* self, curlsocktype, curl_sockaddr* address);
    static int connectedForDownload(void* self, curl_socket_t socket, curlsocktype);

    FileDescriptor m_socket;
    QByteArray m_host;
    curl_socket_t m_handedOver = CURL_SOCKET_BAD;
    bool m_used = false;
};
