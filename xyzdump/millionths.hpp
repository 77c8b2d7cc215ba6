// What every fast way of writing "%f" relies on: a float's magnitude times
// 10^6, as a double, is exact, and adding 2^52 to it rounds it to the
// integer printf would print, half to even (the reasoning is in
// csv_rows.cpp).
#pragma once

#include <cfloat>
#include <limits>

namespace xyzdump::millionths {

// Both steps need double arithmetic done in doubles, in the default rounding
// mode, and kept as written: not so with x87 excess precision or fast-math
// reassociation, where everything takes the exact path.
#ifdef __FAST_MATH__
inline constexpr bool reassociates = true;
#else
inline constexpr bool reassociates = false;
#endif
inline constexpr bool doubles_round_as_declared =
    FLT_EVAL_METHOD == 0 && std::numeric_limits<double>::is_iec559 && !reassociates;

inline constexpr double two_to_52 = 0x1p52;

// Products below this round to at most 9999.999999: four integer digits.
inline constexpr double fast_limit = 9999999999.5;

// n / 10^6 for n < 10^10 is ((n >> 6) * divide_by_15625) >> 42 (see csv_rows.cpp).
inline constexpr unsigned divide_by_15625 = 281474977;

}  // namespace xyzdump::millionths
