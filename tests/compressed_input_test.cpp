// gzip input must read exactly as the text it holds, however it was made
// and however it arrives; damaged or foreign compressed input must fail as
// unreadable and never pass for a file without atoms.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gzip_writer.hpp"
#include "memory_source.hpp"
#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

using record_scan::ScanOutcome;

std::string describe(const record_scan::AtomXyz& atom) {
    char text[96];
    std::snprintf(text, sizeof text, "%a %a %a\n", atom.x, atom.y, atom.z);
    return text;
}

std::string scan_all(MemorySource& source, std::size_t block_bytes) {
    record_scan::RecordScanner scanner(source, block_bytes);
    record_scan::AtomXyz atom;
    std::string text;
    ScanOutcome outcome;
    while ((outcome = scanner.next_record(atom)) == ScanOutcome::record) text += describe(atom);
    return text + std::to_string(static_cast<int>(outcome));
}

std::string plain_answer(const std::string& text) {
    reference::Reading reading = reference::read_bytes(text);
    std::string answer;
    for (const auto& atom : reading.records) answer += describe(atom);
    return answer + std::to_string(static_cast<int>(reading.end));
}

std::string record_line(std::mt19937& random) {
    char line[96];
    auto coordinate = [&] { return (static_cast<int>(random() % 2000000) - 1000000) / 1000.0; };
    std::snprintf(line, sizeof line, "%-6s%5u  CA  ALA A   1    %8.3f%8.3f%8.3f  1.00 20.00           C\n",
                  random() % 4 ? "ATOM" : "HETATM", static_cast<unsigned>(random() % 99999),
                  coordinate(), coordinate(), coordinate());
    return line;
}

// A structure of `lines` records with remarks, long lines and TER cards.
std::string structure(std::size_t lines, unsigned seed) {
    std::mt19937 random(seed);
    std::string text = "HEADER    MADE FOR THE TESTS\n";
    for (std::size_t i = 0; i < lines; ++i) {
        text += record_line(random);
        if (random() % 50 == 0) text += "REMARK " + std::string(random() % 300, 'r') + "\n";
        if (random() % 80 == 0) text += "TER\n";
    }
    return text + "END\n";
}

// The text cut into members at random places, with empty members between.
std::string members(const std::string& text, int level, int count, std::mt19937& random) {
    std::vector<std::size_t> cuts{0, text.size()};
    for (int i = 1; i < count; ++i) cuts.push_back(random() % (text.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::string out;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        out += gzip_writer::member(text.substr(cuts[i], cuts[i + 1] - cuts[i]), level);
        if (random() % 3 == 0) out += gzip_writer::member("", level);
    }
    return out;
}

TEST(CompressedInput, GzipReadsAsItsText) {
    const std::string small = structure(40, 1);
    const std::string large = structure(30000, 2);  // several blocks of text
    const std::string incomplete = small + "ATOM      9  CA  ALA A   1       1.000   2.000\n" + small;
    std::mt19937 random(3);
    struct Case {
        const char* name;
        const std::string* text;
        int level;
        int member_count;
    };
    const Case cases[] = {
        {"level 1", &large, 1, 1},          {"level 9", &large, 9, 1},
        {"stored", &small, 0, 1},           {"several members", &large, 6, 5},
        {"many small members", &small, 6, 30}, {"incomplete record", &incomplete, 6, 3},
    };
    for (const Case& c : cases) {
        const std::string want = plain_answer(*c.text);
        const std::string compressed = members(*c.text, c.level, c.member_count, random);
        MemorySource whole(compressed);
        EXPECT_EQ(scan_all(whole, record_scan::RecordScanner::default_block_bytes), want) << c.name;
        MemorySource pieces(compressed, [&] { return 1 + random() % 5000; });
        EXPECT_EQ(scan_all(pieces, 1 + random() % 1000), want) << c.name << ", in pieces";
    }
    MemorySource empty_members(gzip_writer::member("") + gzip_writer::member(""));
    EXPECT_EQ(scan_all(empty_members, 4096), plain_answer(""));
}

TEST(CompressedInput, DamageIsAReadErrorWhereverItLies) {
    const std::string text = structure(3000, 4);
    const std::string incomplete = text + "ATOM      9  CA  ALA A   1       1.000   2.000\n";
    const std::string read_error = std::to_string(static_cast<int>(ScanOutcome::read_error));
    std::mt19937 random(5);
    for (const std::string* original : {&text, &incomplete}) {
        const std::string compressed = gzip_writer::member(*original);
        std::vector<std::string> damaged;
        for (int tenth = 1; tenth < 10; ++tenth)
            damaged.push_back(compressed.substr(0, compressed.size() * tenth / 10));
        damaged.push_back(compressed.substr(0, compressed.size() - 1));
        for (int flip = 0; flip < 40; ++flip) {
            // Anywhere from the deflate data through the trailer; the header's
            // time stamp and flags bytes are unchecked by design.
            std::string bad = compressed;
            bad[gzip_writer::header_bytes + random() % (bad.size() - gzip_writer::header_bytes)] ^= '\xFF';
            damaged.push_back(bad);
        }
        damaged.push_back(compressed + std::string(4, '\0'));  // padding after the last member
        damaged.push_back(compressed + "garbage");                // bytes that begin no member
        damaged.push_back(compressed + "\x1F\x8B");               // a member cut short
        damaged.push_back("\x1F\x8B\x09" + compressed.substr(3));  // not deflate
        for (const std::string& bad : damaged) {
            MemorySource source(bad, [&] { return 1 + random() % 70000; });
            std::string got = scan_all(source, record_scan::RecordScanner::default_block_bytes);
            EXPECT_EQ(got.substr(got.size() - read_error.size()), read_error) << bad.size();
        }
    }
}

TEST(CompressedInput, HeaderFieldsAreCheckedAsTheFormatSays) {
    const std::string text = structure(200, 8);
    const std::string want = plain_answer(text);
    const std::string read_error = std::to_string(static_cast<int>(ScanOutcome::read_error));
    char name[] = "in.pdb", comment[] = "made for the tests";
    unsigned char extra[] = "BC\x02\x00\x10\x00";
    gz_header fields{};
    fields.name = reinterpret_cast<Bytef*>(name);
    fields.comment = reinterpret_cast<Bytef*>(comment);
    fields.extra = extra;
    fields.extra_len = 6;
    fields.hcrc = 1;
    fields.time = 1234567;
    const std::string full = gzip_writer::member(text, 6, &fields);
    const std::size_t header_crc = full.find(comment) + sizeof comment;  // after its zero byte
    auto changed = [](std::string bytes, std::size_t at, char mask) {
        bytes[at] = static_cast<char>(bytes[at] ^ mask);
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::string outcome;
    };
    const Case cases[] = {
        {"name, comment, extra field and header CRC", full, want},
        {"time stamp changed", changed(gzip_writer::member(text), 5, 0x55), want},
        {"operating system changed", changed(gzip_writer::member(text), 9, 0x11), want},
        {"reserved flag", changed(gzip_writer::member(text), 3, 0x20), read_error},
        {"reserved flag beside others", changed(full, 3, '\x80'), read_error},
        {"header CRC wrong", changed(full, header_crc, 0x01), read_error},
        {"not deflate", changed(gzip_writer::member(text), 2, 0x01), read_error},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
            MemorySource source(c.bytes, [piece] { return piece; });
            std::string got = scan_all(source, 4096);
            if (c.outcome == read_error) got = got.substr(got.size() - read_error.size());
            EXPECT_EQ(got, c.outcome) << c.name << ", pieces of " << piece;
        }
    }
}

