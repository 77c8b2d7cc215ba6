// The scanner over tables of inputs: which chunks are records, what they
// yield, and that the block reading never shows through; every table is
// read by each kernel this machine can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "memory_source.hpp"
#include "record_scan.hpp"
#include "reference_reading.hpp"

namespace {

using namespace std::string_literals;
using record_scan::Kernel;
using record_scan::ScanOutcome;

// One line of the outcomes: "R x y z" per record, then how it ended.
std::string format_record(float x, float y, float z) {
    char text[96];
    std::snprintf(text, sizeof text, "R %.9g %.9g %.9g\n", x, y, z);
    return text;
}

// The record that sscanf makes of three texts.
std::string rec(const char* x, const char* y, const char* z) {
    float values[3];
    const char* texts[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) std::sscanf(texts[i], "%f", &values[i]);
    return format_record(values[0], values[1], values[2]);
}

std::string describe_end(ScanOutcome outcome) {
    switch (outcome) {
        case ScanOutcome::incomplete: return "incomplete";
        case ScanOutcome::read_error: return "read error";
        default: return "end";
    }
}

std::string scan_all(MemorySource& source, Kernel kernel, std::size_t block_bytes = 1 << 20) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    record_scan::AtomXyz atom;
    std::string outcomes;
    ScanOutcome outcome;
    while ((outcome = scanner.next_record(atom)) == ScanOutcome::record)
        outcomes += format_record(atom.x, atom.y, atom.z);
    return outcomes + describe_end(outcome);
}

// The same atoms read by axis runs, each axis's runs joined in order.
std::string scan_all_by_axes(MemorySource& source, Kernel kernel,
                             std::size_t block_bytes = 1 << 20) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    std::vector<float> axes[3];
    record_scan::AxisRun run;
    ScanOutcome outcome;
    while ((outcome = scanner.next_axis_run(run)) == ScanOutcome::record)
        for (std::size_t i = 0; i < run.count; ++i) axes[run.axis].push_back(run[i]);
    EXPECT_TRUE(axes[0].size() == axes[1].size() && axes[1].size() == axes[2].size());
    std::string outcomes;
    for (std::size_t i = 0; i < std::min({axes[0].size(), axes[1].size(), axes[2].size()}); ++i)
        outcomes += format_record(axes[0][i], axes[1][i], axes[2][i]);
    return outcomes + describe_end(outcome);
}

// The same atoms a batch at a time: the scanner's own batches, or (`room`
// not 0) batches written into memory of `room` records.
std::string scan_all_by_batches(MemorySource& source, Kernel kernel, std::size_t room = 0) {
    record_scan::RecordScanner scanner(source, 1 << 20, kernel);
    std::string outcomes;
    ScanOutcome outcome;
    if (room != 0) {
        std::vector<record_scan::AtomXyz> into(room);
        std::size_t count;
        // Between reads, and after the end, an empty room reads nothing.
        const auto nothing_read = [&] {
            EXPECT_EQ(scanner.next_records(std::span<record_scan::AtomXyz>(), count), ScanOutcome::record);
            EXPECT_EQ(count, 0u);
        };
        nothing_read();
        while ((outcome = scanner.next_records(std::span(into), count)) == ScanOutcome::record) {
            EXPECT_TRUE(count >= 1 && count <= room) << count << " records in room for " << room;
            for (std::size_t i = 0; i < count; ++i) outcomes += format_record(into[i].x, into[i].y, into[i].z);
            nothing_read();
        }
        nothing_read();
        EXPECT_EQ(scanner.next_records(std::span(into), count), outcome) << "the end given again";
        return outcomes + describe_end(outcome);
    }
    std::span<const record_scan::AtomXyz> batch;
    while ((outcome = scanner.next_records(batch)) == ScanOutcome::record)
        for (const record_scan::AtomXyz& atom : batch) outcomes += format_record(atom.x, atom.y, atom.z);
    return outcomes + describe_end(outcome);
}

