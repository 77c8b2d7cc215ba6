#include "binary/decoded_rows.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace record_scan {
namespace {

std::size_t pull(ColumnStream& stream, float* values, std::int64_t* ints, std::size_t wanted) {
    if (stream.numbers) return stream.numbers->pull(values, wanted);
    return stream.ints->pull(ints, wanted);
}

// `wanted` values of an int stream (group or mask); false when it falls short.
bool pull_flags(ColumnStream* stream, std::int64_t* into, std::size_t wanted) {
    if (stream == nullptr) return true;
    return stream->ints->pull(into, wanted) == wanted && !stream->status.damaged;
}

bool counts(const RowFilter& filter, const std::int64_t* group, const std::int64_t* group_mask, std::size_t i) {
    if (filter.group == nullptr) return true;
    return group[i] != 0 && (filter.group_mask == nullptr || group_mask[i] == 0);
}

bool not_number_at(const ColumnStream& stream, std::int64_t row, float value) {
    return static_cast<std::size_t>(row) >= stream.status.first_not_number && std::isnan(value);
}

// The axis, its mask and the filter all end here, undamaged.
bool all_ended(ColumnStream& axis, ColumnStream* mask, const RowFilter& filter) {
    bool whole = ended_whole(axis);
    if (mask != nullptr) whole = ended_whole(*mask) && whole;
    if (filter.group != nullptr) whole = ended_whole(*filter.group) && whole;
    if (filter.group_mask != nullptr) whole = ended_whole(*filter.group_mask) && whole;
    return whole;
}

}  // namespace

bool ended_whole(ColumnStream& stream) {
    float value;
    std::int64_t integer;
    return pull(stream, &value, &integer, 1) == 0 && !stream.status.damaged;
}

DecodedRows::DecodedRows(ColumnStream* (&axes)[3], ColumnStream* (&masks)[3], RowFilter filter, std::int64_t rows)
    : axes_{axes[0], axes[1], axes[2]}, masks_{masks[0], masks[1], masks[2]}, filter_(filter), rows_left_(rows) {}

bool DecodedRows::next_block(AtomXyz* out, std::size_t& count, RowsFound& found) {
    count = 0;
    if (found.damaged) return false;
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(rows_left_, block_rows));
    if (n == 0) {
        bool whole = true;
        for (ColumnStream* stream : {axes_[0], axes_[1], axes_[2], masks_[0], masks_[1], masks_[2], filter_.group, filter_.group_mask})
            if (stream != nullptr) whole = ended_whole(*stream) && whole;
        found.damaged = !whole;
        return false;
    }
    bool whole = pull_flags(filter_.group, flags_[3], n) && pull_flags(filter_.group_mask, flags_[4], n);
    for (int axis = 0; axis < 3 && whole; ++axis) {
        whole = axes_[axis]->numbers->pull(values_[axis], n) == n && !axes_[axis]->status.damaged;
        whole = whole && pull_flags(masks_[axis], flags_[axis], n);
    }
    if (!whole) {
        found.damaged = true;
        return false;
    }
    bool plain = !found.incomplete && filter_.group_mask == nullptr;
    for (int axis = 0; axis < 3; ++axis)
        plain = plain && masks_[axis] == nullptr && axes_[axis]->status.first_not_number >= static_cast<std::size_t>(row_) + n;
    if (plain) {  // no value missing in the block: nearly always
        for (std::size_t i = 0; i < n; ++i) {
            out[count] = {values_[0][i], values_[1][i], values_[2][i]};
            count += filter_.group == nullptr || flags_[3][i] != 0;
        }
        row_ += static_cast<std::int64_t>(n);
        rows_left_ -= static_cast<std::int64_t>(n);
        return true;
    }
    for (std::size_t i = 0; i < n; ++i, ++row_) {
        if (!counts(filter_, flags_[3], flags_[4], i)) continue;
        bool missing = false;
        for (int axis = 0; axis < 3; ++axis)
            missing = missing || (masks_[axis] != nullptr && flags_[axis][i] != 0) || not_number_at(*axes_[axis], row_, values_[axis][i]);
        found.incomplete = found.incomplete || missing;
        if (!found.incomplete) out[count++] = {values_[0][i], values_[1][i], values_[2][i]};
    }
    rows_left_ -= static_cast<std::int64_t>(n);
    return true;
}

