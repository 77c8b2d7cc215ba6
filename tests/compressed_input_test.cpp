// Compressed input (gzip, bzip2, xz, zstd) must read exactly as the text it
// holds, however it was made and however it arrives; damaged compressed
// input, or zip, must fail as unreadable and never pass for a file without
// atoms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <random>
#include <string>
#include <vector>

#include "compression_writers.hpp"
#include "input/bzip2_block_magic.hpp"
#include "input/decompressing_source.hpp"
#include "memory_source.hpp"
#include "reference_reading.hpp"
#include "run_program.hpp"

namespace {

using compression_writer::Format;
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

// The text cut into streams (gzip members) at random places, with empty
// streams between.
std::string streams(Format format, const std::string& text, int count, std::mt19937& random,
                    bool fast = false) {
    std::vector<std::size_t> cuts{0, text.size()};
    for (int i = 1; i < count; ++i) cuts.push_back(random() % (text.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    std::string out;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        out += compression_writer::stream(format, text.substr(cuts[i], cuts[i + 1] - cuts[i]), fast);
        if (random() % 3 == 0) out += compression_writer::stream(format, "", fast);
    }
    return out;
}

// The forms each format's writers give beyond plain streams.
struct Form {
    const char* name;
    const std::string* text;
    std::string bytes;
};

std::vector<Form> forms_of(Format format, const std::string& small, const std::string& large) {
    using namespace compression_writer;
    const std::string half = large.substr(0, large.size() / 2), rest = large.substr(large.size() / 2);
    const std::string four_zeros(4, '\0');
    switch (format) {
        case Format::gzip: return {{"stored", &small, gzip_writer::member(small, 0)}};
        case Format::bzip2:
            return {{"blocks of 100 kB", &large, bzip2_stream(large, 1)},
                    {"level 9 then level 1", &large, bzip2_stream(half, 9) + bzip2_stream(rest, 1)}};
        case Format::xz:
            return {{"check none", &small, xz_stream(small, 1, LZMA_CHECK_NONE)},
                    {"check CRC32", &small, xz_stream(small, 1, LZMA_CHECK_CRC32)},
                    {"check SHA-256", &large, xz_stream(large, 1, LZMA_CHECK_SHA256)},
                    {"blocks of 64 kB", &large, xz_blocks(large, 1 << 16)},
                    {"padding between and after streams", &large,
                     xz_stream(half) + four_zeros + xz_stream(rest, 0, LZMA_CHECK_CRC32) + four_zeros + four_zeros}};
        case Format::zstd:
            return {{"no checksum, no content size", &large, zstd_frame(large, 3, false, false)},
                    {"level 19", &small, zstd_frame(small, 19)},
                    {"skippable frames first, between and last", &large,
                     zstd_skippable("made by hand") + zstd_frame(half) + zstd_skippable("", 15) +
                         zstd_skippable(std::string(70000, 's'), 7) + zstd_frame(rest, 1, false) +
                         zstd_skippable("end")}};
    }
    return {};
}

TEST(CompressedInput, EveryFormatReadsAsItsText) {
    const std::string small = structure(40, 1);
    const std::string large = structure(10000, 2);  // several blocks of text and of bzip2 -1
    const std::string incomplete = small + "ATOM      9  CA  ALA A   1       1.000   2.000\n" + small;
    std::mt19937 random(3);
    for (Format format : compression_writer::formats) {
        struct Case {
            std::string name;
            const std::string* text;
            std::string bytes;
        };
        std::vector<Case> cases{
            {"fast", &large, streams(format, large, 1, random, true)},
            {"default", &large, streams(format, large, 1, random)},
            {"several streams", &large, streams(format, large, 5, random)},
            {"many small streams", &small, streams(format, small, 30, random, true)},
            {"incomplete record", &incomplete, streams(format, incomplete, 3, random)},
            {"empty streams", &small, streams(format, "", 1, random) + streams(format, small, 1, random)},
        };
        for (Form& form : forms_of(format, small, large)) cases.push_back({form.name, form.text, form.bytes});
        for (const Case& c : cases) {
            const std::string what = std::string(compression_writer::name(format)) + ", " + c.name;
            const std::string want = plain_answer(*c.text);
            MemorySource whole(c.bytes);
            EXPECT_EQ(scan_all(whole, record_scan::RecordScanner::default_block_bytes), want) << what;
            MemorySource pieces(c.bytes, [&] { return 1 + random() % 5000; });
            EXPECT_EQ(scan_all(pieces, 1 + random() % 1000), want) << what << ", in pieces";
        }
    }
    MemorySource empty_members(gzip_writer::member("") + gzip_writer::member(""));
    EXPECT_EQ(scan_all(empty_members, 4096), plain_answer(""));
}

// An input of units a check covers, and where the text of each ends.
struct Units {
    std::string name;
    std::string text;
    std::string bytes;
    std::vector<std::uint64_t> ends;
    std::unique_ptr<record_scan::Decoder> (*decoder)();
};

// Two streams, each cut into units by `unit`: the text's first part, then
// the rest; a unit's extents as it tells them.
template <typename Cut>
Units two_streams(std::string name, const std::string& text, std::size_t first_part, Cut unit,
                  std::unique_ptr<record_scan::Decoder> (*decoder)(), const std::string& between = "") {
    Units units{std::move(name), text, "", {}, decoder};
    for (const std::string& part : {text.substr(0, first_part), text.substr(first_part)}) {
        const std::uint64_t before = units.ends.empty() ? 0 : units.ends.back();
        const compression_writer::Blocks blocks = unit(part);
        if (!units.bytes.empty()) units.bytes += between;
        units.bytes += blocks.bytes;
        for (std::size_t i = 1; i < blocks.extents.size(); ++i)
            units.ends.push_back(before + blocks.extents[i].first_text_byte);
    }
    return units;
}

// The decompressing source moves its checked point to the end of every xz
// or bzip2 block (and stream) and nowhere else, and a read never spans two
// units, however the input arrives and however much each read asks.
TEST(CompressedInput, ChecksPassAtTheEndOfEveryUnit) {
    using namespace compression_writer;
    const std::string text = structure(4000, 13);
    const std::size_t first_part = text.size() / 3 + 11;
    const std::vector<Units> cases{
        two_streams("bzip2 blocks of 50 kB", text, first_part, [](const std::string& t) { return bzip2_blocks(t, 50000); },
                    record_scan::make_bzip2_decoder),
        two_streams("bzip2 blocks of 7 kB", text, first_part, [](const std::string& t) { return bzip2_blocks(t, 7001); },
                    record_scan::make_bzip2_decoder),
        two_streams("xz blocks of 40 kB", text, first_part,
                    [](const std::string& t) { return xz_blocks_with_extents(t, 40000); }, record_scan::make_xz_decoder),
        two_streams("xz blocks of 4 kB, padding between", text, first_part,
                    [](const std::string& t) { return xz_blocks_with_extents(t, 4096); }, record_scan::make_xz_decoder,
                    std::string(8, '\0')),
        // Where a block's text is one byte, the call that finishes its data
        // would finish its CRC too: only the search for the next block's
        // magic number keeps the next block from that call.
        two_streams("bzip2 blocks of 1 byte", text.substr(0, 300), 100,
                    [](const std::string& t) { return bzip2_blocks(t, 1); }, record_scan::make_bzip2_decoder),
    };
    std::mt19937 random(14);
    const std::size_t pieces[] = {1, 2, 5, 64, 4099, 1 << 20};
    const std::size_t reads[] = {1, 100, 65536, 1 << 20};
    for (const Units& c : cases) {
        ASSERT_GT(c.ends.size(), 4u) << c.name;
        for (std::size_t piece : pieces) {
            for (std::size_t read : reads) {
                if (piece * read < 1000) continue;  // slow, and no other path
                const std::string what = c.name + ", pieces of " + std::to_string(piece) + ", reads of " +
                                         std::to_string(read);
                MemorySource compressed(c.bytes, [&] { return 1 + random() % piece; });
                record_scan::DecompressingSource source(compressed, c.decoder());
                std::string got(c.text.size() + 1, '\0');
                std::size_t done = 0;
                record_scan::ByteSource::Block block;
                do {
                    block = source.read(got.data() + done, std::min(read, got.size() - done));
                    const std::uint64_t after = done + block.bytes;
                    for (std::uint64_t end : c.ends)
                        ASSERT_FALSE(done < end && end < after) << what << ": a read spans the end at " << end;
                    ASSERT_EQ(source.handed_out_bytes(), after) << what;
                    // Checked up to a unit's end, no further than the read's
                    // end, and at least as far as its start: a check that
                    // needs no more bytes may pass in the next read.
                    const std::uint64_t checked = source.checked_bytes();
                    const auto due = std::upper_bound(c.ends.begin(), c.ends.end(), done);
                    ASSERT_TRUE(checked == 0 || std::binary_search(c.ends.begin(), c.ends.end(), checked))
                        << what << ": checked up to " << checked << ", where no unit ends";
                    ASSERT_LE(checked, after) << what;
                    if (due != c.ends.begin()) {
                        ASSERT_GE(checked, *std::prev(due)) << what << ", read from " << done;
                    }
                    done = after;
                } while (block.bytes > 0);
                ASSERT_FALSE(block.failed) << what;
                got.resize(done);
                EXPECT_EQ(got, c.text) << what;
                EXPECT_EQ(source.checked_bytes(), c.text.size()) << what;
            }
        }
    }
}

// The search for bzip2's block magic number finds what a bit-by-bit search
// finds (the first byte holding a whole magic number's first bit), in
// random bytes with numbers planted at any bit offset, close together,
// across the ends of the bytes searched.
TEST(CompressedInput, Bzip2BlockMagicIsFoundAsBitByBit) {
    constexpr std::uint64_t magic = 0x314159265359, mask = (std::uint64_t{1} << 48) - 1;
    auto bit_by_bit = [&](const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count) {
        std::uint64_t window = 0;
        for (std::size_t bit = 8 * from; bit < 8 * (from + count); ++bit) {
            window = (window << 1 | (bytes[bit / 8] >> (7 - bit % 8) & 1)) & mask;
            if (bit + 1 >= 8 * from + 48 && window == magic) return (bit + 1 - 48) / 8 - from;
        }
        return count;
    };
    std::mt19937 random(15);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(200);
        for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
        for (unsigned planted = random() % 5; planted > 0; --planted) {
            const std::size_t first_bit = random() % (8 * bytes.size() - 47);
            for (std::size_t i = 0; i < 48; ++i) {
                const std::size_t bit = first_bit + i;
                const auto mark = static_cast<std::uint8_t>(0x80 >> (bit % 8));
                if (magic >> (47 - i) & 1) bytes[bit / 8] |= mark;
                else bytes[bit / 8] &= static_cast<std::uint8_t>(~mark);
            }
        }
        for (int search = 0; search < 20; ++search) {
            const std::size_t from = random() % bytes.size();
            const std::size_t count = random() % (bytes.size() - from + 1);
            ASSERT_EQ(record_scan::bzip2_block::first_magic(bytes.data() + from, count), bit_by_bit(bytes, from, count))
                << "round " << round << ", from " << from << ", " << count << " bytes";
        }
    }
}

// A stream of one format and where its damage must show: any byte after
// its first `unchecked` (a signature, or header fields no check covers) and
// each of its last `check` bytes (checksums, index and end marks), and
// bytes after it that begin no stream.
struct Damageable {
    const char* name;
    std::string (*stream)(const std::string& text);
    std::size_t unchecked;
    std::size_t check;
    std::vector<std::string> trailers;
};

// An xz stream whose check is of a kind that no decoder knows (ID 2, four
// bytes like CRC32's), its header and footer CRCs made right again.
std::string xz_unknown_check(const std::string& text) {
    std::string bytes = compression_writer::xz_stream(text, 1, LZMA_CHECK_CRC32);
    auto set_crc = [&bytes](std::size_t at, std::size_t from, std::size_t count) {
        std::uint32_t crc = lzma_crc32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + from, count, 0);
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(crc >> (8 * i));
    };
    bytes[7] = bytes[bytes.size() - 3] = '\x02';
    set_crc(8, 6, 2);                                   // the header's flags
    set_crc(bytes.size() - 12, bytes.size() - 8, 6);    // the footer's size and flags
    return bytes;
}

