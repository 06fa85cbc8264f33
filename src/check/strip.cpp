// The HTML reducer: one pass that keeps the text between the tags, then one that deletes the
// removed references (seven, one per reference, in the rare page where a removal can join a new
// one). All of them work in the page's own buffer, which the result never outgrows.
#include "strip.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// In the order in which they are removed; the order matters when one removal joins the pieces
// of another reference (see removalsCanJoin).
constexpr std::string_view RemovedReferences[] = {"&nbsp;", "&#183;", "&copy;", "&quot;",
                                                  "&#149;", "&amp;",  "&gt;"};
constexpr qsizetype LongestReference = 6;

bool isDroppedBreak(char c)
{
    return c == '\n' || c == '\r' || c == '\t';
}

// The first `length` bytes at `at` (at most 8) as a number, the first byte lowest.
constexpr std::uint64_t word(const char* at, std::size_t length)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(at[i])) << (8 * i);
    return value;
}

struct ReferenceWord
{
    std::uint64_t value;
    std::uint64_t mask;
    qsizetype length;
};

constexpr auto ReferenceWords = [] {
    std::array<ReferenceWord, std::size(RemovedReferences)> words{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view reference = RemovedReferences[i];
        words[i] = {word(reference.data(), reference.size()),
                    ~std::uint64_t(0) >> (64 - 8 * reference.size()), qsizetype(reference.size())};
    }
    return words;
}();

// Length of the removed reference that starts at `at`, or 0.
qsizetype referenceAt(const char* at, qsizetype available)
{
    if (available >= 8) {
        // Pages are full of references: one load and a compare with each, without a branch
        // that could be mispredicted. At most one of them matches.
        const std::uint64_t bytes = word(at, 8);
        qsizetype length = 0;
        for (const ReferenceWord& reference : ReferenceWords)
            length += ((bytes & reference.mask) == reference.value) ? reference.length : 0;
        return length;
    }
    for (std::string_view reference : RemovedReferences) {
        if (available >= qsizetype(reference.size()) &&
            std::memcmp(at, reference.data(), reference.size()) == 0)
            return qsizetype(reference.size());
    }
    return 0;
}

// Whether the `length` bytes at `at` are the beginning of a removed reference, short of all of it.
bool startsReference(const char* at, qsizetype length)
{
    for (std::string_view reference : RemovedReferences) {
        if (length < qsizetype(reference.size()) &&
            std::memcmp(at, reference.data(), size_t(length)) == 0)
            return true;
    }
    return false;
}

#ifdef __SSE2__

// Both passes read the text in windows of 64 bytes, one bit per byte, so that which bytes stay
// is worked out with a few word operations instead of a branch per byte.
constexpr qsizetype Window = 64;
// How far moveDown may read past a window.
constexpr qsizetype Overread = Window;

const __m128i* block(const char* at)
{
    return reinterpret_cast<const __m128i*>(at);
}

std::uint64_t bits(__m128i matches, int shift)
{
    return std::uint64_t(unsigned(_mm_movemask_epi8(matches))) << shift;
}

// Bit i tells whether byte i of the window is `c`.
std::uint64_t bitsOf(const char* window, char c)
{
    const __m128i wanted = _mm_set1_epi8(c);
    std::uint64_t found = 0;
    for (int shift = 0; shift < Window; shift += 16)
        found |= bits(_mm_cmpeq_epi8(_mm_loadu_si128(block(window + shift)), wanted), shift);
    return found;
}

// The lowest `count` bits, for a count below 64.
std::uint64_t lowBits(qsizetype count)
{
    return (std::uint64_t(1) << count) - 1;
}

// Moves `length` bytes (at most a window) from `from` down to `to`. Once the two are a window
// apart, which happens within the first tags of a page, copying a whole window's worth in four
// blocks is cheaper than an exact copy, whatever the length: what it writes past the end lands
// on bytes that have been read already, and it reads at most Overread bytes past the window,
// which the callers leave room for.
void moveDown(char* to, const char* from, qsizetype length)
{
    if (from - to >= Window) {
        for (qsizetype i = 0; i < Window; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(block(from + i)));
    } else if (from != to) {
        std::memmove(to, from, size_t(length));
    }
}

