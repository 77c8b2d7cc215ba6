// mmCIF through both tools. Each case of the syntax tables names the
// coordinate texts it must yield; the expected reports and rows are made
// from those texts, checked first against the whole-text reference reading
// and then end to end, plain and gzip-compressed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "gzip_writer.hpp"
#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

using record_scan::ScanOutcome;
using Xyz = std::array<const char*, 3>;

constexpr bool complete = true;
constexpr bool incomplete = false;

struct Case {
    std::string name;
    std::string text;
    std::vector<Xyz> atoms;  // the coordinate texts the text must yield, in order
    bool complete;
};

const std::string block = "data_test\n";

// An _atom_site loop: `columns` are the names after "_atom_site.".
std::string atom_loop(const std::string& columns, const std::string& rows) {
    std::istringstream names(columns);
    std::string text = "loop_\n";
    for (std::string name; names >> name;) text += "_atom_site." + name + "\n";
    return text + rows;
}

// A data block with the usual five-column loop.
std::string rows5(const std::string& rows) {
    return block + atom_loop("group_PDB id Cartn_x Cartn_y Cartn_z", rows);
}

reference::Reading expected(const Case& c) {
    reference::Reading reading;
    for (const Xyz& xyz : c.atoms)
        reading.records.push_back({std::strtof(xyz[0], nullptr), std::strtof(xyz[1], nullptr),
                                   std::strtof(xyz[2], nullptr)});
    reading.end = c.complete ? ScanOutcome::end_of_input : ScanOutcome::incomplete;
    return reading;
}

std::string describe(const reference::Reading& reading) {
    std::string text;
    for (const record_scan::AtomXyz& atom : reading.records) {
        char line[96];
        std::snprintf(line, sizeof line, "%a %a %a\n", atom.x, atom.y, atom.z);
        text += line;
    }
    return text + (reading.end == ScanOutcome::end_of_input ? "end"
                   : reading.end == ScanOutcome::incomplete ? "incomplete"
                                                            : "read error");
}

const std::string centre[3] = {"1.5", "-2", "0.25"};

// Both tools on `bytes` against the reading `want`.
void expect_tools_read(const std::string& name, const std::string& bytes, const reference::Reading& want) {
    ScratchDir dir;
    const std::string input = dir.write("in.cif", bytes);
    const bool done = want.end == ScanOutcome::end_of_input;
    ProgramRun box = run_program(BOXREACH_PATH, {input, centre[0], centre[1], centre[2]});
    EXPECT_EQ(box.out, reference::boxreach_output(want, centre)) << name;
    EXPECT_EQ(box.status, done ? 1 : 2) << name;
    const std::string csv = dir.path() + "/out.csv";
    ProgramRun dump = run_program(XYZDUMP_PATH, {input, csv});
    EXPECT_EQ(read_file(csv), reference::xyzdump_rows(want)) << name;
    EXPECT_EQ(dump.out, done ? "" : "XYZ is not complete") << name;
    EXPECT_EQ(dump.status, done ? 1 : 2) << name;
}

