// SPDX-License-Identifier: MIT
// What a failed transfer says, read from libcurl or the system.
#include "curlfailure.h"

#include <cerrno>

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

} // namespace

FetchFailure failureOf(CURLcode code, CURL* handle, const PageAddress& asked)
{
    using R = FetchFailure::Reason;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: {
        FetchFailure noHost = FetchFailure::because(R::NoSuchHost);
        noHost.host = effectiveHost(handle, asked);
        return noHost;
    }
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchFailure::because(R::NoSuchProxy);
    case CURLE_COULDNT_CONNECT: {
        long error = 0;
        if (handle)
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &error);
        return FetchFailure::because(error == ECONNREFUSED ? R::Refused : R::Unreachable);
    }
    case CURLE_OPERATION_TIMEDOUT:
        return FetchFailure::because(R::TimedOut);
    case CURLE_HTTP_RETURNED_ERROR: {
        FetchFailure answered = FetchFailure::because(R::ServerAnswered);
        if (handle)
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answered.status);
        return answered;
    }
    case CURLE_PEER_FAILED_VERIFICATION:
        return FetchFailure::because(R::CertificateNotTrusted);
    case CURLE_SSL_CACERT_BADFILE:
        return FetchFailure::because(R::NoTrustedCertificates);
    case CURLE_SSL_CONNECT_ERROR:
        return FetchFailure::because(R::SecureConnectionFailed);
    case CURLE_TOO_MANY_REDIRECTS:
        return FetchFailure::because(R::TooManyRedirects);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return FetchFailure::because(R::NotAWebAddress);
    case CURLE_URL_MALFORMAT:
        return FetchFailure::because(R::NotAValidAddress);
    case CURLE_GOT_NOTHING:
        return FetchFailure::because(R::ClosedWithoutAnswer);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return FetchFailure::because(R::ConnectionBroke);
    case CURLE_PARTIAL_FILE:
        return FetchFailure::because(R::PartOnly);
    case CURLE_BAD_CONTENT_ENCODING:
        return FetchFailure::because(R::NotUnpacked);
    case CURLE_WEIRD_SERVER_REPLY:
        return FetchFailure::because(R::NotAWebServer);
    default: {
        FetchFailure other = FetchFailure::because(R::Library);
        other.libraryWords = curl_easy_strerror(code);
        return other;
    }
    }
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
