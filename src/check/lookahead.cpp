// SPDX-License-Identifier: MIT
// Look-ups and connections ahead of the check run, on libcurl's own resolver and sockets.
#include "lookahead.h"

#include "webaddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace {

struct Host
{
    QByteArray key;      // "scheme://host:port": a download on one key reuses a connection
    QByteArray plainUrl; // "http://host:port/": never TLS, the handshake waits for the turn
    bool numeric = false;
};

std::optional<Host> connectionHostOf(const PageAddress& address)
{
    const QByteArray scheme = address.scheme().toLower();
    const QByteArray& host = address.host();
    const QByteArray& port = address.connectionPort();
    if ((scheme != "http" && scheme != "https") || host.isEmpty() || port.isEmpty())
        return std::nullopt;
    Host result{scheme + "://" + host + ':' + port, "http://" + host + ':' + port + '/'};
    const QByteArray bare = host.startsWith('[') ? host.mid(1, host.size() - 2) : host;
    unsigned char binary[sizeof(in6_addr)];
    result.numeric = inet_pton(AF_INET, bare.constData(), binary) == 1 ||
                     inet_pton(AF_INET6, bare.constData(), binary) == 1;
    return result;
}

// A look-up stops once the name is known: its socket is refused. A connection keeps the
// sockets it opens, so that the one that connects can be handed on.
curl_socket_t openPrepared(void* clientp, curlsocktype, curl_sockaddr* address)
{
    auto* prepared = static_cast<LookAhead::Prepared*>(clientp);
    if (!prepared->connect)
        return CURL_SOCKET_BAD;
    const curl_socket_t socket = newSocket(*address);
    if (socket != CURL_SOCKET_BAD)
        prepared->sockets.push_back(socket);
    return socket;
}

int closePrepared(void* clientp, curl_socket_t socket)
{
    auto* prepared = static_cast<LookAhead::Prepared*>(clientp);
    std::erase(prepared->sockets, socket);
    if (socket != prepared->keep)
        ::close(socket);
    return 0;
}

} // namespace

bool proxyConfigured()
{
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    return false;
}

LookAhead::LookAhead(CURLM* multi, int lookUps, long connectTimeoutMs, CURLSH* share,
                     FetchedAs fetchedAs)
    : m_multi(multi), m_share(share), m_lookUps(lookUps), m_connectTimeoutMs(connectTimeoutMs),
      m_fetchedAs(std::move(fetchedAs))
{}

LookAhead::~LookAhead()
{
    setUpcoming({});
}

void LookAhead::setUpcoming(const QByteArrayList& addresses)
{
    m_upcoming.clear();
    m_considered = 0;
    if (m_lookUps > 0)
        for (const QByteArray& address : addresses)
            m_upcoming.push_back({address, {}});
    if (!addresses.isEmpty())
        return;
    while (!m_inFlight.empty())
        drop(m_inFlight.begin());
    m_lookedUp.clear();
    m_fetched.clear();
    m_failed.clear();
    m_ready.close();
}

void LookAhead::drop(std::list<Prepared>::iterator prepared)
{
    // A look-up that hangs does not hold this up: the handles quit without waiting for it.
    // libcurl closes the sockets through closePrepared, all but the one kept.
    curl_multi_remove_handle(m_multi, prepared->handle.get());
    prepared->handle.reset();
    m_inFlight.erase(prepared);
}

const PageAddress& LookAhead::upcoming(size_t at)
{
    Upcoming& page = m_upcoming[at];
    if (page.parsed.isNull())
        page.parsed = PageAddress(page.listed);
    return page.parsed;
}

