// Whether an existing file holds structure data, which a tool must never
// overwrite (xyzdump's guard against swapped arguments).
#pragma once

#include <cstdio>

namespace record_scan {

// True for compressed data, a binary structure file, an mmCIF text, or an
// atom record of the PDB layout within the first MiB. Reads from the
// stream's position.
bool holds_structure_data(std::FILE* stream);

}  // namespace record_scan
