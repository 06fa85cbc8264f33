// SPDX-License-Identifier: MIT
// A page's address as a download sends it: parsed once, the same way for the download, the
// look-ahead, the https memory and the log, so that all of them always name a host alike.
#pragma once

#include "handles.h"

#include <QByteArray>

#include <memory>

using WebAddress = CurlUrl;

// An address as a download sends it, parsed; null, with `error` set, when it is none. People
// type spaces where a URL needs "%20", as browsers accept them: they are escaped the way a
// browser sends them, where the parser would send "+" in a query, which a server reads as a
// plus.
WebAddress parseWebAddress(const QByteArray& address, CURLUcode* error = nullptr);

// One part of a parsed address (`flags` as curl_url_get takes them); empty when the address
// has no such part, or is null.
QByteArray addressPart(const WebAddress& url, CURLUPart which, unsigned flags = 0);

// `host` in the one form in which Korvane compares hosts and keeps them: lower case, without a
// trailing dot, an international name as its punycode ("xn--…"), as libcurl connects to it.
// Empty for an IP address, which names no site, and for a name libcurl cannot convert.
QByteArray comparableHost(QByteArrayView host);

// An address parsed once, with the parts the fetcher asks for and the form its log lines show:
// it travels parsed through a page's turn, from the look-ahead to the https memory and the
// transfer. Copies share the one parse and nothing changes it.
class PageAddress
{
public:
    // No address at all (isNull).
    PageAddress() = default;
    // `text` as the list, the https memory or a browser would write it.
    explicit PageAddress(const QByteArray& text);
    // An address libcurl holds already (an upgrade to https, a redirect's target); its text is
    // libcurl's.
    explicit PageAddress(WebAddress url);

    bool isNull() const { return !m_parsed; }
    // Parsed; otherwise error() says why not.
    bool isValid() const { return m_parsed && m_parsed->url; }
    CURLUcode error() const { return parsed().error; }
    const QByteArray& text() const { return parsed().text; }
    // As libcurl writes it, which is how it names the address a transfer asks for.
    const QByteArray& written() const { return parsed().written; }
    // The text with a password in it (user:password@host) as "***", since logs are pasted
    // into bug reports.
    const QByteArray& forLog() const { return parsed().forLog; }
    const QByteArray& scheme() const { return parsed().scheme; }
    const QByteArray& host() const { return parsed().host; }
    // As written, empty for none; connectionPort() is the scheme's own then.
    const QByteArray& port() const { return parsed().port; }
    const QByteArray& connectionPort() const { return parsed().connectionPort; }
    const QByteArray& path() const { return parsed().path; }
    const QByteArray& query() const { return parsed().query; }
    bool hasUserOrPassword() const { return parsed().hasUserOrPassword; }
    // A copy of the parsed address that its taker may change (libcurl may, once a transfer
    // has it); null when there is none or memory ran out.
    WebAddress copy() const;

private:
    struct Parsed
    {
        QByteArray text, written, forLog, scheme, host, port, connectionPort, path, query;
        bool hasUserOrPassword = false;
        CURLUcode error = CURLUE_OK;
        WebAddress url;
    };
    static std::shared_ptr<const Parsed> partsOf(QByteArray text, WebAddress url, CURLUcode error);
    const Parsed& parsed() const;

    std::shared_ptr<const Parsed> m_parsed;
};
