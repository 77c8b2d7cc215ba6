// Rows written eight at a time with AVX-512 (F, BW, VBMI, VBMI2): the 24
// coordinates of eight rows fill three vectors of eight doubles, their
// millionths and digits are the AVX2 path's, made eight lanes at a time;
// then each coordinate's text is laid out whole in a 16-byte slot (sign,
// four integer digits, point, six decimals, separator) and the bytes it
// does not print, a plus sign's place and leading zeros, are squeezed out
// by one byte compression of four slots. A text's shape costs no table
// look-up and no store of its own. Rows that the scalar fast path would
// not take, and the last rows of a batch, go the AVX2 way.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "csv_rows.hpp"
#include "millionths.hpp"

namespace xyzdump {
namespace {

using namespace millionths;

#define AVX512_FUNCTION \
    [[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt"), gnu::always_inline]] inline

// A coordinate's slot: its sign's place, four integer digits, the point,
// six decimals, its separator, three bytes that are never printed.
constexpr int sign_at = 0, integer_at = 1, point_at = 5, decimals_at = 6, separator_at = 12, slot_bytes = 16;

// Where each byte of four slots comes from, for the four coordinates of
// the low (0) or high (1) half of a vector of eight: indices 0-63 are the
// eight coordinates' digit bytes (four integer digits, then four
// decimals), 64-127 their last two decimals (first two bytes of each
// 64-bit lane); a byte the constant text supplies takes index 0, masked off.
constexpr auto slot_sources = [] {
    std::array<std::array<unsigned char, 64>, 2> sources{};
    for (int half = 0; half < 2; ++half)
        for (int slot = 0; slot < 4; ++slot) {
            const int lane = 8 * (4 * half + slot);
            unsigned char* bytes = sources[half].data() + slot_bytes * slot;
            for (int i = 0; i < 4; ++i) bytes[integer_at + i] = static_cast<unsigned char>(lane + i);
            for (int i = 0; i < 4; ++i) bytes[decimals_at + i] = static_cast<unsigned char>(lane + 4 + i);
            for (int i = 0; i < 2; ++i) bytes[decimals_at + 4 + i] = static_cast<unsigned char>(64 + lane + i);
        }
    return sources;
}();

// Which bytes of four slots are digits from the vectors.
constexpr std::uint64_t slot_digits = 0x0fde'0fde'0fde'0fde;
// The bytes printed whatever the value: the last integer digit, the point,
// the decimals, the separator.
constexpr std::uint64_t always_printed = 0x1ff0'1ff0'1ff0'1ff0;
// The first three integer digits, printed from the first that is not 0.
constexpr std::uint64_t leading_digits = 0x000e'000e'000e'000e;
constexpr std::uint64_t signs = 0x0001'0001'0001'0001;

// The constant bytes of four slots: '-' at the sign's place, the point,
// the separator, which ends a row after every third coordinate. Vector v
// of three holds coordinates 8v to 8v + 7 of the eight rows; its half h
// four of them.
constexpr auto slot_text = [] {
    std::array<std::array<std::array<char, 64>, 2>, 3> text{};
    for (int vector = 0; vector < 3; ++vector)
        for (int half = 0; half < 2; ++half)
            for (int slot = 0; slot < 4; ++slot) {
                const int coordinate = 8 * vector + 4 * half + slot;
                char* bytes = text[vector][half].data() + slot_bytes * slot;
                bytes[sign_at] = '-';
                bytes[point_at] = '.';
                bytes[separator_at] = coordinate % 3 == 2 ? '\n' : ',';
            }
    return text;
}();

// Each 32-bit lane, below 10^4, as its hundreds and the rest in 16-bit
// halves, the hundreds in the lower; v * 5243 >> 19 is v / 100 below 43699.
AVX512_FUNCTION __m512i hundreds_and_rest(__m512i lanes) {
    const __m512i hundreds = _mm512_srli_epi16(_mm512_mulhi_epu16(lanes, _mm512_set1_epi32(5243)), 3);
    const __m512i rest = _mm512_sub_epi16(lanes, _mm512_mullo_epi16(hundreds, _mm512_set1_epi32(100)));
    return _mm512_or_si512(hundreds, _mm512_slli_epi32(rest, 16));
}

// Each 16-bit lane, below 100, as its two digits, the first in the lower
// byte; y * 6554 >> 16 is y / 10 below 100.
AVX512_FUNCTION __m512i two_digits(__m512i lanes) {
    const __m512i tens = _mm512_mulhi_epu16(lanes, _mm512_set1_epi16(6554));
    const __m512i ones = _mm512_sub_epi16(lanes, _mm512_mullo_epi16(tens, _mm512_set1_epi16(10)));
    return _mm512_add_epi8(_mm512_or_si512(tens, _mm512_slli_epi16(ones, 8)), _mm512_set1_epi8('0'));
}

struct Digits {
    __m512i leading;  // per 64-bit lane: four integer digits, four decimals
    __m512i last;     // per 64-bit lane: the last two decimals, then '0's
};

// Eight coordinates' millionths as digits: n / 10^6 is ((n >> 6) *
// divide_by_15625) >> 42, and n / 100 = (n >> 2) / 25 is (n >> 2) *
// ceil(2^36 / 25) >> 36 (the reasoning is in csv_rows_avx2.cpp).
AVX512_FUNCTION Digits digits_of(__m512d product) {
    const __m512d shifter = _mm512_set1_pd(two_to_52);
    const __m512i millionths =
        _mm512_sub_epi64(_mm512_castpd_si512(_mm512_add_pd(product, shifter)), _mm512_castpd_si512(shifter));
    const __m512i integer = _mm512_srli_epi64(
        _mm512_mul_epu32(_mm512_srli_epi64(millionths, 6), _mm512_set1_epi64(divide_by_15625)), 42);
    const __m512i hundredths = _mm512_srli_epi64(
        _mm512_mul_epu32(_mm512_srli_epi64(millionths, 2), _mm512_set1_epi64(2748779070)), 36);
    const __m512i first = _mm512_sub_epi64(hundredths, _mm512_mul_epu32(integer, _mm512_set1_epi64(10000)));
    const __m512i last = _mm512_sub_epi64(millionths, _mm512_mul_epu32(hundredths, _mm512_set1_epi64(100)));
    return {two_digits(hundreds_and_rest(_mm512_or_si512(integer, _mm512_slli_epi64(first, 32)))), two_digits(last)};
}

// Writes four coordinates' texts from their slots; returns the end. Writes
// 64 bytes whatever their length.
AVX512_FUNCTION char* write_slots(char* out, const Digits& digits, __m512i sources, __m512i text, unsigned negative) {
    const __m512i slots =
        _mm512_or_si512(_mm512_maskz_permutex2var_epi8(slot_digits, digits.leading, sources, digits.last), text);
    // Leading zeros go, a lone 0 stays: an integer digit is printed from
    // the first that is not '0' on.
    const std::uint64_t nonzero = ~static_cast<std::uint64_t>(_mm512_cmpeq_epi8_mask(slots, _mm512_set1_epi8('0')));
    std::uint64_t leading = nonzero & leading_digits;
    leading |= (leading << 1 | leading << 2) & leading_digits;
    const std::uint64_t printed = always_printed | leading | _pdep_u64(negative, signs);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(printed, slots));
    return out + _mm_popcnt_u64(printed);
}

// Eight rows from `coordinates`, 24 floats; false, with nothing written,
// when one of them needs another path.
AVX512_FUNCTION bool format_eight_rows(char*& out, const float* coordinates) {
    __m512d products[3];
    unsigned negative[3];
    __mmask8 fast = 0xff;
#pragma GCC unroll 3
    for (int v = 0; v < 3; ++v) {
        const __m256 floats = _mm256_loadu_ps(coordinates + 8 * v);
        negative[v] = static_cast<unsigned>(_mm256_movemask_ps(floats));
        products[v] = _mm512_mul_pd(_mm512_abs_pd(_mm512_cvtps_pd(floats)), _mm512_set1_pd(1e6));
        // NaN fails the comparison too.
        fast &= _mm512_cmp_pd_mask(products[v], _mm512_set1_pd(fast_limit), _CMP_LT_OQ);
    }
    if (!doubles_round_as_declared || fast != 0xff) [[unlikely]]
        return false;
#pragma GCC unroll 3
    for (int v = 0; v < 3; ++v) {
        const Digits digits = digits_of(products[v]);
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half)
            out = write_slots(out, digits, _mm512_loadu_si512(slot_sources[half].data()),
                              _mm512_loadu_si512(slot_text[v][half].data()), negative[v] >> (4 * half) & 0xf);
    }
    return true;
}

}  // namespace

[[gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt")]] char* format_rows_avx512(
    char* out, const record_scan::AtomXyz* atoms, std::size_t count) {
    static_assert(sizeof(record_scan::AtomXyz) == 3 * sizeof(float), "rows are whole floats, one after another");
    // A slot's 64-byte store reaches past the text written by no more
    // than the rows' bound allows: eight rows may take 8 * max_row_chars.
    static_assert(8 * max_row_chars >= 8 * 3 * slot_bytes + 64);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        if (!format_eight_rows(out, &atoms[i].x)) out = format_rows_avx2(out, atoms + i, 8);
    return format_rows_avx2(out, atoms + i, count - i);
}

}  // namespace xyzdump

#endif
