// xyzdump INPUT OUTPUT: the X, Y, Z of every atom record of a PQR (or PDB)
// file, one "%f,%f,%f" row each, into a new CSV file. "-" is standard input
// as INPUT and standard output as OUTPUT.
//
// Exit status 1 means a complete run and 2 a failure: callers test for 1.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "csv_rows.hpp"
#include "record_scan.hpp"
#include "row_output.hpp"

namespace {

constexpr int status_complete = 1;
constexpr int status_failed = 2;

constexpr std::string_view cannot_write = "CSV file can not be written .\n";

int fail(std::string_view message) {
    std::fwrite(message.data(), 1, message.size(), stdout);
    return status_failed;
}

// Copies a row per record; the message of the first failure, or none.
// The rows read so far stay, whatever ended the input, and are flushed
// before the message, which may follow them into the same standard output;
// but not those read from damaged compressed data (a unit whose check
// failed, and what came after it): kept from the output when still
// buffered, cut from a regular file when written.
std::string_view copy_rows(std::FILE* input, const xyzdump::RowOutput& output) {
    record_scan::FileSource source(input);
    record_scan::RecordScanner scanner(source);
    xyzdump::CsvWriter rows(output.stream);
    std::span<const record_scan::AtomXyz> batch;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_records(batch)) == record_scan::ScanOutcome::record)
        if (!rows.append(batch)) return cannot_write;
    if (outcome == record_scan::ScanOutcome::read_error) {
        std::uint64_t sound = scanner.sound_records();
        if (rows.flush_first(sound) && rows.rows_written() > sound) xyzdump::keep_first_rows(output, sound);
        return "PQR file can not be read .\n";
    }
    bool written = rows.flush();
    if (outcome == record_scan::ScanOutcome::incomplete) return record_scan::incomplete_message;
    return written ? std::string_view{} : cannot_write;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return fail("usage: xyzdump INPUT OUTPUT\n");

    std::FILE* input = record_scan::open_structure_file(argv[1]);
    if (input == nullptr) return fail("PQR file can not be opened .\n");
    xyzdump::RowOutput output = xyzdump::open_row_output(argv[2], input);
    if (output.stream == nullptr) {
        std::fclose(input);
        return fail(cannot_write);
    }

    std::string_view failure = copy_rows(input, output);
    std::fclose(input);
    if (!xyzdump::close_row_output(output) && failure.empty()) failure = cannot_write;
    return failure.empty() ? status_complete : fail(failure);
}
