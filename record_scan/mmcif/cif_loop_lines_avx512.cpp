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

#include "fixed_point_avx2.hpp"
#include "mmcif/cif_loop_lines.hpp"
#include "mmcif/cif_loop_lines_shared.hpp"

namespace record_scan {
namespace {
namespace avx512 {

using namespace loop_lines;

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

LOOP_LINES_FUNCTION std::uint64_t pass_starts(std::uint64_t starts, std::size_t skip, std::size_t& passed) {
    std::size_t count = static_cast<std::size_t>(_mm_popcnt_u64(starts));
    if (count <= skip) {
        passed = count;
        return 0;
    }
    passed = skip;
    std::uint64_t kept_first = _pdep_u64(std::uint64_t{1} << skip, starts);
    return starts & ~(kept_first - 1);
}

LOOP_LINES_FUNCTION unsigned count_bits(std::uint64_t bits) {
    return static_cast<unsigned>(_mm_popcnt_u64(bits));
}

LOOP_LINES_FUNCTION unsigned select_bit(std::uint64_t bits, unsigned k) {
    return static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << (k & 63), bits)));
}

// The line reading's coordinates: the three fields at once when all are
// short bare words, else each as the portable build reads it.
LOOP_LINES_FUNCTION unsigned read_coordinates(const CifValue (&values)[3], float (&xyz)[3]) {
    unsigned numbers = 0;
    for (unsigned axis = 0; axis < 3; ++axis) numbers |= unsigned{read_coordinate(values[axis], xyz[axis])} << axis;
    return numbers;
}

#include "mmcif/cif_loop_lines_body.inc"

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
struct RowPicks {
    __m512i column;     // byte 8f+j: the column of field f
    __m512i offset;     // byte 8f+j: its place relative to the field's anchor
    std::uint64_t from_start;  // the bytes whose anchor is the value's start, not its end
    std::uint64_t blank;       // the bytes that are always blank
    std::size_t names;
    bool group_present;
    bool usable;  // no column past the 64 tokens 128 bytes can hold
};

LOOP_LINES_FUNCTION RowPicks picks_of(const AtomSiteColumns& columns) {
    RowPicks picks{};
    picks.names = columns.names;
    picks.group_present = columns.group != AtomSiteColumns::absent;
    picks.usable = columns.names <= 64;
    alignas(64) unsigned char column[64] = {};
    alignas(64) signed char offset[64] = {};
    for (unsigned field = 0; field < 3; ++field) {
        picks.usable &= columns.cartn[field] < columns.names;
        for (unsigned j = 0; j < 8; ++j) {
            column[8 * field + j] = static_cast<unsigned char>(columns.cartn[field] & 63);
            offset[8 * field + j] = static_cast<signed char>(j) - 7;
        }
    }
    for (unsigned j = 0; j < 8; ++j) {
        column[8 * group_field + j] = static_cast<unsigned char>(picks.group_present ? columns.group & 63 : 0);
        offset[8 * group_field + j] = static_cast<signed char>(j);
    }
    picks.column = _mm512_load_si512(column);
    picks.offset = _mm512_load_si512(offset);
    picks.from_start = std::uint64_t{0xff} << (8 * group_field);
    picks.blank = ~(std::uint64_t{0xffffff} | picks.from_start);
    return picks;
}

// Of the offsets packed in `low` (bits 0-63 of a line, `low_count` of them)
// and `high` (bits 64-127), the one of each byte's column.
LOOP_LINES_FUNCTION __m512i offsets_of_columns(__m512i low, __m512i high, unsigned low_count, __m512i column) {
    // A column past the low word's count is looked up in `high` (index 64 on).
    const __mmask64 in_high = _mm512_cmpge_epu8_mask(column, _mm512_set1_epi8(static_cast<char>(low_count)));
    const __m512i index =
        _mm512_mask_add_epi8(column, in_high, column, _mm512_set1_epi8(static_cast<char>(64 - low_count)));
    return _mm512_permutex2var_epi8(low, index, high);
}

// The bytes of a line, offsets 0-63 and 64-127.
struct LineBytes {
    __m512i low;
    __m512i high;
};

// Constants of the row reading, loaded once a call.
struct RowConstants {
    LOOP_LINES_FUNCTION RowConstants()
        : blanks(table_of(blank_table)),
          specials(table_of(special_table)),
          low_offsets(_mm512_set_epi64(0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928,
                                       0x2726252423222120, 0x1f1e1d1c1b1a1918, 0x1716151413121110,
                                       0x0f0e0d0c0b0a0908, 0x0706050403020100)),
          high_offsets(_mm512_add_epi8(low_offsets, _mm512_set1_epi8(64))),
          seven(_mm512_set1_epi8(7)),
          blank_bytes(_mm512_set1_epi8(' ')) {}

