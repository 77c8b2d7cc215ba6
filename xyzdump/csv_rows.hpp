// The rows of xyzdump's output, formatted and buffered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

#include "record_scan.hpp"

namespace xyzdump {

// Longest "%f" of a float widened to double: sign, 39 digits, point, 6 decimals.
inline constexpr std::size_t max_coordinate_chars = 47;
inline constexpr std::size_t max_row_chars = 3 * max_coordinate_chars + 3;

// Writes `value` as printf's "%f" would, byte for byte; returns the end.
// Bytes past the end, up to out + max_coordinate_chars, may be overwritten.
char* format_coordinate(char* out, float value);

// The same by the exact path alone (integer arithmetic), which
// format_coordinate takes for NaNs, infinities and magnitudes of 10^4 and
// more; writes nothing past the end.
char* format_coordinate_exactly(char* out, float value);

// Writes "x,y,z\n" as printf's "%f,%f,%f\n" would, at most max_row_chars
// and nothing past the end; returns the end.
char* format_row(char* out, const record_scan::AtomXyz& atom);

// A way of writing many rows: format_row's bytes, row after row, and
// their end, though it may write past the end up to out + count * max_row_chars.
using RowsFormatter = char* (*)(char* out, const record_scan::AtomXyz* atoms, std::size_t count);

// The rows formatter of a kernel; format_row in a loop for the portable
// one, or for a kernel this machine cannot run.
RowsFormatter rows_formatter(record_scan::Kernel kernel);
char* format_rows(char* out, const record_scan::AtomXyz* atoms, std::size_t count);
#if defined(__x86_64__)
char* format_rows_avx2(char* out, const record_scan::AtomXyz* atoms, std::size_t count);  // only where AVX2 runs
char* format_rows_avx512(char* out, const record_scan::AtomXyz* atoms, std::size_t count);  // only where AVX-512 runs
#endif

// Collects rows in one large buffer and writes it out in big blocks, the
// rows formatted by the given kernel. After the first failed write every
// call reports failure and writes nothing.
class CsvWriter {
public:
    static constexpr std::size_t buffer_bytes = std::size_t{1} << 18;

    explicit CsvWriter(std::FILE* output, record_scan::Kernel kernel = record_scan::fastest_kernel());
    bool append(std::span<const record_scan::AtomXyz> atoms);
    bool append(const record_scan::AtomXyz& atom) { return append({&atom, 1}); }
    bool flush();
    // Flushes only the buffered rows among the first `rows` appended and
    // drops the others, which then never reach the output.
    bool flush_first(std::uint64_t rows);
    std::uint64_t rows_written() const { return rows_written_; }

private:
    std::FILE* output_;
    RowsFormatter format_rows_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    std::uint64_t rows_written_ = 0;
    std::uint64_t rows_buffered_ = 0;
};

}  // namespace xyzdump
