// boxreach end to end: files, arguments, what it prints and its status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

constexpr int complete = 1;
constexpr int failed = 2;

std::string atom_line(const char* x, const char* y, const char* z, const char* keyword = "ATOM  ") {
    char line[128];
    std::snprintf(line, sizeof line, "%-6s    1  O   HOH A   1    %8s%8s%8s  1.00 20.00           O\n",
                  keyword, x, y, z);
    return line;
}

// The report as printf writes it for the given single-precision radii.
std::string report(float rx, float ry, float rz) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Radius X Y Z = %10.3f %10.3f %10.3f\nDiameter X Y Z = %10.3f %10.3f %10.3f\n",
                  double{rx}, double{ry}, double{rz}, double{rx + rx}, double{ry + ry},
                  double{rz + rz});
    return text;
}

struct Case {
    const char* name;
    std::string file;                // written to a scratch file; empty: no file
    std::vector<std::string> centre;
    std::string out;
    int status;
};

TEST(Boxreach, EndToEndOverATable) {
    const std::string two_atoms = atom_line("10.000", "-3.000", "0.500") + atom_line("20.000", "4.000", "-0.500", "HETATM");
    const Case cases[] = {
        {"no atom records", "HEADER\nTER\nEND\n", {"0", "0", "0"},
         "Radius X Y Z =      0.000      0.000      0.000\n"
         "Diameter X Y Z =      0.000      0.000      0.000\n", complete},
        {"box about the centre, not the bounding box", two_atoms, {"0", "0", "0"},
         report(20, 4, 0.5f), complete},
        {"centre at the midpoint gives half the spread", two_atoms, {"15", "0.5", "0"},
         report(5, 3.5f, 0.5f), complete},
        {"lenient centre text", two_atoms, {"1.5abc", "  2", "abc"},
         report(18.5f, 5, 0.5f), complete},
        {"hexadecimal and exponent centre", two_atoms, {"0x10", "1e1", "-.5e0"},
         report(6, 13, 1), complete},
        {"inf coordinate", atom_line("inf", "1.0", "1.0") + two_atoms, {"0", "0", "0"},
         report(INFINITY, 4, 1), complete},
        {"nan coordinate never replaces a radius", atom_line("nan", "1.0", "1.0") + two_atoms,
         {"0", "0", "0"}, report(20, 4, 1), complete},
        {"centre beyond single precision", two_atoms, {"1e999", "-1e39", "0"},
         report(INFINITY, INFINITY, 0.5f), complete},
        {"wide radius pushes the line right", atom_line("1234567.", "0", "0"), {"-1234567", "0", "0"},
         report(2469134, 0, 0), complete},
        {"incomplete record stops the run", two_atoms + atom_line("1.0", "2.0", "xyz") + two_atoms,
         {"0", "0", "0"}, "XYZ is not complete", failed},
        {"touching fields read by their columns", atom_line(" 123.456", "1234.567", "12.000"),
         {"0", "0", "0"}, report(123.456f, 1234.567f, 12), complete},
        {"extra arguments ignored", two_atoms, {"0", "0", "0", "extra"}, report(20, 4, 0.5f), complete},
        {"too few arguments", two_atoms, {"0", "0"}, "usage: boxreach FILE CX CY CZ\n", failed},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        std::vector<std::string> args{dir.write("in.pdb", c.file)};
        args.insert(args.end(), c.centre.begin(), c.centre.end());
        ProgramRun run = run_program(BOXREACH_PATH, args);
        EXPECT_EQ(run.out, c.out) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
    }
}

TEST(Boxreach, FailuresOfTheInput) {
    ScratchDir dir;
    const std::string unreadable = dir.write("unreadable.pdb", atom_line("1", "2", "3"));
    chmod(unreadable.c_str(), 0);
    struct FailureCase {
        std::vector<std::string> args;
        std::string out;
    };
    std::vector<FailureCase> cases = {
        {{dir.path() + "/missing.pdb", "0", "0", "0"}, "PDB file can not be opened .\n"},
        {{dir.path(), "0", "0", "0"}, "PDB file can not be opened .\n"},
        {{"/proc/self/mem", "0", "0", "0"}, "PDB file can not be read .\n"},
        {{}, "usage: boxreach FILE CX CY CZ\n"},
        {{"/nonexistent"}, "usage: boxreach FILE CX CY CZ\n"},
    };
    if (geteuid() != 0) cases.push_back({{unreadable, "0", "0", "0"}, "PDB file can not be opened .\n"});
    for (const FailureCase& c : cases) {
        ProgramRun run = run_program(BOXREACH_PATH, c.args);
        EXPECT_EQ(run.out, c.out) << (c.args.empty() ? "no arguments" : c.args[0]);
        EXPECT_EQ(run.status, failed);
    }
}

TEST(Boxreach, ReportThatCannotBeWrittenIsAFailure) {
    ScratchDir dir;
    const std::string file = dir.write("in.pdb", atom_line("1", "2", "3"));
    EXPECT_EQ(run_program(BOXREACH_PATH, {file, "0", "0", "0"}, "/dev/null", "/dev/full").status, failed);
}

TEST(Boxreach, ReadsStandardInputAsAPipeline) {
    ScratchDir dir;
    const std::string file = dir.write("in.pdb", atom_line("-7.250", "3.000", "1.000"));
    ProgramRun run = run_program(BOXREACH_PATH, {"/dev/stdin", "1", "1", "1"}, file);
    EXPECT_EQ(run.out, report(8.25f, 2, 0));
    EXPECT_EQ(run.status, complete);
}

TEST(Boxreach, ShippedSample) {
    ProgramRun run = run_program(BOXREACH_PATH, {EXAMPLES_DIR "/sample.pdb", "4", "1.5", "-2"});
    EXPECT_EQ(run.status, complete);
    EXPECT_EQ(run.out.rfind("Radius X Y Z = ", 0), 0u) << run.out;
}

// The fold in lanes against the plain one, atom by atom: runs of every
// length around the lane width, each holding NaNs, infinities, negative
// zeros and ties at random places, about centres that make some of them.
TEST(Boxreach, FoldInLanesAgreesWithThePlainFold) {
    const char* const values[] = {"nan", "-nan", "inf", "-inf", "-0.0", "0.0", "1.0", "-1.0",
                                  "999.999", "-999.999", "3.5", "-3.5", "1e38", "0.001"};
    const std::string centres[][3] = {{"0", "0", "0"}, {"1", "-1", "3.5"}, {"inf", "nan", "-inf"}};
    std::mt19937 random(16);
    auto pick = [&] { return values[random() % std::size(values)]; };
    for (std::size_t atoms = 0; atoms <= 40; ++atoms) {
        std::string file;
        for (std::size_t i = 0; i < atoms; ++i) file += atom_line(pick(), pick(), pick());
        const std::string(&centre)[3] = centres[atoms % std::size(centres)];
        ScratchDir dir;
        ProgramRun run = run_program(BOXREACH_PATH, {dir.write("in.pdb", file), centre[0], centre[1], centre[2]});
        EXPECT_EQ(run.out, reference::boxreach_output(reference::read_bytes(file), centre)) << atoms << " atoms";
    }
}

}  // namespace
