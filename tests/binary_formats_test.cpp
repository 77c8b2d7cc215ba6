// BinaryCIF and MMTF: the same atoms written every way the encoder knows
// (every step kind and ByteArray type, every MMTF float codec, columns and
// keys in other orders, wide MessagePack forms, several data blocks, gzip)
// must read exactly as the same atoms written as mmCIF text, by records and
// by axis runs, whole and in pieces of random size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <random>
#include <string>
#include <vector>

#include "binary/exact_quotient.hpp"
#include "binary_writer.hpp"
#include "fuzz_support.hpp"
#include "gzip_writer.hpp"
#include "memory_source.hpp"
#include "run_program.hpp"

namespace {

namespace bw = binary_writer;
using bw::Ints;

struct Atoms {
    Ints k[3];  // coordinate i is k / 1000
    std::vector<std::string> group;
};

// A chain with steps under 2 A, as in real structures; unless `small`,
// now and then a long jump, so that deltas overflow the packing limits.
Atoms chain_atoms(std::size_t count, unsigned seed, bool small) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> step(-1999, 1999), jump(-400000, 400000), kind(0, 99);
    Atoms atoms;
    std::int64_t at[3] = {1234, -5678, 0};
    for (std::size_t i = 0; i < count; ++i) {
        for (int axis = 0; axis < 3; ++axis) {
            at[axis] += !small && i % 37 == 5 ? jump(random) : step(random);
            if (small) at[axis] = std::clamp<std::int64_t>(at[axis], -32000, 32000);
            atoms.k[axis].push_back(at[axis]);
        }
        const int g = kind(random);
        atoms.group.push_back(g < 80 ? "ATOM" : g < 95 ? "HETATM" : "SIGATM");
    }
    return atoms;
}

std::string decimal(std::int64_t k) {
    char text[32];
    const std::int64_t magnitude = k < 0 ? -k : k;
    std::snprintf(text, sizeof text, "%s%lld.%03lld", k < 0 ? "-" : "", static_cast<long long>(magnitude / 1000),
                  static_cast<long long>(magnitude % 1000));
    return text;
}

using TextOf = std::function<std::string(int axis, std::size_t row)>;

// The same atoms as mmCIF text, with group_PDB or (MMTF: every atom counts) without.
std::string cif_text(const Atoms& atoms, bool with_group, const TextOf& text_of) {
    std::string text = "data_test\nloop_\n";
    if (with_group) text += "_atom_site.group_PDB\n";
    text += "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n";
    for (std::size_t i = 0; i < atoms.group.size(); ++i) {
        if (with_group) text += atoms.group[i] + " ";
        text += text_of(0, i) + " " + text_of(1, i) + " " + text_of(2, i) + "\n";
    }
    return text;
}

// How a file is laid out.
struct Layout {
    std::function<bw::Encoded(const Ints&, const std::vector<std::string>&)> axis;  // k and their texts
    bw::IntPlan group_index{.run_length = true, .type = bw::int32};
    bool group_first = true;
    bool group = true;
    bool zero_mask = false;
    bw::KeyOrder order = bw::archive_order;
    bool wide = false;
    std::size_t blocks = 1;
};

std::vector<std::string> texts_of(const Ints& k) {
    std::vector<std::string> texts;
    for (std::int64_t v : k) texts.push_back(decimal(v));
    return texts;
}

std::vector<std::vector<bw::Category>> bcif_blocks(const Atoms& atoms, const Layout& layout) {
    std::vector<std::vector<bw::Category>> blocks;
    const std::size_t rows = atoms.group.size();
    for (std::size_t b = 0; b < layout.blocks; ++b) {
        const std::size_t begin = rows * b / layout.blocks, end = rows * (b + 1) / layout.blocks;
        auto part = [&](const auto& all) { return std::decay_t<decltype(all)>(all.begin() + begin, all.begin() + end); };
        bw::Category entry{"_entry", 1, {{"id", bw::string_array({"TEST"}, {.type = bw::int32})}}};
        bw::Category site{"_atom_site", static_cast<std::int64_t>(end - begin), {}};
        bw::Column group{"group_PDB", bw::string_array(part(atoms.group), layout.group_index)};
        Ints ids;
        for (std::size_t i = begin; i < end; ++i) ids.push_back(static_cast<std::int64_t>(i + 1));
        if (layout.group && layout.group_first) site.columns.push_back(group);
        site.columns.push_back({"id", bw::encode_ints(ids, {.delta = true, .run_length = true, .type = bw::int32})});
        static const char* const names[] = {"Cartn_x", "CARTN_Y", "cartn_z"};  // any letter case
        for (int axis = 0; axis < 3; ++axis) {
            const Ints k = part(atoms.k[axis]);
            bw::Column column{names[axis], layout.axis(k, texts_of(k))};
            if (layout.zero_mask) {
                column.has_mask = true;
                column.mask = bw::encode_ints(Ints(k.size(), 0), {.run_length = true, .packing_bytes = 1, .packing_unsigned = true, .type = bw::uint8});
            }
            site.columns.push_back(column);
        }
        site.columns.push_back({"occupancy", bw::fixed_point(Ints(end - begin, 100), 100, {.run_length = true})});
        if (layout.group && !layout.group_first) site.columns.push_back(group);
        bw::Category type{"_atom_type", 1, {{"symbol", bw::string_array({"C"}, {.type = bw::int32})}}};
        blocks.push_back({entry, site, type});
    }
    return blocks;
}

std::string bcif(const Atoms& atoms, const Layout& layout) {
    return bw::binarycif(bcif_blocks(atoms, layout), layout.wide, layout.order);
}

