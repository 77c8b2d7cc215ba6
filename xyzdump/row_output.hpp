// Where xyzdump's rows go, chosen so that nothing the user already has is
// lost: not the input, not what the shell put in standard output's file, not
// a structure file named by mistake.
#pragma once

#include <cstdint>
#include <cstdio>

namespace xyzdump {

// The stream for the rows; none when OUTPUT is refused or cannot be opened.
struct RowOutput {
    std::FILE* stream = nullptr;
    bool standard_output = false;  // stdout itself: never emptied, never closed
    // A regular file: where this run's rows begin in it (the end, for
    // standard output opened to append), so that rows can be taken back.
    // -1 for a pipe or a device, where what is written is gone.
    long long rows_start = -1;
};

// Decides in this order:
// 1. refused: OUTPUT is the same regular file as `input`, through any name;
// 2. standard output itself: OUTPUT is "-" or the file descriptor 1 already
//    is, so the shell's offset and append mode hold;
// 3. refused: OUTPUT is an existing regular file holding structure data;
// otherwise OUTPUT is created, or emptied.
RowOutput open_row_output(const char* path, std::FILE* input);

// Flushes the rows and closes the stream, except standard output, which a
// message may still follow. False when either failed.
bool close_row_output(const RowOutput& output);

// Cuts a regular file back to the end of the first `rows` rows this run
// wrote (each ends in its one line feed), its offset with it, so that a
// message after them follows the rows kept; every row of this run when
// they cannot be read back and counted. False when the output is no
// regular file or the cut failed.
bool keep_first_rows(const RowOutput& output, std::uint64_t rows);

}  // namespace xyzdump
