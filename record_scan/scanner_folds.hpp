// What the library's own folds (reach.cpp) ask of a scanner beyond its
// public calls: a reader that can fold records itself, without a float
// per record, does so, and hands out the rest.
#pragma once

#include "pdb/plain_lines/plain_lines.hpp"
#include "record_scan.hpp"

namespace record_scan {

// As RecordScanner::next_axis_run, except that the records a fixed-point
// kernel reads (the plain lines of the PDB layout) are folded into
// `extremes` instead of handed out. Every atom ends up in one or the other.
ScanOutcome next_unfolded_run(InputReader& reader, AxisRun& run, FixedPointExtremes& extremes);

}  // namespace record_scan
