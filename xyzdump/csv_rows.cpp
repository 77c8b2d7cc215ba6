#include "csv_rows.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "millionths.hpp"

namespace xyzdump {
namespace {

using namespace millionths;

// ---- The exact path: integers only, for every float ----------------------

// Floats up to 2^44 times 10^6 still fit in 64 bits.
constexpr int max_exact_exponent = 20;

// The float's value times 10^6, rounded half to even as printf rounds:
// m * 2^e * 10^6 = (m * 5^6) * 2^(e + 6), exact in 64 bits before the shift.
std::uint64_t scaled_by_million(std::uint32_t mantissa, int exponent) {
    std::uint64_t scaled = std::uint64_t{mantissa} * 15625;
    int shift = exponent + 6;
    if (shift >= 0) return scaled << shift;
    if (shift <= -64) return 0;
    int drop = -shift;
    std::uint64_t kept = scaled >> drop;
    std::uint64_t rest = scaled & ((std::uint64_t{1} << drop) - 1);
    std::uint64_t half = std::uint64_t{1} << (drop - 1);
    // Without branches: which way a coordinate rounds is a coin toss.
    return kept + ((rest > half) | ((rest == half) & (kept & 1)));
}

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* write_pair(char* out, unsigned value) {
    std::memcpy(out, digit_pairs + 2 * value, 2);
    return out + 2;
}

char* write_fraction(char* out, unsigned fraction) {
    *out++ = '.';
    out = write_pair(out, fraction / 10000);
    out = write_pair(out, fraction / 100 % 100);
    return write_pair(out, fraction % 100);
}

// ---- The fast path: one multiplication and one rounding in doubles -------
//
// A float is m * 2^e with m < 2^24. Times 10^6 it is (m * 15625) * 2^(e + 6),
// and m * 15625 < 2^38 fits a double's 53-bit significand; the exponent stays
// far inside a double's range (15625 * 2^-143 at the least). So the product
// of the widened float and 1e6 (itself exact) is exact: no rounding has
// happened yet, and a multiply-add fused with the next step sees the same.
//
// Adding 2^52 to a product p in [0, 2^52 - 1/2) lands in [2^52, 2^53), where
// the doubles are the integers: the addition rounds p to an integer, half to
// even (2^52 is even, so the sum's evenness is the rounded p's), and its bits
// less those of 2^52 are that integer. printf rounds the exact value of the
// double to six decimals half to even: the same rounding of the same p.

// Through the bits rather than a subtraction and a conversion: shorter latency.
std::uint64_t rounded_millionths(double product) {
    return std::bit_cast<std::uint64_t>(product + two_to_52) - std::bit_cast<std::uint64_t>(two_to_52);
}

// n / 10^6 for n < 10^10: 10^6 = 2^6 * 15625, and for m = n / 2^6 < 2^28,
// m * ceil(2^42 / 15625) / 2^42 exceeds m / 15625 by under 2^28 * 0.29 / 2^42
// < 2e-5, less than the 1/15625 a fraction m / 15625 stays below the next
// integer. One multiplication that fits 64 bits, without a 128-bit product.
std::uint32_t millions_in(std::uint64_t n) {
    return static_cast<std::uint32_t>(((n >> 6) * divide_by_15625) >> 42);
}

// Stores the low `bytes` bytes of `word`, lowest byte first, in one store on
// little-endian machines.
template <std::size_t bytes>
void store_lowest_first(char* out, std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &word, bytes);
    } else {
        for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<char>(word >> (8 * i));
    }
}

// The two characters of 00..99, the first in the low byte, as a number: the
// same table on machines of either byte order.
constexpr auto pair_codes = [] {
    std::array<std::uint16_t, 100> codes{};
    for (unsigned i = 0; i < 100; ++i) codes[i] = static_cast<std::uint16_t>((('0' + i % 10) << 8) | ('0' + i / 10));
    return codes;
}();

std::uint64_t pair_code(std::uint32_t value) { return pair_codes[value]; }

// Writes 0..9999 without leading zeros in one 4-byte store; returns the end.
char* write_integer_part(char* out, std::uint32_t value) {
    std::uint32_t high = value * 5243 >> 19;  // value / 100 for value < 43699
    std::uint64_t digits = pair_code(high) | pair_code(value - high * 100) << 16;
    // Leading '0' characters are the low bytes that the xor clears; a lone 0 stays.
    auto zero_bits = static_cast<unsigned>(std::countr_zero((digits ^ 0x30303030) | 0x01000000)) & ~7u;
    store_lowest_first<4>(out, digits >> zero_bits);
    return out - zero_bits / 8 + 4;
}

// Writes '.', the six digits of `fraction` and `separator` in one 8-byte store.
char* write_fraction_and(char* out, std::uint32_t fraction, char separator) {
    // fraction / 10^4 in 32.32 fixed point: the integer bits are the first
    // digit pair; the fraction bits times 100 give the next pair, and again.
    // ceil(2^32 / 10^4) = 429496.7296 + 0.2704 puts it over by less than
    // 10^6 * 0.2704 / 2^32 < 6.3e-5, then 6.3e-3 and 0.63 after each times
    // 100, while the exact value at those stages has a fraction of at most
    // 0.9999, 0.99 and 0: the overshoot never reaches the next integer.
    // Times 100 is taken as times 25 with the binary point two bits lower.
    std::uint64_t fixed = std::uint64_t{fraction} * 429497;  // ceil(2^32 / 10^4)
    std::uint64_t word = '.' | pair_code(fixed >> 32) << 8;
    fixed = (fixed & 0xffffffff) * 25;
    word |= pair_code(fixed >> 30) << 24;
    fixed = (fixed & 0x3fffffff) * 25;
    word |= pair_code(fixed >> 28) << 40 | std::uint64_t{static_cast<unsigned char>(separator)} << 56;
    store_lowest_first<8>(out, word);
    return out + 8;
}

