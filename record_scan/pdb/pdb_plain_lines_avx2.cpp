// The AVX2 kernel: a line is found with three 32-byte comparisons, and its
// three coordinate fields are judged and read together from one 32-byte
// load at column 31. Compiled for AVX2 function by function (the target
// attribute), so the rest of the program still runs on any x86-64; it is
// called only where available_kernels() found AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "fixed_point_avx2.hpp"
#include "pdb/pdb_plain_lines.hpp"

#define AVX2_FUNCTION [[gnu::target("avx2"), gnu::always_inline]] inline

namespace record_scan {
namespace {

using fixed_point_avx2::bytes_equal;

AVX2_FUNCTION __m256i load(const char* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// The offset of the first line feed among the 96 bytes at `line`, or 96.
AVX2_FUNCTION unsigned first_line_feed(const char* line) {
    std::uint64_t first64 = bytes_equal(load(line), '\n') |
                            std::uint64_t{bytes_equal(load(line + 32), '\n')} << 32;
    if (first64 != 0) return static_cast<unsigned>(__builtin_ctzll(first64));
    std::uint64_t last32 = bytes_equal(load(line + 64), '\n') | std::uint64_t{1} << 32;
    return 64 + static_cast<unsigned>(__builtin_ctzll(last32));
}

// Columns 31 to 55 at `fields`: X, Y and Z, eight bytes each, and the byte
// after Z. When each field is "%8.3f"-shaped and that byte cannot carry Z
// further, writes the three values and returns true.
AVX2_FUNCTION bool read_fields(const char* fields, AtomXyz& atom) {
    // After Z, byte 24: a digit or a point is judged with the shape, an
    // exponent here, without a branch.
    return fixed_point_avx2::read_three_fields(load(fields), atom) & ((fields[24] | 0x20) != 'e');
}

}  // namespace

// The line feeds of 64 bytes at `at`, one bit each.
AVX2_FUNCTION std::uint64_t line_feeds(const char* at) {
    return bytes_equal(load(at), '\n') | std::uint64_t{bytes_equal(load(at + 32), '\n')} << 32;
}

[[gnu::target("avx2")]] PlainRun read_plain_lines_avx2(const char* text, std::size_t size,
                                                         AtomXyz* atoms, std::size_t capacity) {
    static_assert(longest_plain_line == 96 && plain_lines_lookahead >= 96);
    // The first byte after Z; a shorter record is left to the exact reader.
    constexpr unsigned z_end = 54;
    // The line feeds come from a map of 64 bytes at a time, taken ahead of
    // the lines: each line's end is the next bit, not a search that must
    // wait for the end of the line before. Near the end of the bytes, where
    // a whole 64 would reach past them, each line is searched on its own.
    std::size_t base = 0;                  // where the map's 64 bytes begin
    std::uint64_t feeds = size >= 64 ? line_feeds(text) : 0;  // those not yet passed
    PlainRun run;
    while (run.records < capacity && size - run.bytes >= plain_lines_lookahead) {
        const char* line = text + run.bytes;
        while (feeds == 0 && base + 128 <= size) {
            base += 64;
            feeds = line_feeds(text + base);
        }
        unsigned line_feed;
        if (feeds != 0) {
            line_feed = static_cast<unsigned>(base + static_cast<std::size_t>(__builtin_ctzll(feeds)) - run.bytes);
            feeds &= feeds - 1;
            if (line_feed >= longest_plain_line) break;
        } else {
            line_feed = first_line_feed(line);
            if (line_feed == longest_plain_line) break;
        }
        if (begins_atom_record(line)) {
            if (line_feed < z_end || !read_fields(line + 30, atoms[run.records])) break;
            ++run.records;
        }
        run.bytes += line_feed + 1;
    }
    return run;
}

}  // namespace record_scan

#endif
