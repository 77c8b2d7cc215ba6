// Each kernel against an independent reading of what it must do: take every
// plain line (told here by a regular expression) up to the first that is
// not, and give for each record exactly what the plain sscanf reading gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "pdb/plain_lines/plain_lines.hpp"
#include "reference_reading.hpp"

namespace {

using record_scan::AtomXyz;
using record_scan::Kernel;

bool is_fixed_point_field(const std::string& field) {
    static const std::regex shape(" *-?[0-9]{1,4}\\.[0-9]{3}");
    return field.size() == 8 && std::regex_match(field, shape);
}

// `line` runs to its first line feed, or is cut at 99 bytes, as fgets cuts.
bool is_plain_line(const std::string& line) {
    if (line.size() > record_scan::longest_plain_line || line.back() != '\n') return false;
    if (line.compare(0, 4, "ATOM") != 0 && line.compare(0, 6, "HETATM") != 0) return true;
    if (line.size() < 55) return false;
    for (std::size_t first : {30, 38, 46})
        if (!is_fixed_point_field(line.substr(first, 8))) return false;
    return std::string("0123456789.eE").find(line[54]) == std::string::npos;
}

std::string line_at(const std::string& text, std::size_t offset) {
    std::size_t line_feed = text.find('\n', offset);
    std::size_t length = line_feed == std::string::npos ? text.size() - offset : line_feed + 1 - offset;
    return text.substr(offset, std::min(length, record_scan::max_chunk_bytes));
}

bool same_bits(const AtomXyz& a, const AtomXyz& b) {
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

// Lines of the PDB layout, most of them plain, the rest off by a byte.
class LineMaker {
public:
    explicit LineMaker(unsigned seed) : random_(seed) {}

    std::string line() {
        static const char* const keywords[] = {"ATOM  ", "HETATM", "ATOM  ", "ATOM  ", "HETATM",
                                               "REMARK", "TER   ", "HETAT ", "atom  ", "ATOMIC"};
        std::string line = keywords[pick(std::size(keywords))] + std::string("  123  CA  ALA A 123    ");
        for (int i = 0; i < 3; ++i) line += field();
        if (pick(10) == 0) line[pick(static_cast<int>(line.size()))] = stray();
        static const char* const tails[] = {"  1.00 20.00           C  ", "", " 0.4157 1.8240", "1.00",
                                            "e5", ".5", "0", "\r", "E", "-1.0", "x", "\t"};
        line += tails[pick(2) == 0 ? 0 : pick(std::size(tails))];
        if (pick(8) == 0) line.resize(pick(110), ' ');
        if (pick(8) == 0) line.resize(92 + pick(10), '#');
        return line + "\n";
    }

private:
    int pick(int below) { return std::uniform_int_distribution<int>(0, below - 1)(random_); }

    char stray() {
        static const char strays[] = " -+.0123456789eExXin\t\r\n\v\0a";
        return strays[pick(sizeof strays - 1)];
    }

    std::string field() {
        static const double scales[] = {1, 10, 100, 1000, 10000};
        double value = std::uniform_real_distribution<double>(-1, 1)(random_) * scales[pick(5)];
        char text[64];
        std::snprintf(text, sizeof text, pick(12) == 0 ? "%8.2f" : "%8.3f", value);
        std::string field = text;
        if (pick(20) == 0) field[pick(8)] = stray();
        return field;
    }

    std::mt19937 random_;
};

// Runs of lines of one length, as most files are written (80 columns),
// where a kernel takes many lines at once: lengths around the shortest and
// longest a run may have, records and other lines mixed, and now and then
// a line that breaks the run (a stray byte, a line cut short and the next
// made as much longer, another length, a line feed inside).
class RunMaker {
public:
    explicit RunMaker(unsigned seed) : random_(seed), fields_(seed + 1) {}

    std::string run() {
        static const std::size_t lengths[] = {55, 56, 57, 63, 64, 65, 79, 80, 81, 82, 95, 96, 97, 54, 120};
        const std::size_t length = lengths[pick(std::size(lengths))];
        std::vector<std::string> lines(1 + pick(pick(4) == 0 ? 200 : 40));
        for (std::string& line : lines) line = record(length);
        if (pick(3) == 0) break_one(lines);
        std::string text;
        for (const std::string& line : lines) text += line;
        return text;
    }

private:
    int pick(std::size_t below) { return std::uniform_int_distribution<int>(0, static_cast<int>(below) - 1)(random_); }

    // A line of `length` bytes, its line feed last.
    std::string record(std::size_t length) {
        static const char* const keywords[] = {"ATOM  ", "HETATM", "ATOM  ", "ATOM  ", "ATOM  ", "HETATM", "TER   ", "ANISOU"};
        std::string line = keywords[pick(std::size(keywords))] + std::string("  123  CA  ALA A 123    ");
        for (int i = 0; i < 3; ++i) {
            char field[16];
            std::snprintf(field, sizeof field, "%8.3f",
                          std::uniform_int_distribution<int>(-999'999, 9'999'999)(fields_) / 1000.0);
            line += field;
        }
        line.resize(length - 1, ' ');
        if (length > 60 && pick(2) == 0) line.replace(54, 6, "  1.00");
        return line + '\n';
    }

    void break_one(std::vector<std::string>& lines) {
        std::string& line = lines[pick(lines.size())];
        const std::size_t at = pick(line.size() - 1);
        switch (pick(4)) {
            case 0: line[at] = "x.-e 9\r\n"[pick(8)]; break;
            case 1: {  // cut short, the next as much longer: as many line feeds
                std::string& next = (&line == &lines.back()) ? line : *(&line + 1);
                const std::size_t cut = 1 + pick(3);
                if (&next != &line && line.size() > cut + 1) {
                    line.erase(line.size() - 1 - cut, cut);
                    next.insert(next.size() - 1, std::string(cut, ' '));
                }
                break;
            }
            case 2: line.insert(line.size() - 1, std::string(1 + pick(3), ' ')); break;
            default: line.erase(line.size() - 2, 1); break;
        }
    }

    std::mt19937 random_;
    std::mt19937 fields_;
};

// Texts of either kind, a few megabytes long.
std::string mixed_lines(unsigned seed, std::size_t bytes) {
    LineMaker maker(seed);
    std::string text;
    while (text.size() < bytes) text += maker.line();
    return text;
}

std::string runs_of_one_length(unsigned seed, std::size_t bytes) {
    RunMaker maker(seed);
    std::string text;
    while (text.size() < bytes) text += maker.run();
    return text;
}

struct TextKind {
    const char* name;
    std::string (*make)(unsigned seed, std::size_t bytes);
};

const TextKind text_kinds[] = {{"mixed lines", mixed_lines}, {"runs of one length", runs_of_one_length}};

class PdbPlainLines : public ::testing::TestWithParam<Kernel> {};

INSTANTIATE_TEST_SUITE_P(EveryKernel, PdbPlainLines,
                         ::testing::ValuesIn(record_scan::available_kernels().begin(),
                                             record_scan::available_kernels().end()),
                         [](const auto& kernel) { return std::string(kernel_name(kernel.param)); });

// Reads a text as the reader does, a run at a time, passing over each line
// a kernel stops at; checks every run against the independent reading.
TEST_P(PdbPlainLines, TakeEveryPlainLineAndNoOther) {
    const record_scan::PlainLinesReader read = record_scan::plain_lines_reader(GetParam());
    for (const TextKind& kind : text_kinds) {
        SCOPED_TRACE(kind.name);
        std::mt19937 random(5);
        const std::string text = kind.make(11, std::size_t{8} << 20);
        std::vector<AtomXyz> atoms(256);
        std::size_t offset = 0, plain_records = 0, stops = 0;
        while (offset < text.size()) {
            const std::size_t capacity = 1 + random() % atoms.size();
            // Now and then the bytes end soon, as a reader's block does: the
            // last lines before the look-ahead runs out are found another way.
            const std::size_t size =
                random() % 4 == 0 ? std::min(text.size() - offset, 100 + random() % 700) : text.size() - offset;
            const record_scan::PlainRun run = read(text.data() + offset, size, atoms.data(), capacity);
            // What it should have taken: plain lines, while room and look-ahead last.
            std::size_t bytes = 0, records = 0;
            for (;;) {
                if (records == capacity || size - bytes < record_scan::plain_lines_lookahead) break;
                const std::string line = line_at(text, offset + bytes);
                if (!is_plain_line(line)) break;
                if (line.compare(0, 4, "ATOM") == 0 || line.compare(0, 6, "HETATM") == 0) {
                    const std::optional<AtomXyz> want = reference::scan_chunk(line);
                    ASSERT_TRUE(want && same_bits(atoms[records], *want)) << '"' << line << '"';
                    ++records;
                }
                bytes += line.size();
            }
            ASSERT_EQ(run.bytes, bytes) << "at offset " << offset;
            ASSERT_EQ(run.records, records) << "at offset " << offset;
            plain_records += records;
            offset += bytes;
            if (records < capacity && offset < text.size()) {  // the exact reader's line
                offset += line_at(text, offset).size();
                ++stops;
            }
        }
        // Both kinds of line occur often enough to prove something.
        EXPECT_GT(plain_records, 20'000u);
        EXPECT_GT(stops, 5'000u);
    }
}

// The signed thousandths of a "%8.3f" field, read as digits alone.
std::int32_t thousandths(const std::string& field) {
    std::string digits;
    for (char c : field)
        if (c >= '0' && c <= '9') digits += c;
    const std::int32_t magnitude = std::stoi(digits);
    return field.find('-') != std::string::npos ? -magnitude : magnitude;
}

// The fold of extremes takes the same lines as the reading of records,
// with no bound on their number, and its extremes are those of the plain
// records' fields; what it was handed before is kept.
TEST_P(PdbPlainLines, ExtremesOfThePlainLines) {
    const record_scan::PlainExtremesReader fold = record_scan::plain_extremes_reader(GetParam());
    for (const TextKind& kind : text_kinds) {
        SCOPED_TRACE(kind.name);
        std::mt19937 random(9);
        const std::string text = kind.make(23, std::size_t{4} << 20);
        std::size_t offset = 0, folds = 0;
        record_scan::FixedPointExtremes extremes, want;
        while (offset < text.size()) {
            const std::size_t size =
                random() % 4 == 0 ? std::min(text.size() - offset, 100 + random() % 700) : text.size() - offset;
            const std::size_t bytes = fold(text.data() + offset, size, extremes);
            std::size_t taken = 0;
            while (size - taken >= record_scan::plain_lines_lookahead) {
                const std::string line = line_at(text, offset + taken);
                if (!is_plain_line(line)) break;
                if (line.compare(0, 4, "ATOM") == 0 || line.compare(0, 6, "HETATM") == 0) {
                    for (int axis = 0; axis < 3; ++axis) {
                        const std::int32_t value = thousandths(line.substr(30 + 8 * axis, 8));
                        want.least[axis] = std::min(want.least[axis], value);
                        want.greatest[axis] = std::max(want.greatest[axis], value);
                    }
                }
                taken += line.size();
            }
            ASSERT_EQ(bytes, taken) << "at offset " << offset;
            for (int axis = 0; axis < 3; ++axis) {
                ASSERT_EQ(extremes.least[axis], want.least[axis]) << "at offset " << offset;
                ASSERT_EQ(extremes.greatest[axis], want.greatest[axis]) << "at offset " << offset;
            }
            offset += bytes;
            if (offset < text.size()) offset += line_at(text, offset).size();  // the exact reader's line
            ++folds;
        }
        EXPECT_GT(folds, 2'000u);
        EXPECT_FALSE(extremes.empty());
    }
}

TEST_P(PdbPlainLines, ShortTextsAreLeftWhole) {
    const record_scan::PlainLinesReader read = record_scan::plain_lines_reader(GetParam());
    const std::string line = "ATOM      1  CA  ALA A   1      12.345  -6.789   0.001  1.00 20.00           C\n";
    std::string text = line + line;
    AtomXyz atoms[4];
    for (std::size_t size = 0; size < record_scan::plain_lines_lookahead; ++size)
        EXPECT_EQ(read(text.data(), size, atoms, 4).bytes, 0u) << size;
    record_scan::FixedPointExtremes extremes;
    for (std::size_t size = 0; size < record_scan::plain_lines_lookahead; ++size)
        EXPECT_EQ(record_scan::plain_extremes_reader(GetParam())(text.data(), size, extremes), 0u) << size;
    EXPECT_TRUE(extremes.empty());
    EXPECT_EQ(read(text.data(), text.size(), atoms, 0).bytes, 0u);
}

}  // namespace
