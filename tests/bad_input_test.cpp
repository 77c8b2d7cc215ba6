// Inputs from anywhere: empty, binary, huge lines, broken records, FIFOs,
// odd paths and odd centres. Each gets the documented answer; the plain
// reading says what that answer is where no table could.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

const std::string record = "ATOM      1  CA  ALA A   1      12.345  -6.789   0.001  1.00 20.00           C\n";
const std::string zero_centre[3] = {"0", "0", "0"};

// Both tools on `bytes`, checked against what the plain reading expects.
void expect_both_tools(const std::string& name, const std::string& bytes,
                       const std::string (&centre)[3] = zero_centre) {
    ScratchDir dir;
    const std::string input = dir.write("in.pdb", bytes);
    const reference::Reading reading = reference::read_bytes(bytes);
    const bool incomplete = reading.end == record_scan::ScanOutcome::incomplete;

    ProgramRun box = run_program(BOXREACH_PATH, {input, centre[0], centre[1], centre[2]});
    EXPECT_EQ(box.out, reference::boxreach_output(reading, centre)) << name;
    EXPECT_EQ(box.status, incomplete ? 2 : 1) << name;

    const std::string csv = dir.path() + "/out.csv";
    ProgramRun dump = run_program(XYZDUMP_PATH, {input, csv});
    EXPECT_EQ(read_file(csv), reference::xyzdump_rows(reading)) << name;
    EXPECT_EQ(dump.out, incomplete ? "XYZ is not complete" : "") << name;
    EXPECT_EQ(dump.status, incomplete ? 2 : 1) << name;
}

std::string noise(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(bytes, '\0');
    for (char& c : text) c = static_cast<char>(random());
    return text;
}

TEST(BadInput, TableOfHostileFiles) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"binary noise", noise(1 << 20, 1)},
        {"noise after records", record + record + noise(4096, 2)},
        {"10 MB single line", record.substr(0, 60) + std::string(10 << 20, 'x')},
        {"10 MB line then a record", std::string(10 << 20, 'A') + "\n" + record},
        {"only carriage returns", std::string(100000, '\r')},
        {"only line feeds", std::string(100000, '\n')},
        {"ends inside a record", record + record.substr(0, 40)},
        {"ends inside the keyword", record + "HETA"},
    };
    for (const Case& c : cases) expect_both_tools(c.name, c.bytes);
}

TEST(BadInput, ZeroByteAtEveryColumn) {
    for (std::size_t column = 0; column < record.size(); ++column) {
        std::string line = record;
        line[column] = '\0';
        expect_both_tools("zero byte at offset " + std::to_string(column), line + record);
    }
}

TEST(BadInput, OddCentres) {
    const std::string centres[][3] = {{"", "", ""}, {"nan", "-nan", "NAN"}, {"1e999", "-1e999", "1e-999"},
                                      {" \t 7", "+3.5x", "--1"}};
    for (const auto& centre : centres) expect_both_tools("centre " + centre[0], record + record, centre);
}

TEST(BadInput, DevNullIsAnEmptyFile) {
    ProgramRun box = run_program(BOXREACH_PATH, {"/dev/null", "0", "0", "0"});
    EXPECT_EQ(box.out, reference::boxreach_output({}, zero_centre));
    EXPECT_EQ(box.status, 1);
}

TEST(BadInput, FifoIsReadToItsEnd) {
    ScratchDir dir;
    const std::string fifo = dir.path() + "/pipe.pdb";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string bytes;
    for (int i = 0; i < 5000; ++i) bytes += record;
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        FILE* out = std::fopen(fifo.c_str(), "w");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
        _exit(0);
    }
    ProgramRun box = run_program(BOXREACH_PATH, {fifo, "0", "0", "0"});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(box.out, reference::boxreach_output(reference::read_bytes(bytes), zero_centre));
    EXPECT_EQ(box.status, 1);
}

TEST(BadInput, PathsWithBlanksAndNonAsciiBytes) {
    ScratchDir dir;
    const std::string names[] = {"with blanks.pdb", "\xc3\xa9t\xc3\xa9 pr\xc3\xa8s.pdb", "\xff\xfe raw.pdb",
                                 "-starts-with-dash.pdb"};
    for (const std::string& name : names) {
        const std::string input = dir.write(name, record);
        ProgramRun box = run_program(BOXREACH_PATH, {input, "0", "0", "0"});
        EXPECT_EQ(box.out, reference::boxreach_output(reference::read_bytes(record), zero_centre)) << name;
        EXPECT_EQ(box.status, 1) << name;
        const std::string csv = dir.path() + "/" + name + " out.csv";
        EXPECT_EQ(run_program(XYZDUMP_PATH, {input, csv}).status, 1) << name;
        EXPECT_EQ(read_file(csv), reference::xyzdump_rows(reference::read_bytes(record))) << name;
    }
}

}  // namespace
