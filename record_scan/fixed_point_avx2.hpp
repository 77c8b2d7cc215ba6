// Three coordinates written "%8.3f" (blanks, an optional minus, one to four
// digits, the point, three digits), judged and read from one 32-byte
// vector: the fields in bytes 0-7, 8-15 and 16-23, then what follows Z.
// Shared by the AVX2 readings of both layouts; every function here is
// compiled for AVX2 inside its caller (the target attribute), so include it
// only where AVX2 was found at run time.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "record_scan.hpp"

namespace record_scan::fixed_point_avx2 {

[[gnu::target("avx2"), gnu::always_inline]] inline std::uint32_t bytes_equal(__m256i bytes, char c) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))));
}

// A byte-mask constant for each of the three fields: bit i of `field` for
// byte i of the field, in each of bytes 0-7, 8-15 and 16-23.
constexpr std::uint32_t in_each_field(std::uint8_t field) { return 0x010101u * field; }

// The three fields of a vector as fixed-point numbers: their magnitudes in
// thousandths (X, Y in dwords 0, 1, Z in dword 4), which of them carry a
// minus (those dwords all ones), and whether all three are "%8.3f"-shaped
// with byte 24 no digit or point (which would carry Z further). The caller
// judges an exponent letter in byte 24 where one can be there.
struct ThreeFields {
    __m256i thousandths;
    __m256i negative;
    bool shaped;
};

[[gnu::target("avx2"), gnu::always_inline]] inline ThreeFields judge_three_fields(__m256i text) {
    // Digits become 0 to 9; every other byte becomes more than 9.
    const __m256i digit_values = _mm256_sub_epi8(text, _mm256_set1_epi8('0'));
    const __m256i is_digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(digit_values, _mm256_set1_epi8(9)), digit_values);

    // The shape, one bit per byte: byte 4 of a field is the point, bytes 3
    // and 5 to 7 digits, bytes 0 to 2 digits, blanks or a minus, in which a
    // digit or the minus is followed by a digit.
    const auto digit = static_cast<std::uint32_t>(_mm256_movemask_epi8(is_digit));
    const std::uint32_t point = bytes_equal(text, '.');
    const std::uint32_t minus = bytes_equal(text, '-');
    const std::uint32_t lead = bytes_equal(text, ' ') | minus;
    const std::uint32_t in_place = (digit & in_each_field(0b1110'1111)) |
                                   (lead & in_each_field(0b0000'0111)) |
                                   (point & in_each_field(0b0001'0000));
    const std::uint32_t wants_digit_next = (digit | minus) & in_each_field(0b0000'0111);
    const std::uint32_t after_z = std::uint32_t{1} << 24;
    const std::uint32_t misshapen =
        (in_place ^ 0xffffff) | ((wants_digit_next << 1) & ~digit) | ((digit | point) & after_z);

    // The point is always byte 4 and a lead byte counts 0 once cleared, so
    // each field is digits times fixed weights: pairs (x10 + x1), halves
    // (x100 + x1) for the integer and the fraction, then integer x1000 +
    // fraction. No step can saturate (99, 9999, then 16-bit packing of
    // values up to 9999), and the result stays below 10^7 < 2^24.
    const __m256i digits = _mm256_and_si256(digit_values, is_digit);
    const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(1 << 8 | 10));
    const __m256i halves = _mm256_madd_epi16(pairs, _mm256_set1_epi32(1 << 16 | 100));
    // Packing works per 128-bit lane, so X, Y land in dwords 0, 1 and Z in dword 4.
    const __m256i thousandths = _mm256_madd_epi16(_mm256_packs_epi32(halves, halves),
                                                  _mm256_set1_epi32(1 << 16 | 1000));
    // A shaped field holds a minus only in its lead, bytes 0 to 2, so its
    // 64-bit lane of minus bytes is a positive number exactly when it is
    // negative. That lane is moved to where the field's value lies.
    const __m256i negative = _mm256_shuffle_epi32(
        _mm256_cmpgt_epi64(_mm256_cmpeq_epi8(text, _mm256_set1_epi8('-')), _mm256_setzero_si256()),
        0b10'00'10'00);
    return {thousandths, negative, misshapen == 0};
}

// When the fields are shaped (see judge_three_fields), writes the three
// values and returns true.
[[gnu::target("avx2"), gnu::always_inline]] inline bool read_three_fields(__m256i text, AtomXyz& atom) {
    const ThreeFields fields = judge_three_fields(text);
    // Both operands are exact in single precision, so the one correctly
    // rounded division is the nearest float to the decimal, as strtof gives.
    const __m256 magnitudes =
        _mm256_div_ps(_mm256_cvtepi32_ps(fields.thousandths), _mm256_set1_ps(1000.0f));
    const __m256 values =
        _mm256_or_ps(magnitudes, _mm256_castsi256_ps(_mm256_slli_epi32(fields.negative, 31)));

    _mm_storel_pi(reinterpret_cast<__m64*>(&atom.x), _mm256_castps256_ps128(values));
    _mm_store_ss(&atom.z, _mm256_extractf128_ps(values, 1));
    return fields.shaped;
}

// The signed thousandths of shaped fields, where read_three_fields puts
// the values: a minus negates (and "-0.000" is 0).
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i signed_thousandths(const ThreeFields& fields) {
    return _mm256_sub_epi32(_mm256_xor_si256(fields.thousandths, fields.negative), fields.negative);
}

}  // namespace record_scan::fixed_point_avx2

#endif
