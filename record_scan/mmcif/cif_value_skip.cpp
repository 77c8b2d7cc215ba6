#include "mmcif/cif_value_skip.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "mmcif/atom_site_rows.hpp"
#include "mmcif/cif_tokenizer.hpp"
#include "record_scan.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace record_scan {
namespace {

// Bit i tells about byte i of a 64-byte window.
struct WindowBytes {
    std::uint64_t line_feed;
    std::uint64_t blank;       // white space, exactly as the tokenizer has it
    std::uint64_t underscore;
    std::uint64_t semicolon;
    // At a token's start, where the line must be cut token by token:
    // ' " # and, as the classes fall, '&' too (a line cut by tokens for
    // nothing costs time, never an answer).
    std::uint64_t quote_or_hash;
};

#if defined(__SSE2__)
// Every x86-64 has SSE2: four 16-byte loads. The bytes 0x22, 0x23, 0x26
// and 0x27 are those that OR 0x05 makes 0x27.
WindowBytes classify_sse2(const char* window) {
    WindowBytes bytes{0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * i));
        const auto is = [](__m128i bytes_in, char c) { return _mm_cmpeq_epi8(bytes_in, _mm_set1_epi8(c)); };
        const unsigned shift = 16 * static_cast<unsigned>(i);
        const auto bits = [shift](__m128i matches) {
            return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(matches))} << shift;
        };
        const __m128i line_feed = is(v, '\n');
        bytes.line_feed |= bits(line_feed);
        bytes.blank |= bits(_mm_or_si128(_mm_or_si128(line_feed, is(v, ' ')), _mm_or_si128(is(v, '\t'), is(v, '\r'))));
        bytes.underscore |= bits(is(v, '_'));
        bytes.semicolon |= bits(is(v, ';'));
        bytes.quote_or_hash |= bits(is(_mm_or_si128(v, _mm_set1_epi8(0x05)), 0x27));
    }
    return bytes;
}
#else
// Elsewhere, a byte at a time.
WindowBytes classify_portable(const char* window) {
    WindowBytes bytes{0, 0, 0, 0, 0};
    for (unsigned i = 0; i < 64; ++i) {
        const std::uint64_t bit = std::uint64_t{1} << i;
        const char c = window[i];
        if (c == '\n') bytes.line_feed |= bit;
        if (is_cif_blank(c)) bytes.blank |= bit;
        if (c == '_') bytes.underscore |= bit;
        if (c == ';') bytes.semicolon |= bit;
        if (c == '#' || c == '\'' || c == '"' || c == '&') bytes.quote_or_hash |= bit;
    }
    return bytes;
}
#endif

#if defined(__x86_64__)
[[gnu::target("avx2")]] inline __m256i bytes_are(__m256i bytes, char c) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}

[[gnu::target("avx2")]] inline std::uint64_t bits_of(__m256i matches, unsigned shift) {
    return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(matches))} << shift;
}

// The same in two 32-byte loads, where the machine has AVX2.
[[gnu::target("avx2")]] inline WindowBytes classify_avx2(const char* window) {
    WindowBytes bytes{0, 0, 0, 0, 0};
    for (int i = 0; i < 2; ++i) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32 * i));
        const unsigned shift = 32 * static_cast<unsigned>(i);
        const __m256i line_feed = bytes_are(v, '\n');
        bytes.line_feed |= bits_of(line_feed, shift);
        bytes.blank |= bits_of(_mm256_or_si256(_mm256_or_si256(line_feed, bytes_are(v, ' ')),
                                               _mm256_or_si256(bytes_are(v, '\t'), bytes_are(v, '\r'))),
                               shift);
        bytes.underscore |= bits_of(bytes_are(v, '_'), shift);
        bytes.semicolon |= bits_of(bytes_are(v, ';'), shift);
        bytes.quote_or_hash |= bits_of(bytes_are(_mm256_or_si256(v, _mm256_set1_epi8(0x05)), 0x27), shift);
    }
    return bytes;
}
#endif

using Classifier = WindowBytes (*)(const char*);

// True when the name at `name` may be one of _atom_site: its first ten
// bytes are "_atom_site" in any letter case (or DEL for '_', which OR 0x20
// leaves alike: one more name cut by tokens). The ten bytes lie in view:
// the 64 bytes past the end of the bytes at hand may be loaded.
bool may_name_atom_site(const char* name) {
    std::uint64_t head;
    std::uint16_t tail;
    std::memcpy(&head, name, sizeof head);
    std::memcpy(&tail, name + 8, sizeof tail);
    std::uint64_t want_head;
    std::uint16_t want_tail;
    std::memcpy(&want_head, "\x7f" "atom\x7f" "si", sizeof want_head);
    std::memcpy(&want_tail, "te", sizeof want_tail);
    return (head | 0x2020202020202020u) == want_head && (tail | 0x2020u) == want_tail;
}

enum class Lines : unsigned char { passed, stop, past_end };

// The classes of the 64 bytes from `start`, kept while the position stays
// among them, so that no byte is classified twice.
struct Window {
    const char* start = nullptr;
    WindowBytes bytes{0, 0, 0, 0, 0};