std::vector<double> parsed(const std::vector<std::string>& texts, bool wide) {
    std::vector<double> values;
    for (const std::string& text : texts) values.push_back(wide ? std::strtod(text.c_str(), nullptr) : std::strtof(text.c_str(), nullptr));
    return values;
}

bw::Encoded archive_style(const Ints& k, const std::vector<std::string>&) {
    return bw::fixed_point(k, 1000, {.delta = true, .packing_bytes = 2, .type = bw::int16});
}

const TextOf decimal_text_of(const Atoms& atoms) {
    return [&atoms](int axis, std::size_t row) { return decimal(atoms.k[axis][row]); };
}

struct Variant {
    const char* name;
    Layout layout;
};

const std::vector<Variant>& bcif_variants() {
    static const std::vector<Variant> variants = {
        {"archive style", {archive_style}},
        {"fixed point, int32", {[](const Ints& k, auto&) { return bw::fixed_point(k, 1000, {.type = bw::int32}); }}},
        {"fixed point, run length, delta, int8 packing",
         {[](const Ints& k, auto&) { return bw::fixed_point(k, 1000, {.delta = true, .run_length = true, .packing_bytes = 1, .type = bw::int8}); }}},
        {"fixed point beyond 2^24, factor 10^5", {[](const Ints& k, auto&) {
             Ints scaled;
             for (std::int64_t v : k) scaled.push_back(v * 100);
             return bw::fixed_point(scaled, 1e5, {.type = bw::int32});
         }}},
        {"fixed point, delta, int8 packing",
         {[](const Ints& k, auto&) { return bw::fixed_point(k, 1000, {.delta = true, .packing_bytes = 1, .type = bw::int8}); }}},
        {"fixed point beyond 2^24, delta, int16 packing", {[](const Ints& k, auto&) {
             Ints scaled;
             for (std::int64_t v : k) scaled.push_back(v * 100);
             return bw::fixed_point(scaled, 1e5, {.delta = true, .packing_bytes = 2, .type = bw::int16});
         }}},
        {"float32", {[](const Ints&, auto& texts) { return bw::float_array(parsed(texts, false), bw::float32); }}},
        {"float64", {[](const Ints&, auto& texts) { return bw::float_array(parsed(texts, true), bw::float64); }}},
        {"string array", {[](const Ints&, auto& texts) { return bw::string_array(texts, {.packing_bytes = 2, .packing_unsigned = true, .type = bw::uint16}); }}},
        {"group index uint8 packing", {archive_style, {.packing_bytes = 1, .packing_unsigned = true, .type = bw::uint8}}},
        {"group index uint32", {archive_style, {.type = bw::uint32}}},
        {"group index delta, int16", {archive_style, {.delta = true, .type = bw::int16}}},
        {"group after the coordinates", {.axis = archive_style, .group_first = false}},
        {"no group column", {.axis = archive_style, .group = false}},
        {"zero masks", {.axis = archive_style, .zero_mask = true}},
        {"row count first", {.axis = archive_style, .order = {.category = {"name", "rowCount", "columns"}}}},
        {"row count first, zero masks before the data",
         {.axis = archive_style, .zero_mask = true, .order = {.category = {"name", "rowCount", "columns"}, .column = {"name", "mask", "data"}}}},
        {"data before encoding", {.axis = archive_style, .order = {.encoding_first = false}}},
        {"wide MessagePack forms", {.axis = archive_style, .wide = true}},
        {"three data blocks", {.axis = archive_style, .blocks = 3}},
    };
    return variants;
}

// Readings compared by their first difference, not printed whole.
void expect_same(const std::string& got, const std::string& want, const std::string& what) {
    if (got == want) return;
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    const std::size_t line = want.rfind('\n', at) == std::string::npos ? 0 : want.rfind('\n', at) + 1;
    ADD_FAILURE() << what << ": differs at byte " << at << " (of " << want.size() << " wanted, " << got.size()
                  << " got)\n  want: " << want.substr(line, 80) << "\n  got:  " << got.substr(line, 80);
}

std::string outcome_of(const std::string& reading) { return reading.substr(reading.rfind('\n', reading.size() - 2) + 1); }

// The outcome of a reading by axis runs. Past a row without a number the
// runs go on (the rest is checked for damage), so only the outcome can be
// compared with a reading by records then.
std::string axis_runs_outcome(record_scan::ByteSource& source, std::size_t block_bytes) {
    record_scan::RecordScanner scanner(source, block_bytes);
    record_scan::AxisRun run;
    record_scan::ScanOutcome outcome;
    while ((outcome = scanner.next_axis_run(run)) == record_scan::ScanOutcome::record) {
    }
    return fuzz::describe(outcome);
}

// Every reading of `bytes` must give `want`: whole and in pieces, by
// records, runs and batches (runs by their outcome alone when `want` ends
// incomplete).
void expect_readings(const std::string& bytes, const std::string& want, const std::string& what, int rounds = 3) {
    fuzz::Draws draws(bytes.size());
    MemorySource whole(bytes);
    expect_same(fuzz::scan_all(whole, record_scan::RecordScanner::default_block_bytes), want, what + ", records");
    const bool complete = outcome_of(want) == "end";
    for (int round = 0; round < rounds; ++round) {
        const std::size_t largest = 1 + draws.below(round == 0 ? 3 : 5000);
        MemorySource pieces(bytes, [&] { return 1 + draws.below(largest); });
        expect_same(fuzz::scan_all(pieces, 1 + draws.below(4096)), want, what + ", records in pieces");
        MemorySource runs(bytes, [&] { return 1 + draws.below(largest); });
        if (complete) expect_same(fuzz::scan_all_by_axes(runs, 1 + draws.below(4096)), want, what + ", axis runs in pieces");
        else expect_same(axis_runs_outcome(runs, 1 + draws.below(4096)), outcome_of(want), what + ", outcome of axis runs in pieces");
        MemorySource batches(bytes, [&] { return 1 + draws.below(largest); });
        expect_same(fuzz::scan_all_by_batches(batches, 1 + draws.below(4096), record_scan::fastest_kernel(),
                                              round % 2 ? 0 : 1 + draws.below(600)),
                    want, what + ", batches in pieces");
    }
}

