// The fixed-column PDB layout (PQR included): chunks cut as a 100-byte
// fgets buffer cuts them, "ATOM"/"HETATM" chunks selected and scanned.
// Two readers share the buffer: a kernel that decodes runs of plain lines
// in one go (plain_lines/plain_lines.hpp), and the exact reader, chunk by chunk,
// for every line the kernel stops at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "buffer_pool.hpp"
#include "input/checked_text.hpp"
#include "pdb/plain_lines/plain_lines.hpp"
#include "record_scan.hpp"

namespace record_scan {

// The longest chunk: what fits in a 100-byte buffer with its zero byte.
inline constexpr std::size_t max_chunk_bytes = 99;

// The pieces of a record's judgement, apart so that they can be tested alone.

// True when the chunk begins with "ATOM" or "HETATM".
bool is_atom_record(std::string_view chunk);

// Reads X, Y, Z from a selected chunk: from offset 30 the way
// sscanf("%f%f%f") would, or by the fixed PDB columns when two of the
// numbers touch. False when the record does not yield three numbers.
bool scan_coordinates(std::string_view chunk, AtomXyz& atom);

class PdbLayoutReader {
public:
    // `starts_inside_line`: the source begins part way into a line that
    // cannot be a record, so everything up to its line feed is skipped.
    // `checked`: how far a compressed input's checks vouch for the source.
    PdbLayoutReader(ByteSource& source, std::size_t block_bytes, bool starts_inside_line,
                    Kernel kernel = fastest_kernel(), CheckedText checked = {});

    // Hands over a record the kernel decoded ahead, inline: the common case
    // costs a copy, not a call.
    ScanOutcome next_record(AtomXyz& atom) {
        if (delivered_ < decoded_count_) [[likely]] {
            atom = decoded_[delivered_++];
            return ScanOutcome::record;
        }
        return read_on(atom);
    }

    // The same records a batch at a time: the kernel's decoded array itself,
    // then the outcome that ended the records.
    ScanOutcome next_records(std::span<const AtomXyz>& batch) {
        if (ended_by_) return *ended_by_;
        decoded_count_ = gather_records(decoded_, decoded_capacity);
        if (decoded_count_ == 0) return *ended_by_;
        batch = {decoded_, decoded_count_};
        return ScanOutcome::record;
    }

    // The same records written into `into`, `capacity` at most, by the
    // kernel itself where it reads them: `record` with `count` of them,
    // then the outcome that ended the records.
    ScanOutcome next_records(AtomXyz* into, std::size_t capacity, std::size_t& count) {
        if (ended_by_) return *ended_by_;
        count = gather_records(into, capacity);
        return count == 0 ? *ended_by_ : ScanOutcome::record;
    }

    // The same records as runs of one axis: the kernel's decoded array
    // itself, X, Y and Z of each batch in turn, then the outcome that ended
    // the records. A reader is read one way only: by records, batches or runs.
    ScanOutcome next_axis_run(AxisRun& run) {
        if (run_axis_ == 3) [[unlikely]] {
            if (ended_by_) return *ended_by_;
            decoded_count_ = gather_records(decoded_, decoded_capacity);
            if (decoded_count_ == 0) return *ended_by_;
            run_axis_ = 0;
        }
        run = {run_axis_, &decoded_[0].x + run_axis_, decoded_count_, 3};
        ++run_axis_;
        return ScanOutcome::record;
    }

    // For a fold of extremes (record_scan::reach): the records of the
    // plain lines folded into `extremes` as the kernel reads them, no float
    // made, and every other record handed out in runs as next_axis_run does.
    ScanOutcome next_unfolded_run(AxisRun& run, FixedPointExtremes& extremes) {
        if (run_axis_ == 3) [[unlikely]] {
            if (ended_by_) return *ended_by_;
            gather_unfolded_records(extremes);
            if (decoded_count_ == 0) return *ended_by_;
            run_axis_ = 0;
        }
        run = {run_axis_, &decoded_[0].x + run_axis_, decoded_count_, 3};
        ++run_axis_;
        return ScanOutcome::record;
    }

    // Of the records read so far (handed out or waiting), how many lie
    // wholly in checked text: their chunks end where the checks vouch.
    std::uint64_t sound_records() const {
        return buffer_offset_ + begin_ <= checked_.end() ? records_read_ : sound_records_;
    }

private:
    static constexpr std::size_t decoded_capacity = 128;
    static_assert(sizeof(AtomXyz) == 3 * sizeof(float), "runs step over whole atoms");

    ScanOutcome read_on(AtomXyz& atom);
    bool decode_plain_lines(AtomXyz* into, std::size_t capacity, std::size_t& records);
    std::optional<ScanOutcome> take_chunk(AtomXyz& atom);
    template <typename KernelStep>
    std::size_t gather(AtomXyz* into, std::size_t capacity, KernelStep kernel_step);
    std::size_t gather_records(AtomXyz* into, std::size_t capacity);
    bool fold_plain_lines(FixedPointExtremes& extremes);
    void gather_unfolded_records(FixedPointExtremes& extremes);
    bool top_up_for_kernel();
    bool next_chunk(std::string_view& chunk);
    void refill();
    bool checked_end_ahead() const;
    void count_read(std::size_t records);

    ByteSource& source_;
    std::size_t block_bytes_;
    PooledArray<char> buffer_;
    std::size_t begin_ = 0;  // first unconsumed byte in buffer_
    std::size_t end_ = 0;    // one past the last byte read into buffer_
    bool input_ended_ = false;
    bool read_failed_ = false;
    bool inside_long_line_;  // the next chunk continues a line
    PlainLinesReader read_plain_lines_;
    PlainExtremesReader read_plain_extremes_;
    AtomXyz decoded_[decoded_capacity];  // records the kernel read ahead
    std::size_t decoded_count_ = 0;
    std::size_t delivered_ = 0;          // of decoded_
    unsigned run_axis_ = 3;              // the next axis run of decoded_; 3: none left
    std::optional<ScanOutcome> ended_by_;  // what ended the records, once met
    CheckedText checked_;
    std::uint64_t buffer_offset_ = 0;  // of buffer_[0], from the source's first byte
    std::uint64_t checked_end_ = CheckedText::everything;  // as of the last refill
    std::uint64_t records_read_ = 0;
    std::uint64_t sound_records_ = 0;  // of them, when the reading last stood in checked text
};

}  // namespace record_scan
