// BinaryCIF: {dataBlocks: [{header, categories: [{name, rowCount,
// columns: [{name, data: {encoding, data}, mask}]}]}]}, walked in the
// order the file gives. The atoms are the rows of every _atom_site
// category, by the rules of the mmCIF text reader; other categories are
// passed over undecoded.
#include <utility>

#include "binary/binarycif_steps.hpp"
#include "binary/structure_walk.hpp"
#include "mmcif/any_case.hpp"

namespace record_scan {
namespace {

ColumnRole role_of(std::string_view name) {
    if (equals_any_case(name, "cartn_x")) return role_x;
    if (equals_any_case(name, "cartn_y")) return role_y;
    if (equals_any_case(name, "cartn_z")) return role_z;
    if (equals_any_case(name, "group_pdb")) return role_group;
    return role_other;
}

}  // namespace

Walk BinaryStructureReader::State::data_blocks() {
    MsgpackHeader blocks;
    if (!next(blocks, MsgpackKind::array)) co_return;
    for (std::uint64_t block = 0; block < blocks.length && !failed(); ++block) {
        MsgpackHeader map;
        if (!next(map, MsgpackKind::map)) co_return;
        for (std::uint64_t entry = 0; entry < map.length && !failed(); ++entry) {
            std::string_view key;
            if (!short_text(key)) co_return;
            if (key != "categories") {
                reader.skip_value();
                continue;
            }
            MsgpackHeader categories;
            if (!next(categories, MsgpackKind::array)) co_return;
            for (std::uint64_t i = 0; i < categories.length && !failed(); ++i)
                for (Walk part = category(); part.resume();) co_yield true;
        }
    }
}

Walk BinaryStructureReader::State::category() {
    MsgpackHeader map;
    if (!next(map, MsgpackKind::map)) co_return;
    atom_site = {};
    for (std::uint64_t entry = 0; entry < map.length && !failed(); ++entry) {
        std::string_view key;
        if (!short_text(key)) co_return;
        if (key == "name") {
            std::string_view name;
            if (!short_text(name)) co_return;
            atom_site.named = true;
            atom_site.atom_site = equals_any_case(name, "_atom_site");
        } else if (key == "rowCount") {
            read_count(atom_site.row_count);
        } else if (key == "columns") {
            MsgpackHeader columns;
            if (!next(columns, MsgpackKind::array)) co_return;
            for (std::uint64_t i = 0; i < columns.length && !failed(); ++i) {
                if (atom_site.named && !atom_site.atom_site) reader.skip_value();
                else for (Walk part = column(); part.resume();) co_yield true;
            }
        } else {
            reader.skip_value();
        }
    }
    if (failed()) co_return;
    for (Walk part = finish_category(); part.resume();) co_yield true;
}

// By axis runs, a coordinate column of _atom_site is decoded as its bytes
// pass once group_PDB has been seen: its values are handed out at once, and
// its mask is checked as it passes, before or after them. A counted row
// masked makes the reading incomplete whatever its value, and a row that
// does not count is never handed out, so the values need no mask. The
// lengths of both are measured against rowCount when the category ends:
// the archive's files give rowCount after the columns. Everything else is
// held until the category ends: columns read by records (X, Y and Z go out
// together), and the rare orders in which the bytes come before what they
// need (group_PDB after the coordinates or missing: which rows count is not
// known until the category ends; the category's or the column's name
// after its columns or bytes; an encoding after its bytes).
Walk BinaryStructureReader::State::column() {
    MsgpackHeader map;
    if (!next(map, MsgpackKind::map)) co_return;
    ColumnRole role = role_unnamed;
    HeldColumn& column = current;
    column.clear();
    bool streamed = false, mask_checked = false;
    for (std::uint64_t entry = 0; entry < map.length && !failed(); ++entry) {
        std::string_view key;
        if (!short_text(key)) co_return;
        if (key == "name") {
            std::string_view name;
            if (!short_text(name)) co_return;
            role = role_of(name);
            if (role != role_other && atom_site.seen[role]) role = role_other;  // the first column of a name holds
            continue;
        }
        const bool is_mask = key == "mask";
        if ((key != "data" && !is_mask) || role == role_other) {
            reader.skip_value();
            continue;
        }
        MsgpackHeader data_map;
        if (!reader.next(data_map)) co_return;
        if (is_mask && data_map.kind == MsgpackKind::nil) continue;
        if (data_map.kind != MsgpackKind::map) {
            fail();
            co_return;
        }
        column.has_mask = column.has_mask || is_mask;
        ColumnEncoding& encoding = is_mask ? column.mask_encoding : column.encoding;
        bool& has_encoding = is_mask ? column.mask_has_encoding : column.has_encoding;
        bool& has_data = is_mask ? column.mask_has_data : column.has_data;
        for (std::uint64_t part = 0; part < data_map.length && !failed(); ++part) {
            std::string_view inner;
            if (!short_text(inner)) co_return;
            if (inner == "encoding") {
                MsgpackHeader steps;
                if (!reader.next(steps) || !read_encoding(reader, steps, encoding)) fail();
                has_encoding = true;
            } else if (inner == "data") {
                MsgpackHeader bytes;
                if (!next(bytes, MsgpackKind::binary)) co_return;
                has_data = true;
                const bool passing = way == ReadingWay::runs && role <= role_z && has_encoding && atom_site.atom_site &&
                                     atom_site.seen[role_group];
                if (passing && is_mask) {
                    check_passing_mask(role, bytes.length);
                    mask_checked = true;
                } else if (passing) {
                    streamed = true;
                    for (Walk run = stream_column(role, bytes.length); run.resume();) co_yield true;
                } else if (!hold_bytes(bytes, is_mask ? column.mask_data : column.data)) {
                    fail();
                }
            } else {
                reader.skip_value();
            }
        }
    }
    if (failed() || role == role_other || role == role_unnamed) co_return;
    if (!column.has_data || !column.has_encoding || (column.has_mask && !(column.mask_has_data && column.mask_has_encoding))) {
        fail();
        co_return;
    }
    atom_site.seen[role] = true;
    if (mask_checked) column.has_mask = false;  // what it marks is known
    if (!streamed) {
        column.present = true;
        std::swap(atom_site.held[role], column);
        co_return;
    }
    atom_site.streamed[role] = true;
    if (!column.has_mask) co_return;
    // The values passed, their mask held (its encoding after its bytes): checked now.
    ColumnStream mask, group, group_mask;
    RowFilter filter;
    if (open(mask, column.mask_encoding, column.mask_data, role_other) && open_filter(filter, group, group_mask))
        atom_site.mask_rows[role] = check_mask(mask, filter, atom_site.row_count, found);
}

// The next `length` bytes of the reader as the stream's bytes, read as
// they pass and never held.
PassingBytes& BinaryStructureReader::State::pass_through(ColumnStream& stream, std::uint64_t length) {
    auto bytes = std::make_unique<PassingBytes>(reader, length);
    PassingBytes& passing = *bytes;
    stream.bytes = std::move(bytes);
    return passing;
}

Walk BinaryStructureReader::State::stream_column(ColumnRole role, std::uint64_t length) {
    ColumnStream axis, group, group_mask;
    PassingBytes& passing = pass_through(axis, length);
    axis.numbers = number_decoder(current.encoding, *axis.bytes, axis.status);
    RowFilter filter;
    if (!axis.numbers || !open_filter(filter, group, group_mask)) {
        fail();
        co_return;
    }
    // Without rowCount yet, as many rows as the column holds.
    DecodedRuns runs(axis, nullptr, filter, atom_site.row_count);
    while (emit_run(runs, role))
        if (run_count > 0) co_yield true;
    atom_site.streamed_rows[role] = runs.rows_read();
    if (!passing.all_read()) fail();
}

void BinaryStructureReader::State::check_passing_mask(ColumnRole role, std::uint64_t length) {
    ColumnStream mask, group, group_mask;
    PassingBytes& passing = pass_through(mask, length);
    mask.ints = integer_decoder(current.mask_encoding, *mask.bytes, mask.status);
    RowFilter filter;
    if (!mask.ints || !open_filter(filter, group, group_mask)) {
        fail();
        return;
    }
    atom_site.mask_rows[role] = check_mask(mask, filter, atom_site.row_count, found);
    if (!passing.all_read()) fail();
}

Walk BinaryStructureReader::State::finish_category() {
    Category& category = atom_site;
    if (!category.atom_site) co_return;
    if (category.row_count < 0) {
        fail();  // rows that can not be counted
        co_return;
    }
    bool all_axes = true;
    for (int axis = 0; axis < 3; ++axis) {
        all_axes = all_axes && (category.held[axis].present || category.streamed[axis]);
        if (category.streamed[axis] && category.streamed_rows[axis] != category.row_count) fail();
        if (category.mask_rows[axis] >= 0 && category.mask_rows[axis] != category.row_count) fail();
    }
    if (failed()) co_return;
    if (category.row_count == 0 || !all_axes) {
        // Nothing to hand out, but damage in what is held fails as it would have streaming.
        for (int axis = 0; axis < 3 && !failed(); ++axis)
            if (category.held[axis].present) check_held(category.held[axis], axis, category.row_count, true);
        if (category.row_count > 0) found.incomplete = true;  // atom rows without Cartesian coordinates
        co_return;
    }
    ColumnStream axes[3], masks[3], group, group_mask;
    RowFilter filter;
    ColumnStream* axis_streams[3] = {};
    ColumnStream* mask_streams[3] = {};
    for (int axis = 0; axis < 3; ++axis) {
        const HeldColumn& held = category.held[axis];
        if (!held.present) continue;
        if (!open(axes[axis], held.encoding, held.data, static_cast<ColumnRole>(axis))) co_return;
        axis_streams[axis] = &axes[axis];
        if (held.has_mask) {
            if (!open(masks[axis], held.mask_encoding, held.mask_data, role_other)) co_return;
            mask_streams[axis] = &masks[axis];
        }
    }
    if (way == ReadingWay::records) {
        if (!open_filter(filter, group, group_mask)) co_return;
        DecodedRows rows(axis_streams, mask_streams, filter, category.row_count);
        while (emit_rows(rows))
            if (row_count > 0) co_yield true;
        co_return;
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (axis_streams[axis] == nullptr) continue;
        if (!open_filter(filter, group, group_mask)) co_return;
        DecodedRuns runs(axes[axis], mask_streams[axis], filter, category.row_count);
        while (emit_run(runs, axis))
            if (run_count > 0) co_yield true;
    }
}

}  // namespace record_scan
