// Rows written four at a time with AVX2: the twelve coordinates of four
// rows fill three vectors of four doubles, their millionths are the scalar
// fast path's, their digits are made in vector lanes with every lane in
// use, and each coordinate's text is put together by one byte shuffle
// chosen by its sign and its integer digits. Vector shifts and multiplies
// share two ports, and they bound this code: the fewer the better. Rows
// that the scalar fast path would not take, and the last rows of a batch,
// go to format_row.
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

// A coordinate's 16 bytes before its shuffle: the four integer digits, the
// first four decimals, then the last two decimals of the coordinates of
// vectors 0, 1 and 2 (the one it came from among them), two spare bytes.
constexpr int first_decimals_at = 4, last_decimals_at = 8;
constexpr char none = static_cast<char>(0x80);  // a zero byte, to be filled by the or

// The text of a coordinate of vector `vector`, with a sign (0 or 1) and
// `zeros` (0 to 3) leading zeros left out of its integer digits, is the
// shuffle table[vector][sign * 4 + zeros] of its bytes or'ed with
// characters[separator is '\n'][sign * 4 + zeros].
struct TextShape {
    std::array<std::array<std::array<char, 16>, 8>, 3> shuffles{};
    std::array<std::array<std::array<char, 16>, 8>, 2> characters{};
};

constexpr TextShape text_shape = [] {
    TextShape shape;
    for (int sign = 0; sign < 2; ++sign) {
        for (int zeros = 0; zeros < 4; ++zeros) {
            const int at = sign * 4 + zeros;
            for (int vector = 0; vector < 3; ++vector) {
                std::array<char, 16>& shuffle = shape.shuffles[vector][at];
                shuffle.fill(none);
                int n = sign;  // the minus comes from the or
                for (int i = zeros; i < 4; ++i) shuffle[n++] = static_cast<char>(i);
                ++n;  // the point
                for (int i = 0; i < 4; ++i) shuffle[n++] = static_cast<char>(first_decimals_at + i);
                shuffle[n++] = static_cast<char>(last_decimals_at + 2 * vector);
                shuffle[n++] = static_cast<char>(last_decimals_at + 2 * vector + 1);
            }
            for (int line_end = 0; line_end < 2; ++line_end) {
                std::array<char, 16>& characters = shape.characters[line_end][at];
                characters.fill(0);
                if (sign) characters[0] = '-';
                characters[sign + 4 - zeros] = '.';
                characters[sign + 11 - zeros] = line_end ? '\n' : ',';
            }
        }
    }
    return shape;
}();

// Each 32-bit lane, below 10^4, as its hundreds and the rest in 16-bit
// halves, the hundreds in the lower: two_digits then makes the four digits.
// v * 5243 >> 19 is v / 100 below 43699.
AVX2_FUNCTION __m256i hundreds_and_rest(__m256i lanes) {
    const __m256i hundreds = _mm256_srli_epi16(_mm256_mulhi_epu16(lanes, _mm256_set1_epi32(5243)), 3);
    const __m256i rest = _mm256_sub_epi16(lanes, _mm256_mullo_epi16(hundreds, _mm256_set1_epi32(100)));
    return _mm256_or_si256(hundreds, _mm256_slli_epi32(rest, 16));
}

// Each 16-bit lane, below 100, as its two digits, the first in the lower
// byte; y * 6554 >> 16 is y / 10 below 100.
AVX2_FUNCTION __m256i two_digits(__m256i lanes) {
    const __m256i tens = _mm256_mulhi_epu16(lanes, _mm256_set1_epi16(6554));
    const __m256i ones = _mm256_sub_epi16(lanes, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
    return _mm256_add_epi8(_mm256_or_si256(tens, _mm256_slli_epi16(ones, 8)), _mm256_set1_epi8('0'));
}

// A vector's coordinates as millionths split in three: the integer part and
// the first four decimals side by side in 32-bit halves, and the last two
// decimals. n / 10^6 is ((n >> 6) * divide_by_15625) >> 42, and n / 100 =
// (n >> 2) / 25 is (n >> 2) * ceil(2^36 / 25) >> 36: over by less than
// 2^32 * 0.56 / 2^36 = 0.035, below the 1/25 that a fraction m / 25 stays
// below the next integer.
struct SplitMillionths {
    __m256i integer_and_first;
    __m256i last;
};

AVX2_FUNCTION SplitMillionths split(__m256d product) {
    const __m256d shifter = _mm256_set1_pd(two_to_52);
    const __m256i millionths = _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(product, shifter)),
                                                _mm256_castpd_si256(shifter));
    const __m256i integer = _mm256_srli_epi64(
        _mm256_mul_epu32(_mm256_srli_epi64(millionths, 6), _mm256_set1_epi64x(divide_by_15625)), 42);
    const __m256i hundredths = _mm256_srli_epi64(
        _mm256_mul_epu32(_mm256_srli_epi64(millionths, 2), _mm256_set1_epi64x(2748779070)), 36);
    const __m256i first = _mm256_sub_epi64(hundredths, _mm256_mul_epu32(integer, _mm256_set1_epi64x(10000)));
    const __m256i last = _mm256_sub_epi64(millionths, _mm256_mul_epu32(hundredths, _mm256_set1_epi64x(100)));
    return {_mm256_or_si256(integer, _mm256_slli_epi64(first, 32)), last};
}

