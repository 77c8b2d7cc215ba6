// The streaming mmCIF reader at the library level: how the tokenizer cuts
// texts, how numbers are read, and the reader against the whole-text
// reference reading over tables and generated texts, handed out in pieces
// of every size through blocks of every size so that tokens straddle every
// boundary. Tiny blocks never hold a whole line, so they leave everything
// to the token-by-token reading, while large blocks let the fast line
// reading take nearly every row: both must give the reference's answer.
// The fast reading's two builds (portable and AVX2) are held to each other.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "mmcif/atom_site_rows.hpp"
#include "mmcif/loop_lines/cif_loop_lines.hpp"
#include "mmcif/cif_number.hpp"
#include "mmcif/cif_tokenizer.hpp"
#include "memory_source.hpp"
#include "reference_reading.hpp"

namespace {

using record_scan::ScanOutcome;

// ---- the tokenizer ---------------------------------------------------------

// "V:text" for a value (Q quoted, T text field), "N:" a data name, and the
// keywords as L D S G P; a long token shows its length and first bytes.
std::string describe(const record_scan::CifToken& token) {
    using Kind = record_scan::CifTokenKind;
    const char* kind = "";
    switch (token.kind) {
        case Kind::value:
            kind = token.quoting == record_scan::CifQuoting::bare     ? "V"
                   : token.quoting == record_scan::CifQuoting::quoted ? "Q"
                                                                      : "T";
            break;
        case Kind::data_name: kind = "N"; break;
        case Kind::loop: kind = "L"; break;
        case Kind::data_block: kind = "D"; break;
        case Kind::save_frame: kind = "S"; break;
        case Kind::global: kind = "G"; break;
        case Kind::stop: kind = "P"; break;
    }
    std::string text = kind;
    if (token.is_long()) text += std::to_string(token.length);
    return text + ":" + std::string(token.text()) + "|";
}

std::string tokens_of(const std::string& text, std::size_t piece) {
    record_scan::CifTokenizer tokenizer;
    std::string tokens;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        const char* p = text.data() + at;
        const char* end = text.data() + std::min(text.size(), at + piece);
        while (tokenizer.next(p, end)) tokens += describe(tokenizer.token());
    }
    if (tokenizer.finish()) tokens += describe(tokenizer.token());
    return tokens;
}

TEST(CifTokenizer, CutsTextsInPiecesOfEverySize) {
    const std::string long_value(70, '7');
    const struct {
        const char* name;
        std::string text;
        std::string tokens;
    } cases[] = {
        {"keywords in any letter case, and near misses",
         "DATA_x Loop_ SAVE_f save_ GLOBAL_ Stop_ loops_ dat_a data loop_x",
         "D:DATA_x|L:Loop_|S:SAVE_f|S:save_|G:GLOBAL_|P:Stop_|V:loops_|V:dat_a|V:data|V:loop_x|"},
        {"data names", "_atom_site.Cartn_x _a\t_b", "N:_atom_site.Cartn_x|N:_a|N:_b|"},
        {"only a quote before white space closes", "'O5'' \"a\"b\" 'x y' '' 'it''s' O5'",
         "Q:O5'|Q:a\"b|Q:x y|Q:|Q:it''s|V:O5'|"},
        {"a quoted value runs over lines, and to the end when never closed", "'a\nb' c 'open\nrest ",
         "Q:a\nb|V:c|Q:open\nrest |"},
        {"a quote at the end of the input closes", "'abc'", "Q:abc|"},
        {"comments after white space only", "a #c\n#d\nb#c 'q#' #", "V:a|V:b#c|Q:q#|"},
        {"text fields between line-start semicolons", ";a\n;b\n;\nc\n; x\n;;\n;",
         "T:a|V:b|T:\nc|V:x|T:;|"},
        {"a semicolon inside a line is a value", "a ;b\n ;c", "V:a|V:;b|V:;c|"},
        {"a text field never closed runs to the end", ";abc\ndef\n", "T:abc\ndef\n|"},
        {"crlf lines; the carriage return stays in a text field", "a\r\nb\r\n;x\r\n;\r\n", "V:a|V:b|T:x\r|"},
        {"tabs and carriage returns separate", "a\tb\rc", "V:a|V:b|V:c|"},
        {"long tokens keep their first bytes", "'" + long_value + "' " + long_value,
         "Q70:" + long_value.substr(0, 64) + "|V70:" + long_value.substr(0, 64) + "|"},
    };
    for (const auto& c : cases)
        for (std::size_t piece = 1; piece <= c.text.size(); ++piece)
            ASSERT_EQ(tokens_of(c.text, piece), c.tokens) << c.name << ", pieces of " << piece;
}

// Bare tokens of every length up to 40, of bytes that are white space's
// near misses (one bit away, or with the top bit set), ended by each kind of
// white space at every place, in pieces of every size.
TEST(CifTokenizer, BareTokensEndAtTheFirstWhiteSpace) {
    const std::string bytes = "ab09.-\x08\x0b\x0c\x0e\x1f\x21\x2a\x2d\x7f\x80\x89\x8a\x8d\xa0\xff";
    for (std::size_t length = 1; length <= 40; ++length) {
        for (char blank : {' ', '\t', '\n', '\r'}) {
            std::string token;
            for (std::size_t i = 0; i < length; ++i) token += bytes[(i * 7 + length) % bytes.size()];
            const std::string text = token + blank + "x";
            for (std::size_t piece = 1; piece <= text.size(); ++piece)
                ASSERT_EQ(tokens_of(text, piece), "V:" + token + "|V:x|") << length << ", pieces of " << piece;
        }
    }
}

