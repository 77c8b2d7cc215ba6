#include "chain_structure.hpp"

#include <string>
#include <vector>

#include "binary_writer.hpp"

namespace {

namespace bw = binary_writer;

const char* const atom_names[] = {"N", "CA", "C", "O", "CB", "CG", "SD", "CE"};
const char* const residues[] = {"MET", "ALA", "SER", "GLY", "LEU", "HOH", "SO4"};

struct ChainAtom {
    bool hetatm = false;
    long long serial = 0;
    int atom = 0;     // index into atom_names
    int residue = 0;  // into residues
    int sequence = 0;
    long long milli[3] = {0, 0, 0};  // coordinates in thousandths of an A
    int b_hundredths = 0;
};

// The chain, atom by atom: a step of at most 1.1 A per axis (under 1.91 A
// in all), turned back inside +-999 A. As in deposited structures, the
// HETATM records come in stretches (ligands and water after each polymer
// chain): here the last 10% of every 2000 atoms.
class Chain {
public:
    explicit Chain(std::mt19937_64& random) : random_(random) {}
    ChainAtom next() {
        ChainAtom a;
        a.serial = ++serial_;
        a.hetatm = serial_ % 2000 >= 1800;
        a.atom = static_cast<int>(serial_ % 8);
        a.residue = static_cast<int>(serial_ / 8 % 7);
        a.sequence = static_cast<int>(serial_ / 8 % 10000) + 1;
        for (int axis = 0; axis < 3; ++axis) {
            long long moved = at_[axis] + step_(random_);
            if (moved > 999000 || moved < -999000) moved = at_[axis] - (moved - at_[axis]);
            a.milli[axis] = at_[axis] = moved;
        }
        a.b_hundredths = percent_(random_) * 50;
        return a;
    }

private:
    std::mt19937_64& random_;
    std::uniform_int_distribution<int> step_{-1100, 1100};
    std::uniform_int_distribution<int> percent_{0, 99};
    long long serial_ = 0;
    long long at_[3] = {12345, -23456, 3456};
};

std::string decimal(long long milli) {
    char text[32];
    const long long magnitude = milli < 0 ? -milli : milli;
    std::snprintf(text, sizeof text, "%s%lld.%03lld", milli < 0 ? "-" : "", magnitude / 1000, magnitude % 1000);
    return text;
}

const char* const columns[] = {
    "group_PDB", "id", "type_symbol", "label_atom_id", "label_alt_id", "label_comp_id",
    "label_asym_id", "label_entity_id", "label_seq_id", "pdbx_PDB_ins_code", "Cartn_x", "Cartn_y",
    "Cartn_z", "occupancy", "B_iso_or_equiv", "pdbx_formal_charge", "auth_seq_id", "auth_comp_id",
    "auth_asym_id", "auth_atom_id", "pdbx_PDB_model_num"};

}  // namespace

bool write_chain_cif(std::FILE* out, long long atoms, std::mt19937_64& random) {
    std::fputs("data_CHAIN\n#\n_entry.id CHAIN\n#\nloop_\n", out);
    for (const char* column : columns) std::fprintf(out, "_atom_site.%s\n", column);
    Chain chain(random);
    for (long long i = 0; i < atoms; ++i) {
        const ChainAtom a = chain.next();
        const char* atom = atom_names[a.atom];
        const char* residue = residues[a.residue];
        std::fprintf(out, "%-6s %-7lld %-1.1s %-4s . %-3s A 1 %-5d ? %-8s %-8s %-8s 1.00 %-6s ? %-5d %-3s A %-4s 1\n",
                     a.hetatm ? "HETATM" : "ATOM", a.serial, atom, atom, residue, a.sequence, decimal(a.milli[0]).c_str(),
                     decimal(a.milli[1]).c_str(), decimal(a.milli[2]).c_str(), decimal(a.b_hundredths * 10).c_str(),
                     a.sequence, residue, atom);
    }
    std::fputs("#\n", out);
    return std::ferror(out) == 0;
}

