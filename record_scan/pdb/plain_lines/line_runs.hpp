// Runs of lines of one length, the usual shape of a PDB file's atom
// records (80 columns and a line feed, line after line). A run's line
// starts are known before any of its lines is read, so a kernel takes its
// lines in one go, each judged and folded without a branch on what the
// text holds (record or not, where it ends): a mispredicted branch per
// line, not the reading, was most of the cost of a line found by the one
// before it. A run is believed only once checked: exactly as many line
// feeds as lines lie in its bytes (counted here), and each line's last
// byte is one (the kernel reads it with the next line's first bytes).
// Any other line, the first of a call among them, is found by its line
// feed and taken alone. Shared by the AVX2 and AVX-512 kernels; every
// function here is compiled for its includer's instructions (AVX2 unless
// it defines LINE_RUNS_FUNCTION first, as the AVX-512 kernel does), so
// include it only where those were found at run time.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fixed_point_avx2.hpp"
#include "pdb/plain_lines/plain_lines.hpp"

#if !defined(LINE_RUNS_FUNCTION)
#define LINE_RUNS_FUNCTION [[gnu::target("avx2,bmi,bmi2,popcnt"), gnu::always_inline]] inline
#endif

namespace record_scan::line_runs {

// Lines taken as one run, at most: enough to spread the check's cost.
inline constexpr std::size_t run_lines = 32;

// A run's lines are at least this long: a record's X, Y and Z end at byte
// 54, where its line feed may stand at the earliest.
inline constexpr std::size_t shortest_run_line = 55;

// After a run fails its check, so many lines are taken alone before the
// next is tried: files whose lines vary in length pay for a try now and
// then, not for one at every line.
inline constexpr std::size_t lines_between_tries = 16;

// The words "ATOM" and "HETATM" as the first bytes of a little-endian word.
inline constexpr std::uint64_t atom_word = 0x4d4f5441;
inline constexpr std::uint64_t hetatm_word = 0x4d5441544548;

// 1 when the 8 bytes at a line's start begin "ATOM" or "HETATM", else 0,
// as integers, so that the compiler makes no branch of it.
LINE_RUNS_FUNCTION std::uint32_t begins_record(std::uint64_t head) {
    return static_cast<std::uint32_t>(static_cast<std::uint32_t>(head) == atom_word) |
           static_cast<std::uint32_t>((head << 16) == (hetatm_word << 16));
}

// The same from the 8 bytes before a line's start: the line feed that
// ends the line before, then the line's first seven bytes.
LINE_RUNS_FUNCTION std::uint32_t follows_record_start(std::uint64_t before) { return begins_record(before >> 8); }

// Nonzero unless the byte before a line, the low one of `before`, is a line feed.
LINE_RUNS_FUNCTION std::uint32_t not_after_line_feed(std::uint64_t before) {
    return static_cast<std::uint8_t>(before ^ '\n');
}

LINE_RUNS_FUNCTION std::uint64_t word_at(const char* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

LINE_RUNS_FUNCTION __m256i load(const char* at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)); }

// The line feeds of the 64 bytes at `at`, one bit each.
LINE_RUNS_FUNCTION std::uint64_t line_feeds(const char* at) {
    using fixed_point_avx2::bytes_equal;
    return bytes_equal(load(at), '\n') | std::uint64_t{bytes_equal(load(at + 32), '\n')} << 32;
}

// The offset of the first line feed among the 96 bytes at `line`, or 96.
LINE_RUNS_FUNCTION unsigned first_line_feed(const char* line) {
    if (const std::uint64_t first64 = line_feeds(line); first64 != 0)
        return static_cast<unsigned>(__builtin_ctzll(first64));
    const std::uint64_t last32 = fixed_point_avx2::bytes_equal(load(line + 64), '\n') | std::uint64_t{1} << 32;
    return 64 + static_cast<unsigned>(__builtin_ctzll(last32));
}

// Finds the lines taken alone: the line feeds come from a map of 64 bytes
// at a time, taken ahead of the lines, so that each line's end is the next
// bit rather than a search that must wait for the line before. Near the
// end of the bytes, where 64 more would reach past them, each line is
// searched on its own.
class LineFeedMap {
public:
    LINE_RUNS_FUNCTION LineFeedMap(const char* text, std::size_t size, std::size_t from)
        : text_(text), size_(size), base_(from), feeds_(size - from >= 64 ? line_feeds(text + from) : 0) {}

    // The offset, from `line_start`, of the line feed that ends the line
    // there, or longest_plain_line or more where it lies further.
    LINE_RUNS_FUNCTION std::size_t line_end(std::size_t line_start) {
        while (feeds_ == 0 && base_ + 128 <= size_) {
            base_ += 64;
            feeds_ = line_feeds(text_ + base_);
        }
        if (feeds_ == 0) return first_line_feed(text_ + line_start);
        const std::size_t line_feed = base_ + static_cast<std::size_t>(__builtin_ctzll(feeds_)) - line_start;
        feeds_ &= feeds_ - 1;
        return line_feed;
    }

private:
    const char* text_;
    std::size_t size_;
    std::size_t base_;     // where the map's 64 bytes begin
    std::uint64_t feeds_;  // those not yet passed
};

