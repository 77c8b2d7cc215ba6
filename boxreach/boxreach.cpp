// boxreach FILE CX CY CZ: per axis, how far the atoms of a structure file
// reach from a given centre, as the radius and diameter of the smallest
// axis-aligned box centred there that holds them all. FILE "-" is standard
// input.
//
// Exit status 1 means a complete run and 2 a failure: callers test for 1.
#include <cmath>
#include <cstdio>
#include <cstddef>
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

// Only a greater distance replaces: a NaN never does. Written as a select,
// which is what the max instructions compute, so loops of it vectorise.
void reach(float coordinate, float centre, float& radius) {
    float distance = std::fabs(coordinate - centre);
    radius = distance > radius ? distance : radius;
}

// Four lanes in one vector register, on any target the compiler supports.
using Lanes = float __attribute__((vector_size(16)));
using LaneMask = int __attribute__((vector_size(16)));

// The largest distance over `count` values `stride` apart, eight lanes at
// a time in two vectors (so that no comparison waits for the one before).
// The greatest of the distances that are no NaN is the same whatever their
// order, so the lanes change nothing.
template <std::size_t fixed_stride>
float lanes_reach(const float* values, std::size_t count, std::size_t stride, float centre,
                  float radius) {
    if constexpr (fixed_stride != 0) stride = fixed_stride;
    const Lanes centres = {centre, centre, centre, centre};
    const LaneMask no_sign = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
    Lanes lane_radius[2] = {{radius, radius, radius, radius}, {radius, radius, radius, radius}};
    // distance > radius as a select, which the max instructions compute: a
    // NaN compares false and never replaces.
    const auto widen = [&](Lanes& into, const float* v) {
        Lanes coordinates = {v[0], v[stride], v[2 * stride], v[3 * stride]};
        Lanes distance = reinterpret_cast<Lanes>(reinterpret_cast<LaneMask>(coordinates - centres) & no_sign);
        into = distance > into ? distance : into;
    };
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        widen(lane_radius[0], values + i * stride);
        widen(lane_radius[1], values + (i + 4) * stride);
    }
    if (i + 4 <= count) {
        widen(lane_radius[0], values + i * stride);
        i += 4;
    }
    for (; i < count; ++i) reach(values[i * stride], centre, radius);
    for (const Lanes& lanes : lane_radius)
        for (int lane = 0; lane < 4; ++lane) reach(lanes[lane], 0, radius);
    return radius;
}

// Runs of whole atoms (stride 3, or 4 for records read ahead of mmCIF
// text) are the common case.
float run_reach(const record_scan::AxisRun& run, float centre, float radius) {
    if (run.stride == 3) return lanes_reach<3>(run.first, run.count, 3, centre, radius);
    if (run.stride == 4) return lanes_reach<4>(run.first, run.count, 4, centre, radius);
    return lanes_reach<0>(run.first, run.count, run.stride, centre, radius);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return fail("usage: boxreach FILE CX CY CZ\n");

    std::FILE* input = record_scan::open_structure_file(argv[1]);
    if (input == nullptr) return fail("PDB file can not be opened .\n");

    const float centre[3] = {centre_coordinate(argv[2]), centre_coordinate(argv[3]),
                             centre_coordinate(argv[4])};
    float radius[3] = {0, 0, 0};

    // Each axis on its own: the order of the atoms does not matter to a maximum.
    record_scan::FileSource source(input);
    record_scan::RecordScanner scanner(source);
    record_scan::AxisRun run;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_axis_run(run)) == record_scan::ScanOutcome::record)
        radius[run.axis] = run_reach(run, centre[run.axis], radius[run.axis]);
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