// The float without its sign, times 10^6: exact, as above.
double magnitude_in_millionths(float value) { return std::fabs(double{value}) * 1e6; }

// NaN fails the comparison too.
bool fits_fast_path(double product) { return doubles_round_as_declared && product < fast_limit; }

// Writes "%f" of a value of the fast path, then `separator`; returns the end
// and never writes beyond it.
[[gnu::always_inline]] inline char* format_fast_and(char* out, std::uint32_t bits, double product,
                                                   char separator) {
    *out = '-';
    out += bits >> 31;
    std::uint64_t millionths = rounded_millionths(product);
    std::uint32_t integer = millions_in(millionths);
    auto fraction = static_cast<std::uint32_t>(millionths - std::uint64_t{integer} * 1000000);
    out = write_integer_part(out, integer);
    return write_fraction_and(out, fraction, separator);
}

// Out of line, so that the fast path is inlined thrice into each row.
[[gnu::noinline]] char* format_exactly_and(char* out, float value, char separator) {
    out = format_coordinate_exactly(out, value);
    *out++ = separator;
    return out;
}

// Inlined, three copies in a row: no calls, and the constants stay in registers.
[[gnu::always_inline]] inline char* format_coordinate_and(char* out, float value, char separator) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    double product = magnitude_in_millionths(value);
    if (fits_fast_path(product)) [[likely]]
        return format_fast_and(out, bits, product, separator);
    return format_exactly_and(out, value, separator);
}

}  // namespace

char* format_coordinate_exactly(char* out, float value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    std::uint32_t biased = (bits >> 23) & 0xff;
    std::uint32_t mantissa = bits & 0x7fffff;
    int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
    if (biased != 0) mantissa |= 0x800000;
    // Infinities, NaNs and the huge: the library formatter, exact as well.
    if (biased == 0xff || exponent > max_exact_exponent)
        return std::to_chars(out, out + max_coordinate_chars, double{value},
                             std::chars_format::fixed, 6)
            .ptr;
    *out = '-';
    out += bits >> 31;
    std::uint64_t millionths = scaled_by_million(mantissa, exponent);
    out = std::to_chars(out, out + max_coordinate_chars, millionths / 1000000).ptr;
    return write_fraction(out, static_cast<unsigned>(millionths % 1000000));
}

char* format_coordinate(char* out, float value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    double product = magnitude_in_millionths(value);
    // The fast path's separator is one byte past the end: room enough.
    if (fits_fast_path(product)) return format_fast_and(out, bits, product, '\0') - 1;
    return format_coordinate_exactly(out, value);
}

char* format_row(char* out, const record_scan::AtomXyz& atom) {
    out = format_coordinate_and(out, atom.x, ',');
    out = format_coordinate_and(out, atom.y, ',');
    return format_coordinate_and(out, atom.z, '\n');
}

char* format_rows(char* out, const record_scan::AtomXyz* atoms, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out = format_row(out, atoms[i]);
    return out;
}

RowsFormatter rows_formatter(record_scan::Kernel kernel) {
#if defined(__x86_64__)
    for (record_scan::Kernel available : record_scan::available_kernels()) {
        if (available != kernel) continue;
        if (kernel == record_scan::Kernel::avx2) return format_rows_avx2;
        if (kernel == record_scan::Kernel::avx512) return format_rows_avx512;
    }
#endif
    return format_rows;
}

CsvWriter::CsvWriter(std::FILE* output, record_scan::Kernel kernel)
    : output_(output), format_rows_(rows_formatter(kernel)), buffer_(std::make_unique_for_overwrite<char[]>(buffer_bytes)) {
    // Our buffer is the only one: each block goes out in one write.
    std::setvbuf(output_, nullptr, _IONBF, 0);
}

bool CsvWriter::append(std::span<const record_scan::AtomXyz> atoms) {
    while (!atoms.empty()) {
        if (failed_ || (buffer_bytes - used_ < max_row_chars && !flush())) return false;
        const std::size_t rows = std::min(atoms.size(), (buffer_bytes - used_) / max_row_chars);
        used_ = format_rows_(buffer_.get() + used_, atoms.data(), rows) - buffer_.get();
        rows_buffered_ += rows;
        atoms = atoms.subspan(rows);
    }
    return !failed_;
}

bool CsvWriter::flush() {
    if (!failed_ && used_ > 0) failed_ = std::fwrite(buffer_.get(), 1, used_, output_) != used_;
    if (!failed_) rows_written_ += rows_buffered_;
    used_ = 0;
    rows_buffered_ = 0;
    return !failed_;
}

bool CsvWriter::flush_first(std::uint64_t rows) {
    if (rows < rows_written_ + rows_buffered_) {
        // Each row ends in its one line feed.
        std::uint64_t keep = rows > rows_written_ ? rows - rows_written_ : 0;
        const char* end = buffer_.get();
        const char* const filled = buffer_.get() + used_;
        for (std::uint64_t row = 0; row < keep; ++row)
            end = static_cast<const char*>(std::memchr(end, '\n', static_cast<std::size_t>(filled - end))) + 1;
        used_ = static_cast<std::size_t>(end - buffer_.get());
        rows_buffered_ = keep;
    }
    return flush();
}

}  // namespace xyzdump
