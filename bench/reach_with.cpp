// boxreach's fold through a chosen kernel, for measuring one kernel beside
// another on the same machine (the tools always take the fastest):
//
//   reach_with portable|avx2|avx512 FILE [CX CY CZ]
//
// Prints the radii as boxreach does; exits 2 when the kernel cannot run here.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "record_scan.hpp"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 6) {
        std::fputs("usage: reach_with portable|avx2|avx512 FILE [CX CY CZ]\n", stderr);
        return 2;
    }
    const record_scan::Kernel* chosen = nullptr;
    for (const record_scan::Kernel& kernel : record_scan::available_kernels())
        if (record_scan::kernel_name(kernel) == argv[1]) chosen = &kernel;
    if (chosen == nullptr) {
        std::fprintf(stderr, "reach_with: kernel %s does not run on this machine\n", argv[1]);
        return 2;
    }
    std::FILE* input = record_scan::open_structure_file(argv[2]);
    if (input == nullptr) {
        std::perror(argv[2]);
        return 2;
    }
    record_scan::Point centre = {0, 0, 0};
    if (argc == 6)
        for (int axis = 0; axis < 3; ++axis) centre[axis] = std::strtof(argv[3 + axis], nullptr);
    record_scan::FileSource source(input);
    record_scan::RecordScanner scanner(source, record_scan::RecordScanner::default_block_bytes, *chosen);
    record_scan::Point radius;
    record_scan::ScanOutcome outcome = record_scan::reach(scanner, centre, radius);
    std::fclose(input);
    if (outcome != record_scan::ScanOutcome::end_of_input) {
        std::puts(outcome == record_scan::ScanOutcome::incomplete ? "incomplete" : "read error");
        return 2;
    }
    std::printf("Radius X Y Z = %10.3f %10.3f %10.3f\n", double{radius[0]}, double{radius[1]}, double{radius[2]});
    return 1;
}
