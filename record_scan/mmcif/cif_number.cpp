#include "mmcif/cif_number.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mmcif/cif_tokenizer.hpp"

namespace record_scan {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char* skip_digits(const char* p, const char* end) {
    while (p != end && is_digit(*p)) ++p;
    return p;
}

// Any other number of the form: from_chars reads it correctly rounded, but
// declines a value beyond the range, where strtof gives infinity or zero.
float convert_general(const char* p, const char* end) {
    float value = 0;
    auto [stop, error] = std::from_chars(p, end, value, std::chars_format::general);
    if (error == std::errc{} && stop == end) return value;
    char copy[cif_kept_bytes + 1];
    std::size_t length = static_cast<std::size_t>(end - p);
    std::memcpy(copy, p, length);
    copy[length] = '\0';
    return std::strtof(copy, nullptr);
}

}  // namespace

bool read_any_cif_number(std::string_view text, float& value) {
    if (text.size() > cif_kept_bytes) {
        CifNumberPieces pieces;
        pieces.add(text);
        return pieces.value(value);
    }
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* const mantissa_begin = p;
    p = skip_digits(p, end);
    bool has_digits = p != mantissa_begin;
    if (p != end && *p == '.') {
        const char* fraction = p + 1;
        p = skip_digits(fraction, end);
        has_digits = has_digits || p != fraction;
    }
    if (!has_digits) return false;
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p != end && (*p == '+' || *p == '-')) ++p;
        const char* exponent = p;
        p = skip_digits(p, end);
        if (p == exponent) return false;
    }
    const char* const number_end = p;
    if (p != end) {  // only a standard uncertainty may follow
        if (*p != '(') return false;
        const char* uncertainty = p + 1;
        p = skip_digits(uncertainty, end);
        if (p == uncertainty || p == end || *p != ')' || p + 1 != end) return false;
    }
    value = convert_general(mantissa_begin, number_end);
    // Rounding to nearest is symmetric: the sign can come after it.
    if (negative) value = -value;
    return true;
}

bool read_cif_number(std::string_view text, float& value) {
    if (text.size() > cif_kept_bytes) return read_any_cif_number(text, value);
    // Room for the word-at-a-time reading.
    char padded[cif_kept_bytes + 8] = {};
    std::memcpy(padded, text.data(), text.size());
    return read_cif_number_padded(padded, text.size(), value);
}

CifNumberPieces::Part CifNumberPieces::next_part(char c) const {
    const bool digit = is_digit(c);
    switch (part_) {
        case Part::start:
            if (c == '+' || c == '-') return Part::after_sign;
            [[fallthrough]];
        case Part::after_sign:
            return digit ? Part::whole : c == '.' ? Part::point_first : Part::not_number;
        case Part::whole:
            if (digit) return Part::whole;
            if (c == '.') return Part::fraction;
            [[fallthrough]];
        case Part::fraction:
            if (digit) return Part::fraction;
            if (c == 'e' || c == 'E') return Part::exponent_mark;
            return c == '(' ? Part::uncertainty_open : Part::not_number;
        case Part::point_first: return digit ? Part::fraction : Part::not_number;
        case Part::exponent_mark:
            if (c == '+' || c == '-') return Part::exponent_sign;
            [[fallthrough]];
        case Part::exponent_sign: return digit ? Part::exponent : Part::not_number;
        case Part::exponent:
            if (digit) return Part::exponent;
            return c == '(' ? Part::uncertainty_open : Part::not_number;
        case Part::uncertainty_open:
        case Part::uncertainty:
            if (digit) return Part::uncertainty;
            return c == ')' && part_ == Part::uncertainty ? Part::closed : Part::not_number;
        case Part::closed:
        case Part::not_number: return Part::not_number;
    }
    return Part::not_number;
}

void CifNumberPieces::add_digit(int digit, bool in_fraction) {
    if (digit_count_ == 0 && digit == 0) {
        if (in_fraction) --point_;  // a zero before the first significant digit
        return;
    }
    if (!in_fraction) ++point_;
    if (digit_count_ < kept_digits) digits_[digit_count_++] = static_cast<char>('0' + digit);
    else nonzero_dropped_ = nonzero_dropped_ || digit != 0;
}

void CifNumberPieces::add(std::string_view piece) {
    constexpr long long exponent_limit = 1'000'000'000;
    for (char c : piece) {
        const Part part = next_part(c);
        if (part == Part::not_number) {
            part_ = part;
            return;
        }
        if (part_ == Part::start) negative_ = c == '-';
        if (part == Part::whole || (part == Part::fraction && is_digit(c)))
            add_digit(c - '0', part == Part::fraction);
        if (part == Part::exponent_sign) exponent_negative_ = c == '-';
        if (part == Part::exponent && exponent_ < exponent_limit) exponent_ = exponent_ * 10 + (c - '0');
        part_ = part;
    }
}

bool CifNumberPieces::value(float& value) const {
    if (part_ != Part::whole && part_ != Part::fraction && part_ != Part::exponent && part_ != Part::closed)
        return false;
    // The digits kept, and a 1 after them for any nonzero digit dropped, say
    // on which side of a halfway point the whole text lies.
    char text[kept_digits + 48];
    int length = std::snprintf(text, sizeof text, "%s0.%.*s%se%lld", negative_ ? "-" : "", digit_count_, digits_,
                               nonzero_dropped_ ? "1" : "", point_ + (exponent_negative_ ? -exponent_ : exponent_));
    value = length > 0 && digit_count_ > 0 ? std::strtof(text, nullptr) : (negative_ ? -0.0f : 0.0f);
    return true;
}

}  // namespace record_scan
