// SPDX-License-Identifier: MIT
// The HTML reducer: one pass that keeps the text between the tags, then one pass per removed
// reference. Plain byte loops: a page reduces far faster than it downloads. Every pass works in
// the page's own buffer: what it keeps never gets ahead of what it reads.
#include "strip.h"

#include <cstring>
#include <string_view>

namespace {

// In the order in which they are removed. The order matters: removing one can join the pieces
// of another ("&am&amp;p;" leaves "&amp;" for a later pass only if that pass comes later).
constexpr std::string_view RemovedReferences[] = {"&nbsp;", "&#183;", "&copy;", "&quot;",
                                                  "&#149;", "&amp;",  "&gt;"};

// Keeps the characters after each ">" up to the next "<", without line feeds, carriage returns
// and tabs, and without a space whose last kept character is a space. Everything before the
// first ">" is tag, and so is everything after a "<" that no ">" follows.
void keepText(QByteArray& text)
{
    char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* at = begin;
    char* kept = begin;
    bool lastKeptIsSpace = false;
    while (const void* tagEnd = std::memchr(at, '>', size_t(end - at))) {
        at = static_cast<const char*>(tagEnd) + 1;
        const void* tagStart = std::memchr(at, '<', size_t(end - at));
        const char* const textEnd = tagStart ? static_cast<const char*>(tagStart) : end;
        for (; at < textEnd; ++at) {
            const unsigned char c = static_cast<unsigned char>(*at);
            // Letters, digits and punctuation first: they are most of any text.
            if (c > ' ') {
                if (c != '>') {
                    *kept++ = char(c);
                    lastKeptIsSpace = false;
                }
                continue;
            }
            if (c == '\n' || c == '\r' || c == '\t')
                continue; // the last kept character stays as it was
            if (c == ' ' && lastKeptIsSpace)
                continue;
            *kept++ = char(c);
            lastKeptIsSpace = c == ' ';
        }
    }
    text.truncate(kept - begin);
}

// Removes every occurrence of `reference`, found left to right. The search goes on after each
// occurrence in the text as it was, so an occurrence that only forms where the pieces around a
// removed one meet stays.
void removeAll(QByteArray& text, std::string_view reference)
{
    char* const begin = text.data();
    const std::string_view in(begin, size_t(text.size()));
    std::size_t from = 0;
    char* kept = begin;
    std::size_t found = in.find(reference);
    if (found == std::string_view::npos)
        return; // most pages hold few of the seven: nothing to move
    for (; found != std::string_view::npos; found = in.find(reference, from)) {
        std::memmove(kept, begin + from, found - from);
        kept += found - from;
        from = found + reference.size();
    }
    std::memmove(kept, begin + from, in.size() - from);
    kept += in.size() - from;
    text.truncate(kept - begin);
}

} // namespace

QByteArray ReduceHtml(QByteArray page)
{
    keepText(page);
    for (std::string_view reference : RemovedReferences)
        removeAll(page, reference);
    return page;
}
