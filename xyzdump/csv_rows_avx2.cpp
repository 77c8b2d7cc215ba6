// A row's three coordinates written at once with AVX2: the same millionths
// as the scalar fast path, their digits made in vector lanes, and each
// coordinate's text put together by one byte shuffle chosen by its sign and
// its integer digits. Rows that the scalar fast path would not take go to
// format_row whole.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <bit>

#include "csv_rows.hpp"
#include "millionths.hpp"

namespace xyzdump {
namespace {

using namespace millionths;

#define AVX2_FUNCTION [[gnu::target("avx2")]] inline

// The 16 bytes of a coordinate before its shuffle: the four integer digits,
// the first four decimals, "00" and the last two decimals, then '-', '.'
// and the separator.
constexpr int minus_at = 12, point_at = 13, separator_at = 14;

// The shuffle giving the text of a coordinate with a sign (0 or 1) and
// integer digits without `zeros` (0 to 3) leading zeros: table[sign * 4 + zeros].
constexpr auto text_shuffles = [] {
    std::array<std::array<char, 16>, 8> table{};
    for (int sign = 0; sign < 2; ++sign) {
        for (int zeros = 0; zeros < 4; ++zeros) {
            std::array<char, 16>& shuffle = table[sign * 4 + zeros];
            shuffle.fill(static_cast<char>(0x80));  // a zero byte, past the text
            int n = 0;
            if (sign) shuffle[n++] = minus_at;
            for (int i = zeros; i < 4; ++i) shuffle[n++] = static_cast<char>(i);
            shuffle[n++] = point_at;
            for (int i : {4, 5, 6, 7, 10, 11, separator_at}) shuffle[n++] = static_cast<char>(i);
        }
    }
    return table;
}();

// Each 32-bit lane, below 10^4, as its four digits, the first in the lowest
// byte: hundreds and the rest in 16-bit halves, then tens and ones in bytes.
// v * 5243 >> 19 is v / 100 below 43699, and y * 6554 >> 16 is y / 10 below 100.
AVX2_FUNCTION __m256i four_digits(__m256i lanes) {
    const __m256i hundreds = _mm256_srli_epi16(_mm256_mulhi_epu16(lanes, _mm256_set1_epi32(5243)), 3);
    const __m256i rest = _mm256_sub_epi16(lanes, _mm256_mullo_epi16(hundreds, _mm256_set1_epi32(100)));
    const __m256i pairs = _mm256_or_si256(hundreds, _mm256_slli_epi32(rest, 16));
    const __m256i tens = _mm256_mulhi_epu16(pairs, _mm256_set1_epi16(6554));
    const __m256i ones = _mm256_sub_epi16(pairs, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
    return _mm256_add_epi8(_mm256_or_si256(tens, _mm256_slli_epi16(ones, 8)), _mm256_set1_epi8('0'));
}

// Writes one coordinate's text in a 16-byte store; returns its end.
AVX2_FUNCTION char* place(char* out, __m128i pieces, unsigned sign, unsigned zero_digits) {
    // Up to three leading zeros go; a lone 0 stays.
    const auto zeros = static_cast<unsigned>(std::countr_one(zero_digits & 7u));
    const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_shuffles[sign * 4 + zeros].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(pieces, shuffle));
    return out + 12 - zeros + sign;
}

constexpr int tail(char separator) { return '-' | '.' << 8 | separator << 16; }

AVX2_FUNCTION char* format_one_row(char* out, const record_scan::AtomXyz& atom) {
    const __m128 floats = _mm_setr_ps(atom.x, atom.y, atom.z, 0.0f);
    const __m256d product = _mm256_mul_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_cvtps_pd(floats)),
                                          _mm256_set1_pd(1e6));
    // NaN fails the comparison too.
    const __m256d fast = _mm256_cmp_pd(product, _mm256_set1_pd(fast_limit), _CMP_LT_OQ);
    if (!doubles_round_as_declared || _mm256_movemask_pd(fast) != 0xf) [[unlikely]]
        return format_row(out, atom);

    const __m256d shifter = _mm256_set1_pd(two_to_52);
    const __m256i millionths = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(product, shifter)),
                                                _mm256_castpd_si256(shifter));
    const __m256i integer = _mm256_srli_epi64(
        _mm256_mul_epu32(_mm256_srli_epi64(millionths, 6), _mm256_set1_epi64x(divide_by_15625)), 42);
    const __m256i fraction = _mm256_sub_epi64(millionths, _mm256_mul_epu32(integer, _mm256_set1_epi64x(1000000)));
    // fraction / 100 as fraction * ceil(2^32 / 100) >> 32: over by less than 10^6 * 0.04 / 2^32.
    const __m256i leading = _mm256_srli_epi64(_mm256_mul_epu32(fraction, _mm256_set1_epi64x(42949673)), 32);
    const __m256i trailing = _mm256_sub_epi64(fraction, _mm256_mul_epu32(leading, _mm256_set1_epi64x(100)));

    // 64-bit lane k holds coordinate k: its integer digits and first four
    // decimals in `first`, its last two decimals and its tail in `last`.
    const __m256i first = four_digits(_mm256_or_si256(integer, _mm256_slli_epi64(leading, 32)));
    const __m256i tails = _mm256_setr_epi32(0, tail(','), 0, tail(','), 0, tail('\n'), 0, 0);
    const __m256i last = _mm256_blend_epi32(four_digits(trailing), tails, 0b10101010);
    const __m256i x_and_z = _mm256_unpacklo_epi64(first, last);
    const __m256i y = _mm256_unpackhi_epi64(first, last);

    const auto zero_digits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('0'))));
    const auto signs = static_cast<unsigned>(_mm_movemask_ps(floats));
    out = place(out, _mm256_castsi256_si128(x_and_z), signs & 1, zero_digits);
    out = place(out, _mm256_castsi256_si128(y), signs >> 1 & 1, zero_digits >> 8);
    return place(out, _mm256_extracti128_si256(x_and_z, 1), signs >> 2 & 1, zero_digits >> 16);
}

}  // namespace

// One loop for many rows keeps the constants in registers.
[[gnu::target("avx2")]] char* format_rows_avx2(char* out, const record_scan::AtomXyz* atoms, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out = format_one_row(out, atoms[i]);
    return out;
}

}  // namespace xyzdump

#endif