TEST(CompressedInput, DamageIsAReadErrorWhereverItLies) {
    using namespace compression_writer;
    const std::string text = structure(3000, 4);
    const std::string incomplete = text + "ATOM      9  CA  ALA A   1       1.000   2.000\n";
    const std::string read_error = std::to_string(static_cast<int>(ScanOutcome::read_error));
    const std::string zeros(4, '\0');
    const Damageable formats[] = {
        {"gzip", [](const std::string& t) { return gzip_writer::member(t); }, gzip_writer::header_bytes, 8,
         {zeros, "garbage", "\x1F\x8B"}},
        {"bzip2", [](const std::string& t) { return bzip2_stream(t); }, 4, 10, {zeros, "garbage", "BZh9", "BZh91AY&SY"}},
        {"xz CRC64", [](const std::string& t) { return xz_stream(t); }, 6, 48,
         {zeros.substr(1), zeros + "garbage", "\xFD" "7zXZ"}},
        {"xz CRC32", [](const std::string& t) { return xz_stream(t, 0, LZMA_CHECK_CRC32); }, 6, 40, {"garbage"}},
        {"xz SHA-256", [](const std::string& t) { return xz_stream(t, 0, LZMA_CHECK_SHA256); }, 6, 72, {"garbage"}},
        // The frame header's window size is checked by nothing; a larger
        // window still decodes the frame.
        {"zstd", [](const std::string& t) { return zstd_frame(t); }, 18, 8,
         {zeros.substr(1), "garbage", "\x28\xB5\x2F\xFD", zstd_skippable("cut short").substr(0, 12)}},
    };
    std::mt19937 random(5);
    int caught = 0, ignored = 0;
    for (const Damageable& format : formats) {
        for (const std::string* original : {&text, &incomplete}) {
            const std::string compressed = format.stream(*original);
            std::vector<std::string> damaged;
            for (int tenth = 1; tenth < 10; ++tenth)
                damaged.push_back(compressed.substr(0, compressed.size() * tenth / 10));
            damaged.push_back(compressed.substr(0, compressed.size() - 1));
            auto flipped = [&](std::size_t at) {
                std::string bad = compressed;
                bad[at] ^= '\xFF';
                return bad;
            };
            for (int flip = 0; flip < 40; ++flip)
                damaged.push_back(flipped(format.unchecked + random() % (compressed.size() - format.unchecked)));
            for (std::size_t back = 1; back <= format.check; ++back) damaged.push_back(flipped(compressed.size() - back));
            for (const std::string& trailer : format.trailers) damaged.push_back(compressed + trailer);
            if (format.name == std::string("xz CRC32")) damaged.push_back(xz_unknown_check(*original));
            for (const std::string& bad : damaged) {
                MemorySource source(bad, [&] { return 1 + random() % 70000; });
                std::string got = scan_all(source, record_scan::RecordScanner::default_block_bytes);
                // A few bits no check covers (bzip2's unused selectors, say)
                // may flip into a stream that its own library takes whole
                // for the same text: no damage, and read as such.
                const reference::Decompression decode = reference::decompression_of(bad);
                if (decode != nullptr && decode(bad) == *original) {
                    EXPECT_EQ(got, plain_answer(*original)) << format.name << ", a flip the format ignores";
                    ++ignored;
                    continue;
                }
                ++caught;
                EXPECT_EQ(got.substr(got.size() - read_error.size()), read_error) << format.name << ", " << bad.size();
            }
        }
    }
    // The rule above excuses a rare flip, never the table's bulk.
    EXPECT_LT(ignored * 50, caught) << ignored << " flips ignored, " << caught << " caught";
    // Not deflate: the header's method byte.
    MemorySource not_deflate("\x1F\x8B\x09" + gzip_writer::member(text).substr(3));
    std::string got = scan_all(not_deflate, 4096);
    EXPECT_EQ(got.substr(got.size() - read_error.size()), read_error);
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
    const std::string csv = dir.path() + "/rows.csv";

    ProgramRun want_box = run_program(BOXREACH_PATH, {plain, "1", "-2", "3.5"});
    ASSERT_EQ(want_box.status, 1);
    std::mt19937 random(9);
    for (Format format : compression_writer::formats) {
        const std::string compressed = dir.write("in.pdb.z", streams(format, text, 2, random));
        for (const auto& [path, stdin_path] : {std::pair{compressed, std::string("/dev/null")},
                                               std::pair{std::string("/dev/stdin"), compressed}}) {
            const std::string what = std::string(compression_writer::name(format)) + " " + path;
            ProgramRun box = run_program(BOXREACH_PATH, {path, "1", "-2", "3.5"}, stdin_path);
            EXPECT_EQ(box.out, want_box.out) << what;
            EXPECT_EQ(box.status, 1) << what;
            ProgramRun dump = run_program(XYZDUMP_PATH, {path, csv}, stdin_path);
            EXPECT_EQ(dump.status, 1) << what;
            EXPECT_EQ(read_file(csv), reference::xyzdump_rows(reference::read_bytes(text))) << what;
        }
    }
}

