// SPDX-License-Identifier: MIT
// The memory of https sites, and its files.
#include "httpsmemory.h"

#include "webaddress.h"
#include "wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <chrono>
#include <cstring>
#include <limits>

namespace {

constexpr char HstsFile[] = "hsts.txt";
constexpr char RedirectsFile[] = "https-redirects.txt";
// As browsers keep a permanent redirect: for a while, not for ever.
constexpr int RedirectDays = 30;
// The string libcurl uses for an entry that never expires.
constexpr char Unlimited[] = "unlimited";

QList<QByteArray> linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n');
}

void writeLines(const QString& path, const QByteArray& bytes)
{
    // Whole or not at all: a full disk keeps the last good memory rather than half of it, and a
    // link that another user put in the cache folder is not written through.
    writeWholeFile(path, bytes);
}

// The seconds since the epoch of a time as libcurl writes it ("20260101 12:00:00", UTC, or
// "unlimited"); -1 when it is none.
qint64 secondsOf(const QByteArray& expire)
{
    if (expire == Unlimited)
        return std::numeric_limits<qint64>::max();
    const qsizetype space = expire.indexOf(' ');
    if (space < 8 || expire.size() != space + 9 || expire[space + 3] != ':' ||
        expire[space + 6] != ':')
        return -1;
    bool ok = true;
    const auto number = [&](qsizetype from, qsizetype length) {
        int value = 0;
        for (qsizetype i = from; i < from + length; ++i) {
            ok = ok && expire[i] >= '0' && expire[i] <= '9';
            value = value * 10 + (expire[i] - '0');
        }
        return value;
    };
    // A year past 9999 is as good as for ever.
    if (space > 8)
        return std::numeric_limits<qint64>::max();
    using namespace std::chrono;
    const year_month_day date{year(number(0, 4)), month(unsigned(number(4, 2))),
                              day(unsigned(number(6, 2)))};
    const int hours = number(space + 1, 2), minutes = number(space + 4, 2),
              seconds = number(space + 7, 2);
    if (!ok || !date.ok() || hours > 23 || minutes > 59 || seconds > 60)
        return -1;
    return duration_cast<std::chrono::seconds>(sys_days(date).time_since_epoch()).count() +
           hours * 3600 + minutes * 60 + seconds;
}

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

CURLSTScode writeHsts(CURL*, curl_hstsentry* entry, curl_index*, void* clientp)
{
    auto* transfer = static_cast<HttpsMemory::Transfer*>(clientp);
    transfer->memory->writeHsts(*transfer, entry);
    return CURLSTS_OK;
}

// The port as written, empty for the scheme's own: http://h/ and https://h/ name one site.
QByteArray portOf(const PageAddress& url, const char* schemePort)
{
    return url.port() == schemePort ? QByteArray() : url.port();
}

} // namespace

HttpsMemory::HttpsMemory(QString directory, Clock now)
    : m_directory(std::move(directory)),
      m_now(now ? std::move(now) : Clock([] { return QDateTime::currentSecsSinceEpoch(); }))
{}

void HttpsMemory::load()
{
    // Read at the first fetch rather than at start: a big memory does not slow the start.
    if (m_loaded || m_directory.isEmpty())
        return;
    m_loaded = true;
    const qint64 now = m_now();
    // One entry a line, its fields split by blanks; anything else is left out.
    for (const QByteArray& line : linesOf(QDir(m_directory).filePath(HstsFile))) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if ((fields.size() != 4 && fields.size() != 3) || fields[0].isEmpty())
            continue;
        const QByteArray expire = fields.size() == 4 ? fields[2] + ' ' + fields[3] : fields[2];
        const qint64 until = secondsOf(expire);
        if (until > now)
            m_hsts.insert(fields[0].toLower(), {fields[1] == "1", until, expire});
    }
    for (const QByteArray& line : linesOf(QDir(m_directory).filePath(RedirectsFile))) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 3)
            continue;
        const qint64 until = fields[2].toLongLong();
        if (until > now && fields[1].startsWith("https://"))
            m_redirects.insert(fields[0], {fields[1], until, {}});
    }
}

void HttpsMemory::save()
{
    if (m_directory.isEmpty() || !m_changed || !QDir().mkpath(m_directory))
        return;
    const qint64 now = m_now();
    QByteArray hsts;
    for (auto it = m_hsts.cbegin(); it != m_hsts.cend(); ++it)
        if (it->until > now)
            hsts += it.key() + ' ' + (it->subdomains ? "1 " : "0 ") + it->expire + '\n';
    writeLines(QDir(m_directory).filePath(HstsFile), hsts);
    QByteArray redirects;
    for (auto it = m_redirects.cbegin(); it != m_redirects.cend(); ++it)
        if (it->until > now)
            redirects += it.key() + ' ' + it->to + ' ' + QByteArray::number(it->until) + '\n';
    writeLines(QDir(m_directory).filePath(RedirectsFile), redirects);
    m_changed = false;
}

