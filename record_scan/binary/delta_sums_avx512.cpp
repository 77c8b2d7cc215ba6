// The packed deltas summed sixteen lanes at a time with AVX-512 (F, BW):
// a block's running sums in four shifted additions, the sum so far carried
// into the next block by a broadcast of its last lane. Compiled for those
// instructions function by function, chosen only where delta_summer()
// found them.
#if defined(__x86_64__)

#include <immintrin.h>

#include <bit>
#include <cstring>
#include <type_traits>

#include "binary/delta_sums.hpp"

#define AVX512_FUNCTION [[gnu::target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2"), gnu::always_inline]] inline

namespace record_scan {
namespace {

static_assert(std::endian::native == std::endian::little, "x86-64 reads the elements as they lie");

// Sixteen elements as 32-bit lanes.
template <typename T>
AVX512_FUNCTION __m512i widened(const char* bytes) {
    if constexpr (std::is_same_v<T, std::int16_t>)
        return _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    else if constexpr (std::is_same_v<T, std::int8_t>)
        return _mm512_cvtepi8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
    else
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// Each lane plus the `lanes` lanes before it... as shifted in from zeros.
template <int lanes>
AVX512_FUNCTION __m512i plus_shifted(__m512i sums) {
    return _mm512_add_epi32(sums, _mm512_alignr_epi32(sums, _mm512_setzero_si512(), 16 - lanes));
}

template <typename T>
AVX512_FUNCTION bool sum_deltas(const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out) {
    const __m512 divisor = _mm512_set1_ps(factor);
    const __m512i offset = _mm512_set1_epi32(1 << 24);
    __m512i carry = _mm512_set1_epi32(last), outside = _mm512_setzero_si512();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512i sums = _mm512_add_epi32(
            plus_shifted<8>(plus_shifted<4>(plus_shifted<2>(plus_shifted<1>(widened<T>(bytes + i * sizeof(T)))))), carry);
        carry = _mm512_permutexvar_epi32(_mm512_set1_epi32(15), sums);
        // A sum outside [-2^24, 2^24) has a bit at 25 or above once 2^24 is added.
        outside = _mm512_or_si512(outside, _mm512_add_epi32(sums, offset));
        _mm512_storeu_ps(out + i, _mm512_div_ps(_mm512_cvtepi32_ps(sums), divisor));
    }
    std::int32_t sum = _mm_cvtsi128_si32(_mm512_castsi512_si128(carry));
    bool beyond = _mm512_test_epi32_mask(outside, _mm512_set1_epi32(~((1 << 25) - 1))) != 0;
    for (; i < count; ++i) {
        std::int32_t element;
        if constexpr (sizeof(T) == 1) element = static_cast<T>(bytes[i]);
        else {
            T value;
            std::memcpy(&value, bytes + i * sizeof(T), sizeof value);
            element = value;
        }
        sum += element;
        beyond = beyond || ((static_cast<std::uint32_t>(sum) + (std::uint32_t{1} << 24)) >> 25) != 0;
        out[i] = static_cast<float>(sum) / factor;
    }
    if (beyond) return false;
    last = sum;
    return true;
}

}  // namespace

// One function for each element type, each compiled for AVX-512.
#define SUM_DELTAS_AVX512(T)                                                                                        \
    template <>                                                                                                     \
    [[gnu::target("avx512f,avx512bw,avx512vl,avx2,bmi,bmi2")]] bool sum_deltas_avx512<T>(                           \
        const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out) {                       \
        return sum_deltas<T>(bytes, count, last, factor, out);                                                      \
    }
SUM_DELTAS_AVX512(std::int8_t)
SUM_DELTAS_AVX512(std::uint8_t)
SUM_DELTAS_AVX512(std::int16_t)
SUM_DELTAS_AVX512(std::uint16_t)

}  // namespace record_scan

#endif
