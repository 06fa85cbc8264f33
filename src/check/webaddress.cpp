// SPDX-License-Identifier: MIT
// Parsing a page's address with libcurl's URL parser, and taking its parts.
#include "webaddress.h"

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

QByteArray forLog(const QByteArray& address)
{
    // The parser finds the password as the download would; it is then masked where it stands,
    // so that the rest of the line shows the address exactly as the list has it.
    const QByteArray password = addressPart(parseWebAddress(address), CURLUPART_PASSWORD);
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
        return address;
    return address.first(at + 1) + "***" + address.sliced(at + written.size() - 1);
}