// Encoded as the archive encodes: coordinates FixedPoint 1000, Delta,
// IntegerPacking of 2 bytes, ByteArray; integers Delta, RunLength and
// IntegerPacking; text StringArray; '.' and '?' columns masked. In the
// archive's key order too: a category's rowCount after its columns, a
// column's mask after its data.
bool write_chain_bcif(std::FILE* out, long long atoms, std::mt19937_64& random) {
    Chain chain(random);
    std::vector<std::string> group, symbol, atom_id, comp;
    bw::Ints serial, sequence, milli[3], b, ones, absent, dots;
    for (long long i = 0; i < atoms; ++i) {
        const ChainAtom a = chain.next();
        group.push_back(a.hetatm ? "HETATM" : "ATOM");
        serial.push_back(a.serial);
        symbol.push_back(std::string(atom_names[a.atom], 1));
        atom_id.push_back(atom_names[a.atom]);
        comp.push_back(residues[a.residue]);
        sequence.push_back(a.sequence);
        for (int axis = 0; axis < 3; ++axis) milli[axis].push_back(a.milli[axis]);
        b.push_back(a.b_hundredths);
    }
    const auto rows = static_cast<std::size_t>(atoms);
    ones.assign(rows, 1);
    dots.assign(rows, 1);    // '.'
    absent.assign(rows, 2);  // '?'
    const bw::IntPlan strings{.run_length = true, .packing_bytes = 1, .packing_unsigned = true, .type = bw::uint8};
    const bw::IntPlan counters{.delta = true, .run_length = true, .packing_bytes = 1, .type = bw::int8};
    const bw::IntPlan runs{.run_length = true, .type = bw::int32};
    auto masked = [&](const std::string& name, const bw::Ints& mask) {
        bw::Column column{name, bw::string_array(std::vector<std::string>(rows, ""), runs)};
        column.has_mask = true;
        column.mask = bw::encode_ints(mask, runs);
        return column;
    };
    bw::Category site{"_atom_site", atoms, {}};
    site.columns.push_back({"group_PDB", bw::string_array(group, strings)});
    site.columns.push_back({"id", bw::encode_ints(serial, counters)});
    site.columns.push_back({"type_symbol", bw::string_array(symbol, strings)});
    site.columns.push_back({"label_atom_id", bw::string_array(atom_id, strings)});
    site.columns.push_back(masked("label_alt_id", dots));
    site.columns.push_back({"label_comp_id", bw::string_array(comp, strings)});
    site.columns.push_back({"label_asym_id", bw::string_array(std::vector<std::string>(rows, "A"), runs)});
    site.columns.push_back({"label_entity_id", bw::encode_ints(ones, runs)});
    site.columns.push_back({"label_seq_id", bw::encode_ints(sequence, counters)});
    site.columns.push_back(masked("pdbx_PDB_ins_code", absent));
    for (int axis = 0; axis < 3; ++axis)
        site.columns.push_back({columns[10 + axis], bw::fixed_point(milli[axis], 1000, {.delta = true, .packing_bytes = 2, .type = bw::int16})});
    site.columns.push_back({"occupancy", bw::fixed_point(bw::Ints(rows, 100), 100, runs)});
    site.columns.push_back({"B_iso_or_equiv", bw::fixed_point(b, 100, {.packing_bytes = 2, .type = bw::int16})});
    site.columns.push_back(masked("pdbx_formal_charge", absent));
    site.columns.push_back({"auth_seq_id", bw::encode_ints(sequence, counters)});
    site.columns.push_back({"auth_comp_id", bw::string_array(comp, strings)});
    site.columns.push_back({"auth_asym_id", bw::string_array(std::vector<std::string>(rows, "A"), runs)});
    site.columns.push_back({"auth_atom_id", bw::string_array(atom_id, strings)});
    site.columns.push_back({"pdbx_PDB_model_num", bw::encode_ints(ones, runs)});
    bw::Category entry{"_entry", 1, {{"id", bw::string_array({"CHAIN"}, runs)}}};
    const std::string bytes = bw::binarycif({{entry, site}}, false, bw::archive_order);
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::ferror(out) == 0;
}
