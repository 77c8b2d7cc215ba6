// The fast loop-line reading built for AVX2, BMI2 and POPCNT: a 64-byte
// window classified with two 32-byte loads, and the values before a wanted
// column passed over with one population count and one bit deposit.
// Compiled for those instructions function by function (the target
// attribute), so the rest of the program runs on any x86-64; chosen only
// where loop_lines_reader() found them.
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "fixed_point_avx2.hpp"
#include "mmcif/loop_lines/cif_loop_lines.hpp"
#include "mmcif/loop_lines/cif_loop_lines_bmi2.hpp"
#include "mmcif/loop_lines/cif_loop_lines_shared.hpp"

namespace record_scan {
namespace {
namespace avx2 {

using namespace loop_lines;
using namespace loop_lines::bmi2;

#define LOOP_LINES_FUNCTION [[gnu::target("avx2,bmi,bmi2,popcnt")]] inline

LOOP_LINES_FUNCTION std::uint64_t bytes_of(__m256i low_half_matches, __m256i high_half_matches) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low_half_matches)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high_half_matches))} << 32;
}

// The bytes of a class whose members all differ in their low four bits,
// in one table look-up (by_low_bits).
LOOP_LINES_FUNCTION __m256i in_class(__m256i bytes, __m256i members_by_low_bits) {
    return _mm256_cmpeq_epi8(bytes, _mm256_shuffle_epi8(members_by_low_bits, bytes));
}

LOOP_LINES_FUNCTION __m256i table_of(const std::array<char, 16>& t) {
    return _mm256_setr_epi8(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], t[12], t[13],
                            t[14], t[15], t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11],
                            t[12], t[13], t[14], t[15]);
}

LOOP_LINES_FUNCTION CifByteMasks classify(const char* window) {
    __m256i halves[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(window)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32))};
    // White space and the special bytes each differ in their low four bits.
    const __m256i blanks = table_of(blank_table);
    const __m256i specials = table_of(special_table);
    __m256i blank[2], special[2], quote[2], under[2], line_feed[2];
    for (int i = 0; i < 2; ++i) {
        __m256i v = halves[i];
        line_feed[i] = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'));
        blank[i] = in_class(v, blanks);
        under[i] = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('_'));
        quote[i] = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\'')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')));
        special[i] = in_class(v, specials);
    }
    return {bytes_of(blank[0], blank[1]), bytes_of(special[0], special[1]), bytes_of(quote[0], quote[1]),
            bytes_of(under[0], under[1]), bytes_of(line_feed[0], line_feed[1])};
}

// Three classes only: a row's line needs no more unless it holds a special byte.
LOOP_LINES_FUNCTION CifLineMasks classify_line(const char* window) {
    const __m256i halves[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(window)),
                               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32))};
    const __m256i blanks = table_of(blank_table);
    const __m256i specials = table_of(special_table);
    const __m256i line_feed = _mm256_set1_epi8('\n');
    return {bytes_of(in_class(halves[0], blanks), in_class(halves[1], blanks)),
            bytes_of(in_class(halves[0], specials), in_class(halves[1], specials)),
            bytes_of(_mm256_cmpeq_epi8(halves[0], line_feed), _mm256_cmpeq_epi8(halves[1], line_feed))};
}

// Nearly every coordinate is a bare word written "%8.3f", the blanks
// before it left out: each is moved to the end of an 8-byte field, blanks
// put before it, and the three are judged and read at once. Any other
// value, or a longer one, is read on its own as the portable build reads it.
// Inlined into the row reading: called for every row, it would otherwise
// make its constants at each call.
[[gnu::always_inline]] LOOP_LINES_FUNCTION unsigned read_coordinates(const CifValue (&values)[3], float (&xyz)[3]) {
    constexpr std::uint64_t blanks = 0x2020202020202020u;
    std::uint64_t fields[3];
    bool short_bare = true;
    for (unsigned axis = 0; axis < 3; ++axis) {
        const CifValue& value = values[axis];
        short_bare &= (value.quoting == CifQuoting::bare) & (value.length - 1 < 8);
        std::uint64_t word;
        std::memcpy(&word, value.data, sizeof word);
        // Bytes to put before the value; any count will do when it is too long.
        const unsigned lead_bits = 8 * ((8 - static_cast<unsigned>(value.length)) & 7);
        fields[axis] = (word << lead_bits) | (blanks & ((std::uint64_t{1} << lead_bits) - 1));
    }
    // Byte 24, after Z, is a blank: the word ended there.
    const __m256i text = _mm256_set_epi64x(static_cast<long long>(blanks), static_cast<long long>(fields[2]),
                                           static_cast<long long>(fields[1]), static_cast<long long>(fields[0]));
    AtomXyz atom;
    if (fixed_point_avx2::read_three_fields(text, atom) & short_bare) [[likely]] {
        xyz[0] = atom.x;
        xyz[1] = atom.y;
        xyz[2] = atom.z;
        return 7;
    }
    unsigned numbers = 0;
    for (unsigned axis = 0; axis < 3; ++axis) numbers |= unsigned{read_coordinate(values[axis], xyz[axis])} << axis;
    return numbers;
}

#include "mmcif/loop_lines/cif_loop_lines_body.inc"

// Blanks and stop bytes of a row's 128 bytes, for the reading by layout.
LOOP_LINES_FUNCTION RowClasses classify_row(const char* line) {
    const __m256i blanks = table_of(blank_table);
    const __m256i stops = table_of(row_stop_table);
    RowClasses classes;
    for (int word = 0; word < 2; ++word) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 64 * word));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 64 * word + 32));
        classes.blank[word] = bytes_of(in_class(low, blanks), in_class(high, blanks));
        classes.stop[word] = bytes_of(in_class(low, stops), in_class(high, stops));
    }
    return classes;
}

#include "mmcif/loop_lines/cif_row_layout.inc"

LOOP_LINES_FUNCTION LoopLines read_layout_lines(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                                OutcomeQueue& out) {
    return read_lines_with(at, end, rows, out, LayoutRows{});
}
#undef LOOP_LINES_FUNCTION

}  // namespace avx2
}  // namespace

[[gnu::target("avx2,bmi,bmi2,popcnt")]] LoopLines read_loop_lines_avx2(LoopLinePosition& at, const char* end,
                                                                         AtomSiteLoop* rows, OutcomeQueue& out) {
    return avx2::read_layout_lines(at, end, rows, out);
}

[[gnu::target("avx2,bmi,bmi2,popcnt")]] CifByteMasks classify_cif_bytes_avx2(const char* window) {
    return avx2::classify(window);
}

}  // namespace record_scan

#endif
