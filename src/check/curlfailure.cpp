// SPDX-License-Identifier: MIT
// What a failed transfer says, read from libcurl or the system.
#include "curlfailure.h"

#include <cerrno>
#include <utility>

namespace {

// The host of the address the transfer last tried, which after a redirect is not the one asked
// for; without one, the address asked for is parsed already.
QByteArray effectiveHost(CURL* handle, const PageAddress& asked)
{
    const char* effective = nullptr;
    if (!handle || curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK ||
        !effective)
        return {};
    if (asked.written() == effective)
        return asked.host();
    return addressPart(parseWebAddress(effective), CURLUPART_HOST);
}

// Codes whose reason says all there is to say.
using R = FetchFailure::Reason;
constexpr std::pair<CURLcode, R> PlainReasons[] = {
    {CURLE_PEER_FAILED_VERIFICATION, R::CertificateNotTrusted},
    {CURLE_SSL_CACERT_BADFILE, R::NoTrustedCertificates},
    {CURLE_SSL_CONNECT_ERROR, R::SecureConnectionFailed},
    {CURLE_TOO_MANY_REDIRECTS, R::TooManyRedirects},
    {CURLE_UNSUPPORTED_PROTOCOL, R::NotAWebAddress},
    {CURLE_URL_MALFORMAT, R::NotAValidAddress},
    {CURLE_GOT_NOTHING, R::ClosedWithoutAnswer},
    {CURLE_RECV_ERROR, R::ConnectionBroke},
    {CURLE_SEND_ERROR, R::ConnectionBroke},
    {CURLE_PARTIAL_FILE, R::PartOnly},
    {CURLE_BAD_CONTENT_ENCODING, R::NotUnpacked},
    {CURLE_WEIRD_SERVER_REPLY, R::NotAWebServer},
    {CURLE_OPERATION_TIMEDOUT, R::TimedOut},
    {CURLE_COULDNT_RESOLVE_PROXY, R::NoSuchProxy},
};

} // namespace

FetchFailure failureOf(CURLcode code, CURL* handle, const PageAddress& asked)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: {
        FetchFailure noHost = FetchFailure::because(R::NoSuchHost);
        noHost.host = effectiveHost(handle, asked);
        return noHost;
    }
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        if (handle)
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &error);
        return FetchFailure::because(error == ECONNREFUSED ? R::Refused : R::Unreachable);
    }
    case CURLE_HTTP_RETURNED_ERROR: {
        FetchFailure answered = FetchFailure::because(R::ServerAnswered);
        if (handle)
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answered.status);
        return answered;
    }
    default:
        break;
    }
    for (const auto& [known, reason] : PlainReasons)
        if (code == known)
            return FetchFailure::because(reason);
    return libraryFailure(curl_easy_strerror(code));
}

FetchFailure libraryFailure(const char* words)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::Library);
    failure.libraryWords = words;
    return failure;
}

FetchFailure notKept(int error)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::NotKept);
    failure.systemError = error;
    return failure;
}

FetchFailure tooLarge(qint64 limit)
{
    FetchFailure failure = FetchFailure::because(FetchFailure::Reason::TooLarge);
    failure.size = limit;
    return failure;
}
