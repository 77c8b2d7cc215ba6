// What the values of the _atom_site category mean: which data names hold
// the coordinates and the record group, and the rows of an _atom_site loop,
// judged row by row. Shared by the exact token reading and the fast line
// reading, so that both give one answer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "mmcif/any_case.hpp"
#include "mmcif/cif_number.hpp"
#include "mmcif/cif_outcomes.hpp"
#include "mmcif/cif_tokenizer.hpp"

namespace record_scan {

// A value as the readings see it: `data` holds its first bytes (all of
// them when `length` is at most cif_kept_bytes, or when `token` is null),
// and 8 more bytes after them can be read.
struct CifValue {
    const char* data;
    std::size_t length;
    CifQuoting quoting;
    const CifToken* token = nullptr;  // a token read in pieces, when it is one

    static CifValue of(const CifToken& token) { return {token.kept, token.length, token.quoting, &token}; }
};

// True when the value is a coordinate: an unquoted CIF number.
inline bool read_coordinate(const CifValue& value, float& coordinate) {
    if (value.quoting != CifQuoting::bare) return false;
    if (value.length <= cif_kept_bytes) return read_cif_number_padded(value.data, value.length, coordinate);
    if (value.token == nullptr) return read_any_cif_number({value.data, value.length}, coordinate);
    coordinate = value.token->long_number;
    return value.token->long_is_number;
}

// True for "ATOM" and "HETATM", quoted or not.
inline bool is_atom_group(const CifValue& value) {
    return (value.length == 4 && std::memcmp(value.data, "ATOM", 4) == 0) ||
           (value.length == 6 && std::memcmp(value.data, "HETATM", 6) == 0);
}

enum class AtomSiteItem : unsigned char {
    foreign,  // a data name of another category
    other,    // of _atom_site, not looked at
    cartn_x,
    cartn_y,
    cartn_z,
    group_pdb,
};

// True when the name's category (the name up to its first '.', or all of
// it) is _atom_site, in any letter case. "_atom_site" holds no '.', so its
// ten bytes and the one after them tell.
inline bool names_atom_site_category(std::string_view name) {
    constexpr std::string_view atom_site = "_atom_site";
    return starts_with_any_case(name, atom_site) && (name.size() == atom_site.size() || name[atom_site.size()] == '.');
}

// By the category (the name up to its first '.') and the full name, in
// any letter case.
AtomSiteItem classify_data_name(const CifToken& name);

// Where an _atom_site loop holds what matters.
struct AtomSiteColumns {
    static constexpr std::size_t absent = ~std::size_t{0};
    std::size_t names = 0;
    std::size_t cartn[3] = {absent, absent, absent};  // x, y, z
    std::size_t group = absent;
};

// A finished row: nothing when it does not count (group_PDB present and
// neither ATOM nor HETATM), else a record, or incomplete without three
// numbers (bit i of `numbers`: coordinate i is one).
inline void judge_row(bool counts, unsigned numbers, const float (&xyz)[3], OutcomeQueue& out) {
    if (counts) out.push(numbers == 7 ? ScanOutcome::record : ScanOutcome::incomplete, {xyz[0], xyz[1], xyz[2]});
}

// The rows of one loop, read when its category is _atom_site.
class AtomSiteLoop {
public:
    // The first name tells the loop's category.
    void add_name(const CifToken& name);
    bool is_atom_site() const { return atom_site_; }

    // The first value: from here on the rows are read, unless a Cartesian
    // coordinate has no column (incomplete, and the loop is passed over).
    void begin_rows(OutcomeQueue& out);
    bool reading_rows() const { return reading_rows_; }

    // Values of the current row to pass over before one that matters.
    std::size_t values_before_wanted() const { return wanted_[next_wanted_].column - column_; }
    void pass_values(std::size_t count) { column_ += count; }

    // The value of the current column; the last column ends the row, and a
    // row that counts yields a record or, without three numbers, incomplete.
    void take_value(const CifValue& value, OutcomeQueue& out) {
        if (column_ == wanted_[next_wanted_].column) take_wanted(value, out);
        else ++column_;
    }

    // The loop ends: a row cut short is incomplete.
    void end(OutcomeQueue& out);

    std::size_t names() const { return columns_.names; }
    const AtomSiteColumns& columns() const { return columns_; }
    // Between rows: the next value is the first of a row.
    bool at_row_start() const { return column_ == 0; }

private:
    static constexpr std::size_t absent = AtomSiteColumns::absent;

    inline void take_wanted(const CifValue& value, OutcomeQueue& out);
    inline void end_row(OutcomeQueue& out);

    // What a column that matters holds: bits of these roles.
    enum Role : unsigned { cartn_x = 1, cartn_y = 2, cartn_z = 4, group = 8, last = 16 };
    struct Wanted {
        std::size_t column;
        unsigned roles;
    };

    AtomSiteColumns columns_;
    bool atom_site_ = false;
    bool reading_rows_ = false;
    // The columns that matter in increasing order, the last one always last.
    Wanted wanted_[5] = {};
    std::size_t next_wanted_ = 0;
    std::size_t column_ = 0;
    // The current row.
    float xyz_[3] = {0, 0, 0};
    unsigned numbers_ = 0;  // bit i: coordinate i is a number
    bool group_is_atom_ = false;
};

// Inline: the fast line reading calls these for every value that matters.

void AtomSiteLoop::take_wanted(const CifValue& value, OutcomeQueue& out) {
    const unsigned roles = wanted_[next_wanted_].roles;
    const unsigned axis_bit = roles & (cartn_x | cartn_y | cartn_z);  // one at most: the names differ
    float coordinate;
    if (axis_bit != 0 && read_coordinate(value, coordinate)) {
        xyz_[std::countr_zero(axis_bit)] = coordinate;
        numbers_ |= axis_bit;
    }
    if (roles & group) group_is_atom_ = is_atom_group(value);
    if (roles & last) {
        end_row(out);
        return;
    }
    ++next_wanted_;
    ++column_;
}

void AtomSiteLoop::end_row(OutcomeQueue& out) {
    judge_row(columns_.group == absent || group_is_atom_, numbers_, xyz_, out);
    numbers_ = 0;
    group_is_atom_ = false;
    column_ = 0;
    next_wanted_ = 0;
}

}  // namespace record_scan