// Every table is read four ways: by records, by axis runs, by batches and
// by batches into memory of one record, or of seven.
std::string scan_all(const std::string& input, Kernel kernel) {
    MemorySource source(input);
    std::string by_records = scan_all(source, kernel);
    MemorySource again(input);
    EXPECT_EQ(scan_all_by_axes(again, kernel), by_records) << "read by axis runs";
    MemorySource once_more(input);
    EXPECT_EQ(scan_all_by_batches(once_more, kernel), by_records) << "read by batches";
    for (std::size_t room : {1, 7}) {
        MemorySource into_memory(input);
        EXPECT_EQ(scan_all_by_batches(into_memory, kernel, room), by_records) << "read into room for " << room;
    }
    return by_records;
}

// The plain reading's outcomes in the same form.
std::string read_plainly(const std::string& input) {
    reference::Reading reading = reference::read_bytes(input);
    std::string outcomes;
    for (const record_scan::AtomXyz& atom : reading.records)
        outcomes += format_record(atom.x, atom.y, atom.z);
    return outcomes + describe_end(reading.end);
}

class RecordScanner : public ::testing::TestWithParam<Kernel> {};

INSTANTIATE_TEST_SUITE_P(EveryKernel, RecordScanner,
                         ::testing::ValuesIn(record_scan::available_kernels().begin(),
                                             record_scan::available_kernels().end()),
                         [](const auto& kernel) { return std::string(kernel_name(kernel.param)); });

// A record of the PDB layout with its coordinates in columns 31-54.
std::string atom_line(const char* x, const char* y, const char* z, const char* keyword = "ATOM  ") {
    char line[128];
    std::snprintf(line, sizeof line, "%-6s    1  CA  ALA A   1    %8s%8s%8s  1.00 20.00           C\n",
                  keyword, x, y, z);
    return line;
}

std::string padded(std::string start, std::size_t length, char fill = ' ') {
    start.resize(length, fill);
    return start;
}

struct Case {
    const char* name;
    std::string input;
    std::string outcomes;
};

TEST_P(RecordScanner, OutcomesOverATableOfInputs) {
    const std::string a = atom_line("12.345", "-6.789", "0.001");
    const std::string a_rec = rec("12.345", "-6.789", "0.001");
    const std::string h = atom_line("-1.5", "2.25", "1e2", "HETATM");
    const std::string h_rec = rec("-1.5", "2.25", "100");
    const std::string head = "ATOM      1  CA  ALA A   1    ";  // 30 bytes
    const Case cases[] = {
        {"no atom records", "HEADER    X\nREMARK 1\nTER\nEND\n", "end"},
        {"empty input", "", "end"},
        {"mixed records in file order", "TITLE\n" + a + h + "TER\n" + a + "END\n",
         a_rec + h_rec + a_rec + "end"},
        {"keyword followed by letters", "ATOMIC" + a.substr(6), a_rec + "end"},
        {"lower case and leading blank skipped", "atom" + a.substr(4) + " " + a + "hetatm" + a.substr(6),
         "end"},
        {"keyword cut short", "ATO\nHETAT\n", "end"},
        {"crlf ends like lf", a.substr(0, a.size() - 1) + "\r\n", a_rec + "end"},
        {"last line without line feed", a + a.substr(0, a.size() - 1), a_rec + a_rec + "end"},
        {"numbers before column 31 are cut", "ATOM" + padded("", 23) + "12345.6 2 3\n",
         rec("45.6", "2", "3") + "end"},
        {"z that is no number", a + a + atom_line("1.0", "2.0", "abc"), a_rec + a_rec + "incomplete"},
        {"only two numbers", head + "1.0 2.0\n", "incomplete"},
        {"chunk of 30 bytes", head.substr(0, 29) + "\n", "incomplete"},
        {"last line of 30 bytes", head, "incomplete"},
        {"chunk shorter than 30 bytes", "ATOM 1 2 3\n" + a, "incomplete"},
        {"signs split touching negatives", head + "-999.999-999.999-999.999\n",
         rec("-999.999", "-999.999", "-999.999") + "end"},
        {"touching positives read by columns", head + " 123.4561234.567  12.000\n",
         rec("123.456", "1234.567", "12") + "end"},
        {"z touching the occupancy", head + "   1.000   2.000   3.0001.00\n",
         rec("1", "2", "3") + "end"},
        {"touching fields on a short line", head + " 123.4561234.567  12.0\n", "incomplete"},
        {"touching fields with a tab in a column", head + " 123.4561234.567\t 12.000\n", "incomplete"},
        {"touching fields with an empty column", head + " 123.4561234.567        \n", "incomplete"},
        {"zero byte inside the keyword", "ATO\0M"s + a.substr(5), "end"},
        {"zero byte before z", head + "1.0 2.0\0 3.0\n"s, "incomplete"},
        {"zero byte after z", head + "1.0 2.0 3.0\0garbage\n"s, rec("1", "2", "3") + "end"},
        {"exponent, hexadecimal and special forms", head + "1e2 0x1p3 -inf\n",
         rec("100", "8", "-inf") + "end"},
    };
    for (const Case& c : cases) EXPECT_EQ(scan_all(c.input, GetParam()), c.outcomes) << c.name;
}

