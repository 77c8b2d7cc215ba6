// The AVX2 kernel: a line's three coordinate fields are judged and read
// together from one 32-byte load at column 31, and runs of lines of one
// length are taken without a branch per line (line_runs.hpp). Compiled for
// AVX2 function by function (the target attribute), so the rest of the
// program still runs on any x86-64; it is called only where
// available_kernels() found AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>
#include <limits>

#include "pdb/plain_lines/fields_avx2.hpp"
#include "pdb/plain_lines/line_runs.hpp"
#include "pdb/plain_lines/plain_lines.hpp"

#define AVX2_FUNCTION [[gnu::target("avx2,bmi,bmi2,popcnt"), gnu::always_inline]] inline

namespace record_scan {
namespace {

using namespace line_runs;
using namespace fields_avx2;
using line_runs::load;

// The lines of a run or one line, judged: whether each begins a record
// (from the 8 bytes before it, which also show its line feed before), and
// what breaks them. `take` folds or writes one line's fields as the line is
// judged; the caller keeps what it took only when nothing broke.
template <typename Take>
AVX2_FUNCTION std::uint32_t judge_run(const char* first, std::size_t count, std::size_t length, const Constants& c,
                                      Take& take) {
    std::uint32_t broken = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char* line = first + i * length;
        const std::uint64_t before = word_at(line - 1);
        const std::uint32_t record = follows_record_start(before);
        const JudgedFields fields = judge_fields(line, c);
        broken |= not_after_line_feed(before) | (fields.misshapen & (0u - record));
        take(fields, record);
    }
    return broken;
}

// The records handed out, `capacity` at most. A run holds no more lines
// than there is room for, so each line writes at or before its own index.
struct RecordLines {
    const Constants& c;
    AtomXyz* atoms;
    std::size_t capacity;
    std::size_t records = 0;

    AVX2_FUNCTION std::size_t room() const { return capacity - records; }

    AVX2_FUNCTION bool run(const char* first, std::size_t count, std::size_t length) {
        WriteAtoms write{atoms, records};
        if (judge_run(first, count, length, c, write) != 0) return false;
        records = write.next;
        return true;
    }

    AVX2_FUNCTION bool one(const char* line, unsigned line_feed) {
        return write_alone(line, line_feed, begins_record(word_at(line)), c, atoms, records);
    }
};

// Folds each record into the extremes, kept in two vectors in the dwords
// where the fields land (0, 1 and 4): no float is made per record. A line
// that is no record folds the values that change nothing.
struct FoldExtremes {
    __m256i least;
    __m256i greatest;

    AVX2_FUNCTION void operator()(const JudgedFields& fields, std::uint32_t record) {
        const __m256i values = _mm256_sub_epi32(_mm256_xor_si256(fields.thousandths, fields.negative), fields.negative);
        const __m256i is_record = _mm256_set1_epi32(-static_cast<int>(record));
        least = _mm256_min_epi32(least, _mm256_blendv_epi8(_mm256_set1_epi32(std::numeric_limits<std::int32_t>::max()),
                                                           values, is_record));
        greatest = _mm256_max_epi32(greatest, _mm256_blendv_epi8(_mm256_set1_epi32(std::numeric_limits<std::int32_t>::min()),
                                                                 values, is_record));
    }
};

struct ExtremeLines {
    const Constants& c;
    FoldExtremes kept;

    AVX2_FUNCTION std::size_t room() const { return std::numeric_limits<std::size_t>::max(); }

    AVX2_FUNCTION bool run(const char* first, std::size_t count, std::size_t length) {
        FoldExtremes fold = kept;
        if (judge_run(first, count, length, c, fold) != 0) return false;
        kept = fold;
        return true;
    }

    AVX2_FUNCTION bool one(const char* line, unsigned line_feed) {
        const std::uint32_t record = begins_record(word_at(line));
        const JudgedFields fields = judge_fields(line, c);
        if (breaks_alone(fields, line_feed, record) != 0) return false;
        kept(fields, record);
        return true;
    }
};

}  // namespace

[[gnu::target("avx2,bmi,bmi2,popcnt")]] PlainRun read_plain_lines_avx2(const char* text, std::size_t size,
                                                                        AtomXyz* atoms, std::size_t capacity) {
    const Constants constants = make_constants();
    RecordLines lines{constants, atoms, capacity};
    const std::size_t bytes = walk_line_runs(text, size, lines);
    return {bytes, lines.records};
}

[[gnu::target("avx2,bmi,bmi2,popcnt")]] std::size_t read_plain_extremes_avx2(const char* text, std::size_t size,
                                                                             FixedPointExtremes& extremes) {
    const Constants constants = make_constants();
    const std::int32_t* least = extremes.least;
    const std::int32_t* greatest = extremes.greatest;
    ExtremeLines lines{constants, {_mm256_setr_epi32(least[0], least[1], 0, 0, least[2], 0, 0, 0),
                                   _mm256_setr_epi32(greatest[0], greatest[1], 0, 0, greatest[2], 0, 0, 0)}};
    const std::size_t bytes = walk_line_runs(text, size, lines);
    alignas(32) std::int32_t lanes[2][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), lines.kept.least);
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), lines.kept.greatest);
    extremes.least[0] = lanes[0][0], extremes.least[1] = lanes[0][1], extremes.least[2] = lanes[0][4];
    extremes.greatest[0] = lanes[1][0], extremes.greatest[1] = lanes[1][1], extremes.greatest[2] = lanes[1][4];
    return bytes;
}

}  // namespace record_scan

#endif
