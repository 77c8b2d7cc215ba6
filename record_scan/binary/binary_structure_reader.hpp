// The atoms of a binary structure file, BinaryCIF or MMTF, told apart by
// the keys of its top-level MessagePack map. Both ways of reading are
// native: by records, the coordinate columns are held encoded and decoded
// in lockstep; by axis runs, each coordinate column is decoded as it
// passes, so that nothing of it is held.
#pragma once

#include <memory>

#include "record_scan.hpp"

namespace record_scan {

class BinaryStructureReader {
public:
    // `bytes` starts at the top-level map.
    explicit BinaryStructureReader(ByteSource& bytes);
    ~BinaryStructureReader();
    BinaryStructureReader(const BinaryStructureReader&) = delete;
    BinaryStructureReader& operator=(const BinaryStructureReader&) = delete;

    // As RecordScanner's: the whole file is checked before end_of_input or
    // incomplete is given; damage anywhere is a read_error.
    ScanOutcome next_record(AtomXyz& atom);
    ScanOutcome next_axis_run(AxisRun& run);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace record_scan
