// MMTF: the atoms are every atom of every model, X, Y and Z from the binary
// lists xCoordList, yCoordList and zCoordList, each numAtoms long.
#include <cstring>

#include "binary/mmtf_codecs.hpp"
#include "binary/structure_walk.hpp"

namespace record_scan {

Walk BinaryStructureReader::State::coordinate_list(int axis) {
    MsgpackHeader list;
    if (!next(list, MsgpackKind::binary)) co_return;
    if (list_seen[axis]) {  // a key given twice: the first holds
        reader.skip_bytes(list.length);
        co_return;
    }
    unsigned char header_bytes[mmtf_header_bytes];
    std::size_t got = 0;
    while (got < mmtf_header_bytes && got < list.length) {
        std::string_view piece = reader.piece(mmtf_header_bytes - got);
        if (piece.empty()) break;
        std::memcpy(header_bytes + got, piece.data(), piece.size());
        got += piece.size();
    }
    const MmtfListHeader header = read_mmtf_header(header_bytes);
    HeldColumn& held = lists[axis];
    if (got < mmtf_header_bytes || header.length < 0 || !mmtf_encoding(header, held.encoding)) {
        fail();
        co_return;
    }
    // numAtoms given first: a list of another length is damage, found before
    // decoding what may be billions of values out of a few bytes.
    if (num_atoms_seen && header.length != num_atoms) {
        fail();
        co_return;
    }
    list_seen[axis] = true;
    list_rows[axis] = header.length;
    const std::uint64_t length = list.length - mmtf_header_bytes;
    // By records: held. By axis runs, decoded as it passes, as long as its
    // header says; a length that is not numAtoms, when numAtoms comes after
    // the lists, fails once the map ends.
    if (way == ReadingWay::records) {
        list.length = length;
        held.present = hold_bytes(list, held.data);
        if (!held.present) fail();
        co_return;
    }
    ColumnStream values;
    auto bytes = std::make_unique<PassingBytes>(reader, length);
    PassingBytes& passing = *bytes;
    values.bytes = std::move(bytes);
    values.numbers = number_decoder(held.encoding, *values.bytes, values.status);
    if (!values.numbers) {
        fail();
        co_return;
    }
    DecodedRuns runs(values, nullptr, {}, header.length);
    while (emit_run(runs, axis))
        if (run_count > 0) co_yield true;
    if (!passing.all_read()) fail();
}

Walk BinaryStructureReader::State::finish_mmtf() {
    bool all_lists = true;
    for (int axis = 0; axis < 3; ++axis) {
        all_lists = all_lists && list_seen[axis];
        if (list_seen[axis] && list_rows[axis] != num_atoms) fail();
    }
    if (failed()) co_return;
    if (num_atoms == 0 || !all_lists) {
        // Nothing to hand out, but damage in what is held fails as it would have streaming.
        for (int axis = 0; axis < 3 && !failed(); ++axis)
            if (lists[axis].present) check_held(lists[axis], axis, list_rows[axis], false);
        if (num_atoms > 0) found.incomplete = true;  // atoms without coordinates
        co_return;
    }
    if (way != ReadingWay::records) {
        for (int axis = 0; axis < 3; ++axis) {
            if (!lists[axis].present) continue;  // decoded as it passed
            ColumnStream values;
            if (!open(values, lists[axis].encoding, lists[axis].data, static_cast<ColumnRole>(axis))) co_return;
            DecodedRuns runs(values, nullptr, {}, num_atoms);
            while (emit_run(runs, axis))
                if (run_count > 0) co_yield true;
        }
        co_return;
    }
    ColumnStream axes[3];
    ColumnStream* axis_streams[3];
    ColumnStream* no_masks[3] = {};
    for (int axis = 0; axis < 3; ++axis) {
        if (!open(axes[axis], lists[axis].encoding, lists[axis].data, static_cast<ColumnRole>(axis))) co_return;
        axis_streams[axis] = &axes[axis];
    }
    DecodedRows rows(axis_streams, no_masks, {}, num_atoms);
    while (emit_rows(rows))
        if (row_count > 0) co_yield true;
}

}  // namespace record_scan
