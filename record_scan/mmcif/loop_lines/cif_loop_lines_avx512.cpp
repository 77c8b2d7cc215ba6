// The fast loop-line reading built for AVX-512 (F, BW, VL, VBMI, VBMI2)
// with BMI2 and POPCNT. A row's 128 bytes are classified straight into
// mask registers, and its columns are picked without a branch or a bit
// select per column: the offsets of the token starts and ends are packed
// into byte vectors (compress), the wanted columns' offsets looked up by
// column number (permute), and the coordinates' bytes gathered into the
// 8-byte fields the AVX2 fixed-point reading takes (a second permute).
// Whatever that common case does not cover goes to the same line reading
// as the other builds. Compiled for those instructions function by
// function, chosen only where loop_lines_reader() found them.
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "mmcif/loop_lines/cif_loop_lines.hpp"
#include "mmcif/loop_lines/cif_loop_lines_bmi2.hpp"
#include "mmcif/loop_lines/cif_loop_lines_shared.hpp"

namespace record_scan {
namespace {
namespace avx512 {

using namespace loop_lines;
using namespace loop_lines::bmi2;

#define LOOP_LINES_FUNCTION \
    [[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt")]] inline

LOOP_LINES_FUNCTION __m512i table_of(const std::array<char, 16>& table) {
    return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data())));
}

// The bytes of a by_low_bits class, as a mask.
LOOP_LINES_FUNCTION std::uint64_t in_class(__m512i bytes, __m512i members_by_low_bits) {
    return _mm512_cmpeq_epi8_mask(bytes, _mm512_shuffle_epi8(members_by_low_bits, bytes));
}

LOOP_LINES_FUNCTION std::uint64_t bytes_equal(__m512i bytes, char c) {
    return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(c));
}

LOOP_LINES_FUNCTION CifByteMasks classify(const char* window) {
    const __m512i v = _mm512_loadu_si512(window);
    return {in_class(v, table_of(blank_table)), in_class(v, table_of(special_table)),
            bytes_equal(v, '\'') | bytes_equal(v, '"'), bytes_equal(v, '_'), bytes_equal(v, '\n')};
}

LOOP_LINES_FUNCTION CifLineMasks classify_line(const char* window) {
    const __m512i v = _mm512_loadu_si512(window);
    return {in_class(v, table_of(blank_table)), in_class(v, table_of(special_table)), bytes_equal(v, '\n')};
}

// The line reading's coordinates: the three fields at once when all are
// short bare words, else each as the portable build reads it.
LOOP_LINES_FUNCTION unsigned read_coordinates(const CifValue (&values)[3], float (&xyz)[3]) {
    unsigned numbers = 0;
    for (unsigned axis = 0; axis < 3; ++axis) numbers |= unsigned{read_coordinate(values[axis], xyz[axis])} << axis;
    return numbers;
}

#include "mmcif/loop_lines/cif_loop_lines_body.inc"

// The bytes of the vector the fast row reading gathers: fields 0-2 hold X,
// Y and Z, each ending at byte 7 of its field with blanks before it (the
// "%8.3f" shape read_three_fields judges); field 3 is the blank after Z;
// field 4 holds the first 8 bytes of the group value, blanks after it.
constexpr unsigned group_field = 4;

// Eight bytes as one little-endian word.
constexpr std::uint64_t word_of(const char (&text)[9]) {
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(text[i]);
    return word;
}

// What the fast row reading needs of a loop's columns, made once a call.
// A line's value boundaries, in order: the start of value 0, the byte
// after its end, the start of value 1, ... (one vector holds those of up
// to 32 values).
struct RowPicks {
    __m512i start_index;  // byte 8f+j: the boundary where the value of field f starts
    __m512i end_index;    // byte 8f+j: the boundary after its end
    __m512i offset;       // byte 8f+j: its place relative to the field's anchor
    std::uint64_t from_start;  // the bytes whose anchor is the value's start, not the byte after its end
    std::uint64_t blank;       // the bytes that are always blank
    std::size_t boundaries;    // of a whole row
    bool group_present;
    bool usable;
};

LOOP_LINES_FUNCTION RowPicks picks_of(const AtomSiteColumns& columns) {
    RowPicks picks{};
    picks.boundaries = 2 * columns.names;
    picks.group_present = columns.group != AtomSiteColumns::absent;
    picks.usable = columns.names <= 32;
    alignas(64) unsigned char start_index[64] = {};
    alignas(64) signed char offset[64] = {};
    for (unsigned field = 0; field < 3; ++field) {
        picks.usable &= columns.cartn[field] < columns.names;
        for (unsigned j = 0; j < 8; ++j) {
            start_index[8 * field + j] = static_cast<unsigned char>(2 * (columns.cartn[field] & 31));
            offset[8 * field + j] = static_cast<signed char>(j) - 8;
        }
    }
    for (unsigned j = 0; j < 8; ++j) {
        start_index[8 * group_field + j] = static_cast<unsigned char>(picks.group_present ? 2 * (columns.group & 31) : 0);
        offset[8 * group_field + j] = static_cast<signed char>(j);
    }
    picks.start_index = _mm512_load_si512(start_index);
    picks.end_index = _mm512_add_epi8(picks.start_index, _mm512_set1_epi8(1));
    picks.offset = _mm512_load_si512(offset);
    picks.from_start = std::uint64_t{0xff} << (8 * group_field);
    picks.blank = ~(std::uint64_t{0xffffff} | picks.from_start);
    return picks;
}

// The line feed's low bits differ from those of the special bytes too.
constexpr std::array<char, 16> special_or_line_feed_table = by_low_bits({'\'', '"', '#', '_', '\n'});

// The bytes of a line, offsets 0-63 and 64-127.
struct LineBytes {
    __m512i low;
    __m512i high;
};

// Constants of the row reading, loaded once a call.
struct RowConstants {
    LOOP_LINES_FUNCTION RowConstants()
        : blanks(table_of(blank_table)),
          specials_or_line_feed(table_of(special_or_line_feed_table)),
          low_offsets(_mm512_set_epi64(0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928,
                                       0x2726252423222120, 0x1f1e1d1c1b1a1918, 0x1716151413121110,
                                       0x0f0e0d0c0b0a0908, 0x0706050403020100)),
          high_offsets(_mm512_add_epi8(low_offsets, _mm512_set1_epi8(64))),
          eight(_mm512_set1_epi8(8)),
          blank_bytes(_mm512_set1_epi8(' ')) {}