std::string text_reading(const std::string& text) {
    MemorySource source(text);
    return fuzz::scan_all(source, record_scan::RecordScanner::default_block_bytes);
}

TEST(BinaryCif, EveryLayoutReadsAsTheTextOfTheSameAtoms) {
    for (bool small : {false, true}) {
        const Atoms atoms = chain_atoms(small ? 400 : 1200, small ? 7 : 11, small);
        const std::string with_group = text_reading(cif_text(atoms, true, decimal_text_of(atoms)));
        const std::string every_row = text_reading(cif_text(atoms, false, decimal_text_of(atoms)));
        ASSERT_NE(with_group, every_row);
        for (const Variant& variant : bcif_variants()) {
            const Layout& layout = variant.layout;
            const std::string name = variant.name;
            const std::string& want = layout.group ? with_group : every_row;
            const std::string bytes = bcif(atoms, layout);
            expect_readings(bytes, want, name);
            expect_readings(gzip_writer::member(bytes), want, name + ", gzip");
        }
    }
}

// ---- Key orders and masks ----

namespace orders {

std::vector<std::vector<std::string>> permutations(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    std::vector<std::vector<std::string>> all;
    do all.push_back(keys);
    while (std::next_permutation(keys.begin(), keys.end()));
    return all;
}

enum class Group { first, between_x_and_y, after_the_coordinates, none };
enum class Masks { none, zeros, row_that_does_not_count, counted_row, last_row };

const char* name_of(Group group) {
    static const char* const names[] = {"group_PDB first", "group_PDB between x and y", "group_PDB after the coordinates", "no group_PDB"};
    return names[static_cast<int>(group)];
}

const char* name_of(Masks masks) {
    static const char* const names[] = {"no masks", "zero masks", "a row that does not count masked", "a counted row masked",
                                        "the last row masked"};
    return names[static_cast<int>(masks)];
}

// The row a mask marks, or none.
std::size_t marked_row(const Atoms& atoms, Masks masks) {
    const std::size_t rows = atoms.group.size();
    std::size_t row = rows;
    if (masks == Masks::last_row) return rows - 1;
    if (masks == Masks::row_that_does_not_count)
        for (row = 0; row < rows && atoms.group[row] != "SIGATM"; ++row) {
        }
    if (masks == Masks::counted_row)
        for (row = rows / 2; row < rows && atoms.group[row] == "SIGATM"; ++row) {
        }
    return row;
}

// One _atom_site category. A marked value is masked on `axis` and stored
// as a far-off coordinate, so that handing it out where the text has none
// shows; the text has '?' there.
struct Marked {
    std::size_t row;
    int axis;
};

std::string bcif_file(const Atoms& atoms, Group group, Masks masks, Marked marked, const bw::KeyOrder& order) {
    const std::size_t rows = atoms.group.size();
    bw::Category site{"_atom_site", static_cast<std::int64_t>(rows), {}};
    const bw::Column group_column{"group_PDB", bw::string_array(atoms.group, {.run_length = true, .type = bw::int32})};
    Ints ids;
    for (std::size_t i = 0; i < rows; ++i) ids.push_back(static_cast<std::int64_t>(i + 1));
    if (group == Group::first) site.columns.push_back(group_column);
    site.columns.push_back({"id", bw::encode_ints(ids, {.delta = true, .run_length = true, .type = bw::int32})});
    static const char* const names[] = {"Cartn_x", "Cartn_y", "Cartn_z"};
    for (int axis = 0; axis < 3; ++axis) {
        Ints k = atoms.k[axis];
        Ints mask(rows, 0);
        if (axis == marked.axis && marked.row < rows) {
            k[marked.row] = 9999999;
            mask[marked.row] = 2;
        }
        bw::Column column{names[axis], archive_style(k, {})};
        column.has_mask = masks != Masks::none;
        if (column.has_mask) column.mask = bw::encode_ints(mask, {.run_length = true, .type = bw::int32});
        site.columns.push_back(column);
        if (axis == 0 && group == Group::between_x_and_y) site.columns.push_back(group_column);
    }
    site.columns.push_back({"occupancy", bw::fixed_point(Ints(rows, 100), 100, {.run_length = true})});
    if (group == Group::after_the_coordinates) site.columns.push_back(group_column);
    bw::Category entry{"_entry", 1, {{"id", bw::string_array({"TEST"}, {.type = bw::int32})}}};
    return bw::binarycif({{entry, site}}, false, order);
}

}  // namespace orders

