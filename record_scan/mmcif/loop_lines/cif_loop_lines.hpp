// The fast reading of loop values, for the lines that make up nearly all of
// an mmCIF file: a line whose tokens are plain values (none begins with a
// quote, '#', '_' or, at the line start, ';', and none is a reserved word)
// is split at its blanks 64 bytes at a time with word masks, and only the
// columns that matter are looked at. Whatever else it meets is left to the
// tokenizer, at the start of the token concerned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mmcif/atom_site_rows.hpp"
#include "mmcif/cif_outcomes.hpp"

namespace record_scan {

// How far past its `end` read_loop_lines may load bytes (never using them).
inline constexpr std::size_t loop_lines_overread = 128;

struct LoopLinePosition {
    const char* next;        // between tokens, inside the values of a loop
    bool at_line_start;      // `next` begins a line
    // The line feed of next's line when known (the end of the bytes when
    // there is none before it), else null.
    const char* line_feed;
};

enum class LoopLines : unsigned char {
    read,             // some lines were read
    needs_bytes,      // the line goes on past the end of the bytes at hand
    needs_tokenizer,  // the token at `next` (or, with no room, its line) is the tokenizer's
};

// Reads values up to `end`. `rows`: the loop whose rows are read, or null
// for a loop that is passed over. Stops, between tokens, before `out` might
// overflow.
using LoopLinesReader = LoopLines (*)(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                      OutcomeQueue& out);

// The same reading built for three instruction sets: any machine's, AVX2
// with BMI2 and POPCNT, and AVX-512 (F, BW, VL, VBMI, VBMI2) with those
// (each only where the machine has them).
LoopLines read_loop_lines_portable(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                   OutcomeQueue& out);
#if defined(__x86_64__)
LoopLines read_loop_lines_avx2(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                               OutcomeQueue& out);
LoopLines read_loop_lines_avx512(LoopLinePosition& at, const char* end, AtomSiteLoop* rows,
                                 OutcomeQueue& out);
#endif

// The reading of a kernel; the portable one for a kernel this machine cannot run.
LoopLinesReader loop_lines_reader(Kernel kernel);

// Bit i of each mask tells about byte i of a 64-byte window.
struct CifByteMasks {
    std::uint64_t blank;       // white space
    std::uint64_t special;     // ' " # _: a token beginning with one is not a plain value
    std::uint64_t quote;       // ' "
    std::uint64_t underscore;  // '_': reserved words have one at their 5th or 7th byte
    std::uint64_t line_feed;
};
CifByteMasks classify_cif_bytes(const char* window);
CifByteMasks classify_cif_bytes_portable(const char* window);  // the same, a byte at a time
#if defined(__x86_64__)
CifByteMasks classify_cif_bytes_avx2(const char* window);    // only where the AVX2 kernel runs
CifByteMasks classify_cif_bytes_avx512(const char* window);  // only where the AVX-512 kernel runs
#endif

}  // namespace record_scan
