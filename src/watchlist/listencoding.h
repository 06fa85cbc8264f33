// SPDX-License-Identifier: MIT
// The text encoding of websites.ini as another program may have saved it: Korvane's own 8-bit
// text without a mark, or Unicode with a byte-order mark (Notepad's "Unicode", PowerShell's `>`).
// A list is read as the text it is and written back in the encoding it came in, mark and all, so
// that the program that wrote it can still read it.
#pragma once

#include <QByteArray>

enum class ListEncoding
{
    Plain,        // as Korvane writes it: the bytes are the list's own
    Utf8WithMark, // EF BB BF
    Utf16LE,      // FF FE
    Utf16BE,      // FE FF
};

struct ListText
{
    ListEncoding encoding = ListEncoding::Plain;
    // The list's text as the list keeps it (UTF-8 for a Unicode file), without the mark. For a
    // plain file the very bytes given, not a copy.
    QByteArray bytes;
};

// The list's text in the bytes of a file.
ListText decodeList(const QByteArray& fileBytes);
// The bytes of a file in `encoding` that holds the list's text `text`.
QByteArray encodeList(ListEncoding encoding, const QByteArray& text);

// True when the text cannot be a list that anyone wrote: it holds a NUL byte, which no text
// editor writes into a list of addresses (a binary file, or UTF-16 without its mark).
bool isNotAList(const ListText& text);
