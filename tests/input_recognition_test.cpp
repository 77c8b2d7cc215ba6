// How an input is told apart at its start: compression signatures, a
// byte-order mark, and mmCIF by its first line of substance. What is passed
// over must never change the PDB-layout reading of any other text.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "input/input_recognition.hpp"
#include "memory_source.hpp"
#include "reference_reading.hpp"

namespace {

using namespace std::string_literals;
using record_scan::Compression;
using record_scan::TextLayout;

TEST(InputRecognition, CompressionBySignature) {
    struct Case {
        std::string start;
        Compression expected;
    };
    const Case cases[] = {
        {"\x1F\x8B\x08\x00", Compression::gzip},
        {"\x1F\x8B", Compression::gzip},
        {"\x1F", Compression::none},
        {"BZh9", Compression::bzip2},
        {"BZh1", Compression::bzip2},
        {"BZh0", Compression::none},
        {"BZh", Compression::none},
        {"\xFD" "7zXZ\0"s, Compression::xz},
        {"\xFD" "7zXZ", Compression::none},
        {"\x28\xB5\x2F\xFD", Compression::zstd},
        {"\x28\xB5\x2F", Compression::none},
        {"\x50\x2A\x4D\x18", Compression::zstd},  // skippable frames, first and last magic
        {"\x5F\x2A\x4D\x18", Compression::zstd},
        {"\x60\x2A\x4D\x18", Compression::none},
        {"\x50\x2A\x4D", Compression::none},
        {"PK\x03\x04", Compression::unsupported},
        {"PK\x05\x06", Compression::none},
        {"ATOM  ", Compression::none},
        {"", Compression::none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(record_scan::recognise_compression(c.start), c.expected) << c.start;
}

struct Recognised {
    TextLayout layout;
    bool inside_line;
    std::string rest;  // what the reader proper is handed
};

Recognised recognise(const std::string& text, std::size_t piece) {
    MemorySource source(text, [piece] { return piece; });
    record_scan::PeekableSource peekable(source);
    record_scan::TextStart start = record_scan::recognise_text(peekable);
    std::string rest;
    char block[4096];
    for (std::size_t got; (got = peekable.read(block, sizeof block).bytes) > 0;) rest.append(block, got);
    return {start.layout, start.inside_line, rest};
}

TEST(InputRecognition, TextLayoutByTheFirstLineOfSubstance) {
    const std::string atom = "ATOM      1  N   GLY A   1       0.215  -0.838   0.302\n";
    const std::string long_comment = "#" + std::string(200000, 'c') + "\n";
    const std::string long_blank = std::string(70000, ' ') + "\t\r\n";
    struct Case {
        const char* name;
        std::string text;
        Recognised expected;
    };
    const Case cases[] = {
        {"plain record", atom, {TextLayout::pdb_columns, false, atom}},
        {"byte-order mark dropped", "\xEF\xBB\xBF" + atom, {TextLayout::pdb_columns, false, atom}},
        {"only the first mark", "\xEF\xBB\xBF\xEF\xBB\xBF" + atom,
         {TextLayout::pdb_columns, false, "\xEF\xBB\xBF" + atom}},
        {"blank and comment lines passed", "\n  \t\r\n# x\n   # y\n" + atom,
         {TextLayout::pdb_columns, false, atom}},
        {"a long comment and a long blank line", long_comment + long_blank + atom,
         {TextLayout::pdb_columns, false, atom}},
        {"first line begins with blanks", "   HEADER\n" + atom,
         {TextLayout::pdb_columns, true, "   HEADER\n" + atom}},
        {"mmCIF", "data_1ABC\nloop_\n", {TextLayout::mmcif, false, "data_1ABC\nloop_\n"}},
        {"mmCIF in capitals after blanks", " \tDATA_x\n", {TextLayout::mmcif, false, "DATA_x\n"}},
        {"mmCIF after comments, a mark and crlf", "\xEF\xBB\xBF# made by hand\r\n\r\ndata_x\r\n",
         {TextLayout::mmcif, false, "data_x\r\n"}},
        {"mmCIF after a long blank line", long_blank + "data_x\n", {TextLayout::mmcif, false, "data_x\n"}},
        {"data_ later on is no mmCIF", "HEADER\ndata_x\n", {TextLayout::pdb_columns, false, "HEADER\ndata_x\n"}},
        {"data_ after a carriage return is no mmCIF", "\r data_x\n",
         {TextLayout::pdb_columns, true, "\r data_x\n"}},
        {"data without its underscore", "data x\n", {TextLayout::pdb_columns, false, "data x\n"}},
        {"empty", "", {TextLayout::pdb_columns, false, ""}},
        {"only white space", "  \n\t", {TextLayout::pdb_columns, false, "\t"}},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
            Recognised got = recognise(c.text, piece);
            EXPECT_EQ(got.layout, c.expected.layout) << c.name << ", pieces of " << piece;
            EXPECT_EQ(got.inside_line, c.expected.inside_line) << c.name << ", pieces of " << piece;
            EXPECT_EQ(got.rest, c.expected.rest) << c.name << ", pieces of " << piece;
        }
    }
}

// Blank runs that end on either side of one look's edge, where the keyword
// is cut: judged as if the whole line were in view.
TEST(InputRecognition, KeywordAcrossTheEdgeOfALook) {
    const std::size_t look = record_scan::PeekableSource::look_bytes;
    for (std::size_t blanks = look - 8; blanks <= look + 8; ++blanks) {
        const std::string lead(blanks, ' ');
        for (std::size_t piece : {std::size_t{1}, std::size_t{1000}, std::size_t{1} << 20}) {
            Recognised cif = recognise(lead + "data_x\n", piece);
            EXPECT_EQ(cif.layout, TextLayout::mmcif) << blanks << " blanks, pieces of " << piece;
            EXPECT_EQ(cif.rest, "data_x\n") << blanks << " blanks, pieces of " << piece;
            Recognised pdb = recognise(lead + "datax\n", piece);
            EXPECT_EQ(pdb.layout, TextLayout::pdb_columns) << blanks << " blanks, pieces of " << piece;
            EXPECT_TRUE(pdb.inside_line) << blanks << " blanks, pieces of " << piece;
        }
    }
}

// Lines that the recogniser passes over or looks into, then records: the
// scanner must read them exactly as the plain chunk reading does.
std::string leading_lines(std::mt19937& random) {
    const std::string pieces[] = {"\n", " \n", "\t\t\n", "# c\n", "  #ATOM x\n", "\r\n",
                                  " ATOM      1                   1.0 2.0 3.0\n",
                                  std::string(150, ' ') + "ATOM" + std::string(40, ' ') + "1 2 3\n",
                                  "#" + std::string(120, 'x') + "HETATM                        4 5 6\n"};
    std::string text;
    for (int i = random() % 5; i > 0; --i) text += pieces[random() % std::size(pieces)];
    return text;
}

TEST(InputRecognition, PassingOverLinesNeverChangesThePdbReading) {
    const std::string records =
        "ATOM      1  N   GLY A   1       0.215  -0.838   0.302  1.00  6.81           N\n"
        "HETATM    2  O   HOH A   2      -1.000   2.500   1e2\n"
        "ATOM      3  C   GLY A   1    1 2\n";
    std::mt19937 random(8);
    for (int round = 0; round < 400; ++round) {
        const std::string text = leading_lines(random) + records.substr(0, random() % records.size());
        const reference::Reading want = reference::read_bytes(text);
        std::string expected;
        for (const auto& atom : want.records) expected += std::to_string(atom.x) + " ";
        expected += std::to_string(static_cast<int>(want.end));

        MemorySource source(text, [&] { return 1 + random() % 64; });
        record_scan::RecordScanner scanner(source, 1 + random() % 200);
        record_scan::AtomXyz atom;
        std::string got;
        record_scan::ScanOutcome outcome;
        while ((outcome = scanner.next_record(atom)) == record_scan::ScanOutcome::record)
            got += std::to_string(atom.x) + " ";
        got += std::to_string(static_cast<int>(outcome));
        ASSERT_EQ(got, expected) << text;
    }
}

}  // namespace
