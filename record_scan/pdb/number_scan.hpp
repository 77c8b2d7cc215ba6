// Reading the three coordinates that sscanf("%f%f%f") would read from a text.
//
// Two ways to one answer: a fast path for the plain decimals that structure
// files hold, and the C library itself for every other form (hexadecimal,
// exponents, inf, nan and the partial forms glibc accepts). The fast path
// declines whatever it is not sure of, so the answer is always the library's.
#pragma once

#include <cstddef>
#include <string_view>

namespace record_scan {

struct ScannedNumbers {
    int count = 0;              // how many conversions succeeded, 0 to 3
    float value[3] = {0, 0, 0};
    std::size_t end[3] = {0, 0, 0};  // offset just past each number read
};

// The C library's reading of `text` up to its first zero byte.
ScannedNumbers scan_numbers_exact(std::string_view text);

// The same reading for texts of three plain decimals ([+-]digits[.digits])
// separated by white space or signs; false, with `out` unspecified, for any
// other text.
bool scan_numbers_fast(std::string_view text, ScannedNumbers& out);

// True when the whole of `text` is one number in the C library's syntax.
bool parse_whole_number(std::string_view text, float& value);

// White space as the C locale's isspace knows it.
constexpr bool is_c_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace record_scan
