// The row formatter must write what printf writes, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "csv_rows.hpp"
#include "run_program.hpp"

namespace {

std::string printf_coordinate(float value) {
    char text[512];
    std::snprintf(text, sizeof text, "%f", double{value});
    return text;
}

using Formatter = char* (*)(char*, float);

std::string formatted(float value, Formatter format = xyzdump::format_coordinate) {
    char text[xyzdump::max_coordinate_chars];
    return {text, format(text, value)};
}

void expect_as_printf(float value, long& mismatches, Formatter format = xyzdump::format_coordinate) {
    if (formatted(value, format) == printf_coordinate(value)) return;
    if (++mismatches <= 10)
        ADD_FAILURE() << "bits " << std::hex << std::bit_cast<std::uint32_t>(value) << ": wrote "
                      << formatted(value, format) << ", printf " << printf_coordinate(value);
}

// Where one way of formatting hands over to another, or rounding carries.
std::vector<float> path_boundaries() {
    std::vector<float> edges = {0.0f, 10000.0f, 9999.999f, 9999.9995f, 999.9999995f, 0.0000005f,
                                std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(),
                                std::nextafter(std::numeric_limits<float>::min(), 0.0f),
                                std::numeric_limits<float>::max(), INFINITY,
                                std::numeric_limits<float>::quiet_NaN(), std::bit_cast<float>(0x7fa00001u)};
    for (int k = -150; k < 128; ++k) edges.push_back(std::ldexp(1.0f, k));
    for (int k = -8; k <= 38; ++k) edges.push_back(std::pow(10.0f, static_cast<float>(k)));
    for (std::size_t i = 0, n = edges.size(); i < n; ++i) {
        edges.push_back(std::nextafter(edges[i], 0.0f));
        edges.push_back(std::nextafter(edges[i], INFINITY));
    }
    for (std::size_t i = 0, n = edges.size(); i < n; ++i) edges.push_back(-edges[i]);
    return edges;
}

TEST(CsvRows, CoordinateIsPrintfOverMillionsOfFloats) {
    std::mt19937 random(1208);
    std::uniform_int_distribution<int> milli(-9999999, 9999999);
    long mismatches = 0;
    for (int i = 0; i < 700'000; ++i) {
        // Any bit pattern: every exponent, subnormals, infinities, NaNs of both signs.
        expect_as_printf(std::bit_cast<float>(static_cast<std::uint32_t>(random())), mismatches);
        // What structure files hold: three decimals, read to single precision.
        expect_as_printf(static_cast<float>(milli(random)) / 1000.0f, mismatches);
        // Exact halves of a millionth, where the rounding direction is decided by evenness.
        expect_as_printf(std::ldexp(static_cast<float>(random() & 0xffffff), -7 - static_cast<int>(random() % 24)),
                         mismatches);
    }
    const float specials[] = {0.0f, -0.0f, INFINITY, -INFINITY, std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::max(),
                              -std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(),
                              -1e-9f, 0.0000005f, 0.0000015f, 9999.9995f, 17592186044416.0f, 1e13f};
    for (float value : specials) expect_as_printf(value, mismatches);
    EXPECT_EQ(mismatches, 0);
}

TEST(CsvRows, BothPathsArePrintfAtEveryBoundary) {
    long mismatches = 0;
    for (float value : path_boundaries()) {
        expect_as_printf(value, mismatches);
        expect_as_printf(value, mismatches, xyzdump::format_coordinate_exactly);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(CsvRows, EverySixDecimalsAndEveryIntegerPartArePrintf) {
    long mismatches = 0;
    // Eight floats apart is 0.95e-6 in [1, 2): every millionth comes out once at least.
    for (std::uint32_t bits = std::bit_cast<std::uint32_t>(1.0f); bits < std::bit_cast<std::uint32_t>(2.0f); bits += 8)
        expect_as_printf(std::bit_cast<float>(bits), mismatches);
    for (int integer = 0; integer <= 10000; ++integer)
        for (float near : {std::nextafter(static_cast<float>(integer), 0.0f), static_cast<float>(integer),
                           std::nextafter(static_cast<float>(integer), INFINITY)})
            for (float value : {near, -near}) expect_as_printf(value, mismatches);
    EXPECT_EQ(mismatches, 0);
}

TEST(CsvRows, EveryTieAtTheSeventhDecimalRoundsAsPrintf) {
    // A float * 10^6 ends in exactly .5 only for an odd multiple of 2^-7.
    long mismatches = 0;
    for (int odd = 1; odd < (1 << 21); odd += 2) {
        float tie = std::ldexp(static_cast<float>(odd), -7);
        expect_as_printf(tie, mismatches);
        expect_as_printf(-tie, mismatches, xyzdump::format_coordinate_exactly);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(CsvRows, RowIsPrintfWithCommas) {
    const record_scan::AtomXyz atom{-0.0f, 12.345f, -INFINITY};
    char text[xyzdump::max_row_chars];
    char want[512];
    std::snprintf(want, sizeof want, "%f,%f,%f\n", double{atom.x}, double{atom.y}, double{atom.z});
    EXPECT_EQ(std::string(text, xyzdump::format_row(text, atom)), want);
    EXPECT_EQ(std::string(want), "-0.000000,12.345000,-inf\n");
}

TEST(CsvRows, RowsOfEitherPathAreWrittenWithinTheirEnd) {
    const std::vector<float> edges = path_boundaries();
    for (std::size_t i = 0; i + 2 < edges.size(); i += 3) {
        const record_scan::AtomXyz atom{edges[i], edges[i + 1], edges[i + 2]};
        char want[512];
        std::snprintf(want, sizeof want, "%f,%f,%f\n", double{atom.x}, double{atom.y}, double{atom.z});
        char text[xyzdump::max_row_chars + 8];
        std::memset(text, '#', sizeof text);
        char* end = xyzdump::format_row(text, atom);
        ASSERT_EQ(std::string(text, end), want);
        EXPECT_EQ(std::string(end, text + sizeof text).find_first_not_of('#'), std::string::npos) << want;
    }
}

// Every kernel's rows, many to a call, are printf's, and nothing is written
// past count * max_row_chars. Most coordinates are what files hold, so that
// whole rows take the vector paths; the rest send rows to the exact one.
class RowsFormatter : public ::testing::TestWithParam<record_scan::Kernel> {};

INSTANTIATE_TEST_SUITE_P(EveryKernel, RowsFormatter,
                         ::testing::ValuesIn(record_scan::available_kernels().begin(),
                                             record_scan::available_kernels().end()),
                         [](const auto& kernel) { return std::string(record_scan::kernel_name(kernel.param)); });

// Coordinates of every kind, now and then one that no vector path takes.
std::vector<float> mixed_coordinates(std::mt19937& random) {
    std::uniform_int_distribution<int> milli(-9999999, 9999999);
    std::vector<float> values = path_boundaries();
    while (values.size() < 2'400'000) {
        const std::uint32_t kind = random() % 16;
        if (kind == 0) values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
        else if (kind == 1) values.push_back(std::ldexp(static_cast<float>(random() & 0xffffff), -7 - static_cast<int>(random() % 24)));
        else values.push_back(static_cast<float>(milli(random)) / 1000.0f);
    }
    return values;
}

// What files hold alone, so that whole groups of rows take the widest
// path: three decimals at every magnitude from 0.001 to 9999.999 (one to
// four integer digits), either sign, zeros of both signs.
std::vector<float> file_coordinates(std::mt19937& random) {
    std::vector<float> values;
    while (values.size() < 2'400'000) {
        const int magnitude = static_cast<int>(random() % 10'000'000) >> (random() % 24);
        const float value = static_cast<float>(magnitude) / 1000.0f;
        values.push_back(random() % 2 ? -value : value);
    }
    return values;
}

TEST_P(RowsFormatter, RowsArePrintfOverMillionsOfCoordinates) {
    const xyzdump::RowsFormatter format = xyzdump::rows_formatter(GetParam());
    std::mt19937 random(1209);
    for (auto coordinates : {mixed_coordinates, file_coordinates}) {
        const std::vector<float> values = coordinates(random);
        std::vector<record_scan::AtomXyz> atoms;
        for (std::size_t i = 0; i + 2 < values.size(); i += 3) atoms.push_back({values[i], values[i + 1], values[i + 2]});
        std::vector<char> text(300 * xyzdump::max_row_chars + 1);
        long mismatches = 0;
        for (std::size_t first = 0; first < atoms.size();) {
            const std::size_t count = std::min<std::size_t>(1 + random() % 300, atoms.size() - first);
            std::string want;
            for (std::size_t i = first; i < first + count; ++i) {
                char row[512];
                want.append(row, std::snprintf(row, sizeof row, "%f,%f,%f\n", double{atoms[i].x}, double{atoms[i].y},
                                               double{atoms[i].z}));
            }
            text[count * xyzdump::max_row_chars] = '#';
            const std::string got(text.data(), format(text.data(), &atoms[first], count));
            ASSERT_EQ(text[count * xyzdump::max_row_chars], '#') << "written past its bound";
            if (got != want && ++mismatches <= 3) ADD_FAILURE() << "rows from " << first << ":\n" << got << "want:\n" << want;
            first += count;
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(CsvRows, WriterKeepsEveryRowAcrossItsBlocks) {
    ScratchDir dir;
    const std::string path = dir.path() + "/rows.csv";
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::string want;
    {
        xyzdump::CsvWriter writer(file);
        for (int i = 0; i < 30'000; ++i) {
            record_scan::AtomXyz atom{i * 0.5f, -i * 1.25f, i * 1e30f};
            char row[512];
            std::snprintf(row, sizeof row, "%f,%f,%f\n", double{atom.x}, double{atom.y}, double{atom.z});
            want += row;
            ASSERT_TRUE(writer.append(atom));
        }
        ASSERT_TRUE(writer.flush());
    }
    std::fclose(file);
    EXPECT_GT(want.size(), 2 * xyzdump::CsvWriter::buffer_bytes);
    EXPECT_EQ(read_file(path), want);
}

TEST(CsvRows, WriterReportsAFullDisk) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    xyzdump::CsvWriter writer(full);
    bool appended = true;
    for (int i = 0; i < 20'000 && appended; ++i) appended = writer.append({1, 2, 3});
    EXPECT_FALSE(appended && writer.flush());
    EXPECT_FALSE(writer.append({1, 2, 3}));  // and stays failed
    std::fclose(full);
}

}  // namespace