// Every order of a category's keys and of a column's, the encoding before
// or after its bytes, group_PDB anywhere or nowhere, and masks of every
// kind: each file reads as the text of the same atoms, by records to the
// first row without a number, by axis runs alike when complete.
TEST(BinaryCif, EveryKeyOrderReadsAsTheTextOfTheSameAtoms) {
    using namespace orders;
    const Atoms atoms = chain_atoms(150, 17, false);
    int files = 0, incomplete = 0;
    for (Group group : {Group::first, Group::between_x_and_y, Group::after_the_coordinates, Group::none}) {
        for (Masks masks : {Masks::none, Masks::zeros, Masks::row_that_does_not_count, Masks::counted_row, Masks::last_row}) {
            const Marked marked{marked_row(atoms, masks), static_cast<int>(masks) % 3};
            ASSERT_TRUE(masks < Masks::row_that_does_not_count || marked.row < atoms.group.size());
            const std::string want = text_reading(cif_text(atoms, group != Group::none, [&](int axis, std::size_t row) {
                return row == marked.row && axis == marked.axis ? std::string("?") : decimal(atoms.k[axis][row]);
            }));
            incomplete += outcome_of(want) != "end";
            for (const std::vector<std::string>& category : permutations({"name", "columns", "rowCount"}))
                for (const std::vector<std::string>& column : permutations({"name", "data", "mask"}))
                    for (bool encoding_first : {true, false}) {
                        const bw::KeyOrder order{category, column, encoding_first};
                        const std::string name = std::string(name_of(group)) + ", " + name_of(masks) + ", category {" +
                                                 category[0] + " " + category[1] + " " + category[2] + "}, column {" + column[0] +
                                                 " " + column[1] + " " + column[2] + "}" + (encoding_first ? "" : ", data before encoding");
                        expect_readings(bcif_file(atoms, group, masks, marked, order), want, name, 2);
                        ++files;
                    }
        }
    }
    EXPECT_EQ(files, 4 * 5 * 36 * 2);
    EXPECT_GT(incomplete, 0) << "the table must hold readings that end incomplete";
    EXPECT_LT(incomplete, 20) << "and masked ones that are complete";
}

// group_PDB in long runs, as the archive writes it, some longer than a
// block of rows, some shorter, of groups that count and one that does not;
// each with the coordinates whole, or as strings with a value missing in
// a row that counts or in one that does not, in the first block or later.
TEST(BinaryCif, GroupsInLongRunsReadAsTheTextOfTheSameAtoms) {
    const std::vector<std::vector<std::pair<const char*, std::size_t>>> stretches = {
        {{"ATOM", 3000}},
        {{"ATOM", 1500}, {"HETATM", 700}, {"SIGATM", 1200}, {"ATOM", 900}},
        {{"ATOM", 1024}, {"SIGATM", 1024}, {"HETATM", 1}, {"ATOM", 2047}},
        {{"SIGATM", 2100}, {"HETATM", 40}}};
    int files = 0;
    for (const auto& groups : stretches) {
        std::size_t rows = 0;
        for (const auto& stretch : groups) rows += stretch.second;
        Atoms atoms = chain_atoms(rows, 29, false);
        atoms.group.clear();
        for (const auto& [group, length] : groups) atoms.group.insert(atoms.group.end(), length, group);
        for (std::size_t missing : {rows, std::size_t{5}, std::size_t{1600}, std::size_t{2500}, rows - 1}) {
            if (missing > rows) continue;
            const std::string want = text_reading(cif_text(atoms, true, [&](int axis, std::size_t row) {
                return axis == 2 && row == missing ? std::string("?") : decimal(atoms.k[axis][row]);
            }));
            int axis_index = 0;
            const Layout strings{[&](const Ints&, const std::vector<std::string>& texts) {
                std::vector<std::string> with_missing = texts;
                if (axis_index++ % 3 == 2 && missing < rows) with_missing[missing] = "?";
                return bw::string_array(with_missing, {.type = bw::int32});
            }};
            const std::string name = std::to_string(groups.size()) + " stretches, missing at " + std::to_string(missing);
            expect_readings(bcif(atoms, strings), want, name + ", strings", 2);
            if (missing == rows) expect_readings(bcif(atoms, Layout{archive_style}), want, name + ", fixed point", 2);
            ++files;
        }
    }
    EXPECT_EQ(files, 19);
}

TEST(BinaryCif, IntervalQuantizationRoundsOnceFromDouble) {
    const Atoms atoms = chain_atoms(500, 3, false);
    const double min = -500, max = 500;
    const std::int64_t steps = 1000001;
    std::vector<Ints> q(3);
    for (int axis = 0; axis < 3; ++axis)
        for (std::int64_t k : atoms.k[axis]) q[axis].push_back(std::clamp<std::int64_t>((k + 500000), 0, steps - 1));
    // The value the issue gives, printed so that strtof reads back the same float.
    auto text_of = [&](int axis, std::size_t row) {
        char text[48];
        const double value = min + (max - min) / static_cast<double>(steps - 1) * static_cast<double>(q[axis][row]);
        std::snprintf(text, sizeof text, "%.9g", static_cast<float>(value));
        return std::string(text);
    };
    const std::string want = text_reading(cif_text(atoms, true, text_of));
    int axis_index = 0;
    Layout layout{[&](const Ints&, auto&) {
        return bw::interval_quantization(q[axis_index++ % 3], min, max, steps, {.delta = true, .packing_bytes = 2, .type = bw::int16});
    }};
    expect_readings(bcif(atoms, layout), want, "interval quantization");
}

TEST(Mmtf, EveryCodecReadsAsTheTextOfTheSameAtoms) {
    for (bool small : {false, true}) {
        const Atoms atoms = chain_atoms(small ? 400 : 1000, small ? 5 : 13, small);
        const std::string want = text_reading(cif_text(atoms, false, decimal_text_of(atoms)));
        for (int codec : {10, 9, 12, 13, 1, 11}) {
            if (codec == 11 && !small) continue;  // two bytes a value, no recursion
            for (int form = 0; form < 3; ++form) {
                const bool wide = form == 1, count_last = form == 2;
                const std::string bytes = bw::mmtf(atoms.k, codec, 1000, wide, count_last);
                const std::string name = "codec " + std::to_string(codec) + (wide ? ", wide" : count_last ? ", numAtoms last" : "");
                expect_readings(bytes, want, name);
                expect_readings(gzip_writer::member(bytes), want, name + ", gzip");
            }
        }
    }
}

}  // namespace

// ---- Damage and missing values, through both tools ----

