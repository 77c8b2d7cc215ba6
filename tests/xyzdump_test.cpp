// xyzdump end to end: inputs, the CSV it writes, what it prints, its status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "run_program.hpp"

namespace {

constexpr int complete = 1;
constexpr int failed = 2;

std::string pqr_line(const char* x, const char* y, const char* z, const char* keyword = "ATOM  ") {
    char line[128];
    std::snprintf(line, sizeof line, "%-6s    1  CA  ALA A   1    %8s%8s%8s -0.4157 1.8240\n", keyword,
                  x, y, z);
    return line;
}

// The row printf writes for the single-precision values sscanf reads.
std::string row(const char* x, const char* y, const char* z) {
    float v[3];
    const char* texts[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) std::sscanf(texts[i], "%f", &v[i]);
    char text[256];
    std::snprintf(text, sizeof text, "%f,%f,%f\n", double{v[0]}, double{v[1]}, double{v[2]});
    return text;
}

std::string many_records(int count, const std::string& last) {
    std::string input;
    for (int i = 1; i < count; ++i) input += pqr_line("1.000", "2.000", "3.000");
    return input + last;
}

struct Case {
    const char* name;
    std::string input;
    std::string csv;
    std::string out;
    int status;
};

TEST(Xyzdump, EndToEndOverATable) {
    const std::string rows99 = [] {
        std::string rows;
        for (int i = 0; i < 99; ++i) rows += row("1", "2", "3");
        return rows;
    }();
    const Case cases[] = {
        {"no atom records", "REMARK only\nTER\nEND\n", "", "", complete},
        {"charge and radius dropped", pqr_line("-727.186", "-97.570", "0.001"),
         row("-727.186", "-97.570", "0.001"), "", complete},
        {"three decimals become six of single precision", pqr_line("1.1", "0.001", "-957.951"),
         "1.100000,0.001000,-957.950989\n", "", complete},
        {"negative zero keeps its sign", pqr_line("-0.000", "0.000", "-0.0"),
         "-0.000000,0.000000,-0.000000\n", "", complete},
        {"inf and nan", pqr_line("inf", "-nan", "-inf"), "inf,-nan,-inf\n", "", complete},
        {"hetatm records alike", "TITLE\n" + pqr_line("1", "2", "3", "HETATM") + pqr_line("4", "5", "6"),
         row("1", "2", "3") + row("4", "5", "6"), "", complete},
        {"touching fields read by their columns", pqr_line(" 123.456", "1234.567", "12.000"),
         row("123.456", "1234.567", "12"), "", complete},
        {"incomplete 100th record leaves 99 rows", many_records(100, pqr_line("1.0", "2.0", "z")),
         rows99, "XYZ is not complete", failed},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string csv = dir.path() + "/out.csv";
        ProgramRun run = run_program(XYZDUMP_PATH, {dir.write("in.pqr", c.input), csv});
        EXPECT_EQ(read_file(csv), c.csv) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
    }
}

TEST(Xyzdump, FailuresNeverLoseOrDestroyData) {
    ScratchDir dir;
    const std::string input_bytes = pqr_line("1.5", "2.5", "3.5");
    const std::string input = dir.write("in.pqr", input_bytes);
    std::filesystem::create_symlink(input, dir.path() + "/link.pqr");
    std::filesystem::create_hard_link(input, dir.path() + "/hard.pqr");
    const std::string missing_output = dir.path() + "/never.csv";
    const std::string opened = "PQR file can not be opened .\n";
    const std::string unwritable = "CSV file can not be written .\n";
    struct FailureCase {
        std::vector<std::string> args;
        std::string out;
    };
    const FailureCase cases[] = {
        {{dir.path() + "/missing.pqr", missing_output}, opened},
        {{dir.path(), missing_output}, opened},
        {{input, dir.path() + "/no/such/dir/out.csv"}, unwritable},
        {{input, dir.path()}, unwritable},
        {{input, "/dev/full"}, unwritable},
        {{input, input}, unwritable},
        {{input, dir.path() + "/link.pqr"}, unwritable},
        {{dir.path() + "/hard.pqr", dir.path() + "/./in.pqr"}, unwritable},
        {{"/proc/self/mem", dir.path() + "/mem.csv"}, "PQR file can not be read .\n"},
        {{input}, "usage: xyzdump INPUT OUTPUT\n"},
        {{}, "usage: xyzdump INPUT OUTPUT\n"},
    };
    for (const FailureCase& c : cases) {
        ProgramRun run = run_program(XYZDUMP_PATH, c.args);
        std::string name = c.args.empty() ? "no arguments" : c.args.back();
        EXPECT_EQ(run.out, c.out) << name;
        EXPECT_EQ(run.status, failed) << name;
        EXPECT_EQ(read_file(input), input_bytes) << name;
        if (c.out == opened || c.args.size() < 2) {
            EXPECT_FALSE(std::filesystem::exists(missing_output)) << name;
        }
    }
}

TEST(Xyzdump, OneMessageWhenTheFlushFailsAfterAnIncompleteRecord) {
    ScratchDir dir;
    const std::string input = dir.write("in.pqr", many_records(3, pqr_line("1", "2", "abc")));
    ProgramRun run = run_program(XYZDUMP_PATH, {input, "/dev/full"});
    EXPECT_EQ(run.out, "XYZ is not complete");
    EXPECT_EQ(run.status, failed);
}

TEST(Xyzdump, ExistingOutputIsEmptiedFirst) {
    ScratchDir dir;
    const std::string csv = dir.write("out.csv", std::string(100000, 'x'));
    ProgramRun run = run_program(XYZDUMP_PATH, {dir.write("in.pqr", pqr_line("1", "2", "3")), csv});
    EXPECT_EQ(run.status, complete);
    EXPECT_EQ(read_file(csv), row("1", "2", "3"));
}

TEST(Xyzdump, DevicesAndPipelines) {
    ScratchDir dir;
    const std::string input = dir.write("in.pqr", pqr_line("1", "2", "3") + pqr_line("-4", "5", "6"));
    ProgramRun null_run = run_program(XYZDUMP_PATH, {"/dev/null", "/dev/null"});
    EXPECT_EQ(null_run.out, "");
    EXPECT_EQ(null_run.status, complete);
    for (const char* name : {"/dev/stdin", "-"}) {
        const char* output = name[0] == '-' ? "-" : "/dev/stdout";
        ProgramRun piped = run_program(XYZDUMP_PATH, {name, output}, input);
        EXPECT_EQ(piped.out, row("1", "2", "3") + row("-4", "5", "6")) << name;
        EXPECT_EQ(piped.status, complete) << name;
    }
}

TEST(Xyzdump, ShippedSample) {
    ScratchDir dir;
    const std::string csv = dir.path() + "/sample.csv";
    ProgramRun run = run_program(XYZDUMP_PATH, {EXAMPLES_DIR "/sample.pqr", csv});
    EXPECT_EQ(run.status, complete);
    EXPECT_EQ(read_file(csv).rfind(row("0.215", "-0.838", "0.302"), 0), 0u);
}

}  // namespace