const HttpsMemory::Hsts* HttpsMemory::liveHsts(const QByteArray& host)
{
    const auto hsts = m_hsts.find(host);
    if (hsts == m_hsts.end())
        return nullptr;
    if (hsts->until > m_now())
        return &*hsts;
    m_hsts.erase(hsts);
    m_changed = true;
    return nullptr;
}

bool HttpsMemory::underHsts(const QByteArray& host)
{
    const QByteArray name = host.toLower();
    if (liveHsts(name))
        return true;
    for (qsizetype dot = name.indexOf('.'); dot >= 0; dot = name.indexOf('.', dot + 1)) {
        const Hsts* parent = liveHsts(name.mid(dot + 1));
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
    if (const auto redirect = m_redirects.find(address.text()); redirect != m_redirects.end()) {
        if (redirect->until > m_now()) {
            if (remembered)
                *remembered = true;
            if (redirect->parsed.isNull())
                redirect->parsed = PageAddress(redirect->to);
            return redirect->parsed;
        }
        m_redirects.erase(redirect);
        m_changed = true;
    }
    const PageAddress upgraded = upgradedByHsts(address);
    return upgraded.isNull() ? address : upgraded;
}

PageAddress HttpsMemory::upgradedByHsts(const PageAddress& address)
{
    if (m_hsts.isEmpty() || address.scheme().toLower() != "http" || !underHsts(address.host()))
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
    if (!from.isValid() || !to.isValid() || from.hasUserOrPassword() || to.hasUserOrPassword() ||
        from.scheme().toLower() != "http" || to.scheme().toLower() != "https" ||
        from.host().toLower() != to.host().toLower() || portOf(from, "80") != portOf(to, "443") ||
        from.path() != to.path() || from.query() != to.query())
        return;
    m_redirects.insert(from.text(), {to.text(), m_now() + RedirectDays * 24 * 3600, to});
    m_changed = true;
}

void HttpsMemory::forgetRedirect(const QByteArray& from)
{
    m_changed = m_redirects.remove(from) > 0 || m_changed;
}

std::pair<CURLoption, CURLcode> HttpsMemory::useFor(CURL* handle, const PageAddress& url,
                                                    Transfer& transfer)
{
    load();
    transfer = {};
    transfer.memory = this;
    transfer.handle = handle;
    transfer.asked = url;
    if (!m_hsts.isEmpty()) {
        // The host and the domains above it, whose includeSubDomains libcurl applies: a few
        // look-ups, whatever the memory holds.
        const QByteArray host = url.host().toLower();
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
    if ((code = curl_easy_setopt(handle, CURLOPT_HSTSWRITEFUNCTION, ::writeHsts)) != CURLE_OK)
        return {CURLOPT_HSTSWRITEFUNCTION, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_HSTSWRITEDATA, &transfer)) != CURLE_OK)
        return {CURLOPT_HSTSWRITEDATA, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, ::checkRequest)) != CURLE_OK)
        return {CURLOPT_PREREQFUNCTION, code};
    if ((code = curl_easy_setopt(handle, CURLOPT_PREREQDATA, &transfer)) != CURLE_OK)
        return {CURLOPT_PREREQDATA, code};
    return {CURLOPT_HSTS_CTRL, CURLE_OK};
}

bool HttpsMemory::mayAsk(Transfer& transfer)
{
    const char* asked = nullptr;
    if (m_hsts.isEmpty() ||
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

void HttpsMemory::takeBack(Transfer& transfer)
{
    // libcurl hands back what it keeps, one entry a call, and nothing at all when it keeps
    // nothing: what it was handed is compared with what came back, never the other way round.
    for (const QByteArray& host : transfer.handed)
        if (!transfer.handedBack.contains(host))
            m_changed = m_hsts.remove(host) > 0 || m_changed;
    transfer = {};
}

CURLSTScode HttpsMemory::readHsts(Transfer& transfer, curl_hstsentry* entry)
{
    while (!transfer.toHand.isEmpty()) {
        const QByteArray host = transfer.toHand.takeFirst();
        const auto hsts = m_hsts.constFind(host);
        if (hsts == m_hsts.cend() || size_t(host.size()) + 1 > entry->namelen)
            continue;
        std::memcpy(entry->name, host.constData(), size_t(host.size()) + 1);
        entry->includeSubDomains = hsts->subdomains;
        std::strncpy(entry->expire, hsts->expire.constData(), sizeof entry->expire - 1);
        entry->expire[sizeof entry->expire - 1] = '\0';
        transfer.handed << host;
        return CURLSTS_OK;
    }
    return CURLSTS_DONE;
}

void HttpsMemory::writeHsts(Transfer& transfer, const curl_hstsentry* entry)
{
    const QByteArray host = QByteArray(entry->name).toLower();
    const QByteArray expire(entry->expire);
    const qint64 until = secondsOf(expire);
    transfer.handedBack << host;
    if (until <= m_now())
        return;
    Hsts& kept = m_hsts[host];
    if (kept.subdomains != (entry->includeSubDomains != 0) || kept.expire != expire) {
        kept = {entry->includeSubDomains != 0, until, expire};
        m_changed = true;
    }
}
