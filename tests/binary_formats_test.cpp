// BinaryCIF and MMTF: the same atoms written every way the encoder knows
// (every step kind and ByteArray type, every MMTF float codec, columns and
// keys in other orders, wide MessagePack forms, several data blocks, gzip)
// must read exactly as the same atoms written as mmCIF text, by records and
// by axis runs, whole and in pieces of random size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "binary_writer.hpp"
#include "fuzz_support.hpp"
#include "gzip_writer.hpp"
#include "memory_source.hpp"

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
    bool row_count_last = false;
    bool encoding_first = true;
    bool wide = false;
    std::size_t blocks = 1;
};

std::vector<std::string> texts_of(const Ints& k) {
    std::vector<std::string> texts;
    for (std::int64_t v : k) texts.push_back(decimal(v));
    return texts;
}

std::string bcif(const Atoms& atoms, const Layout& layout) {
    std::vector<std::vector<bw::Category>> blocks;
    const std::size_t rows = atoms.group.size();
    for (std::size_t b = 0; b < layout.blocks; ++b) {
        const std::size_t begin = rows * b / layout.blocks, end = rows * (b + 1) / layout.blocks;
        auto part = [&](const auto& all) { return std::decay_t<decltype(all)>(all.begin() + begin, all.begin() + end); };
        bw::Category entry{"_entry", 1, {{"id", bw::string_array({"TEST"}, {.type = bw::int32})}}};
        bw::Category site{"_atom_site", static_cast<std::int64_t>(end - begin), {}};
        site.row_count_last = layout.row_count_last;
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
    return bw::binarycif(blocks, layout.wide, layout.encoding_first);
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
        {"float32", {[](const Ints&, auto& texts) { return bw::float_array(parsed(texts, false), bw::float32); }}},
        {"float64", {[](const Ints&, auto& texts) { return bw::float_array(parsed(texts, true), bw::float64); }}},
        {"string array", {[](const Ints&, auto& texts) { return bw::string_array(texts, {.packing_bytes = 2, .packing_unsigned = true, .type = bw::uint16}); }}},
        {"group index uint8 packing", {archive_style, {.packing_bytes = 1, .packing_unsigned = true, .type = bw::uint8}}},
        {"group index uint32", {archive_style, {.type = bw::uint32}}},
        {"group index delta, int16", {archive_style, {.delta = true, .type = bw::int16}}},
        {"group after the coordinates", {archive_style, {}, false}},
        {"no group column", {archive_style, {}, true, false}},
        {"zero masks", {archive_style, {}, true, true, true}},
        {"row count last", {archive_style, {}, true, true, false, true}},
        {"data before encoding", {archive_style, {}, true, true, false, false, false}},
        {"wide MessagePack forms", {archive_style, {}, true, true, false, false, true, true}},
        {"three data blocks", {archive_style, {}, true, true, false, false, true, false, 3}},
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

// Every reading of `bytes` must give `want`: whole and in pieces, by records and by runs.
void expect_readings(const std::string& bytes, const std::string& want, const std::string& what) {
    fuzz::Draws draws(bytes.size());
    MemorySource whole(bytes);
    expect_same(fuzz::scan_all(whole, record_scan::RecordScanner::default_block_bytes), want, what + ", records");
    for (int round = 0; round < 3; ++round) {
        const std::size_t largest = 1 + draws.below(round == 0 ? 3 : 5000);
        MemorySource pieces(bytes, [&] { return 1 + draws.below(largest); });
        expect_same(fuzz::scan_all(pieces, 1 + draws.below(4096)), want, what + ", records in pieces");
        MemorySource runs(bytes, [&] { return 1 + draws.below(largest); });
        expect_same(fuzz::scan_all_by_axes(runs, 1 + draws.below(4096)), want, what + ", axis runs in pieces");
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
            for (bool wide : {false, true}) {
                const std::string bytes = bw::mmtf(atoms.k, codec, 1000, wide);
                const std::string name = "codec " + std::to_string(codec) + (wide ? ", wide" : "");
                expect_readings(bytes, want, name);
                expect_readings(gzip_writer::member(bytes), want, name + ", gzip");
            }
        }
    }
}

}  // namespace