// ---- numbers ---------------------------------------------------------------

// The number as the whole-text reference reads it.
std::string reference_number(const std::string& text) {
    std::optional<float> value = reference::cif::number({reference::cif::TokenKind::value, text, true});
    if (!value) return "none";
    char shown[32];
    std::snprintf(shown, sizeof shown, "%a", *value);
    return shown;
}

std::string streaming_number(const std::string& text) {
    float value = 0;
    if (!record_scan::read_cif_number(text, value)) return "none";
    char shown[32];
    std::snprintf(shown, sizeof shown, "%a", value);
    return shown;
}

std::string number_in_pieces(const std::string& text, std::size_t piece) {
    record_scan::CifNumberPieces pieces;
    for (std::size_t at = 0; at < text.size(); at += piece) pieces.add(std::string_view(text).substr(at, piece));
    float value = 0;
    if (!pieces.value(value)) return "none";
    char shown[32];
    std::snprintf(shown, sizeof shown, "%a", value);
    return shown;
}

TEST(CifNumber, FormsReadAsTheReferenceReadsThem) {
    const std::string zeros(1000, '0');
    const std::vector<std::string> forms = {
        "1", "-1", "+1.5", "1.", ".5", "-.5", "0", "-0", "-0.000", "12.345", "-957.951", "99999999", "16777217",
        "16777216.5", "1e5", "1E-3", "-1.5e+2", "1.e5", "12.345(6)", "3(1)", "1e2(3)", "1e39", "-1e39", "1e-46",
        "1.4e-45", "3.4028235677973366e38", "0.100000001490116119384765625", "1.00000005960464477539062500001",
        "1.000000059604644775390625" + zeros + "1",  // halfway, decided by a digit far past the kept ones
        zeros + "1.5", "0." + zeros + "15e1003", "1" + zeros, "1." + zeros + "1", "9" + zeros + "e-1001",
        "?", ".", "", "-", "+", "1.0e", "1e+", "inf", "nan", "0x1p3", "1.0#x", "1.0(", "1.0()", "1.0(1)x",
        "(1)", "1,0", "1.2.3", "--1", "1e5.0", ".e1", zeros + "x", "1" + zeros + "e", "1e" + zeros + "5",
        "1e-" + zeros + "99999999999"};
    for (const std::string& form : forms) {
        const std::string want = reference_number(form);
        EXPECT_EQ(streaming_number(form), want) << form.substr(0, 80);
        for (std::size_t piece : {1u, 3u, 64u, 5000u})
            EXPECT_EQ(number_in_pieces(form, piece), want) << form.substr(0, 80) << ", pieces of " << piece;
    }
}

TEST(CifNumber, RandomTextsAgreeWithTheGrammarAndStrtof) {
    const std::regex grammar(R"(([+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?)(\([0-9]+\))?)");
    std::mt19937 random(17);
    const char others[] = ".-+eE(";
    for (int i = 0; i < 100000; ++i) {
        std::string text;
        for (int length = 1 + static_cast<int>(random() % 11); length > 0; --length)
            text += random() % 10 < 7 ? static_cast<char>('0' + random() % 10) : others[random() % 6];
        if (random() % 8 == 0) text += "(" + std::to_string(random() % 100) + ")";
        std::smatch parts;
        std::string want = "none";
        if (std::regex_match(text, parts, grammar)) {
            char shown[32];
            std::snprintf(shown, sizeof shown, "%a", std::strtof(parts[1].str().c_str(), nullptr));
            want = shown;
        }
        ASSERT_EQ(streaming_number(text), want) << text;
    }
}

// ---- the reader against the reference reading -----------------------------

std::string describe(const std::vector<record_scan::AtomXyz>& records, ScanOutcome end) {
    std::string text;
    for (const record_scan::AtomXyz& atom : records) {
        char line[96];
        std::snprintf(line, sizeof line, "%a %a %a\n", atom.x, atom.y, atom.z);
        text += line;
    }
    return text + (end == ScanOutcome::end_of_input ? "end" : end == ScanOutcome::incomplete ? "incomplete" : "read error");
}

std::string read_streaming(MemorySource& source, std::size_t block_bytes,
                           record_scan::Kernel kernel = record_scan::fastest_kernel()) {
    record_scan::RecordScanner scanner(source, block_bytes, kernel);
    std::vector<record_scan::AtomXyz> records;
    record_scan::AtomXyz atom;
    ScanOutcome outcome;
    while ((outcome = scanner.next_record(atom)) == ScanOutcome::record) records.push_back(atom);
    return describe(records, outcome);
}

std::string read_reference(const std::string& text) {
    reference::Reading reading = reference::read_bytes(text);
    return describe(reading.records, reading.end);
}

// Whole blocks, tiny blocks and ragged pieces all give the reference's answer.
void expect_reference_answer(const std::string& name, const std::string& text, unsigned seed) {
    const std::string want = read_reference(text);
    for (record_scan::Kernel kernel : record_scan::available_kernels()) {
        MemorySource whole(text);
        ASSERT_EQ(read_streaming(whole, record_scan::RecordScanner::default_block_bytes, kernel), want)
            << name << ", kernel " << record_scan::kernel_name(kernel);
    }
    for (std::size_t block : {1u, 2u, 3u, 7u, 64u, 129u, 4096u}) {
        MemorySource source(text);
        ASSERT_EQ(read_streaming(source, block), want) << name << ", blocks of " << block;
    }
    std::mt19937 random(seed);
    for (std::size_t largest : {8u, 300u}) {
        MemorySource ragged(text, [&] { return 1 + random() % largest; });
        ASSERT_EQ(read_streaming(ragged, 1 + random() % 400), want) << name << ", pieces up to " << largest;
    }
}