TEST(CompressedInput, ToolsRefuseDamagedAndForeignCompression) {
    ScratchDir dir;
    const std::string text = structure(20000, 7);
    struct Case {
        std::string name;
        std::string bytes;
    };
    std::vector<Case> cases{
        {"not bzip2", "BZh91AY&SY" + text},
        {"not xz", std::string("\xFD" "7zXZ\0", 6) + text},
        {"not zstd", "\x28\xB5\x2F\xFD" + text},
        {"zip", "PK\x03\x04" + text},
    };
    for (Format format : compression_writer::formats) {
        const std::string compressed = compression_writer::stream(format, text);
        std::string flipped = compressed;
        flipped[compressed.size() - 6] ^= '\xFF';  // in the checksum or the end marks
        cases.push_back({std::string(compression_writer::name(format)) + " cut short",
                         compressed.substr(0, compressed.size() / 2)});
        cases.push_back({std::string(compression_writer::name(format)) + " wrong checksum", flipped});
    }
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

// A stream whose decoder must allocate far more than the text needs: an xz
// block whose header asks for a dictionary of 1.5 GiB, a zstd frame of
// unknown size whose window is 2 GiB. Both are well formed.
std::string xz_with_dictionary_of_1536_mib(const std::string& text) {
    std::string bytes = compression_writer::xz_stream(text, 0, LZMA_CHECK_CRC32);
    auto* header = reinterpret_cast<std::uint8_t*>(bytes.data()) + 12;  // after the stream header
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block{};
    block.check = LZMA_CHECK_CRC32;
    block.filters = filters;
    block.header_size = lzma_block_header_size_decode(header[0]);
    if (lzma_block_header_decode(&block, nullptr, header) != LZMA_OK) throw std::runtime_error("no block header");
    static_cast<lzma_options_lzma*>(filters[0].options)->dict_size = std::uint32_t{1536} << 20;
    const lzma_ret encoded = lzma_block_header_encode(&block, header);
    for (lzma_filter& filter : filters) {
        if (filter.id == LZMA_VLI_UNKNOWN) break;
        free(filter.options);
    }
    if (encoded != LZMA_OK) throw std::runtime_error("block header not written");
    return bytes;
}

std::string zstd_with_window_of_2_gib(const std::string& text) {
    std::string bytes = compression_writer::zstd_frame(text, 3, true, false);
    bytes[5] = static_cast<char>((31 - 10) << 3);  // the window descriptor: 2^31 bytes
    return bytes;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOOLS_UNDER_ADDRESS_SANITIZER
#endif
#endif

// A decoder's memory is the writer's choice and no limit below the format's
// is set: with the memory the input reads as its text, without it the tools
// give the read message, never a crash.
TEST(CompressedInput, DecoderMemoryThatCannotBeHadIsTheReadError) {
#ifdef TOOLS_UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit under ulimit -v";
#endif
    ScratchDir dir;
    const std::string text = structure(2000, 10);
    const std::string want = reference::boxreach_output(reference::read_bytes(text), {"0", "0", "0"});
    for (const std::string& bytes : {xz_with_dictionary_of_1536_mib(text), zstd_with_window_of_2_gib(text)}) {
        const std::string input = dir.write("in", bytes);
        ProgramRun free_run = run_program(BOXREACH_PATH, {input, "0", "0", "0"});
        EXPECT_EQ(free_run.out, want) << bytes.substr(0, 4);
        EXPECT_EQ(free_run.status, 1) << bytes.substr(0, 4);
        // 1 GB of address space: the tool's own needs fit easily.
        ProgramRun limited = run_program("/bin/sh", {"-c", "ulimit -v 1000000 && exec \"$0\" \"$@\"", BOXREACH_PATH,
                                                     input, "0", "0", "0"});
        EXPECT_EQ(limited.out, "PDB file can not be read .\n") << bytes.substr(0, 4);
        EXPECT_EQ(limited.status, 2) << bytes.substr(0, 4);
    }
}

// The libraries of bzip2, xz and zstd are opened when such an input comes.
// One that cannot be loaded, or lacks a function, leaves its format unread
// (the read message and status 2), while plain and gzip input read as ever.
TEST(CompressedInput, AFormatWhoseLibraryIsMissingIsTheReadError) {
    ScratchDir dir;
    const std::string text = structure(300, 12);
    const std::string want = reference::boxreach_output(reference::read_bytes(text), {"0", "0", "0"});
    const std::string plain = dir.write("in.pdb", text);
    auto hollow_run = [](const std::string& input) {
        return run_program("/usr/bin/env", {"LD_LIBRARY_PATH=" HOLLOW_LIBRARY_DIR, BOXREACH_PATH, input, "0", "0", "0"});
    };
    ProgramRun plain_run = hollow_run(plain);
    EXPECT_EQ(plain_run.out, want);
    EXPECT_EQ(plain_run.status, 1);
    for (Format format : compression_writer::formats) {
        const char* name = compression_writer::name(format);
        const std::string input = dir.write(std::string("in.") + name, compression_writer::stream(format, text));
        ProgramRun usual = run_program(BOXREACH_PATH, {input, "0", "0", "0"});
        EXPECT_EQ(usual.out, want) << name;
        EXPECT_EQ(usual.status, 1) << name;
        ProgramRun hollow = hollow_run(input);
        const bool own_library = format != Format::gzip;
        EXPECT_EQ(hollow.out, own_library ? "PDB file can not be read .\n" : want) << name;
        EXPECT_EQ(hollow.status, own_library ? 2 : 1) << name;
    }
}

}  // namespace
