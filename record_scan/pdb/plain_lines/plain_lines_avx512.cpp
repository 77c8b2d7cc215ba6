// The AVX-512 kernel (F, BW, VL): the coordinate fields of two lines,
// 32 bytes from column 31 of each, judged and read in one 512-bit vector,
// compared straight into mask registers, over the same runs of lines of one
// length as the AVX2 kernel (line_runs.hpp). Where 512-bit operations take
// two passes of a 256-bit unit, as on some processors, what this saves is
// instructions: masks need no extraction, the shape of both lines is one
// 64-bit judgement, the sign comes with the digits' weights. Compiled for
// those instructions function by function, chosen only where
// available_kernels() found them.
#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <limits>

#define AVX512_FUNCTION \
    [[gnu::target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2,popcnt"), gnu::always_inline]] inline
// The walk over runs is compiled for these instructions too, so that it
// can call the kernel's own functions.
#define LINE_RUNS_FUNCTION AVX512_FUNCTION


#include "pdb/plain_lines/fields_avx2.hpp"
#include "pdb/plain_lines/line_runs.hpp"
#include "pdb/plain_lines/plain_lines.hpp"

namespace record_scan {
namespace {

using namespace line_runs;

// A bit for byte i of each of the three fields of both lines.
constexpr std::uint64_t in_each_field(std::uint8_t field) { return 0x0000'0000'0001'0101ull * field * 0x1'0000'0001ull; }

// Of each line's 32 bytes, 0 to 23 are X, Y and Z, "%8.3f" each, and 24 is
// the byte after Z. Less these bytes, a field's digits are 0 to 9 and its
// point 0; the limits are what each byte may then be (255: anything).
constexpr unsigned char any = 255;
alignas(64) constexpr char field_subtrahends[64] = {
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '.', '0', '0', '0',
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0',
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '.', '0', '0', '0',
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
alignas(64) constexpr unsigned char field_limits[64] = {
    any, any, any, 9, 0, 9, 9, 9, any, any, any, 9, 0, 9, 9, 9,
    any, any, any, 9, 0, 9, 9, 9, any, any, any, any, any, any, any, any,
    any, any, any, 9, 0, 9, 9, 9, any, any, any, 9, 0, 9, 9, 9,
    any, any, any, 9, 0, 9, 9, 9, any, any, any, any, any, any, any, any};
constexpr std::uint64_t lead_bytes = in_each_field(0b0000'0111);   // blanks, a minus or digits
constexpr std::uint64_t after_lead = in_each_field(0b0000'0110);   // whose blank or minus needs a blank before
constexpr std::uint64_t after_z = std::uint64_t{1} << 24 | std::uint64_t{1} << 56;

// By which of the two lines are records (bit 0 the first, bit 1 the
// second): their bytes in the 64-bit judgements, and their X, Y, Z dwords
// (0, 1, 4 of each 256-bit half) among the values.
constexpr std::uint64_t record_bytes[4] = {0, 0x0000'0000'ffff'ffff, 0xffff'ffff'0000'0000, ~std::uint64_t{0}};
constexpr std::uint16_t record_values[4] = {0, 0x0013, 0x1300, 0x1313};

struct Constants {
    __m512i subtrahends, limits, nine, minus, blank, point, lower_case, e, positive, negative, halves, whole;
    // For the lines taken alone, one at a time.
    fields_avx2::Constants one_line;
};

AVX512_FUNCTION Constants make_constants() {
    return {_mm512_load_si512(field_subtrahends), _mm512_load_si512(field_limits),
            _mm512_set1_epi8(9), _mm512_set1_epi8('-'), _mm512_set1_epi8(' '), _mm512_set1_epi8('.'),
            _mm512_set1_epi8(0x20), _mm512_set1_epi8('e'),
            // The weights of a digit pair, x10 and x1, for a positive and a negative field.
            _mm512_set1_epi16(1 << 8 | 10), _mm512_set1_epi16(static_cast<short>(0xff'f6)),
            _mm512_set1_epi32(1 << 16 | 100), _mm512_set1_epi32(1 << 16 | 1000),
            fields_avx2::make_constants()};
}

// Two lines' fields: their signed thousandths (X, Y, Z in dwords 0, 1, 4
// of each half; "-0.000" is 0), which of the six are negative (bits 0-2
// and 4-6, one per 64-bit lane), and a bit for each byte that breaks the
// "%8.3f" shape or lets Z run on.
struct JudgedPair {
    __m512i thousandths;
    __mmask8 negative;
    std::uint64_t misshapen;
};

AVX512_FUNCTION JudgedPair judge_pair(const char* first, const char* second, const Constants& c) {
    const __m512i text = _mm512_inserti64x4(_mm512_castsi256_si512(load(first + 30)), load(second + 30), 1);
    const __m512i less = _mm512_sub_epi8(text, c.subtrahends);
    const std::uint64_t in_place = _mm512_cmple_epu8_mask(less, c.limits);
    const __mmask64 is_digit = _mm512_cmple_epu8_mask(less, c.nine);
    const std::uint64_t digit = is_digit;
    const __mmask64 is_minus = _mm512_cmpeq_epi8_mask(text, c.minus);
    const std::uint64_t blank = _mm512_cmpeq_epi8_mask(text, c.blank);
    // A lead is blanks, then perhaps a minus, then digits: a blank or a
    // minus only after a blank. After Z, a digit, a point or an exponent
    // letter would carry Z on.
    const std::uint64_t lead = blank | is_minus;
    const std::uint64_t runs_on = (digit & after_z) | _mm512_mask_cmpeq_epi8_mask(after_z, text, c.point) |
                                  _mm512_mask_cmpeq_epi8_mask(after_z, _mm512_or_si512(text, c.lower_case), c.e);
    const std::uint64_t misshapen = ~in_place | (lead_bytes & ~(lead | digit)) | (after_lead & lead & ~(blank << 1)) | runs_on;
    // A shaped field holds a minus only in its lead: a 64-bit lane with a
    // minus is a negative field, whose digits then weigh negatively. Each
    // field is its digits times fixed weights: pairs (x10 + x1), halves
    // (x100 + x1) for the integer and the fraction, then integer x1000 +
    // fraction; no step saturates (99, 9999, then 16-bit packing of
    // values up to 9999).
    const __m512i minus_bytes = _mm512_movm_epi8(is_minus);
    const __mmask8 negative = _mm512_test_epi64_mask(minus_bytes, minus_bytes);
    const __m512i weights = _mm512_mask_mov_epi64(c.positive, negative, c.negative);
    const __m512i digits = _mm512_maskz_mov_epi8(is_digit, less);
    const __m512i halves = _mm512_madd_epi16(_mm512_maddubs_epi16(digits, weights), c.halves);
    // Packing works per 128-bit lane: X, Y land in dwords 0, 1 and Z in 4 of each half.
    const __m512i thousandths = _mm512_madd_epi16(_mm512_packs_epi32(halves, halves), c.whole);
    return {thousandths, negative, misshapen};
}

// A run's lines two at a time (the last alone when their number is odd),
// each pair handed to `take` with which of the two are records; gives
// what breaks them, the byte before each line not a line feed included.
template <typename Take>
AVX512_FUNCTION std::uint64_t judge_run(const char* first, std::size_t count, std::size_t length, const Constants& c,
                                        Take& take) {
    std::uint64_t broken = 0;
    for (std::size_t i = 0; i < count; i += 2) {
        const char* line = first + i * length;
        // The odd line out is paired with itself, the copy no record.
        const char* second = i + 1 < count ? line + length : line;
        const std::uint64_t before = word_at(line - 1), second_before = word_at(second - 1);
        const unsigned records = follows_record_start(before) | (i + 1 < count ? follows_record_start(second_before) << 1 : 0);
        const JudgedPair pair = judge_pair(line, second, c);
        broken |= not_after_line_feed(before) | not_after_line_feed(second_before) | (pair.misshapen & record_bytes[records]);
        take(pair, records);
    }
    return broken;
}

// Writes the records' floats at the next free places: the X, Y, Z of the
// pair's records packed together and stored under a mask, nothing past them.
struct WriteAtoms {
    AtomXyz* atoms;
    std::size_t next;

    AVX512_FUNCTION void operator()(const JudgedPair& pair, unsigned records) {
        // Both operands are exact in single precision, so the one correctly
        // rounded division is the nearest float to the decimal, as strtof
        // gives; the sign goes on as a bit, so that "-0.000" stays -0.
        const __m512i magnitudes = _mm512_abs_epi32(pair.thousandths);
        const __m512 quotients = _mm512_div_ps(_mm512_cvtepi32_ps(magnitudes), _mm512_set1_ps(1000.0f));
        // A 64-bit lane's sign, moved where packing put its field's value.
        const __m512i signs = _mm512_shuffle_epi32(
            _mm512_maskz_mov_epi64(pair.negative, _mm512_set1_epi32(std::numeric_limits<std::int32_t>::min())),
            _MM_PERM_CACA);
        const __m512i values = _mm512_or_si512(_mm512_castps_si512(quotients), signs);
        const __m512i packed = _mm512_maskz_compress_epi32(record_values[records], values);
        const unsigned count = static_cast<unsigned>(std::popcount(records));
        _mm256_mask_storeu_epi32(&atoms[next].x, static_cast<__mmask8>((1u << (3 * count)) - 1), _mm512_castsi512_si256(packed));
        next += count;
    }
};

// The records handed out, `capacity` at most.
struct RecordLines {
    const Constants& c;
    AtomXyz* atoms;
    std::size_t capacity;
    std::size_t records = 0;

    AVX512_FUNCTION std::size_t room() const { return capacity - records; }

    AVX512_FUNCTION bool run(const char* first, std::size_t count, std::size_t length) {
        WriteAtoms write{atoms, records};
        if (judge_run(first, count, length, c, write) != 0) return false;
        records = write.next;
        return true;
    }

    // A line alone takes the AVX2 reading: a 512-bit vector would be half empty.
    AVX512_FUNCTION bool one(const char* line, unsigned line_feed) {
        return fields_avx2::write_alone(line, line_feed, begins_record(word_at(line)), c.one_line, atoms, records);
    }
};

// Folds the records into the extremes, kept in two vectors in the dwords
// where the fields land; the two halves are joined at the end.
struct FoldExtremes {
    __m512i least;
    __m512i greatest;

    AVX512_FUNCTION void operator()(const JudgedPair& pair, unsigned records) {
        const __mmask16 take = record_values[records];
        least = _mm512_mask_min_epi32(least, take, least, pair.thousandths);
        greatest = _mm512_mask_max_epi32(greatest, take, greatest, pair.thousandths);
    }

    // A line read alone, its fields in the first half.
    AVX512_FUNCTION void operator()(const fields_avx2::JudgedFields& fields, std::uint32_t record) {
        const __m256i values = _mm256_sub_epi32(_mm256_xor_si256(fields.thousandths, fields.negative), fields.negative);
        const __mmask16 take = record_values[record];
        least = _mm512_mask_min_epi32(least, take, least, _mm512_castsi256_si512(values));
        greatest = _mm512_mask_max_epi32(greatest, take, greatest, _mm512_castsi256_si512(values));
    }
};

struct ExtremeLines {
    const Constants& c;
    FoldExtremes kept;

    AVX512_FUNCTION std::size_t room() const { return std::numeric_limits<std::size_t>::max(); }

    AVX512_FUNCTION bool run(const char* first, std::size_t count, std::size_t length) {
        FoldExtremes fold = kept;
        if (judge_run(first, count, length, c, fold) != 0) return false;
        kept = fold;
        return true;
    }

    AVX512_FUNCTION bool one(const char* line, unsigned line_feed) {
        const std::uint32_t record = begins_record(word_at(line));
        const fields_avx2::JudgedFields fields = fields_avx2::judge_fields(line, c.one_line);
        if (fields_avx2::breaks_alone(fields, line_feed, record) != 0) return false;
        kept(fields, record);
        return true;
    }
};

}  // namespace

[[gnu::target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2,popcnt")]] PlainRun read_plain_lines_avx512(
    const char* text, std::size_t size, AtomXyz* atoms, std::size_t capacity) {
    const Constants constants = make_constants();
    RecordLines lines{constants, atoms, capacity};
    const std::size_t bytes = walk_line_runs(text, size, lines);
    return {bytes, lines.records};
}

[[gnu::target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2,popcnt")]] std::size_t read_plain_extremes_avx512(
    const char* text, std::size_t size, FixedPointExtremes& extremes) {
    const Constants constants = make_constants();
    const std::int32_t* least = extremes.least;
    const std::int32_t* greatest = extremes.greatest;
    // Both halves start from what was folded before.
    const __m512i least_before = _mm512_broadcast_i64x4(_mm256_setr_epi32(least[0], least[1], 0, 0, least[2], 0, 0, 0));
    const __m512i greatest_before =
        _mm512_broadcast_i64x4(_mm256_setr_epi32(greatest[0], greatest[1], 0, 0, greatest[2], 0, 0, 0));
    ExtremeLines lines{constants, {least_before, greatest_before}};
    const std::size_t bytes = walk_line_runs(text, size, lines);
    const __m256i least_after = _mm256_min_epi32(_mm512_castsi512_si256(lines.kept.least),
                                                 _mm512_extracti64x4_epi64(lines.kept.least, 1));
    const __m256i greatest_after = _mm256_max_epi32(_mm512_castsi512_si256(lines.kept.greatest),
                                                    _mm512_extracti64x4_epi64(lines.kept.greatest, 1));
    alignas(32) std::int32_t lanes[2][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), least_after);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), greatest_after);
    extremes.least[0] = lanes[0][0], extremes.least[1] = lanes[0][1], extremes.least[2] = lanes[0][4];
    extremes.greatest[0] = lanes[1][0], extremes.greatest[1] = lanes[1][1], extremes.greatest[2] = lanes[1][4];
    return bytes;
}

}  // namespace record_scan

#endif