    bool holds(const char* p) const { return start != nullptr && p >= start && p < start + 64; }
};

std::uint64_t lowest_bit(std::uint64_t bits) { return bits & (0 - bits); }

// Passes over the lines that begin at `at.next` and hold nothing that may
// matter, window after window, up to the first that may: their tokens are
// values and names of other categories, none begins with a quote or '#',
// none is a reserved word, and no text field begins. A name is judged by
// its first ten bytes, a reserved word by where its '_' lies: enough to
// pass a line, and what may matter goes to the cut by tokens. `passed`
// when some lines were passed, else `stop` when the line at `at.next`
// needs the cut by tokens, `past_end` when it runs past the bytes at
// hand. A ';' at `at.next` itself is the caller's.
template <Classifier classify>
[[gnu::always_inline]] inline Lines pass_value_lines(CifSkipPosition& at, const char* end, Window& window) {
    const char* passed_to = nullptr;  // just past the last line feed passed
    std::uint64_t starts_before = 0;  // token starts in the window before
    Lines outcome = Lines::past_end;
    for (const char* scan = at.next; scan < end; scan = window.start + 64) {
        const bool first = scan == at.next;
        if (!window.holds(scan)) window = {scan, classify(scan)};
        const WindowBytes& bytes = window.bytes;
        const unsigned from = static_cast<unsigned>(scan - window.start);
        const std::size_t left = static_cast<std::size_t>(end - window.start);
        const std::uint64_t at_hand = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        const std::uint64_t ahead = (~std::uint64_t{0} << from) & at_hand;
        // `at.next` begins a token or white space; a later window's first
        // byte begins a token when the byte before it is white space.
        const std::uint64_t boundary = first ? std::uint64_t{1} << from : std::uint64_t{is_cif_blank(scan[-1])};
        const std::uint64_t token_starts = ((bytes.blank << 1) | boundary) & ~bytes.blank & ahead;
        // Reserved words have their '_' 4 bytes (global_: 6) after their start.
        const std::uint64_t reserved = bytes.underscore & ((token_starts << 4) | (token_starts << 6) |
                                                           (starts_before >> 60) | (starts_before >> 58));
        // A ';' at a line start opens a text field; `at.next`'s own is the caller's.
        const std::uint64_t line_starts = bytes.line_feed << 1 | (first ? 0 : std::uint64_t{scan[-1] == '\n'});
        std::uint64_t stops = ((bytes.quote_or_hash & token_starts) | (bytes.semicolon & line_starts) | reserved) & ahead;
        // Of the names before the first stop, the first that may be of _atom_site.
        std::uint64_t names = bytes.underscore & token_starts & (stops == 0 ? ~std::uint64_t{0} : lowest_bit(stops) - 1);
        for (; names != 0; names &= names - 1) {
            if (may_name_atom_site(window.start + std::countr_zero(names))) {
                stops |= lowest_bit(names);
                break;
            }
        }
        const std::uint64_t before_stop = stops == 0 ? ~std::uint64_t{0} : lowest_bit(stops) - 1;
        if (const std::uint64_t passed = bytes.line_feed & ahead & before_stop; passed != 0)
            passed_to = window.start + 64 - std::countl_zero(passed);
        if (stops != 0) {
            outcome = Lines::stop;
            break;
        }
        starts_before = token_starts;
    }
    if (passed_to == nullptr) return outcome;
    at = {passed_to, true};
    return Lines::passed;
}

// From a ';' at a line start, past the ';' that begins a later line.
bool pass_text_field(CifSkipPosition& at, const char* end) {
    for (const char* p = at.next + 1;;) {
        const char* line_feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (line_feed == nullptr || line_feed + 1 == end) return false;
        if (line_feed[1] == ';') {
            at = {line_feed + 2, false};
            return true;
        }
        p = line_feed + 1;
    }
}

// Only a quote followed by white space closes, on this line or a later one.
const char* closing_quote(const char* p, const char* end, char quote) {
    for (;;) {
        const char* found = static_cast<const char*>(std::memchr(p, quote, static_cast<std::size_t>(end - p)));
        if (found == nullptr || found + 1 == end) return nullptr;
        if (is_cif_blank(found[1])) return found;
        p = found + 1;
    }
}

// What may matter of a bare token: a name of the _atom_site category (any
// other category's is passed over, as classify_data_name judges it), and
// every reserved word, which has its '_' at its 5th byte, or at the 7th of 7.
bool may_matter(const char* token, std::size_t length) {
    if (token[0] == '_') return names_atom_site_category({token, length});
    const bool underscore = (length >= 5 && token[4] == '_') || (length == 7 && token[6] == '_');
    return underscore && bare_token_kind({token, length}) != CifTokenKind::value;
}

