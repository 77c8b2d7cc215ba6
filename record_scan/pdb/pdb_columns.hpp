// The fixed coordinate columns of the PDB layout, for records whose
// numbers touch so that no free-form reading can split them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "record_scan.hpp"

namespace record_scan {

// Columns numbered from 1, both ends included, as the format documents them.
struct ColumnRange {
    std::size_t first;
    std::size_t last;
};

inline constexpr ColumnRange x_columns{31, 38};
inline constexpr ColumnRange y_columns{39, 46};
inline constexpr ColumnRange z_columns{47, 54};

// Reads one coordinate field: a single number with nothing but blanks
// around it. False for an empty field, a field cut short by the end of the
// line, or one holding a tab, carriage return, line feed or zero byte.
bool read_coordinate_field(std::string_view line, ColumnRange columns, float& value);

// Reads X, Y and Z from their columns; false if any field fails.
bool read_coordinates_by_columns(std::string_view line, AtomXyz& atom);

// The common case, read fast: X, Y and Z each written "%8.3f" in its
// columns and nothing after Z that could continue it. For such a record
// the free-form reading and the column reading give the same three values,
// so this is both. False, with `atom` unspecified, for any other record.
bool read_fixed_point_fields(std::string_view line, AtomXyz& atom);

// The same records' fields as signed thousandths ("-0.000" is 0), for a
// fold that needs no float per record.
bool read_fixed_point_thousandths(std::string_view line, std::int32_t (&thousandths)[3]);

}  // namespace record_scan
