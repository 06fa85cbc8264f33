// SPDX-License-Identifier: MIT
// Getting the next pages' hosts ready while the current page downloads: their names looked up
// a few at a time, and a connection opened to the next page's host (handed over by
// ReadyConnection). Pages are still fetched one after another; nothing here sends a request.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>

#include "handles.h"
#include "readyconnection.h"
#include "webaddress.h"

#include <curl/curl.h>

#include <deque>
#include <functional>
#include <list>
#include <vector>

// How long a name looked up (ahead, or for an earlier page) is used, in seconds: a site that
// moves or fails over is met at its new address as soon as a fetch without looking ahead would
// meet it. libcurl's resolver is told no time-to-live by the DNS, so age alone counts.
inline constexpr long NameFreshSeconds = 5;
// The upcoming pages whose names are looked up ahead: enough to hide a look-up behind the page
// before, no further, where a name would be stale by its turn.
inline constexpr size_t LookUpPages = 2;

// libcurl reads the proxy variables itself; a page fetched through a proxy gains nothing from a
// connection to its host, so a look-ahead then prepares nothing.
bool proxyConfigured();

class LookAhead
{
public:
    // The address a page will really be fetched at (https when the site asked for it), asked
    // when the page is prepared, so that what was learnt meanwhile counts.
    using FetchedAs = std::function<PageAddress(const PageAddress& address)>;

    // Works on the download service's multi handle, whose DNS cache the downloads use.
    // `lookUps`: how many names may be looked up at once; 0 prepares nothing.
    LookAhead(CURLM* multi, int lookUps, long connectTimeoutMs, CURLSH* share = nullptr,
              FetchedAs fetchedAs = {});
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The addresses of the next downloads as listed, in their order. An empty list closes
    // every prepared connection and abandons every look-up.
    void setUpcoming(const QByteArrayList& addresses);

    // The turn of `address` (as listed) comes: the address parsed, as it was when it was
    // upcoming, or now when it was not.
    PageAddress takeTurn(const QByteArray& address);

    // The turn of the page fetched at `fetched` has come, whether or not its download can
    // begin: gets the pages after it ready. True at the first turn of a host whose name failed
    // to be looked up ahead: the download looks it up afresh rather than take a failure that
    // may have passed (libcurl does not tell a name that does not exist from a DNS server that
    // did not answer).
    bool startTurn(const PageAddress& fetched);

    // Offers the download on `handle` the connection prepared for its host, which it takes if
    // it is alive.
    void offerPrepared(CURL* handle) { m_ready.offerTo(handle); }

    // True when the download offered last runs on a connection prepared for it.
    bool usedPreparedConnection() const { return m_ready.used(); }

    // A transfer of the multi handle ended; false when it was not one of this object's.
    bool finished(CURL* handle, CURLcode result);

    // One look-up or connection under way, and the sockets it opened.
    struct Prepared
    {
        QByteArray host;
        bool connect = false;
        std::vector<curl_socket_t> sockets;
        curl_socket_t keep = CURL_SOCKET_BAD;
        // Last, so that it goes first: its cleanup closes sockets through the fields above.
        CurlEasy handle;
    };

private:
    struct Upcoming
    {
        QByteArray listed;
        // Parsed when first asked for, and handed on with its turn.
        PageAddress parsed;
    };
    // The upcoming page `at`, parsed.
    const PageAddress& upcoming(size_t at);
    PageAddress fetchedAs(const PageAddress& listed) const
    {
        return m_fetchedAs ? m_fetchedAs(listed) : listed;
    }
    void prepare(const PageAddress& fetched, bool connect);
    void drop(std::list<Prepared>::iterator prepared);

    CURLM* m_multi;
    // The look-ups go to the downloads' name cache.
    CURLSH* m_share;
    int m_lookUps;
    long m_connectTimeoutMs;
    FetchedAs m_fetchedAs;
    std::deque<Upcoming> m_upcoming;
    // How many of the first upcoming addresses were already considered for a look-up.
    size_t m_considered = 0;
    std::list<Prepared> m_inFlight;
    // Hosts ("scheme://host:port") whose names were asked for; those fetched in this run, to
    // which libcurl may still hold a connection; and those whose look-up ahead failed.
    QSet<QByteArray> m_lookedUp;
    QSet<QByteArray> m_fetched;
    QSet<QByteArray> m_failed;
    // The connection opened for the next page's host, once it is up.
    ReadyConnection m_ready;
};
