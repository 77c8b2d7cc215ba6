// The portable kernel: plain C++ for every machine. Lines are found with
// memchr and fields read eight bytes at a time (pdb_columns.cpp).
#include <string_view>

#include "pdb/pdb_columns.hpp"
#include "pdb/pdb_plain_lines.hpp"

namespace record_scan {

// Flattened: the field reading inlined into the loop (where the optimiser
// can see it, as with link-time optimisation) saves a call per record.
[[gnu::flatten]] PlainRun read_plain_lines_portable(const char* text, std::size_t size,
                                                    AtomXyz* atoms, std::size_t capacity) {
    PlainRun run;
    while (run.records < capacity && size - run.bytes >= plain_lines_lookahead) {
        const char* line = text + run.bytes;
        const void* line_feed = std::memchr(line, '\n', longest_plain_line);
        if (line_feed == nullptr) break;
        std::string_view chunk(line, static_cast<const char*>(line_feed) - line + 1);
        if (begins_atom_record(line)) {
            if (!read_fixed_point_fields(chunk, atoms[run.records])) break;
            ++run.records;
        }
        run.bytes += chunk.size();
    }
    return run;
}

}  // namespace record_scan
