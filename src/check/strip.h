// SPDX-License-Identifier: MIT
// Reduces a web page to the short plain text whose length tells whether the page changed.
#pragma once

#include <QByteArray>

// Keeps the characters between a ">" and the next "<", drops line breaks and tabs, collapses
// runs of spaces, then deletes the references "&nbsp;", "&#183;", "&copy;", "&quot;", "&#149;",
// "&amp;" and "&gt;" (in that order, one pass each). A character is a byte. Takes the page by
// value: callers that no longer need their copy move it in.
QByteArray ReduceHtml(QByteArray page);
