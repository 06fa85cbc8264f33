// SPDX-License-Identifier: MIT
// The findings file's name and lines.
#include "findingsfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <limits>

#include <openssl/evp.h>

namespace {

const QByteArray Header = "Korvane findings 1";
constexpr int DigestBytes = 32;
constexpr int FieldCount = 8;

std::optional<QByteArray> digestOf(const QByteArray& hex)
{
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    if (hex.size() != 2 * DigestBytes || !std::all_of(hex.begin(), hex.end(), isHex))
        return std::nullopt;
    return QByteArray::fromHex(hex);
}

std::optional<qint64> numberOf(const QByteArray& text)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.isEmpty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), isDigit))
        return std::nullopt;
    return text.toLongLong();
}

QByteArray timeText(const QDateTime& time)
{
    return time.isValid() ? QByteArray::number(time.toSecsSinceEpoch()) : QByteArray("-");
}

} // namespace

QByteArray sha256(QByteArrayView bytes)
{
    QByteArray digest(DigestBytes, Qt::Uninitialized);
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), size_t(bytes.size()),
                   reinterpret_cast<unsigned char*>(digest.data()), &size, EVP_sha256(),
                   nullptr) == 1 &&
        size == DigestBytes)
        return digest;
    // OpenSSL without its digests (a FIPS set-up that refuses it): Qt's, slower, is the same.
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray siteKey(const QByteArray& address)
{
    return sha256(address);
}

QString findingsPath(const QString& directory, const QString& listPath)
{
    const QFileInfo list(listPath);
    const QString resolved = list.canonicalFilePath();
    const QByteArray name =
        QFile::encodeName(resolved.isEmpty() ? list.absoluteFilePath() : resolved);
    const QByteArray tag =
        QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex().left(16);
    return QDir(directory).filePath(QStringLiteral("findings-%1.txt").arg(QLatin1StringView(tag)));
}

QByteArray findingsBytes(const SiteFindingsByKey& findings)
{
    // In the order of their keys, so that the same findings always make the same bytes.
    QList<QByteArray> keys = findings.keys();
    std::sort(keys.begin(), keys.end());
    QByteArray bytes = Header + '\n';
    bytes.reserve(bytes.size() + keys.size() * 200);
    for (const QByteArray& key : keys) {
        const SiteFinding& site = findings[key];
        bytes += key.toHex() + ' ' + site.textDigest.toHex() + ' ' +
                 QByteArray::number(site.length) + ' ' + timeText(site.trackedSince) + ' ' +
                 timeText(site.lastChange) + ' ' + QByteArray::number(site.lengthBefore) + ' ' +
                 QByteArray::number(site.lengthAfter) + ' ' +
                 QByteArray::number(site.changesInARow) + '\n';
    }
    return bytes;
}

bool isOtherFindingsVersion(const QByteArray& bytes)
{
    const QByteArray firstLine = bytes.left(bytes.indexOf('\n'));
    return firstLine.startsWith("Korvane findings ") && firstLine != Header;
}

std::optional<SiteFindingsByKey> parseFindings(const QByteArray& bytes)
{
    QByteArrayList lines = bytes.split('\n');
    if (lines.size() < 2 || lines.front() != Header || !lines.back().isEmpty())
        return std::nullopt;
    const auto time = [](const QByteArray& text) -> std::optional<QDateTime> {
        if (text == "-")
            return QDateTime();
        const std::optional<qint64> seconds = numberOf(text);
        if (!seconds)
            return std::nullopt;
        return QDateTime::fromSecsSinceEpoch(*seconds, QTimeZone::utc());
    };
    SiteFindingsByKey findings;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QByteArrayList fields = lines[i].split(' ');
        if (fields.size() != FieldCount)
            return std::nullopt;
        const auto key = digestOf(fields[0]);
        const auto text = digestOf(fields[1]);
        const auto length = numberOf(fields[2]);
        const auto since = time(fields[3]);
        const auto lastChange = time(fields[4]);
        const auto before = numberOf(fields[5]);
        const auto after = numberOf(fields[6]);
        const auto inARow = numberOf(fields[7]);
        if (!key || !text || !length || !since || !since->isValid() || !lastChange || !before ||
            !after || !inARow || *inARow > std::numeric_limits<int>::max() ||
            findings.contains(*key))
            return std::nullopt;
        findings.insert(
            *key, SiteFinding{*text, *length, *since, *lastChange, *before, *after, int(*inARow)});
    }
    return findings;
}
