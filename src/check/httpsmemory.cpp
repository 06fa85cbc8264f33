// SPDX-License-Identifier: MIT
// The memory of https sites: what it learns, what it forgets, and what a transfer is told.
#include "httpsmemory.h"

#include <QDateTime>
#include <QDir>

#include <chrono>
#include <cstring>

namespace {

constexpr char HstsFile[] = "hsts.txt";
constexpr char RedirectsFile[] = "https-redirects.txt";
// Another Korvane holds the lock for the few milliseconds of its own save: never a frame.
constexpr std::chrono::milliseconds LockPatience{10};
constexpr qint64 HstsRefreshSeconds = 24 * 3600;

CURLSTScode readHsts(CURL*, curl_hstsentry* entry, void* clientp)
{
    auto* transfer = static_cast<HttpsMemory::Transfer*>(clientp);
    return transfer->memory->readHsts(*transfer, entry);
}

int checkRequest(void* clientp, char*, char*, int, int)
{
    auto* transfer = static_cast<HttpsMemory::Transfer*>(clientp);
    return transfer->memory->mayAsk(*transfer) ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
}

// The port as written, empty for the scheme's own: http://h/ and https://h/ name one site.
QByteArray portOf(const PageAddress& url, const char* schemePort)
{
    return url.port() == schemePort ? QByteArray() : url.port();
}

QByteArray hostOf(const PageAddress& url)
{
    const QByteArray host = comparableHost(url.host());
    return host.isEmpty() ? url.host().toLower() : host;
}

// What Korvane remembers of a redirect: from an http address to the same one over https,
// with no user name or password.
bool sameSiteOverHttps(const PageAddress& from, const PageAddress& to)
{
    return from.isValid() && to.isValid() && !from.hasUserOrPassword() && !to.hasUserOrPassword() &&
           from.scheme().toLower() == "http" && to.scheme().toLower() == "https" &&
           hostOf(from) == hostOf(to) && portOf(from, "80") == portOf(to, "443") &&
           from.path() == to.path() && from.query() == to.query();
}

} // namespace

HttpsMemory::HttpsMemory(QString directory, Clock now)
    : m_directory(std::move(directory)),
      m_now(now ? std::move(now) : Clock([] { return QDateTime::currentSecsSinceEpoch(); })),
      m_hsts(m_directory.isEmpty() ? QString() : QDir(m_directory).filePath(HstsFile)),
      m_redirects(m_directory.isEmpty() ? QString() : QDir(m_directory).filePath(RedirectsFile))
{}

void HttpsMemory::load()
{
    // Read at the first fetch rather than at start: a big memory does not slow the start.
    if (!m_loaded)
        refresh();
}

void HttpsMemory::refresh()
{
    if (m_directory.isEmpty())
        return;
    m_loaded = true;
    const qint64 now = m_now();
    m_hsts.refresh([now](const QByteArray& bytes) { return parseHstsLines(bytes, now); });
    m_redirects.refresh([now](const QByteArray& bytes) { return parseRedirectLines(bytes, now); });
}

void HttpsMemory::save()
{
    if (m_directory.isEmpty() || (!m_hsts.hasChanges() && !m_redirects.hasChanges()) ||
        !QDir().mkpath(m_directory))
        return;
    const MemoryLock lock(m_directory, LockPatience);
    if (!lock.held())
        return;
    const qint64 now = m_now();
    m_hsts.save([now](const QByteArray& bytes) { return parseHstsLines(bytes, now); },
                [now](const HstsEntries& entries) { return hstsLines(entries, now); });
    m_redirects.save([now](const QByteArray& bytes) { return parseRedirectLines(bytes, now); },
                     [now](const RedirectEntries& entries) { return redirectLines(entries, now); });
}

const HstsEntry* HttpsMemory::liveHsts(const QByteArray& host)
{
    const HstsEntry* hsts = m_hsts.find(host);
    if (!hsts || hsts->until > m_now())
        return hsts;
    m_hsts.drop(host);
    return nullptr;
}

bool HttpsMemory::underHsts(const QByteArray& host)
{
    if (liveHsts(host))
        return true;
    for (qsizetype dot = host.indexOf('.'); dot >= 0; dot = host.indexOf('.', dot + 1)) {
        const HstsEntry* parent = liveHsts(host.mid(dot + 1));
        if (parent && parent->subdomains)
            return true;
    }
    return false;
}

PageAddress HttpsMemory::addressToFetch(const PageAddress& address, bool* remembered)
{
    load();
    if (remembered)
        *remembered = false;
    if (RedirectEntry* redirect = m_redirects.find(address.text())) {
        const qint64 now = m_now();
        if (redirect->until <= now) {
            m_redirects.drop(address.text());
        } else {
            if (redirect->parsed.isNull()) {
                // Checked at its first use: a line that Korvane did not write (another host, an
                // address that is none) is forgotten, and the page fetched as listed.
                const PageAddress to(redirect->to);
                if (sameSiteOverHttps(address, to))
                    redirect->parsed = to;
            }
            if (!redirect->parsed.isNull()) {
                if (remembered)
                    *remembered = true;
                return redirect->parsed;
            }
            m_redirects.forget(address.text(), now);
        }
    }
    const PageAddress upgraded = upgradedByHsts(address);
    return upgraded.isNull() ? address : upgraded;
}