namespace damage {

// The coordinates of `atoms`, in two data blocks, as an archive-style file.
const Atoms& atoms() {
    static const Atoms value = chain_atoms(60, 21, false);
    return value;
}

Layout two_blocks() {
    Layout layout{archive_style};
    layout.blocks = 2;
    return layout;
}

using Blocks = std::vector<std::vector<bw::Category>>;
bw::Category& second_site(Blocks& blocks) { return blocks[1][1]; }
bw::Column& column_named(bw::Category& category, const std::string& name) {
    for (bw::Column& column : category.columns)
        if (column.name == name) return column;
    throw std::logic_error("no column " + name);
}

// The two orders of keys a case is written in: the archive's, and rowCount
// before the columns with each mask before its data.
const bw::KeyOrder* key_order = &bw::archive_order;
const bw::KeyOrder counted_first{.category = {"name", "rowCount", "columns"}, .column = {"name", "mask", "data"}};

std::string with(const std::function<void(Blocks&)>& change) {
    Blocks blocks = bcif_blocks(atoms(), two_blocks());
    change(blocks);
    return bw::binarycif(blocks, false, *key_order);
}

// A top-level map of the given raw entries (key and value bytes each).
std::string top_map(const std::vector<std::pair<std::string, std::string>>& entries) {
    bw::Msgpack out;
    out.map(static_cast<std::uint32_t>(entries.size()));
    for (const auto& [key, value] : entries) {
        out.key(key);
        out.bytes += value;
    }
    return out.bytes;
}

std::string packed(const std::function<void(bw::Msgpack&)>& write) {
    bw::Msgpack out;
    write(out);
    return out.bytes;
}

// The mmCIF text of the same atoms, with the value of `row` on `axis`
// (a row number among all atoms) written as `replacement`.
std::string text_with(std::size_t row, int axis, const std::string& replacement, bool with_group = true) {
    const Atoms& a = atoms();
    return cif_text(a, with_group, [&](int i, std::size_t r) { return r == row && i == axis ? replacement : decimal(a.k[i][r]); });
}

std::size_t first_counted_in_second_block() {
    for (std::size_t row = atoms().group.size() / 2;; ++row)
        if (atoms().group[row] != "SIGATM") return row;
}

std::size_t first_skipped_row() {
    for (std::size_t row = 0;; ++row)
        if (atoms().group[row] == "SIGATM") return row;
}

struct Case {
    std::string name;
    std::string bytes;
    // The text that must read the same; empty for a read error.
    std::string text;
    // A read error in the second block: the rows of the first are written.
    bool keeps_first_block = false;
};

std::vector<Case> cases() {
    const Atoms& a = atoms();
    const std::string whole = bw::binarycif(bcif_blocks(a, two_blocks()), false, *key_order);
    const std::string all_rows = cif_text(a, true, decimal_text_of(a));
    const std::size_t counted = first_counted_in_second_block();
    std::vector<Case> list = {
        {"unknown step kind", with([](Blocks& b) { column_named(second_site(b), "Cartn_x").data.steps[1].kind = "Zigzag"; }), "", true},
        {"unknown ByteArray type", with([](Blocks& b) { column_named(second_site(b), "CARTN_Y").data.steps.back().numbers[0].second = 7; }), "", true},
        {"row count above the columns' length", with([](Blocks& b) { ++second_site(b).row_count; }), "", true},
        {"row count below the columns' length", with([](Blocks& b) { --second_site(b).row_count; }), "", true},
        {"string index out of range",
         with([](Blocks& b) {
             bw::Encoded& group = column_named(second_site(b), "group_PDB").data;
             group = bw::string_array({"ATOM"}, {.type = bw::int32});
             group.data = std::string("\x05\0\0\0", 4);
             second_site(b).row_count = 1;
             for (bw::Column& column : second_site(b).columns)
                 if (column.name != "group_PDB") column.data = bw::fixed_point({1000}, 1000, {.type = bw::int32});
         }),
         ""},
        {"string index out of range, in runs",
         with([](Blocks& b) {
             bw::Encoded& group = column_named(second_site(b), "group_PDB").data;
             group = bw::string_array({"ATOM"}, {.run_length = true, .type = bw::int32});
             group.data = std::string("\x05\0\0\0\x01\0\0\0", 8);
             second_site(b).row_count = 1;
             for (bw::Column& column : second_site(b).columns)
                 if (column.name != "group_PDB") column.data = bw::fixed_point({1000}, 1000, {.type = bw::int32});
         }),
         ""},
        {"string offset out of range",
         with([](Blocks& b) {
             bw::Encoded& group = column_named(second_site(b), "group_PDB").data;
             group.offsets = bw::encode_ints({0, 4, 99}, {.type = bw::int32}).data;
             group.offset_steps = {{"ByteArray", {{"type", bw::int32}}}};
         }),
         "", true},
        {"a length that runs past the data", whole.substr(0, whole.size() - 1) + std::string("\x91\xc5\x40\x00", 4) + "abc", "", true},
        {"bytes after the map", whole + '\0', "", true},
        {"nesting deeper than the format needs",
         top_map({{"padding", std::string(40, '\x91') + '\0'}, {"dataBlocks", packed([](bw::Msgpack& m) { m.array(0); })}}), ""},
        {"a map larger than the bytes that remain", std::string("\xdf\xff\xff\xff\xff", 5) + whole.substr(1), ""},
        {"neither format", top_map({{"version", packed([](bw::Msgpack& m) { m.str("0.3.0"); })}}), ""},
        {"both formats", top_map({{"mmtfVersion", packed([](bw::Msgpack& m) { m.str("1.0"); })},
                                  {"dataBlocks", packed([](bw::Msgpack& m) { m.array(0); })}}), ""},
        {"a masked coordinate", with([&](Blocks& b) {
             bw::Column& x = column_named(second_site(b), "Cartn_x");
             Ints mask(a.group.size() / 2, 0);
             mask[counted - a.group.size() / 2] = 2;
             x.has_mask = true;
             x.mask = bw::encode_ints(mask, {.run_length = true, .type = bw::int32});
         }), text_with(counted, 0, "?")},
        {"a masked coordinate of a row that does not count", with([&](Blocks& b) {
             bw::Column& z = column_named(b[0][1], "cartn_z");
             Ints mask(a.group.size() / 2, 0);
             mask[first_skipped_row()] = 1;
             z.has_mask = true;
             z.mask = bw::encode_ints(mask, {.type = bw::uint8});
         }), all_rows},
        {"a coordinate that is no number", with([&](Blocks& b) {
             std::vector<std::string> texts;
             for (std::size_t row = a.group.size() / 2; row < a.group.size(); ++row)
                 texts.push_back(row == counted ? "." : decimal(a.k[1][row]));
             column_named(second_site(b), "CARTN_Y").data = bw::string_array(texts, {.type = bw::int32});
         }), text_with(counted, 1, ".")},
        {"rows without Cartesian coordinates", with([](Blocks& b) {
             std::erase_if(second_site(b).columns, [](const bw::Column& c) { return c.name == "cartn_z"; });
         }), cif_text(a, true, decimal_text_of(a)).insert(0, "") + "data_second\nloop_\n_atom_site.id\n_atom_site.Cartn_x\n1 2\n"},
        {"no _atom_site", with([](Blocks& b) { b = {{b[0][0], b[0][2]}}; }), "data_x\n_entry.id x\n"},
    };
    Case& no_z = *std::find_if(list.begin(), list.end(), [](const Case& c) { return c.name == "rows without Cartesian coordinates"; });
    no_z.text = "data_a\nloop_\n_atom_site.group_PDB\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n";
    for (std::size_t row = 0; row < a.group.size() / 2; ++row)
        no_z.text += a.group[row] + " " + decimal(a.k[0][row]) + " " + decimal(a.k[1][row]) + " " + decimal(a.k[2][row]) + "\n";
    no_z.text += "data_b\nloop_\n_atom_site.group_PDB\n_atom_site.Cartn_x\n_atom_site.Cartn_y\nATOM 1 2\n";
    // Without all three coordinates, damage in the others still fails, decoded or held.
    list.push_back({"rows without cartn_z, Cartn_x a value too long", with([](Blocks& b) {
                        std::erase_if(second_site(b).columns, [](const bw::Column& c) { return c.name == "cartn_z"; });
                        column_named(second_site(b), "Cartn_x").data.data += std::string(2, '\0');
                    }),
                    "", true});
    // A mask longer than the rows, read as the values pass (group_PDB first) or held (after).
    for (bool group_last : {false, true})
        list.push_back({std::string("a mask longer than the rows") + (group_last ? ", group_PDB after the coordinates" : ""),
                        with([&](Blocks& b) {
                            bw::Category& site = second_site(b);
                            if (group_last) std::rotate(site.columns.begin(), site.columns.begin() + 1, site.columns.end());
                            bw::Column& x = column_named(site, "Cartn_x");
                            x.has_mask = true;
                            x.mask = bw::encode_ints(Ints(a.group.size() / 2 + 1, 0), {.type = bw::uint8});
                        }),
                        "", true});
    // A value that is no number in a row that does not count hides none after it.
    const std::size_t skipped = first_skipped_row();
    std::size_t later = skipped + 1;
    while (a.group[later] == "SIGATM") ++later;
    for (bool runs : {false, true}) {
        std::string text = cif_text(a, true, [&](int i, std::size_t r) {
            return i == 2 && r == skipped ? std::string("?") : i == 2 && r == later ? std::string(".") : decimal(a.k[i][r]);
        });
        list.push_back({std::string("no number in a row that does not count, then in one that does") + (runs ? ", indices in runs" : ""),
                        with([&](Blocks& b) {
                            std::vector<std::string> texts;
                            for (std::size_t row = 0; row < a.group.size() / 2; ++row)
                                texts.push_back(row == skipped ? "?" : row == later ? "." : decimal(a.k[2][row]));
                            column_named(b[0][1], "cartn_z").data = bw::string_array(texts, {.run_length = runs, .type = bw::int32});
                        }),
                        text});
    }
    // Cut short anywhere: at every 7th byte of the second block's columns on
    // (every 61st in the second order, for time).
    const std::size_t cut_step = key_order == &bw::archive_order ? 7 : 61;
    for (std::size_t cut = whole.size() / 2; cut < whole.size(); cut += cut_step)
        list.push_back({"cut short at byte " + std::to_string(cut), whole.substr(0, cut), ""});
    return list;
}

std::vector<Case> mmtf_cases() {
    const Atoms& a = atoms();
    std::vector<Case> list;
    Ints short_list[3] = {a.k[0], a.k[1], Ints(a.k[2].begin(), a.k[2].end() - 1)};
    std::string mmtf_short = bw::mmtf(short_list, 10, 1000);
    list.push_back({"MMTF list shorter than numAtoms", mmtf_short, ""});
    const std::string mmtf_whole = bw::mmtf(a.k, 10, 1000);
    std::string unknown_codec = mmtf_whole;
    const std::size_t z_at = unknown_codec.find("zCoordList") + 10 + 3;  // the bin16 header, then the codec
    unknown_codec[z_at + 3] = 4;
    list.push_back({"MMTF list of an unknown codec", unknown_codec, ""});
    list.push_back({"MMTF without zCoordList",
                    top_map({{"mmtfVersion", packed([](bw::Msgpack& m) { m.str("1.0"); })},
                             {"numAtoms", packed([&](bw::Msgpack& m) { m.integer(static_cast<std::int64_t>(a.k[0].size())); })},
                             {"xCoordList", packed([&](bw::Msgpack& m) { m.bin(bw::mmtf_list(a.k[0], 10, 1000)); })},
                             {"yCoordList", packed([&](bw::Msgpack& m) { m.bin(bw::mmtf_list(a.k[1], 10, 1000)); })}}),
                    "data_a\nloop_\n_atom_site.id\n1\n"});
    list.push_back({"MMTF without zCoordList, xCoordList a value too long",
                    top_map({{"mmtfVersion", packed([](bw::Msgpack& m) { m.str("1.0"); })},
                             {"numAtoms", packed([&](bw::Msgpack& m) { m.integer(static_cast<std::int64_t>(a.k[0].size())); })},
                             {"xCoordList", packed([&](bw::Msgpack& m) { m.bin(bw::mmtf_list(a.k[0], 10, 1000) + std::string(2, '\0')); })},
                             {"yCoordList", packed([&](bw::Msgpack& m) { m.bin(bw::mmtf_list(a.k[1], 10, 1000)); })}}),
                    ""});
    for (std::size_t cut = 2; cut < mmtf_whole.size(); cut += 13)  // from the first key on
        list.push_back({"MMTF cut short at byte " + std::to_string(cut), mmtf_whole.substr(0, cut), ""});
    return list;
}

}  // namespace damage

