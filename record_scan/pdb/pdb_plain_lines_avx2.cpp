// The AVX2 kernel: a line is found with three 32-byte comparisons, and its
// three coordinate fields are judged and read together from one 32-byte
// load at column 31. Compiled for AVX2 function by function (the target
// attribute), so the rest of the program still runs on any x86-64; it is
// called only where available_kernels() found AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "pdb/pdb_plain_lines.hpp"

#define AVX2_FUNCTION [[gnu::target("avx2"), gnu::always_inline]] inline

namespace record_scan {
namespace {

AVX2_FUNCTION std::uint32_t bytes_equal(__m256i bytes, char c) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c))));
}

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

// A byte-mask constant for each of the three fields: bit i of `field` for
// byte i of the field, in each of bytes 0-7, 8-15 and 16-23.
constexpr std::uint32_t in_each_field(std::uint8_t field) { return 0x010101u * field; }

// Columns 31 to 55 at `fields`: X, Y and Z, eight bytes each, and the byte
// after Z. When each field is "%8.3f"-shaped (blanks, an optional minus,
// one to four digits, the point, three digits) and that byte cannot carry
// Z further, writes the three values and returns true.
AVX2_FUNCTION bool read_fields(const char* fields, AtomXyz& atom) {
    const __m256i text = load(fields);
    // Digits become 0 to 9; every other byte becomes more than 9.
    const __m256i digit_values = _mm256_sub_epi8(text, _mm256_set1_epi8('0'));
    const __m256i is_digit =
        _mm256_cmpeq_epi8(_mm256_min_epu8(digit_values, _mm256_set1_epi8(9)), digit_values);

    // The shape, one bit per byte: byte 4 of a field is the point, bytes 3
    // and 5 to 7 digits, bytes 0 to 2 digits, blanks or a minus, in which a
    // digit or the minus is followed by a digit.
    const auto digit = static_cast<std::uint32_t>(_mm256_movemask_epi8(is_digit));
    const std::uint32_t point = bytes_equal(text, '.');
    const std::uint32_t minus = bytes_equal(text, '-');
    const std::uint32_t lead = bytes_equal(text, ' ') | minus;
    const std::uint32_t in_place = (digit & in_each_field(0b1110'1111)) |
                                   (lead & in_each_field(0b0000'0111)) |
                                   (point & in_each_field(0b0001'0000));
    const std::uint32_t wants_digit_next = (digit | minus) & in_each_field(0b0000'0111);
    // After Z, byte 24: what would carry Z further in a free-form reading
    // (a digit, a point, an exponent). One test for all, without branches.
    const std::uint32_t after_z = std::uint32_t{1} << 24;
    const std::uint32_t misshapen =
        (in_place ^ 0xffffff) | ((wants_digit_next << 1) & ~digit) | ((digit | point) & after_z);
    const bool plain = (misshapen == 0) & ((fields[24] | 0x20) != 'e');

    // The point is always byte 4 and a lead byte counts 0 once cleared, so
    // each field is digits times fixed weights: pairs (x10 + x1), halves
    // (x100 + x1) for the integer and the fraction, then integer x1000 +
    // fraction. No step can saturate (99, 9999, then 16-bit packing of
    // values up to 9999), and the result stays below 10^7 < 2^24.
    const __m256i digits = _mm256_and_si256(digit_values, is_digit);
    const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(1 << 8 | 10));
    const __m256i halves = _mm256_madd_epi16(pairs, _mm256_set1_epi32(1 << 16 | 100));
    // Packing works per 128-bit lane, so X, Y land in dwords 0, 1 and Z in dword 4.
    const __m256i thousandths = _mm256_madd_epi16(_mm256_packs_epi32(halves, halves),
                                                  _mm256_set1_epi32(1 << 16 | 1000));
    // Both operands are exact in single precision, so the one correctly
    // rounded division is the nearest float to the decimal, as sscanf gives.
    const __m256 magnitudes =
        _mm256_div_ps(_mm256_cvtepi32_ps(thousandths), _mm256_set1_ps(1000.0f));
    // A shaped field holds a minus only in its lead, bytes 0 to 2, so its
    // 64-bit lane of minus bytes is a positive number exactly when it is
    // negative. That lane is moved to where the field's value lies.
    const __m256i negative = _mm256_shuffle_epi32(
        _mm256_cmpgt_epi64(_mm256_cmpeq_epi8(text, _mm256_set1_epi8('-')), _mm256_setzero_si256()),
        0b10'00'10'00);
    const __m256 values =
        _mm256_or_ps(magnitudes, _mm256_castsi256_ps(_mm256_slli_epi32(negative, 31)));

    _mm_storel_pi(reinterpret_cast<__m64*>(&atom.x), _mm256_castps256_ps128(values));
    _mm_store_ss(&atom.z, _mm256_extractf128_ps(values, 1));
    return plain;
}

}  // namespace

[[gnu::target("avx2")]] PlainRun read_plain_lines_avx2(const char* text, std::size_t size,
                                                         AtomXyz* atoms, std::size_t capacity) {
    static_assert(longest_plain_line == 96 && plain_lines_lookahead >= 96);
    // The first byte after Z; a shorter record is left to the exact reader.
    constexpr unsigned z_end = 54;
    PlainRun run;
    while (run.records < capacity && size - run.bytes >= plain_lines_lookahead) {
        const char* line = text + run.bytes;
        const unsigned line_feed = first_line_feed(line);
        if (line_feed == longest_plain_line) break;
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
