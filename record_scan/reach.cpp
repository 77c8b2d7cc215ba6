// How far the atoms reach from a centre, folded axis by axis as the
// scanner hands the coordinates out: a maximum does not care about order,
// so binary columns need not be held to be paired into atoms.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "record_scan.hpp"
#include "scanner_folds.hpp"

namespace record_scan {
namespace {

// Only a greater distance replaces: a NaN never does. Written as a select,
// which is what the max instructions compute, so loops of it vectorise.
void widen(float coordinate, float centre, float& radius) {
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
    const auto widen_lanes = [&](Lanes& into, const float* v) {
        Lanes coordinates = {v[0], v[stride], v[2 * stride], v[3 * stride]};
        Lanes distance = reinterpret_cast<Lanes>(reinterpret_cast<LaneMask>(coordinates - centres) & no_sign);
        into = distance > into ? distance : into;
    };
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        widen_lanes(lane_radius[0], values + i * stride);
        widen_lanes(lane_radius[1], values + (i + 4) * stride);
    }
    if (i + 4 <= count) {
        widen_lanes(lane_radius[0], values + i * stride);
        i += 4;
    }
    for (; i < count; ++i) widen(values[i * stride], centre, radius);
    for (const Lanes& lanes : lane_radius)
        for (int lane = 0; lane < 4; ++lane) widen(lanes[lane], 0, radius);
    return radius;
}

// Runs of whole atoms (stride 3, or 4 for records read ahead of mmCIF
// text) and the columns of the binary formats (stride 1) are the common
// cases: a stride known at compile time lets the lanes load as one.
float run_reach(const AxisRun& run, float centre, float radius) {
    if (run.stride == 1) return lanes_reach<1>(run.first, run.count, 1, centre, radius);
    if (run.stride == 3) return lanes_reach<3>(run.first, run.count, 3, centre, radius);
    if (run.stride == 4) return lanes_reach<4>(run.first, run.count, 4, centre, radius);
    return lanes_reach<0>(run.first, run.count, run.stride, centre, radius);
}

// The extremes of the fixed-point records, converted once: the distance
// from the centre grows with the coordinate on either side of it, so the
// least and the greatest value decide the fold over all of them.
void widen_by_extremes(const FixedPointExtremes& extremes, const Point& centre, Point& radius) {
    if (extremes.empty()) return;
    for (unsigned axis = 0; axis < 3; ++axis)
        for (std::int32_t thousandths : {extremes.least[axis], extremes.greatest[axis]})
            widen(static_cast<float>(thousandths) / 1000.0f, centre[axis], radius[axis]);
}

}  // namespace

ScanOutcome reach(RecordScanner& scanner, const Point& centre, Point& radius) {
    radius = {0, 0, 0};
    FixedPointExtremes extremes;
    AxisRun run;
    ScanOutcome outcome;
    while ((outcome = next_unfolded_run(*scanner.reader_, run, extremes)) == ScanOutcome::record)
        radius[run.axis] = run_reach(run, centre[run.axis], radius[run.axis]);
    widen_by_extremes(extremes, centre, radius);
    return outcome;
}

}  // namespace record_scan
