// SPDX-License-Identifier: MIT
// Where Korvane keeps websites.ini and its temporary download file, and what it found of the
// list's sites.
#pragma once

#include <QString>
#include <QStringList>

// The file whose presence makes the program in `programDirectory` an installed copy: the install
// puts it under share/korvane/ beside the bin/ directory that holds the program.
QString installedCopyMarker(const QString& programDirectory);

// The program's own directory for a copy in a folder of its own (its build tree included) that
// can be written. An installed copy, or one whose directory cannot be written, gets
// `fallbackDirectory`, created when missing. Returns an empty string when neither can be used;
// then `refusals`, when given, gets a line for each folder that says why it could not.
QString chooseDataDirectory(const QString& programDirectory, const QString& fallbackDirectory,
                            QStringList* refusals = nullptr);

// chooseDataDirectory() for the running program, with the per-user application data directory
// as the fallback.
QString dataDirectoryForThisProgram(QStringList* refusals = nullptr);

// The folder that keeps what checks found of each list's sites: Korvane in the user's state
// folder, $XDG_STATE_HOME, or ~/.local/state where that is unset or not an absolute path.
// Made when first written.
QString findingsDirectoryForThisUser();
