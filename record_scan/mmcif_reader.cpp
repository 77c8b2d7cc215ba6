#include "mmcif_reader.hpp"

namespace record_scan {

// Placeholder until the reader lands: reads nothing.
struct MmcifReader::State {};

MmcifReader::MmcifReader(ByteSource&, std::size_t) : state_(std::make_unique<State>()) {}
MmcifReader::~MmcifReader() = default;

ScanOutcome MmcifReader::next_record(AtomXyz&) { return ScanOutcome::end_of_input; }

}  // namespace record_scan
