// SPDX-License-Identifier: MIT
// The words for why a page could not be fetched.
#include "fetchfailure.h"

#include "webaddress.h"

#include <QLocale>

#include <cerrno>
#include <cstring>
#include <map>

Q_LOGGING_CATEGORY(lcFetch, "korvane.fetch", QtWarningMsg)

QString notKeptText(int error)
{
    return QStringLiteral("The page could not be kept on this computer: %1")
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

QString sizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    return QStringLiteral("%1 bytes").arg(bytes);
}

// The words a server's status line usually carries with the number. HTTP/2 sends none, so the
// program has its own; they are not read from the server, which may send anything.
QString statusText(long status)
{
    static const std::map<long, const char*> phrases = {
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {410, "Gone"},
        {429, "Too Many Requests"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    const auto phrase = phrases.find(status);
    if (phrase == phrases.end())
        return QString::number(status);
    return QStringLiteral("%1 %2").arg(status).arg(QLatin1StringView(phrase->second));
}

namespace {

// The host of the address the transfer last tried, which after a redirect is not the one asked
// for; without one, the address asked for is parsed already.
QString effectiveHost(CURL* handle, const PageAddress& asked)
{
    const char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK || !effective)
        return {};
    if (asked.written() == effective)
        return QString::fromUtf8(asked.host());
    return QString::fromUtf8(addressPart(parseWebAddress(effective), CURLUPART_HOST));
}

} // namespace

// Why a transfer failed, in the words of a user who knows web pages but not libcurl.
QString reasonFor(CURLcode code, CURL* handle, const PageAddress& asked)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("No such host: %1").arg(effectiveHost(handle, asked));
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("No such proxy host");
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &error);
        return error == ECONNREFUSED ? QStringLiteral("The server refused the connection")
                                     : QStringLiteral("The server could not be reached");
    }
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral("No answer in time");
    case CURLE_HTTP_RETURNED_ERROR: {
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        return QStringLiteral("The server answered %1").arg(statusText(status));
    }
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("The certificate is not trusted");
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("This computer has no trusted certificates to check the site's");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("The secure connection could not be set up");
    case CURLE_TOO_MANY_REDIRECTS:
        return QStringLiteral("Too many redirects");
    case CURLE_UNSUPPORTED_PROTOCOL:
        return QStringLiteral("Not a web address: only http and https pages are fetched");
    case CURLE_URL_MALFORMAT:
        return QStringLiteral("Not a valid address");
    case CURLE_GOT_NOTHING:
        return QStringLiteral("The server closed the connection without an answer");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return QStringLiteral("The connection broke off");
    case CURLE_PARTIAL_FILE:
        return QStringLiteral("Only part of the page came");
    case CURLE_BAD_CONTENT_ENCODING:
        return QStringLiteral("The page could not be unpacked");
    case CURLE_WEIRD_SERVER_REPLY:
        return QStringLiteral("The server did not answer as a web server");
    default:
        return QString::fromUtf8(curl_easy_strerror(code));
    }
}

QString askedToWaitText(const AskedToWait& refusal)
{
    // A wait of minutes names the time; one of days names the day too.
    const QLocale locale;
    const QDateTime until = refusal.until.toLocalTime();
    const QString when = until.date() == QDate::currentDate()
                             ? locale.toString(until.time(), QLocale::LongFormat)
                             : locale.toString(until, QLocale::LongFormat);
    return QStringLiteral("The site asked to wait until %1 (the server answered %2)")
        .arg(when, statusText(refusal.status));
}
