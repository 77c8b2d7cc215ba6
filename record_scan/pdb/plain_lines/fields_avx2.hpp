// One line's coordinate fields judged and read with AVX2: X, Y and Z,
// "%8.3f" each, from one 32-byte load at column 31. The AVX2 kernel reads
// every line so; the AVX-512 kernel, which reads runs two lines at a time,
// the lines it takes alone. Every function here is compiled for AVX2
// inside its caller, so include it only where AVX2 was found at run time.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "fixed_point_avx2.hpp"
#include "record_scan.hpp"

#define FIELDS_AVX2_FUNCTION [[gnu::target("avx2,bmi,bmi2,popcnt"), gnu::always_inline]] inline

namespace record_scan::fields_avx2 {

using fixed_point_avx2::in_each_field;
FIELDS_AVX2_FUNCTION __m256i load(const char* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }

// Bytes 0 to 23 of the load are X, Y and Z, "%8.3f" each; byte 24 is the
// byte after Z. Less these bytes, a field's digits are 0 to 9 and its
// point 0; the limits are what each byte may then be (255: anything).
constexpr unsigned char any = 255;
alignas(32) constexpr char field_subtrahends[32] = {
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '.', '0', '0', '0',
    '0', '0', '0', '0', '.', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'};
alignas(32) constexpr unsigned char field_limits[32] = {
    any, any, any, 9, 0, 9, 9, 9, any, any, any, 9, 0, 9, 9, 9,
    any, any, any, 9, 0, 9, 9, 9, any, any, any, any, any, any, any, any};
constexpr std::uint32_t lead_bytes = in_each_field(0b0000'0111);   // blanks, a minus or digits
constexpr std::uint32_t after_lead = in_each_field(0b0000'0110);   // whose blank or minus needs a blank before
constexpr std::uint32_t after_z = std::uint32_t{1} << 24;

struct Constants {
    __m256i subtrahends, limits, nine, minus, blank, pairs, halves, whole;
};

FIELDS_AVX2_FUNCTION Constants make_constants() {
    return {_mm256_load_si256(reinterpret_cast<const __m256i*>(field_subtrahends)),
            _mm256_load_si256(reinterpret_cast<const __m256i*>(field_limits)),
            _mm256_set1_epi8(9),
            _mm256_set1_epi8('-'),
            _mm256_set1_epi8(' '),
            _mm256_set1_epi16(1 << 8 | 10),
            _mm256_set1_epi32(1 << 16 | 100),
            _mm256_set1_epi32(1 << 16 | 1000)};
}

// A record's fields: their magnitudes in thousandths (X, Y in dwords 0, 1,
// Z in dword 4), which are negative (those dwords all ones), and a bit set
// for each byte that breaks the "%8.3f" shape or lets Z run on.
struct JudgedFields {
    __m256i thousandths;
    __m256i negative;
    std::uint32_t misshapen;
};

FIELDS_AVX2_FUNCTION JudgedFields judge_fields(const char* line, const Constants& c) {
    const __m256i text = load(line + 30);
    const __m256i less = _mm256_sub_epi8(text, c.subtrahends);
    const auto in_place = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(less, c.limits), less)));
    const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(less, c.nine), less);
    const auto digit = static_cast<std::uint32_t>(_mm256_movemask_epi8(is_digit));
    const __m256i minus_bytes = _mm256_cmpeq_epi8(text, c.minus);
    const auto minus = static_cast<std::uint32_t>(_mm256_movemask_epi8(minus_bytes));
    const auto blank = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(text, c.blank)));
    // A lead is blanks, then perhaps a minus, then digits: a blank or a
    // minus only after a blank. After Z, a digit, a point or an exponent
    // letter would carry Z on.
    const std::uint32_t lead = blank | minus;
    const auto after = static_cast<unsigned char>(line[54]);
    const std::uint32_t runs_on = (digit & after_z) | static_cast<std::uint32_t>((after == '.') | ((after | 0x20) == 'e')) << 24;
    const std::uint32_t misshapen = ~in_place | (lead_bytes & ~(lead | digit)) | (after_lead & lead & ~(blank << 1)) | runs_on;
    // The point counts 0 and a lead byte is cleared, so each field is its
    // digits times fixed weights: pairs (x10 + x1), halves (x100 + x1) for
    // the integer and the fraction, then integer x1000 + fraction. No step
    // saturates (99, 9999, then 16-bit packing of values up to 9999).
    const __m256i digits = _mm256_and_si256(less, is_digit);
    const __m256i halves = _mm256_madd_epi16(_mm256_maddubs_epi16(digits, c.pairs), c.halves);
    // Packing works per 128-bit lane, so X, Y land in dwords 0, 1 and Z in dword 4.
    const __m256i thousandths = _mm256_madd_epi16(_mm256_packs_epi32(halves, halves), c.whole);
    // A shaped field holds a minus only in its lead, so its 64-bit lane of
    // minus bytes is a positive number exactly when it is negative.
    const __m256i negative = _mm256_shuffle_epi32(_mm256_cmpgt_epi64(minus_bytes, _mm256_setzero_si256()), 0b10'00'10'00);
    return {thousandths, negative, misshapen};
}

// What breaks a line taken alone, whose line feed is `line_feed` bytes
// on, if it is a record (`record` 1): a record's line feed comes after Z
// at the earliest.
FIELDS_AVX2_FUNCTION std::uint32_t breaks_alone(const JudgedFields& fields, unsigned line_feed, std::uint32_t record) {
    return (fields.misshapen | static_cast<std::uint32_t>(line_feed < 54)) & (0u - record);
}

// Writes each line's floats at the next free place, which only a record
// then takes.
struct WriteAtoms {
    AtomXyz* atoms;
    std::size_t next;

    FIELDS_AVX2_FUNCTION void operator()(const JudgedFields& fields, std::uint32_t record) {
        // Both operands are exact in single precision, so the one correctly
        // rounded division is the nearest float to the decimal, as strtof
        // gives; the minus goes on as a sign bit, so "-0.000" stays -0.
        const __m256 magnitudes = _mm256_div_ps(_mm256_cvtepi32_ps(fields.thousandths), _mm256_set1_ps(1000.0f));
        const __m256 values = _mm256_or_ps(magnitudes, _mm256_castsi256_ps(_mm256_slli_epi32(fields.negative, 31)));
        _mm_storel_pi(reinterpret_cast<__m64*>(&atoms[next].x), _mm256_castps256_ps128(values));
        _mm_store_ss(&atoms[next].z, _mm256_extractf128_ps(values, 1));
        next += record;
    }
};

// Writes a line taken alone, whose line feed is `line_feed` bytes on, at
// atoms[records] if it is a record (`record` 1), counting it; false, with
// nothing counted, when it is a record that breaks the shape.
FIELDS_AVX2_FUNCTION bool write_alone(const char* line, unsigned line_feed, std::uint32_t record, const Constants& c,
                                      AtomXyz* atoms, std::size_t& records) {
    const JudgedFields fields = judge_fields(line, c);
    if (breaks_alone(fields, line_feed, record) != 0) return false;
    WriteAtoms write{atoms, records};
    write(fields, record);
    records = write.next;
    return true;
}

}  // namespace record_scan::fields_avx2

#endif
