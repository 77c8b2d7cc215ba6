// The fixed-column PDB layout (PQR included): chunks cut as a 100-byte
// fgets buffer cuts them, "ATOM"/"HETATM" chunks selected and scanned.
// Two readers share the buffer: a kernel that decodes runs of plain lines
// in one go (pdb_plain_lines.hpp), and the exact reader, chunk by chunk,
// for every line the kernel stops at.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "pdb/pdb_plain_lines.hpp"
#include "record_scan.hpp"

namespace record_scan {

class PdbLayoutReader {
public:
    // `starts_inside_line`: the source begins part way into a line that
    // cannot be a record, so everything up to its line feed is skipped.
    PdbLayoutReader(ByteSource& source, std::size_t block_bytes, bool starts_inside_line,
                    Kernel kernel = fastest_kernel());

    // Hands over a record the kernel decoded ahead, inline: the common case
    // costs a copy, not a call.
    ScanOutcome next_record(AtomXyz& atom) {
        if (delivered_ < decoded_count_) [[likely]] {
            atom = decoded_[delivered_++];
            return ScanOutcome::record;
        }
        return read_on(atom);
    }

private:
    static constexpr std::size_t decoded_capacity = 128;

    ScanOutcome read_on(AtomXyz& atom);
    bool decode_plain_lines();
    bool next_chunk(std::string_view& chunk);
    void refill();

    ByteSource& source_;
    std::size_t block_bytes_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;  // first unconsumed byte in buffer_
    std::size_t end_ = 0;    // one past the last byte read into buffer_
    bool input_ended_ = false;
    bool read_failed_ = false;
    bool inside_long_line_;  // the next chunk continues a line
    PlainLinesReader read_plain_lines_;
    AtomXyz decoded_[decoded_capacity];  // records the kernel read ahead
    std::size_t decoded_count_ = 0;
    std::size_t delivered_ = 0;          // of decoded_
};

}  // namespace record_scan
