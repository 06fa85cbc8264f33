// SPDX-License-Identifier: MIT
// Whether another program has finished writing a file, told by what Korvane itself saw: the
// file unchanged (size, times, inode) for a while by Korvane's own monotonic clock, and, where
// the kernel can tell, no other process holding it open for writing. A file's times come from
// its file system's clock (a share's may be seconds off, FAT and ext2 round them) and are only
// ever compared with what Korvane saw of them before, never with Korvane's clock.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <optional>

#include <sys/stat.h>

// What tells one state of a file from another.
struct StatStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const StatStamp&) const = default;
};

StatStamp stampOf(const struct stat& st);

enum class Writers
{
    None,    // no other process holds the file open for writing
    Some,    // another process does: it is still writing
    Unknown, // the kernel cannot tell here (a share, FUSE, a file of another user's)
};

// Asks the kernel whether any process holds the regular file at `path` open for writing, by
// trying for a read lease, which it refuses exactly then, and giving it back at once.
Writers writersOf(const QString& path);

class SettleWatch
{
public:
    explicit SettleWatch(std::chrono::milliseconds settleTime) : m_settleTime(settleTime) {}

    // Korvane looks at the file as it is now. Returns how long it must still stay as it is to
    // count as settled: zero once it has been seen unchanged for the settle time.
    std::chrono::milliseconds look(const StatStamp& now);
    // Korvane wrote the file itself, or read it once it had settled: nothing of it is left to
    // wait for.
    void settledAt(const StatStamp& now);

    std::chrono::milliseconds settleTime() const { return m_settleTime; }

private:
    std::chrono::milliseconds m_settleTime;
    std::optional<StatStamp> m_seen;
    QElapsedTimer m_since;
    bool m_settled = false;
};
