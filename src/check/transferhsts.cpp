// SPDX-License-Identifier: MIT
// What one transfer is told of the https memory, and what it tells the memory.
#include "transferhsts.h"

#include "httpsmemory.h"
#include "memorylines.h"

#include <cstring>
#include <optional>

void TransferHsts::begin(HttpsMemory& memory, CURL* handle, const PageAddress& url)
{
    *this = {};
    m_memory = &memory;
    m_handle = handle;
    m_asked = url;
    m_toHand = memory.hstsDomainsOf(url);
}

int TransferHsts::checkRequest(void* transfer, char*, char*, int, int)
{
    auto& self = *static_cast<TransferHsts*>(transfer);
    const char* asked = nullptr;
    if (!self.m_memory->remembersHsts() ||
        curl_easy_getinfo(self.m_handle, CURLINFO_EFFECTIVE_URL, &asked) != CURLE_OK || !asked)
        return CURL_PREREQFUNC_OK;
    // The first request asks for what the transfer was given, which is parsed already.
    const QByteArray address(asked);
    const PageAddress upgraded = self.m_memory->upgradedByHsts(
        address == self.m_asked.written() ? self.m_asked : PageAddress(address));
    if (upgraded.isNull())
        return CURL_PREREQFUNC_OK;
    self.m_upgraded = upgraded;
    return CURL_PREREQFUNC_ABORT;
}

void TransferHsts::readHeader(QByteArrayView line)
{
    if (!m_memory)
        return;
    const std::optional<QByteArrayView> value = m_headers.take(line);
    const char* answering = nullptr;
    if (!value || curl_easy_getinfo(m_handle, CURLINFO_EFFECTIVE_URL, &answering) != CURLE_OK ||
        !answering)
        return;
    // Over https only, and from a host by name, as RFC 6797 has it.
    const PageAddress answered{QByteArray(answering)};
    const QByteArray host = comparableHost(answered.host());
    const std::optional<StrictTransport> sts = parseStrictTransport(*value);
    if (answered.scheme().toLower() == "https" && !host.isEmpty() && sts)
        m_memory->learnHsts(host, *sts);
}

CURLSTScode TransferHsts::readEntry(CURL*, curl_hstsentry* entry, void* transfer)
{
    auto& self = *static_cast<TransferHsts*>(transfer);
    while (!self.m_toHand.isEmpty()) {
        const QByteArray host = self.m_toHand.takeFirst();
        const HstsEntry* hsts = self.m_memory->hstsEntry(host);
        if (!hsts || size_t(host.size()) + 1 > entry->namelen)
            continue;
        std::memcpy(entry->name, host.constData(), size_t(host.size()) + 1);
        entry->includeSubDomains = hsts->subdomains;
        const QByteArray expire = expiryText(hsts->until);
        std::strncpy(entry->expire, expire.constData(), sizeof entry->expire - 1);
        entry->expire[sizeof entry->expire - 1] = '\0';
        return CURLSTS_OK;
    }
    return CURLSTS_DONE;
}
