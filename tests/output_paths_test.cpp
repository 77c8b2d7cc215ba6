// Where rows and reports go when called from a real shell: standard output
// by any name, "-" for standard input and output, and the files xyzdump must
// never empty. Every case runs in a fresh directory of the same files; any
// file a case does not name must come out byte-identical.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

constexpr int complete = 1;
constexpr int failed = 2;
const std::string cannot_write = "CSV file can not be written .\n";

std::string pqr_line(const char* keyword, const char* x, const char* y, const char* z) {
    char line[128];
    std::snprintf(line, sizeof line, "%-6s    1  CA  ALA A   1    %8s%8s%8s -0.4157 1.8240\n",
                  keyword, x, y, z);
    return line;
}

std::string pdb_line(const char* keyword, const char* x, const char* y, const char* z) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "%-6s    7  O   HOH A   3    %8s%8s%8s  1.00 20.00           O\n", keyword, x,
                  y, z);
    return line;
}

const std::string a_pqr = "REMARK   1 PQR FILE A\n" + pqr_line("ATOM", "0.215", "-0.838", "0.302") +
                          pqr_line("ATOM", "-12.5", "7.25", "100.001") +
                          pqr_line("HETATM", "3.000", "-0.000", "1e2");
const std::string b_pqr = pqr_line("HETATM", "-1.5", "2.25", "-3.125") +
                          pqr_line("ATOM", "999.999", "-999.999", "0.001");
const std::string bad_pqr = b_pqr + pqr_line("ATOM", "1.0", "2.0", "z");
const std::string s_pdb = "HEADER    A STRUCTURE\nREMARK   2 RESOLUTION.\n" +
                          pdb_line("ATOM", "11.104", "6.134", "-6.504") +
                          pdb_line("ATOM", "-4.5", "0.25", "8.0") + "END\n";
const std::string s_pqr = pqr_line("ATOM", "5.5", "6.5", "7.5");
const std::string s_cif =
    "# written by hand\n\ndata_1abc\nloop_\n_atom_site.group_PDB\n_atom_site.Cartn_x\n"
    "_atom_site.Cartn_y\n_atom_site.Cartn_z\nATOM 1.0 2.0 3.0\nHETATM 4.0 5.0 6.0\n";
const std::string s_xz = std::string("\xFD" "7zXZ\0", 6) + "not really xz";

// What the tools should answer, from the plain reading.
std::string rows(const std::string& bytes) {
    return reference::xyzdump_rows(reference::read_bytes(bytes));
}
std::string box(const std::string& bytes, const std::string (&centre)[3]) {
    return reference::boxreach_output(reference::read_bytes(bytes), centre);
}

// Runs `script` with /bin/sh in `dir`; $X is xyzdump and $B boxreach.
ProgramRun shell(const std::string& dir, const std::string& script) {
    const std::string prelude = "X=\"$1\"; B=\"$2\"; cd \"$3\" || exit 99\n";
    return run_program("/bin/sh", {"-c", prelude + script, "sh", XYZDUMP_PATH, BOXREACH_PATH, dir});
}

// The files every case starts from, and their bytes.
std::map<std::string, std::string> make_fixture(const ScratchDir& dir) {
    std::map<std::string, std::string> files = {
        {"a.pqr", a_pqr},         {"b.pqr", b_pqr},    {"bad.pqr", bad_pqr},
        {"s.pdb", s_pdb},         {"s.pqr", s_pqr},    {"s.cif", s_cif},
        {"s.xz", s_xz},           {"rows.csv", rows(b_pqr)},
        {"old.csv", std::string(5000, 'x') + "\n"},
    };
    for (const auto& [name, bytes] : files) dir.write(name, bytes);
    EXPECT_EQ(shell(dir.path(), "gzip -c s.pdb > s.pdb.gz").status, 0);
    files["s.pdb.gz"] = read_file(dir.path() + "/s.pdb.gz");
    return files;
}

struct ShellCase {
    std::string name;
    std::string script;
    std::string out;  // what reaches the test through the shell's standard output
    int status;
    // Files whose bytes change (nullopt: must not exist); "-" never exists
    // unless named here.
    std::map<std::string, std::optional<std::string>> changed;
};

void run_case(const ShellCase& c) {
    ScratchDir dir;
    const std::map<std::string, std::string> fixture = make_fixture(dir);
    ProgramRun run = shell(dir.path(), c.script);
    EXPECT_EQ(run.out, c.out) << c.name;
    EXPECT_EQ(run.status, c.status) << c.name;
    std::map<std::string, std::optional<std::string>> expected(fixture.begin(), fixture.end());
    expected.emplace("-", std::nullopt);
    for (const auto& [name, bytes] : c.changed) expected[name] = bytes;
    for (const auto& [name, bytes] : expected) {
        const std::string path = dir.path() + "/" + name;
        if (bytes) {
            EXPECT_EQ(read_file(path), *bytes) << c.name << ": " << name;
        } else {
            EXPECT_FALSE(std::filesystem::exists(path)) << c.name << ": " << name;
        }
    }
}