    __m512i blanks;
    __m512i specials_or_line_feed;
    __m512i low_offsets;  // byte i is i
    __m512i high_offsets;
    __m512i eight;
    __m512i blank_bytes;
};

// A common row gathered: its coordinates as fields (bytes 0-23) and the
// blank after Z (24-31), and whether it counts.
struct GatheredRow {
    __m256i fields;
    bool counts;
};

// The common row: a line of 64 to 128 bytes holding one whole row of bare
// words with no special byte, not beginning with ';', no coordinate longer
// than 8 bytes. Returns the byte after its line feed, or null for any
// other line.
LOOP_LINES_FUNCTION const char* gather_row(const char* line, const char* end, const RowPicks& picks,
                                           const RowConstants& k, GatheredRow& row) {
    const LineBytes bytes{_mm512_loadu_si512(line), _mm512_loadu_si512(line + 64)};
    // A line feed in the second 64 bytes (64: none), before the end of the bytes at hand.
    const auto high_line_feed = static_cast<unsigned>(_tzcnt_u64(bytes_equal(bytes.high, '\n')));
    if ((high_line_feed == 64) | (static_cast<std::ptrdiff_t>(high_line_feed) + 64 >= end - line) | (*line == ';'))
        return nullptr;
    // No special byte in the line, nor a line feed in its first 64 bytes.
    if ((in_class(bytes.low, k.specials_or_line_feed) |
         _bzhi_u64(in_class(bytes.high, k.specials_or_line_feed), high_line_feed)) != 0)
        return nullptr;
    // The line feed is white space and ends the last value.
    const std::uint64_t value_bytes[2] = {~in_class(bytes.low, k.blanks), ~in_class(bytes.high, k.blanks)};
    const std::uint64_t boundaries[2] = {
        value_bytes[0] ^ (value_bytes[0] << 1),
        (value_bytes[1] ^ ((value_bytes[1] << 1) | (value_bytes[0] >> 63))) & _bzhi_u64(~std::uint64_t{0}, high_line_feed + 1)};
    if (count_bits(boundaries[0]) + count_bits(boundaries[1]) != picks.boundaries) return nullptr;

    // The boundaries' offsets in the line, in order: those of the second
    // 64 bytes spread after those of the first.
    const __m512i all = _mm512_mask_expand_epi8(_mm512_maskz_compress_epi8(boundaries[0], k.low_offsets),
                                                ~_bzhi_u64(~std::uint64_t{0}, count_bits(boundaries[0])),
                                                _mm512_maskz_compress_epi8(boundaries[1], k.high_offsets));
    // Each field's first byte and the byte after it, in every byte of the field.
    const __m512i first = _mm512_permutexvar_epi8(picks.start_index, all);
    const __m512i length = _mm512_sub_epi8(_mm512_permutexvar_epi8(picks.end_index, all), first);
    // A coordinate longer than a field is read by the line reading.
    if ((_mm512_cmpgt_epu8_mask(length, k.eight) & 0xffffff) != 0) return nullptr;
    const __m512i place =
        _mm512_add_epi8(_mm512_mask_mov_epi8(_mm512_add_epi8(first, length), picks.from_start, first), picks.offset);
    // Bytes outside the value (before its start, from its end on) become blanks.
    const __mmask64 outside = _mm512_cmpge_epu8_mask(_mm512_sub_epi8(place, first), length) | picks.blank;
    const __m512i fields =
        _mm512_mask_mov_epi8(_mm512_permutex2var_epi8(bytes.low, place, bytes.high), outside, k.blank_bytes);

    row.fields = _mm512_castsi512_si256(fields);
    const auto group = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_extracti32x4_epi32(fields, 2)));
    // One row in ten or so is no ATOM: a branch on it would often be mispredicted.
    constexpr std::uint64_t atom = word_of("ATOM    "), hetatm = word_of("HETATM  ");
    row.counts = (unsigned{!picks.group_present} | unsigned{group == atom} | unsigned{group == hetatm}) != 0;
    return line + 64 + high_line_feed + 1;
}

