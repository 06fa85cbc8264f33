// Where Korvane keeps websites.ini and its temporary download file.
#pragma once

#include <QString>

// The program's own directory when it can be written; otherwise (an installed copy in a
// system directory) `fallbackDirectory`, created when missing. Returns an empty string when
// neither can be used.
QString chooseDataDirectory(const QString& programDirectory, const QString& fallbackDirectory);

// chooseDataDirectory() for the running program, with the per-user application data directory
// as the fallback.
QString dataDirectoryForThisProgram();

// True when the file's permission bits forbid writing it for the current user. Unlike
// access(2) this also holds for root, who could write it anyway: a file its owner made
// read-only is one the program must leave alone.
bool isReadOnlyFile(const QString& path);
