// Writes the inputs of the Python module's tests into a folder: the same
// atoms in every structure format the tools read (PDB, PQR, mmCIF,
// BinaryCIF, MMTF), each also compressed in every format, and inputs for
// every kind of failure. The tests compare the module with the tools on
// each; neither side is trusted to have made them.
//
//   write_inputs FOLDER
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "binary_writer.hpp"
#include "compression_writers.hpp"

namespace {

namespace bw = binary_writer;
namespace cw = compression_writer;

// Thousandths, as the archive's files hold coordinates.
struct Atom {
    std::int64_t k[3];
};

std::vector<Atom> random_atoms(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int64_t> thousandths(-999999, 9999999);
    std::vector<Atom> atoms(count);
    for (Atom& atom : atoms)
        for (std::int64_t& k : atom.k) k = thousandths(random) / (random() % 4 == 0 ? 1000 : 1);
    atoms[0] = {{0, 0, 0}};
    return atoms;
}

std::string decimal(std::int64_t k) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%03lld", k < 0 ? "-" : "", std::llabs(k) / 1000,
                  std::llabs(k) % 1000);
    return text;
}

std::string pdb_line(const char* group, std::size_t serial, const std::string& x,
                     const std::string& y, const std::string& z, bool pqr) {
    char line[128];
    if (pqr)
        std::snprintf(line, sizeof line, "%-6s%5zu  CA  ALA A   1    %8s%8s%8s -0.1000 1.8000\n", group,
                      serial % 100000, x.c_str(), y.c_str(), z.c_str());
    else
        std::snprintf(line, sizeof line, "%-6s%5zu  CA  ALA A   1    %8s%8s%8s  1.00 20.00           C\n",
                      group, serial % 100000, x.c_str(), y.c_str(), z.c_str());
    return line;
}

// The layout's odd corners too: free-form numbers the exact path reads,
// a negative zero, infinities, NaNs of both signs, CRLF line ends.
std::string pdb_text(const std::vector<Atom>& atoms, bool pqr) {
    std::string text = "HEADER    GENERATED\r\nREMARK   1 ATOM-LIKE REMARK\n";
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const Atom& a = atoms[i];
        text += pdb_line(i % 10 == 9 ? "HETATM" : "ATOM", i + 1, decimal(a.k[0]), decimal(a.k[1]),
                         decimal(a.k[2]), pqr);
        if (i == 7) text += pdb_line("ATOM", i, "-0.000", "1e2", " -.5E-1", pqr);
        if (i == 8) text += pdb_line("HETATM", i, "inf", "-inf", "nan", pqr);
        if (i == 9) text += pdb_line("ATOM", i, "-nan", "0x1p3", "12", pqr);
        if (i == 10) text += "TER\r\n";
    }
    return text + "END\n";
}

std::string cif_text(const std::vector<Atom>& atoms) {
    std::string text = "data_GEN\n#\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n"
                       "_atom_site.label_atom_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                       "_atom_site.Cartn_z\n_atom_site.occupancy\n";
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        const Atom& a = atoms[i];
        text += std::string(i % 10 == 9 ? "HETATM" : "ATOM") + " " + std::to_string(i + 1) + " C \"C1'\" " +
                decimal(a.k[0]) + " " + decimal(a.k[1]) + " " + decimal(a.k[2]) + " 1.00\n";
    }
    return text + "#\n";
}

bw::Category site_category(const std::vector<Atom>& atoms) {
    std::vector<std::string> groups;
    bw::Ints k[3];
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        groups.push_back(i % 10 == 9 ? "HETATM" : "ATOM");
        for (int axis = 0; axis < 3; ++axis) k[axis].push_back(atoms[i].k[axis]);
    }
    bw::Category site{"_atom_site", static_cast<std::int64_t>(atoms.size()), {}};
    site.columns.push_back({"group_PDB", bw::string_array(groups, {.run_length = true, .type = bw::int32})});
    const char* names[] = {"Cartn_x", "Cartn_y", "Cartn_z"};
    for (int axis = 0; axis < 3; ++axis)
        site.columns.push_back(
            {names[axis], bw::fixed_point(k[axis], 1000, {.delta = true, .packing_bytes = 2, .type = bw::int16})});
    return site;
}

std::string mmtf_file(const std::vector<Atom>& atoms) {
    bw::Ints k[3];
    for (const Atom& atom : atoms)
        for (int axis = 0; axis < 3; ++axis) k[axis].push_back(atom.k[axis]);
    return bw::mmtf(k, 10, 1000);
}

void write(const std::string& folder, const std::string& name, const std::string& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: write_inputs FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Atom> atoms = random_atoms(5000, 20261210);
    const std::vector<std::pair<std::string, std::string>> readable = {
        {"atoms.pdb", pdb_text(atoms, false)},
        {"atoms.pqr", pdb_text(atoms, true)},
        {"atoms.cif", cif_text(atoms)},
        {"atoms.bcif", bw::binarycif({{site_category(atoms)}})},
        {"atoms.mmtf", mmtf_file(atoms)},
        {"empty.pdb", "HEADER    NO ATOMS\nEND\n"},
        {"empty.cif", "data_EMPTY\n_entry.id EMPTY\n"},
    };
    const char* suffixes[] = {".gz", ".bz2", ".xz", ".zst"};
    for (const auto& [name, bytes] : readable) {
        write(folder, name, bytes);
        for (cw::Format format : cw::formats)
            write(folder, name + suffixes[static_cast<int>(format)], cw::stream(format, bytes, true));
    }

    // Failures, their names saying which: incomplete after 99 rows, damage,
    // a zip archive, a binary file cut short.
    std::vector<Atom> first(atoms.begin(), atoms.begin() + 99);
    std::string incomplete_pdb = pdb_text(first, false);
    incomplete_pdb.insert(incomplete_pdb.rfind("END"), "ATOM      1  CA  ALA A   1      11.104   6.134\n");
    write(folder, "incomplete.pdb", incomplete_pdb);
    write(folder, "incomplete.pdb.gz", cw::stream(cw::Format::gzip, incomplete_pdb));
    std::string incomplete_cif = cif_text(first) + "loop_\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
                                                   "_atom_site.Cartn_z\n1.0 ? 2.0\n";
    write(folder, "incomplete.cif", incomplete_cif);
    std::string damaged = cw::stream(cw::Format::gzip, readable[0].second);
    damaged[damaged.size() - 6] ^= 0x20;  // the CRC-32 of the trailer
    write(folder, "damaged.pdb.gz", damaged);
    std::string cut = readable[3].second;
    write(folder, "cut.bcif", cut.substr(0, cut.size() * 2 / 3));
    write(folder, "archive.zip", std::string("PK\3\4", 4) + std::string(100, '\0'));
    return 0;
}
