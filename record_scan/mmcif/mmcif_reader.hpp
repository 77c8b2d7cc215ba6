// The atoms of an mmCIF text: the rows of its _atom_site category, read
// by the CIF syntax in one streaming pass and constant memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "input/checked_text.hpp"
#include "record_scan.hpp"

namespace record_scan {

class MmcifReader {
public:
    // `text` starts at the first line of substance (the "data_" line).
    // A kernel this machine cannot run is replaced by the portable one.
    // `checked`: how far a compressed input's checks vouch for the text.
    explicit MmcifReader(ByteSource& text, std::size_t block_bytes = RecordScanner::default_block_bytes,
                         Kernel kernel = fastest_kernel(), CheckedText checked = {});
    ~MmcifReader();
    MmcifReader(const MmcifReader&) = delete;
    MmcifReader& operator=(const MmcifReader&) = delete;

    // `record` with the X, Y, Z of the next atom row; `end_of_input`;
    // `incomplete` for a row whose coordinates are no numbers, a row cut
    // short by the end of the input, or atom rows without Cartesian
    // coordinates; `read_error` when the source fails.
    ScanOutcome next_record(AtomXyz& atom);

    // The same outcomes, the records many at a time: `record` with `count`
    // of them from `first` on (cif_outcome_floats floats apart), valid
    // until the next call of either function; else the next outcome.
    ScanOutcome next_records(const float*& first, std::size_t& count);

    // Of the records read so far (handed out or waiting), how many were
    // finished by checked text: their last value and what ended it.
    std::uint64_t sound_records() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace record_scan
