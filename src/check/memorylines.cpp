// SPDX-License-Identifier: MIT
// The https memory's files, line by line. Read from the end, where the newest entries are, and
// only until a file's worth is kept: a file costs no more to read however many lines it holds.
#include "memorylines.h"

#include "memoryfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int MostFields = 5;

// The fields of `line`, split by blanks; more than MostFields when there are.
int fieldsOf(QByteArrayView line, QByteArrayView (&fields)[MostFields])
{
    int count = 0;
    qsizetype at = 0;
    const auto blank = [&] { return line[at] == ' ' || line[at] == '\t' || line[at] == '\r'; };
    for (;;) {
        while (at < line.size() && blank())
            ++at;
        if (at == line.size())
            return count;
        const qsizetype from = at;
        while (at < line.size() && !blank())
            ++at;
        if (count == MostFields)
            return count + 1;
        fields[count++] = line.sliced(from, at - from);
    }
}

std::optional<qint64> numberOf(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool startsWithCaseless(QByteArrayView text, QByteArrayView prefix)
{
    return text.size() >= prefix.size() &&
           text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The seconds since the epoch of an expiry as libcurl writes it ("20260101", "12:00:00", UTC);
// a year past 9999 is the latest expiry.
std::optional<qint64> secondsOf(QByteArrayView date, QByteArrayView time)
{
    if (time.size() != 8 || time[2] != ':' || time[5] != ':')
        return std::nullopt;
    const std::optional<qint64> day = numberOf(date), clock = numberOf(time.first(2)),
                                minutes = numberOf(time.sliced(3, 2)),
                                seconds = numberOf(time.sliced(6, 2));
    if (!day || date.size() < 8)
        return std::nullopt;
    if (date.size() > 8)
        return LatestExpiry;
    using namespace std::chrono;
    const year_month_day ymd{year(int(*day / 10000)), month(unsigned(*day / 100 % 100)),
                             std::chrono::day(unsigned(*day % 100))};
    if (!ymd.ok() || !clock || !minutes || !seconds || *clock > 23 || *minutes > 59 ||
        *seconds > 60)
        return std::nullopt;
    return sys_days(ymd).time_since_epoch() / std::chrono::seconds(1) + *clock * 3600 +
           *minutes * 60 + *seconds;
}

// Lines read of a file, from its end: twice what Korvane writes, so that a file of blank or
// broken lines costs no more to read than a full one of Korvane's own.
constexpr qsizetype MostLinesRead = 2 * MaxEntriesPerFile;

// Calls `take` with the lines of `bytes` from the last to the first, until it says it has enough
// or the most lines read were.
template <typename Take> void eachLineFromTheEnd(QByteArrayView bytes, Take take)
{
    qsizetype lines = 0;
    for (qsizetype end = bytes.size(); end >= 0 && lines++ < MostLinesRead;) {
        const void* newline = end > 0 ? ::memrchr(bytes.data(), '\n', size_t(end)) : nullptr;
        const qsizetype from =
            newline ? static_cast<const char*>(newline) - bytes.data() + 1 : qsizetype(0);
        if (!take(bytes.sliced(from, end - from)))
            return;
        end = from - 1;
    }
}

// Keeps `entry` under `key` unless a newer one is there already; false once the file's worth
// is kept.
template <typename Entries, typename Entry>
bool keep(Entries& entries, const QByteArray& key, Entry entry)
{
    const auto kept = entries.find(key);
    if (kept == entries.end())
        entries.insert(key, std::move(entry));
    else if (kept->learnt < entry.learnt)
        *kept = std::move(entry);
    return entries.size() < MaxEntriesPerFile;
}

// The lines of the entries that hold at `now`, oldest first: the newest that fit a file.
// `write` appends an entry's line to a buffer.
template <typename Entries, typename Write>
QByteArray linesOf(const Entries& entries, qint64 now, Write write)
{
    struct Live
    {
        qint64 learnt;
        const QByteArray* key;
        const typename Entries::mapped_type* entry;
    };
    std::vector<Live> live;
    live.reserve(size_t(entries.size()));
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        if (it->until > now)
            live.push_back({it->learnt, &it.key(), &*it});
    std::sort(live.begin(), live.end(), [](const Live& a, const Live& b) {
        return a.learnt != b.learnt ? a.learnt < b.learnt : *a.key < *b.key;
    });
    // Newest first into one buffer, as long as they fit; then turned round, oldest first.
    QByteArray newestFirst;
    newestFirst.reserve(std::min<qsizetype>(qsizetype(live.size()) * 64, MaxMemoryFileBytes));
    std::vector<qsizetype> ends;
    ends.reserve(live.size());
    for (auto it = live.crbegin(); it != live.crend(); ++it) {
        const qsizetype before = newestFirst.size();
        write(newestFirst, *it->key, *it->entry);
        if (qsizetype(ends.size()) == MaxEntriesPerFile ||
            newestFirst.size() > MaxMemoryFileBytes) {
            newestFirst.truncate(before);
            break;
        }
        ends.push_back(newestFirst.size());
    }
    QByteArray bytes;
    bytes.reserve(newestFirst.size());
    for (size_t line = ends.size(); line-- > 0;) {
        const qsizetype from = line == 0 ? 0 : ends[line - 1];
        bytes.append(newestFirst.constData() + from, ends[line] - from);
    }
    return bytes;
}

} // namespace

QByteArray expiryText(qint64 until)
{
    using namespace std::chrono;
    const sys_seconds at{seconds(std::clamp<qint64>(until, 0, LatestExpiry))};
    const sys_days day = floor<days>(at);
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> time(at - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u %02d:%02d:%02d", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()));
    return text;
}

HstsEntries parseHstsLines(QByteArrayView bytes, qint64 now)
{
    HstsEntries entries;
    eachLineFromTheEnd(bytes, [&](QByteArrayView line) {
        QByteArrayView fields[MostFields];
        const int count = fieldsOf(line, fields);
        if (count < 3 || (fields[1] != "0" && fields[1] != "1"))
            return true;
        // libcurl's word for an expiry past what its clock holds.
        const bool unlimited = fields[2] == "unlimited";
        const int learntAt = unlimited ? 3 : 4;
        const std::optional<qint64> until = unlimited    ? LatestExpiry
                                            : count >= 4 ? secondsOf(fields[2], fields[3])
                                                         : std::nullopt;
        const std::optional<qint64> learnt = count == learntAt       ? qint64(0)
                                             : count == learntAt + 1 ? numberOf(fields[learntAt])
                                                                     : std::nullopt;
        if (!until || !learnt || std::min(*until, LatestExpiry) <= now)
            return true;
        const QByteArray host = comparableHost(fields[0]);
        return host.isEmpty() || keep(entries, host,
                                      HstsEntry{fields[1] == "1", std::min(*until, LatestExpiry),
                                                std::min(*learnt, now)});
    });
    return entries;
}

RedirectEntries parseRedirectLines(QByteArrayView bytes, qint64 now)
{
    RedirectEntries entries;
    eachLineFromTheEnd(bytes, [&](QByteArrayView line) {
        QByteArrayView fields[MostFields];
        if (fieldsOf(line, fields) != 3 || !startsWithCaseless(fields[0], "http://") ||
            !startsWithCaseless(fields[1], "https://"))
            return true;
        // Korvane keeps a redirect for so long from when it learns it, and no longer.
        const std::optional<qint64> until = numberOf(fields[2]);
        if (!until || *until <= now || *until > now + RedirectSeconds)
            return true;
        return keep(entries, fields[0].toByteArray(),
                    RedirectEntry{fields[1].toByteArray(), *until, *until - RedirectSeconds, {}});
    });
    return entries;
}

QByteArray hstsLines(const HstsEntries& entries, qint64 now)
{
    return linesOf(entries, now,
                   [](QByteArray& out, const QByteArray& host, const HstsEntry& entry) {
                       out.append(host)
                           .append(entry.subdomains ? " 1 " : " 0 ")
                           .append(expiryText(entry.until));
                       out.append(' ').append(QByteArray::number(entry.learnt)).append('\n');
                   });
}

QByteArray redirectLines(const RedirectEntries& entries, qint64 now)
{
    return linesOf(entries, now,
                   [](QByteArray& out, const QByteArray& from, const RedirectEntry& entry) {
                       out.append(from).append(' ').append(entry.to).append(' ');
                       out.append(QByteArray::number(entry.until)).append('\n');
                   });
}
