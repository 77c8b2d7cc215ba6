#include "binary/binary_structure_reader.hpp"

#include <algorithm>
#include <cstring>

#include "binary/binarycif_steps.hpp"
#include "binary/structure_walk.hpp"

namespace record_scan {

void HeldColumn::clear() {
    present = has_encoding = has_data = has_mask = mask_has_encoding = mask_has_data = false;
    data.clear();
    mask_data.clear();
}

BinaryStructureReader::BinaryStructureReader(ByteSource& bytes) : state_(std::make_unique<State>(bytes)) {}

BinaryStructureReader::~BinaryStructureReader() = default;

ScanOutcome BinaryStructureReader::next_record(AtomXyz& atom) {
    State& state = *state_;
    if (state.way == ReadingWay::undecided) state.way = ReadingWay::records;
    while (state.row_at == state.row_count) {
        state.row_at = state.row_count = 0;
        if (!state.walking) state.walking.emplace(state.walk());
        if (!state.walking->resume()) return state.final_outcome();
    }
    atom = state.rows[state.row_at++];
    return ScanOutcome::record;
}

ScanOutcome BinaryStructureReader::next_axis_run(AxisRun& run) {
    State& state = *state_;
    if (state.way == ReadingWay::undecided) state.way = ReadingWay::runs;
    while (state.run_count == 0) {
        if (!state.walking) state.walking.emplace(state.walk());
        if (!state.walking->resume()) return state.final_outcome();
    }
    run = {static_cast<unsigned>(state.run_axis), state.run, state.run_count, 1};
    state.run_count = 0;  // the values stay until the walk goes on
    return ScanOutcome::record;
}

ScanOutcome BinaryStructureReader::State::final_outcome() const {
    if (failed()) return ScanOutcome::read_error;
    return found.incomplete ? ScanOutcome::incomplete : ScanOutcome::end_of_input;
}

bool BinaryStructureReader::State::next(MsgpackHeader& header, MsgpackKind kind) {
    if (reader.next(header) && header.kind == kind) return true;
    fail();
    return false;
}

bool BinaryStructureReader::State::short_text(std::string_view& text) {
    MsgpackHeader header;
    text = {};
    if (!reader.next(header)) return false;
    if (!read_short_string(reader, header, key_text, key_capacity, text)) text = {};
    return !reader.damaged();
}

bool BinaryStructureReader::State::read_count(std::int64_t& count) {
    MsgpackHeader header;
    if (next(header, MsgpackKind::integer) && header.integer >= 0) {
        count = header.integer;
        return true;
    }
    fail();
    return false;
}

bool BinaryStructureReader::State::hold_bytes(const MsgpackHeader& header, HeldChunks& into) {
    into.clear();
    for (std::uint64_t left = header.length; left > 0;) {
        std::string_view piece = reader.piece(static_cast<std::size_t>(std::min<std::uint64_t>(left, MsgpackReader::buffer_bytes)));
        if (piece.empty()) return false;
        into.append(piece);
        left -= piece.size();
    }
    return true;
}

bool BinaryStructureReader::State::open(ColumnStream& stream, const ColumnEncoding& encoding, const HeldChunks& data,
                                        ColumnRole role) {
    stream.bytes = std::make_unique<HeldPieces>(data);
    stream.status = {};
    stream.numbers.reset();
    stream.ints.reset();
    switch (role) {
        case role_x: case role_y: case role_z: stream.numbers = number_decoder(encoding, *stream.bytes, stream.status); break;
        case role_group: stream.ints = group_decoder(encoding, *stream.bytes, stream.status); break;
        default: stream.ints = integer_decoder(encoding, *stream.bytes, stream.status);  // a mask
    }
    if (stream.numbers || stream.ints) return true;
    fail();
    return false;
}

// The group_PDB filter of the current category, decoded again from its held bytes.
bool BinaryStructureReader::State::open_filter(RowFilter& filter, ColumnStream& group, ColumnStream& group_mask) {
    filter = {};
    const HeldColumn& held = atom_site.held[role_group];
    if (!held.present) return true;
    if (!open(group, held.encoding, held.data, role_group)) return false;
    filter.group = &group;
    if (!held.has_mask) return true;
    if (!open(group_mask, held.mask_encoding, held.mask_data, role_other)) return false;
    filter.group_mask = &group_mask;
    return true;
}

void BinaryStructureReader::State::check_held(const HeldColumn& held, int axis, std::int64_t rows, bool filtered) {
    ColumnStream values, mask, group, group_mask;
    RowFilter filter;
    if (!open(values, held.encoding, held.data, static_cast<ColumnRole>(axis))) return;
    if (held.has_mask && !open(mask, held.mask_encoding, held.mask_data, role_other)) return;
    if (filtered && !open_filter(filter, group, group_mask)) return;
    DecodedRuns runs(values, held.has_mask ? &mask : nullptr, filter, rows);
    float ignored[DecodedRuns::block_rows];
    std::size_t count;
    while (runs.next_block(ignored, count, found)) {
    }
}

bool BinaryStructureReader::State::emit_rows(DecodedRows& rows) {
    row_at = 0;
    return rows.next_block(this->rows, row_count, found);
}

bool BinaryStructureReader::State::emit_run(DecodedRuns& runs, int axis) {
    run_axis = axis;
    return runs.next_block(run, run_count, found);
}

Walk BinaryStructureReader::State::walk() {
    MsgpackHeader top;
    if (!next(top, MsgpackKind::map)) co_return;
    for (std::uint64_t entry = 0; entry < top.length && !failed(); ++entry) {
        std::string_view key;
        if (!short_text(key)) break;
        int axis = key == "xCoordList" ? 0 : key == "yCoordList" ? 1 : key == "zCoordList" ? 2 : -1;
        if (key == "dataBlocks") {
            binarycif = true;
            for (Walk part = data_blocks(); part.resume();) co_yield true;
        } else if (axis >= 0) {
            mmtf = true;
            for (Walk part = coordinate_list(axis); part.resume();) co_yield true;
        } else if (key == "numAtoms") {
            num_atoms_seen = read_count(num_atoms);
        } else {
            if (key == "mmtfVersion") mmtf = true;
            reader.skip_value();
        }
    }
    if (failed()) co_return;
    // One format or the other, and nothing after the map.
    if (binarycif == mmtf || !reader.at_end()) {
        fail();
        co_return;
    }
    if (mmtf)
        for (Walk part = finish_mmtf(); part.resume();) co_yield true;
}

}  // namespace record_scan
