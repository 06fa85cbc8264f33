// SPDX-License-Identifier: MIT
// The memory of https sites, and its files.
#include "httpsmemory.h"

#include "webaddress.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <cstring>

namespace {

constexpr char HstsFile[] = "hsts.txt";
constexpr char RedirectsFile[] = "https-redirects.txt";
// As browsers keep a permanent redirect: for a while, not for ever.
constexpr int RedirectDays = 30;

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

QByteArray part(const WebAddress& url, CURLUPart which)
{
    char* text = nullptr;
    if (!url || curl_url_get(url.get(), which, &text, 0) != CURLUE_OK)
        return {};
    QByteArray value(text);
    curl_free(text);
    return value;
}

QDateTime hstsExpiry(const QByteArray& expire)
{
    // libcurl writes the time in UTC.
    const QDateTime parsed =
        QDateTime::fromString(QString::fromLatin1(expire), QStringLiteral("yyyyMMdd HH:mm:ss"));
    return QDateTime(parsed.date(), parsed.time(), QTimeZone::utc());
}

// The string libcurl uses for an entry that never expires.
constexpr char Unlimited[] = "unlimited";

CURLSTScode readHsts(CURL*, curl_hstsentry* entry, void* clientp)
{
    return static_cast<HttpsMemory*>(clientp)->readHsts(entry);
}

CURLSTScode writeHsts(CURL*, curl_hstsentry* entry, curl_index* index, void* clientp)
{
    static_cast<HttpsMemory*>(clientp)->writeHsts(entry, index);
    return CURLSTS_OK;
}

} // namespace

HttpsMemory::HttpsMemory(QString directory) : m_directory(std::move(directory))
{
    if (m_directory.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // One entry a line, its fields split by blanks; anything else is left out.
    for (const QByteArray& line : linesOf(QDir(m_directory).filePath(HstsFile))) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if ((fields.size() != 4 && fields.size() != 3) || fields[0].isEmpty())
            continue;
        const QByteArray expire = fields.size() == 4 ? fields[2] + ' ' + fields[3] : fields[2];
        if (expire != Unlimited && !(hstsExpiry(expire) > now))
            continue;
        m_hsts.insert(fields[0].toLower(), {fields[1] == "1", expire});
    }
    for (const QByteArray& line : linesOf(QDir(m_directory).filePath(RedirectsFile))) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 3)
            continue;
        const QDateTime until =
            QDateTime::fromSecsSinceEpoch(fields[2].toLongLong(), QTimeZone::utc());
        if (until > now && fields[1].startsWith("https://"))
            m_redirects.insert(fields[0], {fields[1], until});
    }
}

void HttpsMemory::save()
{
    if (m_directory.isEmpty() || !m_changed || !QDir().mkpath(m_directory))
        return;
    QByteArray hsts;
    for (auto it = m_hsts.cbegin(); it != m_hsts.cend(); ++it)
        hsts += it.key() + ' ' + (it->subdomains ? "1 " : "0 ") + it->expire + '\n';
    writeLines(QDir(m_directory).filePath(HstsFile), hsts);
    QByteArray redirects;
    for (auto it = m_redirects.cbegin(); it != m_redirects.cend(); ++it)
        redirects +=
            it.key() + ' ' + it->to + ' ' + QByteArray::number(it->until.toSecsSinceEpoch()) + '\n';
    writeLines(QDir(m_directory).filePath(RedirectsFile), redirects);
    m_changed = false;
}

bool HttpsMemory::underHsts(const QByteArray& host) const
{
    const QByteArray name = host.toLower();
    if (m_hsts.contains(name))
        return true;
    for (qsizetype dot = name.indexOf('.'); dot >= 0; dot = name.indexOf('.', dot + 1)) {
        const auto parent = m_hsts.constFind(name.mid(dot + 1));
        if (parent != m_hsts.cend() && parent->subdomains)
            return true;
    }
    return false;
}

