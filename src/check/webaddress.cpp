// SPDX-License-Identifier: MIT
// Parsing a page's address with libcurl's URL parser, and taking its parts.
#include "webaddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

WebAddress parseWebAddress(const QByteArray& address, CURLUcode* error)
{
    QByteArray escaped = address;
    escaped.replace(' ', "%20");
    WebAddress url(curl_url());
    const CURLUcode code =
        url ? curl_url_set(url.get(), CURLUPART_URL, escaped.constData(), CURLU_URLENCODE)
            : CURLUE_OUT_OF_MEMORY;
    if (error)
        *error = code;
    if (code != CURLUE_OK)
        url.reset();
    return url;
}

QByteArray addressPart(const WebAddress& url, CURLUPart which, unsigned flags)
{
    char* text = nullptr;
    if (!url || curl_url_get(url.get(), which, &text, flags) != CURLUE_OK)
        return {};
    const CurlString owned(text);
    return QByteArray(owned.get());
}

QByteArray comparableHost(QByteArrayView host)
{
    QByteArray name = host.toByteArray().toLower();
    if (name.endsWith('.'))
        name.chop(1);
    if (std::any_of(name.cbegin(), name.cend(), [](char c) { return c & 0x80; }))
        name = addressPart(parseWebAddress("http://" + name + '/'), CURLUPART_HOST, CURLU_PUNYCODE)
                   .toLower();
    in_addr ip{};
    if (name.isEmpty() || name.startsWith('[') || name.contains(':') ||
        inet_pton(AF_INET, name.constData(), &ip) == 1)
        return {};
    return name;
}

namespace {

// An address the parser cannot read may hold a password all the same: everything before the
// last "@" of what looks like its host goes.
QByteArray withoutUserPart(const QByteArray& address)
{
    const qsizetype scheme = address.indexOf("://");
    const qsizetype start = scheme < 0 ? 0 : scheme + 3;
    qsizetype end = address.size();
    for (const char c : {'/', '?', '#'})
        if (const qsizetype at = address.indexOf(c, start); at >= 0)
            end = std::min(end, at);
    const qsizetype at = end > start ? address.lastIndexOf('@', end - 1) : -1;
    return at < start ? address : address.first(start) + "***" + address.sliced(at);
}

// The address as a log line shows it. The parser found the password as the download would; it
// is masked where it stands, so that the rest of the line shows the address exactly as written.
QByteArray maskedForLog(const QByteArray& address, const WebAddress& parsed)
{
    if (!parsed)
        return withoutUserPart(address);
    const QByteArray password = addressPart(parsed, CURLUPART_PASSWORD);
    if (password.isEmpty())
        return address;
    QByteArray written = ':' + password + '@';
    qsizetype at = address.indexOf(written);
    if (at < 0) {
        // Typed with a space, which the parser holds escaped.
        written.replace("%20", " ");
        at = address.indexOf(written);
    }
    if (at < 0)
        return withoutUserPart(address);
    return address.first(at + 1) + "***" + address.sliced(at + written.size() - 1);
}

} // namespace

PageAddress::PageAddress(const QByteArray& text)
{
    CURLUcode error = CURLUE_OK;
    WebAddress url = parseWebAddress(text, &error);
    m_parsed = partsOf(text, std::move(url), error);
}

PageAddress::PageAddress(WebAddress url)
{
    const QByteArray text = addressPart(url, CURLUPART_URL);
    const CURLUcode error = url ? CURLUE_OK : CURLUE_OUT_OF_MEMORY;
    m_parsed = partsOf(text, std::move(url), error);
}

std::shared_ptr<const PageAddress::Parsed> PageAddress::partsOf(QByteArray text, WebAddress url,
                                                                CURLUcode error)
{
    auto parsed = std::make_shared<Parsed>();
    parsed->forLog = maskedForLog(text, url);
    parsed->text = std::move(text);
    parsed->error = error;
    if (url) {
        parsed->written = addressPart(url, CURLUPART_URL);
        parsed->scheme = addressPart(url, CURLUPART_SCHEME);
        parsed->host = addressPart(url, CURLUPART_HOST);
        parsed->port = addressPart(url, CURLUPART_PORT);
        parsed->connectionPort = addressPart(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
        parsed->path = addressPart(url, CURLUPART_PATH);
        parsed->query = addressPart(url, CURLUPART_QUERY);
        parsed->hasUserOrPassword = !addressPart(url, CURLUPART_USER).isEmpty() ||
                                    !addressPart(url, CURLUPART_PASSWORD).isEmpty();
    }
    parsed->url = std::move(url);
    return parsed;
}

const PageAddress::Parsed& PageAddress::parsed() const
{
    static const Parsed none;
    return m_parsed ? *m_parsed : none;
}

WebAddress PageAddress::copy() const
{
    return WebAddress(isValid() ? curl_url_dup(m_parsed->url.get()) : nullptr);
}
