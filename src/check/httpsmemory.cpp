// SPDX-License-Identifier: MIT
// The memory of https sites: what it learns, what it forgets, and what it holds for a page.
#include "httpsmemory.h"

#include "stricttransport.h"

#include <QDateTime>
#include <QDir>

#include <chrono>

namespace {

constexpr char HstsFile[] = "hsts.txt";
constexpr char RedirectsFile[] = "https-redirects.txt";
// Another Korvane holds the lock for the few milliseconds of its own save: never a frame.
constexpr std::chrono::milliseconds LockPatience{10};
constexpr qint64 HstsRefreshSeconds = 24 * 3600;

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

QList<QByteArray> HttpsMemory::hstsDomainsOf(const PageAddress& url)
{
    load();
    QList<QByteArray> domains;
    if (const QByteArray host = comparableHost(url.host());
        !host.isEmpty() && !m_hsts.entries().isEmpty()) {
        for (qsizetype from = 0; from >= 0 && from < host.size();) {
            if (liveHsts(host.mid(from)))
                domains << host.mid(from);
            const qsizetype dot = host.indexOf('.', from);
            from = dot < 0 ? -1 : dot + 1;
        }
    }
    return domains;
}