TEST(OutputPaths, StandardOutputByAnyNameKeepsWhatTheShellOpened) {
    const std::string header = "x,y,z\n";
    const std::string old = std::string(5000, 'x') + "\n";
    const ShellCase cases[] = {
        {"a loop into one file", "for f in a.pqr b.pqr; do \"$X\" \"$f\" /dev/stdout; done > all.csv",
         "", complete, {{"all.csv", rows(a_pqr) + rows(b_pqr)}}},
        {"every name of standard output",
         "{ \"$X\" a.pqr /dev/fd/1; \"$X\" b.pqr /proc/self/fd/1; \"$X\" a.pqr -; } > all.csv", "",
         complete, {{"all.csv", rows(a_pqr) + rows(b_pqr) + rows(a_pqr)}}},
        {">> appends", "\"$X\" a.pqr /dev/stdout >> old.csv", "", complete,
         {{"old.csv", old + rows(a_pqr)}}},
        {"a header before the rows", "{ echo x,y,z; \"$X\" a.pqr /dev/stdout; } > f.csv", "",
         complete, {{"f.csv", header + rows(a_pqr)}}},
        {"OUTPUT is the file standard output was sent to",
         "\"$X\" b.pqr g.csv > g.csv; echo x,y,z > f.csv; \"$X\" a.pqr f.csv >> f.csv", "",
         complete, {{"g.csv", rows(b_pqr)}, {"f.csv", header + rows(a_pqr)}}},
        {"failures: rows, then the message, nothing overwritten",
         "echo x,y,z > f.csv; \"$X\" bad.pqr /dev/stdout >> f.csv; \"$X\" none.pqr - >> f.csv", "",
         failed,
         {{"f.csv", header + rows(bad_pqr) + "XYZ is not complete" + "PQR file can not be opened .\n"}}},
        {"a structure file the shell opened is appended to",
         "\"$X\" b.pqr /dev/stdout >> s.pdb; \"$X\" a.pqr s.pdb >> s.pdb", "", complete,
         {{"s.pdb", s_pdb + rows(b_pqr) + rows(a_pqr)}}},
        {"through a pipe", "{ \"$X\" a.pqr /dev/stdout; \"$X\" b.pqr -; echo $? > st; } | cat; exit $(cat st)",
         rows(a_pqr) + rows(b_pqr), complete, {}},
        {"the input through standard output is refused",
         "\"$X\" a.pqr /dev/stdout >> a.pqr; \"$X\" a.pqr - >> a.pqr; \"$X\" - - < a.pqr >> a.pqr",
         "", failed, {{"a.pqr", a_pqr + cannot_write + cannot_write + cannot_write}}},
    };
    for (const ShellCase& c : cases) run_case(c);
}

TEST(OutputPaths, DashIsStandardInputAndOutput) {
    const std::string centre[3] = {"1", "2", "3"};
    const std::string zero[3] = {"0", "0", "0"};
    const ShellCase cases[] = {
        {"xyzdump reads a pipe", "cat a.pqr | \"$X\" - out.csv", "", complete,
         {{"out.csv", rows(a_pqr)}}},
        {"xyzdump in and out", "\"$X\" - - < b.pqr", rows(b_pqr), complete, {}},
        {"xyzdump from a pipe to a pipe",
         "cat s.pdb | { \"$X\" - -; echo $? > st; } | cat; exit $(cat st)", rows(s_pdb), complete,
         {}},
        {"boxreach reads a pipe", "cat s.pdb | \"$B\" - 1 2 3", box(s_pdb, centre), complete, {}},
        {"boxreach reads a redirection", "\"$B\" - 0 0 0 < a.pqr", box(a_pqr, zero), complete, {}},
        {"./- is a file named -", "cp a.pqr ./-; \"$B\" ./- 0 0 0 < b.pqr; \"$X\" ./- - < b.pqr",
         box(a_pqr, zero) + rows(a_pqr), complete, {{"-", a_pqr}}},
        {"./- as OUTPUT creates it", "\"$X\" b.pqr ./-", "", complete, {{"-", rows(b_pqr)}}},
        {"- that is a directory or closed",
         "\"$B\" - 0 0 0 < .; \"$X\" - out.csv < .; \"$X\" - out.csv <&-",
         "PDB file can not be opened .\nPQR file can not be opened .\nPQR file can not be opened .\n",
         failed, {{"out.csv", std::nullopt}}},
    };
    for (const ShellCase& c : cases) run_case(c);
}

TEST(OutputPaths, StructureFilesAreNeverEmptied) {
    std::vector<ShellCase> cases;
    for (const char* target : {"s.pdb", "s.pqr", "s.cif", "s.pdb.gz", "s.xz"}) {
        cases.push_back({std::string("swapped arguments: ") + target,
                         std::string("\"$X\" rows.csv ") + target, cannot_write, failed, {}});
    }
    cases.push_back({"through a link", "ln -s s.pdb link; \"$X\" a.pqr link", cannot_write, failed,
                     {{"link", s_pdb}}});
    cases.push_back({"an old CSV is replaced", "\"$X\" a.pqr old.csv", "", complete,
                     {{"old.csv", rows(a_pqr)}}});
    cases.push_back({"an empty file and a mere mention of ATOM are replaced",
                     ": > e.csv; echo 'REMARK ATOM' > n.txt; \"$X\" a.pqr e.csv; \"$X\" b.pqr n.txt",
                     "", complete, {{"e.csv", rows(a_pqr)}, {"n.txt", rows(b_pqr)}}});
    for (const ShellCase& c : cases) run_case(c);
}

}  // namespace
