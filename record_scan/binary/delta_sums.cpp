#include "binary/delta_sums.hpp"

#include <bit>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace record_scan {
namespace {

template <typename T>
T element(const char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native != std::endian::little && sizeof value > 1) {
        char reversed[sizeof value];
        for (std::size_t i = 0; i < sizeof value; ++i) reversed[i] = bytes[sizeof value - 1 - i];
        std::memcpy(&value, reversed, sizeof value);
    }
    return value;
}

// Nonzero when k lies outside [-2^24, 2^24).
inline std::uint32_t outside_float(std::int32_t k) {
    return (static_cast<std::uint32_t>(k) + (std::uint32_t{1} << 24)) >> 25;
}

#if defined(__SSE2__)
// Four elements as 32-bit lanes.
template <typename T>
__m128i widened(const char* bytes) {
    if constexpr (std::is_same_v<T, std::int16_t> && std::endian::native == std::endian::little) {
        const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes));
        return _mm_srai_epi32(_mm_unpacklo_epi16(four, four), 16);
    } else {
        return _mm_setr_epi32(element<T>(bytes), element<T>(bytes + sizeof(T)), element<T>(bytes + 2 * sizeof(T)),
                              element<T>(bytes + 3 * sizeof(T)));
    }
}
#endif

}  // namespace

// Four lanes at a time where SSE2 is (every x86-64), one at a time after.
template <typename T>
bool sum_deltas_portable(const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out) {
    std::int32_t sum = last;
    std::size_t i = 0;
    bool beyond = false;
#if defined(__SSE2__)
    const __m128 divisor = _mm_set1_ps(factor);
    const __m128i offset = _mm_set1_epi32(1 << 24);
    __m128i carry = _mm_set1_epi32(sum), outside = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        __m128i sums = widened<T>(bytes + i * sizeof(T));
        sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 4));
        sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
        sums = _mm_add_epi32(sums, carry);
        carry = _mm_shuffle_epi32(sums, 0xff);
        outside = _mm_or_si128(outside, _mm_srli_epi32(_mm_add_epi32(sums, offset), 25));
        _mm_storeu_ps(out + i, _mm_div_ps(_mm_cvtepi32_ps(sums), divisor));
    }
    sum = _mm_cvtsi128_si32(carry);
    beyond = _mm_movemask_epi8(_mm_cmpeq_epi32(outside, _mm_setzero_si128())) != 0xffff;
#endif
    for (; i < count; ++i) {
        sum += element<T>(bytes + i * sizeof(T));
        beyond = beyond || outside_float(sum) != 0;
        out[i] = static_cast<float>(sum) / factor;
    }
    if (beyond) return false;
    last = sum;
    return true;
}

template <typename T>
DeltaSummer<T> delta_summer(Kernel kernel) {
#if defined(__x86_64__)
    for (Kernel available : available_kernels())
        if (available == kernel && kernel == Kernel::avx512) return sum_deltas_avx512<T>;
#endif
    return sum_deltas_portable<T>;
}

template DeltaSummer<std::int8_t> delta_summer<std::int8_t>(Kernel);
template DeltaSummer<std::uint8_t> delta_summer<std::uint8_t>(Kernel);
template DeltaSummer<std::int16_t> delta_summer<std::int16_t>(Kernel);
template DeltaSummer<std::uint16_t> delta_summer<std::uint16_t>(Kernel);
template bool sum_deltas_portable<std::int8_t>(const char*, std::size_t, std::int32_t&, float, float*);
template bool sum_deltas_portable<std::uint8_t>(const char*, std::size_t, std::int32_t&, float, float*);
template bool sum_deltas_portable<std::int16_t>(const char*, std::size_t, std::int32_t&, float, float*);
template bool sum_deltas_portable<std::uint16_t>(const char*, std::size_t, std::int32_t&, float, float*);

}  // namespace record_scan