void LookAhead::prepare(const PageAddress& fetched, bool connect)
{
    const std::optional<Host> host = connectionHostOf(fetched);
    if (!host)
        return;
    Prepared& prepared = m_inFlight.emplace_back();
    prepared.host = host->key;
    prepared.connect = connect;
    prepared.handle.reset(curl_easy_init());
    CURL* h = prepared.handle.get();
    bool ok = h && curl_easy_setopt(h, CURLOPT_URL, host->plainUrl.constData()) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_DNS_CACHE_TIMEOUT, NameFreshSeconds) == CURLE_OK &&
              (!m_share || curl_easy_setopt(h, CURLOPT_SHARE, m_share) == CURLE_OK) &&
              curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, openPrepared) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &prepared) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closePrepared) == CURLE_OK &&
              curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &prepared) == CURLE_OK &&
              curl_multi_add_handle(m_multi, h) == CURLM_OK;
    if (!ok)
        m_inFlight.pop_back();
}

PageAddress LookAhead::takeTurn(const QByteArray& address)
{
    if (m_upcoming.empty() || m_upcoming.front().listed != address)
        return PageAddress(address);
    const PageAddress parsed = upcoming(0);
    m_upcoming.pop_front();
    m_considered -= m_considered > 0;
    return parsed;
}

bool LookAhead::startTurn(const PageAddress& fetched)
{
    if (m_lookUps <= 0)
        return false;
    const QByteArray current = connectionHostOf(fetched).value_or(Host()).key;
    if (m_ready.host() != current)
        m_ready.close();
    if (!current.isEmpty())
        m_fetched.insert(current);
    // A connection still being opened for this host is overtaken by the download's own.
    for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
        const auto next = std::next(it);
        if (it->connect && it->host == current)
            drop(it);
        it = next;
    }

    if (!m_upcoming.empty()) {
        const PageAddress nextFetched = fetchedAs(upcoming(0));
        const QByteArray next = connectionHostOf(nextFetched).value_or(Host()).key;
        const bool connecting = std::any_of(m_inFlight.begin(), m_inFlight.end(),
                                            [](const Prepared& p) { return p.connect; });
        // libcurl keeps the connection of a host fetched before: one opened now would be
        // closed unused. A name that failed ahead is left to the download's own look-up.
        if (!next.isEmpty() && !m_fetched.contains(next) && !m_failed.contains(next) &&
            !connecting && m_ready.host() != next)
            prepare(nextFetched, true);
    }
    int lookingUp = int(std::count_if(m_inFlight.begin(), m_inFlight.end(),
                                      [](const Prepared& p) { return !p.connect; }));
    for (; m_considered < std::min(m_upcoming.size(), LookUpPages) && lookingUp < m_lookUps;
         ++m_considered) {
        // Worked out now, not when the run began: a site may have asked for https since.
        const PageAddress ahead = fetchedAs(upcoming(m_considered));
        const std::optional<Host> host = connectionHostOf(ahead);
        if (!host || host->numeric || host->key == current || m_lookedUp.contains(host->key))
            continue;
        m_lookedUp.insert(host->key);
        prepare(ahead, false);
        ++lookingUp;
    }
    // Once: the download's own look-up says what holds now, for the rows after it too.
    return m_failed.remove(current);
}

bool LookAhead::finished(CURL* handle, CURLcode result)
{
    const auto prepared =
        std::find_if(m_inFlight.begin(), m_inFlight.end(),
                     [handle](const Prepared& p) { return p.handle.get() == handle; });
    if (prepared == m_inFlight.end())
        return false;
    // Asked again at its turn: a DNS server that did not answer now may answer then.
    if (result == CURLE_COULDNT_RESOLVE_HOST)
        m_failed.insert(prepared->host);
    curl_socket_t connected = CURL_SOCKET_BAD;
    if (prepared->connect && result == CURLE_OK &&
        curl_easy_getinfo(handle, CURLINFO_ACTIVESOCKET, &connected) == CURLE_OK &&
        connected != CURL_SOCKET_BAD) {
        prepared->keep = connected;
        m_ready.keep(connected, prepared->host);
    }
    drop(prepared);
    return true;
}