TEST(BinaryFormats, DamageIsAReadErrorAndMissingValuesAreIncompleteThroughBothTools) {
    ScratchDir dir;
    const std::string centre[3] = {"1.5", "-2", "0.25"};
    const std::string unreadable = dir.write("unreadable", "BZh9");
    const ProgramRun box_error = run_program(BOXREACH_PATH, {unreadable, centre[0], centre[1], centre[2]});
    const ProgramRun dump_error = run_program(XYZDUMP_PATH, {unreadable, dir.path() + "/unused.csv"});
    const Atoms& atoms = damage::atoms();
    const std::string all_text = dir.write("all.cif", cif_text(atoms, true, decimal_text_of(atoms)));
    run_program(XYZDUMP_PATH, {all_text, dir.path() + "/all.csv"});
    const std::string all_rows = read_file(dir.path() + "/all.csv");
    std::size_t first_block_rows = 0;
    for (std::size_t row = 0; row < atoms.group.size() / 2; ++row) first_block_rows += atoms.group[row] != "SIGATM";

    std::vector<damage::Case> cases = damage::mmtf_cases();
    for (const bw::KeyOrder* order : {&bw::archive_order, &damage::counted_first}) {
        damage::key_order = order;
        for (damage::Case& c : damage::cases()) {
            if (order != &bw::archive_order) c.name += ", rowCount first, masks before data";
            cases.push_back(std::move(c));
        }
    }
    for (const damage::Case& c : cases) {
        for (bool gzip : {false, true}) {
            const std::string name = c.name + (gzip ? ", gzip" : "");
            const std::string input = dir.write("input", gzip ? gzip_writer::member(c.bytes) : c.bytes);
            const ProgramRun box = run_program(BOXREACH_PATH, {input, centre[0], centre[1], centre[2]});
            const ProgramRun dump = run_program(XYZDUMP_PATH, {input, dir.path() + "/rows.csv"});
            const std::string rows = read_file(dir.path() + "/rows.csv");
            if (c.text.empty()) {
                EXPECT_EQ(box.out, box_error.out) << name;
                EXPECT_EQ(box.status, 2) << name;
                EXPECT_EQ(dump.out, dump_error.out) << name;
                EXPECT_EQ(dump.status, 2) << name;
                EXPECT_EQ(all_rows.compare(0, rows.size(), rows), 0) << name << ": rows kept are not the atoms' first";
                if (c.keeps_first_block) {
                    EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), static_cast<long>(first_block_rows)) << name;
                }
                continue;
            }
            const std::string text = dir.write("text.cif", c.text);
            const ProgramRun box_text = run_program(BOXREACH_PATH, {text, centre[0], centre[1], centre[2]});
            const ProgramRun dump_text = run_program(XYZDUMP_PATH, {text, dir.path() + "/text.csv"});
            EXPECT_EQ(box.out, box_text.out) << name;
            EXPECT_EQ(box.status, box_text.status) << name;
            EXPECT_EQ(dump.out, dump_text.out) << name;
            EXPECT_EQ(dump.status, dump_text.status) << name;
            EXPECT_EQ(rows, read_file(dir.path() + "/text.csv")) << name;
        }
    }
}