const std::string loop5 =
    "data_t\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
    "_atom_site.Cartn_z\n";

TEST(MmcifReader, TablesOfTheFastReadingsEdges) {
    const std::string pad(40, ' ');
    const std::string filler(60, 'f');
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"a coordinate across the 64th byte", loop5 + "ATOM " + std::string(52, '1') + " -957.951 2 3\n"},
        {"lines of 127, 128 and 129 bytes",
         loop5 + "ATOM 1 1 2 " + std::string(116, '3') + "\nATOM 1 1 2 " + std::string(117, '3') + "\nATOM 1 1 2 " +
             std::string(118, '3') + "\n"},
        {"a value of 65 bytes that is a number", loop5 + "ATOM 1 1 2 " + std::string(62, '0') + "3.5\n"},
        {"blanks past the 128th byte", loop5 + "ATOM 1 1 2 3" + pad + pad + pad + pad + "\nHETATM 2 4 5 6\n"},
        {"two rows on a line, and a row over lines", loop5 + "ATOM 1 1 2 3 ATOM 2 4 5 6\nATOM\n3 7\n8\n9\n"},
        {"a quoted value, then plain values on the same line", loop5 + "ATOM \"O5'\" 1 2 3 ATOM 2 4 5 6\n"},
        {"a reserved word at the 5th and 7th byte test", loop5 + "ATOM 1 1 2 3\n" + filler + " loop_\n_a.b\nATOM 1 2 3\n"},
        {"underscores inside values", loop5 + "ATOM a_b 1 2 3\nATOM loop_x 4 5 6\nATOM data 7 8 9\n"},
        {"a data name ends the rows", loop5 + "ATOM 1 1 2 3\n_other.x 1\nATOM 1 2 3\n"},
        {"a text field inside a row", loop5 + "ATOM\n;ATOM 9 9 9 9\n;\n1 2 3\nATOM 2 4 5 6\n"},
        {"a text field opening a row", loop5 + "ATOM 1 1 2 3\n;ATOM 2 4 5 6\n;\nATOM 7 8 9\nATOM 3 1 2 3\n"},
        {"a reserved word starting past the 64th byte of a row's line",
         "data_t\nloop_\n_atom_site.group_PDB\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
         "_atom_site.id\nATOM 1 2 3 1\nATOM 1 2 3" + std::string(60, ' ') + "stop_\n"},
        {"a line of more rows than wait to be handed out", loop5 + [] {
             std::string rows;
             for (int i = 0; i < 5000; ++i) rows += "ATOM " + std::to_string(i) + " 1 2 " + std::to_string(i) + " ";
             return rows + "\n";
         }()},
        {"a comment inside a row", loop5 + "ATOM 1 1 # 8 8 8\n2 3\n"},
        {"crlf and tabs", loop5 + "ATOM\t1\t1\t2\t3\r\nHETATM 2 4 5 6\r\n"},
        {"a row cut short by the end", loop5 + "ATOM 1 1 2 3\nATOM 2 4 5"},
        {"a row that is no atom, then atoms", loop5 + "TER 1 ? ? ?\nATOM 2 4 5 6\n"},
        {"a coordinate that is no number", loop5 + "ATOM 1 1 2 3\nATOM 2 1 2 3x\nATOM 3 4 5 6\n"},
        {"group_PDB after the coordinates",
         "data_t\nloop_\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.group_PDB\n"
         "1 2 3 ATOM\n4 5 6 TER\n7 8 9 HETATM\n"},
        {"columns repeated and of another category",
         "data_t\nloop_\n_atom_site.Cartn_x\n_atom_site.Cartn_x\n_other.Cartn_y\n_atom_site.Cartn_y\n"
         "_atom_site.Cartn_z\n1 9 9 2 3\n"},
        {"a loop without coordinates has rows", "data_t\nloop_\n_atom_site.id\n_atom_site.fract_x\n1 0.5\n"},
        {"single-row pairs, a valueless name passed over, the first of a repeated name",
         "data_t\n_atom_site.Cartn_x 1\n_atom_site.Cartn_y\n_atom_site.Cartn_y 2 _atom_site.Cartn_y 9\n"
         "_atom_site.Cartn_z 3\ndata_u\n_atom_site.Cartn_x 4 _atom_site.Cartn_y 5 _atom_site.Cartn_z"},
        {"a 1 MB coordinate", loop5 + "ATOM 1 " + std::string(1 << 20, '0') + "1.5 2 3\n"},
        {"a 1 MB line of rows", loop5 + [] {
             std::string rows;
             for (int i = 0; rows.size() < (1u << 20); ++i) rows += "ATOM " + std::to_string(i) + " 1.5 -2 " + std::to_string(i) + " ";
             return rows + "\n";
         }()},
    };
    unsigned seed = 1;
    for (const auto& c : cases) expect_reference_answer(c.name, c.text, seed++);
}

// ---- generated texts --------------------------------------------------------

