#include "pdb_columns.hpp"

#include "number_scan.hpp"

namespace record_scan {
namespace {

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

}  // namespace record_scan