TEST(BinaryFormats, SwappedArgumentsNeverEmptyABinaryFile) {
    ScratchDir dir;
    const Atoms atoms = chain_atoms(20, 2, false);
    for (const std::string& bytes : {bcif(atoms, {archive_style}), bw::mmtf(atoms.k, 10, 1000)}) {
        const std::string kept = dir.write("structure", bytes);
        const std::string csv = dir.write("rows.csv", "1,2,3\n");
        const ProgramRun dump = run_program(XYZDUMP_PATH, {csv, kept});
        EXPECT_EQ(dump.status, 2);
        EXPECT_EQ(read_file(kept), bytes);
    }
}

// ---- Exact values ----

// The nearest float to k / f by exact integer arithmetic: the float from
// the double quotient and its two neighbours, the closest one taken (the
// even one on a tie).
__extension__ typedef __int128 Wide;

float nearest_float_to_quotient(std::int64_t k, std::int64_t f) {
    if (k == 0) return 0.0f;
    const float guess = static_cast<float>(static_cast<double>(k) / static_cast<double>(f));
    const float candidates[3] = {std::nextafter(guess, -INFINITY), guess, std::nextafter(guess, INFINITY)};
    int exponent = 0;
    for (float c : candidates) {
        int e;
        std::frexp(c, &e);
        if (c != 0) exponent = std::min(exponent, e - 24);
    }
    // Each candidate is an integer times 2^exponent; compare |k - c f| scaled by 2^-exponent.
    float best = guess;
    Wide best_distance = -1;
    for (float c : candidates) {
        const Wide scaled_c = static_cast<Wide>(std::ldexp(static_cast<double>(c), -exponent));
        Wide distance = (static_cast<Wide>(k) << -exponent) - scaled_c * f;
        if (distance < 0) distance = -distance;
        const bool even = (std::bit_cast<std::uint32_t>(c) & 1) == 0;
        if (best_distance < 0 || distance < best_distance || (distance == best_distance && even)) {
            best = c;
            best_distance = distance;
        }
    }
    return best;
}

