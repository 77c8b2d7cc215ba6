// The AVX2 kernel: a line is found with three 32-byte comparisons, and its
// three coordinate fields are judged and read together from one 32-byte
// load at column 31. Compiled for AVX2 function by function (the target
// attribute), so the rest of the program still runs on any x86-64; it is
// called only where available_kernels() found AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "fixed_point_avx2.hpp"
#include "pdb/plain_lines/plain_lines.hpp"

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

// After Z, byte 24 of the fields: a digit or a point is judged with the
// shape, an exponent here, without a branch.
AVX2_FUNCTION bool z_ends(const char* fields) { return (fields[24] | 0x20) != 'e'; }

// The line feeds of 64 bytes at `at`, one bit each.
AVX2_FUNCTION std::uint64_t line_feeds(const char* at) {
    return bytes_equal(load(at), '\n') | std::uint64_t{bytes_equal(load(at + 32), '\n')} << 32;
}

// The first byte after Z; a shorter record is left to the exact reader.
constexpr unsigned z_end = 54;

// Walks the plain lines from text's start, handing each record's columns 31
// on (X, Y, Z and what follows) to `take`, which answers whether the record
// is plain; stops at the first line that is not, or after `capacity`
// records. The line feeds come from a map of 64 bytes at a time, taken
// ahead of the lines: each line's end is the next bit, not a search that
// must wait for the end of the line before. Near the end of the bytes,
// where a whole 64 would reach past them, each line is searched on its own.
template <typename TakeRecord>
AVX2_FUNCTION PlainRun walk_plain_lines(const char* text, std::size_t size, std::size_t capacity,
                                        TakeRecord&& take) {
    static_assert(longest_plain_line == 96 && plain_lines_lookahead >= 96);
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
            if (line_feed < z_end || !take(line + 30, run.records)) break;
            ++run.records;
        }
        run.bytes += line_feed + 1;
    }
    return run;
}

// Writes each record's floats (the records the reader hands out).
struct WriteAtoms {
    AtomXyz* atoms;
    AVX2_FUNCTION bool operator()(const char* fields, std::size_t index) const {
        // Both judged, as integers: no branch between them.
        int read = fixed_point_avx2::read_three_fields(load(fields), atoms[index]);
        return (read & int{z_ends(fields)}) != 0;
    }
};

// Folds each record into the extremes, kept in two vectors for the whole
// walk, the lanes of X, Y and Z where judge_three_fields puts them (dwords
// 0, 1 and 4): no float is made per record.
struct FoldExtremes {
    __m256i least;
    __m256i greatest;
    AVX2_FUNCTION bool operator()(const char* fields, std::size_t) {
        const fixed_point_avx2::ThreeFields judged = fixed_point_avx2::judge_three_fields(load(fields));
        if (!(judged.shaped & z_ends(fields))) return false;
        const __m256i values = fixed_point_avx2::signed_thousandths(judged);
        least = _mm256_min_epi32(least, values);
        greatest = _mm256_max_epi32(greatest, values);
        return true;
    }
};

}  // namespace

[[gnu::target("avx2")]] PlainRun read_plain_lines_avx2(const char* text, std::size_t size,
                                                         AtomXyz* atoms, std::size_t capacity) {
    return walk_plain_lines(text, size, capacity, WriteAtoms{atoms});
}

[[gnu::target("avx2")]] std::size_t read_plain_extremes_avx2(const char* text, std::size_t size,
                                                             FixedPointExtremes& extremes) {
    const std::int32_t* least = extremes.least;
    const std::int32_t* greatest = extremes.greatest;
    FoldExtremes fold{_mm256_setr_epi32(least[0], least[1], 0, 0, least[2], 0, 0, 0),
                      _mm256_setr_epi32(greatest[0], greatest[1], 0, 0, greatest[2], 0, 0, 0)};
    const std::size_t bytes = walk_plain_lines(text, size, SIZE_MAX, fold).bytes;
    alignas(32) std::int32_t lanes[2][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), fold.least);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), fold.greatest);
    extremes.least[0] = lanes[0][0], extremes.least[1] = lanes[0][1], extremes.least[2] = lanes[0][4];
    extremes.greatest[0] = lanes[1][0], extremes.greatest[1] = lanes[1][1], extremes.greatest[2] = lanes[1][4];
    return bytes;
}

}  // namespace record_scan

#endif