// An _atom_site loop in a random layout: columns in any order, archive-style
// and compact lines, rows sharing lines or running over several, and (when
// `tricky`) quoted values, comments, text fields, long values and lines.
std::string generated_cif(std::mt19937& random, bool tricky) {
    auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
    std::vector<std::string> names = {"group_PDB", "Cartn_x", "Cartn_y", "Cartn_z"};
    if (pick(10) == 0) names.erase(names.begin());
    for (unsigned extra = pick(18); extra > 0; --extra) names.push_back("item_" + std::to_string(extra));
    std::shuffle(names.begin(), names.end(), random);
    std::string text = "data_generated\n_cell.length_a 10\nloop_\n";
    for (const std::string& name : names) text += "_atom_site." + name + (pick(3) == 0 ? " \n" : "\n");
    const char* plain[] = {"?", ".", "A", "CA", "x_y", "C#1", "a;b", "MET", "1", "HOH", "loops_", "data"};
    const char* awkward[] = {"\"O5'\"", "'a b'", "''", "\"x\"y\"", "'ATOM'", "'#'", "\n;text\nfield\n;\n"};
    const char* groups[] = {"ATOM", "ATOM", "ATOM", "HETATM", "TER", "atom", "\"HETATM\""};
    const char* separators[] = {" ", " ", "  ", "\t", "   "};
    for (unsigned row = 0, rows = 20 + pick(200); row < rows; ++row) {
        for (std::size_t column = 0; column < names.size(); ++column) {
            const std::string& name = names[column];
            std::string value;
            if (name == "group_PDB") {
                value = groups[pick(tricky ? 7 : 4)];
            } else if (name.rfind("Cartn_", 0) == 0) {
                char number[32];
                std::snprintf(number, sizeof number, "%.*f", static_cast<int>(pick(4)),
                              (static_cast<int>(pick(2000000)) - 1000000) / 1000.0);
                value = number;
                if (tricky && pick(40) == 0) value = pick(2) ? "1e3" : "12.5(3)";
            } else if (tricky && pick(12) == 0) {
                value = pick(8) == 0 ? std::string(60 + pick(100), 'L') : awkward[pick(7)];
            } else {
                value = plain[pick(12)];
            }
            text += value;
            if (column + 1 < names.size() && tricky && pick(30) == 0) text += pick(2) ? "\n" : " # comment\n";
            else text += separators[pick(5)];
        }
        unsigned ending = pick(20);
        if (ending == 0 && tricky) text += "# after\n";
        else if (ending == 1) text += "\r\n";
        else if (ending != 2) text += "\n";  // 2: the next row shares the line
    }
    if (pick(3) == 0) text += "#\nloop_\n_atom_type.symbol\nC\nN\n";
    return text;
}

TEST(MmcifReader, GeneratedLoopsAnswerAsTheReference) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 random(seed);
        const bool tricky = seed % 2 == 0;
        const std::string text = generated_cif(random, tricky);
        expect_reference_answer("generated text " + std::to_string(seed), text, seed);
    }
}

// ---- text that is passed over ------------------------------------------------

// The text around the atom rows: name-value pairs and loops of other
// categories, comments and text fields, whose values hide names, reserved
// words and quotes where a line-at-a-time reading could take them for
// tokens; now and then an _atom_site pair or a new data block, which do
// matter. Padding moves every token across the 64-byte windows.
std::string generated_surroundings(std::mt19937& random) {
    auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
    const char* foreign_names[] = {"_cell.length_a", "_atom_site_anisotrop.U[1][1]", "_atom_sitex.y",
                                   "_Atom_Site_Anisotrop.id", "_struct.title", "_a.b",
                                   "_exptl.method_details_of_a_very_long_item_name_that_runs_past_64_bytes"};
    const char* atom_site_names[] = {"_atom_site.Cartn_x", "_ATOM_SITE.CARTN_Y", "_atom_site.cartn_z",
                                     "_atom_site.group_PDB", "_atom_site.id", "_atom_site"};
    const char* values[] = {"1.5", "?", ".", "ABC_DEF", "loops_", "data", "C#1", "a;b", "&x", "x'y",
                            "'a b'", "\"x 'y' z\"", "'it''s'", "'O5''", "'_atom_site.Cartn_x 9'",
                            "'loop_ data_x'", "\"#\"", "'ends here'", "abcd_", "globa_l", "stop_x", "&",
                            "'runs on\n_atom_site.Cartn_x 9\nover lines' ", "\n;a field\n_atom_site.Cartn_x 9\n;\n",
                            "\n;a field closed by a token\n;x", "\n;\n;\n", "'a\tb'\r"};
    const char* separators[] = {" ", "  ", "\t", "\n", "\r\n", " # a comment with _atom_site.Cartn_x 'x\n"};
    std::string text;
    const auto pad = [&] { text += std::string(pick(4) == 0 ? pick(70) : 0, ' '); };
    for (unsigned item = 0, items = 5 + pick(40); item < items; ++item) {
        pad();
        switch (pick(12)) {
            case 0:
            case 1: {  // a loop of another category
                text += "\nloop_\n";
                const unsigned columns = 1 + pick(4);
                text += std::string(foreign_names[pick(7)]) + "\n";  // the first tells the category
                for (unsigned c = 1; c < columns; ++c)
                    text += std::string(pick(3) ? foreign_names[pick(7)] : atom_site_names[pick(6)]) + separators[pick(6)];
                for (unsigned v = 0, count = columns * pick(6); v < count; ++v)
                    text += std::string(values[pick(27)]) + separators[pick(6)];
                text += "\n";
                break;
            }
            case 2: text += "#\n"; break;
            case 3: text += "# _atom_site.Cartn_x 9 'unclosed\n"; break;
            case 4:  // a whole single row, so that the block ends with a record
                text += "_atom_site.Cartn_x " + std::to_string(item) + " _ATOM_SITE.CARTN_Y 2\n_atom_site.cartn_z 3\n";
                text += std::string(atom_site_names[pick(6)]) + (pick(2) ? " ATOM\n" : " 7\n");
                break;
            case 5: text += pick(3) ? "data_block" + std::to_string(item) + "\n" : "DATA_x\n"; break;
            case 6: text += pick(2) ? "stop_\n" : "global_ save_frame save_\n"; break;
            default:  // a pair of another category, sometimes two on a line
                text += std::string(foreign_names[pick(7)]) + separators[pick(4)] + values[pick(27)];
                text += pick(5) == 0 ? std::string(" ") + foreign_names[pick(7)] + " 1\n" : "\n";
        }
    }
    return text;
}

