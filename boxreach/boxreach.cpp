// boxreach FILE CX CY CZ: per axis, how far the atoms of a structure file
// reach from a given centre, as the radius and diameter of the smallest
// axis-aligned box centred there that holds them all. FILE "-" is standard
// input.
//
// Exit status 1 means a complete run and 2 a failure: callers test for 1.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "record_scan.hpp"

namespace {

constexpr int status_complete = 1;
constexpr int status_failed = 2;

int fail(std::string_view message) {
    std::fwrite(message.data(), 1, message.size(), stdout);
    return status_failed;
}

// Lenient on purpose: leading blanks skipped, trailing text ignored, no
// number at all reads as 0. Values beyond single precision become infinite.
float centre_coordinate(const char* text) {
    return static_cast<float>(std::strtod(text, nullptr));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return fail("usage: boxreach FILE CX CY CZ\n");

    std::FILE* input = record_scan::open_structure_file(argv[1]);
    if (input == nullptr) return fail("PDB file can not be opened .\n");

    const record_scan::Point centre = {centre_coordinate(argv[2]), centre_coordinate(argv[3]),
                                       centre_coordinate(argv[4])};
    record_scan::Point radius;
    record_scan::FileSource source(input);
    record_scan::RecordScanner scanner(source);
    record_scan::ScanOutcome outcome = record_scan::reach(scanner, centre, radius);
    std::fclose(input);
    if (outcome == record_scan::ScanOutcome::incomplete)
        return fail(record_scan::incomplete_message);
    if (outcome == record_scan::ScanOutcome::read_error)
        return fail("PDB file can not be read .\n");

    std::printf("Radius X Y Z = %10.3f %10.3f %10.3f\n", double{radius[0]}, double{radius[1]},
                double{radius[2]});
    std::printf("Diameter X Y Z = %10.3f %10.3f %10.3f\n", double{radius[0] + radius[0]},
                double{radius[1] + radius[1]}, double{radius[2] + radius[2]});
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? status_complete
                                                                 : status_failed;
}
