// SPDX-License-Identifier: MIT
// A site's Strict-Transport-Security header, read as RFC 6797 writes it (section 6.1): libcurl
// takes the digits a max-age begins with and the last of several headers, where a header that
// breaks the syntax is to be ignored and the first header is the one that counts.
#pragma once

#include <QByteArrayView>

#include <optional>

struct StrictTransport
{
    // Seconds; a number too large to hold is the largest that is.
    qint64 maxAge = 0;
    bool includeSubDomains = false;
};

// The header's value (after "Strict-Transport-Security:"); nothing when it is to be ignored:
// a directive twice, a max-age missing or not all digits, a value on includeSubDomains, or
// anything that is not a token or a quoted string where one belongs.
std::optional<StrictTransport> parseStrictTransport(QByteArrayView value);

// The headers of one transfer's answers as they come, one line at a time: of each answer, the
// first Strict-Transport-Security header only.
class StrictTransportHeaders
{
public:
    // The value of `line` when it is the answer's first Strict-Transport-Security header.
    std::optional<QByteArrayView> take(QByteArrayView line);

private:
    bool m_seen = false;
};