// How values are cut and delimited.
std::vector<Case> token_cases() {
    const std::string labelled = "group_PDB label_atom_id label_comp_id Cartn_x Cartn_y Cartn_z";
    return {
        {"archive-style rows", rows5("ATOM 1 12.345 -6.789 0.001\nHETATM 2 -1.5 2.25 100\n"),
         {{"12.345", "-6.789", "0.001"}, {"-1.5", "2.25", "100"}}, complete},
        {"several rows on one line", rows5("ATOM 1 1 2 3 ATOM 2 4 5 6 HETATM 3 7 8 9\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}}, complete},
        {"a row over several lines", rows5("ATOM\n1\n\n1.0\n  2.0\n\t3.0\nATOM 2\n4 5\n6"),
         {{"1.0", "2.0", "3.0"}, {"4", "5", "6"}}, complete},
        {"tabs, carriage returns and crlf",
         "data_t\r\nloop_\r\n_atom_site.group_PDB\t_atom_site.Cartn_x\r\n_atom_site.Cartn_y "
         "_atom_site.Cartn_z\r\nATOM\t1.5\t2.5\r3.5\r\n",
         {{"1.5", "2.5", "3.5"}}, complete},
        {"quoted values with inner quotes",
         block + atom_loop(labelled, "ATOM \"O5'\" 'a'b' 1 2 3\nATOM 'x y' \"q\"r\" 4 5 6\nATOM '' \"\" 7 8 9\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}}, complete},
        {"quoted reserved words and names are values",
         block + atom_loop(labelled, "ATOM 'loop_' \"data_x\" 1 2 3\nATOM '_atom_site.id' 'stop_' 4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"words that are almost keywords are values",
         block + atom_loop(labelled, "ATOM loop data 1 2 3\nATOM stop global 4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"comments", rows5("# ATOM 9 9 9 9\nATOM 1 1 2 3 # ATOM 8 8 8 8\n   #\tATOM 7\nATOM 2 4 5 6\n#"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"a hash inside a value or quotes is no comment",
         block + atom_loop(labelled, "ATOM C#1 'a #b' 1 2 3\nATOM \"#\" x# 4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"text fields",
         block + atom_loop(labelled,
                           "ATOM\n;ATOM 1 9 9 9\n'unclosed \"quote\n# no comment\n  ; not the end\n;\nALA 1 2 3\n"
                           "HETATM\n;\n;\n\n;x\n;\n4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"text field with crlf lines", block + atom_loop(labelled, "ATOM\r\n;a\r\nb\r\n;\r\nALA 1 2 3\r\n"),
         {{"1", "2", "3"}}, complete},
        {"values go on after the closing semicolon", block + atom_loop(labelled, "ATOM\n;a\n; ALA 1 2 3\n"),
         {{"1", "2", "3"}}, complete},
        {"a semicolon inside a line is part of a value", block + atom_loop(labelled, "ATOM x;y ;z 1 2 3\n"),
         {{"1", "2", "3"}}, complete},
        {"keywords and names in any letter case",
         "DATA_T\nLOOP_\n_ATOM_SITE.GROUP_PDB\n_Atom_Site.CARTN_X\n_ATOM_SITE.cartn_y\n_atom_site.Cartn_Z\n"
         "ATOM 1 2 3\nLoop_\n_ATOM_SITE.CARTN_X _ATOM_SITE.CARTN_Y _ATOM_SITE.CARTN_Z 4 5 6\n",
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
    };
}

// Which rows are atoms.
std::vector<Case> selection_cases() {
    const std::string other_loop = "loop_\n_struct_conn.id\n_struct_conn.a\n_struct_conn.b\n_struct_conn.c\n";
    return {
        {"without group_PDB every row is an atom", block + atom_loop("id Cartn_x Cartn_y Cartn_z", "1 1 2 3\n2 4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"columns found by name, in any order",
         block + atom_loop("id Cartn_z Cartn_x group_PDB Cartn_y", "1 3 1 ATOM 2\n2 6 4 HETATM 5\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"group_PDB quoted", rows5("'ATOM' 1 1 2 3\n\"HETATM\" 2 4 5 6\n"), {{"1", "2", "3"}, {"4", "5", "6"}},
         complete},
        {"other group values are passed over, numbers or not",
         rows5("atom 1 1 2 3\nHETATM_ 2 ? ? ?\n'ATOM ' 3 x y z\nATOM 4 4 5 6\nTER 5 . . .\nHETATMS 6 1 1\n1\n"),
         {{"4", "5", "6"}}, complete},
        {"other categories' loops whose rows begin with ATOM",
         block + other_loop + "ATOM 1 2 3\nHETATM 4 5 6\n" + rows5("ATOM 1 7 8 9\n") + other_loop + "ATOM 1 2 3\n",
         {{"7", "8", "9"}}, complete},
        {"a loop whose first name is of another category",
         block + "loop_\n_atom_type.symbol\n_atom_site.group_PDB\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                 "_atom_site.Cartn_z\nC ATOM 1 2 3\n",
         {}, complete},
        {"categories that only begin like _atom_site",
         block + "loop_\n_atom_sites.Cartn_x\n_atom_sites.Cartn_y\n_atom_sites.Cartn_z\n1 2 3\n"
                 "loop_\n_atom_site_anisotrop.id\n_atom_site_anisotrop.U11\n1 0.5\n"
                 "_atom_sites.Cartn_x 1\n_atom_site_Cartn_x 1\n",
         {}, complete},
        {"no _atom_site at all", "data_t\n_cell.length_a 10.0\n" + other_loop + "ATOM 1 2 3\n", {}, complete},
        {"an empty data block", "data_t\n", {}, complete},
        {"save frames, global_ and stop_ outside the loop",
         "data_t\nsave_frame\n_foo.x 1\nsave_\nglobal_\n" + atom_loop("Cartn_x Cartn_y Cartn_z", "1 2 3\n") + "stop_\n",
         {{"1", "2", "3"}}, complete},
        {"several data blocks and models, in file order",
         "data_a\n" + atom_loop("group_PDB Cartn_x Cartn_y Cartn_z pdbx_PDB_model_num",
                                "ATOM 1 2 3 1\nATOM 4 5 6 1\nATOM 1.5 2 3 2\nATOM 4.5 5 6 2\n") +
             "data_b\n" + atom_loop("Cartn_x Cartn_y Cartn_z", "7 8 9\n") + "data_c\n" + rows5("HETATM 1 -1 -2 -3\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}, {"1.5", "2", "3"}, {"4.5", "5", "6"}, {"7", "8", "9"}, {"-1", "-2", "-3"}},
         complete},
    };
}

// What a coordinate value must look like.
std::vector<Case> number_cases() {
    std::vector<Case> cases = {
        {"number forms",
         block + atom_loop("Cartn_x Cartn_y Cartn_z", "1. .5 +1.5e+2\n-1E-3 007 -0.0\n1e39 -1e-50 123456789012345678901234567890\n"),
         {{"1.", ".5", "+1.5e+2"}, {"-1E-3", "007", "-0.0"}, {"1e39", "-1e-50", "123456789012345678901234567890"}},
         complete},
        {"uncertainties dropped",
         block + atom_loop("Cartn_x Cartn_y Cartn_z", "12.345(6) -1.5(12) 3(1)\n1e2(3) .5(0) 7.(10)\n"),
         {{"12.345", "-1.5", "3"}, {"1e2", ".5", "7."}}, complete},
        {"nearest single precision, with no double rounding",
         block + atom_loop("Cartn_x Cartn_y Cartn_z",
                           "1.00000005960464477539062500001 1.000000059604644775390625 16777217\n"
                           "0.100000001490116119384765625 3.4028235677973366e38 1.4e-45\n"),
         {{"1.00000005960464477539062500001", "1.000000059604644775390625", "16777217"},
          {"0.100000001490116119384765625", "3.4028235677973366e38", "1.4e-45"}},
         complete},
        {"a value that is no number where no number is needed",
         block + atom_loop("group_PDB occupancy Cartn_x Cartn_y Cartn_z", "ATOM ? 1 2 3\n"), {{"1", "2", "3"}},
         complete},
        {"y that is no number", rows5("ATOM 1 1 2 3\nATOM 2 4 ? 6\n"), {{"1", "2", "3"}}, incomplete},
        {"z that is no number", rows5("ATOM 1 1 2 3\nATOM 2 4 5 .\n"), {{"1", "2", "3"}}, incomplete},
    };
    const char* not_numbers[] = {"?", ".", "'1.0'", "\"1.0\"", "1.0e", "1.0e+", "1e", "inf", "-inf", "nan",
                                 "0x1p3", "1.0#x", "+", "-", ".e1", "+.", "1.0(", "1.0()", "1.0(1", "1.0(a)",
                                 "1.0(1)(2)", "1.0(1)x", "(1)", "1,0", "1.2.3", "1d5", "--1", "+-1", "1e5.0",
                                 "Infinity", "\n;1.0\n;\n"};
    for (const char* form : not_numbers)
        cases.push_back({std::string("no number: ") + form, rows5("ATOM 1 1 2 3\nATOM 2 " + std::string(form) + " 5 6\n"),
                         {{"1", "2", "3"}}, incomplete});
    return cases;
}

// Rows cut short, coordinates missing, and the single-row form.
std::vector<Case> ending_cases() {
    const std::string pair_xy = "_atom_site.Cartn_x 1.5\n_atom_site.Cartn_y -2.5\n";
    return {
        {"last row cut short", rows5("ATOM 1 1 2 3\nATOM 2 4 5\n"), {{"1", "2", "3"}}, incomplete},
        {"last row cut short after its coordinates",
         block + atom_loop("group_PDB Cartn_x Cartn_y Cartn_z occupancy", "ATOM 1 2 3 1.0\nATOM 4 5 6\n"),
         {{"1", "2", "3"}}, incomplete},
        {"row cut short by a name", rows5("ATOM 1 1 2 3\nATOM 2 4\n_other.item 5\n"), {{"1", "2", "3"}}, incomplete},
        {"row cut short by the next block", rows5("ATOM 1 1 2 3 ATOM\n") + "data_next\n", {{"1", "2", "3"}}, incomplete},
        {"row cut short by loop_", rows5("ATOM 1 1 2 3 ATOM 2\nloop_\n_a.b\n1\n"), {{"1", "2", "3"}}, incomplete},
        {"row cut short by stop_", rows5("ATOM 1 1 2 3 ATOM 2\nSTOP_\n"), {{"1", "2", "3"}}, incomplete},
        {"values after stop_ belong to no row", rows5("ATOM 1 1 2 3\nstop_\nATOM 2 4 5 6\n"), {{"1", "2", "3"}}, complete},
        {"fractional coordinates only", block + atom_loop("group_PDB fract_x fract_y fract_z", "ATOM 0.1 0.2 0.3\n"), {},
         incomplete},
        {"one Cartesian name missing, after earlier atoms",
         rows5("ATOM 1 1 2 3\n") + "data_b\n" + atom_loop("group_PDB Cartn_x Cartn_y", "ATOM 1 2\n"),
         {{"1", "2", "3"}}, incomplete},
        {"coordinates missing though the first row is no atom",
         block + atom_loop("group_PDB fract_x", "HOH 0.1\n"), {}, incomplete},
        {"coordinates missing in a loop without rows",
         block + atom_loop("group_PDB fract_x", "") + rows5("ATOM 1 1 2 3\n"), {{"1", "2", "3"}}, complete},
        {"single-row form",
         block + "_atom_site.group_PDB ATOM\n_atom_site.id 1\n" + pair_xy + "_atom_site.Cartn_z 3.5(2)\n_atom_site.occupancy ?\n",
         {{"1.5", "-2.5", "3.5"}}, complete},
        {"single-row form in two blocks, names in capitals, quoted group",
         block + pair_xy + "_ATOM_SITE.CARTN_Z 3\ndata_b\n_atom_site.group_PDB 'HETATM'\n_atom_site.cartn_x 4 "
                           "_atom_site.cartn_y 5 _atom_site.cartn_z 6\n",
         {{"1.5", "-2.5", "3"}, {"4", "5", "6"}}, complete},
        {"single-row form of another group", block + "_atom_site.group_PDB HOH\n" + pair_xy + "_atom_site.Cartn_z ?\n", {},
         complete},
        {"single-row atom comes at the end of its block",
         block + pair_xy + "_atom_site.Cartn_z 3\n" + atom_loop("Cartn_x Cartn_y Cartn_z", "7 8 9\n") + "data_b\n",
         {{"7", "8", "9"}, {"1.5", "-2.5", "3"}}, complete},
        {"single-row name without a value at the end", block + pair_xy + "_atom_site.Cartn_z", {}, incomplete},
        {"single-row form lacking Cartn_z", block + pair_xy + "_atom_site.id 1\n", {}, incomplete},
        {"single-row coordinate that is no number", block + pair_xy + "_atom_site.Cartn_z '3'\n", {}, incomplete},
        {"a valueless name of another category at the end", rows5("ATOM 1 1 2 3\n") + "_other.item", {{"1", "2", "3"}},
         complete},
        {"recognised after a byte-order mark, comments and blank lines",
         "\xEF\xBB\xBF# made by hand\n\n  \t\r\n   # ATOM 1 2 3\n \tdata_t\n" + atom_loop("Cartn_x Cartn_y Cartn_z", "1 2 3\n"),
         {{"1", "2", "3"}}, complete},
    };
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (auto table : {token_cases, selection_cases, number_cases, ending_cases})
        for (Case& c : table()) cases.push_back(std::move(c));
    return cases;
}

TEST(Mmcif, ReferenceReadingOfTheSyntaxTables) {
    for (const Case& c : all_cases())
        EXPECT_EQ(describe(reference::read_bytes(c.text)), describe(expected(c))) << c.name;
}

TEST(Mmcif, BothToolsOverTheSyntaxTables) {
    for (const Case& c : all_cases()) expect_tools_read(c.name, c.text, expected(c));
}

TEST(Mmcif, GzipCompressedAsPlain) {
    for (const Case& c : all_cases()) {
        // Two members cut inside the text, so that a member ends mid-row.
        const std::size_t cut = c.text.size() / 2;
        const std::string compressed =
            gzip_writer::member(c.text.substr(0, cut), 1) + gzip_writer::member(c.text.substr(cut), 9);
        ASSERT_EQ(describe(reference::read_bytes(compressed)), describe(expected(c))) << c.name;
        expect_tools_read(c.name + ", gzip", compressed, expected(c));
    }
}

TEST(Mmcif, LongValuesAndLinesArePassedOver) {
    std::string field_lines;
    while (field_lines.size() < (10u << 20)) field_lines += "ATOM 9 9 9 'q\" # x; data_ loop_ _atom_site.id\n";
    const std::string megabyte(1 << 20, 'v');
    const Case cases[] = {
        {"10 MB text field", rows5("ATOM\n;" + field_lines + ";\n1 2 3\nATOM 2 4 5 6\n"),
         {{"1", "2", "3"}, {"4", "5", "6"}}, complete},
        {"1 MB comment line", rows5("ATOM 1 1 2 3 #" + megabyte + "\nATOM 2 4 5 6\n"), {{"1", "2", "3"}, {"4", "5", "6"}},
         complete},
        {"1 MB quoted value on one line",
         block + atom_loop("group_PDB label_atom_id Cartn_x Cartn_y Cartn_z", "ATOM '" + megabyte + "' 1 2 3\n"),
         {{"1", "2", "3"}}, complete},
        {"1 MB bare value of another category", block + "_other.item " + megabyte + "\n" + rows5("ATOM 1 1 2 3\n"),
         {{"1", "2", "3"}}, complete},
        {"1 MB coordinate text", rows5("ATOM 1 " + std::string(1 << 20, '0') + "1.5 2 3\n"), {{"1.5", "2", "3"}},
         complete},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(describe(reference::read_bytes(c.text)), describe(expected(c))) << c.name;
        expect_tools_read(c.name, c.text, expected(c));
    }
}

TEST(Mmcif, ShippedSamplesAnswerAlike) {
    const std::string pdb = read_file(EXAMPLES_DIR "/sample.pdb");
    const std::string cif = read_file(EXAMPLES_DIR "/sample.cif");
    const std::string gz = read_file(EXAMPLES_DIR "/sample.pdb.gz");
    const reference::Reading want = reference::read_bytes(pdb);
    const std::string sample_centre[3] = {"4", "1.5", "-2"};
    ASSERT_EQ(want.records.size(), 26u);
    EXPECT_EQ(describe(reference::read_bytes(cif)), describe(want));
    EXPECT_EQ(describe(reference::read_bytes(gz)), describe(want));
    for (const char* name : {"sample.pdb", "sample.cif", "sample.pdb.gz", "sample.bcif", "sample.mmtf"}) {
        const std::string path = std::string(EXAMPLES_DIR "/") + name;
        ProgramRun box = run_program(BOXREACH_PATH, {path, sample_centre[0], sample_centre[1], sample_centre[2]});
        EXPECT_EQ(box.out, reference::boxreach_output(want, sample_centre)) << name;
        EXPECT_EQ(box.status, 1) << name;
    }
}

}  // namespace