PageAddress HttpsMemory::upgradedByHsts(const PageAddress& address)
{
    if (m_hsts.entries().isEmpty() || address.scheme().toLower() != "http")
        return {};
    // An IP address is never upgraded: it names no site that could have asked.
    const QByteArray host = comparableHost(address.host());
    if (host.isEmpty() || !underHsts(host))
        return {};
    // As libcurl upgrades it: the scheme, and the default port with it.
    WebAddress url = address.copy();
    if (!url)
        return {};
    curl_url_set(url.get(), CURLUPART_SCHEME, "https", 0);
    if (address.port() == "80")
        curl_url_set(url.get(), CURLUPART_PORT, nullptr, 0);
    PageAddress upgraded(std::move(url));
    return upgraded.text().isEmpty() ? PageAddress() : upgraded;
}

void HttpsMemory::rememberRedirect(const PageAddress& from, const PageAddress& to)
{
    load();
    if (!sameSiteOverHttps(from, to))
        return;
    const qint64 now = m_now();
    m_redirects.learn(from.text(), {to.text(), now + RedirectSeconds, now, to});
}

void HttpsMemory::forgetRedirect(const QByteArray& from)
{
    m_redirects.forget(from, m_now());
}

void HttpsMemory::learnHsts(const QByteArray& host, const StrictTransport& sts)
{
    load();
    const qint64 now = m_now();
    if (sts.maxAge == 0) {
        m_hsts.forget(host, now);
        return;
    }
    // However long a site asks for, no longer than the files' dates hold.
    const qint64 until = sts.maxAge >= LatestExpiry - now ? LatestExpiry : now + sts.maxAge;
    HstsEntry* kept = m_hsts.find(host);
    // The same wish, asked again since: the file is not written for an expiry that moved on by
    // less than a day, which at worst ends that much sooner when the site is not seen again.
    if (kept && kept->subdomains == sts.includeSubDomains && until >= kept->until &&
        until - kept->until < HstsRefreshSeconds) {
        *kept = {sts.includeSubDomains, until, now};
        return;
    }
    m_hsts.learn(host, {sts.includeSubDomains, until, now});
}

std::pair<CURLoption, CURLcode> HttpsMemory::useFor(CURL* handle, const PageAddress& url,
                                                    Transfer& transfer)
{
    load();
    transfer = {};
    transfer.memory = this;
    transfer.handle = handle;
    transfer.asked = url;
    if (const QByteArray host = comparableHost(url.host());
        !host.isEmpty() && !m_hsts.entries().isEmpty()) {
        // The host and the domains above it, whose includeSubDomains libcurl applies: a few
        // look-ups, whatever the memory holds.
        for (qsizetype from = 0; from >= 0 && from < host.size();) {
            if (liveHsts(host.mid(from)))
                transfer.toHand << host.mid(from);
            const qsizetype dot = host.indexOf('.', from);
            from = dot < 0 ? -1 : dot + 1;
        }
    }
    CURLcode code = curl_easy_setopt(handle, CURLOPT_HSTS_CTRL, long(CURLHSTS_ENABLE));
    if (code != CURLE_OK)
        return {CURLOPT_HSTS_CTRL, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_HSTSREADFUNCTION, ::readHsts)) != CURLE_OK)
        return {CURLOPT_HSTSREADFUNCTION, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_HSTSREADDATA, &transfer)) != CURLE_OK)
        return {CURLOPT_HSTSREADDATA, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, ::checkRequest)) != CURLE_OK)
        return {CURLOPT_PREREQFUNCTION, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer)) != CURLE_OK)
        return {CURLOPT_PREREQDATA, code};
    return {CURLOPT_HSTS_CTRL, CURLE_OK};
}

bool HttpsMemory::mayAsk(Transfer& transfer)
{
    const char* asked = nullptr;
    if (m_hsts.entries().isEmpty() ||
        curl_easy_getinfo(transfer.handle, CURLINFO_EFFECTIVE_URL, &asked) != CURLE_OK || !asked)
        return true;
    // The first request asks for what the transfer was given, which is parsed already.
    const QByteArray address(asked);
    const PageAddress upgraded =
        upgradedByHsts(address == transfer.asked.written() ? transfer.asked : PageAddress(address));
    if (upgraded.isNull())
        return true;
    transfer.upgraded = upgraded;
    return false;
}

void HttpsMemory::readHeader(Transfer& transfer, QByteArrayView line)
{
    const std::optional<QByteArrayView> value = transfer.headers.take(line);
    const char* answering = nullptr;
    if (!value || !transfer.memory ||
        curl_easy_getinfo(transfer.handle, CURLINFO_EFFECTIVE_URL, &answering) != CURLE_OK ||
        !answering)
        return;
    // Over https only, and from a host by name, as RFC 6797 has it.
    const PageAddress answered{QByteArray(answering)};
    const QByteArray host = comparableHost(answered.host());
    const std::optional<StrictTransport> sts = parseStrictTransport(*value);
    if (answered.scheme().toLower() == "https" && !host.isEmpty() && sts)
        learnHsts(host, *sts);
}

CURLSTScode HttpsMemory::readHsts(Transfer& transfer, curl_hstsentry* entry)
{
    while (!transfer.toHand.isEmpty()) {
        const QByteArray host = transfer.toHand.takeFirst();
        const HstsEntry* hsts = m_hsts.find(host);
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