// Moves the bytes of the window at `in` whose bits are set in `kept` down to `out`, one run of
// neighbouring bytes at a time; returns where the output goes on.
qsizetype moveKept(char* text, qsizetype in, qsizetype out, std::uint64_t kept)
{
    while (kept) {
        const int start = std::countr_zero(kept);
        const int length = std::countr_one(kept >> start);
        moveDown(text + out, text + in + start, length);
        out += length;
        kept &= kept + (kept & (~kept + 1)); // clears the lowest run
    }
    return out;
}

// The bytes that follow a byte of `from` (or the window's start, when `fromStart`), up to the
// next byte of `stops`, that one included. Adding a 1 just after each `from` byte to the mask of
// the other bytes carries through them and comes to rest on the next stop, so the bits that
// the addition changes are exactly those. `from` must lie within `stops`: then no carry ever
// passes a stop.
std::uint64_t reach(std::uint64_t from, std::uint64_t stops, bool fromStart)
{
    const std::uint64_t others = ~stops;
    return (others + ((from << 1) | std::uint64_t(fromStart))) ^ others;
}

#endif

// Where the first pass stands between two bytes: inside a tag or in text, and whether the byte
// kept last is a space (a following space is then dropped).
struct ScanState
{
    bool inText = false;
    bool lastKeptIsSpace = false;
};

#ifdef __SSE2__

struct WindowBits
{
    std::uint64_t opens = 0;  // "<"
    std::uint64_t closes = 0; // ">"
    std::uint64_t breaks = 0; // line feed, carriage return, tab
    std::uint64_t spaces = 0;
};

WindowBits classify(const char* window)
{
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i space = _mm_set1_epi8(' ');
    WindowBits b;
    for (int shift = 0; shift < Window; shift += 16) {
        const __m128i v = _mm_loadu_si128(block(window + shift));
        b.opens |= bits(_mm_cmpeq_epi8(v, lt), shift);
        b.closes |= bits(_mm_cmpeq_epi8(v, gt), shift);
        b.breaks |= bits(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                      _mm_cmpeq_epi8(v, tab)),
                         shift);
        b.spaces |= bits(_mm_cmpeq_epi8(v, space), shift);
    }
    return b;
}

// Which bytes of the window are kept, given the state before it; leaves the state after it.
std::uint64_t keptBytes(const WindowBits& b, ScanState& state)
{
    // In text: the bytes after a ">" up to the next "<" or ">", the markers themselves not.
    const std::uint64_t markers = b.opens | b.closes;
    const std::uint64_t inText = reach(b.closes, markers, state.inText) & ~markers;
    const std::uint64_t candidates = inText & ~b.breaks;
    // Of those, a space is dropped when the candidate before it is a space: either that one was
    // kept, or it was dropped for the same reason, and the last kept byte is a space.
    const std::uint64_t candidateSpaces = candidates & b.spaces;
    const std::uint64_t collapsed =
        candidateSpaces & reach(candidateSpaces, candidates, state.lastKeptIsSpace);

    if (markers)
        state.inText = (b.closes >> (63 - std::countl_zero(markers))) & 1;
    if (candidates)
        state.lastKeptIsSpace = (b.spaces >> (63 - std::countl_zero(candidates))) & 1;
    return candidates & ~collapsed;
}

#endif

// Keeps the text between each ">" and the next "<", without line breaks and tabs and with runs
// of spaces collapsed, at the front of `text`; returns its length.
qsizetype keepText(char* text, qsizetype size)
{
    qsizetype in = 0;
    qsizetype out = 0;
    ScanState state;
#ifdef __SSE2__
    for (; size - in >= Window + Overread; in += Window)
        out = moveKept(text, in, out, keptBytes(classify(text + in), state));
#endif
    // The last bytes, or all of them where there is no SSE2: one at a time.
    for (; in < size; ++in) {
        const char c = text[in];
        if (c == '>') {
            state.inText = true;
            continue;
        }
        if (c == '<') {
            state.inText = false;
            continue;
        }
        if (!state.inText || isDroppedBreak(c))
            continue;
        if (c == ' ') {
            if (state.lastKeptIsSpace)
                continue;
            state.lastKeptIsSpace = true;
        } else {
            state.lastKeptIsSpace = false;
        }
        text[out++] = c;
    }
    return out;
}

