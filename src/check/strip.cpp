// The HTML reducer: one pass over the page, then one pass for each removed reference.
#include "strip.h"

#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view RemovedReferences[] = {"&nbsp;", "&#183;", "&copy;", "&quot;",
                                                  "&#149;", "&amp;",  "&gt;"};

// Removes every occurrence of `needle`, left to right, in place. Text that a removal brings
// together is not looked at again in the same pass.
qsizetype removeAll(char* text, qsizetype size, std::string_view needle)
{
    const char first = needle.front();
    qsizetype read = 0;
    qsizetype write = 0;
    while (read < size) {
        const void* hit = std::memchr(text + read, first, size_t(size - read));
        const qsizetype at = hit ? static_cast<const char*>(hit) - text : size;
        if (write != read)
            std::memmove(text + write, text + read, size_t(at - read));
        write += at - read;
        read = at;
        if (read >= size)
            break;
        if (size - read >= qsizetype(needle.size()) &&
            std::memcmp(text + read, needle.data(), needle.size()) == 0) {
            read += qsizetype(needle.size());
        } else {
            text[write++] = text[read++];
        }
    }
    return write;
}

} // namespace

QByteArray ReduceHtml(QByteArray page)
{
    // The output is never longer than the input, so it is built in the input's own buffer.
    char* const text = page.data();
    const qsizetype size = page.size();
    qsizetype out = 0;
    bool inText = false;
    bool lastKeptIsSpace = false;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '>') {
            inText = true;
            continue;
        }
        if (c == '<') {
            inText = false;
            continue;
        }
        if (!inText)
            continue;
        if (c == ' ') {
            if (lastKeptIsSpace)
                continue;
            lastKeptIsSpace = true;
        } else if (c == '\n' || c == '\r' || c == '\t') {
            continue;
        } else {
            lastKeptIsSpace = false;
        }
        text[out++] = c;
    }
    for (std::string_view reference : RemovedReferences)
        out = removeAll(text, out, reference);
    page.truncate(out);
    return page;
}
