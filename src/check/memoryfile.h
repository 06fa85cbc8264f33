// SPDX-License-Identifier: MIT
// The files in which Korvane keeps what it learns of sites (in the user's cache folder), shared
// by every Korvane that is open: each is read as data and within bounds, whatever was put in its
// place (a pipe, a link to a device, a huge file), and written whole, under a short lock, merged
// with what the file holds by then, so that no Korvane writes back what another one learnt or
// forgot, or what the user deleted.
#pragma once

#include "handles.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <functional>

// Which file a path named, and when that file was written, as Korvane last read or wrote it:
// when this differs now, someone else (another Korvane, the user) changed it.
struct FileVersion
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

FileVersion versionOf(const QString& path);

// A memory file holds no more than this: a file over it is none of Korvane's.
inline constexpr qint64 MaxMemoryFileBytes = 4 * 1024 * 1024;

struct MemoryFileRead
{
    enum class State
    {
        Missing,
        Read,
        // Not a regular file, or larger than the limit: taken as empty, and never written over.
        Refused,
    };
    State state = State::Missing;
    QByteArray bytes;
    FileVersion version;
};

// Reads the file at `path` without waiting on it (a pipe opens and is refused at once), and
// never more than `maxBytes` of it.
MemoryFileRead readMemoryFile(const QString& path, qint64 maxBytes = MaxMemoryFileBytes);

// Puts `bytes` in place of the file at `path`, whole or not at all, as the list is written.
bool writeMemoryFile(const QString& path, const QByteArray& bytes);

// A hold on the memory files of a folder, so that two Korvanes never read and write them
// interleaved: taken within `patience`, or not at all (the write then waits for the next save).
// The kernel lets go of it when the process ends, however it ends.
class MemoryLock
{
public:
    MemoryLock(const QString& directory, std::chrono::milliseconds patience);
    bool held() const { return m_held; }

private:
    FileDescriptor m_file;
    bool m_held = false;
};

// The entries of one memory file as this Korvane holds them: those of the file as last read or
// written, and what changed here since, each change with the time it was made. `Entry` has a
// `learnt` time, by which the newer of two changes to one entry wins.
template <typename Entry> class SharedEntries
{
public:
    using Entries = QHash<QByteArray, Entry>;
    using Parse = std::function<Entries(const QByteArray& bytes)>;
    using Write = std::function<QByteArray(const Entries& entries)>;

    explicit SharedEntries(QString path) : m_path(std::move(path)) {}

    const Entries& entries() const { return m_entries; }
    Entry* find(const QByteArray& key)
    {
        const auto it = m_entries.find(key);
        return it == m_entries.end() ? nullptr : &*it;
    }
    bool hasChanges() const { return !m_changed.isEmpty(); }

    void learn(const QByteArray& key, Entry entry)
    {
        m_changed.insert(key, entry.learnt);
        m_entries.insert(key, std::move(entry));
    }
    void forget(const QByteArray& key, qint64 now)
    {
        if (m_entries.remove(key) > 0)
            m_changed.insert(key, now);
    }
    // An entry that expired: nothing for the file to be told.
    void drop(const QByteArray& key) { m_entries.remove(key); }

    // Reads the file again when it is not as it was last read or written (the first time, too),
    // and takes it in: its entries as they are there now, with the changes made here since
    // wherever they are newer.
    void refresh(const Parse& parse)
    {
        const FileVersion now = versionOf(m_path);
        if (m_read && now == m_seen)
            return;
        const MemoryFileRead read = readMemoryFile(m_path);
        m_read = true;
        m_seen = read.version;
        m_refused = read.state == MemoryFileRead::State::Refused;
        Entries theirs = read.state == MemoryFileRead::State::Read ? parse(read.bytes) : Entries();
        for (auto change = m_changed.begin(); change != m_changed.end();) {
            const auto other = theirs.constFind(change.key());
            if (other != theirs.cend() && other->learnt > change.value()) {
                change = m_changed.erase(change);
                continue;
            }
            if (const auto mine = m_entries.constFind(change.key()); mine != m_entries.cend())
                theirs.insert(change.key(), *mine);
            else
                theirs.remove(change.key());
            ++change;
        }
        m_entries = std::move(theirs);
    }

    // Writes the entries, merged with the file as it is now, when something changed here and
    // the file is one Korvane may write. Under the folder's MemoryLock.
    void save(const Parse& parse, const Write& write)
    {
        if (m_changed.isEmpty())
            return;
        refresh(parse);
        if (m_refused || m_changed.isEmpty() || !writeMemoryFile(m_path, write(m_entries)))
            return;
        m_changed.clear();
        m_seen = versionOf(m_path);
    }

private:
    QString m_path;
    Entries m_entries;
    // Keys changed here since the file was last read or written, and when: an entry learnt, or
    // forgotten where the key has no entry.
    QHash<QByteArray, qint64> m_changed;
    FileVersion m_seen;
    bool m_read = false;
    bool m_refused = false;
};
