// SPDX-License-Identifier: MIT
// Parsing a page's address with libcurl's URL parser, and taking its parts.
#include "webaddress.h"

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

} // namespace

QByteArray forLog(const QByteArray& address)
{
    // The parser finds the password as the download would; it is then masked where it stands,
    // so that the rest of the line shows the address exactly as the list has it.
    const WebAddress parsed = parseWebAddress(address);
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
