// SPDX-License-Identifier: MIT
// websites.ini: three CR LF-ended lines a site (address, last visited text, stored length), no
// header; read once at start-up and replaced whole, atomically, by every save.
#pragma once

#include "watchlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

class QIODevice;

// The site the program's first list holds, as a host without a scheme: a name reserved for
// examples (RFC 2606) that serves a small, steady page, since the program has no site of its
// own to send new users to.
inline constexpr char DefaultSiteAddress[] = "example.com";

struct WatchListRecords
{
    std::vector<WatchList::Cells> rows;
    // Records after the last one the list can hold, kept byte for byte so that a save does not
    // drop them.
    QByteArray unloadedTail;
};

// Splits a file's bytes into records. Lines end at CR LF (a last line may lack it); a record cut
// short by the end of the file keeps empty fields. Never fails.
WatchListRecords parseWatchList(QByteArrayView bytes, int maxRecords = WatchList::MaxSites);

// The file's bytes for rows 1 to totalurls - 1 (columns 0, 1 and 3), followed by `tail`.
QByteArray serializeWatchList(const WatchList& list, int totalurls, QByteArrayView tail = {});
// The same for records.
QByteArray serializeRecords(const WatchListRecords& records);
// True when serializeWatchList(list, totalurls, tail) would give exactly `bytes`; told without
// making those bytes, which for a full list are megabytes more at the moment of the end.
bool serializesAs(const WatchList& list, int totalurls, QByteArrayView tail, QByteArrayView bytes);

// The default record: the program's site, `lastVisited`, and "0".
QByteArray defaultRecordBytes(const QByteArray& lastVisited);

// websites.ini in `dataDirectory`.
QString watchListPath(const QString& dataDirectory);

enum class LoadOutcome
{
    Read,              // an existing file was read
    CreatedDefault,    // the file was missing and now holds the default record
    DefaultNotWritten, // the file was missing and could not be created; the list got the default
    Unreadable,        // the file exists but could not be read; it will not be overwritten
};

enum class SaveOutcome
{
    Saved,
    ReadOnlyFile,       // the file's permissions forbid writing: it is left as it is
    KeptUnreadableFile, // the file could not be read at start-up: a save would destroy it
    BadRowCount,        // totalurls does not describe the list
    OpenFailed,
    WriteFailed,
    CommitFailed,
    ChangedOutside, // another program changed the file since it was read or written: take it
    FileUnsettled,  // another program is writing the file: the save waits until it has settled
    NotAFile,       // a folder, a FIFO, a link into nowhere or one Korvane may not write through
};

// True for the outcomes that leave the list on screen the only copy of itself: the file is
// there but is not the list, and must not be written over.
inline bool fileIsNotTheList(SaveOutcome outcome)
{
    return outcome == SaveOutcome::FileUnsettled || outcome == SaveOutcome::NotAFile;
}

class WatchListFile
{
public:
    explicit WatchListFile(QString path);

    const QString& path() const { return m_path; }

    // Makes sure the file exists (writing the default record when it is missing) and reads all
    // its records. Touches no row.
    LoadOutcome readRecords(WatchListRecords& records);

    // Fills the site rows from the records and leaves the current cell on column 3 of the last
    // site row.
    void fillRows(WatchList& list, WatchListRecords records);

    LoadOutcome LoadResultsFromFile(WatchList& list);

    // Writes rows 1 to totalurls - 1 anew. The file is replaced only by a complete new file: any
    // failure leaves the previous file whole. The current cell and the selection stay where the
    // user left them.
    SaveOutcome SaveResultsToFile(WatchList& list, qint16 totalurls);

    // True when the file on disk, as it is now, holds exactly what a save of the whole list
    // would write: another program may have changed or deleted it since the last save.
    bool fileHolds(const WatchList& list) const;

    // The save of every end, from one read of the file: Saved, writing nothing, when the file
    // holds exactly what a save of the whole list would write, or holds what Korvane last read
    // or wrote and the list has not changed since; otherwise SaveResultsToFile of the whole list.
    SaveOutcome saveUnlessHeld(WatchList& list);

    // Why the last load or save that failed did so, in words for the user.
    const QString& errorString() const { return m_errorString; }
    // The same in a few words that follow "Not saved: " ("the disk is full").
    const QString& shortReason() const { return m_shortReason; }

    // How the file on disk stands to what Korvane last read from it or wrote to it.
    enum class OnDisk
    {
        AsKnown,    // the same bytes
        Missing,    // deleted: the next save writes it again
        Changed,    // another program wrote it, and has finished: it can be taken
        Unreadable, // it is there but cannot be read: it is neither taken nor overwritten
        // Another program is still writing it: changed less than the settle time ago, empty
        // (a list always holds a site) or holding a NUL byte (no text list does). Neither
        // taken nor overwritten until it settles.
        Unsettled,
        NotAFile, // a folder, a FIFO, a link into a missing folder or one Korvane may not follow
    };
    OnDisk onDisk() const;
    // The same, with the file's bytes when it was read.
    OnDisk onDisk(std::optional<QByteArray>& bytes) const;

    // How long another program's change must be left alone before it counts as finished; the
    // default suits editors and scripts that write in steps. Tests pass other values.
    void setSettleTime(int ms) { m_settleMs = ms; }
    int settleTime() const { return m_settleMs; }
    // When to look again at a file that is Unsettled, in milliseconds.
    int msUntilSettled() const;

    // Reads the file when another program changed it: `known` gets the records as Korvane last
    // read or wrote them, `records` those of the file now, and from now on those are what
    // Korvane knows of the file. False, changing nothing, when the file is as Korvane knows it
    // or cannot be read.
    bool readOutsideEdit(WatchListRecords& known, WatchListRecords& records);

    // Records past the list's capacity, kept as they were read.
    const QByteArray& unloadedTail() const { return m_unloadedTail; }
    // A merge gave more rows than the list can hold: the rest are kept here, before those
    // already kept, so that every save still writes them.
    void keepPastCapacity(const std::vector<WatchList::Cells>& rows);

    // True when a save now would write other bytes than the file got at the last successful
    // save, or than the list held when it was loaded: something would be lost if the list were
    // dropped now.
    bool hasUnsavedChanges(const WatchList& list) const;

    // Writes `bytes` to an open device; false when the device takes less than all of them.
    static bool writeAll(QIODevice& device, QByteArrayView bytes);

private:
    void fail(QString why, QString shortly);
    static SaveOutcome replaceWhole(const QString& path, QByteArrayView bytes, QString& why);
    // Writes `bytes` unless `state` or the file forbids it; `whole`: they are the whole list.
    SaveOutcome writeList(OnDisk state, QByteArray bytes, bool whole);
    // `read`: the bytes were read from the file, not written to it by Korvane.
    void knowOnDisk(QByteArray bytes, bool read = false);
    void shareKeptBytes();

    QString m_path;
    QByteArray m_unloadedTail;
    QByteArray m_keptBytes;
    // The bytes last read from or written to the file; null before any, and empty when there
    // was no file and none could be made.
    QByteArray m_onDisk;
    QString m_errorString;
    QString m_shortReason;
    int m_settleMs = 2000;
    // The bytes known were read from the file, and were empty or binary.
    bool m_knownHalfWritten = false;
    bool m_keepUnreadableFile = false;
};
