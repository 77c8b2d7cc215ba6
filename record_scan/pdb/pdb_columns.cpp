#include "pdb/pdb_columns.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "pdb/number_scan.hpp"

namespace record_scan {
namespace {

// Byte-parallel arithmetic on a field held in one 64-bit word, first byte
// lowest.
constexpr std::uint64_t every_byte(std::uint8_t value) { return 0x0101010101010101u * value; }

// One "%8.3f" field: blanks, an optional minus, one to four digits, the
// point and three digits. Checked without branches, as the sign and width
// vary at random; the thousandths are garbage when the field is not of
// this form.
struct FixedPointField {
    std::uint32_t thousandths;  // the magnitude
    bool negative;
    bool shaped;
};

[[gnu::always_inline]] inline FixedPointField judge_fixed_point_field(const char* field) {
    std::uint64_t word;
    std::memcpy(&word, field, sizeof word);
    const std::uint64_t digits = word ^ every_byte('0');  // digits become 0 to 9
    const std::uint64_t above_nine =
        (((digits & every_byte(0x7f)) + every_byte(0x76)) | digits) & every_byte(0x80);
    const std::uint64_t others = (above_nine >> 7) * 0xff;  // 0xff in each byte that is no digit
    // Those must be the point (byte 4) and the lead: without the point, a
    // run of none to three 0xff bytes from the lowest.
    const std::uint64_t lead = others ^ (std::uint64_t{0xff} << 32);
    const bool shaped = (lead & (lead + 1)) == 0 && lead <= 0xffffff;
    // Blanks in the lead, the last of them may be a minus; then the point.
    const std::uint64_t off_pattern = (word ^ 0x0000002e20202020u) & others;
    const std::uint64_t minus_last = ((lead + 1) >> 8) * std::uint64_t{'-' ^ ' '};
    const bool negative = off_pattern != 0;
    // With the lead cleared and the point read as a zero digit, the weights
    // are fixed: pairs (x10 + x1), then the integer and the fraction (x100
    // + x1), then integer x1000 + fraction. No step carries into the next
    // byte or half, and the result is below 10^7 < 2^24.
    std::uint64_t number = digits & ~others;
    number = (number * 10 + (number >> 8)) & 0x00ff00ff00ff00ffu;
    number = (number * 100 + (number >> 16)) & 0x0000ffff0000ffffu;
    const auto thousandths = static_cast<std::uint32_t>((number & 0xffffffffu) * 1000 + (number >> 32));
    return {thousandths, negative, static_cast<bool>(shaped & (!negative | (off_pattern == minus_last)))};
}

// The field's value: both operands are exact in single precision, so the
// one correctly rounded division is the nearest float, as sscanf gives.
[[gnu::always_inline]] inline bool read_fixed_point_field(const char* field, float& value) {
    const FixedPointField judged = judge_fixed_point_field(field);
    const float magnitude = static_cast<float>(judged.thousandths) / 1000.0f;
    const std::uint32_t sign = std::uint32_t{judged.negative} << 31;
    value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | sign);
    return judged.shaped;
}

// The field's signed thousandths ("-0.000" is 0).
[[gnu::always_inline]] inline bool read_fixed_point_field(const char* field, std::int32_t& value) {
    const FixedPointField judged = judge_fixed_point_field(field);
    const auto magnitude = static_cast<std::int32_t>(judged.thousandths);
    value = judged.negative ? -magnitude : magnitude;
    return judged.shaped;
}

// After Z, a byte that would carry the free-form reading of Z further.
constexpr bool continues_z(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E';
}

std::string_view column_text(std::string_view line, ColumnRange columns) {
    return line.substr(columns.first - 1, columns.last - columns.first + 1);
}

std::string_view trim_blanks(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool holds_space_or_zero(std::string_view text) {
    for (char c : text)
        if (c == '\0' || is_c_space(c)) return true;
    return false;
}

}  // namespace

bool read_coordinate_field(std::string_view line, ColumnRange columns, float& value) {
    if (line.size() < z_columns.last) return false;
    std::string_view number = trim_blanks(column_text(line, columns));
    if (number.empty() || holds_space_or_zero(number)) return false;
    return parse_whole_number(number, value);
}

bool read_coordinates_by_columns(std::string_view line, AtomXyz& atom) {
    return read_coordinate_field(line, x_columns, atom.x) &&
           read_coordinate_field(line, y_columns, atom.y) &&
           read_coordinate_field(line, z_columns, atom.z);
}

// All three are read before any is judged: one branch, not three.
template <typename Value>
bool read_three_fixed_point_fields(std::string_view line, Value& x, Value& y, Value& z) {
    // The word-parallel reading takes the first byte as the lowest.
    if constexpr (std::endian::native != std::endian::little) return false;
    if (line.size() < z_columns.last) return false;
    if (line.size() > z_columns.last && continues_z(line[z_columns.last])) return false;
    const char* text = line.data();
    bool x_read = read_fixed_point_field(text + x_columns.first - 1, x);
    bool y_read = read_fixed_point_field(text + y_columns.first - 1, y);
    bool z_read = read_fixed_point_field(text + z_columns.first - 1, z);
    return x_read && y_read && z_read;
}

bool read_fixed_point_fields(std::string_view line, AtomXyz& atom) {
    return read_three_fixed_point_fields(line, atom.x, atom.y, atom.z);
}

bool read_fixed_point_thousandths(std::string_view line, std::int32_t (&thousandths)[3]) {
    return read_three_fixed_point_fields(line, thousandths[0], thousandths[1], thousandths[2]);
}

}  // namespace record_scan