// How many line feeds lie in [text, text + size), size 32 to 32 * 96.
LINE_RUNS_FUNCTION std::size_t count_line_feeds(const char* text, std::size_t size) {
    const __m256i line_feed = _mm256_set1_epi8('\n');
    // Each byte lane adds -1 for each line feed of its column: 48 times at
    // most, within a byte, before the lanes are summed. Two sums, 128 bytes
    // a step: a run's count costs a third less than at 32 bytes a step.
    __m256i lanes = _mm256_setzero_si256(), more_lanes = _mm256_setzero_si256();
    std::size_t offset = 0;
    for (; offset + 128 <= size; offset += 128) {
        lanes = _mm256_add_epi8(_mm256_add_epi8(lanes, _mm256_cmpeq_epi8(load(text + offset), line_feed)),
                                _mm256_cmpeq_epi8(load(text + offset + 32), line_feed));
        more_lanes = _mm256_add_epi8(_mm256_add_epi8(more_lanes, _mm256_cmpeq_epi8(load(text + offset + 64), line_feed)),
                                     _mm256_cmpeq_epi8(load(text + offset + 96), line_feed));
    }
    for (; offset + 32 <= size; offset += 32) lanes = _mm256_add_epi8(lanes, _mm256_cmpeq_epi8(load(text + offset), line_feed));
    lanes = _mm256_add_epi8(lanes, more_lanes);
    const __m256i sums = _mm256_sad_epu8(_mm256_sub_epi8(_mm256_setzero_si256(), lanes), _mm256_setzero_si256());
    const __m128i both = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    std::size_t count = static_cast<std::size_t>(_mm_cvtsi128_si64(both) + _mm_extract_epi64(both, 1));
    // The last bytes, from a load that ends where the run ends, less those
    // already counted.
    if (const std::size_t rest = size - offset; rest != 0) {
        const std::uint32_t last = fixed_point_avx2::bytes_equal(load(text + size - 32), '\n');
        count += static_cast<std::size_t>(__builtin_popcount(last >> (32 - rest)));
    }
    return count;
}

// True when `lines` lines of `length` bytes at `first` hold exactly as
// many line feeds, and the last byte of the first and of the last is one:
// then, once the byte before each other line start is found to be a line
// feed too, they are such lines. The two ends are looked at first, which
// turns most runs of other lengths away at once.
LINE_RUNS_FUNCTION bool may_be_run(const char* first, std::size_t lines, std::size_t length) {
    const std::size_t size = lines * length;
    return first[length - 1] == '\n' && first[size - 1] == '\n' && count_line_feeds(first, size) == lines;
}

// Walks the plain lines from text's start for `lines`, taking runs where
// their check holds and each other line alone; stops at the first line
// that is not plain, where fewer than plain_lines_lookahead bytes are left
// at a line start, or where `lines` has no room left. Gives the bytes of
// the lines taken. `Lines` has:
//   room(): how many more records it may take;
//   run(first, count, length): takes `count` lines of `length` at `first`,
//     whose line feeds were counted, checking that the byte before each
//     line after the first is a line feed; false, having taken nothing,
//     when that fails or a line is not plain;
//   one(line, line_feed): takes one line; false, having taken nothing,
//     when it is not plain.
template <typename Lines>
LINE_RUNS_FUNCTION std::size_t walk_line_runs(const char* text, std::size_t size, Lines& lines) {
    static_assert(longest_plain_line == 96 && plain_lines_lookahead >= 128);
    std::size_t taken = 0, length = 0, alone = 0;
    LineFeedMap map(text, size, 0);
    while (size - taken >= plain_lines_lookahead && lines.room() != 0) {
        // A run needs the byte before its first line, so never at the start.
        if (alone == 0 && length >= shortest_run_line && taken != 0) {
            const std::size_t count = std::min(run_lines, lines.room());
            if (count > 1 && size - taken >= count * length + plain_lines_lookahead) {
                const char* first = text + taken;
                if (may_be_run(first, count, length) && lines.run(first, count, length)) {
                    taken += count * length;
                    map = LineFeedMap(text, size, taken);
                    continue;
                }
                alone = lines_between_tries;
            }
        }
        const std::size_t line_feed = map.line_end(taken);
        if (line_feed >= longest_plain_line || !lines.one(text + taken, static_cast<unsigned>(line_feed))) break;
        length = line_feed + 1;
        taken += length;
        alone -= alone != 0;
    }
    return taken;
}

}  // namespace record_scan::line_runs

#endif