// A byte-mask constant for each of the six fields of two rows: bit i of
// `field` for byte i of the field, in bytes 0-7, 8-15, 16-23 and 32-39,
// 40-47, 48-55.
constexpr std::uint64_t in_each_field(std::uint8_t field) { return 0x0001010100010101u * field; }

// The fixed-point reading of fixed_point_avx2 for two rows at once, row A's
// fields in bytes 0-31 and row B's in 32-63, with mask registers. Bit 0 of
// the result: A is "%8.3f"-shaped; bit 1: B is. The outcomes of both, A's
// in dwords 0-3 and B's in 4-7, go to `outcomes`.
LOOP_LINES_FUNCTION unsigned read_two_rows(__m512i text, __m256i& outcomes) {
    const __m512i digit_values = _mm512_sub_epi8(text, _mm512_set1_epi8('0'));
    const std::uint64_t digit = _mm512_cmple_epu8_mask(digit_values, _mm512_set1_epi8(9));
    const std::uint64_t point = bytes_equal(text, '.');
    const std::uint64_t minus = bytes_equal(text, '-');
    const std::uint64_t lead = bytes_equal(text, ' ') | minus;
    const std::uint64_t in_place = (digit & in_each_field(0b1110'1111)) | (lead & in_each_field(0b0000'0111)) |
                                   (point & in_each_field(0b0001'0000));
    const std::uint64_t wants_digit_next = (digit | minus) & in_each_field(0b0000'0111);
    const std::uint64_t after_z = std::uint64_t{1} << 24 | std::uint64_t{1} << 56;
    const std::uint64_t misshapen =
        (in_place ^ in_each_field(0xff)) | ((wants_digit_next << 1) & ~digit) | ((digit | point) & after_z);

    // As fixed_point_avx2 weighs them: X, Y of A land in dwords 0, 1 and
    // its Z in dword 4; B's in 8, 9 and 12. Gathered in the order A's X,
    // Y, Z, then B's.
    const __m512i digits = _mm512_maskz_mov_epi8(digit, digit_values);
    const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(1 << 8 | 10));
    const __m512i halves = _mm512_madd_epi16(pairs, _mm512_set1_epi32(1 << 16 | 100));
    const __m512i thousandths =
        _mm512_madd_epi16(_mm512_packs_epi32(halves, halves), _mm512_set1_epi32(1 << 16 | 1000));
    const __m256i in_order = _mm512_castsi512_si256(
        _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 1, 4, 8, 9, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), thousandths));
    // No division, which would hold up every row: the integer (below 2^24)
    // times 0.001 in double precision is within 2^-52 of the quotient, and
    // a quotient of a multiple of 125 is a float while any other lies more
    // than 2^-35 (relatively) from every midpoint of two floats, so the
    // rounding to single precision gives the correctly rounded quotient.
    const __m256 magnitudes =
        _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_cvtepi32_pd(in_order), _mm512_set1_pd(0.001)));
    // A shaped field holds a minus only in its lead: the fields (64-bit
    // lanes 0-2 for A, 4-6 for B) with one are negative.
    const auto negative_fields = static_cast<std::uint32_t>(
        _mm512_test_epi64_mask(_mm512_movm_epi8(minus), _mm512_movm_epi8(minus)));
    const __m256i values =
        _mm256_mask_or_epi32(_mm256_castps_si256(magnitudes), static_cast<__mmask8>(_pext_u32(negative_fields, 0x77)),
                             _mm256_castps_si256(magnitudes), _mm256_set1_epi32(static_cast<int>(0x80000000u)));
    // Each outcome: its kind, then X, Y, Z.
    outcomes = _mm256_mask_permutexvar_epi32(_mm256_set1_epi32(static_cast<int>(ScanOutcome::record)), 0b1110'1110,
                                             _mm256_setr_epi32(0, 0, 1, 2, 0, 3, 4, 5), values);
    return ((misshapen & 0xffffffff) == 0) | unsigned{(misshapen >> 32) == 0} << 1;
}

