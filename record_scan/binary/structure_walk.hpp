// What the readers of the binary formats share while they walk a file: the
// MessagePack reader, what is held of the current category, and what has
// been decoded and waits to be handed out. BinaryCIF's levels are walked in
// binarycif_reader.cpp, MMTF's lists in mmtf_reader.cpp, the top-level map
// in binary_structure_reader.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binary/binary_structure_reader.hpp"
#include "binary/binary_walk.hpp"
#include "binary/binarycif_encoding.hpp"
#include "binary/binarycif_steps.hpp"
#include "binary/decoded_rows.hpp"
#include "binary/msgpack_reader.hpp"

namespace record_scan {

// A column kept encoded until it can be decoded: its steps, its bytes and
// its mask's.
struct HeldColumn {
    bool present = false;
    bool has_encoding = false;
    bool has_data = false;
    ColumnEncoding encoding;
    HeldChunks data;
    bool has_mask = false;
    ColumnEncoding mask_encoding;
    HeldChunks mask_data;
    bool mask_has_encoding = false;
    bool mask_has_data = false;

    void clear();
};

enum class ReadingWay : unsigned char { undecided, records, runs };

// The columns of _atom_site that matter, as indices of held and streamed.
enum ColumnRole : int { role_x = 0, role_y = 1, role_z = 2, role_group = 3, role_other = 4, role_unnamed = 5 };

struct BinaryStructureReader::State {
    explicit State(ByteSource& bytes) : reader(bytes) {}

    Walk walk();                 // the top-level map
    Walk data_blocks();          // BinaryCIF
    Walk category();
    Walk column();
    Walk stream_column(ColumnRole role, std::uint64_t length);
    void check_passing_mask(ColumnRole role, std::uint64_t length);
    PassingBytes& pass_through(ColumnStream& stream, std::uint64_t length);
    Walk finish_category();
    Walk coordinate_list(int axis);  // MMTF
    Walk finish_mmtf();

    bool failed() const { return found.damaged || reader.damaged(); }
    void fail() { found.damaged = true; }
    // The next header, which must be of `kind`.
    bool next(MsgpackHeader& header, MsgpackKind kind);
    // A map key (or a name) of at most key_capacity bytes; empty when it is
    // longer or no string. False when damaged.
    bool short_text(std::string_view& text);
    bool read_count(std::int64_t& count);
    // Appends the bytes of the bin value whose header was read.
    bool hold_bytes(const MsgpackHeader& header, HeldChunks& into);
    bool open(ColumnStream& stream, const ColumnEncoding& encoding, const HeldChunks& data, ColumnRole role);
    bool open_filter(RowFilter& filter, ColumnStream& group, ColumnStream& group_mask);
    // Decodes a held coordinate column (with its mask, and the filter when
    // `filtered`) only to find damage: for a category or file that is
    // incomplete however it is read, whose other columns may have been
    // decoded as they passed.
    void check_held(const HeldColumn& held, int axis, std::int64_t rows, bool filtered);
    bool emit_rows(DecodedRows& rows);
    bool emit_run(DecodedRuns& runs, int axis);
    ScanOutcome final_outcome() const;

    static constexpr std::size_t key_capacity = 64;

    MsgpackReader reader;
    ReadingWay way = ReadingWay::undecided;
    RowsFound found;
    char key_text[key_capacity];
    bool binarycif = false;
    bool mmtf = false;

    // The current _atom_site category.
    struct Category {
        bool named = false;
        bool atom_site = false;
        std::int64_t row_count = -1;
        bool seen[4] = {};
        HeldColumn held[4];
        bool streamed[3] = {};
        std::int64_t streamed_rows[3] = {};
        std::int64_t mask_rows[3] = {-1, -1, -1};  // of a mask checked apart from its values
    } atom_site;
    HeldColumn current;  // the column being read

    // MMTF.
    std::int64_t num_atoms = 0;
    bool num_atoms_seen = false;
    bool list_seen[3] = {};
    std::int64_t list_rows[3] = {};
    HeldColumn lists[3];

    // Waiting to be handed out.
    AtomXyz rows[DecodedRows::block_rows];
    std::size_t row_count = 0;
    std::size_t row_at = 0;
    float run[DecodedRuns::block_rows];
    std::size_t run_count = 0;
    int run_axis = 0;

    std::optional<Walk> walking;
    bool walked = false;
};

}  // namespace record_scan
