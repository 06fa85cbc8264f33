// SPDX-License-Identifier: MIT
// Deterministic material for the benchmarks: a small fixed random generator and the words and
// character references that generated pages and lists are made of, the same on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace benchtext {

// SplitMix64: tiny, fast and good enough to vary test data.
class Random
{
public:
    explicit Random(std::uint64_t seed = 0x4b6f7276616e65ULL) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }
    template <typename T, std::size_t N> const T& pick(const T (&items)[N])
    {
        return items[below(N)];
    }

private:
    std::uint64_t m_state;
};

inline const char* const Words[] = {
    "the",     "of",       "and",     "weather", "news",   "update",   "a",       "in",
    "council", "says",     "to",      "is",      "report", "it",       "morning", "for",
    "markets", "football", "on",      "with",    "city",   "minister", "as",      "at",
    "new",     "plan",     "schools", "by",      "be",     "this",     "from",    "local"};

inline const char* const References[] = {"&nbsp;", "&amp;", "&quot;", "&#183;",
                                         "&copy;", "&gt;",  "&lt;",   "&#8217;"};

// Words with a reference now and then, ended by a full stop. Works on std::string and QByteArray.
template <typename Text> void appendSentence(Text& out, Random& random, int words)
{
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            out += ' ';
        out += random.below(12) == 0 ? random.pick(References) : random.pick(Words);
    }
    out += '.';
}

// A line break and the indentation that pages carry between their tags.
template <typename Text> void appendIndent(Text& out, Random& random)
{
    out += '\n';
    const int spaces = int(2 * (1 + random.below(8)));
    for (int i = 0; i < spaces; ++i)
        out += ' ';
}

// A paragraph of two sentences, as article pages carry their text.
template <typename Text> void appendParagraph(Text& out, Random& random)
{
    appendIndent(out, random);
    out += "<p class=\"article__body\">";
    appendSentence(out, random, int(8 + random.below(30)));
    out += ' ';
    appendSentence(out, random, int(8 + random.below(30)));
    out += "</p>";
}

// A script of a few lines, as pages carry their trackers, mentioning item `id`.
template <typename Text> void appendScript(Text& out, Random& random, int id)
{
    const auto number = [](std::uint64_t n) {
        if constexpr (std::is_same_v<Text, std::string>)
            return std::to_string(n);
        else
            return Text::number(n);
    };
    appendIndent(out, random);
    out += "<script>";
    const int lines = int(3 + random.below(10));
    for (int i = 0; i < lines; ++i) {
        appendIndent(out, random);
        out += "if (window.dataLayer && items.length > ";
        out += number(random.below(50));
        out += ") { dataLayer.push({event: \"view\", id: ";
        out += number(std::uint64_t(id));
        out += "}); }";
    }
    appendIndent(out, random);
    out += "</script>";
}

// Cuts a generated page to `size` bytes with its closing tags. A good page never holds the
// not-found marker the fetcher looks for.
inline void endPage(std::string& out, std::size_t size)
{
    out.resize(size - 16);
    out += "</body></html>\n";
    for (std::size_t at = out.find("404"); at != std::string::npos; at = out.find("404", at))
        out[at + 1] = '1';
}

} // namespace benchtext
