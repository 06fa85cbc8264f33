// SPDX-License-Identifier: MIT
// The help page that comes with Korvane, opened by Help > Online Help.
#pragma once

#include <QByteArray>
#include <QString>

// The help page beside a program in `programDirectory`: installed under share/korvane/, and
// at the same place in the build tree.
QString shippedHelpPage(const QString& programDirectory);

// The address of the help page for the program in `programDirectory`: the shipped page, or,
// for a copy of the program that came without it, the page built into the program, written to
// the user's cache folder. Empty when neither can be had.
QByteArray helpPageAddress(const QString& programDirectory);
