#include "pdb/number_scan.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace record_scan {
namespace {

// A chunk holds at most 99 bytes, so every text fits with its zero byte.
constexpr std::size_t max_text_bytes = 99;

// Copies `text` up to its first zero byte into `into`, zero-terminated.
std::size_t copy_as_c_string(std::string_view text, char (&into)[max_text_bytes + 1]) {
    std::size_t length = text.size() < max_text_bytes ? text.size() : max_text_bytes;
    const void* zero = std::memchr(text.data(), '\0', length);
    if (zero != nullptr) length = static_cast<const char*>(zero) - text.data();
    std::memcpy(into, text.data(), length);
    into[length] = '\0';
    return length;
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Every power here is exact in single precision (5^10 < 2^24), so one
// correctly rounded division gives the correctly rounded quotient.
constexpr float exact_powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                         1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr std::uint64_t exact_mantissa_limit = std::uint64_t{1} << 24;
constexpr int max_fast_digits = 19;  // still fits in 64 bits

// Reads one plain decimal at `p`; false when it is anything else.
bool read_plain_decimal(const char*& p, const char* end, float& value) {
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    const char* digits_begin = p;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction_digits = 0;
    for (; p != end && is_digit(*p); ++p, ++digits) mantissa = mantissa * 10 + (*p - '0');
    if (p != end && *p == '.') {
        for (++p; p != end && is_digit(*p); ++p, ++digits, ++fraction_digits)
            mantissa = mantissa * 10 + (*p - '0');
    }
    if (digits == 0 || digits > max_fast_digits) return false;
    if (mantissa <= exact_mantissa_limit && fraction_digits <= 10) {
        value = static_cast<float>(mantissa) / exact_powers_of_ten[fraction_digits];
    } else {
        auto [stop, error] = std::from_chars(digits_begin, p, value, std::chars_format::fixed);
        if (error != std::errc{} || stop != p) return false;
    }
    if (negative) value = -value;
    return true;
}

// Characters after a number that could continue it in some form the fast
// path does not read (a second point, an exponent, a hexadecimal prefix).
constexpr bool may_continue_number(char c) {
    return c == '.' || c == 'e' || c == 'E' || c == 'x' || c == 'X';
}

}  // namespace

ScannedNumbers scan_numbers_exact(std::string_view text) {
    char copy[max_text_bytes + 1];
    copy_as_c_string(text, copy);
    ScannedNumbers out;
    int end[3] = {0, 0, 0};
    out.count = std::sscanf(copy, "%f%n%f%n%f%n", &out.value[0], &end[0], &out.value[1],
                            &end[1], &out.value[2], &end[2]);
    if (out.count < 0) out.count = 0;  // EOF: nothing but white space
    for (int i = 0; i < out.count; ++i) out.end[i] = static_cast<std::size_t>(end[i]);
    return out;
}

bool scan_numbers_fast(std::string_view text, ScannedNumbers& out) {
    const char* p = text.data();
    const char* const end = p + text.size();
    for (int i = 0; i < 3; ++i) {
        while (p != end && is_c_space(*p)) ++p;
        if (!read_plain_decimal(p, end, out.value[i])) return false;
        out.end[i] = static_cast<std::size_t>(p - text.data());
        if (p == end) {
            if (i < 2) return false;
            continue;
        }
        // Between numbers only a separator the next conversion skips or
        // starts with is sure; after the last, only what cannot continue it.
        bool sure = i < 2 ? (is_c_space(*p) || *p == '-' || *p == '+') : !may_continue_number(*p);
        if (!sure) return false;
    }
    out.count = 3;
    return true;
}

bool parse_whole_number(std::string_view text, float& value) {
    char copy[max_text_bytes + 1];
    std::size_t length = copy_as_c_string(text, copy);
    if (length != text.size() || length == 0) return false;
    int consumed = 0;
    return std::sscanf(copy, "%f%n", &value, &consumed) == 1 &&
           static_cast<std::size_t>(consumed) == length;
}

}  // namespace record_scan
