// The fast reading of the PDB layout: runs of plain lines, read in one go.
//
// A plain line is a whole line, its line feed within the first 96 bytes
// (so that a 100-byte fgets buffer takes it as one chunk), which is either
// no atom record or an atom record whose X, Y and Z are written "%8.3f" in
// their columns with nothing after Z that could continue it. For those
// records the free-form and the column readings agree (pdb_columns.hpp),
// so one fixed-shape reading is exact. Nearly every line of a real file is
// plain; a kernel reads them from a line start and stops at the first that
// is not, which the exact reader (pdb_layout_reader.cpp) then takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "record_scan.hpp"

namespace record_scan {

struct PlainRun {
    std::size_t bytes = 0;    // whole lines consumed
    std::size_t records = 0;  // atoms written, in file order
};

// A kernel reads only this far ahead of a line start; it stops at the first
// line start with fewer bytes left (the exact reader takes the last lines).
inline constexpr std::size_t plain_lines_lookahead = 128;

// The longest plain line, line feed included: what every kernel can see
// whole within its loads. Longer lines go to the exact reader.
inline constexpr std::size_t longest_plain_line = 96;

// Reads the plain lines at the start of text[0, size) into `atoms`, at most
// `capacity` records of them.
using PlainLinesReader = PlainRun (*)(const char* text, std::size_t size, AtomXyz* atoms,
                                        std::size_t capacity);

// The reader of a kernel; the portable one for a kernel this machine cannot run.
PlainLinesReader plain_lines_reader(Kernel kernel);

PlainRun read_plain_lines_portable(const char* text, std::size_t size, AtomXyz* atoms,
                                     std::size_t capacity);
#if defined(__x86_64__)
PlainRun read_plain_lines_avx2(const char* text, std::size_t size, AtomXyz* atoms,
                                 std::size_t capacity);
PlainRun read_plain_lines_avx512(const char* text, std::size_t size, AtomXyz* atoms,
                                   std::size_t capacity);
#endif

// What a fold of extremes (record_scan::reach) needs of the plain records:
// per axis the least and the greatest field, in signed thousandths. The
// nearest float to a "%8.3f" field grows with its thousandths, so these
// decide the extremes of the floats too, converted once at the end ("-0.000"
// counts as 0: its distance from any centre is that of 0).
struct FixedPointExtremes {
    std::int32_t least[3] = {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
                             std::numeric_limits<std::int32_t>::max()};
    std::int32_t greatest[3] = {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::min()};

    bool empty() const { return least[0] > greatest[0]; }
};

// Reads the plain lines at the start of text[0, size) as a PlainLinesReader
// does, but folds their records into `extremes` instead of writing them,
// with no bound on their number. Gives the bytes of the lines taken.
using PlainExtremesReader = std::size_t (*)(const char* text, std::size_t size,
                                            FixedPointExtremes& extremes);

PlainExtremesReader plain_extremes_reader(Kernel kernel);

std::size_t read_plain_extremes_portable(const char* text, std::size_t size,
                                         FixedPointExtremes& extremes);
#if defined(__x86_64__)
std::size_t read_plain_extremes_avx2(const char* text, std::size_t size,
                                     FixedPointExtremes& extremes);
std::size_t read_plain_extremes_avx512(const char* text, std::size_t size,
                                       FixedPointExtremes& extremes);
#endif

// True when the line begins with "ATOM" or "HETATM". Reads its first six
// bytes even when the line is shorter: a line feed among them matches no
// letter of the keywords, so bytes past it never decide.
inline bool begins_atom_record(const char* line) {
    return std::memcmp(line, "ATOM", 4) == 0 || std::memcmp(line, "HETATM", 6) == 0;
}

}  // namespace record_scan