TEST(MmcifReader, PassingOverOtherCategoriesAnswersAsTheReference) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"a name hidden in a quoted value", "data_t\n_struct.title '_atom_site.Cartn_x 9'\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a quoted value over lines", "data_t\n_a.b 'it's\n_atom_site.Cartn_x 9\nloop_\n' _c.d 1\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a quoted value never closed", "data_t\n_a.b 'open\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a comment hiding a name", "data_t\n# _atom_site.Cartn_x 9\n_a.b 1 # loop_\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a '#' and a quote inside values", "data_t\n_a.b C#1 _c.d x'y _atom_site.Cartn_x 4\n_atom_site.Cartn_y 5\n_atom_site.Cartn_z 6\n"},
        {"a text field hiding names", "data_t\n_a.b\n;_atom_site.Cartn_x 9\nloop_\n;\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a text field closed by a token", "data_t\n_a.b\n;text\n;'_atom_site.Cartn_x 9'\n_atom_site.Cartn_x 1\n"
                                           "_atom_site.Cartn_y 2 _atom_site.Cartn_z 3\n"},
        {"reserved words in any case, mid-line", "data_t\n_a.b 1 LOOP_ _atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                                                 "_atom_site.Cartn_z\n1 2 3\n_c.d 1 Data_u _atom_site.Cartn_x 1\n"},
        {"underscores where reserved words have them", "data_t\n_a.b abcd_ x globa_l stop_x data loops_ save_\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"names of _atom_site and its neighbours", "data_t\n_atom_site_anisotrop.id 1\n_atom_sitex.y 2\n_ATOM_SITE.CARTN_X 7\n"
                                                  "_atom_site.Cartn_y 8 _atom_site.cartn_z 9\n_atom_site 1\n"},
        {"the bare category name alone makes a row", "data_t\n_a.b 1 _atom_site 1\ndata_u\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a text field's line that begins with another byte", "data_t\n_a.b\n;\nx\n_atom_site.Cartn_x 9\n;\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"names of _atom_site among another loop's", "data_t\nloop_\n_a.b\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                                                     "_atom_site.Cartn_z\n1 2 3 4\n_atom_site.Cartn_x 5 _atom_site.Cartn_y 6 "
                                                     "_atom_site.Cartn_z 7\n"},
        {"another loop's names, then no value", "data_t\nloop_\n_a.b _c.d\n_e.f loop_\n_atom_site.Cartn_x\n"
                                                "_atom_site.Cartn_y\n_atom_site.Cartn_z\n1 2 3\nloop_\n_a.b\n_c.d\ndata_u\n"},
        {"another loop's first values quoted, commented, a field", "data_t\nloop_\n_a.b\n_c.d # _atom_site.Cartn_x\n"
                                                                  "'x' 1\nloop_\n_a.b\n;\n_atom_site.Cartn_x 1\n;\n2\n" + loop5 +
                                                                  "ATOM 1 1 2 3\n"},
        {"a name at every offset of a window", [] {
             std::string text = "data_t\n";
             for (int offset = 0; offset < 140; ++offset)
                 text += "_a.b" + std::string(offset, ' ') + "1 _atom_site.Cartn_x " + std::to_string(offset) +
                         "\ndata_" + std::to_string(offset) + "\n_atom_site.Cartn_y 1 _atom_site.Cartn_z 2\n";
             return text;
         }()},
        {"a reserved word at every offset of a window", [] {
             std::string text = "data_t\n";
             for (int offset = 0; offset < 140; ++offset)
                 text += "_a.b " + std::string(offset, 'v') + " loop_\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                         "_atom_site.Cartn_z\n1 2 " + std::to_string(offset) + "\n";
             return text;
         }()},
        {"a long name of another category, then a loop", "data_t\nloop_\n_" + std::string(200, 'x') +
                                                         ".y\n_atom_site.Cartn_x\n1 2\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"crlf, tabs and blank lines", "data_t\r\n\r\n_a.b\t'x'\r\n\t_c.d 1\r\n\r\n" + loop5 + "ATOM 1 1 2 3\r\n"},
        {"a 1 MB line of values", "data_t\n_a.b " + std::string(1 << 20, 'v') + "\n" + loop5 + "ATOM 1 1 2 3\n"},
        {"a 1 MB quoted value", "data_t\n_a.b '" + std::string(1 << 20, 'v') + "'\n" + loop5 + "ATOM 1 1 2 3\n"},
    };
    unsigned seed = 100;
    for (const auto& c : cases) expect_reference_answer(c.name, c.text, seed++);
}

TEST(MmcifReader, GeneratedSurroundingsAnswerAsTheReference) {
    for (unsigned seed = 1; seed <= 80; ++seed) {
        std::mt19937 random(seed);
        const std::string before = generated_surroundings(random);
        const std::string rows = generated_cif(random, seed % 2 == 0);
        const std::string text = "data_t\n" + before + rows + generated_surroundings(random);
        expect_reference_answer("surroundings " + std::to_string(seed), text, seed);
    }
}

