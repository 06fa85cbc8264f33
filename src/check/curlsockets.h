// SPDX-License-Identifier: MIT
// libcurl's multi interface on Qt's event loop: the sockets libcurl names are watched with
// QSocketNotifier, its timer is a QTimer, and nothing else happens here.
#pragma once

#include <curl/curl.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>
#include <unordered_map>

class CurlSockets final : public QObject
{
public:
    // Called after libcurl has acted on a socket or its timer: transfers may have ended.
    // `failed` is set when the multi handle itself failed.
    using Acted = std::function<void(CURLMcode failed)>;

    // Drives `multi`, which must outlive this object; false from isDriving() when libcurl
    // refused the callbacks, and the multi handle then cannot run.
    CurlSockets(CURLM* multi, Acted acted);
    ~CurlSockets() override;
    CurlSockets(const CurlSockets&) = delete;
    CurlSockets& operator=(const CurlSockets&) = delete;

    bool isDriving() const { return m_driving; }

private:
    static int watchSocket(CURL* handle, curl_socket_t socket, int what, void* self,
                           void* socketData);
    static int setTimer(CURLM* multi, long timeoutMs, void* self);
    void act(curl_socket_t socket, int events);

    CURLM* m_multi;
    Acted m_acted;
    bool m_driving = false;
    QTimer m_timer;
    struct SocketWatch
    {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };
    std::unordered_map<curl_socket_t, SocketWatch> m_sockets;
};
