// The nearest single-precision value to an exact quotient k / f, as
// reading the decimal text of k / 10^d gives it. A quotient taken in
// double and then rounded to float is rounded twice, and now and then
// lands one step off.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace record_scan {

// Both exact in single precision: one IEEE division rounds once.
inline bool quotient_is_direct(std::int64_t k, float factor) { return std::llabs(k) <= (std::int64_t{1} << 24) && factor != 0; }

// Any k and any finite, nonzero factor: the quotient in extended precision
// is rounded again to float, which errs only when it lands on the midpoint
// of two floats; there the sign of the exact remainder decides.
inline float exact_quotient_slow(std::int64_t k, double factor) {
    const long double q = static_cast<long double>(k) / static_cast<long double>(factor);
    const float rounded = static_cast<float>(q);
    if (static_cast<long double>(rounded) == q || !std::isfinite(rounded)) return rounded;
    const float other = std::nextafter(rounded, q > rounded ? INFINITY : -INFINITY);
    const long double midpoint = (static_cast<long double>(rounded) + other) / 2;
    if (q != midpoint) return rounded;
    // k - midpoint * factor, with its exact sign (one rounding).
    const long double remainder = std::fmal(-midpoint, static_cast<long double>(factor), static_cast<long double>(k));
    if (remainder == 0) return rounded;  // a true tie: ties to even, as the conversion did
    const bool above = (remainder > 0) == (factor > 0);  // the exact quotient lies above the midpoint
    const float high = std::fmax(rounded, other), low = std::fmin(rounded, other);
    return above ? high : low;
}

// `factor_as_float` is the factor when single precision holds it exactly, else 0.
inline float exact_quotient(std::int64_t k, double factor, float factor_as_float) {
    if (quotient_is_direct(k, factor_as_float)) return static_cast<float>(k) / factor_as_float;
    return exact_quotient_slow(k, factor);
}

inline float factor_as_float(double factor) {
    const float narrow = static_cast<float>(factor);
    return static_cast<double>(narrow) == factor ? narrow : 0.0f;
}

}  // namespace record_scan
