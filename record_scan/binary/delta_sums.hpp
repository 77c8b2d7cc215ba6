// The inner loop of the archive's coordinate chain (FixedPoint over Delta
// over IntegerPacking of small integers): packed deltas summed into
// integers and divided by the fixed-point factor, in 32-bit lanes while
// the sums stay within 2^24, where a float holds them exactly and one
// correctly rounded division is the nearest float to the quotient. A
// portable way (SSE2 on any x86-64) and an AVX-512 way, chosen by kernel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "record_scan.hpp"

namespace record_scan {

// Adds the `count` little-endian T elements at `bytes` to `last` one after
// another, writing each sum divided by `factor` into `out`. False, with
// `last` as it was and `out` to be written again, when some sum leaves
// [-2^24, 2^24): the caller then sums in 64 bits.
template <typename T>
using DeltaSummer = bool (*)(const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out);

// The summer of a kernel; the portable one for a kernel this machine cannot run.
template <typename T>
DeltaSummer<T> delta_summer(Kernel kernel);

template <typename T>
bool sum_deltas_portable(const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out);
#if defined(__x86_64__)
template <typename T>
bool sum_deltas_avx512(const char* bytes, std::size_t count, std::int32_t& last, float factor, float* out);
#endif

}  // namespace record_scan