TEST(MmcifReader, ReadErrorsKeepTheRowsBefore) {
    std::mt19937 random(5);
    const std::string text = generated_cif(random, false);
    const reference::Reading whole = reference::read_bytes(text);
    for (std::size_t fail_after = 0; fail_after < text.size(); fail_after += 1 + fail_after / 8) {
        MemorySource source(text, {}, fail_after);
        record_scan::RecordScanner scanner(source, 64);
        record_scan::AtomXyz atom;
        std::size_t records = 0;
        ScanOutcome outcome;
        while ((outcome = scanner.next_record(atom)) == ScanOutcome::record) {
            ASSERT_LT(records, whole.records.size());
            EXPECT_EQ(std::memcmp(&atom, &whole.records[records], sizeof atom), 0);
            ++records;
        }
        const reference::Reading want = reference::read_bytes(text, fail_after);
        EXPECT_TRUE(outcome == want.end || (want.end_may_be_incomplete && outcome == ScanOutcome::incomplete))
            << "failing after " << fail_after;
    }
}

// ---- the fast reading's two builds ----------------------------------------

record_scan::CifToken name_token(const std::string& name) {
    record_scan::CifToken token;
    token.kind = record_scan::CifTokenKind::data_name;
    token.length = name.size();
    std::memcpy(token.kept, name.data(), std::min(name.size(), record_scan::cif_kept_bytes));
    return token;
}

// Every step of one build over the rows of a loop: what it said, where it
// stopped and what it delivered, until it needs the tokenizer or more bytes.
std::string fast_steps(record_scan::LoopLinesReader read, const std::vector<std::string>& names,
                       const std::string& rows) {
    record_scan::AtomSiteLoop loop;
    record_scan::OutcomeQueue queue;
    for (const std::string& name : names) loop.add_name(name_token(name));
    loop.begin_rows(queue);
    const std::string buffer = rows + std::string(record_scan::loop_lines_overread, '\0');
    record_scan::LoopLinePosition at{buffer.data(), true, nullptr};
    std::string steps;
    for (;;) {
        record_scan::LoopLines result = read(at, buffer.data() + rows.size(), &loop, queue);
        steps += "step " + std::to_string(static_cast<int>(result)) + " at " + std::to_string(at.next - buffer.data()) +
                 (at.at_line_start ? " line start\n" : "\n");
        while (!queue.empty()) {
            record_scan::CifOutcome outcome = queue.pop();
            char line[96];
            std::snprintf(line, sizeof line, "%d %a %a %a\n", static_cast<int>(outcome.kind), outcome.atom.x,
                          outcome.atom.y, outcome.atom.z);
            steps += line;
        }
        if (result != record_scan::LoopLines::read) return steps;
    }
}

// The loop-line builds of the kernels other than the portable one that
// this machine runs.
std::vector<record_scan::Kernel> wider_kernels() {
    std::vector<record_scan::Kernel> kernels;
    for (record_scan::Kernel kernel : record_scan::available_kernels())
        if (record_scan::loop_lines_reader(kernel) != record_scan::read_loop_lines_portable) kernels.push_back(kernel);
    return kernels;
}

TEST(CifLoopLines, BuildsForEachInstructionSetAgree) {
    if (wider_kernels().empty()) GTEST_SKIP() << "this machine runs only the portable build";
    for (unsigned seed = 1; seed <= 400; ++seed) {
        std::mt19937 random(seed);
        const std::string text = generated_cif(random, seed % 2 == 0);
        // The names, and the rows after them, as the token reading would hand them over.
        std::vector<std::string> names;
        std::size_t at = text.find("loop_\n") + 6;
        while (text[at] == '_') {
            std::size_t end = text.find_first_of(" \n", at);
            names.push_back(text.substr(at, end - at));
            at = text.find('\n', end) + 1;
        }
        const std::string rows = text.substr(at);
        const std::string want = fast_steps(record_scan::read_loop_lines_portable, names, rows);
        for (record_scan::Kernel kernel : wider_kernels())
            ASSERT_EQ(fast_steps(record_scan::loop_lines_reader(kernel), names, rows), want)
                << "generated text " << seed << ", kernel " << record_scan::kernel_name(kernel);
    }
}

// Coordinates of every shape, the "%8.3f" words the fast row reading takes
// in one go among them, in rows of one line: the readings of every kernel
// against the reference, and the two builds step by step.
TEST(CifLoopLines, CoordinateWordsOfEveryShape) {
    const char* words[] = {"1.000", "-1.000", "0.000", "-0.000", "9999.999", "-999.999", "1234.567",
                           "-1234.567", "12345.678", "1.5", "1.", ".500", "1.0000", "01.000", "-01.000",
                           "0001.000", "00000.000", "+1.000", "1e3", "1.000e1", "12.5(3)", "'1.000'",
                           "\"-2.000\"", "1-2.000", "--1.000", "-", ".", "?", "1.2.3", "1.00a", "A.000",
                           "-.500", "7.250", "-88.125"};
    const std::size_t count = std::size(words);
    std::mt19937 random(16);
    std::string rows;
    // Each word in each place beside shaped ones, then random triples.
    for (std::size_t i = 0; i < count * 3 + 300; ++i) {
        const char* xyz[3] = {"1.000", "-22.500", "333.125"};
        if (i < count * 3) {
            xyz[i % 3] = words[i / 3];
        } else {
            for (const char*& word : xyz) word = words[random() % count];
        }
        rows += std::string(i % 5 == 0 ? "HETATM" : "ATOM") + " " + std::to_string(i) + " " + xyz[0] + " " +
                xyz[1] + (i % 2 ? "  " : " ") + xyz[2] + " 1.00\n";
    }
    const std::vector<std::string> names = {"_atom_site.group_PDB", "_atom_site.id", "_atom_site.Cartn_x",
                                            "_atom_site.Cartn_y", "_atom_site.Cartn_z", "_atom_site.occupancy"};
    std::string text = "data_t\nloop_\n";
    for (const std::string& name : names) text += name + "\n";
    expect_reference_answer("coordinate words", text + rows, 16);
    const std::string want = fast_steps(record_scan::read_loop_lines_portable, names, rows);
    for (record_scan::Kernel kernel : wider_kernels())
        EXPECT_EQ(fast_steps(record_scan::loop_lines_reader(kernel), names, rows), want)
            << "kernel " << record_scan::kernel_name(kernel);
}

