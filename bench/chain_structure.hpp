// Atoms along a chain for the binary-format benchmarks: each step under
// 2 A (so that coordinate deltas are small, as in real structures), written
// as an archive-style BinaryCIF (in the archive's key order: rowCount after
// the columns, a mask after its data) or as the same atoms in archive-style
// mmCIF text, with the 21 _atom_site columns of make_structure's cif kind.
#pragma once

#include <cstdio>
#include <random>

// Both write `atoms` atoms drawn from `random`; the same seed gives the same atoms.
bool write_chain_cif(std::FILE* out, long long atoms, std::mt19937_64& random);
bool write_chain_bcif(std::FILE* out, long long atoms, std::mt19937_64& random);
