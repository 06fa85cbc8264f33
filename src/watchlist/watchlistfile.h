// SPDX-License-Identifier: MIT
// websites.ini: three CR LF-ended lines a site (address, last visited text, stored length), no
// header; read once at start-up and replaced whole, atomically, by every save.
#pragma once

#include "filesettle.h"
#include "listencoding.h"
#include "watchlist.h"
#include "wholefile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

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
    // The file is as Korvane read it, but not seen unchanged long enough to be sure that no one
    // is writing it, where the kernel cannot tell: the save follows in a moment.
    FileSettling,
    NotAFile, // a folder, a FIFO, a link into nowhere or one Korvane may not write through
    NotAList, // a file that holds no list (binary): never written over
};

// Why the file could not be read or written, for the window to put in words.
struct FileFailure
{
    enum class Kind
    {
        None,
        BadRowCount,     // the row count handed to a save does not describe the list
        KeptUnreadable,  // it could not be read when Korvane started: never written over
        ReadOnly,        // its permissions forbid writing: left as it is
        ChangedOutside,  // another program changed it
        Unreadable,      // it cannot be read now, so it is not written over
        Unsettled,       // another program is writing it
        Settling,        // not yet seen unchanged long enough to be sure nobody writes it
        NotAList,        // it holds binary data, no list
        NotAFile,        // a folder, a pipe, a link into a folder that is gone, a foreign link
        Folder,          // (read) a folder stands in its place
        NotARegularFile, // (read) something that is no regular file stands in its place
        System,          // the system refused: see `system`
    };
    Kind kind = Kind::None;
    SystemError system;
};

// True for the outcomes after which a save follows by itself once the file has settled.
inline bool saveWaitsForTheFile(SaveOutcome outcome)
{
    return outcome == SaveOutcome::FileUnsettled || outcome == SaveOutcome::FileSettling;
}

// True for the outcomes that leave the list on screen the only copy of itself: the file is
// there but is not the list, and must not be written over.
inline bool fileIsNotTheList(SaveOutcome outcome)
{
    return saveWaitsForTheFile(outcome) || outcome == SaveOutcome::NotAFile ||
           outcome == SaveOutcome::NotAList;
}

class WatchListFile
{
public:
    // `settleTime`: how long Korvane must see the file unchanged before another program's
    // change counts as finished.
    explicit WatchListFile(QString path,
                           std::chrono::milliseconds settleTime = std::chrono::seconds(2));

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
    // holds exactly what a save of the whole list would write, or when the list has not changed
    // since Korvane last read or wrote the file and the file still holds that or holds what
    // another program wrote and Korvane never took; otherwise SaveResultsToFile of the whole
    // list.
    SaveOutcome saveUnlessHeld(WatchList& list);

    // The bytes a save of the whole list writes: in the file's encoding, records past the
    // list's capacity included.
    QByteArray bytesOf(const WatchList& list) const;

    // Why the last load or save that failed did so.
    const FileFailure& failure() const { return m_failure; }

    // How the file on disk stands to what Korvane last read from it or wrote to it.
    enum class OnDisk
    {
        AsKnown,    // the same bytes
        Missing,    // deleted: the next save writes it again
        Changed,    // another program wrote it, and has finished: it can be taken
        Unreadable, // it is there but cannot be read: it is neither taken nor overwritten
        // Another program is still writing it: it holds the file open for writing, or Korvane
        // has not yet seen the file unchanged for the settle time since it changed. Neither
        // taken nor overwritten until it settles.
        Unsettled,
        // As Korvane knows it, but not yet seen unchanged for the settle time, where the kernel
        // cannot tell whether another program holds it open for writing (at start-up on a
        // share, say): not written over until it has.
        Settling,
        NotAFile, // a folder, a FIFO, a link into a missing folder or one Korvane may not follow
        // It has settled, and holds no list (a binary file): never taken or written over.
        NotAList,
    };
    OnDisk onDisk() const;
    // The same, with the file's bytes when it was read.
    OnDisk onDisk(std::optional<QByteArray>& bytes) const;

    // When to look again at a file that is Unsettled or Settling, in milliseconds.
    int msUntilSettled() const;
    // Korvane heard that the file changed: the change is seen now, cheaply, without reading it,
    // so that it may count as settled the sooner.
    void glance() const { msUntilSettled(); }

    // Reads the file when another program changed it: `known` gets the records as Korvane last
    // read or wrote them, `records` those of the file now, and from now on those are what
    // Korvane knows of the file. False, changing nothing, when the file is as Korvane knows it
    // or cannot be read.
    bool readOutsideEdit(WatchListRecords& known, WatchListRecords& records);

    // The encoding the file came in, which saves keep.
    ListEncoding encoding() const { return m_encoding; }

    // Records past the list's capacity, kept as they were read.
    const QByteArray& unloadedTail() const { return m_unloadedTail; }
    // A merge gave more rows than the list can hold: the rest are kept here, before those
    // already kept, so that every save still writes them.
    void keepPastCapacity(const std::vector<WatchList::Cells>& rows);

    // True when a save now would write other bytes than the file got at the last successful
    // save, or than the list held when it was loaded: something would be lost if the list were
    // dropped now.
    bool hasUnsavedChanges(const WatchList& list) const;

private:
    void fail(FileFailure::Kind kind, SystemError system = {});
    // `unchanged`: see writeWholeFile.
    static SaveOutcome replaceWhole(const QString& path, QByteArrayView bytes, SystemError& why,
                                    const std::function<bool()>& unchanged = {});
    // Writes `bytes` unless `state` or the file forbids it; `whole`: they are the whole list.
    SaveOutcome writeList(OnDisk state, QByteArray bytes, bool whole);
    // The bytes now in the file, read (`read`) or written by Korvane.
    void knowOnDisk(QByteArray bytes, bool read = false);
    // The list's text in bytes of the file: the bytes themselves, for a file without a mark.
    QByteArray textOf(const QByteArray& fileBytes) const;
    void shareKeptBytes();
    // Korvane has seen what the file is now: a file it wrote, or one it read once settled.
    void seenSettled();

    QString m_path;
    QByteArray m_unloadedTail;
    QByteArray m_keptBytes;
    // The bytes last read from or written to the file; null before any, and empty when there
    // was no file and none could be made.
    QByteArray m_onDisk;
    FileFailure m_failure;
    ListEncoding m_encoding = ListEncoding::Plain;
    // What Korvane saw of the file, by its own clock.
    mutable SettleWatch m_watch;
    // The bytes known are no list: the list shows what it started with instead.
    bool m_knownNotAList = false;
    bool m_keepUnreadableFile = false;
};