TEST(CifLoopLines, ByteClassesAgreeWithTheBytewiseReading) {
    std::mt19937 random(3);
    const char alphabet[] = " \t\r\n'\"#_;ab09.\x7f\x80\xff\x0b";
    char window[64];
    for (int i = 0; i < 20000; ++i) {
        for (char& c : window) c = alphabet[random() % (sizeof alphabet - 1)];
        record_scan::CifByteMasks fast = record_scan::classify_cif_bytes(window);
        record_scan::CifByteMasks plain = record_scan::classify_cif_bytes_portable(window);
        ASSERT_EQ(fast.blank, plain.blank);
        ASSERT_EQ(fast.special, plain.special);
        ASSERT_EQ(fast.quote, plain.quote);
        ASSERT_EQ(fast.underscore, plain.underscore);
        ASSERT_EQ(fast.line_feed, plain.line_feed);
    }
}

// The wider builds' classes by table look-up, over every byte value in
// every place and over random windows of the bytes that matter.
TEST(CifLoopLines, WideByteClassesAgreeWithTheBytewiseReading) {
    if (wider_kernels().empty()) GTEST_SKIP() << "this machine runs only the portable build";
#if defined(__x86_64__)
    std::vector<record_scan::CifByteMasks (*)(const char*)> builds;
    for (record_scan::Kernel kernel : wider_kernels())
        builds.push_back(kernel == record_scan::Kernel::avx512 ? record_scan::classify_cif_bytes_avx512
                                                               : record_scan::classify_cif_bytes_avx2);
    std::mt19937 random(7);
    const char alphabet[] = " \t\r\n'\"#_;ab09.\x7f\x80\xff\x0b\x00\x20\xa0\x8a\x2f\x5f\x6f\x7d";
    char window[64];
    for (int i = 0; i < 20000; ++i) {
        for (std::size_t k = 0; k < sizeof window; ++k)
            window[k] = i < 256 ? static_cast<char>(i + k * 7) : alphabet[random() % (sizeof alphabet - 1)];
        record_scan::CifByteMasks plain = record_scan::classify_cif_bytes_portable(window);
        for (const auto classify : builds) {
            record_scan::CifByteMasks fast = classify(window);
            ASSERT_EQ(fast.blank, plain.blank) << i;
            ASSERT_EQ(fast.special, plain.special) << i;
            ASSERT_EQ(fast.quote, plain.quote) << i;
            ASSERT_EQ(fast.underscore, plain.underscore) << i;
            ASSERT_EQ(fast.line_feed, plain.line_feed) << i;
        }
    }
#endif
}

// Archive-style rows, columns padded to one width as an archive writes
// them, each row then changed at random in one of the ways that send a
// line away from the fast row readings or just keep it on them: lines
// around 64 and 128 bytes, coordinates of 1 to 10 bytes, group values
// that are almost ATOM or HETATM, a special byte in some column, a
// control byte that is no white space, tabs and carriage returns, a row
// over two lines or two rows on one, and loops of 33 columns and more.
std::string archive_rows(std::mt19937& random, std::vector<std::string>& names) {
    auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
    names = {"_atom_site.group_PDB", "_atom_site.id", "_atom_site.type_symbol", "_atom_site.label_atom_id",
             "_atom_site.label_comp_id", "_atom_site.Cartn_x", "_atom_site.Cartn_y", "_atom_site.Cartn_z",
             "_atom_site.occupancy", "_atom_site.B_iso_or_equiv"};
    const unsigned extra = pick(4) == 0 ? 20 + pick(20) : pick(8);
    for (unsigned i = 0; i < extra; ++i) names.push_back("_atom_site.extra_" + std::to_string(i));
    std::shuffle(names.begin() + 1, names.end(), random);
    const std::size_t padding = pick(4) == 0 ? 0 : pick(40);  // of the one wide column
    const char* groups[] = {"ATOM", "HETATM", "ATOMS", "HETATMS", "ATO", "atom", "HETAT", "ATOMATOM", "TER"};
    const char* oddities[] = {"a#b", "x_y", "O5'", "'q r'", "\"s\"", "#", "_a.b", "v\x0bw", "f\x0cg", "loop_",
                              "\x7f", "\xc3\xa9"};
    std::string rows;
    for (unsigned row = 0, count = 50 + pick(100); row < count; ++row) {
        const unsigned change = pick(24);
        for (std::size_t column = 0; column < names.size(); ++column) {
            const std::string& name = names[column];
            std::string value;
            if (name == "_atom_site.group_PDB") {
                value = change == 0 ? groups[pick(9)] : pick(10) == 0 ? "HETATM" : "ATOM";
            } else if (name.rfind("_atom_site.Cartn_", 0) == 0) {
                const unsigned width = change == 1 ? 1 + pick(10) : 8;
                const long thousandths = static_cast<long>(pick(2000000)) - 1000000;
                char number[32];
                std::snprintf(number, sizeof number, "%.3f", thousandths / 1000.0);
                value = number;
                if (value.size() > width) value = value.substr(value.size() - width);
                if (value.empty() || value == "-") value = "7";
            } else if (change == 2 && pick(3) == 0) {
                value = oddities[pick(12)];
            } else if (name == "_atom_site.extra_0") {
                value = std::string(1 + padding, 'w');
            } else {
                value = std::to_string(pick(1000));
            }
            rows += value;
            // Columns padded to their width, as archives write them.
            rows += std::string(1 + (value.size() < 8 ? 8 - value.size() : 0), ' ');
            if (change == 3 && column + 1 < names.size() && pick(6) == 0) rows += "\n";
            if (change == 4 && pick(12) == 0) rows += "\t";
        }
        rows += change == 5 ? "\r\n" : change == 6 ? "" : "\n";
    }
    return rows;
}

