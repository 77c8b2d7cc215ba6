// Damaged compressed input keeps no row that is not in the file: a bit
// flipped at random in one or two streams of each format, read by the
// library (how many records it counts as sound) and by xyzdump into each
// kind of regular-file output, through a real shell.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "compression_writers.hpp"
#include "memory_source.hpp"
#include "record_scan.hpp"
#include "run_program.hpp"

namespace {

using compression_writer::Format;

constexpr int complete = 1;
constexpr int failed = 2;
const std::string cannot_read = "PQR file can not be read .\n";
constexpr int flips_per_case = 4;

// A PDB text of a large entry's size (about 2 MB, 24000 atoms), its lines
// the archive's, some too long for one chunk. Its rows outgrow xyzdump's
// buffer, so that rows are written before damage is found.
std::string pdb_text() {
    std::mt19937 random(21);
    std::uniform_int_distribution<int> milli(-999999, 999999);
    std::string text = "HEADER    DAMAGE TEST\n";
    char line[160];
    for (int atom = 1; atom <= 24000; ++atom) {
        std::snprintf(line, sizeof line, "%-6s%5d  CA  ALA A%4d    %8.3f%8.3f%8.3f  1.00 20.00           C%s\n",
                      atom % 7 ? "ATOM" : "HETATM", atom, atom / 10, milli(random) / 1000.0,
                      milli(random) / 1000.0, milli(random) / 1000.0,
                      atom % 97 ? "" : "  and a remark long enough to run past the fgets buffer of 100 bytes");
        text += line;
        if (atom % 500 == 0) text += "TER\n";
    }
    return text + "END\n";
}

// The same atoms as an mmCIF loop.
std::string cif_text() {
    std::mt19937 random(12);
    std::uniform_int_distribution<int> milli(-999999, 999999);
    std::string text = "data_test\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.Cartn_x\n"
                       "_atom_site.Cartn_y\n_atom_site.Cartn_z\n";
    char line[128];
    for (int atom = 1; atom <= 4000; ++atom) {
        std::snprintf(line, sizeof line, "%s %d %.3f %.3f %.3f\n", atom % 7 ? "ATOM" : "HETATM", atom,
                      milli(random) / 1000.0, milli(random) / 1000.0, milli(random) / 1000.0);
        text += line;
    }
    return text + "#\n";
}

std::vector<record_scan::AtomXyz> records_of(const std::string& bytes, std::uint64_t* sound = nullptr,
                                             record_scan::ScanOutcome* outcome = nullptr,
                                             std::function<std::size_t()> pieces = {}) {
    MemorySource source(bytes, std::move(pieces));
    record_scan::RecordScanner scanner(source, 1 << 14);
    std::vector<record_scan::AtomXyz> records;
    std::span<const record_scan::AtomXyz> batch;
    record_scan::ScanOutcome ended;
    while ((ended = scanner.next_records(batch)) == record_scan::ScanOutcome::record)
        records.insert(records.end(), batch.begin(), batch.end());
    if (sound) *sound = scanner.sound_records();
    if (outcome) *outcome = ended;
    return records;
}

bool same(const record_scan::AtomXyz& a, const record_scan::AtomXyz& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The input as one stream, or two cut inside a line (as bgzip cuts), and
// how many bytes the first stream takes.
struct Streams {
    std::string bytes;
    std::size_t first_stream_bytes = 0;
    std::string first_text;  // the text of the first stream's whole lines
};

Streams compressed(Format format, const std::string& text, int streams) {
    if (streams == 1) return {compression_writer::stream(format, text, true), 0, ""};
    const std::size_t cut = text.size() / 2 + 37;
    Streams two;
    two.bytes = compression_writer::stream(format, text.substr(0, cut), true);
    two.first_stream_bytes = two.bytes.size();
    two.bytes += compression_writer::stream(format, text.substr(cut), true);
    two.first_text = text.substr(0, text.rfind('\n', cut - 1) + 1);
    return two;
}

// One bit flipped, in the second stream when there are two.
std::string flipped(const Streams& streams, std::mt19937& random) {
    std::string bytes = streams.bytes;
    std::uniform_int_distribution<std::size_t> at(streams.first_stream_bytes, bytes.size() - 1);
    bytes[at(random)] ^= static_cast<char>(1 << (random() % 8));
    return bytes;
}

std::string case_name(Format format, int streams, int flip) {
    return std::string(compression_writer::name(format)) + ", " + std::to_string(streams) + " stream(s), flip " +
           std::to_string(flip);
}

}  // namespace

// The library: the sound records are the plain text's first records; with
// two streams and damage in the second, those of the first stream's whole
// lines (and, for bzip2, of the second's blocks before the damaged one),
// whatever the layout of the text.
TEST(DamagedInput, SoundRecordsAreThePlainTextsFirst) {
    std::mt19937 random(2026);
    for (const std::string& text : {pdb_text(), cif_text()}) {
        const std::vector<record_scan::AtomXyz> plain = records_of(text);
        for (Format format : compression_writer::formats) {
            for (int streams : {1, 2}) {
                const Streams input = compressed(format, text, streams);
                const std::size_t first_stream_records = streams == 2 ? records_of(input.first_text).size() : 0;
                for (int flip = 0; flip < 3 * flips_per_case; ++flip) {
                    const std::string name = case_name(format, streams, flip) + (text[0] == 'd' ? ", mmCIF" : ", PDB");
                    std::uint64_t sound = 0;
                    record_scan::ScanOutcome outcome;
                    const std::vector<record_scan::AtomXyz> got = records_of(flipped(input, random), &sound, &outcome);
                    if (outcome != record_scan::ScanOutcome::read_error) {
                        ASSERT_EQ(got.size(), plain.size()) << name;
                        EXPECT_EQ(sound, got.size()) << name;
                        continue;
                    }
                    ASSERT_LE(sound, got.size()) << name;
                    ASSERT_LE(sound, plain.size()) << name;
                    for (std::size_t i = 0; i < sound; ++i) ASSERT_TRUE(same(got[i], plain[i])) << name << ", record " << i;
                    // bzip2 -1 cuts the second stream into blocks of 100 kB, each
                    // checked on its own: the blocks before the damaged one stay too.
                    if (streams == 2 && format == Format::bzip2) {
                        EXPECT_GE(sound, first_stream_records) << name;
                    } else if (streams == 2) {
                        EXPECT_EQ(sound, first_stream_records) << name;
                    }
                }
            }
        }
    }
}

// xyzdump, into a file by name, standard output sent to a file, and
// appended to one after a header: the whole file's rows and status 1, or
// the read message and a prefix of them (in two streams, at least the
// first's).
TEST(DamagedInput, XyzdumpKeepsOnlyRowsInTheFile) {
    ScratchDir dir;
    const std::string text = pdb_text();
    dir.write("plain.pdb", text);
    const std::string script_prelude = "X=\"$1\"; cd \"$2\" || exit 99\n";
    auto shell = [&](const std::string& script) {
        return run_program("/bin/sh", {"-c", script_prelude + script, "sh", XYZDUMP_PATH, dir.path()});
    };
    ASSERT_EQ(shell("\"$X\" plain.pdb plain.csv").status, complete);
    const std::string all_rows = read_file(dir.path() + "/plain.csv");
    // The first stream's rows outgrow xyzdump's buffer of 256 KiB: they are
    // written before damage in the second is found, and the rest cut back.
    ASSERT_GT(all_rows.size() / 2, std::size_t{1} << 18);
    const std::string header = "x,y,z\n";
    struct OutputKind {
        const char* name;
        const char* script;
        std::string before;    // what the file holds ahead of the rows
        bool message_in_file;  // the read message follows the rows in the file
    };
    const OutputKind kinds[] = {
        {"by name", "\"$X\" in out.csv", "", false},
        {"standard output", "\"$X\" in - > out.csv", "", true},
        {"appended", "echo x,y,z > out.csv; \"$X\" in - >> out.csv", header, true},
    };
    std::mt19937 random(21);
    for (Format format : compression_writer::formats) {
        for (int streams : {1, 2}) {
            const Streams input = compressed(format, text, streams);
            dir.write("first.pdb", input.first_text);
            ASSERT_EQ(shell("\"$X\" first.pdb first.csv").status, complete);
            const std::size_t first_rows_bytes = read_file(dir.path() + "/first.csv").size();
            for (const OutputKind& kind : kinds) {
                for (int flip = 0; flip < flips_per_case; ++flip) {
                    const std::string name = case_name(format, streams, flip) + ", " + kind.name;
                    dir.write("in", flipped(input, random));
                    const ProgramRun run = shell(kind.script);
                    std::string rows = read_file(dir.path() + "/out.csv");
                    ASSERT_EQ(rows.compare(0, kind.before.size(), kind.before), 0) << name;
                    rows.erase(0, kind.before.size());
                    if (run.status == complete) {
                        EXPECT_EQ(rows, all_rows) << name;
                        EXPECT_EQ(run.out, "") << name;
                        continue;
                    }
                    ASSERT_EQ(run.status, failed) << name;
                    if (kind.message_in_file) {
                        ASSERT_TRUE(rows.ends_with(cannot_read)) << name;
                        rows.resize(rows.size() - cannot_read.size());
                    } else {
                        EXPECT_EQ(run.out, cannot_read) << name;
                    }
                    ASSERT_LE(rows.size(), all_rows.size()) << name;
                    EXPECT_EQ(all_rows.compare(0, rows.size(), rows), 0) << name << ": rows the file does not hold";
                    EXPECT_TRUE(rows.empty() || rows.back() == '\n') << name << ": a row cut short";
                    if (streams == 2 && format == Format::bzip2) {
                        EXPECT_GE(rows.size(), first_rows_bytes) << name;
                    } else if (streams == 2) {
                        EXPECT_EQ(rows.size(), first_rows_bytes) << name;
                    }
                }
            }
        }
    }
}

// One bit flipped inside a later block of a one-stream bzip2 or xz input:
// it reads whole (a bit no check covers), or its sound records are the
// plain text's first, at least those of the whole lines before the damaged
// block (their blocks passed) and at most those the text before it gives;
// xyzdump's file likewise keeps at least those lines' rows.
TEST(DamagedInput, BlocksBeforeTheDamagedOneStay) {
    using namespace compression_writer;
    const std::string pdb = pdb_text().substr(0, pdb_text().find('\n', 300000) + 1);
    const std::string cif = cif_text();
    struct Case {
        const char* name;
        const std::string& text;
        Blocks blocks;
    };
    const Case cases[] = {
        {"bzip2, PDB", pdb, bzip2_blocks(pdb, 60000)},
        {"xz, PDB", pdb, xz_blocks_with_extents(pdb, 1 << 16)},
        {"bzip2, mmCIF", cif, bzip2_blocks(cif, 25000)},
        {"xz, mmCIF", cif, xz_blocks_with_extents(cif, 1 << 15)},
    };
    ScratchDir dir;
    auto xyzdump_rows = [&dir](const std::string& bytes, int* status = nullptr) {
        dir.write("in", bytes);
        const ProgramRun run = run_program(XYZDUMP_PATH, {dir.path() + "/in", dir.path() + "/out.csv"});
        if (status) *status = run.status;
        return read_file(dir.path() + "/out.csv");
    };
    std::mt19937 random(2027);
    for (const Case& c : cases) {
        const std::vector<record_scan::AtomXyz> plain = records_of(c.text);
        const std::string all_rows = xyzdump_rows(c.text);
        const std::vector<Blocks::Extent>& extents = c.blocks.extents;
        ASSERT_GE(extents.size(), 5u) << c.name;
        for (int flip = 0; flip < 4 * flips_per_case; ++flip) {
            // A block after the first, and a byte of it that holds no bit of another.
            const std::size_t block = 1 + random() % (extents.size() - 2);
            const std::uint64_t first = (extents[block].first_bit + 7) / 8, end = extents[block + 1].first_bit / 8;
            std::string bytes = c.blocks.bytes;
            // Every fourth in the block's first whole byte: bzip2's magic number, xz's header size.
            bytes[first + (flip % 4 == 0 ? 0 : random() % (end - first))] ^= static_cast<char>(1 << (random() % 8));
            const std::uint64_t text_before = extents[block].first_text_byte;
            const std::string lines_before = c.text.substr(0, c.text.rfind('\n', text_before - 1) + 1);
            const std::size_t least = records_of(lines_before).size();
            const std::size_t most = records_of(c.text.substr(0, text_before)).size();
            const std::string name = std::string(c.name) + ", block " + std::to_string(block) + ", flip " +
                                     std::to_string(flip);
            std::uint64_t sound = 0;
            record_scan::ScanOutcome outcome;
            const std::size_t largest_piece = flip % 2 ? 7 : 70000;
            const std::vector<record_scan::AtomXyz> got =
                records_of(bytes, &sound, &outcome, [&] { return 1 + random() % largest_piece; });
            // And for a few, xyzdump's file: all rows, or a prefix holding
            // at least the rows of those lines.
            if (flip % 8 < 2) {
                int status = 0;
                const std::string rows = xyzdump_rows(bytes, &status);
                ASSERT_EQ(all_rows.compare(0, rows.size(), rows), 0) << name << ": rows the file does not hold";
                if (status == complete) EXPECT_EQ(rows, all_rows) << name;
                else EXPECT_GE(rows.size(), xyzdump_rows(lines_before).size()) << name;
            }
            if (outcome != record_scan::ScanOutcome::read_error) {
                ASSERT_EQ(got.size(), plain.size()) << name;
                for (std::size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(same(got[i], plain[i])) << name << ", record " << i;
                continue;
            }
            ASSERT_LE(sound, got.size()) << name;
            EXPECT_GE(sound, least) << name;
            EXPECT_LE(sound, most) << name;
            for (std::size_t i = 0; i < std::min<std::uint64_t>(sound, plain.size()); ++i)
                ASSERT_TRUE(same(got[i], plain[i])) << name << ", record " << i;
        }
    }
}
