// The atoms of decoded columns: X, Y and Z (and group_PDB, and the masks)
// decoded in lockstep, a block of rows at a time, into records or into runs
// of one axis. Whatever decodes them, the same rows count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "binary/binarycif_steps.hpp"
#include "record_scan.hpp"

namespace record_scan {

// A column read for its values, or a mask, from its encoded bytes.
struct ColumnStream {
    std::unique_ptr<EncodedBytes> bytes;
    DecodeStatus status;
    std::unique_ptr<NumberStage> numbers;  // a coordinate
    std::unique_ptr<IntStage> ints;        // group_PDB (1: ATOM or HETATM) or a mask
};

// Which rows count: those whose group_PDB is ATOM or HETATM (and not masked),
// or every row without one.
struct RowFilter {
    ColumnStream* group = nullptr;
    ColumnStream* group_mask = nullptr;
};

// What a run of decoding found.
struct RowsFound {
    bool damaged = false;
    bool incomplete = false;  // a counted row without a number
};

class DecodedRows {
public:
    static constexpr std::size_t block_rows = 256;

    // Records of `rows` rows from three coordinate streams and their masks
    // (null when none). Each call fills `out` with up to block_rows records;
    // false when every row is read.
    DecodedRows(ColumnStream* (&axes)[3], ColumnStream* (&masks)[3], RowFilter filter, std::int64_t rows);
    bool next_block(AtomXyz* out, std::size_t& count, RowsFound& found);

private:
    ColumnStream* axes_[3];
    ColumnStream* masks_[3];
    RowFilter filter_;
    std::int64_t rows_left_;
    std::int64_t row_ = 0;
    float values_[3][block_rows];
    std::int64_t flags_[5][block_rows];
};

// Runs of one axis from one coordinate stream, its mask (or null), filtered.
// `rows` below 0: as many as the stream holds.
class DecodedRuns {
public:
    static constexpr std::size_t block_rows = 1024;

    DecodedRuns(ColumnStream& axis, ColumnStream* mask, RowFilter filter, std::int64_t rows);
    // Fills `out`, room for block_rows values (a block is decoded there
    // whole), with the next values that count, `count` of them; false when
    // every row is read.
    bool next_block(float* out, std::size_t& count, RowsFound& found);
    std::int64_t rows_read() const { return row_; }

private:
    ColumnStream& axis_;
    ColumnStream* mask_;
    RowFilter filter_;
    std::int64_t rows_;
    std::int64_t row_ = 0;
    std::int64_t flags_[3][block_rows];
};

// True when the stream holds no more values and nothing in it was damaged.
bool ended_whole(ColumnStream& stream);

// Whether a counted row is masked, the mask decoded beside the filter:
// `rows` long, or below 0 as long as the mask is (the filter must end with
// it). Lengths that disagree are `found.damaged`. Returns the rows read.
std::int64_t check_mask(ColumnStream& mask, RowFilter filter, std::int64_t rows, RowsFound& found);

}  // namespace record_scan