// Past blanks, tabs and carriage returns, up to a token or a line feed, or
// `end`; 16 bytes at a time where SSE2 is, those past `end` never used.
const char* past_blanks(const char* p, const char* end) {
#if defined(__SSE2__)
    for (; p < end; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const auto is = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
        const __m128i blank = _mm_or_si128(_mm_or_si128(is(' '), is('\t')), is('\r'));
        const unsigned others = static_cast<unsigned>(_mm_movemask_epi8(blank)) ^ 0xffffu;
        if (others != 0) return std::min(p + std::countr_zero(others), end);
    }
    return end;
#else
    while (p != end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    return p;
#endif
}

void move_to(CifSkipPosition& at, const char* p) {
    if (p != at.next) at = {p, p[-1] == '\n'};
}

enum class Walk : unsigned char { line_passed, token, needs_bytes };

// Cuts the line at `at.next` into tokens as the tokenizer would: past its
// line feed, or up to a token that may matter, or as far as the bytes at
// hand let a token be known whole. A quoted value may run on over lines.
Walk walk_line(CifSkipPosition& at, const char* end) {
    const char* p = at.next;
    for (;;) {
        p = past_blanks(p, end);
        if (p == end) break;
        const char c = *p;
        if (c == '\n' || c == '#') {
            const void* line_feed = c == '\n' ? p : std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (line_feed == nullptr) break;
            at = {static_cast<const char*>(line_feed) + 1, true};
            return Walk::line_passed;
        }
        if (c == '\'' || c == '"') {
            const char* close = closing_quote(p + 1, end, c);
            if (close == nullptr) break;
            p = close + 1;
            continue;
        }
        const char* stop = first_cif_blank(p, end);
        if (stop == end) break;
        if (may_matter(p, static_cast<std::size_t>(stop - p))) {
            move_to(at, p);
            return Walk::token;
        }
        p = stop;
    }
    move_to(at, p);
    return Walk::needs_bytes;
}

// The skipping built for one classification, inlined into each build.
template <Classifier classify>
[[gnu::always_inline]] inline CifSkip skip_values_with(CifSkipPosition& at, const char* end) {
    Window window;
    for (;;) {
        if (at.next == end) return CifSkip::needs_bytes;
        if (at.at_line_start && *at.next == ';') {
            if (!pass_text_field(at, end)) return CifSkip::needs_bytes;
            continue;
        }
        switch (pass_value_lines<classify>(at, end, window)) {
            case Lines::passed: continue;
            case Lines::past_end: return CifSkip::needs_bytes;
            case Lines::stop: break;
        }
        switch (walk_line(at, end)) {
            case Walk::line_passed: continue;
            case Walk::token: return CifSkip::token;
            case Walk::needs_bytes: return CifSkip::needs_bytes;
        }
    }
}

// Passes over data names and white space, up to the first token that is
// no name, or as far as the bytes at hand let the names be known whole.
template <Classifier classify>
[[gnu::always_inline]] inline CifSkip skip_names_with(CifSkipPosition& at, const char* end) {
    const char* passed_to = nullptr;  // just past the last line feed passed
    for (const char* scan = at.next; scan < end; scan += 64) {
        const WindowBytes bytes = classify(scan);
        const std::size_t left = static_cast<std::size_t>(end - scan);
        const std::uint64_t at_hand = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        const std::uint64_t boundary = scan == at.next ? 1 : std::uint64_t{is_cif_blank(scan[-1])};
        const std::uint64_t token_starts = ((bytes.blank << 1) | boundary) & ~bytes.blank & at_hand;
        if (const std::uint64_t others = token_starts & ~bytes.underscore; others != 0) {
            const char* token = scan + std::countr_zero(others);
            if (token != at.next) at = {token, token[-1] == '\n'};
            return CifSkip::token;
        }
        if (const std::uint64_t line_feeds = bytes.line_feed & at_hand; line_feeds != 0)
            passed_to = scan + 64 - std::countl_zero(line_feeds);
    }
    if (passed_to != nullptr) at = {passed_to, true};
    return CifSkip::needs_bytes;
}

#if defined(__x86_64__)
CifSkip skip_names_sse2(CifSkipPosition& at, const char* end) { return skip_names_with<classify_sse2>(at, end); }

[[gnu::target("avx2")]] CifSkip skip_names_avx2(CifSkipPosition& at, const char* end) {
    return skip_names_with<classify_avx2>(at, end);
}

CifSkip skip_values_sse2(CifSkipPosition& at, const char* end) { return skip_values_with<classify_sse2>(at, end); }

[[gnu::target("avx2")]] CifSkip skip_values_avx2(CifSkipPosition& at, const char* end) {
    return skip_values_with<classify_avx2>(at, end);
}
#endif

}  // namespace

CifSkip skip_cif_values(CifSkipPosition& at, const char* end, Kernel kernel) {
#if defined(__x86_64__)
    return kernel == Kernel::portable ? skip_values_sse2(at, end) : skip_values_avx2(at, end);
#else
    (void)kernel;
    return skip_values_with<classify_portable>(at, end);
#endif
}

CifSkip skip_cif_names(CifSkipPosition& at, const char* end, Kernel kernel) {
#if defined(__x86_64__)
    return kernel == Kernel::portable ? skip_names_sse2(at, end) : skip_names_avx2(at, end);
#else
    (void)kernel;
    return skip_names_with<classify_portable>(at, end);
#endif
}

}  // namespace record_scan
