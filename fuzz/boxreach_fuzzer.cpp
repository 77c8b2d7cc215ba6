// boxreach's whole run on a file against the report the plain reading gives.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.hpp"
#include "tool_run.hpp"

int boxreach_main(int argc, char** argv);

namespace {

const char* const centres[] = {"0", "1.5", "-250.25", "nan", "1e999", "", "abc", "0x10"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The last byte picks the centre; the rest is the file.
    const std::uint8_t pick = data[size - 1];
    const std::string centre[3] = {centres[pick & 7], centres[(pick >> 3) & 7], centres[pick >> 6]};
    const std::string bytes(reinterpret_cast<const char*>(data), size - 1);
    const std::string path = fuzz::scratch().write("in.pdb", bytes);
    const reference::Reading reading = reference::read_bytes(bytes);
    if (reading.binary) return 0;  // binary structure files: fuzz/binary_fuzzer.cpp

    fuzz::ToolRun run = fuzz::run_entry(boxreach_main, {"boxreach", path, centre[0], centre[1], centre[2]});
    fuzz::require_same(run.out, reference::boxreach_output(reading, centre), "boxreach output");
    const int status = reading.end == record_scan::ScanOutcome::end_of_input ? 1 : 2;
    fuzz::require_same(std::to_string(run.status), std::to_string(status), "boxreach status");
    return 0;
}