// Whether the piece that starts at `piece` (an "&") is a short beginning of a reference directly
// followed by a whole one.
bool joinsAt(const char* piece, const char* end)
{
    const qsizetype room = std::min<qsizetype>(end - piece, LongestReference);
    const void* found = room > 1 ? std::memchr(piece + 1, '&', size_t(room - 1)) : nullptr;
    if (!found)
        return false;
    const char* next = static_cast<const char*>(found);
    return startsReference(piece, next - piece) && referenceAt(next, end - next) != 0;
}

// Every reference begins with the only "&" it holds, so the text falls into pieces that each
// begin with an "&" and run to the next one, and a reference is always the head of one piece.
// Removing one appends the rest of its piece to the piece before, which changes how that piece
// begins only when it is a short beginning of a reference ("&am", "&"). So as long as no new
// reference has formed, the only pieces removed are references that were there from the start,
// and a new one can only form where such a short beginning is directly followed by one of them:
// "&am&amp;p;". Pages hardly ever hold such a pair, and without one the passes remove exactly
// the references that are there before the first pass.
bool removalsCanJoin(const char* text, qsizetype size)
{
    const char* const end = text + size;
    qsizetype at = 0;
#ifdef __SSE2__
    // Only an "&" with another one less than LongestReference bytes after it needs a closer
    // look. The windows overlap so that every "&" they judge has those bytes in the same window.
    constexpr qsizetype Step = Window - LongestReference;
    for (; size - at >= Window; at += Step) {
        const std::uint64_t amps = bitsOf(text + at, '&');
        std::uint64_t followed = 0;
        for (int distance = 1; distance < LongestReference; ++distance)
            followed |= amps >> distance;
        for (std::uint64_t near = amps & followed & lowBits(Step); near; near &= near - 1) {
            if (joinsAt(text + at + std::countr_zero(near), end))
                return true;
        }
    }
#endif
    for (; at < size; ++at) {
        if (text[at] == '&' && joinsAt(text + at, end))
            return true;
    }
    return false;
}

// Removes every occurrence of `reference`, left to right, in place. Text that a removal brings
// together is not looked at again in the same pass.
qsizetype removeAll(char* text, qsizetype size, std::string_view reference)
{
    const char first = reference.front();
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
        if (size - read >= qsizetype(reference.size()) &&
            std::memcmp(text + read, reference.data(), reference.size()) == 0) {
            read += qsizetype(reference.size());
        } else {
            text[write++] = text[read++];
        }
    }
    return write;
}

// Removes, in one pass, every removed reference that stands in the text.
qsizetype removePresentReferences(char* text, qsizetype size)
{
    qsizetype in = 0;
    qsizetype out = 0;
    // A reference can reach past the end of a window; its bytes before `removedUpTo` go too.
    qsizetype removedUpTo = 0;
#ifdef __SSE2__
    for (; size - in >= Window + Overread; in += Window) {
        std::uint64_t removed = removedUpTo > in ? lowBits(removedUpTo - in) : 0;
        for (std::uint64_t amps = bitsOf(text + in, '&'); amps; amps &= amps - 1) {
            const qsizetype at = in + std::countr_zero(amps);
            if (const qsizetype length = referenceAt(text + at, size - at)) {
                removed |= lowBits(length) << (at - in);
                removedUpTo = at + length;
            }
        }
        out = moveKept(text, in, out, ~removed);
    }
#endif
    for (in = std::max(in, removedUpTo); in < size;) {
        const qsizetype length = text[in] == '&' ? referenceAt(text + in, size - in) : 0;
        if (length)
            in += length;
        else
            text[out++] = text[in++];
    }
    return out;
}

// Deletes the removed references, with the result of one pass per reference in the listed
// order, each pass over what the one before left. Unless a removal can join a new reference,
// a single pass does the same.
qsizetype removeReferences(char* text, qsizetype size)
{
    if (!removalsCanJoin(text, size))
        return removePresentReferences(text, size);
    for (std::string_view reference : RemovedReferences)
        size = removeAll(text, size, reference);
    return size;
}

} // namespace

QByteArray ReduceHtml(QByteArray page)
{
    if (page.isEmpty())
        return page;
    // data() gives the reducer a buffer of its own when the caller still shares the page.
    char* const text = page.data();
    qsizetype size = keepText(text, page.size());
    size = removeReferences(text, size);
    page.truncate(size);
    return page;
}
