// SPDX-License-Identifier: MIT
// A slow, obviously correct HTML reducer that the tests and the fuzzer hold ReduceHtml against.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace reference {

// Written for clarity, not speed: one byte at a time, then one plain replace pass per reference.
// Keep it that way; its whole worth is that it can be checked by reading it.

inline constexpr std::string_view removedReferences[] = {"&nbsp;", "&#183;", "&copy;", "&quot;",
                                                         "&#149;", "&amp;",  "&gt;"};

// The first step: the text between the tags, line breaks and tabs dropped, spaces collapsed.
inline std::string keepText(std::string_view page)
{
    bool inText = false;
    std::optional<char> lastKept;
    std::string output;

    const std::size_t length = page.size();
    for (std::size_t i = 0; i < length; ++i) {
        const char c = page[i];
        if (c == '>')
            inText = true;
        if (c == '<')
            inText = false;
        if (inText && c != '>') {
            if (c == ' ' && lastKept == ' ') {
                // dropped: a space right after a kept space
            } else if (c == '\n' || c == '\r' || c == '\t') {
                // dropped, and the last kept character stays as it was
            } else {
                output += c;
                lastKept = c;
            }
        }
    }
    return output;
}

// The second step. Each pass goes left to right over the text as the previous pass left it.
// After a removal the search carries on where the removed text was, so text that the removal
// joins together is not looked at again by this pass (a later pass does see it).
inline std::string removeReferences(std::string text)
{
    for (std::string_view reference : removedReferences) {
        std::size_t from = 0;
        for (;;) {
            const std::size_t at = text.find(reference, from);
            if (at == std::string::npos)
                break;
            text.replace(at, reference.size(), "");
            from = at;
        }
    }
    return text;
}

inline std::string reduceHtml(std::string_view page)
{
    return removeReferences(keepText(page));
}

} // namespace reference
