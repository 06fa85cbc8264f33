// SPDX-License-Identifier: MIT
// Deterministic material for the benchmarks: a small fixed random generator and the words and
// character references that generated pages and lists are made of, the same on every machine.
#pragma once

#include <cstddef>
#include <cstdint>

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

} // namespace benchtext
