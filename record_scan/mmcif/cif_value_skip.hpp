// Passing over the text that no reading needs. Outside a loop, or after a
// data name of another category, no value matters: only the names of
// _atom_site and the reserved words do, and each holds a '_'. So the lines
// ahead are judged 64 bytes at a time by classes of bytes, and passed whole
// where no token begins with a quote or '#', no name begins "_atom_site",
// no '_' lies where a reserved word has it and no text field begins; any
// other line is cut as the tokenizer cuts it, without keeping a byte, up
// to the first token that may matter.
#pragma once

#include "record_scan.hpp"

namespace record_scan {

struct CifSkipPosition {
    const char* next;    // between tokens
    bool at_line_start;  // `next` begins a line
};

enum class CifSkip : unsigned char {
    token,        // `next` begins a token that may matter: the tokenizer's to read
    needs_bytes,  // the token or line at `next` goes on past the bytes at hand
};

// Passes over values, the names of other categories, comments and white
// space from `at` towards `end`, classifying bytes with the instructions
// of `kernel` (AVX2 for either wider kernel; the portable kernel's SSE2 on
// x86-64). Loads up to 64 bytes past `end`, never using them.
CifSkip skip_cif_values(CifSkipPosition& at, const char* end, Kernel kernel);

// Passes over data names and white space from `at` towards `end`, up to
// the first token that is no name (a value, a reserved word, a comment):
// the names of a loop of another category, whose columns no reading needs.
CifSkip skip_cif_names(CifSkipPosition& at, const char* end, Kernel kernel);

}  // namespace record_scan