QByteArray HttpsMemory::addressToFetch(const QByteArray& address, bool* remembered) const
{
    if (remembered)
        *remembered = false;
    if (const auto redirect = m_redirects.constFind(address); redirect != m_redirects.cend()) {
        if (remembered)
            *remembered = true;
        return redirect->to;
    }
    if (m_hsts.isEmpty())
        return address;
    const WebAddress url = parseWebAddress(address);
    if (part(url, CURLUPART_SCHEME).toLower() != "http" || !underHsts(part(url, CURLUPART_HOST)))
        return address;
    // As libcurl upgrades it: the scheme, and the default port with it.
    curl_url_set(url.get(), CURLUPART_SCHEME, "https", 0);
    if (part(url, CURLUPART_PORT) == "80")
        curl_url_set(url.get(), CURLUPART_PORT, nullptr, 0);
    const QByteArray upgraded = part(url, CURLUPART_URL);
    return upgraded.isEmpty() ? address : upgraded;
}

void HttpsMemory::rememberRedirect(const QByteArray& from, const QByteArray& to)
{
    const WebAddress a = parseWebAddress(from);
    const WebAddress b = parseWebAddress(to);
    if (part(a, CURLUPART_SCHEME).toLower() != "http" ||
        part(b, CURLUPART_SCHEME).toLower() != "https" ||
        part(a, CURLUPART_HOST).toLower() != part(b, CURLUPART_HOST).toLower() ||
        part(a, CURLUPART_PATH) != part(b, CURLUPART_PATH) ||
        part(a, CURLUPART_QUERY) != part(b, CURLUPART_QUERY))
        return;
    m_redirects.insert(
        from, {part(b, CURLUPART_URL), QDateTime::currentDateTimeUtc().addDays(RedirectDays)});
    m_changed = true;
}

void HttpsMemory::forgetRedirect(const QByteArray& from)
{
    m_changed = m_redirects.remove(from) > 0 || m_changed;
}

void HttpsMemory::useFor(CURL* handle)
{
    if (curl_easy_setopt(handle, CURLOPT_HSTS_CTRL, long(CURLHSTS_ENABLE)) != CURLE_OK)
        return;
    m_reading = m_hsts.keys();
    curl_easy_setopt(handle, CURLOPT_HSTSREADFUNCTION, ::readHsts);
    curl_easy_setopt(handle, CURLOPT_HSTSREADDATA, this);
    curl_easy_setopt(handle, CURLOPT_HSTSWRITEFUNCTION, ::writeHsts);
    curl_easy_setopt(handle, CURLOPT_HSTSWRITEDATA, this);
}

CURLSTScode HttpsMemory::readHsts(curl_hstsentry* entry)
{
    while (!m_reading.isEmpty()) {
        const QByteArray host = m_reading.takeFirst();
        const auto hsts = m_hsts.constFind(host);
        if (hsts == m_hsts.cend() || size_t(host.size()) + 1 > entry->namelen)
            continue;
        std::memcpy(entry->name, host.constData(), size_t(host.size()) + 1);
        entry->includeSubDomains = hsts->subdomains;
        std::strncpy(entry->expire, hsts->expire.constData(), sizeof entry->expire - 1);
        entry->expire[sizeof entry->expire - 1] = '\0';
        return CURLSTS_OK;
    }
    return CURLSTS_DONE;
}

void HttpsMemory::writeHsts(const curl_hstsentry* entry, const curl_index* index)
{
    // libcurl was handed every entry when the transfer began, and hands back all it keeps:
    // an entry it dropped (a site that sent max-age=0) is dropped here too.
    if (index->index == 0)
        m_writing.clear();
    m_writing.insert(QByteArray(entry->name).toLower(),
                     {entry->includeSubDomains != 0, QByteArray(entry->expire)});
    if (index->index + 1 < index->total)
        return;
    const auto same = [](const QHash<QByteArray, Hsts>& a, const QHash<QByteArray, Hsts>& b) {
        if (a.size() != b.size())
            return false;
        for (auto it = a.cbegin(); it != a.cend(); ++it) {
            const auto other = b.constFind(it.key());
            if (other == b.cend() || other->subdomains != it->subdomains ||
                other->expire != it->expire)
                return false;
        }
        return true;
    };
    if (!same(m_writing, m_hsts)) {
        m_hsts = std::move(m_writing);
        m_changed = true;
    }
    m_writing.clear();
}
