// SPDX-License-Identifier: MIT
// Watching libcurl's sockets and timer from the event loop.
#include "curlsockets.h"

#include <algorithm>
#include <limits>

CurlSockets::CurlSockets(CURLM* multi, Acted acted) : m_multi(multi), m_acted(std::move(acted))
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    m_driving = m_multi &&
                curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, watchSocket) == CURLM_OK &&
                curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this) == CURLM_OK &&
                curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, setTimer) == CURLM_OK &&
                curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this) == CURLM_OK;
}

CurlSockets::~CurlSockets()
{
    if (m_multi) {
        // Closing its connections, the multi handle would tell an object half gone.
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, nullptr);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, nullptr);
    }
}

int CurlSockets::watchSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    auto* sockets = static_cast<CurlSockets*>(self);
    const auto watch = [sockets, socket](QSocketNotifier::Type type, int event) {
        auto* notifier = new QSocketNotifier(socket, type, sockets);
        QObject::connect(notifier, &QSocketNotifier::activated, sockets,
                         [sockets, socket, event] { sockets->act(socket, event); });
        return notifier;
    };
    if (what == CURL_POLL_REMOVE) {
        // libcurl may close the socket as soon as this returns, and its number may come back
        // for another socket: the notifiers stop now, and go once their signal has returned.
        if (const auto watched = sockets->m_sockets.find(socket);
            watched != sockets->m_sockets.end()) {
            for (QSocketNotifier* notifier : {watched->second.read, watched->second.write}) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            sockets->m_sockets.erase(watched);
        }
        return 0;
    }
    SocketWatch& watched = sockets->m_sockets[socket];
    if (!watched.read) {
        watched.read = watch(QSocketNotifier::Read, CURL_CSELECT_IN);
        watched.write = watch(QSocketNotifier::Write, CURL_CSELECT_OUT);
    }
    watched.read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watched.write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlSockets::setTimer(CURLM*, long timeoutMs, void* self)
{
    auto* sockets = static_cast<CurlSockets*>(self);
    if (timeoutMs < 0)
        sockets->m_timer.stop();
    else
        sockets->m_timer.start(int(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
    return 0;
}

void CurlSockets::act(curl_socket_t socket, int events)
{
    int running = 0;
    m_acted(curl_multi_socket_action(m_multi, socket, events, &running));
}
