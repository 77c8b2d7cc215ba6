#include "csv_rows.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace xyzdump {
namespace {

// Floats up to 2^44 times 10^6 still fit in 64 bits.
constexpr int max_fast_exponent = 20;

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

// Coordinates below 10^4 are written with no branch on their width.
char* write_small_integer(char* out, unsigned value) {
    char digits[8];
    write_pair(write_pair(digits, value / 100), value % 100);
    int width = 1 + (value >= 10) + (value >= 100) + (value >= 1000);
    std::memcpy(out, digits + 4 - width, 4);
    return out + width;
}

}  // namespace

char* format_coordinate(char* out, float value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    std::uint32_t biased = (bits >> 23) & 0xff;
    std::uint32_t mantissa = bits & 0x7fffff;
    int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
    if (biased != 0) mantissa |= 0x800000;
    // Infinities, NaNs and the huge: the library formatter, exact as well.
    if (biased == 0xff || exponent > max_fast_exponent)
        return std::to_chars(out, out + max_coordinate_chars, double{value},
                             std::chars_format::fixed, 6)
            .ptr;
    *out = '-';
    out += bits >> 31;
    std::uint64_t millionths = scaled_by_million(mantissa, exponent);
    std::uint64_t integer = millionths / 1000000;
    out = integer < 10000 ? write_small_integer(out, static_cast<unsigned>(integer))
                          : std::to_chars(out, out + max_coordinate_chars, integer).ptr;
    auto fraction = static_cast<unsigned>(millionths % 1000000);
    *out++ = '.';
    out = write_pair(out, fraction / 10000);
    out = write_pair(out, fraction / 100 % 100);
    return write_pair(out, fraction % 100);
}

char* format_row(char* out, const record_scan::AtomXyz& atom) {
    out = format_coordinate(out, atom.x);
    *out++ = ',';
    out = format_coordinate(out, atom.y);
    *out++ = ',';
    out = format_coordinate(out, atom.z);
    *out++ = '\n';
    return out;
}

CsvWriter::CsvWriter(std::FILE* output)
    : output_(output), buffer_(std::make_unique_for_overwrite<char[]>(buffer_bytes)) {
    // Our buffer is the only one: each block goes out in one write.
    std::setvbuf(output_, nullptr, _IONBF, 0);
}

bool CsvWriter::append(const record_scan::AtomXyz& atom) {
    if (failed_ || (buffer_bytes - used_ < max_row_chars && !flush())) return false;
    used_ = format_row(buffer_.get() + used_, atom) - buffer_.get();
    return true;
}

bool CsvWriter::flush() {
    if (!failed_ && used_ > 0) failed_ = std::fwrite(buffer_.get(), 1, used_, output_) != used_;
    used_ = 0;
    return !failed_;
}

}  // namespace xyzdump
