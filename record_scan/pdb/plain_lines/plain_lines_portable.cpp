// The portable kernel: plain C++ for every machine. Lines are found with
// memchr and fields read eight bytes at a time (pdb_columns.cpp).
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "pdb/pdb_columns.hpp"
#include "pdb/plain_lines/plain_lines.hpp"

namespace record_scan {

namespace {

// Walks the plain lines from text's start, handing each atom record to
// `take`, which answers whether it is plain; stops at the first line that
// is not, or after `capacity` records.
template <typename TakeRecord>
[[gnu::always_inline]] inline PlainRun walk_plain_lines(const char* text, std::size_t size,
                                                        std::size_t capacity, TakeRecord&& take) {
    PlainRun run;
    while (run.records < capacity && size - run.bytes >= plain_lines_lookahead) {
        const char* line = text + run.bytes;
        const void* line_feed = std::memchr(line, '\n', longest_plain_line);
        if (line_feed == nullptr) break;
        std::string_view chunk(line, static_cast<const char*>(line_feed) - line + 1);
        if (begins_atom_record(line)) {
            if (!take(chunk, run.records)) break;
            ++run.records;
        }
        run.bytes += chunk.size();
    }
    return run;
}

}  // namespace

// Flattened: the field reading inlined into the loop (where the optimiser
// can see it, as with link-time optimisation) saves a call per record.
[[gnu::flatten]] PlainRun read_plain_lines_portable(const char* text, std::size_t size,
                                                    AtomXyz* atoms, std::size_t capacity) {
    return walk_plain_lines(text, size, capacity, [atoms](std::string_view chunk, std::size_t index) {
        return read_fixed_point_fields(chunk, atoms[index]);
    });
}

[[gnu::flatten]] std::size_t read_plain_extremes_portable(const char* text, std::size_t size,
                                                          FixedPointExtremes& extremes) {
    const auto fold = [&extremes](std::string_view chunk, std::size_t) {
        std::int32_t thousandths[3];
        if (!read_fixed_point_thousandths(chunk, thousandths)) return false;
        for (int axis = 0; axis < 3; ++axis) {
            extremes.least[axis] = std::min(extremes.least[axis], thousandths[axis]);
            extremes.greatest[axis] = std::max(extremes.greatest[axis], thousandths[axis]);
        }
        return true;
    };
    return walk_plain_lines(text, size, SIZE_MAX, fold).bytes;
}

}  // namespace record_scan
