// The record-level readings must agree with the plain one: sscanf("%f%f%f")
// from offset 30, and the PDB columns when a number runs into a point.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <optional>
#include <random>
#include <string>

#include "pdb/pdb_columns.hpp"
#include "pdb/pdb_layout_reader.hpp"
#include "record_scan.hpp"
#include "reference_reading.hpp"

namespace {

using record_scan::AtomXyz;

using reference::scan_chunk;

bool same_bits(const AtomXyz& a, const AtomXyz& b) {
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

class RecordMaker {
public:
    explicit RecordMaker(unsigned seed) : random_(seed) {}

    std::string record() {
        std::string chunk = "ATOM   1234  CA  ALA A 123    ";
        for (int i = 0; i < 3; ++i) chunk += field();
        if (pick(4) == 0) {  // a stray byte anywhere in the coordinates
            static const char strays[] = " -+.0123456789eExXin\t\r\n\v\0a";
            chunk[30 + pick(24)] = strays[pick(sizeof strays - 1)];
        }
        static const char* const tails[] = {"  1.00 20.00           C\n", "\n", "", "1.00 20.00\n",
                                            "e5 1.00\n", ".5\n", "0 \n", "\r\n", "E", "-1.0\n"};
        chunk += tails[pick(std::size(tails))];
        if (pick(8) == 0) chunk.resize(pick(static_cast<int>(chunk.size()) + 1));
        return chunk;
    }

    int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

private:
    std::string field() {
        static const double scales[] = {1, 10, 1000, 10000, 100000};
        double value = std::uniform_real_distribution<double>(-1, 1)(random_) * scales[pick(5)];
        char text[64];
        std::snprintf(text, sizeof text, pick(10) == 0 ? "%8.2f" : "%8.3f", value);
        return text;
    }

    std::mt19937 random_;
};

TEST(CoordinateFields, EveryReadingAgreesWithThePlainOne) {
    RecordMaker maker(7);
    long fixed = 0;
    const long records = 1'000'000;
    for (long i = 0; i < records; ++i) {
        const std::string chunk = maker.record();
        const std::optional<AtomXyz> want = scan_chunk(chunk);
        AtomXyz fast;
        if (record_scan::read_fixed_point_fields(chunk, fast)) {
            ++fixed;
            ASSERT_TRUE(want.has_value() && same_bits(fast, *want)) << '"' << chunk << '"';
        }
        AtomXyz got;
        bool scanned = record_scan::scan_coordinates(chunk, got);
        ASSERT_EQ(scanned, want.has_value()) << '"' << chunk << '"';
        if (scanned) {
            ASSERT_TRUE(same_bits(got, *want)) << '"' << chunk << '"';
        }
    }
    // Enough of the inputs take the fixed-point path to prove it.
    EXPECT_GT(fixed, records / 20);
}

TEST(CoordinateFields, FixedPointFieldTable) {
    struct Case {
        const char* fields;  // columns 31 to 54 and what follows
        bool fixed;
    };
    const Case cases[] = {
        {"   1.000  -2.500-999.999  1.00", true}, {"9999.999   0.000  -0.000\n", true},
        {"   1.000   2.000   3.000", true},       {"   1.000   2.000   3.0001.00", false},
        {"   1.000   2.000   3.000e5", false},   {"  1.0000   2.000   3.000", false},
        {"   1.000   2.000   3.00 ", false},      {"  - 1.000  2.000   3.000", false},
        {"  -1-000   2.000   3.000", false},      {"   1.000   2.000   3.00", false},
        {"    .000   2.000   3.000", false},      {"  --1.000  2.000   3.000", false},
    };
    for (const Case& c : cases) {
        AtomXyz atom;
        EXPECT_EQ(record_scan::read_fixed_point_fields(std::string(30, 'A') + c.fields, atom), c.fixed)
            << c.fields;
    }
}

}  // namespace
