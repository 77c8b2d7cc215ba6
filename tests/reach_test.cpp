// record_scan::reach against a plain fold of the plain reading's records,
// for every kernel: the PDB layout's plain records are folded as integer
// extremes, the rest as floats, and the two must give the same radii, bit
// for bit, as folding every record's floats one by one would.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "memory_source.hpp"
#include "reference_reading.hpp"

namespace {

using record_scan::Kernel;
using record_scan::Point;

// A coordinate field of eight columns: mostly "%8.3f" over the whole range
// the columns hold (-999.999 to 9999.999), and now and then what the fast
// path must leave to the exact reading, or what touches its neighbour.
std::string field(std::mt19937& random) {
    const auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
    static const char* const others[] = {"  -0.000", "   0.000", "     nan", "    -inf", "     inf",
                                         "    -nan", "  1.5e+2", "    12.5", "   -7.25", "-1000.000",
                                         "10000.000", "  12.345 ", "  -.500", "   +1.000", " 1234567"};
    char text[32];
    switch (pick(12)) {
        case 0: return others[pick(std::size(others))];
        case 1: std::snprintf(text, sizeof text, "%8.3f", (pick(2) ? -1 : 1) * pick(2000) / 1000.0); break;
        case 2: std::snprintf(text, sizeof text, "%8.3f", pick(2) ? -999.999 : 9999.999); break;
        default: std::snprintf(text, sizeof text, "%8.3f", (static_cast<int>(pick(11'000'000)) - 1'000'000) / 1000.0);
    }
    return text;
}

// Records of the PDB layout between other lines, some with CRLF ends,
// some cut short or run long.
std::string structure_text(std::mt19937& random, std::size_t lines, unsigned cut_one_in) {
    static const char* const keywords[] = {"ATOM  ", "HETATM", "ATOM  ", "ATOM  ", "REMARK", "TER   "};
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        std::string line = keywords[random() % std::size(keywords)] + std::string("  123  CA  ALA A 123    ");
        for (int axis = 0; axis < 3; ++axis) line += field(random);
        if (random() % 4 != 0) line += "  1.00 20.00           C";
        if (random() % cut_one_in == 0) line.resize(random() % 100, ' ');
        text += line + (random() % 10 == 0 ? "\r\n" : "\n");
    }
    return text;
}

std::uint32_t bits(float value) { return std::bit_cast<std::uint32_t>(value); }

// The plain fold, record by record: a greater distance replaces, a NaN never.
Point plain_fold(const reference::Reading& reading, const Point& centre) {
    Point radius = {0, 0, 0};
    for (const record_scan::AtomXyz& atom : reading.records) {
        const float values[3] = {atom.x, atom.y, atom.z};
        for (int axis = 0; axis < 3; ++axis) {
            const float distance = std::fabs(values[axis] - centre[axis]);
            if (distance > radius[axis]) radius[axis] = distance;
        }
    }
    return radius;
}

class Reach : public ::testing::TestWithParam<Kernel> {};

INSTANTIATE_TEST_SUITE_P(EveryKernel, Reach,
                         ::testing::ValuesIn(record_scan::available_kernels().begin(),
                                             record_scan::available_kernels().end()),
                         [](const auto& kernel) { return std::string(kernel_name(kernel.param)); });

TEST_P(Reach, AgreesWithThePlainFold) {
    const Point centres[] = {{0, 0, 0},        {-0.0f, 1.5f, -2.0f}, {4999.5f, -500.25f, 0.001f},
                             {1e30f, -1e30f, 0}, {INFINITY, -INFINITY, NAN}};
    std::mt19937 random(22);
    std::size_t compared = 0;
    for (int input = 0; input < 400; ++input) {
        const std::string text = structure_text(random, 1 + random() % (input < 300 ? 40 : 3000), input % 3 ? 5000 : 50);
        const reference::Reading want = reference::read_bytes(text);
        const Point& centre = centres[input % std::size(centres)];
        // Blocks and pieces of every size, so that lines straddle reads.
        const std::size_t block = 1 + random() % 600, piece = 1 + random() % 700;
        MemorySource source(text, [&] { return 1 + random() % piece; });
        record_scan::RecordScanner scanner(source, input % 2 ? block : record_scan::RecordScanner::default_block_bytes,
                                           GetParam());
        Point radius;
        const record_scan::ScanOutcome outcome = record_scan::reach(scanner, centre, radius);
        ASSERT_EQ(outcome, want.end) << text;
        if (outcome != record_scan::ScanOutcome::end_of_input) continue;
        const Point expected = plain_fold(want, centre);
        for (int axis = 0; axis < 3; ++axis)
            ASSERT_EQ(bits(radius[axis]), bits(expected[axis])) << "axis " << axis << " of\n" << text;
        ++compared;
    }
    // Enough inputs end cleanly to prove something.
    EXPECT_GT(compared, 100u);
}

}  // namespace
