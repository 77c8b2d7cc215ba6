// A coordinate as an mmCIF text writes it: an unquoted
// [+-]?(digits[.digits]|digits.|.digits)([eE][+-]?digits)?, optionally
// followed by a standard uncertainty "(digits)", which is ignored.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace record_scan {

// True, with `value` the nearest single-precision value (correctly
// rounded, as strtof gives it), when the whole of `text` is such a number.
bool read_cif_number(std::string_view text, float& value);

// The same in two steps, the grammar then the value: for every form.
bool read_any_cif_number(std::string_view text, float& value);

// A number whose text comes in pieces of any length, read in constant
// memory: the first significant digits are kept (enough to round any
// single-precision value correctly) and whether a nonzero digit followed.
class CifNumberPieces {
public:
    void add(std::string_view piece);
    // False when the text so far is no number.
    bool value(float& value) const;

private:
    enum class Part : unsigned char {
        start, after_sign, whole, point_first, fraction, exponent_mark, exponent_sign, exponent,
        uncertainty_open, uncertainty, closed, not_number,
    };
    void add_digit(int digit, bool in_fraction);
    Part next_part(char c) const;

    // 113 significant digits decide the rounding of every single-precision
    // value; a few more for safety.
    static constexpr int kept_digits = 120;
    Part part_ = Part::start;
    bool negative_ = false;
    char digits_[kept_digits] = {};
    int digit_count_ = 0;
    bool nonzero_dropped_ = false;
    long long point_ = 0;  // the value is 0.digits times ten to the power point + exponent
    bool exponent_negative_ = false;
    long long exponent_ = 0;  // saturated: beyond it every value is zero or infinite
};

namespace cif_number_detail {

constexpr std::uint64_t every_byte(std::uint8_t value) { return 0x0101010101010101u * value; }

// Eight decimal digits, the first in the lowest byte, as a number.
constexpr std::uint32_t eight_digits_value(std::uint64_t digits) {
    digits = ((digits & every_byte(0x0f)) * (10 * 256 + 1)) >> 8;
    digits = ((digits & 0x00ff00ff00ff00ffu) * (100 * 65536 + 1)) >> 16;
    return static_cast<std::uint32_t>(((digits & 0x0000ffff0000ffffu) * (10000 * (std::uint64_t{1} << 32) + 1)) >> 32);
}

// Every power here is exact in single precision (5^10 < 2^24), so one
// correctly rounded division of two exact values is correctly rounded.
inline constexpr float exact_powers_of_ten[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f};
inline constexpr std::uint32_t exact_mantissa_limit = std::uint32_t{1} << 24;

}  // namespace cif_number_detail

// The same for a text of `length` bytes at `data` that has at least 8 more
// readable bytes after it, whatever they hold. The common case,
// [-]digits[.digits] in at most 8 bytes after the sign, is read from one
// 8-byte load, every digit and the point judged at once; any other text
// goes to read_any_cif_number.
inline bool read_cif_number_padded(const char* data, std::size_t length, float& value) {
    using namespace cif_number_detail;
    if constexpr (std::endian::native != std::endian::little) return read_any_cif_number({data, length}, value);
    const bool negative = length != 0 && data[0] == '-';
    const std::size_t bytes = length - negative;
    if (bytes - 1 >= 8) return read_any_cif_number({data, length}, value);  // none, or more than 8
    std::uint64_t word;
    std::memcpy(&word, data + negative, sizeof word);
    // Coordinates as they are nearly always written, 1 to 4 digits, a point
    // and 3 digits: moved to the top of the word, the point is byte 4.
    if (bytes >= 5 && data[negative + bytes - 4] == '.') {
        const std::uint64_t offsets = (word ^ every_byte('0')) << (8 * (8 - bytes));
        const std::uint64_t digits = ((offsets & 0xffffffffu) << 8) | (offsets & 0xffffff0000000000u);
        const std::uint64_t not_digits = (((digits & every_byte(0x7f)) + every_byte(0x76)) | digits) & every_byte(0x80);
        if (not_digits == 0) {
            value = static_cast<float>(eight_digits_value(digits)) / 1000.0f;
            value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(value) ^ (std::uint32_t{negative} << 31));
            return true;
        }
    }
    const std::uint64_t used = ~std::uint64_t{0} >> (64 - 8 * bytes);
    const std::uint64_t offsets = (word ^ every_byte('0')) & used;  // digits become 0 to 9
    // The first point: the lowest byte that is zero after an exclusive or
    // with '.' ^ '0'; bytes past the text are made nonzero.
    const std::uint64_t probe = (offsets ^ every_byte('.' ^ '0')) | ~used;
    const std::uint64_t zeros = (probe - every_byte(1)) & ~probe & every_byte(0x80);
    // The digits, the point taken out and the bytes above it moved down.
    std::uint64_t digits = offsets;
    std::size_t count = bytes;
    std::size_t fraction_digits = 0;
    if (zeros != 0) {
        const std::uint64_t below_point = (zeros ^ (zeros - 1)) >> 8;
        digits = (offsets & below_point) | ((offsets >> 8) & ~below_point);
        --count;
        fraction_digits = count - static_cast<std::size_t>(std::countr_zero(zeros)) / 8;
    }
    if (count == 0) return false;  // a point alone
    const std::uint64_t not_digits = (((digits & every_byte(0x7f)) + every_byte(0x76)) | digits) &
                                     every_byte(0x80) & (~std::uint64_t{0} >> (64 - 8 * count));
    if (not_digits != 0) return read_any_cif_number({data, length}, value);
    const std::uint32_t mantissa = eight_digits_value(digits << (8 * (8 - count)));
    if (mantissa > exact_mantissa_limit) return read_any_cif_number({data, length}, value);
    value = static_cast<float>(mantissa) / exact_powers_of_ten[fraction_digits];
    // The sign as a bit: signs follow no pattern a branch could learn.
    value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(value) ^ (std::uint32_t{negative} << 31));
    return true;
}

}  // namespace record_scan