DecodedRuns::DecodedRuns(ColumnStream& axis, ColumnStream* mask, RowFilter filter, std::int64_t rows)
    : axis_(axis), mask_(mask), filter_(filter), rows_(rows) {}

bool DecodedRuns::next_block(float* out, std::size_t& count, RowsFound& found) {
    count = 0;
    if (found.damaged) return false;
    const bool counted = rows_ >= 0;
    const std::size_t n = counted ? static_cast<std::size_t>(std::min<std::int64_t>(rows_ - row_, block_rows)) : block_rows;
    if (n == 0) {
        found.damaged = !all_ended(axis_, mask_, filter_);
        return false;
    }
    // Straight into `out`: the rows that count are moved down in place.
    const std::size_t got = axis_.numbers->pull(out, n);
    if (axis_.status.damaged || (counted && got < n)) {
        found.damaged = true;
        return false;
    }
    // group_PDB in long runs, as the archive writes it, passes a block at a
    // time; else its rows are read one by one, as the masks are.
    std::optional<std::int64_t> one_group;
    if (filter_.group != nullptr && filter_.group_mask == nullptr && mask_ == nullptr)
        one_group = filter_.group->ints->pass_if_one_value(got);
    if ((!one_group && !pull_flags(filter_.group, flags_[0], got)) || !pull_flags(filter_.group_mask, flags_[1], got) ||
        !pull_flags(mask_, flags_[2], got)) {
        found.damaged = true;
        return false;
    }
    const std::size_t not_number = axis_.status.first_not_number;
    const bool plain = mask_ == nullptr && filter_.group_mask == nullptr && not_number >= static_cast<std::size_t>(row_) + got;
    // A value missing in the block is looked at row by row, with the rows' flags.
    if (one_group && !plain) {
        std::fill_n(flags_[0], got, *one_group);
        one_group.reset();
    }
    std::int64_t atom_rows = 0;  // group_PDB gives 0 or 1: the sum counts the rows
    if (one_group) atom_rows = *one_group != 0 ? static_cast<std::int64_t>(got) : 0;
    else if (plain && filter_.group != nullptr)
        for (std::size_t i = 0; i < got; ++i) atom_rows += flags_[0][i];
    if (one_group && atom_rows == 0) {
        count = 0;  // a block without ATOM or HETATM rows
    } else if (plain && filter_.group != nullptr && atom_rows != static_cast<std::int64_t>(got)) {
        // group_PDB alone decides, without a branch.
        for (std::size_t i = 0; i < got; ++i) {
            out[count] = out[i];
            count += flags_[0][i] != 0;
        }
    } else if (plain) {  // every row counts: nearly always
        count = got;
    } else {
        for (std::size_t i = 0; i < got; ++i) {
            if (!counts(filter_, flags_[0], flags_[1], i)) continue;
            if ((mask_ != nullptr && flags_[2][i] != 0) || not_number_at(axis_, row_ + static_cast<std::int64_t>(i), out[i]))
                found.incomplete = true;
            out[count++] = out[i];
        }
    }
    row_ += static_cast<std::int64_t>(got);
    if (got < n) {  // the stream's end, its length not known before: the filter ends with it
        found.damaged = !all_ended(axis_, mask_, filter_);
        rows_ = row_;
    }
    return true;
}

std::int64_t check_mask(ColumnStream& mask, RowFilter filter, std::int64_t rows, RowsFound& found) {
    std::int64_t flags[3][DecodedRuns::block_rows];
    const bool counted = rows >= 0;
    std::int64_t row = 0;
    while (!found.damaged) {
        const std::size_t n = counted ? static_cast<std::size_t>(std::min<std::int64_t>(rows - row, DecodedRuns::block_rows))
                                      : DecodedRuns::block_rows;
        if (n == 0) break;
        const std::size_t got = mask.ints->pull(flags[2], n);
        if (mask.status.damaged || (counted && got < n) || !pull_flags(filter.group, flags[0], got) ||
            !pull_flags(filter.group_mask, flags[1], got)) {
            found.damaged = true;
            return row;
        }
        for (std::size_t i = 0; i < got; ++i)
            if (counts(filter, flags[0], flags[1], i) && flags[2][i] != 0) found.incomplete = true;
        row += static_cast<std::int64_t>(got);
        if (got < n) break;  // the mask's end, its length not known before
    }
    if (!found.damaged && !all_ended(mask, nullptr, filter)) found.damaged = true;
    return row;
}

}  // namespace record_scan