// Common rows, two at a time, while the queue has room for two; the
// first other line goes to read_row_line.
struct FastRows {
    RowPicks picks;

    LOOP_LINES_FUNCTION bool operator()(LoopLinePosition& at, const char* end, AtomSiteLoop& rows,
                                        OutcomeQueue& out) const {
        if (!picks.usable) return read_row_line(at, end, rows, out);
        const RowConstants k;
        const char* line = at.next;
        while (out.room() >= 2) {
            GatheredRow a, b;
            const char* after_a = gather_row(line, end, picks, k, a);
            if (after_a == nullptr) break;
            const char* after_b = gather_row(after_a, end, picks, k, b);
            const __m256i b_fields = after_b != nullptr ? b.fields : _mm512_castsi512_si256(k.blank_bytes);
            __m256i outcomes;
            const unsigned shaped = read_two_rows(_mm512_inserti64x4(_mm512_castsi256_si512(a.fields), b_fields, 1),
                                                  outcomes);
            if ((shaped & 1) == 0) break;
            out.put_if(a.counts, _mm256_castsi256_si128(outcomes));
            line = after_a;
            if (after_b == nullptr || (shaped & 2) == 0) break;
            out.put_if(b.counts, _mm256_extracti128_si256(outcomes, 1));
            line = after_b;
        }
        if (line == at.next) return read_row_line(at, end, rows, out);
        at = {line, true, nullptr};
        return true;
    }
};

LOOP_LINES_FUNCTION LoopLines read_fast_lines(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                              OutcomeQueue& out) {
    if (rows == nullptr) return read_lines(at, end, rows, out);
    return read_lines_with(at, end, rows, out, FastRows{picks_of(rows->columns())});
}

#undef LOOP_LINES_FUNCTION

}  // namespace avx512
}  // namespace

[[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt")]] LoopLines
read_loop_lines_avx512(LoopLinePosition& at, const char* end, AtomSiteLoop* rows, OutcomeQueue& out) {
    return avx512::read_fast_lines(at, end, rows, out);
}

[[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt")]] CifByteMasks
classify_cif_bytes_avx512(const char* window) {
    return avx512::classify(window);
}

}  // namespace record_scan

#endif