TEST(CifLoopLines, ArchiveStyleRowsAgreeInEveryBuild) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        std::vector<std::string> names;
        const std::string rows = archive_rows(random, names);
        const std::string want = fast_steps(record_scan::read_loop_lines_portable, names, rows);
        for (record_scan::Kernel kernel : wider_kernels())
            ASSERT_EQ(fast_steps(record_scan::loop_lines_reader(kernel), names, rows), want)
                << "seed " << seed << ", kernel " << record_scan::kernel_name(kernel);
        if (seed % 10 == 0) {
            std::string text = "data_t\nloop_\n";
            for (const std::string& name : names) text += name + "\n";
            expect_reference_answer("archive-style rows " + std::to_string(seed), text + rows, seed);
        }
    }
}

// Runs of rows of one layout, each run as long as a random count, some as
// short as one row (so that the layout is tried ever more rarely and then
// again), the layouts differing by a column's width, by the line's length
// or by a row split over two lines: every build as the portable one.
TEST(CifLoopLines, RowsOfChangingLayoutsAgreeInEveryBuild) {
    const std::vector<std::string> names = {"_atom_site.group_PDB", "_atom_site.id", "_atom_site.Cartn_x",
                                            "_atom_site.Cartn_y", "_atom_site.Cartn_z", "_atom_site.label"};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](unsigned below) { return static_cast<unsigned>(random() % below); };
        std::string rows;
        for (unsigned run = 0; run < 60; ++run) {
            const unsigned id_width = 1 + pick(9), label_width = 1 + pick(60), length = pick(3) == 0 ? 1 : pick(300);
            for (unsigned row = 0; row < length; ++row) {
                char line[200];
                const auto coordinate = [&] { return (static_cast<long>(pick(2000000)) - 1000000) / 1000.0; };
                std::snprintf(line, sizeof line, "%-6s %-*u %-8.3f %-8.3f %-8.3f %-*s\n", pick(8) ? "ATOM" : "HETATM",
                              static_cast<int>(id_width), row % 10, coordinate(), coordinate(), coordinate(),
                              static_cast<int>(label_width), std::string(1 + pick(label_width), 'L').c_str());
                rows += line;
                if (pick(500) == 0) rows.back() = ' ', rows += "\n";  // a blank before the line feed
            }
        }
        const std::string want = fast_steps(record_scan::read_loop_lines_portable, names, rows);
        for (record_scan::Kernel kernel : wider_kernels())
            ASSERT_EQ(fast_steps(record_scan::loop_lines_reader(kernel), names, rows), want)
                << "seed " << seed << ", kernel " << record_scan::kernel_name(kernel);
    }
}

}  // namespace

namespace {

// Every "%8.3f" magnitude with a step of 7 thousandths, of either sign, in
// the lines of 65 to 128 bytes the fast row readings take whole: every
// kernel reads each as strtof does, to the bit.
TEST(CifLoopLines, ThousandthsReadAsStrtof) {
    const std::string header = "data_t\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.label\n"
                               "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n";
    const std::string label(48, 'L');
    std::vector<std::string> words;
    for (long thousandths = 0; thousandths < 10000000; thousandths += 7) {
        char word[16];
        std::snprintf(word, sizeof word, "%s%ld.%03ld", thousandths % 2 ? "-" : "", thousandths / 1000,
                      thousandths % 1000);
        words.push_back(word);
    }
    while (words.size() % 3 != 0) words.push_back("0.000");
    std::string text = header;
    std::vector<float> want;
    for (std::size_t i = 0; i < words.size(); i += 3) {
        text += (i % 9 == 0 ? "HETATM " : "ATOM ") + std::to_string(i) + " " + label;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            text += " " + words[i + axis];
            want.push_back(std::strtof(words[i + axis].c_str(), nullptr));
        }
        text += "\n";
    }
    for (record_scan::Kernel kernel : record_scan::available_kernels()) {
        MemorySource source(text);
        record_scan::RecordScanner scanner(source, record_scan::RecordScanner::default_block_bytes, kernel);
        record_scan::AtomXyz atom;
        std::size_t at = 0;
        ScanOutcome outcome;
        while ((outcome = scanner.next_record(atom)) == ScanOutcome::record) {
            ASSERT_LT(at + 2, want.size());
            const float got[3] = {atom.x, atom.y, atom.z};
            ASSERT_EQ(std::memcmp(got, &want[at], sizeof got), 0)
                << words[at] << " " << words[at + 1] << " " << words[at + 2] << ", kernel "
                << record_scan::kernel_name(kernel);
            at += 3;
        }
        EXPECT_EQ(outcome, ScanOutcome::end_of_input);
        EXPECT_EQ(at, want.size()) << record_scan::kernel_name(kernel);
    }
}

}  // namespace