AVX2_FUNCTION __m256d magnitude_in_millionths(__m128 floats) {
    return _mm256_mul_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), _mm256_cvtps_pd(floats)), _mm256_set1_pd(1e6));
}

// NaN fails the comparison too.
AVX2_FUNCTION __m256d fast(__m256d product) {
    return _mm256_cmp_pd(product, _mm256_set1_pd(fast_limit), _CMP_LT_OQ);
}

// Writes one coordinate's text in a 16-byte store; returns its end.
AVX2_FUNCTION char* place(char* out, __m128i pieces, int vector, bool line_end, unsigned sign, unsigned zero_digits) {
    // Up to three leading zeros go; a lone 0 stays.
    const auto zeros = static_cast<unsigned>(std::countr_one(zero_digits & 7u));
    const unsigned at = sign * 4 + zeros;
    const __m128i shuffle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_shape.shuffles[vector][at].data()));
    const __m128i characters =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_shape.characters[line_end][at].data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_shuffle_epi8(pieces, shuffle), characters));
    return out + 12 - zeros + sign;
}

// Four rows from `coordinates`, twelve floats; false, with nothing
// written, when one of them needs another path.
AVX2_FUNCTION bool format_four_rows(char*& out, const float* coordinates) {
    __m128 floats[3];
    __m256d products[3];
#pragma GCC unroll 3
    for (int v = 0; v < 3; ++v) {
        floats[v] = _mm_loadu_ps(coordinates + 4 * v);
        products[v] = magnitude_in_millionths(floats[v]);
    }
    const __m256d all_fast = _mm256_and_pd(_mm256_and_pd(fast(products[0]), fast(products[1])), fast(products[2]));
    if (!doubles_round_as_declared || _mm256_movemask_pd(all_fast) != 0xf) [[unlikely]]
        return false;

    __m256i digits[3];
    unsigned zero_digits[3], signs[3];
    __m256i last_decimals = _mm256_setzero_si256();
#pragma GCC unroll 3
    for (int v = 0; v < 3; ++v) {
        const SplitMillionths parts = split(products[v]);
        digits[v] = two_digits(hundreds_and_rest(parts.integer_and_first));
        last_decimals = _mm256_or_si256(last_decimals, _mm256_slli_epi64(parts.last, 16 * v));
        signs[v] = static_cast<unsigned>(_mm_movemask_ps(floats[v]));
    }
    const __m256i last_digits = two_digits(last_decimals);
    __m256i pieces[3][2];  // [vector][even lanes, odd lanes]
#pragma GCC unroll 3
    for (int v = 0; v < 3; ++v) {
        zero_digits[v] = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(digits[v], _mm256_set1_epi8('0'))));
        pieces[v][0] = _mm256_unpacklo_epi64(digits[v], last_digits);
        pieces[v][1] = _mm256_unpackhi_epi64(digits[v], last_digits);
    }
    // Coordinate c is lane c % 4 of vector c / 4; every third ends a row.
#pragma GCC unroll 12
    for (int c = 0; c < 12; ++c) {
        const int v = c / 4, lane = c % 4;
        const __m256i both = pieces[v][lane & 1];
        const __m128i piece = lane < 2 ? _mm256_castsi256_si128(both) : _mm256_extracti128_si256(both, 1);
        out = place(out, piece, v, c % 3 == 2, signs[v] >> lane & 1, zero_digits[v] >> (8 * lane));
    }
    return true;
}

}  // namespace

[[gnu::target("avx2")]] char* format_rows_avx2(char* out, const record_scan::AtomXyz* atoms, std::size_t count) {
    static_assert(sizeof(record_scan::AtomXyz) == 3 * sizeof(float), "rows are whole floats, one after another");
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4)
        if (!format_four_rows(out, &atoms[i].x)) out = format_rows(out, atoms + i, 4);
    return format_rows(out, atoms + i, count - i);
}

}  // namespace xyzdump

#endif