TEST_P(RecordScanner, LongLinesArriveInChunksOf99) {
    const std::string head = "ATOM      1  CA  ALA A   1    ";
    const std::string a = atom_line("1.000", "2.000", "3.000");
    const std::string a_rec = rec("1", "2", "3");
    // 150 bytes: its first 99 are scanned; its rest, though it begins with
    // a keyword, is the tail of a long line and never a record.
    const std::string long_line = padded(head + "   1.000   2.000   3.000", 99) +
                                  padded("ATOM" + std::string(26, ' ') + "9 9 9", 51) + "\n";
    const Case cases[] = {
        {"150-byte line", long_line + a, a_rec + a_rec + "end"},
        {"98 bytes and a line feed are one chunk", padded(a.substr(0, a.size() - 1), 98) + "\n" + a,
         a_rec + a_rec + "end"},
        {"99 bytes and a line feed", padded(a.substr(0, a.size() - 1), 99) + "\n" + a,
         a_rec + a_rec + "end"},
        {"three chunks of one line", padded(a.substr(0, a.size() - 1), 99) + padded("HETATM", 99, '1') +
                                         padded("ATOM", 60, '2') + "\n" + a,
         a_rec + a_rec + "end"},
        {"numbers cut at byte 99", padded(head, 97) + "1 2 3\n", "incomplete"},
    };
    for (const Case& c : cases) EXPECT_EQ(scan_all(c.input, GetParam()), c.outcomes) << c.name;
}

TEST_P(RecordScanner, ReadErrorIsNotTheEndOfInput) {
    const std::string a = atom_line("1.000", "2.000", "3.000");
    const std::string a_rec = rec("1", "2", "3");
    struct FailureCase {
        std::size_t fail_after;
        std::string outcomes;
    };
    const FailureCase cases[] = {
        {0, "read error"},
        {a.size(), a_rec + "read error"},
        {a.size() + 40, a_rec + "read error"},  // the chunk cut short is not delivered
        {2 * a.size(), a_rec + a_rec + "read error"},
    };
    for (const FailureCase& c : cases) {
        MemorySource source(a + a + a, {}, c.fail_after);
        EXPECT_EQ(scan_all(source, GetParam()), c.outcomes) << "failing after " << c.fail_after;
        MemorySource again(a + a + a, {}, c.fail_after);
        EXPECT_EQ(scan_all_by_axes(again, GetParam()), c.outcomes) << "by axis runs, failing after "
                                                                   << c.fail_after;
    }
}