TEST(FixedPoint, QuotientIsTheNearestFloatOverMillionsOfValues) {
    std::mt19937_64 random(5);
    std::uniform_int_distribution<std::int64_t> wide(-(std::int64_t{1} << 40), std::int64_t{1} << 40);
    long long checked = 0;
    // Powers of ten: what strtof makes of the decimal text.
    for (int digits : {1, 2, 3, 4, 6}) {
        const std::int64_t f = static_cast<std::int64_t>(std::pow(10, digits));
        const float narrow = record_scan::factor_as_float(static_cast<double>(f));
        auto check = [&](std::int64_t k) {
            char text[64];
            const std::int64_t magnitude = k < 0 ? -k : k;
            std::snprintf(text, sizeof text, "%s%lld.%0*lld", k < 0 ? "-" : "", static_cast<long long>(magnitude / f), digits,
                          static_cast<long long>(magnitude % f));
            const float want = std::strtof(text, nullptr);
            const float got = record_scan::exact_quotient(k, static_cast<double>(f), narrow);
            ++checked;
            return std::bit_cast<std::uint32_t>(got) == std::bit_cast<std::uint32_t>(want);
        };
        for (std::int64_t k = -400000; k <= 400000; ++k) ASSERT_TRUE(check(k)) << k << " / " << f;
        for (int i = 0; i < 200000; ++i) {
            const std::int64_t k = wide(random);
            ASSERT_TRUE(check(k)) << k << " / " << f;
        }
    }
    // Quotients next to the midpoint of two floats, where a quotient in
    // double rounded again to float lands on the wrong side.
    long long double_rounding_misses = 0;
    for (int digits : {16, 17, 18}) {
        const std::int64_t f = static_cast<std::int64_t>(std::pow(10.0L, digits));
        std::uniform_int_distribution<std::int64_t> mantissa(1 << 24, (1 << 27) - 1);
        for (int i = 0; i < 100000; ++i) {
            const Wide midpoint = (static_cast<Wide>(mantissa(random) | 1) * f) >> 25;  // (odd M / 2^25) f, for M / 2^25 in [0.5, 4)
            const std::int64_t k = static_cast<std::int64_t>(midpoint) + static_cast<std::int64_t>(i % 7) - 3;
            char text[64];
            std::snprintf(text, sizeof text, "%lld.%0*lld", static_cast<long long>(k / f), digits, static_cast<long long>(k % f));
            const float want = std::strtof(text, nullptr);
            const float got = record_scan::exact_quotient(k, static_cast<double>(f), 0.0f);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(want)) << text;
            double_rounding_misses += static_cast<float>(static_cast<double>(k) / static_cast<double>(f)) != want;
            ++checked;
        }
    }
    EXPECT_GT(double_rounding_misses, 0) << "the table must hold quotients that a double divide rounds wrongly";
    // Other factors, some beyond what single precision holds exactly.
    const std::int64_t factors[] = {3, 7, 1000003, 123456789, (std::int64_t{1} << 40) + 1};
    for (std::int64_t f : factors) {
        const float narrow = record_scan::factor_as_float(static_cast<double>(f));
        for (int i = 0; i < 200000; ++i) {
            const std::int64_t k = i < 100000 ? i - 50000 : wide(random);
            const float got = record_scan::exact_quotient(k, static_cast<double>(f), narrow);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(nearest_float_to_quotient(k, f))) << k << " / " << f;
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000000);
}

TEST(BinaryFormats, ShippedSamplesAreTheEncodersAndGiveThePdbSamplesRows) {
    ScratchDir dir;
    const std::string bcif_path = dir.path() + "/sample.bcif", mmtf_path = dir.path() + "/sample.mmtf";
    ASSERT_EQ(run_program(BINARY_EXAMPLES_PATH, {EXAMPLES_DIR "/sample.cif", bcif_path, mmtf_path}).status, 0);
    EXPECT_EQ(read_file(bcif_path), read_file(EXAMPLES_DIR "/sample.bcif"));
    EXPECT_EQ(read_file(mmtf_path), read_file(EXAMPLES_DIR "/sample.mmtf"));
    ASSERT_EQ(run_program(XYZDUMP_PATH, {EXAMPLES_DIR "/sample.pdb", dir.path() + "/pdb.csv"}).status, 1);
    for (const char* name : {"sample.bcif", "sample.mmtf"}) {
        const ProgramRun dump = run_program(XYZDUMP_PATH, {std::string(EXAMPLES_DIR "/") + name, dir.path() + "/rows.csv"});
        EXPECT_EQ(dump.status, 1) << name;
        EXPECT_EQ(read_file(dir.path() + "/rows.csv"), read_file(dir.path() + "/pdb.csv")) << name;
    }
}