TEST(CompressedInput, ToolsAnswerAsForThePlainFile) {
    ScratchDir dir;
    const std::string text = structure(5000, 6);
    const std::string plain = dir.write("in.pdb", text);
    const std::string gz = dir.write("in.pdb.gz", gzip_writer::member(text, 9));
    const std::string csv = dir.path() + "/rows.csv";

    ProgramRun want_box = run_program(BOXREACH_PATH, {plain, "1", "-2", "3.5"});
    ASSERT_EQ(want_box.status, 1);
    for (const auto& [path, stdin_path] : {std::pair{gz, std::string("/dev/null")},
                                           std::pair{std::string("/dev/stdin"), gz}}) {
        ProgramRun box = run_program(BOXREACH_PATH, {path, "1", "-2", "3.5"}, stdin_path);
        EXPECT_EQ(box.out, want_box.out) << path;
        EXPECT_EQ(box.status, 1) << path;
        ProgramRun dump = run_program(XYZDUMP_PATH, {path, csv}, stdin_path);
        EXPECT_EQ(dump.status, 1) << path;
        EXPECT_EQ(read_file(csv), reference::xyzdump_rows(reference::read_bytes(text))) << path;
    }
}

TEST(CompressedInput, ToolsRefuseDamagedAndForeignCompression) {
    ScratchDir dir;
    const std::string text = structure(20000, 7);
    const std::string compressed = gzip_writer::member(text);
    std::string flipped = compressed;
    flipped[compressed.size() - 6] ^= '\xFF';  // the CRC
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"cut short", compressed.substr(0, compressed.size() / 2)},
        {"wrong checksum", flipped},
        {"bzip2", "BZh91AY&SY" + text},
        {"xz", std::string("\xFD" "7zXZ\0", 6) + text},
        {"zstd", "\x28\xB5\x2F\xFD" + text},
        {"zip", "PK\x03\x04" + text},
    };
    const std::string all_rows = reference::xyzdump_rows(reference::read_bytes(text));
    for (const Case& c : cases) {
        const std::string input = dir.write("in", c.bytes);
        ProgramRun box = run_program(BOXREACH_PATH, {input, "0", "0", "0"});
        EXPECT_EQ(box.out, "PDB file can not be read .\n") << c.name;
        EXPECT_EQ(box.status, 2) << c.name;
        const std::string csv = dir.path() + "/rows.csv";
        ProgramRun dump = run_program(XYZDUMP_PATH, {input, csv});
        EXPECT_EQ(dump.out, "PQR file can not be read .\n") << c.name;
        EXPECT_EQ(dump.status, 2) << c.name;
        const std::string rows = read_file(csv);
        EXPECT_EQ(all_rows.compare(0, rows.size(), rows), 0) << c.name << ": rows kept are a prefix";
    }
}

}  // namespace