    __m512i blanks;
    __m512i specials;
    __m512i low_offsets;  // byte i is i
    __m512i high_offsets;
    __m512i seven;
    __m512i blank_bytes;
};

// The common row: a line of 64 to 128 bytes holding one whole row of bare
// words with no special byte, not beginning with ';', its coordinates
// "%8.3f"-shaped. Returns the byte after its line feed with the row's
// outcome given, or null, with nothing given, for any other line.
LOOP_LINES_FUNCTION const char* read_common_row(const char* line, const char* end, const RowPicks& picks,
                                                const RowConstants& k, OutcomeQueue& out) {
    const LineBytes bytes{_mm512_loadu_si512(line), _mm512_loadu_si512(line + 64)};
    // The line feed past the first 64 bytes and before the end of the bytes at hand.
    const auto high_line_feed = static_cast<unsigned>(_tzcnt_u64(bytes_equal(bytes.high, '\n')));
    if ((bytes_equal(bytes.low, '\n') != 0) | (static_cast<std::ptrdiff_t>(high_line_feed) + 64 >= end - line) |
        (*line == ';'))
        return nullptr;
    const std::uint64_t in_line = _bzhi_u64(~std::uint64_t{0}, high_line_feed);  // of the high bytes
    if ((in_class(bytes.low, k.specials) | (in_class(bytes.high, k.specials) & in_line)) != 0) return nullptr;
    const std::uint64_t blank[2] = {in_class(bytes.low, k.blanks), in_class(bytes.high, k.blanks)};
    const std::uint64_t starts[2] = {~blank[0] & ((blank[0] << 1) | 1),
                                     ~blank[1] & ((blank[1] << 1) | (blank[0] >> 63)) & in_line};
    // The line feed is white space: the last value ends before it.
    const std::uint64_t ends[2] = {~blank[0] & ((blank[0] >> 1) | (blank[1] << 63)),
                                   ~blank[1] & (blank[1] >> 1) & in_line};
    const unsigned low_starts = count_bits(starts[0]);
    if (low_starts + count_bits(starts[1]) != picks.names) return nullptr;

    // Each field's first and last byte offsets in the line, in every byte of the field.
    const __m512i first = offsets_of_columns(_mm512_maskz_compress_epi8(starts[0], k.low_offsets),
                                             _mm512_maskz_compress_epi8(starts[1], k.high_offsets), low_starts,
                                             picks.column);
    const __m512i last = offsets_of_columns(_mm512_maskz_compress_epi8(ends[0], k.low_offsets),
                                            _mm512_maskz_compress_epi8(ends[1], k.high_offsets),
                                            count_bits(ends[0]), picks.column);
    // A coordinate longer than a field is read by the line reading.
    const __m512i length_less_one = _mm512_sub_epi8(last, first);
    if ((_mm512_cmpgt_epu8_mask(length_less_one, k.seven) & 0xffffff) != 0) return nullptr;
    const __m512i place = _mm512_add_epi8(_mm512_mask_mov_epi8(last, picks.from_start, first), picks.offset);
    // Bytes outside the value (before its start, after its end) become blanks.
    const __mmask64 outside = _mm512_cmpgt_epu8_mask(_mm512_sub_epi8(place, first), length_less_one) | picks.blank;
    const __m512i fields =
        _mm512_mask_mov_epi8(_mm512_permutex2var_epi8(bytes.low, place, bytes.high), outside, k.blank_bytes);

    AtomXyz atom;
    if (!fixed_point_avx2::read_three_fields(_mm512_castsi512_si256(fields), atom)) return nullptr;
    const auto group = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_extracti32x4_epi32(fields, 2)));
    // One row in ten or so is no ATOM: a branch on it would often be mispredicted.
    out.push_record_if(!picks.group_present | (group == word_of("ATOM    ")) | (group == word_of("HETATM  ")),
                       atom);
    return line + 64 + high_line_feed + 1;
}

// Common rows one after another while the queue has room; the first other
// line goes to read_row_line.
struct FastRows {
    RowPicks picks;

    LOOP_LINES_FUNCTION bool operator()(LoopLinePosition& at, const char* end, AtomSiteLoop& rows,
                                        OutcomeQueue& out) const {
        if (!picks.usable) return read_row_line(at, end, rows, out);
        const RowConstants k;
        const char* line = at.next;
        const char* next;
        while (!out.full() && (next = read_common_row(line, end, picks, k, out)) != nullptr) line = next;
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
