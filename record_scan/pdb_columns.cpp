#include "pdb_columns.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "number_scan.hpp"

namespace record_scan {
namespace {

// Byte-parallel tests on a field held in one 64-bit word (first byte
// lowest): each gives 0x80 in the bytes that pass.
constexpr std::uint64_t every_byte(std::uint8_t value) { return 0x0101010101010101u * value; }

constexpr std::uint64_t digit_bytes(std::uint64_t word) {
    std::uint64_t offset = word ^ every_byte('0');  // digits become 0 to 9
    std::uint64_t above_nine = ((offset & every_byte(0x7f)) + every_byte(0x76)) | offset;
    return ~above_nine & every_byte(0x80);
}

// Seven digits, the first most significant, one per byte with a zero byte
// before them: the integer they spell, by three multiplications.
constexpr std::uint32_t spelled_number(std::uint64_t digits) {
    digits = digits * 10 + (digits >> 8);
    constexpr std::uint64_t pairs = 0x000000ff000000ffu;
    digits = ((digits & pairs) * (100 + (std::uint64_t{1000000} << 32)) +
              ((digits >> 16) & pairs) * (1 + (std::uint64_t{10000} << 32))) >> 32;
    return static_cast<std::uint32_t>(digits);
}

// One "%8.3f" field: blanks, an optional minus, one to four digits, the
// point and three digits. Its mantissa is below 2^24, so one correctly
// rounded division by 1000 gives the nearest single-precision value.
// Checked without branches, as the sign and width vary at random; `value`
// is garbage when the field is not of this form.
[[gnu::always_inline]] inline bool read_fixed_point_field(const char* field, float& value) {
    std::uint64_t word;
    std::memcpy(&word, field, sizeof word);
    std::uint64_t others = ((~digit_bytes(word) & every_byte(0x80)) >> 7) * 0xff;
    // The bytes before the integer digits (none to three of them) and the point.
    std::uint64_t lead = others & 0xffffffffu;
    bool shaped = (others >> 32) == 0xff && (lead & (lead + 1)) == 0 && lead != 0xffffffffu;
    // Blanks in the lead, the last of them may be a minus; then the point.
    constexpr std::uint64_t blanks_and_point = 0x0000002e20202020u;
    std::uint64_t off_pattern = (word ^ blanks_and_point) & others;
    std::uint64_t minus_last = ((lead + 1) >> 8) * std::uint64_t{'-' ^ ' '};
    bool negative = off_pattern != 0;
    // Clear the lead and the point, then close the gap the point leaves.
    std::uint64_t values = (word ^ every_byte('0')) & ~others;
    std::uint64_t spelled = ((values & 0xffffffffu) << 8) | (values & 0xffffff0000000000u);
    float magnitude = static_cast<float>(spelled_number(spelled)) / 1000.0f;
    std::uint32_t sign = std::uint32_t{negative} << 31;
    value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | sign);
    return shaped & (!negative | (off_pattern == minus_last));
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

bool read_fixed_point_fields(std::string_view line, AtomXyz& atom) {
    // The word-parallel reading takes the first byte as the lowest.
    if constexpr (std::endian::native != std::endian::little) return false;
    if (line.size() < z_columns.last) return false;
    if (line.size() > z_columns.last && continues_z(line[z_columns.last])) return false;
    // All three are read before any is judged: one branch, not three.
    const char* text = line.data();
    bool x = read_fixed_point_field(text + x_columns.first - 1, atom.x);
    bool y = read_fixed_point_field(text + y_columns.first - 1, atom.y);
    bool z = read_fixed_point_field(text + z_columns.first - 1, atom.z);
    return x && y && z;
}

}  // namespace record_scan
