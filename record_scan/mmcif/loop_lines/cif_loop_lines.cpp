#include "mmcif/loop_lines/cif_loop_lines.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "mmcif/loop_lines/cif_loop_lines_shared.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace record_scan {

CifByteMasks classify_cif_bytes_portable(const char* window) {
    CifByteMasks masks{0, 0, 0, 0, 0};
    for (unsigned i = 0; i < 64; ++i) {
        std::uint64_t bit = std::uint64_t{1} << i;
        char c = window[i];
        if (is_cif_blank(c)) masks.blank |= bit;
        if (c == '\'' || c == '"') masks.quote |= bit;
        if (c == '\'' || c == '"' || c == '#' || c == '_') masks.special |= bit;
        if (c == '_') masks.underscore |= bit;
        if (c == '\n') masks.line_feed |= bit;
    }
    return masks;
}

namespace {
namespace portable {

using namespace loop_lines;

#if defined(__SSE2__)
// Four 16-byte loads, each compared with every byte that matters.
CifByteMasks classify(const char* window) {
    CifByteMasks masks{0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * i));
        __m128i line_feed = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
        __m128i blank = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
            _mm_or_si128(line_feed, _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
        __m128i under = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
        __m128i quote = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\'')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        __m128i special = _mm_or_si128(_mm_or_si128(quote, _mm_cmpeq_epi8(v, _mm_set1_epi8('#'))), under);
        auto bits = [i](__m128i matches) {
            return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(matches))} << (16 * i);
        };
        masks.blank |= bits(blank);
        masks.special |= bits(special);
        masks.quote |= bits(quote);
        masks.underscore |= bits(under);
        masks.line_feed |= bits(line_feed);
    }
    return masks;
}
#else
CifByteMasks classify(const char* window) { return classify_cif_bytes_portable(window); }
#endif

CifLineMasks classify_line(const char* window) {
    const CifByteMasks masks = classify(window);
    return {masks.blank, masks.special, masks.line_feed};
}

// Without a population count instruction, one bit at a time.
std::uint64_t pass_starts(std::uint64_t starts, std::size_t skip, std::size_t& passed) {
    for (; passed < skip && starts != 0; ++passed) starts &= starts - 1;
    return starts;
}

unsigned count_bits(std::uint64_t bits) { return static_cast<unsigned>(std::popcount(bits)); }

// The offset of set bit `k` (from 0) of `bits`; 64 when there are fewer.
unsigned select_bit(std::uint64_t bits, unsigned k) {
    for (; k != 0 && bits != 0; --k) bits &= bits - 1;
    return bits == 0 ? 64 : static_cast<unsigned>(std::countr_zero(bits));
}

unsigned read_coordinates(const CifValue (&values)[3], float (&xyz)[3]) {
    unsigned numbers = 0;
    for (unsigned axis = 0; axis < 3; ++axis) numbers |= unsigned{read_coordinate(values[axis], xyz[axis])} << axis;
    return numbers;
}

#define LOOP_LINES_FUNCTION inline
#include "mmcif/loop_lines/cif_loop_lines_body.inc"
#undef LOOP_LINES_FUNCTION

}  // namespace portable
}  // namespace

LoopLines read_loop_lines_portable(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                   OutcomeQueue& out) {
    return portable::read_lines(at, end, rows, out);
}

CifByteMasks classify_cif_bytes(const char* window) { return portable::classify(window); }

LoopLinesReader loop_lines_reader(Kernel kernel) {
#if defined(__x86_64__)
    for (Kernel available : available_kernels()) {
        if (available != kernel) continue;
        if (kernel == Kernel::avx2) return read_loop_lines_avx2;
        if (kernel == Kernel::avx512) return read_loop_lines_avx512;
    }
#endif
    return read_loop_lines_portable;
}

}  // namespace record_scan
