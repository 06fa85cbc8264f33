// SPDX-License-Identifier: MIT
// Reading and writing the files Korvane keeps (the list, its recovery copies, the caches) whole:
// a file is read within a limit and never waited on, and replaced whole or not at all, never
// through a symbolic link that someone else planted, and never when its owner made it read-only.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

class QIODevice;
struct stat;

// How readWholeFile went.
enum class WholeRead
{
    Read,
    Missing,
    NotOpened,  // it could not be opened or looked at: errno says why
    NotRegular, // a folder, a pipe, a device: never read, and never waited on
    TooLarge,   // over the limit when opened, or by what it grew while it was read
    ReadFailed, // a read or the close failed (errno says why), or it ended before its size
};

// The bytes of the regular file at `path`: what it holds when opened and what it grew by while
// it is read, never more than `limit` bytes, in one read where the kernel allows (a check run
// reads a page this way). Nothing when it could not, with why in `why`, and the file's status in
// `opened` once it was opened.
std::optional<QByteArray> readWholeFile(const QString& path, qint64 limit, WholeRead* why = nullptr,
                                        struct stat* opened = nullptr);

// Writes `bytes` to an open device; false when the device takes less than all of them.
bool writeAllBytes(QIODevice& device, QByteArrayView bytes);

// False when `path` is a symbolic link (or a chain of them) that Korvane must not write
// through: one that belongs neither to the user Korvane runs as nor to the owner of the file it
// leads to. This is the kernel's rule for links in shared folders, applied everywhere, so that
// root never writes a file of its own where another user's link sends it.
bool mayWriteThrough(const QString& path);

// What the system said of a read or write that failed: its error number (0 where it named
// none) and its own words for it.
struct SystemError
{
    int number = 0;
    QString words;
};

// The error `error` (an errno value), with the system's words for it.
SystemError systemError(int error);

enum class WholeWrite
{
    Written,
    LinkRefused, // a link Korvane may not write through; nothing was written
    OpenFailed,
    WriteFailed,
    CommitFailed,
    ChangedMeanwhile, // another program wrote the file during the write: it is left as it is
};

// Puts `bytes` in place of the file at `path` as a whole, or leaves the file as it was. A new
// file takes the mode, the extended attributes (an ACL among them) and, for root, the owner of
// the one it replaces; a file with a second name or mounted into place is written in place.
// `directWriteFallback`: where no new file can be made beside it, the file is written in place
// (the list allows this, as the user may write it in a folder the user may not). `why` gets a
// failure's reason, where the system gave one. `unchanged`, when given, is asked last, just before
// the new bytes take the old ones' place: false leaves the file as it is.
WholeWrite writeWholeFile(const QString& path, QByteArrayView bytes, SystemError* why = nullptr,
                          bool directWriteFallback = false,
                          const std::function<bool()>& unchanged = {});

// Creates a file that did not exist in `directory`, named `stem` + `extension`, or `stem`-2 +
// `extension` and so on when that name is taken, and writes `bytes` to it whole. Returns its
// path, or an empty string (leaving nothing behind) when it could not.
QString writeNewFile(const QString& directory, const QString& stem, const QString& extension,
                     QByteArrayView bytes);

// True when the file's permission bits forbid writing it for the current user. Unlike
// access(2) this also holds for root, who could write it anyway: a file its owner made
// read-only is one the program must leave alone.
bool isReadOnlyFile(const QString& path);