// Lines of every kind and length, so that chunk ends fall everywhere.
std::string mixed_input(unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
    std::string input;
    for (int line = 0; line < 400; ++line) {
        char x[16];
        std::snprintf(x, sizeof x, "%.3f", (pick(2000000) - 1000000) / 1000.0);
        switch (pick(6)) {
            case 0: input += "REMARK " + std::string(pick(200), 'r') + "\n"; break;
            case 1: input += atom_line(x, "2.5", "-3.25", "HETATM"); break;
            case 2: input += padded(atom_line(x, "1", "2").substr(0, 80), 80 + pick(150), 'q') + "\n"; break;
            case 3: input += "TER\r\n"; break;
            default: input += atom_line(x, x, x); break;
        }
    }
    return input;
}

TEST_P(RecordScanner, BlockBoundariesNeverShow) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const std::string input = mixed_input(seed);
        const std::string whole = scan_all(input, GetParam());
        ASSERT_GT(whole.size(), 1000u);
        EXPECT_EQ(whole, read_plainly(input));
        for (std::size_t block = 1; block <= 260; ++block) {
            MemorySource source(input);
            ASSERT_EQ(scan_all(source, GetParam(), block), whole) << "block of " << block;
            // Runs of decoded and exactly read records, cut by every block size.
            MemorySource again(input);
            ASSERT_EQ(scan_all_by_axes(again, GetParam(), block), whole) << "runs, block of " << block;
        }
        std::mt19937 random(seed);
        MemorySource ragged(input, [&] { return std::size_t{1} + random() % 300; });
        EXPECT_EQ(scan_all(ragged, GetParam(), 4096), whole);
    }
}


// Lines at the edges of what a kernel reads itself, each between plain
// records so that a kernel is running when it meets them.
TEST_P(RecordScanner, EdgesOfThePlainLinesAgreeWithThePlainReading) {
    const std::string a = atom_line("12.345", "-6.789", "0.001");
    const std::string head = "ATOM      1  CA  ALA A   1    ";
    const std::string fields = "   1.000  -2.000-333.333";
    std::vector<std::string> lines;
    for (std::size_t length : {53, 54, 55, 56, 94, 95, 96, 97, 98, 99, 100, 101})
        lines.push_back(padded(head + fields, length - 1, '7') + "\n");
    for (std::size_t length : {95, 96, 97, 98, 99, 100})
        lines.push_back(padded("REMARK", length - 1) + "\n");
    for (const char* after : {"e", "E", ".", "0", "9", "x", "-", "+", " ", "\t", "\r", "\v"})
        lines.push_back(head + fields + after + "5 1.00\n");
    for (const char* x : {"  +1.000", "   1.0  ", "  1.0000", "1234.567", "-1234.56", " -0.000 ",
                          "   -.000", "  - 1.00", "  1-.000", "   1 000", "  01.000", "   1.00\t",
                          "0x1.000 ", "  inf.00", " 1e3.000", "   1,000", "\v  1.000", " - 1.000",
                          " 1 2.000", "1-22.000", "   1.0-0"})
        lines.push_back(head + x + fields.substr(8) + "  1.00\n");
    lines.push_back(head + "   1.000   2.000\0   3.000\n"s);
    lines.push_back("ATOM\0  "s + a.substr(7));
    // A record too short for its fields, before a line that would fill them.
    lines.push_back("ATOM" + std::string(25, ' ') + "\n   1.000   2.000   3.000  REMARK\n");
    lines.push_back("HETATM" + a.substr(6, 24) + "1234.5671234.567 999.999\n");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string input = a + a + lines[i] + a + std::string(200, ' ') + "\n" + a;
        EXPECT_EQ(scan_all(input, GetParam()), read_plainly(input)) << "line " << i << ": " << lines[i];
    }
}

}  // namespace
