// xyzdump's whole run on a file against the rows the plain reading gives.
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "tool_run.hpp"

int xyzdump_main(int argc, char** argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string input = fuzz::scratch().write("in.pqr", bytes);
    const std::string output = fuzz::scratch().path() + "/out.csv";
    const reference::Reading reading = reference::read_bytes(bytes);
    if (reading.binary) return 0;  // binary structure files: fuzz/binary_fuzzer.cpp

    const std::string rows = reference::xyzdump_rows(reading);
    const bool incomplete = reading.end == record_scan::ScanOutcome::incomplete;
    const bool unreadable = reading.end == record_scan::ScanOutcome::read_error;

    fuzz::ToolRun run = fuzz::run_entry(xyzdump_main, {"xyzdump", input, output});
    // Damaged compressed data: the rows before the read error are open.
    if (!reading.only_end_known) fuzz::require_same(read_file(output), rows, "xyzdump rows");
    fuzz::require_same(run.out, incomplete ? "XYZ is not complete" : unreadable ? "PQR file can not be read .\n" : "",
                       "xyzdump output");
    fuzz::require_same(std::to_string(run.status), incomplete || unreadable ? "2" : "1", "xyzdump status");
    return 0;
}
