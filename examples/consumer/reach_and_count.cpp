// reach_and_count FILE CX CY CZ: how far the atoms of FILE reach from the
// centre, as boxreach reports it, and how many atoms it holds; through the
// installed record_scan.hpp alone.
#include <record_scan.hpp>

#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

int fail(const char* message) {
    std::fprintf(stderr, "reach_and_count: %s\n", message);
    return 2;
}

// As boxreach reads a centre coordinate.
float coordinate(const char* text) {
    return static_cast<float>(std::strtod(text, nullptr));
}

bool scanned(record_scan::ScanOutcome outcome) {
    return outcome == record_scan::ScanOutcome::end_of_input;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return fail("usage: reach_and_count FILE CX CY CZ");
    const record_scan::Point centre = {coordinate(argv[2]), coordinate(argv[3]), coordinate(argv[4])};

    // One pass for the reach, one counting the atoms a batch at a time.
    std::FILE* input = record_scan::open_structure_file(argv[1]);
    if (input == nullptr) return fail("cannot open the file");
    record_scan::FileSource reach_source(input);
    record_scan::RecordScanner reach_scanner(reach_source);
    record_scan::Point radius;
    const bool reached = scanned(record_scan::reach(reach_scanner, centre, radius));
    std::fclose(input);
    if (!reached) return fail("cannot read every atom of the file");

    input = record_scan::open_structure_file(argv[1]);
    if (input == nullptr) return fail("cannot open the file");
    record_scan::FileSource count_source(input);
    record_scan::RecordScanner count_scanner(count_source);
    std::span<const record_scan::AtomXyz> batch;
    std::size_t atoms = 0;
    record_scan::ScanOutcome outcome;
    while ((outcome = count_scanner.next_records(batch)) == record_scan::ScanOutcome::record)
        atoms += batch.size();
    std::fclose(input);
    if (!scanned(outcome)) return fail("cannot read every atom of the file");

    std::printf("Radius X Y Z = %10.3f %10.3f %10.3f\n", double{radius[0]}, double{radius[1]},
                double{radius[2]});
    std::printf("Atoms = %zu\n", atoms);
    return 0;
}
