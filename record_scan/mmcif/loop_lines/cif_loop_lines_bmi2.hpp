// The bit counting and selecting that the AVX2 and AVX-512 builds of the
// fast loop-line reading share: one population count and one bit deposit
// each. Compiled into each caller for its own instructions (the target
// attribute), so include it only where BMI2 and POPCNT were found.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace record_scan::loop_lines::bmi2 {

#define BIT_SELECT_FUNCTION [[gnu::target("bmi,bmi2,popcnt"), gnu::always_inline]] inline

// The starts left after dropping up to `skip` of the lowest; how many went, in `passed`.
BIT_SELECT_FUNCTION std::uint64_t pass_starts(std::uint64_t starts, std::size_t skip, std::size_t& passed) {
    std::size_t count = static_cast<std::size_t>(_mm_popcnt_u64(starts));
    if (count <= skip) {
        passed = count;
        return 0;
    }
    passed = skip;
    std::uint64_t kept_first = _pdep_u64(std::uint64_t{1} << skip, starts);
    return starts & ~(kept_first - 1);
}

BIT_SELECT_FUNCTION unsigned count_bits(std::uint64_t bits) { return static_cast<unsigned>(_mm_popcnt_u64(bits)); }

// The offset of set bit `k` (from 0) of `bits`; 64 when there are fewer.
BIT_SELECT_FUNCTION unsigned select_bit(std::uint64_t bits, unsigned k) {
    return static_cast<unsigned>(_tzcnt_u64(_pdep_u64(std::uint64_t{1} << (k & 63), bits)));
}

#undef BIT_SELECT_FUNCTION

}  // namespace record_scan::loop_lines::bmi2

#endif
